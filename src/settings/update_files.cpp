#include "settings/update_files.h"

#include <cwctype>

namespace {

std::wstring LastPartInSmallLetters(std::wstring name) {
  while (!name.empty() && (name.back() == L'\\' || name.back() == L'/')) name.pop_back();
  size_t slash = name.find_last_of(L"\\/");
  std::wstring last = slash == std::wstring::npos ? name : name.substr(slash + 1);
  for (wchar_t& c : last) c = static_cast<wchar_t>(std::towlower(c));
  return last;
}

bool EndsWith(const std::wstring& text, const std::wstring& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

bool IsBackupSlotName(const std::wstring& name) {
  const std::wstring last = LastPartInSmallLetters(name);
  const std::wstring suffix = kBackupSuffix;  // in small letters, as `last`
  if (EndsWith(last, suffix)) return true;
  size_t slot = last.rfind(suffix + L".");
  if (slot == std::wstring::npos) return false;
  const std::wstring runId = last.substr(slot + suffix.size() + 1);
  return !runId.empty() && std::iswdigit(runId[0]) &&
         runId.find_first_not_of(L"0123456789-") == std::wstring::npos;
}
