// The workstation settings writer against the sandbox's product key and
// settings file: the root folder check and its message, a product key that
// can't be opened, the computer's own section, the product switch in the
// launch arguments, settings files in UTF-16 and in the ANSI code page, and
// a machine whose common application data folder is unknown.
#include <gtest/gtest.h>

#include <cwchar>
#include <cwctype>
#include <string>
#include <utility>
#include <vector>

#include "settings/update_context.h"
#include "support/sandbox.h"
#include "workstation/workstation_settings.h"

namespace {

using namespace testing_support;

const wchar_t kInstallation[] = L"C:\\vskr_tests\\Veskaro";
const wchar_t kProgramFolder[] = L"C:\\vskr_tests\\Veskaro\\Sys";
const wchar_t kMarker[] = L"C:\\vskr_tests\\Veskaro\\Sys\\VC_BaseSBCS_RD.dll";
const wchar_t kProgramPathText[] =
    L"The VESKARO program path cannot be determined. Please contact your administrator or "
    L"the VESKARO hotline.";

// The message, owned by whatever window was in front at the moment (none in
// most tests), with an OK button and no icon.
void ExpectProgramPathMessage(const std::vector<Dialog>& dialogs) {
  ASSERT_EQ(1u, dialogs.size());
  EXPECT_EQ(L"Error", dialogs[0].caption);
  EXPECT_EQ(kProgramPathText, dialogs[0].text);
  EXPECT_FALSE(dialogs[0].hasIcon);
}
const wchar_t kSharp[] = L"Proze\u00DFschema";

std::wstring ComputerName() {
  wchar_t name[16] = {0};
  DWORD size = 16;
  GetComputerNameW(name, &size);
  return name;
}

class WorkstationSettings : public testing::Test {
 protected:
  void SetUp() override {
    DeleteMachineKey(kProductKeyPath);
    DeleteFileW(settings_.c_str());
    ForgetProfileCache(settings_);
    ResetFolder(kProgramFolder);
  }
  void TearDown() override {
    DeleteMachineKey(kProductKeyPath);
    DeleteTreeNoFollow(kInstallation);
  }

  // A product key as the installation writes it: the program folder below
  // the root, values with their terminating zero.
  void InstallProductKey(const std::wstring& root, const std::wstring& product = L"/product ACA",
                         const std::wstring& code = L"1004") {
    SetProductText(L"ROOTPATH", root);
    SetProductText(L"EXECUTABLEPATH", kProgramFolder);
    SetProductText(L"Linked_ACAD_Product", product);
    SetProductText(L"Linked_ACAD_Id", code);
  }

  int Run(UpdateContext& context) {
    DialogWatcher watcher;
    int result = context.WriteWorkstationSettings();
    dialogs_ = watcher.Stop();
    ForgetProfileCache(settings_);
    return result;
  }
  int LoadAndRun(UpdateContext& context) {
    context.ReadProductSettings();
    return Run(context);
  }

  std::wstring Setting(const wchar_t* section, const wchar_t* key) {
    ForgetProfileCache(settings_);
    wchar_t buffer[2048] = {0};
    GetPrivateProfileStringW(section, key, L"<missing>", buffer, 2048, settings_.c_str());
    return buffer;
  }
  RegistryValue Product(const wchar_t* name) { return ReadMachineValue(kProductKeyPath, name); }

  const std::wstring settings_ = CommonAppData() + L"\\Quendris\\QIRO\\Settings\\qiro.ini";
  FileSnapshot saved_{settings_};
  std::vector<Dialog> dialogs_;
};

// ------------------------------------------------------- the root folder

TEST_F(WorkstationSettings, RootsEqualApartFromCaseAreTrustedWithoutLooking) {
  InstallProductKey(kInstallation);
  WriteText(settings_, L"[TMK-QIRO]\r\nPHI_ROOTPATH=c:\\VSKR_TESTS\\veskaro\r\n");
  std::string before = ReadBytes(settings_);
  UpdateContext context;
  EXPECT_EQ(0, LoadAndRun(context));  // no marker file, and no need for one
  EXPECT_TRUE(dialogs_.empty());
  EXPECT_STREQ(kInstallation, context.RootPath.Text());
  EXPECT_EQ(before, ReadBytes(settings_));
}

TEST_F(WorkstationSettings, ShortRootsAreCheckedEvenWhenEqual) {
  InstallProductKey(L"C:\\");
  WriteText(settings_, L"[TMK-QIRO]\r\nPHI_ROOTPATH=C:\\\r\n");
  {
    UpdateContext context;
    EXPECT_EQ(1, LoadAndRun(context));
    ExpectProgramPathMessage(dialogs_);
  }
  WriteBytes(kMarker, "MZ");
  UpdateContext context;
  EXPECT_EQ(0, LoadAndRun(context));
  EXPECT_TRUE(dialogs_.empty());
  EXPECT_STREQ(L"C:\\", context.RootPath.Text());
}

TEST_F(WorkstationSettings, MarkedProgramFolderLetsTheSettingsRootWin) {
  InstallProductKey(L"C:\\Old Root");
  WriteText(settings_, L"[TMK-QIRO]\r\nPHI_ROOTPATH=D:\\Plant\r\n");
  WriteBytes(kMarker, "MZ");
  UpdateContext context;
  EXPECT_EQ(0, LoadAndRun(context));
  EXPECT_TRUE(dialogs_.empty());
  EXPECT_STREQ(L"D:\\Plant", context.RootPath.Text());
  EXPECT_EQ(L"D:\\Plant", Setting(L"TMK-QIRO", L"PHI_ROOTPATH"));
  EXPECT_EQ(L"C:\\Old Root", Product(L"ROOTPATH").Units().substr(0, 11));  // key not changed
}

std::vector<std::wstring> looked;

// The marker file appears right after the first look, as when the program
// folder is being filled while the updater starts.
bool MarkerTurnsUpAfterTheFirstLook(tmk_String folder) {
  bool found = IsProgramFolder(folder);
  looked.push_back(folder.Text());
  if (looked.size() == 1) WriteBytes(kMarker, "MZ");
  return found;
}

TEST_F(WorkstationSettings, ProgramFolderFoundAtTheSecondLookMakesItsParentTheRoot) {
  InstallProductKey(L"C:\\Old Root");
  WriteText(settings_, L"[TMK-QIRO]\r\nPHI_ROOTPATH=D:\\Plant\r\n[" + ComputerName() +
                           L"]\r\nPHI_PRJPATH=P:\\Projekte\r\n");
  looked.clear();
  UpdateContext context;
  context.ReadProductSettings();
  DialogWatcher watcher;
  EXPECT_EQ(0, WriteWorkstationSettingsWith(context, &MarkerTurnsUpAfterTheFirstLook));
  EXPECT_TRUE(watcher.Stop().empty());
  EXPECT_EQ(std::vector<std::wstring>({kProgramFolder, kProgramFolder}), looked);
  EXPECT_STREQ(kInstallation, context.RootPath.Text());
  EXPECT_EQ(L"P:\\Projekte", Product(L"PROJECT_PATH").Units());  // the run went on
}

TEST_F(WorkstationSettings, UnverifiedProgramFolderShowsTheMessageAndWritesNothing) {
  InstallProductKey(L"C:\\Old Root", L"0", L"1004");
  WriteText(settings_, L"[TMK-QIRO]\r\nPHI_ROOTPATH=0\r\nPHI_DWGEDITORARGUMENT=abc 0\r\n[" +
                           ComputerName() + L"]\r\nPHI_PRJPATH=P:\\Projekte\r\n");
  std::string before = ReadBytes(settings_);
  RegistryValue productBefore = Product(L"Linked_ACAD_Product");
  HWND owner = CreateWindowExW(0, L"STATIC", L"foreground", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0,
                               0, 200, 100, nullptr, nullptr, nullptr, nullptr);
  SetForegroundWindow(owner);
  ASSERT_EQ(owner, GetForegroundWindow());
  UpdateContext context;
  EXPECT_EQ(1, LoadAndRun(context));
  DestroyWindow(owner);
  ExpectProgramPathMessage(dialogs_);
  ASSERT_FALSE(dialogs_.empty());
  EXPECT_EQ(owner, dialogs_[0].owner);
  EXPECT_EQ(before, ReadBytes(settings_));
  EXPECT_FALSE(Product(L"PROJECT_PATH").exists);
  EXPECT_EQ(productBefore.data, Product(L"Linked_ACAD_Product").data);
  EXPECT_STREQ(kInstallation, context.RootPath.Text());  // the run ends without using it
}

TEST_F(WorkstationSettings, MarkerFileIsLookedUpUnderItsExactName) {
  EXPECT_FALSE(IsProgramFolder(kProgramFolder));
  WriteBytes(kMarker, "");
  EXPECT_TRUE(IsProgramFolder(kProgramFolder));
  EXPECT_TRUE(IsProgramFolder(std::wstring(kProgramFolder).append(L"\\").c_str()));
  EXPECT_FALSE(IsProgramFolder(kInstallation));
  EXPECT_FALSE(IsProgramFolder(L"C:\\vskr_tests\\Veskaro\\Sy"));
  DeleteFileW(kMarker);
  CreateFolders(kMarker);  // a folder of that name is found as well
  EXPECT_TRUE(IsProgramFolder(kProgramFolder));
}

TEST_F(WorkstationSettings, UnfilledSettingsRootReceivesTheRegistryRoot) {
  InstallProductKey(kInstallation);
  WriteBytes(kMarker, "MZ");
  WriteText(settings_, L"[TMK-QIRO]\r\nPHI_ROOTPATH=0\r\n");
  {
    UpdateContext context;
    EXPECT_EQ(0, LoadAndRun(context));
    EXPECT_STREQ(kInstallation, context.RootPath.Text());
    EXPECT_EQ(kInstallation, Setting(L"TMK-QIRO", L"PHI_ROOTPATH"));
  }
  DeleteFileW(settings_.c_str());  // no file at all: the same
  ForgetProfileCache(settings_);
  UpdateContext context;
  EXPECT_EQ(0, LoadAndRun(context));
  EXPECT_TRUE(dialogs_.empty());
  EXPECT_STREQ(kInstallation, context.RootPath.Text());
  EXPECT_EQ(kInstallation, Setting(L"TMK-QIRO", L"PHI_ROOTPATH"));
}

// ------------------------------------------- a key that can't be opened

TEST_F(WorkstationSettings, WithoutProductKeyNothingIsCheckedOrDerived) {
  WriteText(settings_, L"[TMK-QIRO]\r\nPHI_ROOTPATH=0\r\nPHI_DWGEDITORARGUMENT=abc 0\r\n");
  UpdateContext context;
  context.RootPath.Assign(L"C:\\Registry Root");
  context.ExecutablePath.Assign(kProgramFolder);  // no marker file
  context.LinkedAcadProduct.Assign(L"0");
  context.LinkedAcadId.Assign(L"1004");
  EXPECT_EQ(0, Run(context));
  EXPECT_TRUE(dialogs_.empty());
  EXPECT_STREQ(L"0", context.LinkedAcadProduct.Text());
  EXPECT_EQ(L"C:\\Registry Root", Setting(L"TMK-QIRO", L"PHI_ROOTPATH"));
  EXPECT_EQ(L"abc 0", Setting(L"TMK-QIRO", L"PHI_DWGEDITORARGUMENT"));
  EXPECT_FALSE(MachineKeySnapshot(kProductKeyPath).KeyExisted());

  UpdateContext known;
  known.LinkedAcadProduct.Assign(L"/product MEP");
  EXPECT_EQ(0, Run(known));
  EXPECT_EQ(L"abc /product MEP", Setting(L"TMK-QIRO", L"PHI_DWGEDITORARGUMENT"));
  EXPECT_FALSE(MachineKeySnapshot(kProductKeyPath).KeyExisted());
}

// ------------------------------------------ the computer's own section

TEST_F(WorkstationSettings, ComputerSectionFillsOnlyTheFoldersTheRegistryLacks) {
  InstallProductKey(kInstallation);
  SetProductText(L"PROJECT_PATH", L"");  // empty counts as missing
  SetProductText(L"DATABASE_PATH", L"D:\\Registry Db");
  std::wstring lower = ComputerName();
  for (wchar_t& c : lower) c = towlower(c);
  WriteText(settings_, L"[TMK-QIRO]\r\nPHI_ROOTPATH=" + std::wstring(kInstallation) + L"\r\n[" +
                           lower + L"]\r\nPHI_PRJPATH=P:\\Projekte\r\nVERSANT_DB=D:\\Ini Db\r\n");
  UpdateContext context;
  EXPECT_EQ(0, LoadAndRun(context));
  EXPECT_STREQ(L"P:\\Projekte", context.ProjectPath.Text());
  RegistryValue project = Product(L"PROJECT_PATH");
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), project.type);
  EXPECT_EQ(22u, project.data.size());
  EXPECT_EQ(L"P:\\Projekte", project.Units());
  EXPECT_STREQ(L"D:\\Registry Db", context.DatabasePath.Text());
  EXPECT_EQ(30u, Product(L"DATABASE_PATH").data.size());  // as installed, with its zero
}

TEST_F(WorkstationSettings, EmptySectionValuesAreMissingAndLongOnesCut) {
  InstallProductKey(kInstallation);
  std::wstring longDb = L"D:\\" + std::wstring(297, L'd');
  WriteText(settings_, L"[TMK-QIRO]\r\nPHI_ROOTPATH=" + std::wstring(kInstallation) + L"\r\n[" +
                           ComputerName() + L"]\r\nPHI_PRJPATH=\r\nVERSANT_DB=" + longDb + L"\r\n");
  UpdateContext context;
  EXPECT_EQ(0, LoadAndRun(context));
  EXPECT_TRUE(context.ProjectPath.IsEmpty());
  EXPECT_FALSE(Product(L"PROJECT_PATH").exists);
  EXPECT_EQ(longDb.substr(0, 259), context.DatabasePath.Text());
  RegistryValue database = Product(L"DATABASE_PATH");
  EXPECT_EQ(518u, database.data.size());
  EXPECT_EQ(longDb.substr(0, 259), database.Units());
}

TEST_F(WorkstationSettings, WithoutComputerNameTheSectionIsNotRead) {
  const wchar_t active[] = L"System\\CurrentControlSet\\Control\\ComputerName\\ActiveComputerName";
  std::wstring name = ComputerName();
  InstallProductKey(kInstallation);
  WriteText(settings_, L"[TMK-QIRO]\r\nPHI_ROOTPATH=" + std::wstring(kInstallation) + L"\r\n[" +
                           name + L"]\r\nPHI_PRJPATH=P:\\Projekte\r\n");
  MachineKeySnapshot savedName(active);
  SetMachineText(active, L"ComputerName", L"WORKSTATION-OF-TWENTY");  // over 15 characters
  wchar_t probe[16];
  DWORD size = 16;
  ASSERT_FALSE(GetComputerNameW(probe, &size)) << "the name must not fit its buffer";
  UpdateContext context;
  EXPECT_EQ(0, LoadAndRun(context));
  savedName.Restore();
  EXPECT_EQ(name, ComputerName());
  EXPECT_TRUE(context.ProjectPath.IsEmpty());
  EXPECT_FALSE(Product(L"PROJECT_PATH").exists);
}

// ---------------------------------------------------- the product switch

// One launch argument per entry, in the order of completion; `missing`
// leaves the key out of its section.
std::wstring LaunchArguments(const std::vector<std::wstring>& values) {
  const std::vector<std::wstring> sections = {L"TMK-QIRO", L"2D-PIPE",   L"3D-PIPE",
                                              L"ISO",      kSharp,       L"Installationsplan",
                                              L"Logikplan", L"Stromlaufplan", L"Hookup"};
  std::wstring text = L"[TMK-QIRO]\r\nPHI_ROOTPATH=" + std::wstring(kInstallation) + L"\r\n";
  for (size_t i = 0; i < sections.size(); ++i) {
    if (i > 0) text += L"[" + sections[i] + L"]\r\n";
    const wchar_t* key = i == 0 ? L"PHI_DWGEDITORARGUMENT" : L"APP_ACADARGUMENT";
    if (values[i] != L"missing") text += std::wstring(key) + L"=" + values[i] + L"\r\n";
    text += L"OTHER=x 0\r\n";
  }
  return text + L"[Elsewhere]\r\nAPP_ACADARGUMENT=e 0\r\n";
}

TEST_F(WorkstationSettings, PlaceholderProductIsDerivedStoredAndPutInPlaceOfTheTrailingZero) {
  InstallProductKey(kInstallation, L"0", L"1004");
  WriteUtf16Text(settings_, LaunchArguments({L"acad.exe /p VESKARO 0", L"x 10", L"0",
                                             L"acad.exe /nologo", L"p 0", L"missing", L"l 0",
                                             L"s O", L"h 0"}));
  UpdateContext context;
  EXPECT_EQ(0, LoadAndRun(context));
  EXPECT_STREQ(L"/product ACA", context.LinkedAcadProduct.Text());
  RegistryValue stored = Product(L"Linked_ACAD_Product");
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), stored.type);
  EXPECT_EQ(24u, stored.data.size());
  EXPECT_EQ(L"/product ACA", stored.Units());

  EXPECT_EQ(L"acad.exe /p VESKARO /product ACA", Setting(L"TMK-QIRO", L"PHI_DWGEDITORARGUMENT"));
  EXPECT_EQ(L"x 1/product ACA", Setting(L"2D-PIPE", L"APP_ACADARGUMENT"));
  EXPECT_EQ(L"/product ACA", Setting(L"3D-PIPE", L"APP_ACADARGUMENT"));
  EXPECT_EQ(L"acad.exe /nologo", Setting(L"ISO", L"APP_ACADARGUMENT"));
  EXPECT_EQ(L"p /product ACA", Setting(kSharp, L"APP_ACADARGUMENT"));
  EXPECT_EQ(L"<missing>", Setting(L"Installationsplan", L"APP_ACADARGUMENT"));
  EXPECT_EQ(L"l /product ACA", Setting(L"Logikplan", L"APP_ACADARGUMENT"));
  EXPECT_EQ(L"s O", Setting(L"Stromlaufplan", L"APP_ACADARGUMENT"));
  EXPECT_EQ(L"h /product ACA", Setting(L"Hookup", L"APP_ACADARGUMENT"));
  EXPECT_EQ(L"x 0", Setting(L"Hookup", L"OTHER"));
  EXPECT_EQ(L"e 0", Setting(L"Elsewhere", L"APP_ACADARGUMENT"));
}

TEST_F(WorkstationSettings, UnknownCodeStoresAnEmptySwitchAndLeavesTheArguments) {
  InstallProductKey(kInstallation, L"", L"0002");
  WriteText(settings_, LaunchArguments({L"a 0", L"b 0", L"c 0", L"d 0", L"p 0", L"f 0", L"g 0",
                                        L"h 0", L"i 0"}));
  std::string before = ReadBytes(settings_);
  UpdateContext context;
  EXPECT_EQ(0, LoadAndRun(context));
  EXPECT_TRUE(context.LinkedAcadProduct.IsEmpty());
  RegistryValue stored = Product(L"Linked_ACAD_Product");
  EXPECT_TRUE(stored.exists);
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), stored.type);
  EXPECT_EQ(0u, stored.data.size());
  EXPECT_EQ(before, ReadBytes(settings_));
}

TEST_F(WorkstationSettings, ShortCodeOrShortProductDeriveNothing) {
  WriteText(settings_, LaunchArguments({L"a 0", L"b 0", L"c 0", L"d 0", L"p 0", L"f 0", L"g 0",
                                        L"h 0", L"i 0"}));
  std::string before = ReadBytes(settings_);
  for (auto [product, code] : {std::pair<const wchar_t*, const wchar_t*>{L"", L"13"},
                               {L"0", L"13"},
                               {L"AB", L"1004"}}) {
    InstallProductKey(kInstallation, product, code);
    UpdateContext context;
    EXPECT_EQ(0, LoadAndRun(context));
    EXPECT_STREQ(product, context.LinkedAcadProduct.Text());
    EXPECT_EQ(2 * (std::wcslen(product) + 1), Product(L"Linked_ACAD_Product").data.size())
        << "not written again";
    EXPECT_EQ(before, ReadBytes(settings_));
  }
}

TEST_F(WorkstationSettings, ProductAlreadySetIsUsedWhateverTheCode) {
  InstallProductKey(kInstallation, L"/product MEP", L"1004");
  WriteText(settings_, LaunchArguments({L"a 0", L"b", L"c", L"d", L"p", L"f", L"g", L"h", L"i"}));
  UpdateContext context;
  EXPECT_EQ(0, LoadAndRun(context));
  EXPECT_STREQ(L"/product MEP", context.LinkedAcadProduct.Text());
  EXPECT_EQ(26u, Product(L"Linked_ACAD_Product").data.size());  // as installed, with its zero
  EXPECT_EQ(L"a /product MEP", Setting(L"TMK-QIRO", L"PHI_DWGEDITORARGUMENT"));
}

TEST_F(WorkstationSettings, ArgumentsThatFillTheReadBufferAreLeftWhole) {
  InstallProductKey(kInstallation);
  std::wstring longArgument = std::wstring(258, L'a') + L"0 /b 0";  // 259th unit is a 0
  std::wstring fitting = std::wstring(257, L'f') + L"0";            // 258 units
  WriteText(settings_, LaunchArguments({longArgument, fitting, L"c", L"d", L"p", L"f", L"g",
                                        L"h", L"i"}));
  UpdateContext context;
  EXPECT_EQ(0, LoadAndRun(context));
  EXPECT_EQ(longArgument, Setting(L"TMK-QIRO", L"PHI_DWGEDITORARGUMENT"));
  EXPECT_EQ(std::wstring(257, L'f') + L"/product ACA", Setting(L"2D-PIPE", L"APP_ACADARGUMENT"));
}

// ------------------------------------------------------------ encodings

TEST_F(WorkstationSettings, Utf16SettingsFileStaysUtf16) {
  InstallProductKey(kInstallation);
  SetProductText(L"ROOTPATH", L"C:\\Anlagen \u03A9");  // not in the ANSI code page
  WriteBytes(kMarker, "MZ");
  WriteUtf16Text(settings_, L"[TMK-QIRO]\r\nPHI_ROOTPATH=0\r\nPHI_DWGEDITORARGUMENT=a 0\r\n[" +
                                std::wstring(kSharp) + L"]\r\nAPP_ACADARGUMENT=p 0\r\n");
  UpdateContext context;
  EXPECT_EQ(0, LoadAndRun(context));
  std::string bytes = ReadBytes(settings_);
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ("\xFF\xFE", bytes.substr(0, 2));
  std::wstring text = ReadText(settings_);
  EXPECT_NE(std::wstring::npos, text.find(L"PHI_ROOTPATH=C:\\Anlagen \u03A9\r\n"));
  EXPECT_NE(std::wstring::npos,
            text.find(L"[" + std::wstring(kSharp) + L"]\r\nAPP_ACADARGUMENT=p /product ACA\r\n"));
}

TEST_F(WorkstationSettings, AnsiSettingsFileStaysAnsi) {
  ASSERT_EQ(1252u, GetACP());
  InstallProductKey(kInstallation);
  SetProductText(L"ROOTPATH", L"C:\\Stra\u00DFe");
  WriteBytes(kMarker, "MZ");
  WriteBytes(settings_,
             "[TMK-QIRO]\r\nPHI_ROOTPATH=0\r\n[Proze\xDFschema]\r\nAPP_ACADARGUMENT=p 0\r\n");
  UpdateContext context;
  EXPECT_EQ(0, LoadAndRun(context));
  std::string bytes = ReadBytes(settings_);
  EXPECT_NE("\xFF\xFE", bytes.substr(0, 2));
  EXPECT_NE(std::string::npos, bytes.find("PHI_ROOTPATH=C:\\Stra\xDF" "e\r\n"));
  EXPECT_NE(std::string::npos,
            bytes.find("[Proze\xDFschema]\r\nAPP_ACADARGUMENT=p /product ACA\r\n"));
}

TEST_F(WorkstationSettings, NewSettingsFileIsWrittenInTheAnsiCodePage) {
  InstallProductKey(kInstallation);
  SetProductText(L"ROOTPATH", L"C:\\Stra\u00DFe \u03A9");
  WriteBytes(kMarker, "MZ");
  UpdateContext context;
  EXPECT_EQ(0, LoadAndRun(context));
  std::string bytes = ReadBytes(settings_);
  EXPECT_NE("\xFF\xFE", bytes.substr(0, 2));
  // A character outside the code page does not survive in such a file: it
  // becomes its nearest look-alike (here the letter O) or a question mark.
  EXPECT_EQ(std::string("[TMK-QIRO]\r\nPHI_ROOTPATH=C:\\Stra\xDF" "e O\r\n"), bytes);
}

// ------------------------------------------- an unknown common folder

TEST_F(WorkstationSettings, UnknownCommonFolderLeavesEverySettingsFileAlone) {
  InstallProductKey(L"C:\\Registry Root", L"0", L"1005");
  WriteBytes(kMarker, "MZ");
  WriteText(settings_, L"[TMK-QIRO]\r\nPHI_ROOTPATH=D:\\Plant\r\nPHI_DWGEDITORARGUMENT=a 0\r\n");
  std::string before = ReadBytes(settings_);
  const std::wstring folder = L"C:\\vskr_tests\\workstation cwd";
  ResetFolder(folder);
  int result;
  UpdateContext context;
  {
    CurrentFolderChange inFolder(folder);
    CommonAppDataUnavailable unavailable;
    ASSERT_TRUE(unavailable.Active());
    result = LoadAndRun(context);
  }
  EXPECT_EQ(0, result);
  EXPECT_TRUE(dialogs_.empty());
  EXPECT_STREQ(L"C:\\Registry Root", context.RootPath.Text());  // no settings root to take
  EXPECT_EQ(L"/product ACADM", Product(L"Linked_ACAD_Product").Units());
  EXPECT_EQ(before, ReadBytes(settings_));
  EXPECT_FALSE(PathExists(folder + L"\\0"));
  EXPECT_FALSE(PathExists(folder + L"\\Quendris"));
  DeleteTreeNoFollow(folder);
}

}  // namespace
