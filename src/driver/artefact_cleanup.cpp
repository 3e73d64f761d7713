#include "driver/artefact_cleanup.h"

#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

#include "platform/path_identity.h"
#include "driver/protected_folders.h"
#include "platform/run_log.h"
#include "platform/unique_handle.h"

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

std::wstring FinalPathOf(const std::wstring& path) {
  vskr::UniqueFileHandle entry(CreateFileW(path.c_str(), 0,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                           nullptr));
  return entry ? FinalPathOfHandle(entry.Get()) : std::wstring();
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

void ClearReadOnly(HANDLE entry, DWORD attributes) {
  const DWORD settable = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                         FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_TEMPORARY;
  FILE_BASIC_INFO info;
  ZeroMemory(&info, sizeof info);  // zero times: left as they are
  info.FileAttributes = attributes & settable;
  if (info.FileAttributes == 0) info.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  // A failure shows in the deletion that follows.
  (void)SetFileInformationByHandle(entry, FileBasicInfo, &info, sizeof info);
}

// Deletes the entry at `path`, whose own full path is `ownPath` (its
// folder's final path and its name). Everything is done through handles on
// the entry itself; a link is removed as it is, a folder's contents go
// first. An entry that can't be opened as itself is left alone.
void DeleteEntry(const std::wstring& path, const std::wstring& ownPath) {
  FILE_ATTRIBUTE_TAG_INFO info;
  ZeroMemory(&info, sizeof info);
  {
    // Only looked at here: a handle with delete access would keep the
    // folder from being listed on some systems.
    vskr::UniqueFileHandle entry = OpenEntry(path, FILE_READ_ATTRIBUTES);
    if (!entry) {
      LogFailure(L"opening an entry to delete it", path.c_str(), GetLastError());
      return;
    }
    if (!IsEntryItself(entry.Get(), ownPath)) {
      LogLine(L"not deleted, it opens as another entry: \"%s\"", path.c_str());
      return;
    }
    if (!GetFileInformationByHandleEx(entry.Get(), FileAttributeTagInfo, &info, sizeof info)) {
      LogFailure(L"reading the attributes of an entry to delete", path.c_str(), GetLastError());
      return;
    }
  }
  const bool isLink = (info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  if ((info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !isLink) {
    for (const std::wstring& name : NamesIn(path)) {
      DeleteEntry(path + L"\\" + name, ownPath + L"\\" + name);
    }
  }
  vskr::UniqueFileHandle entry =
      OpenEntry(path, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES);
  if (!entry) {
    LogFailure(L"opening an entry for deletion", path.c_str(), GetLastError());
    return;
  }
  if (!IsEntryItself(entry.Get(), ownPath)) return;
  if (info.FileAttributes & FILE_ATTRIBUTE_READONLY) ClearReadOnly(entry.Get(), info.FileAttributes);
  FILE_DISPOSITION_INFO disposition = {TRUE};
  // Takes effect when the handle is closed; a folder that still holds
  // something stays (the folder's own line in the log says so).
  if (!SetFileInformationByHandle(entry.Get(), FileDispositionInfo, &disposition,
                                  sizeof disposition)) {
    LogFailure(L"deleting an entry", path.c_str(), GetLastError());
  }
}

}  // namespace

bool DeleteTree(const wchar_t* path) {
  if (!path || !*path) return false;
  std::wstring target(path);
  while (target.size() > 1 && (target.back() == L'\\' || target.back() == L'/')) target.pop_back();
  if (GetFileAttributesW(target.c_str()) == INVALID_FILE_ATTRIBUTES) return false;
  // The entry's own full path is its folder's final path and its name, so
  // that a link named by `path` is recognised as a link too.
  size_t slash = target.find_last_of(L"\\/");
  std::wstring folder = slash == std::wstring::npos ? L"." : target.substr(0, slash);
  if (folder.empty()) folder = L"\\";                             // "\name": the drive's root
  if (folder.size() == 2 && folder[1] == L':') folder += L'\\';  // "C:" alone means elsewhere
  std::wstring name = slash == std::wstring::npos ? target : target.substr(slash + 1);
  std::wstring folderFinal = FinalPathOf(folder);
  if (folderFinal.empty()) return false;
  DeleteEntry(target, folderFinal + L"\\" + name);
  return GetFileAttributesW(target.c_str()) == INVALID_FILE_ATTRIBUTES;
}

namespace {

// Deletes one of the update's files; the result is looked at for the run
// log alone.
void DeleteUpdateFile(const tmk_String& path) {
  if (DeleteFileW(path.Text())) {
    LogLine(L"removed: \"%s\"", path.Text());
  } else if (GetLastError() != ERROR_FILE_NOT_FOUND && GetLastError() != ERROR_PATH_NOT_FOUND) {
    LogFailure(L"removing a file of the update", path.Text(), GetLastError());
  }
}

void DeleteUpdateTree(const tmk_String& path) {
  if (GetFileAttributesW(path.Text()) == INVALID_FILE_ATTRIBUTES) return;
  LogLine(DeleteTree(path.Text()) ? L"removed: \"%s\"" : L"removed in part: \"%s\"",
          path.Text());
}

}  // namespace

void RemoveUpdateArtefacts(tmk_String updaterFolder) {
  // Each step runs whatever the one before did.
  DeleteUpdateFile(Concatenate(updaterFolder, L"\\qiro_upd240046_Win64.exe"));
  DeleteUpdateFile(Concatenate(updaterFolder, L"\\VSKR_UPDATE.zip"));
  DeleteUpdateTree(Concatenate(updaterFolder, L"\\vskr_update"));
  // The whole folder only when it holds nothing but the update: an updater
  // started from the Desktop or a drive's root must not take that with it.
  if (MayRemoveUpdaterFolder(updaterFolder)) {
    DeleteUpdateTree(updaterFolder);
  } else {
    LogLine(L"the updater's folder \"%s\" is not the update's own: it is not removed",
            updaterFolder.Text());
  }
}
