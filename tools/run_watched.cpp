// run_watched [--unseen] <program> [arguments...]
// Starts the program with the arguments, presses OK on every message box it
// shows, and prints what happened: each dialog, the exit code and the time
// taken. With --unseen the program runs on a window station that nobody
// sees, as a service or a deployment tool in session 0 starts it.
#include <windows.h>

#include <cstdio>
#include <string>

#include "dialog_watch.h"

namespace {

std::string Utf8(const std::wstring& text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n - 1 : 0, '\0');
  if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], n, nullptr, nullptr);
  return out;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const bool unseen = argc > 1 && std::wstring(argv[1]) == L"--unseen";
  const int first = unseen ? 2 : 1;
  if (argc <= first) {
    std::fprintf(stderr, "usage: run_watched [--unseen] <program> [arguments...]\n");
    return 2;
  }
  // Re-quote the arguments as the program is to receive them.
  std::wstring commandLine = L"\"" + std::wstring(argv[first]) + L"\"";
  for (int i = first + 1; i < argc; ++i) commandLine += L" " + std::wstring(argv[i]);
  dialog_watch::RunResult run = unseen ? dialog_watch::RunUnseen(commandLine, L"", 60000)
                                       : dialog_watch::RunWatched(commandLine, L"", 600000);
  if (!run.started) {
    std::printf("  could not start %s\n", Utf8(argv[first]).c_str());
    return 1;
  }
  if (unseen) std::printf("  (on a window station nobody sees: no dialog can be answered)\n");
  if (run.dialogs.empty() && !unseen) std::printf("  dialogs shown: none\n");
  for (const dialog_watch::Dialog& dialog : run.dialogs) {
    std::printf("  dialog shown: caption \"%s\", text \"%s\", %s, %s\n",
                Utf8(dialog.caption).c_str(), Utf8(dialog.text).c_str(),
                dialog.hasOwner ? "owned by a window" : "no owner",
                dialog.hasIcon ? "error icon" : "no icon");
  }
  std::printf("  exit code: %lu%s, run time: %.2f s\n", run.exitCode,
              run.timedOut ? " (killed after the time limit)" : "", run.seconds);
  return 0;
}
