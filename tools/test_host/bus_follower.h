// The test host's Plug and Play: the emulated device's own comings and goings, announced to the
// service as Windows announces them once a device has settled.
#pragma once

#include <cstdint>
#include <set>
#include <string>

#include "platform/text.h"
#include "tools/test_host/divided_clock.h"
#include "tools/test_host/test_host_service_manager.h"

namespace qwus {

// How long after the device's re-enumeration Windows announces it, before the time divisor:
// a removal and an arrival of a product id it has bound before about a second each; the first
// arrival of a product id, which Windows binds to its driver then, three seconds.
inline constexpr std::uint32_t kRemovalSettle = 1000;
inline constexpr std::uint32_t kArrivalSettle = 1000;
inline constexpr std::uint32_t kFirstBindingSettle = 3000;

// Follows a bus events file: lines "leave PATH" and "arrive PATH", appended by the emulated device
// when it re-enumerates and by a scenario when a person plugs it in or pulls it out. Each line is
// announced in turn as DBT_DEVICEREMOVECOMPLETE or DBT_DEVICEARRIVAL for PATH, its settling time
// (divided as `settleClock` divides) after it was read: a line whose time passed while the
// service handled the one before is announced as soon as the handler returns, as Windows queues a
// service's device events.
class BusFollower {
 public:
  BusFollower(Text eventsFile, TestHostServiceManager& manager, DividedClock& settleClock);

  // Starts following on a thread of its own, which lasts as long as the process.
  void start();

 private:
  // The settling time of one line; false for a line that is neither a leave nor an arrival.
  // Remembers the product ids it has seen arrive.
  bool settleTime(const std::string& line, std::uint32_t& milliseconds);
  static std::uint32_t run(void* self);
  void follow();

  Text eventsFile_;
  TestHostServiceManager& manager_;
  DividedClock& settleClock_;
  std::set<std::string> boundProducts_;
};

}  // namespace qwus
