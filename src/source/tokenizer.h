// The tokenizer: reads the next statement of a source into the current
// statement as parameters of elements.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kv {

class Diagnostics;
class SourceText;
class Statement;

// The error of a statement whose form is wrong, shared by the tokenizer, the
// expression compiler, the statement handlers and command reading.
inline constexpr std::string_view kMsgSyntaxError = "文法が間違っています\n";

// The bytes that end a word (none of them is part of one): white space, the
// operator bytes, the comma, the colon and the semicolon.
inline constexpr std::string_view kWordStops = " \t\v\r\n\f+-*/=#@&|%<>{[()}],:;";
// The bytes that are an operator element of their own (or the first of a
// two-byte one).
inline constexpr std::string_view kOperatorBytes = "#%&()*+-/<=>@[]{|}";

// A bare word cut by a double-byte character whose second byte is a symbol
// (the character, the symbol).
inline constexpr std::string_view kMsgSplitWord =
    "\"%s\" の 2 バイト目が記号 \"%s\" として読まれ、語が分かれています。"
    "語を \"\" で囲んで文字列にしてください\n";

// Whether `word` ends with the first byte of a double-byte character: the
// tokenizer stops a word at a second byte that is also a symbol (the 0x5B
// of "ー"), and that byte starts the next element.
bool EndsWithLeadByte(std::string_view word);

struct SourcePlace;

// Reports kMsgSyntaxError at `place`, with a note that names the offending
// token (script text) and its column: in characters too, as an editor counts
// them, when `source` (the script of `place`) says they differ from bytes.
void ReportSyntaxError(Diagnostics& log, const SourcePlace& place, std::string_view token,
                       const SourceText* source = nullptr);
// That note alone.
void NoteSyntaxToken(Diagnostics& log, std::string_view token, const SourcePlace& place,
                     const SourceText* source = nullptr);
// The character column (1-based) of the byte column `byte_column` of line
// `line` of `source`'s file; 0 when the file cannot be read.
int32_t CharacterColumn(const SourceText& source, int32_t line, int32_t byte_column);

enum StatementResult : uint8_t {
  StatementRead = 0,
  StatementSyntaxError = 1,
  StatementEnd = 0xFF,  // the source has no further statement
};

// Whether `text`, written in a script between white space, reads back as one
// word element with exactly this text: it begins with a byte that begins a
// word, holds no byte that ends one, and fits the word reader. (A word right
// before a colon would be a label; the caller keeps them apart.)
bool ReadsAsWord(std::string_view text);

// Where the element that begins at byte `at` of `text` ends, by the rules
// the reader applies (one past its last byte): a word runs to the next byte
// that ends one (a double-byte character whose second byte is such a byte is
// cut, as the reader cuts it), a literal to its closing quote, a number as
// far as it reads, an operator over one or two bytes; any other byte is an
// element of its own. A literal's joined successors are not included.
size_t ElementEnd(std::string_view text, size_t at);

// After a syntax error the source's position is past the offending byte (the
// second comma, the stray colon, the number prefix), so every call that does
// not return StatementEnd moves the reader on. Every element gets its offset,
// and the source the place of the statement (see SourceText::statementOffset);
// at the end of the source that place is the end of its last line.
uint8_t ReadStatement(Diagnostics& log, Statement& statement, SourceText& source);

}  // namespace kv
