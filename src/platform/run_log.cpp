#include "platform/run_log.h"

#include <cwchar>
#include <string>

#include "platform/admin_folder.h"
#include "platform/path_identity.h"
#include "platform/system_text.h"

namespace {

RunLog* g_installedLog = nullptr;

bool IsLinkOrMissing(const tmk_String& path, bool& missing) {
  DWORD attributes = GetFileAttributesW(path.Text());
  missing = attributes == INVALID_FILE_ATTRIBUTES;
  return !missing && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Creates `folder` and the folders above it that are missing, refusing any
// that is a link. Returns false when the folder can't be used. The log's own
// folder (`administratorsOnly`) is for administrators and the system alone,
// whether it is made now or was there: one that can't be given that access
// gets no log. That access is not read back, as some systems keep no
// descriptor and would report another one.
bool PrepareFolder(const tmk_String& folder, bool administratorsOnly) {
  bool missing = false;
  if (IsLinkOrMissing(folder, missing)) return false;
  if (!missing && !administratorsOnly) return true;
  if (missing) {
    const wchar_t* last = std::wcsrchr(folder.Text(), L'\\');
    if (!last || last == folder.Text()) return false;
    tmk_String parent = Left(folder, static_cast<int>(last - folder.Text()));
    if (std::wcslen(parent.Text()) > 3 && !PrepareFolder(parent, false)) return false;
  }
  if (administratorsOnly) {
    if (PrepareAdministratorsOnlyFolder(folder.Text()) != ERROR_SUCCESS) return false;
  } else if (!CreateDirectoryW(folder.Text(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    return false;
  }
  return !IsLinkOrMissing(folder, missing) && !missing;
}

// True when the file behind `file` is the one at `path`: no link in the file
// name or in any folder above it led elsewhere. (Some systems show a link to
// a file as an ordinary file; the final path still tells.)
bool IsFinalPath(HANDLE file, const tmk_String& path) {
  std::wstring opened = FinalPathOfHandle(file);
  std::wstring full = vskr::GrowingText([&path](wchar_t* buffer, DWORD units) {
    return GetFullPathNameW(path.Text(), units, buffer, nullptr);
  });
  return !opened.empty() && !full.empty() && SamePath(opened, full);
}

// Opens the file itself, never what a link points to, and refuses links
// and files with further hard links. Other writers are let in: a second run
// that is refused logs its refusal while the first still writes, and every
// line is appended at the end whoever wrote last.
vskr::UniqueFileHandle OpenWithoutFollowing(const tmk_String& path) {
  const DWORD access = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
  const DWORD sharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
  const DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
  vskr::UniqueFileHandle file(
      CreateFileW(path.Text(), access, sharing, nullptr, OPEN_EXISTING, flags, nullptr));
  if (!file && GetLastError() == ERROR_FILE_NOT_FOUND) {
    // CREATE_NEW fails on a name that exists in any form, a dangling link
    // included, so no file is ever created where a link points.
    file.Reset(
        CreateFileW(path.Text(), access, sharing, nullptr, CREATE_NEW, flags, nullptr));
  }
  if (!file) return file;
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file.Get(), &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) ||
      info.nNumberOfLinks > 1 || !IsFinalPath(file.Get(), path)) {
    file.Reset();
  }
  return file;
}

uint64_t FileSize(HANDLE file) {
  LARGE_INTEGER size{};
  return GetFileSizeEx(file, &size) ? static_cast<uint64_t>(size.QuadPart) : 0;
}

std::string ToUtf8(const wchar_t* text) {
  int length = static_cast<int>(std::wcslen(text));
  if (length == 0) return std::string();
  int bytes = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, length, &out[0], bytes, nullptr, nullptr);
  return out;
}

}  // namespace

tmk_String DefaultLogFolder() {
  return tmk_String(vskr::ProductDataFolder(L"Logs").c_str());
}

RunLog::RunLog(const tmk_String& logFolder) {
  if (logFolder.IsEmpty() || !PrepareFolder(logFolder, true)) return;
  tmk_String path = Concatenate(logFolder, L"\\vskr_updater.log");
  file_ = OpenWithoutFollowing(path);
  if (!file_) return;
  if (FileSize(file_.Get()) > kLogRotateBytes) {
    file_.Reset();
    tmk_String old = Concatenate(logFolder, L"\\vskr_updater.old.log");
    // Replacing a planted link replaces the link itself, not its target. A
    // rotation that fails (another run has the log open) leaves the log
    // growing for this run; it is rotated by a later one.
    DWORD moveError = MoveFileExW(path.Text(), old.Text(), MOVEFILE_REPLACE_EXISTING)
                          ? ERROR_SUCCESS
                          : GetLastError();
    file_ = OpenWithoutFollowing(path);
    if (moveError != ERROR_SUCCESS) {
      tmk_String line;
      line.Format(L"the log could not become \"%s\" (error %lu): it goes on growing", old.Text(),
                  moveError);
      Write(line.Text());
    }
  }
}

void RunLog::Write(const wchar_t* text) {
  if (!file_) return;
  std::string bytes = ToUtf8(text);
  bytes += "\r\n";
  DWORD written = 0;
  // Not examined: a log that can't be written is passed over.
  (void)WriteFile(file_.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

ScopedRunLog::ScopedRunLog(RunLog& log) { g_installedLog = &log; }
ScopedRunLog::~ScopedRunLog() { g_installedLog = nullptr; }

void LogLine(const wchar_t* format, ...) {
  if (!g_installedLog || !g_installedLog->IsOpen()) return;
  tmk_String line;
  va_list args;
  va_start(args, format);
  line.FormatV(format, args);
  va_end(args);
  g_installedLog->Write(line.Text());
}

namespace {

std::wstring SystemMessage(DWORD error) {
  wchar_t* message = nullptr;
  DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
  std::wstring text = length && message ? std::wstring(message, length) : std::wstring();
  if (message) LocalFree(message);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' '))
    text.pop_back();
  return text.empty() ? L"no system message" : text;
}

}  // namespace

void LogFailureOf(DWORD error, const wchar_t* format, ...) {
  if (!g_installedLog || !g_installedLog->IsOpen()) return;
  tmk_String what;
  va_list args;
  va_start(args, format);
  what.FormatV(format, args);
  va_end(args);
  LogLine(L"%s: error %lu (%s)", what.Text(), error, SystemMessage(error).c_str());
}

void LogFailure(const wchar_t* operation, const wchar_t* subject, DWORD error) {
  LogFailureOf(error, L"%s failed for \"%s\"", operation, subject ? subject : L"");
}

void LogRunEnd(double seconds, DWORD exitCode) {
  LogLine(L"==== the run took %.1f s, exit code %lu (%s) ====", seconds, exitCode,
          exitCode == ERROR_SUCCESS ? L"success" : SystemMessage(exitCode).c_str());
}

bool IsMissingError(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

void LogFailureUnlessMissing(const wchar_t* operation, const wchar_t* subject, DWORD error) {
  if (!IsMissingError(error)) LogFailure(operation, subject, error);
}
