// What is prepared and saved before the installer runs.
#include <windows.h>

#include <io.h>

#include "platform/child_process.h"
#include "platform/run_log.h"
#include "platform/unique_handle.h"
#include "preserve/backup_copy.h"
#include "preserve/run_journal.h"
#include "settings/settings_file.h"
#include "settings/update_context.h"

namespace {

// Backs up both files, or takes over the backup copies an unfinished
// earlier run left; `earlierRun` names that run's journal then. On a
// failure the backup copies this run made are removed again (they would
// only be found as leftovers by the next run) and the error is returned.
DWORD SaveConfigurationFiles(const tmk_String (&files)[2], const tmk_String& journalFolder,
                             tmk_String& earlierRun) {
  tmk_String made[2];
  for (int i = 0; i < 2; ++i) {
    if (files[i].IsEmpty()) continue;  // no settings file while its folder is unknown
    BackupOrigin origin = BackupOrigin::None;
    tmk_String adoptedFrom;
    DWORD error = MakeBackupCopy(files[i], journalFolder, origin, adoptedFrom);
    if (error != ERROR_SUCCESS) {
      for (const tmk_String& file : made) {
        tmk_String backup = BackupPathOf(file);
        if (!file.IsEmpty() && !DeleteFileW(backup.Text()))
          LogFailure(L"removing this run's backup copy", backup.Text(), GetLastError());
      }
      return error;
    }
    if (origin == BackupOrigin::Made) made[i].Assign(files[i].Text());
    if (origin == BackupOrigin::Adopted) earlierRun.Assign(adoptedFrom.Text());
  }
  return ERROR_SUCCESS;
}

}  // namespace

unsigned long UpdateContext::PrepareUpdate() {
  ReadProductSettings();
  if (WriteWorkstationSettings() != 0) {
    LogLine(L"the program folder could not be verified: the update does not go on");
    return ERROR_PATH_NOT_FOUND;
  }
  tmk_String settingsRoot;
  ReadSettingsRootPath(settingsRoot);
  StopIndexEngine();
  if (RootPath.IsEmpty()) {
    RootPath.Assign(settingsRoot.Text());
    LogLine(L"root folder taken from the settings file: \"%s\"", RootPath.Text());
  }
  tmk_String dataFolder = ReadProductValue(L"DATA_PATH");
  ReadSettingsLanguage(Language);
  LogLine(L"language of the settings file: \"%s\"", Language.Text());

  // Empty when the common application data folder is unknown: there is no
  // settings file to back up then.
  SettingsFilePath.Assign(SettingsFileLocation());
  const tmk_String files[2] = {ModuleConfigurationPath(dataFolder), SettingsFilePath};
  tmk_String earlierRun;
  DWORD error = SaveConfigurationFiles(files, JournalFolder, earlierRun);
  // An adopted backup copy holds the configuration of before the unfinished
  // run; so do the values that run saved. They pass into this run's journal
  // with the backup copy, also when this run stops here and keeps it.
  bool adopted = !earlierRun.IsEmpty() && AdoptSavedValues(earlierRun);
  if (!earlierRun.IsEmpty()) MarkTakenOver(JournalFolder);
  if (error != ERROR_SUCCESS) {
    if (adopted) RecordSavedValues();
    // Nothing is installed without a complete backup: what this run wrote
    // so far (the workstation settings) is put back as it was.
    PutBackAsJournalled(JournalFolder);
    ReportConfigurationNotSaved(error);
    return error;
  }
  if (!adopted) SaveDatabaseIdentity();
  RecordSavedValues();
  return 0;
}

void UpdateContext::StopIndexEngine() {
  tmk_String engine;
  engine.Format(L"%s\\RuZaduvAveded.exe", ExecutablePath.Text());
  _wfinddata64i32_t entry;
  vskr::UniqueCrtFind found(_wfindfirst64i32(engine.Text(), &entry));
  if (!found) {
    LogLine(L"no index engine at \"%s\": the index service is left running", engine.Text());
    return;
  }
  found.Reset();

  tmk_String command(L"net stop \"VIDUVIR Ezaze Dudevo\"");
  vskr::ChildProcess child;
  // Whether the command started (the run log tells) and how it ends are not
  // looked at; it runs on alongside the update.
  if (LaunchChild(command, LaunchProfile::HiddenTool, child) != ERROR_SUCCESS) return;
  (void)WaitForSingleObject(child.Process.Get(), 0);
  LogLine(L"the index service stop runs on without being waited for");
}
