// What is prepared and saved before the installer runs.
#pragma once

#include <windows.h>

#include "journal/run_journal.h"
#include "settings/update_context.h"

// Loads the installation's settings into `context`, writes the workstation
// settings, stops the index service when the index engine is installed (not
// waited for), and has `journal` make a complete backup copy of each
// configuration file with the settings file's language to write back after
// the installer. Returns 0 when the installer may run, else the code the run
// ends with: ERROR_PATH_NOT_FOUND when the program folder could not be
// verified (the user has seen a message; nothing was written), or the error
// of a backup copy, with `configurationNotSaved` set (the user is still to
// be told). Either way what the run wrote has been put back from the
// journal; what could not be is logged and left to the next run.
[[nodiscard]] DWORD PrepareUpdate(UpdateContext& context, RunJournal& journal,
                                  bool& configurationNotSaved);
