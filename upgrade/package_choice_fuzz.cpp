// libFuzzer target: package choice over random directory listings. Each entry is a flags byte and
// a short name: bit 0 makes it a directory, bit 1 adds the obsolete package's mark, bit 2 ends it
// in ".dfu" and bit 3 in ".DFU"; the next byte is the name's length and the bytes after it its
// characters, from a small alphabet. The kept name and the deletions must follow the rules, and
// directories and names not ending in ".dfu" must never be touched.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <set>

#include "upgrade/engine_test_harness.h"
#include "upgrade/package_discovery.h"

namespace {

using namespace qwus;

constexpr char16_t kAlphabet[] = u"aAbZ09._- \u00E9\u4E2D";
constexpr std::size_t kAlphabetSize = sizeof kAlphabet / sizeof kAlphabet[0] - 1;

struct Entry {
  Text name;
  bool isDirectory;
};

bool endsInDfu(const Text& name) {
  if (name.size() < 4) return false;
  Text end = name.substr(name.size() - 4);
  for (char16_t& c : end) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  }
  return end == u".dfu";
}

std::vector<Entry> decode(const std::uint8_t* data, std::size_t size) {
  std::vector<Entry> entries;
  std::set<Text> names;
  std::size_t at = 0;
  while (at + 2 <= size && entries.size() < 32) {
    const std::uint8_t flags = data[at];
    const std::size_t length = std::min<std::size_t>(data[at + 1] % 12, size - at - 2);
    Text name;
    for (std::size_t i = 0; i < length; ++i) name.push_back(kAlphabet[data[at + 2 + i] % kAlphabetSize]);
    at += 2 + length;
    if ((flags & 2) != 0) name += kObsoletePackage;
    if ((flags & 4) != 0) name += u".dfu";
    if ((flags & 8) != 0) name += u".DFU";
    if (name.empty() || !names.insert(name).second) continue;
    entries.push_back({name, (flags & 1) != 0});
  }
  return entries;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Text directory = u"C:\\pkg\\";
  const std::vector<Entry> entries = decode(data, size);

  testing::EngineHarness harness(directory);
  harness.log.clear();
  std::vector<Text> packages;
  for (const Entry& entry : entries) {
    if (entry.isDirectory) {
      harness.files.addDirectory(directory + entry.name);
    } else {
      harness.files.addFile(directory + entry.name, "image\x02\x01");
      if (endsInDfu(entry.name)) packages.push_back(entry.name);
    }
  }

  const int result = harness.engine.initUpgradeInfo(directory);

  // Nothing but a package is ever deleted, and nothing is left open.
  for (const Entry& entry : entries) {
    const bool package = !entry.isDirectory && endsInDfu(entry.name);
    if (!package && !harness.files.exists(directory + entry.name)) __builtin_trap();
  }
  for (const Text& path : harness.files.deletions()) {
    if (path.empty()) continue;
    const Text name = path.substr(directory.size());
    if (std::find(packages.begin(), packages.end(), name) == packages.end()) __builtin_trap();
  }
  if (harness.files.openFiles() != 0) __builtin_trap();

  std::vector<Text> current;
  std::copy_if(packages.begin(), packages.end(), std::back_inserter(current),
               [](const Text& name) { return name.find(kObsoletePackage) == Text::npos; });
  if (packages.empty()) {
    if (result != -1 || !harness.files.deletions().empty()) __builtin_trap();
  } else if (!current.empty()) {
    // The current package whose name sorts last stays; every other package is gone.
    const Text kept = *std::max_element(current.begin(), current.end());
    if (result != 1 || harness.engine.packageName != kept) __builtin_trap();
    for (const Text& name : packages) {
      if (harness.files.exists(directory + name) != (name == kept)) __builtin_trap();
    }
  } else {
    // Only obsolete packages: none of them may stay but the one the choice ended on.
    for (const Text& name : packages) {
      if (name != harness.engine.packageName && harness.files.exists(directory + name)) __builtin_trap();
    }
  }
  return 0;
}
