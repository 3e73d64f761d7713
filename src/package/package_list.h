// The package's own list of its files, "vskr_update.sha256" in the package
// folder: UTF-8 text (a byte-order mark tolerated, lines ending in LF or
// CRLF) in the form sha256sum writes and checks,
//   <64 hexadecimal digits><two blanks><path>
// the path relative to the package folder with "/" between its parts. Lines
// beginning with "#" are comments, except the headers
//   # vskr-package: 1            the list's format (required)
//   # version: 4.2.0.1234        the package's version (optional)
// Empty lines are passed over.
#pragma once

#include <windows.h>

#include <array>
#include <map>
#include <string>
#include <vector>

#include "platform/sha256.h"

// The list and its detached signature, in the package folder.
extern const wchar_t kPackageListName[];
extern const wchar_t kPackageListSignatureName[];

// A package version: four numbers, compared from the first.
using PackageVersion = std::array<unsigned long, 4>;

// Reads "a.b.c.d" (four decimal numbers of up to nine digits each, nothing
// else). False when `text` is not one; `version` is not touched then.
bool ParsePackageVersion(const std::wstring& text, PackageVersion& version);
std::wstring PackageVersionText(const PackageVersion& version);

// Why `path`, a list's path ("/" between its parts), can't name a file
// below the package folder; null when it can. Refused: an empty path, an
// absolute one, a drive letter, a ":" (a stream), a "\", an empty, "." or
// ".." part, a part ending in a dot or a blank, a device name as a part's
// base (nul, con.txt, com1, lpt1, conin$, ...), a control character or one
// of < > " | ? *.
const wchar_t* ListedPathProblem(const std::wstring& path);

// Listed paths compared as the file system compares names: ordinally,
// letter case ignored.
struct ListedPathLess {
  bool operator()(const std::wstring& a, const std::wstring& b) const;
};

class PackageList {
 public:
  // Reads the list from its bytes, strictly. Returns 0, or
  // ERROR_INVALID_DATA when anything in it is not as the format says (not
  // UTF-8, no format header or another format, a header twice, a malformed
  // version or line, a path refused by ListedPathProblem, two lines naming
  // one file, letter case aside); `problem` then tells the line and why.
  [[nodiscard]] DWORD Parse(const std::string& bytes, std::wstring& problem);

  bool HasVersion() const { return hasVersion_; }
  const PackageVersion& Version() const { return version_; }
  size_t Count() const { return paths_.size(); }
  // The listed path (with "\" between its parts) and digest of entry `i`.
  const std::wstring& Path(size_t i) const { return paths_[i]; }
  const Sha256Digest& Digest(size_t i) const { return digests_[i]; }
  // The entry of `relativePath` ("\" between its parts; letter case
  // ignored); Count() when it is not listed.
  size_t Find(const std::wstring& relativePath) const;

 private:
  bool hasVersion_ = false;
  PackageVersion version_{};
  std::vector<std::wstring> paths_;
  std::vector<Sha256Digest> digests_;
  std::map<std::wstring, size_t, ListedPathLess> index_;
};

// The list as a package run's plan uses it: which package files may be
// copied and with which digest, and which listed files the plan met.
class ListedFiles {
 public:
  // `list` null: the package has no list, and every file may be copied
  // unverified. `packageRoot` is the package folder the list's paths are
  // relative to.
  ListedFiles(const PackageList* list, const std::wstring& packageRoot);

  // True when the package file `sourcePath` (below the package folder) may
  // be copied; `verified` then tells whether its copy must have `digest`.
  // False for a file not on the list (logged: it is never copied).
  bool Admit(const std::wstring& sourcePath, bool& verified, Sha256Digest& digest);

  // Looks for each listed file that Admit was not asked about in the
  // package folder. Returns 0 when every one is there, or
  // ERROR_FILE_NOT_FOUND when a listed file is not (each logged).
  [[nodiscard]] DWORD FindUnmetFiles() const;

 private:
  const PackageList* list_;
  std::wstring prefix_;  // the package folder with its backslash
  std::vector<char> met_;
};
