// Files and directories: the directory search, deletion and reading that package discovery needs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/text.h"

namespace qwus {

// One entry that a directory search returned: its own (long) name, without directory.
struct DirectoryEntry {
  Text name;
  bool isDirectory = false;
};

// A file open for reading. Destroying it closes it if close() has not been called.
class ReadableFile {
 public:
  virtual ~ReadableFile() = default;

  // Sets the position `offset` bytes from the end (a negative offset goes back). false when the
  // position cannot be set; the position is then unchanged.
  virtual bool seekFromEnd(std::int64_t offset) = 0;

  // Reads up to `size` bytes at the position into `buffer`; returns the count read.
  virtual std::size_t read(void* buffer, std::size_t size) = 0;

  // Closes the file; false when closing failed. Call at most once.
  virtual bool close() = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Lists the entries matching `pattern`, a directory followed by a Windows wildcard ("*", "?"),
  // in the order the platform gives them (FindFirstFileW/FindNextFileW). Returns false, with
  // `entries` empty, when the search cannot start: no entry matches, or the directory is missing
  // or unreadable.
  virtual bool findEntries(const Text& pattern, std::vector<DirectoryEntry>& entries) = 0;

  // Deletes a file (DeleteFileW); false when it was not deleted.
  virtual bool deleteFile(const Text& path) = 0;

  // Opens a file for binary reading (_wfopen with "rb"); null when it cannot be opened.
  virtual std::unique_ptr<ReadableFile> openForReading(const Text& path) = 0;
};

// The running system's file system. Never destroyed: threads may still use it while the process
// ends.
FileSystem& systemFileSystem();

}  // namespace qwus
