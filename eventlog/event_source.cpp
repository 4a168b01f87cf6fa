// Event sources: registration and numbered reports.
#include "eventlog/event_source.h"

namespace qwus {

void registerEventSource(EventSource& source) {
  source.handle = source.log->registerSource(source.name.c_str());
}

ProcessEventSources::ProcessEventSources(EventLog& eventLog)
    : engine(eventLog, kEngineSourceName, kEngineFirstEventId),
      service(eventLog, kServiceSourceName, kServiceFirstEventId),
      outcome(eventLog, kOutcomeSourceName, 0) {
  registerEventSource(engine);
  registerEventSource(service);
  registerEventSource(outcome);
}

bool reportEvent(EventSource& source, EventType type, const char16_t* text) noexcept {
  // Taken apart, a thread could take id N, another N+1 and report it first: a reader of the log
  // would see N+1 before N. The lock is the source's own, so the two sources never wait on each
  // other.
  const std::lock_guard lock(source.reportLock);
  const std::uint32_t eventId = source.nextEventId.fetch_add(1, std::memory_order_relaxed);
  return source.log->report(source.handle, type, 0, eventId, text);
}

bool reportFixedEvent(EventSource& source, EventType type, std::uint32_t eventId,
                      const char16_t* const* strings, std::uint16_t count) noexcept {
  const std::lock_guard lock(source.reportLock);
  return source.log->reportStrings(source.handle, type, 0, eventId, strings, count);
}

}  // namespace qwus
