// Event sources: registration and numbered reports.
#include "eventlog/event_source.h"

namespace qwus {

void registerEventSource(EventSource& source) {
  source.handle = source.log->registerSource(source.name.c_str());
}

ProcessEventSources::ProcessEventSources(EventLog& eventLog)
    : engine(eventLog, kEngineSourceName, kEngineFirstEventId),
      service(eventLog, kServiceSourceName, kServiceFirstEventId) {
  registerEventSource(engine);
  registerEventSource(service);
}

bool reportEvent(EventSource& source, EventType type, const char16_t* text) noexcept {
  const std::uint32_t eventId = source.nextEventId.fetch_add(1, std::memory_order_relaxed);
  return source.log->report(source.handle, type, 0, eventId, text);
}

}  // namespace qwus
