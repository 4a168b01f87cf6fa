// Contract tests of the system's process launcher, on real child processes (the stand-in tool) and
// real pipes: the same tests run against the POSIX adapter and, under Wine, the Win32 one.
#include "platform/process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <sstream>

#include "platform/command_line.h"
#include "tests/fakes/stand_in_tool.h"

namespace qwus {
namespace {

using testing::installStandIn;
using testing::pathText;
using testing::StandInBehaviour;
using testing::standInArguments;
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

  // Installs the stand-in with `behaviour` into `subfolder` of the test's folder.
  std::filesystem::path tool(const StandInBehaviour& behaviour,
                             const std::string& subfolder = "tool") {
    const auto folder = temporary.path() / subfolder;
    installStandIn(folder, behaviour);
    return folder;
  }

  // The command line that starts the stand-in in `folder` by its full path.
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

StandInBehaviour output(const char* kind) {
  StandInBehaviour behaviour;
  behaviour.output = kind;
  return behaviour;
}

TEST_F(ProcessLauncherTest, CollectsTheOutputOfAProgramWhosePathHasBlanks) {
  const auto folder = tool({}, "folder with blanks");
  const Collected out = run(command(folder, u"-l"));
  EXPECT_NE(out.bytes.find("argument: -l"), std::string::npos) << out.bytes;
  EXPECT_NE(out.bytes.find("end of output"), std::string::npos) << out.bytes;
}

TEST_F(ProcessLauncherTest, FindsTheProgramOnTheSearchPath) {
  const auto folder = tool({});
  testing::SearchPathPrefix path(folder);
  const Collected out = run(u"dfu-util.exe -l");
  EXPECT_NE(out.bytes.find("argument: -l"), std::string::npos) << out.bytes;
  EXPECT_EQ(standInArguments(folder), std::vector<std::string>{"[-l]"});
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
  const Collected out = run(command(tool({}), u"-e"));
  EXPECT_NE(out.bytes.find("argument: -e"), std::string::npos) << out.bytes;  // stdout
  EXPECT_NE(out.bytes.find("stand-in: standard error"), std::string::npos) << out.bytes;  // stderr
}

TEST_F(ProcessLauncherTest, EmptyOutputFailsTheFirstRead) {
  const Collected out = run(command(tool(output("silent")), u"-l"));
  EXPECT_EQ(out.reads, 0u);
  EXPECT_TRUE(out.bytes.empty());
}

TEST_F(ProcessLauncherTest, SeveralMegabytesArriveWholeInReadsOfAtMostTheAskedSize) {
  StandInBehaviour huge = output("huge");
  huge.hugeBytes = 3000000;
  const Collected out = run(command(tool(huge), u"-l"));
  EXPECT_GT(out.bytes.size(), 3000000u);
  EXPECT_GE(out.reads, 3000000u / 4095);
  EXPECT_LE(out.largestRead, 4095u);
  // Nothing lost, repeated or reordered: the filler lines are numbered from 0, one after another.
  std::istringstream lines(out.bytes);
  std::size_t count = 0;
  bool inOrder = true;
  for (std::string line; std::getline(lines, line) && line.rfind("filler line ", 0) == 0; ++count) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string expected =
        "filler line " + std::to_string(count) + " of the stand-in's huge output";
    inOrder = inOrder && line == expected;
  }
  EXPECT_TRUE(inOrder);
  EXPECT_GT(count, 3000000u / 60);
  EXPECT_NE(out.bytes.rfind("end of output"), std::string::npos);
}

TEST_F(ProcessLauncherTest, BytesOfAnyValueArriveUnchanged) {
  const Collected withNul = run(command(tool(output("nul"), "zero-bytes"), u"-l"));
  EXPECT_EQ(withNul.bytes.find(std::string("before\0\0after", 13)), 0u);
  EXPECT_NE(withNul.bytes.find("end of output"), std::string::npos);

  const Collected noise = run(command(tool(output("garbage"), "garbage"), u"-l"));
  EXPECT_GE(noise.bytes.size(), 3000u);
}

TEST_F(ProcessLauncherTest, SlowOutputIsReadToTheEnd) {
  StandInBehaviour slow = output("slow");
  slow.slowMs = 20;
  const Collected out = run(command(tool(slow), u"-l"));
  EXPECT_GT(out.reads, 1u);
  EXPECT_NE(out.bytes.find("slow line 5"), std::string::npos);
  EXPECT_NE(out.bytes.find("end of output"), std::string::npos);
}

TEST_F(ProcessLauncherTest, ReadWaitsForTheChildToExit) {
  StandInBehaviour hanging = output("hang");
  hanging.hangMs = 700;
  // The write end is closed at once, but the child's copy keeps the pipe open until it has
  // printed and exited.
  const Collected out = run(command(tool(hanging), u"-l"));
  EXPECT_NE(out.bytes.find("end of output"), std::string::npos);
}

TEST_F(ProcessLauncherTest, ReadWaitsForTheCallersWriteEndAfterTheChildExited) {
  Text line = command(tool(output("silent")), u"-l");
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
  StandInBehaviour hanging = output("hang");
  hanging.hangMs = 6000;
  auto slowPipe = launcher.createOutputPipe();
  auto quickPipe = launcher.createOutputPipe();
  ASSERT_NE(slowPipe, nullptr);
  ASSERT_NE(quickPipe, nullptr);
  // Both pipes exist when the slow child starts: it could inherit the quick pipe's write end.
  Text slowLine = command(tool(hanging, "slow"), u"-l");
  Text quickLine = command(tool({}, "quick"), u"-l");
  ASSERT_TRUE(launcher.startProcess(slowLine, *slowPipe));
  ASSERT_TRUE(launcher.startProcess(quickLine, *quickPipe));
  slowPipe->closeWriteEnd();
  quickPipe->closeWriteEnd();

  const auto start = std::chrono::steady_clock::now();
  const Collected quick = readAll(*quickPipe);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(4500));
  EXPECT_NE(quick.bytes.find("end of output"), std::string::npos);

  EXPECT_NE(readAll(*slowPipe).bytes.find("end of output"), std::string::npos);
}

// The child's C runtime splits its command line (on Windows by its own rules): each quoted value
// must come out as the one argument it was.
TEST_F(ProcessLauncherTest, QuotedArgumentReachesTheChildAsOneArgument) {
  const auto folder = tool({});
  testing::SearchPathPrefix path(folder);
  const Text values[] = {
      u"two words", u"-U C:\\x.bin", u"q\"uote", u"back\\\\\"slash\\", u"", u"x,y \u00E9"};
  std::vector<std::string> expected;
  for (const auto& value : values) {
    run(u"dfu-util.exe -S " + quoteArgument(value) + u" -l");
    expected.push_back("[-S] [" + toUtf8(value) + "] [-l]");
  }
  EXPECT_EQ(standInArguments(folder), expected);
}

}  // namespace
}  // namespace qwus
