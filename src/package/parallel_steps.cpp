#include "package/parallel_steps.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

// The items and what became of them, shared by the threads of one call.
class StepQueue {
 public:
  StepQueue(size_t count, AfterFailure after, const std::function<DWORD(size_t)>& step)
      : count_(count), after_(after), step_(step) {}

  // Takes the next item until none is left (or a failure stops the rest).
  void Work() {
    for (;;) {
      if (stopped_.load()) return;
      size_t index = next_.fetch_add(1);
      if (index >= count_) return;
      DWORD error = step_(index);
      if (error == ERROR_SUCCESS) continue;
      std::lock_guard<std::mutex> hold(lock_);
      failures_.push_back({index, error});
      if (after_ == AfterFailure::Stop) stopped_.store(true);
    }
  }

  std::vector<StepFailure> Failures() {
    std::sort(failures_.begin(), failures_.end(),
              [](const StepFailure& a, const StepFailure& b) { return a.index < b.index; });
    return failures_;
  }

 private:
  const size_t count_;
  const AfterFailure after_;
  const std::function<DWORD(size_t)>& step_;
  std::atomic<size_t> next_{0};
  std::atomic<bool> stopped_{false};
  std::mutex lock_;
  std::vector<StepFailure> failures_;
};

}  // namespace

std::vector<StepFailure> RunSteps(size_t count, unsigned threads, AfterFailure after,
                                  const std::function<DWORD(size_t)>& step) {
  StepQueue queue(count, after, step);
  std::vector<std::thread> helpers;
  size_t wanted = std::min<size_t>(threads > 1 ? threads - 1 : 0, count > 1 ? count - 1 : 0);
  for (size_t i = 0; i < wanted; ++i) {
    try {
      helpers.emplace_back([&queue] { queue.Work(); });
    } catch (const std::system_error&) {
      break;  // fewer threads: the others take its share
    }
  }
  queue.Work();
  for (std::thread& helper : helpers) helper.join();
  return queue.Failures();
}
