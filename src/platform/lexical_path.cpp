#include "platform/lexical_path.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/console.h"
#include "platform/file_system.h"

namespace kv {

std::string LexicalAbsolutePath(const std::string& cwd, const std::string& name) {
  std::string joined = (!name.empty() && name[0] == '/') ? name : cwd + "/" + name;
  std::vector<std::string> parts;
  size_t i = 0;
  while (i < joined.size()) {
    size_t slash = joined.find('/', i);
    if (slash == std::string::npos) slash = joined.size();
    std::string part = joined.substr(i, slash - i);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(std::move(part));
    }
    i = slash + 1;
  }
  std::string result;
  for (const std::string& part : parts) result += "/" + part;
  if (result.empty()) return "/";
  // A name that ends with a separator (or "." / "..") names a directory: keep
  // the separator, as the design's directory paths always end with one.
  bool directory = !name.empty() && name.back() == '/';
  if (directory) result += '/';
  return result;
}

bool EndsWithSeparator(std::string_view path) {
  // Characters are only known from the start: a byte may be the second of a
  // pair whatever its value.
  size_t last = 0;
  for (size_t i = 0; i < path.size();) {
    last = i;
    i += Cp932CharacterLength(path, i);
  }
  return !path.empty() && last == path.size() - 1 && (path[last] == '/' || path[last] == '\\');
}

std::string_view DirectoryPart(std::string_view path, char separator) {
  size_t length = 0;
  for (size_t i = 0; i < path.size();) {
    if (path[i] == '/' || path[i] == separator) length = i + 1;
    i += Cp932CharacterLength(path, i);
  }
  if (length == 0 && separator == '\\' && path.size() >= 2 && path[1] == ':') length = 2;
  return path.substr(0, length);
}

void SortDirectoryEntries(std::vector<DirectoryEntry>* entries) {
  std::sort(entries->begin(), entries->end(), [](const DirectoryEntry& a, const DirectoryEntry& b) {
    return a.name != b.name ? a.name < b.name : a.system_name < b.system_name;
  });
}

bool ReadWholeInput(InputFile& in, std::string* contents, std::string* err) {
  // The expected size is read straight into the string; one byte more is
  // reserved because the file layer appends a NUL to every file it loads.
  const size_t expected = in.Size();
  contents->clear();
  contents->reserve(expected + 1);
  contents->resize(expected);
  size_t filled = 0;
  while (filled < expected) {
    size_t got = 0;
    if (!in.Read(contents->data() + filled, expected - filled, &got, err)) return false;
    if (got == 0) break;
    filled += got;
  }
  // One byte more tells a file that has grown: read on, it might never end.
  char probe;
  size_t more = 0;
  if (filled == expected && !in.Read(&probe, 1, &more, err)) return false;
  if (filled == expected && more == 0) return true;
  if (err != nullptr) *err = kReasonSizeChanged;
  return false;
}

bool WriteWholeFile(FileSystem& fs, const std::string& path, const std::string& contents,
                    std::string* err) {
  std::unique_ptr<OutputFile> out = fs.CreateOutput(path, err);
  if (!out) return false;
  if (!out->Write(contents.data(), contents.size(), err)) return false;
  return out->Commit(err);
}

namespace {

constexpr size_t kUniqueLength = 6;
constexpr char kUniqueCharacters[] =
    "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::string TemporaryFileName(uint32_t process_id, uint64_t unique) {
  std::string name(kTemporaryFilePrefix);
  name += std::to_string(process_id);
  name += '-';
  for (size_t i = 0; i < kUniqueLength; ++i) {
    name += kUniqueCharacters[unique % 62];
    unique /= 62;
  }
  return name;
}

bool ParseTemporaryFileName(std::string_view name, uint32_t* process_id) {
  if (!name.starts_with(kTemporaryFilePrefix)) return false;
  name.remove_prefix(kTemporaryFilePrefix.size());
  // A process id as written: decimal, without a leading zero, 32 bits.
  size_t digits = 0;
  uint64_t id = 0;
  while (digits < name.size() && IsDigit(name[digits]) && digits < 10) {
    id = id * 10 + static_cast<uint64_t>(name[digits] - '0');
    ++digits;
  }
  if (digits == 0 || name[0] == '0' || id > UINT32_MAX) return false;
  name.remove_prefix(digits);
  if (name.size() != 1 + kUniqueLength || name[0] != '-') return false;
  for (char c : name.substr(1)) {
    if (std::string_view(kUniqueCharacters).find(c) == std::string_view::npos) return false;
  }
  *process_id = static_cast<uint32_t>(id);
  return true;
}

}  // namespace kv
