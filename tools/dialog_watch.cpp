#include "dialog_watch.h"

#include <chrono>

#include "platform/unique_handle.h"

namespace dialog_watch {

namespace {

std::wstring WindowText(HWND window) {
  wchar_t buffer[1024] = {0};
  GetWindowTextW(window, buffer, 1024);
  return buffer;
}

std::wstring ClassName(HWND window) {
  wchar_t buffer[256] = {0};
  GetClassNameW(window, buffer, 256);
  return buffer;
}

// A message box: its caption and owner, the text of its static control and
// whether its icon control shows an icon.
Dialog Describe(HWND window) {
  Dialog dialog{WindowText(window), L"", false, false, GetWindow(window, GW_OWNER)};
  dialog.hasOwner = dialog.owner != nullptr;
  for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (_wcsicmp(ClassName(child).c_str(), L"Static") != 0) continue;
    if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
      dialog.hasIcon = dialog.hasIcon ||
                       (IsWindowVisible(child) && SendMessageW(child, STM_GETICON, 0, 0) != 0);
    } else if (!WindowText(child).empty()) {
      dialog.text = WindowText(child);
    }
  }
  return dialog;
}

}  // namespace

DialogWatcher::DialogWatcher() {
  thread_ = std::thread([this] {
    while (!stop_) {
      EnumWindows(&DialogWatcher::Visit, reinterpret_cast<LPARAM>(this));
      Sleep(20);
    }
  });
}

BOOL CALLBACK DialogWatcher::Visit(HWND window, LPARAM self) {
  auto* watcher = reinterpret_cast<DialogWatcher*>(self);
  if (!IsWindowVisible(window) || ClassName(window) != L"#32770") return TRUE;
  std::lock_guard<std::mutex> guard(watcher->lock_);
  if (watcher->answered_.insert(window).second) watcher->dialogs_.push_back(Describe(window));
  PostMessageW(window, WM_COMMAND, IDOK, 0);
  return TRUE;
}

std::vector<Dialog> DialogWatcher::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  std::lock_guard<std::mutex> guard(lock_);
  return dialogs_;
}

namespace {

// Starts `commandLine` on `desktop` ("station\\desktop"; null: this one) and
// waits at most `timeoutMs`, then kills it.
RunResult RunOn(wchar_t* desktop, const std::wstring& commandLine,
                const std::wstring& currentFolder, DWORD timeoutMs) {
  RunResult result;
  std::wstring buffer = commandLine;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.lpDesktop = desktop;
  PROCESS_INFORMATION info{};
  auto begin = std::chrono::steady_clock::now();
  result.started = CreateProcessW(nullptr, &buffer[0], nullptr, nullptr, FALSE, 0, nullptr,
                                  currentFolder.empty() ? nullptr : currentFolder.c_str(),
                                  &startup, &info) != FALSE;
  if (result.started) {
    vskr::ChildProcess child;
    child.Adopt(info);
    if (WaitForSingleObject(child.Process.Get(), timeoutMs) == WAIT_TIMEOUT) {
      result.timedOut = true;
      TerminateProcess(child.Process.Get(), 999);
      WaitForSingleObject(child.Process.Get(), 5000);
    }
    GetExitCodeProcess(child.Process.Get(), &result.exitCode);
  }
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  return result;
}

}  // namespace

RunResult RunWatched(const std::wstring& commandLine, const std::wstring& currentFolder,
                     DWORD timeoutMs) {
  DialogWatcher watcher;
  RunResult result = RunOn(nullptr, commandLine, currentFolder, timeoutMs);
  Sleep(50);  // a last look for a dialog that is still closing
  result.dialogs = watcher.Stop();
  return result;
}

RunResult RunUnseen(const std::wstring& commandLine, const std::wstring& currentFolder,
                    DWORD timeoutMs) {
  // The station and its desktop live until the run is over; the desktop is
  // made on the new station, so this process switches to it for a moment.
  HWINSTA ours = GetProcessWindowStation();
  HWINSTA station = CreateWindowStationW(L"VskrUnseen", 0, WINSTA_ALL_ACCESS, nullptr);
  if (!station || !SetProcessWindowStation(station)) return RunResult();
  HDESK desktop = CreateDesktopW(L"Default", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
  SetProcessWindowStation(ours);
  wchar_t name[] = L"VskrUnseen\\Default";
  RunResult result = desktop ? RunOn(name, commandLine, currentFolder, timeoutMs) : RunResult();
  if (desktop) CloseDesktop(desktop);
  CloseWindowStation(station);
  return result;
}

}  // namespace dialog_watch
