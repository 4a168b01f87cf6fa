// Tests of the portable text primitives.
#include "platform/text.h"

#include <gtest/gtest.h>

#include <limits>

namespace qwus {
namespace {

TEST(WhiteSpace, FixedTableIndependentOfLocale) {
  for (char16_t c : u"\t\n\v\f\r \u0085\u00A0\u1680\u2000\u2005\u200A\u2028\u2029\u202F\u205F\u3000") {
    if (c != u'\0') {
      EXPECT_TRUE(isWhiteSpace(c)) << static_cast<int>(c);
    }
  }
  for (char16_t c : u"a0,\"\u0008\u000E\u001F\u200B\uFEFF\uFFFD") {
    if (c != u'\0') {
      EXPECT_FALSE(isWhiteSpace(c)) << static_cast<int>(c);
    }
  }
}

TEST(Trim, RemovesWhiteSpaceAtBothEndsOnly) {
  const struct {
    std::u16string input;
    std::u16string expected;
  } cases[] = {
      {u"", u""},
      {u" \t\r\n", u""},
      {u"A7X2249\r", u"A7X2249"},
      {u" 0100", u"0100"},
      {u"\u3000in side\u00A0", u"in side"},
      {u"x", u"x"},
  };
  for (const auto& c : cases) EXPECT_EQ(trim(c.input), c.expected);
}

TEST(Contains, IsCaseSensitiveSubstringSearch) {
  EXPECT_TRUE(contains(u"USB\\VID_C4E2&PID_8351\\7", u"PID_8351"));
  EXPECT_FALSE(contains(u"usb\\vid_c4e2&pid_8351", u"PID_8351"));
  EXPECT_TRUE(contains(u"anything", u""));
  EXPECT_FALSE(contains(u"", u"a"));
}

TEST(ToInt32, BehavesLikeWideToLongClampedTo32Bits) {
  const struct {
    std::u16string input;
    std::int32_t expected;
  } cases[] = {
      {u"1", 1},
      {u"1\r", 1},
      {u"  12abc", 12},
      {u"x", 0},
      {u"", 0},
      {u"-7", -7},
      {u"+42", 42},
      {u"- 1", 0},
      {u"\t\n 9", 9},
      {u"2147483647", 2147483647},
      {u"2147483648", std::numeric_limits<std::int32_t>::max()},
      {u"99999999999999999999999", std::numeric_limits<std::int32_t>::max()},
      {u"-2147483648", std::numeric_limits<std::int32_t>::min()},
      {u"-2147483649", std::numeric_limits<std::int32_t>::min()},
      {u"0000000000000000000000000000000000012", 12},
  };
  for (const auto& c : cases) EXPECT_EQ(toInt32(c.input), c.expected) << toUtf8(c.input);
}

TEST(Utf8, RoundTripsEveryPlane) {
  const std::u16string text = u"ver=0100 \u00E9\u4E2D\uFF01 \U0001F600";
  EXPECT_EQ(fromUtf8(toUtf8(text)), text);
  EXPECT_EQ(toUtf8(u"\uFF01"), "\xEF\xBC\x81");
}

TEST(Utf8, IllFormedSequencesBecomeReplacementCharacters) {
  const struct {
    std::string input;
    std::u16string expected;
  } cases[] = {
      {"a\xFF" "b", u"a\uFFFDb"},
      {"\xC3", u"\uFFFD"},                 // truncated two-byte sequence
      {"\xE2\x82" "x", u"\uFFFDx"},        // truncated three-byte sequence is one maximal subpart
      {"\xC0\xAF", u"\uFFFD\uFFFD"},       // overlong encoding
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},  // encoded surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // beyond U+10FFFF
  };
  for (const auto& c : cases) EXPECT_EQ(fromUtf8(c.input), c.expected);
}

TEST(Utf8, UnpairedSurrogateBecomesReplacementCharacter) {
  const char16_t lone[] = {u'a', 0xD800, u'b', 0};
  EXPECT_EQ(toUtf8(lone), "a\xEF\xBF\xBD" "b");
}

TEST(Utf8, FixedBufferCutsAtCharacterBoundary) {
  char out[5];
  EXPECT_EQ(toUtf8(u"ab\u4E2D", out, sizeof out), 2u);  // the 3-byte character would not fit
  EXPECT_STREQ(out, "ab");
  EXPECT_EQ(toUtf8(u"abcd", out, sizeof out), 4u);
  EXPECT_STREQ(out, "abcd");
}

}  // namespace
}  // namespace qwus
