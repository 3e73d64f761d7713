#include "driver/artefact_cleanup.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

#include "driver/protected_folders.h"
#include "platform/captured_run.h"
#include "platform/child_process.h"
#include "platform/path_identity.h"
#include "platform/run_log.h"
#include "platform/system_text.h"
#include "platform/unique_handle.h"
#include "settings/update_context.h"
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

// Decides which entries the clean-up may take: never an installation
// folder (the product key's ROOTPATH, EXECUTABLEPATH, DATA_PATH, WORK_PATH)
// nor a folder above one; and of what the archive holds, nothing inside an
// installation folder unless the updater's folder lies inside that one
// too. An updater started from the installation's root would otherwise take
// the installation's own files for the archive's.
class CleanupGuard {
 public:
  explicit CleanupGuard(const tmk_String& updaterFolder) {
    AddForms(updater_, updaterFolder.Text());
    for (const wchar_t* name : {L"ROOTPATH", L"EXECUTABLEPATH", L"DATA_PATH", L"WORK_PATH"})
      AddForms(installation_, ReadProductValue(name).Text());
  }

  // True when `path` may go; the run log tells a refusal.
  bool MayRemove(const std::wstring& path, bool archiveEntry) const {
    std::vector<std::wstring> forms;
    AddForms(forms, path);
    for (const std::wstring& form : forms) {
      for (const std::wstring& folder : installation_) {
        if (IsSameOrAbove(form, folder))
          return Refuse(path, L"an installation folder or above one");
        if (archiveEntry && IsSameOrAbove(folder, form) && !HoldsUpdaterFolderBelow(folder))
          return Refuse(path, L"in an installation folder");
      }
    }
    return true;
  }

 private:
  // The path as given and as its links lead, in comparable form.
  static void AddForms(std::vector<std::wstring>& forms, const std::wstring& path) {
    std::wstring comparable = ComparablePath(path);
    if (comparable.empty()) return;  // empty or relative: no folder
    forms.push_back(comparable);
    std::wstring final = FinalComparablePath(comparable);
    if (!final.empty() && !SamePath(final, comparable)) forms.push_back(final);
  }
  bool HoldsUpdaterFolderBelow(const std::wstring& folder) const {
    for (const std::wstring& updater : updater_) {
      if (IsSameOrAbove(folder, updater) && !SamePath(folder, updater)) return true;
    }
    return false;
  }
  static bool Refuse(const std::wstring& path, const wchar_t* why) {
    LogLine(L"not removed, it is %s: \"%s\"", why, path.c_str());
    return false;
  }

  std::vector<std::wstring> updater_;
  std::vector<std::wstring> installation_;
};

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

// An archive entry as a path below the updater's folder; empty for one
// that would lead elsewhere (absolute, with a drive or "..").
std::wstring RelativeEntry(std::wstring entry) {
  for (wchar_t& c : entry) {
    if (c == L'/') c = L'\\';
  }
  while (entry.compare(0, 2, L".\\") == 0) entry.erase(0, 2);
  while (!entry.empty() && entry.back() == L'\\') entry.pop_back();
  if (entry.empty() || entry[0] == L'\\' || entry.find(L':') != std::wstring::npos)
    return std::wstring();
  std::wstring padded = L"\\" + entry + L"\\";
  if (padded.find(L"\\..\\") != std::wstring::npos || padded.find(L"\\.\\") != std::wstring::npos)
    return std::wstring();
  return entry;
}

// What the data archive holds, listed by the same tar that unpacked it, in
// the updater's folder; empty when it can't be listed (the log says so).
std::vector<std::wstring> ArchiveEntries(const tmk_String& updaterFolder) {
  std::vector<std::wstring> entries;
  tmk_String archive;
  archive.Format(L"%s\\%s", updaterFolder.Text(), kDataArchive);
  DWORD attributes = GetFileAttributesW(archive.Text());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
    return entries;
  std::string output;
  DWORD exitCode = 0;
  DWORD started = ERROR_SUCCESS;
  {
    vskr::ScopedCurrentFolder inUpdaterFolder(updaterFolder.Text());
    started = RunAndCaptureOutput(tmk_String(kListArchiveCommand), output, exitCode);
  }
  if (started != ERROR_SUCCESS || exitCode != 0) {
    LogLine(L"the data archive could not be listed: what it holds stays");
    return entries;
  }
  for (const std::wstring& line : vskr::SplitLines(ToolText(output))) {
    std::wstring entry = RelativeEntry(line);
    if (!entry.empty()) {
      entries.push_back(entry);
    } else if (!line.empty()) {
      LogLine(L"archive entry outside the updater's folder left alone: \"%s\"", line.c_str());
    }
  }
  return entries;
}

bool IsPlainFolder(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
         !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Removes one file (or link) of the update; the result is looked at for the
// run log alone.
void RemoveUpdateFile(const std::wstring& path, const CleanupGuard& guard, bool archiveEntry) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || IsPlainFolder(attributes)) return;
  if (SamePath(ComparablePath(path), ComparablePath(vskr::OwnModulePath()))) return;
  if (!guard.MayRemove(path, archiveEntry)) return;
  LogLine(DeleteTree(path.c_str()) ? L"removed: \"%s\"" : L"could not be removed: \"%s\"",
          path.c_str());
}

// The package folder with everything in it.
void RemoveUpdateTree(const tmk_String& path, const CleanupGuard& guard) {
  if (!IsPlainFolder(GetFileAttributesW(path.Text()))) {
    RemoveUpdateFile(path.Text(), guard, false);  // a link in its place goes itself
    return;
  }
  if (!guard.MayRemove(path.Text(), false)) return;
  if (!MayRemoveUpdaterFolder(path)) {
    LogLine(L"not removed, it is not the update's own: \"%s\"", path.Text());
    return;
  }
  LogLine(DeleteTree(path.Text()) ? L"removed: \"%s\"" : L"removed in part: \"%s\"", path.Text());
}

// The folders the archive brought, deepest first, each only when nothing
// but the archive's files was in it.
void RemoveEmptiedFolders(const tmk_String& updaterFolder, const std::vector<std::wstring>& entries,
                          const CleanupGuard& guard) {
  std::vector<std::wstring> folders;
  for (const std::wstring& entry : entries) {
    for (size_t slash = entry.find(L'\\'); slash != std::wstring::npos;
         slash = entry.find(L'\\', slash + 1))
      folders.push_back(entry.substr(0, slash));
    folders.push_back(entry);
  }
  std::sort(folders.begin(), folders.end(), [](const std::wstring& a, const std::wstring& b) {
    return a.size() != b.size() ? a.size() > b.size() : a < b;
  });
  folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
  for (const std::wstring& folder : folders) {
    std::wstring path = std::wstring(updaterFolder.Text()) + L"\\" + folder;
    if (!IsPlainFolder(GetFileAttributesW(path.c_str()))) continue;
    if (!guard.MayRemove(path, true) || !MayRemoveUpdaterFolder(tmk_String(path.c_str())))
      continue;
    if (RemoveDirectoryW(path.c_str())) {
      LogLine(L"removed: \"%s\"", path.c_str());
    } else if (GetLastError() == ERROR_DIR_NOT_EMPTY) {
      LogLine(L"kept, it holds more than the archive brought: \"%s\"", path.c_str());
    } else {
      LogFailure(L"removing a folder of the data archive", path.c_str(), GetLastError());
    }
  }
}

}  // namespace

void RemoveUpdateArtefacts(const tmk_String& updaterFolder, const tmk_String& installerPath) {
  // Each step runs whatever the one before did. The archive is listed
  // before it goes.
  CleanupGuard guard(updaterFolder);
  const std::vector<std::wstring> entries = ArchiveEntries(updaterFolder);
  std::wstring folder(updaterFolder.Text());
  for (const std::wstring& entry : entries) RemoveUpdateFile(folder + L"\\" + entry, guard, true);
  RemoveUpdateFile(installerPath.Text(), guard, false);
  RemoveUpdateFile(folder + L"\\" + kFixedInstaller, guard, false);
  RemoveUpdateFile(folder + L"\\" + kDataArchiveCapitals, guard, false);
  RemoveUpdateTree(tmk_String((folder + L"\\" + kPackageFolder).c_str()), guard);
  RemoveEmptiedFolders(updaterFolder, entries, guard);
  LogLine(L"the updater's folder keeps everything else: \"%s\"", updaterFolder.Text());
}
