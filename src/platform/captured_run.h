// Running a tool hidden and taking in what it writes to its standard output
// (the listing of an archive, for instance).
#pragma once

#include <windows.h>

#include <string>

#include "text/tmk_string.h"

// The most output taken in; the rest is read and dropped.
constexpr size_t kCapturedOutputLimit = 16 * 1024 * 1024;

// Starts `commandLine` hidden, found as LaunchChild finds it (an unqualified
// program is never taken from the updater's own folder), in the current
// folder, with its standard output going into `output` (at most
// kCapturedOutputLimit bytes) and no standard input or error. Waits for it
// without a time-out. Returns the error of the start (0 when it started);
// `exitCode` receives the tool's exit code. The run log tells both.
[[nodiscard]] DWORD RunAndCaptureOutput(const tmk_String& commandLine, std::string& output,
                                        DWORD& exitCode);
