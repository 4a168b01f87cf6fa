// Temporary directories for tests that work on real files.
#include "tests/fakes/temporary_directory.h"

#include <fstream>
#include <random>
#include <stdexcept>

namespace qwus::testing {

TemporaryDirectory::TemporaryDirectory() {
  std::random_device random;
  const auto base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    auto candidate = base / ("qwus-test-" + std::to_string(random()));
    if (std::filesystem::create_directory(candidate)) {
      path_ = std::move(candidate);
      return;
    }
  }
  throw std::runtime_error("no temporary directory could be created");
}

TemporaryDirectory::~TemporaryDirectory() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

Text TemporaryDirectory::text() const {
  Text text = path_.u16string();
  text.push_back(static_cast<char16_t>(std::filesystem::path::preferred_separator));
  return text;
}

void TemporaryDirectory::writeFile(std::string_view name, std::string_view bytes) const {
  std::ofstream file(path_ / name, std::ios::binary);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void TemporaryDirectory::makeDirectory(std::string_view name) const {
  std::filesystem::create_directory(path_ / name);
}

bool TemporaryDirectory::exists(std::string_view name) const {
  return std::filesystem::exists(path_ / name);
}

}  // namespace qwus::testing
