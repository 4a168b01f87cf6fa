// The fault matrix: every failure the system can meet, injected through the fakes, each checked for
// its message, its outcome, and that no report is lost and nothing is left open.
#include <functional>

#include "service/device_arrival.h"
#include "service/entry_point.h"
#include "service/service_control.h"
#include "tests/fakes/manual_threads.h"
#include "tests/reliability/service_rig.h"

namespace qwus {
namespace {

using testing::ManualThreads;
using testing::ServiceRig;

// What the row drives, and what its outcome number means.
enum class Drive {
  Arrival,    // a started service gets one arrival; the worker's exit code, -1 when none ran
  Start,      // the service main routine; the last published state, 0 when none
  Service,    // the executable without argument; its exit status
  Install,    // "install"; its exit status
  Uninstall,  // "uninstall"; its exit status
};

struct Fault {
  const char* name;
  std::function<void(ServiceRig&, ManualThreads&)> inject;  // runs before the event sources exist
  Drive drive;
  int outcome;
  EventType type;
  const char16_t* message;  // reported on one of the two sources
  bool stillRegistered;
  bool toolStarted;
};

constexpr auto E = EventType::Error;
constexpr auto W = EventType::Warning;
constexpr auto I = EventType::Information;

// A device at 0102, the package's version: a run that goes on is handled and removes the service.
void upToDate(ServiceRig& rig) { rig.processes.scriptOutput({testing::listingOf("Runtime", "0102")}); }

const Fault kFaults[] = {
    {"pipe_creation", [](ServiceRig& r, ManualThreads&) { r.processes.failPipeCreation(); },
     Drive::Arrival, 1, I, u"CreatePipe Failed!", true, false},
    {"tool_start",
     [](ServiceRig& r, ManualThreads&) { r.processes.script({{}, /*failsToStart=*/true}); },
     Drive::Arrival, 1, I, u"CreateProcess Failed!", true, true},
    {"directory_search", [](ServiceRig& r, ManualThreads&) { r.files.failSearches(); },
     Drive::Arrival, 1, I,
     u"initUpgradeInfo File not found C:\\Program Files\\Quorlan\\orvale\\Services\\*.dfu!", true,
     false},
    {"package_open",
     [](ServiceRig& r, ManualThreads&) {
       r.files.failOpenOf(Text(testing::kRigDirectory) + u"orvale-0102.dfu");
     },
     Drive::Arrival, 1, I, u"_wfopen failed!!", true, false},
    {"package_close", [](ServiceRig& r, ManualThreads&) { r.files.failCloses(); }, Drive::Arrival,
     1, I, u"fclose failed!!", true, false},
    {"thread_creation", [](ServiceRig&, ManualThreads& t) { t.failStart = true; }, Drive::Arrival,
     -1, W, u"arrival device is Quorlan Orvale.", true, false},
    {"engine_source_registration",
     [](ServiceRig& r, ManualThreads&) {
       r.log.failRegistrationOf(kEngineSourceName);
       upToDate(r);
     },
     Drive::Arrival, 0, W, u"arrival device handled completely.", false, true},
    {"service_source_registration",
     [](ServiceRig& r, ManualThreads&) {
       r.log.failRegistrationOf(kServiceSourceName);
       upToDate(r);
     },
     Drive::Arrival, 0, I, u"return for latest build!", false, true},
    {"handler_registration",
     [](ServiceRig& r, ManualThreads&) { r.manager.fail.controlHandler = true; }, Drive::Start, 0,
     E, u"register service control handler failed.", true, false},
    {"notification_registration",
     [](ServiceRig& r, ManualThreads&) { r.manager.fail.deviceNotification = true; },
     Drive::Start, static_cast<int>(kServiceRunning), E, u"register device notification failed.",
     true, false},
    {"dispatcher", [](ServiceRig& r, ManualThreads&) { r.manager.fail.dispatcher = 1063u; },
     Drive::Service, 0, E, u"start service control dispatcher failed, GetLastErrorCode: 1063",
     true, false},
    {"open_manager_install",
     [](ServiceRig& r, ManualThreads&) {
       r.manager.deleteAll();
       r.manager.fail.openManager = true;
     },
     Drive::Install, -1, E, u"open service control manager failed.", false, false},
    {"module_file_name",
     [](ServiceRig& r, ManualThreads&) {
       r.manager.deleteAll();
       r.manager.fail.moduleFileName = true;
     },
     Drive::Install, -1, E, u"get module file name failed.", false, false},
    {"create_service",
     [](ServiceRig& r, ManualThreads&) { r.manager.fail.createService = true; }, Drive::Install,
     -1, E, u"create service failed.", true, false},
    {"open_manager_uninstall",
     [](ServiceRig& r, ManualThreads&) { r.manager.fail.openManager = true; }, Drive::Uninstall,
     -1, E, u"open service control manager failed.", true, false},
    {"open_service", [](ServiceRig& r, ManualThreads&) { r.manager.deleteAll(); },
     Drive::Uninstall, -1, E, u"Open talvex windows update service failed.", false, false},
    {"query_status", [](ServiceRig& r, ManualThreads&) { r.manager.fail.queryStatus = true; },
     Drive::Uninstall, -1, E, u"query service status failed.", true, false},
    {"delete_service", [](ServiceRig& r, ManualThreads&) { r.manager.fail.deleteService = true; },
     Drive::Uninstall, -1, E, u"service delete failed.", true, false},
    {"self_removal",
     [](ServiceRig& r, ManualThreads&) {
       upToDate(r);
       r.manager.fail.deleteService = true;
     },
     Drive::Arrival, 0, E, u"service delete failed.", true, true},
};

int run(const Fault& fault, ServiceRig& rig, ManualThreads& threads) {
  const char* const install[] = {"svc", "install"};
  const char* const uninstall[] = {"svc", "uninstall"};
  const char* const service[] = {"svc"};
  switch (fault.drive) {
    case Drive::Arrival: {
      rig.startService();
      rig.arrive();
      const auto exitCodes = threads.runPending();
      return exitCodes.empty() ? -1 : static_cast<int>(exitCodes.front());
    }
    case Drive::Start: {
      serviceMain(*rig.env, 0, nullptr);
      const auto states = rig.manager.publishedStates();
      return states.empty() ? 0 : static_cast<int>(states.back());
    }
    case Drive::Service:
      return serviceEntryPoint(1, service, *rig.env);
    case Drive::Install:
      return serviceEntryPoint(2, install, *rig.env);
    case Drive::Uninstall:
      return serviceEntryPoint(2, uninstall, *rig.env);
  }
  return -2;
}

class InjectedFault : public ::testing::TestWithParam<Fault> {};

TEST_P(InjectedFault, IsReportedAndLeavesNothingBehind) {
  const Fault& fault = GetParam();
  ManualThreads threads;
  ServiceRig rig(threads);
  fault.inject(rig, threads);
  rig.build();

  EXPECT_EQ(run(fault, rig, threads), fault.outcome);
  EXPECT_TRUE(rig.reported(fault.type, fault.message));
  EXPECT_EQ(rig.manager.registration(kServiceName).has_value(), fault.stillRegistered);
  EXPECT_EQ(!rig.processes.commandLines().empty(), fault.toolStarted);
  rig.expectNothingLostOrLeftOpen();
  // A service that has stopped has given its notification back; a running one holds at most one.
  const auto states = rig.manager.publishedStates();
  const bool stopped = !states.empty() && states.back() == kServiceStopped;
  EXPECT_EQ(rig.manager.openNotifications(), stopped ? 0u : rig.manager.openNotifications());
  EXPECT_LE(rig.manager.openNotifications(), 1u);
}

INSTANTIATE_TEST_SUITE_P(FaultMatrix, InjectedFault, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<Fault>& row) {
                           return std::string(row.param.name);
                         });

// A stop after a failed notification registration still stops the service cleanly.
TEST(FaultMatrixFollowUp, ServiceWithoutNotificationStillStops) {
  ManualThreads threads;
  ServiceRig rig(threads);
  rig.manager.fail.deviceNotification = true;
  rig.build();
  serviceMain(*rig.env, 0, nullptr);
  rig.manager.sendControl(kServiceControlStop);
  EXPECT_EQ(rig.manager.publishedStates().back(), kServiceStopped);
  EXPECT_FALSE(rig.reported(I, u"unregister device notification."));
  rig.expectNothingLostOrLeftOpen();
}

}  // namespace
}  // namespace qwus
