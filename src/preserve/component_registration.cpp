#include "preserve/component_registration.h"

#include <windows.h>

#include <vector>

#include "driver/child_process.h"
#include "driver/run_log.h"
#include "platform/unique_handle.h"
#include "settings/settings_file.h"
#include "text/tmk_string.h"

namespace {

// True on 64-bit Windows: this 32-bit program then runs under WOW64.
bool IsWow64() {
  using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
  BOOL wow64 = FALSE;
  HMODULE kernel32 = GetModuleHandleW(L"kernel32");
  auto isWow64Process = reinterpret_cast<IsWow64ProcessFn>(reinterpret_cast<void*>(
      kernel32 ? GetProcAddress(kernel32, "IsWow64Process") : nullptr));
  // Its own result is not examined: the flag stays false when it fails.
  if (isWow64Process) (void)isWow64Process(GetCurrentProcess(), &wow64);
  return wow64 != FALSE;
}

tmk_String FrameworkFolder() {
  wchar_t windows[MAX_PATH] = L"0";
  // Not examined: the buffer keeps "0" when the query fails.
  (void)GetWindowsDirectoryW(windows, MAX_PATH);
  tmk_String folder;
  folder.Format(IsWow64() ? L"%s\\Microsoft.NET\\Framework64\\v4.0.30319"
                          : L"%s\\Microsoft.NET\\Framework\\v4.0.30319",
                windows);
  return folder;
}

tmk_String CurrentFolder() {
  DWORD units = GetCurrentDirectoryW(0, nullptr);
  std::vector<wchar_t> buffer(units + 1, 0);
  DWORD got = GetCurrentDirectoryW(units + 1, buffer.data());
  if (got == 0 || got > units) return tmk_String();
  return tmk_String(buffer.data());
}

void ShowRegistrationFailure() {
  LogLine(L"dialog shown: \"Unable to register VisioEventProcessor.dll\"");
  MessageBoxW(GetForegroundWindow(), L"Unable to register VisioEventProcessor.dll", L"Error",
              MB_OK);
}

}  // namespace

int RegisterVisioEventProcessor() {
  tmk_String root;
  ReadSettingsRootPath(root);
  tmk_String framework = FrameworkFolder();

  tmk_String saved = CurrentFolder();
  // Not examined: the tool is started by its full path in any case.
  (void)SetCurrentDirectoryW(framework.Text());

  // The tool by its full path, never found by a search that would begin in
  // the updater's own folder; the component's path quoted, since a root
  // folder with blanks would otherwise reach the tool as several arguments.
  tmk_String command;
  command.Format(L"\"%s\\regasm.exe\" \"%s\\VisioEventProcessor.dll\" /codebase", framework.Text(),
                 root.Text());
  vskr::ChildProcess child;
  bool started = LaunchChild(command, LaunchProfile::HiddenTool, child);
  if (!saved.IsEmpty()) (void)SetCurrentDirectoryW(saved.Text());

  if (!started) {
    ShowRegistrationFailure();
    return 0;
  }
  WaitForChild(child, command);
  return 0;
}
