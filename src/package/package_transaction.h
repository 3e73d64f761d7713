// A package run as one transaction over its plan, in three steps: the room
// for the new content is checked; each installed file is set aside under a
// name of its own, beside it, and its package file copied to its name (the
// switch); the set-aside files are removed. Until the switch is complete the
// whole can be undone, and afterwards finished, from the plan's names and
// what lies on the disk alone, also by a later run from its journal. (A
// rename costs about as much as a small copy under Wine: setting the old
// file aside and copying the new one in place takes one rename a file less
// than staging a copy and renaming it in, and is as safe.)
//
// Each step works on several files at once (RunSteps) and logs every file
// it could not handle with its paths and the system's error.
#pragma once

#include <windows.h>

#include <vector>

#include "package/package_plan.h"

// The threads the steps run on. The steps wait on the file system most of
// the time; on two cores under Wine (whose file work goes through one
// server process) three or four threads take 15 % less time than two and
// 40 % less than one (docs/package-benchmark.md).
constexpr unsigned kPackageThreads = 4;

// Checks that every volume of the installed files has room for the new
// files beside the set-aside ones: each file's size rounded up to the volume's cluster, against the
// space free for this user. A file lies on the volume of the longest of
// `rowFolders` (the rows' installation folders) above it: the plan enters no
// folder link, and so no other volume, below a row's folder. Returns 0,
// ERROR_DISK_FULL (logged with the volume, the bytes needed and free), or
// the error of a query (logged).
[[nodiscard]] DWORD CheckRoomForNewFiles(const PackagePlan& plan,
                                        const std::vector<std::wstring>& rowFolders);

// The switch: renames each installed file to its set-aside name, then copies
// its package file to the installed name (never over a file that is there).
// A program file that a running program has loaded is renamed like any
// other. Returns 0, or the error of the first file that failed (a file held
// without delete sharing: ERROR_SHARING_VIOLATION; a full disk:
// ERROR_DISK_FULL); no file is begun after it, and the caller undoes the
// switch.
[[nodiscard]] DWORD SwitchInFiles(const PackagePlan& plan, unsigned threads);

// Puts the installation back as it was before the switch, from the plan and
// what lies on the disk, from the last file to the first: where a set-aside file is there, the file at the
// installed name (the new one, or what a copy left of it, when there) goes
// to the ".new" name and the set-aside file back to the installed name; then
// every ".new" file that is there is removed. For a switch that failed or
// was ended.
// Returns 0 (the installation as it was, nothing of the run left), or the
// first error: the files it names keep the new version or a temporary
// name.
[[nodiscard]] DWORD UndoPackageFiles(const std::vector<PackageReplacement>& files,
                                    unsigned threads);

// Removes each set-aside file that is there, after a complete switch. One
// that can't be removed (a program file in use) is scheduled for removal at
// the next restart, one file at a time on the calling thread, and the run
// log names it and the programs holding it. Returns 0,
// ERROR_SUCCESS_REBOOT_REQUIRED when a file waits for the restart, or the
// first error of a file that could be neither removed nor scheduled (it
// stays beside the new one, and the log names it with both errors); the
// installation holds the package's version in every case.
[[nodiscard]] DWORD FinishPackageFiles(const std::vector<PackageReplacement>& files,
                                      unsigned threads);

// Where a package run that was ended must go to bring the installation back
// to one version.
enum class SwitchDirection {
  Undo,   // the switch was not complete, or an undo had begun
  Finish  // the switch was complete: the set-aside files are removed
};

// Reads from the disk where a switch of `files` that was ended stands, with
// `recordedSwitched` (the journal recorded the switch complete) for what
// the disk can't tell. A ".new" file means an undo had begun, a set-aside
// file without a file at its installed name a switch that never copied
// that file in: Undo (finishing would leave nothing there). Files
// missing their set-aside name before the last one that has it, more than
// `threads` (the files under way at once), were removed after a complete
// switch: Finish; missing after the first one that has it, the switch or
// its undo stopped there: Undo. Otherwise the record decides. Returns 0 or
// the error of a look-up (logged; `direction` is then the record's).
[[nodiscard]] DWORD ReadSwitchDirection(const std::vector<PackageReplacement>& files,
                                        bool recordedSwitched, unsigned threads,
                                        SwitchDirection& direction);
