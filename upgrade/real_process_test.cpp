// Whole upgrade runs with real child processes and real files: the device simulator standing in for
// dfu-util.exe on both builds, and Debian's dfu-util itself on the host.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "platform/command_line.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "tests/fakes/firmware_package.h"
#include "tests/fakes/recording_event_log.h"
#include "tests/fakes/recording_trace_output.h"
#include "tests/fakes/simulated_device.h"
#include "tests/fakes/virtual_clock.h"
#include "upgrade/orvale_upgrade_process.h"

namespace qwus {
namespace {

using testing::DeviceState;
using testing::RecordingEventLog;
using testing::RecordingTraceOutput;
using testing::SearchPathPrefix;
using testing::TemporaryDirectory;
using testing::VirtualClock;

class RealProcessTest : public ::testing::Test {
 protected:
  RealProcessTest() { install.writeFile("orvale-0102.dfu", testing::firmwarePackage(0x0102)); }

  // One upgrade run as the worker makes it: the listing, then the upgrade step when it listed.
  int upgradeRun() {
    OrvaleUpgradeProcess process(env);
    const int listed = process.initDfuDevList();
    return listed == kOutcomeListed ? process.doUpgrade() : -listed;
  }

  TemporaryDirectory install;   // the install directory with its package
  TemporaryDirectory toolDir;   // where dfu-util.exe is found, first on the search path
  SearchPathPrefix searchPath{toolDir.path()};
  RecordingEventLog log;
  ProcessEventSources sources{log};
  VirtualClock clock;
  RecordingTraceOutput trace;
  UpgradeEnvironment env{sources.engine, systemFileSystem(), systemProcessLauncher(), clock, trace,
                         install.text()};
};

TEST_F(RealProcessTest, RuntimeDeviceIsDetachedThenDownloadedBySimulator) {
  testing::installSimulator(toolDir.path(), DeviceState{});
  EXPECT_EQ(upgradeRun(), kOutcomeDetached);
  EXPECT_EQ(testing::simulatorState(toolDir.path()).mode, "dfu");

  EXPECT_EQ(upgradeRun(), kOutcomeToolRan);
  const DeviceState after = testing::simulatorState(toolDir.path());
  EXPECT_EQ(after.mode, "runtime");
  EXPECT_EQ(after.version, "0102");

  const auto commands = testing::simulatorLog(toolDir.path());
  ASSERT_EQ(commands.size(), 4u);
  EXPECT_EQ(commands[0], "dfu-util.exe -l");
  EXPECT_EQ(commands[1], "dfu-util.exe -d c4e2:8351,c4e2:8352 -S A7X2249 -c 1 -e");
  EXPECT_EQ(commands[2], "dfu-util.exe -l");
  // The download names the package's full path as one argument.
  EXPECT_EQ(splitCommandLine(fromUtf8(commands[3])),
            (std::vector<Text>{u"dfu-util.exe", u"-d", u"c4e2:8351,c4e2:8352", u"-S", u"A7X2249",
                               u"-D", install.text() + u"orvale-0102.dfu"}));
  // Only the fixed waits and one pause per successful read: nothing waited for real.
  const auto waits = clock.waits();
  for (auto wait : waits) EXPECT_TRUE(wait == 100 || wait == 50000) << wait;
  EXPECT_EQ(std::count(waits.begin(), waits.end(), 50000u), 2);
}

TEST_F(RealProcessTest, DeviceAlreadyInDfuModeIsDownloadedInOneRun) {
  DeviceState dfu;
  dfu.mode = "dfu";
  testing::installSimulator(toolDir.path(), dfu);
  EXPECT_EQ(upgradeRun(), kOutcomeToolRan);
  EXPECT_EQ(testing::simulatorState(toolDir.path()).version, "0102");
}

TEST_F(RealProcessTest, UpToDateAndAbsentDevices) {
  DeviceState upToDate;
  upToDate.version = "0102";
  testing::installSimulator(toolDir.path(), upToDate);
  EXPECT_EQ(upgradeRun(), kOutcomeUpToDate);

  DeviceState absent;
  absent.present = false;
  testing::installSimulator(toolDir.path(), absent);
  EXPECT_EQ(upgradeRun(), kOutcomeFailed);
  EXPECT_EQ(testing::simulatorLog(toolDir.path()).size(), 2u);  // listed, then listed once more
}

TEST_F(RealProcessTest, HostileSerialFromTheDeviceStaysOneArgument) {
  DeviceState hostile;
  hostile.misbehave = simulator::kHostileSerial;
  testing::installSimulator(toolDir.path(), hostile);
  EXPECT_EQ(upgradeRun(), kOutcomeDetached);
  const auto commands = testing::simulatorLog(toolDir.path());
  ASSERT_EQ(commands.size(), 2u);
  // The listing's serial is cut at its first comma; whatever is left goes quoted, as one value.
  const auto detach = splitCommandLine(fromUtf8(commands[1]));
  ASSERT_EQ(detach.size(), 8u);
  EXPECT_EQ(detach[3], u"-S");
  EXPECT_EQ(detach[7], u"-e");
}

TEST_F(RealProcessTest, MissingToolCannotBeStarted) {
  EXPECT_EQ(upgradeRun(), -kOutcomeFailed);
  EXPECT_EQ(log.texts(kEngineSourceName).back(), u"CreateProcess Failed!");
}

#ifndef _WIN32
// Debian's dfu-util, reached through a link named dfu-util.exe, finds no device here: its listing
// is only its heading, so the run lists once more and gives up.
TEST_F(RealProcessTest, RealDfuUtilWithoutDeviceListsTwiceAndGivesUp) {
  const std::filesystem::path real = "/usr/bin/dfu-util";
  if (!std::filesystem::exists(real)) GTEST_SKIP() << "dfu-util is not installed";
  std::filesystem::create_symlink(real, toolDir.path() / "dfu-util.exe");

  OrvaleUpgradeProcess process(env);
  ASSERT_EQ(process.initDfuDevList(), kOutcomeListed);
  EXPECT_EQ(process.updev.mode, 2);
  EXPECT_EQ(process.doUpgrade(), kOutcomeFailed);
  EXPECT_TRUE(process.retry);
  const auto texts = log.texts(kEngineSourceName);
  EXPECT_EQ(std::count(texts.begin(), texts.end(), u"doCmd updev.mode 2 cmdline is dfu-util.exe -l"), 2);
}
#endif

}  // namespace
}  // namespace qwus
