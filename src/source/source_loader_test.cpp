#include "source/source_loader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "context/kc_system.h"
#include "test_support/memory_file_system.h"
#include "context/source_text.h"

namespace kv {
namespace {

using namespace std::string_literals;

class SourceLoaderTest : public ::testing::Test {
 protected:
  SourceLoaderTest() { sys.seedClock = [] { return 12345u; }; }

  MemoryFileSystem fs{"/game"};
  StringSink out;
  KCSystem sys{fs, out, ConsoleEncoding::kUtf8};
};

TEST_F(SourceLoaderTest, LoadsOnceAndWarnsOnTheSecondRequest) {
  fs.AddFile("/game/main.txt", "a;\r\nb;");
  SourceText* source = LoadSource(sys, "main.txt");
  ASSERT_NE(source, nullptr);
  EXPECT_EQ(source->path, "/game/main.txt");
  EXPECT_EQ(source->mode, static_cast<uint32_t>(ModeRead));
  EXPECT_EQ(source->contents, "a;\nb;\0"s);
  EXPECT_EQ(source->lineCount, 2);
  EXPECT_EQ(source->position, 0u);
  EXPECT_EQ(source->line, 1);
  EXPECT_EQ(sys.results.LoadedSources.size(), 1u);
  EXPECT_EQ(out.text, "");

  // Another name for the same file: a warning, the same object, not reloaded.
  source->position = 3;
  fs.AddFile("/game/main.txt", "changed");
  EXPECT_EQ(LoadSource(sys, "./sub/../main.txt"), source);
  EXPECT_EQ(source->position, 3u);
  EXPECT_EQ(source->contents, "a;\nb;\0"s);
  EXPECT_EQ(out.text, "警告 : ファイル \"/game/main.txt\" は既に読み込まれています\n");
  EXPECT_EQ(sys.log.warningCount, 1);
}

TEST_F(SourceLoaderTest, FailuresRegisterNothing) {
  EXPECT_EQ(LoadSource(sys, "missing.txt"), nullptr);
  EXPECT_EQ(out.text, "ファイル \"missing.txt\" が見つかりませんでした\n");
  EXPECT_EQ(sys.log.errorCount, 0);

  out.text.clear();
  fs.AddFile("/game/locked.txt", "x;");
  fs.unreadable.insert("/game/locked.txt");
  EXPECT_EQ(LoadSource(sys, "locked.txt"), nullptr);
  EXPECT_EQ(out.text,
            "エラー : \"/game/locked.txt\" 指定した名前が間違っている可能性があります\n"
            "間違っていない場合は内部エラーです\n"
            "\"/game/locked.txt\" を読み込めませんでした: Permission denied\n");

  // An unclosed block comment, reported with the path and line of its opening
  // marker, whichever source is current while loading.
  fs.AddFile("/game/main.txt", "\n\nload;");
  SourceText* main_source = LoadSource(sys, "/game/main.txt");
  ASSERT_NE(main_source, nullptr);
  main_source->FileSeek(3, 0);
  sys.script.currentSource = main_source;
  out.text.clear();
  fs.AddFile("/game/bad.txt", "a; /* one */\n\nb; /* never closed\n*");
  EXPECT_EQ(LoadSource(sys, "bad.txt"), nullptr);
  EXPECT_EQ(out.text, "エラー : /game/bad.txt 3 行目 コメントの終端が見つかりませんでした\n");
  EXPECT_EQ(sys.log.errorCount, 2);
  EXPECT_EQ(sys.results.LoadedSources.count("/game/bad.txt"), 0u);
  EXPECT_EQ(sys.results.LoadedSources.size(), 1u);
}

TEST_F(SourceLoaderTest, CommentRemoval) {
  struct Case {
    std::string file;
    std::string contents;  // after loading, the appended NUL included
  };
  const Case cases[] = {
      {"// only a comment", ""},                     // takes the appended NUL with it
      {"a; // note\nb;", "a; \nb;\0"s},              // the line feed stays
      {"a /*\n\n*/b", "a \n\nb\0"s},                 // every line feed inside stays
      {"\"x//y\";\nz", "\"x\nz\0"s},                 // no regard to quotes
      {"/* a /* b */ c */", " c */\0"s},             // no nesting
      {"a*/b", "a*/b\0"s},                           // a stray closing marker is text
      {"/*/ x */y", "y\0"s},                         // "/*/" does not close
      {"/**/", "\0"s},
      {"a/b/", "a/b/\0"s},
      {"//a\n//b\n", "\n\n\0"s},
      {"/*x*///y\nz", "\nz\0"s},                     // a line comment right after a block
      {"/*\r\n*/x", "\nx\0"s},                       // CR LF already folded
      {"x/\n/y", "x/\n/y\0"s},                       // a marker never spans a line feed
      {"a\0b//c\nd"s, "a\0b\nd\0"s},                 // NUL bytes are ordinary text here
  };
  int index = 0;
  for (const Case& c : cases) {
    const std::string name = "/game/c" + std::to_string(index++) + ".txt";
    fs.AddFile(name, c.file);
    SourceText* source = LoadSource(sys, name);
    ASSERT_NE(source, nullptr) << c.file;
    EXPECT_EQ(source->contents, c.contents) << c.file;
    EXPECT_EQ(source->position, 0u);
    EXPECT_EQ(source->line, 1);
  }
  EXPECT_EQ(out.text, "");
}

TEST_F(SourceLoaderTest, CheckingCommentsAgreesWithRemovingThem) {
  const std::string texts[] = {"a; // x\nb;",  "/* a /* b */ c */", "/*/ x */y", "/**/",
                               "x/\n/y",       "// last /* line",   "a;\n\n/* open\n",
                               "\n\n/*/",      "/* a */ b\n/* c",  "a\0/*"s,
                               "*/ /*",        "/*\r\n*/ /*\r\n"};
  int index = 0;
  for (const std::string& text : texts) {
    const std::string name = "/game/k" + std::to_string(index++) + ".txt";
    fs.AddFile(name, text);
    SourceText checked(fs), removed(fs);
    ASSERT_TRUE(checked.FileOpen(name, ModeRead));
    ASSERT_TRUE(removed.FileOpen(name, ModeRead));
    StringSink checked_out, removed_out;
    Diagnostics checked_log(checked_out, ConsoleEncoding::kUtf8);
    Diagnostics removed_log(removed_out, ConsoleEncoding::kUtf8);
    EXPECT_EQ(CommentsEnd(checked_log, checked), RemoveComments(removed_log, removed)) << text;
    EXPECT_EQ(checked_out.text, removed_out.text) << text;
  }
}

// Only the comments that stand in a string opened on their own line are
// kept; a line comment in a string ends that string, and a string left open
// on an earlier line makes no later comment suspect.
TEST_F(SourceLoaderTest, KeepsTheCommentsThatStandInStrings) {
  fs.AddFile("/game/s.txt", "a \"b //c\";\nd 'e /* f */ g';\n/* h */ i \"j\n/* k */\" l // m\n");
  SourceText source(fs);
  ASSERT_TRUE(source.FileOpen("/game/s.txt", ModeRead));
  StringSink out;
  Diagnostics log(out, ConsoleEncoding::kUtf8);
  std::vector<CommentStart> starts;
  ASSERT_TRUE(RemoveComments(log, source, &starts));
  std::string found;
  for (const CommentStart& start : starts) {
    found += source.contents.substr(0, start.offset) + "|" + start.marker + start.quote + "\n";
  }
  EXPECT_EQ(found, "a \"b |/\"\na \"b \nd 'e |*'\n");
}

TEST_F(SourceLoaderTest, LargeCommentsLoadInOnePass) {
  // Ten megabytes of comments: building the result in a new buffer keeps this
  // linear (erasing byte by byte would take hours).
  std::string text;
  const std::string line = "// " + std::string(97, 'x') + "\n";
  size_t line_feeds = 1;  // the one inside the block comment
  for (; text.size() < 5'000'000; ++line_feeds) text += line;
  text += "/*" + std::string(5'000'000, '*') + "\n*/end;";
  fs.AddFile("/game/big.txt", text);
  SourceText* source = LoadSource(sys, "big.txt");
  ASSERT_NE(source, nullptr);
  // Compared as a flag: a failing comparison of megabytes would print them.
  EXPECT_EQ(source->contents.size(), line_feeds + 5);
  EXPECT_TRUE(source->contents == std::string(line_feeds, '\n') + "end;\0"s);
  EXPECT_EQ(source->lineCount, static_cast<int32_t>(line_feeds + 1));
}

TEST_F(SourceLoaderTest, ReleaseSourcesEmptiesTheRegistry) {
  fs.AddFile("/game/a.txt", "a;");
  fs.AddFile("/game/b.txt", "b;");
  sys.script.currentSource = LoadSource(sys, "a.txt");
  ASSERT_NE(LoadSource(sys, "b.txt"), nullptr);
  ReleaseSources(sys);
  EXPECT_TRUE(sys.results.LoadedSources.empty());
  EXPECT_EQ(sys.script.currentSource, nullptr);
  // Loading again works from scratch, without a warning.
  ASSERT_NE(LoadSource(sys, "a.txt"), nullptr);
  EXPECT_EQ(out.text, "");
}

}  // namespace
}  // namespace kv
