// The FileSystem of a POSIX machine.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/file_system.h"
#include "platform/lexical_path.h"
#include "platform/signals.h"

namespace kv {
namespace {

// Stores the reason of the failed call that set `error_number`.
bool Fail(int error_number, std::string* err) {
  if (err != nullptr) *err = std::strerror(error_number);
  return false;
}

class PosixInputFile : public InputFile {
 public:
  PosixInputFile(int fd, uint64_t size) : fd_(fd), size_(size) {}
  ~PosixInputFile() override { close(fd_); }
  uint64_t Size() const override { return size_; }
  bool Read(char* buffer, size_t n, size_t* got, std::string* err) override {
    for (;;) {
      ssize_t r = read(fd_, buffer, n);
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) return Fail(errno, err);
      *got = static_cast<size_t>(r);
      return true;
    }
  }

 private:
  int fd_;
  uint64_t size_;
};

class PosixOutputFile : public OutputFile {
 public:
  PosixOutputFile(int fd, std::string temp, std::string target)
      : fd_(fd), temp_(std::move(temp)), target_(std::move(target)),
        cleanup_slot_(RegisterTemporaryFile(temp_)) {}
  ~PosixOutputFile() override {
    if (fd_ >= 0) close(fd_);
    if (!committed_) unlink(temp_.c_str());
    ForgetTemporaryFile(cleanup_slot_);
  }
  bool Write(const char* data, size_t n, std::string* err) override {
    while (n > 0) {
      ssize_t w = write(fd_, data, n);
      if (w < 0 && errno == EINTR) continue;
      if (w < 0) return Fail(errno, err);
      if (w == 0) return Fail(EIO, err);
      data += w;
      n -= static_cast<size_t>(w);
      written_ += static_cast<uint64_t>(w);
    }
    // Writing back to the disk starts while the rest is still being made, so
    // the flush before the rename waits only for the last piece.
    if (written_ - flushed_ >= kWritebackStep) {
      sync_file_range(fd_, static_cast<off_t>(flushed_), static_cast<off_t>(written_ - flushed_),
                      SYNC_FILE_RANGE_WRITE);
      flushed_ = written_;
    }
    return true;
  }
  bool Commit(std::string* err) override {
    int fd = fd_;
    fd_ = -1;
    // The data reaches the disk before the name does, so a crash after the
    // rename cannot leave a target that is empty or cut short.
    if (fdatasync(fd) != 0) {
      const int error_number = errno;
      close(fd);
      return Fail(error_number, err);
    }
    if (close(fd) != 0) return Fail(errno, err);
    if (rename(temp_.c_str(), target_.c_str()) != 0) return Fail(errno, err);
    committed_ = true;
    return true;
  }

 private:
  int fd_;
  std::string temp_;
  std::string target_;
  int cleanup_slot_;
  bool committed_ = false;
  static constexpr uint64_t kWritebackStep = uint64_t{8} << 20;
  uint64_t written_ = 0;
  uint64_t flushed_ = 0;  // writeback has been started up to here
};

class PosixFileSystem : public FileSystem {
 public:
  char Separator() const override { return kNativeSeparator; }

  std::string CurrentDirectory() override {
    std::vector<char> buffer(1024);
    while (getcwd(buffer.data(), buffer.size()) == nullptr) {
      if (errno != ERANGE) return ".";
      buffer.resize(buffer.size() * 2);
    }
    std::string cwd(buffer.data());
    if (cwd.size() > 1 && cwd.back() == '/') cwd.pop_back();
    return cwd == "/" ? "" : cwd;
  }

  bool ListDirectory(const std::string& directory, std::vector<DirectoryEntry>* entries) override {
    entries->clear();
    DIR* dir = opendir(directory.empty() ? "." : directory.c_str());
    if (dir == nullptr) return false;
    while (dirent* e = readdir(dir)) {
      std::string name = e->d_name;
      if (name == "." || name == "..") continue;
      bool is_directory = e->d_type == DT_DIR;
      if (e->d_type == DT_LNK || e->d_type == DT_UNKNOWN) {
        struct stat st;
        is_directory = stat((directory + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
      }
      entries->push_back({std::move(name), is_directory});
    }
    closedir(dir);
    std::sort(entries->begin(), entries->end(),
              [](const DirectoryEntry& a, const DirectoryEntry& b) { return a.name < b.name; });
    return true;
  }

  bool DirectoryKey(const std::string& directory, std::string* key) override {
    struct stat st;
    if (stat(directory.empty() ? "." : directory.c_str(), &st) != 0) return false;
    *key = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
    return true;
  }

  bool Exists(const std::string& path) override {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
  }

  std::string AbsolutePath(const std::string& path) override {
    return LexicalAbsolutePath(CurrentDirectory(), path);
  }

  bool ReadFile(const std::string& path, std::string* contents, std::string* err) override {
    std::unique_ptr<InputFile> in = OpenInput(path, err);
    return in && ReadWholeInput(*in, contents, err);
  }

  std::unique_ptr<InputFile> OpenInput(const std::string& path, std::string* err) override {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      Fail(errno, err);
      return nullptr;
    }
    struct stat st;
    const int error_number = fstat(fd, &st) != 0 ? errno : S_ISDIR(st.st_mode) ? EISDIR : 0;
    if (error_number != 0) {
      Fail(error_number, err);
      close(fd);
      return nullptr;
    }
    return std::make_unique<PosixInputFile>(fd, static_cast<uint64_t>(st.st_size));
  }

  std::unique_ptr<OutputFile> CreateOutput(const std::string& path, std::string* err) override {
    // A file that is replaced passes its permission bits on; one that its
    // owner made read-only is not replaced at all. A new file gets the
    // permissions an ordinary new file gets (mkstemp makes it private).
    mode_t mask = umask(0);
    umask(mask);
    mode_t mode = 0666 & ~mask;
    struct stat st;
    if (stat(path.c_str(), &st) == 0) {
      if (S_ISDIR(st.st_mode)) {
        Fail(EISDIR, err);
        return nullptr;
      }
      if (!(st.st_mode & S_IWUSR)) {
        Fail(EACCES, err);
        return nullptr;
      }
      mode = st.st_mode & 07777;
    }
    std::string temp = path + ".tmp-XXXXXX";
    int fd = mkstemp(temp.data());
    if (fd < 0) {
      Fail(errno, err);
      return nullptr;
    }
    auto out = std::make_unique<PosixOutputFile>(fd, temp, path);
    if (fchmod(fd, mode) != 0) {
      Fail(errno, err);
      return nullptr;
    }
    return out;
  }
};

}  // namespace

const char kNativeSeparator = '/';

FileSystem& RealFileSystem() {
  static PosixFileSystem fs;
  return fs;
}

}  // namespace kv
