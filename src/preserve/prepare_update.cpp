#include "preserve/prepare_update.h"

#include <io.h>

#include "platform/child_process.h"
#include "platform/run_log.h"
#include "platform/unique_handle.h"
#include "settings/settings_file.h"
#include "workstation/workstation_settings.h"

namespace {

// Starts "net stop" of the catalogue index service when the index engine is
// installed in the program folder; the command runs on alongside the update.
void StopIndexEngine(const UpdateContext& context) {
  tmk_String engine;
  engine.Format(L"%s\\RuZaduvAveded.exe", context.ExecutablePath.Text());
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

// Puts back what the run wrote before its backups were complete. A file or
// value that can't be put back is logged with its error and stays recorded
// in the journal, which stays unfinished: the next run puts it back.
void PutBackWhatTheRunWrote(RunJournal& journal) {
  DWORD error = journal.PutBackAsAtStart();
  if (error != ERROR_SUCCESS)
    LogFailure(L"putting back what the run wrote before the installer (the next run puts back "
               L"the rest)", journal.Folder().c_str(), error);
}

}  // namespace

DWORD PrepareUpdate(UpdateContext& context, RunJournal& journal, bool& configurationNotSaved) {
  configurationNotSaved = false;
  context.ReadProductSettings();
  if (WriteWorkstationSettings(context) != 0) {
    LogLine(L"the program folder could not be verified: the update does not go on");
    PutBackWhatTheRunWrote(journal);
    return ERROR_PATH_NOT_FOUND;
  }
  tmk_String settingsRoot;
  ReadSettingsRootPath(settingsRoot);
  StopIndexEngine(context);
  if (context.RootPath.IsEmpty()) {
    context.RootPath.Assign(settingsRoot.Text());
    LogLine(L"root folder taken from the settings file: \"%s\"", context.RootPath.Text());
  }
  tmk_String language;
  ReadSettingsLanguage(language);
  LogLine(L"language of the settings file: \"%s\"", language.Text());

  DWORD error = journal.SaveBackups(language);
  if (error != ERROR_SUCCESS) {
    // Nothing is installed without a complete backup: what this run wrote
    // so far (the workstation settings) is put back as it was; the backup's
    // error is the outcome.
    PutBackWhatTheRunWrote(journal);
    configurationNotSaved = true;
    return error;
  }
  return ERROR_SUCCESS;
}
