// A stand-in for the outside programs the updater starts (tar, net, regasm).
// It appends one line to the file named by VSKR_STANDIN_LOG:
//   <its own file name>|<its command line>|<its current folder>
// and exits with 0. Asked to list an archive ("-tf"), it prints the file
// named by VSKR_TAR_LISTING as the archive's listing.
#include <windows.h>

#include <string>

#include "standins/standin_log.h"

int wmain() {
  AppendStandInLog(L"");
  wchar_t listing[MAX_PATH * 2] = {0};
  if (std::wstring(GetCommandLineW()).find(L" -tf ") != std::wstring::npos &&
      GetEnvironmentVariableW(L"VSKR_TAR_LISTING", listing, MAX_PATH * 2)) {
    HANDLE file = CreateFileW(listing, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    char chunk[4096];
    DWORD got = 0;
    DWORD written = 0;
    while (file != INVALID_HANDLE_VALUE && ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got)
      WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), chunk, got, &written, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  }
  return 0;
}
