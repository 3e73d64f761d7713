// Runs as deployment tools start them: on a window station that nobody sees
// (a service, the system account in session 0). Every situation ends within
// its time bound, shows no dialog, and tells its outcome by the exit code.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "support/sandbox.h"

namespace {

using namespace testing_support;

struct StationRun {
  bool timedOut = false;
  DWORD exitCode = 0xFFFFFFFF;
};

// Starts `commandLine` on a window station of its own created without
// WSF_VISIBLE, waits at most `timeoutMs` (a message box there would wait for
// ever) and returns its exit code.
StationRun RunOnInvisibleStation(const std::wstring& commandLine, DWORD timeoutMs = 30000) {
  StationRun run;
  HWINSTA original = GetProcessWindowStation();
  HWINSTA station = CreateWindowStationW(L"VskrFleet", 0, WINSTA_ALL_ACCESS, nullptr);
  EXPECT_NE(nullptr, station);
  SetProcessWindowStation(station);
  HDESK desktop = CreateDesktopW(L"Default", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
  SetProcessWindowStation(original);
  EXPECT_NE(nullptr, desktop);

  std::wstring buffer = commandLine;
  wchar_t desktopName[] = L"VskrFleet\\Default";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.lpDesktop = desktopName;
  PROCESS_INFORMATION info{};
  EXPECT_TRUE(CreateProcessW(nullptr, &buffer[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &info));
  if (info.hProcess) {
    if (WaitForSingleObject(info.hProcess, timeoutMs) == WAIT_TIMEOUT) {
      run.timedOut = true;
      TerminateProcess(info.hProcess, 999);
      WaitForSingleObject(info.hProcess, 5000);
    }
    GetExitCodeProcess(info.hProcess, &run.exitCode);
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
  }
  if (desktop) CloseDesktop(desktop);
  if (station) CloseWindowStation(station);
  return run;
}

class FleetRun : public testing::Test {
 public:
  void SetUp() override {
    ResetFolder(base_);
    ResetFolder(update_);
    ResetStandInLog();
    DeleteMachineKey(kProductKeyPath);
    SetProductText(L"ROOTPATH", root_);
    SetProductText(L"EXECUTABLEPATH", root_ + L"\\Sys2021");
    SetProductText(L"DATA_PATH", base_);
    WriteBytes(root_ + L"\\Sys2021\\VC_BaseSBCS_RD.dll", "library");
    WriteBytes(Modules(), "[Modules]\r\nPiping=1\r\n");
    settings_ = CommonAppData() + L"\\Quendris\\QIRO\\Settings\\qiro.ini";
    savedSettings_ = ReadBytes(settings_);
    WriteText(settings_, L"[TMK-QIRO]\r\nPHI_ROOTPATH=" + root_ + L"\r\n");
    InstallStandIn(L"standin_tool.exe", SystemToolsFolder() + L"\\net.exe");
    InstallRegistrationTool();
    updater_ = InstallUpdater(update_);
    DeleteFileW(Log().c_str());
  }
  void TearDown() override {
    if (held_) CloseHandle(held_);
    held_ = nullptr;
    SetEnvironmentVariableW(L"VSKR_INSTALLER_ACTIONS", nullptr);
    DeleteMachineKey(kProductKeyPath);
    WriteBytes(settings_, savedSettings_);
    DeleteFileW((settings_ + L".upd").c_str());
    DeleteTreeNoFollow(base_);
    DeleteTreeNoFollow(update_);
  }

  std::wstring Modules() const { return base_ + L"\\Data\\LocalCfg\\Modules.ini"; }
  static std::wstring Log() {
    return CommonAppData() + L"\\Quendris\\QIRO\\Logs\\vskr_updater.log";
  }
  void AddInstaller(const std::wstring& actions = L"") {
    InstallStandIn(L"standin_installer64.exe", update_ + L"\\qiro_upd240046_win64.exe");
    WriteText(update_ + L"\\actions.txt", actions);
    SetEnvironmentVariableW(L"VSKR_INSTALLER_ACTIONS", (update_ + L"\\actions.txt").c_str());
  }

  std::wstring base_ = L"C:\\vskr_tests\\fleet";
  std::wstring root_ = base_ + L"\\Veskaro";
  std::wstring update_ = L"C:\\vskr_tests\\Fleet Update";
  std::wstring updater_, settings_;
  std::string savedSettings_;
  HANDLE held_ = nullptr;  // a file held without sharing during the run
};

struct Situation {
  const char* name;
  std::function<void(FleetRun&)> arrange;
  const wchar_t* arguments;
  DWORD exitCode;
  const wchar_t* dialogNotShown;  // the text of the dialog a person would see, or null
};

TEST_F(FleetRun, EachSituationEndsWithItsCodeAndNoDialog) {
  const std::wstring installerExit = L"VSKR_INSTALLER_EXIT";
  const Situation situations[] = {
      {"installer succeeds", [](FleetRun& f) { f.AddInstaller(); }, L"", 0, nullptr},
      {"installer asks for a restart",
       [&](FleetRun& f) { f.AddInstaller(); SetEnvironmentVariableW(installerExit.c_str(), L"3010"); },
       L"/quiet", 3010, nullptr},
      {"installer cancelled",
       [&](FleetRun& f) { f.AddInstaller(); SetEnvironmentVariableW(installerExit.c_str(), L"1602"); },
       L"", 1602, nullptr},
      {"no installer", [](FleetRun&) {}, L"", ERROR_FILE_NOT_FOUND, L"No update file found."},
      {"program folder not verified",
       [](FleetRun& f) {
         f.AddInstaller();
         DeleteFileW((f.root_ + L"\\Sys2021\\VC_BaseSBCS_RD.dll").c_str());
         WriteText(f.settings_, L"[TMK-QIRO]\r\nPHI_ROOTPATH=C:\\Elsewhere\r\n");
       },
       L"", ERROR_PATH_NOT_FOUND, L"The VESKARO program path cannot be determined."},
      {"installer can't be checked (held by another program)",
       [](FleetRun& f) {
         f.AddInstaller();
         f.held_ = CreateFileW((f.update_ + L"\\qiro_upd240046_win64.exe").c_str(), GENERIC_READ, 0,
                               nullptr, OPEN_EXISTING, 0, nullptr);
       },
       L"", 577,  // ERROR_INVALID_IMAGE_HASH
       L"The update file is not signed by the publisher of this program."},
      {"installer can't start",
       [](FleetRun& f) { WriteBytes(f.update_ + L"\\qiro_upd240046_win64.exe", "not a program"); },
       L"", ERROR_BAD_EXE_FORMAT, nullptr},
      {"registration tool can't start",
       [](FleetRun& f) {
         f.AddInstaller();
         for (const wchar_t* bits : {L"Framework", L"Framework64"})
           DeleteFileW((WindowsFolder() + L"\\Microsoft.NET\\" + bits +
                        L"\\v4.0.30319\\regasm.exe").c_str());
       },
       L"", ERROR_FILE_NOT_FOUND, L"Unable to register VisioEventProcessor.dll"},
      {"package folder missing", [](FleetRun&) {}, L"INSTALL_FROM_ZIP", ERROR_FILE_NOT_FOUND, nullptr},
  };
  for (const Situation& situation : situations) {
    SCOPED_TRACE(situation.name);
    SetUp();
    SetEnvironmentVariableW(installerExit.c_str(), nullptr);
    situation.arrange(*this);
    StationRun run = RunOnInvisibleStation(L"\"" + updater_ + L"\" " + situation.arguments);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(situation.exitCode, run.exitCode);
    std::wstring log = ReadText(Log());
    if (situation.dialogNotShown) {
      EXPECT_NE(std::wstring::npos, log.find(L"dialog not shown (no one can see this window "
                                             L"station): \"" +
                                             std::wstring(situation.dialogNotShown)))
          << Narrow(log);
    }
    EXPECT_EQ(std::wstring::npos, log.find(L"dialog shown")) << Narrow(log);
    EXPECT_NE(std::wstring::npos, log.find(L"exit code " + std::to_wstring(situation.exitCode)));
    TearDown();
  }
  SetEnvironmentVariableW(installerExit.c_str(), nullptr);
}

}  // namespace
