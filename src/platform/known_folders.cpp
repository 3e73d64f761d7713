#include "platform/known_folders.h"

#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

#include <vector>

#include "platform/path_identity.h"
#include "platform/registry_value.h"
#include "platform/run_log.h"
#include "platform/system_text.h"

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

// A folder value of an open key, its %variables% expanded; empty when it
// is missing.
std::wstring FolderValue(HKEY key, const wchar_t* name) {
  tmk_String text;
  LONG status = QueryRegistryText(key, name, 2 * 32768, text);
  if (status != ERROR_SUCCESS) {
    LogFailureUnlessMissing(L"reading a folder of the system's records", name,
                            static_cast<DWORD>(status));
    return std::wstring();
  }
  if (text.IsEmpty()) return std::wstring();
  return vskr::ExpandedText(text.Text());
}

std::wstring TemporaryFolder() {
  return vskr::GrowingText([](wchar_t* buffer, DWORD units) { return GetTempPathW(units, buffer); });
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

}  // namespace

std::wstring KnownFolderPath(const KNOWNFOLDERID& id) {
  PWSTR path = nullptr;
  std::wstring result;
  if (SUCCEEDED(SHGetKnownFolderPath(id, KF_FLAG_DONT_VERIFY, nullptr, &path)) && path)
    result = path;
  CoTaskMemFree(path);
  return result;
}

std::vector<std::wstring> UserProfileFolders() {
  std::vector<std::wstring> folders;
  vskr::UniqueHkey list;
  LONG opened = OpenMachineKey(kProfileListKey, KEY_READ, list);
  if (opened != ERROR_SUCCESS) {
    LogFailure(L"opening the list of user profiles", kProfileListKey, static_cast<DWORD>(opened));
    return folders;
  }
  wchar_t name[256];
  for (DWORD index = 0;; ++index) {
    DWORD length = 256;
    LONG result = RegEnumKeyExW(list.Get(), index, name, &length, nullptr, nullptr, nullptr,
                                nullptr);
    if (result == ERROR_NO_MORE_ITEMS) break;
    if (result != ERROR_SUCCESS) {
      LogFailure(L"listing the user profiles", kProfileListKey, static_cast<DWORD>(result));
      continue;
    }
    vskr::UniqueHkey profile;
    std::wstring subKey = std::wstring(kProfileListKey) + L"\\" + name;
    LONG status = OpenMachineKey(subKey.c_str(), KEY_READ, profile);
    if (status != ERROR_SUCCESS) {
      LogFailure(L"opening a user profile's record", subKey.c_str(), static_cast<DWORD>(status));
      continue;
    }
    AddFolder(folders, FolderValue(profile.Get(), L"ProfileImagePath"));
  }
  AddFolder(folders, KnownFolderPath(FOLDERID_Profile));
  return folders;
}

std::vector<std::wstring> WellKnownFolders() {
  std::vector<std::wstring> folders;
  for (const KNOWNFOLDERID* id : kWellKnownFolderIds) AddFolder(folders, KnownFolderPath(*id));

  vskr::UniqueHkey currentVersion;
  if (OpenMachineKey(kCurrentVersionKey, KEY_READ, currentVersion) == ERROR_SUCCESS) {
    for (const wchar_t* value : kCurrentVersionFolderValues)
      AddFolder(folders, FolderValue(currentVersion.Get(), value));
  }
  vskr::UniqueHkey profileList;
  // Both keys are always there; UserProfileFolders below logs a failure.
  if (OpenMachineKey(kProfileListKey, KEY_READ, profileList) == ERROR_SUCCESS) {
    for (const wchar_t* value : kProfileListFolderValues)
      AddFolder(folders, FolderValue(profileList.Get(), value));
  }
  AddFolder(folders, TemporaryFolder());
  for (const std::wstring& profile : UserProfileFolders()) folders.push_back(profile);
  return folders;
}
