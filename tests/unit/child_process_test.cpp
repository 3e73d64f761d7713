// Starting children with the two profiles, finding a program by its bare
// name, and the process search across 32 and 64 bits.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "platform/child_process.h"
#include "support/sandbox.h"

namespace {

using namespace testing_support;

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

class ChildProcess : public testing::Test {
 protected:
  void SetUp() override {
    ResetFolder(folder_);
    ResetStandInLog();
  }
  void TearDown() override {
    SetCurrentDirectoryW(L"C:\\");
    DeleteTreeNoFollow(folder_);
  }

  // The installer stand-in of the given bitness, copied under `name`.
  std::wstring Probe(const std::wstring& name, bool is64 = true) {
    std::wstring path = folder_ + L"\\" + name;
    InstallStandIn(is64 ? L"standin_installer64.exe" : L"standin_installer32.exe", path);
    return path;
  }

  std::wstring folder_ = L"C:\\vskr_tests\\children";
};

TEST_F(ChildProcess, ProfilesSetTheStartupRecord) {
  std::wstring probe = Probe(L"probe.exe");
  std::wstring record = folder_ + L"\\startup.txt";
  ScopedVariable startupFile(L"VSKR_INSTALLER_STARTUP_FILE", record);

  EXPECT_EQ(0, RunAndWait(tmk_String((L"\"" + probe + L"\" hidden").c_str()),
                         LaunchProfile::HiddenTool));
  EXPECT_EQ("flags=0x101 show=0", ReadBytes(record));

  vskr::ChildProcess child;
  ASSERT_EQ(0, LaunchChild(tmk_String((L"\"" + probe + L"\" visible").c_str()),
                          LaunchProfile::VisibleProgram, child));
  ASSERT_TRUE(child.Process.IsValid());
  ASSERT_TRUE(child.Thread.IsValid());
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(child.Process.Get(), 10000));
  EXPECT_EQ("flags=0x1 show=1", ReadBytes(record));

  std::vector<StandInCall> calls = ReadStandInLog();
  ASSERT_EQ(2u, calls.size());
  EXPECT_EQ(L"\"" + probe + L"\" hidden", calls[0].commandLine);
  EXPECT_EQ(L"\"" + probe + L"\" visible", calls[1].commandLine);
}

TEST_F(ChildProcess, FailedStartLeavesTheHolderAlone) {
  vskr::ChildProcess child;
  EXPECT_NE(0, LaunchChild(tmk_String(L"\"C:\\vskr_tests\\children\\missing.exe\" x"),
                           LaunchProfile::VisibleProgram, child));
  EXPECT_NE(0, LaunchChild(tmk_String(L"vskr_no_such_tool -x"), LaunchProfile::HiddenTool, child));
  WriteBytes(folder_ + L"\\qiro_upd1_win64.exe", "not a program");
  EXPECT_NE(0, LaunchChild(tmk_String(L"\"C:\\vskr_tests\\children\\qiro_upd1_win64.exe\" "),
                           LaunchProfile::VisibleProgram, child));
  EXPECT_FALSE(child.Process.IsValid());
  EXPECT_FALSE(child.Thread.IsValid());
  EXPECT_NE(0, RunAndWait(tmk_String(L"vskr_no_such_tool"), LaunchProfile::HiddenTool));
}

TEST_F(ChildProcess, RunAndWaitWaitsAndIgnoresTheExitCode) {
  std::wstring probe = Probe(L"slow.exe", false);
  ScopedVariable sleep(L"VSKR_INSTALLER_SLEEP_MS", L"1500");
  ScopedVariable exitCode(L"VSKR_INSTALLER_EXIT", L"7");
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(0, RunAndWait(tmk_String((L"\"" + probe + L"\"").c_str()), LaunchProfile::HiddenTool));
  EXPECT_GE(SecondsSince(start), 1.4);
}

TEST_F(ChildProcess, BareNamesAreSoughtInTheCurrentAndSystemFoldersOnly) {
  InstallStandIn(L"standin_tool.exe", folder_ + L"\\vskr_probe_tool.exe");
  InstallStandIn(L"standin_tool.exe", SystemToolsFolder() + L"\\tar.exe");
  ASSERT_TRUE(SetCurrentDirectoryW(folder_.c_str()));

  tmk_String program;
  EXPECT_EQ(ProgramLookup::Found, FindChildProgram(tmk_String(L"vskr_probe_tool -x"), program));
  EXPECT_EQ(0, _wcsicmp((folder_ + L"\\vskr_probe_tool.exe").c_str(), program.Text()));
  EXPECT_EQ(ProgramLookup::Found, FindChildProgram(tmk_String(L"tar -xf vskr_update.zip"), program));
  std::wstring tar = program.Text();
  ASSERT_GT(tar.size(), 8u);
  EXPECT_EQ(0, _wcsicmp(L"\\tar.exe", tar.substr(tar.size() - 8).c_str()));
  EXPECT_EQ(std::wstring::npos, tar.find(L"vskr_tests"));

  tmk_String untouched(L"untouched");
  EXPECT_EQ(ProgramLookup::AsGiven,
            FindChildProgram(tmk_String(L"\"C:\\Upd Test\\setup.exe\" /quiet"), untouched));
  EXPECT_EQ(ProgramLookup::AsGiven, FindChildProgram(tmk_String(L"C:setup.exe"), untouched));
  EXPECT_EQ(ProgramLookup::NotFound, FindChildProgram(tmk_String(L"vskr_no_such_tool"), untouched));
  EXPECT_STREQ(L"untouched", untouched.Text());

  // The started program sees the command line exactly as given.
  EXPECT_EQ(0, RunAndWait(tmk_String(L"vskr_probe_tool  -a \"b c\""), LaunchProfile::HiddenTool));
  std::vector<StandInCall> calls = ReadStandInLog();
  ASSERT_EQ(1u, calls.size());
  EXPECT_EQ(L"vskr_probe_tool.exe", calls[0].program);
  EXPECT_EQ(L"vskr_probe_tool  -a \"b c\"", calls[0].commandLine);
  EXPECT_EQ(0, _wcsicmp(folder_.c_str(), calls[0].currentFolder.c_str()));
}

TEST_F(ChildProcess, ProcessSearchSeesBothBitnessesByExactName) {
  std::wstring probe64 = Probe(L"vskr_probe64.exe", true);
  std::wstring probe32 = Probe(L"vskr_probe32.exe", false);
  ScopedVariable sleep(L"VSKR_INSTALLER_SLEEP_MS", L"20000");
  RunningProgram running64(L"\"" + probe64 + L"\"");
  RunningProgram running32(L"\"" + probe32 + L"\"");
  ASSERT_TRUE(running64.Started());
  ASSERT_TRUE(running32.Started());
  Sleep(300);

  EXPECT_TRUE(IsProcessRunning(tmk_String(L"vskr_probe64.exe")));
  EXPECT_TRUE(IsProcessRunning(tmk_String(L"vskr_probe32.exe")));
  EXPECT_FALSE(IsProcessRunning(tmk_String(L"VSKR_PROBE64.EXE")));
  EXPECT_FALSE(IsProcessRunning(tmk_String(L"Vskr_probe64.exe")));
  EXPECT_FALSE(IsProcessRunning(tmk_String(L"vskr_probe64")));
  EXPECT_FALSE(IsProcessRunning(tmk_String(L"vskr_probe64.ex")));
  EXPECT_FALSE(IsProcessRunning(tmk_String(L"vskr_probe64.exe ")));
  EXPECT_FALSE(IsProcessRunning(tmk_String(L"")));
  EXPECT_FALSE(IsProcessRunning(tmk_String(L"<unknown>")));

  TerminateProcess(running64.Process(), 0);
  WaitForSingleObject(running64.Process(), 5000);
  EXPECT_FALSE(IsProcessRunning(tmk_String(L"vskr_probe64.exe")));
  EXPECT_TRUE(IsProcessRunning(tmk_String(L"vskr_probe32.exe")));
}

TEST_F(ChildProcess, WaitPausesFirstAndEndsWithTheLastProcessOfTheName) {
  auto start = std::chrono::steady_clock::now();
  WaitWhileProcessRunning(tmk_String(L"vskr_no_such_process.exe"));
  double alone = SecondsSince(start);
  EXPECT_GE(alone, 0.99);
  EXPECT_LT(alone, 1.5);

  std::wstring probe = Probe(L"vskr_waited.exe");
  ScopedVariable sleep(L"VSKR_INSTALLER_SLEEP_MS", L"2500");
  RunningProgram running(L"\"" + probe + L"\"");
  ASSERT_TRUE(running.Started());
  Sleep(200);
  start = std::chrono::steady_clock::now();
  WaitWhileProcessRunning(tmk_String(L"vskr_waited.exe"));
  double waited = SecondsSince(start);
  EXPECT_TRUE(running.HasEnded());
  EXPECT_GE(waited, 2.2);
  EXPECT_LT(waited, 2.3 + 1.5);
}

}  // namespace
