// Whether the update installer may be started, by its Authenticode signature
// and the updater's own: the updater runs elevated, and the installer it
// starts gets the same rights.
#pragma once

#include <windows.h>

#include <memory>
#include <thread>

#include "platform/unique_handle.h"
#include "text/tmk_string.h"

// The exit code of a run whose installer was refused (the system's
// ERROR_INVALID_IMAGE_HASH).
constexpr DWORD kInstallerRefused = 577;

struct Examined;

// The search for the installer next to the updater (FindInstaller) and the
// examination of the installer's signature and of the updater's own, on a
// thread of its own from the moment this object is made: the system's
// verification costs tens of milliseconds on its first use, and the run
// takes its lock and looks at its earlier runs meanwhile. The installer
// found is opened at once and kept open (readable, but nobody may write,
// replace or delete it) until its handle is closed. Nothing is logged from
// that thread; AdmitInstaller logs the results. The thread is joined at the
// latest when the object goes.
class InstallerCheck {
 public:
  explicit InstallerCheck(const tmk_String& updaterFolder);
  ~InstallerCheck();
  InstallerCheck(const InstallerCheck&) = delete;
  InstallerCheck& operator=(const InstallerCheck&) = delete;

  // Waits until the search and the examinations are done; the accessors
  // below may be used after it.
  void Wait();
  // FindInstaller's outputs (empty when nothing was found).
  const tmk_String& Path() const;
  const tmk_String& FileName() const;
  // The installer, held open since it was found.
  vskr::UniqueFileHandle& Held();

 private:
  struct Outcome;
  friend DWORD AdmitInstaller(InstallerCheck& check);
  std::unique_ptr<Outcome> outcome_;
  std::thread thread_;
};

// Decides, once `check` is done, by the signatures of the installer and of
// the updater itself:
// - an installer whose signature is there but does not verify (changed after
//   signing, broken) never runs;
// - when the updater carries a valid signature, the installer must carry a
//   valid one whose signer certificate has the same subject (a renewed
//   certificate of the same publisher passes);
// - when the updater is not signed, the installer runs unless its signature
//   is broken, without a publisher to check against (the log says so);
// - when the updater's own signature is there but does not verify, no
//   installer runs: there is no publisher to trust;
// - an installer that could not be opened is refused.
// Logs each file's verification result and signer. Returns 0 when the
// installer may run. Otherwise closes the held installer, logs the refusal
// with the file, its signer and the result, shows "The update file is not
// signed by the publisher of this program." and returns kInstallerRefused.
[[nodiscard]] DWORD AdmitInstaller(InstallerCheck& check);
