// Backup copies: a copy of a file under its own full path with ".upd"
// appended, made before the installer runs and copied back after it. A
// backup copy that an earlier run left is never deleted or overwritten.
#pragma once

#include <windows.h>

#include "text/tmk_string.h"

// "<file>.upd".
tmk_String BackupPathOf(const tmk_String& file);

// The module configuration file "<dataFolder>\Data\LocalCfg\Modules.ini".
tmk_String ModuleConfigurationPath(const tmk_String& dataFolder);

// Compares the contents of two files byte by byte; `same` tells the result.
// Returns 0 or the system's error of opening or reading either.
[[nodiscard]] DWORD CompareFileContents(const tmk_String& a, const tmk_String& b, bool& same);

// A digest of the file's content (64-bit FNV-1a, 16 hex digits) into
// `digest`. Returns 0 or the system's error of opening or reading it.
[[nodiscard]] DWORD FileDigest(const tmk_String& file, tmk_String& digest);

// Takes the read-only attribute off `file` when it has it, so that it can be
// replaced or deleted; a failure shows in the step that follows.
void ClearReadOnly(const tmk_String& file);

// Where this run's backup copy of a file came from.
enum class BackupOrigin {
  None,     // the file does not exist: there is nothing to back up
  Made,     // copied by this run
  Adopted,  // left by an earlier run that did not end, which `adoptedFrom` names
};

// Makes the backup copy of `file` for the run of `journalFolder` and records
// it there. An earlier backup copy at that name is kept: one that an
// unfinished run's journal holds with its present content becomes this run's
// own (restored at its end, as that run would have done); any other is set
// aside as "<file>.upd.<run id>" first. A new copy is compared with its
// original and removed again when it is not identical, so that a partial
// copy is never restored. Returns 0 when the file has a complete backup copy
// or does not exist, else the system's error (ERROR_INVALID_DATA for a copy
// that differs, ERROR_DIRECTORY for a folder at the backup's name): the
// installer must not run then. The run log tells what was found and done.
[[nodiscard]] DWORD MakeBackupCopy(const tmk_String& file, const tmk_String& journalFolder,
                                   BackupOrigin& origin, tmk_String& adoptedFrom);

// Copies the backup copy back over `file` and deletes it (read-only
// attributes taken off first). A backup copy whose copy-back failed is kept:
// it is the only copy of the administrator's configuration. Returns the
// error of the copy-back (ERROR_FILE_NOT_FOUND when there was no backup
// copy); the run log tells it.
DWORD RestoreBackupCopy(const tmk_String& file);
