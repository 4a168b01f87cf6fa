// Tests of the command-line table, the dispatcher and the service's registration.
#include "service/entry_point.h"

#include <map>
#include <memory>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <sddl.h>
#endif

#include "platform/command_line.h"
#include "service/service_registration.h"
#include "service/service_test_support.h"
#include "tests/fakes/firmware_package.h"
#include "service/service_control.h"
#include "upgrade/upgrade_outcome.h"

namespace qwus {
namespace {

using testing::Message;
using testing::ServiceTest;
constexpr auto W = EventType::Warning;
constexpr auto E = EventType::Error;
constexpr auto S = EventType::Success;

#ifdef _WIN32
// The rights each account gets from an SDDL text, as the system's own parser reads it: string SID
// to access mask. Empty when the text does not parse.
std::map<std::wstring, std::uint32_t> rightsBySid(const std::u16string& sddl) {
  std::map<std::wstring, std::uint32_t> rights;
  PSECURITY_DESCRIPTOR raw = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
          reinterpret_cast<const wchar_t*>(sddl.c_str()), SDDL_REVISION_1, &raw, nullptr)) {
    return rights;
  }
  const std::unique_ptr<void, decltype(&LocalFree)> descriptor(raw, &LocalFree);
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  if (GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted) && present &&
      dacl) {
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
      void* ace = nullptr;
      if (!GetAce(dacl, i, &ace)) continue;
      auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
      if (allowed->Header.AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
      wchar_t* sid = nullptr;
      if (ConvertSidToStringSidW(&allowed->SidStart, &sid)) {
        const std::unique_ptr<wchar_t, decltype(&LocalFree)> text(sid, &LocalFree);
        rights[text.get()] |= allowed->Mask;
      }
    }
  }
  return rights;
}
#endif

class EntryPointTest : public ServiceTest {
 protected:
  int run(std::vector<const char*> arguments) {
    arguments.insert(arguments.begin(), "QuorlanWindowsUpdateService.exe");
    return serviceEntryPoint(static_cast<int>(arguments.size()), arguments.data(), *env);
  }
};

TEST_F(EntryPointTest, CommandLineTable) {
  enum class Installed { No, Stopped, Running };
  const struct {
    const char* name;
    std::vector<const char*> arguments;
    Installed installed;
    int exitStatus;
    std::vector<Message> messages;
    // The outcome event source's registration before and after.
    bool sourceBefore;
    bool sourceAfter;
  } cases[] = {
      {"install", {"install"}, Installed::No, 0,
       {{W, u"service start install."}, {S, u"create service success."},
        {S, u"service install success."}},
       false, true},
      {"install again", {"install"}, Installed::Stopped, -1,
       {{W, u"service start install."}, {E, u"create service failed."},
        {E, u"service install failed."}},
       false, false},
      {"uninstall stopped", {"uninstall"}, Installed::Stopped, 0,
       {{W, u"service stopped."}, {S, u"service delete success."},
        {S, u"service uninstall success."}},
       true, false},
      {"uninstall running", {"uninstall"}, Installed::Running, -1,
       {{E, u"service not stopped, can not delete this service."},
        {E, u"service uninstall failed."}},
       true, true},
      {"uninstall missing", {"uninstall"}, Installed::No, -1,
       {{E, u"Open talvex windows update service failed."}, {E, u"service uninstall failed."}},
       true, true},
      {"capitalised", {"Install"}, Installed::No, -1, {{E, u"service start with bad parameters."}},
       false, false},
      {"upper case", {"INSTALL"}, Installed::No, -1, {{E, u"service start with bad parameters."}},
       false, false},
      {"longer word", {"installx"}, Installed::No, -1,
       {{E, u"service start with bad parameters."}}, false, false},
      {"prefix", {"uninstal"}, Installed::No, -1, {{E, u"service start with bad parameters."}},
       true, true},
      {"empty", {""}, Installed::No, -1, {{E, u"service start with bad parameters."}}, false,
       false},
      {"extra argument", {"install", "now"}, Installed::No, -1,
       {{E, u"service start with bad parameters."}}, false, false},
      {"two uninstalls", {"uninstall", "uninstall"}, Installed::Stopped, -1,
       {{E, u"service start with bad parameters."}}, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    log.clear();
    manager.deleteAll();
    if (c.installed != Installed::No) {
      manager.addRegistration(kServiceName,
                              c.installed == Installed::Running ? kServiceRunning : kServiceStopped);
    }
    if (c.sourceBefore) manager.registerEventSource(kOutcomeSourceName, u"x");
    EXPECT_EQ(run(c.arguments), c.exitStatus);
    EXPECT_EQ(serviceMessages(), c.messages);
    EXPECT_EQ(manager.openHandles(), 0u);
    EXPECT_EQ(manager.eventSources().count(kOutcomeSourceName) == 1, c.sourceAfter);
  }
}

TEST_F(EntryPointTest, RunningServiceIsNeverStoppedOrDeletedByUninstall) {
  manager.addRegistration(kServiceName, kServiceRunning);
  EXPECT_EQ(run({"uninstall"}), -1);
  ASSERT_TRUE(manager.registration(kServiceName));
  EXPECT_EQ(manager.registration(kServiceName)->currentState, kServiceRunning);
}

TEST_F(EntryPointTest, InstallRegistersTheRunningExecutableExactly) {
  manager.modulePath = u"C:\\Program Files\\Quorlan\\orvale\\Services\\QuorlanWindowsUpdateService.exe";
  ASSERT_EQ(run({"install"}), 0);
  const auto registration = manager.registration(kServiceName);
  ASSERT_TRUE(registration);
  EXPECT_EQ(registration->displayName, kServiceName);
  // The service control manager splits the image path as a command line: it must give back the
  // executable's path whole, as the one and only argument, blanks and all.
  EXPECT_EQ(splitCommandLine(registration->binaryPath), std::vector<Text>{manager.modulePath});
  EXPECT_EQ(registration->desiredAccess, 0xF01FFu);
  EXPECT_EQ(registration->serviceType, 0x10u);
  EXPECT_EQ(registration->startType, 2u);
  EXPECT_EQ(registration->errorControl, 3u);
  ASSERT_FALSE(registration->securityDescriptor.empty());
#ifdef _WIN32
  // SYSTEM: every right the service control manager has for it; the Administrators: all; an
  // interactive or service logon: query config and status, enumerate dependents, read control,
  // and neither SERVICE_INTERROGATE (0x80) nor SERVICE_USER_DEFINED_CONTROL (0x100).
  EXPECT_EQ(rightsBySid(registration->securityDescriptor),
            (std::map<std::wstring, std::uint32_t>{{L"S-1-5-18", 0x201FDu},
                                                   {L"S-1-5-32-544", 0xF01FFu},
                                                   {L"S-1-5-4", 0x2000Du},
                                                   {L"S-1-5-6", 0x2000Du}}));
#endif
  EXPECT_EQ(manager.calls(),
            (std::vector<std::string>{"openManager 2", "createService", "registerEventSource",
                                      "close service", "close manager"}));
  // The outcome source, with the message file beside the executable.
  EXPECT_EQ(manager.eventSources(),
            (std::map<std::u16string, std::u16string>{
                {u"OrvaleUpgradeOutcome",
                 u"C:\\Program Files\\Quorlan\\orvale\\Services\\QuorlanEventMessages.dll"}}));
}

// The service's removal of its own registration after an upgrade keeps the outcome source, so
// that the outcome event it just wrote stays readable; a failed registration of the source leaves
// the install a success.
TEST_F(EntryPointTest, SelfRemovalKeepsTheOutcomeSourceAndItsFailureKeepsTheInstall) {
  manager.fail.registerEventSource = true;
  ASSERT_EQ(run({"install"}), 0);
  EXPECT_TRUE(manager.eventSources().empty());
  manager.fail.registerEventSource = false;
  manager.registerEventSource(kOutcomeSourceName, u"C:\\QuorlanEventMessages.dll");
  ASSERT_EQ(uninstallService(*env), 0);
  EXPECT_FALSE(manager.registration(kServiceName));
  EXPECT_EQ(manager.eventSources().count(kOutcomeSourceName), 1u);
}

TEST_F(EntryPointTest, ModulePathThatFillsTheBufferIsAFailure) {
  const std::u16string folder = u"C:\\Program Files\\";
  const struct {
    std::size_t length;
    bool registered;
  } cases[] = {{259, true}, {260, false}, {300, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.length);
    log.clear();
    manager.deleteAll();
    manager.modulePath = folder + std::u16string(c.length - folder.size() - 4, u'x') + u".exe";
    EXPECT_EQ(run({"install"}), c.registered ? 0 : -1);
    EXPECT_EQ(manager.registration(kServiceName).has_value(), c.registered);
    if (c.registered) {
      EXPECT_EQ(splitCommandLine(manager.registration(kServiceName)->binaryPath),
                std::vector<Text>{manager.modulePath});
    } else {
      EXPECT_EQ(serviceMessages(),
                (std::vector<Message>{{W, u"service start install."},
                                      {E, u"get module file name failed."},
                                      {E, u"service install failed."}}));
    }
    EXPECT_EQ(manager.openHandles(), 0u);
  }
}

TEST_F(EntryPointTest, RegistrationFailuresReportOnceAndCloseWhatWasOpened) {
  using Failures = testing::FakeServiceManager::Failures;
  const struct {
    const char* name;
    bool install;
    bool Failures::*failure;
    std::u16string message;
  } cases[] = {
      {"install: manager", true, &Failures::openManager, u"open service control manager failed."},
      {"install: module path", true, &Failures::moduleFileName, u"get module file name failed."},
      {"install: create", true, &Failures::createService, u"create service failed."},
      {"uninstall: manager", false, &Failures::openManager, u"open service control manager failed."},
      {"uninstall: query", false, &Failures::queryStatus, u"query service status failed."},
      {"uninstall: delete", false, &Failures::deleteService, u"service delete failed."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    log.clear();
    manager.deleteAll();
    if (!c.install) manager.addRegistration(kServiceName, kServiceStopped);
    manager.fail.*c.failure = true;
    EXPECT_EQ(c.install ? installService(*env) : uninstallService(*env), 1);
    const auto texts = serviceTexts();
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.back(), c.message);
    EXPECT_EQ(std::count(texts.begin(), texts.end(), c.message), 1);
    EXPECT_EQ(serviceMessages().back().first, E);
    EXPECT_EQ(manager.openHandles(), 0u);
  }
}

TEST_F(EntryPointTest, UninstallOpensWithDeleteAndQueryAccessAndClosesServiceFirst) {
  manager.addRegistration(kServiceName, kServiceStopped);
  ASSERT_EQ(uninstallService(*env), 0);
  EXPECT_EQ(manager.calls(),
            (std::vector<std::string>{"openManager 1", "openService 65540", "queryStatus",
                                      "deleteService", "close service", "close manager"}));
  EXPECT_FALSE(manager.registration(kServiceName));
}

TEST_F(EntryPointTest, OutsideTheServiceManagerTheDispatcherFailsButExitStatusIsZero) {
  manager.fail.dispatcher = 1063;
  EXPECT_EQ(run({}), 0);
  EXPECT_EQ(serviceMessages(),
            (std::vector<Message>{
                {W, u"run talvex windows update normally."},
                {E, u"start service control dispatcher failed, GetLastErrorCode: 1063"}}));
}

// A virtual clock on which a run still under way finishes once `finishAfter` ms have passed
// (never when 0).
class RemovalClock final : public Clock {
 public:
  explicit RemovalClock(std::uint32_t finishAfter) : finishAfter_(finishAfter) {}
  void sleep(std::uint32_t milliseconds) override {
    elapsed += milliseconds;
    if (removals != nullptr && elapsed == finishAfter_) removals->end();
  }
  InFlight* removals = nullptr;
  std::uint32_t elapsed = 0;

 private:
  std::uint32_t finishAfter_;
};

TEST_F(EntryPointTest, ProcessWaitsAtMostTwoMinutesForRunsUnderWay) {
  const struct {
    std::uint32_t finishAfter;
    std::uint32_t waited;
  } cases[] = {{0, 0}, {1200, 1200}, {50100, 50100}, {120000, 120000}, {150000, 120000}};
  for (const auto& c : cases) {
    // The wait runs on the service's clock, or on the exit clock when the wiring gives one.
    for (const bool onExitClock : {false, true}) {
      SCOPED_TRACE(c.finishAfter);
      SCOPED_TRACE(onExitClock);
      RemovalClock removalClock(c.finishAfter);
      ServiceEnvironment waiting{sources.service, sources.outcome, manager, threads,
                                 onExitClock ? static_cast<Clock&>(clock) : removalClock,
                                 env->engine, {}, {}};
      if (onExitClock) waiting.exitClock = &removalClock;
      removalClock.removals = &waiting.runs;
      if (c.finishAfter != 0) waiting.runs.begin();
      manager.fail.dispatcher = 1063;
      const char* const arguments[] = {"QuorlanWindowsUpdateService.exe"};
      EXPECT_EQ(serviceEntryPoint(1, arguments, waiting), 0);
      EXPECT_EQ(removalClock.elapsed, c.waited);
      EXPECT_TRUE(clock.waits().empty());
    }
  }
}

// Runs what ManualThreads holds at the first wait of the process's end: the runs that were under
// way when the service stopped go on while the main thread waits for them.
class RunsWhileWaitingClock final : public Clock {
 public:
  explicit RunsWhileWaitingClock(testing::ManualThreads& threads) : threads_(threads) {}
  void sleep(std::uint32_t /*milliseconds*/) override {
    if (!ran_) threads_.runPending();
    ran_ = true;
  }

 private:
  testing::ManualThreads& threads_;
  bool ran_ = false;
};

// On a PC the device's return in runtime mode after the download starts a run that finds it
// current and stops the service while the detach's run is still in its 50 s wait. The process
// must not end before that run has reported.
TEST_F(EntryPointTest, ARunOvertakenByAnotherRunsStopStillReportsBeforeTheProcessEnds) {
  manager.addRegistration(kServiceName, kServiceStopped);
  files.addFile(u"C:\\Program Files\\Quorlan\\orvale\\Services\\orvale-0102.dfu",
                testing::firmwarePackage(0x0102));
  const std::string line = "Found Runtime: [c4e2:8351] ver=%s, devnum=7, cfg=1, intf=0, "
                           "path=\"1-1\", alt=0, name=\"Orvale\", serial=\"A7X2249\"\r\n";
  const auto listing = [&line](const char* version) {
    std::string text = line;
    text.replace(text.find("%s"), 2, version);
    return "dfu-util 0.11\r\n\r\n" + text;
  };
  // The run started second goes first: it finds the device current.
  processes.scriptOutput({listing("0102")});
  processes.scriptOutput({listing("0100")});
  processes.scriptOutput({"Device will detach and reattach...\r\n"});
  RunsWhileWaitingClock exitClock(threads);
  env->exitClock = &exitClock;

  int exitStatus = 99;
  std::thread process([&] { exitStatus = run({}); });
  ASSERT_TRUE(manager.waitForRunning());
  const std::u16string path = u"\\\\?\\USB#VID_C4E2&PID_8351#A7X2249";
  DeviceInterfaceEvent event{watchedInterfaceClass, path.c_str()};
  manager.sendControl(kServiceControlDeviceEvent, kDbtDeviceArrival, &event);
  manager.sendControl(kServiceControlDeviceEvent, kDbtDeviceArrival, &event);
  threads.runNewest();
  process.join();

  EXPECT_EQ(exitStatus, 0);
  EXPECT_EQ(threads.pending(), 0u);
  std::vector<std::uint32_t> outcomes;
  for (const auto& reported : log.events()) {
    if (reported.source == kOutcomeSourceName) outcomes.push_back(reported.id);
  }
  // Current, then the detach that the stop overtook.
  EXPECT_EQ(outcomes, (std::vector<std::uint32_t>{outcomeMessageId(UpgradeOutcome::UpToDate),
                                                  outcomeMessageId(UpgradeOutcome::Detached)}));
  EXPECT_EQ(processes.commandLines().size(), 3u);
}

TEST_F(EntryPointTest, ServiceRunsUntilStoppedThenReportsSuccess) {
  manager.addRegistration(kServiceName, kServiceStopped);
  int exitStatus = 99;
  std::thread process([&] { exitStatus = run({}); });
  // A stop may come while the service main routine still reports; this test stops a service
  // that has finished starting.
  const auto started = [this] {
    const auto texts = serviceTexts();
    return !texts.empty() && texts.back() == u"initialize service success.";
  };
  for (int i = 0; i < 1000 && !started(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  manager.sendControl(kServiceControlStop);
  process.join();
  EXPECT_EQ(exitStatus, 0);
  const auto texts = serviceTexts();
  ASSERT_GE(texts.size(), 2u);
  EXPECT_EQ(texts.front(), u"run talvex windows update normally.");
  // The stop's own reports come first, even though the dispatcher returns as soon as the service
  // is reported stopped and the handler runs on another thread here.
  EXPECT_EQ(texts[texts.size() - 2], u"service control stop success.");
  EXPECT_EQ(serviceMessages().back(), (Message{S, u"run service success"}));
  EXPECT_EQ(sources.service.nextEventId.load(), 1u + texts.size());
}

}  // namespace
}  // namespace qwus
