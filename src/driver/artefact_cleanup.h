// Taking the update's files away after the installer could not be started.
#pragma once

#include "text/tmk_string.h"

// Removes, after the installer could not be started, what the update
// brought into `updaterFolder`, and nothing else of it: what the data
// archive "vskr_update.zip" holds (listed by the system's tar, found as the
// unpack finds it; a folder of it only when nothing else is in it), the
// installer `installerPath`, the installer file "qiro_upd240046_Win64.exe"
// (that fixed name), the data archive "VSKR_UPDATE.zip" and the package
// folder "vskr_update" with everything in it. The folder itself and its
// other files stay. Never removed: an installation folder (the product
// key's ROOTPATH, EXECUTABLEPATH, DATA_PATH, WORK_PATH) or a folder above
// one; of what the archive holds, anything inside an installation folder
// that the updater's folder does not lie inside as well; a folder that
// MayRemoveUpdaterFolder refuses; the running updater.
// Each step runs whatever became of the one before; the run log tells what
// went and what stayed.
void RemoveUpdateArtefacts(const tmk_String& updaterFolder, const tmk_String& installerPath);

// Deletes the file or the folder at `path` with everything in it, for good,
// silently. A link (symbolic link or junction), at `path` or anywhere inside,
// is removed itself; what it points to is never touched. Read-only entries
// are deleted too. Entries that can't be deleted are passed over and the
// rest goes on. True when nothing is left at `path`; false when it was
// missing to begin with or something stayed.
bool DeleteTree(const wchar_t* path);
