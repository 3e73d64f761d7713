#include "platform/path_identity.h"

#include <windows.h>

#include <cwchar>
#include <vector>

#include "platform/system_text.h"
#include "platform/unique_handle.h"

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

bool StartsWith(const std::wstring& text, const wchar_t* head) {
  return text.compare(0, std::wcslen(head), head) == 0;
}

// "\\?\C:\x" -> "C:\x", "\\?\UNC\server\share" -> "\\server\share".
std::wstring WithoutLongPathPrefix(const std::wstring& path) {
  if (StartsWith(path, L"\\\\?\\UNC\\")) return L"\\\\" + path.substr(8);
  if (StartsWith(path, L"\\\\?\\") || StartsWith(path, L"\\\\.\\")) return path.substr(4);
  return path;
}

}  // namespace

bool IsAbsolutePath(const std::wstring& path) {
  if (path.size() >= 3 && IsDriveLetter(path[0]) && path[1] == L':' && IsSeparator(path[2]))
    return true;
  return path.size() >= 3 && IsSeparator(path[0]) && IsSeparator(path[1]) && !IsSeparator(path[2]);
}

std::wstring ComparablePath(const std::wstring& path) {
  if (!IsAbsolutePath(path)) return std::wstring();
  std::wstring full = vskr::GrowingText([&path](wchar_t* buffer, DWORD size) {
    return GetFullPathNameW(path.c_str(), size, buffer, nullptr);
  });
  if (full.empty()) return std::wstring();
  std::wstring longForm = vskr::GrowingText([&full](wchar_t* buffer, DWORD size) {
    return GetLongPathNameW(full.c_str(), buffer, size);
  });
  if (!longForm.empty()) full = longForm;  // a missing path keeps its given names
  full = WithoutLongPathPrefix(full);
  for (wchar_t& c : full) {
    if (c == L'/') c = L'\\';
  }
  while (full.size() > 2 && full.back() == L'\\') full.pop_back();
  return full;
}

std::wstring FinalPathOfHandle(HANDLE handle) {
  std::wstring final = vskr::GrowingText([handle](wchar_t* buffer, DWORD size) {
    return GetFinalPathNameByHandleW(handle, buffer, size, FILE_NAME_NORMALIZED);
  });
  final = WithoutLongPathPrefix(final);
  while (final.size() > 2 && final.back() == L'\\') final.pop_back();
  return final;
}

std::wstring FinalComparablePath(const std::wstring& path) {
  if (!IsAbsolutePath(path)) return std::wstring();
  // Opening a folder needs FILE_FLAG_BACKUP_SEMANTICS; no access is asked
  // for, so a folder in use opens too.
  vskr::UniqueFileHandle handle(CreateFileW(path.c_str(), 0,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                            nullptr));
  if (!handle) return std::wstring();
  std::wstring final = FinalPathOfHandle(handle.Get());
  return final.empty() ? std::wstring() : ComparablePath(final);
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

bool IsSameOrAbove(const std::wstring& folder, const std::wstring& path) {
  if (folder.empty() || path.size() < folder.size()) return false;
  if (!SamePath(folder, path.substr(0, folder.size()))) return false;
  return path.size() == folder.size() || path[folder.size()] == L'\\';
}

bool IsRootFolder(const std::wstring& comparablePath) {
  const std::wstring& p = comparablePath;
  if (p.size() == 2 && IsDriveLetter(p[0]) && p[1] == L':') return true;
  if (StartsWith(p, L"\\\\")) {
    // "\\server" or "\\server\share": no more than one backslash after "\\".
    size_t separators = 0;
    for (size_t i = 2; i < p.size(); ++i) {
      if (p[i] == L'\\') ++separators;
    }
    if (separators <= 1) return true;
  }
  // A volume mounted on a folder is a root as well.
  std::wstring withBackslash = p + L"\\";
  std::vector<wchar_t> volume(p.size() + MAX_PATH + 2, 0);
  if (GetVolumePathNameW(withBackslash.c_str(), volume.data(), static_cast<DWORD>(volume.size()))) {
    std::wstring root = WithoutLongPathPrefix(volume.data());
    while (root.size() > 2 && root.back() == L'\\') root.pop_back();
    if (SamePath(root, p)) return true;
  }
  return false;
}

namespace {

// The volume and the file index of the folder at the comparable path
// `folder`; false when it can't be opened. Opened with its backslash: "E:"
// alone would open the drive's current folder.
bool ReadIdentity(const std::wstring& folder, BY_HANDLE_FILE_INFORMATION& info) {
  vskr::UniqueFileHandle handle(CreateFileW((folder + L"\\").c_str(), 0,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                            nullptr));
  return handle && GetFileInformationByHandle(handle.Get(), &info);
}

}  // namespace

bool IsSamePlace(const std::wstring& a, const std::wstring& b) {
  if (SamePath(a, b)) return true;
  BY_HANDLE_FILE_INFORMATION first{}, second{};
  return ReadIdentity(a, first) && ReadIdentity(b, second) &&
         first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
         first.nFileIndexHigh == second.nFileIndexHigh && first.nFileIndexLow == second.nFileIndexLow;
}

std::wstring ComparableFolderOf(const std::wstring& filePath) {
  size_t slash = filePath.find_last_of(L'\\');
  if (slash == std::wstring::npos) return std::wstring();
  // With its backslash: "E:" alone names the drive's current folder, "E:\"
  // its root.
  return ComparablePath(filePath.substr(0, slash + 1));
}

std::wstring OwnProgramFolder() { return ComparableFolderOf(vskr::OwnModulePath()); }
