// Package mode: the installation's folders are refreshed from the unpacked
// package "vskr_update" next to the updater, by the thirteen rows of the
// package map (package/package_map.h), as one transaction: every installed
// file that has a counterpart in the package is replaced, or none is.
#pragma once

#include <windows.h>

#include "journal/run_journal.h"
#include "package/own_signature_check.h"
#include "settings/update_context.h"
#include "text/tmk_string.h"

// Refreshes the installation from "<updaterFolder>\vskr_update": checks the
// package first (its list, the list's signature and its version:
// package/package_verification.h, by the updater's signature as `own`
// finds it; a lower version only with `allowDowngrade`), then plans every
// row first (context.ExecutablePath and the product key's folders), then
// sets each installed file aside and copies its package file in place (the
// switch) and removes the old ones (package/package_transaction.h); the
// temporary names carry the run id of `journal`, which records the plan and
// each stage before anything is changed (Switching before the first rename,
// Switched after the last, Done once the old files are gone or the run is
// undone). The old files are removed only once Switched is recorded; a
// record that fails undoes the switch. Whatever stops it before the switch is complete leaves the
// installation as it was: contents, attributes, time stamps, and no file of
// the run. Returns:
//   0                              every planned file replaced
//   ERROR_SUCCESS_REBOOT_REQUIRED  every planned file replaced; an old one in
//                                  use (a loaded program file) is removed at
//                                  the next restart
//   ERROR_FILE_NOT_FOUND           no package folder; nothing changed
//   the error of a package folder that is there but can't be looked at;
//   nothing changed
//   ERROR_INVALID_DATA             the package list is invalid; nothing
//                                  changed
//   ERROR_INVALID_IMAGE_HASH (577) the package refused for its list, its
//                                  signature, a listed file missing from the
//                                  package or a copy whose digest is not the
//                                  listed one; nothing changed
//   ERROR_PRODUCT_VERSION          the package's version is lower than the
//                                  one recorded; nothing changed
//   ERROR_BAD_PATHNAME             a row's registry value is empty or not an
//                                  absolute path; nothing changed
//   ERROR_ACCESS_DENIED            an installed file is read-only, hidden or
//                                  a system file; nothing changed
//   the error of a row folder, package folder or installed folder that is
//   there but can't be read (e.g. ERROR_BAD_NETPATH); nothing changed
//   ERROR_DISK_FULL                no room for the new files; nothing changed
//   the error of a copy, rename or record that failed (e.g.
//   ERROR_SHARING_VIOLATION for a file held without delete sharing);
//   nothing changed, unless the undo failed too (logged; the journal is
//   then left at its stage, and the next run undoes the rest)
//   the error of an old file that could be neither removed nor scheduled
//   for the restart: every planned file replaced, that old one left (and
//   logged); the journal records the run done
// The run log tells each row, what stopped the run (file or row, and the
// error), what was undone, and the time each step took.
[[nodiscard]] DWORD InstallPackage(const UpdateContext& context, const tmk_String& updaterFolder,
                                   RunJournal& journal, bool allowDowngrade,
                                   OwnSignatureCheck& own);

// Brings the installation back to one version after an earlier package run
// that did not end, from its journal's plan and stage and what lies on the
// disk (ReadSwitchDirection): a run whose switch was not complete, or whose
// undo had begun, is undone (the old files are renamed back, the new ones
// removed); one whose switch was complete is finished (its old files are
// removed, those in use scheduled for the restart; one that can be neither
// is logged and left). Logs what it did and records the stage Done. Returns
// 0 (also for a run with nothing to do, and for a finished run that left an
// old file), or the error that kept the installation from one version (a
// file that could not be undone; the journal keeps its stage for the next
// run).
[[nodiscard]] DWORD RecoverPackageRun(RunJournal& earlier);
