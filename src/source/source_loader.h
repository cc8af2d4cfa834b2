// Loading of script sources: each is read when it is found, to check it, and
// set aside; it is read again, its comments removed, when it becomes the
// current script, and kept in KCSystem's results.LoadedSources until the
// conversion releases the sources.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

// The script every game starts with, in the engine directory.
inline constexpr char kMainScriptName[] = "main.txt";

// How a script is saved, as the conversion words it (format texts with one
// %s: kSaveAsCp932, or the character).
inline constexpr std::string_view kMsgUtf8Bom = "ファイルの先頭に UTF-8 の BOM があります。%s\n";
inline constexpr std::string_view kMsgUtf8Script =
    "UTF-8 で保存されたスクリプトのようです (文字列は文字化けします)。%s\n";
inline constexpr char kSaveAsCp932[] =
    "スクリプトは Shift_JIS (CP932) で保存するか、--source-encoding=utf-8 を指定してください";
inline constexpr std::string_view kMsgNoCp932Character = "文字 \"%s\" は Shift_JIS (CP932) で表せません\n";

// Where the first character beyond ASCII of `text` begins, when the whole
// text reads as UTF-8 and has such a character; npos otherwise. CP932 text
// hardly ever reads so: the first bytes of its common characters (0x81 to
// 0x9F) cannot begin a UTF-8 character.
size_t FirstUtf8Character(std::string_view text);

class Diagnostics;
class SourceText;
class KCSystem;

// True when the file exists; stores its absolute path. Prints
// "ファイル "%s" が見つかりませんでした" (not counted) when it does not.
bool ResolvePath(KCSystem& sys, const std::string& name, std::string* absolute);

// Registers a script found by the file search: resolves and loads it and
// gives it an empty temporary object.
bool AddScript(KCSystem& sys, const std::string& path);
// The path of the main script: main.txt in the engine directory.
std::string MainScriptPath(const KCSystem& sys);
// Makes main.txt of the engine directory the current script.
bool StartMainScript(KCSystem& sys);
// Makes the next unconverted script (ascending byte order of paths) current;
// false when none is left.
bool NextScript(KCSystem& sys);

// Loads `name` (relative or absolute); null when it cannot be loaded. A source
// loaded before is returned unchanged, with a warning. Unless `to_compile`,
// the text is only checked (it can be read, its comments end) and its
// comments stay in it: the caller sets it aside at once. A script read as
// UTF-8 (--source-encoding=utf-8) is converted to CP932 when it becomes the
// current script.
SourceText* LoadSource(KCSystem& sys, const std::string& name, bool to_compile = true);
// Where a comment began, in the text as it is after comment removal, its
// marker's second byte ('/' or '*') and the quote of the string it stands in.
struct CommentStart {
  uint32_t offset;
  char marker;
  char quote;
};

// Removes "//" and "/* */" comments in place, keeping every line feed; with
// `starts`, appends where each comment began that stands inside a string
// opened on its own line, as the tokenizer reads strings (the others are
// not kept: a script may hold millions).
bool RemoveComments(Diagnostics& log, SourceText& file, std::vector<CommentStart>* starts = nullptr);
// Warns of each comment of `starts` (of `file`, its comments just removed,
// as RemoveComments found them): its author meant the slashes as text.
void WarnOfCommentsInStrings(Diagnostics& log, const SourceText& file,
                             const std::vector<CommentStart>& starts);
// Where the first string literal before `end` of `text` (a script's text
// as compiled) opens that holds a ';' and then a line feed, as a string left
// open does when it runs on over the statements that follow, and `word` as a
// word of its own (such as the block command whose absence an error tells
// of); npos when none.
size_t StringThatSwallowsStatements(std::string_view text, size_t end, std::string_view word);
// Whether every "/*" of the text finds its "*/", as RemoveComments sees
// them; reports the first that does not as RemoveComments does. The text
// does not change.
bool CommentsEnd(Diagnostics& log, const SourceText& file);
// Gives the text of a loaded source back to the shared storage; the source
// keeps its path, and is read again when it becomes current.
void SetSourceAside(KCSystem& sys, SourceText& source);
void ReleaseSources(KCSystem& sys);

}  // namespace kv
