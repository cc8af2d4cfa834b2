#include "context/definition_list.h"

#include <span>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace kv {
namespace {

// Enough records to move the array and the table several times and fill
// many blocks of names, one name longer than a block among them.
TEST(DefinitionListTest, RecordsAndIndexSurviveGrowth) {
  const std::string a = "/game/a.txt", b = "/game/b.txt";
  std::vector<std::string> names;
  for (int i = 0; i < 20000; ++i) names.push_back("name" + std::to_string(i));
  names[7000] = std::string(100000, 'x');
  names[7001] = std::string("\0nul", 4);
  names[7002] = "";
  DefinitionList list;
  for (size_t i = 0; i < names.size(); ++i) {
    list.Add(names[i], i < 10000 ? &a : &b, static_cast<uint32_t>(i));
  }
  ASSERT_EQ(list.size(), names.size());
  for (size_t i = 0; i < names.size(); ++i) {
    ASSERT_EQ(list[i].name.view(), names[i]) << i;
    ASSERT_EQ(list[i].script, i < 10000 ? a : b) << i;
    ASSERT_EQ(list[i].position, i) << i;
    ASSERT_EQ(list.Find(names[i]), static_cast<int64_t>(i)) << i;
  }
  EXPECT_EQ(list.Find("name20000"), -1);
  EXPECT_EQ(list.Find("name"), -1);

  // A new script: the records stay, its names are looked up afresh.
  list.ClearIndex();
  EXPECT_EQ(list.Find("name1"), -1);
  list.Add("name1", &b, 5);
  EXPECT_EQ(list.Find("name1"), 20000);
  const std::span<const DefinitionRecord> all(list);
  ASSERT_EQ(all.size(), 20001u);
  EXPECT_EQ(std::string(all[1].name), "name1");
  EXPECT_EQ(std::string(all[20000].name), "name1");

  list.clear();
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(list.Find("name1"), -1);
  list.Add("again", &a, 1);
  EXPECT_EQ(list[0].name, "again");
  EXPECT_EQ(list.Find("again"), 0);
}

}  // namespace
}  // namespace kv
