// Taking the update's files away after the installer could not be started.
#pragma once

#include "text/tmk_string.h"

// Deletes, each whatever became of the one before: the installer file
// "qiro_upd240046_Win64.exe" (that fixed name), the data archive
// "VSKR_UPDATE.zip", the package folder "vskr_update", and then the
// updater's folder with everything in it. The last step is left out when the
// folder is not the update's own (MayRemoveUpdaterFolder: a drive root, a
// well-known folder such as the Desktop or Downloads, a relative path).
// Nothing is reported; what can't be deleted (the running updater) stays.
void RemoveUpdateArtefacts(tmk_String updaterFolder);

// Deletes the file or the folder at `path` with everything in it, for good,
// silently. A link (symbolic link or junction), at `path` or anywhere inside,
// is removed itself; what it points to is never touched. Read-only entries
// are deleted too. Entries that can't be deleted are passed over and the
// rest goes on. True when nothing is left at `path`; false when it was
// missing to begin with or something stayed.
bool DeleteTree(const wchar_t* path);
