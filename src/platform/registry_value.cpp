#include "platform/registry_value.h"

#include <cwchar>
#include <vector>

LONG OpenMachineKey(const wchar_t* subKey, REGSAM access, vskr::UniqueHkey& key) {
  HKEY opened = nullptr;
  LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey, 0, access | KEY_WOW64_64KEY, &opened);
  if (status == ERROR_SUCCESS) key.Reset(opened);
  return status;
}

LONG QueryRegistryText(HKEY key, const wchar_t* name, DWORD capacityBytes, tmk_String& text,
                       DWORD* type) {
  // Two spare zero units behind the capacity, so that a value that fills the
  // buffer exactly still ends in a terminator.
  std::vector<wchar_t> buffer(capacityBytes / sizeof(wchar_t) + 2, 0);
  DWORD size = capacityBytes;
  DWORD valueType = REG_NONE;
  LONG status = RegQueryValueExW(key, name, nullptr, &valueType,
                                 reinterpret_cast<BYTE*>(buffer.data()), &size);
  if (status != ERROR_SUCCESS) return status;
  if (size > capacityBytes) return ERROR_MORE_DATA;
  size_t units = size / sizeof(wchar_t);
  buffer[units] = 0;  // cut at the data's end; an inner zero cuts earlier
  text.Assign(buffer.data());
  if (type) *type = valueType;
  return ERROR_SUCCESS;
}

LONG SetRegistryText(HKEY key, const wchar_t* name, const tmk_String& text, DWORD type) {
  size_t length = std::wcslen(text.Text());
  // The registry adds a terminator of its own to a string value whose count
  // leaves it out when the unit behind the data is zero. The data is handed
  // over from a copy whose next unit is not, so that exactly 2 x length
  // bytes are stored.
  std::vector<wchar_t> data(text.Text(), text.Text() + length);
  data.push_back(L'\xFFFF');
  return RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                        static_cast<DWORD>(length * sizeof(wchar_t)));
}
