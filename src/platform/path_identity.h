// Comparing folder paths the way the file system tells them apart.
#pragma once

#include <windows.h>

#include <string>

// True for "X:\...", "\\server\share..." and the "\\?\" forms; false for
// empty, relative, drive-relative ("C:", "C:folder") and root-relative
// ("\folder") paths.
bool IsAbsolutePath(const std::wstring& path);

// The form of an absolute path in which two names of the same place are
// equal up to letter case: the full path with "." and ".." resolved and
// short names made long, without a "\\?\" prefix ("\\?\UNC\" becomes "\\")
// and without a trailing backslash (so a drive root reads "C:"). Empty for a
// path that is not absolute.
std::wstring ComparablePath(const std::wstring& path);

// The full path of what an open handle refers to, links resolved as far as
// the handle was opened through them, without the "\\?\" prefix and
// without a trailing backslash; empty when the system can't tell.
std::wstring FinalPathOfHandle(HANDLE handle);

// The path that `path` finally leads to once links and substituted drives
// on its way are followed, in comparable form; empty when it can't be
// opened.
std::wstring FinalComparablePath(const std::wstring& path);

// Ordinal comparison without regard to letter case, as file names compare.
bool SamePath(const std::wstring& a, const std::wstring& b);

// True when `folder` is `path` itself or one of the folders above it; both
// in comparable form.
bool IsSameOrAbove(const std::wstring& folder, const std::wstring& path);

// True for a drive root ("C:"), a share root ("\\server\share") or a server
// ("\\server"), in comparable form, and for the root of any mounted volume.
bool IsRootFolder(const std::wstring& comparablePath);

// True when two comparable folder paths name the same folder: equal up to
// letter case, or both open to the same folder of the same volume (reached
// through a link, a substituted drive or another name of a share).
bool IsSamePlace(const std::wstring& a, const std::wstring& b);

// The folder of the file at `filePath`, in comparable form: "E:" for
// "E:\x.exe", "\\server\share" for "\\server\share\x.exe". Empty when
// `filePath` is not absolute.
std::wstring ComparableFolderOf(const std::wstring& filePath);

// The folder of the running program, in comparable form; empty when the
// system can't tell.
std::wstring OwnProgramFolder();
