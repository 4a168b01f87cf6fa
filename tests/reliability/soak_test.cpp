// Soak runs over fakes: thousands of upgrade runs and arrivals, each checked for pipe ends, files
// and service-manager handles left open. Built with LeakSanitizer, the process also proves that
// nothing is leaked on the heap.
#include <array>

#include "service/device_arrival.h"
#include "service/service_control.h"
#include "tests/fakes/manual_threads.h"
#include "tests/reliability/service_rig.h"

namespace qwus {
namespace {

using testing::listingOf;

TEST(Soak, TenThousandUpgradeRunsLeaveNothingOpen) {
  testing::NullEventLog log;
  EventSource events(log, kEngineSourceName, kEngineFirstEventId);
  registerEventSource(events);
  testing::FakeFileSystem files;
  files.addFile(Text(testing::kRigDirectory) + u"orvale-0102.dfu", testing::packageBytes(0x0102));
  testing::FakeProcessLauncher processes;
  testing::VirtualClock clock;
  testing::RecordingTraceOutput trace;
  const UpgradeEnvironment env{events, files, processes, clock, trace, testing::kRigDirectory};

  // Each kind of run in turn: detach, download, device not seen, up to date, tool not started.
  struct Kind {
    std::vector<testing::ScriptedRun> runs;
    int outcome;
  };
  const std::array<Kind, 5> kinds = {{
      {{{{listingOf("Runtime", "0100")}}, {{"Detaching\r\n"}}}, kOutcomeDetached},
      {{{{listingOf("DFU", "0100")}}, {{"Download done.\r\n"}}}, kOutcomeToolRan},
      {{{{"dfu-util 0.11\r\n"}}, {{"dfu-util 0.11\r\n"}}}, kOutcomeFailed},
      {{{{listingOf("Runtime", "0102")}}}, kOutcomeUpToDate},
      {{{{listingOf("DFU", "0100")}}, {{}, true}}, kOutcomeToolNotStarted},
  }};

  constexpr int kRuns = 10000;
  int failures = 0;
  for (int run = 0; run < kRuns && failures < 5; ++run) {
    const Kind& kind = kinds[static_cast<std::size_t>(run) % kinds.size()];
    for (const auto& scripted : kind.runs) processes.script(scripted);
    OrvaleUpgradeProcess process(env);
    const int listed = process.initDfuDevList();
    const int outcome = process.doUpgrade();
    if (listed != kOutcomeListed || outcome != kind.outcome || processes.openPipeEnds() != 0 ||
        files.openFiles() != 0) {
      ++failures;
      ADD_FAILURE() << "run " << run << ": listed " << listed << ", outcome " << outcome << ", "
                    << processes.openPipeEnds() << " pipe ends and " << files.openFiles()
                    << " files open";
    }
    trace.clear();
  }
  EXPECT_EQ(events.nextEventId.load() > kEngineFirstEventId + kRuns, true);
}

TEST(Soak, ThousandArrivalsLeaveNothingOpen) {
  testing::ManualThreads threads;
  testing::ServiceRig rig(threads);
  rig.build();
  rig.startService();

  constexpr int kArrivals = 1000;
  int failures = 0;
  for (int arrival = 1; arrival <= kArrivals && failures < 5; ++arrival) {
    // Every arrival but the last finds the device in runtime mode and detaches it; the last finds
    // it in DFU mode and completes the upgrade, which stops and removes the service.
    const bool last = arrival == kArrivals;
    rig.processes.scriptOutput({listingOf(last ? "DFU" : "Runtime", "0100")});
    rig.processes.scriptOutput({last ? "Download done.\r\n" : "Detaching\r\n"});
    rig.arrive();
    const auto exitCodes = threads.runPending();
    const std::uint32_t expectedState = last ? kServiceStopped : kServiceRunning;
    if (exitCodes != std::vector<std::uint32_t>{0} || rig.processes.openPipeEnds() != 0 ||
        rig.files.openFiles() != 0 || rig.manager.openHandles() != 0 ||
        rig.manager.publishedStates().back() != expectedState) {
      ++failures;
      ADD_FAILURE() << "arrival " << arrival << " left something open or ended wrongly";
    }
  }
  EXPECT_FALSE(rig.manager.registration(kServiceName));
  EXPECT_EQ(rig.manager.openNotifications(), 0u);
  EXPECT_EQ(rig.processes.commandLines().size(), 2u * kArrivals);
  rig.expectNothingLostOrLeftOpen();
}

}  // namespace
}  // namespace qwus
