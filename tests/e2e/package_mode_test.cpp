// Package mode end to end: the real updater, started with "INSTALL_FROM_ZIP"
// next to an unpacked package, refreshes a sample installation whose folders
// come from the product key.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/sandbox.h"

namespace {

using namespace testing_support;

struct MapRow {
  const wchar_t* source;       // below "vskr_update\Veskaro"
  const wchar_t* destination;  // below the installation folder
};

// The installation folder holds ROOTPATH, WORK_PATH and DATA_PATH as
// "Root Ä", "Work base" and "Data base"; EXECUTABLEPATH is "Root Ä\Sys2021".
const MapRow kRows[] = {
    {L"Sys2021", L"Root \u00c4\\Sys2021"},
    {L"App", L"Root \u00c4\\App"},
    {L"app_acad_common", L"Root \u00c4\\App"},
    {L"Init", L"Root \u00c4\\Init"},
    {L"Tools", L"Root \u00c4\\Tools"},
    {L"SystemDefault", L"Root \u00c4\\SystemDefault"},
    {L"catalog", L"Work base\\Work\\catalog"},
    {L"library", L"Work base\\Work\\library"},
    {L"Config", L"Data base\\Data\\Config"},
    {L"Default", L"Data base\\Data\\Default"},
    {L"Template", L"Data base\\Data\\Template"},
    {L"Reports", L"Data base\\Data\\Reports"},
    {L"LocalCfg", L"Data base\\Data\\LocalCfg"},
};

class PackageMode : public testing::Test {
 protected:
  void SetUp() override {
    DeleteMachineKey(kProductKeyPath);
    ResetFolder(base_);
    ResetStandInLog();
    updater_ = InstallUpdater(updateFolder_);
    // An installer beside the updater: package mode must not run it.
    InstallStandIn(L"standin_tool.exe", updateFolder_ + L"\\qiro_upd240046_win64.exe");
    CreateFolders(currentFolder_);
  }
  void TearDown() override {
    DeleteTreeNoFollow(base_);
    DeleteMachineKey(kProductKeyPath);
  }

  void RegisterInstallation() {
    SetProductText(L"ROOTPATH", install_ + L"\\Root \u00c4");
    SetProductText(L"EXECUTABLEPATH", install_ + L"\\Root \u00c4\\Sys2021");
    SetProductText(L"WORK_PATH", install_ + L"\\Work base");
    SetProductText(L"DATA_PATH", install_ + L"\\Data base");
  }
  std::wstring Package(const std::wstring& relative) {
    return updateFolder_ + L"\\vskr_update\\Veskaro\\" + relative;
  }
  std::wstring Installed(const std::wstring& relative) { return install_ + L"\\" + relative; }

  // Runs the updater in package mode and checks what every run must show.
  void RunPackageMode(const std::wstring& arguments = L"INSTALL_FROM_ZIP") {
    RunResult run = RunUpdaterIn(currentFolder_, updater_, arguments);
    ASSERT_TRUE(run.started);
    EXPECT_FALSE(run.timedOut);
    EXPECT_TRUE(run.dialogs.empty()) << run.dialogs.size() << " dialogs, the first "
                                     << (run.dialogs.empty() ? Dialog() : run.dialogs[0]);
    EXPECT_TRUE(ReadStandInLog().empty());  // no child process
  }

  std::wstring base_ = L"C:\\vskr_tests\\Paket \u00c4";
  std::wstring updateFolder_ = base_ + L"\\Update \u00fc";
  std::wstring install_ = base_ + L"\\Install \u00df";
  std::wstring currentFolder_ = base_ + L"\\current";
  std::wstring updater_;
};

TEST_F(PackageMode, EveryRowReplacesInstalledFilesAndAddsNothing) {
  RegisterInstallation();
  for (const MapRow& row : kRows) {
    std::wstring source = row.source;
    WriteText(Package(source + L"\\common name.dll"), L"new from " + source);
    WriteText(Package(source + L"\\sub folder\\nested \u00fc.txt"), L"new nested " + source);
    WriteText(Package(source + L"\\package only " + source + L".txt"), L"added?");
    WriteText(Package(source + L"\\new folder\\x.txt"), L"added?");
    WriteText(Installed(row.destination) + L"\\common name.dll", L"old");
    WriteText(Installed(row.destination) + L"\\sub folder\\nested \u00fc.txt", L"old");
    WriteText(Installed(row.destination) + L"\\installed only.cfg", L"kept");
  }
  // Not on the map, or not chosen for this program folder.
  WriteText(Package(L"Sys2020\\common name.dll"), L"new from Sys2020");
  WriteText(Package(L"Unmapped\\common name.dll"), L"new from Unmapped");
  WriteText(Installed(L"Root \u00c4\\Unmapped\\common name.dll"), L"old");
  // A package file named like an installed folder.
  WriteText(Package(L"Init\\Help"), L"a file");
  WriteText(Installed(L"Root \u00c4\\Init\\Help\\index.htm"), L"help");
  // Attributes of the package file travel with the copy on Windows; the
  // hidden package file takes part in any case.
  WriteText(Package(L"Tools\\hidden tool.exe"), L"new hidden");
  SetFileAttributesW(Package(L"Tools\\hidden tool.exe").c_str(), FILE_ATTRIBUTE_HIDDEN);
  WriteText(Installed(L"Root \u00c4\\Tools\\hidden tool.exe"), L"old");
  std::vector<std::wstring> installation = TreeListing(install_);
  std::vector<std::wstring> package = TreeListing(updateFolder_);

  RunPackageMode();

  for (const MapRow& row : kRows) {
    std::wstring source = row.source;
    // Row 3 refreshes the folder of row 2 after it.
    std::wstring expected = source == L"App" ? L"app_acad_common" : source;
    EXPECT_EQ(L"new from " + expected, ReadText(Installed(row.destination) + L"\\common name.dll"))
        << Narrow(source);
    EXPECT_EQ(L"new nested " + expected,
              ReadText(Installed(row.destination) + L"\\sub folder\\nested \u00fc.txt"))
        << Narrow(source);
    EXPECT_EQ(L"kept", ReadText(Installed(row.destination) + L"\\installed only.cfg"));
  }
  EXPECT_EQ(L"old", ReadText(Installed(L"Root \u00c4\\Unmapped\\common name.dll")));
  EXPECT_TRUE(IsFolder(Installed(L"Root \u00c4\\Init\\Help")));
  EXPECT_EQ(L"help", ReadText(Installed(L"Root \u00c4\\Init\\Help\\index.htm")));
  EXPECT_EQ(L"new hidden", ReadText(Installed(L"Root \u00c4\\Tools\\hidden tool.exe")));
  EXPECT_EQ(installation, TreeListing(install_));  // nothing added, nothing removed
  EXPECT_EQ(package, TreeListing(updateFolder_));  // the package stays in place
}

TEST_F(PackageMode, FailedCopyStopsItsRowButNotTheNext) {
  RegisterInstallation();
  for (int i = 0; i < 5; ++i) {
    std::wstring name = L"init" + std::to_wstring(i) + L".ini";
    WriteText(Package(L"Init\\" + name), L"new");
    WriteText(Installed(L"Root \u00c4\\Init\\" + name), L"old");
  }
  WriteText(Package(L"App\\menu.cfg"), L"new");
  WriteText(Installed(L"Root \u00c4\\App\\menu.cfg"), L"old");
  WriteText(Package(L"Tools\\tool.exe"), L"new");
  WriteText(Installed(L"Root \u00c4\\Tools\\tool.exe"), L"old");
  WriteText(Package(L"LocalCfg\\Modules.ini"), L"new");
  WriteText(Installed(L"Data base\\Data\\LocalCfg\\Modules.ini"), L"old");
  std::vector<std::wstring> order = EnumerationOrder(Package(L"Init"));
  ASSERT_EQ(5u, order.size());
  const size_t blocked = 2;
  HANDLE hold = HoldWithoutWriteSharing(Installed(L"Root \u00c4\\Init\\" + order[blocked]));
  ASSERT_NE(INVALID_HANDLE_VALUE, hold);
  std::wstring log = CommonAppData() + L"\\Quendris\\QIRO\\Logs\\vskr_updater.log";
  DeleteFileW(log.c_str());

  RunPackageMode();
  CloseHandle(hold);

  // The run log tells each row and names the failed copy's error.
  std::wstring told = ReadText(log);
  EXPECT_NE(std::wstring::npos, told.find(L"mode: package (INSTALL_FROM_ZIP)"));
  EXPECT_NE(std::wstring::npos,
            told.find(L"replacing an installed file failed for \"" +
                      Installed(L"Root \u00c4\\Init\\" + order[blocked]) + L"\" from \""));
  EXPECT_NE(std::wstring::npos, told.find(L"\": error 32 ("));
  EXPECT_NE(std::wstring::npos,
            told.find(L"package row 2: \"" + updateFolder_ + L"\\vskr_update\\Veskaro\\App\" -> \"" +
                      Installed(L"Root \u00c4\\App") + L"\": 1 files replaced\r\n"));
  EXPECT_NE(std::wstring::npos,
            told.find(L"package row 4: \"" + updateFolder_ + L"\\vskr_update\\Veskaro\\Init\" -> \"" +
                      Installed(L"Root \u00c4\\Init") + L"\": 2 files replaced, stopped at a failed copy"));
  EXPECT_NE(std::wstring::npos, told.find(L"package row 13: "));

  for (size_t i = 0; i < order.size(); ++i) {
    EXPECT_EQ(i < blocked ? L"new" : L"old", ReadText(Installed(L"Root \u00c4\\Init\\" + order[i])))
        << "entry " << i << " of Init";
  }
  EXPECT_EQ(L"new", ReadText(Installed(L"Root \u00c4\\App\\menu.cfg")));
  EXPECT_EQ(L"new", ReadText(Installed(L"Root \u00c4\\Tools\\tool.exe")));
  EXPECT_EQ(L"new", ReadText(Installed(L"Data base\\Data\\LocalCfg\\Modules.ini")));
}

TEST_F(PackageMode, NoPackageChangesNothing) {
  RegisterInstallation();
  WriteText(Installed(L"Root \u00c4\\App\\menu.cfg"), L"old");
  std::vector<std::wstring> installation = TreeListing(install_);
  RunPackageMode();
  EXPECT_EQ(installation, TreeListing(install_));
  EXPECT_EQ(L"old", ReadText(Installed(L"Root \u00c4\\App\\menu.cfg")));
}

TEST_F(PackageMode, SwitchInsideAWordSelectsTheModeLowerCaseDoesNot) {
  RegisterInstallation();
  WriteText(Package(L"App\\menu.cfg"), L"new");
  WriteText(Installed(L"Root \u00c4\\App\\menu.cfg"), L"old");

  RunResult lower = RunUpdaterIn(currentFolder_, updater_, L"install_from_zip");
  EXPECT_EQ(L"old", ReadText(Installed(L"Root \u00c4\\App\\menu.cfg")));

  ResetStandInLog();
  RunPackageMode(L"/S XINSTALL_FROM_ZIPX");
  EXPECT_EQ(L"new", ReadText(Installed(L"Root \u00c4\\App\\menu.cfg")));
}

// Row 1 is refreshed from "Sys2020" or "Sys2021" by the program folder's
// path; a relative path is no installation folder: the row is skipped.
TEST_F(PackageMode, ProgramFolderSourceFollowsThe2020Rule) {
  WriteText(Package(L"Sys2020\\prog.dll"), L"from Sys2020");
  WriteText(Package(L"Sys2021\\prog.dll"), L"from Sys2021");
  struct Case {
    std::wstring executablePath;
    std::wstring folder;  // where that path leads
    const wchar_t* expected;
  };
  const Case cases[] = {
      {install_ + L"\\Sys2020", install_ + L"\\Sys2020", L"from Sys2020"},
      {install_ + L"\\Sys2021", install_ + L"\\Sys2021", L"from Sys2021"},
      {L"2020\\Sys2020", currentFolder_ + L"\\2020\\Sys2020", L"old"},
      {L"S2020xy", currentFolder_ + L"\\S2020xy", L"old"},
  };
  for (const Case& c : cases) {
    SetProductText(L"EXECUTABLEPATH", c.executablePath);
    WriteText(c.folder + L"\\prog.dll", L"old");
    RunPackageMode();
    EXPECT_EQ(c.expected, ReadText(c.folder + L"\\prog.dll")) << Narrow(c.executablePath);
  }
}

// The package's App folder and the installation's each hold a link to
// themselves and one to the folder above. A walk that followed them would
// never end.
TEST(PackageModeLinks, FolderLinkLoopInThePackageIsNotFollowed) {
  DeleteMachineKey(kProductKeyPath);
  ResetStandInLog();
  const std::wstring root = PackageLinkFixtures() + L"\\run";
  const std::wstring app = root + L"\\Update\\vskr_update\\Veskaro\\App";
  for (const std::wstring& link : {app + L"\\self", app + L"\\up", root + L"\\Install\\App\\up"}) {
    ASSERT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT),
              Attributes(link) & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
        << Narrow(link) << ": the link fixture is missing";
  }
  SetProductText(L"ROOTPATH", root + L"\\Install");
  WriteText(app + L"\\menu.cfg", L"new");
  WriteText(root + L"\\Install\\App\\menu.cfg", L"old");
  WriteText(root + L"\\Update\\vskr_update\\Veskaro\\Init\\init.ini", L"new");
  WriteText(root + L"\\Install\\Init\\init.ini", L"old");
  std::wstring updater = InstallUpdater(root + L"\\Update");

  RunResult run = RunUpdater(updater, L"INSTALL_FROM_ZIP", 30000);
  EXPECT_FALSE(run.timedOut);
  EXPECT_TRUE(run.dialogs.empty());
  EXPECT_EQ(L"new", ReadText(root + L"\\Install\\App\\menu.cfg"));
  EXPECT_EQ(L"new", ReadText(root + L"\\Install\\Init\\init.ini"));
  DeleteMachineKey(kProductKeyPath);
}

}  // namespace
