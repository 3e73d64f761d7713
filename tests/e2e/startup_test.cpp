// The program's start: the run mode chosen from the command line, the one
// dialog of a missing installer, the exit code.
#include <gtest/gtest.h>

#include "support/sandbox.h"

namespace {

using namespace testing_support;

const Dialog kNoUpdateFile{L"QIRO Update", L"No update file found.", false, true};

class Startup : public testing::Test {
 protected:
  void SetUp() override {
    DeleteMachineKey(kProductKeyPath);
    ResetFolder(folder_);
    ResetStandInLog();
    updater_ = InstallUpdater(folder_);
  }
  void TearDown() override { DeleteTreeNoFollow(folder_); }

  std::wstring folder_ = L"C:\\vskr_tests\\Upd Test \u00c4";
  std::wstring updater_;
};

TEST_F(Startup, NoInstallerShowsTheOneMessage) {
  std::wstring log = CommonAppData() + L"\\Quendris\\QIRO\\Logs\\vskr_updater.log";
  DeleteFileW(log.c_str());
  RunResult run = RunUpdater(updater_, L"/quiet");
  // The run log tells the search and the dialog.
  std::wstring told = ReadText(log);
  EXPECT_NE(std::wstring::npos, told.find(L"no installer qiro_upd*_win64.exe in \"" + folder_ + L"\""));
  EXPECT_NE(std::wstring::npos, told.find(L"dialog shown: \"No update file found.\""));
  ASSERT_TRUE(run.started);
  EXPECT_FALSE(run.timedOut);
  ASSERT_EQ(1u, run.dialogs.size());
  EXPECT_EQ(kNoUpdateFile, run.dialogs[0]);
  EXPECT_TRUE(ReadStandInLog().empty());
}

TEST_F(Startup, InstallerOfAnotherPatternIsNotFound) {
  WriteBytes(folder_ + L"\\qiro_upd240046_win32.exe", "MZ");
  WriteBytes(folder_ + L"\\qiro_up_win64.exe", "MZ");
  WriteBytes(folder_ + L"\\xqiro_upd1_win64.exe", "MZ");
  RunResult run = RunUpdater(updater_, L"");
  ASSERT_EQ(1u, run.dialogs.size());
  EXPECT_EQ(kNoUpdateFile, run.dialogs[0]);
}

TEST_F(Startup, PackageSwitchIsCaseSensitiveAndMayBePartOfAWord) {
  RunResult lower = RunUpdater(updater_, L"install_from_zip");
  ASSERT_EQ(1u, lower.dialogs.size());  // update mode: no installer here
  EXPECT_EQ(kNoUpdateFile, lower.dialogs[0]);

  RunResult inside = RunUpdater(updater_, L"-XINSTALL_FROM_ZIPX");
  EXPECT_FALSE(inside.timedOut);
  EXPECT_TRUE(inside.dialogs.empty());
  EXPECT_TRUE(ReadStandInLog().empty());
}

TEST_F(Startup, PackageModeWithoutProductKeyEndsQuietly) {
  RunResult run = RunUpdater(updater_, L"INSTALL_FROM_ZIP");
  EXPECT_TRUE(run.dialogs.empty());
}

}  // namespace

namespace {

// A file of the pattern counts as the installer whatever its letter case;
// this one is no program, so the update's folder is cleared quietly.
TEST_F(Startup, FoundInstallerShowsNoMessage) {
  WriteBytes(folder_ + L"\\QIRO_UPD_WIN64.EXE", "not a program");
  RunResult run = RunUpdater(updater_, L"");
  EXPECT_FALSE(run.timedOut);
  EXPECT_TRUE(run.dialogs.empty());
  EXPECT_FALSE(PathExists(folder_ + L"\\QIRO_UPD_WIN64.EXE"));
}

}  // namespace
