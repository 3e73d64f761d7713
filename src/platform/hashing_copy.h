// A file copy that reads each byte once and can take the SHA-256 of exactly
// the bytes it writes: a digest taken of the source before or after the
// copy would miss a source changed in between.
#pragma once

#include <windows.h>

#include <string>

#include "platform/sha256.h"

// Copies `source` to `target`, which must not exist (a file that is there
// is never replaced: ERROR_FILE_EXISTS). The copy gets the source's last
// write time and its attributes except read-only (a copy is made to be
// written). The source is opened for reading with read sharing only, so
// nobody writes it while it is copied. When `digest` is not null it
// receives the SHA-256 of the bytes written. Returns 0 or the system's
// error of the first step that failed (opening either file, reading,
// writing, e.g. ERROR_DISK_FULL, the time stamp, the digest); a copy that
// failed is removed again.
[[nodiscard]] DWORD CopyNewFile(const std::wstring& source, const std::wstring& target,
                                  Sha256Digest* digest);
