// Tests of the fake process launcher that the engine's tests rely on.
#include "tests/fakes/fake_process_launcher.h"

#include <gtest/gtest.h>

namespace qwus::testing {
namespace {

std::vector<std::string> readChunks(OutputPipe& pipe, std::size_t size) {
  std::vector<std::string> chunks;
  char buffer[8];
  std::size_t n = 0;
  while (pipe.read(buffer, size, n)) chunks.emplace_back(buffer, n);
  EXPECT_EQ(n, 0u);
  return chunks;
}

TEST(FakeProcessLauncher, EachReadReturnsOneChunkAtMostTheAskedSize) {
  FakeProcessLauncher launcher;
  launcher.scriptOutput({"ab", std::string("c\0d", 3), "", "efghij"});
  auto pipe = launcher.createOutputPipe();
  Text line = u"dfu-util.exe -l";
  ASSERT_TRUE(launcher.startProcess(line, *pipe));
  pipe->closeWriteEnd();
  EXPECT_EQ(readChunks(*pipe, 4),
            (std::vector<std::string>{"ab", std::string("c\0d", 3), "efgh", "ij"}));
  EXPECT_FALSE(launcher.pipes()[0].writeEndOpenAtFirstRead);
}

TEST(FakeProcessLauncher, RecordsFailuresCommandLinesAndOpenEnds) {
  FakeProcessLauncher launcher;
  launcher.failPipeCreation();
  launcher.script({{"never read"}, true});
  EXPECT_EQ(launcher.createOutputPipe(), nullptr);

  auto pipe = launcher.createOutputPipe();
  ASSERT_NE(pipe, nullptr);
  Text first = u"dfu-util.exe -l";
  Text second = u"dfu-util.exe -e";
  EXPECT_FALSE(launcher.startProcess(first, *pipe));
  EXPECT_TRUE(launcher.startProcess(second, *pipe));  // beyond the script: prints nothing
  EXPECT_EQ(launcher.commandLines(), (std::vector<Text>{first, second}));

  EXPECT_TRUE(readChunks(*pipe, 8).empty());
  EXPECT_TRUE(launcher.pipes()[0].writeEndOpenAtFirstRead);  // a real pipe would block here
  pipe->closeReadEnd();
  pipe.reset();  // destroying the pipe is not closing its ends
  EXPECT_EQ(launcher.openPipeEnds(), 1u);
}

}  // namespace
}  // namespace qwus::testing
