// Tests of the upgrade worker: its three endings, the self-removal and the waits of an upgrade.
#include <algorithm>
#include <thread>

#include "service/device_arrival.h"
#include "service/service_control.h"
#include "service/service_test_support.h"
#include "tests/fakes/firmware_package.h"

namespace qwus {
namespace {

using testing::Message;
constexpr auto W = EventType::Warning;
constexpr auto S = EventType::Success;
constexpr auto I = EventType::Information;

const Text kDirectory = u"C:\\Program Files\\Quorlan\\orvale\\Services\\";
const std::string kHeading = "dfu-util 0.11\r\n\r\n";

std::string deviceLine(const char* state, const char* version) {
  return std::string("Found ") + state + ": [c4e2:" + (std::string(state) == "DFU" ? "8352" : "8351") +
         "] ver=" + version + ", devnum=7, cfg=1, intf=0, path=\"1-1\", alt=0, name=\"Orvale\", "
         "serial=\"A7X2249\"\r\n";
}

class UpgradeWorkerTest : public testing::ServiceTest {
 protected:
  UpgradeWorkerTest() {
    manager.addRegistration(kServiceName, kServiceStopped);
    files.addFile(kDirectory + u"orvale-0102.dfu", testing::firmwarePackage(0x0102));
    context = new ServiceContext(*env);
    initializeService(*context);
    log.clear();
  }

  // One arrival of an Orvale device, its worker run to its end; returns the worker's exit code.
  std::uint32_t arriveAndWork() {
    const std::u16string path = u"\\\\?\\USB#VID_C4E2&PID_8351#A7X2249";
    DeviceInterfaceEvent event{watchedInterfaceClass, path.c_str()};
    manager.sendControl(kServiceControlDeviceEvent, kDbtDeviceArrival, &event);
    const auto exitCodes = threads.runPending();
    EXPECT_EQ(exitCodes.size(), 1u);
    return exitCodes.empty() ? 99 : exitCodes.front();
  }

  // The service's messages after the arrival's own five.
  std::vector<Message> workerMessages() const {
    auto messages = serviceMessages();
    messages.erase(messages.begin(), messages.begin() + std::min<std::size_t>(5, messages.size()));
    return messages;
  }

  // The worker ended a handled run without a download: the service stopped and deleted.
  void expectHandled() {
    const auto messages = workerMessages();
    EXPECT_NE(std::find(messages.begin(), messages.end(),
                        Message{W, u"arrival device handled completely."}),
              messages.end());
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back(), (Message{S, u"service delete success."}));
    EXPECT_EQ(manager.publishedStates().back(), kServiceStopped);
    EXPECT_FALSE(manager.registration(kServiceName));
    EXPECT_EQ(processes.openPipeEnds(), 0u);
    EXPECT_EQ(clock.waits(), (std::vector<std::uint32_t>{5000, 100}));
  }

  ~UpgradeWorkerTest() override { delete context; }

  ServiceContext* context = nullptr;
};

TEST_F(UpgradeWorkerTest, FailedListingStepWarnsAndKeepsTheServiceRunning) {
  files.deleteFile(kDirectory + u"orvale-0102.dfu");
  EXPECT_EQ(arriveAndWork(), 1u);
  EXPECT_EQ(workerMessages(),
            (std::vector<Message>{{W, u"OrvaleUpgradeProcess.initDfuDevList failed!"}}));
  EXPECT_EQ(manager.publishedStates().back(), kServiceRunning);
  EXPECT_TRUE(manager.registration(kServiceName));
  EXPECT_TRUE(processes.commandLines().empty());
}

TEST_F(UpgradeWorkerTest, DetachEndsTheWorkerQuietly) {
  processes.scriptOutput({kHeading + deviceLine("Runtime", "0100")});
  EXPECT_EQ(arriveAndWork(), 0u);
  EXPECT_TRUE(workerMessages().empty());
  EXPECT_EQ(manager.publishedStates().back(), kServiceRunning);
  EXPECT_TRUE(manager.registration(kServiceName));
  EXPECT_EQ(processes.commandLines().back(),
            u"dfu-util.exe -d c4e2:8351,c4e2:8352 -S A7X2249 -c 1 -e");
}

TEST_F(UpgradeWorkerTest, HandledRunStopsTheServiceAndDeletesItsRegistration) {
  processes.scriptOutput({kHeading + deviceLine("Runtime", "0102")});
  EXPECT_EQ(arriveAndWork(), 0u);
  EXPECT_EQ(workerMessages(),
            (std::vector<Message>{{W, u"arrival device handled completely."},
                                  {I, u"enter onStop function."},
                                  {I, u"unregister device notification."},
                                  {W, u"service stopped."},
                                  {S, u"service delete success."}}));
  EXPECT_EQ(manager.publishedStates(),
            (std::vector<std::uint32_t>{kServiceStartPending, kServiceRunning, kServiceStopPending,
                                        kServiceStopped}));
  EXPECT_FALSE(manager.registration(kServiceName));
  EXPECT_EQ(manager.openHandles(), 0u);
  EXPECT_TRUE(env->runs.waitUntilDone(std::chrono::milliseconds(0)));
}

TEST_F(UpgradeWorkerTest, DeviceNotSeenCountsAsHandled) {
  processes.scriptOutput({kHeading});
  processes.scriptOutput({kHeading});
  EXPECT_EQ(arriveAndWork(), 0u);
  EXPECT_EQ(processes.commandLines().size(), 2u);
  EXPECT_EQ(workerMessages().front(), (Message{W, u"arrival device handled completely."}));
  EXPECT_FALSE(manager.registration(kServiceName));
}

// A DFU-mode device below the package's version whose download step fails: the run counts as
// handled, and nothing is downloaded or waited for.
TEST_F(UpgradeWorkerTest, DownloadToolThatDoesNotStartCountsAsHandled) {
  processes.scriptOutput({kHeading + deviceLine("DFU", "0100")});
  processes.script({{}, true});
  EXPECT_EQ(arriveAndWork(), 0u);
  EXPECT_EQ(processes.commandLines().size(), 2u);
  expectHandled();
}

TEST_F(UpgradeWorkerTest, NoPipeForTheDownloadCountsAsHandled) {
  processes.scriptOutput({kHeading + deviceLine("DFU", "0100")});
  processes.failPipeCreation(1, 1);
  EXPECT_EQ(arriveAndWork(), 0u);
  EXPECT_EQ(processes.commandLines().size(), 1u);
  expectHandled();
}

TEST_F(UpgradeWorkerTest, TwoArrivalUpgradeWaitsExactlyWhatItMust) {
  // Runtime at 0100: listed and detached; back in DFU mode: listed and downloaded.
  processes.scriptOutput({kHeading + deviceLine("Runtime", "0100")});
  processes.scriptOutput({"Detaching\r\n"});
  processes.scriptOutput({kHeading, deviceLine("DFU", "0100")});
  processes.scriptOutput({"Download\t[=====] 100%\r\n", "Download done.\r\n", "Resetting\r\n"});
  EXPECT_EQ(arriveAndWork(), 0u);
  EXPECT_TRUE(manager.registration(kServiceName));
  EXPECT_EQ(arriveAndWork(), 0u);
  EXPECT_FALSE(manager.registration(kServiceName));

  // 5 s per arrival, 50 s after the detach and after the download, 100 ms after each of the
  // 1 + 1 + 2 + 3 successful reads, and nothing else.
  EXPECT_EQ(clock.waits(),
            (std::vector<std::uint32_t>{5000, 100, 50000, 100, 5000, 100, 100, 50000, 100, 100, 100}));
  EXPECT_EQ(processes.commandLines().size(), 4u);
  EXPECT_EQ(processes.openPipeEnds(), 0u);
}

TEST_F(UpgradeWorkerTest, ProcessWaitsForAWorkerStillRemovingTheService) {
  InFlight removals;
  removals.begin();
  EXPECT_FALSE(removals.waitUntilDone(std::chrono::milliseconds(10)));
  std::thread worker([&removals] { removals.end(); });
  EXPECT_TRUE(removals.waitUntilDone(std::chrono::seconds(30)));
  worker.join();
}

}  // namespace
}  // namespace qwus
