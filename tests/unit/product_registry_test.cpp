// The product key as the installation and stray tools may leave it: missing,
// empty, oversized, without terminator, of other types.
#include <gtest/gtest.h>

#include <string>

#include "platform/registry_value.h"
#include "settings/update_context.h"
#include "support/sandbox.h"

namespace {

using namespace testing_support;

class ProductKey : public testing::Test {
 protected:
  void SetUp() override { DeleteMachineKey(kProductKeyPath); }
  void TearDown() override { DeleteMachineKey(kProductKeyPath); }
};

TEST_F(ProductKey, LanguageFlagsReadOnlyAWholeOne) {
  {
    UpdateContext context;  // no key at all
    EXPECT_EQ(0, context.LanguageGerman + context.LanguageEnglish + context.LanguageRussian);
    EXPECT_TRUE(context.RootPath.IsEmpty());
    EXPECT_TRUE(context.Language.IsEmpty());
  }
  SetProductText(L"LANGUAGE_GERMAN", L"0");
  SetProductText(L"LANGUAGE_ENGLISH", L"1");
  SetProductText(L"LANGUAGE_RUSSIAN", L"11");
  {
    UpdateContext context;
    EXPECT_EQ(0, context.LanguageGerman);
    EXPECT_EQ(1, context.LanguageEnglish);
    EXPECT_EQ(0, context.LanguageRussian);
  }
  SetProductText(L"LANGUAGE_GERMAN", L"1");
  SetMachineText(kProductKeyPath, L"LANGUAGE_RUSSIAN", L"1", REG_SZ, false);
  {
    UpdateContext context;
    EXPECT_EQ(1, context.LanguageGerman);
    EXPECT_EQ(1, context.LanguageEnglish);
    EXPECT_EQ(1, context.LanguageRussian);
  }
}

TEST_F(ProductKey, OversizedLanguageValueDoesNotDisturbTheNext) {
  std::wstring big = L"1" + std::wstring(150, L' ');  // 302 bytes
  SetProductText(L"LANGUAGE_GERMAN", big);
  SetProductText(L"LANGUAGE_ENGLISH", L"1");
  SetProductText(L"LANGUAGE_RUSSIAN", L"");
  UpdateContext context;
  EXPECT_EQ(0, context.LanguageGerman);
  EXPECT_EQ(1, context.LanguageEnglish);
  EXPECT_EQ(0, context.LanguageRussian);
}

TEST_F(ProductKey, SettingsFillTheirFields) {
  SetProductText(L"ROOTPATH", L"C:\\Program Files\\Veskaro");
  SetProductText(L"EXECUTABLEPATH", L"C:\\Program Files\\Veskaro\\Sys2021");
  SetProductText(L"PROJECT_PATH", L"D:\\Projekte \u00c4");
  SetProductText(L"DATABASE_PATH", L"D:\\Db");
  SetProductText(L"ACAD_Profile_Id", L"VESKARO");
  SetProductText(L"Based_ACAD_Profile", L"<<Unnamed Profile>>");
  SetProductText(L"Linked_ACAD_Location", L"C:\\Program Files\\Autodesk\\AutoCAD 2021");
  SetProductText(L"Linked_ACAD_Product", L"0");
  SetProductText(L"PHI_CONFIGPATH", L"C:\\Cfg");
  SetProductText(L"Linked_ACAD_Id", L"1004");
  SetProductText(L"Linked_CAD_Regkey", L"Software\\Autodesk\\AutoCAD\\R24.0");
  UpdateContext context;
  EXPECT_EQ(0, context.ReadProductSettings());
  EXPECT_STREQ(L"C:\\Program Files\\Veskaro", context.RootPath.Text());
  EXPECT_STREQ(L"C:\\Program Files\\Veskaro\\Sys2021", context.ExecutablePath.Text());
  EXPECT_STREQ(L"D:\\Projekte \u00c4", context.ProjectPath.Text());
  EXPECT_STREQ(L"D:\\Db", context.DatabasePath.Text());
  EXPECT_STREQ(L"VESKARO", context.AcadProfileId.Text());
  EXPECT_STREQ(L"<<Unnamed Profile>>", context.BasedAcadProfile.Text());
  EXPECT_STREQ(L"C:\\Program Files\\Autodesk\\AutoCAD 2021", context.LinkedAcadLocation.Text());
  EXPECT_STREQ(L"0", context.LinkedAcadProduct.Text());
  EXPECT_STREQ(L"C:\\Cfg", context.PhiConfigPath.Text());
  EXPECT_STREQ(L"1004", context.LinkedAcadId.Text());
  EXPECT_STREQ(L"Software\\Autodesk\\AutoCAD\\R24.0", context.LinkedCadRegkey.Text());
  EXPECT_TRUE(context.SettingsFilePath.IsEmpty());
}

TEST_F(ProductKey, MissingKeyOrValuesKeepFields) {
  UpdateContext context;
  context.RootPath.Assign(L"C:\\Earlier");
  EXPECT_EQ(0, context.ReadProductSettings());
  EXPECT_STREQ(L"C:\\Earlier", context.RootPath.Text());
  SetProductText(L"EXECUTABLEPATH", L"C:\\Sys");
  context.ReadProductSettings();
  EXPECT_STREQ(L"C:\\Earlier", context.RootPath.Text());
  EXPECT_STREQ(L"C:\\Sys", context.ExecutablePath.Text());
}

TEST_F(ProductKey, EmptyValueEmptiesItsField) {
  SetProductText(L"ROOTPATH", L"");
  UpdateContext context;
  context.RootPath.Assign(L"C:\\Earlier");
  context.ReadProductSettings();
  EXPECT_TRUE(context.RootPath.IsEmpty());
}

TEST_F(ProductKey, OversizedValueIsSkippedAndTheNextStillRead) {
  SetProductText(L"ROOTPATH", std::wstring(5000, L'r'));  // 10002 bytes with its zero
  SetProductText(L"EXECUTABLEPATH", L"C:\\Sys");
  UpdateContext context;
  context.RootPath.Assign(L"C:\\Earlier");
  context.ReadProductSettings();
  EXPECT_STREQ(L"C:\\Earlier", context.RootPath.Text());
  EXPECT_STREQ(L"C:\\Sys", context.ExecutablePath.Text());
}

TEST_F(ProductKey, ValueFillingTheWholeBufferWithoutTerminator) {
  std::wstring exact(5000, L'e');  // exactly 10000 bytes, no zero
  SetMachineText(kProductKeyPath, L"ROOTPATH", exact, REG_SZ, false);
  UpdateContext context;
  context.ReadProductSettings();
  EXPECT_EQ(exact, context.RootPath.Text());
}

TEST_F(ProductKey, DataIsCutAtItsFirstZeroOrItsEnd) {
  const wchar_t inner[] = {L'C', L':', L'\\', L'A', 0, L'B', L'C'};
  SetMachineValueBytes(kProductKeyPath, L"ROOTPATH", REG_SZ, inner, sizeof inner);
  SetMachineText(kProductKeyPath, L"EXECUTABLEPATH", L"C:\\NoZero", REG_SZ, false);
  SetMachineText(kProductKeyPath, L"PHI_CONFIGPATH", L"C:\\%ProgramData%", REG_EXPAND_SZ);
  const DWORD number = 0x00410042;  // "BA" when taken as two UTF-16 units
  SetMachineValueBytes(kProductKeyPath, L"Linked_ACAD_Id", REG_DWORD, &number, sizeof number);
  const BYTE odd[] = {'X', 0, 'Y'};
  SetMachineValueBytes(kProductKeyPath, L"Linked_CAD_Regkey", REG_BINARY, odd, sizeof odd);
  UpdateContext context;
  context.ReadProductSettings();
  EXPECT_STREQ(L"C:\\A", context.RootPath.Text());
  EXPECT_STREQ(L"C:\\NoZero", context.ExecutablePath.Text());
  EXPECT_STREQ(L"C:\\%ProgramData%", context.PhiConfigPath.Text());
  EXPECT_STREQ(L"BA", context.LinkedAcadId.Text());
  EXPECT_STREQ(L"X", context.LinkedCadRegkey.Text());
}

TEST_F(ProductKey, SingleValueReadsHaveTheSmallerCapacity) {
  EXPECT_TRUE(ReadProductValue(L"DATA_PATH").IsEmpty());  // no key
  SetProductText(L"DATA_PATH", L"D:\\Daten");
  EXPECT_STREQ(L"D:\\Daten", ReadProductValue(L"DATA_PATH").Text());
  SetMachineText(kProductKeyPath, L"WORK_PATH", std::wstring(499, L'w'), REG_SZ, false);
  EXPECT_EQ(std::wstring(499, L'w'), ReadProductValue(L"WORK_PATH").Text());  // 998 bytes
  SetMachineText(kProductKeyPath, L"WORK_PATH", std::wstring(499, L'w'), REG_SZ, true);
  EXPECT_TRUE(ReadProductValue(L"WORK_PATH").IsEmpty());  // 1000 bytes
  EXPECT_TRUE(ReadProductValue(L"MISSING").IsEmpty());
}

}  // namespace

namespace {

TEST(RegistryText, WrittenTextCarriesNoTerminator) {
  using namespace testing_support;
  DeleteMachineKey(kProductKeyPath);
  CreateMachineKey(kProductKeyPath);
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProductKeyPath, 0,
                                         KEY_WRITE | KEY_WOW64_64KEY, &key));
  EXPECT_EQ(0, SetRegistryText(key, L"PHI_LANGUAGE", tmk_String(L"D:\\Db")));
  EXPECT_EQ(0, SetRegistryText(key, L"EMPTY", tmk_String()));
  RegCloseKey(key);
  RegistryValue stored = ReadMachineValue(kProductKeyPath, L"PHI_LANGUAGE");
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), stored.type);
  EXPECT_EQ(10u, stored.data.size());
  EXPECT_EQ(L"D:\\Db", stored.Units());
  RegistryValue empty = ReadMachineValue(kProductKeyPath, L"EMPTY");
  EXPECT_TRUE(empty.exists);
  EXPECT_EQ(0u, empty.data.size());
  DeleteMachineKey(kProductKeyPath);
}

}  // namespace
