#include "output/media_archive.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "context/kc_system.h"
#include "output/scramble.h"
#include "platform/coding.h"
#include "test_support/memory_file_system.h"
#include "test_support/scramble_reference.h"

namespace kv {
namespace {

constexpr char kStart[] = "\nイメージファイルコンバート 開始!!\n";
constexpr char kFinish[] = "イメージファイルコンバート 終了!!\n";
constexpr char kArchive[] = "/game/image.kvo";
constexpr uint32_t kSeed = 12345;

std::string Fixed32(uint32_t v) {
  std::string out;
  PutFixed32(&out, v);
  return out;
}

std::string Bytes(size_t n, uint32_t seed) {
  std::string s(n, '\0');
  for (char& c : s) {
    seed = seed * 1103515245u + 12345u;
    c = static_cast<char>(seed >> 23);
  }
  return s;
}

std::string Converting(const std::string& path) { return path + " をコンバート中...\n"; }
std::string WrongName(const std::string& path) {
  return "エラー : \"" + path +
         "\" 指定した名前が間違っている可能性があります\n間違っていない場合は内部エラーです\n";
}
const std::string kWriteFailedLines =
    "内部エラー : KCFile::FileClose(2) ファイルへの書き込みに失敗\n"
    "内部エラー : GenImgAdoObject(6) オブジェクトの出力に失敗\n";

// Runs `on_open` before every OpenInput, so a test can change a file between
// the pass that takes the sizes and the copy.
class HookedFileSystem : public MemoryFileSystem {
 public:
  using MemoryFileSystem::MemoryFileSystem;
  std::function<void(const std::string&)> on_open;
  std::unique_ptr<InputFile> OpenInput(const std::string& path, std::string* err) override {
    if (on_open) on_open(path);
    return MemoryFileSystem::OpenInput(path, err);
  }
};

class MediaArchiveTest : public ::testing::Test {
 protected:
  MediaArchiveTest() { sys.seedClock = [] { return kSeed; }; }

  bool Pack(const std::vector<std::string>& files) {
    return WriteMediaArchive(sys, "KVI", files, kArchive, kStart, kFinish);
  }
  // The archive image as the engine sees it after undoing the scrambling.
  std::string Image() {
    std::string image;
    EXPECT_TRUE(UnscrambleBytes(fs.FileContents(kArchive), &image));
    return image;
  }
  // Adds the files and returns the archive image they must give.
  std::string AddAndExpect(const std::vector<std::pair<std::string, std::string>>& files) {
    uint32_t header_size = 11;
    for (const auto& f : files) header_size += static_cast<uint32_t>(f.first.size()) + 12;
    std::string image = "KVI" + Fixed32(header_size) + Fixed32(static_cast<uint32_t>(files.size()));
    std::string data;
    for (const auto& [path, contents] : files) {
      fs.AddFile(path, contents);
      image += Fixed32(static_cast<uint32_t>(path.size())) + path +
               Fixed32(header_size + static_cast<uint32_t>(data.size())) +
               Fixed32(static_cast<uint32_t>(contents.size() + 1));
      data += contents + '\0';
    }
    return image + data;
  }
  // The console text of a successful run over `paths`.
  std::string Progress(const std::vector<std::string>& paths) {
    std::string text = kStart;
    for (const std::string& p : paths) text += Converting(p);
    return text;
  }

  HookedFileSystem fs{"/game"};
  StringSink out;
  KCSystem sys{fs, out, ConsoleEncoding::kUtf8};
};

TEST_F(MediaArchiveTest, PacksFilesInListOrderBehindTheirEntries) {
  const std::string p1 = "/game/zz/picture.png";            // 20 bytes
  const std::string p2 = "/game/Assets/Background_01.png";  // 30 bytes
  ASSERT_EQ(p1.size(), 20u);
  ASSERT_EQ(p2.size(), 30u);
  const std::string c1 = Bytes(100, 1), c2 = Bytes(50, 2);
  fs.AddFile(p1, c1);
  fs.AddFile(p2, c2);

  ASSERT_TRUE(Pack({p1, p2}));

  const std::string expected = "KVI" + Fixed32(85) + Fixed32(2) +
                               Fixed32(20) + p1 + Fixed32(85) + Fixed32(101) +
                               Fixed32(30) + p2 + Fixed32(186) + Fixed32(51) +
                               c1 + '\0' + c2 + '\0';
  ASSERT_EQ(expected.size(), 237u);
  EXPECT_EQ(fs.FileContents(kArchive).size(), 239u);
  EXPECT_EQ(Image(), expected);
  EXPECT_EQ(fs.FileContents(kArchive), ScrambleBytes(expected, MakeScrambleKey(kSeed)));
  EXPECT_EQ(out.text, Progress({p1, p2}) + kFinish);
  EXPECT_EQ(sys.log.errorCount, 0);
  EXPECT_EQ(fs.open_outputs, 0);
}

TEST_F(MediaArchiveTest, StreamedBytesEqualScramblingTheWholeImage) {
  // One file behind a 34-byte header: images of 51 to 54 bytes put the key
  // before the last two bytes or at offset 52; an empty file stores one zero.
  for (size_t size : {0u, 16u, 17u, 18u, 19u, 300u}) {
    SCOPED_TRACE(size);
    const std::string image = AddAndExpect({{"/game/a.wav", Bytes(size, 7)}});
    ASSERT_TRUE(Pack({"/game/a.wav"}));
    EXPECT_EQ(fs.FileContents(kArchive), ScrambleBytes(image, MakeScrambleKey(kSeed)));
  }

  // Files that end just before, on and after the 1 MiB block boundaries.
  const size_t block = size_t{1} << 20;
  const std::string image = AddAndExpect({{"/game/m/1.avi", Bytes(block - 60, 3)},
                                          {"/game/m/2.avi", Bytes(0, 4)},
                                          {"/game/m/3.avi", Bytes(block + 1, 5)},
                                          {"/game/m/4.avi", Bytes(4093, 6)}});
  ASSERT_TRUE(Pack({"/game/m/1.avi", "/game/m/2.avi", "/game/m/3.avi", "/game/m/4.avi"}));
  EXPECT_EQ(fs.FileContents(kArchive), ScrambleBytes(image, MakeScrambleKey(kSeed)));
  EXPECT_EQ(fs.open_outputs, 0);
}

TEST_F(MediaArchiveTest, EmptyFileGivesLengthOne) {
  fs.AddFile("/game/e.png", "");
  ASSERT_TRUE(Pack({"/game/e.png"}));
  EXPECT_EQ(Image(), "KVI" + Fixed32(34) + Fixed32(1) + Fixed32(11) + "/game/e.png" +
                         Fixed32(34) + Fixed32(1) + std::string(1, '\0'));
}

TEST_F(MediaArchiveTest, EmptyListPrintsAndWritesNothing) {
  fs.AddFile(kArchive, "old");
  EXPECT_TRUE(Pack({}));
  EXPECT_EQ(out.text, "");
  EXPECT_EQ(fs.FileContents(kArchive), "old");
}

TEST_F(MediaArchiveTest, FileMissingAtPackingStopsBeforeAnythingIsWritten) {
  fs.AddFile(kArchive, "old");
  fs.AddFile("/game/a.png", "aaa");
  fs.AddFile("/game/c.png", "ccc");
  fs.AddFile("/game/d.png", "ddd");
  fs.unreadable.insert("/game/d.png");
  const std::string expected_for_b =
      Progress({"/game/a.png"}) + WrongName("/game/b.png") +
      "内部エラー : GenImgAdoObject(3) オブジェクトファイルオープンに失敗\n"
      "\"/game/b.png\" を読み込めませんでした: No such file or directory\n" + kFinish;

  EXPECT_FALSE(Pack({"/game/a.png", "/game/b.png", "/game/c.png"}));
  EXPECT_EQ(out.text, expected_for_b);
  EXPECT_EQ(sys.log.errorCount, 2);

  out.text.clear();
  EXPECT_FALSE(Pack({"/game/d.png", "/game/a.png"}));
  EXPECT_EQ(out.text, std::string(kStart) + WrongName("/game/d.png") +
                          "内部エラー : GenImgAdoObject(3) オブジェクトファイルオープンに失敗\n"
                          "\"/game/d.png\" を読み込めませんでした: Permission denied\n" +
                          kFinish);
  EXPECT_EQ(fs.FileContents(kArchive), "old");
  EXPECT_EQ(fs.open_outputs, 0);
}

TEST_F(MediaArchiveTest, OutputThatCannotBeWrittenLeavesTheOldArchive) {
  fs.AddFile(kArchive, "old");
  fs.AddFile("/game/a.png", Bytes(3 << 20, 9));  // several blocks: fails mid-stream
  fs.AddFile("/game/b.png", "b");
  const std::string expected = Progress({"/game/a.png", "/game/b.png"}) + kWriteFailedLines;
  const std::string reason = "\"" + std::string(kArchive) + "\" に書き込めませんでした: ";

  fs.unwritable.insert(kArchive);
  EXPECT_FALSE(Pack({"/game/a.png", "/game/b.png"}));
  EXPECT_EQ(out.text, expected + reason + "Permission denied\n" + kFinish);
  fs.unwritable.clear();

  out.text.clear();
  fs.fail_on_write.insert(kArchive);
  EXPECT_FALSE(Pack({"/game/a.png", "/game/b.png"}));
  EXPECT_EQ(out.text, expected + reason + "No space left on device\n" + kFinish);

  EXPECT_EQ(fs.FileContents(kArchive), "old");
  EXPECT_EQ(fs.open_outputs, 0);
  EXPECT_EQ(sys.log.errorCount, 4);
}

TEST_F(MediaArchiveTest, FileChangedOrLostAfterItsSizeWasTaken) {
  fs.AddFile(kArchive, "old");
  const std::string expected =
      Progress({"/game/a.ogg", "/game/b.ogg"}) +
      "内部エラー : GenImgAdoObject(5) オブジェクトへの出力に失敗\n";
  const std::string cannot_read = "\"/game/b.ogg\" を読み込めませんでした: ";
  const std::string changed = cannot_read + "File changed size while being read\n";
  const std::string reasons[] = {changed, changed, cannot_read + "No such file or directory\n",
                                 cannot_read + "Permission denied\n"};
  const std::vector<std::function<void()>> changes = {
      [&] { fs.AddFile("/game/b.ogg", "bb"); },      // shrank
      [&] { fs.AddFile("/game/b.ogg", "bbbb"); },    // grew
      [&] { fs.RemoveFile("/game/b.ogg"); },         // vanished
      [&] { fs.unreadable.insert("/game/b.ogg"); },  // became unreadable
  };
  for (size_t i = 0; i < changes.size(); ++i) {
    SCOPED_TRACE(i);
    fs.AddFile("/game/a.ogg", Bytes(5000, 1));
    fs.AddFile("/game/b.ogg", "bbb");
    fs.unreadable.clear();
    int opens = 0;
    fs.on_open = [&](const std::string& path) {
      if (path == "/game/b.ogg" && ++opens == 2) changes[i]();
    };
    out.text.clear();
    EXPECT_FALSE(Pack({"/game/a.ogg", "/game/b.ogg"}));
    EXPECT_EQ(out.text, expected + reasons[i] + kFinish);
    EXPECT_EQ(fs.FileContents(kArchive), "old");
    EXPECT_EQ(fs.open_outputs, 0);
  }
}

TEST_F(MediaArchiveTest, ArchiveOverTwoGigabytesIsRefused) {
  // One 13-byte path gives a 36-byte header; with the file's zero byte the
  // image is 2^31 bytes, one more than the engine's offsets can address.
  fs.AddFile(kArchive, "old");
  fs.AddHugeFile("/game/big.avi", (uint64_t{1} << 31) - 37);
  fs.AddFile("/game/s.avi", "s");
  // Sizes whose sum wraps a 32-bit counter to a small number.
  fs.AddHugeFile("/game/h1.avi", uint64_t{1} << 31);
  fs.AddHugeFile("/game/h2.avi", (uint64_t{1} << 31) + 100);
  const std::vector<std::vector<std::string>> lists = {
      {"/game/big.avi"}, {"/game/s.avi", "/game/h1.avi", "/game/h2.avi"}};
  for (const auto& list : lists) {
    out.text.clear();
    EXPECT_FALSE(Pack(list));
    EXPECT_EQ(out.text, Progress(list) +
                            "内部エラー : GenImgAdoObject(7) アーカイブが 2147483647 "
                            "バイトを超えます\n" +
                            kFinish);
  }
  EXPECT_EQ(fs.FileContents(kArchive), "old");
  EXPECT_EQ(fs.open_outputs, 0);
}

}  // namespace
}  // namespace kv
