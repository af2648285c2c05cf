#include "shell/toolkit/row_splice.h"

#include <gtest/gtest.h>

using namespace dorvik;

namespace {
// One identity per character.
std::vector<std::string> rows(const std::string& spec) {
  std::vector<std::string> list;
  for (char c : spec) list.emplace_back(1, c);
  return list;
}
}  // namespace

TEST(RowSplice, ReplacesOnlyWhatChangedBetweenTheSharedEnds) {
  struct Case {
    const char* before;
    const char* after;
    RowSplice expected;
  } cases[] = {
      {"abc", "abc", {3, 0, 0}},      // nothing changed
      {"", "abc", {0, 0, 3}},         // first fill
      {"abc", "", {0, 3, 0}},         // cleared
      {"abcde", "abXde", {2, 1, 1}},  // one new row in the middle
      {"abcde", "abde", {2, 1, 0}},   // one row removed
      {"abde", "abcde", {2, 0, 1}},   // one row inserted
      {"abc", "cba", {0, 3, 3}},      // reordered
      {"aaa", "aa", {2, 1, 0}},       // repeated rows never overlap head and tail
  };
  for (const Case& c : cases) {
    RowSplice got = rowSplice(rows(c.before), rows(c.after));
    EXPECT_EQ(got.position, c.expected.position) << c.before << " -> " << c.after;
    EXPECT_EQ(got.removed, c.expected.removed) << c.before << " -> " << c.after;
    EXPECT_EQ(got.added, c.expected.added) << c.before << " -> " << c.after;
  }
}
