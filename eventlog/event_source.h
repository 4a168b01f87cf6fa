// The event sources of the process: two numbered ones, whose ids count the reports, and the
// outcome source, whose ids name the outcome; and the operations that send a report.
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
// Source of one event per handled upgrade run, whose fixed id names the run's outcome.
inline constexpr char16_t kOutcomeSourceName[] = u"OrvaleUpgradeOutcome";
// The message file of the sources, installed beside the executable.
inline constexpr char16_t kMessageFileName[] = u"QuorlanEventMessages.dll";

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

// The process's three sources, registered engine first, then service, then outcome.
struct ProcessEventSources {
  explicit ProcessEventSources(EventLog& eventLog);

  EventSource engine;
  EventSource service;
  EventSource outcome;  // its running id is never used
};

// Sends one report of `text` (zero-terminated) with the source's next event id, category 0. The id
// advances whether or not the event log takes the report. Returns the event log's result, which
// callers may ignore. Allocates nothing.
bool reportEvent(EventSource& source, EventType type, const char16_t* text) noexcept;

// Sends one report with the fixed id `eventId` and the `count` insertion strings `strings`, under
// the source's lock; the source's running id is neither used nor advanced. Returns the event log's
// result. Allocates nothing.
bool reportFixedEvent(EventSource& source, EventType type, std::uint32_t eventId,
                      const char16_t* const* strings, std::uint16_t count) noexcept;

// The usual two steps of a report: format into a local message buffer, then report it.
template <typename... Args>
bool reportFormatted(EventSource& source, EventType type, const char16_t* format,
                     const Args&... args) noexcept {
  MessageBuffer message;
  formatEventText(message, format, args...);
  return reportEvent(source, type, message.data());
}

}  // namespace qwus
