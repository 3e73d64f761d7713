// The map by which package mode refreshes the installation's folders from
// the unpacked package next to the updater.
#pragma once

#include <windows.h>

#include "settings/update_context.h"
#include "text/tmk_string.h"

// The package folder, below the package root, that refreshes the product's
// program folder: "\Veskaro\Sys2020" when `executablePath` is longer than six
// characters and its first "2020" (case-sensitive) starts after its first
// character; "\Veskaro\Sys2021" otherwise, an empty path included.
const wchar_t* SystemFolderSource(const tmk_String& executablePath);

// Copies each file of the `source` tree over the `destination` tree's file
// of the same relative path when that file exists, counting the files it
// replaced into `replaced` (for the run log). Returns 0 when the walk
// finished, or the error of the copy at which it stopped.
[[nodiscard]] DWORD RefreshFolderTreeCounted(const tmk_String& source,
                                             const tmk_String& destination,
                                             unsigned long& replaced);

// Refreshes the installation's folders from the package next to the
// updater, row by row of the package map; a row whose registry value is
// empty or not an absolute path is skipped. Returns ERROR_FILE_NOT_FOUND when
// there is no package folder, else the first of ERROR_BAD_PATHNAME for a
// skipped row and the error of a copy that stopped a row (0: none).
[[nodiscard]] DWORD InstallPackage(const UpdateContext& context, const tmk_String& updaterFolder);
