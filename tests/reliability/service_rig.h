// A whole service over fakes, for the suites that drive it as a system: the fault matrix, the soak
// and the stress runs. Unlike the unit-test fixture it can fail the event sources' registration,
// and it checks the invariants every run must keep.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "service/service_context.h"
#include "service/service_environment.h"
#include "tests/fakes/fake_file_system.h"
#include "tests/fakes/fake_process_launcher.h"
#include "tests/fakes/fake_service_manager.h"
#include "tests/fakes/recording_event_log.h"
#include "tests/fakes/recording_trace_output.h"
#include "tests/fakes/virtual_clock.h"

namespace qwus::testing {

inline constexpr char16_t kRigDirectory[] = u"C:\\Program Files\\Quorlan\\orvale\\Services\\";

// A package file of `version`: some image bytes, then the DFU suffix.
std::string packageBytes(std::uint16_t version);
// The tool's first line and one listing line of the Orvale device.
std::string listingOf(const char* state, const char* version);

class ServiceRig {
 public:
  // The service runs with `threads`; its registration is there, stopped, and the install
  // directory holds one package of version 0102.
  explicit ServiceRig(ThreadLauncher& threads);

  // Registers the event sources and wires the environment; failures of the event log must be
  // set before.
  void build();

  // Creates the service's context and initialises it. The rig keeps it until it is destroyed,
  // which must be after every worker has finished.
  ServiceContext& startService();
  // Sends one arrival of an Orvale device to the control handler.
  void arrive();

  // Adds a failure if some source's ids are not first, first + 1, ... in report order, or a
  // pipe end, a file, a service-manager handle or a device notification is left open.
  void expectNothingLostOrLeftOpen() const;
  // True when an event of `type` with `text` was reported on either source.
  bool reported(EventType type, const std::u16string& text) const;

  RecordingEventLog log;
  FakeServiceManager manager;
  VirtualClock clock;
  FakeFileSystem files;
  FakeProcessLauncher processes;
  RecordingTraceOutput trace;
  std::optional<ProcessEventSources> sources;
  std::unique_ptr<ServiceEnvironment> env;

 private:
  ThreadLauncher& threads_;
  std::vector<std::unique_ptr<ServiceContext>> contexts_;
};

}  // namespace qwus::testing
