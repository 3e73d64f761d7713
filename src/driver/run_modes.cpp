#include "driver/run_modes.h"

#include <windows.h>

#include <cwchar>
#include <string>

#include "driver/artefact_cleanup.h"
#include "driver/installer_discovery.h"
#include "driver/installer_signature.h"
#include "platform/child_process.h"
#include "platform/message_box.h"
#include "platform/run_log.h"
#include "platform/single_run.h"
#include "platform/system_text.h"
#include "platform/unique_handle.h"
#include "preserve/component_registration.h"
#include "preserve/run_journal.h"
#include "settings/settings_file.h"
#include "settings/update_context.h"
#include "settings/update_files.h"
#include "version.h"

const wchar_t kPackageModeSwitch[] = L"INSTALL_FROM_ZIP";

namespace {

// Shorter installer paths than this count as no installer found.
constexpr size_t kShortestInstallerPath = 10;

// The text before the last backslash; empty when there is none.
tmk_String FolderOf(const tmk_String& path) {
  const wchar_t* last = std::wcsrchr(path.Text(), L'\\');
  return Left(path, last ? static_cast<int>(last - path.Text()) : -1);
}

DWORD RunPackageMode(UpdateContext& context, const tmk_String& updaterFolder) {
  context.ReadProductSettings();
  // No message in this mode: the run log and the exit code tell it.
  DWORD journal = BeginRunJournal(context, true);
  if (journal != ERROR_SUCCESS) return journal;
  return context.InstallPackage(updaterFolder);
}

void ShowNoInstallerMessage() {
  ShowMessage(nullptr, L"No update file found.", L"QIRO Update", MB_OK | MB_ICONERROR);
}

// Any entry of that name counts, a folder too.
bool PathExists(const tmk_String& path) {
  WIN32_FIND_DATAW found;
  vskr::UniqueFindHandle search(FindFirstFileW(path.Text(), &found));
  if (!search) LogFailureUnlessMissing(L"looking for the data archive", path.Text(), GetLastError());
  return search.IsValid();
}

// Unpacks "vskr_update.zip" into the updater's folder when it lies there.
// tar is given the archive's bare name, so the updater's folder is made the
// current folder for it and the previous one made current again afterwards.
void UnpackDataArchive(const tmk_String& updaterFolder) {
  tmk_String archive;
  archive.Format(L"%s\\%s", updaterFolder.Text(), kDataArchive);
  if (!PathExists(archive)) return;
  // With its backslash: a drive root's "E:" alone names the drive's current
  // folder, which may be another one.
  vskr::ScopedCurrentFolder inUpdaterFolder(Concatenate(updaterFolder, L"\\").Text());
  // Whether tar started and how it ended is in the run log alone: the
  // installer runs in any case.
  (void)RunAndWait(tmk_String(kUnpackArchiveCommand), LaunchProfile::HiddenTool);
}

// The installer's path in quotation marks, so that a blank in it can't make
// the system start a program named by the part before the blank, then one
// blank and the updater's command line as it was received (also when empty).
tmk_String InstallerCommandLine(const tmk_String& installerPath, const tmk_String& commandLine) {
  tmk_String installerCommand;
  installerCommand.Format(L"\"%s\" %s", installerPath.Text(), commandLine.Text());
  return installerCommand;
}

// Waits for the installer's own process, then for as long as any process of
// its file name runs: installers hand work on to copies of themselves.
// Returns the installer's exit code.
DWORD WaitForInstaller(vskr::ChildProcess& installer, const tmk_String& installerCommand,
                       const tmk_String& installerFileName) {
  DWORD exitCode = WaitForChild(installer, installerCommand);
  ULONGLONG start = GetTickCount64();
  WaitWhileProcessRunning(installerFileName);
  LogLine(L"waited %.1f s until no process named %s was left", (GetTickCount64() - start) / 1000.0,
          installerFileName.Text());
  return exitCode;
}

// The first failure of the run's steps, in their order.
DWORD FirstFailure(DWORD earlier, DWORD later) {
  return earlier != ERROR_SUCCESS ? earlier : later;
}

DWORD RunUpdateMode(UpdateContext& context, const tmk_String& commandLine,
                    const tmk_String& updaterFolder) {
  tmk_String installerPath;
  tmk_String installerFileName;
  FindInstaller(installerPath, installerFileName, updaterFolder);
  if (std::wcslen(installerPath.Text()) < kShortestInstallerPath) {
    LogLine(L"no installer qiro_upd*_win64.exe in \"%s\"", updaterFolder.Text());
    ShowNoInstallerMessage();
    return ERROR_FILE_NOT_FOUND;
  }
  LogLine(L"installer found: \"%s\"", installerPath.Text());
  // Checked before anything is changed, and kept unchangeable until started.
  vskr::UniqueFileHandle checkedInstaller;
  DWORD admitted = AdmitInstaller(installerPath, checkedInstaller);
  if (admitted != ERROR_SUCCESS) return admitted;

  // Nothing is written before the run journal records what may change.
  DWORD journal = BeginRunJournal(context, false);
  if (journal != ERROR_SUCCESS) {
    ReportConfigurationNotSaved(journal);
    return journal;
  }
  // A refusal (the program folder could not be verified, or the
  // configuration could not be saved; the user has been told) ends the run
  // before anything is unpacked or started.
  DWORD prepared = context.PrepareUpdate();
  if (prepared != ERROR_SUCCESS) return prepared;

  UnpackDataArchive(updaterFolder);
  tmk_String installerCommand = InstallerCommandLine(installerPath, commandLine);
  vskr::ChildProcess installer;
  DWORD started = LaunchChild(installerCommand, LaunchProfile::VisibleProgram, installer);
  checkedInstaller.Reset();  // a started installer holds its own file; the clean-up removes it
  if (started != ERROR_SUCCESS) {
    LogLine(L"the installer could not be started: the configuration is restored and the "
            L"update's files are removed");
    // The backed-up files are put back before the update's files go.
    (void)context.RestoreAfterUpdate();  // the start's error is the outcome
    RemoveUpdateArtefacts(updaterFolder, installerPath);
    return started;
  }
  // The installer's own exit code is the outcome unless it reports success
  // and a later step fails.
  DWORD outcome = WaitForInstaller(installer, installerCommand, installerFileName);
  // The registration needs the root folder as the installer left it; it
  // runs last, so that a tool that hangs can't keep the configuration from
  // being put back.
  tmk_String registrationRoot;
  ReadSettingsRootPath(registrationRoot);
  context.RestoreDatabaseIdentity();
  DWORD restoration = context.RestoreAfterUpdate();
  DWORD registration = RegisterVisioEventProcessor(registrationRoot);
  return FirstFailure(outcome, FirstFailure(restoration, registration));
}

void LogRunStart(const tmk_String& ownPath, const tmk_String& commandLine, bool packageMode) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  LogLine(L"");
  LogLine(L"==== %04u-%02u-%02u %02u:%02u:%02u vskr_updater %s ====", now.wYear, now.wMonth, now.wDay,
          now.wHour, now.wMinute, now.wSecond, VSKR_VERSION_WIDE);
  LogLine(L"program: \"%s\"", ownPath.Text());
  LogLine(L"command line: %s", commandLine.Text());
  LogLine(packageMode ? L"mode: package (INSTALL_FROM_ZIP)" : L"mode: update");
}

}  // namespace

bool IsPackageMode(const tmk_String& commandLine) {
  return std::wcsstr(commandLine.Text(), kPackageModeSwitch) != nullptr;
}

DWORD RunUpdater(const wchar_t* commandLineText) {
  tmk_String commandLine(commandLineText);
  tmk_String ownPath(vskr::OwnModulePath().c_str());
  RunLog log(DefaultLogFolder());
  ScopedRunLog installedLog(log);
  ULONGLONG start = GetTickCount64();
  bool packageMode = IsPackageMode(commandLine);
  LogRunStart(ownPath, commandLine, packageMode);
  DWORD exitCode = ERROR_SUCCESS;
  MachineRunLock oneRunAtATime;
  if (!oneRunAtATime.Held()) {
    exitCode = oneRunAtATime.Refusal();
    LogLine(exitCode == ERROR_INSTALL_ALREADY_RUNNING
                ? L"another run of the updater is active on this machine: this run changes nothing"
                : L"whether another run is active can't be told: this run changes nothing");
  } else {
    UpdateContext context;
    tmk_String updaterFolder = FolderOf(ownPath);
    exitCode = packageMode ? RunPackageMode(context, updaterFolder)
                           : RunUpdateMode(context, commandLine, updaterFolder);
    FinishRunJournal(context.JournalFolder);
  }
  LogRunEnd((GetTickCount64() - start) / 1000.0, exitCode);
  return exitCode;
}
