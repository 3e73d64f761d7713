// The refresh of one installation folder tree from a package folder tree:
// package files replace the installation's files of the same relative path;
// nothing is added and nothing is deleted.
#include <windows.h>

#include <io.h>

#include <algorithm>
#include <cerrno>
#include <cwchar>
#include <vector>

#include "platform/run_log.h"
#include "package/package_map.h"
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

// Names compared as the file system compares them: ordinally, case ignored.
int CompareNames(const wchar_t* a, const wchar_t* b) {
  return CompareStringOrdinal(a, -1, b, -1, TRUE) - CSTR_EQUAL;
}

// The entries of one installation folder, by long and by short name, read
// at once. Under Wine the lookup of a missing file reads its whole folder,
// which makes a large folder cost the square of its size; a lookup in memory
// does not. The walk creates and deletes nothing, so the entries stay true
// while the folder is walked.
class InstalledEntries {
 public:
  // False when the folder can't be read.
  bool Read(const tmk_String& folder) {
    tmk_String pattern = Concatenate(WithBackslash(folder), L"*");
    WIN32_FIND_DATAW found;
    vskr::UniqueFindHandle search(FindFirstFileExW(pattern.Text(), FindExInfoStandard, &found,
                                                   FindExSearchNameMatch, nullptr, 0));
    if (!search) return false;
    do {
      entries_.push_back({found.cFileName, found.dwFileAttributes});
      if (found.cAlternateFileName[0] != 0)
        entries_.push_back({found.cAlternateFileName, found.dwFileAttributes});
    } while (FindNextFileW(search.Get(), &found));
    std::sort(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) {
      return CompareNames(a.name.Text(), b.name.Text()) < 0;
    });
    return true;
  }

  // The first entry whose name equals `name` when case is ignored; null
  // when there is none.
  const tmk_String* Find(const wchar_t* name, DWORD& attributes) const {
    auto before = [](const Entry& entry, const wchar_t* key) {
      return CompareNames(entry.name.Text(), key) < 0;
    };
    auto at = std::lower_bound(entries_.begin(), entries_.end(), name, before);
    if (at == entries_.end() || CompareNames(at->name.Text(), name) != 0) return nullptr;
    attributes = at->attributes;
    return &at->name;
  }

 private:
  struct Entry {
    tmk_String name;
    DWORD attributes;
  };
  std::vector<Entry> entries_;
};

// The installed counterparts of the files of one package folder, with the
// answers LookUpPath would give. The installation folder is read when the
// first file asks. A name that is not there, even with case ignored, is not
// installed; one that is there exactly is, with the attributes read. Any
// other answer comes from the file system: a name that is there with other
// case (a folder may compare case-sensitively), a name that ends in a dot or
// a blank (the system trims those from a path), and every name of a folder
// that can't be read.
class InstalledFolder {
 public:
  explicit InstalledFolder(const tmk_String& folder) : folder_(folder) {}

  bool LookUp(const wchar_t* name, const tmk_String& path, DWORD& attributes) {
    if (!read_) {
      read_ = true;
      listed_ = entries_.Read(folder_);
    }
    size_t length = std::wcslen(name);
    bool trimmed = length > 0 && (name[length - 1] == L'.' || name[length - 1] == L' ');
    if (!listed_ || trimmed) return LookUpPath(path, attributes);
    DWORD listedAttributes = 0;
    const tmk_String* listedName = entries_.Find(name, listedAttributes);
    if (listedName == nullptr) return false;
    if (std::wcscmp(listedName->Text(), name) != 0) return LookUpPath(path, attributes);
    attributes = listedAttributes;
    return true;
  }

 private:
  const tmk_String& folder_;
  InstalledEntries entries_;
  bool read_ = false;
  bool listed_ = false;
};

}  // namespace

DWORD RefreshFolderTreeCounted(const tmk_String& source, const tmk_String& destination,
                               unsigned long& replaced) {
  DWORD destinationAttributes = 0;
  if (!FindPath(destination, destinationAttributes)) return ERROR_SUCCESS;  // nothing to refresh

  InstalledFolder installed(destination);
  tmk_String sourcePrefix = WithBackslash(source);
  tmk_String destinationPrefix = WithBackslash(destination);
  tmk_String pattern = Concatenate(sourcePrefix, L"*.*");
  _wfinddata64i32_t entry{};
  vskr::UniqueCrtFind search(_wfindfirst64i32(pattern.Text(), &entry));
  if (!search) {
    // A missing source folder is the ordinary case: the package has none.
    if (errno != ENOENT) LogLine(L"the package folder \"%s\" can't be read", source.Text());
    return ERROR_SUCCESS;
  }
  do {
    if (IsDotEntry(entry.name)) continue;
    tmk_String sourcePath = Concatenate(sourcePrefix, entry.name);
    tmk_String destinationPath = Concatenate(destinationPrefix, entry.name);
    if (entry.attrib & _A_SUBDIR) {
      // A folder link (junction or symbolic link) of the package is not
      // followed: one that points back up the tree would never end.
      if (entry.attrib & FILE_ATTRIBUTE_REPARSE_POINT) continue;
      DWORD error = RefreshFolderTreeCounted(sourcePath, destinationPath, replaced);
      if (error != ERROR_SUCCESS) return error;
      continue;
    }
    DWORD attributes = 0;
    if (!installed.LookUp(entry.name, destinationPath, attributes)) continue;  // not added
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) continue;  // a folder of that name
    if (!CopyFileW(sourcePath.Text(), destinationPath.Text(), FALSE)) {
      DWORD error = GetLastError();
      LogFailureOf(error, L"replacing an installed file failed for \"%s\" from \"%s\"",
                   destinationPath.Text(), sourcePath.Text());
      return error;
    }
    ++replaced;
  } while (_wfindnext64i32(search.Get(), &entry) == 0);
  return ERROR_SUCCESS;
}
