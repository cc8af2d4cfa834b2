// The FileSystem of a Windows machine, on the system's ANSI file functions:
// paths are bytes in the ANSI code page and '\' separates their parts.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <vector>

#include "platform/file_system.h"

namespace kv {
namespace {

class WindowsInputFile : public InputFile {
 public:
  WindowsInputFile(HANDLE file, uint64_t size) : file_(file), size_(size) {}
  ~WindowsInputFile() override { CloseHandle(file_); }
  uint64_t Size() const override { return size_; }
  bool Read(char* buffer, size_t n, size_t* got) override {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(n, 1u << 30));
    DWORD read = 0;
    if (!::ReadFile(file_, buffer, chunk, &read, nullptr)) return false;
    *got = read;
    return true;
  }

 private:
  HANDLE file_;
  uint64_t size_;
};

class WindowsOutputFile : public OutputFile {
 public:
  WindowsOutputFile(HANDLE file, std::string temp, std::string target)
      : file_(file), temp_(std::move(temp)), target_(std::move(target)) {}
  ~WindowsOutputFile() override {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
    if (!committed_) DeleteFileA(temp_.c_str());
  }
  bool Write(const char* data, size_t n) override {
    while (n > 0) {
      DWORD chunk = static_cast<DWORD>(std::min<size_t>(n, 1u << 30));
      DWORD written = 0;
      if (!WriteFile(file_, data, chunk, &written, nullptr) || written == 0) return false;
      data += written;
      n -= written;
    }
    return true;
  }
  bool Commit() override {
    HANDLE file = file_;
    file_ = INVALID_HANDLE_VALUE;
    bool flushed = FlushFileBuffers(file) != 0;
    if (!CloseHandle(file) || !flushed) return false;
    // Refused while another program holds the target open, or when the
    // target is a directory or read-only: the old file then stays as it was.
    if (!MoveFileExA(temp_.c_str(), target_.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return false;
    }
    committed_ = true;
    return true;
  }

 private:
  HANDLE file_;
  std::string temp_;
  std::string target_;
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

  bool ReadFile(const std::string& path, std::string* contents) override {
    std::unique_ptr<InputFile> in = OpenInput(path);
    if (!in) return false;
    const size_t expected = in->Size();
    contents->clear();
    contents->reserve(expected + 1);  // the file layer appends a NUL
    char buffer[1 << 16];
    for (;;) {
      size_t got = 0;
      if (!in->Read(buffer, sizeof buffer, &got)) return false;
      if (got == 0) return true;
      contents->append(buffer, got);
    }
  }

  std::unique_ptr<InputFile> OpenInput(const std::string& path) override {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size)) {
      CloseHandle(file);
      return nullptr;
    }
    return std::make_unique<WindowsInputFile>(file, static_cast<uint64_t>(size.QuadPart));
  }

  std::unique_ptr<OutputFile> CreateOutput(const std::string& path) override {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::string temp = path + ".tmp-" + std::to_string(GetCurrentProcessId()) + "-" +
                         std::to_string(counter++);
      HANDLE file = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
      if (file != INVALID_HANDLE_VALUE) {
        return std::make_unique<WindowsOutputFile>(file, std::move(temp), path);
      }
      if (GetLastError() != ERROR_FILE_EXISTS) return nullptr;
    }
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
