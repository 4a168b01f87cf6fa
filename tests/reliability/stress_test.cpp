// Stress on real threads (run under ThreadSanitizer in the host-tsan build): arrivals in quick
// succession while stop and shutdown requests come in from another thread, every worker a thread
// of its own.
#include <algorithm>
#include <map>
#include <thread>

#include "service/service_control.h"
#include "tests/fakes/joinable_threads.h"
#include "tests/reliability/service_rig.h"

namespace qwus {
namespace {

TEST(Stress, ArrivalsStopsAndShutdownsRaceWithoutLosingOrRepeatingAnEvent) {
  testing::JoinableThreads threads;
  testing::ServiceRig rig(threads);
  rig.build();
  rig.startService();

  // The tool prints nothing, so every worker lists twice, counts the arrival as handled, stops
  // the service and removes its registration: the most work a worker shares with the others.
  constexpr int kArrivals = 200;
  constexpr int kStops = 60;
  std::thread arrivals([&rig] {
    for (int i = 0; i < kArrivals; ++i) rig.arrive();
  });
  std::thread stops([&rig] {
    for (int i = 0; i < kStops; ++i) {
      rig.manager.sendControl(i % 2 == 0 ? kServiceControlStop : kServiceControlShutdown);
      std::this_thread::yield();
    }
  });
  arrivals.join();
  stops.join();
  // Once no stop request can come in between a worker's own stop and its status query, the last
  // worker is sure to find the service stopped and to delete it.
  rig.arrive();
  EXPECT_EQ(threads.joinAll(), static_cast<std::size_t>(kArrivals + 1));
  EXPECT_TRUE(rig.env->runs.waitUntilDone(std::chrono::milliseconds(0)));

  // Every id of a source used exactly once, from its first on, whatever order the log saw them.
  std::map<std::u16string, std::vector<std::uint32_t>> ids;
  for (const auto& event : rig.log.events()) ids[event.source].push_back(event.id);
  // One outcome per run, each "device not seen"; the outcome ids name outcomes and do not count.
  EXPECT_EQ(ids[kOutcomeSourceName],
            std::vector<std::uint32_t>(kArrivals + 1, 0x800003EB));
  ids.erase(kOutcomeSourceName);
  const std::map<std::u16string, std::uint32_t> first = {{kServiceSourceName, kServiceFirstEventId},
                                                         {kEngineSourceName, kEngineFirstEventId}};
  for (auto& [source, used] : ids) {
    std::sort(used.begin(), used.end());
    for (std::size_t i = 0; i < used.size(); ++i) {
      ASSERT_EQ(used[i], first.at(source) + i) << "source event ids repeat or skip";
    }
  }
  // Listing twice and giving up reports 13 events on the engine's source per run: none went missing.
  EXPECT_EQ(ids[kEngineSourceName].size(), static_cast<std::size_t>(kArrivals + 1) * 13);

  EXPECT_EQ(rig.manager.publishedStates().back(), kServiceStopped);
  EXPECT_FALSE(rig.manager.registration(kServiceName));
  EXPECT_EQ(rig.manager.openNotifications(), 0u);
  EXPECT_EQ(rig.manager.openHandles(), 0u);
  EXPECT_EQ(rig.processes.openPipeEnds(), 0u);
  EXPECT_EQ(rig.processes.commandLines().size(), static_cast<std::size_t>(kArrivals + 1) * 2);
}

}  // namespace
}  // namespace qwus
