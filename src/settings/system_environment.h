// Machine-wide environment variables, read and written directly in the
// registry key where the system keeps them (64-bit view), not in the
// updater's own process environment.
//
// A variable keeps its registry type across a read and a write: a value made
// of other variables (REG_EXPAND_SZ, e.g. "%ProgramData%\Db") would stop
// being expanded if it were written back as REG_SZ.
#pragma once

#include <windows.h>

#include "text/tmk_string.h"

// "SYSTEM\CurrentControlSet\Control\Session Manager\Environment" under
// HKEY_LOCAL_MACHINE.
extern const wchar_t kSystemEnvironmentKey[];

// The text of variable `name`: the data up to its first zero unit. Empty
// when the key or the variable is missing or the value is larger than 2048
// bytes. When `type` is given it receives REG_EXPAND_SZ for a variable
// stored that way and REG_SZ in every other case (a missing variable
// included), so that writing the pair back gives a new variable REG_SZ.
tmk_String ReadSystemEnvironmentValue(const tmk_String& name, DWORD* type = nullptr);

// Sets variable `name` to `value` with type `type` (REG_EXPAND_SZ is kept,
// any other type is written as REG_SZ), storing twice the text's length in
// bytes, no terminating zero. An empty `value` deletes the variable. A
// missing key is created for a non-empty value. Returns the registry's
// result (the run log tells it), so that a caller knows whether to announce
// a change.
[[nodiscard]] LONG WriteSystemEnvironmentValue(const tmk_String& name, const tmk_String& value,
                                               DWORD type);

// Tells the running programs (the shell above all) that the system
// environment has changed, as the system's own tools do, so that programs
// started from them later see the new values. Waits at most five seconds
// for each window, and not at all for a window that has stopped responding.
void AnnounceEnvironmentChange();
