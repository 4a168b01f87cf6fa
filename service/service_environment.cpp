// Counting work under way on other threads.
#include "service/service_environment.h"

namespace qwus {

void InFlight::begin() {
  std::lock_guard lock(mutex_);
  ++active_;
}

void InFlight::end() {
  {
    std::lock_guard lock(mutex_);
    --active_;
  }
  done_.notify_all();
}

bool InFlight::waitUntilDone(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return done_.wait_for(lock, timeout, [this] { return active_ == 0; });
}

}  // namespace qwus
