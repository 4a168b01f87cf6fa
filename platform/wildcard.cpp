// Windows wildcard matching over UTF-16 code units.
#include "platform/wildcard.h"

namespace qwus {
namespace {

char16_t foldAsciiCase(char16_t c) noexcept {
  return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

}  // namespace

bool matchesWildcard(TextView pattern, TextView name) noexcept {
  // Greedy scan that, on a mismatch, lets the most recent "*" swallow one more character. Each
  // "*" only ever moves forward, so the work stays proportional to pattern times name.
  std::size_t p = 0, n = 0;
  std::size_t starAt = TextView::npos, resumeName = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == u'*') {
      starAt = p++;
      resumeName = n;
    } else if (p < pattern.size() &&
               (pattern[p] == u'?' || foldAsciiCase(pattern[p]) == foldAsciiCase(name[n]))) {
      ++p;
      ++n;
    } else if (starAt != TextView::npos) {
      p = starAt + 1;
      n = ++resumeName;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

}  // namespace qwus
