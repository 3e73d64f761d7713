// Bringing the workstation's settings file and the product key into line
// before an update: folders from the computer's own section, the check of
// the program folder, the root folder entry and the product switch in the
// AutoCAD launch arguments.
#pragma once

#include "settings/update_context.h"
#include "text/tmk_string.h"

// True when "VC_BaseSBCS_RD.dll" is present in `folder`. The path looked up
// is the folder's text followed by "\VC_BaseSBCS_RD.dll" exactly (a folder
// ending in a backslash gives a doubled one); the search is closed before
// the result is returned.
bool IsProgramFolder(tmk_String folder);

// Reconciles the settings file with the registry, verifies the program
// folder and completes the CAD launch arguments, on `context` as
// ReadProductSettings filled it. 0: the update may go on; 1: the program
// folder was not verified (the user has seen a message) and nothing was
// written.
int WriteWorkstationSettings(UpdateContext& context);
