#include "source/tokenizer.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "context/diagnostics.h"
#include "context/source_text.h"
#include "platform/console.h"
#include "platform/file_system.h"
#include "platform/text.h"
#include "source/numbers.h"
#include "source/statement.h"

namespace kv {
namespace {

constexpr char kNumberFailed[] = "数値の取得に失敗しました\n";
constexpr char kEndAfterString[] =
    "読み込み中にファイルの終端が見つかりました\n"
    "コマンドの最後に;がないか、endコマンドがない可能性があります\n"
    "; もしくは文字列終端(\", ')がない可能性があります\n";
constexpr char kLastStatementDropped[] = "; がないためファイルの終端のコマンドを無視しました\n";
constexpr char kNoteSyntaxToken[] = "問題の字句は \"%s\" (%d 桁目) です\n";
constexpr char kNoteSyntaxTokenInCharacters[] = "問題の字句は \"%s\" (%d 文字目、%d バイト目) です\n";
constexpr std::string_view kNoteLabelWithSpace =
    "ラベルの名前は 1 語です。\"%s\" のように空白を含む名前は使えません (\"_\" でつなぐなどしてください)\n";
constexpr std::string_view kNoteColonAfterName = ": はラベルの名前の直後に書いて、ラベルを定義します\n";

// The word reader takes at most this many bytes at once; a longer word goes
// on as the next element.
constexpr size_t kWordLimit = 511;

enum ByteClass : uint8_t {
  kWordStart,
  kOperator,
  kDigit,
  kQuote,
  kComma,
  kSemicolon,
  kEnd,    // NUL: the source ends here
  kSpace,  // skipped before an element
};

struct Tables {
  std::array<ByteClass, 256> byte_class{};
  std::array<bool, 256> word_stop{};
};

constexpr Tables MakeTables() {
  Tables t;
  for (auto& c : t.byte_class) c = kWordStart;
  for (char c : kOperatorBytes) t.byte_class[static_cast<uint8_t>(c)] = kOperator;
  for (char c = '0'; c <= '9'; ++c) t.byte_class[static_cast<uint8_t>(c)] = kDigit;
  t.byte_class['"'] = kQuote;
  t.byte_class['\''] = kQuote;
  t.byte_class[','] = kComma;
  t.byte_class[';'] = kSemicolon;
  t.byte_class[0] = kEnd;
  for (char c : std::string_view(" \t\n\v\f\r")) t.byte_class[static_cast<uint8_t>(c)] = kSpace;
  for (char c : kWordStops) t.word_stop[static_cast<uint8_t>(c)] = true;
  return t;
}

constexpr Tables kTables = MakeTables();

// Sets a word's text. Kept out of line on purpose: inlined where the word's
// length is known to be at most kWordLimit, the copy becomes a slow string
// instruction instead of a call to memcpy.
[[gnu::noinline]] void SetWord(CommandElement* element, const char* word, size_t n) {
  element->text.append(word, n);
}

// The reader's reports at byte `offset` of the source, which stands on the
// line the reader has reached; a syntax error names the byte. Kept out of the
// reading loop.
[[gnu::cold, gnu::noinline]] void ReportOnLine(Diagnostics& log, const SourceText& source,
                                               size_t offset, std::string_view message,
                                               bool syntax_error) {
  const SourcePlace place{source.path, source.line,
                          source.ColumnAt(static_cast<uint32_t>(offset))};
  if (syntax_error) {
    ReportSyntaxError(log, place, std::string_view(source.contents).substr(offset, 1), &source);
  } else {
    log.ErrorAt(place, message);
  }
}

// Reads one statement straight from the source's contents, position and line
// kept in step, without a call per byte.
class StatementReader {
 public:
  StatementReader(Diagnostics& log, Statement& statement, SourceText& source)
      : log_(log),
        statement_(statement),
        source_(source),
        data_(source.contents.data()),
        size_(source.contents.size()),
        pos_(source.position),
        track_lines_(!(source.mode & ModeBinary)) {}

  uint8_t Read();

 private:
  // Keeps the source's position and line up to date before anything is
  // reported, so diagnostics show the line the reader stands on.
  void Sync() {
    source_.position = static_cast<uint32_t>(pos_);
    source_.line += line_feeds_;
    line_feeds_ = 0;
  }
  // Reports `message` at the byte `offset`, which stands on the line the
  // reader has reached.
  uint8_t FailAt(size_t offset, std::string_view message, uint8_t result) {
    Sync();
    ReportOnLine(log_, source_, offset, message, false);
    return result;
  }
  // A colon that follows no word: the end of a label whose name is not one
  // word (chapter 1:), or a colon where no label can be.
  [[gnu::cold, gnu::noinline]] void NoteStrayColon(size_t colon) {
    const std::string_view text(data_, size_);
    size_t start = colon;
    while (start > 0 && text[start - 1] != '\n' && text[start - 1] != ';') --start;
    std::string_view before = text.substr(start, colon - start);
    while (!before.empty() && (before.front() == ' ' || before.front() == '\t')) before.remove_prefix(1);
    while (!before.empty() && (before.back() == ' ' || before.back() == '\t')) before.remove_suffix(1);
    const bool words_only = before.find_first_of("\"'(),=+-*/@[]{}<>") == std::string_view::npos;
    if (!before.empty() && words_only && before.find_first_of(" \t") != std::string_view::npos) {
      log_.Note(kNoteLabelWithSpace, {before});
    } else {
      log_.Note(kNoteColonAfterName);
    }
  }
  uint8_t SyntaxErrorAt(size_t offset) {
    Sync();
    ReportOnLine(log_, source_, offset, kMsgSyntaxError, true);
    return StatementSyntaxError;
  }
  // After Sync at the end of the text: the statement place becomes the end of
  // the last line (the NUL appended at load and a final line feed open no
  // line of their own), where what the end cuts short is reported.
  void MarkEnd() {
    size_t end = pos_;
    int32_t line = source_.line;
    if (end + 1 >= size_) {
      end = size_ > 0 && data_[size_ - 1] == '\0' ? size_ - 1 : size_;
      if (end > 0 && data_[end - 1] == '\n' && track_lines_) {
        --end;
        --line;
      }
    }
    source_.statementLine = line;
    source_.statementOffset = static_cast<uint32_t>(end);
  }
  void CountLineFeeds(size_t from, size_t to) {
    if (!track_lines_) return;
    for (const char* p = data_ + from; p < data_ + to;) {
      const void* lf = std::memchr(p, '\n', data_ + to - p);
      if (lf == nullptr) break;
      ++line_feeds_;
      p = static_cast<const char*>(lf) + 1;
    }
  }
  // SkipSpace: false at the end of the contents or at a NUL byte.
  bool SkipSpace() {
    while (pos_ < size_) {
      const uint8_t c = static_cast<uint8_t>(data_[pos_]);
      if (kTables.byte_class[c] != kSpace) return c != '\0';
      if (c == '\n' && track_lines_) ++line_feeds_;
      ++pos_;
    }
    return false;
  }

  uint8_t ReadOperator(CommandElement* element);
  uint8_t ReadNumber(CommandElement* element);
  uint8_t ReadString(CommandElement* element);
  uint8_t ReadWord(CommandElement* element, bool* ends_statement);

  static constexpr uint8_t kContinue = 2;  // internal: the element was built

  Diagnostics& log_;
  Statement& statement_;
  SourceText& source_;
  const char* data_;
  size_t size_;
  size_t pos_;
  bool track_lines_;
  int32_t line_feeds_ = 0;
};

uint8_t StatementReader::ReadOperator(CommandElement* element) {
  const char c = data_[pos_++];
  element->kind = ElemOperator;
  // The element is new and its text empty: one or two characters are
  // appended one by one.
  element->text.push_back(c);
  if (pos_ < size_) {
    const char c2 = data_[pos_];
    const bool pair = (c2 == '=' && (c == '=' || c == '<' || c == '>')) ||
                      (c2 == '&' && c == '&') || (c2 == '|' && c == '|');
    if (pair) {
      ++pos_;
      element->text.push_back(c2);
    }
  }
  element->end = static_cast<uint32_t>(pos_);
  return kContinue;
}

uint8_t StatementReader::ReadNumber(CommandElement* element) {
  size_t consumed = 0;
  double value = 0;
  const size_t converted = ReadNumberText(std::string_view(data_ + pos_, size_ - pos_), &value, &consumed);
  // A number holds no line feed; a hexadecimal or binary prefix without
  // digits stays consumed.
  pos_ += consumed;
  if (converted == 0) return FailAt(pos_ - consumed, kNumberFailed, StatementSyntaxError);
  element->kind = ElemNumber;
  element->number = value;
  element->end = static_cast<uint32_t>(pos_);
  return kContinue;
}

// One string element: a literal, and every literal that follows it after
// nothing but white space, joined. A body runs to the next byte equal to its
// own quote (or the end of the contents) and is taken whole, however long.
uint8_t StatementReader::ReadString(CommandElement* element) {
  element->kind = ElemString;
  for (;;) {
    const char quote = data_[pos_++];
    const void* close = std::memchr(data_ + pos_, quote, size_ - pos_);
    const size_t end = close ? static_cast<const char*>(close) - data_ : size_;
    CountLineFeeds(pos_, end);
    element->text.append(data_ + pos_, end - pos_);
    pos_ = end;
    if (pos_ < size_) ++pos_;  // the closing quote
    element->end = static_cast<uint32_t>(pos_);
    if (!SkipSpace()) {
      Sync();
      MarkEnd();
      log_.ErrorAt(Diagnostics::StatementPlace(source_), kEndAfterString);
      return StatementEnd;
    }
    if (kTables.byte_class[static_cast<uint8_t>(data_[pos_])] != kQuote) return kContinue;
  }
}

uint8_t StatementReader::ReadWord(CommandElement* element, bool* ends_statement) {
  const size_t start = pos_;
  const size_t limit = std::min(size_ - pos_, kWordLimit);
  const char* const word = data_ + start;
  size_t n = 0;
  // Eight bytes at a time: their stop flags are gathered into a mask whose
  // lowest set bit is the first stop, so a word costs one unpredictable
  // branch rather than one per byte.
  for (; n + 8 <= limit; n += 8) {
    uint32_t stops = 0;
    for (int k = 0; k < 8; ++k) {
      stops |= uint32_t{kTables.word_stop[static_cast<uint8_t>(word[n + k])]} << k;
    }
    if (stops != 0) {
      n += std::countr_zero(stops);
      break;
    }
  }
  if (n + 8 > limit) {
    while (n < limit && !kTables.word_stop[static_cast<uint8_t>(word[n])]) ++n;
  }
  if (n == 0) {
    // Only a colon can stand here (every other stop byte has its own class).
    // It is consumed so that the next statement starts behind it.
    ++pos_;
    const uint8_t result = SyntaxErrorAt(start);
    NoteStrayColon(start);
    return result;
  }
  // Control bytes other than white space belong to words; a vertical tab or
  // form feed stops them, so no line feed is ever inside a word.
  pos_ += n;
  element->kind = ElemWord;
  element->end = static_cast<uint32_t>(pos_);
  SetWord(element, data_ + start, n);
  if (pos_ < size_ && data_[pos_] == ':') {
    ++pos_;
    element->kind = ElemLabel;
    *ends_statement = true;
  }
  return kContinue;
}

uint8_t StatementReader::Read() {
  statement_.Clear();
  // Elements are built in place in the parameter at the end of the
  // statement; a parameter cut short by an error or by the end of the source
  // is dropped again.
  CommandParameter* parameter = &statement_.AppendEmpty();
  // A comma as the first thing of a statement is an error, like a second
  // comma: the flag starts set.
  bool after_comma = true;
  // Where the statement begins, once anything of it has been read. It goes
  // to the source when the statement is done, so the loop stores nothing but
  // elements.
  constexpr size_t kNotStarted = SIZE_MAX;
  size_t start = kNotStarted;
  int32_t start_line = 0;
  auto publish_start = [&] {
    source_.statementLine = start_line;
    source_.statementOffset = static_cast<uint32_t>(start);
  };
  for (;;) {
    if (!SkipSpace()) {
      statement_.DropLast();
      Sync();
      // A statement that the end of the source cuts off is dropped; its
      // author is told, since nothing else would show it is missing.
      if (start != kNotStarted) {
        publish_start();
        log_.WarningAt(Diagnostics::StatementPlace(source_), kLastStatementDropped);
      }
      MarkEnd();
      return StatementEnd;
    }
    if (start == kNotStarted) {
      start = pos_;
      start_line = source_.line + line_feeds_;
    }
    const ByteClass byte_class = kTables.byte_class[static_cast<uint8_t>(data_[pos_])];
    if (byte_class == kComma) {
      // The comma is consumed even when it is an error, so the next
      // statement starts behind it.
      ++pos_;
      if (after_comma) {
        statement_.DropLast();
        publish_start();
        return SyntaxErrorAt(pos_ - 1);
      }
      after_comma = true;
      parameter = &statement_.AppendEmpty();
      continue;
    }
    if (byte_class == kSemicolon) {
      ++pos_;
      Sync();
      publish_start();
      return StatementRead;
    }
    CommandElement& element = parameter->emplace_back();
    element.offset = static_cast<uint32_t>(pos_);
    bool ends_statement = false;
    uint8_t result = kContinue;
    switch (byte_class) {
      case kOperator:
        result = ReadOperator(&element);
        break;
      case kDigit:
        result = ReadNumber(&element);
        break;
      case kQuote:
        result = ReadString(&element);
        break;
      default:
        result = ReadWord(&element, &ends_statement);
        break;
    }
    if (result != kContinue) {
      statement_.DropLast();
      // At the end of the text (a string left open) the place is its end.
      if (result != StatementEnd) publish_start();
      return result;
    }
    after_comma = false;
    if (ends_statement) {
      Sync();
      publish_start();
      return StatementRead;
    }
  }
}

}  // namespace

bool EndsWithLeadByte(std::string_view word) {
  for (size_t i = 0; i < word.size(); ++i) {
    if (IsCp932LeadByte(static_cast<uint8_t>(word[i]))) {
      if (i + 1 == word.size()) return true;
      ++i;
    }
  }
  return false;
}

bool ReadsAsWord(std::string_view text) {
  if (text.empty() || text.size() > kWordLimit) return false;
  if (kTables.byte_class[static_cast<uint8_t>(text[0])] != kWordStart) return false;
  for (char c : text) {
    if (kTables.word_stop[static_cast<uint8_t>(c)] || c == kTextModeEnd) return false;
  }
  return true;
}

size_t ElementEnd(std::string_view text, size_t at) {
  if (at >= text.size()) return at;
  const char first = text[at];
  switch (kTables.byte_class[static_cast<uint8_t>(first)]) {
    case kQuote: {
      const size_t close = text.find(first, at + 1);
      return close == std::string_view::npos ? text.size() : close + 1;
    }
    case kOperator: {
      const bool pair = at + 1 < text.size() &&
                        ((text[at + 1] == '=' && (first == '=' || first == '<' || first == '>')) ||
                         (text[at + 1] == '&' && first == '&') || (text[at + 1] == '|' && first == '|'));
      return at + (pair ? 2 : 1);
    }
    case kDigit: {
      size_t consumed = 0;
      double value = 0;
      ReadNumberText(text.substr(at), &value, &consumed);
      return at + std::max<size_t>(consumed, 1);
    }
    case kWordStart: {
      size_t end = at;
      const size_t limit = at + std::min(text.size() - at, kWordLimit);
      while (end < limit && !kTables.word_stop[static_cast<uint8_t>(text[end])]) ++end;
      return std::max(end, at + 1);
    }
    default:
      return at + 1;
  }
}

void ReportSyntaxError(Diagnostics& log, const SourcePlace& place, std::string_view token,
                       const SourceText* source) {
  log.ErrorAt(place, kMsgSyntaxError);
  NoteSyntaxToken(log, token, place, source);
}

int32_t CharacterColumn(const SourceText& source, int32_t line, int32_t byte_column) {
  // The file is read again: the text in memory has lost its comments, and a
  // script read as UTF-8 its own bytes. Only for a report, so seldom.
  std::string raw, error;
  if (line <= 0 || byte_column <= 0 || !source.fs.ReadFile(source.path, &raw, &error)) return 0;
  size_t at = 0;
  // Columns do not count a UTF-8 script's byte-order mark.
  if (source.textFromUtf8 && std::string_view(raw).starts_with("\xEF\xBB\xBF")) at = 3;
  for (int32_t l = 1; l < line; ++l) {
    at = raw.find('\n', at);
    if (at == std::string::npos) return 0;
    ++at;
  }
  const size_t end = std::min(raw.size(), at + static_cast<size_t>(byte_column) - 1);
  int32_t column = 1;
  for (size_t i = at; i < end; ++column) {
    if (source.textFromUtf8) {
      const size_t length = Utf8CharacterLength(std::string_view(raw).substr(i));
      i += length != 0 ? length : 1;
    } else {
      i += Cp932CharacterLength(raw, i);
    }
  }
  return column;
}

void NoteSyntaxToken(Diagnostics& log, std::string_view token, const SourcePlace& place,
                     const SourceText* source) {
  // Without a script there is no column to name (compiled outside a run).
  if (place.column <= 0) return;
  const int32_t characters =
      source != nullptr ? CharacterColumn(*source, place.line, place.column) : 0;
  if (characters > 0 && characters != place.column) {
    log.Note(kNoteSyntaxTokenInCharacters, {token, characters, place.column});
  } else {
    log.Note(kNoteSyntaxToken, {token, place.column});
  }
}

uint8_t ReadStatement(Diagnostics& log, Statement& statement, SourceText& source) {
  return StatementReader(log, statement, source).Read();
}

}  // namespace kv
