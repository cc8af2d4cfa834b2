#include "workspace/document_store.h"

#include <memory>

#include "driver/options.h"
#include "platform/file_system.h"

namespace kv {

const OpenDocument& DocumentStore::Set(const std::string& path, int64_t version,
                                       std::string_view utf8) {
  OpenDocument& document = open_[path];
  document.version = version;
  document.text = DocumentText::FromUtf8(utf8);
  return document;
}

const OpenDocument* DocumentStore::Find(const std::string& path) const {
  auto it = open_.find(path);
  return it == open_.end() ? nullptr : &it->second;
}

namespace {

// Scripts are small; a file beyond this (or a device that never ends) is no
// script worth holding.
constexpr size_t kMaxFileBytes = size_t{64} << 20;

bool ReadBoundedFile(FileSystem& fs, const std::string& path, std::string* contents,
                     std::string* err) {
  std::unique_ptr<InputFile> in = fs.OpenInput(path, err);
  if (!in) return false;
  contents->clear();
  char buffer[1 << 16];
  for (;;) {
    size_t got = 0;
    if (!in->Read(buffer, sizeof buffer, &got, err)) return false;
    if (got == 0) return true;
    if (contents->size() + got > kMaxFileBytes) {
      *err = "larger than 64 MiB";
      return false;
    }
    contents->append(buffer, got);
  }
}

}  // namespace

std::shared_ptr<const DocumentText> DocumentStore::Text(const std::string& path,
                                                        std::string* err) const {
  if (const OpenDocument* document = Find(path)) return document->text;
  return ReadDocumentText(fs_, path, source_encoding_, err);
}

std::shared_ptr<const DocumentText> ReadDocumentText(FileSystem& fs, const std::string& path,
                                                     SourceEncoding encoding, std::string* err) {
  std::string contents;
  if (!ReadBoundedFile(fs, path, &contents, err)) return nullptr;
  return encoding == SourceEncoding::kUtf8 ? DocumentText::FromUtf8(contents)
                                           : DocumentText::FromCp932(contents);
}

std::vector<std::string> GameFilePatterns() {
  std::vector<std::string> patterns;
  for (const std::vector<std::string>& extensions : DefaultExtensions()) {
    std::string pattern = "**/*.";
    if (extensions.size() > 1) pattern += '{';
    for (size_t i = 0; i < extensions.size(); ++i) pattern += (i ? "," : "") + extensions[i];
    if (extensions.size() > 1) pattern += '}';
    patterns.push_back(pattern);
  }
  return patterns;
}

}  // namespace kv
