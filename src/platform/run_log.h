// The run log for administrators: every run appends one block to
// "vskr_updater.log" in the folder "Quendris\QIRO\Logs" under the common
// application data folder, telling each step with the values of the run.
//
// The log changes nothing else. No behaviour depends on it, and a log that
// can't be written is passed over silently. It is safe for an elevated
// program: it never writes through a link (the file or any of its folders
// being a junction, symbolic link or hard link planted by someone without
// rights), and it is bounded: past kLogRotateBytes the old log becomes
// "vskr_updater.old.log" (one generation kept).
#pragma once

#include <windows.h>

#include <cstdarg>
#include <cstdint>

#include "platform/unique_handle.h"
#include "text/tmk_string.h"

class RunLog {
 public:
  static constexpr uint64_t kLogRotateBytes = 1024 * 1024;

  // Opens the log file in `logFolder` (created when missing). With an
  // empty folder the log stays closed.
  explicit RunLog(const tmk_String& logFolder);
  RunLog(const RunLog&) = delete;
  RunLog& operator=(const RunLog&) = delete;

  bool IsOpen() const { return file_.IsValid(); }
  // Appends one line (CRLF added), UTF-8. Failures are passed over.
  void Write(const wchar_t* text);

 private:
  vskr::UniqueFileHandle file_;
};

// The folder of the log: "<common application data>\Quendris\QIRO\Logs";
// empty when the shell can't report the common application data folder.
tmk_String DefaultLogFolder();

// Makes `log` the log that LogLine writes to while this object lives. The
// entry point owns both; with no log installed LogLine does nothing.
class ScopedRunLog {
 public:
  explicit ScopedRunLog(RunLog& log);
  ~ScopedRunLog();
  ScopedRunLog(const ScopedRunLog&) = delete;
  ScopedRunLog& operator=(const ScopedRunLog&) = delete;
};

// Appends one formatted line to the installed log (printf-style, %s takes
// wide text).
void LogLine(const wchar_t* format, ...);
// Appends "<operation> failed for "<subject>": error <code> (<system
// message>)".
void LogFailure(const wchar_t* operation, const wchar_t* subject, DWORD error);
// The same for a failure with several inputs: the formatted text (the
// operation and every input) followed by ": error <code> (<system message>)".
void LogFailureOf(DWORD error, const wchar_t* format, ...);
// LogFailure, except for the codes that say the subject is not there
// (ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND): for what may be absent.
void LogFailureUnlessMissing(const wchar_t* operation, const wchar_t* subject, DWORD error);
// Appends the last line of a run's block: "==== the run took <seconds> s,
// exit code <code> (<its meaning>) ====", the meaning being "success" for 0
// and the system's message for any other code.
void LogRunEnd(double seconds, DWORD exitCode);
// True for the codes that say a file, folder, key or value is not there.
bool IsMissingError(DWORD error);
