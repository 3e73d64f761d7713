// The messages a run shows the person at the workstation about its outcome.
#pragma once

#include <windows.h>

// Tells the person at the workstation (where someone can see it) that the
// update was not started because the configuration could not be saved, and
// logs the error.
void ReportConfigurationNotSaved(DWORD error);
