// The content of files: looked for, digested and copied with a check that
// the copy holds exactly what the original does. The run journal keeps the
// configuration's files with these; a copy that is not identical is never
// taken for a copy. Each works on the extended form of its paths
// (platform/long_path.h), so a path past MAX_PATH works too.
#pragma once

#include <windows.h>

#include <string>

// Sets `there` when something (a file or a folder) is at `path`. Returns 0,
// also when nothing is there, or the system's error of any other answer (an
// offline share, access denied): then whether something is there is not
// known.
[[nodiscard]] DWORD LookForPath(const std::wstring& path, bool& there);

// A digest of the file's content (64-bit FNV-1a, 16 hex digits) into
// `digest`. Returns 0 or the system's error of opening or reading it.
[[nodiscard]] DWORD FileDigest(const std::wstring& file, std::wstring& digest);

// Takes the read-only attribute off `file` when it has it, so that it can be
// replaced or deleted; a failure is logged and shows in the step that
// follows.
void ClearReadOnly(const std::wstring& file);

// Copies `source` to `target` and checks that the copy's digest is
// `digest` (empty: the source's own digest, read first). With `replace`
// an existing target is replaced (its read-only attribute taken off first);
// without it an existing target fails the copy (ERROR_FILE_EXISTS). A copy
// that is not identical is removed again unless an existing file was
// replaced. Returns 0, the system's error of the copy, or ERROR_INVALID_DATA
// for a copy that differs; logs nothing (the caller knows what the copy is
// for).
[[nodiscard]] DWORD CopyVerified(const std::wstring& source, const std::wstring& target,
                                 const std::wstring& digest, bool replace);

// Creates the folders of `path` (everything before its last backslash) that
// are missing. Returns 0 or the system's error.
[[nodiscard]] DWORD CreateFoldersOf(const std::wstring& path);
