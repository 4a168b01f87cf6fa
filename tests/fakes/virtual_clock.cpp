// Virtual clock for tests.
#include "tests/fakes/virtual_clock.h"

namespace qwus::testing {

void VirtualClock::sleep(std::uint32_t milliseconds) {
  std::lock_guard lock(mutex_);
  waits_.push_back(milliseconds);
}

std::vector<std::uint32_t> VirtualClock::waits() const {
  std::lock_guard lock(mutex_);
  return waits_;
}

std::uint64_t VirtualClock::elapsed() const {
  std::lock_guard lock(mutex_);
  std::uint64_t total = 0;
  for (auto wait : waits_) total += wait;
  return total;
}

}  // namespace qwus::testing
