// The FileSystem of a Windows machine, on the system's wide file functions:
// the program's CP932 paths are converted to UTF-16 for every call and names
// come back converted to CP932, whatever the ANSI code page; '\' separates
// the parts of a path.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <vector>

#include "platform/file_system.h"
#include "platform/signals.h"
#include "platform/windows_text.h"

namespace kv {
namespace {

// From this length on, a path takes the long form "\\?\", which the
// system passes on without folding it and without the MAX_PATH limit (a
// directory's own limit is 12 characters shorter).
constexpr size_t kLongPathFrom = MAX_PATH - 12;

// The absolute form of `path` (GetFullPathNameW: joined to the current
// directory, "." and ".." folded, '/' made '\\'); empty when the system
// gives none.
std::wstring FullPathName(const std::wstring& path) {
  std::wstring full(MAX_PATH + 1, L'\0');
  DWORD n = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  if (n >= full.size()) {
    full.resize(n);
    n = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  }
  if (n == 0 || n >= full.size()) return L"";
  full.resize(n);
  return full;
}


// Stores the system's wording of `code` (in English where the system has it,
// as the C library words it on POSIX), without the line end and full stop
// that the system puts after it.
bool Fail(DWORD code, std::string* err) {
  if (err == nullptr) return false;
  wchar_t text[512];
  DWORD n = 0;
  for (DWORD language : {static_cast<DWORD>(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)),
                         static_cast<DWORD>(0)}) {
    n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                       language, text, sizeof text / sizeof text[0], nullptr);
    if (n > 0) break;
  }
  while (n > 0 && (text[n - 1] == L'\n' || text[n - 1] == L'\r' || text[n - 1] == L'.' ||
                   text[n - 1] == L' ')) {
    --n;
  }
  *err = n > 0 ? WideToCp932(std::wstring_view(text, n)) : "error " + std::to_string(code);
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

// Holds its temporary file open, shared for deletion only, until it is
// renamed into place or removed: another run cannot open it exclusively, so
// it never takes the file for a leftover.
class WindowsOutputFile : public OutputFile {
 public:
  // `cleanup_slot` is the interrupt cleanup's registration of `temp`.
  WindowsOutputFile(HANDLE file, std::wstring temp, std::wstring target, DWORD kept_attributes,
                    int cleanup_slot)
      : file_(file), temp_(std::move(temp)), target_(std::move(target)),
        kept_attributes_(kept_attributes), cleanup_slot_(cleanup_slot) {}
  ~WindowsOutputFile() override {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
    if (!committed_) DeleteFileW(temp_.c_str());
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
  bool Flush(std::string* err) override {
    if (!FlushFileBuffers(file_)) return FailWithLastError(err);
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
    if (kept_attributes_ != 0 && !SetFileAttributesW(temp_.c_str(), kept_attributes_)) {
      return FailWithLastError(err);
    }
    // Refused while another program holds the target open: the old file then
    // stays as it was.
    if (!MoveFileExW(temp_.c_str(), target_.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return FailWithLastError(err);
    }
    committed_ = true;
    return true;
  }

 private:
  HANDLE file_;
  std::wstring temp_;
  std::wstring target_;
  DWORD kept_attributes_;
  int cleanup_slot_;
  bool committed_ = false;
};

// Whether a process other than this one has the id `process_id`.
bool OtherProcessIsAlive(uint32_t process_id) {
  if (process_id == GetCurrentProcessId()) return false;
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, process_id);
  // A process that exists but may not be looked at is alive.
  if (process == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;
  const bool alive = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return alive;
}

// Removes the regular file `path` if no process holds it open: only then
// does an open that shares nothing succeed, and the file goes through that
// handle, so no run can open it meanwhile.
bool RemoveUnheldFile(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  FILE_DISPOSITION_INFO disposition{TRUE};
  const bool gone =
      GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info) &&
      !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
      SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
  CloseHandle(file);
  return gone;
}

class WindowsFileSystem : public FileSystem {
 public:
  char Separator() const override { return kNativeSeparator; }

  bool CurrentDirectory(std::string* path) override {
    std::vector<wchar_t> buffer(1024);
    DWORD n = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
    if (n >= buffer.size()) {
      buffer.resize(n + 1);
      n = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
    }
    if (n == 0 || n >= buffer.size()) {
      *path = ".";
      return true;
    }
    std::wstring cwd(buffer.data(), n);
    // "C:\" names the root of a drive; the separator is appended by callers.
    // It goes before the conversion, where no second byte can look like it.
    if (!cwd.empty() && cwd.back() == L'\\') cwd.pop_back();
    if (WideToCp932Exact(cwd, path)) return true;
    *path = WideToUtf8(cwd);
    return false;
  }

  bool ListDirectory(const std::string& directory, std::vector<DirectoryEntry>* entries) override {
    entries->clear();
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(SystemPath(directory + "*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    bool complete;
    do {
      const std::wstring_view name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      DirectoryEntry entry{"", (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0};
      if (!WideToCp932Exact(name, &entry.name)) {
        entry.name.clear();
        entry.system_name = WideToUtf8(name);
      }
      entries->push_back(std::move(entry));
    } while (FindNextFileW(find, &data));
    complete = GetLastError() == ERROR_NO_MORE_FILES;
    FindClose(find);
    if (!complete) {
      entries->clear();
      return false;
    }
    SortDirectoryEntries(entries);
    return true;
  }

  bool FileStamp(const std::string& path, std::string* stamp) override {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(SystemPath(path).c_str(), GetFileExInfoStandard, &data)) return false;
    *stamp = std::to_string((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow) +
             ":" +
             std::to_string((static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                            data.ftLastWriteTime.dwLowDateTime);
    return true;
  }

  bool FileKey(const std::string& path, std::string* key) override {
    // Opened for no access at all, which a directory allows too.
    HANDLE handle = CreateFileW(path.empty() ? L"." : SystemPath(path).c_str(), 0,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    bool ok = GetFileInformationByHandle(handle, &info) != 0;
    CloseHandle(handle);
    if (!ok) return false;
    *key = std::to_string(info.dwVolumeSerialNumber) + ":" +
           std::to_string((static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow);
    return true;
  }

  bool Exists(const std::string& path) override {
    return GetFileAttributesW(SystemPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
  }

  bool IsSpecialFile(const std::string& path) override {
    // Opened for no access at all: a device (NUL, CON, COM1, in any
    // directory) answers to its name without being read or written.
    HANDLE handle = CreateFileW(SystemPath(path).c_str(), 0,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    const bool special = GetFileType(handle) != FILE_TYPE_DISK;
    CloseHandle(handle);
    return special;
  }

  std::string AbsolutePath(const std::string& path) override {
    // Only the current directory can bring a name without a CP932 form in,
    // and the options refuse such a directory: the path then stays as given.
    std::string absolute;
    const std::wstring full = FullPathName(Cp932ToWide(path));
    if (full.empty() || !WideToCp932Exact(full, &absolute)) return path;
    return absolute;
  }

  bool ReadFile(const std::string& path, std::string* contents, std::string* err) override {
    std::unique_ptr<InputFile> in = OpenInput(path, err);
    return in && ReadWholeInput(*in, contents, err);
  }

  std::unique_ptr<InputFile> OpenInput(const std::string& path, std::string* err) override {
    HANDLE file = CreateFileW(SystemPath(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      FailWithLastError(err);
      return nullptr;
    }
    // A device (CON, NUL, a port) or a pipe is no file to read.
    if (GetFileType(file) != FILE_TYPE_DISK) {
      if (err != nullptr) *err = kReasonNotRegularFile;
      CloseHandle(file);
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
    if (IsSpecialFile(path)) {
      if (err != nullptr) *err = kReasonNotRegularFile;
      return nullptr;
    }
    std::wstring target = SystemPath(path);
    const DWORD existing = GetFileAttributesW(target.c_str());
    if (existing != INVALID_FILE_ATTRIBUTES) {
      if (existing & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) {
        Fail(ERROR_ACCESS_DENIED, err);
        return nullptr;
      }
      kept_attributes = existing & kKeptAttributes;
    }
    // Named beside the target, registered for the interrupt cleanup (in
    // UTF-8, which the cleanup turns back into the wide name without any
    // call that could take a lock) before it exists, created only if no file
    // has the name yet.
    const size_t name_start = target.find_last_of(L"\\/") + 1;
    const std::wstring directory =
        name_start > 0 ? target.substr(0, name_start)
                       : target.size() >= 2 && target[1] == L':' ? target.substr(0, 2) : L"";
    static std::atomic<uint64_t> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
      const uint64_t unique = GetTickCount64() * 7919 + counter++;
      std::wstring temp =
          directory + Utf8ToWide(TemporaryFileName(GetCurrentProcessId(), unique));
      const int slot = RegisterTemporaryFile(WideToUtf8(temp));
      // Shared for deletion, so that the interrupt cleanup can remove it
      // while it is being written.
      HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (file != INVALID_HANDLE_VALUE) {
        return std::make_unique<WindowsOutputFile>(file, std::move(temp), target, kept_attributes,
                                                   slot);
      }
      const DWORD code = GetLastError();
      ForgetTemporaryFile(slot);
      if (code != ERROR_FILE_EXISTS) {
        Fail(code, err);
        return nullptr;
      }
    }
    Fail(ERROR_FILE_EXISTS, err);
    return nullptr;
  }

  void RemoveLeftoverTemporaryFiles(const std::string& directory,
                                    std::vector<std::string>* removed) override {
    WIN32_FIND_DATAW data;
    const std::string pattern = directory + std::string(kTemporaryFilePrefix) + "*";
    HANDLE find = FindFirstFileW(SystemPath(pattern).c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return;
    std::vector<std::string> names;
    uint32_t process_id = 0;
    do {
      // The names are ASCII: the same in UTF-8 and in CP932.
      const std::string name = WideToUtf8(data.cFileName);
      if (!(data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
          ParseTemporaryFileName(name, &process_id) && !OtherProcessIsAlive(process_id)) {
        names.push_back(name);
      }
    } while (FindNextFileW(find, &data));
    FindClose(find);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
      if (RemoveUnheldFile(SystemPath(directory + name))) removed->push_back(directory + name);
    }
  }
};

}  // namespace

// The one place where the program's paths become the system's.
std::wstring SystemPath(const std::string& path, bool always_long) {
  std::wstring wide = Cp932ToWide(path);
  if ((wide.size() < kLongPathFrom && !always_long) || wide.starts_with(L"\\\\?\\")) return wide;
  const std::wstring full = FullPathName(wide);
  if (full.starts_with(L"\\\\.\\") || full.starts_with(L"\\\\?\\")) return full;
  if (full.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  if (full.size() >= 2 && full[1] == L':') return L"\\\\?\\" + full;
  return wide;
}

const char kNativeSeparator = '\\';

bool CommandLineWords(int, char**, std::vector<std::string>* words, std::string* unconvertible) {
  // The C runtime's argv holds the words in the ANSI code page, which loses
  // what it lacks; the wide command line has them all.
  words->clear();
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return true;
  bool ok = true;
  for (int i = 0; i < count; ++i) {
    std::string word;
    // The program's own name is never looked at.
    if (!WideToCp932Exact(wide[i], &word) && i > 0) {
      if (ok) *unconvertible = WideToUtf8(wide[i]);
      ok = false;
    }
    words->push_back(std::move(word));
  }
  LocalFree(wide);
  return ok;
}

FileSystem& RealFileSystem() {
  static WindowsFileSystem fs;
  return fs;
}

}  // namespace kv
