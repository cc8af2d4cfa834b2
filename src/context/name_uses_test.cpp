#include "context/name_uses.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace kv {
namespace {

TEST(NameTextTest, HoldsShortAndLongNamesThroughCopiesAndMoves) {
  const std::string long_name(40, 'x');
  for (const std::string& text : {std::string(), std::string("abc"), std::string(14, 'a'),
                                  std::string(15, 'b'), long_name, std::string("\x83\x4e\x83\x8a\0z", 6)}) {
    NameText name(text);
    EXPECT_EQ(name.view(), text);
    NameText copy(name);
    NameText moved(std::move(name));
    EXPECT_EQ(copy.view(), text);
    EXPECT_EQ(moved.view(), text);
    EXPECT_TRUE(name.empty());
    copy = moved;
    NameText& same = copy;
    copy = same;
    moved = NameText("other");
    EXPECT_EQ(copy.view(), text);
    EXPECT_EQ(moved.view(), "other");
    EXPECT_TRUE(copy == NameText(text) && copy == text && copy == std::string_view(text));
    EXPECT_FALSE(copy == "other" || NameText("other") == copy);
  }
  EXPECT_TRUE(NameText(std::string_view()).empty());
  EXPECT_EQ(sizeof(NameText), 16u);
  EXPECT_LE(sizeof(NameUse), 28u);
}

TEST(ScriptPathTest, CopiesShareThePathAndCompareByText) {
  ScriptPath a(std::string("/g/a.txt"));
  ScriptPath copy = a;
  ScriptPath b(std::string("/g/b.txt"));
  EXPECT_EQ(copy.str(), "/g/a.txt");
  EXPECT_TRUE(a == ScriptPath(std::string("/g/a.txt")));
  EXPECT_TRUE(a < b);
  a = b;
  EXPECT_EQ(copy.str(), "/g/a.txt");
  EXPECT_EQ(a.str(), "/g/b.txt");
  EXPECT_EQ(ScriptPath().str(), "");
}

NameUse Use(int32_t line, std::string name) { return NameUse{.name = name, .line = line, .column = 1}; }

// Each record as script:name, and a second definition's first line after it.
std::vector<std::string> Order(NameUseLog& log) {
  std::vector<std::string> names;
  for (const NameUseRun& run : log.InSourceOrder()) {
    for (const NameUse& use : run.uses) {
      names.push_back(std::string(run.script) + ":" + use.name);
      if (use.kind == NameUse::kSecondLabel) names.back() += "@" + std::to_string(run.FirstPlaceOf(use).first);
    }
  }
  return names;
}

TEST(NameUseLogTest, KeepsSourceOrderWithoutSortingTheRecords) {
  const ScriptPath main(std::string("/g/main.txt")), a(std::string("/g/a.txt"));
  NameUseLog log;
  log.Add(main, Use(3, "m3"));
  // A statement's records may come out of order: the later line goes after,
  // an equal line after those before it.
  log.Add(main, Use(5, "m5"));
  log.Add(main, Use(4, "m4"));
  log.Add(main, Use(4, "m4b"));
  NameUse second = Use(4, "m4c");
  second.kind = NameUse::kSecondLabel;
  second.column = 3;
  log.AddSecond(main, second, 2, 1);
  log.Add(a, Use(1, "a1"));
  log.Add(a, Use(1, "a1b"));
  EXPECT_EQ(Order(log), (std::vector<std::string>{"/g/a.txt:a1", "/g/a.txt:a1b", "/g/main.txt:m3",
                                                  "/g/main.txt:m4", "/g/main.txt:m4b",
                                                  "/g/main.txt:m4c@2", "/g/main.txt:m5"}));
  int32_t first_line = 0;
  log.ForEachFirst([&](const ScriptPath& script, const FirstDefinition& first) {
    if (script == main && first.line == 4 && first.column == 3) first_line = first.firstLine;
  });
  EXPECT_EQ(first_line, 2);
  log.Clear();
  EXPECT_TRUE(log.empty());
  EXPECT_TRUE(Order(log).empty());
}

TEST(NameUseLogTest, SpansCrossBlocksAndScriptsInTwoRunsAreMerged) {
  const ScriptPath a(std::string("/a.txt")), b(std::string("/b.txt"));
  NameUseLog log;
  constexpr int kMany = 10000;
  for (int i = 0; i < kMany; ++i) log.Add(b, Use(i, std::to_string(i)));
  NameUse second = Use(9000, "second");
  second.kind = NameUse::kSecondLabel;
  log.AddSecond(b, second, 8000, 1);
  std::vector<std::string> order = Order(log);
  ASSERT_EQ(order.size(), size_t{kMany} + 1);
  EXPECT_EQ(order.front(), "/b.txt:0");
  EXPECT_EQ(order.back(), "/b.txt:9999");
  EXPECT_EQ(order[9001], "/b.txt:second@8000");
  EXPECT_GT(log.InSourceOrder().size(), 1u);
  // The same script again after another: one list, by path and line.
  log.Add(a, Use(7, "a7"));
  log.Add(b, Use(5, "again"));
  order = Order(log);
  ASSERT_EQ(order.size(), size_t{kMany} + 3);
  EXPECT_EQ(order[9003], "/b.txt:second@8000");
  EXPECT_EQ(order[0], "/a.txt:a7");
  EXPECT_EQ(order[6], "/b.txt:5");
  EXPECT_EQ(order[7], "/b.txt:again");
  EXPECT_EQ(order[8], "/b.txt:6");
}

}  // namespace
}  // namespace kv
