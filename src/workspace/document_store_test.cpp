#include "workspace/document_store.h"

#include <gtest/gtest.h>

#include "test_support/memory_file_system.h"

namespace kv {
namespace {

TEST(DocumentStore, OpenDocumentsStandOverTheFilesOnDisk) {
  MemoryFileSystem fs;
  fs.AddFile("/game/main.txt", "text \"\x82\xA0\";\n");
  fs.AddFile("/game/utf8.txt", "\xE3\x81\x84\xFF");
  DocumentStore store(fs);
  std::string err;
  EXPECT_EQ("text \"あ\";\n", store.Text("/game/main.txt", &err)->utf8());

  store.Set("/game/main.txt", 3, "text \"い\";");
  EXPECT_EQ("text \"\x82\xA2\";", store.Text("/game/main.txt", &err)->cp932());
  ASSERT_NE(nullptr, store.Find("/game/main.txt"));
  EXPECT_EQ(3, store.Find("/game/main.txt")->version);

  // A change is converted when the document is next read.
  const int64_t version = 4;
  store.Edit("/game/main.txt", &version)->Replace(0, 4, "goto");
  EXPECT_EQ("goto \"\x82\xA2\";", store.Find("/game/main.txt")->text->cp932());
  EXPECT_EQ(4, store.Find("/game/main.txt")->version);
  store.Edit("/game/main.txt", nullptr)->Replace(0, 4, "");
  EXPECT_EQ(" \"\x82\xA2\";", store.open().at("/game/main.txt").text->cp932());
  EXPECT_EQ(4, store.Find("/game/main.txt")->version);
  EXPECT_EQ(nullptr, store.Edit("/game/other.txt", &version));

  store.Close("/game/main.txt");
  EXPECT_EQ(nullptr, store.Find("/game/main.txt"));
  EXPECT_EQ("text \"\x82\xA0\";\n", store.Text("/game/main.txt", &err)->cp932());

  store.set_source_encoding(SourceEncoding::kUtf8);
  EXPECT_EQ("\x82\xA2?", store.Text("/game/utf8.txt", &err)->cp932());

  EXPECT_EQ(nullptr, store.Text("/game/missing.txt", &err));
  EXPECT_EQ("No such file or directory", err);
  fs.AddHugeFile("/game/huge.txt", (uint64_t{64} << 20) + 1);
  EXPECT_EQ(nullptr, store.Text("/game/huge.txt", &err));
  EXPECT_EQ("larger than 64 MiB", err);
}

TEST(DocumentStore, GameFilePatternsFollowTheConvertersExtensions) {
  EXPECT_EQ((std::vector<std::string>{"**/*.txt", "**/*.{bmp,jpg,gif,png}",
                                      "**/*.{wav,mp3,wma,mid,mpa,ogg}",
                                      "**/*.{avi,mpg,mpeg,mpv,dat,mov,wmv}"}),
            GameFilePatterns());
}

}  // namespace
}  // namespace kv
