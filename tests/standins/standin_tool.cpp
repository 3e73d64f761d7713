// A stand-in for the outside programs the updater starts (tar, net, regasm).
// It appends one line to the file named by VSKR_STANDIN_LOG:
//   <its own file name>|<its command line>|<its current folder>
// and exits with 0.
#include <windows.h>

#include <string>

#include "standins/standin_log.h"

int wmain() {
  AppendStandInLog(L"");
  return 0;
}
