#include "context/pell_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "context/diagnostics.h"
#include "test_support/memory_file_system.h"

namespace kv {
namespace {

using namespace std::string_literals;

class PellFileTest : public ::testing::Test {
 protected:
  // Opens `text` as /game/f.txt with `mode`.
  PellFile& Open(const std::string& text, uint32_t mode = ModeRead) {
    fs.AddFile("/game/f.txt", text);
    EXPECT_TRUE(file.FileOpen("/game/f.txt", mode));
    return file;
  }

  MemoryFileSystem fs{"/game"};
  PellFile file{fs};
};

TEST_F(PellFileTest, AcceptsExactlyTheFourteenModes) {
  fs.AddFile("/game/f.txt", "x");
  const uint32_t accepted[] = {0x001, 0x002, 0x003, 0x012, 0x013, 0x022, 0x023,
                               0x101, 0x102, 0x103, 0x112, 0x113, 0x122, 0x123};
  for (uint32_t mode : accepted) {
    EXPECT_TRUE(file.FileOpen("/game/f.txt", mode)) << mode;
    EXPECT_EQ(file.mode, mode);
  }
  file.Reset();
  for (uint32_t mode : {0x000u, 0x010u, 0x011u, 0x020u, 0x021u, 0x033u, 0x100u, 0x121u, 0x201u, 0x003u | 0x200u}) {
    EXPECT_FALSE(file.FileOpen("/game/f.txt", mode)) << mode;
    EXPECT_FALSE(file.isOpen);
  }
}

TEST_F(PellFileTest, LoadingAppendsOneNulAndConvertsTextMode) {
  // Empty file: exactly one NUL, one line.
  EXPECT_EQ(Open("").contents, "\0"s);
  EXPECT_EQ(file.lineCount, 1);
  EXPECT_EQ(file.line, 1);
  EXPECT_EQ(file.position, 0u);

  // Text mode: CR LF pairs become LF, a lone CR stays, 0x1A ends the text.
  EXPECT_EQ(Open("a\r\nb\rc\r\n\r\nd\x1A" "after\n").contents, "a\nb\rc\n\nd\0"s);
  EXPECT_EQ(file.lineCount, 4);

  // Binary mode keeps every byte but still appends the NUL and counts lines.
  EXPECT_EQ(Open("a\r\n\x1A\0z"s, ModeRead | ModeBinary).contents, "a\r\n\x1A\0z\0"s);
  EXPECT_EQ(file.lineCount, 2);

  // Append after load: the position is the end.
  Open("ab\n", ModeRead | ModeWrite | ModeAppend);
  EXPECT_EQ(file.position, 4u);
  EXPECT_EQ(file.line, 2);
}

TEST_F(PellFileTest, LinesAreCountedAtEveryOffset) {
  // Line feeds at every offset of an eight-byte word, runs of them, and the
  // bytes that differ from a line feed in one bit only (0x0B, 0x8A, 0x08).
  std::string text;
  int32_t line_feeds = 0;
  for (int i = 0; i < 300; ++i) {
    const bool feed = i % 7 == 0 || i % 11 == 0 || (i > 100 && i < 120);
    text.push_back(feed ? '\n' : "\x0B\x8A\x08x"[i % 4]);
    line_feeds += feed;
  }
  for (size_t length : {size_t{0}, size_t{1}, size_t{7}, size_t{8}, size_t{9}, size_t{63}, text.size()}) {
    const std::string part = text.substr(0, length);
    Open(part, ModeRead | ModeBinary);
    EXPECT_EQ(file.lineCount, 1 + static_cast<int32_t>(std::count(part.begin(), part.end(), '\n')))
        << length;
  }
  EXPECT_EQ(file.lineCount, 1 + line_feeds);
  Open(text);
  file.FileSeek(0, 2);
  file.FileSeek(-250, 1);  // text mode counts back over the line feeds it passes
  EXPECT_EQ(file.line, 1 + static_cast<int32_t>(std::count(text.begin(), text.begin() + 51, '\n')));
}

TEST_F(PellFileTest, OpenFailuresAndWriteOnlyOpens) {
  EXPECT_FALSE(file.FileOpen("/game/missing.txt", ModeRead));
  fs.AddFile("/game/old.txt", "old");
  fs.unreadable.insert("/game/old.txt");
  EXPECT_FALSE(file.FileOpen("/game/old.txt", ModeRead | ModeBinary));
  EXPECT_FALSE(file.isOpen);
  EXPECT_TRUE(file.path.empty());
  fs.unreadable.clear();

  // Opening for writing or truncating never reads: any path is fine, and "a"
  // starts empty even when the file exists.
  for (uint32_t mode : {0x002u, 0x012u, 0x023u}) {
    EXPECT_TRUE(file.FileOpen("/game/old.txt", mode));
    EXPECT_TRUE(file.contents.empty());
  }
  EXPECT_TRUE(file.FileOpen("/game/missing.txt", ModeWrite));

  // Reopening discards the old contents without writing them.
  file.WriteBytes("new", 3);
  EXPECT_TRUE(file.FileOpen("/game/old.txt", ModeRead));
  EXPECT_EQ(file.contents, "old\0"s);
  EXPECT_FALSE(fs.HasFile("/game/missing.txt"));
}

TEST_F(PellFileTest, FileSeek) {
  Open("a\nb\nc");  // 6 bytes with the NUL, 3 lines
  EXPECT_TRUE(file.FileSeek(3, 0));
  EXPECT_EQ(file.position, 3u);
  EXPECT_EQ(file.line, 2);
  EXPECT_TRUE(file.FileSeek(-2, 1));
  EXPECT_EQ(file.position, 1u);
  EXPECT_EQ(file.line, 1);
  EXPECT_TRUE(file.FileSeek(100, 1));  // past the end: the last byte
  EXPECT_EQ(file.position, 5u);
  EXPECT_EQ(file.line, 3);
  EXPECT_TRUE(file.FileSeek(0, 2));
  EXPECT_EQ(file.position, 6u);
  EXPECT_TRUE(file.FileSeek(-3, 2));
  EXPECT_EQ(file.position, 3u);
  EXPECT_EQ(file.line, 2);
  EXPECT_TRUE(file.FileSeek(-100, 1));
  EXPECT_EQ(file.position, 0u);
  EXPECT_EQ(file.line, 1);
  EXPECT_TRUE(file.FileSeek(INT64_MIN, 1));
  EXPECT_EQ(file.position, 0u);
  EXPECT_TRUE(file.FileSeek(6, 0));  // exactly to the end
  EXPECT_EQ(file.position, 6u);
  EXPECT_EQ(file.line, 3);

  // An empty file has no last byte: the position stays inside it.
  ASSERT_TRUE(file.FileOpen("/game/new", ModeWrite));
  EXPECT_TRUE(file.FileSeek(5, 0));
  EXPECT_EQ(file.position, 0u);
  file.Reset();
  EXPECT_FALSE(file.FileSeek(0, 0));
}

TEST_F(PellFileTest, AppendInPlaceOnlyAtTheEndOfAWritableFile) {
  ASSERT_TRUE(file.FileOpen("/game/o.kvo", ModeWrite | ModeTruncate | ModeBinary));
  ASSERT_TRUE(file.WriteBytes("ab", 2));
  char* out = file.AppendInPlace(3);
  ASSERT_NE(out, nullptr);
  std::memcpy(out, "cde", 3);
  EXPECT_EQ(file.contents, "abcde");
  EXPECT_EQ(file.position, 5u);
  EXPECT_TRUE(file.modified);

  // Nothing changes when the position is inside or nothing is asked for.
  file.FileSeek(1, 0);
  EXPECT_EQ(file.AppendInPlace(1), nullptr);
  file.FileSeek(0, 2);
  EXPECT_EQ(file.AppendInPlace(0), nullptr);
  EXPECT_EQ(file.contents, "abcde");
  EXPECT_EQ(file.position, 5u);

  // Nor in a file that cannot be written.
  Open("text");
  EXPECT_EQ(file.AppendInPlace(1), nullptr);
  file.Reset();
  EXPECT_EQ(file.AppendInPlace(1), nullptr);
}

}  // namespace
}  // namespace kv
