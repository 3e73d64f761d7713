// bench_tool copy THREADS PAIRFILE
// bench_tool transaction THREADS PAIRFILE
// bench_tool asidecopy THREADS PAIRFILE
//
// The floors of tools/bench.sh, for the "source|destination" lines of
// PAIRFILE (UTF-8): the least a refresh of exactly those files has to do,
// with the items shared by THREADS threads.
//   copy         CopyFileW over each destination, and nothing else
//   transaction  what a refresh that can be undone has to do: each source
//                copied beside its destination ("<destination>.vskr-floor.new"),
//                then each destination renamed aside (".old") and the new
//                copy renamed into its place, then the old ones deleted;
//                each step done for all files before the next one begins
//   asidecopy    the same undoable refresh with one rename a file less: each
//                destination renamed aside (".old") and its source copied to
//                its name, then the old ones deleted
// Exit code: the number of failed calls.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Pair {
  std::wstring source;
  std::wstring destination;
};

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

std::vector<Pair> ReadPairs(const wchar_t* pairFile) {
  std::vector<Pair> pairs;
  for (const std::wstring& line : ReadLines(pairFile)) {
    size_t bar = line.find(L'|');
    if (bar != std::wstring::npos) pairs.push_back({line.substr(0, bar), line.substr(bar + 1)});
  }
  return pairs;
}

// Calls `step` for every pair on `threads` threads, the pairs taken in
// order; returns the number of failed calls.
int ForEachPair(const std::vector<Pair>& pairs, int threads,
                const std::function<int(const Pair&)>& step) {
  std::atomic<size_t> next{0};
  std::atomic<int> failures{0};
  auto work = [&] {
    for (size_t i; (i = next.fetch_add(1)) < pairs.size();) failures += step(pairs[i]);
  };
  std::vector<std::thread> helpers;
  for (int i = 1; i < threads; ++i) helpers.emplace_back(work);
  work();
  for (std::thread& helper : helpers) helper.join();
  return failures.load();
}

int Copy(const std::vector<Pair>& pairs, int threads) {
  return ForEachPair(pairs, threads, [](const Pair& pair) {
    return CopyFileW(pair.source.c_str(), pair.destination.c_str(), FALSE) ? 0 : 1;
  });
}

int Transaction(const std::vector<Pair>& pairs, int threads) {
  const std::wstring staged = L".vskr-floor.new", aside = L".vskr-floor.old";
  int failures = ForEachPair(pairs, threads, [&](const Pair& pair) {
    return CopyFileW(pair.source.c_str(), (pair.destination + staged).c_str(), TRUE) ? 0 : 1;
  });
  failures += ForEachPair(pairs, threads, [&](const Pair& pair) {
    const std::wstring& installed = pair.destination;
    int failed = MoveFileExW(installed.c_str(), (installed + aside).c_str(), 0) ? 0 : 1;
    return failed + (MoveFileExW((installed + staged).c_str(), installed.c_str(), 0) ? 0 : 1);
  });
  return failures + ForEachPair(pairs, threads, [&](const Pair& pair) {
    return DeleteFileW((pair.destination + aside).c_str()) ? 0 : 1;
  });
}

int AsideCopy(const std::vector<Pair>& pairs, int threads) {
  const std::wstring aside = L".vskr-floor.old";
  int failures = ForEachPair(pairs, threads, [&](const Pair& pair) {
    const std::wstring& installed = pair.destination;
    int failed = MoveFileExW(installed.c_str(), (installed + aside).c_str(), 0) ? 0 : 1;
    return failed + (CopyFileW(pair.source.c_str(), installed.c_str(), TRUE) ? 0 : 1);
  });
  return failures + ForEachPair(pairs, threads, [&](const Pair& pair) {
    return DeleteFileW((pair.destination + aside).c_str()) ? 0 : 1;
  });
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 4) {
    std::wstring mode = argv[1];
    int threads = _wtoi(argv[2]);
    if (threads >= 1 && mode == L"copy") return Copy(ReadPairs(argv[3]), threads);
    if (threads >= 1 && mode == L"transaction") return Transaction(ReadPairs(argv[3]), threads);
    if (threads >= 1 && mode == L"asidecopy") return AsideCopy(ReadPairs(argv[3]), threads);
  }
  std::fprintf(stderr, "usage: bench_tool copy|transaction|asidecopy THREADS PAIRFILE\n");
  return 2;
}
