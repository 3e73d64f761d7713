// Runs a program while watching the desktop for message boxes: each one is
// recorded and its OK button pressed. The tests assert what a run showed;
// the demo's run_watched prints it.
#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace dialog_watch {

struct Dialog {
  std::wstring caption;
  std::wstring text;
  bool hasOwner = false;
  bool hasIcon = false;
  HWND owner = nullptr;  // not compared: a window of the moment
  bool operator==(const Dialog& o) const {
    return caption == o.caption && text == o.text && hasOwner == o.hasOwner &&
           hasIcon == o.hasIcon;
  }
};

struct RunResult {
  bool started = false;
  bool timedOut = false;
  DWORD exitCode = 0xFFFFFFFF;
  double seconds = 0;
  std::vector<Dialog> dialogs;
};

// Records every message box that appears on the desktop while it lives and
// presses its OK button, from a thread of its own (so it also answers the
// message boxes of its own process). Stop() ends the watch and returns what
// was seen, in order.
class DialogWatcher {
 public:
  DialogWatcher();
  ~DialogWatcher() { Stop(); }
  std::vector<Dialog> Stop();

 private:
  static BOOL CALLBACK Visit(HWND window, LPARAM self);
  std::mutex lock_;
  std::vector<Dialog> dialogs_;
  std::set<HWND> answered_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Starts `commandLine` in `currentFolder` (inherited when empty), answers
// its message boxes, and waits at most `timeoutMs` (the process is killed
// then).
RunResult RunWatched(const std::wstring& commandLine, const std::wstring& currentFolder,
                     DWORD timeoutMs = 60000);

// RunWatched on a window station of its own created without WSF_VISIBLE,
// as a service or the system account in session 0 runs: nobody could see
// or answer a message box there, so `dialogs` stays empty, and a program
// that shows one waits until the time-out.
RunResult RunUnseen(const std::wstring& commandLine, const std::wstring& currentFolder,
                    DWORD timeoutMs = 60000);

}  // namespace dialog_watch
