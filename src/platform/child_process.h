// Starting the programs the updater works through (the installer, tar, net,
// regasm) in the folder they need, waiting for them, and looking for running
// processes by name.
#pragma once

#include <windows.h>

#include <string>

#include "platform/unique_handle.h"
#include "text/tmk_string.h"

// How a child shows itself.
enum class LaunchProfile {
  // No window (SW_HIDE), and the updater's own standard handles handed on
  // (STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES).
  HiddenTool,
  // Its window shown normally (SW_SHOWNORMAL, STARTF_USESHOWWINDOW only).
  VisibleProgram,
};

// Starts `commandLine` without handle inheritance, with the updater's
// environment and current folder. The program is the command line's first
// token. An unqualified program name ("tar") is looked up like the system
// does it, except that the updater's own folder is never searched: files
// there came with the download, and this program runs elevated.
// On success (0) `child` takes over the process and thread handles; on
// failure it is not touched and the system's error of the start is returned
// (ERROR_FILE_NOT_FOUND for a name no searched folder holds). Either way the
// run log tells it.
[[nodiscard]] DWORD LaunchChild(const tmk_String& commandLine, LaunchProfile profile,
                                vskr::ChildProcess& child);

// Waits for a started child's process without a time-out, then closes its
// process and thread handles. Returns the child's exit code (also logged);
// when the system can't tell it, logs that and returns the error.
DWORD WaitForChild(vskr::ChildProcess& child, const tmk_String& commandLine);

// LaunchChild, then, when the child started, waits for its process without a
// time-out and closes its process and thread handles. Returns the error of
// the start (0 when it started); `exitCode`, when given, receives the
// child's exit code.
[[nodiscard]] DWORD RunAndWait(const tmk_String& commandLine, LaunchProfile profile,
                               DWORD* exitCode = nullptr);

// Pauses 1000 ms, then looks for a process named `imageName`, and repeats
// both while one runs. Always pauses at least once; has no upper bound. The
// run log tells when processes are first found (how many, their ids) and
// then once a minute.
void WaitWhileProcessRunning(const tmk_String& imageName);

// How LaunchChild takes the program of a command line.
enum class ProgramLookup {
  AsGiven,   // the first token carries a folder or drive: the system takes it
  Found,     // an unqualified name, found at the path handed back
  NotFound,  // an unqualified name that no searched folder holds
};

// Looks up the program that an unqualified first token ("tar", "net.exe")
// names: in the current folder unless it is the updater's own folder (in
// any of its names) or that folder can't be told, the system folder, the
// 16-bit system folder, the Windows folder and the absolute folders of PATH,
// in that order, with ".exe" added to a name without extension. `program` receives the path found; it is not touched
// otherwise.
ProgramLookup FindChildProgram(const tmk_String& commandLine, tmk_String& program);

namespace vskr {

// Makes `folder` the current folder while it lives and the earlier one
// current again afterwards. Error() is the system's code of the change (0:
// changed); a failed change leaves the current folder as it was. The run
// log tells a failed change, and a failed change back.
class ScopedCurrentFolder {
 public:
  explicit ScopedCurrentFolder(const wchar_t* folder);
  ~ScopedCurrentFolder();
  ScopedCurrentFolder(const ScopedCurrentFolder&) = delete;
  ScopedCurrentFolder& operator=(const ScopedCurrentFolder&) = delete;
  DWORD Error() const { return error_; }

 private:
  std::wstring earlier_;
  DWORD error_ = 0;
};

}  // namespace vskr
