#include "output/scramble_object.h"

#include <gtest/gtest.h>

#include "output/scramble.h"
#include "platform/memory_file_system.h"
#include "source/pell_file.h"

namespace kv {
namespace {

TEST(ScrambleObjectTest, ReplacesContentsAndRewinds) {
  MemoryFileSystem fs("/game");
  KCFile file(fs);
  ASSERT_TRUE(file.FileOpen("/game/x.kvo", ModeWrite | ModeTruncate | ModeBinary));
  const std::string contents(100, 'a');
  ASSERT_TRUE(file.WriteBytes(contents.data(), contents.size()));

  ScrambleObject(file, 42);

  EXPECT_EQ(file.contents, ScrambleBytes(contents, MakeScrambleKey(42)));
  EXPECT_EQ(file.position, 0u);
  EXPECT_EQ(file.line, 1);
  EXPECT_FALSE(fs.HasFile("/game/x.kvo"));
}

}  // namespace
}  // namespace kv
