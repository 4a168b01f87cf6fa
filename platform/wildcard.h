// Matching of file names against a Windows wildcard, for directory searches outside Windows.
#pragma once

#include "platform/text.h"

namespace qwus {

// True when `name` matches `pattern`: "*" stands for any run of characters (none included), "?"
// for exactly one character, and every other character for itself without regard to ASCII case.
bool matchesWildcard(TextView pattern, TextView name) noexcept;

}  // namespace qwus
