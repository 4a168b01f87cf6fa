// Tests of the test host's events file: one escaped line per report, passed through to the log.
#include "platform/events_file_log.h"

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
  bool report(EventLogHandle, EventType, std::uint16_t, std::uint32_t id,
              const char16_t* text) override {
    last = text;
    lastId = id;
    return true;
  }
  std::u16string last;
  std::uint32_t lastId = 0;
};

TEST(EventsFileLog, LineEscapesBackslashTabAndLineEnds) {
  char line[256];
  const std::size_t length = EventsFileLog::formatLine(
      "OrvaleUpgradeProcess", 21, EventType::Information,
      u"a\\b\tc\r\nd \uFF01", line, sizeof line);
  EXPECT_EQ(std::string(line, length), "OrvaleUpgradeProcess\t21\t4\ta\\\\b\\tc\\r\\nd \xEF\xBC\x81");
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

    std::rewind(file);
    char buffer[512] = {};
    const std::size_t read = std::fread(buffer, 1, sizeof buffer - 1, file);
    EXPECT_EQ(std::string(buffer, read),
              "QuorlanWindowsUpdateService\t1\t2\trun talvex windows update normally.\n"
              "QuorlanWindowsUpdateService\t2\t0\tline\\none\n");
    std::fseek(file, 0, SEEK_END);
  }
}

}  // namespace
}  // namespace qwus
