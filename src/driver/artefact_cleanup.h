// Taking the update's files away after the installer could not be started.
#pragma once

#include "text/tmk_string.h"

// Removes, after the installer could not be started, what the update
// brought into `updaterFolder`, and nothing else of it: what the data
// archive holds (listed by the system's tar, found as the unpack finds it; a
// folder of it only when nothing else is in it), the installer
// `installerPath`, the installer file under its fixed name, the data
// archive and the package folder with what it holds (settings/update_files.h
// names them). The folder itself and its other files stay. Each entry is
// judged by the deletion policy first (driver/cleanup_policy.h: never through
// a link, never a backup slot, the running updater, an installation folder
// or a folder above one, ...). Deleted entries go for good, read-only ones
// too, through handles on the entries themselves. Each step runs whatever
// became of the one before; the run log tells what went and what stayed,
// and why.
void RemoveUpdateArtefacts(const tmk_String& updaterFolder, const tmk_String& installerPath);
