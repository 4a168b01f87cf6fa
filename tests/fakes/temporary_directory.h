// A fresh directory under the system's temporary folder, removed with everything in it at the end.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "platform/text.h"

namespace qwus::testing {

class TemporaryDirectory {
 public:
  TemporaryDirectory();
  ~TemporaryDirectory();
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // The directory as the system's own path text, ending in its separator.
  Text text() const;
  // Writes a file `name` in the directory holding exactly `bytes`.
  void writeFile(std::string_view name, std::string_view bytes) const;
  void makeDirectory(std::string_view name) const;
  bool exists(std::string_view name) const;

 private:
  std::filesystem::path path_;
};

}  // namespace qwus::testing
