// Text that the system hands out through "fill this buffer" calls, read in
// full whatever its length, and the folders every step asks for. Nothing
// here writes to the run log (the log asks for these folders itself): a
// failure shows as an empty text, for the caller to tell.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace vskr {

// Calls `fill(buffer, units)` with a buffer that grows until the text fits.
// `fill` answers as the system's calls do: the length written (without the
// terminator) when it fitted, the size needed or the size given when it did
// not, 0 on failure. Empty when the call fails; the error is then the
// thread's last error.
template <typename Fill>
std::wstring GrowingText(Fill fill) {
  std::vector<wchar_t> buffer(MAX_PATH + 1, 0);
  for (int attempt = 0; attempt < 8; ++attempt) {
    DWORD units = static_cast<DWORD>(buffer.size());
    DWORD length = fill(buffer.data(), units);
    if (length == 0) return std::wstring();
    if (length < units) return std::wstring(buffer.data(), length);
    // Too small: some calls tell the size they need, others only fill what
    // they were given (GetModuleFileNameW).
    size_t next = length > units ? static_cast<size_t>(length) + 1 : buffer.size() * 2;
    buffer.assign(next, 0);
  }
  SetLastError(ERROR_INSUFFICIENT_BUFFER);
  return std::wstring();
}

// The full path of the running program; empty when the system can't tell.
std::wstring OwnModulePath();

// The process's current folder; empty when the system can't tell.
std::wstring CurrentFolder();

// `text` with its %variables% expanded; empty on failure.
std::wstring ExpandedText(const wchar_t* text);

// The system folder and the Windows folder; empty when unknown.
std::wstring SystemFolder();
std::wstring WindowsFolder();

// The local time now, "YYYY-MM-DD HH:MM:SS", or with `compact`
// "YYYYMMDD-HHMMSS" (for names).
std::wstring LocalTimeText(bool compact = false);

// The common application data folder ("C:\ProgramData") as the shell
// reports its current path, without a user token; empty when the shell
// can't report it. The settings file and the run log live below it.
std::wstring CommonDataFolder();

// The product's folder `name` below the common application data folder:
// "<common>\Quendris\QIRO\<name>" (the settings, the run log, the run
// journal); empty when the common folder is unknown.
std::wstring ProductDataFolder(const wchar_t* name);

}  // namespace vskr
