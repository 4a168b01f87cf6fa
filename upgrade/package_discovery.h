// Choosing the firmware package among the files of the install directory.
#pragma once

#include <vector>

#include "eventlog/event_source.h"
#include "platform/file_system.h"
#include "platform/text.h"

namespace qwus {

// Part of the name of a package that is never to be installed again.
inline constexpr char16_t kObsoletePackage[] = u"000900.zip.dfu";

// True for a search result that can be a package: a file, not a directory, whose own name ends in
// ".dfu" in any case. Windows' "*.dfu" also matches by 8.3 short name, so a search can return
// names such as "firmware.dfubackup".
bool isPackageEntry(const DirectoryEntry& entry);

// Keeps one of `packages` (names in `directory`, which ends in a separator) and deletes the
// others: obsolete packages always go, and of the rest the name that sorts last by UTF-16 code
// units stays. Reports each visited entry's deletion on `events`, an empty path when there is
// nothing to delete. Returns the kept name; `packages` must not be empty.
Text selectPackage(std::vector<Text> packages, const Text& directory, FileSystem& files,
                   EventSource& events);

}  // namespace qwus
