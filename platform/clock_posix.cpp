// POSIX clock: nanosleep, resumed after signals until the whole time has passed.
#include "platform/clock.h"

#include <cerrno>
#include <ctime>

namespace qwus {
namespace {

class PosixClock final : public Clock {
 public:
  void sleep(std::uint32_t milliseconds) override {
    timespec remaining{static_cast<time_t>(milliseconds / 1000),
                       static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
  }
};

}  // namespace

Clock& systemClock() {
  // Never destroyed: a worker may still use it while the process ends.
  static PosixClock& clock = *new PosixClock;
  return clock;
}

}  // namespace qwus
