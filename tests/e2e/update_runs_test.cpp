// Runs of the real updater on one sample installation, with stand-ins for
// the installer and the system's tools: the outcome of each run (exit code,
// dialog), the configuration that must outlast the installer, the run log,
// the clean-up after a failed installer start, and package mode.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/known_folders.h"
#include "platform/unique_handle.h"
#include "support/sandbox.h"

namespace {

using namespace testing_support;

using Names = std::vector<std::wstring>;
const wchar_t kInstaller[] = L"qiro_upd240046_win64.exe";
const Dialog kNoUpdateFile{L"QIRO Update", L"No update file found.", false, true};
const Dialog kNoProgramPath{L"Error", L"The VESKARO program path cannot be determined. Please "
                            L"contact your administrator or the VESKARO hotline.", false, false};

// Expects the parts in this order in `text`.
void ExpectInOrder(const std::wstring& text, const std::vector<std::wstring>& parts) {
  size_t at = 0;
  for (const std::wstring& part : parts) {
    at = text.find(part, at);
    ASSERT_NE(std::wstring::npos, at) << Narrow(part) << "\n--- in:\n" << Narrow(text);
  }
}

class SampleRun : public testing::Test {
 public:
  // The installation as its installer leaves it. The product key's values
  // carry no terminating zero, as this program writes them. The update
  // folder's path has a blank: "C:\vskr_tests\Upd.exe" is where a program
  // would be planted.
  void SetUp() override {
    for (const std::wstring& folder : {install_, update_, start_}) ResetFolder(folder);
    DeleteMachineKey(kProductKeyPath);
    for (const auto& value : std::vector<std::pair<const wchar_t*, std::wstring>>{
             {L"ROOTPATH", root_}, {L"EXECUTABLEPATH", root_ + L"\\Sys2021"}, {L"DATA_PATH", data_},
             {L"WORK_PATH", install_ + L"\\Work"}, {L"Linked_ACAD_Id", L"1004"},
             {L"Linked_ACAD_Product", L"0"}})
      SetMachineText(kProductKeyPath, value.first, value.second, REG_SZ, false);
    WriteBytes(root_ + L"\\Sys2021\\VC_BaseSBCS_RD.dll", "library");
    WriteBytes(Modules(), "[Modules]\r\nPiping=1\r\n");
    WriteUtf16Text(settings_, L"[TMK-QIRO]\r\nPHI_ROOTPATH=0\r\nPHI_LANGUAGE=German\r\n"
                              L"PHI_DWGEDITORARGUMENT=/nologo 0\r\n");
    DeleteMachineValue(kEnvironmentKeyPath, L"VERSANT_DBID_NODE");
    SetMachineText(kEnvironmentKeyPath, L"VERSANT_DBID", L"%SystemDrive%\\Db", REG_EXPAND_SZ);
    SetMachineText(kEnvironmentKeyPath, L"VERSANT_DB", L"C:\\Db \u00c4");
    for (const wchar_t* tool : {L"\\tar.exe", L"\\net.exe"})
      InstallStandIn(L"standin_tool.exe", SystemToolsFolder() + tool);
    InstallRegistrationTool();
    InstallStandIn(L"standin_installer64.exe", update_ + L"\\" + kInstaller);
    updater_ = InstallUpdater(update_);
    DeleteFileW(log_.c_str());
    ResetStandInLog();
  }
  void TearDown() override {
    if (!mounted_.empty()) RunUnixTool(L"umount \\\"$1\\\"", {mounted_});
    mounted_.clear();
    DeleteMachineKey(kProductKeyPath);
    for (const wchar_t* name : {L"VERSANT_DBID", L"VERSANT_DB", L"VERSANT_DBID_NODE"})
      DeleteMachineValue(kEnvironmentKeyPath, name);
    for (const std::wstring& file : {settings_, settings_ + L".upd"}) DeleteFileW(file.c_str());
    for (const std::wstring& folder : {install_, update_, start_, journal_}) DeleteTreeNoFollow(folder);
  }

  std::wstring Modules() const { return data_ + L"\\Data\\LocalCfg\\Modules.ini"; }
  RunResult Run(const std::wstring& arguments) { return RunUpdaterIn(start_, updater_, arguments); }
  // As a deployment tool runs it: on a window station that nobody sees.
  RunResult RunUnseen(const std::wstring& arguments) {
    return dialog_watch::RunUnseen(L"\"" + updater_ + L"\" " + arguments, start_, 30000);
  }
  void InstallerDoes(const std::wstring& actions) { WriteText(start_ + L"\\actions.txt", actions); }
  Names Programs() const {
    Names programs;
    for (const StandInCall& call : ReadStandInLog()) programs.push_back(call.program);
    return programs;
  }

  const std::wstring install_ = L"C:\\vskr_tests\\Veskaro \u03a9";  // not in the ANSI code page
  const std::wstring root_ = install_ + L"\\Root";
  const std::wstring data_ = install_ + L"\\Data";
  const std::wstring update_ = L"C:\\vskr_tests\\Upd Test";
  const std::wstring start_ = L"C:\\vskr_tests\\start here";
  const std::wstring settings_ = CommonAppData() + L"\\Quendris\\QIRO\\Settings\\qiro.ini";
  const std::wstring log_ = CommonAppData() + L"\\Quendris\\QIRO\\Logs\\vskr_updater.log";
  const std::wstring journal_ = CommonAppData() + L"\\Quendris\\QIRO\\Journal";
  // The settings file as the preparation leaves it: the registry's root in
  // place of "0", the product switch in place of the launch argument's 0.
  const std::wstring prepared_ = L"[TMK-QIRO]\r\nPHI_ROOTPATH=" + root_ +
                                 L"\r\nPHI_LANGUAGE=German\r\n"
                                 L"PHI_DWGEDITORARGUMENT=/nologo /product ACA\r\n";
  ScopedVariable actions_{L"VSKR_INSTALLER_ACTIONS", start_ + L"\\actions.txt"};
  std::wstring updater_;
  vskr::UniqueFileHandle held_;  // a file held without any sharing during a run
  std::wstring mounted_;         // a small file system mounted in the installation
};

// Runs that end before the installer: the program folder not verified, no
// installer of the pattern (only look-alikes), package mode without a
// package. Each tells why, and nothing is changed. The log, grown past its
// bound, is kept as one old generation.
TEST_F(SampleRun, RunEndingEarlyTellsWhyAndChangesNothing) {
  // The arguments, what is taken away before the run, the outcome.
  const std::tuple<const wchar_t*, std::wstring, DWORD, std::vector<Dialog>> rows[] = {
      {L"", root_ + L"\\Sys2021\\VC_BaseSBCS_RD.dll", ERROR_PATH_NOT_FOUND, {kNoProgramPath}},
      {L"/quiet", update_ + L"\\" + kInstaller, ERROR_FILE_NOT_FOUND, {kNoUpdateFile}},
      {L"install_from_zip", update_ + L"\\" + kInstaller, ERROR_FILE_NOT_FOUND, {kNoUpdateFile}},  // update mode
      {L"/s XINSTALL_FROM_ZIPX", L"", ERROR_FILE_NOT_FOUND, {}},          // package mode
  };
  WriteBytes(update_ + L"\\qiro_upd240046_win32.exe", "MZ");
  WriteBytes(update_ + L"\\xqiro_upd1_win64.exe", "MZ");
  WriteBytes(log_, std::string(1100 * 1024, 'o'));
  std::string settings = ReadBytes(settings_);
  for (const auto& [arguments, removed, exitCode, dialogs] : rows) {
    SCOPED_TRACE(Narrow(arguments));
    WriteBytes(root_ + L"\\Sys2021\\VC_BaseSBCS_RD.dll", "library");  // each row takes away its own
    InstallStandIn(L"standin_installer64.exe", update_ + L"\\" + kInstaller);
    DeleteFileW(removed.c_str());
    RunResult run = Run(arguments);
    EXPECT_EQ(exitCode, run.exitCode);
    EXPECT_EQ(dialogs, run.dialogs);
    EXPECT_TRUE(ReadStandInLog().empty());
    EXPECT_EQ(settings, ReadBytes(settings_));
    EXPECT_FALSE(PathExists(Modules() + L".upd"));
    EXPECT_EQ(L"0", ReadMachineValue(kProductKeyPath, L"Linked_ACAD_Product").Text());
  }
  EXPECT_EQ(1100u * 1024, ReadBytes(log_.substr(0, log_.size() - 4) + L".old.log").size());
  ExpectInOrder(ReadText(log_), {L"dialog shown: \"The VESKARO program path", L"exit code 3 (",
                                 L"no installer qiro_upd*_win64.exe in \"" + update_ + L"\"",
                                 L"dialog shown: \"No update file found.\"", L"exit code 2 ("});
}

// Each outcome of a run as deployment tools see it, started on a window
// station that nobody sees (a service, session 0): the run ends within its
// time bound, shows nothing (the log has the dialog's text) and tells what
// happened by its exit code.
TEST_F(SampleRun, UnattendedRunTellsItsOutcomeByTheExitCodeAlone) {
  using Arrange = std::function<void(SampleRun&)>;
  auto exitWith = [](const wchar_t* code) {
    return [code](SampleRun&) { SetEnvironmentVariableW(L"VSKR_INSTALLER_EXIT", code); };
  };
  auto hold = [](SampleRun& run, const std::wstring& path) {
    run.held_.Reset(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  };
  const std::wstring installer = std::wstring(L"\\") + kInstaller;
  const std::tuple<const char*, Arrange, const wchar_t*, DWORD, const wchar_t*> rows[] = {
      {"installer succeeds", [](SampleRun&) {}, L"", 0, nullptr},
      {"restart required", exitWith(L"3010"), L"/quiet", 3010, nullptr},
      {"installer cancelled", exitWith(L"1602"), L"", 1602, nullptr},
      {"no installer", [&](SampleRun& run) { DeleteFileW((run.update_ + installer).c_str()); },
       L"", ERROR_FILE_NOT_FOUND, L"No update file found."},
      {"program folder not verified",
       [](SampleRun& run) { DeleteFileW((run.root_ + L"\\Sys2021\\VC_BaseSBCS_RD.dll").c_str()); },
       L"", ERROR_PATH_NOT_FOUND, L"The VESKARO program path cannot be determined."},
      {"installer can't be checked", [&](SampleRun& run) { hold(run, run.update_ + installer); },
       L"", 577, L"The update file is not signed by the publisher of this program."},
      {"configuration can't be saved", [&](SampleRun& run) { hold(run, run.Modules()); }, L"",
       ERROR_SHARING_VIOLATION, L"The configuration could not be saved. The update was not started."},
      {"another run is active",
       [&](SampleRun& run) {
         WriteBytes(run.journal_ + L"\\run.lock", "");
         hold(run, run.journal_ + L"\\run.lock");
       },
       L"", ERROR_INSTALL_ALREADY_RUNNING, nullptr},
      {"journal folder unusable", [](SampleRun& run) { WriteBytes(run.journal_, "a file"); }, L"",
       ERROR_DIRECTORY, L"The configuration could not be saved. The update was not started."},
      {"installer is no program",
       [&](SampleRun& run) { WriteBytes(run.update_ + installer, "not a program"); }, L"",
       ERROR_BAD_EXE_FORMAT, nullptr},
      {"copy-back fails",
       [](SampleRun& run) {
         run.InstallerDoes(L"delete " + run.Modules() + L"\nmkdir " + run.Modules() + L"\n");
       },
       L"", ERROR_ACCESS_DENIED, nullptr},
      {"registration tool missing",
       [](SampleRun&) {
         for (const wchar_t* bits : {L"Framework", L"Framework64"})
           DeleteFileW((WindowsFolder() + L"\\Microsoft.NET\\" + bits + L"\\v4.0.30319\\regasm.exe")
                           .c_str());
       },
       L"", ERROR_FILE_NOT_FOUND, L"Unable to register VisioEventProcessor.dll"},
      {"no package folder", [](SampleRun&) {}, L"INSTALL_FROM_ZIP", ERROR_FILE_NOT_FOUND, nullptr},
  };
  for (const auto& [name, arrange, arguments, exitCode, dialog] : rows) {
    SCOPED_TRACE(name);
    TearDown();
    SetUp();
    ScopedVariable installerExit(L"VSKR_INSTALLER_EXIT", L"");
    arrange(*this);
    RunResult run = RunUnseen(arguments);
    held_.Reset();
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(exitCode, run.exitCode);
    std::wstring log = ReadText(log_);
    EXPECT_EQ(std::wstring::npos, log.find(L"dialog shown"));
    if (dialog) {
      EXPECT_NE(std::wstring::npos,
                log.find(L"dialog not shown (no one can see this window station): \"" +
                         std::wstring(dialog)));
    }
    EXPECT_NE(std::wstring::npos, log.find(L"exit code " + std::to_wstring(exitCode) + L" ("));
  }
}

// The whole update road. The system's tar unpacks the archive in the update
// folder; the installer is started visibly by its quoted path with the
// updater's command line, from the updater's current folder, and changes
// the module configuration, the settings file, the language and the
// database variables. Afterwards the workstation's are back with their
// registry types, the component is registered with the root the installer
// wrote, and the run log tells each step. Programs planted next to the
// updater or at the blank of its path never run.
TEST_F(SampleRun, ConfigurationOutlastsTheInstaller) {
  WriteBytes(root_ + L"\\Sys2021\\RuZaduvAveded.exe", "index engine");
  WriteBytes(update_ + L"\\vskr_update.zip", "PK\x05\x06");
  InstallStandIn(L"standin_planted.exe", update_ + L"\\tar.exe");
  InstallStandIn(L"standin_planted.exe", L"C:\\vskr_tests\\Upd.exe");
  InstallerDoes(L"file " + Modules() + L"=[Modules]\n" +
                L"ini TMK-QIRO|PHI_LANGUAGE=English\nini TMK-QIRO|PHI_ROOTPATH=C:\\Veskaro 24\n"
                L"reg PHI_LANGUAGE=English\nenv VERSANT_DBID=installer-db\nenv VERSANT_DB=\n"
                L"env VERSANT_DBID_NODE=node9\n");
  ScopedVariable exitCode(L"VSKR_INSTALLER_EXIT", L"7");
  ScopedVariable startup(L"VSKR_INSTALLER_STARTUP_FILE", start_ + L"\\startup.txt");
  const std::wstring arguments = L"/quiet LANG=\"de DE\"";
  RunResult run = Run(arguments);
  DeleteFileW(L"C:\\vskr_tests\\Upd.exe");
  EXPECT_EQ(7u, run.exitCode);  // the installer's
  EXPECT_TRUE(run.dialogs.empty());
  Names programs = Programs();  // a planted program logs its full path
  std::sort(programs.begin(), programs.end());      // the index service's stop runs on
  EXPECT_EQ((Names{L"net.exe", kInstaller, L"regasm.exe", L"tar.exe"}), programs);
  EXPECT_EQ("flags=0x1 show=1", ReadBytes(start_ + L"\\startup.txt"));  // SW_SHOWNORMAL

  EXPECT_EQ("[Modules]\r\nPiping=1\r\n", ReadBytes(Modules()));
  EXPECT_EQ(prepared_, ReadText(settings_));  // still UTF-16: the root's Omega survives
  EXPECT_FALSE(PathExists(Modules() + L".upd") || PathExists(settings_ + L".upd"));
  EXPECT_EQ(L"German", ReadMachineValue(kProductKeyPath, L"PHI_LANGUAGE").Units());
  RegistryValue dbid = ReadMachineValue(kEnvironmentKeyPath, L"VERSANT_DBID");
  EXPECT_EQ(L"%SystemDrive%\\Db", dbid.Units());
  EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), dbid.type);
  EXPECT_EQ(L"C:\\Db \u00c4", ReadMachineValue(kEnvironmentKeyPath, L"VERSANT_DB").Units());
  EXPECT_EQ(L"node9", ReadMachineValue(kEnvironmentKeyPath, L"VERSANT_DBID_NODE").Text());

  const std::wstring installer = L"\"" + update_ + L"\\" + kInstaller + L"\"";
  const std::wstring framework = WindowsFolder() + L"\\Microsoft.NET\\Framework64\\v4.0.30319";
  ExpectInOrder(ReadText(log_), {
      L"vskr_updater 1.0.0.0 ====\r\nprogram: \"" + updater_ + L"\"\r\ncommand line: " + arguments +
          L"\r\nmode: update\r\ninstaller found: " + installer,
      L"registry value Linked_ACAD_Product written: \"/product ACA\" (was \"0\")",
      L"program started: net stop \"VIDUVIR Ezaze Dudevo\"",
      L"backup copy made: \"" + Modules() + L".upd\"",
      L"environment variable VERSANT_DBID saved: \"%SystemDrive%\\Db\" (REG_EXPAND_SZ)",
      L"program started: tar -xf vskr_update.zip (current folder \"" + update_ + L"\")",
      L"program started: " + installer + L" " + arguments + L" (current folder \"" + start_,
      L"program ended with exit code 7: " + installer, L"waited ",
      L"system environment variable VERSANT_DB written: \"C:\\Db \u00c4\" (REG_SZ)",
      L"registry value PHI_LANGUAGE written: \"German\" (was \"English\")",
      L"restored from its backup copy: \"" + settings_ + L"\"",
      L"program started: \"" + framework + L"\\regasm.exe\" \"C:\\Veskaro 24\\"
      L"VisioEventProcessor.dll\" /codebase (current folder \"" + framework + L"\")",
      L"exit code 7 ("});
}

// The installer hands on to a copy of itself that runs 2 s longer: the
// registration comes only after that copy has ended, for the 64-bit
// installer and for a 32-bit one.
TEST_F(SampleRun, WaitsForTheInstallersLeftoverOfEitherBitness) {
  ScopedVariable leftover(L"VSKR_INSTALLER_LEFTOVER_MS", L"2000");
  const Names order = {kInstaller, kInstaller, kInstaller + std::wstring(L":end"), L"regasm.exe"};
  for (const wchar_t* standIn : {L"standin_installer64.exe", L"standin_installer32.exe"}) {
    InstallStandIn(standIn, update_ + L"\\" + kInstaller);
    ResetStandInLog();
    EXPECT_EQ(0u, Run(L"").exitCode);
    EXPECT_EQ(order, Programs()) << Narrow(standIn);
  }
}

// An installer file that is no program: the configuration is restored, no
// registration runs, and the update's files go (the archive is listed by
// tar), whether the updater's folder is its own or the system's (the Public
// Desktop).
TEST_F(SampleRun, FailedInstallerStartTakesAwayOnlyTheUpdate) {
  for (const std::wstring& folder : {update_, KnownFolderPath(FOLDERID_PublicDesktop)}) {
    SCOPED_TRACE(Narrow(folder));
    std::wstring updater = InstallUpdater(folder);
    WriteBytes(folder + L"\\qiro_upd240046_Win64.exe", "not a program");
    WriteBytes(folder + L"\\VSKR_UPDATE.zip", "PK\x05\x06");
    WriteText(folder + L"\\vskr_update\\Data\\x.txt", L"x");
    ResetStandInLog();
    RunResult run = RunUpdaterIn(start_, updater, L"");
    EXPECT_EQ(static_cast<DWORD>(ERROR_BAD_EXE_FORMAT), run.exitCode);
    EXPECT_TRUE(run.dialogs.empty());
    EXPECT_EQ((Names{L"tar.exe", L"tar.exe"}), Programs());
    EXPECT_EQ(prepared_, ReadText(settings_));
    EXPECT_FALSE(PathExists(settings_ + L".upd"));
    for (auto name : {L"\\qiro_upd240046_Win64.exe", L"\\VSKR_UPDATE.zip", L"\\vskr_update"})
      EXPECT_FALSE(PathExists(folder + name)) << Narrow(name);
    DeleteFileW(updater.c_str());
  }
}

// The installer leaves a folder where the module configuration was: its
// backup copy can't be put back, so it is kept, and the copy's error is the
// run's outcome. A settings file without a language leaves the installer's.
TEST_F(SampleRun, BackupWhoseCopyBackFailsIsKept) {
  WriteUtf16Text(settings_, L"[TMK-QIRO]\r\nPHI_ROOTPATH=" + root_ + L"\r\n");
  InstallerDoes(L"delete " + Modules() + L"\nmkdir " + Modules() + L"\nreg PHI_LANGUAGE=Russian\n");
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), Run(L"").exitCode);
  EXPECT_EQ("[Modules]\r\nPiping=1\r\n", ReadBytes(Modules() + L".upd"));
  EXPECT_FALSE(PathExists(settings_ + L".upd"));
  EXPECT_NE(std::wstring::npos,
            ReadText(log_).find(L"restoring \"" + Modules() + L"\" failed from its backup copy"));
  EXPECT_EQ(L"Russian", ReadMachineValue(kProductKeyPath, L"PHI_LANGUAGE").Text());
}

// The entries below `folder` (links not entered), each with its attributes
// and, for a file, its last-write time and bytes: what a package run must
// leave either as it was or as the package has it.
using Entries = std::map<std::wstring, std::string>;
std::string Describe(const std::wstring& path, DWORD without = 0) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
  std::string text = "attributes " + std::to_string(data.dwFileAttributes & ~without);
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return text;
  uint64_t written = (uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) |
                     data.ftLastWriteTime.dwLowDateTime;
  return text + ", written " + std::to_string(written) + ": " + ReadBytes(path);
}
Entries ListEntries(const std::wstring& folder, Entries entries = {}) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) {
    const std::wstring name = found.cFileName, path = folder + L"\\" + name;
    if (name == L"." || name == L"..") continue;
    entries[path] = Describe(path);
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
        !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
      entries = ListEntries(path, entries);
  }
  if (search != INVALID_HANDLE_VALUE) FindClose(search);
  return entries;
}
std::string Text(const Entries& entries) {
  std::string text;
  for (const auto& [path, description] : entries) text += Narrow(path) + " " + description + "\n";
  return text;
}

vskr::ChildProcess Start(std::wstring commandLine) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  vskr::ChildProcess child;
  if (CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                     &startup, &info))
    child.Adopt(info);
  return child;
}

// Package runs on the sample installation, with a package for all thirteen
// rows of the package map: a file whose counterpart is installed, one whose
// counterpart is installed with other letter case in a subfolder, one that
// is not installed, a file named like an installed folder, a folder link in
// the package that points back up its tree (with an installed folder of its
// name) and one in the installation. Each run either replaces every
// installed counterpart (the later of two rows into one folder wins), never
// read-only, and nothing else, or leaves the installation as it was; either
// way no entry is added or removed, no link is followed and the package
// stays. What stops a run is its exit code and is named in the run log.
TEST_F(SampleRun, PackageRunReplacesEveryFileOrNone) {
  const std::wstring package = update_ + L"\\vskr_update\\Veskaro\\";
  const std::pair<const wchar_t*, const wchar_t*> map[] = {
      {L"Sys2021", L"Root\\Sys2021"}, {L"App", L"Root\\App"}, {L"app_acad_common", L"Root\\App"},
      {L"Init", L"Root\\Init"}, {L"Tools", L"Root\\Tools"},
      {L"SystemDefault", L"Root\\SystemDefault"}, {L"catalog", L"Work\\Work\\catalog"},
      {L"library", L"Work\\Work\\library"}, {L"Config", L"Data\\Data\\Config"},
      {L"Default", L"Data\\Data\\Default"}, {L"Template", L"Data\\Data\\Template"},
      {L"Reports", L"Data\\Data\\Reports"}, {L"LocalCfg", L"Data\\Data\\LocalCfg"}};
  std::vector<std::pair<std::wstring, std::wstring>> replaced;  // installed file, package file
  vskr::ChildProcess program, library;
  const auto nothing = [] { return true; };
  const auto restart = [&] {  // as a restart would: the programs end, pending removals are done
    for (vskr::ChildProcess* running : {&program, &library}) {
      TerminateProcess(running->Process.Get(), 0);
      WaitForSingleObject(running->Process.Get(), 10000);
    }
    vskr::ChildProcess boot = Start(L"wineboot.exe -r");
    WaitForSingleObject(boot.Process.Get(), 60000);
  };
  const auto manyFiles = [&] {  // a switch long enough to act in
    for (int i = 0; i < 300; ++i) {
      const std::wstring name = L"Reports\\many\\" + std::to_wstring(i) + L".dat";
      WriteText(package + name, L"new");
      WriteText(data_ + L"\\Data\\" + name, L"old");
      replaced.push_back({data_ + L"\\Data\\" + name, package + name});
    }
  };
  struct Row {
    const char* fault;
    std::function<bool()> arrange;  // false: the fault can't be made here
    DWORD exit;
    int version;  // of the installation afterwards: 1 the package's, 0 as before, -1 either
    std::wstring logged;
    std::function<void()> after = [] {};  // after the run, before the comparison
    const wchar_t* then = nullptr;        // the arguments of a second run
  };
  const Row rows[] = {
      {"nothing in the way", nothing, 0, 1, L"package: 24 files replaced (plan "},
      {"a file held without delete sharing", [&] {
         held_.Reset(CreateFileW((root_ + L"\\Init\\common.dll").c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                 nullptr));
         return held_.IsValid();
       }, ERROR_SHARING_VIOLATION, 0,
       L"setting an installed file aside failed for \"" + root_ + L"\\Init\\common.dll\" as \"",
       [&] { held_.Reset(); }},
      {"a program and a library of a running program", [&] {
         for (const wchar_t* name : {L"\\Veskaro.exe", L"\\common.dll"})
           InstallStandIn(L"standin_tool.exe", root_ + L"\\Sys2021" + name);
         WriteText(package + L"Sys2021\\Veskaro.exe", L"program, version 2");
         replaced.push_back({root_ + L"\\Sys2021\\Veskaro.exe", package + L"Sys2021\\Veskaro.exe"});
         program = Start(L"\"" + root_ + L"\\Sys2021\\Veskaro.exe\" sleep");
         library = Start(L"\"" + root_ + L"\\Sys2021\\common.dll\" sleep");
         for (int i = 0; i < 500 && ReadStandInLog().size() < 2; ++i) Sleep(10);
         return ReadStandInLog().size() == 2;
       }, ERROR_SUCCESS_REBOOT_REQUIRED, 1,
       L"package: \"" + root_ + L"\\Sys2021\\Veskaro.exe\" is in use by \"" + root_ +
           L"\\Sys2021\\Veskaro.exe\" (process ",
       restart},
      {"a read-only package file, then a second run", [&] {
         return SetFileAttributesW((package + L"Init\\common.dll").c_str(),
                                   FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE) != FALSE;
       }, 0, 1, L"package: \"" + package + L"Init\\common.dll\" is read-only in the package",
       nothing, L"INSTALL_FROM_ZIP"},
      {"an installed file past the path limit once renamed", [&] {
         const std::wstring folder = L"\\" + std::wstring(190, L'x') + L"\\long.dll";
         WriteText(package + L"Config" + folder, L"new");
         WriteText(data_ + L"\\Data\\Config" + folder, L"old");
         replaced.push_back({data_ + L"\\Data\\Config" + folder, package + L"Config" + folder});
         return true;
       }, 0, 1, L"package: 25 files replaced (plan "},
      {"one installed folder reached by two rows' paths", [&] {
         // Config's folder is a link to Init's: each file is replaced once,
         // from the later row.
         DeleteTreeNoFollow(data_ + L"\\Data\\Config");
         MakeLink(data_ + L"\\Data\\Config", root_ + L"\\Init");
         std::vector<std::pair<std::wstring, std::wstring>> kept;
         for (const auto& [installed, source] : replaced) {
           if (installed.find(L"\\Data\\Config\\") != std::wstring::npos) continue;
           const bool init = source.compare(0, package.size() + 5, package + L"Init\\") == 0;
           kept.push_back({installed, init ? package + L"Config" + source.substr(package.size() + 4)
                                           : source});
         }
         replaced = kept;
         return true;
       }, 0, 1, L"package: 22 files replaced (plan "},
      {"a file where an installation folder should be", [&] {
         DeleteTreeNoFollow(install_ + L"\\Work\\Work\\catalog");
         WriteText(install_ + L"\\Work\\Work\\catalog", L"a file");
         return true;
       }, ERROR_DIRECTORY, 0, L"Work\\catalog\" is a file, not an installation folder"},
      {"a read-only installed file", [&] {
         return SetFileAttributesW((root_ + L"\\Tools\\common.dll").c_str(),
                                   FILE_ATTRIBUTE_READONLY) != FALSE;
       }, ERROR_ACCESS_DENIED, 0,
       L"the installed file \"" + root_ + L"\\Tools\\common.dll\" is read-only"},
      {"a row without its folder's value", [] {
         SetProductText(L"ROOTPATH", L"");
         return true;
       }, ERROR_BAD_PATHNAME, 0, L"package row 2 can't be resolved: the registry value ROOTPATH"},
      {"a full disk during the switch (room for one more file)", [&] {
         const std::wstring config = data_ + L"\\Data\\Config";
         RunUnixTool(L"mount -t tmpfs -o size=1m,nr_inodes=5 tmpfs \\\"$1\\\"", {config});
         if (PathExists(config + L"\\common.dll")) return false;  // not hidden: not mounted
         mounted_ = config;
         WriteText(config + L"\\common.dll", L"old");
         WriteText(config + L"\\sub\\nested \u00fc.txt", L"old");
         return true;
       }, ERROR_DISK_FULL, 0, L"copying a package file in place failed for \"" + package + L"Config\\"},
      {"the updater ended during the switch, then an update run", [&] {
         manyFiles();
         program = Start(L"\"" + BuildBin() + L"\\standin_tool.exe\" end-updater \"" + root_ +
                         L"\\Sys2021\\*.old\"");
         return program.Process.IsValid();
       }, 1, -1, L"did not end (324 files, ",
       [&] { TerminateProcess(program.Process.Get(), 0); }, L""},
      {"the journal can't record the complete switch", [&] {
         manyFiles();
         program = Start(L"\"" + BuildBin() + L"\\standin_tool.exe\" block \"" + root_ +
                         L"\\Sys2021\\*.old\" \"" + journal_ + L"\" run.ini.new");
         return program.Process.IsValid();
       }, ERROR_ACCESS_DENIED, 0, L"package: every file is switched, but the journal could not "
                                  L"record it: the switch is undone",
       [&] { TerminateProcess(program.Process.Get(), 0); }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.fault);
    TearDown();
    SetUp();
    replaced.clear();
    for (const auto& [source, installed] : map) {
      const std::wstring from = package + source, to = install_ + L"\\" + installed;
      for (const wchar_t* name : {L"\\common.dll", L"\\SUB\\Nested \u00dc.txt", L"\\added.txt"})
        WriteText(from + name, L"new from " + std::wstring(source));
      for (const auto& [name, packageName] : {std::make_pair(L"\\common.dll", L"\\common.dll"),
               std::make_pair(L"\\sub\\nested \u00fc.txt", L"\\SUB\\Nested \u00dc.txt")}) {
        WriteText(to + name, L"old");
        // "app_acad_common" refreshes the folder of "App" after it.
        if (std::wstring(source) != L"App") replaced.push_back({to + name, from + packageName});
      }
    }
    WriteText(package + L"Sys2020\\common.dll", L"not this program folder's");
    WriteText(package + L"Init\\Help", L"a file");
    WriteText(root_ + L"\\Init\\Help\\index.htm", L"help");
    WriteText(package + L"Init\\linked\\common.dll", L"new");
    WriteText(install_ + L"\\Elsewhere\\common.dll", L"elsewhere");
    WriteText(root_ + L"\\App\\loop\\common.dll", L"not reached through the package's loop");
    ASSERT_TRUE(MakeLink(package + L"App\\loop", package + L"App"));
    ASSERT_TRUE(MakeLink(root_ + L"\\Init\\linked", install_ + L"\\Elsewhere"));
    if (!row.arrange()) {
      std::printf("[ SKIPPED  ] %s: the fault can't be made here\n", row.fault);
      continue;
    }
    const Entries before = ListEntries(install_);
    Entries after = before;
    for (const auto& [installed, source] : replaced)
      after[installed] = Describe(source, FILE_ATTRIBUTE_READONLY);  // installed writable
    RunResult run = Run(L"INSTALL_FROM_ZIP");
    row.after();
    EXPECT_EQ(row.exit, run.exitCode);
    EXPECT_TRUE(run.dialogs.empty());
    if (row.then) {
      EXPECT_EQ(0u, Run(row.then).exitCode);
    }
    // One version: the package's or the one before, as the row expects.
    const std::string now = Text(ListEntries(install_));
    const bool asBefore = row.version == 0 || (row.version < 0 && now == Text(before));
    EXPECT_EQ(Text(asBefore ? before : after), now);
    EXPECT_TRUE(PathExists(package + L"Init\\added.txt"));
    EXPECT_NE(std::wstring::npos, ReadText(log_).find(row.logged)) << Narrow(ReadText(log_));
  }
}

}  // namespace
