// Windows clock: Sleep.
#include "platform/clock.h"

#include <windows.h>

namespace qwus {
namespace {

class WindowsClock final : public Clock {
 public:
  void sleep(std::uint32_t milliseconds) override { Sleep(milliseconds); }
};

}  // namespace

Clock& systemClock() {
  // Never destroyed: a worker may still use it while the process ends.
  static WindowsClock& clock = *new WindowsClock;
  return clock;
}

}  // namespace qwus
