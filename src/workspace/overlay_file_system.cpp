#include "workspace/overlay_file_system.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace kv {
namespace {

constexpr char kReasonNoWrites[] = "Read-only file system";

class TextInput : public InputFile {
 public:
  explicit TextInput(std::shared_ptr<const DocumentText> text, const std::string& bytes)
      : text_(std::move(text)), bytes_(bytes) {}
  uint64_t Size() const override { return bytes_.size(); }
  bool Read(char* buffer, size_t n, size_t* got, std::string*) override {
    *got = std::min(n, bytes_.size() - read_);
    std::memcpy(buffer, bytes_.data() + read_, *got);
    read_ += *got;
    return true;
  }

 private:
  std::shared_ptr<const DocumentText> text_;  // keeps bytes_ alive
  const std::string& bytes_;
  size_t read_ = 0;
};

// What a check is given for an object it would write: a check only asks
// whether the output can be started, and the server answers yes without
// touching the disk. Nothing written is kept, and nothing is ever committed.
class DiscardedOutput : public OutputFile {
 public:
  bool Write(const char*, size_t, std::string*) override { return true; }
  bool Commit(std::string* err) override {
    if (err != nullptr) *err = kReasonNoWrites;
    return false;
  }
};

}  // namespace

const std::string* OverlayFileSystem::Overlaid(const std::string& path) const {
  auto it = texts_.find(path);
  if (it == texts_.end()) return nullptr;
  return encoding_ == SourceEncoding::kUtf8 ? &it->second->utf8() : &it->second->cp932();
}

bool OverlayFileSystem::FileKey(const std::string& path, std::string* key) {
  if (base_.FileKey(path, key)) return true;
  // A document the editor holds that the disk does not have yet.
  if (texts_.count(path) == 0) return false;
  *key = "editor:" + path;
  return true;
}

bool OverlayFileSystem::ReadFile(const std::string& path, std::string* contents, std::string* err) {
  if (const std::string* text = Overlaid(path)) {
    *contents = *text;
    return true;
  }
  if (!base_.ReadFile(path, contents, err)) {
    kept_.erase(path);
    read_.erase(path);
    return false;
  }
  if (!keep_ || !keep_(path)) return true;
  if (keep_later_) {
    kept_.erase(path);
    read_[path] = {contents->size(), std::hash<std::string_view>()(*contents)};
  } else {
    kept_[path] = std::make_shared<const std::string>(*contents);
  }
  return true;
}

std::vector<std::string> OverlayFileSystem::KeepRead() {
  std::vector<std::string> changed;
  for (const auto& [path, read] : read_) {
    auto contents = std::make_shared<std::string>();
    std::string err;
    if (base_.ReadFile(path, contents.get(), &err) && contents->size() == read.size &&
        std::hash<std::string_view>()(*contents) == read.digest) {
      kept_[path] = std::move(contents);
    } else {
      changed.push_back(path);
    }
  }
  read_.clear();
  return changed;
}

std::unique_ptr<InputFile> OverlayFileSystem::OpenInput(const std::string& path, std::string* err) {
  auto it = texts_.find(path);
  if (it == texts_.end()) return base_.OpenInput(path, err);
  return std::make_unique<TextInput>(it->second, *Overlaid(path));
}

std::unique_ptr<OutputFile> OverlayFileSystem::CreateOutput(const std::string&, std::string*) {
  return std::make_unique<DiscardedOutput>();
}

}  // namespace kv
