// TreeWriter on POSIX: every step is taken relative to an open directory with
// O_NOFOLLOW, so no link below the root, whenever it appeared, is followed.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

#include "platform/file_system.h"
#include "platform/posix_text.h"
#include "platform/signals.h"
#include "platform/tree_writer.h"

namespace kv {
namespace {

std::string Reason(const std::string& what) { return what + ": " + std::strerror(errno); }

class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  Descriptor(Descriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Descriptor& operator=(Descriptor&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Registers a temporary file for the interrupt cleanup while it exists.
class CleanupSlot {
 public:
  explicit CleanupSlot(const std::string& path) : slot_(RegisterTemporaryFile(path)) {}
  ~CleanupSlot() { ForgetTemporaryFile(slot_); }
  CleanupSlot(const CleanupSlot&) = delete;
  CleanupSlot& operator=(const CleanupSlot&) = delete;

 private:
  int slot_;
};

class PosixTreeWriter : public TreeWriter {
 public:
  PosixTreeWriter(Descriptor root, std::string root_path)
      : root_(std::move(root)), root_path_(std::move(root_path)) {}

  bool WriteFile(const std::vector<std::string>& components, std::string_view contents,
                 bool overwrite, std::string* error) override {
    if (components.empty()) {
      *error = "empty name";
      return false;
    }
    Descriptor parent(dup(root_.get()));
    for (size_t i = 0; i + 1 < components.size(); ++i) {
      const std::string system_name = SystemName(components[i]);
      const char* name = system_name.c_str();
      if (mkdirat(parent.get(), name, 0777) != 0 && errno != EEXIST) {
        *error = Reason("cannot create directory \"" + components[i] + "\"");
        return false;
      }
      Descriptor next(openat(parent.get(), name, kDirectoryFlags));
      if (next.get() < 0) {
        *error = errno == ELOOP || errno == ENOTDIR
                     ? "\"" + components[i] + "\" is a symbolic link or not a directory"
                     : Reason("cannot open directory \"" + components[i] + "\"");
        return false;
      }
      parent = std::move(next);
    }
    const std::string name = SystemName(components.back());
    struct stat st;
    if (fstatat(parent.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
      if (!overwrite) {
        *error = "exists (--force overwrites)";
        return false;
      }
      if (!S_ISREG(st.st_mode)) {
        *error = "exists and is not a regular file";
        return false;
      }
    }
    // Named as every temporary output of the program (TemporaryFileName):
    // short, so it fits wherever the target fits, held locked while it is
    // written, and found again by the leftover cleanup should the process be
    // killed. The interrupt cleanup removes it by its path from the root,
    // which the process keeps as its current directory holds it.
    std::string temp_directory = root_path_;
    for (size_t i = 0; i + 1 < components.size(); ++i) {
      temp_directory += "/" + SystemName(components[i]);
    }
    static uint64_t counter = 0;
    std::string temp;
    std::unique_ptr<CleanupSlot> cleanup;
    Descriptor file;
    for (int attempt = 0; attempt < 100 && file.get() < 0; ++attempt) {
      temp = TemporaryFileName(static_cast<uint32_t>(getpid()),
                               static_cast<uint64_t>(time(nullptr)) * 7919 + counter++);
      cleanup = std::make_unique<CleanupSlot>(temp_directory + "/" + temp);
      file = Descriptor(openat(parent.get(), temp.c_str(),
                               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
      if (file.get() < 0 && errno != EEXIST) break;
    }
    if (file.get() < 0) {
      *error = Reason("cannot create a temporary file");
      return false;
    }
    flock(file.get(), LOCK_EX | LOCK_NB);
    size_t done = 0;
    while (done < contents.size()) {
      const ssize_t n = write(file.get(), contents.data() + done, contents.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        *error = Reason("cannot write");
        unlinkat(parent.get(), temp.c_str(), 0);
        return false;
      }
      done += static_cast<size_t>(n);
    }
    // Without overwriting, linking fails when the name exists by now; renaming
    // replaces the name itself, never what a link there points to.
    const bool placed = overwrite ? renameat(parent.get(), temp.c_str(), parent.get(),
                                             name.c_str()) == 0
                                  : linkat(parent.get(), temp.c_str(), parent.get(),
                                           name.c_str(), 0) == 0;
    if (!placed) {
      *error = errno == EEXIST ? "exists (--force overwrites)" : Reason("cannot move into place");
      unlinkat(parent.get(), temp.c_str(), 0);
      return false;
    }
    if (!overwrite) unlinkat(parent.get(), temp.c_str(), 0);
    return true;
  }

 private:
  Descriptor root_;
  std::string root_path_;
};

}  // namespace

std::unique_ptr<TreeWriter> OpenTreeWriter(const std::string& cp932_root, std::string* error) {
  const std::string root = SystemPath(cp932_root);
  if (mkdir(root.c_str(), 0777) != 0 && errno != EEXIST) {
    *error = Reason("cannot create \"" + cp932_root + "\"");
    return nullptr;
  }
  Descriptor fd(open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() < 0) {
    *error = Reason("cannot open \"" + cp932_root + "\"");
    return nullptr;
  }
  return std::make_unique<PosixTreeWriter>(std::move(fd), root);
}

}  // namespace kv
