// Test wiring of one upgrade object: a recording event source, an in-memory file system, a
// recording trace output and a virtual clock.
#pragma once

#include <vector>

#include "tests/fakes/fake_file_system.h"
#include "tests/fakes/recording_event_log.h"
#include "tests/fakes/recording_trace_output.h"
#include "tests/fakes/virtual_clock.h"
#include "upgrade/orvale_upgrade_process.h"

namespace qwus::testing {

// A launcher for tests that must not start anything: every attempt fails.
class RefusingProcessLauncher final : public ProcessLauncher {
 public:
  std::unique_ptr<OutputPipe> createOutputPipe() override { return nullptr; }
  bool startProcess(Text&, OutputPipe&) override { return false; }
};

class EngineHarness {
 public:
  // The object works on `installDirectory` through `fileSystem`, by default the in-memory one.
  explicit EngineHarness(Text installDirectory = u"C:\\pkg\\", FileSystem* fileSystem = nullptr)
      : engine({events, fileSystem ? *fileSystem : files, processes, clock, trace,
                std::move(installDirectory)}) {
    registerEventSource(events);
  }

  // The texts reported on the engine's source, in order.
  std::vector<Text> messages() const { return log.texts(kEngineSourceName); }

  RecordingEventLog log;
  EventSource events{log, kEngineSourceName, kEngineFirstEventId};
  FakeFileSystem files;
  RefusingProcessLauncher processes;
  VirtualClock clock;
  RecordingTraceOutput trace;
  OrvaleUpgradeProcess engine;
};

}  // namespace qwus::testing
