#include "preserve/backup_copy.h"

#include <windows.h>

#include "platform/run_log.h"

tmk_String BackupPathOf(const tmk_String& file) { return Concatenate(file, L".upd"); }

tmk_String ModuleConfigurationPath(const tmk_String& dataFolder) {
  tmk_String path;
  path.Format(L"%s\\Data\\LocalCfg\\Modules.ini", dataFolder.Text());
  return path;
}

DWORD MakeBackupCopy(const tmk_String& file) {
  tmk_String backup = BackupPathOf(file);
  // A missing old backup copy is the ordinary case; any other failure is
  // logged and the copy below tells whether it matters.
  if (!DeleteFileW(backup.Text()))
    LogFailureUnlessMissing(L"deleting an old backup copy", backup.Text(), GetLastError());
  if (CopyFileW(file.Text(), backup.Text(), FALSE)) {
    LogLine(L"backup copy made: \"%s\"", backup.Text());
    return ERROR_SUCCESS;
  }
  DWORD error = GetLastError();
  if (IsMissingError(error)) {
    LogLine(L"no backup copy made: \"%s\" does not exist", file.Text());
  } else {
    LogFailureOf(error, L"making a backup copy failed for \"%s\" to \"%s\"", file.Text(),
                 backup.Text());
  }
  return error;
}

DWORD RestoreBackupCopy(const tmk_String& file) {
  tmk_String backup = BackupPathOf(file);
  if (!CopyFileW(backup.Text(), file.Text(), FALSE)) {
    DWORD error = GetLastError();
    if (IsMissingError(error)) {
      LogLine(L"no backup copy to restore: \"%s\"", backup.Text());
    } else {
      LogFailureOf(error, L"restoring the backup copy (kept) failed for \"%s\" to \"%s\"",
                   backup.Text(), file.Text());
    }
    return error;
  }
  LogLine(L"restored from its backup copy: \"%s\"", file.Text());
  if (!DeleteFileW(backup.Text())) LogFailure(L"deleting the backup copy", backup.Text(), GetLastError());
  return ERROR_SUCCESS;
}
