// The extended ("\\?\") form of a path, in which the system takes the path
// as it is, without the length limit of MAX_PATH: for the file operations
// whose temporary names may carry a path past that limit. Log lines keep
// the plain path.
#pragma once

#include <string>

// The extended form of the absolute path `path`:
//   "C:\a\b"             -> "\\?\C:\a\b"
//   "\\server\share\a"   -> "\\?\UNC\server\share\a"
//   "\\?\..." "\\.\..."  -> unchanged (already taken as it is)
// Forward slashes become backslashes, and the "." and ".." parts and doubled
// separators are resolved first (the extended form turns off that
// processing; ".." never climbs above the drive or the share). A path that
// is not absolute (relative, "C:x", "\x", empty) is returned unchanged: the
// extended form has no current folder to resolve it against.
std::wstring ExtendedPath(const std::wstring& path);
