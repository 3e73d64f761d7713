#include "driver/run_modes.h"

#include <windows.h>

#include <cwchar>
#include <memory>
#include <string>

#include "driver/artefact_cleanup.h"
#include "driver/installer_discovery.h"
#include "driver/installer_signature.h"
#include "driver/run_messages.h"
#include "platform/child_process.h"
#include "platform/file_content.h"
#include "platform/message_box.h"
#include "platform/run_log.h"
#include "platform/system_text.h"
#include "platform/unique_handle.h"
#include "journal/journal_store.h"
#include "journal/run_journal.h"
#include "journal/run_outcome.h"
#include "package/install_package.h"
#include "preserve/component_registration.h"
#include "preserve/prepare_update.h"
#include "settings/settings_file.h"
#include "settings/update_context.h"
#include "settings/update_files.h"
#include "version.h"

const wchar_t kPackageModeSwitch[] = L"INSTALL_FROM_ZIP";
const wchar_t kAllowDowngradeSwitch[] = L"ALLOW_DOWNGRADE";

namespace {

// Shorter installer paths than this count as no installer found.
constexpr size_t kShortestInstallerPath = 10;

// The text before the last backslash; empty when there is none.
tmk_String FolderOf(const tmk_String& path) {
  const wchar_t* last = std::wcsrchr(path.Text(), L'\\');
  return Left(path, last ? static_cast<int>(last - path.Text()) : -1);
}

DWORD RunPackageMode(const std::wstring& runId, uint64_t lastSequence,
                     const tmk_String& commandLine, const tmk_String& updaterFolder,
                     OwnSignatureCheck& ownSignature) {
  UpdateContext context;
  context.ReadProductSettings();
  // No message in this mode: the run log and the exit code tell it.
  RunJournal journal;
  DWORD begun = RunJournal::Begin(runId, lastSequence, true, journal);
  if (begun != ERROR_SUCCESS) return begun;
  // Like the mode's switch: anywhere on the command line, in capitals.
  const bool allowDowngrade = std::wcsstr(commandLine.Text(), kAllowDowngradeSwitch) != nullptr;
  DWORD outcome = InstallPackage(context, updaterFolder, journal, allowDowngrade, ownSignature);
  // A transaction that could not be brought back to one version stays
  // unfinished (Finish looks at its stage): the next run takes it up.
  journal.Finish();
  return outcome;
}

void ShowNoInstallerMessage() {
  ShowMessage(nullptr, L"No update file found.", L"QIRO Update", MB_OK | MB_ICONERROR);
}

// Unpacks "vskr_update.zip" into the updater's folder when it lies there.
// tar is given the archive's bare name, so the updater's folder is made the
// current folder for it and the previous one made current again afterwards.
void UnpackDataArchive(const tmk_String& updaterFolder) {
  tmk_String archive;
  archive.Format(L"%s\\%s", updaterFolder.Text(), kDataArchive);
  // Any entry of that name counts, a folder too; one that can't be looked
  // at is not unpacked (logged).
  bool there = false;
  DWORD error = LookForPath(archive.Text(), there);
  if (error != ERROR_SUCCESS) LogFailure(L"looking for the data archive", archive.Text(), error);
  if (!there) return;
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

// The update itself, once the installer is admitted and the journal
// begun: preparation, archive, installer, put-back, registration.
DWORD RunInstaller(RunJournal& journal, vskr::UniqueFileHandle& checkedInstaller,
                   const tmk_String& installerPath, const tmk_String& installerFileName,
                   const tmk_String& commandLine, const tmk_String& updaterFolder) {
  // A refusal (the program folder could not be verified, or the
  // configuration could not be saved; the user has been told) ends the run
  // before anything is unpacked or started.
  UpdateContext context;
  bool configurationNotSaved = false;
  DWORD prepared = PrepareUpdate(context, journal, configurationNotSaved);
  if (configurationNotSaved) ReportConfigurationNotSaved(prepared);
  if (prepared != ERROR_SUCCESS) return prepared;

  UnpackDataArchive(updaterFolder);
  tmk_String installerCommand = InstallerCommandLine(installerPath, commandLine);
  vskr::ChildProcess installer;
  DWORD started = LaunchChild(installerCommand, LaunchProfile::VisibleProgram, installer);
  checkedInstaller.Reset();  // a started installer holds its own file; the clean-up removes it
  if (started != ERROR_SUCCESS) {
    LogLine(L"the installer could not be started: the configuration is restored and the "
            L"update's files are removed");
    // The configuration is put back before the update's files go; the
    // start's error is the outcome (a put-back failure is in the run log,
    // and the journal keeps what it could not put back for the next run).
    (void)journal.PutBackAfterInstaller();
    RemoveUpdateArtefacts(updaterFolder, installerPath);
    return started;
  }
  // The installer's own exit code is the outcome unless it reports success
  // (0 or a restart) and a later step fails.
  DWORD outcome = WaitForInstaller(installer, installerCommand, installerFileName);
  // The registration needs the root folder as the installer left it; it
  // runs last, so that a tool that hangs can't keep the configuration from
  // being put back.
  tmk_String registrationRoot;
  ReadSettingsRootPath(registrationRoot);
  DWORD restoration = journal.PutBackAfterInstaller();
  DWORD registration = RegisterVisioEventProcessor(registrationRoot);
  return CombinedOutcome(outcome, CombinedOutcome(restoration, registration));
}

DWORD RunUpdateMode(const std::wstring& runId, uint64_t lastSequence, const tmk_String& commandLine,
                    const tmk_String& updaterFolder, InstallerCheck& check) {
  check.Wait();
  const tmk_String& installerPath = check.Path();
  const tmk_String& installerFileName = check.FileName();
  if (std::wcslen(installerPath.Text()) < kShortestInstallerPath) {
    LogLine(L"no installer qiro_upd*_win64.exe in \"%s\"", updaterFolder.Text());
    ShowNoInstallerMessage();
    return ERROR_FILE_NOT_FOUND;
  }
  LogLine(L"installer found: \"%s\"", installerPath.Text());
  // Checked before anything is changed, and kept unchangeable until started.
  DWORD admitted = AdmitInstaller(check);
  if (admitted != ERROR_SUCCESS) return admitted;

  // Nothing is written before the run journal records what may change.
  RunJournal journal;
  DWORD begun = RunJournal::Begin(runId, lastSequence, false, journal);
  if (begun != ERROR_SUCCESS) {
    ReportConfigurationNotSaved(begun);
    return begun;
  }
  DWORD outcome = RunInstaller(journal, check.Held(), installerPath, installerFileName,
                               commandLine, updaterFolder);
  journal.Finish();
  return outcome;
}

// Puts back what earlier runs that did not end left, before this run does
// anything else, so that it starts from the configuration and installation
// as they were before those runs. Returns a success code (0, or 3010 when a
// recovery left a file for the restart), or the error that kept an earlier
// run's configuration from being put back: this run then changes nothing
// else. `lastSequence` receives the journals' highest sequence number.
DWORD RecoverUnfinishedRuns(const std::wstring& runId, uint64_t& lastSequence) {
  DWORD outcome = ERROR_SUCCESS;
  for (RunJournal& earlier : RunJournal::Unfinished(lastSequence)) {
    DWORD error = ERROR_SUCCESS;
    if (earlier.IsPackageRun()) {
      error = RecoverPackageRun(earlier);
      if (IsSuccessCode(error)) earlier.Finish(runId);
    } else {
      error = earlier.Recover(runId);
    }
    if (!IsSuccessCode(error)) {
      LogFailure(L"putting back what an unfinished earlier run left", earlier.Folder().c_str(),
                 error);
      return error;
    }
    outcome = CombinedOutcome(outcome, error);
  }
  return outcome;
}

// One run once it holds the machine's lock. Its exit code is that of the
// recoveries and the run's own steps, by CombinedOutcome.
DWORD RunLocked(const tmk_String& commandLine, const tmk_String& updaterFolder,
                InstallerCheck* installerCheck, OwnSignatureCheck* ownSignature) {
  const bool packageMode = installerCheck == nullptr;
  const std::wstring runId = RunJournal::NewRunId();
  uint64_t lastSequence = 0;
  DWORD recovered = RecoverUnfinishedRuns(runId, lastSequence);
  if (!IsSuccessCode(recovered)) {
    if (!packageMode) ReportConfigurationNotSaved(recovered);
    return recovered;
  }
  return CombinedOutcome(recovered, packageMode
                                        ? RunPackageMode(runId, lastSequence, commandLine,
                                                         updaterFolder, *ownSignature)
                                        : RunUpdateMode(runId, lastSequence, commandLine,
                                                        updaterFolder, *installerCheck));
}

void LogRunStart(const tmk_String& ownPath, const tmk_String& commandLine, bool packageMode) {
  LogLine(L"");
  LogLine(L"==== %s vskr_updater %s ====", vskr::LocalTimeText().c_str(), VSKR_VERSION_WIDE);
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
  const bool packageMode = IsPackageMode(commandLine);
  tmk_String ownPath(vskr::OwnModulePath().c_str());
  const tmk_String updaterFolder = FolderOf(ownPath);
  // Update mode's search for the installer and the signature checks, and
  // package mode's check of the updater's own signature, which change
  // nothing, start first and run while the run takes its lock and looks at
  // earlier runs.
  std::unique_ptr<InstallerCheck> installerCheck;
  std::unique_ptr<OwnSignatureCheck> ownSignature;
  if (!packageMode) installerCheck = std::make_unique<InstallerCheck>(updaterFolder);
  if (packageMode) ownSignature = std::make_unique<OwnSignatureCheck>();
  RunLog log(DefaultLogFolder());
  ScopedRunLog installedLog(log);
  ULONGLONG start = GetTickCount64();
  LogRunStart(ownPath, commandLine, packageMode);
  DWORD exitCode = ERROR_SUCCESS;
  RunLock oneRunAtATime;
  if (oneRunAtATime.Held()) {
    exitCode = RunLocked(commandLine, updaterFolder, installerCheck.get(), ownSignature.get());
  } else if (oneRunAtATime.Refusal() == ERROR_INSTALL_ALREADY_RUNNING) {
    exitCode = ERROR_INSTALL_ALREADY_RUNNING;
    LogLine(L"another run of the updater is active on this machine: this run changes nothing");
  } else {
    // The journal's folder is unusable: nothing can be saved, so nothing
    // is changed.
    exitCode = oneRunAtATime.Refusal();
    if (!packageMode) ReportConfigurationNotSaved(exitCode);
  }
  LogRunEnd((GetTickCount64() - start) / 1000.0, exitCode);
  return exitCode;
}
