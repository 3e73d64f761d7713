#include "platform/message_box.h"

#include "platform/run_log.h"

bool IsInteractiveStation() {
  HWINSTA station = GetProcessWindowStation();  // not to be closed
  USEROBJECTFLAGS flags{};
  if (!station ||
      !GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr)) {
    LogFailure(L"reading the flags of the window station", L"", GetLastError());
    return false;
  }
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}

void ShowMessage(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) {
  if (!IsInteractiveStation()) {
    LogLine(L"dialog not shown (no one can see this window station): \"%s\"", text);
    return;
  }
  LogLine(L"dialog shown: \"%s\"", text);
  if (MessageBoxW(owner, text, caption, type) == 0)
    LogFailure(L"showing a dialog", text, GetLastError());
}
