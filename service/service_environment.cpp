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

bool InFlight::waitUntilDone(Clock& clock, std::chrono::milliseconds timeout) {
  constexpr std::uint32_t kStep = 100;
  for (std::chrono::milliseconds waited{0};; waited += std::chrono::milliseconds(kStep)) {
    {
      std::lock_guard lock(mutex_);
      if (active_ == 0) return true;
    }
    if (waited >= timeout) return false;
    clock.sleep(kStep);
  }
}

}  // namespace qwus
