// Test fixture for the service host: a ServiceEnvironment over fakes, and readers of its events.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "service/service_environment.h"
#include "tests/fakes/fake_file_system.h"
#include "tests/fakes/fake_process_launcher.h"
#include "tests/fakes/fake_service_manager.h"
#include "tests/fakes/manual_threads.h"
#include "tests/fakes/recording_event_log.h"
#include "tests/fakes/recording_trace_output.h"
#include "tests/fakes/virtual_clock.h"

namespace qwus::testing {

// An event as the tests compare it: its type and text.
using Message = std::pair<EventType, std::u16string>;

class ServiceTest : public ::testing::Test {
 protected:
  ServiceTest();

  // The events reported on the service's source so far, in order.
  std::vector<Message> serviceMessages() const;
  std::vector<std::u16string> serviceTexts() const;

  RecordingEventLog log;
  ProcessEventSources sources{log};
  FakeServiceManager manager;
  ManualThreads threads;
  VirtualClock clock;
  FakeFileSystem files;
  FakeProcessLauncher processes;
  RecordingTraceOutput trace;
  std::unique_ptr<ServiceEnvironment> env;
};

}  // namespace qwus::testing
