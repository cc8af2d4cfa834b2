#include "kvdump/disassembler.h"

#include <gtest/gtest.h>

#include "kvdump/test_objects.h"
#include "output/scramble.h"
#include "test_support/conversion_harness.h"

namespace kv::kvdump {
namespace {

using namespace testing;

// The infix text of a parameter made of these item entries.
std::string Infix(const std::string& items, uint8_t count) {
  const std::string image = ScriptImage({{"/a", Cmd(15, 1) + Count(count) + items + End()}});
  ObjectHeader h;
  ScriptCode code;
  Problem p;
  std::string text;
  auto first = [&](const CodeCommand& c) {
    if (text.empty()) text = ParameterText(c.parameters[0], c, TextStyle{});
    return true;
  };
  EXPECT_TRUE(ReadHeader(image, &h, &p) && DecodeCode(image, h.entries[0], first, &code, &p))
      << p.message;
  return text;
}

TEST(ParameterText, BracketsOnlyWherePrecedenceNeedsThem) {
  const std::string a = Var("a"), b = Var("b"), c = Var("c");
  EXPECT_EQ("(1 + 2) * 3", Infix(Num(1) + Num(2) + Op(6) + Num(3) + Op(8), 5));
  EXPECT_EQ("1 + 2 * 3", Infix(Num(1) + Num(2) + Num(3) + Op(8) + Op(6), 5));
  EXPECT_EQ("a - (b - c)", Infix(a + b + c + Op(7) + Op(7), 5));
  EXPECT_EQ("a - b - c", Infix(a + b + Op(7) + c + Op(7), 5));
  EXPECT_EQ("a = b = c", Infix(a + b + c + Op(13) + Op(13), 5));
  EXPECT_EQ("(a = b) = c", Infix(a + b + Op(13) + c + Op(13), 5));
  EXPECT_EQ("a >= 1 && b # -2.5", Infix(a + Num(1) + Op(3) + b + Num(-2.5) + Op(1) + Op(15), 7));
  EXPECT_EQ("a | b & c", Infix(a + b + c + Op(12) + Op(11), 5));
  EXPECT_EQ("a @ 10 @ b = 1e+20", Infix(a + Op(16) + Num(10) + Op(16) + b + Num(1e20) + Op(13), 7))
      << "a declaration's pieces, each ended by '@'";
  EXPECT_EQ("<empty>", Infix("", 0));
  // Items that form no single expression are shown as stored.
  EXPECT_EQ("[a +]", Infix(a + Op(6), 2));
  EXPECT_EQ("[a b]", Infix(a + b, 2));
}

TEST(ScriptText, ConvertsCp932AndEscapesWhatIsNotPrintable) {
  const std::string text = "\x82\xA0\xB1\x83\x5C\"\\\n\x01\x82";  // あ ｱ ソ " \ LF 01 lone lead
  EXPECT_EQ("\"あｱソ\\\"\\\\\\n\\x01\\x82\"", ScriptText(text, true, true));
  EXPECT_EQ("\"\x82\xA0\xB1\x83\x5C\\\"\\\\\\n\\x01\\x82\"", ScriptText(text, false, true));
  EXPECT_EQ("a\"b\\x1B", ScriptText("a\"b\x1B", true, false));
  EXPECT_EQ("あ\\x85\\x40い", ScriptText("\x82\xA0\x85\x40\x82\xA2", true, false))
      << "a pair CP932 leaves unassigned";
  EXPECT_EQ("/g/\\x1B[2J", PathText("/g/\x1B[2J"));
}

TEST(Disassemble, ShowsJumpTargetsDefinitionsAndInternalCodes) {
  MemoryFileSystem fs("/game");
  fs.AddFile("/game/main.txt",
             "create_window;\nfunction f;\nfunction_end;\ntop:\nvalue i @ -1, s;\n"
             "loop i < 2 * (i + 1);\n i = i + 1;\n if i == 1; loop_exit; endif;\n"
             "loop_end;\nHello, \"\x82\xA0\";\n");
  RunConversion(fs);
  std::string image;
  ASSERT_TRUE(UnscrambleBytes(fs.FileContents("/game/script.kvo"), &image));
  ObjectHeader h;
  Problem p;
  ASSERT_TRUE(ReadHeader(image, &h, &p));
  std::string text;
  auto append = [&text](std::string_view piece) { text.append(piece); };
  ASSERT_TRUE(Disassemble(image, h, TextStyle{}, append, &p)) << p.message;
  EXPECT_EQ(
      "\n/game/main.txt\n"
      "     0  create_window\n"
      "     2  function\n"
      "        function f\n"
      "     4  function_end\n"
      "        label top\n"
      "     6  value i @ -1, s\n"
      "    10  if i < 2 * (i + 1), -> 27 (+13)\n"
      "    14  calc i = i + 1\n"
      "    17  if i == 1, -> 24 (+3)\n"
      "    21  (jump) -> 27 (+3)\n"
      "    24  (jump) -> 10 (-17)\n"
      "    27  (text) Hello, \"あ\"\n"
      "    31  end\n",
      text);
  text.clear();
  ASSERT_TRUE(Disassemble(image, h, TextStyle{true, true}, append, &p));
  EXPECT_NE(std::string::npos, text.find("    14  calc [i i 1 + =]\n"));
}

}  // namespace
}  // namespace kv::kvdump
