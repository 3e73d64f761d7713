// The pieces an elevated run relies on: the updater's own folder told in
// every form it can be started from, and folders for administrators alone
// (this Wine keeps no descriptor, so the one the program builds is checked).
#include <gtest/gtest.h>

#include <windows.h>

#include <sddl.h>

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

}  // namespace
