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

#include <process.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "precise_time.h"
#include "standins/installer_actions.h"
#include "standins/standin_log.h"

namespace {

// Starts a copy of itself, detached, told its part through the environment.
void StartLeftover() {
  std::wstring path = OwnPath();
  _wputenv(L"VSKR_INSTALLER_ROLE=leftover");
  _wspawnl(_P_DETACH, path.c_str(), (L"\"" + path + L"\"").c_str(), L"--leftover", nullptr);
  _wputenv(L"VSKR_INSTALLER_ROLE=");
}

int RunAsLeftover() {
  AppendStandInLog();
  Sleep(_wtoi(Variable(L"VSKR_INSTALLER_LEFTOVER_MS").c_str()));
  WriteFileText(Variable(L"VSKR_INSTALLER_LEFTOVER_DONE"), "done");
  AppendStandInLog(OwnFileName() + L":end");
  return 0;
}

int RunAsInstaller() {
  AppendStandInLog();
  STARTUPINFOW startup{};
  GetStartupInfoW(&startup);
  char text[64];
  std::snprintf(text, sizeof text, "flags=0x%lx show=%u",
                static_cast<unsigned long>(startup.dwFlags), startup.wShowWindow + 0u);
  WriteFileText(Variable(L"VSKR_INSTALLER_STARTUP_FILE"), text);
  installer_actions::PerformAll();
  if (!Variable(L"VSKR_INSTALLER_LEFTOVER_MS").empty()) StartLeftover();
  Sleep(_wtoi(Variable(L"VSKR_INSTALLER_SLEEP_MS").c_str()));
  WriteFileText(Variable(L"VSKR_INSTALLER_WRITE"), "installed");
  FILETIME creation, exit, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &creation, &exit, &kernel, &user);
  std::snprintf(text, sizeof text, "%llu %llu", Ticks(creation), PreciseNow());
  WriteFileText(Variable(L"VSKR_INSTALLER_TIMES"), text);
  return _wtoi(Variable(L"VSKR_INSTALLER_EXIT").c_str());
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  return Variable(L"VSKR_INSTALLER_ROLE") == L"leftover" ? RunAsLeftover() : RunAsInstaller();
}
