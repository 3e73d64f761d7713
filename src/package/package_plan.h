// The plan of a package run: every installed file that a package file
// replaces, with the temporary names the transaction gives the new and the
// old content beside it, found before anything is written.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "journal/journal_record.h"
#include "package/package_list.h"
#include "platform/sha256.h"
#include "text/tmk_string.h"

// The package file that replaces one installed file.
struct PackageSource {
  std::wstring path;
  unsigned long long bytes = 0;
  bool readOnly = false;  // the new copy loses the attribute
  bool verified = false;  // the copy must have `digest` (the package list's)
  Sha256Digest digest{};
};

// What an installed file is, whatever path reached it: the volume and file
// index of its folder and its name there (letter case aside). Two spellings
// of one folder (a short name, a link above the rows) give one identity.
// Where the file system tells no index (0), `name` is the full path.
struct InstalledIdentity {
  DWORD volume = 0;
  DWORD folderHigh = 0;
  DWORD folderLow = 0;
  std::wstring name;
};

// Identities ordered by folder, then by name as the file system compares
// names: ordinally, letter case ignored.
struct InstalledIdentityLess {
  bool operator()(const InstalledIdentity& a, const InstalledIdentity& b) const;
};

// The files of a package run: for each installed file to replace, its
// names (as the run journal records them) and its package file, by the same
// index. The temporary names lie in the installed file's own folder, so on
// its volume, and carry the run id:
//   staged  "<installed>.vskr-<run id>.new": where an undo takes a new file
//           (or what a copy left of it) before removing it
//   aside   "<installed>.vskr-<run id>.old": the installed file from the switch until removed
class PackagePlan {
 public:
  // `runId` names the temporary files; `listed` (null: none) says which
  // package files may be copied, with their digests.
  explicit PackagePlan(const std::wstring& runId, ListedFiles* listed = nullptr);

  // Plans `source` to replace the installed file `installed` (known by
  // `identity`). An installed file planned already (the same identity,
  // reached by whatever path) keeps its first path and takes the later
  // source, as a later row of the map would have copied over it.
  void Add(const PackageSource& source, const std::wstring& installed,
           const InstalledIdentity& identity);
  ListedFiles* Listed() const { return listed_; }

  const std::vector<PackageReplacement>& Files() const { return files_; }
  const std::vector<PackageSource>& Sources() const { return sources_; }
  unsigned long long Bytes() const;

 private:
  ListedFiles* listed_;
  std::wstring stagedSuffix_;
  std::wstring asideSuffix_;
  std::vector<PackageReplacement> files_;
  std::vector<PackageSource> sources_;
  std::map<InstalledIdentity, size_t, InstalledIdentityLess> index_;
};

// Plans the package folder tree `source` against the installation folder
// tree `destination`: each package file whose counterpart of the same
// relative path is an installed file (names compared as the file system
// compares them; the installed file keeps its own name). Nothing is added:
// a package file without an installed counterpart, one named like an
// installed folder and a package folder without an installed folder are
// passed over, and so is a `destination` or `source` that is not there
// (the system's "file not found" or "path not found"). No link is
// followed: a folder link of the package is passed over, and so is a folder
// link below `destination` (logged); `destination` itself is taken as the
// registry names it. A read-only package file is logged: its copy is
// installed writable. An installed file that is read-only, hidden or a
// system file can't be replaced (Windows' own copy refuses it): each one is
// logged and the walk goes on. A package file that the plan's list does
// not admit is never planned (the list logs it). Returns 0;
// ERROR_ACCESS_DENIED when such a file was found; or the system's error of a
// folder that could not be read otherwise (an offline share, access denied,
// an enumeration that failed before the folder's end; logged), so that no
// row is passed over in silence. `planned` counts the files this call added
// to `plan`.
[[nodiscard]] DWORD PlanFolderTree(const tmk_String& source, const tmk_String& destination,
                                   PackagePlan& plan, unsigned long& planned);
