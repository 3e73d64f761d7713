// The package checked as a whole before anything changes: its own list of
// files (package/package_list.h), the list's signature judged by the
// updater's own publisher, and the package's version against the one
// recorded.
#pragma once

#include <windows.h>

#include <string>

#include "package/own_signature_check.h"
#include "package/package_list.h"
#include "text/tmk_string.h"

// The exit code of a package refused for its list, its signature or a
// copied file's digest (the system's ERROR_INVALID_IMAGE_HASH).
constexpr DWORD kPackageRefused = 577;

// The package's list as the run read it.
struct PackageCheck {
  std::wstring listPath;
  bool listed = false;  // a list was read: only its files are copied, with its digests
  std::string bytes;    // the list as read, for its signature
  PackageList list;
};

// Reads the list in `packageRoot` ("vskr_update") when it is there, strictly
// (package/package_list.h). Returns 0 (`check.listed` tells whether there
// was one), ERROR_INVALID_DATA for an invalid list (the line and why
// logged), or the error of reading it (logged).
[[nodiscard]] DWORD ReadPackageList(const tmk_String& packageRoot, PackageCheck& check);

// Judges the package read by ReadPackageList by the updater's own signature
// (`own`, waited for here):
// - the updater carries a valid signature: the list must be there, its
//   detached signature must verify (platform/detached_signature.h) and its
//   signer certificate must have the subject of the updater's signer;
// - the updater is not signed: a list that is there is used all the same,
//   its signature not judged against a publisher; without one the package
//   is copied unverified. The log says which;
// - the updater's own signature is there but does not verify: no package is
//   trusted.
// Then, when the list carries a version lower than the one recorded under
// the product key, the package is refused unless `allowDowngrade`.
// Logs what it found (the signers, the versions). Returns 0, or:
// kPackageRefused for a list missing, a signature missing, not verifying
// or of another publisher, or an updater whose signature does not verify
// (the signer found and the system's result logged); ERROR_PRODUCT_VERSION
// for a lower version; the error of reading the signature or the recorded
// version.
[[nodiscard]] DWORD JudgePackage(const PackageCheck& check, bool allowDowngrade,
                                 OwnSignatureCheck& own);
