// The two run modes and the fixed sequence of each.
#pragma once

#include <windows.h>

#include "text/tmk_string.h"

// The command line switch that selects package mode.
extern const wchar_t kPackageModeSwitch[];

// Package mode when the switch occurs anywhere in the command line, compared
// case-sensitively as a plain substring.
bool IsPackageMode(const tmk_String& commandLine);

// One whole run for `commandLine` (the arguments only, without the program's
// own name). Owns everything of the run; returns when it is over, with the
// run's exit code: 0, the installer's own exit code, or the system error
// code that says what went wrong (README: exit codes).
DWORD RunUpdater(const wchar_t* commandLine);
