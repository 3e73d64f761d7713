// Backup copies: a copy of a file under its own full path with ".upd"
// appended, made before the installer runs and copied back after it.
#pragma once

#include <windows.h>

#include "text/tmk_string.h"

// "<file>.upd".
tmk_String BackupPathOf(const tmk_String& file);

// The module configuration file "<dataFolder>\Data\LocalCfg\Modules.ini".
tmk_String ModuleConfigurationPath(const tmk_String& dataFolder);

// Deletes an old backup copy of `file`, then copies `file` to it. A missing
// file thus leaves no backup copy at all, so that an old one can never be
// copied back. Returns the error of the copy (ERROR_FILE_NOT_FOUND or
// ERROR_PATH_NOT_FOUND when `file` does not exist); the run log tells it.
DWORD MakeBackupCopy(const tmk_String& file);

// Copies the backup copy back over `file` and deletes it. A backup copy
// whose copy-back failed is kept: it is the only copy of the
// administrator's configuration. Returns the error of the copy-back
// (ERROR_FILE_NOT_FOUND when there was no backup copy); the run log tells it.
DWORD RestoreBackupCopy(const tmk_String& file);
