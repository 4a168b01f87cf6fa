// Package discovery and the version decision: which package to install, and whether a device
// needs it.
#include "upgrade/package_discovery.h"

#include <array>

#include "upgrade/orvale_upgrade_process.h"

namespace qwus {
namespace {

constexpr TextView kPackagePattern = u"*.dfu";
// The DFU suffix at the end of a package; its first two bytes are bcdDevice, little-endian.
constexpr std::size_t kSuffixSize = 16;

bool isObsolete(TextView name) noexcept { return contains(name, kObsoletePackage); }

// `value` as four lower-case hexadecimal digits.
Text hex4(unsigned value) {
  constexpr char16_t digits[] = u"0123456789abcdef";
  Text out(4, u'0');
  for (int i = 3; i >= 0; --i, value >>= 4) out[static_cast<std::size_t>(i)] = digits[value & 0xF];
  return out;
}

}  // namespace

bool isPackageEntry(const DirectoryEntry& entry) {
  constexpr TextView suffix = u".dfu";
  if (entry.isDirectory || entry.name.size() < suffix.size()) return false;
  const TextView end = TextView(entry.name).substr(entry.name.size() - suffix.size());
  for (std::size_t i = 0; i < suffix.size(); ++i) {
    const char16_t c = end[i];
    const char16_t lower = (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
    if (lower != suffix[i]) return false;
  }
  return true;
}

Text selectPackage(std::vector<Text> packages, const Text& directory, FileSystem& files,
                   EventSource& events) {
  Text kept = packages.front();
  for (const Text& entry : packages) {
    Text doomed;
    // NOLINTBEGIN(bugprone-branch-clone): alike bodies, different reasons in order of precedence
    if (isObsolete(kept)) {
      doomed = directory + kept;
      kept = entry;
    } else if (isObsolete(entry)) {
      doomed = directory + entry;
    } else if (kept > entry) {
      doomed = directory + entry;
    } else if (kept < entry) {
      doomed = directory + kept;
      kept = entry;
    }
    // NOLINTEND(bugprone-branch-clone)
    reportFormatted(events, EventType::Information, u"file delete  %s \uFF01", doomed);
    files.deleteFile(doomed);
  }
  return kept;
}

int OrvaleUpgradeProcess::initUpgradeInfo(const Text& directory) {
  const Text pattern = directory + Text(kPackagePattern);
  report(u"initUpgradeInfo packageList= %s", pattern);

  // A search that fails leaves no entries, and is reported like one that finds no package.
  std::vector<DirectoryEntry> entries;
  env_.files.findEntries(pattern, entries);
  std::vector<Text> packages;
  for (DirectoryEntry& entry : entries) {
    if (isPackageEntry(entry)) packages.push_back(std::move(entry.name));
  }
  if (packages.empty()) {
    report(u"initUpgradeInfo File not found %s!", pattern);
    return -1;
  }

  packageName = selectPackage(std::move(packages), directory, env_.files, env_.events);
  return readTargetVersion(env_.installDirectory + packageName);
}

int OrvaleUpgradeProcess::readTargetVersion(const Text& path) {
  std::array<unsigned char, kSuffixSize> suffix{};
  const auto file = env_.files.openForReading(path);
  if (!file) {
    report(u"_wfopen failed!!");
    return -1;
  }
  // A file shorter than the suffix cannot be positioned; it is then read from its start, and
  // whatever is not read stays zero.
  file->seekFromEnd(-static_cast<std::int64_t>(kSuffixSize));
  file->read(suffix.data(), suffix.size());
  targetVersion = hex4(suffix[0] + 256u * suffix[1]);
  report(u"get targetVersion is %s!", targetVersion);
  if (!file->close()) {
    report(u"fclose failed!!");
    return -1;
  }
  return 1;
}

bool OrvaleUpgradeProcess::checkVersion(const Text& version) {
  if (forceUpgrade) {
    report(u"Force upgrade flag is set!");
    return true;
  }
  if (version.empty()) {
    report(u"curDev.version is null");
    return false;
  }
  report(u"curDev.version is %s targetVersion is %s", version, targetVersion);
  // Plain code-unit order: four lower-case hex digits sort as their numbers do.
  if (targetVersion > version) return true;
  report(u"The device is latest version");
  return false;
}

}  // namespace qwus
