#include "context/declared_names.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

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

// What a later state added and lost, whether the names stand in shared
// layers, in layers of their own or not yet in any.
TEST(DeclaredVariableSet, TellsTheNamesAddedAndLostSinceAnEarlierState) {
  DeclaredVariableSet live;
  for (const char* name : {"a", "b"}) live.Insert(name);
  const DeclaredVariableSet before = live;
  live.Insert("d");
  const DeclaredVariableSet middle = live;
  live.Insert("c");
  std::vector<std::string> added, removed;
  live.DifferencesFrom(before, &added, &removed);
  EXPECT_EQ((std::vector<std::string>{"c", "d"}), added);
  EXPECT_TRUE(removed.empty());
  live.DifferencesFrom(live, &added, &removed);
  EXPECT_TRUE(added.empty() && removed.empty());
  before.DifferencesFrom(middle, &added, &removed);
  EXPECT_TRUE(added.empty());
  EXPECT_EQ(std::vector<std::string>{"d"}, removed);

  // Sets built apart share no layer.
  DeclaredVariableSet apart;
  for (const char* name : {"b", "e", "a"}) apart.Insert(name);
  apart.DifferencesFrom(middle, &added, &removed);
  EXPECT_EQ(std::vector<std::string>{"e"}, added);
  EXPECT_EQ(std::vector<std::string>{"d"}, removed);

  // A name known to be new, added without a lookup, is found as any other.
  DeclaredVariableSet copy = middle;
  copy.InsertNew("c");
  EXPECT_EQ(live, copy);
  EXPECT_TRUE(copy.Contains("c"));
  EXPECT_EQ(4u, copy.size());
}

// Names taken away from states that share layers, wherever they stand: the
// states read as if the names had never been declared, and still compare
// equal to states built without them.
TEST(DeclaredVariableSet, AnEraserTakesNamesAwayFromStatesSharingLayers) {
  DeclaredVariableSet live;
  for (const char* name : {"a", "x"}) live.Insert(name);
  DeclaredVariableSet first = live;
  live.Insert("b");
  DeclaredVariableSet second = live;
  live.Insert("y");
  live.Insert("c");
  second.KeepLookup();
  DeclaredVariableSet::Eraser eraser({"x", "y"});
  for (DeclaredVariableSet* set : {&first, &second, &live}) eraser.EraseFrom(set);
  DeclaredVariableSet fresh;
  EXPECT_EQ(1u, first.size());
  EXPECT_TRUE(first.Contains("a") && !first.Contains("x"));
  fresh.Insert("a");
  fresh.Insert("b");
  EXPECT_EQ(fresh, second);
  EXPECT_FALSE(second.Contains("x"));
  fresh.Insert("c");
  EXPECT_EQ(fresh, live);
  EXPECT_EQ(3u, live.size());
  EXPECT_FALSE(live.Contains("y") || live.Contains("x"));
  // A name taken away can be declared again.
  live.Insert("x");
  EXPECT_TRUE(live.Contains("x"));
  EXPECT_EQ(4u, live.size());
}

// Names that begin alike, added beside a kept table across many copies (the
// names stand in one run of bytes per layer, and the lookups refer to them
// there as the layers grow): each state still reads its own names exactly,
// through an erasure and a name declared again.
TEST(DeclaredVariableSet, NamesAlikeAcrossManyLayersStayApart) {
  auto name = [](int i) { return "n" + std::to_string(i); };
  DeclaredVariableSet live;
  live.KeepLookup();
  std::vector<DeclaredVariableSet> states;
  for (int i = 0; i < 100; ++i) {
    live.Insert(name(i));
    live.Insert(name(i / 2));
    if (i % 10 == 9) states.push_back(live);
  }
  EXPECT_EQ(100u, live.size());
  for (int i = 0; i < 100; ++i) EXPECT_TRUE(live.Contains(name(i))) << i;
  for (const char* other : {"n", "n100", "n1 ", "", "n01"}) EXPECT_FALSE(live.Contains(other));
  EXPECT_TRUE(states[2].Contains("n29") && states[2].Contains("n3"));
  EXPECT_FALSE(states[2].Contains("n30") || states[2].Contains("n31"));
  std::vector<std::string> added, removed;
  states[2].DifferencesFrom(states[0], &added, &removed);
  std::vector<std::string> expected;
  for (int i = 10; i < 30; ++i) expected.push_back(name(i));
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(expected, added);
  EXPECT_TRUE(removed.empty());

  DeclaredVariableSet::Eraser eraser({"n1", "n15", "n1"});
  live.Insert("extra");
  eraser.EraseFrom(&live);
  for (DeclaredVariableSet& state : states) eraser.EraseFrom(&state);
  EXPECT_EQ(98u, states.back().size());
  EXPECT_FALSE(states[1].Contains("n1") || states[1].Contains("n15"));
  EXPECT_TRUE(states[1].Contains("n10") && states[1].Contains("n16"));
  live.Insert("n1");
  DeclaredVariableSet fresh;
  for (int i = 99; i >= 0; --i) {
    if (i != 15) fresh.Insert(name(i));
  }
  fresh.Insert("extra");
  EXPECT_EQ(fresh, live);
  EXPECT_FALSE(fresh == states.back());
}

}  // namespace
}  // namespace kv
