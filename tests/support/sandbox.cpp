#include "support/sandbox.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "platform/system_text.h"
#include "platform/unique_handle.h"

namespace testing_support {

const wchar_t kProductKeyPath[] = L"SOFTWARE\\Quendris\\VESKARO";
const wchar_t kEnvironmentKeyPath[] =
    L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

namespace {

const wchar_t kStandInLog[] = L"C:\\vskr_tests\\standin.log";
const REGSAM k64 = KEY_WOW64_64KEY;

std::wstring FolderOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\')); }

// A key of HKEY_LOCAL_MACHINE in the 64-bit view, opened or created;
// invalid when that fails.
vskr::UniqueHkey MachineKey(const std::wstring& path, REGSAM access, bool create = false) {
  vskr::UniqueHkey key;
  if (create)
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, access | k64, nullptr,
                    key.Put(), nullptr);
  if (!create) RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, access | k64, key.Put());
  return key;
}

// The Linux path of a path on the prefix's drive C:, letter case as given.
std::wstring UnixPath(const std::wstring& path) {
  std::wstring unixPath = Widen(std::getenv("WINEPREFIX")) + L"/dosdevices/c:" + path.substr(2);
  std::replace(unixPath.begin(), unixPath.end(), L'\\', L'/');
  return unixPath;
}


}  // namespace

// Runs `command` of the Linux shell with the Linux forms of `paths` as $1,
// $2 and waits until it is done. Wine can't wait on a Linux process, so the
// command touches a marker file ($0) at its end and the wait watches for it.
bool RunUnixTool(const std::wstring& command, std::vector<std::wstring> paths) {
  static int counter = 0;
  paths.insert(paths.begin(), L"C:\\windows\\temp\\vskr_unix_done_" +
                                  std::to_wstring(GetCurrentProcessId()) + L"_" +
                                  std::to_wstring(++counter));
  std::wstring commandLine = L"\\\\?\\unix\\bin\\sh -c \"" + command + L"; touch \\\"$0\\\"\"";
  for (const std::wstring& path : paths) commandLine += L" \"" + UnixPath(path) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info))
    return false;
  vskr::ChildProcess().Adopt(info);  // closes the handles at once
  for (int i = 0; i < 3000 && !PathExists(paths[0]); ++i) Sleep(10);
  return DeleteFileW(paths[0].c_str()) != FALSE;
}

void RequireSandbox() {
  bool marked = MachineKey(L"Software\\VskrTestSandbox", KEY_READ).IsValid();
  if (marked && GetDriveTypeW(L"Z:\\") == DRIVE_NO_ROOT_DIR) return;
  std::fprintf(stderr, "These tests change the machine's registry and delete folders. They run "
                       "only in the Wine prefix that scripts/test.sh prepares.\n");
  std::exit(3);
}

// Through the file system library's paths, which convert exactly.
std::wstring Widen(const std::string& utf8) { return std::filesystem::u8path(utf8).wstring(); }

std::string Narrow(const std::wstring& text) { return std::filesystem::path(text).u8string(); }

void DeleteMachineKey(const std::wstring& path) {
  if (vskr::UniqueHkey key = MachineKey(path, KEY_ALL_ACCESS)) RegDeleteTreeW(key.Get(), nullptr);
  RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), k64, 0);
}

void DeleteMachineValue(const std::wstring& path, const std::wstring& name) {
  RegDeleteValueW(MachineKey(path, KEY_SET_VALUE).Get(), name.c_str());
}

void SetMachineText(const std::wstring& path, const std::wstring& name, const std::wstring& text,
                    DWORD type, bool withTerminator) {
  // The registry counts a forgotten terminator in when the unit behind the
  // data is zero; a non-zero unit there keeps the data unterminated.
  std::wstring data = text + (withTerminator ? L"" : L"#");
  RegSetValueExW(MachineKey(path, KEY_SET_VALUE, true).Get(), name.c_str(), 0, type,
                 reinterpret_cast<const BYTE*>(data.c_str()),
                 static_cast<DWORD>((text.size() + (withTerminator ? 1 : 0)) * sizeof(wchar_t)));
}

std::wstring RegistryValue::Units() const {
  return std::wstring(reinterpret_cast<const wchar_t*>(data.data()), data.size() / 2);
}

std::wstring RegistryValue::Text() const { return Units().substr(0, Units().find(L'\0')); }

RegistryValue ReadMachineValue(const std::wstring& path, const std::wstring& name) {
  RegistryValue value;
  vskr::UniqueHkey key = MachineKey(path, KEY_QUERY_VALUE);
  DWORD bytes = 0;
  value.exists = RegQueryValueExW(key.Get(), name.c_str(), nullptr, &value.type, nullptr,
                                  &bytes) == ERROR_SUCCESS;
  value.data.resize(bytes);
  if (value.exists)
    RegQueryValueExW(key.Get(), name.c_str(), nullptr, &value.type, value.data.data(), &bytes);
  return value;
}

// With the system's rm, which removes a link itself and never follows it;
// only below the sandbox's drive C:, and never with a ".." in the path.
void DeleteTreeNoFollow(const std::wstring& path) {
  if (path.size() > 3 && _wcsnicmp(path.c_str(), L"C:\\", 3) == 0 && path.find(L"..") == path.npos)
    RunUnixTool(L"rm -rf -- \\\"$1\\\"", {path});
}

void ResetFolder(const std::wstring& folder) {
  DeleteTreeNoFollow(folder);
  CreateFolders(folder);
}

void CreateFolders(const std::wstring& folder) {
  SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
  CreateFolders(FolderOf(path));
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  std::ofstream(std::filesystem::path(path), std::ios::binary) << bytes;
}

void WriteText(const std::wstring& path, const std::wstring& text) {
  WriteBytes(path, Narrow(text));
}

void WriteUtf16Text(const std::wstring& path, const std::wstring& text) {
  WriteBytes(path, "\xFF\xFE" + std::string(reinterpret_cast<const char*>(text.data()),
                                            text.size() * sizeof(wchar_t)));
}

std::string ReadBytes(const std::wstring& path) {
  std::ifstream file(std::filesystem::path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

std::wstring ReadText(const std::wstring& path) {
  std::string bytes = ReadBytes(path);
  if (bytes.compare(0, 2, "\xFF\xFE") != 0) return Widen(bytes);
  return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / 2);
}

bool PathExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring CommonAppData() { return vskr::CommonDataFolder(); }

bool MakeLink(const std::wstring& link, const std::wstring& target, bool hard) {
  return RunUnixTool(hard ? L"ln -- \\\"$1\\\" \\\"$2\\\"" : L"ln -s -- \\\"$1\\\" \\\"$2\\\"",
                     {target, link});
}

HANDLE HoldWithoutWriteSharing(const std::wstring& path) {
  return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::wstring BuildBin() { return L"Y:"; }

std::wstring InstallUpdater(const std::wstring& folder) {
  InstallStandIn(L"vskr_updater.exe", folder + L"\\vskr_updater.exe");
  return folder + L"\\vskr_updater.exe";
}

RunResult RunUpdater(const std::wstring& updaterPath, const std::wstring& arguments,
                     DWORD timeoutMs) {
  return RunUpdaterIn(L"", updaterPath, arguments, timeoutMs);
}

RunResult RunUpdaterIn(const std::wstring& currentFolder, const std::wstring& updaterPath,
                       const std::wstring& arguments, DWORD timeoutMs) {
  std::wstring commandLine = L"\"" + updaterPath + L"\"" + (arguments.empty() ? L"" : L" ");
  return dialog_watch::RunWatched(commandLine + arguments, currentFolder, timeoutMs);
}

void ResetStandInLog() {
  CreateFolders(FolderOf(kStandInLog));
  DeleteFileW(kStandInLog);
  SetEnvironmentVariableW(L"VSKR_STANDIN_LOG", kStandInLog);
}

std::vector<StandInCall> ReadStandInLog() {
  std::vector<StandInCall> calls;
  std::wistringstream lines(ReadText(kStandInLog));
  for (std::wstring line; std::getline(lines, line);) {
    size_t first = line.find(L'|'), last = line.rfind(L'|'), end = line.find(L'\r');
    if (first != last)
      calls.push_back({line.substr(0, first), line.substr(first + 1, last - first - 1),
                       line.substr(last + 1, end - last - 1)});
  }
  return calls;
}

void InstallStandIn(const std::wstring& standInName, const std::wstring& targetPath) {
  CreateFolders(FolderOf(targetPath));
  CopyFileW((BuildBin() + L"\\" + standInName).c_str(), targetPath.c_str(), FALSE);
}

std::wstring SystemToolsFolder() { return vskr::SystemFolder(); }

std::wstring WindowsFolder() { return vskr::WindowsFolder(); }

void InstallRegistrationTool() {
  for (const wchar_t* framework : {L"Framework", L"Framework64"})
    InstallStandIn(L"standin_tool.exe", WindowsFolder() + L"\\Microsoft.NET\\" + framework +
                                            L"\\v4.0.30319\\regasm.exe");
}

ScopedVariable::ScopedVariable(const std::wstring& name, const std::wstring& value) : name_(name) {
  wchar_t old[4096] = {0};
  existed_ = GetEnvironmentVariableW(name.c_str(), old, 4096) > 0;
  old_ = old;
  SetEnvironmentVariableW(name.c_str(), value.c_str());
}

ScopedVariable::~ScopedVariable() {
  SetEnvironmentVariableW(name_.c_str(), existed_ ? old_.c_str() : nullptr);
}

}  // namespace testing_support

std::ostream& dialog_watch::operator<<(std::ostream& out, const Dialog& dialog) {
  return out << testing_support::Narrow(dialog.caption + L": " + dialog.text)
             << (dialog.hasOwner ? ", owned" : "") << (dialog.hasIcon ? ", icon" : "");
}

// The test programs run only inside the sandbox prefix.
int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  testing_support::RequireSandbox();
  return RUN_ALL_TESTS();
}
