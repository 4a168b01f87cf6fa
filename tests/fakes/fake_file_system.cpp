// In-memory file system for tests.
#include "tests/fakes/fake_file_system.h"

#include <algorithm>
#include <cstring>

#include "platform/wildcard.h"

namespace qwus::testing {

class FakeFileSystem::File final : public ReadableFile {
 public:
  File(std::string bytes, std::atomic<int>& openFiles, bool failSeeks, bool failCloses)
      : bytes_(std::move(bytes)), openFiles_(openFiles), failSeeks_(failSeeks),
        failCloses_(failCloses) {
    ++openFiles_;
  }
  ~File() override {
    if (open_) --openFiles_;
  }

  bool seekFromEnd(std::int64_t offset) override {
    const auto target = static_cast<std::int64_t>(bytes_.size()) + offset;
    if (failSeeks_ || target < 0) return false;
    position_ = static_cast<std::size_t>(target);
    return true;
  }

  std::size_t read(void* buffer, std::size_t size) override {
    if (position_ >= bytes_.size()) return 0;
    const std::size_t count = std::min(size, bytes_.size() - position_);
    std::memcpy(buffer, bytes_.data() + position_, count);
    position_ += count;
    return count;
  }

  bool close() override {
    if (open_) --openFiles_;
    open_ = false;
    return !failCloses_;
  }

 private:
  std::string bytes_;
  std::atomic<int>& openFiles_;
  bool failSeeks_;
  bool failCloses_;
  bool open_ = true;
  std::size_t position_ = 0;
};

void FakeFileSystem::addFile(Text path, std::string bytes, Text alias) {
  nodes_.push_back({std::move(path), std::move(bytes), std::move(alias), false});
}

void FakeFileSystem::addDirectory(Text path) {
  nodes_.push_back({std::move(path), {}, {}, true});
}

bool FakeFileSystem::exists(const Text& path) const {
  return std::any_of(nodes_.begin(), nodes_.end(), [&](const Node& n) { return n.path == path; });
}

bool FakeFileSystem::findEntries(const Text& pattern, std::vector<DirectoryEntry>& entries) {
  std::lock_guard lock(mutex_);
  entries.clear();
  if (failSearches_) return false;
  const std::size_t split = pattern.find_last_of(u"\\/") + 1;  // 0 when there is no separator
  const TextView directory = TextView(pattern).substr(0, split);
  const TextView wildcard = TextView(pattern).substr(split);
  for (const Node& node : nodes_) {
    const TextView path = node.path;
    if (path.size() <= directory.size() || path.substr(0, directory.size()) != directory) continue;
    const TextView name = path.substr(directory.size());
    if (name.find_first_of(u"\\/") != TextView::npos) continue;
    if (matchesWildcard(wildcard, name) || (!node.alias.empty() && matchesWildcard(wildcard, node.alias))) {
      entries.push_back({Text(name), node.isDirectory});
    }
  }
  return !entries.empty();
}

bool FakeFileSystem::deleteFile(const Text& path) {
  std::lock_guard lock(mutex_);
  deletions_.push_back(path);
  if (refusedDeletions_.count(path) != 0) return false;
  const auto node = std::find_if(nodes_.begin(), nodes_.end(),
                                 [&](const Node& n) { return n.path == path && !n.isDirectory; });
  if (node == nodes_.end()) return false;
  nodes_.erase(node);
  return true;
}

std::unique_ptr<ReadableFile> FakeFileSystem::openForReading(const Text& path) {
  std::lock_guard lock(mutex_);
  const auto node = std::find_if(nodes_.begin(), nodes_.end(),
                                 [&](const Node& n) { return n.path == path && !n.isDirectory; });
  if (node == nodes_.end() || refusedOpens_.count(path) != 0) return nullptr;
  return std::make_unique<File>(node->bytes, openFiles_, failSeeks_, failCloses_);
}

}  // namespace qwus::testing
