// The refresh of one installation folder tree from a package folder tree:
// package files replace the installation's files of the same relative path;
// nothing is added and nothing is deleted.
#include <windows.h>

#include <io.h>

#include <cwchar>

#include "platform/unique_handle.h"
#include "settings/update_context.h"

namespace {

// Looks `path` up exactly as given (a find-first search on the path itself).
// Returns true and sets `attributes` when something is there; `attributes`
// is not touched otherwise.
bool FindPath(const tmk_String& path, DWORD& attributes) {
  WIN32_FIND_DATAW found;
  vskr::UniqueFindHandle search(FindFirstFileW(path.Text(), &found));
  if (!search) return false;
  attributes = found.dwFileAttributes;
  return true;
}

// The same answer as FindPath for a path without wildcards, found the quick
// way. A find-first search may read the whole folder (under Wine it does: a
// quarter of a millisecond per lookup in a folder of a few hundred files),
// asking for the attributes does not. Only when that fails for another
// reason than a missing file or folder (a file the system holds open
// exclusively, for instance) is the folder searched after all.
bool LookUpPath(const tmk_String& path, DWORD& attributes) {
  DWORD quick = GetFileAttributesW(path.Text());
  if (quick != INVALID_FILE_ATTRIBUTES) {
    attributes = quick;
    return true;
  }
  DWORD error = GetLastError();
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return false;
  return FindPath(path, attributes);
}

bool IsDotEntry(const wchar_t* name) {
  return std::wcscmp(name, L".") == 0 || std::wcscmp(name, L"..") == 0;
}

}  // namespace

bool UpdateContext::RefreshFolderTree(tmk_String source, tmk_String destination) {
  DWORD destinationAttributes = 0;
  if (!FindPath(destination, destinationAttributes)) return true;  // nothing to refresh

  tmk_String sourcePrefix = WithBackslash(source);
  tmk_String destinationPrefix = WithBackslash(destination);
  tmk_String pattern = Concatenate(sourcePrefix, L"*.*");
  _wfinddata64i32_t entry{};
  vskr::UniqueCrtFind search(_wfindfirst64i32(pattern.Text(), &entry));
  if (!search) return true;  // source missing or unreadable
  do {
    if (IsDotEntry(entry.name)) continue;
    tmk_String sourcePath = Concatenate(sourcePrefix, entry.name);
    tmk_String destinationPath = Concatenate(destinationPrefix, entry.name);
    if (entry.attrib & _A_SUBDIR) {
      // A folder link (junction or symbolic link) of the package is not
      // followed: one that points back up the tree would never end.
      if (entry.attrib & FILE_ATTRIBUTE_REPARSE_POINT) continue;
      if (!RefreshFolderTree(sourcePath, destinationPath)) return false;
      continue;
    }
    DWORD attributes = 0;
    if (!LookUpPath(destinationPath, attributes)) continue;  // not installed: not added
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) continue;     // a folder of that name
    if (!CopyFileW(sourcePath.Text(), destinationPath.Text(), FALSE)) return false;
  } while (_wfindnext64i32(search.Get(), &entry) == 0);
  return true;
}
