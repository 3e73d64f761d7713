// Backup copies: a copy of a file under its own full path with ".upd"
// appended, made before the installer runs and copied back after it.
#pragma once

#include "text/tmk_string.h"

// "<file>.upd".
tmk_String BackupPathOf(const tmk_String& file);

// The module configuration file "<dataFolder>\Data\LocalCfg\Modules.ini".
tmk_String ModuleConfigurationPath(const tmk_String& dataFolder);

// Deletes an old backup copy of `file`, then copies `file` to it. A missing
// file thus leaves no backup copy at all, so that an old one can never be
// copied back. Failures are not reported.
void MakeBackupCopy(const tmk_String& file);

// Copies the backup copy back over `file` and deletes it. A backup copy
// whose copy-back failed is kept: it is the only copy of the
// administrator's configuration. Returns whether the copy-back succeeded.
bool RestoreBackupCopy(const tmk_String& file);
