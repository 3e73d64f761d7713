// Splitting text into its lines.
#pragma once

#include <string>
#include <vector>

namespace vskr {

// The lines of `text`, ended by "\n" or "\r\n" (the last one may have no
// end), without their line ends. An empty text has no lines.
inline std::vector<std::wstring> SplitLines(const std::wstring& text) {
  std::vector<std::wstring> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) end = text.size();
    std::wstring line = text.substr(start, end - start);
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

}  // namespace vskr
