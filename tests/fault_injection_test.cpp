// Whole conversions of a small game while the file system fails: a full disk
// at every byte of every output, a failed rename, reads that break off, files
// that vanish, change size or become FIFOs, a directory that cannot be read. Each run must end
// with its message, exit status 1, every older output as it was, and no
// temporary file left.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "test_support/conversion_harness.h"

namespace kv {
namespace {

// The outputs in the order they are written.
const std::vector<std::string> kOutputs = {"/game/script.kvo", "/game/image.kvo",
                                           "/game/audio.kvo", "/game/movie.kvo"};
const std::string kWriteFailed = "内部エラー : KCFile::FileClose(2) ファイルへの書き込みに失敗\n";
const std::string kArchiveFailed = "内部エラー : GenImgAdoObject(6) オブジェクトの出力に失敗\n";
const std::string kSearchFailed = "内部エラー : main(1) ファイル検索に失敗\n";

const std::string kCopyFailed = "内部エラー : GenImgAdoObject(5) オブジェクトへの出力に失敗\n";

std::string CannotRead(const std::string& path, const std::string& reason) {
  return "\"" + path + "\" を読み込めませんでした: " + reason + "\n";
}

std::string WrongName(const std::string& path) {
  return "エラー : \"" + path +
         "\" 指定した名前が間違っている可能性があります\n間違っていない場合は内部エラーです\n";
}

class FaultInjection : public ::testing::Test {
 protected:
  FaultInjection() {
    fs.AddFile("/game/main.txt",
               "window_title \"t\";\ncreate_window;\nstart:\ntext \"a\";\nif x == 1;\n"
               "text \"b\";\nendif;\nscript_change \"scenes/one.txt\";\n");
    fs.AddFile("/game/scenes/one.txt", "text \"one\";\ngoto start;\n");
    fs.AddFile("/game/img/bg.png", std::string(300, 'i'));
    fs.AddFile("/game/img/fg.png", std::string(40, 'j'));
    fs.AddFile("/game/se/click.wav", std::string(200, 'a'));
    fs.AddFile("/game/mv/op.avi", std::string(100, 'm'));
    for (const std::string& output : kOutputs) fs.AddFile(output, "old " + output);
  }

  // The outputs of a run without faults, in a file system of their own.
  std::map<std::string, std::string> GoodOutputs() {
    MemoryFileSystem good = fs;
    EXPECT_EQ(RunConversion(good).status, 0);
    std::map<std::string, std::string> outputs;
    for (const std::string& output : kOutputs) outputs[output] = good.FileContents(output);
    return outputs;
  }

  // The run failed with `messages` in its console; the outputs before
  // `first_kept` are new, that one and the later ones are as they were.
  void ExpectFailedRun(const ConversionRun& run, const std::string& messages, size_t first_kept,
                       const std::map<std::string, std::string>& good) {
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.console.find(messages), std::string::npos) << run.console;
    EXPECT_NE(run.console.find("結果 : 失敗"), std::string::npos);
    for (size_t i = 0; i < kOutputs.size(); ++i) {
      const std::string& output = kOutputs[i];
      EXPECT_EQ(fs.FileContents(output), i < first_kept ? good.at(output) : "old " + output)
          << output;
    }
    EXPECT_EQ(fs.open_outputs, 0);
  }

  MemoryFileSystem fs{"/game"};
};

TEST_F(FaultInjection, DiskFullAtEveryByteOfEveryOutput) {
  const std::map<std::string, std::string> good = GoodOutputs();
  const MemoryFileSystem pristine = fs;
  int64_t written_before = 0;
  for (size_t k = 0; k < kOutputs.size(); ++k) {
    const int64_t size = static_cast<int64_t>(good.at(kOutputs[k]).size());
    const std::string messages = k == 0 ? kWriteFailed : kWriteFailed + kArchiveFailed;
    for (int64_t budget = written_before; budget < written_before + size; ++budget) {
      SCOPED_TRACE(kOutputs[k] + " full after " + std::to_string(budget) + " bytes");
      fs = pristine;
      fs.write_budget = budget;
      ExpectFailedRun(RunConversion(fs), messages, k, good);
      if (HasFailure()) return;
    }
    written_before += size;
  }
}

TEST_F(FaultInjection, RenameIntoPlaceFails) {
  const std::map<std::string, std::string> good = GoodOutputs();
  const MemoryFileSystem pristine = fs;
  for (size_t k = 0; k < kOutputs.size(); ++k) {
    SCOPED_TRACE(kOutputs[k]);
    fs = pristine;
    fs.fail_on_commit.insert(kOutputs[k]);
    ExpectFailedRun(RunConversion(fs), k == 0 ? kWriteFailed : kWriteFailed + kArchiveFailed, k,
                    good);
  }
}

TEST_F(FaultInjection, ReadBreaksOffInsideAScriptOrAMediaFile) {
  const std::map<std::string, std::string> good = GoodOutputs();
  const MemoryFileSystem pristine = fs;
  for (const char* script : {"/game/main.txt", "/game/scenes/one.txt"}) {
    fs = pristine;
    fs.read_limit[script] = 5;
    ExpectFailedRun(RunConversion(fs), WrongName(script) + CannotRead(script, "Input/output error"),
                    0, good);
  }
  // Media are read in the finish stage: the outputs before stand, the rest
  // are not written.
  fs = pristine;
  fs.read_limit["/game/img/fg.png"] = 20;
  ExpectFailedRun(RunConversion(fs), kCopyFailed + CannotRead("/game/img/fg.png", "Input/output error"),
                  1, good);
  fs = pristine;
  fs.read_limit["/game/mv/op.avi"] = 99;
  ExpectFailedRun(RunConversion(fs), kCopyFailed + CannotRead("/game/mv/op.avi", "Input/output error"),
                  3, good);
}

TEST_F(FaultInjection, FileGrowsOrShrinksWhileItIsRead) {
  const std::map<std::string, std::string> good = GoodOutputs();
  const MemoryFileSystem pristine = fs;
  for (int64_t change : {int64_t{1}, int64_t{-1}}) {
    SCOPED_TRACE(change);
    fs = pristine;
    fs.size_change_after_open["/game/scenes/one.txt"] = change;
    ExpectFailedRun(RunConversion(fs),
                    WrongName("/game/scenes/one.txt") +
                        CannotRead("/game/scenes/one.txt", "File changed size while being read"),
                    0, good);
    fs = pristine;
    fs.size_change_after_open["/game/se/click.wav"] = change;
    ExpectFailedRun(RunConversion(fs),
                    kCopyFailed +
                        CannotRead("/game/se/click.wav", "File changed size while being read"),
                    2, good);
  }
}

TEST_F(FaultInjection, FileVanishesOrChangesBetweenSearchAndPacking) {
  const std::map<std::string, std::string> good = GoodOutputs();
  const MemoryFileSystem pristine = fs;

  // A script listed by the search is gone when it is registered.
  fs.after_list = [&](const std::string& dir) {
    if (dir == "/game/scenes") fs.RemoveFile("/game/scenes/one.txt");
  };
  ExpectFailedRun(RunConversion(fs),
                  "ファイル \"/game/scenes/one.txt\" が見つかりませんでした\n" + kSearchFailed, 0,
                  good);

  // The sound is gone when the archives are packed.
  fs = pristine;
  fs.before_read = [&](const std::string& path) {
    if (path == "/game/img/bg.png") fs.RemoveFile("/game/se/click.wav");
  };
  ExpectFailedRun(RunConversion(fs),
                  WrongName("/game/se/click.wav") +
                      "内部エラー : GenImgAdoObject(3) オブジェクトファイルオープンに失敗\n",
                  2, good);

  // An image changes size after the archive's header took its size, or
  // becomes a FIFO.
  for (size_t size : {39u, 41u, 0u}) {
    fs = pristine;
    int opens = 0;
    fs.before_read = [&](const std::string& path) {
      if (path != "/game/img/fg.png" || ++opens != 2) return;
      if (size == 0) {
        fs.AddSpecialFile(path);
      } else {
        fs.AddFile(path, std::string(size, 'j'));
      }
    };
    ExpectFailedRun(RunConversion(fs),
                    kCopyFailed + CannotRead("/game/img/fg.png", size == 0
                                                                     ? "Not a regular file"
                                                                     : "File changed size while being read"),
                    1, good);
  }
}

TEST_F(FaultInjection, DirectoryThatCannotBeRead) {
  const std::map<std::string, std::string> good = GoodOutputs();
  fs.unlistable.insert("/game/se");
  ExpectFailedRun(RunConversion(fs),
                  "エラー : ディレクトリ \"/game/se/\" を読み込めませんでした\n", 0, good);
}

}  // namespace
}  // namespace kv
