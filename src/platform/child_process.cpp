#include "platform/child_process.h"

#include <windows.h>

#include <tlhelp32.h>

#include <cwchar>
#include <string>
#include <vector>

#include "platform/path_identity.h"
#include "platform/run_log.h"
#include "platform/system_text.h"

namespace {

static_assert(sizeof(void*) != 4 || sizeof(STARTUPINFOW) == 68,
              "the 32-bit program hands the system a start-up record of 68 bytes");

// The pause between two looks at the process list.
constexpr DWORD kProcessPollMs = 1000;
// How often a long wait for processes is told in the run log.
constexpr ULONGLONG kWaitReportMs = 60000;

// A new start-up record for the profile; everything not set here is zero.
STARTUPINFOW StartupInfoFor(LaunchProfile profile) {
  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;  // 68 bytes in this 32-bit program
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  if (profile == LaunchProfile::HiddenTool) {
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    startup.wShowWindow = SW_HIDE;
  } else {
    // The handles are set but unused: the flag that would use them is off.
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
  }
  return startup;
}

// The program part of a command line as the system reads it when it is
// given no program name: a quoted first token without its quotes, or the
// text up to the first blank or tab.
std::wstring FirstToken(const wchar_t* commandLine) {
  const wchar_t* p = commandLine;
  if (*p == L'"') {
    const wchar_t* end = std::wcschr(p + 1, L'"');
    return end ? std::wstring(p + 1, end) : std::wstring(p + 1);
  }
  const wchar_t* end = p;
  while (*end && *end != L' ' && *end != L'\t') ++end;
  return std::wstring(p, end);
}

std::vector<std::wstring> PathVariableFolders() {
  std::vector<std::wstring> folders;
  std::wstring text = vskr::GrowingText([](wchar_t* buffer, DWORD units) {
    return GetEnvironmentVariableW(L"PATH", buffer, units);
  });
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(L';', start);
    if (end == std::wstring::npos) end = text.size();
    std::wstring folder = text.substr(start, end - start);
    if (folder.size() >= 2 && folder.front() == L'"' && folder.back() == L'"')
      folder = folder.substr(1, folder.size() - 2);
    if (!folder.empty()) folders.push_back(folder);
    start = end + 1;
  }
  return folders;
}

// The system's search order for a program named without a folder, less the
// updater's own folder in any of its names and less relative PATH entries.
// When the own folder can't be told, the current folder may be it: then
// neither is searched.
std::vector<std::wstring> ProgramSearchFolders() {
  std::vector<std::wstring> folders;
  const std::wstring ownFolder = OwnProgramFolder();
  auto add = [&](const std::wstring& folder) {
    std::wstring comparable = ComparablePath(folder);
    if (comparable.empty()) return;  // relative or unusable
    if (!ownFolder.empty() && IsSamePlace(comparable, ownFolder)) return;
    folders.push_back(comparable);
  };
  if (!ownFolder.empty()) add(vskr::CurrentFolder());
  add(vskr::SystemFolder());
  std::wstring windows = vskr::WindowsFolder();
  if (!windows.empty()) add(windows + L"\\System");
  add(windows);
  for (const std::wstring& folder : PathVariableFolders()) add(folder);
  return folders;
}

bool IsFile(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

ProgramLookup FindChildProgram(const tmk_String& commandLine, tmk_String& program) {
  std::wstring name = FirstToken(commandLine.Text());
  if (name.empty() || name.find_first_of(L"\\/:") != std::wstring::npos)
    return ProgramLookup::AsGiven;
  if (name.find(L'.') == std::wstring::npos) name += L".exe";
  for (const std::wstring& folder : ProgramSearchFolders()) {
    std::wstring candidate = folder + L"\\" + name;
    if (IsFile(candidate)) {
      program.Assign(candidate.c_str());
      return ProgramLookup::Found;
    }
  }
  return ProgramLookup::NotFound;
}

DWORD LaunchChild(const tmk_String& commandLine, LaunchProfile profile, vskr::ChildProcess& child) {
  tmk_String program;
  ProgramLookup lookup = FindChildProgram(commandLine, program);
  if (lookup == ProgramLookup::NotFound) {
    LogLine(L"program not found: %s", commandLine.Text());
    return ERROR_FILE_NOT_FOUND;
  }

  PROCESS_INFORMATION info;
  ZeroMemory(&info, sizeof info);
  STARTUPINFOW startup = StartupInfoFor(profile);
  // The system may write into the command line while it parses it, so it
  // gets a buffer of its own.
  const wchar_t* text = commandLine.Text();
  std::vector<wchar_t> buffer(text, text + std::wcslen(text) + 1);
  BOOL started = CreateProcessW(lookup == ProgramLookup::Found ? program.Text() : nullptr,
                                buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                &startup, &info);
  if (!started) {
    DWORD error = GetLastError();
    LogFailure(L"starting a program", commandLine.Text(), error);
    return error;
  }
  child.Adopt(info);
  LogLine(L"program started: %s (current folder \"%s\")", commandLine.Text(),
          vskr::CurrentFolder().c_str());
  return ERROR_SUCCESS;
}

DWORD WaitForChild(vskr::ChildProcess& child, const tmk_String& commandLine) {
  DWORD exitCode = 0;
  if (WaitForSingleObject(child.Process.Get(), INFINITE) == WAIT_FAILED) {
    exitCode = GetLastError();
    LogFailure(L"waiting for a program", commandLine.Text(), exitCode);
  } else if (GetExitCodeProcess(child.Process.Get(), &exitCode)) {
    LogLine(L"program ended with exit code %lu: %s", exitCode, commandLine.Text());
  } else {
    exitCode = GetLastError();
    LogFailure(L"reading the exit code of a program", commandLine.Text(), exitCode);
  }
  child.Process.Reset();
  child.Thread.Reset();
  return exitCode;
}

DWORD RunAndWait(const tmk_String& commandLine, LaunchProfile profile, DWORD* exitCode) {
  vskr::ChildProcess child;
  DWORD error = LaunchChild(commandLine, profile, child);
  if (error != ERROR_SUCCESS) return error;
  DWORD code = WaitForChild(child, commandLine);
  if (exitCode) *exitCode = code;
  return ERROR_SUCCESS;
}

namespace {

// The ids of the running processes whose image has the base name
// `imageName` exactly. A snapshot names every process, also 64-bit ones,
// which a 32-bit program can't read the module list of. Empty when the
// process list can't be read (the run log says so).
std::vector<DWORD> ProcessIdsNamed(const tmk_String& imageName) {
  std::vector<DWORD> ids;
  vskr::UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) {
    LogFailure(L"reading the process list", imageName.Text(), GetLastError());
    return ids;
  }
  PROCESSENTRY32W entry;
  ZeroMemory(&entry, sizeof entry);
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more;
       more = Process32NextW(snapshot.Get(), &entry)) {
    if (entry.th32ProcessID == 0) continue;
    if (std::wcscmp(entry.szExeFile, imageName.Text()) == 0) ids.push_back(entry.th32ProcessID);
  }
  return ids;
}

// "1234, 5678".
std::wstring IdList(const std::vector<DWORD>& ids) {
  std::wstring list;
  for (DWORD id : ids) list += (list.empty() ? L"" : L", ") + std::to_wstring(id);
  return list;
}

}  // namespace

void WaitWhileProcessRunning(const tmk_String& imageName) {
  // A wait without an end must not look like a hung updater: the log tells
  // when it begins and, while it lasts, once a minute.
  const ULONGLONG start = GetTickCount64();
  ULONGLONG lastReport = 0;
  for (;;) {
    Sleep(kProcessPollMs);
    std::vector<DWORD> ids = ProcessIdsNamed(imageName);
    if (ids.empty()) return;
    ULONGLONG now = GetTickCount64();
    if (lastReport == 0) {
      LogLine(L"waiting while %u process(es) named %s run (process ids %s)",
              static_cast<unsigned>(ids.size()), imageName.Text(), IdList(ids).c_str());
      lastReport = now;
    } else if (now - lastReport >= kWaitReportMs) {
      LogLine(L"still waiting after %llu min: %u process(es) named %s run (process ids %s)",
              (now - start) / 60000, static_cast<unsigned>(ids.size()), imageName.Text(),
              IdList(ids).c_str());
      lastReport = now;
    }
  }
}

namespace vskr {

ScopedCurrentFolder::ScopedCurrentFolder(const wchar_t* folder) : earlier_(CurrentFolder()) {
  if (!SetCurrentDirectoryW(folder)) {
    error_ = GetLastError();
    LogFailure(L"making the current folder", folder, error_);
  }
}

ScopedCurrentFolder::~ScopedCurrentFolder() {
  if (error_ != 0 || earlier_.empty()) return;
  if (!SetCurrentDirectoryW(earlier_.c_str()))
    LogFailure(L"making the current folder again", earlier_.c_str(), GetLastError());
}

}  // namespace vskr
