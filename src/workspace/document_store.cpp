#include "workspace/document_store.h"

#include <memory>

#include "driver/options.h"
#include "platform/file_system.h"
#include "source/source_loader.h"

namespace kv {

const OpenDocument& DocumentStore::Set(const std::string& path, int64_t version,
                                       std::string_view utf8) {
  auto [it, opened] = open_.try_emplace(path);
  OpenDocument& document = it->second;
  if (opened) document.saved = ReadSavedEncoding(path);
  document.version = version;
  document.text = DocumentText::FromUtf8(utf8);
  drafts_[path] = DocumentDraft(utf8);
  edited_.erase(path);
  return document;
}

DocumentDraft* DocumentStore::Edit(const std::string& path, const int64_t* version) {
  auto it = open_.find(path);
  if (it == open_.end()) return nullptr;
  if (version != nullptr) it->second.version = *version;
  edited_.insert(path);
  return &drafts_[path];
}

void DocumentStore::Close(const std::string& path) {
  open_.erase(path);
  drafts_.erase(path);
  edited_.erase(path);
}

void DocumentStore::Convert(const std::string& path, OpenDocument* document) const {
  if (edited_.erase(path) == 0) return;
  document->text = DocumentText::FromUtf8(drafts_.at(path).Text());
}

const std::map<std::string, OpenDocument>& DocumentStore::open() const {
  while (!edited_.empty()) {
    const std::string path = *edited_.begin();
    Convert(path, &open_.at(path));
  }
  return open_;
}

void DocumentStore::FileChanged(const std::string& path) {
  auto it = open_.find(path);
  if (it != open_.end()) it->second.saved = ReadSavedEncoding(path);
}

const OpenDocument* DocumentStore::Find(const std::string& path) const {
  auto it = open_.find(path);
  if (it == open_.end()) return nullptr;
  Convert(path, &it->second);
  return &it->second;
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

SavedEncoding DocumentStore::ReadSavedEncoding(const std::string& path) const {
  SavedEncoding saved;
  std::string contents, err;
  // A script read as UTF-8 may be saved so; a file that cannot be read is
  // reported by the analysis.
  if (source_encoding_ == SourceEncoding::kUtf8 || !ReadBoundedFile(fs_, path, &contents, &err)) {
    return saved;
  }
  saved.bom = std::string_view(contents).starts_with("\xEF\xBB\xBF");
  if (!saved.bom) saved.first_utf8_character = FirstUtf8Character(contents);
  return saved;
}

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
