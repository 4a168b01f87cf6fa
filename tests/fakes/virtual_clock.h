// A virtual clock for tests: records every wait asked for and returns at once.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/clock.h"

namespace qwus::testing {

class VirtualClock final : public Clock {
 public:
  void sleep(std::uint32_t milliseconds) override;

  // Every wait asked for so far, in order.
  std::vector<std::uint32_t> waits() const;
  // The sum of all waits: the virtual time that has passed.
  std::uint64_t elapsed() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::uint32_t> waits_;
};

}  // namespace qwus::testing
