// Windows event log adapter: RegisterEventSourceW and ReportEventW.
#include "platform/event_log.h"

#include <windows.h>

#include "platform/win_text.h"

namespace qwus {
namespace {

static_assert(static_cast<WORD>(EventType::Success) == EVENTLOG_SUCCESS);
static_assert(static_cast<WORD>(EventType::Error) == EVENTLOG_ERROR_TYPE);
static_assert(static_cast<WORD>(EventType::Warning) == EVENTLOG_WARNING_TYPE);
static_assert(static_cast<WORD>(EventType::Information) == EVENTLOG_INFORMATION_TYPE);

class WindowsEventLog final : public EventLog {
 public:
  EventLogHandle registerSource(const char16_t* name) override {
    return RegisterEventSourceW(nullptr, asWide(name));
  }

  bool report(EventLogHandle source, EventType type, std::uint16_t category, std::uint32_t eventId,
              const char16_t* text) override {
    const wchar_t* strings[1] = {asWide(text)};
    return ReportEventW(source, static_cast<WORD>(type), category, eventId, nullptr, 1, 0,
                        strings, nullptr) != FALSE;
  }
};

}  // namespace

EventLog& systemEventLog() {
  // Never destroyed: a worker may still use it while the process ends.
  static WindowsEventLog& log = *new WindowsEventLog;
  return log;
}

}  // namespace qwus
