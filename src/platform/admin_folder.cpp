#include "platform/admin_folder.h"

#include <aclapi.h>
#include <sddl.h>

#include "platform/path_identity.h"

namespace {

const wchar_t kAdministratorsOnly[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

DWORD ProtectExistingFolder(const std::wstring& folder, PSECURITY_DESCRIPTOR descriptor) {
  std::wstring final = FinalComparablePath(folder);
  if (final.empty() || !SamePath(final, ComparablePath(folder))) return ERROR_CANT_ACCESS_FILE;
  PSID owner = nullptr;
  PACL dacl = nullptr;
  BOOL present = FALSE, defaulted = FALSE;
  if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) ||
      !GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted))
    return GetLastError();
  std::wstring name = folder;  // the call takes a writable string
  return SetNamedSecurityInfoW(
      &name[0], SE_FILE_OBJECT,
      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
      owner, nullptr, dacl, nullptr);
}

}  // namespace

DWORD BuildAdministratorsOnlyDescriptor(vskr::UniqueLocalMemory& descriptor) {
  PSECURITY_DESCRIPTOR built = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kAdministratorsOnly, SDDL_REVISION_1,
                                                            &built, nullptr))
    return GetLastError();
  descriptor.Reset(built);
  return ERROR_SUCCESS;
}

DWORD PrepareAdministratorsOnlyFolder(const std::wstring& folder) {
  vskr::UniqueLocalMemory descriptor;
  DWORD built = BuildAdministratorsOnlyDescriptor(descriptor);
  if (built != ERROR_SUCCESS) return built;
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.Get(), FALSE};
  if (CreateDirectoryW(folder.c_str(), &attributes)) return ERROR_SUCCESS;
  DWORD error = GetLastError();
  return error == ERROR_ALREADY_EXISTS ? ProtectExistingFolder(folder, descriptor.Get()) : error;
}
