// Runs one step for each item of a list on a few threads at once: the
// package transaction's copies, renames and deletes, which spend their time
// waiting for the file system.
#pragma once

#include <windows.h>

#include <cstddef>
#include <functional>
#include <vector>

// What happens to the items not yet begun after a step has failed.
enum class AfterFailure {
  Stop,    // none is begun: the caller undoes what was done
  CarryOn  // all are done: every item gets its chance
};

struct StepFailure {
  size_t index;
  DWORD error;
};

// Calls `step(i)` for the items i = 0 .. count-1, taken in order by
// `threads` threads (the calling thread is one of them; a thread that can't
// be started leaves its share to the others). `step` returns 0 or the
// system's error; it must not touch what another item's step touches, and
// must not write to the run log (which is not shared between threads).
// Returns the failures in the order of their items; when `after` is Stop,
// items begun after the first failure are not (the failures then are those
// of the items that ran).
std::vector<StepFailure> RunSteps(size_t count, unsigned threads, AfterFailure after,
                                  const std::function<DWORD(size_t)>& step);
