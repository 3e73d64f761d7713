#include "journal/run_outcome.h"

bool IsSuccessCode(DWORD code) {
  return code == ERROR_SUCCESS || code == ERROR_SUCCESS_REBOOT_REQUIRED ||
         code == ERROR_SUCCESS_REBOOT_INITIATED;
}

DWORD CombinedOutcome(DWORD earlier, DWORD later) {
  if (!IsSuccessCode(earlier)) return earlier;
  if (!IsSuccessCode(later)) return later;
  return earlier == ERROR_SUCCESS ? later : earlier;
}
