// One folder tree refresh on real folders of the sandbox: what is replaced,
// what is left alone, where a failed copy stops the walk, and folder links.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "package/package_map.h"
#include "settings/update_context.h"
#include "support/sandbox.h"

namespace {

using namespace testing_support;

class RefreshTree : public testing::Test {
 protected:
  void SetUp() override {
    ResetFolder(source_);
    ResetFolder(destination_);
  }
  void TearDown() override { DeleteTreeNoFollow(L"C:\\vskr_tests\\refresh"); }

  bool Refresh() { return Refresh(source_, destination_); }
  bool Refresh(const std::wstring& source, const std::wstring& destination) {
    UpdateContext context;
    return context.RefreshFolderTree(source.c_str(), destination.c_str());
  }
  std::string Dest(const std::wstring& relative) {
    return ReadBytes(destination_ + L"\\" + relative);
  }

  std::wstring source_ = L"C:\\vskr_tests\\refresh\\Paket \u00e4";
  std::wstring destination_ = L"C:\\vskr_tests\\refresh\\Ziel \u00df";
};

TEST_F(RefreshTree, ReplacesOnlyFilesThatExistAndAddsNothing) {
  WriteBytes(source_ + L"\\a.dll", "new a");
  WriteBytes(source_ + L"\\sub\\b.dll", "new b");
  WriteBytes(source_ + L"\\only in package.txt", "new");
  WriteBytes(source_ + L"\\deep\\er\\c \u00fc.dat", "new c");
  WriteBytes(destination_ + L"\\a.dll", "old a");
  WriteBytes(destination_ + L"\\deep\\er\\c \u00fc.dat", "old c");
  WriteBytes(destination_ + L"\\installed only.cfg", "kept");
  std::vector<std::wstring> before = TreeListing(destination_);

  EXPECT_TRUE(Refresh());
  EXPECT_EQ("new a", Dest(L"a.dll"));
  EXPECT_EQ("new c", Dest(L"deep\\er\\c \u00fc.dat"));
  EXPECT_EQ("kept", Dest(L"installed only.cfg"));
  EXPECT_EQ(before, TreeListing(destination_));  // no sub, no b.dll, nothing deleted
}

TEST_F(RefreshTree, FilesInSubfoldersAreReplacedWhenTheTopOneIsMissing) {
  WriteBytes(source_ + L"\\a.dll", "new a");
  WriteBytes(source_ + L"\\sub\\b.dll", "new b");
  WriteBytes(destination_ + L"\\sub\\b.dll", "old b");
  EXPECT_TRUE(Refresh());
  EXPECT_FALSE(PathExists(destination_ + L"\\a.dll"));
  EXPECT_EQ("new b", Dest(L"sub\\b.dll"));
}

TEST_F(RefreshTree, NothingToDoIsASuccess) {
  WriteBytes(destination_ + L"\\a.dll", "old a");
  EXPECT_TRUE(Refresh());  // empty source folder
  EXPECT_TRUE(Refresh(source_ + L"\\missing", destination_));
  WriteBytes(source_ + L"\\a.dll", "new a");
  EXPECT_TRUE(Refresh(source_, destination_ + L"\\missing"));
  EXPECT_FALSE(PathExists(destination_ + L"\\missing"));
  EXPECT_EQ("old a", Dest(L"a.dll"));
  // A destination that is a file: nothing below it can exist.
  EXPECT_TRUE(Refresh(source_, destination_ + L"\\a.dll"));
  EXPECT_EQ("old a", Dest(L"a.dll"));
}

TEST_F(RefreshTree, NamesMatchAsTheFileSystemMatchesThem) {
  WriteBytes(source_ + L"\\MENU.CFG", "new menu");
  WriteBytes(source_ + L"\\\u00c4rger \u00d6l.txt", "new umlaut");
  WriteBytes(source_ + L"\\Sub\\DEEP.DLL", "new deep");
  WriteBytes(destination_ + L"\\menu.cfg", "old menu");
  WriteBytes(destination_ + L"\\\u00e4rger \u00f6l.txt", "old umlaut");
  WriteBytes(destination_ + L"\\sub\\deep.dll", "old deep");
  // A package file named by the short name of an installed file.
  WriteBytes(destination_ + L"\\A rather long file name.configuration", "old long");
  WIN32_FIND_DATAW found;
  HANDLE search =
      FindFirstFileW((destination_ + L"\\A rather long file name.configuration").c_str(), &found);
  ASSERT_NE(INVALID_HANDLE_VALUE, search);
  FindClose(search);
  const std::wstring shortName = found.cAlternateFileName;
  if (!shortName.empty()) WriteBytes(source_ + L"\\" + shortName, "new long");
  std::vector<std::wstring> before = TreeListing(destination_);

  EXPECT_TRUE(Refresh());
  EXPECT_EQ("new menu", Dest(L"menu.cfg"));
  EXPECT_EQ("new umlaut", Dest(L"\u00e4rger \u00f6l.txt"));
  EXPECT_EQ("new deep", Dest(L"sub\\deep.dll"));
  if (!shortName.empty()) {
    EXPECT_EQ("new long", Dest(L"A rather long file name.configuration")) << Narrow(shortName);
  }
  EXPECT_EQ(before, TreeListing(destination_));  // the installed names are kept
}

TEST_F(RefreshTree, FileNamedLikeADestinationFolderIsSkipped) {
  WriteBytes(source_ + L"\\Help", "a file");
  WriteBytes(source_ + L"\\z.dll", "new z");
  WriteBytes(destination_ + L"\\Help\\index.htm", "help");
  WriteBytes(destination_ + L"\\z.dll", "old z");
  const DWORD folderAttributes = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN |
                                 FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE;
  SetFileAttributesW((destination_ + L"\\Help").c_str(), folderAttributes);
  const DWORD before = Attributes(destination_ + L"\\Help");
  ASSERT_TRUE(before & FILE_ATTRIBUTE_HIDDEN);
  EXPECT_TRUE(Refresh());
  EXPECT_EQ(before, Attributes(destination_ + L"\\Help"));
  EXPECT_EQ("help", Dest(L"Help\\index.htm"));
  EXPECT_EQ("new z", Dest(L"z.dll"));  // the walk went on
}

// Wine's CopyFileW keeps the attributes of the file it overwrites; the
// system's takes the source's.
bool RunsUnderWine() {
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

TEST_F(RefreshTree, HiddenSystemAndReadOnlyFilesTakePart) {
  WriteBytes(source_ + L"\\hidden.ini", "new hidden");
  WriteBytes(source_ + L"\\system.sys", "new system");
  WriteBytes(source_ + L"\\plain.txt", "new plain");
  WriteBytes(source_ + L"\\not installed.txt", "new");
  WriteBytes(destination_ + L"\\hidden.ini", "old hidden");
  WriteBytes(destination_ + L"\\system.sys", "old system");
  WriteBytes(destination_ + L"\\plain.txt", "old plain");
  WriteBytes(destination_ + L"\\installed only.txt", "old");
  SetFileAttributesW((source_ + L"\\hidden.ini").c_str(), FILE_ATTRIBUTE_HIDDEN);
  SetFileAttributesW((source_ + L"\\system.sys").c_str(),
                     FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY);
  SetFileAttributesW((destination_ + L"\\plain.txt").c_str(), FILE_ATTRIBUTE_HIDDEN);
  SetFileAttributesW((destination_ + L"\\installed only.txt").c_str(),
                     FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  const DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY;
  std::vector<DWORD> destinationBefore;
  for (const wchar_t* name : {L"hidden.ini", L"system.sys", L"plain.txt"})
    destinationBefore.push_back(Attributes(destination_ + L"\\" + name) & kept);

  EXPECT_TRUE(Refresh());
  EXPECT_EQ("new hidden", Dest(L"hidden.ini"));
  EXPECT_EQ("new system", Dest(L"system.sys"));
  EXPECT_EQ("new plain", Dest(L"plain.txt"));
  EXPECT_FALSE(PathExists(destination_ + L"\\not installed.txt"));
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
            Attributes(destination_ + L"\\installed only.txt") & kept);
  size_t i = 0;
  for (const wchar_t* name : {L"hidden.ini", L"system.sys", L"plain.txt"}) {
    DWORD expected =
        RunsUnderWine() ? destinationBefore[i] : Attributes(source_ + L"\\" + name) & kept;
    EXPECT_EQ(expected, Attributes(destination_ + L"\\" + name) & kept) << Narrow(name);
    ++i;
  }
}

// The files of `folder` in enumeration order, all of them also installed.
std::vector<std::wstring> PrepareFiles(const std::wstring& source, const std::wstring& destination,
                                       const std::wstring& sub, int count) {
  for (int i = 0; i < count; ++i) {
    std::wstring name = sub + L"file" + std::to_wstring(i) + L".dll";
    WriteBytes(source + L"\\" + name, "new");
    WriteBytes(destination + L"\\" + name, "old");
  }
  return EnumerationOrder(sub.empty() ? source : source + L"\\" + sub.substr(0, sub.size() - 1));
}

TEST_F(RefreshTree, FileThatCantBeOverwrittenStopsTheWalkThere) {
  std::vector<std::wstring> order = PrepareFiles(source_, destination_, L"", 6);
  ASSERT_EQ(6u, order.size());
  const size_t blocked = 2;  // entries before it are copied, those after it not
  HANDLE hold = HoldWithoutWriteSharing(destination_ + L"\\" + order[blocked]);
  ASSERT_NE(INVALID_HANDLE_VALUE, hold);
  bool result = Refresh();
  CloseHandle(hold);
  EXPECT_FALSE(result);
  for (size_t i = 0; i < order.size(); ++i) {
    EXPECT_EQ(i < blocked ? "new" : "old", Dest(order[i])) << "entry " << i;
  }
}

TEST_F(RefreshTree, FailureInASubfolderStopsEveryFolderAbove) {
  std::vector<std::wstring> inner = PrepareFiles(source_, destination_, L"inner\\", 4);
  std::vector<std::wstring> top = PrepareFiles(source_, destination_, L"", 4);
  ASSERT_EQ(5u, top.size());  // four files and the folder "inner"
  const size_t innerAt = std::find(top.begin(), top.end(), L"inner") - top.begin();
  const size_t blocked = inner.size() - 1;
  HANDLE hold = HoldWithoutWriteSharing(destination_ + L"\\inner\\" + inner[blocked]);
  ASSERT_NE(INVALID_HANDLE_VALUE, hold);
  bool result = Refresh();
  CloseHandle(hold);
  EXPECT_FALSE(result);
  for (size_t i = 0; i < inner.size(); ++i) {
    EXPECT_EQ(i < blocked ? "new" : "old", Dest(L"inner\\" + inner[i])) << "inner entry " << i;
  }
  for (size_t i = 0; i < top.size(); ++i) {
    if (i == innerAt) continue;
    EXPECT_EQ(i < innerAt ? "new" : "old", Dest(top[i])) << "top entry " << i;
  }
}

TEST(SystemFolderSource, TakesSys2020OnlyForALaterFirst2020InALongerPath) {
  EXPECT_STREQ(L"\\Veskaro\\Sys2020", SystemFolderSource(L"C:\\Veskaro\\Sys2020"));
  EXPECT_STREQ(L"\\Veskaro\\Sys2021", SystemFolderSource(L"C:\\Veskaro\\Sys2021"));
  EXPECT_STREQ(L"\\Veskaro\\Sys2021", SystemFolderSource(L""));
  EXPECT_STREQ(L"\\Veskaro\\Sys2021", SystemFolderSource(L"2020\\Veskaro\\Sys2020"));
  EXPECT_STREQ(L"\\Veskaro\\Sys2020", SystemFolderSource(L"x2020yz"));  // 7 characters
  EXPECT_STREQ(L"\\Veskaro\\Sys2021", SystemFolderSource(L"x2020y"));   // 6 characters
  EXPECT_STREQ(L"\\Veskaro\\Sys2021", SystemFolderSource(L"C:\\2O20\\Sys"));
  EXPECT_STREQ(L"\\Veskaro\\Sys2020", SystemFolderSource(L"D:\\Programme\\V 2020 \u00e4"));
}

TEST(RefreshTreeLinks, FolderLinksOfTheSourceAreNotFollowed) {
  const std::wstring root = PackageLinkFixtures() + L"\\tree";
  const std::wstring source = root + L"\\src";
  const std::wstring destination = root + L"\\dst";
  for (const wchar_t* link : {L"\\src\\loop1", L"\\src\\loop2", L"\\src\\ext", L"\\dst\\loop1"}) {
    ASSERT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT),
              Attributes(root + link) & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
        << Narrow(link) << ": the link fixture is missing";
  }
  WriteBytes(source + L"\\a.dll", "new a");
  WriteBytes(source + L"\\sub\\b.dll", "new b");
  WriteBytes(root + L"\\outside\\x.dll", "outside x");
  WriteBytes(destination + L"\\a.dll", "old a");
  WriteBytes(destination + L"\\sub\\b.dll", "old b");
  WriteBytes(destination + L"\\ext\\x.dll", "installed x");

  UpdateContext context;
  EXPECT_TRUE(context.RefreshFolderTree(source.c_str(), destination.c_str()));
  EXPECT_EQ("new a", ReadBytes(destination + L"\\a.dll"));
  EXPECT_EQ("new b", ReadBytes(destination + L"\\sub\\b.dll"));
  EXPECT_EQ("installed x", ReadBytes(destination + L"\\ext\\x.dll"));
}

}  // namespace
