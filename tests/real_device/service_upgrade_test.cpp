// The service with real processes: the engine starts dfu-util.exe, which is Debian's dfu-util
// talking to the emulated Orvale device. Whole upgrades, and each misbehaviour of the device.
#include <gtest/gtest.h>

#include <memory>
#include <ostream>

#include "platform/file_system.h"
#include "platform/process.h"
#include "service/device_arrival.h"
#include "service/service_context.h"
#include "service/service_control.h"
#include "service/service_environment.h"
#include "tests/fakes/fake_service_manager.h"
#include "tests/fakes/manual_threads.h"
#include "tests/fakes/recording_event_log.h"
#include "tests/fakes/recording_trace_output.h"
#include "tests/fakes/stand_in_tool.h"
#include "tests/fakes/virtual_clock.h"
#include "tests/real_device/emulated_tool.h"

namespace qwus {
namespace {

using testing::DeviceStateFile;

// One outcome event: the id that names the outcome, its type and its strings (serial number,
// version before, package version, package name, the tool's last line).
struct Outcome {
  std::uint32_t id;
  EventType type;
  std::vector<std::u16string> strings;
  bool operator==(const Outcome&) const = default;
};

void PrintTo(const Outcome& o, std::ostream* out) {
  *out << o.id << " " << static_cast<int>(o.type);
  for (const auto& s : o.strings) *out << " [" << toUtf8(s) << "]";
}

class RealDeviceService : public ::testing::Test {
 protected:
  RealDeviceService() {
    manager.addRegistration(kServiceName, kServiceStopped);
    EXPECT_TRUE(testing::makeDfuSuffixPackage(install.path() / "orvale-0101.dfu", 0x0101));
    EXPECT_TRUE(testing::makeDfuSuffixPackage(install.path() / "orvale-0102.dfu", 0x0102));
  }

  void start(const DeviceStateFile& device) {
    testing::installEmulatedTool(tool.path(), device);
    context = std::make_unique<ServiceContext>(env);
    initializeService(*context);
  }

  // One arrival of the Orvale device, its worker run to its end; returns the worker's exit code.
  std::uint32_t arriveAndWork() {
    const std::u16string path = u"\\\\?\\USB#VID_C4E2&PID_8351#A7X2249";
    DeviceInterfaceEvent event{watchedInterfaceClass, path.c_str()};
    manager.sendControl(kServiceControlDeviceEvent, kDbtDeviceArrival, &event);
    const auto exitCodes = threads.runPending();
    EXPECT_EQ(exitCodes.size(), 1u);
    return exitCodes.empty() ? 99 : exitCodes.front();
  }

  bool registered() const { return manager.registration(kServiceName).has_value(); }
  // The outcome events of the runs so far, in order: their event ids as Event Viewer shows them,
  // types and strings.
  std::vector<Outcome> outcomes() const {
    std::vector<Outcome> found;
    for (const auto& event : log.events()) {
      if (event.source == kOutcomeSourceName) {
        found.push_back({event.id & 0xFFFF, event.type, event.strings});
      }
    }
    return found;
  }
  DeviceStateFile device() const { return testing::emulatedState(tool.path()); }
  bool reported(EventType type, const std::u16string& text) const {
    for (const auto& event : log.events()) {
      if (event.type == type && event.text == text) return true;
    }
    return false;
  }

  testing::TemporaryDirectory install;
  testing::TemporaryDirectory tool;
  std::unique_ptr<ProcessLauncher> launcher = processLauncherIn(testing::pathText(tool.path()));
  testing::RecordingEventLog log;
  ProcessEventSources sources{log};
  testing::FakeServiceManager manager;
  testing::ManualThreads threads;
  testing::VirtualClock clock;
  testing::RecordingTraceOutput trace;
  ServiceEnvironment env{sources.service,
                         sources.outcome,
                         manager,
                         threads,
                         clock,
                         UpgradeEnvironment{sources.engine, systemFileSystem(), *launcher, clock,
                                            trace, install.text()},
                         {},
                         {}};
  std::unique_ptr<ServiceContext> context;
};

constexpr auto S = EventType::Success;
constexpr auto I = EventType::Information;
constexpr auto W = EventType::Warning;
constexpr auto E = EventType::Error;

// An expected event: on the service's source (true) or the engine's, its type and its text.
struct Expected {
  bool service;
  EventType type;
  Text text;
  bool operator==(const Expected&) const = default;
};

void PrintTo(const Expected& e, std::ostream* out) {
  *out << (e.service ? "service " : "engine ") << static_cast<int>(e.type) << " " << toUtf8(e.text);
}

const Text kHeading =
    u"dfu-util 0.11\n\nCopyright 2005-2009 Weston Schmidt, Harald Welte and OpenMoko Inc.\n"
    u"Copyright 2010-2021 Tormod Volden and Stefan Schmidt\n"
    u"This program is Free Software and has ABSOLUTELY NO WARRANTY\n"
    u"Please report bugs to http://sourceforge.net/p/dfu-util/tickets/\n\n";

// The events of the engine, which formats each into 256 characters.
Expected engine(Text text) { return {false, I, text.substr(0, 255)}; }

std::vector<Expected> arrival() {
  return {{true, I, u"control code: SERVICE_CONTROL_DEVICEEVENT."},
          {true, I, u"dwEventType: 32768"},
          {true, I, u"device event: device arrival, waiting for 5 seconds..."},
          {true, I, u"Guid = {5E1C7A93-2B64-4D0F-9A83-C61E27B4D850}"},
          {true, W, u"arrival device is Quorlan Orvale."}};
}

std::vector<Expected> packageChoice(const Text& directory, bool deletesOld) {
  std::vector<Expected> events = {engine(u"initUpgradeInfo packageList= " + directory + u"*.dfu"),
                                  engine(u"file delete   \uFF01")};
  if (deletesOld)
    events.push_back(engine(u"file delete  " + directory + u"orvale-0101.dfu \uFF01"));
  events.push_back(engine(u"get targetVersion is 0102!"));
  return events;
}

// A listing whose only device line is `line`, which needs the upgrade.
std::vector<Expected> listingOf(const Text& line, int mode) {
  std::vector<Expected> events = {
      engine(u"doCmd updev.mode 2 cmdline is dfu-util.exe -l"),
      engine(u"handlePipeInfo updev.mode 2 strOutput= " + kHeading + line + u"\n"),
      engine(u"analyseBuffer strTmp= " + line), engine(u"initDev devData= " + line),
      engine(u"enter initDev 1")};
  if (mode == 0) events.push_back(engine(u"updev.mode is  0"));
  for (const Text text :
       {u"curDev.version is 0100 targetVersion is 0102", u"initDev updev.cfgId= 1",
        u"initDev updev.sn= A7X2249", u"leave initDev"}) {
    events.push_back(engine(text));
  }
  events.push_back(engine(u"analyseBuffer updev.mode " + fromAscii(std::to_string(mode))));
  return events;
}

template <typename... Lists>
std::vector<Expected> concat(const Lists&... lists) {
  std::vector<Expected> all;
  (all.insert(all.end(), lists.begin(), lists.end()), ...);
  return all;
}

TEST_F(RealDeviceService, TwoArrivalUpgradeWithTheRealTool) {
  start(DeviceStateFile{});
  const Text dir = install.text();
  const Text detach = u"dfu-util.exe -d c4e2:8351,c4e2:8352 -S A7X2249 -c 1 -e";
  const Text download =
      u"dfu-util.exe -d c4e2:8351,c4e2:8352 -S A7X2249 -D \"" + dir + u"orvale-0102.dfu\"";
  const Text detachOutput =
      kHeading +
      u"Opening DFU capable USB device...\nDevice ID c4e2:8351\nDevice DFU version 0110\n"
      u"Claiming USB DFU (Run-Time) Interface...\nSetting Alternate Interface zero...\n"
      u"Determining device status...\n"
      u"DFU state(0) = appIDLE, status(0) = No error condition is present\n"
      u"Device really in Run-Time Mode, send DFU detach request...\n"
      u"Device will detach and reattach...\n";
  const std::vector<Text> downloadLines = {
      u"Copyright 2005-2009 Weston Schmidt, Harald Welte and OpenMoko Inc.",
      u"Copyright 2010-2021 Tormod Volden and Stefan Schmidt",
      u"This program is Free Software and has ABSOLUTELY NO WARRANTY",
      u"Please report bugs to http://sourceforge.net/p/dfu-util/tickets/",
      u"Opening DFU capable USB device...",
      u"Device ID c4e2:8352",
      u"Device DFU version 0110",
      u"Claiming USB DFU Interface...",
      u"Setting Alternate Interface #0 ...",
      u"Determining device status...",
      u"DFU state(2) = dfuIDLE, status(0) = No error condition is present",
      u"DFU mode device DFU version 0110",
      u"Device returned transfer size 1024",
      u"Copying data from PC to DFU device",
      u"\rDownload\t[                         ]   0%            0 bytes"
      u"\rDownload\t[============             ]  50%           23 bytes"
      u"\rDownload\t[=========================] 100%           23 bytes",
      u"Download done.",
      u"DFU state(7) = dfuMANIFEST, status(0) = No error condition is present",
      u"DFU state(2) = dfuIDLE, status(0) = No error condition is present",
      u"Done!"};
  std::vector<Expected> downloadReport;
  for (const Text& line : downloadLines) {
    downloadReport.push_back(engine(u"analyseBuffer countCmd == 1 strTmp= " + line));
  }
  downloadReport.push_back(engine(u"analyseBuffer updev.mode 1"));
  const Text runtimeLine =
      u"Found Runtime: [c4e2:8351] ver=0100, devnum=7, cfg=1, intf=0, path=\"1-1\", alt=0, "
      u"name=\"Orvale\", serial=\"A7X2249\"";
  const Text dfuLine =
      u"Found DFU: [c4e2:8352] ver=0100, devnum=8, cfg=1, intf=0, path=\"1-1\", alt=0, "
      u"name=\"Orvale Firmware\", serial=\"A7X2249\"";

  EXPECT_EQ(arriveAndWork(), 0u);
  EXPECT_TRUE(registered());
  EXPECT_EQ(device().mode, "dfu");
  EXPECT_EQ(arriveAndWork(), 0u);

  const std::vector<Expected> expected = concat(
      std::vector<Expected>{{true, I, u"enter initialize service function."},
                            {true, I, u"register service control handler success."},
                            {true, I, u"enter registerStart function."},
                            {true, S, u"register device notification success."}},
      // First arrival: runtime at 0100, detached.
      arrival(), packageChoice(dir, true), listingOf(runtimeLine, 0),
      std::vector<Expected>{engine(u"starting doUpgrade "), engine(u"enter doDevDetach "),
                            engine(u"cmdline is " + detach),
                            engine(u"doCmd updev.mode 0 cmdline is " + detach),
                            engine(u"handlePipeInfo updev.mode 0 strOutput= " + detachOutput),
                            // The detach's report names the device: read, and found stateless.
                            engine(u"analyseBuffer strTmp= Device ID c4e2:8351"),
                            engine(u"initDev devData= Device ID c4e2:8351"),
                            engine(u"enter initDev 1"), engine(u"analyseBuffer updev.mode 0")},
      // Second arrival: back in DFU mode, downloaded.
      arrival(), packageChoice(dir, false), listingOf(dfuLine, 1),
      std::vector<Expected>{
          engine(u"starting doUpgrade "), engine(u"cmdline is " + download),
          engine(u"doCmd updev.mode 1 cmdline is " + download), engine(u"doCmd enter sleep"),
          engine(u"doCmd end sleep"),
          engine(u"handlePipeInfo updev.mode 1 strOutput= " + kHeading + downloadLines[4] + u"\n")},
      downloadReport,
      std::vector<Expected>{{true, W, u"arrival device handled completely."},
                            {true, I, u"enter onStop function."},
                            {true, I, u"unregister device notification."},
                            {true, W, u"service stopped."},
                            {true, S, u"service delete success."}});
  std::vector<Expected> actual;
  for (const auto& event : log.events()) {
    if (event.source == kOutcomeSourceName) continue;
    actual.push_back({event.source == kServiceSourceName, event.type, event.text});
  }
  EXPECT_EQ(actual, expected);
  // Each arrival's run ends in its outcome: the detach, then the download the tool reported done.
  EXPECT_EQ(outcomes(),
            (std::vector<Outcome>{
                {1005, I, {u"A7X2249", u"0100", u"0102", u"orvale-0102.dfu",
                           u"Device will detach and reattach..."}},
                {1000, I, {u"A7X2249", u"0100", u"0102", u"orvale-0102.dfu", u"Done!"}}}));

  EXPECT_EQ(device().mode, "runtime");
  EXPECT_EQ(device().version, "0102");
  EXPECT_FALSE(std::filesystem::exists(install.path() / "orvale-0101.dfu"));
  EXPECT_TRUE(std::filesystem::exists(install.path() / "orvale-0102.dfu"));
  EXPECT_FALSE(registered());
  EXPECT_EQ(manager.publishedStates().back(), kServiceStopped);
}

// The misbehaviours of the field, each through the same path: what the service reports, whether
// it keeps its registration, and where the device ends up.

TEST_F(RealDeviceService, DeviceStaysAwayAfterTheDetach) {
  DeviceStateFile away;
  away.absentAfterDetach = 5;
  start(away);
  EXPECT_EQ(arriveAndWork(), 0u);
  EXPECT_TRUE(registered());
  // The service waits for an arrival that does not come; any later arrival finds no device.
  EXPECT_EQ(arriveAndWork(), 0u);
  EXPECT_TRUE(reported(I, u"updev.mode is  2 retry is 0"));
  EXPECT_TRUE(reported(W, u"arrival device handled completely."));
  EXPECT_FALSE(registered());
  EXPECT_EQ(device().mode, "dfu");
  EXPECT_EQ(device().version, "0100");
  ASSERT_EQ(outcomes().size(), 2u);
  EXPECT_EQ(outcomes()[0].id, 1005u);
  EXPECT_EQ(outcomes()[1],
            (Outcome{1003, W, {u"", u"", u"0102", u"orvale-0102.dfu", u"Please report bugs to http://sourceforge.net/p/dfu-util/tickets/"}}));
}

TEST_F(RealDeviceService, DeviceDetachesOnlyOnAUsbReset) {
  DeviceStateFile needsReset;
  needsReset.detachNeedsReset = true;
  start(needsReset);
  EXPECT_EQ(arriveAndWork(), 0u);
  EXPECT_EQ(device().mode, "dfu");  // the tool reset it
  EXPECT_EQ(arriveAndWork(), 0u);
  EXPECT_FALSE(registered());
  EXPECT_EQ(device().version, "0102");
}

TEST_F(RealDeviceService, DownloadErrorKeepsTheOldFirmwareButCountsAsHandled) {
  DeviceStateFile failing;
  failing.mode = "dfu";
  failing.downloadError = true;
  start(failing);
  EXPECT_EQ(arriveAndWork(), 0u);
  EXPECT_TRUE(reported(I,
                       u"analyseBuffer countCmd == 1 strTmp= DFU state(10) = dfuERROR, "
                       u"status(3) = Device is unable to write memory"));
  EXPECT_TRUE(reported(W, u"arrival device handled completely."));
  EXPECT_FALSE(registered());
  EXPECT_EQ(device().mode, "dfu");
  EXPECT_EQ(device().version, "0100");
  EXPECT_EQ(outcomes(), (std::vector<Outcome>{{1001, EventType::Error,
                                               {u"A7X2249", u"0100", u"0102", u"orvale-0102.dfu",
                                                u"DFU state(10) = dfuERROR, status(3) = Device is unable to write memory"}}}));
}

TEST_F(RealDeviceService, DeviceThatCannotBeOpenedIsNotSeen) {
  DeviceStateFile denied;
  denied.accessDenied = true;
  start(denied);
  EXPECT_EQ(arriveAndWork(), 0u);
  EXPECT_TRUE(reported(I,
                       u"analyseBuffer strTmp= dfu-util: Cannot open DFU device c4e2:8351 "
                       u"found on devnum 7 (LIBUSB_ERROR_ACCESS)"));
  EXPECT_TRUE(reported(I, u"updev.mode is  2 retry is 0"));
  EXPECT_FALSE(reported(I, u"return for latest build!"));
  EXPECT_FALSE(registered());
  EXPECT_EQ(device().mode, "runtime");
  EXPECT_EQ(device().version, "0100");
  // A device the tool cannot open is a device not seen.
  EXPECT_EQ(outcomes(), (std::vector<Outcome>{{1003, W,
                                               {u"", u"", u"0102", u"orvale-0102.dfu",
                                                u"dfu-util: Cannot open DFU device c4e2:8351 found on devnum 7 "
                                                u"(LIBUSB_ERROR_ACCESS)"}}}));
}

TEST_F(RealDeviceService, UnrelatedDfuDeviceOnTheBusIsLeftAlone) {
  DeviceStateFile crowded;
  crowded.otherDevice = true;
  start(crowded);
  EXPECT_NE(
      testing::runWithToolFrom(tool.path(), u"dfu-util.exe -l").find("Found DFU: [0483:df11]"),
      std::string::npos);
  EXPECT_EQ(arriveAndWork(), 0u);
  EXPECT_EQ(arriveAndWork(), 0u);
  EXPECT_FALSE(registered());
  EXPECT_EQ(device().version, "0102");
}

TEST_F(RealDeviceService, OtherSerialNumberInDfuModeIsFollowed) {
  DeviceStateFile renamed;
  renamed.dfuSerial = "B0000";
  start(renamed);
  EXPECT_EQ(arriveAndWork(), 0u);
  EXPECT_EQ(arriveAndWork(), 0u);
  EXPECT_TRUE(reported(I, u"cmdline is dfu-util.exe -d c4e2:8351,c4e2:8352 -S B0000 -D \"" +
                              install.text() + u"orvale-0102.dfu\""));
  EXPECT_FALSE(registered());
  EXPECT_EQ(device().mode, "runtime");
  EXPECT_EQ(device().version, "0102");
}

TEST_F(RealDeviceService, SeveralAlternateSettingsStopTheDownload) {
  DeviceStateFile alternates;
  alternates.mode = "dfu";
  alternates.altSettings = 3;
  start(alternates);
  EXPECT_EQ(arriveAndWork(), 0u);
  // The download names no alternate setting, and the tool will not choose one.
  EXPECT_TRUE(reported(I,
                       u"analyseBuffer countCmd == 1 strTmp= dfu-util: More than one DFU "
                       u"capable USB device found! Try `--list' and specify the serial number "
                       u"or disconnect all but one device"));
  EXPECT_TRUE(reported(W, u"arrival device handled completely."));
  EXPECT_FALSE(registered());
  EXPECT_EQ(device().mode, "dfu");
  EXPECT_EQ(device().version, "0100");
  // The tool refused the download: a failed download, with its reason as the last line.
  EXPECT_EQ(outcomes(), (std::vector<Outcome>{{1001, EventType::Error,
                                               {u"A7X2249", u"0100", u"0102", u"orvale-0102.dfu",
                                                u"dfu-util: More than one DFU capable USB device found! Try `--list' "
                                                u"and specify the serial number or disconnect all "
                                                u"but one device"}}}));
}

}  // namespace
}  // namespace qwus
