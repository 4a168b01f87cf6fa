// Waiting: every wait of the system goes through a Clock so that tests can use virtual time.
#pragma once

#include <cstdint>

namespace qwus {

class Clock {
 public:
  virtual ~Clock() = default;

  // Blocks the calling thread for `milliseconds` (Sleep). Safe to call from several threads.
  virtual void sleep(std::uint32_t milliseconds) = 0;
};

// The system's real clock: sleeps for the full time asked. Never destroyed: threads may still use
// it while the process ends.
Clock& systemClock();

}  // namespace qwus
