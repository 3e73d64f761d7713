#include "package/file_holders.h"

#include <windows.h>

#include <tlhelp32.h>

#include "platform/path_identity.h"
#include "platform/system_text.h"
#include "platform/unique_handle.h"

namespace {

// The full path of a process's program; empty when it can't be read.
std::wstring ProgramOf(DWORD processId) {
  vskr::UniqueKernelHandle process(
      OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  if (!process) return std::wstring();
  return vskr::GrowingText([&process](wchar_t* buffer, DWORD units) -> DWORD {
    DWORD size = units;
    if (QueryFullProcessImageNameW(process.Get(), 0, buffer, &size)) return size;
    return GetLastError() == ERROR_INSUFFICIENT_BUFFER ? units : 0;
  });
}

// The paths of the modules (program and libraries) a process has loaded;
// empty when they can't be listed.
std::vector<std::wstring> ModulesOf(DWORD processId) {
  std::vector<std::wstring> modules;
  vskr::UniqueFileHandle snapshot(
      CreateToolhelp32Snapshot(TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32, processId));
  if (!snapshot) return modules;
  MODULEENTRY32W module{};
  module.dwSize = sizeof module;
  for (BOOL more = Module32FirstW(snapshot.Get(), &module); more;
       more = Module32NextW(snapshot.Get(), &module))
    modules.push_back(module.szExePath);
  return modules;
}

void AddHolder(std::wstring& holders, const std::wstring& program, DWORD processId) {
  if (!holders.empty()) holders += L", ";
  holders += L"\"" + program + L"\" (process " + std::to_wstring(processId) + L")";
}

}  // namespace

std::vector<std::wstring> ProgramsHolding(const std::vector<std::wstring>& paths) {
  std::vector<std::wstring> holders(paths.size());
  vskr::UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return holders;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more;
       more = Process32NextW(snapshot.Get(), &entry)) {
    std::wstring program = ProgramOf(entry.th32ProcessID);
    std::vector<std::wstring> modules = ModulesOf(entry.th32ProcessID);
    if (!program.empty()) modules.push_back(program);
    if (program.empty()) program = entry.szExeFile;
    for (size_t i = 0; i < paths.size(); ++i) {
      for (const std::wstring& module : modules) {
        if (!SamePath(module, paths[i])) continue;
        AddHolder(holders[i], program, entry.th32ProcessID);
        break;
      }
    }
  }
  return holders;
}
