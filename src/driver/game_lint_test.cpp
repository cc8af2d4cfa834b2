#include "driver/game_lint.h"

#include <gtest/gtest.h>

#include "test_support/conversion_harness.h"

namespace kv {
namespace {

TEST(GameLint, CheckNamesUndefinedTargetsAndSecondDefinitionsInSourceOrder) {
  MemoryFileSystem fs("/game");
  fs.AddFile("/game/main.txt",
             "create_window;\n"
             "function greet;\n"
             "function_end;\n"
             "start:\n"
             "function_call greet;\n"
             "function_call great, 1;\n"
             "goto ending;\n"
             "start:\n"
             "goto \"computed\";\n"
             "goto start + 1;\n");
  fs.AddFile("/game/sub.txt",
             "ending:\n"
             "goto start;\n"
             "goto nowhere;\n"
             "function greet;\n"
             "function_end;\n"
             "function twice;\n"
             "function_end;\n"
             "function twice;\n"
             "function_end;\n");
  const std::string start =
      "\nスクリプトファイルコンバート 開始!!\n"
      "/game/main.txt をコンバート中...\n"
      "/game/sub.txt をコンバート中...\n"
      "スクリプトファイルコンバート 終了!!\n";
  ConversionRun build = RunConversion(fs);
  EXPECT_EQ(start + "\n結果 : 成功 / エラー 0件 / 警告 0件\n", build.console);
  ConversionRun check = RunConversion(fs, {"--check"});
  EXPECT_EQ(start +
                "警告 : /game/main.txt 6 行目 関数 \"great\" はどのスクリプトにも定義されていません [undefined-function]\n"
                "警告 : /game/main.txt 8 行目 ラベル \"start\" はこのスクリプトで既に定義されています"
                " (この定義は使われません) [duplicate-label]\n"
                "警告 : /game/sub.txt 3 行目 ラベル \"nowhere\" はどのスクリプトにも定義されていません [undefined-label]\n"
                "警告 : /game/sub.txt 8 行目 関数 \"twice\" はこのスクリプトで既に定義されています"
                " (この定義は使われません) [duplicate-function]\n"
                "\n結果 : 成功 / エラー 0件 / 警告 4件\n",
            check.console);
  EXPECT_EQ(0, check.status);
}

}  // namespace
}  // namespace kv
