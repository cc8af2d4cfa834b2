// The file system the language server converts a game over: the real one,
// with the texts that the editor holds in place of those files' contents.
// It writes nothing: an output can be started (a check asks no more, and is
// told that its objects could be written) but never reaches the disk.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
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
    kept_.erase(path);
    read_.erase(path);
  }
  void Clear(const std::string& path) { texts_.erase(path); }
  void set_source_encoding(SourceEncoding encoding) { encoding_ = encoding; }

  // The contents of each file that `keep` accepts are kept as ReadFile read
  // them from the disk, until it reads the file again or ForgetKept: the
  // text that what was made of the file stands on. With `later`, they are
  // not copied as they are read (the reader holds them then, and a large
  // script would be held twice) but read again by KeepRead, which keeps
  // them only when they are what was read before.
  void set_keep(std::function<bool(const std::string&)> keep, bool later = false) {
    keep_ = std::move(keep);
    keep_later_ = later;
  }
  // Reads again the files read since set_keep(..., true) and keeps those
  // whose contents are what was read then; returns the others (changed
  // since, or unreadable now), whose contents are not kept.
  std::vector<std::string> KeepRead();
  // The contents kept of `path`, or null.
  std::shared_ptr<const std::string> Kept(const std::string& path) const {
    auto it = kept_.find(path);
    return it == kept_.end() ? nullptr : it->second;
  }
  void ForgetKept() {
    kept_.clear();
    read_.clear();
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
  std::map<std::string, std::shared_ptr<const std::string>> kept_;
  bool keep_later_ = false;
  // What ReadFile read of each file to keep later: its size and a digest.
  struct Read {
    size_t size;
    size_t digest;
  };
  std::map<std::string, Read> read_;
};

}  // namespace kv
