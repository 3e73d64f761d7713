// The plan of a package run: the walk of one package folder tree against its
// installation folder tree, which finds the installed files to replace, and
// the list that collects them over all rows.
#include "package/package_plan.h"

#include <io.h>

#include <algorithm>
#include <cerrno>
#include <cwchar>

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

// Looks `path` up exactly as given (a find-first search on the path itself).
// Returns true and sets `attributes` and `name` (the entry's long name) when
// something is there; neither is touched otherwise.
bool FindPath(const tmk_String& path, DWORD& attributes, std::wstring& name) {
  WIN32_FIND_DATAW found;
  vskr::UniqueFindHandle search(FindFirstFileW(path.Text(), &found));
  if (!search) return false;
  attributes = found.dwFileAttributes;
  name = found.cFileName;
  return true;
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
      entries_.push_back({found.cFileName, found.cFileName, found.dwFileAttributes});
      if (found.cAlternateFileName[0] != 0)
        entries_.push_back({found.cAlternateFileName, found.cFileName, found.dwFileAttributes});
    } while (FindNextFileW(search.Get(), &found));
    std::sort(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) {
      return CompareNames(a.name.c_str(), b.name.c_str()) < 0;
    });
    return true;
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
// case-sensitively), a name that ends in a dot or a blank (the system trims
// those from a path), and every name of a folder that can't be read.
class InstalledFolder {
 public:
  explicit InstalledFolder(const tmk_String& folder)
      : folder_(folder), prefix_(WithBackslash(folder)) {}

  // True when `name` is installed; then `attributes` and `installedName`
  // (its long name as the folder holds it) are set.
  bool LookUp(const wchar_t* name, DWORD& attributes, std::wstring& installedName) {
    if (!read_) {
      read_ = true;
      listed_ = entries_.Read(folder_);
    }
    size_t length = std::wcslen(name);
    bool trimmed = length > 0 && (name[length - 1] == L'.' || name[length - 1] == L' ');
    const std::wstring* listedName =
        listed_ && !trimmed ? entries_.Find(name, attributes, installedName) : nullptr;
    if (listedName != nullptr && *listedName == name) return true;
    if (listed_ && !trimmed && listedName == nullptr) return false;
    return FindPath(Concatenate(prefix_, name), attributes, installedName);
  }

  const tmk_String& Prefix() const { return prefix_; }

 private:
  const tmk_String& folder_;
  tmk_String prefix_;
  InstalledEntries entries_;
  bool read_ = false;
  bool listed_ = false;
};

DWORD PlanEntries(const tmk_String& source, InstalledFolder& installed, PackagePlan& plan,
                  unsigned long& planned);

// A package subfolder: walked when an installed folder of its name is there
// and is no link.
DWORD PlanSubfolder(const tmk_String& sourcePath, InstalledFolder& installed, const wchar_t* name,
                    PackagePlan& plan, unsigned long& planned) {
  DWORD attributes = 0;
  std::wstring installedName;
  if (!installed.LookUp(name, attributes, installedName)) return ERROR_SUCCESS;
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
DWORD PlanFile(const tmk_String& sourcePath, unsigned long long bytes, InstalledFolder& installed,
               const wchar_t* name, PackagePlan& plan, unsigned long& planned) {
  PackageSource source{sourcePath.Text(), bytes};
  if (plan.Listed() && !plan.Listed()->Admit(source.path, source.verified, source.digest))
    return ERROR_SUCCESS;  // not on the list: never copied
  DWORD attributes = 0;
  std::wstring installedName;
  if (!installed.LookUp(name, attributes, installedName)) return ERROR_SUCCESS;  // not added
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
  plan.Add(source, path);
  ++planned;
  return ERROR_SUCCESS;
}

// Plans the entries of the package folder `source` against `installed`.
DWORD PlanEntries(const tmk_String& source, InstalledFolder& installed, PackagePlan& plan,
                  unsigned long& planned) {
  tmk_String sourcePrefix = WithBackslash(source);
  tmk_String pattern = Concatenate(sourcePrefix, L"*.*");
  _wfinddata64_t entry{};
  vskr::UniqueCrtFind search(_wfindfirst64(pattern.Text(), &entry));
  if (!search) {
    // A missing source folder is the ordinary case: the package has none.
    if (errno != ENOENT) LogLine(L"the package folder \"%s\" can't be read", source.Text());
    return ERROR_SUCCESS;
  }
  DWORD first = ERROR_SUCCESS;
  do {
    if (IsDotEntry(entry.name)) continue;
    tmk_String sourcePath = Concatenate(sourcePrefix, entry.name);
    DWORD error = ERROR_SUCCESS;
    if (!(entry.attrib & _A_SUBDIR)) {
      error = PlanFile(sourcePath, static_cast<unsigned long long>(entry.size), installed,
                       entry.name, plan, planned);
    } else if (!(entry.attrib & FILE_ATTRIBUTE_REPARSE_POINT)) {
      // A folder link of the package is not followed: one that points back
      // up the tree would never end.
      error = PlanSubfolder(sourcePath, installed, entry.name, plan, planned);
    }
    if (first == ERROR_SUCCESS) first = error;
  } while (_wfindnext64(search.Get(), &entry) == 0);
  return first;
}

}  // namespace

bool InstalledPathLess::operator()(const std::wstring& a, const std::wstring& b) const {
  return CompareNames(a.c_str(), b.c_str()) < 0;
}

PackagePlan::PackagePlan(const std::wstring& runId, ListedFiles* listed)
    : listed_(listed),
      stagedSuffix_(L".vskr-" + runId + L".new"),
      asideSuffix_(L".vskr-" + runId + L".old") {}

void PackagePlan::Add(const PackageSource& source, const std::wstring& installed) {
  auto known = index_.find(installed);
  if (known != index_.end()) {
    sources_[known->second] = source;
    return;
  }
  index_.emplace(installed, files_.size());
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
  DWORD attributes = 0;
  std::wstring name;
  if (!FindPath(destination, attributes, name)) return ERROR_SUCCESS;  // nothing to refresh
  InstalledFolder installed(destination);
  return PlanEntries(source, installed, plan, planned);
}
