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

// A digest of bytes given a piece at a time, the same however they are cut:
// eight bytes are mixed at once, so that a large script is checked at the
// speed it is read.
class ContentDigest {
 public:
  void Add(std::string_view bytes) {
    size_t i = 0;
    while (pending_bytes_ != 0 && i < bytes.size()) Push(static_cast<unsigned char>(bytes[i++]));
    for (; i + 8 <= bytes.size(); i += 8) {
      uint64_t word;
      std::memcpy(&word, bytes.data() + i, 8);
      Mix(word);
    }
    while (i < bytes.size()) Push(static_cast<unsigned char>(bytes[i++]));
  }
  uint64_t Value() const {
    uint64_t value = (state_ ^ pending_ ^ (uint64_t{pending_bytes_} << 56)) * kMultiplier;
    return value ^ (value >> 29);
  }

 private:
  static constexpr uint64_t kMultiplier = 0x9E3779B97F4A7C15u;
  void Mix(uint64_t word) {
    state_ = (state_ ^ word) * kMultiplier;
    state_ ^= state_ >> 32;
  }
  void Push(unsigned char byte) {
    pending_ |= uint64_t{byte} << (8 * pending_bytes_);
    if (++pending_bytes_ == 8) {
      Mix(pending_);
      pending_ = 0;
      pending_bytes_ = 0;
    }
  }
  uint64_t state_ = 0xCBF29CE484222325u;
  uint64_t pending_ = 0;
  uint32_t pending_bytes_ = 0;
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
  const bool keep = keep_ && keep_(path);
  if (keep) Forget(path);
  if (!base_.ReadFile(path, contents, err)) return false;
  if (keep) {
    ContentDigest digest;
    digest.Add(*contents);
    read_[path] = {contents->size(), digest.Value()};
  }
  return true;
}

void OverlayFileSystem::Forget(const std::string& path) {
  read_.erase(path);
  lost_.erase(std::remove(lost_.begin(), lost_.end(), path), lost_.end());
  held_.erase(std::remove_if(held_.begin(), held_.end(),
                             [&](const auto& held) { return held.first == path; }),
              held_.end());
}

bool OverlayFileSystem::ReadAgain(const std::string& path, const Read& read, size_t piece,
                                  std::unique_ptr<char[]>* buffer,
                                  const std::function<void(std::string_view)>& take) {
  std::string err;
  std::unique_ptr<InputFile> in = base_.OpenInput(path, &err);
  if (in == nullptr || in->Size() != read.size) return false;
  // Not zeroed: only what is read is touched.
  if (!*buffer) buffer->reset(new char[piece]);
  ContentDigest digest;
  uint64_t size = 0;
  for (;;) {
    size_t got = 0;
    if (!in->Read(buffer->get(), piece, &got, &err)) return false;
    if (got == 0) break;
    size += got;
    // More than was read: the file grows as it is read.
    if (size > read.size) return false;
    const std::string_view bytes(buffer->get(), got);
    digest.Add(bytes);
    if (take) take(bytes);
  }
  return size == read.size && digest.Value() == read.digest;
}

void OverlayFileSystem::Lost(const std::string& path, Read& read) {
  read.changed = true;
  // Not checked yet: the check of the analysis that read it tells it.
  if (!read.checked) lost_.push_back(path);
}

std::vector<std::string> OverlayFileSystem::CheckRead() {
  std::vector<std::string> changed = std::move(lost_);
  lost_.clear();
  std::unique_ptr<char[]> buffer;
  constexpr size_t kPiece = size_t{1} << 20;
  for (auto& [path, read] : read_) {
    if (read.checked || read.changed) continue;
    read.checked = true;
    // A piece at a time: a large script is not held again to be checked.
    if (ReadAgain(path, read, kPiece, &buffer, nullptr)) continue;
    read.changed = true;
    changed.push_back(path);
  }
  return changed;
}

std::shared_ptr<const std::string> OverlayFileSystem::Compiled(const std::string& path,
                                                               bool* changed) {
  *changed = false;
  auto it = read_.find(path);
  if (it == read_.end()) return nullptr;
  if (it->second.changed) return nullptr;  // found so before
  for (size_t i = 0; i < held_.size(); ++i) {
    if (held_[i].first != path) continue;
    std::rotate(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(i),
                held_.begin() + static_cast<std::ptrdiff_t>(i) + 1);
    return held_.front().second;
  }
  auto contents = std::make_shared<std::string>();
  std::string err;
  ContentDigest digest;
  const bool read = base_.ReadFile(path, contents.get(), &err);
  if (read) digest.Add(*contents);
  if (!read || contents->size() != it->second.size || digest.Value() != it->second.digest) {
    *changed = true;
    Lost(path, it->second);
    return nullptr;
  }
  if (contents->size() <= kHeldBytes) {
    held_.insert(held_.begin(), {path, contents});
    size_t bytes = 0;
    size_t keep = 0;
    while (keep < held_.size() && keep < kHeldFiles &&
           (bytes += held_[keep].second->size()) <= kHeldBytes) {
      ++keep;
    }
    held_.resize(keep);
  }
  return contents;
}

bool OverlayFileSystem::ReadCompiled(const std::string& path, size_t piece,
                                     const std::function<void(std::string_view)>& take,
                                     bool* changed) {
  *changed = false;
  auto it = read_.find(path);
  if (it == read_.end() || it->second.changed) return false;
  piece = std::max<size_t>(piece, 1);
  const bool held = std::any_of(held_.begin(), held_.end(),
                                [&](const auto& entry) { return entry.first == path; });
  // A file small enough to be held is held for what asks for it next.
  if (held || it->second.size <= kHeldBytes) {
    const std::shared_ptr<const std::string> contents = Compiled(path, changed);
    if (!contents) return false;
    const std::string_view all(*contents);
    for (size_t at = 0; at < all.size(); at += piece) take(all.substr(at, piece));
    return true;
  }
  std::unique_ptr<char[]> buffer;
  if (ReadAgain(path, it->second, piece, &buffer, take)) return true;
  *changed = true;
  Lost(path, it->second);
  return false;
}

uint64_t OverlayFileSystem::CompiledSize(const std::string& path) const {
  auto it = read_.find(path);
  return it == read_.end() || it->second.changed ? 0 : it->second.size;
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
