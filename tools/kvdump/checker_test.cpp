#include "kvdump/checker.h"

#include <gtest/gtest.h>

#include "kvdump/test_objects.h"
#include "output/scramble.h"
#include "test_support/scramble_reference.h"
#include "test_support/conversion_harness.h"

namespace kv::kvdump {
namespace {

using namespace testing;

// The objects of a small game that uses every kind of jump.
struct Converted {
  Converted() {
    fs.AddFile("/game/main.txt",
               "create_window;\nvalue i @ 0;\nfunction f;\n if i == 2; function_exit; endif;\n"
               "function_end;\ntop:\nloop i < 3;\n i = i + 1;\n if i == 1; loop_exit;\n"
               " elseif i # 2; text \"a\";\n else; text \"b\";\n endif;\nloop_end;\n"
               "goto top;\n");
    fs.AddFile("/game/b.png", "PNG");
    RunConversion(fs);
  }
  MemoryFileSystem fs{"/game"};
};

TEST(CheckStoredObject, ConverterOutputIsSoundAndEveryTruncationIsNot) {
  Converted game;
  for (const char* name : {"/game/script.kvo", "/game/image.kvo"}) {
    const std::string stored = game.fs.FileContents(name);
    Problem p;
    EXPECT_TRUE(CheckStoredObject(stored, &p)) << name << ": " << p.message;
    std::string image;
    ASSERT_TRUE(UnscrambleBytes(stored, &image));
    for (size_t n = 0; n < image.size(); ++n) {
      EXPECT_FALSE(CheckImage(image.substr(0, n), &p)) << name << " cut to " << n;
      EXPECT_LE(p.offset, n);
    }
    // Flipped bytes may leave a sound object (a changed letter), but never
    // crash or read outside the image.
    for (size_t i = 0; i < image.size(); ++i) {
      std::string flipped = image;
      flipped[i] = static_cast<char>(flipped[i] ^ 0xFF);
      CheckImage(flipped, &p);
    }
  }
}

TEST(CheckImage, NamesTheFirstProblemAndItsOffset) {
  const std::string body = Cmd(15, 1) + Count(1) + Str("x");  // entries 0..2, next at 3
  struct Case {
    std::string image;
    std::string message;
    size_t offset;
  };
  std::string wrong_size = ScriptImage({{"/a", End()}});
  wrong_size[3] = static_cast<char>(wrong_size[3] + 1);
  std::string gap = ScriptImage({{"/a", End()}, {"/b", End()}});
  gap[31] += 1;  // the offset of script 1, after 14 bytes of script 0 and its name
  const size_t script_header = 11 + 14 + 12 + 6;  // one script "/a", directory "/game/"
  const Case cases[] = {
      {wrong_size, "the header size field says 44 but the header's fields take 43 bytes", 3},
      {gap, "entry 1 starts at 65 instead of 64, right after the previous one", 31},
      {ScriptImage({{"/a", End()}}) + "zz", "2 bytes after the last entry's contents belong to no entry",
       script_header + 7},
      {ScriptImage({{"/a", body}}), "script 0 does not end with the end command or the \"error\" marker",
       script_header + body.size()},
      {ScriptImage({{"/a", Cmd(606, 1) + Jump(1) + End()}}),
       "the jump at entry 0 of script 0 lands on entry 4, which is not the start of a command of its script",
       script_header + 9},
      {ScriptImage({{"/a", Cmd(606, 1) + Jump(-4) + End()}}),
       "the jump at entry 0 of script 0 lands on entry -1, which is not the start of a command of its script",
       script_header + 9},
      {ScriptImage({{"/a", Cmd(606, 1) + Count(0) + End()}}),
       "a jump command without its jump distance", script_header},
      {ScriptImage({{"/a", body + End()}}, {{"l", "/a", 1}}),
       "label 0 points at entry 1, which is not the start of a command of its script", 29},
      {ScriptImage({{"/a", End()}}, {}, {{"f", "/b", 0}}),
       "function 0 names a script that the object does not list", 33},
      {ArchiveImage({{"/p", "ab"}}), "file 0 is not followed by its zero byte", 11 + 6 + 8 + 2},
  };
  for (const Case& c : cases) {
    Problem p;
    EXPECT_FALSE(CheckImage(c.image, &p)) << c.message;
    EXPECT_EQ(c.message, p.message);
    EXPECT_EQ(c.offset, p.offset) << c.message;
  }
  Problem p;
  EXPECT_TRUE(CheckImage(ScriptImage({{"/a", body + Str("error")}}, {{"l", "/a", 3}}), &p))
      << "a script abandoned at the error limit ends with the marker, which labels may name";
  EXPECT_TRUE(CheckImage(ArchiveImage({{"/p", std::string("ab\0", 3)}}, "KVM"), &p)) << p.message;
}

TEST(CheckStoredObject, RefusesTinyFilesAndImpossibleKeys) {
  Problem p;
  EXPECT_FALSE(CheckStoredObject("K", &p));
  EXPECT_TRUE(p.in_stored_file);
  std::string stored = ScrambleBytes(ArchiveImage({}), {7, 3});
  ASSERT_TRUE(CheckStoredObject(stored, &p)) << p.message;
  stored[9] = 0;  // the key of an 11-byte image stands at 9
  EXPECT_FALSE(CheckStoredObject(stored, &p));
  EXPECT_EQ("scrambling key 0 and step 3 lie outside 1-255 and 1-21", p.message);
  EXPECT_EQ(9u, p.offset);
}

}  // namespace
}  // namespace kv::kvdump
