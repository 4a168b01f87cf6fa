// Reading a file through a C stdio stream: fseek, fread, fclose.
#include "platform/stdio_file.h"

#include <limits>

namespace qwus {

StdioReadableFile::~StdioReadableFile() {
  if (stream_ != nullptr) std::fclose(stream_);
}

bool StdioReadableFile::seekFromEnd(std::int64_t offset) {
  // fseek takes a long, which has 32 bits on Windows; larger offsets are refused rather than cut.
  if (stream_ == nullptr || offset < std::numeric_limits<long>::min() ||
      offset > std::numeric_limits<long>::max()) {
    return false;
  }
  return std::fseek(stream_, static_cast<long>(offset), SEEK_END) == 0;
}

std::size_t StdioReadableFile::read(void* buffer, std::size_t size) {
  if (stream_ == nullptr) return 0;
  return std::fread(buffer, 1, size, stream_);
}

bool StdioReadableFile::close() {
  std::FILE* stream = stream_;
  stream_ = nullptr;
  return stream != nullptr && std::fclose(stream) == 0;
}

}  // namespace qwus
