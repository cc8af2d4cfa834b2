#include "source/pell_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "driver/diagnostics.h"
#include "platform/memory_file_system.h"

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
  file.FilePrint("new");
  EXPECT_TRUE(file.FileOpen("/game/old.txt", ModeRead));
  EXPECT_EQ(file.contents, "old\0"s);
  EXPECT_FALSE(fs.HasFile("/game/missing.txt"));
}

TEST_F(PellFileTest, ByteReadsTrackLinesAndStopAtTheEnd) {
  uint8_t c = 0;
  Open("a\nb");
  EXPECT_TRUE(file.PeekChar(&c) && c == 'a' && file.position == 0);
  EXPECT_TRUE(file.GetChar(&c) && file.GetChar(&c) && c == '\n');
  EXPECT_EQ(file.line, 2);
  // A short read copies what is there and reports the end.
  char buffer[8] = {};
  EXPECT_EQ(file.ReadBytes(buffer, 8), EndOfData);
  EXPECT_EQ(std::string(buffer, 2), "b\0"s);
  EXPECT_EQ(file.position, 4u);
  EXPECT_FALSE(file.GetChar(&c) || file.PeekChar(&c));
  EXPECT_EQ(file.ReadBytes(buffer, 0), 0);
  // Binary mode does not track lines.
  Open("\n\n", ModeRead | ModeBinary);
  EXPECT_EQ(file.ReadBytes(buffer, 2), 0);
  EXPECT_EQ(file.line, 1);
}

TEST_F(PellFileTest, SkipSpace) {
  Open("  \n\tX");
  EXPECT_EQ(file.SkipSpace(), 0);
  EXPECT_EQ(file.position, 4u);
  EXPECT_EQ(file.line, 2);
  EXPECT_EQ(Open("  ").SkipSpace(), EndOfData);  // the appended NUL
  EXPECT_EQ(file.position, 2u);
  EXPECT_EQ(Open("\v\f\r \0x"s).SkipSpace(), EndOfData);
  EXPECT_EQ(file.position, 4u);  // the NUL is not consumed
  PellFile closed(fs);
  EXPECT_EQ(closed.SkipSpace(), EndOfData);
}

TEST_F(PellFileTest, ReadUntilWidthsAndStops) {
  std::string out;
  Open("ab\0c;d"s);
  EXPECT_EQ(file.ReadUntil(&out, ";", 512), 4);
  EXPECT_EQ(out, "ab\0c"s);  // NUL is copied, never a stop
  EXPECT_EQ(file.position, 4u);  // the stop byte stays

  Open("abcdef");
  EXPECT_EQ(file.ReadUntil(&out, ";", 4), 4);  // width - 1 bytes stored: the width
  EXPECT_EQ(out, "abc");
  EXPECT_EQ(file.ReadUntil(&out, "e", 4), 1);
  EXPECT_EQ(out, "d");
  EXPECT_EQ(file.ReadUntil(&out, "", 1), 1);  // width 1 stores nothing
  EXPECT_EQ(out, "");
  EXPECT_EQ(file.position, 4u);
  EXPECT_EQ(file.ReadUntil(&out, "e", 4), 0);
  // Exactly width - 1 bytes before a stop byte still reports the width.
  Open("abc;");
  EXPECT_EQ(file.ReadUntil(&out, ";", 4), 4);
  EXPECT_EQ(file.position, 3u);

  Open("l1\nl2\"");
  EXPECT_EQ(file.ReadUntil(&out, "\"", 512), 5);
  EXPECT_EQ(file.line, 2);
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

TEST_F(PellFileTest, FilePrintBinary) {
  ASSERT_TRUE(file.FileOpen("/game/o", ModeRead | ModeWrite | ModeTruncate | ModeBinary));
  EXPECT_TRUE(file.FilePrint("%c%i", {5, 1000}));
  EXPECT_EQ(file.contents, "\x05\xE8\x03\x00\x00"s);
  EXPECT_TRUE(file.modified);
  EXPECT_TRUE(file.FilePrint("%F%d", {1.5, -2.0}));
  EXPECT_EQ(file.contents.substr(5), "\x00\x00\xC0\x3F" "\x00\x00\x00\x00\x00\x00\x00\xC0"s);
  // %f narrows to float: 0.1 becomes the float nearest 0.1.
  file.FileSeek(0, 0);
  file.FilePrint("%f", {0.1});
  EXPECT_EQ(file.contents.substr(0, 4), "\xCD\xCC\xCC\x3D"s);

  // In the middle: overwrite, extending past the end where needed.
  file.FileSeek(15, 0);
  EXPECT_TRUE(file.FilePrint("%c%i", {7, -1}));
  EXPECT_EQ(file.contents.size(), 20u);
  EXPECT_EQ(file.contents.substr(15), "\x07\xFF\xFF\xFF\xFF"s);
  file.FileSeek(17, 0);
  EXPECT_TRUE(file.FilePrint("%s", {"ABCDEF"}));
  EXPECT_EQ(file.contents.size(), 23u);
  EXPECT_EQ(file.contents.substr(15), "\x07\xFF" "ABCDEF"s);
  EXPECT_EQ(file.position, 23u);
}

TEST_F(PellFileTest, FilePrintTextAndFormatRules) {
  ASSERT_TRUE(file.FileOpen("/game/o", ModeWrite));
  EXPECT_TRUE(file.FilePrint("%i|%I|%f|%d|%c|%%|%s", {1000, -7, 0.5, 3.0, 65, "ab\0cd"s}));
  EXPECT_EQ(file.contents, "1000|-7|0.500000|3.0000000000|A|%|ab");
  EXPECT_TRUE(file.modified);

  // A failing conversion writes nothing at all, and still succeeds.
  const std::string before = file.contents;
  EXPECT_TRUE(file.FilePrint("abc%x", {1}));
  EXPECT_TRUE(file.FilePrint("abc%"));
  EXPECT_TRUE(file.FilePrint("%i"));          // missing argument
  EXPECT_TRUE(file.FilePrint("%i", {"str"}));  // wrong argument
  EXPECT_EQ(file.contents, before);

  // A Shift-JIS lead byte takes the next byte with it, even a percent sign;
  // 0xF0 is no lead byte.
  file.contents.clear();
  file.position = 0;
  EXPECT_TRUE(file.FilePrint("\x81%\xE0%i\xF0%i", {4}));
  EXPECT_EQ(file.contents, "\x81%\xE0%i\xF0" "4");

  // Not open, or not writable: false and nothing changes.
  Open("r", ModeRead);
  EXPECT_FALSE(file.FilePrint("x"));
  EXPECT_FALSE(file.WriteBytes("x", 1));
  EXPECT_EQ(file.contents, "r\0"s);
  file.Reset();
  EXPECT_FALSE(file.FilePrint("x"));
}

TEST_F(PellFileTest, FileScanTextNumbersAndLiterals) {
  double d = 0;
  float f = 0;
  int32_t i = 0;
  EXPECT_EQ(Open("0x1F;").FileScan(512, "%d", {&d}), 2);
  EXPECT_EQ(d, 31.0);
  EXPECT_EQ(Open("0b101").FileScan(512, "%d", {&d}), 3);
  EXPECT_EQ(d, 5.0);
  EXPECT_EQ(Open("0x;").FileScan(512, "%d", {&d}), 0);
  EXPECT_EQ(file.position, 2u);
  EXPECT_EQ(Open("-7.9,0.1").FileScan(512, "%i,%f", {&i, &f}), 8);
  EXPECT_EQ(i, -7);
  EXPECT_EQ(f, 0.1f);
  EXPECT_EQ(Open("3000000000").FileScan(512, "%i", {&i}), 10);
  EXPECT_EQ(i, -1294967296);  // wrapped while reading, as digits accumulate in 32 bits

  // Literals (both bytes of a Shift-JIS pair), %% and %c.
  uint8_t c = 0;
  EXPECT_EQ(Open("\x82\xA0%Z").FileScan(512, "\x82\xA0%%%c", {&c}), 4);
  EXPECT_EQ(c, 'Z');
  EXPECT_EQ(Open("ab").FileScan(512, "ac"), -1);
  EXPECT_EQ(Open("a").FileScan(512, "%%"), -1);
  file.FileSeek(0, 2);
  EXPECT_EQ(file.FileScan(512, "%c", {&c}), -1);

  // Not open or not readable.
  file.Reset();
  EXPECT_EQ(file.FileScan(512, "%c", {&c}), -1);
  ASSERT_TRUE(file.FileOpen("/game/w", ModeWrite));
  EXPECT_EQ(file.FileScan(512, "%c", {&c}), -1);
}

TEST_F(PellFileTest, FileScanStringReads) {
  std::string s;
  EXPECT_EQ(Open("abc,def").FileScan(512, "% \t,;s", {&s}), 3);
  EXPECT_EQ(s, "abc");
  EXPECT_EQ(file.position, 3u);
  // Width from the format; a negative width takes the default.
  EXPECT_EQ(Open("abcdef").FileScan(512, "%3s", {&s}), 3);
  EXPECT_EQ(s, "ab");
  EXPECT_EQ(Open("abcdef").FileScan(3, "%-9cs", {&s}), 3);
  EXPECT_EQ(s, "ab");
  // Stop set "d" after width 5: "%5ds" is a string read, not a number.
  EXPECT_EQ(Open("12d4").FileScan(512, "%5ds", {&s}), 2);
  EXPECT_EQ(s, "12");
  // Nothing read ends the scan with the count so far; no 's' is an error.
  EXPECT_EQ(Open("x;").FileScan(512, "x%;s", {&s}), 1);
  EXPECT_EQ(Open("x").FileScan(512, "%;", {&s}), -1);
}

TEST_F(PellFileTest, FileScanBinary) {
  const uint32_t binary = ModeRead | ModeBinary;
  Open("\xE8\x03\x00\x00" "\x00\x00\xC0\x3F" "\x00\x00\x00\x00\x00\x00\x00\xC0" "%ab%"s, binary);
  int32_t i = 0;
  float f = 0;
  double d = 0;
  std::string s;
  EXPECT_EQ(file.FileScan(512, "%i%f%D", {&i, &f, &d}), 16);
  EXPECT_EQ(i, 1000);
  EXPECT_EQ(f, 1.5f);
  EXPECT_EQ(d, -2.0);
  // "%%s" is a string read stopping at '%'; reading nothing gives 0 in binary mode.
  EXPECT_EQ(file.FileScan(512, "%%s", {&s}), 0);
  EXPECT_EQ(file.FileScan(512, "%c%%s", {&d}), -1);  // wrong argument
  EXPECT_EQ(file.position, 16u);
  uint8_t c = 0;
  EXPECT_EQ(file.FileScan(512, "%c%%s", {&c, &s}), 3);
  EXPECT_EQ(s, "ab");
  EXPECT_EQ(file.FileScan(512, "%d", {&d}), EndOfData);
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

TEST_F(PellFileTest, FlushAndClose) {
  StringSink out;
  Diagnostics log(out, ConsoleEncoding::kUtf8);
  KCFile object(fs);

  EXPECT_TRUE(object.FileClose(log, 1));
  EXPECT_EQ(out.text, "内部エラー : KCFile::FileClose(1) 閉じられたファイルをさらに閉じようとした\n");
  EXPECT_EQ(log.errorCount, 1);

  // Nothing printed: no file is created.
  ASSERT_TRUE(object.FileOpen("/game/a.kvo", 0x122));
  EXPECT_TRUE(object.FileClose(log, 1));
  EXPECT_FALSE(fs.HasFile("/game/a.kvo"));
  EXPECT_FALSE(object.isOpen);

  // Printed: one write of the (scrambled) contents, then closed.
  ASSERT_TRUE(object.FileOpen("/game/a.kvo", 0x122));
  object.WriteBytes("KVS\0abc", 7);
  EXPECT_TRUE(object.FileClose(log, 1));
  ASSERT_TRUE(fs.HasFile("/game/a.kvo"));
  EXPECT_EQ(fs.FileContents("/game/a.kvo").size(), 9u);  // the key and step are added
  EXPECT_FALSE(object.isOpen);
  EXPECT_EQ(object.line, 1);

  // A write that fails reports (2) and leaves the file open.
  out.text.clear();
  for (bool fail_create : {true, false}) {
    (fail_create ? fs.unwritable : fs.fail_on_write).insert("/game/b.kvo");
    ASSERT_TRUE(object.FileOpen("/game/b.kvo", 0x122));
    object.FilePrint("x");
    EXPECT_FALSE(object.FileClose(log, 1));
    EXPECT_TRUE(object.isOpen);
    EXPECT_FALSE(fs.HasFile("/game/b.kvo"));
    fs.unwritable.clear();
    fs.fail_on_write.clear();
  }
  EXPECT_EQ(out.text,
            "内部エラー : KCFile::FileClose(2) ファイルへの書き込みに失敗\n"
            "\"/game/b.kvo\" に書き込めませんでした: Permission denied\n"
            "内部エラー : KCFile::FileClose(2) ファイルへの書き込みに失敗\n"
            "\"/game/b.kvo\" に書き込めませんでした: No space left on device\n");
  EXPECT_EQ(fs.open_outputs, 0);

  // Flush writes nothing for unmodified or read-only files.
  Open("data", ModeRead);
  file.contents = "changed";
  file.modified = true;
  EXPECT_TRUE(file.FileFlush());
  EXPECT_EQ(fs.FileContents("/game/f.txt"), "data");
}

}  // namespace
}  // namespace kv
