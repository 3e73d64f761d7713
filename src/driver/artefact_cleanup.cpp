#include "driver/artefact_cleanup.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

#include "driver/cleanup_policy.h"
#include "platform/captured_run.h"
#include "platform/child_process.h"
#include "platform/path_identity.h"
#include "platform/run_log.h"
#include "platform/unique_handle.h"
#include "settings/update_files.h"
#include "text/lines.h"

namespace {

// Opens the entry at `path` itself, a link and not what it points to.
vskr::UniqueFileHandle OpenEntry(const std::wstring& path, DWORD access) {
  return vskr::UniqueFileHandle(CreateFileW(
      path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

// True when `entry` is the entry whose own full path is `ownPath`. A system
// that opens a link's target even when asked for the link (as some
// compatibility layers do) hands back a handle on the target: such a handle
// must never be used to delete.
bool IsEntryItself(HANDLE entry, const std::wstring& ownPath) {
  return SamePath(FinalPathOfHandle(entry), ownPath);
}

// The names in a folder, read completely before any of them is deleted.
std::vector<std::wstring> NamesIn(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found;
  vskr::UniqueFindHandle search(FindFirstFileW((folder + L"\\*").c_str(), &found));
  if (!search) return names;
  do {
    if (std::wcscmp(found.cFileName, L".") != 0 && std::wcscmp(found.cFileName, L"..") != 0)
      names.push_back(found.cFileName);
  } while (FindNextFileW(search.Get(), &found));
  return names;
}

void ClearReadOnlyOfOpenEntry(HANDLE entry, DWORD attributes) {
  const DWORD settable = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                         FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_TEMPORARY;
  FILE_BASIC_INFO info;
  ZeroMemory(&info, sizeof info);  // zero times: left as they are
  info.FileAttributes = attributes & settable;
  if (info.FileAttributes == 0) info.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  // A failure shows in the deletion that follows.
  (void)SetFileInformationByHandle(entry, FileBasicInfo, &info, sizeof info);
}

// Reads the attributes of the entry at `path` through a handle on the entry
// itself. False (logged) when it can't be opened, or when it opens as
// another entry than `ownPath` or is a link: it became one after it was
// judged.
bool ReadOwnAttributes(const std::wstring& path, const std::wstring& ownPath, DWORD& attributes) {
  // Only looked at here: a handle with delete access would keep the folder
  // from being listed on some systems.
  vskr::UniqueFileHandle entry = OpenEntry(path, FILE_READ_ATTRIBUTES);
  if (!entry) {
    LogFailure(L"opening an entry to delete it", path.c_str(), GetLastError());
    return false;
  }
  FILE_ATTRIBUTE_TAG_INFO info;
  ZeroMemory(&info, sizeof info);
  if (!GetFileInformationByHandleEx(entry.Get(), FileAttributeTagInfo, &info, sizeof info)) {
    LogFailure(L"reading the attributes of an entry to delete", path.c_str(), GetLastError());
    return false;
  }
  const bool isLink = (info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  if (isLink || !IsEntryItself(entry.Get(), ownPath)) {
    LogLine(L"not deleted, it opens as another entry or is a link: \"%s\"", path.c_str());
    return false;
  }
  attributes = info.FileAttributes;
  return true;
}

bool DeleteEntry(const CleanupPolicy& policy, const std::wstring& relative);

// The entries of the folder `relative`, each judged as package content and
// deleted when the policy lets it go.
void DeleteContents(const CleanupPolicy& policy, const std::wstring& relative) {
  for (const std::wstring& name : NamesIn(policy.PathOf(relative))) {
    const std::wstring inner = relative + L"\\" + name;
    // Its failures are in the log; the folder's own result tells the rest.
    if (policy.MayDelete(inner, CleanupEntry::PackageContent)) (void)DeleteEntry(policy, inner);
  }
}

// Deletes the entry `relative` of the updater's folder, which the policy has
// let go, for good and without a dialog: a folder's contents first (each
// judged by the policy), read-only entries too. Everything is done through
// handles on the entry itself. True when nothing is left of it; failures are
// logged and the rest goes on.
bool DeleteEntry(const CleanupPolicy& policy, const std::wstring& relative) {
  const std::wstring path = policy.PathOf(relative);
  const std::wstring ownPath = policy.OwnPathOf(relative);
  DWORD attributes = 0;
  if (!ReadOwnAttributes(path, ownPath, attributes)) return false;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) DeleteContents(policy, relative);
  {
    vskr::UniqueFileHandle entry =
        OpenEntry(path, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES);
    if (!entry) {
      LogFailure(L"opening an entry for deletion", path.c_str(), GetLastError());
      return false;
    }
    if (!IsEntryItself(entry.Get(), ownPath)) {
      LogLine(L"not deleted, it opens as another entry: \"%s\"", path.c_str());
      return false;
    }
    if (attributes & FILE_ATTRIBUTE_READONLY) ClearReadOnlyOfOpenEntry(entry.Get(), attributes);
    FILE_DISPOSITION_INFO disposition = {TRUE};
    // Takes effect when the handle is closed; a folder that still holds
    // something stays.
    if (!SetFileInformationByHandle(entry.Get(), FileDispositionInfo, &disposition,
                                    sizeof disposition)) {
      LogFailure(L"deleting an entry", path.c_str(), GetLastError());
    }
  }
  return GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES;
}

// Text from a tool: UTF-8 when it is valid UTF-8, else the ANSI code page.
std::wstring ToolText(const std::string& bytes) {
  if (bytes.empty()) return std::wstring();
  for (UINT codePage : {static_cast<UINT>(CP_UTF8), static_cast<UINT>(CP_ACP)}) {
    DWORD flags = codePage == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
    int n = MultiByteToWideChar(codePage, flags, bytes.data(), static_cast<int>(bytes.size()),
                                nullptr, 0);
    if (n <= 0) continue;
    std::wstring text(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(codePage, flags, bytes.data(), static_cast<int>(bytes.size()), &text[0], n);
    return text;
  }
  return std::wstring();
}

// The names the data archive lists, as tar lists them, by the same tar that
// unpacked it, in the updater's folder; none when it can't be listed (the
// log says so).
std::vector<std::wstring> ArchiveEntries(const std::wstring& folder) {
  std::vector<std::wstring> entries;
  DWORD attributes = GetFileAttributesW((folder + L"\\" + kDataArchive).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
    return entries;
  std::string output;
  DWORD exitCode = 0;
  DWORD started = ERROR_SUCCESS;
  {
    // With its backslash: "E:" alone names the drive's current folder.
    vskr::ScopedCurrentFolder inUpdaterFolder((folder + L"\\").c_str());
    started = RunAndCaptureOutput(tmk_String(kListArchiveCommand), output, exitCode);
  }
  if (started != ERROR_SUCCESS || exitCode != 0) {
    LogLine(L"the data archive could not be listed: what it holds stays");
    return entries;
  }
  for (const std::wstring& line : vskr::SplitLines(ToolText(output))) {
    if (!line.empty()) entries.push_back(line);
  }
  return entries;
}

// Removes the update's file `name` of kind `kind` when the policy lets it
// go: whatever is there but a folder (the folder steps see to those).
void RemoveUpdateFile(const CleanupPolicy& policy, const std::wstring& name, CleanupEntry kind) {
  const std::wstring relative = RelativeEntry(name);
  if (!relative.empty()) {
    DWORD attributes = GetFileAttributesW(policy.PathOf(relative).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
  }
  if (!policy.MayDelete(name, kind)) return;
  const std::wstring path = policy.PathOf(relative);
  LogLine(DeleteEntry(policy, relative) ? L"removed: \"%s\"" : L"could not be removed: \"%s\"",
          path.c_str());
}

// The package folder with everything in it that the policy lets go.
void RemovePackageFolder(const CleanupPolicy& policy) {
  const std::wstring path = policy.PathOf(kPackageFolder);
  if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return;
  if (!policy.MayDelete(kPackageFolder, CleanupEntry::PackageFolder)) return;
  LogLine(DeleteEntry(policy, kPackageFolder) ? L"removed: \"%s\"" : L"removed in part: \"%s\"",
          path.c_str());
}

// The folders the archive's entries lie in, and the entries themselves
// (some are folders), deepest first.
std::vector<std::wstring> ArchiveFolders(const std::vector<std::wstring>& names) {
  std::vector<std::wstring> folders;
  for (const std::wstring& name : names) {
    const std::wstring entry = RelativeEntry(name);
    if (entry.empty()) continue;
    for (size_t slash = entry.find(L'\\'); slash != std::wstring::npos;
         slash = entry.find(L'\\', slash + 1))
      folders.push_back(entry.substr(0, slash));
    folders.push_back(entry);
  }
  std::sort(folders.begin(), folders.end(), [](const std::wstring& a, const std::wstring& b) {
    return a.size() != b.size() ? a.size() > b.size() : a < b;
  });
  folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
  return folders;
}

// The archive's folders, each only when nothing but the archive's files was
// in it and the policy lets it go.
void RemoveArchiveFolders(const CleanupPolicy& policy, const std::vector<std::wstring>& names) {
  for (const std::wstring& folder : ArchiveFolders(names)) {
    const std::wstring path = policy.PathOf(folder);
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
    if (!policy.MayDelete(folder, CleanupEntry::ArchiveFolder)) continue;
    if (RemoveDirectoryW(path.c_str())) {
      LogLine(L"removed: \"%s\"", path.c_str());
    } else if (GetLastError() == ERROR_DIR_NOT_EMPTY) {
      LogLine(L"kept, it holds more than the archive brought: \"%s\"", path.c_str());
    } else {
      LogFailure(L"removing a folder of the data archive", path.c_str(), GetLastError());
    }
  }
}

// The installer's name in the updater's folder; the whole path when it lies
// elsewhere (the policy refuses that).
std::wstring NameInFolder(const std::wstring& folder, const std::wstring& path) {
  const std::wstring head = folder + L"\\";
  return path.size() > head.size() && SamePath(path.substr(0, head.size()), head)
             ? path.substr(head.size())
             : path;
}

}  // namespace

void RemoveUpdateArtefacts(const tmk_String& updaterFolder, const tmk_String& installerPath) {
  // Each step runs whatever became of the one before. The archive is listed
  // before it goes.
  const CleanupPolicy policy(updaterFolder);
  const std::wstring folder(updaterFolder.Text());
  const std::vector<std::wstring> listed = ArchiveEntries(folder);
  for (const std::wstring& name : listed) RemoveUpdateFile(policy, name, CleanupEntry::ArchiveFile);
  RemoveUpdateFile(policy, NameInFolder(folder, installerPath.Text()), CleanupEntry::Installer);
  RemoveUpdateFile(policy, kFixedInstaller, CleanupEntry::FixedInstaller);
  for (const wchar_t* archive : {kDataArchive, kDataArchiveCapitals})
    RemoveUpdateFile(policy, archive, CleanupEntry::DataArchive);
  RemovePackageFolder(policy);
  RemoveArchiveFolders(policy, listed);
  LogLine(L"the updater's folder keeps everything else: \"%s\"", updaterFolder.Text());
}
