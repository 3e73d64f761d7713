// Test helpers that work on the sandbox prefix's real registry, files,
// processes and dialogs.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace testing_support {

// Aborts the test program unless it runs in the test script's Wine prefix
// (its marker value exists and no drive reaches the Linux root).
void RequireSandbox();

// --- registry (HKEY_LOCAL_MACHINE, 64-bit view) ---
extern const wchar_t kProductKeyPath[];
extern const wchar_t kEnvironmentKeyPath[];

void DeleteMachineKey(const std::wstring& path);
void CreateMachineKey(const std::wstring& path);
// Stores raw bytes with the given type (creates the key).
void SetMachineValueBytes(const std::wstring& path, const std::wstring& name, DWORD type,
                          const void* data, DWORD bytes);
// Stores text as REG_SZ (or `type`), with a terminating zero unless told.
void SetMachineText(const std::wstring& path, const std::wstring& name, const std::wstring& text,
                    DWORD type = REG_SZ, bool withTerminator = true);
void DeleteMachineValue(const std::wstring& path, const std::wstring& name);
struct RegistryValue {
  bool exists = false;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
  // The data as UTF-16 units, exactly as stored (no terminator added).
  std::wstring Units() const;
};
RegistryValue ReadMachineValue(const std::wstring& path, const std::wstring& name);

inline void SetProductText(const std::wstring& name, const std::wstring& text) {
  SetMachineText(kProductKeyPath, name, text);
}

// --- files ---
// Deletes a folder tree without following links, then creates it anew.
void ResetFolder(const std::wstring& folder);
void DeleteTreeNoFollow(const std::wstring& path);
void CreateFolders(const std::wstring& folder);
void WriteBytes(const std::wstring& path, const std::string& bytes);
// Writes UTF-8 text (no byte-order mark).
void WriteText(const std::wstring& path, const std::wstring& text);
std::string ReadBytes(const std::wstring& path);
std::wstring ReadText(const std::wstring& path);  // UTF-8 or UTF-16LE with BOM
bool PathExists(const std::wstring& path);
bool IsFolder(const std::wstring& path);
std::wstring CurrentFolder();
std::wstring CommonAppData();
// The file attributes of `path`; INVALID_FILE_ATTRIBUTES when it is missing.
DWORD Attributes(const std::wstring& path);
// Every entry below `root`, as relative paths in sorted order: folders end
// with a backslash, folder links with "@" (their content is not listed).
std::vector<std::wstring> TreeListing(const std::wstring& root);
// The names in `folder` in the order the system's enumeration delivers them
// ("." and ".." left out).
std::vector<std::wstring> EnumerationOrder(const std::wstring& folder);
// Opens an existing file for reading and shares only reading, so that
// nobody can overwrite it while the handle is open (even as root under
// Wine, where read-only files are overwritten). Close it with CloseHandle.
HANDLE HoldWithoutWriteSharing(const std::wstring& path);

std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& text);

// --- programs and dialogs ---
struct Dialog {
  std::wstring caption;
  std::wstring text;
  bool hasOwner = false;
  bool hasIcon = false;
  bool operator==(const Dialog& o) const {
    return caption == o.caption && text == o.text && hasOwner == o.hasOwner &&
           hasIcon == o.hasIcon;
  }
};
std::ostream& operator<<(std::ostream& out, const Dialog& dialog);

struct RunResult {
  bool started = false;
  bool timedOut = false;
  DWORD exitCode = 0xFFFFFFFF;
  double seconds = 0;
  std::vector<Dialog> dialogs;
};

// Starts `commandLine` in `currentFolder` (inherited when empty), records
// every message box shown meanwhile and presses its OK button, and waits at
// most `timeoutMs` (the process is killed then).
RunResult RunWatched(const std::wstring& commandLine, const std::wstring& currentFolder,
                     DWORD timeoutMs = 60000);

// The build's output folder as the sandbox maps it (drive Y:).
std::wstring BuildBin();
// Copies the updater into `folder` (created) and returns its path there.
std::wstring InstallUpdater(const std::wstring& folder);
// Runs the updater at `updaterPath` with the arguments `arguments`.
RunResult RunUpdater(const std::wstring& updaterPath, const std::wstring& arguments,
                     DWORD timeoutMs = 60000);
// The same, started in `currentFolder`.
RunResult RunUpdaterIn(const std::wstring& currentFolder, const std::wstring& updaterPath,
                       const std::wstring& arguments, DWORD timeoutMs = 60000);

// --- stand-in programs ---
// The stand-ins append one line per start to the file named by the
// environment variable VSKR_STANDIN_LOG: name|command line|current folder.
struct StandInCall {
  std::wstring program;
  std::wstring commandLine;
  std::wstring currentFolder;
};
std::wstring StandInLogPath();
void ResetStandInLog();
std::vector<StandInCall> ReadStandInLog();
// Installs the generic stand-in under `targetPath` (e.g. the system's tar).
void InstallStandIn(const std::wstring& standInName, const std::wstring& targetPath);
std::wstring SystemToolsFolder();  // the folder a 32-bit program's System32 maps to

}  // namespace testing_support
