// Bringing the workstation's settings file and the product key into line
// before an update: folders from the computer's own section, the check of
// the program folder, the root folder entry and the product switch in the
// AutoCAD launch arguments. UpdateContext::WriteWorkstationSettings is the
// operation; these are its parts that stand on their own.
#pragma once

#include "settings/update_context.h"
#include "text/tmk_string.h"

// True when "VC_BaseSBCS_RD.dll" is present in `folder`. The path looked up
// is the folder's text followed by "\VC_BaseSBCS_RD.dll" exactly (a folder
// ending in a backslash gives a doubled one); the search is closed before
// the result is returned.
bool IsProgramFolder(tmk_String folder);

// A test of the program folder, asked on the context's ExecutablePath.
using ProgramFolderTest = bool (*)(tmk_String folder);

// The work of UpdateContext::WriteWorkstationSettings with `isProgramFolder`
// in place of IsProgramFolder (which is what the operation itself uses).
// Returns 0 when the update may go on, 1 when the program folder was not
// verified: the user has then been told, and nothing has been written.
int WriteWorkstationSettingsWith(UpdateContext& context, ProgramFolderTest isProgramFolder);
