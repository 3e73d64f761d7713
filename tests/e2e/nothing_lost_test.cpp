// The administrator's configuration (Modules.ini, the settings file, the
// product key's values, the database variables) survives the faults that
// real workstations meet, and nothing but the update's own files goes. The
// installer stand-in does the damage; each fault is a row.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "support/sandbox.h"

namespace {

using namespace testing_support;
using Names = std::vector<std::wstring>;

const wchar_t kInstaller[] = L"qiro_upd240046_win64.exe";
const Dialog kNotSaved{L"QIRO Update",
                       L"The configuration could not be saved. The update was not started.", false,
                       true};

// The names matching `pattern` ("." and ".." left out).
Names Find(const std::wstring& pattern) {
  Names names;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(pattern.c_str(), &found);
  for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found))
    if (found.cFileName[0] != L'.') names.push_back(found.cFileName);
  if (search != INVALID_HANDLE_VALUE) FindClose(search);
  return names;
}

class NothingLost : public testing::Test {
 protected:
  void SetUp() override {
    InstallStandIn(L"standin_tool.exe", SystemToolsFolder() + L"\\tar.exe");
    InstallRegistrationTool();
    savedSettings_ = ReadBytes(settings_);
  }
  void TearDown() override {
    Reset();
    DeleteMachineKey(kProductKeyPath);
    WriteBytes(settings_, savedSettings_);
    SetEnvironmentVariableW(L"VSKR_INSTALLER_ACTIONS", nullptr);
  }

  void Reset() {
    if (!mounted_.empty()) RunUnixTool(L"umount \\\"$1\\\"", {mounted_});
    mounted_.clear();
    SetEnvironmentVariableW(L"VSKR_INSTALLER_LEFTOVER_MS", nullptr);
    SetEnvironmentVariableW(L"VSKR_INSTALLER_EXIT", nullptr);
    for (const wchar_t* folder : {L"\\Journal", L"\\Logs"})
      DeleteTreeNoFollow(CommonAppData() + L"\\Quendris\\QIRO" + folder);
    DeleteTreeNoFollow(L"C:\\vskr_tests\\nothing lost");
    const std::wstring settingsFolder = CommonAppData() + L"\\Quendris\\QIRO\\Settings\\";
    for (const std::wstring& name : Find(settingsFolder + L"qiro.ini.upd*"))
      DeleteFileW((settingsFolder + name).c_str());
    for (const wchar_t* name : {L"VERSANT_DBID", L"VERSANT_DB", L"VERSANT_DBID_NODE"})
      DeleteMachineValue(kEnvironmentKeyPath, name);
  }

  // A fresh installation with an update next to it.
  void Install() {
    Reset();
    ResetStandInLog();
    DeleteMachineKey(kProductKeyPath);
    const std::pair<const wchar_t*, std::wstring> values[] = {
        {L"ROOTPATH", root_}, {L"EXECUTABLEPATH", root_ + L"\\Sys2021"}, {L"DATA_PATH", data_},
        {L"WORK_PATH", base_ + L"\\Work"}, {L"PHI_LANGUAGE", L"German"},
        {L"Linked_ACAD_Id", L"1004"}, {L"Linked_ACAD_Product", L"/product ACA"}};
    for (const auto& [name, value] : values) SetProductText(name, value);
    WriteBytes(root_ + L"\\Sys2021\\VC_BaseSBCS_RD.dll", "library");
    WriteBytes(root_ + L"\\other setup.exe", "another product's");
    WriteBytes(Modules(), "[Modules]\r\nPiping=1\r\n");
    WriteUtf16Text(settings_, Section() + L"\r\n");
    SetMachineText(kEnvironmentKeyPath, L"VERSANT_DBID", L"%SystemDrive%\\Db", REG_EXPAND_SZ);
    SetMachineText(kEnvironmentKeyPath, L"VERSANT_DB", L"C:\\Db \u00c4");
    InstallStandIn(L"standin_installer64.exe", update_ + L"\\" + kInstaller);
    InstallUpdater(update_);
    SetEnvironmentVariableW(L"VSKR_INSTALLER_ACTIONS", actions_.c_str());
  }

  RunResult Run(const std::wstring& actions, const std::wstring& arguments = L"/quiet",
                const std::wstring& folder = L"") {
    WriteText(actions_, actions);
    return RunUpdater((folder.empty() ? update_ : folder) + L"\\vskr_updater.exe", arguments);
  }

  // The installation's entries (backup copies aside), files with their
  // bytes, then the values, as one text to compare.
  std::string Configuration(const std::wstring& folder) {
    std::string text;
    for (const std::wstring& name : Find(folder + L"\\*")) {
      const std::wstring path = folder + L"\\" + name;
      if (name.find(L".upd") == std::wstring::npos)
        text += Narrow(path) + ": " + ReadBytes(path) + "\n" + Configuration(path);
    }
    return text;
  }
  std::string Configuration() {
    std::string text = Configuration(base_) + "qiro.ini: " + ReadBytes(settings_) + "\n";
    for (const wchar_t* name : {L"PHI_LANGUAGE", L"Linked_ACAD_Product", L"DATABASE_PATH"})
      text += Narrow(name) + "=" + Narrow(ReadMachineValue(kProductKeyPath, name).Text()) + "\n";
    for (const wchar_t* name : {L"VERSANT_DBID", L"VERSANT_DB", L"VERSANT_DBID_NODE"}) {
      RegistryValue value = ReadMachineValue(kEnvironmentKeyPath, name);
      text += Narrow(name) + "=" + std::to_string(value.type) + " " + Narrow(value.Text()) + "\n";
    }
    return text;
  }

  std::wstring Log() {
    return ReadText(CommonAppData() + L"\\Quendris\\QIRO\\Logs\\vskr_updater.log");
  }
  std::wstring Section() const {
    return L"[TMK-QIRO]\r\nPHI_ROOTPATH=" + root_ + L"\r\nPHI_LANGUAGE=German";
  }
  std::wstring Modules() const { return data_ + L"\\Data\\LocalCfg\\Modules.ini"; }
  // The installer's action that leaves a helper holding `path` for 3 s.
  std::wstring Hold(const std::wstring& path) const {
    return L"hold " + path + L"=\"" + BuildBin() + L"\\standin_tool.exe\" 3000 sleep\n";
  }
  // Waits until nobody holds `path` any more (10 s at most).
  static void WaitUntilFree(const std::wstring& path) {
    for (int i = 0; i < 100; ++i, Sleep(100)) {
      HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
      if (file != INVALID_HANDLE_VALUE) return (void)CloseHandle(file);
    }
  }
  // The journals' folders, and how many of them hold a record.
  std::pair<size_t, size_t> Journals() const {
    const std::wstring root = CommonAppData() + L"\\Quendris\\QIRO\\Journal\\";
    Names folders = Find(root + L"2*");
    size_t records = 0;
    for (const std::wstring& name : folders) records += PathExists(root + name + L"\\run.ini");
    return {folders.size(), records};
  }

  const std::wstring base_ = L"C:\\vskr_tests\\nothing lost\\Veskaro";
  const std::wstring root_ = base_ + L"\\Program Files";
  const std::wstring data_ = base_ + L"\\Data \u00e4";
  const std::wstring update_ = L"C:\\vskr_tests\\nothing lost\\Update 24";
  const std::wstring actions_ = L"C:\\vskr_tests\\nothing lost\\actions.txt";
  const std::wstring settings_ = CommonAppData() + L"\\Quendris\\QIRO\\Settings\\qiro.ini";
  const std::wstring damage_ = L"file " + Modules() + L"=the installer's\n"
                               L"ini TMK-QIRO|PHI_LANGUAGE=English\nenv VERSANT_DB=installer-db\n";
  std::string savedSettings_;
  std::wstring mounted_;
};

TEST_F(NothingLost, UpdateRunsEndWithTheOriginalConfiguration) {
  const std::wstring secondExit = L"C:\\vskr_tests\\nothing lost\\second.txt";
  const std::wstring stale = Modules() + L".upd";
  const std::wstring qiro = CommonAppData() + L"\\Quendris\\QIRO";
  const std::wstring ended = damage_ + L"end-parent\n";
  HANDLE held = INVALID_HANDLE_VALUE;
  const auto nothing = [](size_t) {};
  // A record of an ended run, as this program writes it.
  const auto endedRecord = [](int sequence) {
    return L"[run]\r\nformat=2\r\nid=x\r\nsequence=" + std::to_wstring(sequence) +
           L"\r\nstarted=\r\nprocess=1\r\nmode=update\r\nprogram=\r\nstate=ended\r\nnote=\r\n"
           L"phase=saved\r\nlanguage=\r\nvalues=back\r\npackage=none\r\nfiles=0\r\n[end]\r\n";
  };
  struct Row {
    const char* fault;
    std::function<void()> arrange;
    std::wstring actions;      // of the first run; later runs' installer changes nothing
    std::vector<DWORD> exits;  // of each run
    std::wstring logged;
    std::function<void(size_t)> after;  // after each run, given its index
    std::wstring later = L"/quiet";     // the arguments of the later runs
  };
  const Row rows[] = {
      {"updater ended while it waits", [] {}, ended, {1, 0}, L"the unfinished run ", nothing},
      {"installer deletes a backup copy", [] {}, damage_ + L"delete " + stale + L"\n", {0},
       L"restored from the run journal's copy: \"" + Modules(), nothing},
      {"installer replaces the LocalCfg folder", [] {},
       L"deltree " + data_ + L"\\Data\\LocalCfg\nmkdir " + data_ + L"\\Data\\LocalCfg\n" + damage_,
       {0}, L"restored from the run journal's copy: \"" + Modules(), nothing},
      {"installer removes the settings folder", [] {}, damage_ + L"deltree " + qiro + L"\\Settings\n",
       {0}, L"restored from the run journal's copy: \"" + settings_, nothing},
      {"installer removes the product's data folder, journal included", [] {},
       damage_ + L"deltree " + qiro + L"\n", {0},
       L"restored from the run journal's copy: \"" + settings_, nothing},
      {"backup kept after a failed copy-back", [] {},
       damage_ + L"delete " + Modules() + L"\nmkdir " + Modules() + L"\n", {ERROR_ACCESS_DENIED, 0},
       L"the unfinished run ", [&](size_t) { RemoveDirectoryW(Modules().c_str()); }},
      {"a waiting backup held for a while, journals dated ahead of the clock", [] {}, ended,
       {1, ERROR_SHARING_VIOLATION, 0}, L"the unfinished run ", [&](size_t run) {
         const std::wstring root = qiro + L"\\Journal\\29990101-00000";
         if (run == 0) {
           for (int i = 0; i < 6; ++i)
             WriteUtf16Text(root + std::to_wstring(i) + L"-1\\run.ini", endedRecord(1000 + i));
           held = HoldWithoutWriteSharing(stale);
         }
         if (run == 1) CloseHandle(held);
         if (run == 2) {
           EXPECT_EQ(4u, Find(root + L"*").size());  // the latest ended ones stay
         }
       }},
      {"a backup copy held after its put-back, the configuration edited before the next run",
       [] {}, damage_ + Hold(stale), {0, 0}, L"backup copy released: \"" + stale, [&](size_t run) {
         if (run == 0) {
           WaitUntilFree(stale);
           WriteBytes(Modules(), "edited");
           SetMachineText(kEnvironmentKeyPath, L"VERSANT_DB", L"another db");
         }
         if (run == 1) {  // neither copied nor written back again
           EXPECT_EQ("edited", ReadBytes(Modules()));
           EXPECT_EQ(L"another db", ReadMachineValue(kEnvironmentKeyPath, L"VERSANT_DB").Text());
           WriteBytes(Modules(), "[Modules]\r\nPiping=1\r\n");
           SetMachineText(kEnvironmentKeyPath, L"VERSANT_DB", L"C:\\Db \u00c4");
         }
       }},
      {"installer asks for a restart while Modules.ini can't be put back",
       [] { SetEnvironmentVariableW(L"VSKR_INSTALLER_EXIT", L"3010"); }, damage_ + Hold(Modules()),
       {ERROR_SHARING_VIOLATION, 0}, L"restoring \"" + Modules() + L"\" failed", [&](size_t run) {
         SetEnvironmentVariableW(L"VSKR_INSTALLER_EXIT", nullptr);
         if (run == 0) WaitUntilFree(Modules());
       }},
      {"record cut at three fifths by a power cut", [] {}, damage_, {0, 0},
       L"a run journal whose record can't be read is left as it is", [&](size_t run) {
         if (run != 0) {
           EXPECT_EQ((std::pair<size_t, size_t>(2, 2)), Journals());  // the cut one stays
           return;
         }
         const std::wstring record = qiro + L"\\Journal\\" + Find(qiro + L"\\Journal\\2*").at(0) +
                                     L"\\run.ini";
         std::wstring text = ReadText(record);
         text.replace(text.find(L"state=ended"), 11, L"state=running");
         WriteUtf16Text(record, text.substr(0, text.size() * 3 / 5));
       }},
      {"Modules.ini read-only, journals pruned whole", [&] {
         SetFileAttributesW(Modules().c_str(), FILE_ATTRIBUTE_READONLY);
       }, damage_, {0, 0, 0, 0, 0, 0, 0}, L"old run journal removed", [&](size_t run) {
         if (run == 6) {
           EXPECT_EQ((std::pair<size_t, size_t>(6, 6)), Journals());
         }
       }},
      {"second start while the first waits", [] {},
       damage_ + L"run " + secondExit + L"=\"" + update_ + L"\\vskr_updater.exe\"\n", {0},
       L"another run of the updater is active on this machine: this run changes nothing",
       [&](size_t) { EXPECT_EQ(L"1618", ReadText(secondExit)); }},
      {"one file of the unfinished run can't be put back at first", [] {}, ended, {1, 32, 0},
       L"the unfinished run ", [&](size_t run) {
         if (run == 0) held = CreateFileW(Modules().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
         if (run == 1) CloseHandle(held);
       }},
      {"installer that can't start after an unfinished run", [] {},
       ended + L"env VERSANT_DBID=installer-db\n", {1, ERROR_BAD_EXE_FORMAT}, L"the unfinished run ",
       [&](size_t) { WriteBytes(update_ + L"\\" + kInstaller, "not a program"); }},
      {"stale backup copy, the installer changes the run's own: both set aside, neither lost",
       [&] { WriteBytes(stale, "stale"); }, damage_ + L"file " + stale + L"=the installer's\n", {0},
       L"no unfinished run holds is set aside", [&](size_t) {
         Names aside = Find(stale + L".*");
         std::sort(aside.begin(), aside.end());  // "<slot>.<run id>", then "<slot>.<run id>-2"
         ASSERT_EQ(2u, aside.size());
         EXPECT_EQ("stale", ReadBytes(data_ + L"\\Data\\LocalCfg\\" + aside[0]));
         EXPECT_EQ("the installer's", ReadBytes(data_ + L"\\Data\\LocalCfg\\" + aside[1]));
       }},
      {"settings file in UTF-16 without byte-order mark", [&] {
         std::wstring text = Section() + L"\r\n";
         for (const wchar_t* plan : {L"2D-PIPE", L"3D-PIPE", L"ISO", L"Hookup"})
           text += L"[" + std::wstring(plan) + L"]\r\nAPP_ACADARGUMENT=/nologo /product ACA\r\n";
         const char* bytes = reinterpret_cast<const char*>(text.data());
         WriteBytes(settings_, std::string(bytes, text.size() * 2));
       }, damage_, {0}, L"can't be read", nothing},
      {"package mode after an unfinished run, the package has backup copies' names",
       [&] {
         for (const wchar_t* name : {L"Modules.ini.upd", L"Modules.ini.upd.20240101-000000-1"})
           WriteBytes(update_ + L"\\vskr_update\\Veskaro\\LocalCfg\\" + name, "package's");
         WriteBytes(stale + L".20240101-000000-1", "set aside");
       },
       ended, {1, 0}, L"is a backup copy of the configuration: not replaced", [&](size_t) {
         EXPECT_EQ("set aside", ReadBytes(stale + L".20240101-000000-1"));
       }, L"INSTALL_FROM_ZIP"},
      {"database variable of type REG_MULTI_SZ",
       [] { SetMachineText(kEnvironmentKeyPath, L"VERSANT_DBID_NODE", L"node1", REG_MULTI_SZ); },
       damage_ + L"env VERSANT_DBID_NODE=node9\n", {0}, L"is of type REG_MULTI_SZ (7): not saved",
       [](size_t) {
         EXPECT_EQ(L"node9", ReadMachineValue(kEnvironmentKeyPath, L"VERSANT_DBID_NODE").Text());
         SetMachineText(kEnvironmentKeyPath, L"VERSANT_DBID_NODE", L"node1", REG_MULTI_SZ);
       }},
      {"restoration before the registration, the wait logged",
       [] { SetEnvironmentVariableW(L"VSKR_INSTALLER_LEFTOVER_MS", L"1500"); }, damage_, {0},
       L"waiting while 1 process(es) named qiro_upd240046_win64.exe run (process ids ", [&](size_t) {
         EXPECT_LT(Log().find(L"restored from its backup copy: \"" + settings_),
                   Log().find(L"program started: \"" + WindowsFolder() + L"\\Microsoft.NET"));
       }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.fault);
    Install();
    row.arrange();
    const std::string original = Configuration();
    for (size_t i = 0; i < row.exits.size(); ++i) {
      RunResult run = Run(i == 0 ? row.actions : L"", i == 0 ? L"/quiet" : row.later);
      EXPECT_EQ(row.exits[i], run.exitCode) << "run " << i + 1;
      row.after(i);
    }
    EXPECT_EQ(original, Configuration()) << Narrow(Log());
    EXPECT_EQ(Names{}, Find(Modules() + L".upd"));
    EXPECT_NE(std::wstring::npos, Log().find(row.logged)) << Narrow(Log());
  }
}

// The preparation has a launch argument and the product switch to complete
// before the backup copies: what it wrote is put back.
TEST_F(NothingLost, NoInstallerRunsWithoutACompleteBackup) {
  HANDLE held = INVALID_HANDLE_VALUE;
  enum Held { None, ModulesHeld, StaleHeld };
  const std::tuple<const char*, DWORD, Held> rows[] = {
      {"Modules.ini held by another program", ERROR_SHARING_VIOLATION, ModulesHeld},
      {"a folder in the way of the backup copy", ERROR_DIRECTORY, None},
      {"full disk", ERROR_DISK_FULL, None},
      {"stale backup copy held open", ERROR_SHARING_VIOLATION, StaleHeld},
  };
  for (const auto& [fault, exit, holding] : rows) {
    SCOPED_TRACE(fault);
    Install();
    SetProductText(L"Linked_ACAD_Product", L"0");
    WriteUtf16Text(settings_, Section() + L"\r\nPHI_DWGEDITORARGUMENT=/nologo 0\r\n");
    if (exit == ERROR_DIRECTORY) CreateFolders(Modules() + L".upd");
    if (exit == ERROR_DISK_FULL) {
      RunUnixTool(L"mount -t tmpfs -o size=64k tmpfs \\\"$1\\\"", {data_ + L"\\Data\\LocalCfg"});
      if (PathExists(Modules())) {  // not hidden under a new file system
        std::printf("[ SKIPPED  ] %s: mounting a small file system is not permitted\n", fault);
        continue;
      }
      mounted_ = data_ + L"\\Data\\LocalCfg";
      WriteBytes(Modules(), std::string(40960, 'm'));
    }
    if (holding == StaleHeld) WriteBytes(Modules() + L".upd", "stale");
    const std::string original = Configuration();
    if (holding == ModulesHeld)  // held without any sharing
      held = CreateFileW(Modules().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (holding == StaleHeld) held = HoldWithoutWriteSharing(Modules() + L".upd");
    RunResult run = Run(damage_);
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    held = INVALID_HANDLE_VALUE;
    EXPECT_EQ(exit, run.exitCode);
    EXPECT_EQ(std::vector<Dialog>{kNotSaved}, run.dialogs);
    EXPECT_EQ(original, Configuration());
    EXPECT_TRUE(ReadStandInLog().empty());  // neither installer nor registration
    EXPECT_NE(std::wstring::npos,
              Log().find(L"the configuration could not be saved (error " + std::to_wstring(exit)));
  }
  EXPECT_EQ("stale", ReadBytes(Modules() + L".upd"));  // the last row's, never replaced
}

TEST_F(NothingLost, OnlyTheUpdatesOwnFilesGo) {
  const std::wstring downloads = L"C:\\vskr_tests\\nothing lost\\Downloads";
  const std::wstring listing = L"C:\\vskr_tests\\nothing lost\\listing.txt";
  const std::wstring elsewhere = L"C:\\vskr_tests\\nothing lost\\Documents";
  ScopedVariable tarListing(L"VSKR_TAR_LISTING", listing);
  const std::wstring installer = L"\\" + std::wstring(kInstaller);
  struct Row {
    const char* fault;
    std::wstring folder;  // the updater's
    std::wstring arguments;
    DWORD exit;
    Names gone;
    std::vector<std::pair<std::wstring, std::string>> kept;
  };
  const Row rows[] = {
      {"installer that can't start, in the installation's root folder", root_, L"/quiet",
       ERROR_BAD_EXE_FORMAT, {installer, L"\\vskr_update.zip", L"\\vskr_update"},
       {{root_ + L"\\Sys2021\\VC_BaseSBCS_RD.dll", "library"}, {root_ + L"\\App\\menu.cfg", "new"},
        {root_ + L"\\other setup.exe", "another product's"}}},
      {"installer that can't start, in a shared downloads folder", downloads, L"/quiet",
       ERROR_BAD_EXE_FORMAT, {installer, L"\\vskr_update", L"\\App", L"\\notes.txt"},
       {{downloads + L"\\other setup.exe", "another product's"},
        {root_ + L"\\App\\menu.cfg", "installed"}}},
      {"a folder link in the update folder, a file under it listed by the archive", update_,
       L"/quiet", ERROR_BAD_EXE_FORMAT, {installer, L"\\vskr_update", L"\\notes.txt", L"\\App"},
       {{elsewhere + L"\\readme.txt", "not the update's"}}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.fault);
    Install();
    WriteBytes(root_ + L"\\App\\menu.cfg", "installed");
    WriteBytes(row.folder + installer, "not a program");
    WriteBytes(row.folder + L"\\other setup.exe", "another product's");
    InstallUpdater(row.folder);
    // The archive, and what it unpacked before the installer's start.
    WriteBytes(row.folder + L"\\vskr_update.zip", "PK\x05\x06");
    WriteText(listing,
              L"vskr_update/\nvskr_update/Veskaro/Tools/tool.exe\nnotes.txt\nApp/menu.cfg\n"
              L"docs/readme.txt\n");
    for (const wchar_t* file : {L"\\vskr_update\\Veskaro\\Tools\\tool.exe", L"\\notes.txt",
                                L"\\App\\menu.cfg"})
      WriteBytes(row.folder + file, "new");
    if (row.folder == update_) {  // a link the archive lists a file under
      WriteBytes(elsewhere + L"\\readme.txt", "not the update's");
      ASSERT_TRUE(MakeLink(update_ + L"\\docs", elsewhere));
    }
    RunResult run = Run(L"", row.arguments, row.folder);
    EXPECT_EQ(row.exit, run.exitCode);
    for (const std::wstring& name : row.gone)
      EXPECT_FALSE(PathExists(row.folder + name)) << Narrow(name);
    for (const auto& [path, bytes] : row.kept) EXPECT_EQ(bytes, ReadBytes(path)) << Narrow(path);
    EXPECT_TRUE(PathExists(row.folder + L"\\vskr_updater.exe"));
  }
}

}  // namespace
