// A whole update-mode run with stand-ins for the installer and tar: the
// archive step, the installer's command line, the wait for the installer's
// processes, and the clean-up when the installer can't be started.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "support/sandbox.h"

namespace {

using namespace testing_support;

const wchar_t kInstallerName[] = L"qiro_upd240046_win64.exe";

bool SameFolder(const std::wstring& a, const std::wstring& b) {
  return _wcsicmp(a.c_str(), b.c_str()) == 0;
}

// Calls of planted programs carry their full path as the program's name.
bool AnyPlantedProgramRan(const std::vector<StandInCall>& calls) {
  for (const StandInCall& call : calls) {
    if (call.program.find(L'\\') != std::wstring::npos) return true;
  }
  return false;
}

std::vector<StandInCall> CallsOf(const std::wstring& program) {
  std::vector<StandInCall> found;
  for (const StandInCall& call : ReadStandInLog()) {
    if (call.program == program) found.push_back(call);
  }
  return found;
}

void ExpectQuietEnd(const RunResult& run) {
  EXPECT_TRUE(run.started);
  EXPECT_FALSE(run.timedOut);
  EXPECT_TRUE(run.dialogs.empty()) << (run.dialogs.empty() ? Dialog() : run.dialogs[0]);
}

class InstallerRun : public testing::Test {
 protected:
  void SetUp() override {
    DeleteMachineKey(kProductKeyPath);
    ResetFolder(folder_);
    ResetFolder(startFolder_);
    ResetStandInLog();
    InstallStandIn(L"standin_tool.exe", SystemToolsFolder() + L"\\tar.exe");
    InstallRegistrationTool();
  }
  void TearDown() override {
    WaitUntilNoProcessNamed(kInstallerName, 15000);
    DeleteTreeNoFollow(folder_);
    DeleteTreeNoFollow(startFolder_);
    DeleteFileW(L"C:\\vskr_tests\\Upd.exe");
  }

  // The updater and the installer stand-in (64-bit unless told) in `folder`.
  void PrepareUpdate(const std::wstring& folder, bool installer64 = true) {
    updater_ = InstallUpdater(folder);
    InstallStandIn(installer64 ? L"standin_installer64.exe" : L"standin_installer32.exe",
                   folder + L"\\" + kInstallerName);
  }

  // Runs the updater with `arguments`, started from its own current folder.
  RunResult Run(const std::wstring& arguments, DWORD timeoutMs = 60000) {
    std::wstring commandLine = L"\"" + updater_ + L"\"";
    if (!arguments.empty()) commandLine += L" " + arguments;
    return RunWatched(commandLine, startFolder_, timeoutMs);
  }

  std::wstring InstallerPath() const { return folder_ + L"\\" + kInstallerName; }

  // The installer ends at once and leaves a copy of itself running for 3 s;
  // the updater ends only after that copy.
  void ExpectWaitForLeftover() {
    std::wstring done = startFolder_ + L"\\leftover done.txt";
    ScopedVariable leftover(L"VSKR_INSTALLER_LEFTOVER_MS", L"3000");
    ScopedVariable marker(L"VSKR_INSTALLER_LEFTOVER_DONE", done);
    RunResult run = Run(L"");
    ExpectQuietEnd(run);
    EXPECT_TRUE(PathExists(done)) << "the updater ended before the installer's leftover";
    EXPECT_GE(run.seconds, 3.0);
    std::vector<StandInCall> calls = CallsOf(kInstallerName);
    ASSERT_EQ(2u, calls.size());
    EXPECT_NE(std::wstring::npos, calls[1].commandLine.find(L"--leftover"));
  }

  // A blank in the path, and "C:\vskr_tests\Upd.exe" is where a program
  // would be planted.
  std::wstring folder_ = L"C:\\vskr_tests\\Upd Test";
  std::wstring startFolder_ = L"C:\\vskr_tests\\start here";
  std::wstring updater_;
};

TEST_F(InstallerRun, ArchiveIsUnpackedInTheUpdaterFolderBeforeTheInstaller) {
  PrepareUpdate(folder_);
  WriteBytes(folder_ + L"\\vskr_update.zip", "PK\x05\x06");
  RunResult run = Run(L"/quiet");
  ExpectQuietEnd(run);
  // tar, the installer, then the component registration after it.
  std::vector<StandInCall> calls = ReadStandInLog();
  ASSERT_EQ(3u, calls.size());
  EXPECT_EQ(L"regasm.exe", calls[2].program);
  EXPECT_EQ(L"tar.exe", calls[0].program);
  EXPECT_EQ(L"tar -xf vskr_update.zip", calls[0].commandLine);
  EXPECT_TRUE(SameFolder(folder_, calls[0].currentFolder)) << Narrow(calls[0].currentFolder);
  // The installer inherits the updater's current folder: the one it was
  // started in, set back after tar.
  EXPECT_EQ(kInstallerName, calls[1].program);
  EXPECT_TRUE(SameFolder(startFolder_, calls[1].currentFolder)) << Narrow(calls[1].currentFolder);
}

TEST_F(InstallerRun, WithoutArchiveTarDoesNotRun) {
  PrepareUpdate(folder_);
  RunResult run = Run(L"/quiet");
  ExpectQuietEnd(run);
  std::vector<StandInCall> calls = ReadStandInLog();
  ASSERT_EQ(2u, calls.size());  // the installer and the registration
  EXPECT_EQ(kInstallerName, calls[0].program);
  EXPECT_TRUE(SameFolder(startFolder_, calls[0].currentFolder));
}

TEST_F(InstallerRun, FolderNamedLikeTheArchiveStillRunsTar) {
  PrepareUpdate(folder_);
  CreateFolders(folder_ + L"\\vskr_update.zip");
  RunResult run = Run(L"");
  ExpectQuietEnd(run);
  ASSERT_EQ(1u, CallsOf(L"tar.exe").size());
  EXPECT_EQ(1u, CallsOf(kInstallerName).size());
}

TEST_F(InstallerRun, TarPlantedNextToTheUpdaterIsNotRun) {
  PrepareUpdate(folder_);
  WriteBytes(folder_ + L"\\vskr_update.zip", "PK\x05\x06");
  InstallStandIn(L"standin_planted.exe", folder_ + L"\\tar.exe");
  RunResult run = Run(L"");
  ExpectQuietEnd(run);
  std::vector<StandInCall> calls = ReadStandInLog();
  EXPECT_FALSE(AnyPlantedProgramRan(calls));
  ASSERT_EQ(1u, CallsOf(L"tar.exe").size());  // the system's
  EXPECT_EQ(1u, CallsOf(kInstallerName).size());
}

TEST_F(InstallerRun, InstallerGetsItsQuotedPathAndTheUpdaterCommandLine) {
  PrepareUpdate(folder_);
  RunResult empty = Run(L"");
  ExpectQuietEnd(empty);
  RunResult given = Run(L"/quiet LANG=\"de DE\"  /log:C:\\x.log");
  ExpectQuietEnd(given);
  std::vector<StandInCall> calls = CallsOf(kInstallerName);
  ASSERT_EQ(2u, calls.size());
  EXPECT_EQ(L"\"" + InstallerPath() + L"\" ", calls[0].commandLine);
  EXPECT_EQ(L"\"" + InstallerPath() + L"\" /quiet LANG=\"de DE\"  /log:C:\\x.log",
            calls[1].commandLine);
}

TEST_F(InstallerRun, ProgramAtTheBlankOfTheFolderPathNeverRuns) {
  PrepareUpdate(folder_);
  InstallStandIn(L"standin_planted.exe", L"C:\\vskr_tests\\Upd.exe");
  RunResult run = Run(L"/quiet");
  ExpectQuietEnd(run);
  std::vector<StandInCall> calls = ReadStandInLog();
  EXPECT_FALSE(AnyPlantedProgramRan(calls));
  ASSERT_EQ(2u, calls.size());  // the installer and the registration
  EXPECT_EQ(kInstallerName, calls[0].program);
}

TEST_F(InstallerRun, WaitsForA64BitLeftoverOfTheInstaller) {
  PrepareUpdate(folder_, true);
  ExpectWaitForLeftover();
}

TEST_F(InstallerRun, WaitsForA32BitLeftoverOfTheInstaller) {
  PrepareUpdate(folder_, false);
  ExpectWaitForLeftover();
}

TEST_F(InstallerRun, AnyProcessOfTheInstallerNameHoldsTheWait) {
  PrepareUpdate(folder_);
  std::wstring elsewhere = L"C:\\vskr_tests\\start here\\other\\" + std::wstring(kInstallerName);
  InstallStandIn(L"standin_installer64.exe", elsewhere);
  ScopedVariable sleep(L"VSKR_INSTALLER_SLEEP_MS", L"3000");
  RunningProgram stranger(L"\"" + elsewhere + L"\"");
  ASSERT_TRUE(stranger.Started());
  RunResult run;
  {
    ScopedVariable quick(L"VSKR_INSTALLER_SLEEP_MS", L"0");
    run = Run(L"");
  }
  ExpectQuietEnd(run);
  EXPECT_TRUE(stranger.HasEnded()) << "the updater ended while a process of the name ran";
  EXPECT_GE(run.seconds, 2.5);
}

TEST_F(InstallerRun, ProcessWhoseNameDiffersInCaseDoesNotHoldTheWait) {
  PrepareUpdate(folder_);
  std::wstring upper = L"C:\\vskr_tests\\start here\\other\\QIRO_UPD240046_WIN64.EXE";
  InstallStandIn(L"standin_installer64.exe", upper);
  auto sleep = std::make_unique<ScopedVariable>(L"VSKR_INSTALLER_SLEEP_MS", L"30000");
  RunningProgram lookalike(L"\"" + upper + L"\"");
  sleep.reset();
  ASSERT_TRUE(lookalike.Started());
  Sleep(300);
  RunResult run = Run(L"", 20000);
  ExpectQuietEnd(run);
  EXPECT_FALSE(lookalike.HasEnded());
  EXPECT_LT(run.seconds, 10.0);
}

// The installer file of the pattern is no program: the update's files go,
// the updater's folder and its other files stay.
TEST_F(InstallerRun, InstallerThatCannotStartTakesOnlyTheUpdatesFiles) {
  updater_ = InstallUpdater(folder_);
  WriteBytes(folder_ + L"\\qiro_upd7_win64.exe", "not a program");
  WriteBytes(folder_ + L"\\vskr_update.zip", "PK\x05\x06");
  WriteText(folder_ + L"\\vskr_update\\Data\\x.txt", L"x");
  WriteText(folder_ + L"\\readme.txt", L"r");
  WriteText(folder_ + L"\\sub\\read only.txt", L"r");
  SetFileAttributesW((folder_ + L"\\sub\\read only.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  InstallStandIn(L"standin_planted.exe", L"C:\\vskr_tests\\Upd.exe");
  RunResult run = Run(L"/quiet");
  ExpectQuietEnd(run);
  EXPECT_FALSE(AnyPlantedProgramRan(ReadStandInLog()));
  EXPECT_EQ(2u, CallsOf(L"tar.exe").size());  // the unpack and the listing
  for (const wchar_t* name : {L"\\qiro_upd7_win64.exe", L"\\vskr_update.zip", L"\\vskr_update"}) {
    EXPECT_FALSE(PathExists(folder_ + name)) << Narrow(name);
  }
  EXPECT_TRUE(PathExists(folder_ + L"\\readme.txt"));
  EXPECT_TRUE(PathExists(folder_ + L"\\sub\\read only.txt"));
}

TEST_F(InstallerRun, FailedStartRemovesLinksInTheFolderButNotTheirTargets) {
  const std::wstring root = LinkFixtures();
  const std::wstring folder = root + L"\\Upd Links";
  const std::wstring targets = root + L"\\targets";
  ASSERT_TRUE(IsLink(folder + L"\\shared")) << "the link fixture is missing";
  updater_ = InstallUpdater(folder);
  WriteBytes(folder + L"\\qiro_upd7_win64.exe", "not a program");
  WriteText(folder + L"\\readme.txt", L"r");
  RunResult run = Run(L"");
  ExpectQuietEnd(run);
  EXPECT_FALSE(PathExists(folder + L"\\qiro_upd7_win64.exe"));
  EXPECT_TRUE(PathExists(folder + L"\\readme.txt"));
  EXPECT_EQ(L"keep", ReadText(targets + L"\\shared\\keep.txt"));
  EXPECT_EQ(L"keep", ReadText(targets + L"\\notes.txt"));
  DeleteFileW(updater_.c_str());
}

// An updater started from a folder that is not the update's own takes only
// the update's named files with it.
class SharedFolderRun : public testing::Test {
 protected:
  void SetUp() override {
    DeleteMachineKey(kProductKeyPath);
    ResetStandInLog();
    InstallStandIn(L"standin_tool.exe", SystemToolsFolder() + L"\\tar.exe");
  }

  // `folder` without a trailing backslash ("C:" for the drive's root).
  void ExpectOnlyTheUpdatesFilesGo(const std::wstring& folder) {
    ASSERT_FALSE(folder.empty());
    CreateFolders(folder);
    auto at = [&](const std::wstring& name) { return folder + L"\\" + name; };
    std::wstring updater = InstallUpdater(folder);
    WriteBytes(at(L"qiro_upd240046_Win64.exe"), "not a program");
    WriteBytes(at(L"VSKR_UPDATE.zip"), "PK\x05\x06");
    WriteText(at(L"vskr_update\\Data\\x.txt"), L"x");
    WriteText(at(L"vskr_bystander.txt"), L"mine");
    WriteText(at(L"vskr_bystander folder\\plan.txt"), L"plan");

    RunResult run = RunWatched(L"\"" + updater + L"\" /quiet", L"C:\\");
    ExpectQuietEnd(run);
    EXPECT_FALSE(PathExists(at(L"qiro_upd240046_Win64.exe")));
    EXPECT_FALSE(PathExists(at(L"VSKR_UPDATE.zip")));
    EXPECT_FALSE(PathExists(at(L"vskr_update")));
    EXPECT_EQ(L"mine", ReadText(at(L"vskr_bystander.txt")));
    EXPECT_EQ(L"plan", ReadText(at(L"vskr_bystander folder\\plan.txt")));
    EXPECT_TRUE(PathExists(updater));
    EXPECT_TRUE(IsFolder(folder));

    DeleteFileW(updater.c_str());
    DeleteFileW(at(L"vskr_bystander.txt").c_str());
    DeleteTreeNoFollow(at(L"vskr_bystander folder"));
  }
};

TEST_F(SharedFolderRun, DesktopKeepsAllButTheUpdatesFiles) {
  ExpectOnlyTheUpdatesFilesGo(KnownFolder(FOLDERID_Desktop));
}

TEST_F(SharedFolderRun, PublicDocumentsKeepAllButTheUpdatesFiles) {
  ExpectOnlyTheUpdatesFilesGo(KnownFolder(FOLDERID_PublicDocuments));
}

TEST_F(SharedFolderRun, DriveRootKeepsAllButTheUpdatesFiles) {
  ExpectOnlyTheUpdatesFilesGo(L"C:");
  EXPECT_TRUE(IsFolder(L"C:\\windows\\system32"));
}

}  // namespace
