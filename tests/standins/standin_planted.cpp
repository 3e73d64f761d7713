// A program planted where the updater must not look for one (next to it, or
// at the blank of a path). If it ever runs, it logs its full path as the
// program's name, so that the tests see which planted file was started.
#include <windows.h>

#include "standins/standin_log.h"

int wmain() {
  AppendStandInLogAs(OwnPath(), L"");
  return 0;
}
