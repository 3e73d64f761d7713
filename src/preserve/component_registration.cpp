#include "preserve/component_registration.h"

#include <windows.h>

#include "platform/child_process.h"
#include "platform/message_box.h"
#include "platform/run_log.h"
#include "platform/system_text.h"
#include "platform/unique_handle.h"
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
  std::wstring windows = vskr::WindowsFolder();
  // An unknown Windows folder gives "0", a folder that does not exist: the
  // tool is then not found and the user is told.
  if (windows.empty()) {
    LogFailure(L"reading the Windows folder", L"", GetLastError());
    windows = L"0";
  }
  tmk_String folder;
  folder.Format(IsWow64() ? L"%s\\Microsoft.NET\\Framework64\\v4.0.30319"
                          : L"%s\\Microsoft.NET\\Framework\\v4.0.30319",
                windows.c_str());
  return folder;
}

void ShowRegistrationFailure() {
  ShowMessage(GetForegroundWindow(), L"Unable to register VisioEventProcessor.dll", L"Error",
              MB_OK);
}

}  // namespace

DWORD RegisterVisioEventProcessor(const tmk_String& root) {
  tmk_String framework = FrameworkFolder();

  // The tool by its full path, never found by a search that would begin in
  // the updater's own folder; the component's path quoted, since a root
  // folder with blanks would otherwise reach the tool as several arguments.
  tmk_String command;
  command.Format(L"\"%s\\regasm.exe\" \"%s\\VisioEventProcessor.dll\" /codebase", framework.Text(),
                 root.Text());
  vskr::ChildProcess child;
  DWORD started = ERROR_SUCCESS;
  {
    // The tool starts in its own folder. A failed change is logged and
    // passed over: the tool is started by its full path in any case.
    vskr::ScopedCurrentFolder inFramework(framework.Text());
    started = LaunchChild(command, LaunchProfile::HiddenTool, child);
  }

  if (started != ERROR_SUCCESS) {
    ShowRegistrationFailure();
    return started;
  }
  // The tool's own exit code is in the run log; it does not change the
  // run's outcome.
  (void)WaitForChild(child, command);
  return ERROR_SUCCESS;
}
