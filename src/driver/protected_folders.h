// The folders that the clean-up after a failed installer start must never
// delete as a whole, however the updater got there.
#pragma once

#include <string>
#include <vector>

#include "text/tmk_string.h"

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

// True when `updaterFolder` may be deleted with everything in it: it is an
// absolute path, it is not a drive, share or volume root, it is neither a
// well-known folder nor above one, and it is not a folder directly inside a
// user profile (another user's Desktop or Downloads). Checked for the path
// as given and for the path it leads to through links.
bool MayRemoveUpdaterFolder(const tmk_String& updaterFolder);
