#include "platform/lexical_path.h"

#include <algorithm>
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
    i += IsCp932LeadByte(static_cast<unsigned char>(path[i])) ? 2 : 1;
  }
  return !path.empty() && last == path.size() - 1 && (path[last] == '/' || path[last] == '\\');
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
  contents->resize(filled);
  // Whatever the file has grown by since it was opened follows.
  char buffer[1 << 16];
  for (;;) {
    size_t got = 0;
    if (!in.Read(buffer, sizeof buffer, &got, err)) return false;
    if (got == 0) return true;
    contents->append(buffer, got);
  }
}

bool WriteWholeFile(FileSystem& fs, const std::string& path, const std::string& contents,
                    std::string* err) {
  std::unique_ptr<OutputFile> out = fs.CreateOutput(path, err);
  if (!out) return false;
  if (!out->Write(contents.data(), contents.size(), err)) return false;
  return out->Commit(err);
}

}  // namespace kv
