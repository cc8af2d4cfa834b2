// The FileSystem of a POSIX machine.
#include <dirent.h>
#include <signal.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <limits>
#include <vector>

#include "platform/console.h"
#include "platform/file_system.h"
#include "platform/lexical_path.h"
#include "platform/posix_text.h"
#include "platform/signals.h"

namespace kv {
namespace {

// Stores the reason of the failed call that set `error_number`.
bool Fail(int error_number, std::string* err) {
  if (err != nullptr) *err = std::strerror(error_number);
  return false;
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

// Holds its temporary file open and locked (flock) until it is renamed into
// place or removed: another run that finds the file locked knows it for the
// file of a live run, not a leftover, whatever process ids it sees.
class PosixOutputFile : public OutputFile {
 public:
  // `cleanup_slot` is the interrupt cleanup's registration of `temp`.
  PosixOutputFile(int fd, std::string temp, std::string target, int cleanup_slot)
      : fd_(fd), temp_(std::move(temp)), target_(std::move(target)), cleanup_slot_(cleanup_slot) {}
  ~PosixOutputFile() override {
    if (!committed_) unlink(temp_.c_str());
    if (fd_ >= 0) close(fd_);
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
  bool Flush(std::string* err) override {
    if (fdatasync(fd_) != 0) return Fail(errno, err);
    flushed_ = written_;
    return true;
  }
  bool Commit(std::string* err) override {
    // The data reaches the disk before the name does, so a crash after the
    // rename cannot leave a target that is empty or cut short. The file is
    // closed, and its lock let go, only once it has its final name.
    if (fdatasync(fd_) != 0) return Fail(errno, err);
    if (rename(temp_.c_str(), target_.c_str()) != 0) return Fail(errno, err);
    committed_ = true;
    close(fd_);
    fd_ = -1;
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

// Whether a process other than this one has the id `process_id`.
bool OtherProcessIsAlive(uint32_t process_id) {
  // No process has an id beyond pid_t's range; kill() would take one for a
  // process group.
  if (process_id > static_cast<uint32_t>(std::numeric_limits<pid_t>::max())) return false;
  const pid_t pid = static_cast<pid_t>(process_id);
  if (pid == getpid()) return false;
  return kill(pid, 0) == 0 || errno == EPERM;
}

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
      bool is_special = e->d_type != DT_DIR && e->d_type != DT_REG;
      if (e->d_type == DT_LNK || e->d_type == DT_UNKNOWN) {
        // What a link leads to; one that leads nowhere is a file that has
        // vanished, as the search finds out when it resolves it.
        struct stat st;
        const bool found = stat((system_directory + e->d_name).c_str(), &st) == 0;
        is_directory = found && S_ISDIR(st.st_mode);
        is_special = found && !is_directory && !S_ISREG(st.st_mode);
      }
      DirectoryEntry entry{"", is_directory};
      entry.is_special = is_special;
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

  bool FileKey(const std::string& path, std::string* key) override {
    struct stat st;
    if (stat(path.empty() ? "." : SystemPath(path).c_str(), &st) != 0) return false;
    *key = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
    return true;
  }

  bool FileStamp(const std::string& path, std::string* stamp) override {
    struct stat st;
    if (stat(SystemPath(path).c_str(), &st) != 0) return false;
    *stamp = std::to_string(st.st_size) + ":" + std::to_string(st.st_mtim.tv_sec) + "." +
             std::to_string(st.st_mtim.tv_nsec) + ":" + std::to_string(st.st_ctim.tv_sec) + "." +
             std::to_string(st.st_ctim.tv_nsec) + ":" + std::to_string(st.st_ino);
    return true;
  }

  bool Exists(const std::string& path) override {
    struct stat st;
    return stat(SystemPath(path).c_str(), &st) == 0;
  }

  bool IsSpecialFile(const std::string& path) override {
    struct stat st;
    return stat(SystemPath(path).c_str(), &st) == 0 && !S_ISREG(st.st_mode) &&
           !S_ISDIR(st.st_mode);
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
    // Looked at before it is opened, so that no device is opened at all,
    // and again after, in case the name has changed hands meanwhile. Opened
    // without waiting: a FIFO would otherwise wait there for a writer.
    const std::string system_path = SystemPath(path);
    struct stat st;
    if (stat(system_path.c_str(), &st) != 0) {
      Fail(errno, err);
      return nullptr;
    }
    if (!IsRegular(st, err)) return nullptr;
    int fd = open(system_path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
      Fail(errno, err);
      return nullptr;
    }
    const bool regular = fstat(fd, &st) == 0 ? IsRegular(st, err) : Fail(errno, err);
    if (!regular) {
      close(fd);
      return nullptr;
    }
    return std::make_unique<PosixInputFile>(fd, static_cast<uint64_t>(st.st_size));
  }

  std::unique_ptr<OutputFile> CreateOutput(const std::string& path, std::string* err) override {
    // A file that is replaced passes its permission bits on; one that its
    // owner made read-only is not replaced at all. A new file gets the
    // permissions an ordinary new file gets (it is created private, and
    // given them once it is open).
    mode_t mask = umask(0);
    umask(mask);
    mode_t mode = 0666 & ~mask;
    const std::string target = SystemPath(path);
    struct stat st;
    if (stat(target.c_str(), &st) == 0) {
      if (!IsRegular(st, err)) return nullptr;
      if (!(st.st_mode & S_IWUSR)) {
        Fail(EACCES, err);
        return nullptr;
      }
      mode = st.st_mode & 07777;
    }
    // Named beside the target, registered for the interrupt cleanup before
    // it exists, created only if no file has the name yet.
    const std::string directory = target.substr(0, target.rfind('/') + 1);
    static std::atomic<uint64_t> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
      const uint64_t unique = static_cast<uint64_t>(time(nullptr)) * 7919 + counter++;
      std::string temp = directory + TemporaryFileName(static_cast<uint32_t>(getpid()), unique);
      const int slot = RegisterTemporaryFile(temp);
      const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
      if (fd < 0) {
        const int error_number = errno;
        ForgetTemporaryFile(slot);
        if (error_number == EEXIST) continue;
        Fail(error_number, err);
        return nullptr;
      }
      auto out = std::make_unique<PosixOutputFile>(fd, std::move(temp), target, slot);
      // A file system without locks leaves the file unlocked: another run
      // then cannot take the lock either, and leaves the file alone.
      flock(fd, LOCK_EX | LOCK_NB);
      if (fchmod(fd, mode) != 0) {
        Fail(errno, err);
        return nullptr;
      }
      return out;
    }
    Fail(EEXIST, err);
    return nullptr;
  }

  void RemoveLeftoverTemporaryFiles(const std::string& directory,
                                    std::vector<std::string>* removed) override {
    const std::string system_directory = SystemPath(directory);
    DIR* dir = opendir(directory.empty() ? "." : system_directory.c_str());
    if (dir == nullptr) return;
    std::vector<std::string> names;
    uint32_t process_id = 0;
    while (dirent* e = readdir(dir)) {
      if (ParseTemporaryFileName(e->d_name, &process_id) && !OtherProcessIsAlive(process_id)) {
        names.push_back(e->d_name);
      }
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
      // The names are ASCII: the same for the system and the program.
      if (RemoveUnheldFile(system_directory + name)) removed->push_back(directory + name);
    }
  }

 private:
  static bool IsRegular(const struct stat& st, std::string* err) {
    if (S_ISREG(st.st_mode)) return true;
    if (err != nullptr) *err = S_ISDIR(st.st_mode) ? std::strerror(EISDIR) : kReasonNotRegularFile;
    return false;
  }

  // Removes the regular file `path` (not a link) if no process holds its
  // lock; the lock is taken first, so a run cannot take it meanwhile.
  static bool RemoveUnheldFile(const std::string& path) {
    struct stat named;
    if (lstat(path.c_str(), &named) != 0 || !S_ISREG(named.st_mode)) return false;
    // Opened for writing: a lock emulated over the network needs that.
    const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY);
    if (fd < 0) return false;
    struct stat opened;
    const bool unheld = fstat(fd, &opened) == 0 && opened.st_dev == named.st_dev &&
                        opened.st_ino == named.st_ino && flock(fd, LOCK_EX | LOCK_NB) == 0;
    const bool gone = unheld && unlink(path.c_str()) == 0;
    close(fd);
    return gone;
  }
};

}  // namespace

std::string SystemName(std::string_view cp932_name) {
  std::string utf8;
  if (IsAscii(cp932_name) || !Cp932ToUtf8Exact(cp932_name, &utf8)) return std::string(cp932_name);
  return utf8;
}

// The one place where the program's paths become the system's.
std::string SystemPath(const std::string& path) {
  if (IsAscii(path)) return path;
  std::string system;
  struct stat st;
  for (size_t i = 0; i <= path.size();) {
    const size_t slash = std::min(path.find('/', i), path.size());
    const std::string_view name(path.data() + i, slash - i);
    const size_t parent = system.size();
    const std::string converted = SystemName(name);
    system.append(converted);
    // A name that is UTF-8 itself was converted when it was listed; only
    // one that is not may stand on the disk as it is.
    if (converted != name && !IsUtf8(name) && lstat(system.c_str(), &st) != 0) {
      std::string as_is = system.substr(0, parent);
      as_is.append(name);
      if (lstat(as_is.c_str(), &st) == 0) system = std::move(as_is);
    }
    if (slash < path.size()) system.push_back('/');
    i = slash + 1;
  }
  return system;
}

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
