// The pieces an elevated run relies on: the updater's own folder told in
// every form it can be started from, and folders for administrators alone
// (this Wine keeps no descriptor, so the one the program builds is checked).
#include <gtest/gtest.h>

#include <string>

#include "platform/admin_folder.h"
#include "platform/path_identity.h"
#include "support/sandbox.h"

namespace {

using namespace testing_support;

TEST(OwnFolder, EveryFormOfTheProgramPathGivesItsFolder) {
  const struct {
    const wchar_t* program;
    const wchar_t* folder;
  } rows[] = {
      {L"E:\\vskr_updater.exe", L"E:"},
      {L"\\\\?\\E:\\vskr_updater.exe", L"E:"},
      {L"\\\\server\\share\\vskr_updater.exe", L"\\\\server\\share"},
      {L"\\\\?\\UNC\\server\\share\\vskr_updater.exe", L"\\\\server\\share"},
      {L"C:\\Updates\\Update 3\\vskr_updater.exe", L"C:\\Updates\\Update 3"},
      {L"E:vskr_updater.exe", L""},  // relative: no folder, so nothing is searched there
      {L"vskr_updater.exe", L""},
  };
  for (const auto& row : rows)
    EXPECT_EQ(row.folder, ComparableFolderOf(row.program)) << Narrow(row.program);
}

TEST(AdministratorsOnlyFolder, DescriptorGrantsTheSystemAndAdministratorsAlone) {
  vskr::UniqueLocalMemory descriptor;
  ASSERT_EQ(0u, BuildAdministratorsOnlyDescriptor(descriptor));
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(GetSecurityDescriptorControl(descriptor.Get(), &control, &revision));
  EXPECT_TRUE(control & SE_DACL_PROTECTED);  // nothing inherited from ProgramData
  PSID owner = nullptr;
  PACL dacl = nullptr;
  BOOL present = FALSE, defaulted = FALSE;
  ASSERT_TRUE(GetSecurityDescriptorOwner(descriptor.Get(), &owner, &defaulted));
  EXPECT_TRUE(IsWellKnownSid(owner, WinBuiltinAdministratorsSid));
  ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor.Get(), &present, &dacl, &defaulted));
  ASSERT_TRUE(present && dacl);
  const WELL_KNOWN_SID_TYPE granted[] = {WinLocalSystemSid, WinBuiltinAdministratorsSid};
  ASSERT_EQ(2u, dacl->AceCount);  // none for Users, Everyone or anyone else
  for (WORD i = 0; i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
    EXPECT_EQ(ACCESS_ALLOWED_ACE_TYPE, ace->Header.AceType);
    EXPECT_EQ(OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, ace->Header.AceFlags);
    EXPECT_EQ(static_cast<DWORD>(FILE_ALL_ACCESS), ace->Mask);
    EXPECT_TRUE(IsWellKnownSid(&ace->SidStart, granted[i]));
  }
}

// Access is given to the folder itself, never to where a link leads.
TEST(AdministratorsOnlyFolder, FolderReachedThroughALinkIsRefused) {
  const std::wstring root = L"C:\\vskr_tests\\admin_only";
  ResetFolder(root + L"\\elsewhere");
  ASSERT_TRUE(MakeLink(root + L"\\link", root + L"\\elsewhere"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_CANT_ACCESS_FILE),
            PrepareAdministratorsOnlyFolder(root + L"\\link"));
  DeleteTreeNoFollow(root);
}

}  // namespace
