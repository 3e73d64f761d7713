#include "platform/system_text.h"

#include <cwchar>

#include <shlobj.h>

namespace vskr {

std::wstring OwnModulePath() {
  return GrowingText([](wchar_t* buffer, DWORD units) {
    return GetModuleFileNameW(nullptr, buffer, units);
  });
}

std::wstring CurrentFolder() {
  return GrowingText([](wchar_t* buffer, DWORD units) {
    return GetCurrentDirectoryW(units, buffer);
  });
}

std::wstring ExpandedText(const wchar_t* text) {
  // The count ExpandEnvironmentStringsW returns includes the terminator.
  std::wstring expanded = GrowingText([text](wchar_t* buffer, DWORD units) -> DWORD {
    DWORD needed = ExpandEnvironmentStringsW(text, buffer, units);
    if (needed == 0 || needed > units) return needed;
    return needed - 1;
  });
  return expanded;
}

std::wstring SystemFolder() {
  return GrowingText([](wchar_t* buffer, DWORD units) -> DWORD {
    return GetSystemDirectoryW(buffer, units);
  });
}

std::wstring WindowsFolder() {
  return GrowingText([](wchar_t* buffer, DWORD units) -> DWORD {
    return GetWindowsDirectoryW(buffer, units);
  });
}

std::wstring CommonDataFolder() {
  wchar_t folder[MAX_PATH] = {0};
  // The folder's current path, not its default one; no user token.
  HRESULT status = SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT,
                                    folder);
  if (FAILED(status) || folder[0] == 0) return std::wstring();
  return folder;
}

std::wstring ProductDataFolder(const wchar_t* name) {
  std::wstring common = CommonDataFolder();
  return common.empty() ? common : common + L"\\Quendris\\QIRO\\" + name;
}

std::wstring LocalTimeText(bool compact) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  wchar_t text[64];
  std::swprintf(text, 64, compact ? L"%04u%02u%02u-%02u%02u%02u" : L"%04u-%02u-%02u %02u:%02u:%02u",
                now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond);
  return text;
}

}  // namespace vskr
