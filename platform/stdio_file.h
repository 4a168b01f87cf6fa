// A ReadableFile over a C stdio stream, shared by the Win32 and the POSIX file-system adapters.
#pragma once

#include <cstdio>

#include "platform/file_system.h"

namespace qwus {

class StdioReadableFile final : public ReadableFile {
 public:
  // Takes ownership of `stream`, an open stream that is not null.
  explicit StdioReadableFile(std::FILE* stream) noexcept : stream_(stream) {}
  StdioReadableFile(const StdioReadableFile&) = delete;
  StdioReadableFile& operator=(const StdioReadableFile&) = delete;
  ~StdioReadableFile() override;

  bool seekFromEnd(std::int64_t offset) override;
  std::size_t read(void* buffer, std::size_t size) override;
  bool close() override;

 private:
  std::FILE* stream_;  // null once closed
};

}  // namespace qwus
