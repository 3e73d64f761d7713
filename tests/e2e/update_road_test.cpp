// The whole update road on a sample installation: preparation, the
// installer (a stand-in that changes what real installers change), the
// registration and the restoration afterwards.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/sandbox.h"

namespace {

using namespace testing_support;

const wchar_t kVersantDbid[] = L"VERSANT_DBID";
const wchar_t kVersantDb[] = L"VERSANT_DB";
const wchar_t kVersantNode[] = L"VERSANT_DBID_NODE";

class UpdateRoad : public testing::Test {
 protected:
  void SetUp() override {
    ResetFolder(base_);
    ResetFolder(update_);
    ResetStandInLog();
    DeleteMachineKey(kProductKeyPath);
    SetProductText(L"ROOTPATH", root_);
    SetProductText(L"EXECUTABLEPATH", root_ + L"\\Sys2021");
    SetProductText(L"DATA_PATH", data_);
    SetProductText(L"PHI_LANGUAGE", L"German");
    WriteBytes(root_ + L"\\Sys2021\\VC_BaseSBCS_RD.dll", "library");
    WriteBytes(Modules(), "[Modules]\r\nPiping=1\r\n");
    settings_ = CommonAppData() + L"\\Quendris\\QIRO\\Settings\\qiro.ini";
    savedSettings_ = ReadBytes(settings_);
    WriteUtf16Text(settings_, L"[TMK-QIRO]\r\nPHI_ROOTPATH=" + root_ + L"\r\nPHI_LANGUAGE=German\r\n");
    for (const wchar_t* name : {kVersantDbid, kVersantDb, kVersantNode})
      DeleteMachineValue(kEnvironmentKeyPath, name);
    SetMachineText(kEnvironmentKeyPath, kVersantDbid, L"%SystemDrive%\\VeskaroDb", REG_EXPAND_SZ);
    SetMachineText(kEnvironmentKeyPath, kVersantDb, L"C:\\Db \u00c4");

    InstallStandIn(L"standin_tool.exe", SystemToolsFolder() + L"\\tar.exe");
    InstallStandIn(L"standin_tool.exe", SystemToolsFolder() + L"\\net.exe");
    InstallRegistrationTool();
    installer_ = update_ + L"\\qiro_upd240046_win64.exe";
    InstallStandIn(L"standin_installer64.exe", installer_);
    updater_ = InstallUpdater(update_);
    SetEnvironmentVariableW(L"VSKR_INSTALLER_ACTIONS", actions_.c_str());
    DeleteFileW(actions_.c_str());
  }

  void TearDown() override {
    SetEnvironmentVariableW(L"VSKR_INSTALLER_ACTIONS", nullptr);
    SetEnvironmentVariableW(L"VSKR_INSTALLER_LEFTOVER_MS", nullptr);
    for (const wchar_t* name : {kVersantDbid, kVersantDb, kVersantNode})
      DeleteMachineValue(kEnvironmentKeyPath, name);
    DeleteMachineKey(kProductKeyPath);
    WriteBytes(settings_, savedSettings_);
    DeleteFileW((settings_ + L".upd").c_str());
    DeleteTreeNoFollow(base_);
    DeleteTreeNoFollow(update_);
  }

  std::wstring Modules() const { return data_ + L"\\Data\\LocalCfg\\Modules.ini"; }

  void InstallerDoes(const std::wstring& actions) { WriteText(actions_, actions); }

  std::wstring Setting(const wchar_t* key) const {
    wchar_t buffer[512] = {0};
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, settings_.c_str());  // no cached copy
    GetPrivateProfileStringW(L"TMK-QIRO", key, L"(missing)", buffer, 512, settings_.c_str());
    return buffer;
  }

  std::vector<std::wstring> ProgramsStarted() const {
    std::vector<std::wstring> programs;
    for (const StandInCall& call : ReadStandInLog()) programs.push_back(call.program);
    return programs;
  }

  std::wstring base_ = L"C:\\vskr_tests\\road \u00e4";
  std::wstring root_ = base_ + L"\\Program Files\\Veskaro";
  std::wstring data_ = base_ + L"\\Veskaro Data";
  std::wstring update_ = L"C:\\vskr_tests\\Update 24";
  std::wstring actions_ = L"C:\\vskr_tests\\installer_actions.txt";
  std::wstring settings_;
  std::string savedSettings_;
  std::wstring installer_;
  std::wstring updater_;
};

TEST_F(UpdateRoad, ConfigurationOutlastsTheInstaller) {
  std::wstring newRoot = L"C:\\Program Files\\Veskaro 2024";
  InstallerDoes(L"file " + Modules() + L"=[Modules]\r\nPiping=0\r\n" +
                L"\nini TMK-QIRO|PHI_LANGUAGE=English" +
                L"\nini TMK-QIRO|PHI_ROOTPATH=" + newRoot +
                L"\nreg PHI_LANGUAGE=English" +
                L"\nenv VERSANT_DBID=installer-db" +
                L"\nenv VERSANT_DB=" +
                L"\nenv VERSANT_DBID_NODE=node9\n");
  SetEnvironmentVariableW(L"VSKR_INSTALLER_LEFTOVER_MS", L"1500");
  RunResult run = RunUpdater(updater_, L"-s");
  ASSERT_TRUE(run.started);
  EXPECT_FALSE(run.timedOut);
  EXPECT_TRUE(run.dialogs.empty());

  EXPECT_EQ("[Modules]\r\nPiping=1\r\n", ReadBytes(Modules()));
  EXPECT_EQ(L"German", Setting(L"PHI_LANGUAGE"));
  EXPECT_EQ(root_, Setting(L"PHI_ROOTPATH"));
  EXPECT_FALSE(PathExists(Modules() + L".upd"));
  EXPECT_FALSE(PathExists(settings_ + L".upd"));
  EXPECT_EQ(L"German", ReadMachineValue(kProductKeyPath, L"PHI_LANGUAGE").Units());

  RegistryValue dbid = ReadMachineValue(kEnvironmentKeyPath, kVersantDbid);
  EXPECT_EQ(L"%SystemDrive%\\VeskaroDb", dbid.Units());
  EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), dbid.type);
  RegistryValue db = ReadMachineValue(kEnvironmentKeyPath, kVersantDb);
  EXPECT_EQ(L"C:\\Db \u00c4", db.Units());
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), db.type);
  // Not set before the update: what the installer made of it stays.
  EXPECT_EQ(L"node9", ReadMachineValue(kEnvironmentKeyPath, kVersantNode).Text());

  std::vector<StandInCall> calls = ReadStandInLog();
  ASSERT_GE(calls.size(), 3u);
  const StandInCall& regasm = calls.back();
  EXPECT_EQ(L"regasm.exe", regasm.program);
  EXPECT_EQ(L"\"" + WindowsFolder() +
                L"\\Microsoft.NET\\Framework64\\v4.0.30319\\regasm.exe\" \"" + newRoot +
                L"\\VisioEventProcessor.dll\" /codebase",
            regasm.commandLine);
  EXPECT_EQ(WindowsFolder() + L"\\Microsoft.NET\\Framework64\\v4.0.30319", regasm.currentFolder);
  // The leftover copy of the installer had ended before the registration.
  EXPECT_EQ(L"qiro_upd240046_win64.exe:end", calls[calls.size() - 2].program);
}

TEST_F(UpdateRoad, CaseOnlyDifferencesAndUnchangedVariablesAreNotWritten) {
  InstallerDoes(L"env VERSANT_DB=c:\\db \u00c4\n");  // only A-Z fold: Ä differs from ä
  RunResult run = RunUpdater(updater_, L"");
  // "c:\db Ä" equals "C:\Db Ä" but for the letters A to Z: left as it is.
  EXPECT_EQ(L"c:\\db \u00c4", ReadMachineValue(kEnvironmentKeyPath, kVersantDb).Text());
}

TEST_F(UpdateRoad, FailedPreparationChangesNothing) {
  DeleteFileW((root_ + L"\\Sys2021\\VC_BaseSBCS_RD.dll").c_str());
  WriteUtf16Text(settings_, L"[TMK-QIRO]\r\nPHI_ROOTPATH=D:\\Elsewhere\r\nPHI_LANGUAGE=German\r\n");
  WriteBytes(root_ + L"\\Sys2021\\RuZaduvAveded.exe", "engine");
  std::string settingsBefore = ReadBytes(settings_);
  RunResult run = RunUpdater(updater_, L"");
  ASSERT_EQ(1u, run.dialogs.size());
  EXPECT_EQ(L"Error", run.dialogs[0].caption);
  EXPECT_EQ(L"The VESKARO program path cannot be determined. Please contact your administrator "
            L"or the VESKARO hotline.",
            run.dialogs[0].text);
  EXPECT_FALSE(run.dialogs[0].hasIcon);
  EXPECT_TRUE(ReadStandInLog().empty());
  EXPECT_FALSE(PathExists(Modules() + L".upd"));
  EXPECT_FALSE(PathExists(settings_ + L".upd"));
  EXPECT_EQ(settingsBefore, ReadBytes(settings_));
  EXPECT_TRUE(PathExists(installer_));
}

TEST_F(UpdateRoad, IndexServiceIsStoppedOnlyWhereItsEngineIs) {
  RunResult without = RunUpdater(updater_, L"");
  EXPECT_EQ((std::vector<std::wstring>{L"qiro_upd240046_win64.exe", L"regasm.exe"}),
            ProgramsStarted());

  WriteBytes(root_ + L"\\Sys2021\\RuZaduvAveded.exe", "engine");
  ResetStandInLog();
  RunResult with = RunUpdater(updater_, L"");
  // The stop is not waited for: it may log before or after the installer.
  std::vector<StandInCall> calls = ReadStandInLog();
  ASSERT_EQ(3u, calls.size());
  int stops = 0;
  for (const StandInCall& call : calls) {
    if (call.program != L"net.exe") continue;
    ++stops;
    EXPECT_EQ(L"net stop \"VIDUVIR Ezaze Dudevo\"", call.commandLine);
  }
  EXPECT_EQ(1, stops);
  EXPECT_EQ(L"regasm.exe", calls.back().program);
  EXPECT_TRUE(with.dialogs.empty());
}

TEST_F(UpdateRoad, InstallerThatCannotStartRestoresAndSkipsRegistration) {
  WriteBytes(installer_, "this is no program");
  SetProductText(L"Linked_ACAD_Id", L"1004");
  WriteUtf16Text(settings_, L"[TMK-QIRO]\r\nPHI_ROOTPATH=" + root_ +
                           L"\r\nPHI_LANGUAGE=English\r\nPHI_DWGEDITORARGUMENT=/nologo 0\r\n");
  RunResult run = RunUpdater(updater_, L"");
  EXPECT_TRUE(run.dialogs.empty());
  EXPECT_TRUE(ReadStandInLog().empty());  // no installer, no registration
  // The settings file as the preparation left it, restored from its copy.
  EXPECT_EQ(L"/nologo /product ACA", Setting(L"PHI_DWGEDITORARGUMENT"));
  EXPECT_FALSE(PathExists(settings_ + L".upd"));
  EXPECT_FALSE(PathExists(Modules() + L".upd"));
  EXPECT_EQ(L"English", ReadMachineValue(kProductKeyPath, L"PHI_LANGUAGE").Units());
  EXPECT_FALSE(PathExists(installer_));  // the update's own files are gone
}

TEST_F(UpdateRoad, BackupWhoseCopyBackFailsIsKept) {
  // The installer leaves a folder where the module file was: the copy back
  // fails, and the backup copy is the only copy of the configuration left.
  InstallerDoes(L"delete " + Modules() + L"\nmkdir " + Modules() + L"\n");
  RunResult run = RunUpdater(updater_, L"");
  EXPECT_EQ("[Modules]\r\nPiping=1\r\n", ReadBytes(Modules() + L".upd"));
  EXPECT_FALSE(PathExists(settings_ + L".upd"));
}

TEST_F(UpdateRoad, DataFolderMovedByTheInstallerLeavesTheOldBackup) {
  std::wstring moved = base_ + L"\\Moved Data";
  WriteBytes(moved + L"\\Data\\LocalCfg\\Modules.ini", "installer's own");
  InstallerDoes(L"reg DATA_PATH=" + moved + L"\n");
  RunResult run = RunUpdater(updater_, L"");
  EXPECT_EQ("installer's own", ReadBytes(moved + L"\\Data\\LocalCfg\\Modules.ini"));
  EXPECT_EQ("[Modules]\r\nPiping=1\r\n", ReadBytes(Modules() + L".upd"));
}

TEST_F(UpdateRoad, MissingLanguageWritesNoLanguage) {
  WriteUtf16Text(settings_, L"[TMK-QIRO]\r\nPHI_ROOTPATH=" + root_ + L"\r\n");
  InstallerDoes(L"reg PHI_LANGUAGE=Russian\n");
  RunResult run = RunUpdater(updater_, L"");
  EXPECT_EQ(L"Russian", ReadMachineValue(kProductKeyPath, L"PHI_LANGUAGE").Text());
}

}  // namespace

// The run log of an update: one block a run, each step with its values.
namespace {

std::wstring LogFolder() { return CommonAppData() + L"\\Quendris\\QIRO\\Logs"; }
std::wstring LogFile() { return LogFolder() + L"\\vskr_updater.log"; }

// The position of the first line of `text` that contains `part`, searched
// from `from`; npos when none does.
size_t Find(const std::wstring& text, const std::wstring& part, size_t from = 0) {
  return text.find(part, from);
}

// Expects the parts in this order in `text`.
void ExpectInOrder(const std::wstring& text, const std::vector<std::wstring>& parts) {
  size_t at = 0;
  for (const std::wstring& part : parts) {
    size_t found = Find(text, part, at);
    ASSERT_NE(std::wstring::npos, found) << "missing after position " << at << ": "
                                         << Narrow(part) << "\n--- log:\n" << Narrow(text);
    at = found + part.size();
  }
}

TEST_F(UpdateRoad, LogTellsEachStepWithItsValues) {
  DeleteTreeNoFollow(LogFolder());
  SetProductText(L"Linked_ACAD_Id", L"1004");
  SetProductText(L"Linked_ACAD_Product", L"0");
  WriteUtf16Text(settings_, L"[TMK-QIRO]\r\nPHI_ROOTPATH=" + root_ +
                                L"\r\nPHI_LANGUAGE=German\r\nPHI_DWGEDITORARGUMENT=/nologo 0\r\n");
  InstallerDoes(L"env VERSANT_DB=\nreg PHI_LANGUAGE=English\n");
  ScopedVariable exitCode(L"VSKR_INSTALLER_EXIT", L"7");
  RunResult run = RunUpdater(updater_, L"-s /x");
  EXPECT_EQ(7u, run.exitCode);
  EXPECT_TRUE(run.dialogs.empty());
  std::wstring log = ReadText(LogFile());
  ExpectInOrder(log, {
      L" vskr_updater 1.0.0.0 ====",
      L"program: \"" + updater_ + L"\"",
      L"command line: -s /x",
      L"mode: update",
      L"installer found: \"" + installer_ + L"\"",
      L"registry value Linked_ACAD_Product written: \"/product ACA\" (was \"0\")",
      L"settings key [TMK-QIRO] PHI_DWGEDITORARGUMENT written: \"/nologo /product ACA\" (was "
      L"\"/nologo 0\")",
      L"language of the settings file: \"German\"",
      L"backup copy made: \"" + Modules() + L".upd\"",
      L"backup copy made: \"" + settings_ + L".upd\"",
      L"environment variable VERSANT_DBID saved: \"%SystemDrive%\\VeskaroDb\" (REG_EXPAND_SZ)",
      L"environment variable VERSANT_DB saved: \"C:\\Db \u00c4\" (REG_SZ)",
      L"environment variable VERSANT_DBID_NODE is not set",
      L"program started: \"" + installer_ + L"\" -s /x",
      L"program ended with exit code 7: \"" + installer_ + L"\" -s /x",
      L"waited ",
      L"environment variable VERSANT_DB changed by the installer to \"\": written back",
      L"system environment variable VERSANT_DB written: \"C:\\Db \u00c4\" (REG_SZ)",
      L"registry value PHI_LANGUAGE written: \"German\" (was \"English\")",
      L"restored from its backup copy: \"" + Modules() + L"\"",
      L"restored from its backup copy: \"" + settings_ + L"\"",
      L"program started: \"" + WindowsFolder() + L"\\Microsoft.NET\\Framework64",
      L"program ended with exit code 0: \"" + WindowsFolder(),
      L"==== the run took ",
  });
}

TEST_F(UpdateRoad, LogNamesTheErrorOfAFailedCopy) {
  DeleteTreeNoFollow(LogFolder());
  InstallerDoes(L"delete " + Modules() + L"\nmkdir " + Modules() + L"\n");
  RunResult run = RunUpdater(updater_, L"");
  EXPECT_NE(0u, run.exitCode);  // the copy-back's error
  std::wstring log = ReadText(LogFile());
  ExpectInOrder(log, {L"restoring the backup copy (kept) failed for \"" + Modules() +
                          L".upd\" to \"" + Modules() + L"\": error ",
                      L"restored from its backup copy: \"" + settings_ + L"\""});
}

TEST_F(UpdateRoad, LogIsKeptToOneOldGeneration) {
  DeleteTreeNoFollow(LogFolder());
  WriteBytes(LogFile(), std::string(1100 * 1024, 'o'));
  RunResult run = RunUpdater(updater_, L"");
  EXPECT_EQ(1100u * 1024, ReadBytes(LogFolder() + L"\\vskr_updater.old.log").size());
  std::string fresh = ReadBytes(LogFile());
  EXPECT_LT(fresh.size(), 20000u);
  EXPECT_NE(std::string::npos, fresh.find("mode: update"));
}

TEST_F(UpdateRoad, LogFolderLinkIsNotWrittenThroughAndTheRunStillWorks) {
  DeleteTreeNoFollow(LogFolder());
  std::wstring elsewhere = base_ + L"\\not the log folder";
  CreateFolders(elsewhere);
  CreateFolders(CommonAppData() + L"\\Quendris\\QIRO");
  ASSERT_TRUE(MakeLink(LogFolder(), elsewhere));
  InstallerDoes(L"file " + Modules() + L"=changed\n");
  RunResult run = RunUpdater(updater_, L"");
  DeleteTreeNoFollow(LogFolder());  // the link itself
  EXPECT_TRUE(run.dialogs.empty());
  EXPECT_FALSE(PathExists(elsewhere + L"\\vskr_updater.log"));
  EXPECT_EQ("[Modules]\r\nPiping=1\r\n", ReadBytes(Modules()));
  EXPECT_EQ(2u, ReadStandInLog().size());  // the installer and the registration
}

}  // namespace
