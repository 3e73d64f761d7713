#include "driver/protected_folders.h"

#include <windows.h>

#include <vector>

#include "platform/path_identity.h"
#include "platform/known_folders.h"

namespace {

std::wstring ParentOf(const std::wstring& comparablePath) {
  size_t slash = comparablePath.find_last_of(L'\\');
  return slash == std::wstring::npos ? std::wstring() : comparablePath.substr(0, slash);
}

// The checks for one name of the folder.
bool MayRemoveFolderNamed(const std::wstring& folder, const std::vector<std::wstring>& wellKnown,
                          const std::vector<std::wstring>& profiles) {
  if (IsRootFolder(folder)) return false;
  for (const std::wstring& known : wellKnown) {
    if (IsSameOrAbove(folder, known)) return false;
  }
  const std::wstring parent = ParentOf(folder);
  for (const std::wstring& profile : profiles) {
    if (SamePath(parent, profile)) return false;
  }
  return true;
}

}  // namespace

bool MayRemoveFolderWhole(const tmk_String& folder) {
  const std::wstring given = ComparablePath(folder.Text());
  if (given.empty()) return false;  // empty or relative
  const std::vector<std::wstring> wellKnown = WellKnownFolders();
  const std::vector<std::wstring> profiles = UserProfileFolders();
  if (!MayRemoveFolderNamed(given, wellKnown, profiles)) return false;
  const std::wstring final = FinalComparablePath(given);
  return final.empty() || MayRemoveFolderNamed(final, wellKnown, profiles);
}
