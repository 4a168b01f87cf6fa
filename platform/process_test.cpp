// Contract tests of the system's process launcher, on real child processes (the stand-in tool) and
// real pipes: the same tests run against the POSIX adapter and, under Wine, the Win32 one.
#include "platform/process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <memory>
#include <sstream>
#include <vector>

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
  TemporaryDirectory temporary;

  // Installs the stand-in with `behaviour` into `subfolder` of the test's folder.
  std::filesystem::path tool(const StandInBehaviour& behaviour,
                             const std::string& subfolder = "tool") {
    const auto folder = temporary.path() / subfolder;
    installStandIn(folder, behaviour);
    return folder;
  }

  // The system's launcher for the programs of `folder`, kept for the test's length.
  ProcessLauncher& launcherIn(const std::filesystem::path& folder) {
    launchers_.push_back(processLauncherIn(pathText(folder)));
    return *launchers_.back();
  }

  // Starts `commandLine` from `folder`, closes this process's write end and collects the whole
  // output.
  Collected run(const std::filesystem::path& folder, Text commandLine) {
    ProcessLauncher& launcher = launcherIn(folder);
    auto pipe = launcher.createOutputPipe();
    EXPECT_NE(pipe, nullptr);
    if (pipe == nullptr) return {};
    EXPECT_TRUE(launcher.startProcess(commandLine, *pipe)) << toUtf8(commandLine);
    pipe->closeWriteEnd();
    Collected collected = readAll(*pipe);
    pipe->closeReadEnd();
    return collected;
  }

 private:
  std::vector<std::unique_ptr<ProcessLauncher>> launchers_;
};

StandInBehaviour output(const char* kind) {
  StandInBehaviour behaviour;
  behaviour.output = kind;
  return behaviour;
}

TEST_F(ProcessLauncherTest, CollectsTheOutputOfAProgramWhosePathHasBlanks) {
  const Collected out = run(tool({}, "folder with blanks"), u"dfu-util.exe -l");
  EXPECT_NE(out.bytes.find("argument: -l"), std::string::npos) << out.bytes;
  EXPECT_NE(out.bytes.find("end of output"), std::string::npos) << out.bytes;
}

// The program comes from the launcher's folder or not at all: one of the same name in the current
// folder or on PATH, where a user could have planted it, is never run.
TEST_F(ProcessLauncherTest, RunsOnlyTheProgramOfItsFolder) {
  const auto own = tool({}, "own");
  const auto onPath = tool({}, "on path");
  const auto current = tool({}, "current");
  const TemporaryDirectory empty;
  testing::SearchPathPrefix path(onPath);
  const auto before = std::filesystem::current_path();
  std::filesystem::current_path(current);

  Text line = u"dfu-util.exe -l";
  ProcessLauncher& withoutTool = launcherIn(empty.path());
  auto pipe = withoutTool.createOutputPipe();
  ASSERT_NE(pipe, nullptr);
  EXPECT_FALSE(withoutTool.startProcess(line, *pipe));
  pipe.reset();
  const Collected out = run(own, u"dfu-util.exe -l");
  std::filesystem::current_path(before);

  EXPECT_NE(out.bytes.find("argument: -l"), std::string::npos) << out.bytes;
  EXPECT_EQ(standInArguments(own), std::vector<std::string>{"[-l]"});
  EXPECT_TRUE(standInArguments(onPath).empty());
  EXPECT_TRUE(standInArguments(current).empty());
}

// A command line whose program names a folder or a drive is refused even where that file exists:
// only a file name is looked up, and only in the launcher's folder.
TEST_F(ProcessLauncherTest, ProgramThatIsNotAFileNameOfItsFolderFailsToStart) {
  const auto folder = tool({}, "tool");
  const Text full = u"\"" + pathText(folder / "dfu-util.exe") + u"\" -l";
  const Text lines[] = {u"no-such-tool-5b1e.exe -l", full,        u"tool\\dfu-util.exe -l",
                        u"tool/dfu-util.exe -l",     u"..\\tool\\dfu-util.exe -l",
                        u"Z:dfu-util.exe -l",        u"\"\" -l", u".. -l", u""};
  for (const auto& from : {temporary.path(), folder}) {
    for (Text line : lines) {
      ProcessLauncher& launcher = launcherIn(from);
      auto pipe = launcher.createOutputPipe();
      ASSERT_NE(pipe, nullptr);
      EXPECT_FALSE(launcher.startProcess(line, *pipe)) << toUtf8(line);
    }
  }
  EXPECT_TRUE(standInArguments(folder).empty());
}

TEST_F(ProcessLauncherTest, CapturesStandardOutputAndStandardError) {
  const Collected out = run(tool({}), u"dfu-util.exe -e");
  EXPECT_NE(out.bytes.find("argument: -e"), std::string::npos) << out.bytes;  // stdout
  EXPECT_NE(out.bytes.find("stand-in: standard error"), std::string::npos) << out.bytes;  // stderr
}

TEST_F(ProcessLauncherTest, EmptyOutputFailsTheFirstRead) {
  const Collected out = run(tool(output("silent")), u"dfu-util.exe -l");
  EXPECT_EQ(out.reads, 0u);
  EXPECT_TRUE(out.bytes.empty());
}

TEST_F(ProcessLauncherTest, SeveralMegabytesArriveWholeInReadsOfAtMostTheAskedSize) {
  StandInBehaviour huge = output("huge");
  huge.hugeBytes = 3000000;
  const Collected out = run(tool(huge), u"dfu-util.exe -l");
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
  const Collected withNul = run(tool(output("nul"), "zero-bytes"), u"dfu-util.exe -l");
  EXPECT_EQ(withNul.bytes.find(std::string("before\0\0after", 13)), 0u);
  EXPECT_NE(withNul.bytes.find("end of output"), std::string::npos);

  const Collected noise = run(tool(output("garbage"), "garbage"), u"dfu-util.exe -l");
  EXPECT_GE(noise.bytes.size(), 3000u);
}

TEST_F(ProcessLauncherTest, SlowOutputIsReadToTheEnd) {
  StandInBehaviour slow = output("slow");
  slow.slowMs = 20;
  const Collected out = run(tool(slow), u"dfu-util.exe -l");
  EXPECT_GT(out.reads, 1u);
  EXPECT_NE(out.bytes.find("slow line 5"), std::string::npos);
  EXPECT_NE(out.bytes.find("end of output"), std::string::npos);
}

TEST_F(ProcessLauncherTest, ReadWaitsForTheChildToExit) {
  StandInBehaviour hanging = output("hang");
  hanging.hangMs = 700;
  // The write end is closed at once, but the child's copy keeps the pipe open until it has
  // printed and exited.
  const Collected out = run(tool(hanging), u"dfu-util.exe -l");
  EXPECT_NE(out.bytes.find("end of output"), std::string::npos);
}

TEST_F(ProcessLauncherTest, ReadWaitsForTheCallersWriteEndAfterTheChildExited) {
  Text line = u"dfu-util.exe -l";
  ProcessLauncher& launcher = launcherIn(tool(output("silent")));
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
  ProcessLauncher& slowLauncher = launcherIn(tool(hanging, "slow"));
  ProcessLauncher& quickLauncher = launcherIn(tool({}, "quick"));
  auto slowPipe = slowLauncher.createOutputPipe();
  auto quickPipe = quickLauncher.createOutputPipe();
  ASSERT_NE(slowPipe, nullptr);
  ASSERT_NE(quickPipe, nullptr);
  // Both pipes exist when the slow child starts: it could inherit the quick pipe's write end.
  Text slowLine = u"dfu-util.exe -l";
  Text quickLine = u"dfu-util.exe -l";
  ASSERT_TRUE(slowLauncher.startProcess(slowLine, *slowPipe));
  ASSERT_TRUE(quickLauncher.startProcess(quickLine, *quickPipe));
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
  const Text values[] = {
      u"two words", u"-U C:\\x.bin", u"q\"uote", u"back\\\\\"slash\\", u"", u"x,y \u00E9"};
  std::vector<std::string> expected;
  for (const auto& value : values) {
    run(folder, u"dfu-util.exe -S " + quoteArgument(value) + u" -l");
    expected.push_back("[-S] [" + toUtf8(value) + "] [-l]");
  }
  EXPECT_EQ(standInArguments(folder), expected);
}

}  // namespace
}  // namespace qwus
