// A stand-in for the outside programs the updater starts (tar, net, regasm):
// it appends one line to the file named by VSKR_STANDIN_LOG,
//   <its own file name>|<its command line>|<its current folder>
// and exits with 0. Built with VSKR_PLANTED it stands in for a program
// planted where the updater must not look for one (next to it, or at the
// blank of a path): it logs its full path as the program's name, so that
// the tests see which planted file was started.
#include <windows.h>

#include "standins/standin_log.h"

int wmain() {
#ifdef VSKR_PLANTED
  AppendStandInLog(OwnPath());
#else
  AppendStandInLog();
#endif
  return 0;
}
