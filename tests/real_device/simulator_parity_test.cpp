// The device simulator stays true to the real pair: for the same device, the simulator as
// dfu-util.exe and Debian's dfu-util with the emulated device print the same device lines and make
// the engine report the same events, run by run.
#include <gtest/gtest.h>

#include "platform/command_line.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "tests/fakes/firmware_package.h"
#include "tests/fakes/recording_event_log.h"
#include "tests/fakes/recording_trace_output.h"
#include "tests/fakes/simulated_device.h"
#include "tests/fakes/virtual_clock.h"
#include "tests/real_device/emulated_tool.h"
#include "upgrade/orvale_upgrade_process.h"

namespace qwus {
namespace {

using testing::DeviceStateFile;
using testing::TemporaryDirectory;

struct Device {
  const char* mode;
  const char* version;
  const char* serial;
  int altSettings;
};

const Device kDevices[] = {
    {"runtime", "0100", "A7X2249", 1}, {"runtime", "0102", "A7X2249", 1},
    {"runtime", "00ff", "Q-17 b", 1},  {"dfu", "0100", "A7X2249", 1},
    {"dfu", "0101", "Z9", 2},          {"dfu", "0100", "A7X2249", 3},
};

DeviceStateFile emulated(const Device& d) {
  DeviceStateFile state;
  state.mode = d.mode;
  state.version = d.version;
  state.serial = d.serial;
  state.altSettings = d.altSettings;
  return state;
}

testing::DeviceState simulated(const Device& d) {
  testing::DeviceState state;
  state.mode = d.mode;
  state.version = d.version;
  state.dfuVersion = d.version;
  state.serial = d.serial;
  state.altSettings = d.altSettings;
  return state;
}

// The engine's events of one upgrade run (listing, then detach or download) with whatever
// dfu-util.exe `tool` holds, over the package in `install`.
std::vector<Text> engineRun(const TemporaryDirectory& install, const std::filesystem::path& tool) {
  testing::SearchPathPrefix path(tool);
  testing::RecordingEventLog log;
  ProcessEventSources sources{log};
  testing::VirtualClock clock;
  testing::RecordingTraceOutput trace;
  const UpgradeEnvironment env{sources.engine, systemFileSystem(), systemProcessLauncher(), clock,
                               trace,          install.text()};
  OrvaleUpgradeProcess process(env);
  if (process.initDfuDevList() == kOutcomeListed) process.doUpgrade();
  return log.texts(kEngineSourceName);
}

class SimulatorParity : public ::testing::TestWithParam<Device> {};

TEST_P(SimulatorParity, SameDeviceLines) {
  TemporaryDirectory real, simulator;
  testing::installEmulatedTool(real.path(), emulated(GetParam()));
  testing::installSimulator(simulator.path(), simulated(GetParam()));
  const std::string fromReal = testing::runWithToolFrom(real.path(), u"dfu-util.exe -l");
  const std::string fromSimulator = testing::runWithToolFrom(simulator.path(), u"dfu-util.exe -l");
  EXPECT_NE(testing::deviceLines(fromReal), "");
  EXPECT_EQ(testing::deviceLines(fromSimulator), testing::deviceLines(fromReal));
  EXPECT_EQ(fromSimulator, fromReal);
}

TEST_P(SimulatorParity, SameOutputOfTheCommandTheEngineSends) {
  TemporaryDirectory install, real, simulator;
  testing::installEmulatedTool(real.path(), emulated(GetParam()));
  testing::installSimulator(simulator.path(), simulated(GetParam()));
  install.writeFile("orvale-0102.dfu",
                    testing::firmwarePackage(0x0102, testing::firmwareImage(0x0102, 2100)));
  const Text serial = quoteArgument(fromUtf8(GetParam().serial));
  const Text command = std::string(GetParam().mode) == "dfu"
                           ? u"dfu-util.exe -d c4e2:8351,c4e2:8352 -S " + serial + u" -D \"" +
                                 install.text() + u"orvale-0102.dfu\""
                           : u"dfu-util.exe -d c4e2:8351,c4e2:8352 -S " + serial + u" -c 1 -e";
  EXPECT_EQ(testing::runWithToolFrom(simulator.path(), command),
            testing::runWithToolFrom(real.path(), command));
  EXPECT_EQ(testing::simulatorState(simulator.path()).mode,
            testing::emulatedState(real.path()).mode);
  EXPECT_EQ(testing::simulatorState(simulator.path()).version,
            testing::emulatedState(real.path()).version);
}

TEST_P(SimulatorParity, SameEventsOfAnUpgradeRun) {
  TemporaryDirectory install, real, simulator;
  testing::installEmulatedTool(real.path(), emulated(GetParam()));
  testing::installSimulator(simulator.path(), simulated(GetParam()));
  const std::string package =
      testing::firmwarePackage(0x0102, testing::firmwareImage(0x0102, 1500));

  install.writeFile("orvale-0102.dfu", package);
  const std::vector<Text> fromReal = engineRun(install, real.path());
  install.writeFile("orvale-0102.dfu", package);
  const std::vector<Text> fromSimulator = engineRun(install, simulator.path());
  EXPECT_EQ(fromSimulator, fromReal);
  EXPECT_EQ(testing::simulatorState(simulator.path()).mode,
            testing::emulatedState(real.path()).mode);
  EXPECT_EQ(testing::simulatorState(simulator.path()).version,
            testing::emulatedState(real.path()).version);
}

INSTANTIATE_TEST_SUITE_P(Devices, SimulatorParity, ::testing::ValuesIn(kDevices),
                         [](const ::testing::TestParamInfo<Device>& row) {
                           return std::string(row.param.mode) + "_" + row.param.version + "_alt" +
                                  std::to_string(row.param.altSettings) + "_" +
                                  std::to_string(row.index);
                         });

}  // namespace
}  // namespace qwus
