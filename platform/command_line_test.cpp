// Tests of Windows command-line quoting and splitting; under Windows also against the system's own
// CommandLineToArgvW.
#include "platform/command_line.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>

#include "platform/win_text.h"
#endif

namespace qwus {
namespace {

// Values that a serial number read from a device could hold.
const Text kHostileArguments[] = {
    u"A7X2249",
    u"",
    u" ",
    u"two words",
    u"tab\there",
    u"\"",
    u"\"\"",
    u"\"\"\"",
    u"say \"hi\"",
    u"back\\slash",
    u"trailing\\",
    u"trailing blank\\",
    u"\\\\",
    u"\\\"",
    u"a\\\\\"b",
    u"-U C:\\x.bin",
    u"A7 -e -D \"C:\\evil.dfu\"",
    u"x\" -U \"C:\\x.bin",
    u"comma,serial",
    u"\u00E9t\u00E9 \u4E2D\u6587",
    u"\U0001F600",
    u"new\nline",
};

std::string show(const std::vector<Text>& arguments) {
  std::string out;
  for (const auto& a : arguments) out += "[" + toUtf8(a) + "]";
  return out;
}

TEST(QuoteArgument, PlainArgumentsStayAsTheyAre) {
  for (const Text plain : {u"A7X2249", u"-l", u"c4e2:8351,c4e2:8352", u"C:\\dir\\", u"a\\b"}) {
    EXPECT_EQ(quoteArgument(plain), plain);
  }
}

TEST(QuoteArgument, QuotesAndEscapesWhereTheSplitterWouldChangeTheArgument) {
  const struct {
    Text input;
    Text expected;
  } cases[] = {
      {u"", u"\"\""},
      {u"a b", u"\"a b\""},
      {u"a\tb", u"\"a\tb\""},
      {u"a\"b", u"\"a\\\"b\""},
      {u"a\\\"b", u"\"a\\\\\\\"b\""},     // a\"b -> "a\\\"b"
      {u"C:\\a b\\", u"\"C:\\a b\\\\\""},  // trailing backslash doubled before the closing quote
      {u"a\\b c", u"\"a\\b c\""},         // backslashes not before a quote stay single
      {u"\u3000", u"\"\u3000\""},
  };
  for (const auto& c : cases) EXPECT_EQ(quoteArgument(c.input), c.expected) << toUtf8(c.input);
}

TEST(SplitCommandLine, FollowsTheWindowsRules) {
  const struct {
    Text line;
    std::vector<Text> expected;
  } cases[] = {
      {u"dfu-util.exe -l", {u"dfu-util.exe", u"-l"}},
      {u"dfu-util.exe", {u"dfu-util.exe"}},
      {u"dfu-util.exe  \t ", {u"dfu-util.exe"}},
      {u"\"C:\\Program Files\\x.exe\" -l", {u"C:\\Program Files\\x.exe", u"-l"}},
      // The program name takes backslashes and quotes literally.
      {u"C:\\a\\\"b c", {u"C:\\a\\\"b", u"c"}},
      {u"\"a\"b c", {u"a", u"b", u"c"}},
      {u"p -D \"C:\\Program Files\\Q\\f.dfu\"", {u"p", u"-D", u"C:\\Program Files\\Q\\f.dfu"}},
      {u"p a\\\\b", {u"p", u"a\\\\b"}},
      {u"p a\\\\\"b c\"", {u"p", u"a\\b c"}},
      {u"p a\\\\\\\"b", {u"p", u"a\\\"b"}},
      {u"p \"\"", {u"p", u""}},
      {u"p \"\" x", {u"p", u"", u"x"}},
      {u"p \"a\"\"b\"", {u"p", u"a\"b"}},
      {u"p \"\"\"\"\"\"", {u"p", u"\"\""}},
      {u"p a\"b c\"d", {u"p", u"ab cd"}},
      {u"p \"unterminated", {u"p", u"unterminated"}},
      {u"p x\\", {u"p", u"x\\"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(splitCommandLine(c.line), c.expected) << toUtf8(c.line) << " -> "
                                                   << show(splitCommandLine(c.line));
  }
  EXPECT_TRUE(splitCommandLine(u"").empty());
}

TEST(QuoteArgument, EveryValueComesBackAsExactlyOneArgument) {
  for (const auto& value : kHostileArguments) {
    const Text line = u"dfu-util.exe -S " + quoteArgument(value) + u" -c 1 -e";
    EXPECT_EQ(splitCommandLine(line),
              (std::vector<Text>{u"dfu-util.exe", u"-S", value, u"-c", u"1", u"-e"}))
        << toUtf8(line);
  }
}

#ifdef _WIN32

std::vector<Text> systemSplit(const Text& line) {
  int count = 0;
  LPWSTR* argv = CommandLineToArgvW(asWide(line.c_str()), &count);
  std::vector<Text> arguments;
  if (argv == nullptr) return arguments;
  for (int i = 0; i < count; ++i) arguments.emplace_back(asText(argv[i]));
  LocalFree(argv);
  return arguments;
}

TEST(CommandLineToArgvW, GivesBackEveryQuotedValue) {
  for (const auto& value : kHostileArguments) {
    const Text line = u"dfu-util.exe -S " + quoteArgument(value) + u" -e";
    EXPECT_EQ(systemSplit(line), (std::vector<Text>{u"dfu-util.exe", u"-S", value, u"-e"}))
        << toUtf8(line);
  }
}

TEST(CommandLineToArgvW, AgreesWithSplitCommandLine) {
  const Text lines[] = {
      u"dfu-util.exe -l",
      u"\"C:\\Program Files\\x.exe\" -l",
      u"C:\\a\\\"b c",
      u"\"a\"b c",
      u"p a\\\\\"b c\"",
      u"p a\\\\\\\"b",
      u"p \"\" x",
      u"p \"a\"\"b\"",
      u"p \"\"\"\"\"\"",
      u"p \"\"\"\"",
      u"p \"\"\"x y",
      u"p a\"b c\"d",
      u"p \"unterminated",
      u"p x\\ \t",
      u"p \\\"\"x",
  };
  for (const auto& line : lines) {
    EXPECT_EQ(splitCommandLine(line), systemSplit(line)) << toUtf8(line);
  }
}

#endif

}  // namespace
}  // namespace qwus
