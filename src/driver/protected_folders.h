// The folders that the clean-up after a failed installer start must never
// delete as a whole (the package folder, the archive's folders), however
// the updater got there.
#pragma once

#include <string>
#include <vector>

#include "text/tmk_string.h"

// True when `folder` may be deleted with everything in it: it is an
// absolute path, it is not a drive, share or volume root, it is neither a
// well-known folder nor above one, and it is not a folder directly inside a
// user profile (another user's Desktop or Downloads). Checked for the path
// as given and for the path it leads to through links.
bool MayRemoveFolderWhole(const tmk_String& folder);
