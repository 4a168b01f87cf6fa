// Tests of device events: the arrival's messages, the kept path and the worker it starts.
#include "service/device_arrival.h"

#include <optional>

#include "service/service_control.h"
#include "service/service_test_support.h"

namespace qwus {
namespace {

using testing::Message;
constexpr auto W = EventType::Warning;
constexpr auto E = EventType::Error;
constexpr auto I = EventType::Information;

class DeviceArrivalTest : public testing::ServiceTest {
 protected:
  DeviceArrivalTest() {
    context = new ServiceContext(*env);
    initializeService(*context);
    log.clear();
  }

  void arrive(const std::u16string& path) {
    DeviceInterfaceEvent event;
    event.classGuid = watchedInterfaceClass;
    event.name = path.c_str();
    serviceControlHandler(kServiceControlDeviceEvent, kDbtDeviceArrival, &event, context);
  }

  ~DeviceArrivalTest() override { delete context; }

  ServiceContext* context = nullptr;
};

TEST_F(DeviceArrivalTest, ArrivalWaitsLogsClassAndStartsWorkerWhateverThePath) {
  const struct {
    std::u16string path;
    Message verdict;
  } cases[] = {
      {u"\\\\?\\USB#VID_C4E2&PID_8351#A7X2249#{5e1c7a93-2b64-4d0f-9a83-c61e27b4d850}",
       {W, u"arrival device is Quorlan Orvale."}},
      {u"\\\\?\\USB#VID_C4E2&PID_8352#A7X2249", {W, u"arrival device is Quorlan Orvale."}},
      {u"PID_8351 and PID_8352", {W, u"arrival device is Quorlan Orvale."}},
      {u"\\\\?\\usb#vid_c4e2&pid_8351#a7x2249", {E, u"arrival device is not Quorlan Orvale."}},
      {u"\\\\?\\USB#VID_046D&PID_C52B#6&1", {E, u"arrival device is not Quorlan Orvale."}},
      {u"", {E, u"arrival device is not Quorlan Orvale."}},
  };
  std::size_t workers = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(toUtf8(c.path));
    log.clear();
    arrive(c.path);
    EXPECT_EQ(serviceMessages(),
              (std::vector<Message>{
                  {I, u"control code: SERVICE_CONTROL_DEVICEEVENT."},
                  {I, u"dwEventType: 32768"},
                  {I, u"device event: device arrival, waiting for 5 seconds..."},
                  {I, u"Guid = {5E1C7A93-2B64-4D0F-9A83-C61E27B4D850}"},
                  c.verdict}));
    EXPECT_EQ(threads.pending(), ++workers);
    EXPECT_EQ(std::u16string(context->devicePath), c.path);
  }
  EXPECT_EQ(clock.waits(), std::vector<std::uint32_t>(workers, 5000));
  EXPECT_FALSE(context->workerParam.forceUpgrade.load());
  EXPECT_EQ(context->workerParam.service.load(), context);
  EXPECT_NE(context->workerThreadId, 0u);
}

TEST_F(DeviceArrivalTest, ShorterPathLeavesNothingOfTheLongerOne) {
  arrive(u"\\\\?\\USB#VID_046D&PID_C52B#long-instance-path-PID_8351");
  arrive(u"short");
  EXPECT_EQ(std::u16string(context->devicePath), u"short");
  EXPECT_EQ(serviceMessages().back(), (Message{E, u"arrival device is not Quorlan Orvale."}));
}

TEST_F(DeviceArrivalTest, OverlongPathIsCutTo259Characters) {
  for (std::size_t length : {259u, 260u, 261u, 5000u}) {
    SCOPED_TRACE(length);
    std::u16string path(length, u'x');
    path.replace(250, 8, u"PID_8351");
    arrive(path);
    EXPECT_EQ(std::u16string(context->devicePath), path.substr(0, 259));
    EXPECT_EQ(context->devicePath[kDevicePathLength - 1], u'\0');
    EXPECT_EQ(serviceMessages().back(), (Message{W, u"arrival device is Quorlan Orvale."}));
  }
  // A pattern that only the cut-off part holds is not seen.
  std::u16string path(300, u'y');
  path.replace(280, 8, u"PID_8352");
  arrive(path);
  EXPECT_EQ(serviceMessages().back(), (Message{E, u"arrival device is not Quorlan Orvale."}));
}

TEST_F(DeviceArrivalTest, RemovalAndOtherEventsAreOnlyLogged) {
  DeviceInterfaceEvent event;
  event.name = u"PID_8351";
  serviceControlHandler(kServiceControlDeviceEvent, kDbtDeviceRemoveComplete, &event, context);
  serviceControlHandler(kServiceControlDeviceEvent, kDbtDevnodesChanged, nullptr, context);
  EXPECT_EQ(serviceMessages(),
            (std::vector<Message>{{I, u"control code: SERVICE_CONTROL_DEVICEEVENT."},
                                  {I, u"dwEventType: 32772"},
                                  {I, u"device remove"},
                                  {I, u"control code: SERVICE_CONTROL_DEVICEEVENT."},
                                  {I, u"dwEventType: 7"},
                                  {I, u"device event others"}}));
  EXPECT_EQ(threads.pending(), 0u);
  EXPECT_TRUE(clock.waits().empty());
}

TEST_F(DeviceArrivalTest, ArrivalWithoutRecordStillStartsAWorker) {
  serviceControlHandler(kServiceControlDeviceEvent, kDbtDeviceArrival, nullptr, context);
  EXPECT_EQ(serviceTexts()[3], u"Guid = {00000000-0000-0000-0000-000000000000}");
  EXPECT_EQ(serviceMessages().back(), (Message{E, u"arrival device is not Quorlan Orvale."}));
  EXPECT_EQ(threads.pending(), 1u);
}

TEST_F(DeviceArrivalTest, FailedThreadStartDropsTheArrivalSilently) {
  threads.failStart = true;
  arrive(u"USB#VID_C4E2&PID_8351");
  EXPECT_EQ(serviceMessages().back(), (Message{W, u"arrival device is Quorlan Orvale."}));
  EXPECT_EQ(threads.pending(), 0u);
  EXPECT_EQ(context->workerThreadId, 0u);
}

// Nothing announces a device attached before the service registered for notifications: the
// service lists the present interfaces and handles each as an arrival.
TEST_F(DeviceArrivalTest, PresentInterfacesAtStartAreHandledAsArrivals) {
  // As SetupAPI lists them: the whole path in lower case.
  const std::u16string orvale =
      u"\\\\?\\usb#vid_c4e2&pid_8351#a7x2249#{5e1c7a93-2b64-4d0f-9a83-c61e27b4d850}";
  const std::u16string other =
      u"\\\\?\\usb#vid_046d&pid_c52b#6&1#{5e1c7a93-2b64-4d0f-9a83-c61e27b4d850}";
  const auto arrival = [](const std::u16string& listed, Message verdict) {
    return std::vector<Message>{{I, u"device interface present at start: " + listed},
                                {I, u"device event: device arrival, waiting for 5 seconds..."},
                                {I, u"Guid = {5E1C7A93-2B64-4D0F-9A83-C61E27B4D850}"},
                                verdict};
  };
  auto both = arrival(orvale, {W, u"arrival device is Quorlan Orvale."});
  const auto second = arrival(other, {E, u"arrival device is not Quorlan Orvale."});
  both.insert(both.end(), second.begin(), second.end());
  const struct {
    const char* name;
    std::vector<Text> present;
    std::optional<std::uint32_t> listingError;
    bool stoppedBefore;
    std::vector<Message> messages;
    std::size_t workers;
    std::u16string keptPath;
  } cases[] = {
      {"none present: nothing more is reported", {}, {}, false, {}, 0, u""},
      {"each present interface, in the order listed", {orvale, other}, {}, false, both, 2,
       u"\\\\?\\USB#VID_046D&PID_C52B#6&1#{5e1c7a93-2b64-4d0f-9a83-c61e27b4d850}"},
      {"the listing fails", {orvale}, 13u, false,
       {{W, u"finding present device interfaces failed, GetLastErrorCode: 13"}}, 0, u""},
      {"a stop came first", {orvale}, {}, true, {}, 0, u""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    log.clear();
    manager.presentInterfaces = c.present;
    manager.listingError = c.listingError;
    if (c.stoppedBefore) onStop(*context);
    log.clear();
    onPresentAtStart(*context);
    EXPECT_EQ(serviceMessages(), c.messages);
    EXPECT_EQ(threads.runPending().size(), c.workers);
    if (c.workers > 0) {
      EXPECT_EQ(std::u16string(context->devicePath), c.keptPath);
    }
  }
}

TEST_F(DeviceArrivalTest, ServiceMainHandlesPresentInterfacesOnceStarted) {
  manager.presentInterfaces = {u"\\\\?\\usb#vid_c4e2&pid_8352#a7x2249#{5e1c7a93-2b64-4d0f-9a83-c61e27b4d850}"};
  serviceMain(*env, 0, nullptr);
  const auto texts = serviceTexts();
  ASSERT_EQ(texts.size(), 10u);
  EXPECT_EQ(texts[5], u"initialize service success.");
  EXPECT_EQ(texts[6], u"device interface present at start: " + manager.presentInterfaces[0]);
  EXPECT_EQ(texts[9], u"arrival device is Quorlan Orvale.");
  EXPECT_EQ(threads.pending(), 1u);
}

}  // namespace
}  // namespace qwus
