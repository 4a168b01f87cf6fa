// In-memory event log for tests.
#include "tests/fakes/recording_event_log.h"

namespace qwus::testing {

void RecordingEventLog::failRegistrationOf(std::u16string name) {
  std::lock_guard lock(mutex_);
  refused_.insert(std::move(name));
}

EventLogHandle RecordingEventLog::registerSource(const char16_t* name) {
  std::lock_guard lock(mutex_);
  registrations_.emplace_back(name);
  if (refused_.count(name) != 0) return nullptr;
  return &sources_.emplace_back(name);
}

bool RecordingEventLog::reportStrings(EventLogHandle source, EventType type,
                                      std::uint16_t category, std::uint32_t eventId,
                                      const char16_t* const* strings, std::uint16_t count) {
  if (source == nullptr) return false;
  std::vector<std::u16string> all(strings, strings + count);
  std::u16string first = count > 0 ? all.front() : std::u16string();
  std::lock_guard lock(mutex_);
  events_.push_back({*static_cast<const std::u16string*>(source), type, category, eventId,
                     std::move(first), std::move(all)});
  return true;
}

std::vector<RecordedEvent> RecordingEventLog::events() const {
  std::lock_guard lock(mutex_);
  return events_;
}

std::vector<std::u16string> RecordingEventLog::texts(const std::u16string& source) const {
  std::lock_guard lock(mutex_);
  std::vector<std::u16string> result;
  for (const auto& event : events_) {
    if (event.source == source) result.push_back(event.text);
  }
  return result;
}

std::vector<std::u16string> RecordingEventLog::registrations() const {
  std::lock_guard lock(mutex_);
  return registrations_;
}

void RecordingEventLog::clear() {
  std::lock_guard lock(mutex_);
  events_.clear();
}

}  // namespace qwus::testing
