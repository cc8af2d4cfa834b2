#include "language/name_index.h"

#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_support/conversion_harness.h"

namespace kv {
namespace {

std::vector<std::string> Warnings(const std::string& console) {
  std::vector<std::string> lines;
  std::istringstream in(console);
  for (std::string line; std::getline(in, line);) {
    if (line.find(": warning: ") != std::string::npos) lines.push_back(line);
  }
  return lines;
}

// The checks of the whole game read the records made from each statement's
// index, also of statements that the editor's view of the index leaves out or
// reads otherwise: one compiled as calc before create_window, a command named
// by a string, a function named by a string, a void block's closer. Words
// used again in a script are kept once; file names and labels each time.
TEST(NameUseRecorder, EachWholeGameCheckReadsTheRecordsMadeFromTheIndex) {
  MemoryFileSystem fs("/game");
  fs.AddFile("/game/main.txt",
             "x = y + 1;\ncreate_window;\nvalue a @ 1;\n\"goto\" nowhere;\nfunction \"f\";\n"
             "function_end;\nfunction \"f\";\nfunction_end;\nvoid;\ngoto skipped;\nvoid_end;\n"
             "layer bg, \"bg.png\"; layer bg, \"bg.png\"; b = c + c;\nstart:\nstart:\n"
             "script_load \"b.txt\";\nscript_change a;\n");
  fs.AddFile("/game/b.txt", "start:\nvalue a @ 2;\n");
  // Reached, maybe, by the script computed in main.txt.
  fs.AddFile("/game/c.txt", "");
  const ConversionRun run = RunConversion(fs, {"--check", "--diagnostics=gnu"});
  const std::vector<std::string> expected = {
      "/game/main.txt:1:5: warning: 変数 \"y\" はどのスクリプトでも宣言されていません [undeclared-variable]",
      "/game/main.txt:3:7: warning: 変数 \"a\" は \"/game/b.txt\" (2 行目) で既に宣言されています"
      " [redeclared-variable]",
      "/game/main.txt:4:8: warning: ラベル \"nowhere\" はどのスクリプトにも定義されていません [undefined-label]",
      "/game/main.txt:7:10: warning: 関数 \"f\" はこのスクリプトで既に定義されています (この定義は使われません)"
      " [duplicate-function]",
      "/game/main.txt:12:11: warning: ファイル \"bg.png\" はゲームのどのフォルダにもありません [missing-file]",
      "/game/main.txt:12:31: warning: ファイル \"bg.png\" はゲームのどのフォルダにもありません [missing-file]",
      "/game/main.txt:12:45: warning: 変数 \"c\" はどのスクリプトでも宣言されていません [undeclared-variable]",
      "/game/main.txt:13:1: warning: ラベル \"start\" は \"/game/b.txt\" (1 行目) でも定義されています"
      " [duplicate-label]",
      "/game/main.txt:14:1: warning: ラベル \"start\" はこのスクリプトで既に定義されています"
      " (この定義は使われません) [duplicate-label]",
  };
  EXPECT_EQ(expected, Warnings(run.console)) << run.console;
}

}  // namespace
}  // namespace kv
