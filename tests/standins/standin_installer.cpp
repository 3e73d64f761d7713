// A stand-in for the update installer, built as a 64-bit and as a 32-bit
// program. It appends its log line (standin_log.h) and then does what the
// test asks through environment variables:
//   VSKR_INSTALLER_STARTUP_FILE   write "flags=0x.. show=.." of its start-up record there
//   VSKR_INSTALLER_LEFTOVER_MS    start a detached copy of itself (same file,
//                                 command line "<path>" --leftover) that lives
//                                 that long after this one has gone
//   VSKR_INSTALLER_LEFTOVER_DONE  the copy writes "done" there just before it ends
//   VSKR_INSTALLER_SLEEP_MS       sleep that long
//   VSKR_INSTALLER_WRITE          write "installed" there
//   VSKR_INSTALLER_TIMES          write "<creation> <end>" (FILETIME units) there
//   VSKR_INSTALLER_EXIT           end with this exit code
//   VSKR_INSTALLER_ACTIONS        changes to the machine (installer_actions.h)
// The copy left behind logs a second line, as "<name>:end", when it ends.
// The copy is told its part through VSKR_INSTALLER_ROLE=leftover.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "standins/installer_actions.h"
#include "precise_time.h"
#include "standins/standin_log.h"

namespace {

std::wstring Variable(const wchar_t* name) {
  wchar_t buffer[1024] = {0};
  DWORD length = GetEnvironmentVariableW(name, buffer, 1024);
  return length && length < 1024 ? std::wstring(buffer, length) : std::wstring();
}

DWORD NumberVariable(const wchar_t* name) {
  std::wstring text = Variable(name);
  return text.empty() ? 0 : static_cast<DWORD>(std::wcstoul(text.c_str(), nullptr, 10));
}

void WriteFileText(const std::wstring& path, const std::string& text) {
  if (path.empty()) return;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

void StartLeftover() {
  std::wstring path = OwnPath();
  std::wstring commandLine = L"\"" + path + L"\" --leftover";
  SetEnvironmentVariableW(L"VSKR_INSTALLER_ROLE", L"leftover");
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (CreateProcessW(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE,
                     DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &startup,
                     &info)) {
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
  }
  SetEnvironmentVariableW(L"VSKR_INSTALLER_ROLE", nullptr);
}

int RunAsLeftover() {
  AppendStandInLog(L"");
  Sleep(NumberVariable(L"VSKR_INSTALLER_LEFTOVER_MS"));
  WriteFileText(Variable(L"VSKR_INSTALLER_LEFTOVER_DONE"), "done");
  AppendStandInLogAs(OwnFileName() + L":end", L"");
  return 0;
}

int RunAsInstaller() {
  AppendStandInLog(L"");
  std::wstring startupFile = Variable(L"VSKR_INSTALLER_STARTUP_FILE");
  if (!startupFile.empty()) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    GetStartupInfoW(&startup);
    char text[64];
    std::snprintf(text, sizeof text, "flags=0x%lx show=%u", static_cast<unsigned long>(startup.dwFlags),
                  static_cast<unsigned>(startup.wShowWindow));
    WriteFileText(startupFile, text);
  }
  installer_actions::PerformAll();
  if (!Variable(L"VSKR_INSTALLER_LEFTOVER_MS").empty()) StartLeftover();
  Sleep(NumberVariable(L"VSKR_INSTALLER_SLEEP_MS"));
  WriteFileText(Variable(L"VSKR_INSTALLER_WRITE"), "installed");
  std::wstring timesFile = Variable(L"VSKR_INSTALLER_TIMES");
  if (!timesFile.empty()) {
    FILETIME creation, exit, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &creation, &exit, &kernel, &user);
    char text[64];
    std::snprintf(text, sizeof text, "%llu %llu", Ticks(creation), PreciseNow());
    WriteFileText(timesFile, text);
  }
  return static_cast<int>(NumberVariable(L"VSKR_INSTALLER_EXIT"));
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  return Variable(L"VSKR_INSTALLER_ROLE") == L"leftover" ? RunAsLeftover() : RunAsInstaller();
}
