#include "platform/long_path.h"

#include <vector>

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// `head` followed by the parts of `rest` ('\' or '/' between them) with "."
// and empty parts dropped and each ".." taking away the part before it
// (none above `head`). `keepCount` leading parts of `rest` form the head's
// own part (the server and share of a UNC path) and are kept as they are.
std::wstring JoinResolved(std::wstring head, const std::wstring& rest, size_t keepCount) {
  std::vector<std::wstring> parts;
  size_t kept = 0;
  size_t at = 0;
  while (at <= rest.size()) {
    size_t end = at;
    while (end < rest.size() && !IsSeparator(rest[end])) ++end;
    std::wstring part = rest.substr(at, end - at);
    at = end + 1;
    if (kept < keepCount) {
      head += part + L"\\";
      ++kept;
      continue;
    }
    if (part.empty() || part == L".") continue;
    if (part == L"..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(part);
  }
  for (size_t i = 0; i < parts.size(); ++i) head += (i ? L"\\" : L"") + parts[i];
  // A path that named a folder with its backslash keeps it: "C:\" stays a root.
  if (!parts.empty() && !rest.empty() && IsSeparator(rest.back())) head += L"\\";
  return head;
}

}  // namespace

std::wstring ExtendedPath(const std::wstring& path) {
  if (path.size() >= 4 && IsSeparator(path[0]) && IsSeparator(path[1]) &&
      (path[2] == L'?' || path[2] == L'.') && IsSeparator(path[3]))
    return path;
  if (path.size() >= 3 && IsDriveLetter(path[0]) && path[1] == L':' && IsSeparator(path[2]))
    return JoinResolved(L"\\\\?\\" + path.substr(0, 2) + L"\\", path.substr(3), 0);
  if (path.size() >= 3 && IsSeparator(path[0]) && IsSeparator(path[1]) && !IsSeparator(path[2])) {
    std::wstring extended = JoinResolved(L"\\\\?\\UNC\\", path.substr(2), 2);
    if (!IsSeparator(path.back()) && extended.back() == L'\\') extended.pop_back();
    return extended;
  }
  return path;
}
