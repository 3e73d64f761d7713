#include "platform/captured_run.h"

#include <cwchar>
#include <vector>

#include "platform/child_process.h"
#include "platform/run_log.h"
#include "platform/system_text.h"
#include "platform/unique_handle.h"

namespace {

// Reads the pipe until the writer's end is closed everywhere.
void ReadAll(HANDLE pipe, std::string& output) {
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(pipe, chunk, sizeof chunk, &got, nullptr) && got > 0) {
    size_t room = kCapturedOutputLimit - output.size();
    output.append(chunk, got < room ? got : room);
  }
}

}  // namespace

DWORD RunAndCaptureOutput(const tmk_String& commandLine, std::string& output, DWORD& exitCode) {
  tmk_String program;
  ProgramLookup lookup = FindChildProgram(commandLine, program);
  if (lookup == ProgramLookup::NotFound) {
    LogLine(L"program not found: %s", commandLine.Text());
    return ERROR_FILE_NOT_FOUND;
  }
  // Only the pipe's write end is inheritable; the updater's own handles
  // (the run log, the run's lock) are not.
  SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
  vskr::UniqueKernelHandle readEnd;
  vskr::UniqueKernelHandle writeEnd;
  if (!CreatePipe(readEnd.Put(), writeEnd.Put(), &inheritable, 0) ||
      !SetHandleInformation(readEnd.Get(), HANDLE_FLAG_INHERIT, 0)) {
    DWORD error = GetLastError();
    LogFailure(L"creating a pipe for the output of", commandLine.Text(), error);
    return error;
  }
  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
  startup.wShowWindow = SW_HIDE;
  startup.hStdOutput = writeEnd.Get();
  PROCESS_INFORMATION info;
  ZeroMemory(&info, sizeof info);
  const wchar_t* text = commandLine.Text();
  std::vector<wchar_t> buffer(text, text + std::wcslen(text) + 1);
  if (!CreateProcessW(lookup == ProgramLookup::Found ? program.Text() : nullptr, buffer.data(),
                      nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                      &info)) {
    DWORD error = GetLastError();
    LogFailure(L"starting a program", commandLine.Text(), error);
    return error;
  }
  vskr::ChildProcess child;
  child.Adopt(info);
  LogLine(L"program started: %s (current folder \"%s\")", commandLine.Text(),
          vskr::CurrentFolder().c_str());
  writeEnd.Reset();  // the child holds the only write end now
  ReadAll(readEnd.Get(), output);
  exitCode = WaitForChild(child, commandLine);
  return ERROR_SUCCESS;
}
