// The registration of the Visio event component for COM after an update.
#pragma once

#include <windows.h>

#include "text/tmk_string.h"

// Runs the .NET Framework 4 registration tool on
// "<root>\VisioEventProcessor.dll" with "/codebase" from the framework
// folder of the Windows installation's bitness, and waits for it. The root
// is the settings file's PHI_ROOTPATH as the installer left it, read before
// the configuration is restored: the tool runs last, so that a tool that
// hangs can't keep the configuration from being put back.
// When the tool can't be started the user is told ("Unable to register
// VisioEventProcessor.dll"). The current folder is the same afterwards.
// Returns the system's error of the tool's start (0 when it started).
DWORD RegisterVisioEventProcessor(const tmk_String& root);
