#include "preserve/backup_copy.h"

#include <windows.h>

#include "driver/run_log.h"

tmk_String BackupPathOf(const tmk_String& file) { return Concatenate(file, L".upd"); }

tmk_String ModuleConfigurationPath(const tmk_String& dataFolder) {
  tmk_String path;
  path.Format(L"%s\\Data\\LocalCfg\\Modules.ini", dataFolder.Text());
  return path;
}

void MakeBackupCopy(const tmk_String& file) {
  tmk_String backup = BackupPathOf(file);
  // Not examined: a missing old backup copy is the ordinary case.
  (void)DeleteFileW(backup.Text());
  if (CopyFileW(file.Text(), backup.Text(), FALSE)) {
    LogLine(L"backup copy made: \"%s\"", backup.Text());
    return;
  }
  DWORD error = GetLastError();
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
    LogLine(L"no backup copy made: \"%s\" does not exist", file.Text());
  } else {
    LogFailure(L"making a backup copy", file.Text(), error);
  }
}

bool RestoreBackupCopy(const tmk_String& file) {
  tmk_String backup = BackupPathOf(file);
  if (!CopyFileW(backup.Text(), file.Text(), FALSE)) {
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      LogLine(L"no backup copy to restore: \"%s\"", backup.Text());
    } else {
      LogFailure(L"restoring the backup copy (kept)", backup.Text(), error);
    }
    return false;
  }
  LogLine(L"restored from its backup copy: \"%s\"", file.Text());
  if (!DeleteFileW(backup.Text())) LogFailure(L"deleting the backup copy", backup.Text(), GetLastError());
  return true;
}
