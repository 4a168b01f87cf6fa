// Tests of the system event log adapter (the Win32 one under Wine, the standard-error one on POSIX).
#include "platform/event_log.h"

#include <gtest/gtest.h>

namespace qwus {
namespace {

TEST(SystemEventLog, RegistersAndReports) {
  EventLog& log = systemEventLog();
  EventLogHandle handle = log.registerSource(u"QuorlanWindowsUpdateServiceAdapterTest");
  ASSERT_NE(handle, nullptr);
  EXPECT_TRUE(log.report(handle, EventType::Information, 0, 1, u"adapter test information"));
  EXPECT_TRUE(log.report(handle, EventType::Error, 0, 2, u"adapter test error \u4E2D"));
}

TEST(SystemEventLog, NullHandleReportIsHarmless) {
  // Windows refuses a null handle; Wine accepts it. Either way nothing breaks.
  const bool written = systemEventLog().report(nullptr, EventType::Warning, 0, 3, u"lost");
#ifndef _WIN32
  EXPECT_FALSE(written);
#else
  (void)written;
#endif
}

TEST(EventTypeNames, AreTheWindowsNames) {
  EXPECT_STREQ(eventTypeName(EventType::Success), "EVENTLOG_SUCCESS");
  EXPECT_STREQ(eventTypeName(EventType::Error), "EVENTLOG_ERROR_TYPE");
  EXPECT_STREQ(eventTypeName(EventType::Warning), "EVENTLOG_WARNING_TYPE");
  EXPECT_STREQ(eventTypeName(EventType::Information), "EVENTLOG_INFORMATION_TYPE");
}

}  // namespace
}  // namespace qwus
