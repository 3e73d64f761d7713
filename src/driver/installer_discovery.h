// Finding the update installer next to the updater.
#pragma once

#include "text/tmk_string.h"

// Searches `updaterFolder` for kInstallerPattern ("qiro_upd*_win64.exe",
// settings/update_files.h; letter case as the file system matches it).
// Every match overwrites what the one before set, so the entry the file
// system lists last wins; folders count like files. With no
// match both out-parameters stay as they were: callers judge by the length
// of `installerPath`. An allocation failure while they are set ends the
// search quietly.
void FindInstaller(tmk_String& installerPath, tmk_String& installerFileName,
                   tmk_String updaterFolder);
