// Folders for administrators and the system alone. The run log holds command
// lines (which carry the installer's licence keys and passwords) and the
// configuration's values; under the common application data folder every
// user could otherwise read them.
#pragma once

#include <windows.h>

#include <string>

#include "platform/unique_handle.h"

// The security descriptor of such a folder,
// "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)": owned by the Administrators
// group, with a protected DACL (nothing is inherited from the folders above)
// that grants full access to the system and to the Administrators, inherited
// by every file and folder inside, and to nobody else. Returns 0 or the
// system's error.
[[nodiscard]] DWORD BuildAdministratorsOnlyDescriptor(vskr::UniqueLocalMemory& descriptor);

// Creates `folder` (its parent must exist) with that descriptor, or gives an
// existing folder its owner and DACL; the files and folders inside then
// inherit that access. An existing folder reached through a link is refused
// (ERROR_CANT_ACCESS_FILE), so that no other folder's access changes.
// Returns 0 or the system's error. Whether the file system keeps the
// descriptor is not read back: some keep none and report another one.
[[nodiscard]] DWORD PrepareAdministratorsOnlyFolder(const std::wstring& folder);
