// TreeWriter on Windows: every directory on the way is checked to be a plain
// directory, not a link or junction (a reparse point), before it is entered,
// and the file is written beside its place and moved there.
#include <windows.h>

#include <algorithm>

#include "platform/file_system.h"
#include "platform/signals.h"
#include "platform/tree_writer.h"
#include "platform/windows_text.h"

namespace kv {
namespace {

std::string Reason(const std::string& what) {
  const DWORD code = GetLastError();
  char text[512];
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           code, 0, text, sizeof text, nullptr);
  while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == '.')) --n;
  return what + ": " + (n > 0 ? std::string(text, n) : "error " + std::to_string(code));
}

bool IsPlainDirectory(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
         !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

class WindowsTreeWriter : public TreeWriter {
 public:
  explicit WindowsTreeWriter(std::wstring root) : root_(std::move(root)) {}

  bool WriteFile(const std::vector<std::string>& components, std::string_view contents,
                 bool overwrite, std::string* error) override {
    if (components.empty()) {
      *error = "empty name";
      return false;
    }
    std::wstring parent = root_;
    for (size_t i = 0; i + 1 < components.size(); ++i) {
      const std::wstring path = parent + L"\\" + Cp932ToWide(components[i]);
      if (!CreateDirectoryW(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        *error = Reason("cannot create directory \"" + components[i] + "\"");
        return false;
      }
      if (!IsPlainDirectory(GetFileAttributesW(path.c_str()))) {
        *error = "\"" + components[i] + "\" is a symbolic link or not a directory";
        return false;
      }
      parent = path;
    }
    const std::wstring name = Cp932ToWide(components.back());
    const std::wstring target = parent + L"\\" + name;
    const DWORD existing = GetFileAttributesW(target.c_str());
    if (existing != INVALID_FILE_ATTRIBUTES) {
      if (!overwrite) {
        *error = "exists (--force overwrites)";
        return false;
      }
      if (existing & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) {
        *error = "exists and is not a regular file";
        return false;
      }
    }
    // Named as every temporary output of the program (TemporaryFileName):
    // short, so it fits wherever the target fits, and found again by the
    // leftover cleanup should the process be killed. The interrupt cleanup
    // deletes it while it exists (the file is shared for deletion, so that
    // works while it is open); its slots hold names as the UTF-8 of their
    // wide form.
    static uint64_t counter = 0;
    std::wstring temp;
    int cleanup_slot = -1;
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
      temp = parent + L"\\" +
             Cp932ToWide(TemporaryFileName(GetCurrentProcessId(), GetTickCount64() * 7919 + counter++));
      cleanup_slot = RegisterTemporaryFile(WideToUtf8(temp));
      file = CreateFileW(temp.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
      if (file != INVALID_HANDLE_VALUE) break;
      const DWORD code = GetLastError();
      ForgetTemporaryFile(cleanup_slot);
      SetLastError(code);
      if (code != ERROR_FILE_EXISTS) break;
    }
    if (file == INVALID_HANDLE_VALUE) {
      *error = Reason("cannot create a temporary file");
      return false;
    }
    size_t done = 0;
    bool written = true;
    while (written && done < contents.size()) {
      DWORD n = 0;
      const DWORD chunk = static_cast<DWORD>(std::min<size_t>(contents.size() - done, 1u << 30));
      written = ::WriteFile(file, contents.data() + done, chunk, &n, nullptr) && n > 0;
      done += n;
    }
    if (!written) *error = Reason("cannot write");
    CloseHandle(file);
    // Without overwriting, the move fails when the name exists by now.
    if (written && !MoveFileExW(temp.c_str(), target.c_str(),
                                overwrite ? MOVEFILE_REPLACE_EXISTING : 0)) {
      *error = GetLastError() == ERROR_ALREADY_EXISTS || GetLastError() == ERROR_FILE_EXISTS
                   ? "exists (--force overwrites)"
                   : Reason("cannot move into place");
      written = false;
    }
    if (!written) DeleteFileW(temp.c_str());
    ForgetTemporaryFile(cleanup_slot);
    return written;
  }

 private:
  std::wstring root_;  // in the system's form
};

}  // namespace

std::unique_ptr<TreeWriter> OpenTreeWriter(const std::string& root, std::string* error) {
  // In the long form, so that the names below it may reach any length.
  std::wstring system_root = SystemPath(root, /*always_long=*/true);
  if (!CreateDirectoryW(system_root.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    *error = Reason("cannot create \"" + root + "\"");
    return nullptr;
  }
  const DWORD attributes = GetFileAttributesW(system_root.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    *error = "cannot open \"" + root + "\": not a directory";
    return nullptr;
  }
  return std::make_unique<WindowsTreeWriter>(std::move(system_root));
}

}  // namespace kv
