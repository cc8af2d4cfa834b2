#include "test_support/memory_file_system.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "platform/lexical_path.h"

namespace kv {
namespace {

std::unique_ptr<OutputFile> NoOutput(int error_number, std::string* err) {
  if (err != nullptr) *err = std::strerror(error_number);
  return nullptr;
}

bool Fail(int error_number, std::string* err) {
  if (err != nullptr) *err = std::strerror(error_number);
  return false;
}

std::string Parent(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos || slash == 0) return "/";
  return path.substr(0, slash);
}

std::string StripSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

class MemoryInputFile : public InputFile {
 public:
  MemoryInputFile(std::string data, uint64_t size, uint64_t read_limit)
      : data_(std::move(data)), size_(size), read_limit_(read_limit) {}
  uint64_t Size() const override { return size_; }
  bool Read(char* buffer, size_t n, size_t* got, std::string* err) override {
    size_t left = data_.size() - offset_;
    *got = std::min(n, left);
    if (offset_ + *got > read_limit_) return Fail(EIO, err);
    std::memcpy(buffer, data_.data() + offset_, *got);
    offset_ += *got;
    return true;
  }

 private:
  std::string data_;
  uint64_t size_;
  uint64_t read_limit_;
  size_t offset_ = 0;
};

// Streams zero bytes of a file that reports a huge size without holding it.
class HugeInputFile : public InputFile {
 public:
  explicit HugeInputFile(uint64_t size) : size_(size) {}
  uint64_t Size() const override { return size_; }
  bool Read(char* buffer, size_t n, size_t* got, std::string*) override {
    *got = static_cast<size_t>(std::min<uint64_t>(n, size_ - offset_));
    std::memset(buffer, 0, *got);
    offset_ += *got;
    return true;
  }

 private:
  uint64_t size_;
  uint64_t offset_ = 0;
};

}  // namespace

class MemoryOutputFile : public OutputFile {
 public:
  MemoryOutputFile(MemoryFileSystem& fs, std::string target) : fs_(fs), target_(std::move(target)) {
    ++fs_.open_outputs;
  }
  ~MemoryOutputFile() override {
    if (!done_) --fs_.open_outputs;
  }
  bool Write(const char* data, size_t n, std::string* err) override {
    if (fs_.fail_on_write.count(target_)) return Fail(ENOSPC, err);
    if (fs_.write_budget >= 0) {
      if (n > static_cast<uint64_t>(fs_.write_budget)) return Fail(ENOSPC, err);
      fs_.write_budget -= static_cast<int64_t>(n);
    }
    data_.append(data, n);
    return true;
  }
  bool Flush(std::string* err) override {
    if (fs_.fail_on_flush.count(target_)) return Fail(EIO, err);
    return true;
  }
  bool Commit(std::string* err) override {
    if (fs_.directories_.count(target_)) return Fail(EISDIR, err);
    if (fs_.fail_on_commit.count(target_)) return Fail(EXDEV, err);
    done_ = true;
    --fs_.open_outputs;
    fs_.AddFile(target_, std::move(data_));
    return true;
  }

 private:
  MemoryFileSystem& fs_;
  std::string target_;
  std::string data_;
  bool done_ = false;
};

MemoryFileSystem::MemoryFileSystem(std::string current_directory)
    : cwd_(StripSlash(std::move(current_directory))) {
  AddDirectory(cwd_);
}

void MemoryFileSystem::AddDirectory(const std::string& path) {
  std::string dir = StripSlash(path);
  while (directories_.insert(dir).second && dir != "/") dir = Parent(dir);
}

void MemoryFileSystem::AddFile(const std::string& path, std::string contents) {
  AddDirectory(Parent(path));
  special_files_.erase(path);
  files_[path] = std::move(contents);
}

void MemoryFileSystem::AddSpecialFile(const std::string& path) {
  AddFile(path, "");
  special_files_.insert(path);
}

void MemoryFileSystem::AddHardLink(const std::string& existing, const std::string& link) {
  AddFile(link, files_.at(existing));
  auto key = file_keys_.emplace(existing, existing).first;
  file_keys_[link] = key->second;
}

void MemoryFileSystem::AddHugeFile(const std::string& path, uint64_t size) {
  AddFile(path, "");
  huge_files_[path] = size;
}

bool MemoryFileSystem::ListDirectory(const std::string& directory,
                                     std::vector<DirectoryEntry>* entries) {
  entries->clear();
  std::string dir = StripSlash(AbsolutePath(directory.empty() ? "." : directory));
  if (!directories_.count(dir) || unlistable.count(dir)) return false;
  std::string prefix = dir == "/" ? "/" : dir + "/";
  auto child_name = [&](const std::string& path) -> std::string {
    if (path.size() <= prefix.size() || path.compare(0, prefix.size(), prefix) != 0) return "";
    std::string rest = path.substr(prefix.size());
    return rest.find('/') == std::string::npos ? rest : "";
  };
  // Everything below the directory sorts right after its prefix, so only
  // that range is visited: listing a large tree stays proportional to it.
  auto below = [&](const std::string& path) { return path.compare(0, prefix.size(), prefix) == 0; };
  auto add = [&](const std::string& path, bool is_directory) {
    std::string name = child_name(path);
    if (name.empty()) return;
    if (without_cp932_form.count(path)) {
      entries->push_back({"", is_directory, std::move(name)});
    } else {
      entries->push_back({std::move(name), is_directory});
    }
    entries->back().is_special = special_files_.count(path) != 0;
  };
  for (auto it = directories_.lower_bound(prefix); it != directories_.end() && below(*it); ++it) {
    add(*it, true);
  }
  for (auto it = files_.lower_bound(prefix); it != files_.end() && below(it->first); ++it) {
    add(it->first, false);
  }
  SortDirectoryEntries(entries);
  if (after_list) after_list(dir);
  return true;
}

bool MemoryFileSystem::FileKey(const std::string& path, std::string* key) {
  std::string abs = StripSlash(AbsolutePath(path));
  if (!directories_.count(abs) && !files_.count(abs)) return false;
  auto shared = file_keys_.find(abs);
  *key = shared != file_keys_.end() ? shared->second : abs;
  return true;
}

bool MemoryFileSystem::FileStamp(const std::string& path, std::string* stamp) {
  const std::string abs = StripSlash(AbsolutePath(path));
  if (auto file = files_.find(abs); file != files_.end()) {
    *stamp = "file:" + file->second;
    return true;
  }
  if (!directories_.count(abs)) return false;
  *stamp = "directory:";
  const std::string prefix = abs + "/";
  for (const auto* names : {&directories_}) {
    for (const std::string& name : *names) {
      if (name.starts_with(prefix) && name.find('/', prefix.size()) == std::string::npos)
        *stamp += name + "\n";
    }
  }
  for (const auto& [name, contents] : files_) {
    if (name.starts_with(prefix) && name.find('/', prefix.size()) == std::string::npos)
      *stamp += name + "\n";
  }
  return true;
}

bool MemoryFileSystem::Exists(const std::string& path) {
  std::string abs = StripSlash(AbsolutePath(path));
  return files_.count(abs) != 0 || directories_.count(abs) != 0;
}

std::string MemoryFileSystem::AbsolutePath(const std::string& path) {
  return LexicalAbsolutePath(cwd_ == "/" ? "" : cwd_, path);
}

bool MemoryFileSystem::ReadFile(const std::string& path, std::string* contents,
                                std::string* err) {
  if (huge_files_.count(AbsolutePath(path))) return Fail(EFBIG, err);
  std::unique_ptr<InputFile> in = OpenInput(path, err);
  return in && ReadWholeInput(*in, contents, err);
}

std::unique_ptr<InputFile> MemoryFileSystem::OpenInput(const std::string& path,
                                                       std::string* err) {
  std::string abs = AbsolutePath(path);
  if (before_read) before_read(abs);
  auto it = files_.find(abs);
  if (it == files_.end() || unreadable.count(abs)) {
    Fail(it == files_.end() ? ENOENT : EACCES, err);
    return nullptr;
  }
  if (special_files_.count(abs)) {
    if (err != nullptr) *err = kReasonNotRegularFile;
    return nullptr;
  }
  auto huge = huge_files_.find(abs);
  if (huge != huge_files_.end()) return std::make_unique<HugeInputFile>(huge->second);
  auto limit = read_limit.find(abs);
  std::string data = it->second;
  auto change = size_change_after_open.find(abs);
  if (change != size_change_after_open.end()) {
    const int64_t by = change->second;
    data.resize(by >= 0 ? data.size() + static_cast<size_t>(by)
                        : data.size() - std::min(data.size(), static_cast<size_t>(-by)),
                'g');
  }
  return std::make_unique<MemoryInputFile>(std::move(data), it->second.size(),
                                           limit == read_limit.end() ? UINT64_MAX : limit->second);
}

std::unique_ptr<OutputFile> MemoryFileSystem::CreateOutput(const std::string& path,
                                                           std::string* err) {
  std::string abs = AbsolutePath(path);
  if (!directories_.count(Parent(abs))) return NoOutput(ENOENT, err);
  if (directories_.count(abs)) return NoOutput(EISDIR, err);
  if (unwritable.count(abs)) return NoOutput(EACCES, err);
  if (special_files_.count(abs)) {
    if (err != nullptr) *err = kReasonNotRegularFile;
    return nullptr;
  }
  return std::make_unique<MemoryOutputFile>(*this, abs);
}

void MemoryFileSystem::RemoveLeftoverTemporaryFiles(const std::string& directory,
                                                    std::vector<std::string>* removed) {
  std::string dir = StripSlash(AbsolutePath(directory.empty() ? "." : directory));
  const std::string prefix = dir == "/" ? "/" : dir + "/";
  std::vector<std::string> leftovers;
  uint32_t process_id = 0;
  for (auto it = files_.lower_bound(prefix); it != files_.end() && it->first.starts_with(prefix);
       ++it) {
    const std::string name = it->first.substr(prefix.size());
    if (ParseTemporaryFileName(name, &process_id) && !special_files_.count(it->first) &&
        !live_processes.count(process_id)) {
      leftovers.push_back(name);
    }
  }
  for (const std::string& name : leftovers) {
    RemoveFile(prefix + name);
    removed->push_back(directory + name);
  }
}

}  // namespace kv
