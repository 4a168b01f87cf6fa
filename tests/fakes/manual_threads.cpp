// Thread launcher that defers routines until the test runs them.
#include "tests/fakes/manual_threads.h"

namespace qwus::testing {

bool ManualThreads::start(ThreadRoutine routine, void* parameter, std::uint32_t& threadId) {
  std::lock_guard lock(mutex_);
  if (failStart) return false;
  pending_.push_back({routine, parameter});
  threadId = nextId_++;
  return true;
}

std::size_t ManualThreads::pending() const {
  std::lock_guard lock(mutex_);
  return pending_.size();
}

std::vector<std::uint32_t> ManualThreads::runPending() {
  std::vector<Started> toRun;
  {
    std::lock_guard lock(mutex_);
    toRun.swap(pending_);
  }
  std::vector<std::uint32_t> exitCodes;
  for (const auto& started : toRun) exitCodes.push_back(started.routine(started.parameter));
  return exitCodes;
}

std::uint32_t ManualThreads::runNewest() {
  Started newest{};
  {
    std::lock_guard lock(mutex_);
    newest = pending_.back();
    pending_.pop_back();
  }
  return newest.routine(newest.parameter);
}

}  // namespace qwus::testing
