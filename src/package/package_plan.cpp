// The plan of a package run: the walk of one package folder tree against its
// installation folder tree, which finds the installed files to replace, and
// the list that collects them over all rows.
#include "package/package_plan.h"

#include <algorithm>
#include <cwchar>

#include "platform/long_path.h"
#include "platform/run_log.h"
#include "platform/unique_handle.h"
#include "settings/update_files.h"

namespace {

// An installed file with one of these can't be replaced: Windows' copy
// refuses to overwrite it (a program running as root under Wine would not).
constexpr DWORD kRefusedAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

// Names compared as the file system compares them: ordinally, case ignored.
int CompareNames(const wchar_t* a, const wchar_t* b) {
  return CompareStringOrdinal(a, -1, b, -1, TRUE) - CSTR_EQUAL;
}

bool IsDotEntry(const wchar_t* name) {
  return std::wcscmp(name, L".") == 0 || std::wcscmp(name, L"..") == 0;
}

// Looks `path` up exactly as given (a find-first search on the path
// itself). Returns 0 with `found` set, and `attributes` and `name` (the
// entry's long name) when found; or the system's error of any answer other
// than "not there".
DWORD FindPath(const tmk_String& path, bool& found, DWORD& attributes, std::wstring& name) {
  WIN32_FIND_DATAW entry;
  vskr::UniqueFindHandle search(FindFirstFileW(path.Text(), &entry));
  found = search.IsValid();
  if (!found) {
    DWORD error = GetLastError();
    return IsMissingError(error) ? ERROR_SUCCESS : error;
  }
  attributes = entry.dwFileAttributes;
  name = entry.cFileName;
  return ERROR_SUCCESS;
}

// The entries of one installation folder, by long and by short name, read
// at once. Under Wine the lookup of a missing file reads its whole folder,
// which makes a large folder cost the square of its size; a lookup in memory
// does not. The walk creates and deletes nothing, so the entries stay true
// while the folder is walked.
class InstalledEntries {
 public:
  // Returns 0 (a folder that is not there has no entries), or the system's
  // error of a folder that could not be read to its end.
  DWORD Read(const tmk_String& folder) {
    tmk_String pattern = Concatenate(WithBackslash(folder), L"*");
    WIN32_FIND_DATAW found;
    vskr::UniqueFindHandle search(FindFirstFileExW(pattern.Text(), FindExInfoStandard, &found,
                                                   FindExSearchNameMatch, nullptr, 0));
    if (!search) {
      DWORD error = GetLastError();
      return IsMissingError(error) ? ERROR_SUCCESS : error;
    }
    do {
      entries_.push_back({found.cFileName, found.cFileName, found.dwFileAttributes});
      if (found.cAlternateFileName[0] != 0)
        entries_.push_back({found.cAlternateFileName, found.cFileName, found.dwFileAttributes});
    } while (FindNextFileW(search.Get(), &found));
    DWORD end = GetLastError();
    if (end != ERROR_NO_MORE_FILES) return end;
    std::sort(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) {
      return CompareNames(a.name.c_str(), b.name.c_str()) < 0;
    });
    return ERROR_SUCCESS;
  }

  // The first entry whose name equals `name` when case is ignored; null
  // when there is none. `attributes` and `longName` are set when found.
  const std::wstring* Find(const wchar_t* name, DWORD& attributes, std::wstring& longName) const {
    auto before = [](const Entry& entry, const wchar_t* key) {
      return CompareNames(entry.name.c_str(), key) < 0;
    };
    auto at = std::lower_bound(entries_.begin(), entries_.end(), name, before);
    if (at == entries_.end() || CompareNames(at->name.c_str(), name) != 0) return nullptr;
    attributes = at->attributes;
    longName = at->longName;
    return &at->name;
  }

 private:
  struct Entry {
    std::wstring name;      // long or short
    std::wstring longName;  // the entry's long name
    DWORD attributes;
  };
  std::vector<Entry> entries_;
};

// The installed counterparts of the entries of one package folder. The
// installation folder is read when the first entry asks. A name that is not
// there, even with case ignored, is not installed; one that is there
// exactly is, with the attributes read. Any other answer comes from the
// file system: a name that is there with other case (a folder may compare
// case-sensitively) and a name that ends in a dot or a blank (the system
// trims those from a path).
class InstalledFolder {
 public:
  explicit InstalledFolder(const tmk_String& folder)
      : folder_(folder), prefix_(WithBackslash(folder)) {}

  // Returns 0 with `found` true when `name` is installed; then `attributes`
  // and `installedName` (its long name as the folder holds it) are set. Or
  // the system's error when the folder or the name can't be read.
  DWORD LookUp(const wchar_t* name, bool& found, DWORD& attributes, std::wstring& installedName) {
    found = false;
    if (!read_) {
      read_ = true;
      listing_ = entries_.Read(folder_);
      if (listing_ != ERROR_SUCCESS)
        LogFailure(L"reading an installation folder", folder_.Text(), listing_);
    }
    if (listing_ != ERROR_SUCCESS) return listing_;
    size_t length = std::wcslen(name);
    bool trimmed = length > 0 && (name[length - 1] == L'.' || name[length - 1] == L' ');
    const std::wstring* listedName =
        trimmed ? nullptr : entries_.Find(name, attributes, installedName);
    if (!trimmed && listedName == nullptr) return ERROR_SUCCESS;
    found = listedName != nullptr && *listedName == name;
    if (found) return ERROR_SUCCESS;
    tmk_String path = Concatenate(prefix_, name);
    DWORD error = FindPath(path, found, attributes, installedName);
    if (error != ERROR_SUCCESS) LogFailure(L"looking for an installed file", path.Text(), error);
    return error;
  }

  // The identity of the installed entry `name` of this folder: the folder
  // is opened once (no access asked for, so a folder in use opens too).
  DWORD Identify(const std::wstring& name, InstalledIdentity& identity) {
    if (!identified_) {
      vskr::UniqueFileHandle handle(
          CreateFileW(ExtendedPath(folder_.Text()).c_str(), 0,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
      BY_HANDLE_FILE_INFORMATION info{};
      if (!handle || !GetFileInformationByHandle(handle.Get(), &info)) {
        DWORD error = GetLastError();
        LogFailure(L"identifying an installation folder", folder_.Text(), error);
        return error;
      }
      identified_ = true;
      folderIdentity_.volume = info.dwVolumeSerialNumber;
      folderIdentity_.folderHigh = info.nFileIndexHigh;
      folderIdentity_.folderLow = info.nFileIndexLow;
      // A file system that tells no file index (some network shares) gives
      // every folder 0: the folder is then known by its path.
      byPath_ = info.nFileIndexHigh == 0 && info.nFileIndexLow == 0;
    }
    identity = folderIdentity_;
    identity.name = byPath_ ? prefix_.Text() + name : name;
    return ERROR_SUCCESS;
  }

  const tmk_String& Prefix() const { return prefix_; }

 private:
  tmk_String folder_;
  tmk_String prefix_;
  InstalledEntries entries_;
  bool read_ = false;
  DWORD listing_ = ERROR_SUCCESS;
  bool identified_ = false;
  bool byPath_ = false;
  InstalledIdentity folderIdentity_;
};

DWORD PlanEntries(const tmk_String& source, InstalledFolder& installed, PackagePlan& plan,
                  unsigned long& planned);

// A package subfolder: walked when an installed folder of its name is there
// and is no link.
DWORD PlanSubfolder(const tmk_String& sourcePath, InstalledFolder& installed, const wchar_t* name,
                    PackagePlan& plan, unsigned long& planned) {
  bool found = false;
  DWORD attributes = 0;
  std::wstring installedName;
  DWORD error = installed.LookUp(name, found, attributes, installedName);
  if (error != ERROR_SUCCESS || !found) return error;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return ERROR_SUCCESS;  // a file of that name
  tmk_String destination = Concatenate(installed.Prefix(), installedName.c_str());
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    // What it points to lies outside the installation, or is reached twice.
    LogLine(L"package: \"%s\" is a folder link inside the installation: not entered",
            destination.Text());
    return ERROR_SUCCESS;
  }
  InstalledFolder subfolder(destination);
  return PlanEntries(sourcePath, subfolder, plan, planned);
}

// A package file: planned when an installed file of its name is there.
DWORD PlanFile(PackageSource source, InstalledFolder& installed, const wchar_t* name,
               PackagePlan& plan, unsigned long& planned) {
  if (plan.Listed() && !plan.Listed()->Admit(source.path, source.verified, source.digest))
    return ERROR_SUCCESS;  // not on the list: never copied
  bool found = false;
  DWORD attributes = 0;
  std::wstring installedName;
  DWORD error = installed.LookUp(name, found, attributes, installedName);
  if (error != ERROR_SUCCESS || !found) return error;                // not added
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return ERROR_SUCCESS;  // a folder of that name
  std::wstring path = installed.Prefix().Text() + installedName;
  if (IsBackupSlotName(installedName)) {
    // The run journal's alone: never replaced, whatever the package holds.
    LogLine(L"package: \"%s\" is a backup copy of the configuration: not replaced", path.c_str());
    return ERROR_SUCCESS;
  }
  if (attributes & kRefusedAttributes) {
    LogLine(L"package: the installed file \"%s\" is %s and can't be replaced", path.c_str(),
            (attributes & FILE_ATTRIBUTE_READONLY) ? L"read-only"
            : (attributes & FILE_ATTRIBUTE_HIDDEN) ? L"hidden"
                                                   : L"a system file");
    return ERROR_ACCESS_DENIED;
  }
  InstalledIdentity identity;
  error = installed.Identify(installedName, identity);
  if (error != ERROR_SUCCESS) return error;
  if (source.readOnly)
    LogLine(L"package: \"%s\" is read-only in the package; its copy at \"%s\" is installed "
            L"writable",
            source.path.c_str(), path.c_str());
  plan.Add(source, path, identity);
  ++planned;
  return ERROR_SUCCESS;
}

// Plans the entries of the package folder `source` against `installed`.
DWORD PlanEntries(const tmk_String& source, InstalledFolder& installed, PackagePlan& plan,
                  unsigned long& planned) {
  tmk_String sourcePrefix = WithBackslash(source);
  tmk_String pattern = Concatenate(sourcePrefix, L"*");
  WIN32_FIND_DATAW entry;
  vskr::UniqueFindHandle search(FindFirstFileExW(pattern.Text(), FindExInfoBasic, &entry,
                                                 FindExSearchNameMatch, nullptr, 0));
  if (!search) {
    // A missing source folder is the ordinary case: the package has none.
    DWORD error = GetLastError();
    if (IsMissingError(error)) return ERROR_SUCCESS;
    LogFailure(L"reading a package folder", source.Text(), error);
    return error;
  }
  DWORD first = ERROR_SUCCESS;
  do {
    if (IsDotEntry(entry.cFileName)) continue;
    tmk_String sourcePath = Concatenate(sourcePrefix, entry.cFileName);
    DWORD error = ERROR_SUCCESS;
    if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      PackageSource file{sourcePath.Text(),
                         (static_cast<unsigned long long>(entry.nFileSizeHigh) << 32) |
                             entry.nFileSizeLow,
                         (entry.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0};
      error = PlanFile(file, installed, entry.cFileName, plan, planned);
    } else if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      // A folder link of the package is not followed: one that points back
      // up the tree would never end.
      error = PlanSubfolder(sourcePath, installed, entry.cFileName, plan, planned);
    }
    if (first == ERROR_SUCCESS) first = error;
  } while (FindNextFileW(search.Get(), &entry));
  DWORD end = GetLastError();
  if (end != ERROR_NO_MORE_FILES) {
    LogFailure(L"reading a package folder to its end", source.Text(), end);
    if (first == ERROR_SUCCESS) first = end;
  }
  return first;
}

}  // namespace

bool InstalledIdentityLess::operator()(const InstalledIdentity& a,
                                       const InstalledIdentity& b) const {
  if (a.volume != b.volume) return a.volume < b.volume;
  if (a.folderHigh != b.folderHigh) return a.folderHigh < b.folderHigh;
  if (a.folderLow != b.folderLow) return a.folderLow < b.folderLow;
  return CompareNames(a.name.c_str(), b.name.c_str()) < 0;
}

PackagePlan::PackagePlan(const std::wstring& runId, ListedFiles* listed)
    : listed_(listed),
      stagedSuffix_(L".vskr-" + runId + L".new"),
      asideSuffix_(L".vskr-" + runId + L".old") {}

void PackagePlan::Add(const PackageSource& source, const std::wstring& installed,
                      const InstalledIdentity& identity) {
  auto known = index_.find(identity);
  if (known != index_.end()) {
    sources_[known->second] = source;
    return;
  }
  index_.emplace(identity, files_.size());
  files_.push_back({installed, installed + stagedSuffix_, installed + asideSuffix_});
  sources_.push_back(source);
}

unsigned long long PackagePlan::Bytes() const {
  unsigned long long bytes = 0;
  for (const PackageSource& source : sources_) bytes += source.bytes;
  return bytes;
}

DWORD PlanFolderTree(const tmk_String& source, const tmk_String& destination, PackagePlan& plan,
                     unsigned long& planned) {
  bool found = false;
  DWORD attributes = 0;
  std::wstring name;
  DWORD error = FindPath(destination, found, attributes, name);
  if (error != ERROR_SUCCESS) {
    LogFailure(L"looking for an installation folder", destination.Text(), error);
    return error;
  }
  if (!found) return ERROR_SUCCESS;  // nothing to refresh
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    LogLine(L"package: \"%s\" is a file, not an installation folder", destination.Text());
    return ERROR_DIRECTORY;
  }
  InstalledFolder installed(destination);
  return PlanEntries(source, installed, plan, planned);
}
