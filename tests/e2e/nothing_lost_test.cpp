// The administrator's configuration (Modules.ini, the settings file, the
// product key's values, the database variables) survives the faults that
// real workstations meet, and nothing but the update's own files goes. The
// installer stand-in does the damage; each fault is a row.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/sandbox.h"

namespace {

using namespace testing_support;

const wchar_t kInstaller[] = L"qiro_upd240046_win64.exe";
const wchar_t kNotSaved[] = L"The configuration could not be saved. The update was not started.";

// Runs a shell command of the Linux side with the Unix form of `path` as
// $1 (mounting a small file system needs it); true when it succeeded.
bool RunUnixShell(const std::wstring& script, const std::wstring& path) {
  using ToUnix = char*(CDECL*)(LPCWSTR);
  auto toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  std::wstring marker = L"C:\\vskr_tests\\unix_done.txt";
  DeleteFileW(marker.c_str());
  char* unixPath = toUnix ? toUnix(path.c_str()) : nullptr;
  char* unixMarker = toUnix ? toUnix(marker.c_str()) : nullptr;
  if (!unixPath || !unixMarker) return false;
  std::wstring commandLine = L"\\\\?\\unix\\bin\\sh -c \"" + script + L" && touch \\\"$0\\\"\" \"" +
                             Widen(unixMarker) + L"\" \"" + Widen(unixPath) + L"\"";
  HeapFree(GetProcessHeap(), 0, unixPath);
  HeapFree(GetProcessHeap(), 0, unixMarker);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION shell{};
  if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &shell))
    return false;
  CloseHandle(shell.hThread);
  CloseHandle(shell.hProcess);  // Wine can't wait on it: the marker tells
  for (int i = 0; i < 300 && !PathExists(marker); ++i) Sleep(10);
  return DeleteFileW(marker.c_str()) != FALSE;
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
    if (!mounted_.empty()) RunUnixShell(L"umount \\\"$1\\\"", mounted_);
    mounted_.clear();
    SetEnvironmentVariableW(L"VSKR_INSTALLER_LEFTOVER_MS", nullptr);
    DeleteTreeNoFollow(L"C:\\vskr_tests\\nothing lost");
    DeleteTreeNoFollow(CommonAppData() + L"\\Quendris\\QIRO\\Journal");
    DeleteTreeNoFollow(CommonAppData() + L"\\Quendris\\QIRO\\Logs");
    for (const std::wstring& name :
         Names(CommonAppData() + L"\\Quendris\\QIRO\\Settings\\qiro.ini.upd*"))
      DeleteFileW((CommonAppData() + L"\\Quendris\\QIRO\\Settings\\" + name).c_str());
    for (const wchar_t* name : {L"VERSANT_DBID", L"VERSANT_DB", L"VERSANT_DBID_NODE"})
      DeleteMachineValue(kEnvironmentKeyPath, name);
  }

  // A fresh installation with an update next to it.
  void Install() {
    Reset();
    ResetStandInLog();
    DeleteMachineKey(kProductKeyPath);
    SetProductText(L"ROOTPATH", root_);
    SetProductText(L"EXECUTABLEPATH", root_ + L"\\Sys2021");
    SetProductText(L"DATA_PATH", data_);
    SetProductText(L"WORK_PATH", base_ + L"\\Work");
    SetProductText(L"PHI_LANGUAGE", L"German");
    SetProductText(L"Linked_ACAD_Id", L"1004");
    SetProductText(L"Linked_ACAD_Product", L"/product ACA");
    WriteBytes(root_ + L"\\Sys2021\\VC_BaseSBCS_RD.dll", "library");
    WriteBytes(root_ + L"\\other setup.exe", "another product's");
    WriteBytes(Modules(), "[Modules]\r\nPiping=1\r\n");
    WriteUtf16Text(settings_,
                   L"[TMK-QIRO]\r\nPHI_ROOTPATH=" + root_ + L"\r\nPHI_LANGUAGE=German\r\n");
    SetMachineText(kEnvironmentKeyPath, L"VERSANT_DBID", L"%SystemDrive%\\Db", REG_EXPAND_SZ);
    SetMachineText(kEnvironmentKeyPath, L"VERSANT_DB", L"C:\\Db \u00c4");
    InstallStandIn(L"standin_installer64.exe", update_ + L"\\" + kInstaller);
    InstallUpdater(update_);
    SetEnvironmentVariableW(L"VSKR_INSTALLER_ACTIONS", actions_.c_str());
  }

  // The launch argument and product switch still to be completed: the
  // preparation writes both before it makes the backup copies.
  void PendingWorkstationChanges() {
    SetProductText(L"Linked_ACAD_Product", L"0");
    WriteUtf16Text(settings_,
                   L"[TMK-QIRO]\r\nPHI_ROOTPATH=" + root_ +
                       L"\r\nPHI_LANGUAGE=German\r\nPHI_DWGEDITORARGUMENT=/nologo 0\r\n");
  }

  RunResult Run(const std::wstring& actions, const std::wstring& arguments = L"/quiet",
                const std::wstring& folder = L"") {
    WriteText(actions_, actions);
    return RunUpdater((folder.empty() ? update_ : folder) + L"\\vskr_updater.exe", arguments);
  }

  static std::vector<std::wstring> Names(const std::wstring& pattern) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) {
      if (found.cFileName[0] != L'.') names.push_back(found.cFileName);
    }
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
    return names;
  }

  // The configuration and the installation's entries (backup copies
  // aside), as one text to compare.
  std::string Configuration(const std::wstring& folder = L"") {
    std::string text = folder.empty() ? "Modules.ini: " + ReadBytes(Modules()) +
                                            "\nqiro.ini: " + ReadBytes(settings_) + "\n"
                                      : std::string();
    for (const std::wstring& name : Names((folder.empty() ? base_ : folder) + L"\\*")) {
      std::wstring path = (folder.empty() ? base_ : folder) + L"\\" + name;
      if (name.find(L".upd") == std::wstring::npos)
        text += Narrow(path) + "\n" + Configuration(path);
    }
    if (!folder.empty()) return text;
    for (const wchar_t* name : {L"PHI_LANGUAGE", L"Linked_ACAD_Product", L"DATABASE_PATH"}) {
      RegistryValue value = ReadMachineValue(kProductKeyPath, name);
      text += Narrow(name) + "=" + Narrow(value.exists ? value.Text() : L"(none)") + "\n";
    }
    for (const wchar_t* name : {L"VERSANT_DBID", L"VERSANT_DB", L"VERSANT_DBID_NODE"}) {
      RegistryValue value = ReadMachineValue(kEnvironmentKeyPath, name);
      text += Narrow(name) + "=" + std::to_string(value.type) + " " + Narrow(value.Text()) + "\n";
    }
    return text;
  }

  std::wstring Log() {
    return ReadText(CommonAppData() + L"\\Quendris\\QIRO\\Logs\\vskr_updater.log");
  }
  std::wstring Modules() const { return data_ + L"\\Data\\LocalCfg\\Modules.ini"; }

  std::wstring base_ = L"C:\\vskr_tests\\nothing lost\\Veskaro";
  std::wstring root_ = base_ + L"\\Program Files";
  std::wstring data_ = base_ + L"\\Data \u00e4";
  std::wstring update_ = L"C:\\vskr_tests\\nothing lost\\Update 24";
  std::wstring actions_ = L"C:\\vskr_tests\\nothing lost\\actions.txt";
  std::wstring settings_ = CommonAppData() + L"\\Quendris\\QIRO\\Settings\\qiro.ini";
  std::wstring damage_ = L"file " + Modules() +
                         L"=the installer's\nini TMK-QIRO|PHI_LANGUAGE=English\n"
                         L"env VERSANT_DB=installer-db\n";
  std::string savedSettings_;
  std::wstring mounted_;
};

TEST_F(NothingLost, UpdateRunsEndWithTheOriginalConfiguration) {
  const std::wstring secondExit = L"C:\\vskr_tests\\nothing lost\\second.txt";
  const std::wstring stale = Modules() + L".upd";
  struct Row {
    const char* fault;
    std::function<void()> arrange;
    std::wstring actions;      // of the first run; a second run (if any) changes nothing
    std::vector<DWORD> exits;  // of each run
    std::wstring logged;
    std::function<void()> after;  // after the first run
  };
  const Row rows[] = {
      {"1 updater ended while it waits",
       [] {},
       damage_ + L"end-parent\n",
       {1, 0},
       L"backup copy of the unfinished run ",
       [] {}},
      {"2 backup kept after a failed copy-back",
       [] {},
       damage_ + L"delete " + Modules() + L"\nmkdir " + Modules() + L"\n",
       {ERROR_ACCESS_DENIED, 0},
       L"backup copy of the unfinished run ",
       [&] { RemoveDirectoryW(Modules().c_str()); }},
      {"3 second start while the first waits",
       [] {},
       damage_ + L"run " + secondExit + L"=\"" + update_ + L"\\vskr_updater.exe\"\n",
       {0},
       L"another run of the updater is active on this machine: this run changes nothing",
       [&] { EXPECT_EQ(L"1618", ReadText(secondExit)); }},
      {"5 stale backup copy",
       [&] { WriteBytes(stale, "stale"); },
       damage_,
       {0},
       L"no unfinished run holds is set aside",
       [&] {
         EXPECT_EQ("stale", ReadBytes(data_ + L"\\Data\\LocalCfg\\" + Names(stale + L".*").at(0)));
       }},
      {"6 settings file in UTF-16 without byte-order mark",
       [&] {
         std::wstring text =
             L"[TMK-QIRO]\r\nPHI_ROOTPATH=" + root_ + L"\r\nPHI_LANGUAGE=German\r\n";
         for (const wchar_t* plan : {L"2D-PIPE", L"3D-PIPE", L"ISO", L"Hookup"})
           text += L"[" + std::wstring(plan) + L"]\r\nAPP_ACADARGUMENT=/nologo /product ACA\r\n";
         WriteBytes(settings_,
                    std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2));
       },
       damage_,
       {0},
       L"can't be read",
       [] {}},
      {"9 database variable of type REG_MULTI_SZ",
       [] { SetMachineText(kEnvironmentKeyPath, L"VERSANT_DBID_NODE", L"node1", REG_MULTI_SZ); },
       damage_ + L"env VERSANT_DBID_NODE=node9\n",
       {0},
       L"is of type REG_MULTI_SZ (7): not saved",
       [] {
         RegistryValue node = ReadMachineValue(kEnvironmentKeyPath, L"VERSANT_DBID_NODE");
         EXPECT_EQ(L"node9", node.Text());  // as the installer left it
         SetMachineText(kEnvironmentKeyPath, L"VERSANT_DBID_NODE", L"node1", REG_MULTI_SZ);
       }},
      {"10 restoration before the registration, the wait logged",
       [] { SetEnvironmentVariableW(L"VSKR_INSTALLER_LEFTOVER_MS", L"1500"); },
       damage_,
       {0},
       L"waiting while 1 process(es) named qiro_upd240046_win64.exe run (process ids ",
       [&] {
         std::wstring log = Log();
         EXPECT_LT(log.find(L"restored from its backup copy: \"" + settings_),
                   log.find(L"program started: \"" + WindowsFolder() + L"\\Microsoft.NET"));
       }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.fault);
    Install();
    row.arrange();
    const std::string original = Configuration();
    for (size_t i = 0; i < row.exits.size(); ++i) {
      RunResult run = Run(i == 0 ? row.actions : L"");
      EXPECT_EQ(row.exits[i], run.exitCode) << "run " << i + 1;
      EXPECT_TRUE(run.dialogs.empty());
      if (i == 0) row.after();
    }
    EXPECT_EQ(original, Configuration()) << Narrow(Log());
    EXPECT_EQ(std::vector<std::wstring>{}, Names(Modules() + L".upd"));
    EXPECT_NE(std::wstring::npos, Log().find(row.logged)) << Narrow(Log());
  }
}

TEST_F(NothingLost, NoInstallerRunsWithoutACompleteBackup) {
  HANDLE held = INVALID_HANDLE_VALUE;
  struct Row {
    const char* fault;
    std::function<void()> arrange;
    DWORD exit;
  };
  const Row rows[] = {
      {"4 Modules.ini held by another program", [] {}, ERROR_SHARING_VIOLATION},
      {"4 a folder in the way of the backup copy", [&] { CreateFolders(Modules() + L".upd"); },
       ERROR_DIRECTORY},
      {"4 full disk",
       [&] {
         std::wstring folder = data_ + L"\\Data\\LocalCfg";
         if (!RunUnixShell(L"mount -t tmpfs -o size=64k tmpfs \\\"$1\\\"", folder)) return;
         mounted_ = folder;
         WriteBytes(Modules(), std::string(40960, 'm'));
       },
       ERROR_DISK_FULL},
      {"5 stale backup copy held open",
       [&] {
         WriteBytes(Modules() + L".upd", "stale");
         held = HoldWithoutWriteSharing(Modules() + L".upd");
       },
       ERROR_SHARING_VIOLATION},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.fault);
    Install();
    PendingWorkstationChanges();
    row.arrange();
    if (row.exit == ERROR_DISK_FULL && mounted_.empty()) {
      std::printf("[ SKIPPED  ] %s: mounting a small file system is not permitted here\n",
                  row.fault);
      continue;
    }
    const std::string original = Configuration();
    if (row.fault[2] == 'M')  // held without any sharing, from here on
      held = CreateFileW(Modules().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    RunResult run = Run(damage_);
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    held = INVALID_HANDLE_VALUE;
    EXPECT_EQ(row.exit, run.exitCode);
    EXPECT_EQ((std::vector<Dialog>{{L"QIRO Update", kNotSaved, false, true}}), run.dialogs);
    EXPECT_EQ(original, Configuration());
    EXPECT_TRUE(ReadStandInLog().empty());  // neither installer nor registration
    EXPECT_NE(std::wstring::npos, Log().find(L"the configuration could not be saved (error " +
                                             std::to_wstring(row.exit)));
  }
  EXPECT_EQ("stale", ReadBytes(Modules() + L".upd"));  // the last row's, never replaced
}

TEST_F(NothingLost, OnlyTheUpdatesOwnFilesGo) {
  const std::wstring downloads = L"C:\\vskr_tests\\nothing lost\\Downloads";
  const std::wstring listing = L"C:\\vskr_tests\\nothing lost\\listing.txt";
  ScopedVariable tarListing(L"VSKR_TAR_LISTING", listing);
  struct Row {
    const char* fault;
    std::wstring folder;  // the updater's
    std::wstring arguments;
    DWORD exit;
    std::vector<std::wstring> gone;
    std::vector<std::pair<std::wstring, std::string>> kept;
  };
  const Row rows[] = {
      {"7 installer that can't start, in the installation's root folder",
       root_,
       L"/quiet",
       ERROR_BAD_EXE_FORMAT,
       {L"\\" + std::wstring(kInstaller), L"\\vskr_update.zip", L"\\vskr_update"},
       {{root_ + L"\\Sys2021\\VC_BaseSBCS_RD.dll", "library"},
        {root_ + L"\\App\\menu.cfg", "new"},
        {root_ + L"\\other setup.exe", "another product's"}}},
      {"7 installer that can't start, in a shared downloads folder",
       downloads,
       L"/quiet",
       ERROR_BAD_EXE_FORMAT,
       {L"\\" + std::wstring(kInstaller), L"\\vskr_update", L"\\App", L"\\notes.txt"},
       {{downloads + L"\\other setup.exe", "another product's"},
        {root_ + L"\\App\\menu.cfg", "installed"}}},
      {"8 package mode without ROOTPATH",
       update_,
       L"INSTALL_FROM_ZIP",
       ERROR_BAD_PATHNAME,
       {},
       {{L"C:\\Tools\\tool.exe", "old"}, {root_ + L"\\App\\menu.cfg", "installed"}}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.fault);
    Install();
    WriteBytes(root_ + L"\\App\\menu.cfg", "installed");
    WriteBytes(row.folder + L"\\" + kInstaller, "not a program");
    WriteBytes(row.folder + L"\\other setup.exe", "another product's");
    InstallUpdater(row.folder);
    // The archive, and what it unpacked before the installer's start.
    WriteBytes(row.folder + L"\\vskr_update.zip", "PK\x05\x06");
    WriteText(listing,
              L"vskr_update/\nvskr_update/Veskaro/Tools/tool.exe\nnotes.txt\nApp/menu.cfg\n");
    for (const wchar_t* file :
         {L"\\vskr_update\\Veskaro\\Tools\\tool.exe", L"\\notes.txt", L"\\App\\menu.cfg"})
      WriteBytes(row.folder + file, "new");
    if (row.arguments == L"INSTALL_FROM_ZIP") {
      DeleteFileW((row.folder + L"\\vskr_update.zip").c_str());
      SetProductText(L"ROOTPATH", L"");
      WriteBytes(L"C:\\Tools\\tool.exe", "old");
    }
    RunResult run = Run(L"", row.arguments, row.folder);
    EXPECT_EQ(row.exit, run.exitCode);
    for (const std::wstring& name : row.gone)
      EXPECT_FALSE(PathExists(row.folder + name)) << Narrow(name);
    for (const auto& file : row.kept)
      EXPECT_EQ(file.second, ReadBytes(file.first)) << Narrow(file.first);
    EXPECT_TRUE(PathExists(row.folder + L"\\vskr_updater.exe"));
    DeleteTreeNoFollow(L"C:\\Tools");
  }
}

}  // namespace
