#include "support/sandbox.h"

#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <ostream>
#include <set>
#include <thread>

namespace testing_support {

const wchar_t kProductKeyPath[] = L"SOFTWARE\\Quendris\\VESKARO";
const wchar_t kEnvironmentKeyPath[] =
    L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

void RequireSandbox() {
  HKEY key = nullptr;
  bool marked = RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\VskrTestSandbox", 0,
                              KEY_READ | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS;
  if (key) RegCloseKey(key);
  bool rootReachable = GetDriveTypeW(L"Z:\\") != DRIVE_NO_ROOT_DIR;
  if (!marked || rootReachable) {
    std::fprintf(stderr,
                 "These tests change the machine's registry and delete folders. They run only "
                 "in the Wine prefix that scripts/test.sh prepares.\n");
    std::exit(3);
  }
}

// ---------------------------------------------------------------- registry

void DeleteMachineKey(const std::wstring& path) {
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, path.c_str());  // 32-bit view shares it under Wine too
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                    &key) == ERROR_SUCCESS) {
    RegDeleteTreeW(key, nullptr);
    RegCloseKey(key);
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), KEY_WOW64_64KEY, 0);
  }
}

void CreateMachineKey(const std::wstring& path) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                      KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &key, nullptr) == ERROR_SUCCESS)
    RegCloseKey(key);
}

void SetMachineValueBytes(const std::wstring& path, const std::wstring& name, DWORD type,
                          const void* data, DWORD bytes) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                      KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return;
  RegSetValueExW(key, name.c_str(), 0, type, static_cast<const BYTE*>(data), bytes);
  RegCloseKey(key);
}

void SetMachineText(const std::wstring& path, const std::wstring& name, const std::wstring& text,
                    DWORD type, bool withTerminator) {
  DWORD bytes = static_cast<DWORD>((text.size() + (withTerminator ? 1 : 0)) * sizeof(wchar_t));
  // The registry counts a forgotten terminator in when the unit behind the
  // data is zero; a non-zero unit there keeps the data unterminated.
  std::wstring data = text + (withTerminator ? L"" : L"#");
  SetMachineValueBytes(path, name, type, data.c_str(), bytes);
}

void DeleteMachineValue(const std::wstring& path, const std::wstring& name) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                    &key) != ERROR_SUCCESS)
    return;
  RegDeleteValueW(key, name.c_str());
  RegCloseKey(key);
}

std::wstring RegistryValue::Units() const {
  return std::wstring(reinterpret_cast<const wchar_t*>(data.data()), data.size() / 2);
}

RegistryValue ReadMachineValue(const std::wstring& path, const std::wstring& name) {
  RegistryValue value;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &key) !=
      ERROR_SUCCESS)
    return value;
  DWORD bytes = 0;
  if (RegQueryValueExW(key, name.c_str(), nullptr, &value.type, nullptr, &bytes) ==
      ERROR_SUCCESS) {
    value.data.resize(bytes);
    if (RegQueryValueExW(key, name.c_str(), nullptr, &value.type, value.data.data(), &bytes) ==
        ERROR_SUCCESS) {
      value.exists = true;
      value.data.resize(bytes);
    }
  }
  RegCloseKey(key);
  return value;
}

// ------------------------------------------------------------------- files

std::wstring Widen(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(n, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &out[0], n);
  return out;
}

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string out(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n,
                      nullptr, nullptr);
  return out;
}

bool PathExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsFolder(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void DeleteTreeNoFollow(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    DeleteFileW(path.c_str());
    return;
  }
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        DeleteTreeNoFollow(path + L"\\" + name);
      } while (FindNextFileW(search, &entry));
      FindClose(search);
    }
  }
  RemoveDirectoryW(path.c_str());
}

void CreateFolders(const std::wstring& folder) {
  SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
}

void ResetFolder(const std::wstring& folder) {
  DeleteTreeNoFollow(folder);
  CreateFolders(folder);
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
  size_t slash = path.find_last_of(L'\\');
  if (slash != std::wstring::npos) CreateFolders(path.substr(0, slash));
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
}

void WriteText(const std::wstring& path, const std::wstring& text) {
  WriteBytes(path, Narrow(text));
}

std::string ReadBytes(const std::wstring& path) {
  std::string bytes;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) bytes.append(chunk, got);
  CloseHandle(file);
  return bytes;
}

std::wstring ReadText(const std::wstring& path) {
  std::string bytes = ReadBytes(path);
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data() + 2),
                        (bytes.size() - 2) / 2);
  }
  return Widen(bytes);
}

std::wstring CurrentFolder() {
  wchar_t buffer[MAX_PATH * 2] = {0};
  GetCurrentDirectoryW(MAX_PATH * 2, buffer);
  return buffer;
}

std::wstring CommonAppData() {
  wchar_t buffer[MAX_PATH] = {0};
  SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, buffer);
  return buffer;
}

DWORD Attributes(const std::wstring& path) { return GetFileAttributesW(path.c_str()); }

std::vector<std::wstring> EnumerationOrder(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW entry;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    std::wstring name = entry.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (FindNextFileW(search, &entry));
  FindClose(search);
  return names;
}

namespace {

void ListInto(const std::wstring& root, const std::wstring& relative,
              std::vector<std::wstring>& listing) {
  std::wstring folder = relative.empty() ? root : root + L"\\" + relative;
  for (const std::wstring& name : EnumerationOrder(folder)) {
    std::wstring path = relative.empty() ? name : relative + L"\\" + name;
    DWORD attributes = Attributes(root + L"\\" + path);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      listing.push_back(path);
    } else if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      listing.push_back(path + L"@");
    } else {
      listing.push_back(path + L"\\");
      ListInto(root, path, listing);
    }
  }
}

}  // namespace

std::vector<std::wstring> TreeListing(const std::wstring& root) {
  std::vector<std::wstring> listing;
  ListInto(root, L"", listing);
  std::sort(listing.begin(), listing.end());
  return listing;
}

HANDLE HoldWithoutWriteSharing(const std::wstring& path) {
  return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

// ----------------------------------------------------------------- dialogs

std::ostream& operator<<(std::ostream& out, const Dialog& dialog) {
  return out << "{caption \"" << Narrow(dialog.caption) << "\", text \"" << Narrow(dialog.text)
             << "\", " << (dialog.hasOwner ? "owned" : "no owner") << ", "
             << (dialog.hasIcon ? "icon" : "no icon") << "}";
}

namespace {

std::wstring WindowText(HWND window) {
  wchar_t buffer[1024] = {0};
  GetWindowTextW(window, buffer, 1024);
  return buffer;
}

std::wstring ClassName(HWND window) {
  wchar_t buffer[256] = {0};
  GetClassNameW(window, buffer, 256);
  return buffer;
}

Dialog DescribeDialog(HWND window) {
  Dialog dialog;
  dialog.caption = WindowText(window);
  dialog.hasOwner = GetWindow(window, GW_OWNER) != nullptr;
  for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (_wcsicmp(ClassName(child).c_str(), L"Static") != 0) continue;
    LONG style = GetWindowLongW(child, GWL_STYLE);
    if ((style & SS_TYPEMASK) == SS_ICON) {
      if (IsWindowVisible(child) && SendMessageW(child, STM_GETICON, 0, 0) != 0)
        dialog.hasIcon = true;
    } else {
      std::wstring text = WindowText(child);
      if (!text.empty()) dialog.text = text;
    }
  }
  return dialog;
}

struct Watcher {
  std::mutex lock;
  std::vector<Dialog> dialogs;
  std::set<HWND> answered;
  std::atomic<bool> stop{false};

  static BOOL CALLBACK Visit(HWND window, LPARAM self) {
    auto* watcher = reinterpret_cast<Watcher*>(self);
    if (!IsWindowVisible(window) || ClassName(window) != L"#32770") return TRUE;
    std::lock_guard<std::mutex> guard(watcher->lock);
    if (watcher->answered.insert(window).second) {
      watcher->dialogs.push_back(DescribeDialog(window));
    }
    PostMessageW(window, WM_COMMAND, IDOK, 0);
    return TRUE;
  }

  void Loop() {
    while (!stop) {
      EnumWindows(&Watcher::Visit, reinterpret_cast<LPARAM>(this));
      Sleep(20);
    }
  }
};

}  // namespace

RunResult RunWatched(const std::wstring& commandLine, const std::wstring& currentFolder,
                     DWORD timeoutMs) {
  RunResult result;
  Watcher watcher;
  std::thread thread([&watcher] { watcher.Loop(); });

  std::wstring buffer = commandLine;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  auto begin = std::chrono::steady_clock::now();
  result.started = CreateProcessW(nullptr, &buffer[0], nullptr, nullptr, FALSE, 0, nullptr,
                                  currentFolder.empty() ? nullptr : currentFolder.c_str(),
                                  &startup, &info) != FALSE;
  if (result.started) {
    if (WaitForSingleObject(info.hProcess, timeoutMs) == WAIT_TIMEOUT) {
      result.timedOut = true;
      TerminateProcess(info.hProcess, 999);
      WaitForSingleObject(info.hProcess, 5000);
    }
    GetExitCodeProcess(info.hProcess, &result.exitCode);
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
  }
  result.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  Sleep(50);  // a last look for a dialog that is still closing
  watcher.stop = true;
  thread.join();
  result.dialogs = watcher.dialogs;
  return result;
}

std::wstring BuildBin() { return L"Y:"; }

std::wstring InstallUpdater(const std::wstring& folder) {
  CreateFolders(folder);
  std::wstring target = folder + L"\\vskr_updater.exe";
  CopyFileW((BuildBin() + L"\\vskr_updater.exe").c_str(), target.c_str(), FALSE);
  return target;
}

RunResult RunUpdater(const std::wstring& updaterPath, const std::wstring& arguments,
                     DWORD timeoutMs) {
  std::wstring commandLine = L"\"" + updaterPath + L"\"";
  if (!arguments.empty()) commandLine += L" " + arguments;
  return RunWatched(commandLine, L"", timeoutMs);
}

RunResult RunUpdaterIn(const std::wstring& currentFolder, const std::wstring& updaterPath,
                       const std::wstring& arguments, DWORD timeoutMs) {
  std::wstring commandLine = L"\"" + updaterPath + L"\"";
  if (!arguments.empty()) commandLine += L" " + arguments;
  return RunWatched(commandLine, currentFolder, timeoutMs);
}

// --------------------------------------------------------------- stand-ins

std::wstring StandInLogPath() { return L"C:\\vskr_tests\\standin.log"; }

void ResetStandInLog() {
  CreateFolders(L"C:\\vskr_tests");
  DeleteFileW(StandInLogPath().c_str());
  SetEnvironmentVariableW(L"VSKR_STANDIN_LOG", StandInLogPath().c_str());
}

std::vector<StandInCall> ReadStandInLog() {
  std::vector<StandInCall> calls;
  std::wstring text = ReadText(StandInLogPath());
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) end = text.size();
    std::wstring line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    size_t first = line.find(L'|');
    size_t last = line.rfind(L'|');
    if (first == std::wstring::npos || first == last) continue;
    calls.push_back({line.substr(0, first), line.substr(first + 1, last - first - 1),
                     line.substr(last + 1)});
  }
  return calls;
}

void InstallStandIn(const std::wstring& standInName, const std::wstring& targetPath) {
  size_t slash = targetPath.find_last_of(L'\\');
  if (slash != std::wstring::npos) CreateFolders(targetPath.substr(0, slash));
  CopyFileW((BuildBin() + L"\\" + standInName).c_str(), targetPath.c_str(), FALSE);
}

std::wstring SystemToolsFolder() {
  wchar_t buffer[MAX_PATH] = {0};
  GetSystemDirectoryW(buffer, MAX_PATH);  // syswow64 for this 32-bit program
  return buffer;
}

}  // namespace testing_support
