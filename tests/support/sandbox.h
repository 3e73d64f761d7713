// Test helpers that work on the sandbox prefix's real registry, files,
// programs and dialogs. Paths are Windows paths of the sandbox (drive C:,
// and the build's bin folder as drive Y:).
#pragma once

#include <windows.h>

#include <ostream>
#include <string>
#include <vector>

#include "dialog_watch.h"

namespace dialog_watch {
std::ostream& operator<<(std::ostream& out, const Dialog& dialog);  // for the tests' messages
}  // namespace dialog_watch

namespace testing_support {

// Aborts the test program unless it runs in the test script's Wine prefix
// (its marker value exists and no drive reaches the Linux root).
void RequireSandbox();

std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& text);

// --- registry: HKEY_LOCAL_MACHINE, 64-bit view ---
extern const wchar_t kProductKeyPath[];
extern const wchar_t kEnvironmentKeyPath[];

// Deletes the key with its subkeys.
void DeleteMachineKey(const std::wstring& path);
void DeleteMachineValue(const std::wstring& path, const std::wstring& name);
// Stores `text` as a value of type `type` (the key is created), with a
// terminating zero unless told otherwise; inner zeros are stored as given.
void SetMachineText(const std::wstring& path, const std::wstring& name, const std::wstring& text,
                    DWORD type = REG_SZ, bool withTerminator = true);
inline void SetProductText(const std::wstring& name, const std::wstring& text) {
  SetMachineText(kProductKeyPath, name, text);
}
struct RegistryValue {
  bool exists = false;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
  // The data as UTF-16 units, exactly as stored (no terminator added).
  std::wstring Units() const;
  // The data as text: up to its first zero unit.
  std::wstring Text() const;
};
RegistryValue ReadMachineValue(const std::wstring& path, const std::wstring& name);

// --- files ---
// Deletes a file or folder tree without following links (a link is removed
// itself; Win32 calls of this Wine would reach through it).
void DeleteTreeNoFollow(const std::wstring& path);
// DeleteTreeNoFollow, then the folder is created anew.
void ResetFolder(const std::wstring& folder);
void CreateFolders(const std::wstring& folder);
// Writes the file (its folders are created; a read-only or hidden file of
// that name is replaced).
void WriteBytes(const std::wstring& path, const std::string& bytes);
// Writes UTF-8 text (no byte-order mark).
void WriteText(const std::wstring& path, const std::wstring& text);
// Writes UTF-16LE text behind a byte-order mark.
void WriteUtf16Text(const std::wstring& path, const std::wstring& text);
std::string ReadBytes(const std::wstring& path);
std::wstring ReadText(const std::wstring& path);  // UTF-8, or UTF-16LE with its mark
bool PathExists(const std::wstring& path);
// "C:\ProgramData" as the shell reports it.
std::wstring CommonAppData();
// Creates a symbolic link (or with `hard` a hard link) at `link` to
// `target`, made with the system's ln: this Wine's CreateSymbolicLinkW
// creates nothing. Wine shows a link to a folder as a reparse point, as
// Windows does; a link to a file looks like an ordinary file.
bool MakeLink(const std::wstring& link, const std::wstring& target, bool hard = false);
// Runs `command` of the Linux shell (sh -c) with the Linux forms of
// `paths` (on drive C:) as $1, $2, ... and waits until it is done (30 s at
// most). True when it ended.
bool RunUnixTool(const std::wstring& command, std::vector<std::wstring> paths);
// Opens an existing file for reading and shares only reading, so that
// nobody can overwrite it while the handle is open (this fails on Windows
// and under Wine alike). Close it with CloseHandle.
HANDLE HoldWithoutWriteSharing(const std::wstring& path);

// --- programs and dialogs (tools/dialog_watch.h) ---
using dialog_watch::Dialog;
using dialog_watch::RunResult;

// The build's output folder as the sandbox maps it (drive Y:).
std::wstring BuildBin();
// Copies the updater into `folder` (created) and returns its path there.
std::wstring InstallUpdater(const std::wstring& folder);
// Runs the updater at `updaterPath` with `arguments`, in the test's current
// folder or in `currentFolder`, answering its message boxes.
RunResult RunUpdater(const std::wstring& updaterPath, const std::wstring& arguments,
                     DWORD timeoutMs = 60000);
RunResult RunUpdaterIn(const std::wstring& currentFolder, const std::wstring& updaterPath,
                       const std::wstring& arguments, DWORD timeoutMs = 60000);

// --- stand-in programs (tests/standins) ---
// Each start of a stand-in appends "name|command line|current folder" to
// the file that VSKR_STANDIN_LOG names; ResetStandInLog empties it and sets
// the variable for the programs this process starts.
struct StandInCall {
  std::wstring program;
  std::wstring commandLine;
  std::wstring currentFolder;
};
void ResetStandInLog();
std::vector<StandInCall> ReadStandInLog();
// Installs the stand-in `standInName` (a file of BuildBin()) as `targetPath`.
void InstallStandIn(const std::wstring& standInName, const std::wstring& targetPath);
// The folder of the system's tools for this 32-bit program (syswow64).
std::wstring SystemToolsFolder();
std::wstring WindowsFolder();
// Installs the registration tool's stand-in in both framework folders.
void InstallRegistrationTool();

// Sets an environment variable of this process (inherited by what it
// starts) and puts the old state back when it goes out of scope.
class ScopedVariable {
 public:
  ScopedVariable(const std::wstring& name, const std::wstring& value);
  ~ScopedVariable();

 private:
  std::wstring name_;
  std::wstring old_;
  bool existed_ = false;
};

}  // namespace testing_support
