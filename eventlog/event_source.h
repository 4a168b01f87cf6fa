// The two numbered event sources of the process and the one operation that sends a report.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "eventlog/event_format.h"
#include "platform/event_log.h"

namespace qwus {

// Source of the service host and first event id of a process's reports on it.
inline constexpr char16_t kServiceSourceName[] = u"QuorlanWindowsUpdateService";
inline constexpr std::uint32_t kServiceFirstEventId = 1;
// Source of the firmware upgrade engine and first event id of a process's reports on it.
inline constexpr char16_t kEngineSourceName[] = u"OrvaleUpgradeProcess";
inline constexpr std::uint32_t kEngineFirstEventId = 21;

// One event source: its name, the handle its registration returned (null when that failed), and
// the event id of its next report. Each report takes the current id and leaves it plus one, so the
// ids of a source are consecutive and never reused, whatever thread reports; and it takes the id
// and reports under the source's one lock, so the log receives a source's ids in order.
struct EventSource {
  EventSource(EventLog& eventLog, std::u16string sourceName, std::uint32_t firstEventId)
      : name(std::move(sourceName)), nextEventId(firstEventId), log(&eventLog) {}
  EventSource(const EventSource&) = delete;
  EventSource& operator=(const EventSource&) = delete;

  std::u16string name;
  EventLogHandle handle = nullptr;
  std::atomic<std::uint32_t> nextEventId;
  EventLog* log;
  std::mutex reportLock;  // held from taking an id to the end of its report
};

// Registers `source` with its event log and stores the handle, null or not. Nothing tests it.
void registerEventSource(EventSource& source);

// The process's two sources, registered engine first, then service.
struct ProcessEventSources {
  explicit ProcessEventSources(EventLog& eventLog);

  EventSource engine;
  EventSource service;
};

// Sends one report of `text` (zero-terminated) with the source's next event id, category 0. The id
// advances whether or not the event log takes the report. Returns the event log's result, which
// callers may ignore. Allocates nothing.
bool reportEvent(EventSource& source, EventType type, const char16_t* text) noexcept;

// The usual two steps of a report: format into a local message buffer, then report it.
template <typename... Args>
bool reportFormatted(EventSource& source, EventType type, const char16_t* format,
                     const Args&... args) noexcept {
  MessageBuffer message;
  formatEventText(message, format, args...);
  return reportEvent(source, type, message.data());
}

}  // namespace qwus
