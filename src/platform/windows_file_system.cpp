// The FileSystem of a Windows machine, on the system's ANSI file functions:
// paths are bytes in the ANSI code page and '\' separates their parts.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <vector>

#include "platform/file_system.h"
#include "platform/signals.h"

namespace kv {
namespace {

// Stores the system's wording of `code` (in English where the system has it,
// as the C library words it on POSIX), without the line end and full stop
// that the system puts after it.
bool Fail(DWORD code, std::string* err) {
  if (err == nullptr) return false;
  char text[512];
  DWORD n = 0;
  for (DWORD language : {static_cast<DWORD>(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)),
                         static_cast<DWORD>(0)}) {
    n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                       language, text, sizeof text, nullptr);
    if (n > 0) break;
  }
  while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == '.' ||
                   text[n - 1] == ' ')) {
    --n;
  }
  *err = n > 0 ? std::string(text, n) : "error " + std::to_string(code);
  return false;
}

bool FailWithLastError(std::string* err) { return Fail(GetLastError(), err); }

// The attributes a replaced file passes to its successor.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

class WindowsInputFile : public InputFile {
 public:
  WindowsInputFile(HANDLE file, uint64_t size) : file_(file), size_(size) {}
  ~WindowsInputFile() override { CloseHandle(file_); }
  uint64_t Size() const override { return size_; }
  bool Read(char* buffer, size_t n, size_t* got, std::string* err) override {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(n, 1u << 30));
    DWORD read = 0;
    if (!::ReadFile(file_, buffer, chunk, &read, nullptr)) return FailWithLastError(err);
    *got = read;
    return true;
  }

 private:
  HANDLE file_;
  uint64_t size_;
};

class WindowsOutputFile : public OutputFile {
 public:
  WindowsOutputFile(HANDLE file, std::string temp, std::string target, DWORD kept_attributes)
      : file_(file), temp_(std::move(temp)), target_(std::move(target)),
        kept_attributes_(kept_attributes),
        cleanup_slot_(RegisterTemporaryFile(temp_)) {}
  ~WindowsOutputFile() override {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
    if (!committed_) DeleteFileA(temp_.c_str());
    ForgetTemporaryFile(cleanup_slot_);
  }
  bool Write(const char* data, size_t n, std::string* err) override {
    while (n > 0) {
      DWORD chunk = static_cast<DWORD>(std::min<size_t>(n, 1u << 30));
      DWORD written = 0;
      if (!WriteFile(file_, data, chunk, &written, nullptr)) return FailWithLastError(err);
      if (written == 0) return Fail(ERROR_WRITE_FAULT, err);
      data += written;
      n -= written;
    }
    return true;
  }
  bool Commit(std::string* err) override {
    HANDLE file = file_;
    file_ = INVALID_HANDLE_VALUE;
    // The data reaches the disk before the name does, so a crash after the
    // rename cannot leave a target that is empty or cut short.
    if (!FlushFileBuffers(file)) {
      const DWORD code = GetLastError();
      CloseHandle(file);
      return Fail(code, err);
    }
    if (!CloseHandle(file)) return FailWithLastError(err);
    if (kept_attributes_ != 0 && !SetFileAttributesA(temp_.c_str(), kept_attributes_)) {
      return FailWithLastError(err);
    }
    // Refused while another program holds the target open: the old file then
    // stays as it was.
    if (!MoveFileExA(temp_.c_str(), target_.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return FailWithLastError(err);
    }
    committed_ = true;
    return true;
  }

 private:
  HANDLE file_;
  std::string temp_;
  std::string target_;
  DWORD kept_attributes_;
  int cleanup_slot_;
  bool committed_ = false;
};

class WindowsFileSystem : public FileSystem {
 public:
  char Separator() const override { return kNativeSeparator; }

  std::string CurrentDirectory() override {
    std::vector<char> buffer(1024);
    DWORD n = GetCurrentDirectoryA(static_cast<DWORD>(buffer.size()), buffer.data());
    if (n >= buffer.size()) {
      buffer.resize(n + 1);
      n = GetCurrentDirectoryA(static_cast<DWORD>(buffer.size()), buffer.data());
    }
    if (n == 0 || n >= buffer.size()) return ".";
    std::string cwd(buffer.data(), n);
    // "C:\" names the root of a drive; the separator is appended by callers.
    if (!cwd.empty() && cwd.back() == '\\') cwd.pop_back();
    return cwd;
  }

  bool ListDirectory(const std::string& directory, std::vector<DirectoryEntry>* entries) override {
    entries->clear();
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((directory + "*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    bool complete;
    do {
      std::string name = data.cFileName;
      if (name == "." || name == "..") continue;
      entries->push_back({std::move(name), (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
    } while (FindNextFileA(find, &data));
    complete = GetLastError() == ERROR_NO_MORE_FILES;
    FindClose(find);
    if (!complete) {
      entries->clear();
      return false;
    }
    std::sort(entries->begin(), entries->end(),
              [](const DirectoryEntry& a, const DirectoryEntry& b) { return a.name < b.name; });
    return true;
  }

  bool DirectoryKey(const std::string& directory, std::string* key) override {
    HANDLE dir = CreateFileA(directory.empty() ? "." : directory.c_str(), 0,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (dir == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    bool ok = GetFileInformationByHandle(dir, &info) != 0;
    CloseHandle(dir);
    if (!ok) return false;
    *key = std::to_string(info.dwVolumeSerialNumber) + ":" +
           std::to_string((static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow);
    return true;
  }

  bool Exists(const std::string& path) override {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  }

  std::string AbsolutePath(const std::string& path) override {
    // MAX_PATH characters and the terminator first; when the system reports
    // that the path needs more, once more with the length it asked for.
    std::vector<char> buffer(MAX_PATH + 1);
    DWORD n = GetFullPathNameA(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(),
                               nullptr);
    if (n >= buffer.size()) {
      buffer.resize(n);
      n = GetFullPathNameA(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(),
                           nullptr);
    }
    if (n == 0 || n >= buffer.size()) return path;
    return std::string(buffer.data(), n);
  }

  bool ReadFile(const std::string& path, std::string* contents, std::string* err) override {
    std::unique_ptr<InputFile> in = OpenInput(path, err);
    return in && ReadWholeInput(*in, contents, err);
  }

  std::unique_ptr<InputFile> OpenInput(const std::string& path, std::string* err) override {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      FailWithLastError(err);
      return nullptr;
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size)) {
      FailWithLastError(err);
      CloseHandle(file);
      return nullptr;
    }
    return std::make_unique<WindowsInputFile>(file, static_cast<uint64_t>(size.QuadPart));
  }

  std::unique_ptr<OutputFile> CreateOutput(const std::string& path, std::string* err) override {
    // A file that is replaced passes its attributes on; one with the
    // read-only attribute, or a directory, is not replaced at all.
    DWORD kept_attributes = 0;
    const DWORD existing = GetFileAttributesA(path.c_str());
    if (existing != INVALID_FILE_ATTRIBUTES) {
      if (existing & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) {
        Fail(ERROR_ACCESS_DENIED, err);
        return nullptr;
      }
      kept_attributes = existing & kKeptAttributes;
    }
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::string temp = path + ".tmp-" + std::to_string(GetCurrentProcessId()) + "-" +
                         std::to_string(counter++);
      // Shared for deletion, so that the interrupt cleanup can remove it
      // while it is being written.
      HANDLE file = CreateFileA(temp.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (file != INVALID_HANDLE_VALUE) {
        return std::make_unique<WindowsOutputFile>(file, std::move(temp), path, kept_attributes);
      }
      if (GetLastError() != ERROR_FILE_EXISTS) {
        FailWithLastError(err);
        return nullptr;
      }
    }
    Fail(ERROR_FILE_EXISTS, err);
    return nullptr;
  }
};

}  // namespace

const char kNativeSeparator = '\\';

FileSystem& RealFileSystem() {
  static WindowsFileSystem fs;
  return fs;
}

}  // namespace kv
