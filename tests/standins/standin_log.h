// What every stand-in program shares: its own path, environment variables,
// files of UTF-8 text, and the log line it writes when it starts.
#pragma once

#include <windows.h>

#include <share.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

// UTF-16 text as UTF-8 and back (through the file system library's paths).
inline std::string Utf8(const std::wstring& s) { return std::filesystem::path(s).u8string(); }
inline std::wstring Wide(const std::string& s) { return std::filesystem::u8path(s).wstring(); }

// The value of an environment variable; empty when it is not set.
inline std::wstring Variable(const wchar_t* name) { return _wgetenv(name) ? _wgetenv(name) : L""; }

inline std::string ReadFileText(const std::wstring& path) {
  std::ifstream file(std::filesystem::path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

// Writes `text` into `path`, replacing the file; nothing for an empty path.
inline void WriteFileText(const std::wstring& path, const std::string& text) {
  if (!path.empty()) std::ofstream(std::filesystem::path(path), std::ios::binary) << text;
}

inline std::wstring OwnPath() {
  wchar_t path[MAX_PATH * 2] = {0};
  return std::wstring(path, GetModuleFileNameW(nullptr, path, MAX_PATH * 2));
}

inline std::wstring OwnFileName() { return OwnPath().substr(OwnPath().find_last_of(L'\\') + 1); }

// Appends "<program>|<command line>|<current folder>" (UTF-8) to the file
// named by VSKR_STANDIN_LOG; the program is named by its file name unless
// told otherwise. Writers take turns: the file is opened without write
// sharing, and a stand-in that finds it taken tries again.
inline void AppendStandInLog(const std::wstring& program = OwnFileName()) {
  wchar_t folder[MAX_PATH * 2] = {0};
  GetCurrentDirectoryW(MAX_PATH * 2, folder);
  std::string line = Utf8(program + L"|" + GetCommandLineW() + L"|" + folder + L"\r\n");
  for (int attempt = 0; attempt < 50 && !Variable(L"VSKR_STANDIN_LOG").empty(); ++attempt) {
    if (FILE* file = _wfsopen(Variable(L"VSKR_STANDIN_LOG").c_str(), L"ab", _SH_DENYWR)) {
      std::fwrite(line.data(), 1, line.size(), file);
      std::fclose(file);
      return;
    }
    Sleep(20);
  }
}
