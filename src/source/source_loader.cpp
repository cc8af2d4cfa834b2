#include "source/source_loader.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "context/kc_system.h"
#include "context/source_text.h"
#include "platform/bulk_memory.h"
#include "platform/console.h"
#include "platform/file_system.h"
#include "source/tokenizer.h"

namespace kv {
namespace {

// Less than this (removed from a text, or in the places of its comments)
// keeps its storage: the next script is read into the same.
constexpr size_t kDiscardedTail = size_t{1} << 20;

constexpr char kAlreadyLoaded[] = "ファイル \"%s\" は既に読み込まれています\n";
constexpr char kUnclosedComment[] = "コメントの終端が見つかりませんでした\n";
constexpr std::string_view kMsgFileNotFound = "ファイル \"%s\" が見つかりませんでした\n";
constexpr std::string_view kMsgAddObject = "KCSystem::AddScript(2) オブジェクトの追加に失敗\n";
constexpr std::string_view kMsgNoMainScript =
    "メインスクリプトが \"%s\" ディレクトリに見つかりませんでした\n";
constexpr std::string_view kNoteMainScriptCase =
    "\"%s\" があります。メインスクリプトの名前は小文字の main.txt です\n";
constexpr std::string_view kNoteMainScriptBelow =
    "\"%s\" にメインスクリプトがあります。-xd でこのディレクトリを指定してください\n";
constexpr std::string_view kMsgNotUtf8 = "UTF-8 として読めないバイト %s があります\n";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kMsgLineCommentInString =
    "文字列の中の // から行の終わりまでがコメントとして取り除かれます (閉じる %c も取り除かれます)\n";
constexpr std::string_view kMsgBlockCommentInString =
    "文字列の中の /* から */ までがコメントとして取り除かれます\n";
constexpr std::string_view kNoteCommentInString =
    "%c…/%c %c%c…%c と 2 つの文字列に分けて書けば、並べた文字列は 1 つにつながります"
    " (または / と %c の間を空けて書いてください)\n";
// Temporary objects are named after their script with this mark appended.
constexpr char kObjectSuffix[] = "*";
constexpr uint32_t kObjectMode = ModeRead | ModeWrite | ModeTruncate | ModeBinary;

SourceText* LoadSourceFile(KCSystem& sys, const std::string& name, bool to_compile,
                       bool* starts_with_bom, std::vector<CommentStart>* comments = nullptr);

// Converts the UTF-8 text of `file` to CP932 in place, line for line. The
// first character of a line that cannot be converted is reported at its
// line; it and any other on the line become '?', so the rest of the script
// is still read.
void ConvertFromUtf8(Diagnostics& log, SourceText& file, std::string* storage) {
  const std::string_view text = file.contents;
  std::string& converted = *storage;
  converted.clear();
  converted.reserve(text.size());
  int32_t line = 1;
  int32_t reported_line = 0;
  size_t counted = 0;  // line feeds are counted up to here
  ConvertScriptText(text, &converted, [&](size_t offset, size_t length) {
    line += static_cast<int32_t>(std::count(text.begin() + counted, text.begin() + offset, '\n'));
    counted = offset;
    converted.push_back('?');
    if (line == reported_line) return;
    reported_line = line;
    const SourcePlace place{file.path, line, file.ColumnAt(static_cast<uint32_t>(offset))};
    if (Utf8CharacterLength(text.substr(offset, length)) == 0) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "0x%02X", static_cast<unsigned char>(text[offset]));
      log.ErrorAt(place, kMsgNotUtf8, {LogArg::Own(hex)});
    } else {
      log.ErrorAt(place, kMsgNoCp932Character, {LogArg::Own(text.substr(offset, length))});
    }
  });
  // The shifts of the comments go by line, which the conversion keeps.
  file.ShiftsByLine();
  file.contents.swap(converted);
  file.textFromUtf8 = true;
}

// Reads `full_path` into `file`, in the shared source storage, and removes
// its comments (or, unless `to_compile`, only checks that they end). Scripts
// saved as UTF-8 lose their byte-order mark here; *starts_with_bom tells
// whether the file itself begins with one.
bool ReadSource(KCSystem& sys, SourceText& file, const std::string& full_path, bool to_compile,
                bool* starts_with_bom = nullptr, std::vector<CommentStart>* comments = nullptr) {
  file.contents.swap(sys.results.sourceText);
  file.discardedTo = file.scannedTo = 0;
  if (!file.FileOpen(full_path, ModeRead)) {
    sys.log.ErrorAt({full_path}, kMsgNameMayBeWrong, {LogArg::Path(full_path)});
    sys.log.Message(kMsgCannotRead, {LogArg::Path(full_path), LogArg::Path(file.error)});
    return false;
  }
  const bool bom = std::string_view(file.contents).starts_with(kUtf8Bom);
  if (starts_with_bom != nullptr) *starts_with_bom = bom;
  const bool utf8 = sys.options.sourceIsUtf8;
  file.textFromUtf8 = false;
  // Columns do not count the mark, as editors do not show it.
  if (utf8 && bom) file.contents.erase(0, kUtf8Bom.size());
  return to_compile ? RemoveComments(sys.log, file, comments) : CommentsEnd(sys.log, file);
}

// Makes the registered script `it` current, reading its source again if it
// has been set aside.
bool MakeCurrent(KCSystem& sys, std::map<std::string, std::unique_ptr<KCFile>>::iterator it) {
  SourceText* source = nullptr;
  bool read_now = true;
  bool starts_with_bom = false;
  // Where the comments began, kept only for the check that needs them.
  std::vector<CommentStart> comments;
  std::vector<CommentStart>* const comment_starts =
      sys.options.checks.On(Check::kCommentInString) ? &comments : nullptr;
  auto loaded = sys.results.LoadedSources.find(it->first);
  if (loaded != sys.results.LoadedSources.end()) {
    source = loaded->second.get();
    // A loaded text holds at least its NUL: an empty one was set aside.
    read_now = source->contents.empty();
    if (read_now && !ReadSource(sys, *source, std::string(it->first), true, &starts_with_bom,
                                comment_starts)) {
      return false;
    }
  } else {
    source = LoadSourceFile(sys, it->first, true, &starts_with_bom, comment_starts);
  }
  if (source == nullptr) return false;
  sys.script.currentSource = source;
  sys.log.Message(kMsgConverting, {LogArg::Path(source->path)});
  // Before a UTF-8 text is converted: the offsets are those of its text now.
  if (read_now && !comments.empty()) WarnOfCommentsInStrings(sys.log, *source, comments);
  if (sys.options.sourceIsUtf8) {
    // After the comments are gone, so that a comment may hold any character.
    if (read_now) ConvertFromUtf8(sys.log, *source, &sys.results.sourceText);
  } else if (starts_with_bom) {
    // A script saved as UTF-8 with a byte-order mark would silently start
    // with a statement of garbage. It is compiled as it is.
    sys.log.WarningAt({source->path, 1, 1}, kMsgUtf8Bom, {LogArg::Own(kSaveAsCp932)});
  } else if (read_now && sys.options.checks.On(Check::kUtf8Script)) {
    const size_t first = FirstUtf8Character(source->contents);
    if (first != std::string::npos) {
      sys.log.WarningAt(Diagnostics::PlaceIn(*source, static_cast<uint32_t>(first)), kMsgUtf8Script,
                        {LogArg::Own(kSaveAsCp932)}, CheckDetails(Check::kUtf8Script));
    }
  }
  sys.script.currentObject = it->second.get();
  // Scripts are compiled one after another into the same storage, which
  // stays in the cache; KeepCode moves each one's code out when it ends.
  if (sys.script.currentObject->contents.empty())
    sys.script.currentObject->contents.swap(sys.results.codeStorage);
  sys.script.currentObject->contents.reserve(2 * source->contents.size());
  return true;
}

}  // namespace

bool ResolvePath(KCSystem& sys, const std::string& name, std::string* absolute) {
  if (!sys.fs.Exists(name)) {
    sys.log.Message(kMsgFileNotFound, {LogArg::Path(name)});
    return false;
  }
  *absolute = sys.fs.AbsolutePath(name);
  return true;
}

namespace {

// Creates the temporary object of the script at `absolute`. A name the file
// layer refuses is reported, and the object is kept, closed.
bool AddObject(KCSystem& sys, const std::string& absolute) {
  auto object = std::make_unique<KCFile>(sys.fs);
  const std::string object_name = absolute + kObjectSuffix;
  if (!object->FileOpen(object_name, kObjectMode)) {
    sys.log.ErrorAt({absolute}, kMsgNameMayBeWrong, {LogArg::Path(object_name)});
  }
  if (!sys.results.Objects.emplace(absolute, std::move(object)).second) {
    sys.log.InternalError(kMsgAddObject);
    return false;
  }
  return true;
}

}  // namespace

bool AddScript(KCSystem& sys, const std::string& path) {
  std::string absolute;
  if (!ResolvePath(sys, path, &absolute)) return false;
  SourceText* source = LoadSource(sys, absolute, false);
  if (source == nullptr) return false;
  // Checked now, so its errors stand where the search finds it; its text is
  // read again when it is converted.
  SetSourceAside(sys, *source);
  if (sys.results.Objects.count(absolute)) return true;
  return AddObject(sys, absolute);
}

namespace {

// After the main script was not found: names a main.txt that differs only in
// the case of its letters, or else one a directory below, if there is one.
void NoteMainScriptElsewhere(KCSystem& sys) {
  const std::string& directory = sys.options.engineDirectory;
  std::vector<DirectoryEntry> entries;
  if (!sys.fs.ListDirectory(directory, &entries)) return;
  const std::string_view expected = kMainScriptName;
  for (const DirectoryEntry& entry : entries) {
    const std::string& name = entry.name;
    const bool same_but_case =
        !entry.is_directory && name.size() == expected.size() && name != expected &&
        std::equal(name.begin(), name.end(), expected.begin(),
                   [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
    if (same_but_case) {
      const std::string path = directory + name;
      sys.log.NoteAt({path}, kNoteMainScriptCase, {LogArg::Path(path)});
      return;
    }
  }
  for (const DirectoryEntry& entry : entries) {
    const std::string below = directory + entry.name + sys.fs.Separator();
    if (entry.is_directory && sys.fs.Exists(below + kMainScriptName)) {
      sys.log.NoteAt({below + kMainScriptName}, kNoteMainScriptBelow, {LogArg::Path(below)});
      return;
    }
  }
}

}  // namespace

std::string MainScriptPath(const KCSystem& sys) {
  return sys.options.engineDirectory + kMainScriptName;
}

bool StartMainScript(KCSystem& sys) {
  const std::string main_script = MainScriptPath(sys);
  auto it = sys.results.Objects.find(main_script);
  if (it == sys.results.Objects.end()) {
    sys.log.ErrorAt({main_script}, kMsgNoMainScript, {LogArg::Path(sys.options.engineDirectory)});
    NoteMainScriptElsewhere(sys);
    return false;
  }
  return MakeCurrent(sys, it);
}

bool NextScript(KCSystem& sys) {
  // Every script made current leaves at least one byte in its object, and
  // objects are never emptied during conversion, so the scan can resume where
  // the previous one stopped.
  for (auto it = sys.results.Objects.lower_bound(sys.script.nextScriptScan);
       it != sys.results.Objects.end(); ++it) {
    if (it->second->HasCode()) continue;
    sys.script.nextScriptScan = it->first;
    if (!MakeCurrent(sys, it)) return false;
    sys.script.itemPosition = 0;
    return true;
  }
  sys.script.nextScriptScan.clear();
  return false;
}

SourceText* LoadSource(KCSystem& sys, const std::string& name, bool to_compile) {
  return LoadSourceFile(sys, name, to_compile, nullptr);
}

namespace {

SourceText* LoadSourceFile(KCSystem& sys, const std::string& name, bool to_compile,
                       bool* starts_with_bom, std::vector<CommentStart>* comments) {
  std::string full_path;
  if (!ResolvePath(sys, name, &full_path)) return nullptr;

  const auto loaded = sys.results.LoadedSources.find(full_path);
  if (loaded != sys.results.LoadedSources.end()) {
    sys.log.WarningAt({full_path}, kAlreadyLoaded, {LogArg::Path(full_path)});
    return loaded->second.get();
  }

  auto file = std::make_unique<SourceText>(sys.fs);
  if (!ReadSource(sys, *file, full_path, to_compile, starts_with_bom, comments)) {
    SetSourceAside(sys, *file);
    return nullptr;
  }

  SourceText* source = file.get();
  sys.results.LoadedSources.emplace(full_path, std::move(file));
  return source;
}

}  // namespace

namespace {

// Strings as the tokenizer reads them, byte by byte: a quote where an element
// begins opens one (inside a word it is part of the word), and the next byte
// equal to it closes it, over line feeds.
// Which bytes end a word, and which begin one outside a string, looked up
// rather than searched for: the reading steps through every byte of a script.
struct WordBytes {
  std::array<bool, 256> stops{};
  std::array<bool, 256> starts{};
};

constexpr WordBytes MakeWordBytes() {
  WordBytes t;
  for (char c : kWordStops) t.stops[static_cast<uint8_t>(c)] = true;
  for (int c = 0; c < 256; ++c) t.starts[c] = !t.stops[c];
  // Digits begin a number, which a quote may follow at once.
  for (char c : kOperatorBytes) t.starts[static_cast<uint8_t>(c)] = false;
  for (char c = '0'; c <= '9'; ++c) t.starts[static_cast<uint8_t>(c)] = false;
  for (char c : std::string_view(";,\0", 3)) t.starts[static_cast<uint8_t>(c)] = false;
  return t;
}

constexpr WordBytes kWordBytes = MakeWordBytes();

struct Reading {
  char quote = 0;  // of the string being read
  bool in_word = false;
  void Step(char c) {
    const auto byte = static_cast<uint8_t>(c);
    if (quote != 0) {
      if (c == quote) quote = 0;
    } else if (in_word) {
      in_word = !kWordBytes.stops[byte];
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else {
      in_word = kWordBytes.starts[byte];
    }
  }
};

// Follows the kept text of RemoveComments as it grows, as the tokenizer will
// read it, and tells which comments begin inside a string that was opened
// on the comment's own line: its author meant the slashes as text. A string
// left open lines before does not make every later comment suspect.
class CommentsInStrings {
 public:
  // `offset`: where the comment began in the kept text, all of which
  // before it is final. Not inlined: the byte loop runs faster on its own
  // than inside RemoveComments's.
  [[gnu::noinline]] void Found(std::string_view kept, uint32_t offset, char marker,
                               std::vector<CommentStart>* found) {
    // In locals: the bytes read could alias the members.
    Reading whole = whole_, line = line_;
    for (uint32_t at = at_; at < offset; ++at) {
      const char c = kept[at];
      whole.Step(c);
      if (c == '\n') {
        line = Reading();
      } else {
        line.Step(c);
      }
    }
    at_ = offset;
    const char open = whole.quote;
    // A line comment ends the author's string on its line.
    if (open != 0 && line.quote == open && offset != 0) {
      found->push_back({offset, marker, open});
      if (marker == '/') whole = line = Reading();
    }
    whole_ = whole;
    line_ = line;
  }

 private:
  Reading whole_, line_;  // from the start of the text, and of the line
  uint32_t at_ = 0;
};

}  // namespace

// Removes, from `position` on, "//" comments up to (not including) their
// line feed and "/* */" comments except for the line feeds inside them, so
// every line keeps its number. A line comment on the last line takes the rest
// of the contents with it, the NUL appended at load included. Markers are
// found byte-wise, also inside string literals; block comments do not nest.
// The text only shrinks, so it is compacted in place (the write cursor never
// passes the read cursor); a source that fails is not kept.
bool RemoveComments(Diagnostics& log, SourceText& file, std::vector<CommentStart>* starts) {
  std::string& text = file.contents;
  const size_t size = text.size();
  char* const p = text.data();
  size_t out = file.position;
  size_t i = file.position;
  // From `out` on, the kept text stands `i - out` bytes left of where the
  // file has it: recorded where that changes, for the columns of messages.
  file.shifts.clear();
  CommentsInStrings in_strings;
  auto shifted = [&] {
    file.shifts.push_back({static_cast<uint32_t>(out), static_cast<uint32_t>(i - out)});
  };
  while (i < size) {
    // Plain text up to the next slash moves in one piece.
    const void* slash = std::memchr(p + i, '/', size - i);
    const size_t next = slash ? static_cast<const char*>(slash) - p : size;
    if (out != i) std::memmove(p + out, p + i, next - i);
    out += next - i;
    i = next;
    if (i >= size) break;
    const char marker = i + 1 < size ? p[i + 1] : '\0';
    if (starts != nullptr && (marker == '/' || marker == '*')) {
      in_strings.Found({p, out}, static_cast<uint32_t>(out), marker, starts);
    }
    if (marker == '/') {
      const void* line_feed = std::memchr(p + i, '\n', size - i);
      if (line_feed == nullptr) break;
      i = static_cast<const char*>(line_feed) - p;
      shifted();
      p[out++] = '\n';
      ++i;
    } else if (marker == '*') {
      // Every line feed before the comment is still in the text, so the
      // comment's line is counted from what has been kept.
      const size_t comment_start = out;
      i += 2;
      for (;;) {
        // Up to the next star only the line feeds stay.
        const void* star = std::memchr(p + i, '*', size - i);
        const size_t stop = star ? static_cast<const char*>(star) - p : size;
        for (const void* lf = std::memchr(p + i, '\n', stop - i); lf != nullptr;) {
          i = static_cast<const char*>(lf) - p;
          shifted();
          p[out++] = '\n';
          const char* after = static_cast<const char*>(lf) + 1;
          lf = std::memchr(after, '\n', p + stop - after);
        }
        i = stop;
        if (i >= size) {
          const int32_t line = 1 + static_cast<int32_t>(std::count(p, p + comment_start, '\n'));
          log.ErrorAt({file.path, line, file.ColumnAt(static_cast<uint32_t>(comment_start))},
                      kUnclosedComment);
          return false;
        }
        ++i;
        if (i < size && p[i] == '/') {
          ++i;
          shifted();
          break;
        }
      }
    } else {
      p[out++] = '/';
      ++i;
    }
  }

  text.resize(out);
  // The text read past its new end is never read again: a script with many
  // comments would otherwise hold their megabytes until it is done.
  if (size - out > kDiscardedTail) DiscardPages(p + out + 1, size - out - 1);
  file.position = 0;
  file.line = 1;
  return true;
}


void WarnOfCommentsInStrings(Diagnostics& log, const SourceText& file,
                             const std::vector<CommentStart>& starts) {
  for (const CommentStart& comment : starts) {
    const char open = comment.quote;
    // The comment's own column: the byte before it is the line's, and the
    // offset itself already stands where the comment ended.
    SourcePlace place = Diagnostics::PlaceIn(file, comment.offset - 1);
    ++place.column;
    const LogArg quote = LogArg::Char(open);
    const LogArg marker = LogArg::Char(comment.marker);
    const ReportDetails details = CheckDetails(Check::kCommentInString);
    if (comment.marker == '/') {
      log.WarningAt(place, kMsgLineCommentInString, {quote}, details);
    } else {
      log.WarningAt(place, kMsgBlockCommentInString, {}, details);
    }
    log.NoteAt(place, kNoteCommentInString, {quote, quote, quote, marker, quote, marker});
  }
}

size_t StringThatSwallowsStatements(std::string_view text, size_t end, std::string_view word) {
  auto holds_word = [&](size_t from, size_t to) {
    const std::string_view body = text.substr(from, to - from);
    for (size_t at = body.find(word); at != std::string_view::npos; at = body.find(word, at + 1)) {
      const size_t after = at + word.size();
      const bool starts = at == 0 || kWordStops.find(body[at - 1]) != std::string_view::npos;
      if (starts && (after == body.size() || kWordStops.find(body[after]) != std::string_view::npos)) {
        return true;
      }
    }
    return false;
  };
  Reading reading;
  size_t opened = 0;
  bool line_feed = false, semicolon = false;
  for (size_t at = 0; at < end && at < text.size(); ++at) {
    const char c = text[at];
    const bool in_string = reading.quote != 0;
    reading.Step(c);
    if (!in_string) {
      if (reading.quote != 0) {
        opened = at;
        line_feed = semicolon = false;
      }
      continue;
    }
    line_feed = line_feed || c == '\n';
    semicolon = semicolon || (c == ';' && !line_feed);
    const bool closes = reading.quote == 0 || at + 1 == end || at + 1 == text.size();
    if (closes && line_feed && semicolon && holds_word(opened + 1, at + 1)) return opened;
  }
  return std::string_view::npos;
}

bool CommentsEnd(Diagnostics& log, const SourceText& file) {
  const char* const p = file.contents.data();
  const size_t size = file.contents.size();
  const std::string_view text(p, size);
  size_t i = file.position;
  for (;;) {
    const void* slash = i < size ? std::memchr(p + i, '/', size - i) : nullptr;
    if (slash == nullptr) return true;
    i = static_cast<const char*>(slash) - p;
    const char marker = i + 1 < size ? p[i + 1] : '\0';
    if (marker == '/') {
      // A line comment without a line feed after it takes the rest along.
      const void* line_feed = std::memchr(p + i, '\n', size - i);
      if (line_feed == nullptr) return true;
      i = static_cast<const char*>(line_feed) - p + 1;
    } else if (marker == '*') {
      const size_t end = text.find("*/", i + 2);
      if (end == std::string_view::npos) {
        // Comments before it keep their line feeds, so the line counts the same.
        const int32_t line = 1 + static_cast<int32_t>(std::count(p, p + i, '\n'));
        log.ErrorAt({file.path, line, file.ColumnAt(static_cast<uint32_t>(i))}, kUnclosedComment);
        return false;
      }
      i = end + 2;
    } else {
      ++i;
    }
  }
}

void SetSourceAside(KCSystem& sys, SourceText& source) {
  source.contents.clear();
  source.shifts.clear();
  source.lineShifts.clear();
  // The places of a large script's comments go too: the next scripts would
  // keep their storage for the rest of the run.
  if (source.shifts.capacity() * sizeof(TextShift) > kDiscardedTail) {
    std::vector<TextShift>().swap(source.shifts);
  }
  if (source.lineShifts.capacity() * sizeof(LineShift) > kDiscardedTail) {
    std::vector<LineShift>().swap(source.lineShifts);
  }
  source.textFromUtf8 = false;
  source.discardedTo = source.scannedTo = 0;
  source.contents.swap(sys.results.sourceText);
  if (sys.results.sourceText.capacity() > RunResults::kLargeStorage) std::string().swap(sys.results.sourceText);
  source.position = 0;
}

void ReleaseSources(KCSystem& sys) {
  for (auto& [full_path, source] : sys.results.LoadedSources) {
    // A released source must not stay the one that prefixes diagnostics.
    if (sys.script.currentSource == source.get()) sys.script.currentSource = nullptr;
    source->Reset();
    source.reset();
  }
  sys.results.LoadedSources.clear();
}

size_t FirstUtf8Character(std::string_view text) {
  size_t first = std::string::npos;
  for (size_t i = 0; i < text.size();) {
    if (static_cast<unsigned char>(text[i]) < 0x80) {
      ++i;
      continue;
    }
    const size_t length = Utf8CharacterLength(text.substr(i));
    if (length == 0) return std::string::npos;
    if (first == std::string::npos) first = i;
    i += length;
  }
  return first;
}

}  // namespace kv
