// The scripts that the editor holds open, over the files on disk: each open
// document's text as the editor gave it (UTF-8) and as the converter reads
// it (CP932), and the text of any other file read from the disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "workspace/analysis.h"
#include "workspace/document_draft.h"
#include "workspace/document_text.h"

namespace kv {

class FileSystem;

// How the file of an open document is saved on disk, as far as the
// converter's warnings go, when scripts are read as CP932.
struct SavedEncoding {
  bool bom = false;  // it begins with a UTF-8 byte-order mark
  // The UTF-8 offset of its first character beyond ASCII when the whole file
  // reads as UTF-8 (a script saved as UTF-8); npos otherwise.
  size_t first_utf8_character = std::string::npos;
};

struct OpenDocument {
  int64_t version = 0;
  // Made again from the editor's text when the document is read after a
  // change (DocumentStore::Edit).
  std::shared_ptr<const DocumentText> text;
  SavedEncoding saved;  // read when the document is opened or its file changes
};

class DocumentStore {
 public:
  explicit DocumentStore(FileSystem& fs) : fs_(fs) {}

  void set_source_encoding(SourceEncoding encoding) { source_encoding_ = encoding; }

  // Opens `path` with the editor's text, or replaces the text of an open one.
  const OpenDocument& Set(const std::string& path, int64_t version, std::string_view utf8);
  // The editor's text of an open document, to change in place, now at
  // `*version` (kept when null); null when the document is not open.
  // Changes cost in proportion to their size: the converted text is made
  // once, when the document is next read.
  DocumentDraft* Edit(const std::string& path, const int64_t* version);
  // Reads again how the file of an open document is saved (it changed on
  // disk); nothing for a document that is not open.
  void FileChanged(const std::string& path);
  // Forgets an open document: the file on disk counts again.
  void Close(const std::string& path);
  // The open document, or null.
  const OpenDocument* Find(const std::string& path) const;

  // Every open document, by path.
  const std::map<std::string, OpenDocument>& open() const;

  // The text of `path`: the editor's when it is open, otherwise the file's
  // as the disk has it now, read in the source encoding. Null when the file
  // cannot be read or holds more than 64 MiB (the reason in *err).
  std::shared_ptr<const DocumentText> Text(const std::string& path, std::string* err) const;

 private:
  SavedEncoding ReadSavedEncoding(const std::string& path) const;
  // Converts the editor's text of an open document that changed since.
  void Convert(const std::string& path, OpenDocument* document) const;

  FileSystem& fs_;
  SourceEncoding source_encoding_ = SourceEncoding::kCp932;
  // The texts are converted when read, which reading does not show.
  mutable std::map<std::string, OpenDocument> open_;
  std::map<std::string, DocumentDraft> drafts_;  // of each open document
  mutable std::set<std::string> edited_;         // not converted since a change
};

// The text of the file `path` as the disk has it now, read in `encoding`;
// null when it cannot be read or holds more than 64 MiB (the reason in *err).
std::shared_ptr<const DocumentText> ReadDocumentText(FileSystem& fs, const std::string& path,
                                                     SourceEncoding encoding, std::string* err);

// The files of a game whose changes on disk matter, as glob patterns: the
// scripts and media files by the extensions the converter looks for.
std::vector<std::string> GameFilePatterns();

}  // namespace kv
