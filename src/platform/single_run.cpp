#include "platform/single_run.h"

#include "platform/run_log.h"

namespace {

// Global: runs in other sessions (a deployment tool's in session 0, an
// administrator's at the console) see the same mutex.
const wchar_t kRunMutexName[] = L"Global\\Quendris.QIRO.vskr_updater.run";

}  // namespace

MachineRunLock::MachineRunLock() {
  mutex_.Reset(CreateMutexW(nullptr, FALSE, kRunMutexName));
  if (!mutex_) {
    refusal_ = GetLastError();
    LogFailure(L"creating the mutex that keeps other runs out", kRunMutexName, refusal_);
    return;
  }
  switch (WaitForSingleObject(mutex_.Get(), 0)) {
    case WAIT_OBJECT_0:
      held_ = true;
      break;
    case WAIT_ABANDONED:
      held_ = true;
      LogLine(L"an earlier run ended without releasing its lock (its process is gone): this run "
              L"takes it over");
      break;
    case WAIT_TIMEOUT:
      refusal_ = ERROR_INSTALL_ALREADY_RUNNING;
      break;
    default:
      refusal_ = GetLastError();
      LogFailure(L"taking the mutex that keeps other runs out", kRunMutexName, refusal_);
      break;
  }
}

MachineRunLock::~MachineRunLock() {
  if (held_ && !ReleaseMutex(mutex_.Get()))
    LogFailure(L"releasing the mutex that keeps other runs out", kRunMutexName, GetLastError());
}
