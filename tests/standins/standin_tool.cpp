// A stand-in for the outside programs the updater starts (tar, net, regasm):
// it appends one line to the file named by VSKR_STANDIN_LOG,
//   <its own file name>|<its command line>|<its current folder>
// and exits with 0. Built with VSKR_PLANTED it stands in for a program
// planted where the updater must not look for one (next to it, or at the
// blank of a path): it logs its full path as the program's name, so that
// the tests see which planted file was started. Asked to list an archive
// ("-tf"), it prints the file named by VSKR_TAR_LISTING as the listing.
#include <windows.h>

#include "standins/standin_log.h"

int wmain() {
#ifdef VSKR_PLANTED
  AppendStandInLog(OwnPath());
#else
  AppendStandInLog();
#endif
  if (std::wstring(GetCommandLineW()).find(L" -tf ") != std::wstring::npos) {
    std::string listing = ReadFileText(Variable(L"VSKR_TAR_LISTING"));
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), listing.data(), static_cast<DWORD>(listing.size()),
              &written, nullptr);
  }
  return 0;
}
