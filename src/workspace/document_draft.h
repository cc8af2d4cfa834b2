// The editor's text of an open document while it is being typed: held in
// pieces of a few KiB in a balanced tree, with each piece's count of line
// breaks, so that a change costs time in proportion to its own size (and the
// logarithm of the document's), not to the size of the document.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace kv {

class DocumentDraft {
 public:
  DocumentDraft();
  explicit DocumentDraft(std::string_view text);
  ~DocumentDraft();
  DocumentDraft(DocumentDraft&&) noexcept;
  DocumentDraft& operator=(DocumentDraft&&) noexcept;

  size_t size() const;
  // Lines are ended by CR LF, LF or CR, as the protocol counts them; a text
  // has one line more than line breaks.
  size_t LineCount() const;
  // The offset where a line (0-based) begins; the end of the text for a line
  // past the last.
  size_t LineStart(size_t line) const;
  // The bytes [from, to), clamped to the text.
  std::string Substring(size_t from, size_t to) const;
  // The whole text.
  std::string Text() const;

  // Replaces the bytes [from, to) (clamped to the text) with `text`.
  void Replace(size_t from, size_t to, std::string_view text);

  struct Node;

 private:
  std::unique_ptr<Node> root_;
};

}  // namespace kv
