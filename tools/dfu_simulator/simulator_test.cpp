// Tests of the device simulator through the system's process launcher, and of the command lines
// the simulator accepts against Debian's real dfu-util where that is installed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "platform/command_line.h"
#include "platform/process.h"
#include "tests/fakes/firmware_package.h"
#include "tests/fakes/simulated_device.h"

namespace qwus {
namespace {

using testing::DeviceState;
using testing::pathText;
using testing::simulatorState;
using testing::TemporaryDirectory;

class SimulatorTest : public ::testing::Test {
 protected:
  TemporaryDirectory folder;

  // Runs `commandLine` with the simulator first on PATH; returns everything it printed.
  std::string run(const DeviceState& state, Text commandLine) {
    testing::installSimulator(folder.path(), state);
    return runInstalled(std::move(commandLine));
  }

  std::string runInstalled(Text commandLine) {
    testing::SearchPathPrefix path(folder.path());
    ProcessLauncher& launcher = systemProcessLauncher();
    auto pipe = launcher.createOutputPipe();
    EXPECT_NE(pipe, nullptr);
    if (pipe == nullptr) return {};
    EXPECT_TRUE(launcher.startProcess(commandLine, *pipe));
    pipe->closeWriteEnd();
    std::string out;
    char buffer[4096];
    std::size_t n = 0;
    while (pipe->read(buffer, sizeof buffer - 1, n)) out.append(buffer, n);
    return out;
  }

  // A package whose suffix names c4e2:8352 and `version` (bcdDevice).
  std::filesystem::path package(unsigned version) {
    const std::string data = testing::firmwarePackage(static_cast<std::uint16_t>(version));
    const auto path = folder.path() / "pack age" / "000201.dfu";
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << data;
    return path;
  }
};

DeviceState inDfuMode() {
  DeviceState state;
  state.mode = "dfu";
  state.dfuVersion = "0042";
  return state;
}

TEST_F(SimulatorTest, ListsTheDeviceInEachMode) {
  const std::string runtime = run({}, u"dfu-util.exe -l");
  EXPECT_NE(runtime.find("Please report bugs to http://sourceforge.net/p/dfu-util/tickets/"),
            std::string::npos);
  EXPECT_NE(runtime.find("Found Runtime: [c4e2:8351] ver=0100, devnum=7, cfg=1, intf=0, "
                         "path=\"1-1\", alt=0, name=\"Orvale\", serial=\"A7X2249\""),
            std::string::npos)
      << runtime;

  DeviceState twoAlternates = inDfuMode();
  twoAlternates.altSettings = 2;
  const std::string dfu = run(twoAlternates, u"dfu-util.exe -l");
  EXPECT_NE(dfu.find("Found DFU: [c4e2:8352] ver=0042, devnum=8, cfg=1, intf=0, path=\"1-1\", "
                     "alt=1, name=\"Orvale Settings\", serial=\"A7X2249\""),
            std::string::npos)
      << dfu;
  EXPECT_NE(dfu.find("alt=0, name=\"Orvale Firmware\""), std::string::npos);
  EXPECT_EQ(dfu.find("Found Runtime"), std::string::npos);

  DeviceState absent;
  absent.present = false;
  EXPECT_EQ(run(absent, u"dfu-util.exe -l").find("Found"), std::string::npos);
}

TEST_F(SimulatorTest, DetachPutsTheDeviceIntoDfuMode) {
  const std::string out = run({}, u"dfu-util.exe -d c4e2:8351,c4e2:8352 -S A7X2249 -c 1 -e");
  EXPECT_NE(out.find("Device will detach and reattach..."), std::string::npos) << out;
  EXPECT_EQ(simulatorState(folder.path()).mode, "dfu");
  EXPECT_NE(runInstalled(u"dfu-util.exe -l").find("Found DFU: [c4e2:8352]"), std::string::npos);
}

TEST_F(SimulatorTest, DownloadSetsTheVersionFromTheSuffixAndReturnsToRuntime) {
  const Text line = u"dfu-util.exe -d c4e2:8351,c4e2:8352 -S A7X2249 -D \"" +
                    pathText(package(0x0201)) + u"\"";
  const std::string out = run(inDfuMode(), line);
  EXPECT_NE(out.find("Download\t[=========================] 100%"), std::string::npos) << out;
  EXPECT_NE(out.find("Done!"), std::string::npos);
  const DeviceState after = simulatorState(folder.path());
  EXPECT_EQ(after.mode, "runtime");
  EXPECT_EQ(after.version, "0201");
}

TEST_F(SimulatorTest, DownloadRefusesADfuDeviceWithSeveralAlternateSettings) {
  DeviceState alternates = inDfuMode();
  alternates.altSettings = 3;
  const std::string out = run(alternates, u"dfu-util.exe -d c4e2:8351,c4e2:8352 -S A7X2249 -D \"" +
                                              pathText(package(0x0201)) + u"\"");
  EXPECT_NE(out.find("dfu-util: More than one DFU capable USB device found!"), std::string::npos)
      << out;
  EXPECT_EQ(out.find("Download"), std::string::npos);
  EXPECT_EQ(simulatorState(folder.path()).version, "0100");
  EXPECT_EQ(simulatorState(folder.path()).mode, "dfu");
}

TEST_F(SimulatorTest, FiltersThatDoNotMatchFindNoDevice) {
  const Text lines[] = {
      u"dfu-util.exe -d c4e2:8351,c4e2:8352 -S B0000 -c 1 -e",
      u"dfu-util.exe -d c4e2:8351,c4e2:8352 -S A7X2249 -c 2 -e",
      u"dfu-util.exe -d 1234:8351 -S A7X2249 -c 1 -e",
  };
  for (const auto& line : lines) {
    const std::string out = run({}, line);
    EXPECT_NE(out.find("dfu-util: No DFU capable USB device available"), std::string::npos)
        << toUtf8(line) << out;
    EXPECT_EQ(simulatorState(folder.path()).mode, "runtime") << toUtf8(line);
  }
}

TEST_F(SimulatorTest, ADeviceWithAnyQuotedSerialIsFoundByIt) {
  for (const std::string serial : {"A 7\"X\\\" 2", "back\\slash\\", "-U C:\\x.bin"}) {
    DeviceState state;
    state.serial = serial;
    const Text line = u"dfu-util.exe -d c4e2:8351,c4e2:8352 -S " + quoteArgument(fromUtf8(serial)) +
                      u" -c 1 -e";
    const std::string out = run(state, line);
    EXPECT_NE(out.find("Device will detach and reattach..."), std::string::npos) << serial << out;
  }
}

TEST_F(SimulatorTest, RejectsArgumentsTheRealToolRejects) {
  for (const Text line : {u"dfu-util.exe -l stray", u"dfu-util.exe -x", u"dfu-util.exe -S"}) {
    const std::string out = run({}, line);
    EXPECT_EQ(out.find("Found"), std::string::npos) << toUtf8(line);
    EXPECT_NE(out.find("Usage: dfu-util"), std::string::npos) << toUtf8(line) << out;
  }
}

#ifndef _WIN32

// Debian's dfu-util, run as dfu-util.exe through the launcher. No device is attached here, so a
// command line it accepts ends in "No DFU capable USB device available".
class RealToolTest : public SimulatorTest {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists("/usr/bin/dfu-util")) GTEST_SKIP() << "dfu-util not installed";
    std::filesystem::create_symlink("/usr/bin/dfu-util", folder.path() / "dfu-util.exe");
  }
};

TEST_F(RealToolTest, AcceptsDetachCommandsWithQuotedSerials) {
  for (const Text serial : {u"A7X2249", u"A 7\"X\\\" 2", u"-U C:\\x.bin", u""}) {
    const Text line = u"dfu-util.exe -d c4e2:8351,c4e2:8352 -S " + quoteArgument(serial) +
                      u" -c 1 -e";
    const std::string out = runInstalled(line);
    EXPECT_NE(out.find("No DFU capable USB device available"), std::string::npos)
        << toUtf8(line) << out;
    EXPECT_EQ(out.find("Usage"), std::string::npos) << out;
  }
}

TEST_F(RealToolTest, ReadsTheSimulatorsPackageAndDfuSuffixPackagesAlike) {
  const auto made = package(0x0201);
  const Text line = u"dfu-util.exe -d c4e2:8351,c4e2:8352 -S A7X2249 -D \"" + pathText(made) + u"\"";
  const std::string out = runInstalled(line);
  EXPECT_EQ(out.find("suffix"), std::string::npos) << out;  // the suffix and its CRC are valid
  EXPECT_NE(out.find("No DFU capable USB device available"), std::string::npos) << out;

  // A package made by dfu-suffix sets the simulated device's version.
  const auto plain = folder.path() / "plain.dfu";
  std::ofstream(plain, std::ios::binary) << "firmware image";
  const std::string suffix = "dfu-suffix -a '" + plain.string() +
                             "' -v c4e2 -p 8352 -d 0307 >/dev/null 2>&1";
  ASSERT_EQ(std::system(suffix.c_str()), 0);
  std::filesystem::remove(folder.path() / "dfu-util.exe");
  DeviceState dfu;
  dfu.mode = "dfu";
  const std::string fromDfuSuffix = run(dfu, u"dfu-util.exe -D \"" + pathText(plain) + u"\"");
  EXPECT_NE(fromDfuSuffix.find("Match vendor ID from file: c4e2"), std::string::npos) << fromDfuSuffix;
  EXPECT_EQ(simulatorState(folder.path()).version, "0307");
}

#endif

}  // namespace
}  // namespace qwus
