// Tests of the test host's events file: one escaped line per report, passed through to the log.
#include "tools/test_host/events_file_log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace qwus {
namespace {

// An inner log that takes everything and remembers the last text.
class LastText final : public EventLog {
 public:
  EventLogHandle registerSource(const char16_t* name) override {
    return std::u16string(name) == u"refused" ? nullptr : this;
  }
  bool reportStrings(EventLogHandle, EventType, std::uint16_t, std::uint32_t id,
                     const char16_t* const* strings, std::uint16_t count) override {
    last = count > 0 ? strings[count - 1] : u"";
    lastId = id;
    lastCount = count;
    return true;
  }
  std::uint16_t lastCount = 0;
  std::u16string last;
  std::uint32_t lastId = 0;
};

TEST(EventsFileLog, LineEscapesBackslashTabAndLineEnds) {
  char line[256];
  const char16_t* strings[] = {u"a\\b\tc\r\nd \uFF01"};
  const std::size_t length = EventsFileLog::formatLine(
      "OrvaleUpgradeProcess", 21, EventType::Information, strings, 1, line, sizeof line);
  EXPECT_EQ(std::string(line, length), "OrvaleUpgradeProcess\t21\t4\ta\\\\b\\tc\\r\\nd \xEF\xBC\x81");
}

// Each insertion string is a field of its own, escaped alone, an empty one included: a tab inside
// a string never reads as the start of the next.
TEST(EventsFileLog, SeveralStringsAreOneFieldEach) {
  char line[256];
  const char16_t* strings[] = {u"Q9Z0311", u"", u"a\tb", u"Done!\r"};
  const std::size_t length = EventsFileLog::formatLine("OrvaleUpgradeOutcome", 1073742824,
                                                       EventType::Information, strings, 4, line,
                                                       sizeof line);
  EXPECT_EQ(std::string(line, length),
            "OrvaleUpgradeOutcome\t1073742824\t4\tQ9Z0311\t\ta\\tb\tDone!\\r");
}

TEST(EventsFileLog, AppendsOneFlushedLinePerReportAndPassesReportsOn) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  LastText inner;
  {
    // The log owns the file; read it back through a duplicate handle before it closes.
    EventsFileLog log(inner, file);
    EventLogHandle service = log.registerSource(u"QuorlanWindowsUpdateService");
    EXPECT_EQ(log.registerSource(u"refused"), nullptr);
    EXPECT_TRUE(log.report(service, EventType::Warning, 0, 1, u"run talvex windows update normally."));
    EXPECT_TRUE(log.report(service, EventType::Success, 0, 2, u"line\none"));
    EXPECT_EQ(inner.last, u"line\none");
    EXPECT_EQ(inner.lastId, 2u);
    const char16_t* strings[] = {u"A7X2249", u"0100"};
    EXPECT_TRUE(log.reportStrings(service, EventType::Information, 0, 1000, strings, 2));
    EXPECT_EQ(inner.lastCount, 2u);
    EXPECT_EQ(inner.last, u"0100");

    std::rewind(file);
    char buffer[512] = {};
    const std::size_t read = std::fread(buffer, 1, sizeof buffer - 1, file);
    EXPECT_EQ(std::string(buffer, read),
              "QuorlanWindowsUpdateService\t1\t2\trun talvex windows update normally.\n"
              "QuorlanWindowsUpdateService\t2\t0\tline\\none\n"
              "QuorlanWindowsUpdateService\t1000\t4\tA7X2249\t0100\n");
    std::fseek(file, 0, SEEK_END);
  }
}

}  // namespace
}  // namespace qwus
