// The count of workers in their stop-and-uninstall step.
#include "service/service_environment.h"

namespace qwus {

void SelfRemovals::begin() {
  std::lock_guard lock(mutex_);
  ++active_;
}

void SelfRemovals::end() {
  {
    std::lock_guard lock(mutex_);
    --active_;
  }
  done_.notify_all();
}

bool SelfRemovals::waitUntilDone(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return done_.wait_for(lock, timeout, [this] { return active_ == 0; });
}

}  // namespace qwus
