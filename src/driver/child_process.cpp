#include "driver/child_process.h"

#include <windows.h>

#include <tlhelp32.h>

#include <cwchar>
#include <string>
#include <vector>

#include "driver/path_identity.h"
#include "driver/run_log.h"

namespace {

static_assert(sizeof(void*) != 4 || sizeof(STARTUPINFOW) == 68,
              "the 32-bit program hands the system a start-up record of 68 bytes");

// The pause between two looks at the process list.
constexpr DWORD kProcessPollMs = 1000;

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

std::wstring CurrentFolder() {
  std::vector<wchar_t> buffer(32768, 0);
  DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
  return length && length < buffer.size() ? std::wstring(buffer.data(), length) : std::wstring();
}

std::wstring SystemFolder() {
  wchar_t buffer[MAX_PATH + 1] = {0};
  UINT length = GetSystemDirectoryW(buffer, MAX_PATH + 1);
  return length && length <= MAX_PATH ? std::wstring(buffer, length) : std::wstring();
}

std::wstring WindowsFolder() {
  wchar_t buffer[MAX_PATH + 1] = {0};
  UINT length = GetWindowsDirectoryW(buffer, MAX_PATH + 1);
  return length && length <= MAX_PATH ? std::wstring(buffer, length) : std::wstring();
}

std::vector<std::wstring> PathVariableFolders() {
  std::vector<std::wstring> folders;
  DWORD size = GetEnvironmentVariableW(L"PATH", nullptr, 0);
  if (size == 0) return folders;
  std::vector<wchar_t> buffer(size + 1, 0);
  DWORD length = GetEnvironmentVariableW(L"PATH", buffer.data(), size + 1);
  if (length == 0 || length > size) return folders;
  std::wstring text(buffer.data(), length);
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
// updater's own folder and less relative PATH entries.
std::vector<std::wstring> ProgramSearchFolders() {
  std::vector<std::wstring> folders;
  const std::wstring ownFolder = OwnProgramFolder();
  auto add = [&](const std::wstring& folder) {
    std::wstring comparable = ComparablePath(folder);
    if (comparable.empty()) return;  // relative or unusable
    if (!ownFolder.empty() && SamePath(comparable, ownFolder)) return;
    folders.push_back(comparable);
  };
  add(CurrentFolder());
  add(SystemFolder());
  std::wstring windows = WindowsFolder();
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

bool LaunchChild(const tmk_String& commandLine, LaunchProfile profile, vskr::ChildProcess& child) {
  tmk_String program;
  ProgramLookup lookup = FindChildProgram(commandLine, program);
  if (lookup == ProgramLookup::NotFound) {
    LogLine(L"program not found: %s", commandLine.Text());
    return false;
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
    LogFailure(L"starting a program", commandLine.Text(), GetLastError());
    return false;
  }
  child.Adopt(info);
  wchar_t folder[MAX_PATH * 2] = {0};
  GetCurrentDirectoryW(MAX_PATH * 2, folder);
  LogLine(L"program started: %s (current folder \"%s\")", commandLine.Text(), folder);
  return true;
}

void WaitForChild(vskr::ChildProcess& child, const tmk_String& commandLine) {
  WaitForSingleObject(child.Process.Get(), INFINITE);
  DWORD exitCode = 0;
  // Read for the run log alone; nothing depends on it.
  if (GetExitCodeProcess(child.Process.Get(), &exitCode)) {
    LogLine(L"program ended with exit code %lu: %s", exitCode, commandLine.Text());
  }
  child.Process.Reset();
  child.Thread.Reset();
}

bool RunAndWait(const tmk_String& commandLine, LaunchProfile profile) {
  vskr::ChildProcess child;
  if (!LaunchChild(commandLine, profile, child)) return false;
  WaitForChild(child, commandLine);
  return true;
}

bool IsProcessRunning(const tmk_String& imageName) {
  // A snapshot names every process, also 64-bit ones, which a 32-bit
  // program can't read the module list of.
  vskr::UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return false;
  PROCESSENTRY32W entry;
  ZeroMemory(&entry, sizeof entry);
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more;
       more = Process32NextW(snapshot.Get(), &entry)) {
    if (entry.th32ProcessID == 0) continue;
    if (std::wcscmp(entry.szExeFile, imageName.Text()) == 0) return true;
  }
  return false;
}

void WaitWhileProcessRunning(const tmk_String& imageName) {
  do {
    Sleep(kProcessPollMs);
  } while (IsProcessRunning(imageName));
}
