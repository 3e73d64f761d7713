// The system's own DLLs, loaded by their full path in the system folder
// rather than imported: a DLL that the system does not always take from its
// own folder would otherwise be looked for first in this elevated program's
// folder, where a download may have planted one of that name.
#pragma once

#include <windows.h>

// Loads `name` (e.g. L"crypt32.dll") from the system folder; the DLLs it
// imports in turn are looked for in that folder first. Never freed: the
// process uses it until it ends. Null when it can't be loaded (the thread's
// error tells why).
HMODULE LoadSystemLibrary(const wchar_t* name);

// Sets `function` to the export `name` of `module` (a null module gives
// null). True when found.
template <typename Function>
bool ResolveExport(HMODULE module, const char* name, Function& function) {
  FARPROC found = module ? GetProcAddress(module, name) : nullptr;
  function = reinterpret_cast<Function>(reinterpret_cast<void*>(found));
  return function != nullptr;
}
