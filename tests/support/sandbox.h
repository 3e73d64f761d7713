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

// --- links ---
// This Wine can't make links from inside: CreateSymbolicLinkW is a stub
// that reports success, and FSCTL_SET_REPARSE_POINT is not supported. The
// test script therefore prepares real (host) symbolic links under
// LinkFixtures() before the tests run; see sandbox_link_fixtures in
// scripts/sandbox.sh for the layout. Wine shows a folder link with
// FILE_ATTRIBUTE_REPARSE_POINT, a file link as a plain file, and it deletes
// the target when asked to delete either kind: never clean these folders
// with DeleteTreeNoFollow.
std::wstring LinkFixtures();  // C:\vskr_links
// True when the entry at `path` itself carries FILE_ATTRIBUTE_REPARSE_POINT.
bool IsLink(const std::wstring& path);

// --- environment and processes ---
// Sets an environment variable of this process (inherited by what it
// starts) and puts the old state back when it goes out of scope.
class ScopedVariable {
 public:
  ScopedVariable(const std::wstring& name, const std::wstring& value);
  ~ScopedVariable();
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  std::wstring name_;
  std::wstring old_;
  bool existed_ = false;
};

// A program started by the test; ended by force when the object goes.
class RunningProgram {
 public:
  explicit RunningProgram(const std::wstring& commandLine);
  ~RunningProgram();
  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;
  bool Started() const { return process_ != nullptr; }
  bool HasEnded() const;
  HANDLE Process() const { return process_; }

 private:
  HANDLE process_ = nullptr;
};

// Waits until no process of this exact image name runs (at most `timeoutMs`).
bool WaitUntilNoProcessNamed(const std::wstring& imageName, DWORD timeoutMs);

}  // namespace testing_support
