#include "platform/system_library.h"

#include <string>

#include "platform/system_text.h"

HMODULE LoadSystemLibrary(const wchar_t* name) {
  std::wstring folder = vskr::SystemFolder();
  if (folder.empty()) return nullptr;
  return LoadLibraryExW((folder + L"\\" + name).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}
