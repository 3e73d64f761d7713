// bench_tool floor PAIRFILE
//
// The floor of tools/bench.sh: copies each "source|destination" line of
// PAIRFILE (UTF-8) with CopyFileW, overwriting, and nothing else: the least
// any refresh of those files has to do. Exit code: the number of failed
// copies.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::vector<std::wstring> ReadLines(const wchar_t* path) {
  std::vector<std::wstring> lines;
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return lines;
  std::string bytes;
  char chunk[65536];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) bytes.append(chunk, got);
  CloseHandle(file);
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find('\n', start);
    if (end == std::string::npos) end = bytes.size();
    std::string line = bytes.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    int n = MultiByteToWideChar(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), nullptr,
                                0);
    std::wstring wide(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), &wide[0], n);
    lines.push_back(wide);
  }
  return lines;
}

int Floor(const wchar_t* pairFile) {
  std::vector<std::wstring> lines = ReadLines(pairFile);
  int failures = 0;
  for (const std::wstring& line : lines) {
    size_t bar = line.find(L'|');
    if (bar == std::wstring::npos) continue;
    std::wstring source = line.substr(0, bar);
    std::wstring destination = line.substr(bar + 1);
    if (!CopyFileW(source.c_str(), destination.c_str(), FALSE)) ++failures;
  }
  return failures;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 3 && std::wstring(argv[1]) == L"floor") return Floor(argv[2]);
  std::fprintf(stderr, "usage: bench_tool floor PAIRFILE\n");
  return 2;
}
