// A stand-in for the outside programs the updater starts (tar, net, regasm):
// it appends one line to the file named by VSKR_STANDIN_LOG,
//   <its own file name>|<its command line>|<its current folder>
// and exits with 0. Built with VSKR_PLANTED it stands in for a program
// planted where the updater must not look for one (next to it, or at the
// blank of a path): it logs its full path as the program's name, so that
// the tests see which planted file was started. Asked to list an archive
// ("-tf"), it prints the file named by VSKR_TAR_LISTING as the listing.
// Two parts that the tests start it for themselves, by its last arguments:
//   [MS] sleep         runs for a minute (or MS milliseconds): a program of the
//                      installation that holds its own file while it runs, or a
//                      helper that holds a file it was handed
//   end-updater PATTERN  waits for a running vskr_updater.exe, then until a
//                      file matches PATTERN, and ends the updater at once
//                      (an updater ended by a restart in the middle of its work)
//   block PATTERN FOLDER NAME  waits likewise, then makes a folder NAME in
//                      each folder inside FOLDER (something in the way of a
//                      file the updater writes next)
//   swap-when PATTERN FILE  waits for a running vskr_updater.exe, then until a
//                      file matches PATTERN, and rewrites FILE at once (a
//                      package file replaced while the updater copies)
#include <windows.h>

#include <tlhelp32.h>

#include "standins/standin_log.h"

namespace {

// The id of the first running process of that file name; waits for one up
// to 30 s (0: none came).
DWORD WaitForProcess(const wchar_t* name) {
  for (int attempt = 0; attempt < 30000; ++attempt, Sleep(1)) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    DWORD id = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && id == 0;
         more = Process32NextW(snapshot, &entry))
      if (_wcsicmp(entry.szExeFile, name) == 0) id = entry.th32ProcessID;
    CloseHandle(snapshot);
    if (id != 0) return id;
  }
  return 0;
}

// Waits for a running vskr_updater.exe, then until a file matches
// `pattern`; returns the updater's process (null: none came or no match).
HANDLE WaitForUpdaterAt(const std::wstring& pattern) {
  HANDLE updater = OpenProcess(PROCESS_TERMINATE, FALSE, WaitForProcess(L"vskr_updater.exe"));
  if (!updater) return nullptr;
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
  WIN32_FIND_DATAW found;
  HANDLE search = INVALID_HANDLE_VALUE;
  for (int attempt = 0; search == INVALID_HANDLE_VALUE && attempt < 1000000; ++attempt)
    search = FindFirstFileW(pattern.c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) FindClose(search);
  if (search == INVALID_HANDLE_VALUE) CloseHandle(updater);
  return search != INVALID_HANDLE_VALUE ? updater : nullptr;
}

int EndUpdaterWhen(const std::wstring& pattern) {
  HANDLE updater = WaitForUpdaterAt(pattern);
  bool ended = updater && TerminateProcess(updater, 1);
  if (updater) CloseHandle(updater);
  return ended ? 0 : 1;
}

int BlockWhen(const std::wstring& pattern, const std::wstring& folder, const std::wstring& name) {
  HANDLE updater = WaitForUpdaterAt(pattern);
  if (!updater) return 1;
  CloseHandle(updater);
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found))
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && found.cFileName[0] != L'.')
      CreateDirectoryW((folder + L"\\" + found.cFileName + L"\\" + name).c_str(), nullptr);
  if (search != INVALID_HANDLE_VALUE) FindClose(search);
  return 0;
}

int SwapWhen(const std::wstring& pattern, const std::wstring& file) {
  HANDLE updater = WaitForUpdaterAt(pattern);
  if (!updater) return 1;
  CloseHandle(updater);
  for (int attempt = 0; attempt < 10000; ++attempt, Sleep(1)) {
    HANDLE swapped =
        CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (swapped == INVALID_HANDLE_VALUE) continue;
    DWORD written = 0;
    WriteFile(swapped, "swapped", 7, &written, nullptr);
    CloseHandle(swapped);
    return 0;
  }
  return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
#ifdef VSKR_PLANTED
  AppendStandInLog(OwnPath());
#else
  AppendStandInLog();
#endif
  if (argc >= 2 && std::wstring(argv[argc - 1]) == L"sleep")
    Sleep(argc >= 3 && _wtoi(argv[argc - 2]) > 0 ? _wtoi(argv[argc - 2]) : 60000);
  if (argc >= 3 && std::wstring(argv[argc - 2]) == L"end-updater")
    return EndUpdaterWhen(argv[argc - 1]);
  if (argc >= 4 && std::wstring(argv[argc - 3]) == L"swap-when")
    return SwapWhen(argv[argc - 2], argv[argc - 1]);
  if (argc >= 5 && std::wstring(argv[argc - 4]) == L"block")
    return BlockWhen(argv[argc - 3], argv[argc - 2], argv[argc - 1]);
  if (std::wstring(GetCommandLineW()).find(L" -tf ") != std::wstring::npos) {
    std::string listing = ReadFileText(Variable(L"VSKR_TAR_LISTING"));
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), listing.data(), static_cast<DWORD>(listing.size()),
              &written, nullptr);
  }
  return 0;
}
