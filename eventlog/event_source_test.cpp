// Tests of the numbered event sources and the report operation.
#include "eventlog/event_source.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "tests/fakes/allocation_counter.h"
#include "tests/fakes/recording_event_log.h"

namespace qwus {
namespace {

using testing::NullEventLog;
using testing::RecordingEventLog;

TEST(ProcessEventSources, RegistersEngineFirstThenServiceThenOutcome) {
  RecordingEventLog log;
  ProcessEventSources sources(log);
  EXPECT_EQ(log.registrations(),
            (std::vector<std::u16string>{u"OrvaleUpgradeProcess", u"QuorlanWindowsUpdateService",
                                         u"OrvaleUpgradeOutcome"}));
  EXPECT_NE(sources.engine.handle, nullptr);
  EXPECT_NE(sources.service.handle, nullptr);
  EXPECT_NE(sources.outcome.handle, nullptr);
  EXPECT_EQ(sources.engine.nextEventId.load(), 21u);
  EXPECT_EQ(sources.service.nextEventId.load(), 1u);
}

TEST(ReportEvent, SourcesNumberIndependently) {
  RecordingEventLog log;
  ProcessEventSources sources(log);
  reportEvent(sources.service, EventType::Warning, u"first");
  reportEvent(sources.service, EventType::Information, u"second");
  reportEvent(sources.engine, EventType::Information, u"engine");
  reportEvent(sources.service, EventType::Success, u"third");

  const auto events = log.events();
  ASSERT_EQ(events.size(), 4u);
  const struct {
    std::u16string source;
    std::uint32_t id;
    EventType type;
    std::u16string text;
  } expected[] = {
      {u"QuorlanWindowsUpdateService", 1, EventType::Warning, u"first"},
      {u"QuorlanWindowsUpdateService", 2, EventType::Information, u"second"},
      {u"OrvaleUpgradeProcess", 21, EventType::Information, u"engine"},
      {u"QuorlanWindowsUpdateService", 3, EventType::Success, u"third"},
  };
  for (std::size_t i = 0; i < events.size(); ++i) {
    EXPECT_EQ(events[i].source, expected[i].source);
    EXPECT_EQ(events[i].id, expected[i].id);
    EXPECT_EQ(events[i].type, expected[i].type);
    EXPECT_EQ(events[i].text, expected[i].text);
    EXPECT_EQ(events[i].category, 0u);
  }
}

// An outcome's id is its own, whatever was reported before; its strings arrive whole and in order;
// and the numbered sources go on counting as if it had not been reported.
TEST(ReportFixedEvent, KeepsItsIdAndEveryStringAndLeavesTheCountsAlone) {
  RecordingEventLog log;
  ProcessEventSources sources(log);
  reportEvent(sources.service, EventType::Warning, u"before");
  const char16_t* strings[] = {u"Q9Z0311", u"0100", u"0102", u"orvale-0102.dfu", u"Done!"};
  EXPECT_TRUE(reportFixedEvent(sources.outcome, EventType::Information, 0x400003E8, strings, 5));
  EXPECT_TRUE(reportFixedEvent(sources.outcome, EventType::Error, 0xC00003E9, strings, 5));
  reportEvent(sources.service, EventType::Warning, u"after");

  const auto events = log.events();
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[1].source, u"OrvaleUpgradeOutcome");
  EXPECT_EQ(events[1].id, 0x400003E8u);
  EXPECT_EQ(events[2].id, 0xC00003E9u);
  EXPECT_EQ(events[2].type, EventType::Error);
  EXPECT_EQ(events[1].strings, (std::vector<std::u16string>{u"Q9Z0311", u"0100", u"0102",
                                                            u"orvale-0102.dfu", u"Done!"}));
  EXPECT_EQ(events[3].id, 2u);
  EXPECT_EQ(sources.outcome.nextEventId.load(), 0u);
}

TEST(ReportEvent, FailedRegistrationLosesReportsButNumbersStillAdvance) {
  RecordingEventLog log;
  log.failRegistrationOf(u"OrvaleUpgradeProcess");
  ProcessEventSources sources(log);
  EXPECT_EQ(sources.engine.handle, nullptr);

  EXPECT_FALSE(reportEvent(sources.engine, EventType::Information, u"lost 21"));
  EXPECT_FALSE(reportEvent(sources.engine, EventType::Information, u"lost 22"));
  EXPECT_TRUE(reportEvent(sources.service, EventType::Warning, u"kept"));
  EXPECT_EQ(sources.engine.nextEventId.load(), 23u);

  const auto events = log.events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].id, 1u);
  EXPECT_EQ(events[0].text, u"kept");
}

TEST(ReportFormatted, FormatsIntoTheMessageBufferThenReports) {
  RecordingEventLog log;
  EventSource source(log, u"S", 1);
  registerEventSource(source);
  reportFormatted(source, EventType::Information, u"get targetVersion is %s!", u"0123");
  reportFormatted(source, EventType::Information, std::u16string(300, u'y').c_str());
  const auto texts = log.texts(u"S");
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0], u"get targetVersion is 0123!");
  EXPECT_EQ(texts[1], std::u16string(255, u'y'));
}

// A log that gives other threads their turn before it takes a report, as a real one does while it
// writes: a thread that took an id without reporting it at once is overtaken.
class YieldingEventLog final : public EventLog {
 public:
  EventLogHandle registerSource(const char16_t* name) override {
    return recorded.registerSource(name);
  }
  bool reportStrings(EventLogHandle source, EventType type, std::uint16_t category,
                     std::uint32_t eventId, const char16_t* const* strings,
                     std::uint16_t count) override {
    std::this_thread::yield();
    return recorded.reportStrings(source, type, category, eventId, strings, count);
  }
  RecordingEventLog recorded;
};

// Every id is used once, and the log receives them in order, whatever thread reports.
TEST(ReportEvent, IdsReachTheLogOnceEachAndInOrderUnderConcurrentReports) {
  YieldingEventLog log;
  EventSource source(log, u"Concurrent", 21);
  registerEventSource(source);
  constexpr int kThreads = 8;
  constexpr int kReportsPerThread = 500;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&source] {
      for (int i = 0; i < kReportsPerThread; ++i) {
        reportFormatted(source, EventType::Information, u"report %d", i);
      }
    });
  }
  for (auto& thread : threads) thread.join();

  const auto events = log.recorded.events();
  ASSERT_EQ(events.size(), static_cast<std::size_t>(kThreads * kReportsPerThread));
  std::size_t outOfOrder = 0;
  for (std::size_t i = 0; i < events.size(); ++i) outOfOrder += events[i].id != 21u + i;
  EXPECT_EQ(outOfOrder, 0u);
  EXPECT_EQ(source.nextEventId.load(), 21u + kThreads * kReportsPerThread);
}

TEST(ReportEvent, FormattingAndReportingAllocateNothing) {
  NullEventLog log;
  ProcessEventSources sources(log);
  const std::u16string line(1000, u'z');
  testing::AllocationCounter counter;
  reportFormatted(sources.engine, EventType::Information, u"analyseBuffer strTmp= %s", line);
  reportFormatted(sources.service, EventType::Warning, u"dwEventType: %d", 32768);
  reportEvent(sources.service, EventType::Information, u"device remove");
  EXPECT_EQ(counter.count(), 0u);
}

TEST(ReportEvent, SystemEventLogReportAllocatesNothing) {
  EventSource source(systemEventLog(), u"QuorlanAllocationTest", 1);
  registerEventSource(source);
  testing::AllocationCounter counter;
  reportFormatted(source, EventType::Information, u"no heap %d", 1);
  EXPECT_EQ(counter.count(), 0u);
}

}  // namespace
}  // namespace qwus
