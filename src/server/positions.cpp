#include "server/positions.h"

#include <algorithm>

#include "platform/text.h"

namespace kv {
LineIndex::LineIndex(std::string_view utf8) : text_(utf8), starts_{0} {
  for (size_t i = 0; i < text_.size(); ++i) {
    if (text_[i] == '\r' && i + 1 < text_.size() && text_[i + 1] == '\n') ++i;
    if (text_[i] == '\r' || text_[i] == '\n') starts_.push_back(i + 1);
  }
}

size_t LineIndex::ContentEnd(size_t line) const {
  if (line + 1 >= starts_.size()) return text_.size();
  const size_t next = starts_[line + 1];
  return next >= 2 && text_[next - 2] == '\r' && text_[next - 1] == '\n' ? next - 2 : next - 1;
}

size_t LineIndex::Offset(LspPosition position, PositionEncoding encoding) const {
  if (position.line < 0) return 0;
  if (static_cast<uint64_t>(position.line) >= starts_.size()) return text_.size();
  const size_t line = static_cast<size_t>(position.line);
  const size_t start = starts_[line];
  const size_t end = ContentEnd(line);
  const uint64_t column = position.character < 0 ? 0 : static_cast<uint64_t>(position.character);
  if (encoding == PositionEncoding::kUtf8) {
    size_t offset = start + static_cast<size_t>(std::min<uint64_t>(column, end - start));
    while (offset > start && offset < text_.size() && IsUtf8ContinuationByte(static_cast<unsigned char>(text_[offset]))) --offset;
    return offset;
  }
  size_t offset = start;
  uint64_t units = 0;
  while (offset < end) {
    const size_t bytes =
        std::min(Utf8ClaimedLength(static_cast<unsigned char>(text_[offset])), end - offset);
    const uint64_t width = bytes == 4 ? 2 : 1;  // beyond U+FFFF: a surrogate pair
    if (units + width > column) break;
    units += width;
    offset += bytes;
  }
  return offset;
}

LspPosition LineIndex::Position(size_t offset, PositionEncoding encoding) const {
  offset = std::min(offset, text_.size());
  const size_t line = static_cast<size_t>(std::upper_bound(starts_.begin(), starts_.end(), offset) -
                                          starts_.begin()) -
                      1;
  const size_t start = starts_[line];
  offset = std::min(offset, ContentEnd(line));
  while (offset > start && IsUtf8ContinuationByte(static_cast<unsigned char>(text_[offset]))) --offset;
  if (encoding == PositionEncoding::kUtf8) {
    return LspPosition{static_cast<int64_t>(line), static_cast<int64_t>(offset - start)};
  }
  int64_t units = 0;
  for (size_t i = start; i < offset;) {
    const size_t bytes = Utf8ClaimedLength(static_cast<unsigned char>(text_[i]));
    units += bytes == 4 ? 2 : 1;
    i += bytes;
  }
  return LspPosition{static_cast<int64_t>(line), units};
}

size_t DraftOffset(const DocumentDraft& text, LspPosition position, PositionEncoding encoding) {
  if (position.line < 0) return 0;
  if (static_cast<uint64_t>(position.line) >= text.LineCount()) return text.size();
  const size_t line = static_cast<size_t>(position.line);
  const size_t start = text.LineStart(line);
  const size_t length = text.LineStart(line + 1) - start;
  // A column counts at most three bytes of the line (a character below
  // U+10000 is one UTF-16 unit), and the character after it at most four.
  const uint64_t column = position.character < 0 ? 0 : static_cast<uint64_t>(position.character);
  const size_t reach = column >= length ? length : std::min<size_t>(length, column * 4 + 8);
  const std::string piece = text.Substring(start, start + reach);
  return start + LineIndex(piece).Offset(LspPosition{0, position.character}, encoding);
}

PositionMap::PositionMap(std::shared_ptr<const DocumentText> text, PositionEncoding encoding)
    : text_(std::move(text)),
      lines_(text_ ? std::string_view(text_->utf8()) : std::string_view()),
      encoding_(encoding) {}

PositionMap::PositionMap(std::shared_ptr<const std::string> cp932, PositionEncoding encoding)
    : lines_(std::string_view()),
      encoding_(encoding),
      cp932_(std::move(cp932)),
      bytes_(std::string_view(*cp932_).substr(0, DocumentText::kMaxBytes)) {
  source_lines_ = std::make_unique<Cp932LineIndex>(bytes_);
  for (size_t at = 0; (at = bytes_.find('\r', at)) != std::string_view::npos; ++at) {
    if (at + 1 == bytes_.size() || bytes_[at + 1] != '\n') {
      lone_cr_ = true;
      break;
    }
  }
  if (lone_cr_) lines_ = LineIndex(bytes_);
}

PositionMap::PositionMap(std::vector<Placed> placed,
                         std::function<std::shared_ptr<const std::string>()> read,
                         PositionEncoding encoding)
    : lines_(std::string_view()),
      encoding_(encoding),
      placed_mode_(true),
      placed_(std::move(placed)),
      read_(std::move(read)) {}

PositionMap::~PositionMap() = default;

const PositionMap& PositionMap::Whole() const {
  if (!whole_) {
    if (placed_mode_) {
      std::shared_ptr<const std::string> bytes = read_ ? read_() : nullptr;
      whole_ = bytes ? std::make_unique<PositionMap>(std::move(bytes), encoding_)
                     : std::make_unique<PositionMap>(std::shared_ptr<const DocumentText>(), encoding_);
    } else {
      whole_ = std::make_unique<PositionMap>(DocumentText::FromCp932(bytes_), encoding_);
    }
  }
  return *whole_;
}

size_t LineIndex::LineOf(size_t offset) const {
  return static_cast<size_t>(std::upper_bound(starts_.begin(), starts_.end(), offset) -
                             starts_.begin()) -
         1;
}

// As the map over a whole text converts: the place's offset clamped to its
// line (DocumentText::Cp932Offset), at the start of the character that
// holds it, then its column on the protocol's line (LineIndex::Position);
// a CP932 line break never stands inside a character.
LspPosition PositionMap::Cp932ToLsp(SourcePosition position) const {
  const Cp932LineIndex& lines = *source_lines_;
  // The line the place stands on, and where its content ends.
  const size_t index =
      position.line < 1 ? 0 : std::min(static_cast<size_t>(position.line), lines.LineCount()) - 1;
  const size_t start = lines.Start(index);
  size_t end = lines.End(index);
  if (index + 1 < lines.LineCount() && end > start && bytes_[end - 1] == '\r') --end;
  size_t offset = 0;
  if (position.line > static_cast<int64_t>(lines.LineCount())) {
    offset = bytes_.size();
  } else if (position.line >= 1) {
    const size_t column = position.column < 1 ? 0 : static_cast<size_t>(position.column) - 1;
    offset = start + std::min(column, end - start);
  }
  size_t line = index, line_start = start, content_end = end;
  if (lone_cr_) {
    line = lines_.LineOf(offset);
    line_start = lines_.Start(line);
    content_end = lines_.ContentEnd(line);
  }
  offset = std::min(offset, content_end);
  Cursor& cursor = cursor_;
  if (cursor.line_start != line_start || cursor.offset > offset) cursor = Cursor{line_start, line_start, {}};
  size_t at = cursor.offset;
  while (at < offset) {
    const size_t length = Cp932CharacterLength(bytes_, at);
    if (at + length > offset) break;
    at += length;
  }
  const DocumentText::EditorLength more =
      DocumentText::Cp932EditorLength(bytes_.substr(cursor.offset, at - cursor.offset));
  cursor.length.utf8 += more.utf8;
  cursor.length.utf16 += more.utf16;
  cursor.offset = at;
  return LspPosition{static_cast<int64_t>(line),
                     static_cast<int64_t>(encoding_ == PositionEncoding::kUtf8 ? cursor.length.utf8
                                                                               : cursor.length.utf16)};
}

SourcePosition PositionMap::ToSource(LspPosition position) const {
  if (cp932_ || placed_mode_) return Whole().ToSource(position);
  if (!text_) {
    auto base1 = [](int64_t n) {
      return static_cast<int32_t>(std::clamp<int64_t>(n, 0, INT32_MAX - 1) + 1);
    };
    return SourcePosition{base1(position.line), base1(position.character)};
  }
  return text_->PositionAt(text_->Cp932OffsetOf(lines_.Offset(position, encoding_)));
}

LspPosition PositionMap::ToLsp(SourcePosition position) const {
  if (placed_mode_) {
    const uint64_t key = KeyOf(position);
    auto it = std::lower_bound(placed_.begin(), placed_.end(), key,
                               [](const Placed& p, uint64_t k) { return p.key < k; });
    if (it != placed_.end() && it->key == key) return LspPosition{it->line, it->character};
    return Whole().ToLsp(position);
  }
  if (cp932_) return Cp932ToLsp(position);
  if (!text_) {
    return LspPosition{std::max<int64_t>(position.line - 1, 0),
                       std::max<int64_t>(position.column - 1, 0)};
  }
  return lines_.Position(text_->Utf8OffsetOf(text_->Cp932Offset(position)), encoding_);
}

Cp932Placer::Cp932Placer(std::vector<PositionMap::Placed> places, PositionEncoding encoding)
    : places_(std::move(places)), encoding_(encoding) {
  // Keys order lines as unsigned: line 0 first, lines below it last. Those
  // stand where (1, 1) does.
  first_ = static_cast<size_t>(std::find_if(places_.begin(), places_.end(),
                                            [](const auto& p) { return LineOf(p) >= 1; }) -
                               places_.begin());
  end_ = static_cast<size_t>(std::find_if(places_.begin() + static_cast<std::ptrdiff_t>(first_),
                                          places_.end(), [](const auto& p) { return LineOf(p) < 1; }) -
                             places_.begin());
  next_ = first_;
}

void Cp932Placer::Take(std::string_view piece) {
  piece = piece.substr(0, DocumentText::kMaxBytes - std::min(taken_, DocumentText::kMaxBytes));
  taken_ += piece.size();
  while (!piece.empty()) {
    const size_t lf = piece.find('\n');
    if (lf == std::string_view::npos) {
      carry_.append(piece);
      return;
    }
    if (carry_.empty()) {
      EndLine(piece.substr(0, lf + 1), false);
    } else {
      carry_.append(piece.substr(0, lf + 1));
      EndLine(carry_, false);
      carry_.clear();
    }
    piece.remove_prefix(lf + 1);
  }
}

void Cp932Placer::EndLine(std::string_view line, bool last) {
  const bool first_line = line_ == 1 && (first_ != 0 || end_ != places_.size());
  const bool wanted = next_ != end_ && (last || LineOf(places_[next_]) == line_);
  if (first_line || wanted) {
    const PositionMap map(std::make_shared<const std::string>(line), encoding_);
    auto place = [&](PositionMap::Placed& p, SourcePosition at) {
      const LspPosition position = map.ToLsp(at);
      p.line = static_cast<uint32_t>(editor_line_ + static_cast<uint64_t>(position.line));
      p.character = static_cast<uint32_t>(position.character);
    };
    if (first_line) {
      for (size_t i = 0; i < first_; ++i) place(places_[i], {1, 1});
      for (size_t i = end_; i < places_.size(); ++i) place(places_[i], {1, 1});
    }
    // On the last line: those past it stand at its end.
    for (; next_ != end_ && (last || LineOf(places_[next_]) == line_); ++next_) {
      const int32_t column = static_cast<int32_t>(static_cast<uint32_t>(places_[next_].key));
      place(places_[next_], {1, LineOf(places_[next_]) == line_ ? column : INT32_MAX});
    }
  }
  // The protocol's lines this one holds: one, and one more for each CR
  // alone (a CR just before the LF is part of the line break).
  if (!last) {
    const std::string_view content = line.substr(0, line.size() - 1);
    editor_line_ += 1 + static_cast<uint64_t>(std::count(
                            content.begin(), content.end() - (content.empty() ? 0 : 1), '\r'));
  }
  ++line_;
}

std::vector<PositionMap::Placed> Cp932Placer::Finish() {
  EndLine(carry_, true);
  std::string().swap(carry_);
  return std::move(places_);
}

}  // namespace kv
