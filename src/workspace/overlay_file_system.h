// The file system the language server converts a game over: the real one,
// with the texts that the editor holds in place of those files' contents.
// It writes nothing: an output can be started (a check asks no more, and is
// told that its objects could be written) but never reaches the disk.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"
#include "workspace/analysis.h"
#include "workspace/document_text.h"

namespace kv {

class OverlayFileSystem : public FileSystem {
 public:
  explicit OverlayFileSystem(FileSystem& base) : base_(base) {}

  // Files read from now on get the editor's text of `path`, in the encoding
  // the converter reads scripts in.
  void Set(const std::string& path, std::shared_ptr<const DocumentText> text) {
    texts_[path] = std::move(text);
    Forget(path);
  }
  void Clear(const std::string& path) { texts_.erase(path); }
  void set_source_encoding(SourceEncoding encoding) { encoding_ = encoding; }

  // Of each file that `keep` accepts, ReadFile notes the size and a digest
  // of what it read from the disk (never a copy: the reader holds the
  // contents, and a large script would be held twice). What was made of
  // the file stands on those bytes; Compiled reads them again when they
  // are needed.
  void set_keep(std::function<bool(const std::string&)> keep) { keep_ = std::move(keep); }
  // Reads again, a piece at a time, the files read since set_keep and not
  // checked yet; returns those whose contents are no longer what was read
  // (changed since, or unreadable now), and those Compiled found changed
  // meanwhile. What was made of them cannot be shown.
  std::vector<std::string> CheckRead();
  // The contents of `path` as ReadFile last read them, read again: null
  // when no read was noted or they are known to have changed, and null
  // with *changed when they are found changed now (the file is marked so,
  // and not read again until ReadFile reads it anew). The last kHeldFiles
  // files read stay at hand while they hold kHeldBytes together at most; a
  // larger one is read again each time.
  std::shared_ptr<const std::string> Compiled(const std::string& path, bool* changed);
  // As Compiled, handing the contents to `take` a piece of at most `piece`
  // bytes at a time instead: true once they are all handed over and are
  // what ReadFile read. A file larger than those held is read from the disk
  // a piece at a time, never whole, and only its end tells whether it is
  // the same: on false with *changed, what was handed over is not what was
  // compiled.
  bool ReadCompiled(const std::string& path, size_t piece,
                    const std::function<void(std::string_view)>& take, bool* changed);
  // The size ReadFile read of `path`, 0 when none was read or the file has
  // been found changed since.
  uint64_t CompiledSize(const std::string& path) const;
  static constexpr size_t kHeldBytes = size_t{4} << 20;
  static constexpr size_t kHeldFiles = 64;
  // Whether a read of `path` is noted (its contents may have changed since).
  bool WasRead(const std::string& path) const { return read_.count(path) != 0; }
  void ForgetRead() {
    read_.clear();
    held_.clear();
    lost_.clear();
  }

  char Separator() const override { return base_.Separator(); }
  bool CurrentDirectory(std::string* path) override { return base_.CurrentDirectory(path); }
  bool ListDirectory(const std::string& directory, std::vector<DirectoryEntry>* entries) override {
    return base_.ListDirectory(directory, entries);
  }
  bool FileKey(const std::string& path, std::string* key) override;
  bool Exists(const std::string& path) override {
    return texts_.count(path) != 0 || base_.Exists(path);
  }
  std::string AbsolutePath(const std::string& path) override { return base_.AbsolutePath(path); }
  bool ReadFile(const std::string& path, std::string* contents, std::string* err) override;
  std::unique_ptr<InputFile> OpenInput(const std::string& path, std::string* err) override;
  std::unique_ptr<OutputFile> CreateOutput(const std::string& path, std::string* err) override;
  void RemoveLeftoverTemporaryFiles(const std::string&, std::vector<std::string>*) override {}

 private:
  // The editor's text of `path` in the converter's encoding, or null.
  const std::string* Overlaid(const std::string& path) const;

  FileSystem& base_;
  SourceEncoding encoding_ = SourceEncoding::kCp932;
  std::map<std::string, std::shared_ptr<const DocumentText>> texts_;
  std::function<bool(const std::string&)> keep_;
  // What ReadFile read of each file it keeps track of: its size and a
  // digest; whether CheckRead has read it again since, and whether its
  // contents were found changed.
  struct Read {
    uint64_t size = 0;
    uint64_t digest = 0;
    bool checked = false;
    bool changed = false;
  };
  std::map<std::string, Read> read_;
  std::vector<std::string> lost_;  // found changed before CheckRead
  // The contents of the files Compiled read last, the latest first.
  std::vector<std::pair<std::string, std::shared_ptr<const std::string>>> held_;
  void Forget(const std::string& path);
  // Reads `path` from the disk a piece at a time into `buffer` (made when
  // first needed), handing each piece to `take` if given: whether its
  // contents are still those `read` notes.
  bool ReadAgain(const std::string& path, const Read& read, size_t piece,
                 std::unique_ptr<char[]>* buffer,
                 const std::function<void(std::string_view)>& take);
  // Notes that the contents of `path` are no longer those compiled.
  void Lost(const std::string& path, Read& read);
};

}  // namespace kv
