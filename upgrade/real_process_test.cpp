// Upgrade runs with real child processes and real files where no device answers: no tool at all on
// both builds, and Debian's dfu-util itself on the host. Runs with the real tool and the emulated
// device are in tests/real_device.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "platform/file_system.h"
#include "platform/process.h"
#include "tests/fakes/firmware_package.h"
#include "tests/fakes/recording_event_log.h"
#include "tests/fakes/recording_trace_output.h"
#include "tests/fakes/stand_in_tool.h"
#include "tests/fakes/virtual_clock.h"
#include "upgrade/orvale_upgrade_process.h"

namespace qwus {
namespace {

using testing::RecordingEventLog;
using testing::RecordingTraceOutput;
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
  TemporaryDirectory toolDir;   // where dfu-util.exe is started from
  std::unique_ptr<ProcessLauncher> launcher = processLauncherIn(testing::pathText(toolDir.path()));
  RecordingEventLog log;
  ProcessEventSources sources{log};
  VirtualClock clock;
  RecordingTraceOutput trace;
  UpgradeEnvironment env{sources.engine, systemFileSystem(), *launcher, clock, trace,
                         install.text()};
};

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
