#include "kvdump/extractor.h"

#include <gtest/gtest.h>

#include <map>

#include "kvdump/test_objects.h"

namespace kv::kvdump {
namespace {

using namespace testing;

std::string Place(std::string_view stored) {
  std::vector<std::string> components;
  std::string why;
  if (!RelativeComponents(stored, &components, &why)) return "refused: " + why;
  std::string out;
  for (const std::string& c : components) out += "<" + c + ">";
  return out;
}

TEST(RelativeComponents, KeepsEveryStoredNameInsideTheDirectory) {
  EXPECT_EQ("<home><you><img><bg.png>", Place("/home/you/img/bg.png"));
  EXPECT_EQ("<game><img><a.png>", Place("C:\\game\\img\\a.png"));
  EXPECT_EQ("<server><share><a>", Place("\\\\server\\share\\a"));
  EXPECT_EQ("refused: the name \"C:\" holds ':', which names an alternate data stream on Windows",
            Place("a/C:/b"))
      << "a drive letter only leads a path";
  EXPECT_EQ("<a..b><.x>", Place("//./a..b/./.x"));
  EXPECT_EQ("refused: the name climbs out with \"..\"", Place("/game/../../etc/passwd"));
  EXPECT_EQ("refused: the name climbs out with \"..\"", Place("C:..\\x"));
  EXPECT_EQ("refused: the name climbs out with \"..\"", Place(".."));
  EXPECT_EQ("refused: the name holds no file name", Place("/./"));
  EXPECT_EQ("refused: the name holds no file name", Place(""));
  EXPECT_EQ("refused: the name holds a zero byte", Place(std::string_view("/a\0b", 4)));
}

TEST(RelativeComponents, StepsOverDoubleByteCharacters) {
  // ソ is 83 5C and 表 is 95 5C: their second byte is '\', no separator.
  EXPECT_EQ("<\x83\x74\x83\x67\x83\x5C><\x95\x5C.png>",
            Place("C:\\\x83\x74\x83\x67\x83\x5C\\\x95\x5C.png"));
  EXPECT_EQ("<\x83\x7C.png>", Place("/\x83\x7C.png")) << "ポ: its '|' is no character of its own";
  EXPECT_EQ("<\x81><a>", Place("/\x81/a")) << "'/' never follows a lead byte in a character";
  EXPECT_EQ("<a\x81>", Place("/a\x81"));
}

TEST(RelativeComponents, RefusesNamesThatWindowsWouldNotStoreAsThemselves) {
  const char* const refused[][2] = {
      {"/g/a.png:stream", "the name \"a.png:stream\" holds ':', which names an alternate data stream on Windows"},
      {"/g/CON", "the name \"CON\" is the device CON on Windows"},
      {"/g/nul.png", "the name \"nul.png\" is the device NUL on Windows"},
      {"/g/Com1.tar.gz", "the name \"Com1.tar.gz\" is the device COM1 on Windows"},
      {"/g/lpt9", "the name \"lpt9\" is the device LPT9 on Windows"},
      {"/g/conin$", "the name \"conin$\" is the device CONIN$ on Windows"},
      {"/CONOUT$.txt/a", "the name \"CONOUT$.txt\" is the device CONOUT$ on Windows"},
      {"/g/aux .png", "the name \"aux .png\" is the device AUX on Windows"},
      {"/g/a.", "the name \"a.\" ends with a dot or a space, which Windows drops"},
      {"/g/a /b", "the name \"a \" ends with a dot or a space, which Windows drops"},
      {"/g/...", "the name \"...\" ends with a dot or a space, which Windows drops"},
      {"/g/a?.png", "the name \"a?.png\" holds a character that Windows refuses"},
      {"/g/a|b", "the name \"a|b\" holds a character that Windows refuses"},
      {"/g/a\x1B", "the name \"a\\x1B\" holds a character that Windows refuses"},
  };
  for (const auto& [stored, why] : refused) {
    EXPECT_EQ(std::string("refused: ") + why, Place(stored)) << stored;
  }
  for (const char* fine : {"/g/CONSOLE", "/g/com10", "/g/LPT", "/g/xcon", "/g/.a", "/g/a.b.c",
                           "/g/COM0.png"}) {
    EXPECT_EQ('<', Place(fine)[0]) << fine;
  }
}

class RecordingWriter : public TreeWriter {
 public:
  bool WriteFile(const std::vector<std::string>& components, std::string_view contents,
                 bool overwrite, std::string* error) override {
    std::string path;
    for (const std::string& c : components) path += "/" + c;
    if (files.count(path) && !overwrite) {
      *error = "exists";
      return false;
    }
    files[path] = contents;
    return true;
  }
  std::map<std::string, std::string> files;
};

TEST(ExtractArchive, WritesFilesWithoutTheirZeroByteAndReportsRefusals) {
  std::string image =
      ArchiveImage({{"/g/a.png", std::string("AB\0", 3)}, {"/g/../x", std::string(1, '\0')},
                    {"/g/e.wav", std::string(1, '\0')}, {"/g/a.png", std::string("CD\0", 3)}});
  ObjectHeader h;
  Problem p;
  ASSERT_TRUE(ReadHeader(image, &h, &p));
  RecordingWriter writer;
  std::string out, errors;
  EXPECT_FALSE(ExtractArchive(image, h, writer, false, &out, &errors));
  EXPECT_EQ("g/a.png\ng/e.wav\n", out);
  EXPECT_EQ("file 1 \"/g/../x\" not written: the name climbs out with \"..\"\n"
            "file 3 \"/g/a.png\" not written: exists\n",
            errors);
  EXPECT_EQ("AB", writer.files["/g/a.png"]);
  EXPECT_EQ("", writer.files["/g/e.wav"]);

  // Data beyond the image is refused, the other files still come out.
  h.entries[0].length = 1000;
  out.clear();
  errors.clear();
  EXPECT_FALSE(ExtractArchive(image, h, writer, true, &out, &errors));
  EXPECT_EQ("file 0 \"/g/a.png\" not written: its data lies outside the archive\n"
            "file 1 \"/g/../x\" not written: the name climbs out with \"..\"\n",
            errors);
  EXPECT_EQ("CD", writer.files["/g/a.png"]);
}

}  // namespace
}  // namespace kv::kvdump
