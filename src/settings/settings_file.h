// The per-machine settings file "qiro.ini" in the common application data
// folder, read and written through the system's profile functions (which
// read ANSI, UTF-8 and UTF-16 files and write a file back in the encoding it
// had; a new file is written in the ANSI code page).
//
// When the shell can't report the common application data folder, the file
// counts as missing: reads give the empty text and writes are dropped, so
// that no stray file is created relative to the current folder.
#pragma once

#include <windows.h>

#include "text/tmk_string.h"

// The section that holds the installation's own keys.
extern const wchar_t kSettingsSection[];

// Units of the buffer every settings value is read into; a longer value is
// cut to one unit less.
constexpr DWORD kSettingsValueUnits = 260;

// Sets `path` to "<common application data>\Quendris\QIRO\Settings\qiro.ini"
// and returns true. Returns false, `path` untouched, when the shell can't
// report the folder.
bool SettingsFilePathOf(tmk_String& path);

// The settings file's path, or the empty text when the folder is unknown.
tmk_String SettingsFileLocation();

// Reads `key` of `section` from the settings file at `file` into `value`
// (the empty text as default, at most kSettingsValueUnits - 1 units) and
// returns the number of units read: 0 when the file, the section or the key
// is missing or the value is empty. An empty `file` (folder unknown) reads
// as a missing file. `value` is replaced in every case.
DWORD ReadSettingsText(const tmk_String& file, const wchar_t* section, const wchar_t* key,
                       tmk_String& value);

// True when `file` exists and is not empty, yet the system reads no section
// [TMK-QIRO] from it (UTF-16 without a byte-order mark reads as nothing).
bool IsUnreadableSettingsFile(const tmk_String& file);

// Writes `text` as `key` of `section`, creating the file, section and key as
// needed (when the folder exists). Does nothing for an empty `file`, and
// writes nothing into an unreadable file (IsUnreadableSettingsFile: the
// system would write it anew without its content; ERROR_INVALID_DATA).
// Returns the system's error of the write (0 when written or nothing to
// do); the run log tells it.
DWORD WriteSettingsText(const tmk_String& file, const wchar_t* section, const wchar_t* key,
                       const tmk_String& text);

// "PHI_ROOTPATH" of section "TMK-QIRO" into `rootPath`; the empty text when
// the file, section or key is missing. Returns 0.
int ReadSettingsRootPath(tmk_String& rootPath);

// "PHI_LANGUAGE" of section "TMK-QIRO" into `language`; the empty text when
// the file, section or key is missing, so that no language is carried into
// the registry then. Returns 0.
int ReadSettingsLanguage(tmk_String& language);
