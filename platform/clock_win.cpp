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
  static WindowsClock clock;
  return clock;
}

}  // namespace qwus
