// Tests of message formatting: the conversions the system uses and the 256-place cut.
#include "eventlog/event_format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "tests/fakes/allocation_counter.h"

namespace qwus {
namespace {

std::u16string text(const MessageBuffer& buffer) { return std::u16string(buffer.data()); }

TEST(FormatEventText, ConversionsOfTheSystemsMessages) {
  MessageBuffer b;
  const std::u16string line = u"Found DFU: [c4e2:8352]\r";

  EXPECT_EQ(formatEventText(b, u"enter initDev 1"), 15);
  EXPECT_EQ(text(b), u"enter initDev 1");

  formatEventText(b, u"analyseBuffer strTmp= %s", line);
  EXPECT_EQ(text(b), u"analyseBuffer strTmp= Found DFU: [c4e2:8352]\r");

  formatEventText(b, u"updev.mode is  %d retry is %d", 2, true);
  EXPECT_EQ(text(b), u"updev.mode is  2 retry is 1");

  formatEventText(b, u"dwEventType: %d", std::uint32_t{0x8004});
  EXPECT_EQ(text(b), u"dwEventType: 32772");

  formatEventText(b, u"initDev updev.cfgId= %d", -2147483647 - 1);
  EXPECT_EQ(text(b), u"initDev updev.cfgId= -2147483648");

  formatEventText(b, u"start service control dispatcher failed, GetLastErrorCode: %d",
                  std::uint32_t{1063});
  EXPECT_EQ(text(b), u"start service control dispatcher failed, GetLastErrorCode: 1063");

  formatEventText(b, u"file delete  %s \uFF01", u"");
  EXPECT_EQ(text(b), u"file delete   \uFF01");
}

TEST(FormatEventText, GuidOfTheWatchedInterfaceClass) {
  MessageBuffer b;
  const std::uint8_t tail[8] = {0x9A, 0x83, 0xC6, 0x1E, 0x27, 0xB4, 0xD8, 0x50};
  formatEventText(b,
                  u"Guid = {%08lX-%04hX-%04hX-%02hhX%02hhX-%02hhX%02hhX%02hhX%02hhX%02hhX%02hhX}",
                  std::uint32_t{0x5E1C7A93}, std::uint16_t{0x2B64}, std::uint16_t{0x4D0F}, tail[0],
                  tail[1], tail[2], tail[3], tail[4], tail[5], tail[6], tail[7]);
  EXPECT_EQ(text(b), u"Guid = {5E1C7A93-2B64-4D0F-9A83-C61E27B4D850}");

  formatEventText(b, u"{%08lX-%04hX-%02hhX}", std::uint32_t{0xA}, std::uint16_t{0xB},
                  std::uint8_t{0xC});
  EXPECT_EQ(text(b), u"{0000000A-000B-0C}");
}

TEST(FormatEventText, EmptyTextLeavesNothingInItsPlace) {
  MessageBuffer b;
  EXPECT_EQ(formatEventText(b, u"handlePipeInfo updev.mode %d strOutput= %s", 2, u""), 39);
  EXPECT_EQ(text(b), u"handlePipeInfo updev.mode 2 strOutput= ");
}

TEST(FormatEventText, CutsLikeSwprintfWithCount256) {
  MessageBuffer b;
  const struct {
    std::size_t length;
    int result;
    std::size_t kept;
  } cases[] = {{0, 0, 0}, {254, 254, 254}, {255, 255, 255}, {256, -1, 255}, {257, -1, 255},
               {5000, -1, 255}};
  for (const auto& c : cases) {
    const std::u16string value(c.length, u'x');
    b.fill(u'#');
    EXPECT_EQ(formatEventText(b, u"%s", value), c.result) << c.length;
    EXPECT_EQ(text(b), value.substr(0, c.kept)) << c.length;
  }
}

TEST(FormatEventText, CutAppliesToTheWholeFormattedMessage) {
  MessageBuffer b;
  const std::u16string value(300, u'v');
  EXPECT_EQ(formatEventText(b, u"doCmd updev.mode %d cmdline is %s", 1, value), -1);
  const std::u16string expected = u"doCmd updev.mode 1 cmdline is " + value;
  EXPECT_EQ(text(b), expected.substr(0, 255));
}

TEST(FormatEventText, FixedTextIgnoresArguments) {
  MessageBuffer b;
  formatEventText(b, u"CreatePipe Failed!", 7, u"ignored");
  EXPECT_EQ(text(b), u"CreatePipe Failed!");
}

TEST(FormatEventText, MismatchedOrMissingArgumentsProduceNothing) {
  MessageBuffer b;
  formatEventText(b, u"[%d][%s][%s]", u"text", 5);
  EXPECT_EQ(text(b), u"[][][]");
  formatEventText(b, u"100%% %q done");
  EXPECT_EQ(text(b), u"100%  done");
  formatEventText(b, u"trailing %");
  EXPECT_EQ(text(b), u"trailing ");
}

TEST(FormatEventText, AllocatesNothing) {
  MessageBuffer b;
  const std::u16string line(400, u'L');
  testing::AllocationCounter counter;
  formatEventText(b, u"analyseBuffer countCmd == 1 strTmp= %s", line);
  formatEventText(b, u"Guid = {%08lX-%04hX}", std::uint32_t{1}, std::uint16_t{2});
  formatEventText(b, u"updev.mode is  %d retry is %d", 2, 0);
  EXPECT_EQ(counter.count(), 0u);
}

}  // namespace
}  // namespace qwus
