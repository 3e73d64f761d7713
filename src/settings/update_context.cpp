#include "settings/update_context.h"

#include <cwchar>

#include "settings/registry_value.h"

namespace {

void ReadLanguageFlag(HKEY key, const wchar_t* name, uint8_t& flag) {
  tmk_String value;
  // 198 bytes: the language values are one character long.
  if (QueryRegistryText(key, name, 198, value) && _wcsicmp(value.Text(), L"1") == 0) flag = 1;
}

}  // namespace

UpdateContext::UpdateContext() {
  vskr::UniqueHkey key;
  if (!OpenMachineKey(kProductKey, KEY_READ, key)) return;
  ReadLanguageFlag(key.Get(), L"LANGUAGE_GERMAN", LanguageGerman);
  ReadLanguageFlag(key.Get(), L"LANGUAGE_ENGLISH", LanguageEnglish);
  ReadLanguageFlag(key.Get(), L"LANGUAGE_RUSSIAN", LanguageRussian);
}
