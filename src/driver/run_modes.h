// The two run modes and the fixed sequence of each.
#pragma once

#include "text/tmk_string.h"

// The command line switch that selects package mode.
extern const wchar_t kPackageModeSwitch[];

// Package mode when the switch occurs anywhere in the command line, compared
// case-sensitively as a plain substring.
bool IsPackageMode(const tmk_String& commandLine);

// One whole run for `commandLine` (the arguments only, without the program's
// own name). Owns everything of the run; returns when it is over.
void RunUpdater(const wchar_t* commandLine);
