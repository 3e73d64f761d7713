// Test helpers that work on the sandbox prefix's real registry, files,
// processes and dialogs.
#pragma once

#include <windows.h>

#include <shlobj.h>

#include <memory>
#include <string>
#include <thread>
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
  // The data as text: up to its first zero unit.
  std::wstring Text() const;
};
RegistryValue ReadMachineValue(const std::wstring& path, const std::wstring& name);

// Every value of a key as it stands (and whether the key exists), put back
// exactly on Restore() or on destruction: values added since are deleted,
// changed or deleted ones rewritten with their type and bytes, a deleted key
// is created again. Subkeys are not looked at.
class MachineKeySnapshot {
 public:
  // `view`: KEY_WOW64_64KEY, or 0 for the view of this 32-bit program.
  explicit MachineKeySnapshot(std::wstring path, REGSAM view = KEY_WOW64_64KEY);
  ~MachineKeySnapshot();
  MachineKeySnapshot(const MachineKeySnapshot&) = delete;
  MachineKeySnapshot& operator=(const MachineKeySnapshot&) = delete;
  void Restore();
  bool KeyExisted() const { return existed_; }
  size_t SubkeyCount() const { return subkeys_; }

 private:
  struct Value {
    std::wstring name;
    DWORD type;
    std::vector<BYTE> data;
  };
  std::wstring path_;
  REGSAM view_;
  bool existed_ = false;
  size_t subkeys_ = 0;
  std::vector<Value> values_;
};

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
// Writes UTF-16LE text behind a byte-order mark.
void WriteUtf16Text(const std::wstring& path, const std::wstring& text);
std::string ReadBytes(const std::wstring& path);
std::wstring ReadText(const std::wstring& path);  // UTF-8 or UTF-16LE with BOM
bool PathExists(const std::wstring& path);
bool IsFolder(const std::wstring& path);
std::wstring CurrentFolder();
// Creates a symbolic link at `link` to `target` (a file or a folder). This
// Wine's CreateSymbolicLinkW succeeds without creating anything and it has
// no junctions, so the link is a Unix symbolic link, made by the system's
// ln. Wine shows a link to a folder as a reparse point, as Windows does; a
// link to a file looks like an ordinary file.
bool MakeLink(const std::wstring& link, const std::wstring& target);
// A second name for the file `target` (this Wine has no CreateHardLinkW).
bool MakeHardLink(const std::wstring& link, const std::wstring& target);
std::wstring CommonAppData();
// A known folder of the shell (not verified to exist); empty when unknown.
std::wstring KnownFolder(const KNOWNFOLDERID& id);
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

// A file's bytes (or its absence) as they stand, put back on Restore() or
// on destruction.
class FileSnapshot {
 public:
  explicit FileSnapshot(std::wstring path);
  ~FileSnapshot();
  FileSnapshot(const FileSnapshot&) = delete;
  FileSnapshot& operator=(const FileSnapshot&) = delete;
  void Restore();

 private:
  std::wstring path_;
  bool existed_ = false;
  std::string bytes_;
};

// Makes `folder` the current folder until destruction.
class CurrentFolderChange {
 public:
  explicit CurrentFolderChange(const std::wstring& folder);
  ~CurrentFolderChange();
  CurrentFolderChange(const CurrentFolderChange&) = delete;
  CurrentFolderChange& operator=(const CurrentFolderChange&) = delete;

 private:
  std::wstring earlier_;
};

// While it lives, the shell can't report the common application data
// folder (CSIDL_COMMON_APPDATA): the machine's setting for it names a
// folder that does not exist. Active() tells whether the shell now fails.
class CommonAppDataUnavailable {
 public:
  CommonAppDataUnavailable();
  ~CommonAppDataUnavailable();
  CommonAppDataUnavailable(const CommonAppDataUnavailable&) = delete;
  CommonAppDataUnavailable& operator=(const CommonAppDataUnavailable&) = delete;
  bool Active() const;

 private:
  MachineKeySnapshot userShellFolders_;
  MachineKeySnapshot shellFolders_;
};

// Drops this process's cached copy of an initialisation file, so that the
// next profile read sees the file as it is on disk (Wine keeps recently
// used files in memory, and a deleted file may still be served from there).
void ForgetProfileCache(const std::wstring& path);

std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& text);

// --- programs and dialogs ---
struct Dialog {
  std::wstring caption;
  std::wstring text;
  bool hasOwner = false;
  bool hasIcon = false;
  HWND owner = nullptr;  // not compared: a window of the moment
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

// Records every message box that appears anywhere on the desktop while it
// runs and presses its OK button; it looks on a thread of its own, so it
// also answers message boxes of the test program itself. Stop() (or the
// destructor) ends the watch; Stop() returns what was seen, in order.
class DialogWatcher {
 public:
  DialogWatcher();
  ~DialogWatcher();
  DialogWatcher(const DialogWatcher&) = delete;
  DialogWatcher& operator=(const DialogWatcher&) = delete;
  std::vector<Dialog> Stop();

 private:
  struct State;
  std::unique_ptr<State> state_;
  std::thread thread_;
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
std::wstring SystemToolsFolder();
std::wstring WindowsFolder();
// Installs the registration tool's stand-in in both framework folders.
void InstallRegistrationTool();  // the folder a 32-bit program's System32 maps to

// --- links ---
// Folders with links (made by MakeLink), built afresh at each call; they
// return their root. Wine shows a folder link with
// FILE_ATTRIBUTE_REPARSE_POINT, a file link as a plain file, and it deletes
// the target when asked through Win32 to delete either kind; the
// DeleteTreeNoFollow of these helpers removes links themselves.
//   C:\vskr_links: targets\{folder\keep.txt, folder\inner\keep too.txt, file.txt,
//   shared\keep.txt, notes.txt, update}; tree\{folder link, sub\deep link,
//   file link.txt}; top link; Upd Links\{shared, notes link.txt}; to update;
//   to windows; to public desktop.
std::wstring LinkFixtures();
//   C:\vskr_package_links: tree\src and tree\dst with loop1 and loop2 to
//   themselves, tree\src\ext to tree\outside;
//   run\Update\vskr_update\Veskaro\App and run\Install\App with self and up.
std::wstring PackageLinkFixtures();
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
