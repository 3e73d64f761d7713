// What the stand-in installer changes on the machine, read from the file
// named by VSKR_INSTALLER_ACTIONS (UTF-8, one action a line):
//   file <path>=<text>          write <text> (UTF-8) into <path>, replacing it
//   delete <path>               delete the file <path>
//   mkdir <path>                create the folder <path>
//   deltree <path>              delete the folder <path> with what it holds,
//                               as far as nothing keeps it (files in use stay)
//   env <NAME>=<value>          set the system environment variable (REG_SZ);
//                               an empty value deletes it
//   reg <NAME>=<value>          set a value of the product key (REG_SZ)
//   ini <section>|<key>=<value> write a key of the settings file
//   end-parent                  end the process that started it (an updater
//                               ended by a restart or the Task Manager)
//   run <file>=<command line>   start the command line, wait for it (60 s at
//                               most) and write its exit code into <file>
//   hold <path>=<command line>  open <path> without sharing and start the
//                               command line with that handle, not waited for:
//                               a helper left behind that keeps the file from
//                               being read, written, renamed or deleted while
//                               it runs
// Registry changes go to the 64-bit view, as the real installer's do.
#pragma once

#include <windows.h>

#include <tlhelp32.h>

#include <sstream>
#include <string>

#include "standins/standin_log.h"

namespace installer_actions {

inline void SetMachineValue(const wchar_t* keyPath, const std::wstring& name,
                            const std::wstring& value) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, 0,
                      KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return;
  if (value.empty()) RegDeleteValueW(key, name.c_str());
  if (!value.empty())
    RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
}

inline void EndParent() {
  DWORD parent = 0;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
    if (entry.th32ProcessID == GetCurrentProcessId()) parent = entry.th32ParentProcessID;
  CloseHandle(snapshot);
  HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, parent);
  if (!process) return;
  TerminateProcess(process, 1);
  WaitForSingleObject(process, 5000);
  CloseHandle(process);
}

inline void RunAndRecord(const std::wstring& exitCodeFile, std::wstring commandLine) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info))
    return;
  DWORD code = 0;
  if (WaitForSingleObject(info.hProcess, 60000) == WAIT_OBJECT_0)
    GetExitCodeProcess(info.hProcess, &code);
  WriteFileText(exitCodeFile, std::to_string(code));
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
}

inline void HoldInHelper(const std::wstring& path, std::wstring commandLine) {
  SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, 0, &inherited,
                            OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                     &startup, &info)) {
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
  }
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

inline void DeleteTree(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) {
    const std::wstring path = folder + L"\\" + found.cFileName;
    if (found.cFileName[0] == L'.') continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) DeleteTree(path);
    else DeleteFileW(path.c_str());
  }
  if (search != INVALID_HANDLE_VALUE) FindClose(search);
  RemoveDirectoryW(folder.c_str());
}

inline void Perform(const std::wstring& line) {
  size_t blank = line.find(L' ');
  std::wstring verb = line.substr(0, blank);
  if (verb == L"end-parent") return EndParent();
  if (blank == std::wstring::npos) return;
  std::wstring rest = line.substr(blank + 1);
  size_t equals = rest.find(L'=');
  std::wstring left = rest.substr(0, equals);
  std::wstring right = equals == std::wstring::npos ? std::wstring() : rest.substr(equals + 1);
  if (verb == L"file") {
    WriteFileText(left, Utf8(right));
  } else if (verb == L"delete") {
    DeleteFileW(rest.c_str());
  } else if (verb == L"deltree") {
    DeleteTree(rest);
  } else if (verb == L"mkdir") {
    CreateDirectoryW(rest.c_str(), nullptr);
  } else if (verb == L"env") {
    SetMachineValue(L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment", left,
                    right);
  } else if (verb == L"run") {
    RunAndRecord(left, right);
  } else if (verb == L"hold") {
    HoldInHelper(left, right);
  } else if (verb == L"reg") {
    SetMachineValue(L"SOFTWARE\\Quendris\\VESKARO", left, right);
  } else if (verb == L"ini") {
    size_t bar = left.find(L'|');
    if (bar == std::wstring::npos) return;
    wchar_t folder[MAX_PATH] = {0};
    GetEnvironmentVariableW(L"ALLUSERSPROFILE", folder, MAX_PATH);
    std::wstring settings = std::wstring(folder) + L"\\Quendris\\QIRO\\Settings\\qiro.ini";
    WritePrivateProfileStringW(left.substr(0, bar).c_str(), left.substr(bar + 1).c_str(),
                               right.c_str(), settings.c_str());
  }
}

// Carries out the actions of the file named by VSKR_INSTALLER_ACTIONS.
inline void PerformAll() {
  std::wistringstream lines(Wide(ReadFileText(Variable(L"VSKR_INSTALLER_ACTIONS"))));
  for (std::wstring line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    if (!line.empty()) Perform(line);
  }
}

}  // namespace installer_actions
