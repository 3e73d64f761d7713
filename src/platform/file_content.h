// The content of files: compared, digested and copied with a check that the
// copy holds exactly what the original does. The run journal keeps the
// configuration's files with these; a copy that is not identical is never
// taken for a copy.
#pragma once

#include <windows.h>

#include <string>

// Compares the contents of two files byte by byte; `same` tells the result.
// Returns 0 or the system's error of opening or reading either.
[[nodiscard]] DWORD CompareFileContents(const std::wstring& a, const std::wstring& b, bool& same);

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
