#include "settings/update_context.h"

#include <cwchar>

#include "platform/registry_value.h"
#include "platform/run_log.h"

namespace {

void ReadLanguageFlag(HKEY key, const wchar_t* name, uint8_t& flag) {
  tmk_String value;
  // 198 bytes: the language values are one character long.
  LONG status = QueryRegistryText(key, name, 198, value);
  if (status == ERROR_SUCCESS && _wcsicmp(value.Text(), L"1") == 0) flag = 1;
  if (status != ERROR_SUCCESS)
    LogFailureUnlessMissing(L"reading a language flag", name, static_cast<DWORD>(status));
}

}  // namespace

UpdateContext::UpdateContext() {
  vskr::UniqueHkey key;
  LONG opened = OpenMachineKey(kProductKey, KEY_READ, key);
  if (opened != ERROR_SUCCESS) {
    LogFailureUnlessMissing(L"opening the product key", kProductKey, static_cast<DWORD>(opened));
    return;
  }
  ReadLanguageFlag(key.Get(), L"LANGUAGE_GERMAN", LanguageGerman);
  ReadLanguageFlag(key.Get(), L"LANGUAGE_ENGLISH", LanguageEnglish);
  ReadLanguageFlag(key.Get(), L"LANGUAGE_RUSSIAN", LanguageRussian);
}
