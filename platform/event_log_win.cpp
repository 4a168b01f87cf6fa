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

  bool reportStrings(EventLogHandle source, EventType type, std::uint16_t category,
                     std::uint32_t eventId, const char16_t* const* strings,
                     std::uint16_t count) override {
    // char16_t and wchar_t are the same UTF-16 units on Windows (see win_text.h); ReportEventW
    // only reads the array, which its declaration does not say.
    const auto wide = const_cast<LPCWSTR*>(reinterpret_cast<const LPCWSTR*>(strings));
    return ReportEventW(source, static_cast<WORD>(type), category, eventId, nullptr, count, 0,
                        wide, nullptr) != FALSE;
  }
};

}  // namespace

EventLog& systemEventLog() {
  // Never destroyed: a worker may still use it while the process ends.
  static WindowsEventLog& log = *new WindowsEventLog;
  return log;
}

}  // namespace qwus
