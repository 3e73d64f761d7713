// run_watched <command line...>
// Starts the command line, presses OK on every message box it shows, and
// prints what happened: each dialog, the exit code and the time taken.
#include <windows.h>

#include <cstdio>
#include <string>

#include "support/sandbox.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: run_watched <program> [arguments...]\n");
    return 2;
  }
  // Re-quote the arguments as the program is to receive them.
  std::wstring commandLine = L"\"" + std::wstring(argv[1]) + L"\"";
  for (int i = 2; i < argc; ++i) commandLine += L" " + std::wstring(argv[i]);
  testing_support::RunResult run = testing_support::RunWatched(commandLine, L"", 600000);
  using testing_support::Narrow;
  if (!run.started) {
    std::printf("  could not start %s\n", Narrow(argv[1]).c_str());
    return 1;
  }
  if (run.dialogs.empty()) std::printf("  dialogs shown: none\n");
  for (const auto& dialog : run.dialogs) {
    std::printf("  dialog shown: caption \"%s\", text \"%s\", %s, %s\n",
                Narrow(dialog.caption).c_str(), Narrow(dialog.text).c_str(),
                dialog.hasOwner ? "owned by a window" : "no owner",
                dialog.hasIcon ? "error icon" : "no icon");
  }
  std::printf("  exit code: %lu%s, run time: %.2f s\n", run.exitCode,
              run.timedOut ? " (killed after the time limit)" : "", run.seconds);
  return 0;
}
