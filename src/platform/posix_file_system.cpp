// The FileSystem of a POSIX machine.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/console.h"
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

bool IsAscii(std::string_view text) {
  for (unsigned char c : text) {
    if (c >= 0x80) return false;
  }
  return true;
}

bool IsUtf8(std::string_view text) {
  for (size_t i = 0, n; i < text.size(); i += n) {
    n = Utf8CharacterLength(text.substr(i));
    if (n == 0) return false;
  }
  return true;
}

// The CP932 form of a name the system gives: UTF-8 converted exactly (false
// when a character has no CP932 form); bytes that are not UTF-8 are taken
// as CP932 already.
bool ProgramName(std::string_view name, std::string* cp932) {
  if (IsAscii(name) || !IsUtf8(name)) {
    cp932->assign(name);
    return true;
  }
  return Utf8ToCp932Exact(name, cp932);
}

// ProgramName for each name of a path.
bool ProgramPath(std::string_view path, std::string* cp932) {
  cp932->clear();
  std::string name;
  for (size_t i = 0; i <= path.size();) {
    size_t slash = std::min(path.find('/', i), path.size());
    if (!ProgramName(path.substr(i, slash - i), &name)) return false;
    cp932->append(name);
    if (slash < path.size()) cp932->push_back('/');
    i = slash + 1;
  }
  return true;
}

// The system's form of a CP932 path, the one place where the program's paths
// become the system's: each name in UTF-8 where it has a UTF-8 form. A name
// that the system holds as CP932 bytes (listed as it is, not being UTF-8)
// is used as it is when no file has the UTF-8 form, so what a listing gave
// is always found again; a new file gets the UTF-8 form.
std::string SystemPath(const std::string& path) {
  if (IsAscii(path)) return path;
  std::string system;
  std::string utf8;
  struct stat st;
  for (size_t i = 0; i <= path.size();) {
    const size_t slash = std::min(path.find('/', i), path.size());
    const std::string_view name(path.data() + i, slash - i);
    const size_t parent = system.size();
    if (IsAscii(name) || !Cp932ToUtf8Exact(name, &utf8)) {
      system.append(name);
    } else {
      system.append(utf8);
      // A name that is UTF-8 itself was converted when it was listed; only
      // one that is not may stand on the disk as it is.
      if (!IsUtf8(name) && lstat(system.c_str(), &st) != 0) {
        std::string as_is = system.substr(0, parent);
        as_is.append(name);
        if (lstat(as_is.c_str(), &st) == 0) system = std::move(as_is);
      }
    }
    if (slash < path.size()) system.push_back('/');
    i = slash + 1;
  }
  return system;
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

  bool CurrentDirectory(std::string* path) override {
    std::vector<char> buffer(1024);
    while (getcwd(buffer.data(), buffer.size()) == nullptr) {
      if (errno != ERANGE) {
        *path = ".";
        return true;
      }
      buffer.resize(buffer.size() * 2);
    }
    std::string cwd(buffer.data());
    if (cwd.size() > 1 && cwd.back() == '/') cwd.pop_back();
    if (cwd == "/") cwd.clear();
    if (ProgramPath(cwd, path)) return true;
    *path = std::move(cwd);
    return false;
  }

  bool ListDirectory(const std::string& directory, std::vector<DirectoryEntry>* entries) override {
    entries->clear();
    const std::string system_directory = SystemPath(directory);
    DIR* dir = opendir(directory.empty() ? "." : system_directory.c_str());
    if (dir == nullptr) return false;
    while (dirent* e = readdir(dir)) {
      const std::string_view system_name = e->d_name;
      if (system_name == "." || system_name == "..") continue;
      bool is_directory = e->d_type == DT_DIR;
      if (e->d_type == DT_LNK || e->d_type == DT_UNKNOWN) {
        struct stat st;
        is_directory = stat((system_directory + e->d_name).c_str(), &st) == 0 &&
                       S_ISDIR(st.st_mode);
      }
      DirectoryEntry entry{"", is_directory};
      if (!ProgramName(system_name, &entry.name)) {
        entry.name.clear();
        entry.system_name = system_name;
      }
      entries->push_back(std::move(entry));
    }
    closedir(dir);
    SortDirectoryEntries(entries);
    return true;
  }

  bool DirectoryKey(const std::string& directory, std::string* key) override {
    struct stat st;
    if (stat(directory.empty() ? "." : SystemPath(directory).c_str(), &st) != 0) return false;
    *key = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
    return true;
  }

  bool Exists(const std::string& path) override {
    struct stat st;
    return stat(SystemPath(path).c_str(), &st) == 0;
  }

  std::string AbsolutePath(const std::string& path) override {
    // A current directory without a CP932 form has been refused by the
    // options; its bytes stand in for it here.
    std::string cwd;
    CurrentDirectory(&cwd);
    return LexicalAbsolutePath(cwd, path);
  }

  bool ReadFile(const std::string& path, std::string* contents, std::string* err) override {
    std::unique_ptr<InputFile> in = OpenInput(path, err);
    return in && ReadWholeInput(*in, contents, err);
  }

  std::unique_ptr<InputFile> OpenInput(const std::string& path, std::string* err) override {
    int fd = open(SystemPath(path).c_str(), O_RDONLY | O_CLOEXEC);
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
    const std::string target = SystemPath(path);
    struct stat st;
    if (stat(target.c_str(), &st) == 0) {
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
    std::string temp = target + ".tmp-XXXXXX";
    int fd = mkstemp(temp.data());
    if (fd < 0) {
      Fail(errno, err);
      return nullptr;
    }
    auto out = std::make_unique<PosixOutputFile>(fd, temp, target);
    if (fchmod(fd, mode) != 0) {
      Fail(errno, err);
      return nullptr;
    }
    return out;
  }
};

}  // namespace

const char kNativeSeparator = '/';

bool CommandLineWords(int argc, char** argv, std::vector<std::string>* words,
                      std::string* unconvertible) {
  words->clear();
  bool ok = true;
  for (int i = 0; i < argc; ++i) {
    std::string word;
    // The program's own name is never looked at.
    if (!ProgramPath(argv[i], &word) && i > 0) {
      if (ok) *unconvertible = argv[i];
      ok = false;
    }
    words->push_back(i > 0 ? std::move(word) : std::string(argv[i]));
  }
  return ok;
}

FileSystem& RealFileSystem() {
  static PosixFileSystem fs;
  return fs;
}

}  // namespace kv
