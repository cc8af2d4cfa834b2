#include "context/code_arena.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace kv {
namespace {

TEST(CodeArenaTest, KeptCodeStaysIntactAcrossBlocks) {
  CodeArena arena(4096);
  // Fills a block, starts the next, then keeps code larger than a block.
  const std::vector<std::string> codes = {std::string(3000, 'a'), std::string(3000, 'b'),
                                          std::string(1096, 'c'), std::string(10000, 'd'),
                                          std::string(1, 'e')};
  std::vector<std::string_view> kept;
  for (const std::string& code : codes) kept.push_back(arena.Keep(code));
  for (size_t i = 0; i < codes.size(); ++i) EXPECT_EQ(kept[i], codes[i]) << i;
  EXPECT_EQ(kept[1].data() + 3000, kept[2].data()) << "code is packed one after another";

  EXPECT_EQ(arena.Keep("").data(), nullptr);
  arena.Clear();
  EXPECT_EQ(arena.Keep("again"), "again");
}

// A move copies in pieces of a few MiB and gives each copied piece back: the
// kept code is whole and in order, whatever the pieces and the pages.
TEST(CodeArenaTest, MovedCodeIsKeptWhole) {
  CodeArena arena(4096);
  std::string code;
  for (size_t i = 0; code.size() < (size_t{9} << 20) + 123; ++i) code += std::to_string(i) + ';';
  const std::string expected = code;
  std::string small = "small";
  EXPECT_EQ(arena.Move(&small), "small");
  EXPECT_EQ(arena.Move(&code), expected);
  std::string empty;
  EXPECT_EQ(arena.Move(&empty).data(), nullptr);
}

}  // namespace
}  // namespace kv
