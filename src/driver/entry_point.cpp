// The program's entry: a GUI program without a window whose exit code tells
// what happened.
#include <windows.h>

#include "driver/run_modes.h"

namespace {

// Administrators start this elevated program from download folders, where a
// planted DLL would otherwise be loaded from the program's own folder. From
// here on only System32 is searched for DLLs. Looked up at run time: the
// function is missing from systems without the KB2533623 update.
void RestrictDllSearchToSystem32() {
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  if (!kernel32) return;
  auto setDefaultDllDirectories = reinterpret_cast<SetDefaultDllDirectoriesFn>(
      reinterpret_cast<void*>(GetProcAddress(kernel32, "SetDefaultDllDirectories")));
  if (setDefaultDllDirectories) setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
  RestrictDllSearchToSystem32();
  return static_cast<int>(RunUpdater(commandLine));
}
