// Debian's dfu-util against the emulated Orvale device: its listing in both modes, and the
// engine's detach and download command lines carried out by the real tool.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/file_system.h"
#include "platform/process.h"
#include "tests/fakes/recording_event_log.h"
#include "tests/fakes/recording_trace_output.h"
#include "tests/fakes/stand_in_tool.h"
#include "tests/fakes/virtual_clock.h"
#include "tests/real_device/emulated_tool.h"
#include "upgrade/orvale_upgrade_process.h"

namespace qwus {
namespace {

using testing::DeviceStateFile;
using testing::TemporaryDirectory;

std::string fileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

DeviceStateFile device(const char* mode, const char* version = "0100", int altSettings = 1) {
  DeviceStateFile state;
  state.mode = mode;
  state.version = version;
  state.altSettings = altSettings;
  return state;
}

TEST(RealTool, ListsTheDeviceInEachMode) {
  const struct {
    DeviceStateFile state;
    const char* lines;
  } cases[] = {
      {device("runtime"),
       "Found Runtime: [c4e2:8351] ver=0100, devnum=7, cfg=1, intf=0, path=\"1-1\", alt=0, "
       "name=\"Orvale\", serial=\"A7X2249\"\n"},
      {device("dfu", "00ff"),
       "Found DFU: [c4e2:8352] ver=00ff, devnum=8, cfg=1, intf=0, path=\"1-1\", alt=0, "
       "name=\"Orvale Firmware\", serial=\"A7X2249\"\n"},
      {device("dfu", "0100", 2),
       "Found DFU: [c4e2:8352] ver=0100, devnum=8, cfg=1, intf=0, path=\"1-1\", alt=1, "
       "name=\"Orvale Settings\", serial=\"A7X2249\"\n"
       "Found DFU: [c4e2:8352] ver=0100, devnum=8, cfg=1, intf=0, path=\"1-1\", alt=0, "
       "name=\"Orvale Firmware\", serial=\"A7X2249\"\n"},
  };
  for (const auto& c : cases) {
    TemporaryDirectory tool;
    testing::installEmulatedTool(tool.path(), c.state);
    const std::string out = testing::runWithToolFrom(tool.path(), u"dfu-util.exe -l");
    EXPECT_EQ(out.rfind("dfu-util 0.11\n", 0), 0u) << out;
    EXPECT_EQ(testing::deviceLines(out), c.lines) << out;
    // Listing changes nothing.
    EXPECT_EQ(usbdevice::formatStateFile(testing::emulatedState(tool.path())),
              usbdevice::formatStateFile(c.state));
  }
}

// orvale-usb-device itself: it ends with its program's status, and refuses a state file it cannot
// take before it runs anything.
TEST(OrvaleUsbDevice, EndsWithItsProgramsStatusAndRefusesABadStateFile) {
  TemporaryDirectory dir;
  const auto state = dir.path() / "device.state";
  const auto run = [&state](const std::string& program) {
    const std::string command = std::string("'") + QWUS_ORVALE_USB_DEVICE + "' --state '" +
                                state.string() + "' -- " + program + " >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  ASSERT_TRUE(usbdevice::saveStateFile(state, device("runtime")));
  EXPECT_EQ(run("sh -c 'exit 3'"), 3);
  EXPECT_EQ(run("dfu-util -l"), 0);
  EXPECT_EQ(run("dfu-util -d 1234:5678 -e"), 74);  // the tool's "no device" status

  std::ofstream(state, std::ios::trunc) << "mode=sleeping\n";
  EXPECT_EQ(run("sh -c 'touch " + (dir.path() / "ran").string() + "'"), 125);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "ran"));
  EXPECT_EQ(fileBytes(state), "mode=sleeping\n");
}

// A device the state file makes unopenable stays so for root, whose inheritable set would hand
// the override of file permissions back to the program at its exec.
TEST(OrvaleUsbDevice, DeniedNodeStaysDeniedWithTheOverrideInTheInheritableSet) {
  if (getuid() != 0) GTEST_SKIP() << "only root can put CAP_DAC_OVERRIDE in its inheritable set";
  TemporaryDirectory dir;
  const auto state = dir.path() / "device.state";
  DeviceStateFile denied = device("runtime");
  denied.accessDenied = true;
  ASSERT_TRUE(usbdevice::saveStateFile(state, denied));
  const std::string command = std::string("setpriv --inh-caps +dac_override,+dac_read_search '") +
                              QWUS_ORVALE_USB_DEVICE + "' --state '" + state.string() +
                              "' -- dfu-util -l 2>&1";
  std::string out;
  if (std::FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    EXPECT_EQ(pclose(pipe), 0) << out;
  }
  EXPECT_NE(out.find("Cannot open DFU device c4e2:8351 found on devnum 7 (LIBUSB_ERROR_ACCESS)"),
            std::string::npos)
      << out;
  EXPECT_EQ(testing::deviceLines(out), "") << out;
}

class RealToolUpgrade : public ::testing::Test {
 protected:
  // One upgrade run as the worker makes it: the listing, then the upgrade step when it listed.
  int upgradeRun() {
    OrvaleUpgradeProcess process(env);
    const int listed = process.initDfuDevList();
    return listed == kOutcomeListed ? process.doUpgrade() : -listed;
  }

  TemporaryDirectory install;
  TemporaryDirectory tool;
  std::unique_ptr<ProcessLauncher> launcher = processLauncherIn(testing::pathText(tool.path()));
  testing::RecordingEventLog log;
  ProcessEventSources sources{log};
  testing::VirtualClock clock;
  testing::RecordingTraceOutput trace;
  UpgradeEnvironment env{sources.engine, systemFileSystem(), *launcher, clock,
                         trace,          install.text()};
};

TEST_F(RealToolUpgrade, DetachThenDownloadLandTheImageInTheDevice) {
  // Three blocks of the device's transfer size and a bit.
  ASSERT_TRUE(testing::makeDfuSuffixPackage(install.path() / "orvale-0102.dfu", 0x0102, 3100));
  testing::installEmulatedTool(tool.path(), device("runtime"));

  EXPECT_EQ(upgradeRun(), kOutcomeDetached);
  EXPECT_EQ(testing::emulatedState(tool.path()).mode, "dfu");
  EXPECT_EQ(upgradeRun(), kOutcomeToolRan);

  const DeviceStateFile after = testing::emulatedState(tool.path());
  EXPECT_EQ(after.mode, "runtime");
  EXPECT_EQ(after.version, "0102");
  const std::string package = fileBytes(install.path() / "orvale-0102.dfu");
  ASSERT_GT(package.size(), 16u);
  EXPECT_EQ(fileBytes(usbdevice::firmwareFile(testing::emulatedStateFile(tool.path()))),
            package.substr(0, package.size() - 16));

  const auto texts = log.texts(kEngineSourceName);
  const std::vector<Text> commands = [&texts] {
    std::vector<Text> found;
    for (const Text& text : texts) {
      if (text.rfind(u"cmdline is ", 0) == 0) found.push_back(text.substr(11));
    }
    return found;
  }();
  EXPECT_EQ(commands, (std::vector<Text>{u"dfu-util.exe -d c4e2:8351,c4e2:8352 -S A7X2249 -c 1 -e",
                                         u"dfu-util.exe -d c4e2:8351,c4e2:8352 -S A7X2249 -D \"" +
                                             install.text() + u"orvale-0102.dfu\""}));
  EXPECT_NE(
      std::find(texts.begin(), texts.end(), u"analyseBuffer countCmd == 1 strTmp= Download done."),
      texts.end());
}

}  // namespace
}  // namespace qwus
