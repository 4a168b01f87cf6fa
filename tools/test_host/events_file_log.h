// An event log that also appends every report to a file (the test host's events.tsv).
#pragma once

#include <array>
#include <cstdio>
#include <mutex>

#include "platform/event_log.h"
#include "platform/text.h"

namespace qwus {

// Passes every registration and report to `inner` and appends each report to `file` (owned, opened
// for appending in binary mode; null writes nothing) as one UTF-8 line: source name, event id,
// event type (decimal) and each insertion string, separated by tabs, with backslash, tab, line
// feed and carriage return in the strings written as \\, \t, \n and \r. Each line is flushed at
// once. Reports on a source whose registration failed are not written.
class EventsFileLog final : public EventLog {
 public:
  EventsFileLog(EventLog& inner, std::FILE* file);

  // Also writes, for each line of `file`, a line of `threads` (owned, like `file`) with the
  // reporting thread's number as `threadId` gives it, so that the reports of runs that overlap
  // can be told apart.
  void recordThreads(std::FILE* threads, std::uint64_t (*threadId)());
  ~EventsFileLog() override;
  EventsFileLog(const EventsFileLog&) = delete;
  EventsFileLog& operator=(const EventsFileLog&) = delete;

  EventLogHandle registerSource(const char16_t* name) override;
  bool reportStrings(EventLogHandle handle, EventType type, std::uint16_t category,
                     std::uint32_t eventId, const char16_t* const* strings,
                     std::uint16_t count) override;

  // The line written for one report, without its line end, into `out` (no heap use).
  // Returns its length.
  static std::size_t formatLine(const char* sourceName, std::uint32_t eventId, EventType type,
                                const char16_t* const* strings, std::uint16_t stringCount,
                                char* out, std::size_t size);

 private:
  struct Source {
    EventLogHandle inner = nullptr;
    std::array<char, 128> name{};
  };

  EventLog& inner_;
  std::FILE* file_;
  std::FILE* threads_ = nullptr;
  std::uint64_t (*threadId_)() = nullptr;
  std::mutex mutex_;
  std::array<Source, 8> sources_{};
  std::size_t used_ = 0;
};

}  // namespace qwus
