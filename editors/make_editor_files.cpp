// Writes the editor support of the script language to standard output, built
// from the converter's own command table and tokenizer rules so that it never
// drifts from them:
//
//   make_editor_files textmate       the TextMate grammar (VS Code)
//   make_editor_files configuration  the VS Code language configuration
//   make_editor_files vim            the Vim syntax file
//
// Both highlighters follow the tokenizer: a statement ends at a semicolon or
// right after a label; a command is the first word of a statement; a word runs
// up to the next stop byte, quotes and digits included; a number starts with a
// digit; strings run to the next quote of their own kind, across lines; and
// comments are cut out before anything else is read, inside strings too. A
// double-byte character whose second CP932 byte is a stop byte (ー is 81 5B)
// ends a word after its first byte; the editor shows such a character whole,
// so it is marked as an error wherever it stands outside strings and comments.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "language/command_table.h"
#include "platform/console.h"
#include "platform/text.h"
#include "source/tokenizer.h"

namespace {

// Words that open, divide, leave or close a block, by command id.
constexpr int32_t kBlockOpeners[] = {kv::cmd::kIf,   kv::cmd::kLoop,      kv::cmd::kFunction,
                                     kv::cmd::kVoid, kv::cmd::kDebugOnly, kv::cmd::kReleaseOnly};
constexpr int32_t kBlockMiddles[] = {kv::cmd::kElseIf, kv::cmd::kElse};
constexpr int32_t kBlockExits[] = {kv::cmd::kLoopExit, kv::cmd::kFunctionExit};
constexpr int32_t kBlockClosers[] = {kv::cmd::kEndIf,   kv::cmd::kLoopEnd,      kv::cmd::kFunctionEnd,
                                     kv::cmd::kVoidEnd, kv::cmd::kDebugOnlyEnd, kv::cmd::kReleaseOnlyEnd};

constexpr std::string_view kDigits = "0123456789";
constexpr std::string_view kQuotes = "\"'";
constexpr std::string_view kSpaces = " \t\v\r\n\f";

bool Contains(std::string_view set, char c) { return set.find(c) != std::string_view::npos; }

std::vector<int32_t> Ids(std::initializer_list<std::span<const int32_t>> lists) {
  std::vector<int32_t> ids;
  for (std::span<const int32_t> list : lists) ids.insert(ids.end(), list.begin(), list.end());
  return ids;
}

std::vector<std::string_view> Names(const std::vector<int32_t>& ids) {
  std::vector<std::string_view> names;
  for (int32_t id : ids) names.push_back(kv::kCommands[static_cast<size_t>(id)].name);
  return names;
}

// One Unicode code point from UTF-8 text that holds exactly one character.
bool SingleCodePoint(std::string_view utf8, uint32_t* code_point) {
  char32_t value = 0;
  if (utf8.empty() || kv::DecodeUtf8(utf8, &value) != utf8.size()) return false;
  *code_point = value;
  return true;
}

// The characters that split a word: every double-byte CP932 character whose
// second byte is a stop byte, as Unicode. Where decoders differ, the form
// other Shift_JIS decoders give is added: 81 7C is U+FF0D in CP932 and
// U+2212 in JIS X 0208.
std::vector<uint32_t> SplitCharacters() {
  std::vector<uint32_t> result;
  for (int lead = 0x80; lead <= 0xFF; ++lead) {
    if (!kv::IsCp932LeadByte(static_cast<unsigned char>(lead))) continue;
    for (char trail : kv::kWordStops) {
      if (static_cast<unsigned char>(trail) < 0x40) continue;  // never a second byte
      const char bytes[2] = {static_cast<char>(lead), trail};
      uint32_t code_point = 0;
      if (!SingleCodePoint(kv::Cp932ToUtf8(std::string_view(bytes, 2)), &code_point)) continue;
      if (code_point == 0xFFFD || code_point < 0x80) continue;
      result.push_back(code_point);
      if (code_point == 0xFF0D) result.push_back(0x2212);
    }
  }
  return result;
}

// Regular expressions are written for three engines: Oniguruma (the TextMate
// grammar), JavaScript (the language configuration) and Vim.
enum class Dialect { kOniguruma, kJavaScript, kVim };

// One byte inside a character class.
std::string ClassByte(char c, Dialect dialect) {
  char buffer[8];
  if (dialect == Dialect::kVim) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_') {
      return std::string(1, c);
    }
    std::snprintf(buffer, sizeof buffer, "\\x%02x", static_cast<unsigned char>(c));
    return buffer;
  }
  switch (c) {
    case '\t':
      return "\\t";
    case '\n':
      return "\\n";
    case '\r':
      return "\\r";
    case '\f':
      return "\\f";
    case '\v':
      return "\\x0B";
    default:
      break;
  }
  // A single & is literal in both engines, but && is Oniguruma's class
  // intersection: escaped there whatever stands beside it.
  const std::string_view special = dialect == Dialect::kOniguruma ? "\\[]^-&" : "\\[]^-";
  if (Contains(special, c)) return std::string{'\\', c};
  return std::string(1, c);
}

// A code point inside a character class; those beyond U+FFFF never occur
// (CP932 has none).
std::string ClassCodePoint(uint32_t code_point, Dialect dialect) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, dialect == Dialect::kOniguruma ? "\\x{%04X}" : "\\u%04x", code_point);
  return buffer;
}

// The members of a character class: the bytes of `bytes`, less those of
// `except`, and the code points.
std::string ClassBody(std::string_view bytes, std::string_view except,
                      const std::vector<uint32_t>& code_points, Dialect dialect) {
  std::string body;
  for (char c : bytes) {
    if (!Contains(except, c)) body += ClassByte(c, dialect);
  }
  for (uint32_t code_point : code_points) body += ClassCodePoint(code_point, dialect);
  return body;
}

// The classes and patterns both highlighters are built from.
struct Patterns {
  std::string spaces;          // class body: white space
  std::string stops_no_colon;  // class body: what may follow a command word
  std::string word;            // pattern: one word
  std::string word_char;       // class body: what continues a word
  std::string split;           // class body: characters that split a word
  std::string operators;       // class body: operator bytes other than @
  std::string commands;        // alternation of the other commands
  std::string block_words;     // alternation of the block words
};

std::string Alternation(const std::vector<std::string_view>& names, std::string_view separator) {
  std::string result;
  for (std::string_view name : names) {
    if (!result.empty()) result += separator;
    result += name;
  }
  return result;
}

Patterns MakePatterns(Dialect dialect) {
  const std::vector<uint32_t> split = SplitCharacters();
  const std::vector<uint32_t> none;
  Patterns p;
  p.spaces = ClassBody(kSpaces, "", none, dialect);
  p.stops_no_colon = ClassBody(kv::kWordStops, ":", none, dialect);
  p.split = ClassBody("", "", split, dialect);
  const std::string word_stop = ClassBody(kv::kWordStops, "", split, dialect);
  p.word_char = "^" + word_stop;
  const std::string first_excluded = ClassBody(
      std::string(kv::kWordStops) + std::string(kDigits) + std::string(kQuotes), "", split, dialect);
  p.word = "[^" + first_excluded + "][^" + word_stop + "]*";
  p.operators = ClassBody(kv::kOperatorBytes, "@", none, dialect);
  const std::vector<int32_t> block_ids = Ids({kBlockOpeners, kBlockMiddles, kBlockExits, kBlockClosers});
  std::vector<int32_t> command_ids;
  for (int32_t id = 0; id < kv::kCommandCount; ++id) {
    if (std::find(block_ids.begin(), block_ids.end(), id) == block_ids.end()) command_ids.push_back(id);
  }
  const std::string_view separator = dialect == Dialect::kVim ? "\\|" : "|";
  p.commands = Alternation(Names(command_ids), separator);
  p.block_words = Alternation(Names(block_ids), separator);
  return p;
}

// A minimal JSON document: objects keep their members in order.
struct Json {
  enum Kind { kString, kObject, kArray } kind = kString;
  std::string text;
  std::vector<std::pair<std::string, Json>> members;
  std::vector<Json> items;

  Json(const char* s) : text(s) {}             // NOLINT: strings read naturally in the tables below
  Json(std::string s) : text(std::move(s)) {}  // NOLINT
  static Json Object(std::vector<std::pair<std::string, Json>> members) {
    Json json("");
    json.kind = kObject;
    json.members = std::move(members);
    return json;
  }
  static Json Array(std::vector<Json> items) {
    Json json("");
    json.kind = kArray;
    json.items = std::move(items);
    return json;
  }
};

void PrintJsonString(std::string_view text, std::string* out) {
  *out += '"';
  for (char c : text) {
    if (c == '"' || c == '\\') {
      *out += '\\';
      *out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned char>(c));
      *out += buffer;
    } else {
      *out += c;
    }
  }
  *out += '"';
}

void PrintJson(const Json& json, int indent, std::string* out) {
  const std::string inner(static_cast<size_t>(indent + 2), ' ');
  const std::string outer(static_cast<size_t>(indent), ' ');
  if (json.kind == Json::kString) {
    PrintJsonString(json.text, out);
  } else if (json.kind == Json::kObject) {
    *out += "{\n";
    for (size_t i = 0; i < json.members.size(); ++i) {
      *out += inner;
      PrintJsonString(json.members[i].first, out);
      *out += ": ";
      PrintJson(json.members[i].second, indent + 2, out);
      *out += i + 1 < json.members.size() ? ",\n" : "\n";
    }
    *out += outer + "}";
  } else {
    *out += "[\n";
    for (size_t i = 0; i < json.items.size(); ++i) {
      *out += inner;
      PrintJson(json.items[i], indent + 2, out);
      *out += i + 1 < json.items.size() ? ",\n" : "\n";
    }
    *out += outer + "]";
  }
}

Json Include(const char* name) { return Json::Object({{"include", std::string("#") + name}}); }

Json Scope(const char* name) { return Json::Object({{"name", std::string(name) + ".kvscript"}}); }

Json Captures(std::vector<std::pair<std::string, const char*>> scopes) {
  std::vector<std::pair<std::string, Json>> members;
  for (auto& [group, scope] : scopes) members.emplace_back(group, Scope(scope));
  return Json::Object(std::move(members));
}

Json TextMateGrammar() {
  const Patterns p = MakePatterns(Dialect::kOniguruma);
  // What ends a statement besides its semicolon: a label, and each syntax
  // error after which the converter reads the rest as a new statement (a
  // stray colon, a second comma, a number prefix without digits).
  const std::string statement_end =
      "(;)|(" + p.word + ")(:)|(:)|(?<=,)[" + p.spaces + "]*(,)|(0[xX](?![0-9A-Fa-f])|0[bB](?![01]))";
  const Json end_captures = Captures({{"1", "punctuation.terminator.statement"},
                                      {"2", "entity.name.label"},
                                      {"3", "punctuation.separator.label"},
                                      {"4", "invalid.illegal.stray-colon"},
                                      {"5", "invalid.illegal.empty-parameter"},
                                      {"6", "invalid.illegal.number-prefix"}});
  const std::string after_command = "(?=[" + p.stops_no_colon + "]|$)";
  auto string_rule = [](const char* quote, const char* kind) {
    return Json::Object({{"name", std::string("string.quoted.") + kind + ".kvscript"},
                         {"begin", quote},
                         {"end", quote},
                         {"beginCaptures", Captures({{"0", "punctuation.definition.string.begin"}})},
                         {"endCaptures", Captures({{"0", "punctuation.definition.string.end"}})},
                         {"patterns", Json::Array({Include("comments")})}});
  };
  return Json::Object({
      {"comment", "Generated by make_editor_files from the converter's command table; do not edit."},
      {"name", "KVScript"},
      {"scopeName", "source.kvscript"},
      {"patterns", Json::Array({Include("comments"), Include("leading-comma"), Include("terminator"),
                                Include("label"), Include("command-statement"), Include("statement")})},
      {"repository",
       Json::Object({
           {"comments",
            Json::Object({{"patterns", Json::Array({Include("line-comment"), Include("block-comment")})}})},
           {"line-comment",
            Json::Object({{"name", "comment.line.double-slash.kvscript"},
                          {"match", "(//).*"},
                          {"captures", Captures({{"1", "punctuation.definition.comment"}})}})},
           {"block-comment",
            Json::Object({{"name", "comment.block.kvscript"},
                          {"begin", "/\\*"},
                          {"end", "\\*/"},
                          {"beginCaptures", Captures({{"0", "punctuation.definition.comment"}})},
                          {"endCaptures", Captures({{"0", "punctuation.definition.comment"}})}})},
           {"leading-comma",
            Json::Object({{"name", "invalid.illegal.empty-parameter.kvscript"}, {"match", ","}})},
           {"terminator",
            Json::Object({{"name", "punctuation.terminator.statement.kvscript"}, {"match", ";"}})},
           {"label", Json::Object({{"match", "(" + p.word + ")(:)"},
                                   {"captures", Captures({{"1", "entity.name.label"},
                                                          {"2", "punctuation.separator.label"}})}})},
           {"command-statement",
            Json::Object({{"begin", "(?:(" + p.block_words + ")|(" + p.commands + "))" + after_command},
                          {"beginCaptures",
                           Captures({{"1", "keyword.control.block"}, {"2", "support.function.command"}})},
                          {"end", statement_end},
                          {"endCaptures", end_captures},
                          {"patterns", Json::Array({Include("statement-body")})}})},
           {"statement", Json::Object({{"begin", "(?=[^" + p.spaces + "])"},
                                       {"end", statement_end},
                                       {"endCaptures", end_captures},
                                       {"patterns", Json::Array({Include("statement-body")})}})},
           {"statement-body",
            Json::Object({{"patterns", Json::Array({Include("comments"), Include("strings"),
                                                    Include("numbers"), Include("split-character"),
                                                    Include("initializer"), Include("operators"),
                                                    Include("parameter-separator"), Include("word")})}})},
           {"strings", Json::Object({{"patterns", Json::Array({string_rule("\"", "double"),
                                                               string_rule("'", "single")})}})},
           {"numbers",
            Json::Object(
                {{"patterns", Json::Array({Json::Object({{"name", "constant.numeric.hex.kvscript"},
                                                         {"match", "0[xX][0-9A-Fa-f]+"}}),
                                           Json::Object({{"name", "constant.numeric.binary.kvscript"},
                                                         {"match", "0[bB][01]+"}}),
                                           Json::Object({{"name", "constant.numeric.decimal.kvscript"},
                                                         {"match", "[0-9]+(?:\\.[0-9]*)?"}})})}})},
           {"split-character", Json::Object({{"name", "invalid.illegal.split-character.kvscript"},
                                             {"match", "[" + p.split + "]"}})},
           {"initializer", Json::Object({{"name", "keyword.operator.initializer.kvscript"}, {"match", "@"}})},
           {"operators",
            Json::Object({{"name", "keyword.operator.kvscript"}, {"match", "[" + p.operators + "]"}})},
           {"parameter-separator",
            Json::Object({{"name", "punctuation.separator.parameter.kvscript"}, {"match", ","}})},
           // Other words stay uncoloured, but are read whole: digits and
           // quotes inside a word start no number and no string.
           {"word", Json::Object({{"match", p.word}})},
       })},
  });
}

// A line that begins with one of the block words.
std::string BlockLine(const std::vector<int32_t>& ids, const Patterns& p) {
  return "^\\s*(?:" + Alternation(Names(ids), "|") + ")(?=[" + p.stops_no_colon + "]|$)";
}

Json LanguageConfiguration() {
  const Patterns p = MakePatterns(Dialect::kJavaScript);
  auto pair = [](const char* open, const char* close) { return Json::Array({open, close}); };
  auto closing = [](const char* open, const char* close, bool outside_strings) {
    if (!outside_strings) return Json::Object({{"open", open}, {"close", close}});
    return Json::Object({{"open", open}, {"close", close}, {"notIn", Json::Array({"string", "comment"})}});
  };
  return Json::Object({
      {"comments", Json::Object({{"lineComment", "//"}, {"blockComment", pair("/*", "*/")}})},
      {"brackets", Json::Array({pair("(", ")"), pair("[", "]"), pair("{", "}")})},
      {"autoClosingPairs",
       Json::Array({closing("(", ")", false), closing("[", "]", false), closing("{", "}", false),
                    closing("\"", "\"", true), closing("'", "'", true), closing("/*", " */", true)})},
      {"surroundingPairs",
       Json::Array({pair("(", ")"), pair("[", "]"), pair("{", "}"), pair("\"", "\""), pair("'", "'")})},
      {"wordPattern",
       "[^" + ClassBody(std::string(kv::kWordStops) + std::string(kQuotes), "", {}, Dialect::kJavaScript) +
           "]+"},
      {"indentationRules",
       Json::Object({{"increaseIndentPattern", BlockLine(Ids({kBlockOpeners, kBlockMiddles}), p)},
                     {"decreaseIndentPattern", BlockLine(Ids({kBlockMiddles, kBlockClosers}), p)}})},
  });
}

std::string VimSyntax() {
  const Patterns p = MakePatterns(Dialect::kVim);
  const std::string after_command = "\\%([" + p.stops_no_colon + "]\\|$\\)\\@=";
  std::string out =
      "\" Vim syntax file for the KVConverter script language.\n"
      "\" Generated by make_editor_files from the converter's command table; do not edit.\n"
      "if exists('b:current_syntax')\n"
      "  finish\n"
      "endif\n"
      "let s:cpo_save = &cpo\n"
      "set cpo&vim\n"
      "\n"
      "syn case match\n"
      "syn sync fromstart\n"
      "\n"
      "\" Comments are cut out before anything else is read, inside strings too.\n"
      "syn cluster kvscriptComment contains=kvscriptLineComment,kvscriptBlockComment\n"
      "\n"
      "\" Inside a statement. Every element is matched whole, so digits and quotes\n"
      "\" inside a word start no number and no string. Where an element and the\n"
      "\" end of the statement match at the same place, Vim takes the element: a\n"
      "\" word before a colon and a number prefix without digits are left to the end.\n"
      "syn match kvscriptWord contained \"" +
      p.word + "\\%([" + p.word_char +
      "]\\|:\\)\\@!\"\n"
      "syn match kvscriptOperator contained \"[" +
      p.operators +
      "]\"\n"
      "syn match kvscriptInitializer contained \"@\"\n"
      "syn match kvscriptSeparator contained \",\"\n"
      "syn match kvscriptSplit contained \"[" +
      p.split +
      "]\"\n"
      "syn match kvscriptNumber contained \"\\%(0[xXbB]\\)\\@![0-9]\\+\\%(\\.[0-9]*\\)\\=\"\n"
      "syn match kvscriptNumber contained \"0[bB][01]\\+\"\n"
      "syn match kvscriptNumber contained \"0[xX][0-9A-Fa-f]\\+\"\n"
      "syn region kvscriptString contained start=+\"+ end=+\"+ contains=@kvscriptComment,@Spell\n"
      "syn region kvscriptString contained start=+'+ end=+'+ contains=@kvscriptComment,@Spell\n"
      "syn cluster kvscriptBody contains=@kvscriptComment,kvscriptWord,kvscriptOperator,kvscriptInitializer,"
      "kvscriptSeparator,kvscriptSplit,kvscriptNumber,kvscriptString\n"
      "\n"
      "\" A statement ends at its semicolon, after a label, or at a syntax error\n"
      "\" after which the rest is read as a new statement.\n"
      "let s:end = 'matchgroup=kvscriptTerminator end=\";\" matchgroup=kvscriptLabel end=\"" +
      p.word + ":\" matchgroup=kvscriptError end=\":\" end=\"\\%(,[" + p.spaces +
      "]*\\)\\@<=,\" end=\"0[xX]\\%([0-9A-Fa-f]\\)\\@!\" end=\"0[bB][01]\\@!\"'\n"
      "exe 'syn region kvscriptStatement start=\"[^" +
      p.spaces +
      "]\\@=\" ' . s:end . ' contains=@kvscriptBody'\n"
      "exe 'syn region kvscriptCommandStatement matchgroup=kvscriptCommand start=\"\\%(" +
      p.commands + "\\)" + after_command +
      "\" ' . s:end . ' contains=@kvscriptBody'\n"
      "exe 'syn region kvscriptCommandStatement matchgroup=kvscriptBlock start=\"\\%(" +
      p.block_words + "\\)" + after_command +
      "\" ' . s:end . ' contains=@kvscriptBody'\n"
      "\n"
      "\" Between statements.\n"
      "syn match kvscriptLabel \"" +
      p.word +
      ":\"\n"
      "syn match kvscriptTerminator \";\"\n"
      "syn match kvscriptError \",\"\n"
      "syn match kvscriptError \"0[xX][0-9A-Fa-f]\\@!\\|0[bB][01]\\@!\"\n"
      "\" Comments last: they win over a statement that would start with the same\n"
      "\" slash, here and inside strings.\n"
      "syn match kvscriptLineComment \"//.*$\" contains=@Spell\n"
      "syn region kvscriptBlockComment start=\"/\\*\" end=\"\\*/\" contains=@Spell\n"
      "\n"
      "hi def link kvscriptLineComment Comment\n"
      "hi def link kvscriptBlockComment Comment\n"
      "hi def link kvscriptString String\n"
      "hi def link kvscriptNumber Number\n"
      "hi def link kvscriptOperator Operator\n"
      "hi def link kvscriptInitializer Special\n"
      "hi def link kvscriptCommand Function\n"
      "hi def link kvscriptBlock Conditional\n"
      "hi def link kvscriptLabel Label\n"
      "hi def link kvscriptSplit Error\n"
      "hi def link kvscriptError Error\n"
      "\n"
      "let b:current_syntax = 'kvscript'\n"
      "let &cpo = s:cpo_save\n"
      "unlet s:cpo_save\n";
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string_view what = argc == 2 ? argv[1] : "";
  std::string out;
  if (what == "textmate") {
    PrintJson(TextMateGrammar(), 0, &out);
    out += '\n';
  } else if (what == "configuration") {
    PrintJson(LanguageConfiguration(), 0, &out);
    out += '\n';
  } else if (what == "vim") {
    out = VimSyntax();
  } else {
    std::fprintf(stderr, "usage: make_editor_files textmate|configuration|vim\n");
    return 2;
  }
  if (!kv::Cp932ConversionAvailable()) {
    std::fprintf(stderr, "make_editor_files: no CP932 conversion on this system\n");
    return 1;
  }
  kv::WriteStdout(out);
  std::string reason;
  if (!kv::StdoutIntact(&reason)) {
    std::fprintf(stderr, "make_editor_files: cannot write to standard output: %s\n", reason.c_str());
    return 1;
  }
  return 0;
}
