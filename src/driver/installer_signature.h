// Whether the update installer may be started, by its Authenticode signature
// and the updater's own: the updater runs elevated, and the installer it
// starts gets the same rights.
#pragma once

#include <windows.h>

#include "platform/unique_handle.h"
#include "text/tmk_string.h"

// The exit code of a run whose installer was refused (the system's
// ERROR_INVALID_IMAGE_HASH).
constexpr DWORD kInstallerRefused = 577;

// Opens the installer at `installerPath` into `held`, which then keeps it
// from being written, replaced or deleted until it is closed, and decides by
// the signatures of the installer and of the updater itself:
// - an installer whose signature is there but does not verify (changed after
//   signing, broken) never runs;
// - when the updater carries a valid signature, the installer must carry a
//   valid one whose signer certificate has the same subject (a renewed
//   certificate of the same publisher passes);
// - when the updater is not signed, the installer runs unless its signature
//   is broken, without a publisher to check against (the log says so);
// - when the updater's own signature is there but does not verify, no
//   installer runs: there is no publisher to trust.
// Logs each file's verification result and signer. Returns 0 when the
// installer may run. Otherwise closes `held`, logs the refusal with the
// file, its signer and the result, shows "The update file is not signed by
// the publisher of this program." and returns kInstallerRefused.
[[nodiscard]] DWORD AdmitInstaller(const tmk_String& installerPath, vskr::UniqueFileHandle& held);
