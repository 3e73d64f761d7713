#include "settings/system_environment.h"

#include <cwchar>

#include "platform/run_log.h"
#include "platform/registry_value.h"

const wchar_t kSystemEnvironmentKey[] =
    L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

namespace {

// The longest variable value taken, in bytes.
constexpr DWORD kEnvironmentValueCapacity = 2048;
// How long a window may take to take in the announcement.
constexpr UINT kAnnouncementTimeoutMs = 5000;

DWORD TextTypeOf(DWORD type) { return type == REG_EXPAND_SZ ? REG_EXPAND_SZ : REG_SZ; }

}  // namespace

tmk_String ReadSystemEnvironmentValue(const tmk_String& name, DWORD* type) {
  tmk_String result;
  DWORD storedType = REG_SZ;
  vskr::UniqueHkey key;
  LONG status = OpenMachineKey(kSystemEnvironmentKey, KEY_QUERY_VALUE, key);
  // A missing or oversized variable leaves the result empty.
  if (status == ERROR_SUCCESS)
    status = QueryRegistryText(key.Get(), name.Text(), kEnvironmentValueCapacity, result,
                               &storedType);
  if (status != ERROR_SUCCESS)
    LogFailureUnlessMissing(L"reading a system environment variable", name.Text(),
                            static_cast<DWORD>(status));
  if (type) *type = TextTypeOf(storedType);
  return result;
}

LONG WriteSystemEnvironmentValue(const tmk_String& name, const tmk_String& value, DWORD type) {
  bool deleting = value.IsEmpty();
  vskr::UniqueHkey key;
  LONG opened = OpenMachineKey(kSystemEnvironmentKey, KEY_WRITE, key);
  if (opened != ERROR_SUCCESS) {
    if (deleting) {
      // No key: nothing to delete.
      LogFailureUnlessMissing(L"opening the system environment", kSystemEnvironmentKey,
                              static_cast<DWORD>(opened));
      return opened;
    }
    HKEY created = nullptr;
    LONG status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSystemEnvironmentKey, 0, nullptr,
                                  REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                                  nullptr, &created, nullptr);
    if (status != ERROR_SUCCESS) {
      LogFailure(L"creating the system environment key", kSystemEnvironmentKey,
                 static_cast<DWORD>(status));
      return status;
    }
    key.Reset(created);
  }
  LONG status = deleting ? RegDeleteValueW(key.Get(), name.Text())
                         : SetRegistryText(key.Get(), name.Text(), value, TextTypeOf(type));
  if (status != ERROR_SUCCESS) {
    LogFailure(deleting ? L"deleting a system environment variable"
                        : L"writing a system environment variable",
               name.Text(), static_cast<DWORD>(status));
  } else if (deleting) {
    LogLine(L"system environment variable %s deleted", name.Text());
  } else {
    LogLine(L"system environment variable %s written: \"%s\" (%s)", name.Text(), value.Text(),
            TextTypeOf(type) == REG_EXPAND_SZ ? L"REG_EXPAND_SZ" : L"REG_SZ");
  }
  return status;
}

void AnnounceEnvironmentChange() {
  DWORD_PTR answer = 0;
  // Not examined: a broadcast has no one result, and a window that does not
  // take the message in time is skipped.
  (void)SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0,
                            reinterpret_cast<LPARAM>(L"Environment"), SMTO_ABORTIFHUNG,
                            kAnnouncementTimeoutMs, &answer);
}
