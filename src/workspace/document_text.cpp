#include "workspace/document_text.h"

#include <algorithm>
#include <unordered_map>

#include "platform/mutex.h"
#include "platform/text.h"

namespace kv {
namespace {

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";
// Offsets are 32 bits; a longer text is cut here (even its UTF-8 form, at
// three bytes for each CP932 byte, stays below 4 GiB).
constexpr size_t kMaxTextBytes = DocumentText::kMaxBytes;

// The length of the CP932 character at the start of `text`.
size_t Cp932Length(std::string_view text) { return Cp932CharacterLength(text); }

// One CP932 character: a single byte, or a lead byte and a trail byte.
bool IsOneCp932Character(std::string_view piece) {
  if (piece.size() == 1) return piece[0] != '\n';
  return piece.size() == 2 && Cp932Length(piece) == 2;
}

uint32_t Key(std::string_view character) {
  uint32_t key = 0;
  for (unsigned char c : character) key = (key << 8) | c;
  return key;
}

// The conversions of single characters, each made once per process. Texts
// are converted character by character through it, so that each
// character's form on the other side is known exactly: the system's
// converter is asked once for all characters not seen before, one per line.
// Documents are converted on more than one thread: the table is locked for
// each text's lookups.
class CharacterTable {
 public:
  CharacterTable(std::string (*convert)(std::string_view), bool (*valid)(std::string_view))
      : convert_(convert), valid_(valid) {}

  // The form on the other side of each of `characters` (none empty; one
  // may come more than once), learning those not yet known. A form, once kept, never changes,
  // so the pointers stay valid.
  std::vector<const std::string*> LookUp(const std::vector<std::string_view>& characters)
      LOCKS_EXCLUDED(mutex_) {
    MutexLock lock(&mutex_);
    std::vector<std::string_view> pending;
    for (std::string_view character : characters) {
      if (!Find(character)) pending.push_back(character);
    }
    Learn(pending);
    std::vector<const std::string*> forms;
    forms.reserve(characters.size());
    for (std::string_view character : characters) forms.push_back(Find(character));
    return forms;
  }

 private:
  // Learns the characters of `pending` not yet known. An answer that is not
  // one character is kept as "" (no form).
  void Learn(const std::vector<std::string_view>& pending) EXCLUSIVE_LOCKS_REQUIRED(mutex_) {
    if (pending.empty()) return;
    std::string joined;
    for (std::string_view character : pending) {
      joined.append(character);
      joined.push_back('\n');
    }
    const std::string converted = convert_(joined);
    std::vector<std::string_view> pieces;
    std::string_view rest = converted;
    for (size_t end; (end = rest.find('\n')) != std::string_view::npos;) {
      pieces.push_back(rest.substr(0, end));
      rest.remove_prefix(end + 1);
    }
    if (pieces.size() != pending.size() || !rest.empty()) {
      // The answer does not line up: ask for each character alone.
      for (std::string_view character : pending) Keep(character, convert_(character));
      return;
    }
    for (size_t i = 0; i < pending.size(); ++i) Keep(pending[i], pieces[i]);
  }

  const std::string* Find(std::string_view character) const EXCLUSIVE_LOCKS_REQUIRED(mutex_) {
    auto it = table_.find(Key(character));
    return it == table_.end() ? nullptr : &it->second;
  }

  void Keep(std::string_view character, std::string_view piece) EXCLUSIVE_LOCKS_REQUIRED(mutex_) {
    table_[Key(character)] = valid_(piece) ? std::string(piece) : std::string();
  }

  std::string (*const convert_)(std::string_view);
  bool (*const valid_)(std::string_view);
  Mutex mutex_;
  std::unordered_map<uint32_t, std::string> table_ GUARDED_BY(mutex_);
};

// UTF-8 characters to CP932 as scripts saved as UTF-8 are converted (the
// look-alikes of other Japanese encodings included); "" for a character that
// CP932 lacks.
CharacterTable& EncodeTable() {
  static CharacterTable table(
      [](std::string_view utf8) {
        std::string cp932;
        ConvertScriptText(utf8, &cp932, [&](size_t, size_t) { cp932.push_back('?'); });
        return cp932;
      },
      [](std::string_view piece) { return IsOneCp932Character(piece) && piece != "?"; });
  return table;
}

// CP932 characters to UTF-8; "" where the answer is no UTF-8.
CharacterTable& DecodeTable() {
  static CharacterTable table(
      [](std::string_view cp932) { return Cp932ToUtf8(cp932); },
      [](std::string_view piece) { return !piece.empty() && IsUtf8(piece); });
  return table;
}

// The places of distinct characters in a list, by their keys (never 0: a
// character that is not ASCII begins with a byte of 0x80 or above): one
// open-addressed table, as a text holds thousands of characters.
class CharacterIndex {
 public:
  // The place of `key`; `next` (and `key` kept there) when it is new.
  uint32_t Find(uint32_t key, uint32_t next) {
    if ((count_ + 1) * 2 > slots_.size()) Grow();
    const size_t mask = slots_.size() - 1;
    for (size_t i = Slot(key, mask);; i = (i + 1) & mask) {
      if (slots_[i].first == key) return slots_[i].second;
      if (slots_[i].first == 0) {
        slots_[i] = {key, next};
        ++count_;
        return next;
      }
    }
  }

 private:
  static size_t Slot(uint32_t key, size_t mask) {
    return static_cast<size_t>((key * uint64_t{0x9E3779B97F4A7C15}) >> 32) & mask;
  }

  void Grow() {
    std::vector<std::pair<uint32_t, uint32_t>> old(std::max<size_t>(64, slots_.size() * 2));
    old.swap(slots_);
    const size_t mask = slots_.size() - 1;
    for (const auto& slot : old) {
      if (slot.first == 0) continue;
      size_t i = Slot(slot.first, mask);
      while (slots_[i].first != 0) i = (i + 1) & mask;
      slots_[i] = slot;
    }
  }

  std::vector<std::pair<uint32_t, uint32_t>> slots_;
  size_t count_ = 0;
};

}  // namespace

// Goes through `input` character by character (`length` says how long each
// is): ASCII stands the same in both forms, and `add(text, character, other)`
// adds each other character, `other` being its form in the other encoding
// from `table` ("" for none).
template <typename Table, typename Add>
std::shared_ptr<const DocumentText> DocumentText::Build(std::string_view input, Table& table,
                                                        size_t (*length)(std::string_view),
                                                        Add add) {
  input = input.substr(0, kMaxTextBytes);
  auto text = std::make_shared<DocumentText>();
  // Each character of the text once, in the order of first appearance; and
  // each character that is not ASCII where it stands, with its place in
  // that list (a byte that begins no character has length 0). The text is
  // read once, and each character looked up in the list once.
  struct Found {
    uint32_t offset;
    uint32_t length;
    uint32_t distinct;
  };
  std::vector<std::string_view> characters;
  std::vector<Found> found;
  CharacterIndex index;
  for (size_t i = 0; i < input.size();) {
    if (static_cast<unsigned char>(input[i]) < 0x80) {
      ++i;
      continue;
    }
    const size_t n = std::min(length(input.substr(i)), input.size() - i);
    uint32_t distinct = 0;
    if (n != 0) {
      const std::string_view character = input.substr(i, n);
      distinct = index.Find(Key(character), static_cast<uint32_t>(characters.size()));
      if (distinct == characters.size()) characters.push_back(character);
    }
    found.push_back({static_cast<uint32_t>(i), static_cast<uint32_t>(n), distinct});
    i += n == 0 ? 1 : n;
  }
  const std::vector<const std::string*> others = table.LookUp(characters);
  // Room for both forms and the units from the start: a large text's forms
  // are never copied as they grow. A character takes at most the longer of
  // its two forms, or the three bytes of U+FFFD, in either.
  size_t longest = input.size();
  for (const Found& at : found) {
    const std::string* other = at.length == 0 ? nullptr : others[at.distinct];
    longest += std::max({size_t{at.length}, other ? other->size() : 0, kReplacementCharacter.size()}) -
               std::max<size_t>(at.length, 1);
  }
  text->utf8_.reserve(longest);
  text->cp932_.reserve(longest);
  text->units_.reserve(found.size());
  size_t done = 0;
  for (const Found& at : found) {
    // The ASCII bytes before it stand the same in both forms.
    const std::string_view ascii = input.substr(done, at.offset - done);
    text->utf8_.append(ascii);
    text->cp932_.append(ascii);
    const std::string* other = at.length == 0 ? nullptr : others[at.distinct];
    add(*text, input.substr(at.offset, at.length),
        other ? std::string_view(*other) : std::string_view());
    done = at.offset + (at.length == 0 ? 1 : at.length);
  }
  const std::string_view ascii = input.substr(done);
  text->utf8_.append(ascii);
  text->cp932_.append(ascii);
  text->IndexLines();
  return text;
}

DocumentText::EditorLength DocumentText::Cp932EditorLength(std::string_view cp932) {
  EditorLength length;
  std::vector<std::string_view> characters;
  for (size_t i = 0; i < cp932.size();) {
    if (static_cast<unsigned char>(cp932[i]) < 0x80) {
      ++length.utf8, ++length.utf16, ++i;
      continue;
    }
    // A byte that begins no character is shown as U+FFFD.
    const size_t n = std::min(Cp932Length(cp932.substr(i)), cp932.size() - i);
    if (n == 0) {
      length.utf8 += kReplacementCharacter.size();
      ++length.utf16, ++i;
      continue;
    }
    characters.push_back(cp932.substr(i, n));
    i += n;
  }
  if (characters.empty()) return length;
  const std::vector<const std::string*> forms = DecodeTable().LookUp(characters);
  for (const std::string* form : forms) {
    if (form == nullptr || form->empty()) {
      length.utf8 += kReplacementCharacter.size();
      ++length.utf16;
      continue;
    }
    length.utf8 += form->size();
    for (size_t i = 0; i < form->size(); i += Utf8ClaimedLength(static_cast<unsigned char>((*form)[i])))
      length.utf16 += Utf8ClaimedLength(static_cast<unsigned char>((*form)[i])) == 4 ? 2 : 1;
  }
  return length;
}

std::shared_ptr<const DocumentText> DocumentText::FromUtf8(std::string_view utf8) {
  return Build(utf8, EncodeTable(), Utf8CharacterLength,
               [](DocumentText& text, std::string_view character, std::string_view cp932) {
                 // A byte that is no UTF-8 comes as an empty character.
                 if (cp932.empty()) {
                   text.unconverted_.push_back(
                       {static_cast<uint32_t>(text.utf8_.size()),
                        static_cast<uint32_t>(character.empty() ? 1 : character.size())});
                 }
                 text.AddUnit(character.empty() ? kReplacementCharacter : character,
                              cp932.empty() ? std::string_view("?") : cp932);
               });
}

std::shared_ptr<const DocumentText> DocumentText::FromCp932(std::string_view cp932) {
  return Build(cp932, DecodeTable(), Cp932Length,
               [](DocumentText& text, std::string_view character, std::string_view utf8) {
                 text.AddUnit(utf8.empty() ? kReplacementCharacter : utf8, character);
               });
}

void DocumentText::AddUnit(std::string_view utf8, std::string_view cp932) {
  units_.push_back(Unit{static_cast<uint32_t>(utf8_.size()), static_cast<uint32_t>(cp932_.size()),
                        static_cast<uint8_t>(utf8.size()), static_cast<uint8_t>(cp932.size())});
  utf8_.append(utf8);
  cp932_.append(cp932);
}

void DocumentText::IndexLines() {
  line_starts_.assign(1, 0);
  for (size_t i = 0; i < cp932_.size(); ++i) {
    if (cp932_[i] == '\n') line_starts_.push_back(static_cast<uint32_t>(i + 1));
  }
}

size_t DocumentText::LineStart(int32_t line) const {
  if (line < 1) return 0;
  if (line > LineCount()) return cp932_.size();
  return line_starts_[static_cast<size_t>(line) - 1];
}

size_t DocumentText::LineEnd(size_t index) const {
  if (index + 1 >= line_starts_.size()) return cp932_.size();
  size_t end = line_starts_[index + 1] - 1;  // the LF
  if (end > line_starts_[index] && cp932_[end - 1] == '\r') --end;
  return end;
}

size_t DocumentText::Cp932Offset(SourcePosition position) const {
  if (position.line < 1) return 0;
  if (position.line > LineCount()) return cp932_.size();
  const size_t index = static_cast<size_t>(position.line) - 1;
  const size_t start = line_starts_[index];
  const size_t column = position.column < 1 ? 0 : static_cast<size_t>(position.column) - 1;
  const size_t offset = start + std::min(column, LineEnd(index) - start);
  return Cp932OffsetOf(Utf8OffsetOf(offset));  // the first byte of its character
}

SourcePosition DocumentText::PositionAt(size_t cp932_offset) const {
  cp932_offset = std::min(cp932_offset, cp932_.size());
  const size_t index =
      static_cast<size_t>(std::upper_bound(line_starts_.begin(), line_starts_.end(), cp932_offset) -
                          line_starts_.begin()) -
      1;
  const size_t offset = std::min(cp932_offset, LineEnd(index));
  return SourcePosition{static_cast<int32_t>(index + 1),
                        static_cast<int32_t>(offset - line_starts_[index] + 1)};
}

namespace {

// Maps an offset of one form to the other through the units, which stand in
// the same order in both; the bytes between units are the same in both.
template <typename From>
size_t MapOffset(const std::vector<From>& units, size_t offset, size_t size, size_t other_size,
                 uint32_t From::*from_offset, uint8_t From::*from_length, uint32_t From::*to_offset,
                 uint8_t From::*to_length) {
  if (offset >= size) return other_size;
  auto after =
      std::upper_bound(units.begin(), units.end(), offset,
                       [&](size_t value, const From& unit) { return value < unit.*from_offset; });
  if (after == units.begin()) return offset;
  const From& unit = *(after - 1);
  const size_t unit_end = unit.*from_offset + unit.*from_length;
  if (offset < unit_end) return unit.*to_offset;
  return unit.*to_offset + unit.*to_length + (offset - unit_end);
}

}  // namespace

size_t DocumentText::Utf8OffsetOf(size_t cp932_offset) const {
  return MapOffset(units_, cp932_offset, cp932_.size(), utf8_.size(), &Unit::cp932_offset,
                   &Unit::cp932_length, &Unit::utf8_offset, &Unit::utf8_length);
}

size_t DocumentText::Cp932OffsetOf(size_t utf8_offset) const {
  return MapOffset(units_, utf8_offset, utf8_.size(), cp932_.size(), &Unit::utf8_offset,
                   &Unit::utf8_length, &Unit::cp932_offset, &Unit::cp932_length);
}

Cp932LineIndex::Cp932LineIndex(std::string_view bytes) : bytes_(bytes), starts_{0} {
  for (size_t at = 0; (at = bytes_.find('\n', at)) != std::string_view::npos;) {
    ++at;
    if (lines_++ % kStride == 0) starts_.push_back(static_cast<uint32_t>(at));
  }
  starts_.shrink_to_fit();
}

size_t Cp932LineIndex::Start(size_t index) const {
  size_t line = index - index % kStride;
  size_t start = starts_[index / kStride];
  if (last_index_ <= index && last_index_ > line) {
    line = last_index_;
    start = last_start_;
  }
  for (; line < index; ++line) start = bytes_.find('\n', start) + 1;
  last_index_ = index;
  last_start_ = start;
  return start;
}

size_t Cp932LineIndex::End(size_t index) const {
  if (index + 1 >= lines_) return bytes_.size();
  return bytes_.find('\n', Start(index));
}

}  // namespace kv
