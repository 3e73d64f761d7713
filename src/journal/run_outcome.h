// The code a run ends with, from the codes of its steps in their order.
#pragma once

#include <windows.h>

// True for the codes deployment tools count as success: 0, 3010
// (ERROR_SUCCESS_REBOOT_REQUIRED) and 1641 (ERROR_SUCCESS_REBOOT_INITIATED).
bool IsSuccessCode(DWORD code);

// The outcome of an earlier step and a later one: a failure wins over a
// success code (a failed put-back over the installer's 3010), the earlier of
// two failures stays, and of two success codes the one asking for a restart.
DWORD CombinedOutcome(DWORD earlier, DWORD later);
