// Steps of an update on their own, where a whole run would show less or
// cost more: the entries and folders the clean-up never removes, the run log's
// refusal to write through links, the launch arguments of every plan in a
// settings file of the ANSI code page, the extended form of each path, and
// the direction a package recovery takes.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "driver/cleanup_policy.h"
#include "driver/protected_folders.h"
#include "package/package_transaction.h"
#include "platform/known_folders.h"
#include "platform/long_path.h"
#include "platform/run_log.h"
#include "workstation/workstation_settings.h"
#include "support/sandbox.h"

namespace {

using namespace testing_support;

// However the updater got there: a link counts as the folder it leads to.
TEST(Cleanup, FolderThatIsNotTheUpdatesOwnIsNeverRemovedWhole) {
  const std::wstring links = L"C:\\vskr_tests\\links";
  ResetFolder(links + L"\\update");
  MakeLink(links + L"\\to windows", WindowsFolder());
  MakeLink(links + L"\\to public desktop", KnownFolderPath(FOLDERID_PublicDesktop));
  MakeLink(links + L"\\to update", links + L"\\update");
  const std::wstring windows = WindowsFolder(), profile = KnownFolderPath(FOLDERID_Profile);
  const std::wstring refused[] = {
      L"", L"vskr_tests\\Upd Test", L"C:", L"C:\\", L"c:vskr_tests", L"\\vskr_tests",
      L"\\\\server\\share", L"\\\\server\\share\\", L"\\\\server", windows, windows + L"\\system32",
      windows + L"\\syswow64", L"C:\\vskr_tests\\..\\WINDOWS\\", L"C:\\Program Files",
      L"C:\\Program Files (x86)", CommonAppData(), KnownFolderPath(FOLDERID_UserProfiles), profile,
      KnownFolderPath(FOLDERID_Desktop), KnownFolderPath(FOLDERID_Documents),
      KnownFolderPath(FOLDERID_Downloads), KnownFolderPath(FOLDERID_LocalAppData),
      KnownFolderPath(FOLDERID_Public), KnownFolderPath(FOLDERID_PublicDesktop),
      KnownFolderPath(FOLDERID_PublicDocuments),
      profile + L"\\Update 1",  // directly in a profile, like another user's Desktop
      links + L"\\to windows", links + L"\\to public desktop"};
  for (const std::wstring& folder : refused)
    EXPECT_FALSE(MayRemoveFolderWhole(tmk_String(folder.c_str()))) << Narrow(folder);
  const std::wstring allowed[] = {
      L"C:\\vskr_tests\\Upd Test", L"c:\\VSKR_TESTS\\upd test\\", windows + L"\\Temp\\update",
      KnownFolderPath(FOLDERID_Desktop) + L"\\Update 1", L"C:\\Program Files\\Veskaro\\Update",
      KnownFolderPath(FOLDERID_PublicDocuments) + L"\\Update", links + L"\\to update"};
  for (const std::wstring& folder : allowed)
    EXPECT_TRUE(MayRemoveFolderWhole(tmk_String(folder.c_str()))) << Narrow(folder);
  DeleteTreeNoFollow(links);
}

// An archive entry that climbs out of the updater's folder, or a backup slot
// of the configuration, is refused whatever else holds. Row: the name tar
// lists, the path below the updater's folder ("": none), refused.
TEST(Cleanup, EntryOutsideTheUpdateOrABackupSlotIsNeverRemoved) {
  const std::tuple<const wchar_t*, const wchar_t*, bool> rows[] = {
      {L"..\\x", L"", true}, {L"docs/../../x", L"", true}, {L"..", L"", true},
      {L"a/./b", L"", true}, {L".. /x", L"", true}, {L"docs./x", L"", true}, {L"a//b", L"", true},
      {L"C:x", L"", true}, {L"C:\\Windows\\win.ini", L"", true}, {L"/etc/passwd", L"", true},
      {L"\\Windows\\win.ini", L"", true}, {L"\\\\?\\C:\\x", L"", true},
      {L"\\\\server\\share\\x", L"", true}, {L"//server/share/x", L"", true},
      {L"notes.txt:hidden", L"", true}, {L"notes.txt::$DATA", L"", true}, {L"", L"", true},
      {L"Modules.ini.upd", L"Modules.ini.upd", true},
      {L"Cfg/MODULES.INI.UPD/", L"Cfg\\MODULES.INI.UPD", true},
      {L"qiro.ini.upd.20240131-235959-4711", L"qiro.ini.upd.20240131-235959-4711", true},
      {L"docs/readme.txt", L"docs\\readme.txt", false}, {L"./notes.txt", L"notes.txt", false},
      {L"vskr_update/", L"vskr_update", false}, {L"notes.upd.txt", L"notes.upd.txt", false},
      {L"Modules.ini.update", L"Modules.ini.update", false}};
  for (const auto& [listed, relative, refused] : rows) {
    EXPECT_EQ(std::wstring(relative), RelativeEntry(listed)) << Narrow(listed);
    CleanupFacts facts;
    facts.name = listed;
    EXPECT_EQ(refused, DeletionRefusal(facts) != nullptr) << Narrow(listed);
  }
}

// Planted in place of the log's folder or file: a link to a folder, a
// symbolic or hard link to a file, a link to a file that does not exist.
TEST(RunLog, IsNeverWrittenThroughALink) {
  const std::wstring root = L"C:\\vskr_tests\\log \u00e4", folder = root + L"\\Logs";
  const std::wstring targets = root + L"\\targets", file = folder + L"\\vskr_updater.log";
  const std::tuple<std::wstring, std::wstring, bool> rows[] = {  // link, target, hard link
      {folder, targets + L"\\folder", false}, {file, targets + L"\\victim.txt", false},
      {file, targets + L"\\victim.txt", true}, {file, targets + L"\\planted.txt", false}};
  for (const auto& [link, target, hard] : rows) {
    ResetFolder(targets + L"\\folder");
    WriteText(targets + L"\\victim.txt", L"keep me");
    CreateFolders(link.substr(0, link.find_last_of(L'\\')));
    ASSERT_TRUE(MakeLink(link, target, hard)) << Narrow(link);
    RunLog log(tmk_String(folder.c_str()));
    EXPECT_FALSE(log.IsOpen()) << Narrow(target);
    ScopedRunLog installed(log);
    LogLine(L"must not appear");
    EXPECT_EQ(L"keep me", ReadText(targets + L"\\victim.txt"));
    EXPECT_FALSE(PathExists(targets + L"\\folder\\vskr_updater.log") ||
                 PathExists(targets + L"\\planted.txt"));
    DeleteTreeNoFollow(root);
  }
}

// A settings file in code page 1252: the root entry, then the launch
// argument of each section that has one, in this order ("-": none).
std::string Settings(const std::string& root, const std::vector<std::string>& arguments) {
  const char* sections[] = {"TMK-QIRO", "2D-PIPE", "3D-PIPE", "ISO", "Proze\xDFschema",
                            "Installationsplan", "Logikplan", "Stromlaufplan", "Hookup"};
  std::string text = "[TMK-QIRO]\r\nPHI_ROOTPATH=" + root + "\r\n";
  for (size_t i = 0; i < arguments.size(); ++i) {
    if (i > 0) text += std::string("[") + sections[i] + "]\r\n";
    if (arguments[i] != "-")
      text += (i ? "APP_ACADARGUMENT=" : "PHI_DWGEDITORARGUMENT=") + arguments[i] + "\r\n";
  }
  return text;
}

// The switch derived from the product code takes the place of the trailing
// "0" of each plan's argument; an argument that fills all a read takes (259
// units) may have been cut and is left whole. The file stays ANSI, with the
// registry's root written in place of "0".
TEST(WorkstationSettings, ProductSwitchCompletesEveryPlansArgumentInTheFilesEncoding) {
  ASSERT_EQ(1252u, GetACP());
  const std::wstring settings = CommonAppData() + L"\\Quendris\\QIRO\\Settings\\qiro.ini";
  const std::wstring program = L"C:\\vskr_tests\\Veskaro\\Sys";
  const std::string full(258, 'f');
  WriteBytes(program + L"\\VC_BaseSBCS_RD.dll", "MZ");
  DeleteMachineKey(kProductKeyPath);
  SetProductText(L"ROOTPATH", L"C:\\Stra\u00dfe");
  SetProductText(L"EXECUTABLEPATH", program);
  SetProductText(L"Linked_ACAD_Id", L"1004");
  SetProductText(L"Linked_ACAD_Product", L"0");
  WriteBytes(settings, Settings("0", {full + "0 /b 0", full.substr(1) + "0", "0", "i 0 i", "p 0",
                                      "-", "l 0", "s O", "h 0"}));
  WritePrivateProfileStringW(nullptr, nullptr, nullptr, settings.c_str());  // no cached copy
  UpdateContext context;
  context.ReadProductSettings();
  EXPECT_EQ(0, WriteWorkstationSettings(context));
  WritePrivateProfileStringW(nullptr, nullptr, nullptr, settings.c_str());
  EXPECT_EQ(Settings("C:\\Stra\xDF" "e", {full + "0 /b 0", full.substr(1) + "/product ACA",
                                          "/product ACA", "i 0 i", "p /product ACA", "-",
                                          "l /product ACA", "s O", "h /product ACA"}),
            ReadBytes(settings));
  EXPECT_EQ(L"/product ACA", ReadMachineValue(kProductKeyPath, L"Linked_ACAD_Product").Units());
  DeleteFileW(settings.c_str());
  DeleteMachineKey(kProductKeyPath);
  DeleteTreeNoFollow(L"C:\\vskr_tests\\Veskaro");
}

// Each form of path the transaction meets, in its extended form: the
// system takes that form as it is, so "." and ".." are resolved before.
TEST(Path, ExtendedFormOfEachPathForm) {
  const std::pair<const wchar_t*, const wchar_t*> rows[] = {
      {LR"(C:\Veskaro\App\a.dll)", LR"(\\?\C:\Veskaro\App\a.dll)"},
      {LR"(c:/Veskaro/App/a.dll)", LR"(\\?\c:\Veskaro\App\a.dll)"},
      {LR"(C:\Veskaro\.\Sys\..\App\\a.dll)", LR"(\\?\C:\Veskaro\App\a.dll)"},
      {LR"(C:\..\..\a.dll)", LR"(\\?\C:\a.dll)"},
      {LR"(C:\)", LR"(\\?\C:\)"},
      {LR"(C:\Veskaro\App\)", LR"(\\?\C:\Veskaro\App\)"},
      {LR"(\\server\share\Work\a.cat)", LR"(\\?\UNC\server\share\Work\a.cat)"},
      {LR"(//server/share/Work/../a.cat)", LR"(\\?\UNC\server\share\a.cat)"},
      {LR"(\\server\share\..\..\a.cat)", LR"(\\?\UNC\server\share\a.cat)"},
      {LR"(\\server\share)", LR"(\\?\UNC\server\share)"},
      {LR"(\\?\C:\Veskaro\..\a.dll)", LR"(\\?\C:\Veskaro\..\a.dll)"},
      {LR"(\\?\UNC\server\share\a)", LR"(\\?\UNC\server\share\a)"},
      {LR"(Veskaro\a.dll)", LR"(Veskaro\a.dll)"},
      {LR"(C:a.dll)", LR"(C:a.dll)"},
      {LR"(\Veskaro\a.dll)", LR"(\Veskaro\a.dll)"},
      {L"", L""}};
  for (const auto& [path, extended] : rows)
    EXPECT_EQ(std::wstring(extended), ExtendedPath(path)) << Narrow(path);
}

// Where a package run that was ended goes, from its record and the files
// on the disk: each letter one planned file, A its set-aside file there, N
// its ".new" file there too, M its installed file missing, "." neither.
// Twelve files, four under way at once.
TEST(PackageRecovery, DirectionFromTheRecordAndTheDisk) {
  const std::wstring folder = L"C:\\vskr_tests\\recovery";
  const std::tuple<const char*, bool, SwitchDirection> rows[] = {
      {"AAAAA.......", false, SwitchDirection::Undo},    // the switch ended
      {"AAAAA.......", true, SwitchDirection::Undo},     // its undo ended
      {".......AAAAA", false, SwitchDirection::Finish},  // the removal ended, unrecorded switch
      {".......AAAAA", true, SwitchDirection::Finish},   // the removal ended
      {"AAAAAAAAAAAA", false, SwitchDirection::Undo},    // the copies may be incomplete
      {"AAAAAAAAAAAA", true, SwitchDirection::Finish},
      {"AAAAAN......", true, SwitchDirection::Undo},     // an undo had begun
      {".A.AAAAAAAAA", false, SwitchDirection::Undo},    // files still under way
      {".......AAAAM", false, SwitchDirection::Undo},    // a copy never made
      {"............", true, SwitchDirection::Finish}};
  for (const auto& [disk, switched, expected] : rows) {
    ResetFolder(folder);
    std::vector<PackageReplacement> files;
    for (size_t i = 0; disk[i] != 0; ++i) {
      const std::wstring installed = folder + L"\\" + std::to_wstring(i) + L".dll";
      files.push_back({installed, installed + L".new", installed + L".old"});
      if (disk[i] != 'M') WriteText(installed, L"new");
      if (disk[i] != '.') WriteText(files.back().aside, L"old");
      if (disk[i] == 'N') WriteText(files.back().staged, L"new");
    }
    SwitchDirection direction = SwitchDirection::Undo;
    EXPECT_EQ(0u, ReadSwitchDirection(files, switched, 4, direction)) << disk;
    EXPECT_EQ(expected, direction) << disk << (switched ? " switched" : " switching");
  }
  DeleteTreeNoFollow(folder);
}

}  // namespace
