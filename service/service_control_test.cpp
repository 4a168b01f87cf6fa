// Tests of the service main routine, status publishing, stop and the control handler.
#include "service/service_control.h"

#include <thread>

#include "service/service_registration.h"
#include "service/service_test_support.h"

namespace qwus {
namespace {

using testing::Message;
constexpr auto E = EventType::Error;
constexpr auto S = EventType::Success;
constexpr auto I = EventType::Information;

class ServiceControlTest : public testing::ServiceTest {
 protected:
  // Runs serviceMain and returns the context it registered with the handler.
  void start() {
    serviceMain(*env, 0, nullptr);
    log.clear();
  }
  std::size_t publishedCount() const { return manager.published().size(); }
};

TEST_F(ServiceControlTest, NormalStartPublishesRunningThenAsksForNotifications) {
  serviceMain(*env, 0, nullptr);
  EXPECT_EQ(serviceMessages(),
            (std::vector<Message>{{I, u"enter service main function."},
                                  {I, u"enter initialize service function."},
                                  {I, u"register service control handler success."},
                                  {I, u"enter registerStart function."},
                                  {S, u"register device notification success."},
                                  {S, u"initialize service success."}}));
  EXPECT_EQ(manager.handlerName(), u"QuorlanWindowsUpdateService");
  const auto published = manager.published();
  ASSERT_EQ(published.size(), 2u);
  EXPECT_EQ(published[0].dwCurrentState, kServiceStartPending);
  EXPECT_EQ(published[0].dwControlsAccepted, 0u);
  EXPECT_EQ(published[1].dwCurrentState, kServiceRunning);
  EXPECT_EQ(published[1].dwControlsAccepted, 5u);
  for (const auto& status : published) {
    EXPECT_EQ(status.dwServiceType, 0x30u);
    EXPECT_EQ(status.dwWin32ExitCode, 0u);
    EXPECT_EQ(status.dwServiceSpecificExitCode, 0u);
    EXPECT_EQ(status.dwCheckPoint, 0u);
    EXPECT_EQ(status.dwWaitHint, 0u);
  }
  ASSERT_TRUE(manager.notificationClass());
  const Guid guid = *manager.notificationClass();
  EXPECT_EQ(guid.data1, 0x5E1C7A93u);
  EXPECT_EQ(guid.data2, 0x2B64u);
  EXPECT_EQ(guid.data3, 0x4D0Fu);
  EXPECT_EQ(guid.data4[0], 0x9Au);
  EXPECT_EQ(guid.data4[7], 0x50u);
  // The present interfaces are listed only once the notification can tell of new ones, so that
  // a device attached in between is not missed.
  EXPECT_EQ(manager.calls(),
            (std::vector<std::string>{"registerControlHandler", "registerDeviceNotification",
                                      "presentDeviceInterfaces"}));
}

TEST_F(ServiceControlTest, HandlerRegistrationFailurePublishesNothing) {
  manager.fail.controlHandler = true;
  serviceMain(*env, 0, nullptr);
  EXPECT_EQ(serviceMessages(),
            (std::vector<Message>{{I, u"enter service main function."},
                                  {I, u"enter initialize service function."},
                                  {E, u"register service control handler failed."},
                                  {E, u"initialize service failed."}}));
  EXPECT_TRUE(manager.published().empty());
  EXPECT_EQ(manager.openNotifications(), 0u);
}

TEST_F(ServiceControlTest, NotificationFailureLeavesServiceRunningAndStoppable) {
  manager.fail.deviceNotification = true;
  serviceMain(*env, 0, nullptr);
  EXPECT_EQ(serviceMessages(),
            (std::vector<Message>{{I, u"enter service main function."},
                                  {I, u"enter initialize service function."},
                                  {I, u"register service control handler success."},
                                  {I, u"enter registerStart function."},
                                  {E, u"register device notification failed."},
                                  {E, u"initialize service failed."}}));
  EXPECT_EQ(manager.publishedStates().back(), kServiceRunning);

  log.clear();
  EXPECT_EQ(manager.sendControl(kServiceControlStop), 0u);
  EXPECT_EQ(serviceTexts(), (std::vector<std::u16string>{u"control code: SERVICE_CONTROL_STOP.",
                                                          u"enter onStop function.",
                                                          u"service control stop success."}));
  EXPECT_EQ(manager.publishedStates(),
            (std::vector<std::uint32_t>{kServiceStartPending, kServiceRunning, kServiceStopPending,
                                        kServiceStopped}));
  EXPECT_TRUE(manager.unregistered().empty());
}

TEST_F(ServiceControlTest, ControlCodes) {
  const struct {
    std::uint32_t control;
    std::vector<std::u16string> messages;
    bool stops;
  } cases[] = {
      {kServiceControlPause, {u"control code: SERVICE_CONTROL_PAUSE."}, false},
      {kServiceControlContinue, {u"control code: SERVICE_CONTROL_CONTINUE."}, false},
      {kServiceControlInterrogate, {u"control code: SERVICE_CONTROL_INTERROGATE."}, false},
      {0, {}, false},
      {6, {}, false},
      {7, {}, false},
      {8, {}, false},
      {9, {}, false},
      {10, {}, false},
      {12, {}, false},
      {128, {}, false},
      {255, {}, false},
      {kServiceControlStop,
       {u"control code: SERVICE_CONTROL_STOP.", u"enter onStop function.",
        u"unregister device notification.", u"service control stop success."},
       true},
      {kServiceControlShutdown,
       {u"control code: SERVICE_CONTROL_SHUTDOWN.", u"enter onStop function.",
        u"unregister device notification.", u"service control stop success."},
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.control);
    manager.deleteAll();
    start();
    const std::size_t before = publishedCount();
    EXPECT_EQ(manager.sendControl(c.control), 0u);
    EXPECT_EQ(serviceTexts(), c.messages);
    if (c.stops) {
      const auto states = manager.publishedStates();
      ASSERT_EQ(states.size(), before + 2);
      EXPECT_EQ(states[before], kServiceStopPending);
      EXPECT_EQ(states[before + 1], kServiceStopped);
      EXPECT_EQ(manager.published().back().dwControlsAccepted, 5u);
    } else {
      EXPECT_EQ(publishedCount(), before);
    }
  }
}

TEST_F(ServiceControlTest, StopBeforeNotificationRegisteredSkipsUnregistration) {
  manager.fail.deviceNotification = true;
  start();
  EXPECT_EQ(manager.sendControl(kServiceControlStop), 0u);
  EXPECT_EQ(serviceTexts(), (std::vector<std::u16string>{u"control code: SERVICE_CONTROL_STOP.",
                                                          u"enter onStop function.",
                                                          u"service control stop success."}));
  EXPECT_EQ(manager.publishedStates().back(), kServiceStopped);
}

TEST_F(ServiceControlTest, NotificationIsGivenBackOnceWhenStopsRace) {
  start();
  std::vector<std::thread> stoppers;
  for (int i = 0; i < 4; ++i) {
    stoppers.emplace_back([this] { manager.sendControl(kServiceControlStop); });
  }
  for (auto& stopper : stoppers) stopper.join();
  EXPECT_EQ(manager.unregistered().size(), 1u);
  EXPECT_EQ(manager.openNotifications(), 0u);
  const auto texts = serviceTexts();
  EXPECT_EQ(std::count(texts.begin(), texts.end(), u"unregister device notification."), 1);
  EXPECT_EQ(std::count(texts.begin(), texts.end(), u"service control stop success."), 4);
  // The first stop published its pair whole; the others, coming after SERVICE_STOPPED, none.
  EXPECT_EQ(manager.publishedStates(),
            (std::vector<std::uint32_t>{kServiceStartPending, kServiceRunning, kServiceStopPending,
                                        kServiceStopped}));
}

TEST_F(ServiceControlTest, NothingIsPublishedOrUnregisteredAfterStopped) {
  const struct {
    std::uint32_t control;
    const char16_t* name;
  } laterStops[] = {{kServiceControlStop, u"control code: SERVICE_CONTROL_STOP."},
                    {kServiceControlShutdown, u"control code: SERVICE_CONTROL_SHUTDOWN."}};
  for (const auto& [control, name] : laterStops) {
    SCOPED_TRACE(control);
    manager.deleteAll();
    manager.addRegistration(kServiceName, kServiceStopped);
    start();
    // The worker's stop of a handled arrival, then a stop request before its uninstall.
    onStop(*static_cast<ServiceContext*>(manager.handlerContext()));
    const auto states = manager.publishedStates();
    const std::size_t unregistered = manager.unregistered().size();
    ASSERT_EQ(states.back(), kServiceStopped);
    log.clear();
    EXPECT_EQ(manager.sendControl(control), 0u);
    EXPECT_EQ(serviceTexts(), (std::vector<std::u16string>{name, u"enter onStop function.",
                                                            u"service control stop success."}));
    EXPECT_EQ(manager.publishedStates(), states);
    EXPECT_EQ(manager.unregistered().size(), unregistered);
    EXPECT_EQ(uninstallService(*env), 0);
    EXPECT_FALSE(manager.registration(kServiceName));
  }
}

}  // namespace
}  // namespace qwus
