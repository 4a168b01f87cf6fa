// POSIX file system: directory listing with Windows wildcard matching, unlink and stdio reading.
#include "platform/file_system.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "platform/stdio_file.h"
#include "platform/wildcard.h"

namespace qwus {
namespace {

struct DirectoryCloser {
  void operator()(DIR* directory) const noexcept { closedir(directory); }
};
using DirectoryHandle = std::unique_ptr<DIR, DirectoryCloser>;

class PosixFileSystem final : public FileSystem {
 public:
  bool findEntries(const Text& pattern, std::vector<DirectoryEntry>& entries) override {
    entries.clear();
    const std::size_t slash = pattern.find_last_of(u'/');
    const std::string prefix = slash == Text::npos ? std::string() : toUtf8(pattern.substr(0, slash + 1));
    const Text wildcard = slash == Text::npos ? pattern : pattern.substr(slash + 1);

    DirectoryHandle directory(opendir(prefix.empty() ? "." : prefix.c_str()));
    if (!directory) return false;
    while (const dirent* entry = readdir(directory.get())) {
      Text name = fromUtf8(entry->d_name);
      if (!matchesWildcard(wildcard, name)) continue;
      // stat follows links, as Windows reports a link to a directory as a directory.
      struct stat status {};
      const bool isDirectory =
          stat((prefix + entry->d_name).c_str(), &status) == 0 && S_ISDIR(status.st_mode);
      entries.push_back({std::move(name), isDirectory});
    }
    // readdir's order depends on the file system; a fixed order keeps runs reproducible.
    std::sort(entries.begin(), entries.end(),
              [](const DirectoryEntry& a, const DirectoryEntry& b) { return a.name < b.name; });
    return !entries.empty();
  }

  bool deleteFile(const Text& path) override {
    return !path.empty() && unlink(toUtf8(path).c_str()) == 0;
  }

  std::unique_ptr<ReadableFile> openForReading(const Text& path) override {
    std::FILE* stream = std::fopen(toUtf8(path).c_str(), "rb");
    if (stream == nullptr) return nullptr;
    return std::make_unique<StdioReadableFile>(stream);
  }
};

}  // namespace

FileSystem& systemFileSystem() {
  // Never destroyed: a worker may still use it while the process ends.
  static PosixFileSystem& fileSystem = *new PosixFileSystem;
  return fileSystem;
}

}  // namespace qwus
