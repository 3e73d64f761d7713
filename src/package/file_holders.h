// Which running programs hold a file as their program or as a loaded
// library: for the run log, when a replaced file can't be removed.
#pragma once

#include <string>
#include <vector>

// For each of `paths` (full paths), the running programs that were started
// from it or have it loaded, as `"<program path>" (process <id>)` joined by
// ", "; empty where none is seen. Processes whose modules this 32-bit program
// can't list (64-bit ones, other users' when not permitted) are known by
// their program only. One pass over the process list for all paths.
std::vector<std::wstring> ProgramsHolding(const std::vector<std::wstring>& paths);
