// The map by which package mode refreshes the installation's folders from
// the unpacked package next to the updater: thirteen rows, each a package
// folder and the installation folder it refreshes.
#pragma once

#include <windows.h>

#include <vector>

#include "text/tmk_string.h"

// The package folder, below the package root, that refreshes the product's
// program folder: "\Veskaro\Sys2020" when `executablePath` is longer than six
// characters and its first "2020" (case-sensitive) starts after its first
// character; "\Veskaro\Sys2021" otherwise, an empty path included.
const wchar_t* SystemFolderSource(const tmk_String& executablePath);

// One row of the map, resolved: the package folder and the installation
// folder it refreshes, both absolute.
struct PackageRow {
  int number;  // 1 to 13, in the map's order
  tmk_String source;
  tmk_String destination;
};

// Resolves the thirteen rows under `packageRoot` (the "vskr_update" folder)
// against the program folder `executablePath` and the product key's
// ROOTPATH, WORK_PATH and DATA_PATH, read anew, in the map's order: the
// program folder, App, app_acad_common (also into App, after it), Init,
// Tools, SystemDefault, catalog, library, Config, Default, Template,
// Reports, LocalCfg. A row whose registry value is empty, unreadable or not
// an absolute path can't be resolved: its folder would lie at the root of
// the current drive or under the current folder. Each such row is logged.
// Returns 0 with all thirteen rows in `rows`, or ERROR_BAD_PATHNAME when any
// row can't be resolved (`rows` then holds the others).
[[nodiscard]] DWORD ResolvePackageRows(const tmk_String& executablePath,
                                       const tmk_String& packageRoot,
                                       std::vector<PackageRow>& rows);
