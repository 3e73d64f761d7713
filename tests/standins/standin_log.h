// The log line every stand-in program writes when it starts.
#pragma once

#include <windows.h>

#include <string>

inline std::wstring OwnPath() {
  wchar_t path[MAX_PATH * 2] = {0};
  GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
  return path;
}

inline std::wstring OwnFileName() {
  std::wstring full = OwnPath();
  size_t slash = full.find_last_of(L"\\/");
  return slash == std::wstring::npos ? full : full.substr(slash + 1);
}

// Appends "<program>|<command line>|<current folder><suffix>" as UTF-8.
inline void AppendStandInLogAs(const std::wstring& program, const std::wstring& suffix) {
  wchar_t logPath[MAX_PATH * 2] = {0};
  if (!GetEnvironmentVariableW(L"VSKR_STANDIN_LOG", logPath, MAX_PATH * 2)) return;
  wchar_t folder[MAX_PATH * 2] = {0};
  GetCurrentDirectoryW(MAX_PATH * 2, folder);
  std::wstring line = program + L"|" + GetCommandLineW() + L"|" + folder + suffix + L"\r\n";
  int n = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string bytes(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), &bytes[0], n,
                      nullptr, nullptr);
  for (int attempt = 0; attempt < 50; ++attempt) {
    HANDLE file = CreateFileW(logPath, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
      CloseHandle(file);
      return;
    }
    Sleep(20);  // another stand-in is writing
  }
}

// Appends "<own file name>|<command line>|<current folder><suffix>".
inline void AppendStandInLog(const std::wstring& suffix) { AppendStandInLogAs(OwnFileName(), suffix); }
