// Contract tests of the system's process launcher, on real child processes (the device simulator)
// and real pipes: the same tests run against the POSIX adapter and, under Wine, the Win32 one.
#include "platform/process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>

#include "platform/command_line.h"
#include "tests/fakes/simulated_device.h"

namespace qwus {
namespace {

using testing::DeviceState;
using testing::installSimulator;
using testing::pathText;
using testing::simulatorLog;
using testing::TemporaryDirectory;

struct Collected {
  std::string bytes;
  std::size_t reads = 0;
  std::size_t largestRead = 0;
};

// Reads until the pipe fails, at most 4095 bytes at a time.
Collected readAll(OutputPipe& pipe) {
  Collected collected;
  char buffer[4096];
  std::size_t n = 0;
  while (pipe.read(buffer, sizeof buffer - 1, n)) {
    collected.bytes.append(buffer, n);
    ++collected.reads;
    collected.largestRead = std::max(collected.largestRead, n);
  }
  EXPECT_EQ(n, 0u);
  return collected;
}

class ProcessLauncherTest : public ::testing::Test {
 protected:
  ProcessLauncher& launcher = systemProcessLauncher();
  TemporaryDirectory temporary;

  // Installs a simulator with `state` into `subfolder` of the test's folder.
  std::filesystem::path device(const DeviceState& state, const std::string& subfolder = "dev") {
    const auto folder = temporary.path() / subfolder;
    installSimulator(folder, state);
    return folder;
  }

  // The command line that starts the simulator in `folder` by its full path.
  static Text command(const std::filesystem::path& folder, const Text& arguments) {
    return u"\"" + pathText(folder / "dfu-util.exe") + u"\" " + arguments;
  }

  // Starts `commandLine`, closes this process's write end and collects the whole output.
  Collected run(Text commandLine) {
    auto pipe = launcher.createOutputPipe();
    EXPECT_NE(pipe, nullptr);
    if (pipe == nullptr) return {};
    EXPECT_TRUE(launcher.startProcess(commandLine, *pipe)) << toUtf8(commandLine);
    pipe->closeWriteEnd();
    Collected collected = readAll(*pipe);
    pipe->closeReadEnd();
    return collected;
  }
};

TEST_F(ProcessLauncherTest, CollectsTheListingOfAProgramWhosePathHasBlanks) {
  const auto folder = device({}, "folder with blanks");
  const Collected out = run(command(folder, u"-l"));
  EXPECT_NE(out.bytes.find("dfu-util 0.11"), std::string::npos) << out.bytes;
  EXPECT_NE(out.bytes.find("Found Runtime: [c4e2:8351] ver=0100, devnum=7, cfg=1, intf=0, "
                           "path=\"1-1\", alt=0, name=\"Orvale\", serial=\"A7X2249\""),
            std::string::npos)
      << out.bytes;
}

TEST_F(ProcessLauncherTest, FindsTheProgramOnTheSearchPath) {
  const auto folder = device({});
  testing::SearchPathPrefix path(folder);
  const Collected out = run(u"dfu-util.exe -l");
  EXPECT_NE(out.bytes.find("Found Runtime"), std::string::npos) << out.bytes;
  EXPECT_EQ(simulatorLog(folder), std::vector<std::string>{"dfu-util.exe -l"});
}

TEST_F(ProcessLauncherTest, ProgramThatDoesNotExistFailsToStart) {
  const TemporaryDirectory empty;
  testing::SearchPathPrefix path(empty.path());
  for (Text line : {Text(u"no-such-tool-5b1e.exe -l"), command(empty.path(), u"-l"), Text()}) {
    auto pipe = launcher.createOutputPipe();
    ASSERT_NE(pipe, nullptr);
    EXPECT_FALSE(launcher.startProcess(line, *pipe)) << toUtf8(line);
  }
}

TEST_F(ProcessLauncherTest, CapturesStandardOutputAndStandardError) {
  DeviceState absent;
  absent.present = false;
  const Collected out = run(command(device(absent), u"-e"));
  EXPECT_NE(out.bytes.find("dfu-util 0.11"), std::string::npos) << out.bytes;  // stdout
  EXPECT_NE(out.bytes.find("dfu-util: No DFU capable USB device available"), std::string::npos)
      << out.bytes;  // stderr
}

TEST_F(ProcessLauncherTest, EmptyOutputFailsTheFirstRead) {
  DeviceState silent;
  silent.misbehave = simulator::kSilent;
  const Collected out = run(command(device(silent), u"-l"));
  EXPECT_EQ(out.reads, 0u);
  EXPECT_TRUE(out.bytes.empty());
}

TEST_F(ProcessLauncherTest, SeveralMegabytesArriveWholeInReadsOfAtMostTheAskedSize) {
  DeviceState huge;
  huge.misbehave = simulator::kHugeOutput;
  huge.hugeBytes = 3000000;
  const Collected out = run(command(device(huge), u"-l"));
  EXPECT_GT(out.bytes.size(), 3000000u);
  EXPECT_GE(out.reads, 3000000u / 4095);
  EXPECT_LE(out.largestRead, 4095u);
  const auto last = out.bytes.rfind("Found Runtime: [c4e2:8351]");
  ASSERT_NE(last, std::string::npos);
  EXPECT_EQ(out.bytes.find('\n', last), out.bytes.find_last_of('\n'));
}

TEST_F(ProcessLauncherTest, BytesOfAnyValueArriveUnchanged) {
  DeviceState nul;
  nul.misbehave = simulator::kNulBytes;
  const Collected withNul = run(command(device(nul, "zero-bytes"), u"-l"));
  EXPECT_NE(withNul.bytes.find(std::string("Found \0\0 nothing", 16)), std::string::npos);
  EXPECT_NE(withNul.bytes.find("serial=\"A7X2249\""), std::string::npos);

  DeviceState garbage;
  garbage.misbehave = simulator::kGarbage;
  const Collected noise = run(command(device(garbage, "garbage"), u"-l"));
  EXPECT_GE(noise.bytes.size(), 3000u);
}

TEST_F(ProcessLauncherTest, SlowOutputIsReadToTheEnd) {
  DeviceState slow;
  slow.misbehave = simulator::kSlowOutput;
  slow.slowMs = 20;
  const Collected out = run(command(device(slow), u"-l"));
  EXPECT_GT(out.reads, 1u);
  EXPECT_NE(out.bytes.find("serial=\"A7X2249\""), std::string::npos);
}

TEST_F(ProcessLauncherTest, ReadWaitsForTheChildToExit) {
  DeviceState hanging;
  hanging.misbehave = simulator::kHang;
  hanging.hangMs = 700;
  // The write end is closed at once, but the child's copy keeps the pipe open until it has
  // printed and exited.
  const Collected out = run(command(device(hanging), u"-l"));
  EXPECT_NE(out.bytes.find("Found Runtime"), std::string::npos);
}

TEST_F(ProcessLauncherTest, ReadWaitsForTheCallersWriteEndAfterTheChildExited) {
  DeviceState silent;
  silent.misbehave = simulator::kSilent;
  Text line = command(device(silent), u"-l");
  auto pipe = launcher.createOutputPipe();
  ASSERT_NE(pipe, nullptr);
  ASSERT_TRUE(launcher.startProcess(line, *pipe));

  auto reading = std::async(std::launch::async, [&pipe] { return readAll(*pipe); });
  EXPECT_EQ(reading.wait_for(std::chrono::milliseconds(1500)), std::future_status::timeout);
  pipe->closeWriteEnd();
  ASSERT_EQ(reading.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_TRUE(reading.get().bytes.empty());
}

TEST_F(ProcessLauncherTest, ChildInheritsNoOtherPipesWriteEnd) {
  DeviceState hanging;
  hanging.misbehave = simulator::kHang;
  hanging.hangMs = 6000;
  auto slowPipe = launcher.createOutputPipe();
  auto quickPipe = launcher.createOutputPipe();
  ASSERT_NE(slowPipe, nullptr);
  ASSERT_NE(quickPipe, nullptr);
  // Both pipes exist when the slow child starts: it could inherit the quick pipe's write end.
  Text slowLine = command(device(hanging, "slow"), u"-l");
  Text quickLine = command(device({}, "quick"), u"-l");
  ASSERT_TRUE(launcher.startProcess(slowLine, *slowPipe));
  ASSERT_TRUE(launcher.startProcess(quickLine, *quickPipe));
  slowPipe->closeWriteEnd();
  quickPipe->closeWriteEnd();

  const auto start = std::chrono::steady_clock::now();
  const Collected quick = readAll(*quickPipe);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(4500));
  EXPECT_NE(quick.bytes.find("Found Runtime"), std::string::npos);

  EXPECT_NE(readAll(*slowPipe).bytes.find("Found Runtime"), std::string::npos);
}

TEST_F(ProcessLauncherTest, QuotedArgumentReachesTheChildAsOneArgument) {
  const auto folder = device({});
  testing::SearchPathPrefix path(folder);
  const Text values[] = {
      u"two words", u"-U C:\\x.bin", u"q\"uote", u"back\\\\\"slash\\", u"", u"x,y \u00E9"};
  std::vector<std::string> expectedLog;
  for (const auto& value : values) {
    const Text line = u"dfu-util.exe -S " + quoteArgument(value) + u" -l";
    const Collected out = run(line);
    // One argument too many would be a usage error; a match would list the device.
    EXPECT_EQ(out.bytes.find("Unexpected argument"), std::string::npos) << toUtf8(value);
    EXPECT_EQ(out.bytes.find("option"), std::string::npos) << toUtf8(value);
    EXPECT_EQ(out.bytes.find("Found"), std::string::npos) << toUtf8(value);
    expectedLog.push_back(toUtf8(line));
  }
  EXPECT_EQ(simulatorLog(folder), expectedLog);
}

}  // namespace
}  // namespace qwus
