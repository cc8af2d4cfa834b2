#include "output/object_writer.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/file_system.h"
#include "test_support/memory_file_system.h"
#include "test_support/scramble_reference.h"

namespace kv {
namespace {

constexpr ScrambleKey kKey{77, 9};

TEST(ObjectWriter, WritesTheScrambledImageInPiecesOfAnySize) {
  MemoryFileSystem fs;
  std::string image;
  for (int i = 0; i < 3000000; ++i) image.push_back(static_cast<char>(i * 7));
  ObjectWriter out(image.size(), kKey);
  ASSERT_TRUE(out.Open(fs, "/game/o.kvo"));
  ASSERT_TRUE(out.Write(image.data(), 10));
  ASSERT_TRUE(out.Write(image.data() + 10, image.size() - 10));
  ASSERT_TRUE(out.Commit());
  EXPECT_EQ(fs.FileContents("/game/o.kvo"), ScrambleBytes(image, kKey));

  // An image shorter than two bytes carries key and step behind it.
  ObjectWriter tiny(1, kKey);
  ASSERT_TRUE(tiny.Open(fs, "/game/t.kvo"));
  ASSERT_TRUE(tiny.Write("A"));
  ASSERT_TRUE(tiny.Commit());
  EXPECT_EQ(fs.FileContents("/game/t.kvo"), ScrambleBytes("A", kKey));
}

TEST(ObjectWriter, FilesReadStraightIntoTheBlockGiveTheSameBytes) {
  MemoryFileSystem fs;
  std::string media;
  for (int i = 0; i < 700000; ++i) media.push_back(static_cast<char>(i * 13 + i / 7));
  fs.AddFile("/game/m.avi", media);
  // A short header leaves key and step inside the file's bytes; a long one
  // places them before.
  for (const std::string& header : {std::string("KVM"), std::string(100, 'h')}) {
    const std::string image = header + media;
    ObjectWriter out(image.size(), kKey);
    ASSERT_TRUE(out.Open(fs, "/game/movie.kvo"));
    ASSERT_TRUE(out.Write(header));
    std::unique_ptr<InputFile> in = fs.OpenInput("/game/m.avi", nullptr);
    uint64_t copied = 0;
    while (copied < media.size()) {
      size_t got = 0;
      bool read_failed = false;
      ASSERT_TRUE(out.WriteFrom(*in, media.size() - copied, &got, &read_failed));
      ASSERT_GT(got, 0u);
      copied += got;
    }
    ASSERT_TRUE(out.Commit());
    EXPECT_EQ(fs.FileContents("/game/movie.kvo"), ScrambleBytes(image, kKey)) << header.size();
  }
}

TEST(ObjectWriter, AFailureLeavesTheOldFileAndNoTemporaryFile) {
  MemoryFileSystem fs;
  fs.AddFile("/game/o.kvo", "old");
  {
    ObjectWriter short_image(5, kKey);  // fewer bytes than announced
    ASSERT_TRUE(short_image.Open(fs, "/game/o.kvo"));
    ASSERT_TRUE(short_image.Write("abc"));
    EXPECT_FALSE(short_image.Commit());
  }
  {
    ObjectWriter long_image(2, kKey);  // more bytes than announced
    ASSERT_TRUE(long_image.Open(fs, "/game/o.kvo"));
    long_image.Write("abc");
    EXPECT_FALSE(long_image.Commit());
  }
  fs.fail_on_write.insert("/game/o.kvo");
  {
    ObjectWriter failing(3, kKey);
    ASSERT_TRUE(failing.Open(fs, "/game/o.kvo"));
    failing.Write("abc");
    EXPECT_FALSE(failing.Commit());
  }
  fs.unwritable.insert("/game/o.kvo");
  ObjectWriter refused(3, kKey);
  EXPECT_FALSE(refused.Open(fs, "/game/o.kvo"));
  EXPECT_FALSE(refused.Write("abc"));
  EXPECT_FALSE(refused.Commit());
  EXPECT_EQ(fs.FileContents("/game/o.kvo"), "old");
  EXPECT_EQ(fs.open_outputs, 0);
}

}  // namespace
}  // namespace kv
