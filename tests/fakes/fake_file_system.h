// An in-memory file system for tests: files and directories in the order they were added, with
// searches, opens, seeks, closes and deletions that can be made to fail.
#pragma once

#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace qwus::testing {

// Searches, deletions and opens are safe from several threads at once; the set-up calls and
// deletions() are for the test's own thread.
class FakeFileSystem final : public FileSystem {
 public:
  // Adds a file at `path` (directory and name) holding `bytes`. A search also matches the file by
  // `alias` when one is given, as Windows matches a long name's 8.3 short name.
  void addFile(Text path, std::string bytes, Text alias = {});
  void addDirectory(Text path);

  // From now on every search fails.
  void failSearches() { failSearches_ = true; }
  // Opening, deleting `path` fails.
  void failOpenOf(Text path) { refusedOpens_.insert(std::move(path)); }
  void failDeletionOf(Text path) { refusedDeletions_.insert(std::move(path)); }
  // Every seek / close of a file opened from now on fails.
  void failSeeks() { failSeeks_ = true; }
  void failCloses() { failCloses_ = true; }

  // True when a file or directory `path` is there.
  bool exists(const Text& path) const;
  // The path of every deleteFile call, in order, whether it deleted something or not.
  const std::vector<Text>& deletions() const { return deletions_; }
  // Files opened and not yet closed or destroyed.
  int openFiles() const { return openFiles_.load(); }

  // Entries of the pattern's directory (the text up to its last "\" or "/") whose name or alias
  // matches the wildcard after it, in the order they were added.
  bool findEntries(const Text& pattern, std::vector<DirectoryEntry>& entries) override;
  bool deleteFile(const Text& path) override;
  std::unique_ptr<ReadableFile> openForReading(const Text& path) override;

 private:
  struct Node {
    Text path;
    std::string bytes;
    Text alias;
    bool isDirectory = false;
  };
  class File;

  std::vector<Node> nodes_;
  std::set<Text> refusedOpens_;
  std::set<Text> refusedDeletions_;
  std::vector<Text> deletions_;
  bool failSearches_ = false;
  bool failSeeks_ = false;
  bool failCloses_ = false;
  std::atomic<int> openFiles_{0};
  std::mutex mutex_;
};

}  // namespace qwus::testing
