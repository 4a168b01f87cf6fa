// Everything the service host reaches outside itself, handed in by the executable's wiring.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "eventlog/event_source.h"
#include "platform/clock.h"
#include "platform/service_manager.h"
#include "platform/thread.h"
#include "upgrade/orvale_upgrade_process.h"

namespace qwus {

// The service's name: service name, display name, dispatcher entry and event source name.
inline constexpr char16_t kServiceName[] = u"QuorlanWindowsUpdateService";

// Counts pieces of work that are under way on other threads, so that the process can let them
// finish before it ends.
class InFlight {
 public:
  // A piece of work starts.
  void begin();
  // That piece of work has finished.
  void end();
  // Waits until no work is under way, at most `timeout`. true when none is left.
  bool waitUntilDone(std::chrono::milliseconds timeout);
  // The same on `clock`, looking every 100 ms, so that the wait takes virtual time under a test
  // clock.
  bool waitUntilDone(Clock& clock, std::chrono::milliseconds timeout);

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  int active_ = 0;
};

struct ServiceEnvironment {
  EventSource& events;       // the service's event source
  EventSource& outcomes;     // the outcome source: one event per handled upgrade run
  ServiceManager& manager;
  ThreadLauncher& threads;
  Clock& clock;
  UpgradeEnvironment engine;  // given to each worker's OrvaleUpgradeProcess
  // Upgrade runs under way, from the arrival that starts one to the end of its worker, its
  // self-removal included. The process lets them finish before it ends, so that a run still
  // waiting when another one stops the service writes all of its events and its outcome.
  InFlight runs;
  // Control handler calls under way. On Windows the handler runs on the dispatcher's own thread;
  // elsewhere (Wine) it may still be running when the dispatcher returns.
  InFlight controls;
  // The clock of the process's bounded wait for the runs under way; null means `clock`.
  Clock* exitClock = nullptr;
};

}  // namespace qwus
