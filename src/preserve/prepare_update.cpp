// What is prepared and saved before the installer runs.
#include <windows.h>

#include <io.h>

#include "platform/child_process.h"
#include "platform/run_log.h"
#include "platform/unique_handle.h"
#include "preserve/backup_copy.h"
#include "settings/settings_file.h"
#include "settings/update_context.h"

int UpdateContext::PrepareUpdate() {
  ReadProductSettings();
  if (WriteWorkstationSettings() != 0) {
    LogLine(L"the program folder could not be verified: the update does not go on");
    return 1;
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

  // Passed over as before: each copy's outcome is in the run log.
  (void)MakeBackupCopy(ModuleConfigurationPath(dataFolder));

  // Empty when the common application data folder is unknown: there is no
  // settings file to back up then.
  SettingsFilePath.Assign(SettingsFileLocation());
  if (!SettingsFilePath.IsEmpty()) (void)MakeBackupCopy(SettingsFilePath);

  SaveDatabaseIdentity();
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
