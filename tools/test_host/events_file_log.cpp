// The test host's events file.
#include "tools/test_host/events_file_log.h"

namespace qwus {

EventsFileLog::EventsFileLog(EventLog& inner, std::FILE* file) : inner_(inner), file_(file) {}

EventsFileLog::~EventsFileLog() {
  if (file_ != nullptr) std::fclose(file_);
  if (threads_ != nullptr) std::fclose(threads_);
}

void EventsFileLog::recordThreads(std::FILE* threads, std::uint64_t (*threadId)()) {
  std::lock_guard lock(mutex_);
  threads_ = threads;
  threadId_ = threadId;
}

EventLogHandle EventsFileLog::registerSource(const char16_t* name) {
  const EventLogHandle handle = inner_.registerSource(name);
  std::lock_guard lock(mutex_);
  // A source that failed, or one beyond the table, is passed through without the file.
  if (handle == nullptr || used_ == sources_.size()) return handle;
  Source& source = sources_[used_++];
  source.inner = handle;
  toUtf8(TextView(name), source.name.data(), source.name.size());
  return &source;
}

bool EventsFileLog::reportStrings(EventLogHandle handle, EventType type, std::uint16_t category,
                                  std::uint32_t eventId, const char16_t* const* strings,
                                  std::uint16_t count) {
  const auto* source = static_cast<const Source*>(handle);
  bool ours = false;
  {
    std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < used_; ++i) ours = ours || source == &sources_[i];
  }
  if (!ours) return inner_.reportStrings(handle, type, category, eventId, strings, count);

  const bool written = inner_.reportStrings(source->inner, type, category, eventId, strings, count);
  char line[4096];
  const std::size_t length =
      formatLine(source->name.data(), eventId, type, strings, count, line, sizeof line);
  std::lock_guard lock(mutex_);
  if (file_ != nullptr) {
    std::fwrite(line, 1, length, file_);
    std::fputc('\n', file_);
    std::fflush(file_);
    if (threads_ != nullptr) {
      std::fprintf(threads_, "%llu\n", static_cast<unsigned long long>(threadId_()));
      std::fflush(threads_);
    }
  }
  return written;
}

std::size_t EventsFileLog::formatLine(const char* sourceName, std::uint32_t eventId, EventType type,
                                      const char16_t* const* strings, std::uint16_t stringCount,
                                      char* out, std::size_t size) {
  std::size_t used = 0;
  const auto put = [&](char c) {
    if (used + 1 < size) out[used++] = c;
  };
  const auto putString = [&](const char* s) {
    for (; *s != '\0'; ++s) put(*s);
  };
  const auto putNumber = [&](std::uint32_t value) {
    char digits[12];
    int count = 0;
    do {
      digits[count++] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value != 0);
    while (count > 0) put(digits[--count]);
  };

  putString(sourceName);
  put('\t');
  putNumber(eventId);
  put('\t');
  putNumber(static_cast<std::uint32_t>(type));
  for (std::uint16_t i = 0; i < stringCount; ++i) {
    put('\t');
    char utf8[1024];
    toUtf8(TextView(strings[i]), utf8, sizeof utf8);
    for (const char* p = utf8; *p != '\0'; ++p) {
      switch (*p) {
        case '\\': putString("\\\\"); break;
        case '\t': putString("\\t"); break;
        case '\n': putString("\\n"); break;
        case '\r': putString("\\r"); break;
        default: put(*p); break;
      }
    }
  }
  if (size > 0) out[used] = '\0';
  return used;
}

}  // namespace qwus
