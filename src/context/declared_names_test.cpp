#include "context/declared_names.h"

#include <gtest/gtest.h>

namespace kv {
namespace {

// Copies taken between declarations, as the language server keeps one where
// each script begins: each reads as the names of its moment, and two states
// are equal by their names, whichever layers hold them.
TEST(DeclaredVariableSet, CopiesKeepTheirMomentAndCompareByTheirNames) {
  DeclaredVariableSet live;
  live.Insert("a");
  const DeclaredVariableSet first = live;
  live.Insert("b");
  live.Insert("a");
  const DeclaredVariableSet second = live;
  live.Insert("c");

  EXPECT_TRUE(first.Contains("a"));
  EXPECT_FALSE(first.Contains("b"));
  EXPECT_TRUE(second.Contains("b"));
  EXPECT_FALSE(second.Contains("c"));
  EXPECT_TRUE(live.Contains("a") && live.Contains("b") && live.Contains("c"));
  EXPECT_EQ(3u, live.size());

  // The same names reached another way.
  DeclaredVariableSet other = first;
  other.Insert("c");
  other.Insert("b");
  EXPECT_EQ(live, other);
  EXPECT_FALSE(second == other);
  DeclaredVariableSet fresh;
  for (const char* name : {"c", "b", "a"}) fresh.Insert(name);
  EXPECT_EQ(fresh, live);
  EXPECT_EQ(DeclaredVariableSet(), DeclaredVariableSet());
  EXPECT_FALSE(fresh == first);
}

}  // namespace
}  // namespace kv
