// The settings file as installations leave it: missing, partial, long
// values, written by other tools in UTF-16 or in the ANSI code page, and a
// machine whose shell can't report the common application data folder.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <memory>
#include <string>

#include "settings/settings_file.h"
#include "support/sandbox.h"

namespace {

using namespace testing_support;

class SettingsFile : public testing::Test {
 protected:
  void SetUp() override {
    DeleteFileW(path_.c_str());
    ForgetProfileCache(path_);
  }

  const std::wstring path_ = CommonAppData() + L"\\Quendris\\QIRO\\Settings\\qiro.ini";
  FileSnapshot saved_{path_};
};

TEST_F(SettingsFile, LiesInTheCommonApplicationDataFolder) {
  EXPECT_EQ(L"C:\\ProgramData\\Quendris\\QIRO\\Settings\\qiro.ini", path_);
  tmk_String path(L"earlier");
  EXPECT_TRUE(SettingsFilePathOf(path));
  EXPECT_EQ(path_, path.Text());
  EXPECT_EQ(path_, SettingsFileLocation().Text());
}

TEST_F(SettingsFile, RootAndLanguageAreReadFromTheirSection) {
  WriteText(path_,
            L"[Other]\r\nPHI_ROOTPATH=X:\\Wrong\r\n"
            L"[TMK-QIRO]\r\nPHI_ROOTPATH=D:\\Plant\r\nPHI_LANGUAGE = Deutsch \r\n");
  tmk_String root(L"earlier");
  tmk_String language(L"earlier");
  EXPECT_EQ(0, ReadSettingsRootPath(root));
  EXPECT_EQ(0, ReadSettingsLanguage(language));
  EXPECT_STREQ(L"D:\\Plant", root.Text());
  EXPECT_STREQ(L"Deutsch", language.Text());
}

TEST_F(SettingsFile, MissingFileSectionKeyOrValueGiveTheEmptyText) {
  auto expectEmpty = [](const char* situation) {
    tmk_String root(L"earlier");
    tmk_String language(L"English");
    ReadSettingsRootPath(root);
    ReadSettingsLanguage(language);
    EXPECT_STREQ(L"", root.Text()) << situation;
    EXPECT_STREQ(L"", language.Text()) << situation;
  };
  expectEmpty("no file");
  EXPECT_FALSE(PathExists(path_)) << "reads must not create the file";
  WriteText(path_, L"[Other]\r\nPHI_ROOTPATH=D:\\Plant\r\n");
  expectEmpty("no section");
  WriteText(path_, L"[TMK-QIRO]\r\nPHI_DWGEDITORARGUMENT=x\r\n");
  expectEmpty("no key");
  WriteText(path_, L"[TMK-QIRO]\r\nPHI_ROOTPATH=\r\nPHI_LANGUAGE=\r\n");
  expectEmpty("empty values");
}

TEST_F(SettingsFile, LongValuesAreCutTo259Units) {
  std::wstring longRoot = L"D:\\" + std::wstring(297, L'r');  // 300 units
  WriteText(path_, L"[TMK-QIRO]\r\nPHI_ROOTPATH=" + longRoot + L"\r\n");
  tmk_String root;
  ReadSettingsRootPath(root);
  EXPECT_EQ(longRoot.substr(0, 259), root.Text());

  tmk_String value;
  EXPECT_EQ(259u, ReadSettingsText(tmk_String(path_.c_str()), L"TMK-QIRO", L"PHI_ROOTPATH", value));
  std::wstring exact(259, L'e');
  WriteText(path_, L"[TMK-QIRO]\r\nPHI_ROOTPATH=" + exact + L"\r\n");
  ReadSettingsRootPath(root);
  EXPECT_EQ(exact, root.Text());
}

TEST_F(SettingsFile, Utf16AndAnsiFilesReadAlike) {
  WriteUtf16Text(path_, L"[TMK-QIRO]\r\nPHI_ROOTPATH=D:\\Anlagen \u03A9\r\nPHI_LANGUAGE=Fran\u00e7ais\r\n");
  tmk_String root;
  tmk_String language;
  ReadSettingsRootPath(root);
  ReadSettingsLanguage(language);
  EXPECT_STREQ(L"D:\\Anlagen \u03A9", root.Text());  // outside the ANSI code page
  EXPECT_STREQ(L"Fran\u00e7ais", language.Text());

  ASSERT_EQ(1252u, GetACP()) << "the ANSI file below is written in code page 1252";
  WriteBytes(path_, "[TMK-QIRO]\r\nPHI_ROOTPATH=D:\\Stra\xDF" "e\r\nPHI_LANGUAGE=Fran\xE7" "ais\r\n");
  ReadSettingsRootPath(root);
  ReadSettingsLanguage(language);
  EXPECT_STREQ(L"D:\\Stra\u00DFe", root.Text());
  EXPECT_STREQ(L"Fran\u00e7ais", language.Text());
}

TEST_F(SettingsFile, UnknownCommonFolderReadsAsMissingAndWritesNothing) {
  WriteText(path_, L"[TMK-QIRO]\r\nPHI_ROOTPATH=D:\\Plant\r\nPHI_LANGUAGE=Deutsch\r\n");
  const std::wstring folder = L"C:\\vskr_tests\\settings cwd";
  ResetFolder(folder);
  CurrentFolderChange inFolder(folder);
  // What a path built from an unset folder would reach: "0\..." here.
  const std::wstring stray = folder + L"\\0\\Quendris\\QIRO\\Settings\\qiro.ini";
  WriteText(stray, L"[TMK-QIRO]\r\nPHI_ROOTPATH=C:\\Stray\r\nPHI_LANGUAGE=Stray\r\n");
  {
    CommonAppDataUnavailable unavailable;
    ASSERT_TRUE(unavailable.Active());
    tmk_String path(L"earlier");
    EXPECT_FALSE(SettingsFilePathOf(path));
    EXPECT_STREQ(L"earlier", path.Text());
    EXPECT_TRUE(SettingsFileLocation().IsEmpty());
    tmk_String root(L"earlier");
    tmk_String language(L"earlier");
    ReadSettingsRootPath(root);
    ReadSettingsLanguage(language);
    EXPECT_STREQ(L"", root.Text());
    EXPECT_STREQ(L"", language.Text());
    WriteSettingsText(SettingsFileLocation(), L"TMK-QIRO", L"PHI_ROOTPATH", tmk_String(L"C:\\New"));
  }
  EXPECT_EQ(std::wstring(L"[TMK-QIRO]\r\nPHI_ROOTPATH=D:\\Plant\r\nPHI_LANGUAGE=Deutsch\r\n"),
            ReadText(path_));
  EXPECT_EQ(std::wstring(L"[TMK-QIRO]\r\nPHI_ROOTPATH=C:\\Stray\r\nPHI_LANGUAGE=Stray\r\n"),
            ReadText(stray));
  tmk_String root;
  ReadSettingsRootPath(root);
  EXPECT_STREQ(L"D:\\Plant", root.Text());
  DeleteTreeNoFollow(folder);
}

}  // namespace
