// The well-known folders of the machine and its users, as the shell and the
// system's own records name them.
#pragma once

#include <windows.h>

#include <shlobj.h>

#include <string>
#include <vector>

// A known folder of the shell for the running user (not verified to
// exist); empty when the shell does not know it.
std::wstring KnownFolderPath(const KNOWNFOLDERID& id);

// The machine's and the running user's well-known folders as the shell and
// the system name them (Windows, the system folders, both Program Files
// folders, ProgramData, the profiles folder, the user's profile with its
// Desktop, Documents, Downloads and the like, the Public folders, the common
// start menu, the temporary folder), and every user profile folder of the
// machine. In comparable form, each also as its links resolve; unresolvable
// ones are left out.
std::vector<std::wstring> WellKnownFolders();

// The user profile folders of every account of the machine, in comparable
// form.
std::vector<std::wstring> UserProfileFolders();
