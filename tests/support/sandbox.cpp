#include "support/sandbox.h"

#include <shlobj.h>
#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <ostream>
#include <set>
#include <thread>
#include <utility>
#include <vector>

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

std::wstring RegistryValue::Text() const {
  std::wstring units = Units();
  return units.substr(0, units.find(L'\0'));
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

MachineKeySnapshot::MachineKeySnapshot(std::wstring path, REGSAM view)
    : path_(std::move(path)), view_(view) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path_.c_str(), 0, KEY_READ | view_, &key) !=
      ERROR_SUCCESS)
    return;
  existed_ = true;
  DWORD subkeys = 0;
  RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr,
                   nullptr, nullptr, nullptr);
  subkeys_ = subkeys;
  for (DWORD index = 0;; ++index) {
    wchar_t name[16384];
    DWORD nameUnits = 16384;
    DWORD type = REG_NONE;
    DWORD bytes = 0;
    if (RegEnumValueW(key, index, name, &nameUnits, nullptr, &type, nullptr, &bytes) !=
        ERROR_SUCCESS)
      break;
    Value value{name, type, std::vector<BYTE>(bytes)};
    nameUnits = 16384;
    RegEnumValueW(key, index, name, &nameUnits, nullptr, &type, value.data.data(), &bytes);
    value.data.resize(bytes);
    values_.push_back(value);
  }
  RegCloseKey(key);
}

MachineKeySnapshot::~MachineKeySnapshot() { Restore(); }

void MachineKeySnapshot::Restore() {
  if (!existed_) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path_.c_str(), 0, KEY_ALL_ACCESS | view_, &key) ==
        ERROR_SUCCESS) {
      RegDeleteTreeW(key, nullptr);
      RegCloseKey(key);
      RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path_.c_str(), view_, 0);
    }
    return;
  }
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view_,
                      nullptr, &key, nullptr) != ERROR_SUCCESS)
    return;
  // Values that were not there before go first.
  std::vector<std::wstring> added;
  for (DWORD index = 0;; ++index) {
    wchar_t name[16384];
    DWORD nameUnits = 16384;
    if (RegEnumValueW(key, index, name, &nameUnits, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    bool known = false;
    for (const Value& value : values_) known = known || _wcsicmp(value.name.c_str(), name) == 0;
    if (!known) added.push_back(name);
  }
  for (const std::wstring& name : added) RegDeleteValueW(key, name.c_str());
  for (const Value& value : values_) {
    // A non-zero unit behind the data keeps the registry from adding a
    // terminator that the value did not have.
    std::vector<BYTE> data = value.data;
    data.push_back(0xFF);
    data.push_back(0xFF);
    RegSetValueExW(key, value.name.c_str(), 0, value.type, data.data(),
                   static_cast<DWORD>(value.data.size()));
  }
  RegCloseKey(key);
}

// ------------------------------------------------------------------- files

namespace {

std::string UnixPath(const std::wstring& path) {
  using ToUnix = char*(CDECL*)(LPCWSTR);
  auto toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (!toUnix) return std::string();
  char* unixPath = toUnix(path.c_str());
  if (!unixPath) return std::string();
  std::string result = unixPath;
  HeapFree(GetProcessHeap(), 0, unixPath);
  return result;
}

// Runs a shell command of the Linux system with up to three path arguments
// ($1 to $3, quoted by the caller's script), and waits until it is done.
// Wine can't wait on a Linux process, so the script touches a marker file
// at its end and the wait watches for that.
bool RunUnixTool(const std::wstring& script, const std::vector<std::string>& arguments) {
  static int counter = 0;
  std::wstring marker = L"C:\\windows\\temp\\vskr_unix_done_" +
                        std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(++counter);
  DeleteFileW(marker.c_str());
  std::string unixMarker = UnixPath(marker);
  if (unixMarker.empty()) return false;
  std::wstring commandLine = L"\\\\?\\unix\\bin\\sh -c \"" + script + L"; touch \\\"$0\\\"\" \"" +
                             Widen(unixMarker) + L"\"";
  for (const std::string& argument : arguments) commandLine += L" \"" + Widen(argument) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info))
    return false;
  CloseHandle(info.hProcess);
  CloseHandle(info.hThread);
  for (int i = 0; i < 1000 && !PathExists(marker); ++i) Sleep(10);
  bool done = PathExists(marker);
  DeleteFileW(marker.c_str());
  return done;
}

}  // namespace


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

// Removes a tree with the system's rm, which removes links themselves and
// never follows them. Win32 calls can't do it under this Wine: a link whose
// target is gone is invisible to them. Only paths on drive C: of the
// sandbox are touched.
void DeleteTreeNoFollow(const std::wstring& path) {
  std::string unixPath = UnixPath(path);
  char prefix[MAX_PATH * 2] = {0};
  if (!GetEnvironmentVariableA("WINEPREFIX", prefix, sizeof prefix)) return;
  std::string driveC = std::string(prefix) + "/dosdevices/c:/";
  if (unixPath.size() <= driveC.size() || unixPath.compare(0, driveC.size(), driveC) != 0 ||
      unixPath.find("/../") != std::string::npos)
    return;
  RunUnixTool(L"rm -rf -- \\\"$1\\\"", {unixPath});
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

void WriteUtf16Text(const std::wstring& path, const std::wstring& text) {
  std::string bytes = "\xFF\xFE";
  bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
  WriteBytes(path, bytes);
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


namespace {

// Runs the system's ln with `option` on the Unix forms of the two paths.
bool RunLn(const wchar_t* option, const std::wstring& link, const std::wstring& target) {
  std::string unixLink = UnixPath(link);
  std::string unixTarget = UnixPath(target);
  if (unixLink.empty() || unixTarget.empty()) return false;
  return RunUnixTool(L"ln " + std::wstring(option) + L" -- \\\"$1\\\" \\\"$2\\\"",
                     {unixTarget, unixLink});
}

}  // namespace

bool MakeLink(const std::wstring& link, const std::wstring& target) {
  return RunLn(L"-s", link, target);
}

bool MakeHardLink(const std::wstring& link, const std::wstring& target) {
  return RunLn(L"", link, target);
}

std::wstring KnownFolder(const KNOWNFOLDERID& id) {
  PWSTR path = nullptr;
  std::wstring result;
  if (SUCCEEDED(SHGetKnownFolderPath(id, KF_FLAG_DONT_VERIFY, nullptr, &path))) result = path;
  CoTaskMemFree(path);
  return result;
}

std::wstring CommonAppData() {
  wchar_t buffer[MAX_PATH] = {0};
  SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, buffer);
  return buffer;
}

FileSnapshot::FileSnapshot(std::wstring path) : path_(std::move(path)) {
  existed_ = PathExists(path_);
  if (existed_) bytes_ = ReadBytes(path_);
}

FileSnapshot::~FileSnapshot() { Restore(); }

void FileSnapshot::Restore() {
  if (existed_) {
    WriteBytes(path_, bytes_);
  } else {
    DeleteFileW(path_.c_str());
  }
  ForgetProfileCache(path_);
}

CurrentFolderChange::CurrentFolderChange(const std::wstring& folder) : earlier_(CurrentFolder()) {
  SetCurrentDirectoryW(folder.c_str());
}

CurrentFolderChange::~CurrentFolderChange() { SetCurrentDirectoryW(earlier_.c_str()); }

namespace {
const wchar_t kUserShellFolders[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
const wchar_t kShellFolders[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const wchar_t kMissingCommonFolder[] = L"C:\\vskr_tests\\No Common Data";
}  // namespace

// The shell reads the folder's setting in the registry view of the calling
// program, the 32-bit one here.
CommonAppDataUnavailable::CommonAppDataUnavailable()
    : userShellFolders_(kUserShellFolders, 0), shellFolders_(kShellFolders, 0) {
  DeleteTreeNoFollow(kMissingCommonFolder);
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kUserShellFolders, 0, nullptr, 0, KEY_ALL_ACCESS,
                      nullptr, &key, nullptr) != ERROR_SUCCESS)
    return;
  RegSetValueExW(key, L"Common AppData", 0, REG_SZ,
                 reinterpret_cast<const BYTE*>(kMissingCommonFolder),
                 sizeof kMissingCommonFolder);
  RegCloseKey(key);
}

CommonAppDataUnavailable::~CommonAppDataUnavailable() = default;

bool CommonAppDataUnavailable::Active() const {
  wchar_t buffer[MAX_PATH] = {0};
  return FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT,
                                 buffer));
}

void ForgetProfileCache(const std::wstring& path) {
  WritePrivateProfileStringW(nullptr, nullptr, nullptr, path.c_str());
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
  dialog.owner = GetWindow(window, GW_OWNER);
  dialog.hasOwner = dialog.owner != nullptr;
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

}  // namespace

struct DialogWatcher::State {
  std::mutex lock;
  std::vector<Dialog> dialogs;
  std::set<HWND> answered;
  std::atomic<bool> stop{false};

  static BOOL CALLBACK Visit(HWND window, LPARAM self) {
    auto* state = reinterpret_cast<State*>(self);
    if (!IsWindowVisible(window) || ClassName(window) != L"#32770") return TRUE;
    std::lock_guard<std::mutex> guard(state->lock);
    if (state->answered.insert(window).second) {
      state->dialogs.push_back(DescribeDialog(window));
    }
    PostMessageW(window, WM_COMMAND, IDOK, 0);
    return TRUE;
  }

  void Loop() {
    while (!stop) {
      EnumWindows(&State::Visit, reinterpret_cast<LPARAM>(this));
      Sleep(20);
    }
  }
};

DialogWatcher::DialogWatcher() : state_(new State) {
  State* state = state_.get();
  thread_ = std::thread([state] { state->Loop(); });
}

DialogWatcher::~DialogWatcher() { Stop(); }

std::vector<Dialog> DialogWatcher::Stop() {
  if (thread_.joinable()) {
    state_->stop = true;
    thread_.join();
  }
  std::lock_guard<std::mutex> guard(state_->lock);
  return state_->dialogs;
}

RunResult RunWatched(const std::wstring& commandLine, const std::wstring& currentFolder,
                     DWORD timeoutMs) {
  RunResult result;
  DialogWatcher watcher;

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
  result.dialogs = watcher.Stop();
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

// ------------------------------------------------------------------- links

std::wstring LinkFixtures() {
  const std::wstring root = L"C:\\vskr_links";
  DeleteTreeNoFollow(root);
  for (const wchar_t* file : {L"\\targets\\folder\\keep.txt", L"\\targets\\folder\\inner\\keep too.txt",
                              L"\\targets\\file.txt", L"\\targets\\shared\\keep.txt",
                              L"\\targets\\notes.txt"}) {
    WriteText(root + file, L"keep");
  }
  CreateFolders(root + L"\\targets\\update");
  CreateFolders(root + L"\\tree\\sub");
  CreateFolders(root + L"\\Upd Links");
  CreateFolders(L"C:\\users\\Public\\Desktop");
  const struct {
    const wchar_t* link;
    const wchar_t* target;
  } links[] = {
      {L"\\tree\\folder link", L"\\targets\\folder"},
      {L"\\tree\\sub\\deep link", L"\\targets\\folder"},
      {L"\\tree\\file link.txt", L"\\targets\\file.txt"},
      {L"\\top link", L"\\targets\\folder"},
      {L"\\Upd Links\\shared", L"\\targets\\shared"},
      {L"\\Upd Links\\notes link.txt", L"\\targets\\notes.txt"},
      {L"\\to update", L"\\targets\\update"},
  };
  for (const auto& link : links) MakeLink(root + link.link, root + link.target);
  MakeLink(root + L"\\to windows", L"C:\\windows");
  MakeLink(root + L"\\to public desktop", L"C:\\users\\Public\\Desktop");
  return root;
}

std::wstring PackageLinkFixtures() {
  const std::wstring root = L"C:\\vskr_package_links";
  DeleteTreeNoFollow(root);
  // One folder tree refresh: both trees hold two links to themselves; the
  // source's "ext" points outside the tree, at a folder of the same name in
  // the destination.
  for (const wchar_t* folder : {L"\\tree\\src\\sub", L"\\tree\\dst\\sub", L"\\tree\\dst\\ext",
                                L"\\tree\\outside"}) {
    CreateFolders(root + folder);
  }
  for (const wchar_t* side : {L"\\tree\\src", L"\\tree\\dst"}) {
    MakeLink(root + side + L"\\loop1", root + side);
    MakeLink(root + side + L"\\loop2", root + side);
  }
  MakeLink(root + L"\\tree\\src\\ext", root + L"\\tree\\outside");
  // A whole package-mode run: the package's App folder and the
  // installation's hold a link to their own folder and one to the folder
  // above.
  for (const wchar_t* app : {L"\\run\\Update\\vskr_update\\Veskaro\\App", L"\\run\\Install\\App"}) {
    std::wstring folder = root + app;
    CreateFolders(folder);
    MakeLink(folder + L"\\self", folder);
    MakeLink(folder + L"\\up", folder.substr(0, folder.find_last_of(L'\\')));
  }
  return root;
}

bool IsLink(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// ------------------------------------------------- environment and processes

ScopedVariable::ScopedVariable(const std::wstring& name, const std::wstring& value) : name_(name) {
  wchar_t buffer[4096] = {0};
  DWORD length = GetEnvironmentVariableW(name.c_str(), buffer, 4096);
  existed_ = length > 0 && length < 4096;
  if (existed_) old_.assign(buffer, length);
  SetEnvironmentVariableW(name.c_str(), value.c_str());
}

ScopedVariable::~ScopedVariable() {
  SetEnvironmentVariableW(name_.c_str(), existed_ ? old_.c_str() : nullptr);
}

RunningProgram::RunningProgram(const std::wstring& commandLine) {
  std::wstring buffer = commandLine;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (CreateProcessW(nullptr, &buffer[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                     &info)) {
    CloseHandle(info.hThread);
    process_ = info.hProcess;
  }
}

RunningProgram::~RunningProgram() {
  if (!process_) return;
  if (!HasEnded()) {
    TerminateProcess(process_, 1);
    WaitForSingleObject(process_, 5000);
  }
  CloseHandle(process_);
}

bool RunningProgram::HasEnded() const {
  return !process_ || WaitForSingleObject(process_, 0) == WAIT_OBJECT_0;
}

namespace {

bool AnyProcessNamed(const std::wstring& imageName) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return false;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  bool found = false;
  for (BOOL more = Process32FirstW(snapshot, &entry); more && !found;
       more = Process32NextW(snapshot, &entry)) {
    found = imageName == entry.szExeFile;
  }
  CloseHandle(snapshot);
  return found;
}

}  // namespace

bool WaitUntilNoProcessNamed(const std::wstring& imageName, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  while (AnyProcessNamed(imageName)) {
    if (GetTickCount() - start > timeoutMs) return false;
    Sleep(50);
  }
  return true;
}

std::wstring WindowsFolder() {
  wchar_t buffer[MAX_PATH] = {0};
  GetWindowsDirectoryW(buffer, MAX_PATH);
  return buffer;
}

void InstallRegistrationTool() {
  for (const wchar_t* framework : {L"Framework", L"Framework64"}) {
    InstallStandIn(L"standin_tool.exe", WindowsFolder() + L"\\Microsoft.NET\\" + framework +
                                            L"\\v4.0.30319\\regasm.exe");
  }
}

}  // namespace testing_support
