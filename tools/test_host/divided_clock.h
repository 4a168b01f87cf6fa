// A clock whose waits last their time divided by a fixed number (the test host's short waits).
#pragma once

#include <cstdint>

#include "platform/clock.h"

namespace qwus {

class DividedClock final : public Clock {
 public:
  // Every wait lasts `milliseconds / divisor` on `inner`; a divisor of 0 counts as 1.
  DividedClock(Clock& inner, std::uint32_t divisor)
      : inner_(inner), divisor_(divisor == 0 ? 1 : divisor) {}

  void sleep(std::uint32_t milliseconds) override { inner_.sleep(milliseconds / divisor_); }

  // What every wait is divided by.
  std::uint32_t divisor() const { return divisor_; }

 private:
  Clock& inner_;
  std::uint32_t divisor_;
};

}  // namespace qwus
