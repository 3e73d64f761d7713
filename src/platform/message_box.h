// Messages for the person at the workstation. Deployment tools run the
// updater as a service or as the system account in session 0, on a window
// station that nobody sees, where a message box would wait for ever: there
// no box is shown. The run log has the text either way, and the exit code
// carries the outcome.
#pragma once

#include <windows.h>

// True when the process's window station is visible (WSF_VISIBLE), so that
// someone can see and answer a message box. False for a service's or
// session 0's station, and when the system can't tell (the run log says so).
bool IsInteractiveStation();

// Shows a message box of `type` with `text` and `caption`, owned by `owner`,
// and waits until it is answered, when someone can see it; otherwise shows
// nothing. Logs which of the two happened, with the text.
void ShowMessage(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type);
