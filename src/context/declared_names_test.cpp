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

  // Copies of one state that each add a name of their own; and the same
  // names, one layer per name, against all of them in one layer.
  DeclaredVariableSet x = second, y = second;
  x.Insert("x");
  y.Insert("y");
  EXPECT_FALSE(x == y);
  y = second;
  y.Insert("x");
  EXPECT_EQ(x, y);
  DeclaredVariableSet layered;
  for (const char* name : {"b", "x", "a"}) {
    layered.Insert(name);
    const DeclaredVariableSet copy = layered;
  }
  EXPECT_EQ(layered, x);
  EXPECT_EQ(x, layered);
}

// The table that a state builds for its lookups is shared by the copies
// made while nothing is added to it; a name added to a copy is the copy's.
TEST(DeclaredVariableSet, CopiesShareTheLookupTableButNotWhatTheyAdd) {
  DeclaredVariableSet start;
  for (const char* name : {"a", "b", "c"}) start.Insert(name);
  start.KeepLookup();
  DeclaredVariableSet compile = start;
  compile.Insert("d");
  EXPECT_TRUE(compile.Contains("a") && compile.Contains("d"));
  EXPECT_FALSE(start.Contains("d"));
  DeclaredVariableSet again;
  again = start;
  EXPECT_FALSE(again.Contains("d"));
  EXPECT_TRUE(again.Contains("c"));
  const DeclaredVariableSet after = compile;  // holds d
  start.DropLookup();
  compile.DropLookup();
  EXPECT_TRUE(start.Contains("b") && !start.Contains("d"));
  EXPECT_TRUE(compile.Contains("d") && after.Contains("d"));
  EXPECT_EQ(4u, after.size());
}

}  // namespace
}  // namespace kv
