// Deleting the update's files: whole trees, read-only entries, links that
// must go without what they point to, and the folders that are never the
// update's own.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "driver/artefact_cleanup.h"
#include "driver/protected_folders.h"
#include "platform/known_folders.h"
#include "support/sandbox.h"

namespace {

using namespace testing_support;

std::wstring CsidlFolder(int csidl) {
  wchar_t buffer[MAX_PATH] = {0};
  SHGetFolderPathW(nullptr, csidl, nullptr, 0, buffer);
  return buffer;
}

std::wstring Upper(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(towupper(c));
  return text;
}

bool MayRemove(const std::wstring& folder) {
  return MayRemoveUpdaterFolder(tmk_String(folder.c_str()));
}

class Cleanup : public testing::Test {
 protected:
  void SetUp() override { ResetFolder(tree_); }
  void TearDown() override { DeleteTreeNoFollow(tree_); }

  void MakeReadOnly(const std::wstring& path) {
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
  }

  std::wstring tree_ = L"C:\\vskr_tests\\cleanup tree";
};

TEST_F(Cleanup, DeleteTreeTakesEverythingAndReportsIt) {
  WriteText(tree_ + L"\\a.txt", L"a");
  WriteText(tree_ + L"\\sub folder\\deeper\\b.txt", L"b");
  WriteText(tree_ + L"\\sub folder\\read only.txt", L"c");
  MakeReadOnly(tree_ + L"\\sub folder\\read only.txt");
  CreateFolders(tree_ + L"\\empty");
  CreateFolders(tree_ + L"\\locked folder");
  WriteText(tree_ + L"\\locked folder\\d.txt", L"d");
  MakeReadOnly(tree_ + L"\\locked folder");
  WriteText(tree_ + L"\\hidden.txt", L"e");
  SetFileAttributesW((tree_ + L"\\hidden.txt").c_str(),
                     FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY);

  EXPECT_TRUE(DeleteTree(tree_.c_str()));
  EXPECT_FALSE(PathExists(tree_));
  EXPECT_FALSE(DeleteTree(tree_.c_str()));  // nothing there any more
  EXPECT_FALSE(DeleteTree(L""));
  EXPECT_FALSE(DeleteTree(nullptr));

  WriteText(tree_ + L"\\single file.txt", L"f");
  EXPECT_TRUE(DeleteTree((tree_ + L"\\single file.txt").c_str()));
  EXPECT_TRUE(IsFolder(tree_));
}

TEST_F(Cleanup, DeleteTreeGoesOnPastWhatStays) {
  WriteText(tree_ + L"\\a\\held.txt", L"held");
  WriteText(tree_ + L"\\a\\free.txt", L"free");
  WriteText(tree_ + L"\\z\\free.txt", L"free");
  HANDLE held = CreateFileW((tree_ + L"\\a\\held.txt").c_str(), GENERIC_READ, FILE_SHARE_READ,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);
  EXPECT_FALSE(DeleteTree(tree_.c_str()));
  CloseHandle(held);
  EXPECT_TRUE(PathExists(tree_ + L"\\a\\held.txt"));
  EXPECT_FALSE(PathExists(tree_ + L"\\a\\free.txt"));
  EXPECT_FALSE(PathExists(tree_ + L"\\z"));
}

// The links come from LinkFixtures. Where the system
// can remove a link by itself it goes; where it can only reach the target
// through it (this Wine), the link stays. The target survives either way.
TEST(CleanupLinks, LinksGoButNeverWhatTheyPointTo) {
  const std::wstring root = LinkFixtures();
  const std::wstring tree = root + L"\\tree";
  const std::wstring targets = root + L"\\targets";
  ASSERT_TRUE(IsLink(tree + L"\\folder link")) << "the link fixture is missing";
  ASSERT_EQ(L"keep", ReadText(tree + L"\\file link.txt"));
  WriteText(tree + L"\\plain.txt", L"x");
  WriteText(tree + L"\\sub\\plain folder\\y.txt", L"y");
  WriteText(targets + L"\\folder\\empty after\\z.txt", L"z");

  (void)DeleteTree(tree.c_str());
  EXPECT_FALSE(PathExists(tree + L"\\plain.txt"));
  EXPECT_FALSE(PathExists(tree + L"\\sub\\plain folder"));
  EXPECT_EQ(L"keep", ReadText(targets + L"\\folder\\keep.txt"));
  EXPECT_EQ(L"keep", ReadText(targets + L"\\folder\\inner\\keep too.txt"));
  EXPECT_EQ(L"z", ReadText(targets + L"\\folder\\empty after\\z.txt"));
  EXPECT_EQ(L"keep", ReadText(targets + L"\\file.txt"));
  for (const wchar_t* link : {L"\\folder link", L"\\sub\\deep link", L"\\file link.txt"}) {
    std::wstring path = tree + link;
    if (PathExists(path)) {
      EXPECT_EQ(L"keep", ReadText(path + (IsFolder(path) ? L"\\keep.txt" : L"")));
    }
  }

  // A link handed over itself: the link at most, never the folder behind it.
  (void)DeleteTree((root + L"\\top link").c_str());
  EXPECT_EQ(L"keep", ReadText(targets + L"\\folder\\keep.txt"));
  EXPECT_TRUE(IsFolder(targets + L"\\folder\\inner"));
}

TEST_F(Cleanup, FoldersThatAreNotTheUpdatesOwnAreRefused) {
  std::wstring windows = CsidlFolder(CSIDL_WINDOWS);
  std::wstring desktop = KnownFolder(FOLDERID_Desktop);
  std::wstring profile = KnownFolder(FOLDERID_Profile);
  std::vector<std::wstring> refused = {
      L"",
      L"vskr_tests\\Upd Test",
      L"C:",
      L"C:\\",
      L"c:vskr_tests",
      L"\\vskr_tests",
      L"\\\\server\\share",
      L"\\\\server\\share\\",
      L"\\\\server",
      windows,
      Upper(windows) + L"\\",
      windows + L"\\system32",
      windows + L"\\syswow64",
      L"C:\\vskr_tests\\..\\windows",
      L"C:\\Program Files",
      L"C:\\Program Files (x86)",
      CommonAppData(),
      KnownFolder(FOLDERID_UserProfiles),
      profile,
      desktop,
      KnownFolder(FOLDERID_Documents),
      KnownFolder(FOLDERID_Downloads),
      KnownFolder(FOLDERID_LocalAppData),
      KnownFolder(FOLDERID_Public),
      KnownFolder(FOLDERID_PublicDesktop),
      KnownFolder(FOLDERID_PublicDocuments),
      KnownFolder(FOLDERID_PublicDownloads),
      CsidlFolder(CSIDL_COMMON_STARTMENU),
      profile + L"\\Update 1",  // directly in a profile, like another user's Desktop
  };
  for (const std::wstring& folder : refused) {
    EXPECT_FALSE(MayRemove(folder)) << "\"" << Narrow(folder) << "\"";
  }

  std::vector<std::wstring> allowed = {
      L"C:\\vskr_tests\\Upd Test",
      L"c:\\VSKR_TESTS\\upd test\\",
      desktop + L"\\Update 1",
      KnownFolder(FOLDERID_Downloads) + L"\\qiro update",
      KnownFolder(FOLDERID_PublicDocuments) + L"\\Update",
      L"C:\\Program Files\\Veskaro\\Update",
      windows + L"\\Temp\\update",
  };
  for (const std::wstring& folder : allowed) {
    EXPECT_TRUE(MayRemove(folder)) << "\"" << Narrow(folder) << "\"";
  }
}

TEST(CleanupLinks, ALinkIsJudgedByWhereItLeads) {
  const std::wstring root = LinkFixtures();
  ASSERT_TRUE(IsLink(root + L"\\to windows")) << "the link fixture is missing";
  EXPECT_FALSE(MayRemove(root + L"\\to windows"));
  EXPECT_FALSE(MayRemove(root + L"\\to public desktop"));
  EXPECT_TRUE(MayRemove(root + L"\\to update"));
}

TEST_F(Cleanup, WellKnownFoldersComeFromTheShell) {
  std::vector<std::wstring> known = WellKnownFolders();
  auto has = [&known](const std::wstring& folder) {
    for (const std::wstring& k : known) {
      if (_wcsicmp(k.c_str(), folder.c_str()) == 0) return true;
    }
    return false;
  };
  EXPECT_TRUE(has(CsidlFolder(CSIDL_WINDOWS)));
  EXPECT_TRUE(has(L"C:\\Program Files"));  // the 64-bit one, hidden from the shell of 32 bits
  EXPECT_TRUE(has(L"C:\\Program Files (x86)"));
  EXPECT_TRUE(has(KnownFolder(FOLDERID_Downloads)));
  EXPECT_FALSE(UserProfileFolders().empty());
}

}  // namespace
