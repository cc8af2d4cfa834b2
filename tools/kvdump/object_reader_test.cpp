#include "kvdump/object_reader.h"

#include <gtest/gtest.h>

#include "kvdump/test_objects.h"

namespace kv::kvdump {
namespace {

using namespace testing;

TEST(ReadHeader, ReadsScriptsDefinitionsAndDirectory) {
  const std::string image = ScriptImage({{"/g/a.txt", End()}, {"/g/b.txt", End()}},
                                        {{"top", "/g/b.txt", 0}}, {{"f", "/g/a.txt", 0}}, "/g/");
  ObjectHeader h;
  Problem p;
  ASSERT_TRUE(ReadHeader(image, &h, &p)) << p.message;
  EXPECT_EQ(ObjectKind::kScript, h.kind);
  ASSERT_EQ(2u, h.entries.size());
  EXPECT_EQ("/g/b.txt", h.entries[1].name);
  EXPECT_EQ(h.header_size + 7, h.entries[1].offset);
  EXPECT_EQ(h.header_size, h.header_end);
  ASSERT_EQ(1u, h.labels.size());
  EXPECT_EQ("top", h.labels[0].name);
  EXPECT_EQ("f", h.functions[0].name);
  EXPECT_EQ("/g/", h.directory);
}

TEST(ReadHeader, RefusesHugeCountsAndLengthsWithoutGrowing) {
  // A 100-byte image whose entry count and first name length are 0x7FFFFFFF.
  std::string image = "KVI" + U32(11) + U32(0x7FFFFFFF) + U32(0x7FFFFFFF);
  image.resize(100, 'x');
  ObjectHeader h;
  Problem p;
  EXPECT_FALSE(ReadHeader(image, &h, &p));
  EXPECT_EQ("the length of the name of file 0 (2147483647) runs past the end of the image",
            p.message);
  EXPECT_EQ(11u, p.offset);
  EXPECT_TRUE(h.entries.empty());

  EXPECT_FALSE(ReadHeader("KVX" + U32(11) + U32(0), &h, &p));
  EXPECT_EQ("unknown identification mark: not an object file", p.message);
  EXPECT_FALSE(ReadHeader("KVS" + U32(11), &h, &p));
}

TEST(DecodeCode, IndexesCommandsAndRejectsMismatchedCounts) {
  struct Case {
    std::string code;
    std::string message;  // empty: sound
  };
  const std::string jump = Cmd(606, 1) + Jump(0);
  const Case cases[] = {
      {Cmd(15, 1) + Count(1) + Str("hi") + jump + End(), ""},
      {Cmd(15, 1) + Count(1) + Var("a") + Str("error"), ""},
      {Cmd(15, 2) + Count(1) + Var("a") + End(), "the command announces 2 parameters but has 1"},
      {Cmd(15, 1) + Count(1) + Var("a") + Count(0) + End(),
       "the command announces 1 parameters but more follow"},
      {Cmd(15, 1) + Count(2) + Var("a") + End(), "the parameter announces 2 items but has 1"},
      {Cmd(15, 1) + Count(1) + "\x08" + U32(3) + End(), "an integer entry outside a jump"},
      {Str("error") + End(), "code follows the \"error\" marker"},
      {Cmd(15, 1) + Count(1) + Var("abc").substr(0, 7), "the code ends inside an entry"},
      {Cmd(15, 1) + Count(1) + "\x40", "unknown entry type 64 in a parameter"},
      {Cmd(15, 1) + Count(1) + Op(17) + End(), "unknown operator code 17"},
  };
  for (const Case& c : cases) {
    const std::string image = ScriptImage({{"/a", c.code}});
    ObjectHeader h;
    Problem p;
    ASSERT_TRUE(ReadHeader(image, &h, &p));
    ScriptCode code;
    EXPECT_EQ(c.message.empty(),
              DecodeCode(image, h.entries[0], [](const CodeCommand&) { return true; }, &code, &p))
        << c.message;
    if (c.message.empty()) continue;
    EXPECT_EQ(c.message, p.message);
    EXPECT_GE(p.offset, h.header_size);
    EXPECT_LT(p.offset, image.size());
  }
  const std::string image = ScriptImage({{"/a", Cmd(15, 1) + Count(1) + Str("hi") + jump + End()}});
  ObjectHeader h;
  Problem p;
  ScriptCode code;
  std::vector<CodeCommand> commands;
  auto keep = [&](const CodeCommand& c) {
    commands.push_back(c);
    return commands.size() < 3;
  };
  ASSERT_TRUE(ReadHeader(image, &h, &p));
  EXPECT_FALSE(DecodeCode(image, h.entries[0], keep, &code, &p)) << "the visitor stops it";
  ASSERT_EQ(3u, commands.size());
  EXPECT_EQ(3u, commands[1].index);
  EXPECT_TRUE(commands[1].IsJump());
  EXPECT_EQ(6u, commands[2].index);
  ASSERT_TRUE(DecodeCode(image, h.entries[0], [](const CodeCommand&) { return true; }, &code, &p));
  EXPECT_EQ(8u, code.end_index);
}

}  // namespace
}  // namespace kv::kvdump
