#include "language/command_table.h"

#include <gtest/gtest.h>

#include <set>
#include <utility>
#include <vector>

namespace kv {
namespace {

TEST(CommandTableTest, NamesAreDistinctLowerCaseAscii) {
  std::set<std::string_view> seen;
  for (const CommandInfo& info : kCommands) {
    ASSERT_FALSE(info.name.empty());
    for (char c : info.name) {
      EXPECT_TRUE((c >= 'a' && c <= 'z') || c == '_') << info.name;
    }
    EXPECT_TRUE(seen.insert(info.name).second) << "duplicate " << info.name;
  }
}

TEST(CommandTableTest, FamiliesStartAndEndAtTheirIds) {
  struct Bound {
    int id;
    std::string_view name;
  };
  const Bound kBounds[] = {
      {0, "value"},
      {14, "variable_release"},
      {15, "text"},
      {150, "text_log_now_size"},
      {151, "layer"},
      {155, "layer_show"},
      {203, "animation_release"},
      {204, "text_layer"},
      {262, "text_layer_release"},
      {263, "bar"},
      {275, "bar_release"},
      {276, "goto"},
      {287, "loop_end"},
      {288, "select"},
      {344, "select_motion"},
      {345, "function_declaration"},
      {351, "function_end"},
      {352, "button"},
      {382, "button_group_release"},
      {383, "screen_start_effect"},
      {398, "screen_stop_effect"},
      {399, "create_window"},
      {442, "end"},
      {443, "sound"},
      {467, "movie_release"},
      {468, "key_group"},
      {497, "set_mouse_y"},
      {498, "save"},
      {512, "check_file"},
      {513, "time_event"},
      {521, "time_event_release"},
      {522, "menu_main_bar"},
      {551, "menu_bar_release"},
      {552, "task_tray_icon_set"},
      {569, "tool_hint_release"},
      {570, "clear_variable"},
      {586, "clear_all"},
      {587, "year"},
      {593, "second"},
      {594, "debug_error_ignore"},
      {603, "release_only_end"},
  };
  for (const Bound& bound : kBounds) EXPECT_EQ(kCommands[bound.id].name, bound.name) << bound.id;
}

TEST(CommandTableTest, ParamCountsOfEveryNotation) {
  auto count_of = [](int id) {
    const ParamCount c = kCommands[id].count;
    return std::vector<int32_t>{c.min, c.max};
  };
  EXPECT_EQ(count_of(155), (std::vector<int32_t>{2, 6}));     // layer_show 2–6
  EXPECT_EQ(count_of(15), (std::vector<int32_t>{1, 0}));      // text 1+
  EXPECT_EQ(count_of(7), (std::vector<int32_t>{1, 1}));       // calc 1
  EXPECT_EQ(count_of(552), (std::vector<int32_t>{0, 1}));     // task_tray_icon_set 0–1
  EXPECT_EQ(count_of(343), (std::vector<int32_t>{12, 120}));  // select_rect 12–120
  EXPECT_EQ(count_of(442), (std::vector<int32_t>{0, 0}));     // end
  EXPECT_EQ(count_of(195), (std::vector<int32_t>{12, 0}));    // animation_ex 12+
  EXPECT_EQ(count_of(352), (std::vector<int32_t>{7, 7}));     // button 7
}

// Ids and counts are part of the object format: any edit to a row, however
// small, changes this digest (FNV-1a over name, NUL, min byte, max byte).
TEST(CommandTableTest, WholeTableDigestIsUnchanged) {
  uint64_t hash = 0xcbf29ce484222325u;
  auto mix = [&hash](uint8_t byte) {
    hash ^= byte;
    hash *= 0x100000001b3u;
  };
  for (const CommandInfo& info : kCommands) {
    for (char c : info.name) mix(static_cast<uint8_t>(c));
    mix(0);
    mix(static_cast<uint8_t>(info.count.min));
    mix(static_cast<uint8_t>(info.count.max));
  }
  EXPECT_EQ(hash, 0xe54d0d63cf2b9036u);
}

TEST(CommandTableTest, SetupIdsAreExactlyTheSetupRanges) {
  const std::pair<int32_t, int32_t> kRanges[] = {
      {0, 14},    {276, 287}, {345, 351}, {399, 408}, {410, 414}, {419, 419},
      {422, 425}, {434, 442}, {501, 501}, {512, 512}, {587, 603},
  };
  std::vector<int32_t> expected;
  for (const auto& [first, last] : kRanges) {
    for (int32_t id = first; id <= last; ++id) expected.push_back(id);
  }
  ASSERT_EQ(expected.size(), kSetupCommandIds.size());
  EXPECT_EQ(expected, std::vector<int32_t>(kSetupCommandIds.begin(), kSetupCommandIds.end()));
  EXPECT_EQ(kCommands[419].name, "screen_clear_color");
  EXPECT_EQ(kCommands[501].name, "load_global");
}

TEST(CommandTableTest, InternalCodesFollowTheVocabulary) {
  EXPECT_EQ(CmdDone, kCommandCount);
  EXPECT_EQ(CmdInvalid, kCommandCount + 6);
}

}  // namespace
}  // namespace kv
