// Windows file system: FindFirstFileW/FindNextFileW, DeleteFileW and _wfopen reading.
#include "platform/file_system.h"

#include <windows.h>

#include <cstdio>

#include "platform/stdio_file.h"
#include "platform/win_text.h"

namespace qwus {
namespace {

struct FindCloser {
  void operator()(HANDLE search) const noexcept { FindClose(search); }
};
using FindHandle = std::unique_ptr<void, FindCloser>;

class WindowsFileSystem final : public FileSystem {
 public:
  bool findEntries(const Text& pattern, std::vector<DirectoryEntry>& entries) override {
    entries.clear();
    WIN32_FIND_DATAW data{};
    const HANDLE first = FindFirstFileW(asWide(pattern.c_str()), &data);
    if (first == INVALID_HANDLE_VALUE) return false;
    const FindHandle search(first);
    do {
      entries.push_back({Text(asText(data.cFileName)),
                         (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
    } while (FindNextFileW(search.get(), &data));
    return true;
  }

  bool deleteFile(const Text& path) override {
    return DeleteFileW(asWide(path.c_str())) != FALSE;
  }

  std::unique_ptr<ReadableFile> openForReading(const Text& path) override {
    std::FILE* stream = _wfopen(asWide(path.c_str()), L"rb");
    if (stream == nullptr) return nullptr;
    return std::make_unique<StdioReadableFile>(stream);
  }
};

}  // namespace

FileSystem& systemFileSystem() {
  // Never destroyed: a worker may still use it while the process ends.
  static WindowsFileSystem& fileSystem = *new WindowsFileSystem;
  return fileSystem;
}

}  // namespace qwus
