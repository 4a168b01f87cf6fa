// POSIX event log adapter: each event is one readable line on standard error.
#include "platform/event_log.h"

#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdio>

#include "platform/text.h"

namespace qwus {
namespace {

// A registered source: its UTF-8 name. Registered sources are kept for the life of the process.
struct PosixSource {
  std::array<char, 128> name{};
};

class StandardErrorEventLog final : public EventLog {
 public:
  EventLogHandle registerSource(const char16_t* name) override {
    const std::size_t index = used_.fetch_add(1);
    if (index >= sources_.size()) return nullptr;
    PosixSource& source = sources_[index];
    toUtf8(TextView(name), source.name.data(), source.name.size());
    return &source;
  }

  bool reportStrings(EventLogHandle handle, EventType type, std::uint16_t /*category*/,
                     std::uint32_t eventId, const char16_t* const* strings,
                     std::uint16_t count) override {
    if (handle == nullptr) return false;
    const auto* source = static_cast<const PosixSource*>(handle);
    // One write per event so that lines of concurrent reports never interleave. Several
    // insertion strings are shown one after another, separated by " | ".
    std::array<char, 1024> utf8{};
    std::size_t used = 0;
    for (std::uint16_t i = 0; i < count && used + 1 < utf8.size(); ++i) {
      if (i > 0) {
        for (const char c : {' ', '|', ' '}) {
          if (used + 1 < utf8.size()) utf8[used++] = c;
        }
      }
      used += toUtf8(TextView(strings[i]), utf8.data() + used, utf8.size() - used);
    }
    std::array<char, 1300> line{};
    const int length = std::snprintf(line.data(), line.size(), "%s %u %s: %s\n",
                                     source->name.data(), eventId, eventTypeName(type), utf8.data());
    if (length <= 0) return false;
    const std::size_t size = static_cast<std::size_t>(length) < line.size()
                                 ? static_cast<std::size_t>(length)
                                 : line.size() - 1;
    return ::write(STDERR_FILENO, line.data(), size) == static_cast<ssize_t>(size);
  }

 private:
  std::array<PosixSource, 8> sources_{};
  std::atomic<std::size_t> used_{0};
};

}  // namespace

EventLog& systemEventLog() {
  // Never destroyed: a worker may still use it while the process ends.
  static StandardErrorEventLog& log = *new StandardErrorEventLog;
  return log;
}

}  // namespace qwus
