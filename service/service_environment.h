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

// Counts the workers that are stopping the service and deleting its registration, so that the
// process can let them finish before it ends.
class SelfRemovals {
 public:
  // A worker enters its stop-and-uninstall step.
  void begin();
  // That worker has finished the step.
  void end();
  // Waits until no worker is in the step, at most `timeout`. true when none is left.
  bool waitUntilDone(std::chrono::milliseconds timeout);

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  int active_ = 0;
};

struct ServiceEnvironment {
  EventSource& events;       // the service's event source
  ServiceManager& manager;
  ThreadLauncher& threads;
  Clock& clock;
  UpgradeEnvironment engine;  // given to each worker's OrvaleUpgradeProcess
  SelfRemovals selfRemovals;
};

}  // namespace qwus
