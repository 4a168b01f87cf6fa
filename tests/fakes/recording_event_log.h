// An in-memory event log for tests: records every report and can refuse chosen registrations.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/event_log.h"

namespace qwus::testing {

struct RecordedEvent {
  std::u16string source;
  EventType type;
  std::uint16_t category;
  std::uint32_t id;
  std::u16string text;                  // the first insertion string
  std::vector<std::u16string> strings;  // every insertion string
};

class RecordingEventLog final : public EventLog {
 public:
  // Registrations of `name` will fail (return null).
  void failRegistrationOf(std::u16string name);

  EventLogHandle registerSource(const char16_t* name) override;
  bool reportStrings(EventLogHandle source, EventType type, std::uint16_t category,
                     std::uint32_t eventId, const char16_t* const* strings,
                     std::uint16_t count) override;

  // Every report that reached the log, in order.
  std::vector<RecordedEvent> events() const;
  // The texts of the reports on one source, in order.
  std::vector<std::u16string> texts(const std::u16string& source) const;
  // Names passed to registerSource, in order, successful or not.
  std::vector<std::u16string> registrations() const;
  void clear();

 private:
  mutable std::mutex mutex_;
  std::deque<std::u16string> sources_;  // stable addresses serve as handles
  std::set<std::u16string> refused_;
  std::vector<std::u16string> registrations_;
  std::vector<RecordedEvent> events_;
};

// Takes every report and keeps nothing: for measuring the reporting path alone.
class NullEventLog final : public EventLog {
 public:
  EventLogHandle registerSource(const char16_t*) override { return this; }
  bool reportStrings(EventLogHandle, EventType, std::uint16_t, std::uint32_t,
                     const char16_t* const*, std::uint16_t) override {
    return true;
  }
};

}  // namespace qwus::testing
