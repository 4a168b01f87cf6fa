// Portable part of the event log interface.
#include "platform/event_log.h"

namespace qwus {

const char* eventTypeName(EventType type) noexcept {
  switch (type) {
    case EventType::Success: return "EVENTLOG_SUCCESS";
    case EventType::Error: return "EVENTLOG_ERROR_TYPE";
    case EventType::Warning: return "EVENTLOG_WARNING_TYPE";
    case EventType::Information: return "EVENTLOG_INFORMATION_TYPE";
  }
  return "EVENTLOG_UNKNOWN_TYPE";
}

}  // namespace qwus
