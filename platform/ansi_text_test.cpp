// Tests of the conversion of the tool's narrow output.
#include "platform/ansi_text.h"

#include <gtest/gtest.h>

namespace qwus {
namespace {

TEST(AnsiToText, AsciiPassesUnchanged) {
  EXPECT_EQ(ansiToText("Found Runtime: [c4e2:8351] ver=0100\r\n"),
            u"Found Runtime: [c4e2:8351] ver=0100\r\n");
}

TEST(AnsiToText, EmptyAndStopsAtZeroByte) {
  EXPECT_EQ(ansiToText(""), u"");
  const char chunk[] = "before\0after";
  EXPECT_EQ(ansiToText(chunk), u"before");
}

TEST(AnsiToText, EveryByteValueGivesSomeText) {
  // Whatever the code page, no byte is lost silently or ends the text early.
  char all[256];
  for (int i = 1; i < 256; ++i) all[i - 1] = static_cast<char>(i);
  all[255] = '\0';
  EXPECT_FALSE(ansiToText(all).empty());
  EXPECT_EQ(ansiToText(all).substr(0, 127).size(), 127u);
}

}  // namespace
}  // namespace qwus
