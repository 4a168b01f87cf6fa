// The operating system's event log: source registration and reports.
#pragma once

#include <cstdint>

namespace qwus {

// Event types; the values are those of the Windows event log (EVENTLOG_SUCCESS,
// EVENTLOG_ERROR_TYPE, EVENTLOG_WARNING_TYPE, EVENTLOG_INFORMATION_TYPE).
enum class EventType : std::uint16_t {
  Success = 0,
  Error = 1,
  Warning = 2,
  Information = 4,
};

// Name of an event type as Windows spells it, e.g. "EVENTLOG_WARNING_TYPE".
const char* eventTypeName(EventType type) noexcept;

// Opaque handle of a registered event source; null when the registration failed.
using EventLogHandle = void*;

// An event log. Implementations must allow concurrent report() calls and must not allocate on the
// heap in report().
class EventLog {
 public:
  virtual ~EventLog() = default;

  // Registers a source on the local computer (RegisterEventSourceW with no server name). Returns
  // null on failure. The handle stays valid until the process ends.
  virtual EventLogHandle registerSource(const char16_t* name) = 0;

  // Writes one event with the `count` insertion strings `strings` (each zero-terminated), no user
  // SID and no raw data (ReportEventW). Returns false when the event was not written, for example
  // for a null handle.
  virtual bool reportStrings(EventLogHandle source, EventType type, std::uint16_t category,
                             std::uint32_t eventId, const char16_t* const* strings,
                             std::uint16_t count) = 0;

  // Writes one event with exactly one insertion string, `text`.
  bool report(EventLogHandle source, EventType type, std::uint16_t category, std::uint32_t eventId,
              const char16_t* text) {
    const char16_t* strings[1] = {text};
    return reportStrings(source, type, category, eventId, strings, 1);
  }
};

// The event log of the running system: the Windows event log, or on POSIX one line per event on
// standard error. Never destroyed, so threads may still use it while the process ends.
EventLog& systemEventLog();

}  // namespace qwus
