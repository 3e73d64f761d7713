// One run of the updater at a time on the machine, in either mode and from
// any session: two runs would each back up and restore the configuration,
// and the second would take the first one's changes for the original.
#pragma once

#include <windows.h>

#include "platform/unique_handle.h"

// The machine-wide lock of a run: a named mutex in the global namespace,
// taken without waiting. A mutex left by a run whose process has gone
// (abandoned) is taken over: a dead run blocks nobody. Released when the
// object goes.
class MachineRunLock {
 public:
  MachineRunLock();
  ~MachineRunLock();
  MachineRunLock(const MachineRunLock&) = delete;
  MachineRunLock& operator=(const MachineRunLock&) = delete;

  // True when this run holds the lock.
  bool Held() const { return held_; }
  // Why the lock is not held: ERROR_INSTALL_ALREADY_RUNNING (1618) when
  // another run holds it, else the system's error of creating the mutex.
  DWORD Refusal() const { return refusal_; }

 private:
  vskr::UniqueKernelHandle mutex_;
  bool held_ = false;
  DWORD refusal_ = ERROR_SUCCESS;
};
