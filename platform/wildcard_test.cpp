// Tests of Windows wildcard matching.
#include "platform/wildcard.h"

#include <gtest/gtest.h>

namespace qwus {
namespace {

TEST(MatchesWildcard, Table) {
  const struct {
    const char16_t* pattern;
    const char16_t* name;
    bool matches;
  } cases[] = {
      {u"*.dfu", u"a.dfu", true},
      {u"*.dfu", u".dfu", true},
      {u"*.dfu", u"A.DFU", true},
      {u"*.dfu", u"x.dfu.dfu", true},
      {u"*.dfu", u"a.dfux", false},
      {u"*.dfu", u"a.df", false},
      {u"*.dfu", u"adfu", false},
      {u"*", u"", true},
      {u"?", u"", false},
      {u"a?c", u"abc", true},
      {u"a?c", u"ac", false},
      {u"*a*b", u"xxaxxab", true},
      {u"*a*b", u"xxaxxa", false},
      {u"**", u"anything", true},
      {u"\u00C4.dfu", u"\u00E4.dfu", false},  // only ASCII letters fold
  };
  for (const auto& c : cases) {
    EXPECT_EQ(matchesWildcard(c.pattern, c.name), c.matches)
        << toUtf8(c.pattern) << " vs " << toUtf8(c.name);
  }
}

TEST(MatchesWildcard, LongNamesStayFast) {
  const Text name(20000, u'a');
  EXPECT_FALSE(matchesWildcard(u"*a*a*a*a*b", name));
}

}  // namespace
}  // namespace qwus
