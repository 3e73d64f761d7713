#include "driver/run_messages.h"

#include "platform/message_box.h"
#include "platform/run_log.h"

void ReportConfigurationNotSaved(DWORD error) {
  LogLine(L"the configuration could not be saved (error %lu): the update is not started", error);
  ShowMessage(nullptr, L"The configuration could not be saved. The update was not started.",
              L"QIRO Update", MB_OK | MB_ICONERROR);
}
