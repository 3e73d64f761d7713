#include "driver/protected_folders.h"

#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

#include <vector>

#include "driver/path_identity.h"
#include "settings/registry_value.h"

namespace {

// Folders the shell knows by identity, for the running user and for all.
const KNOWNFOLDERID* const kWellKnownFolderIds[] = {
    &FOLDERID_Windows,            &FOLDERID_System,
    &FOLDERID_SystemX86,          &FOLDERID_Fonts,
    &FOLDERID_ResourceDir,        &FOLDERID_ProgramFiles,
    &FOLDERID_ProgramFilesX86,    &FOLDERID_ProgramFilesX64,
    &FOLDERID_ProgramFilesCommon, &FOLDERID_ProgramFilesCommonX86,
    &FOLDERID_ProgramFilesCommonX64, &FOLDERID_ProgramData,
    &FOLDERID_UserProfiles,       &FOLDERID_Profile,
    &FOLDERID_Desktop,            &FOLDERID_Documents,
    &FOLDERID_Downloads,          &FOLDERID_Music,
    &FOLDERID_Pictures,           &FOLDERID_Videos,
    &FOLDERID_Favorites,          &FOLDERID_Links,
    &FOLDERID_Contacts,           &FOLDERID_SavedGames,
    &FOLDERID_SavedSearches,      &FOLDERID_SkyDrive,
    &FOLDERID_RoamingAppData,     &FOLDERID_LocalAppData,
    &FOLDERID_LocalAppDataLow,    &FOLDERID_StartMenu,
    &FOLDERID_Programs,           &FOLDERID_Startup,
    &FOLDERID_Templates,          &FOLDERID_SendTo,
    &FOLDERID_Recent,             &FOLDERID_NetHood,
    &FOLDERID_PrintHood,          &FOLDERID_Cookies,
    &FOLDERID_History,            &FOLDERID_InternetCache,
    &FOLDERID_UserProgramFiles,   &FOLDERID_Public,
    &FOLDERID_PublicDesktop,      &FOLDERID_PublicDocuments,
    &FOLDERID_PublicDownloads,    &FOLDERID_PublicMusic,
    &FOLDERID_PublicPictures,     &FOLDERID_PublicVideos,
    &FOLDERID_CommonStartMenu,    &FOLDERID_CommonPrograms,
    &FOLDERID_CommonStartup,      &FOLDERID_CommonTemplates,
    &FOLDERID_CommonAdminTools,   &FOLDERID_AdminTools,
};

// Values of the system's own record of its folders, read in the 64-bit view:
// a 32-bit program is told the 32-bit Program Files folder by the shell.
const wchar_t kCurrentVersionKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
const wchar_t* const kCurrentVersionFolderValues[] = {
    L"ProgramFilesDir", L"ProgramFilesDir (x86)", L"ProgramW6432Dir",
    L"CommonFilesDir",  L"CommonFilesDir (x86)",  L"CommonW6432Dir",
};

const wchar_t kProfileListKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
const wchar_t* const kProfileListFolderValues[] = {
    L"ProfilesDirectory", L"Default", L"Public", L"ProgramData",
};

std::wstring ExpandedText(const tmk_String& text) {
  DWORD size = ExpandEnvironmentStringsW(text.Text(), nullptr, 0);
  if (size == 0) return std::wstring();
  std::vector<wchar_t> buffer(size + 1, 0);
  DWORD length = ExpandEnvironmentStringsW(text.Text(), buffer.data(), size + 1);
  if (length == 0 || length > size + 1) return std::wstring();
  return std::wstring(buffer.data());
}

// A folder value of an open key, its %variables% expanded; empty when it
// is missing.
std::wstring FolderValue(HKEY key, const wchar_t* name) {
  tmk_String text;
  if (!QueryRegistryText(key, name, 2 * 32768, text) || text.IsEmpty()) return std::wstring();
  return ExpandedText(text);
}

std::wstring KnownFolderPath(const KNOWNFOLDERID& id) {
  PWSTR path = nullptr;
  std::wstring result;
  if (SUCCEEDED(SHGetKnownFolderPath(id, KF_FLAG_DONT_VERIFY, nullptr, &path)) && path)
    result = path;
  CoTaskMemFree(path);
  return result;
}

std::wstring TemporaryFolder() {
  wchar_t buffer[MAX_PATH + 2] = {0};
  DWORD length = GetTempPathW(MAX_PATH + 2, buffer);
  return length && length <= MAX_PATH + 1 ? std::wstring(buffer, length) : std::wstring();
}

// Adds the comparable form of `folder` and, when it differs, the form its
// links resolve to.
void AddFolder(std::vector<std::wstring>& folders, const std::wstring& folder) {
  std::wstring comparable = ComparablePath(folder);
  if (comparable.empty()) return;
  folders.push_back(comparable);
  std::wstring final = FinalComparablePath(comparable);
  if (!final.empty() && !SamePath(final, comparable)) folders.push_back(final);
}

std::wstring ParentOf(const std::wstring& comparablePath) {
  size_t slash = comparablePath.find_last_of(L'\\');
  return slash == std::wstring::npos ? std::wstring() : comparablePath.substr(0, slash);
}

// The checks for one name of the updater's folder.
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

std::vector<std::wstring> UserProfileFolders() {
  std::vector<std::wstring> folders;
  vskr::UniqueHkey list;
  if (!OpenMachineKey(kProfileListKey, KEY_READ, list)) return folders;
  wchar_t name[256];
  for (DWORD index = 0;; ++index) {
    DWORD length = 256;
    LONG result = RegEnumKeyExW(list.Get(), index, name, &length, nullptr, nullptr, nullptr,
                                nullptr);
    if (result == ERROR_NO_MORE_ITEMS) break;
    if (result != ERROR_SUCCESS) continue;
    vskr::UniqueHkey profile;
    std::wstring subKey = std::wstring(kProfileListKey) + L"\\" + name;
    if (!OpenMachineKey(subKey.c_str(), KEY_READ, profile)) continue;
    AddFolder(folders, FolderValue(profile.Get(), L"ProfileImagePath"));
  }
  AddFolder(folders, KnownFolderPath(FOLDERID_Profile));
  return folders;
}

std::vector<std::wstring> WellKnownFolders() {
  std::vector<std::wstring> folders;
  for (const KNOWNFOLDERID* id : kWellKnownFolderIds) AddFolder(folders, KnownFolderPath(*id));

  vskr::UniqueHkey currentVersion;
  if (OpenMachineKey(kCurrentVersionKey, KEY_READ, currentVersion)) {
    for (const wchar_t* value : kCurrentVersionFolderValues)
      AddFolder(folders, FolderValue(currentVersion.Get(), value));
  }
  vskr::UniqueHkey profileList;
  if (OpenMachineKey(kProfileListKey, KEY_READ, profileList)) {
    for (const wchar_t* value : kProfileListFolderValues)
      AddFolder(folders, FolderValue(profileList.Get(), value));
  }
  AddFolder(folders, TemporaryFolder());
  for (const std::wstring& profile : UserProfileFolders()) folders.push_back(profile);
  return folders;
}

bool MayRemoveUpdaterFolder(const tmk_String& updaterFolder) {
  const std::wstring given = ComparablePath(updaterFolder.Text());
  if (given.empty()) return false;  // empty or relative
  const std::vector<std::wstring> wellKnown = WellKnownFolders();
  const std::vector<std::wstring> profiles = UserProfileFolders();
  if (!MayRemoveFolderNamed(given, wellKnown, profiles)) return false;
  const std::wstring final = FinalComparablePath(given);
  return final.empty() || MayRemoveFolderNamed(final, wellKnown, profiles);
}
