// The pieces an elevated run relies on: the updater's own folder told in
// every form it can be started from, and folders for administrators alone
// (this Wine keeps no descriptor, so the one the program builds is checked).
#include <gtest/gtest.h>

#include <windows.h>

#include <sddl.h>

#include <cctype>
#include <set>
#include <string>

#include "platform/admin_folder.h"
#include "platform/path_identity.h"
#include "support/sandbox.h"

namespace {

using namespace testing_support;

// A share root in its plain and "\\?\" forms gives the share, a short (8.3)
// path its long form (a drive root is run end to end); a relative path gives
// no folder, so nothing is searched as if it were the own folder.
TEST(OwnFolder, EveryFormOfTheProgramPathGivesItsFolder) {
  for (const auto& row :
       {std::make_pair(L"\\\\server\\share\\vskr_updater.exe", L"\\\\server\\share"),
        std::make_pair(L"\\\\?\\UNC\\server\\share\\vskr_updater.exe", L"\\\\server\\share"),
        std::make_pair(L"E:vskr_updater.exe", L"")})
    EXPECT_EQ(row.second, ComparableFolderOf(row.first)) << Narrow(row.first);
  // This Wine names a program started by its short (8.3) path by its long one.
  wchar_t shortForm[MAX_PATH] = {0};
  ASSERT_NE(0u, GetShortPathNameW(L"C:\\Program Files\\", shortForm, MAX_PATH));
  EXPECT_TRUE(SamePath(L"C:\\Program Files", ComparableFolderOf(shortForm + std::wstring(L"u.exe"))))
      << Narrow(shortForm);
}

// Full access for the system and the Administrators, inherited by files and
// folders inside, protected from what the folders above grant, owned by the
// Administrators; nothing for Users, Everyone or anyone else.
TEST(AdministratorsOnlyFolder, DescriptorGrantsTheSystemAndAdministratorsAlone) {
  vskr::UniqueLocalMemory descriptor;
  ASSERT_EQ(0u, BuildAdministratorsOnlyDescriptor(descriptor));
  wchar_t* text = nullptr;
  ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(
      descriptor.Get(), SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
      &text, nullptr));
  EXPECT_STREQ(L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", text);
  LocalFree(text);
}

// The program imports only DLLs that Windows always takes from its own
// folder, so none can be planted beside the elevated updater; the others it
// needs (wintrust, crypt32) are loaded by full path when needed.
TEST(ProgramFile, ImportsOnlyDllsTheSystemAlwaysProvides) {
  HMODULE image = LoadLibraryExW((BuildBin() + L"\\vskr_updater.exe").c_str(), nullptr,
                                 DONT_RESOLVE_DLL_REFERENCES);
  ASSERT_NE(nullptr, image);
  const BYTE* base = reinterpret_cast<const BYTE*>(image);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(
      base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  DWORD imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
  const std::set<std::string> known = {"kernel32.dll", "user32.dll", "advapi32.dll",
                                       "shell32.dll",  "ole32.dll",  "msvcrt.dll"};
  int count = 0;
  for (auto* entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports); entry->Name;
       ++entry, ++count) {
    std::string name = reinterpret_cast<const char*>(base + entry->Name);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_TRUE(known.count(name)) << name;
  }
  EXPECT_GT(count, 0);
  FreeLibrary(image);
}

}  // namespace
