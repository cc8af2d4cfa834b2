#include "source/tokenizer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "context/kc_system.h"
#include "language/kc_command.h"
#include "context/source_text.h"
#include "source/numbers.h"
#include "source/source_loader.h"
#include "test_support/memory_file_system.h"

namespace kv {
namespace {

using namespace std::string_literals;

std::string RenderElement(const CommandElement& e) {
  const bool plain = e.number == 0;
  switch (e.kind) {
    case ElemOperator:
      return (plain ? "o:" : "o!:") + e.text;
    case ElemString:
      return (plain ? "s:" : "s!:") + e.text;
    case ElemNumber: {
      char buffer[40];
      std::snprintf(buffer, sizeof buffer, "n:%.17g", e.number);
      return e.text.empty() ? buffer : "n!";
    }
    case ElemLabel:
      return (plain ? "l:" : "l!:") + e.text;
    case ElemWord:
      return (plain ? "w:" : "w!:") + e.text;
    default:
      return "?";
  }
}

// The statement as text: parameters separated by " | ", elements by blanks.
std::string Render(const KCCommand& command) {
  std::string text;
  for (uint32_t p = 0; p < command.GetParamCount(); ++p) {
    if (p > 0) text += " | ";
    for (uint32_t e = 0; const CommandElement* element = command.ElementAt(p, e); ++e) {
      if (e > 0) text += ' ';
      text += RenderElement(*element);
    }
  }
  return text;
}

class TokenizerTest : public ::testing::Test {
 protected:
  TokenizerTest() { sys.seedClock = [] { return 12345u; }; }

  // Opens `text` as the current source /game/main.txt, as loaded (text mode,
  // NUL appended; comments play no part here).
  SourceText& Source(const std::string& text) {
    fs.AddFile("/game/main.txt", text);
    EXPECT_TRUE(source.FileOpen("/game/main.txt", ModeRead));
    sys.script.currentSource = &source;
    return source;
  }
  uint8_t Read() { return ReadStatement(sys.log, command.statement(), source); }

  MemoryFileSystem fs{"/game"};
  StringSink out;
  KCSystem sys{fs, out, ConsoleEncoding::kUtf8};
  KCCommand command{sys};
  SourceText source{fs};
};

TEST_F(TokenizerTest, Statements) {
  struct Case {
    std::string source;
    std::string statement;
  };
  const Case cases[] = {
      {"a b, c;", "w:a w:b | w:c"},
      {"x == 10;", "w:x o:== n:10"},
      {"x =< 1;", "w:x o:= o:< n:1"},
      {"a != b;", "w:a w:! o:= w:b"},
      {"#%&()*+-/=<>@[]{|};", "o:# o:% o:& o:( o:) o:* o:+ o:- o:/ o:= o:< o:> o:@ o:[ o:] o:{ o:| o:}"},
      {"<>++&&||&|<=>=;", "o:< o:> o:+ o:+ o:&& o:|| o:& o:| o:<= o:>="},
      {"-5;", "o:- n:5"},
      {"0x1F;", "n:31"},
      {"0b102;", "n:2 n:2"},
      {"12abc;", "n:12 w:abc"},
      {"1.5.3;", "n:1.5 w:.3"},
      {"09 0X10 0.5;", "n:9 n:16 n:0.5"},
      {"a,;", "w:a | "},
      {";", ""},
      {"f(a[1],b);", "w:f o:( w:a o:[ n:1 o:] | w:b o:)"},
      {"a$b.c?d^e~f`g\\h;", "w:a$b.c?d^e~f`g\\h"},
      {"a\"b\";", "w:a\"b\""},  // a quote does not stop a word
      {"\x01\x7F\xFF;", "w:\x01\x7F\xFF"},
      {"a\0b;"s, "w:a\0b"s},  // a NUL inside a word is kept, as the string read keeps it
      {"text, \"a,b;c\";", "w:text | s:a,b;c"},
      {"\"ab\"\n'cd';", "s:abcd"},
      {"'it\"s' \"\";", "s:it\"s"},
      {"\"\\\";", "s:\\"},  // no escapes
      {"label:", "l:label"},
      {"a b lbl:c;", "w:a w:b l:lbl"},
      // Shift-JIS: a second byte that is a stop byte splits the character.
      {"\x83\x51\x81\x5B\x83\x80;", "w:\x83\x51\x81 o:[ w:\x83\x80"},
      {"\x95\x5C\x83\x7C\x8F\x40\x83\x7B;", "w:\x95\x5C\x83 o:| w:\x8F o:@ w:\x83 o:{"},
      {" \t\v\f\r\na\r;", "w:a"},
  };
  for (const Case& c : cases) {
    Source(c.source);
    EXPECT_EQ(Read(), StatementRead) << c.source;
    EXPECT_EQ(Render(command), c.statement) << c.source;
  }
  EXPECT_EQ(out.text, "");
}

TEST_F(TokenizerTest, PositionAndLineAfterEachStatement) {
  Source("a\n\nb\n;c:\n  \"x\ny\"\n;");
  EXPECT_EQ(Read(), StatementRead);
  EXPECT_EQ(Render(command), "w:a w:b");
  EXPECT_EQ(source.line, 4);  // the line of the semicolon
  EXPECT_EQ(source.position, 6u);
  EXPECT_EQ(Read(), StatementRead);
  EXPECT_EQ(Render(command), "l:c");
  EXPECT_EQ(source.position, 8u);
  EXPECT_EQ(Read(), StatementRead);
  EXPECT_EQ(Render(command), "s:x\ny");
  EXPECT_EQ(source.line, 7);
  EXPECT_EQ(Read(), StatementEnd);
  EXPECT_EQ(Read(), StatementEnd);  // and again: no progress needed at the end
}

TEST_F(TokenizerTest, LongWordsAndStrings) {
  // A word is cut after 511 bytes; the rest is the next element.
  Source(std::string(600, 'w') + ";");
  EXPECT_EQ(Read(), StatementRead);
  EXPECT_EQ(Render(command), "w:" + std::string(511, 'w') + " w:" + std::string(89, 'w'));
  // A 511-byte word followed by a colon is still a label.
  Source(std::string(511, 'k') + ":");
  EXPECT_EQ(Read(), StatementRead);
  EXPECT_EQ(Render(command), "l:" + std::string(511, 'k'));
  // A string body is taken whole, however long.
  const std::string body = std::string(700, 'x') + "\n" + std::string(700, 'y');
  Source("t \"" + body + "\";");
  EXPECT_EQ(Read(), StatementRead);
  EXPECT_EQ(Render(command), "w:t s:" + body);
  EXPECT_EQ(source.line, 2);
}

TEST_F(TokenizerTest, EndOfData) {
  // A clean end and a NUL that ends the source: 0xFF and no message.
  Source("");
  EXPECT_EQ(Read(), StatementEnd);
  Source("a; \0b;"s);
  EXPECT_EQ(Read(), StatementRead);
  EXPECT_EQ(Read(), StatementEnd);
  EXPECT_EQ(source.position, 3u);
  EXPECT_EQ(out.text, "");
  // A statement without its semicolon: 0xFF and a warning at the line where
  // it begins. Parameters closed by a comma stay.
  Source("a;\n\n x, y\n z\n");
  EXPECT_EQ(Read(), StatementRead);
  EXPECT_EQ(Read(), StatementEnd);
  EXPECT_EQ(Render(command), "w:x");
  EXPECT_EQ(out.text, "警告 : /game/main.txt 3 行目 ; がないためファイルの終端のコマンドを無視しました\n");
  EXPECT_EQ(sys.log.warningCount, 1);

  // The end right after a string literal, closed or not, has its message,
  // on the last line of the file (a final line feed opens none).
  const std::string message =
      " 行目 読み込み中にファイルの終端が見つかりました\n"
      "コマンドの最後に;がないか、endコマンドがない可能性があります\n"
      "; もしくは文字列終端(\", ')がない可能性があります\n";
  for (auto [text, line] : {std::pair{"a \"b\"\n", "1"}, std::pair{"a '\nb", "2"}}) {
    Source(text);
    out.text.clear();
    EXPECT_EQ(Read(), StatementEnd) << text;
    EXPECT_EQ(out.text, "エラー : /game/main.txt " + std::string(line) + message) << text;
    EXPECT_EQ(Read(), StatementEnd);
  }
  EXPECT_EQ(sys.log.errorCount, 2);
}

TEST_F(TokenizerTest, SyntaxErrorsAndWhereReadingResumes) {
  struct Case {
    std::string source;
    std::string message;    // the console line
    std::string next;       // the statement read by the following call
  };
  const std::string prefix = "エラー : /game/main.txt ";
  const Case cases[] = {
      {"a,,b;",
       "1 行目 文法が間違っています\n備考 : /game/main.txt 1 行目 問題の字句は \",\" (3 桁目) です\n",
       "w:b"},
      {"\n,a;",
       "2 行目 文法が間違っています\n備考 : /game/main.txt 2 行目 問題の字句は \",\" (1 桁目) です\n",
       "w:a"},
      {"x\n\nlabel :y;",
       "3 行目 文法が間違っています\n備考 : /game/main.txt 3 行目 問題の字句は \":\" (7 桁目) です\n"
       "備考 : /game/main.txt 3 行目 : はラベルの名前の直後に書いて、ラベルを定義します\n",
       "w:y"},
      {": ;",
       "1 行目 文法が間違っています\n備考 : /game/main.txt 1 行目 問題の字句は \":\" (1 桁目) です\n"
       "備考 : /game/main.txt 1 行目 : はラベルの名前の直後に書いて、ラベルを定義します\n",
       ""},
      {"0x;", "1 行目 数値の取得に失敗しました\n", ""},
      {"n 0bz;", "1 行目 数値の取得に失敗しました\n", "w:z"},
  };
  for (const Case& c : cases) {
    Source(c.source);
    out.text.clear();
    EXPECT_EQ(Read(), StatementSyntaxError) << c.source;
    EXPECT_EQ(out.text, prefix + c.message) << c.source;
    EXPECT_EQ(Read(), StatementRead) << c.source;
    EXPECT_EQ(Render(command), c.next) << c.source;
  }
}

TEST_F(TokenizerTest, ElementsKeepTheLineAndColumnTheFileGivesThem) {
  // Columns count the bytes of the line as the file has it: comments that
  // were removed before an element still count.
  Source("/* c */ ab /**/cd, \"e\" // f\n\tg /* two\nlines */ h:\n");
  ASSERT_TRUE(RemoveComments(sys.log, source));
  ASSERT_EQ(Read(), StatementRead);
  ASSERT_EQ(Render(command), "w:ab w:cd | s:e w:g l:h");
  std::string places;
  for (uint32_t p = 0; p < command.GetParamCount(); ++p) {
    for (uint32_t e = 0; const CommandElement* element = command.ElementAt(p, e); ++e) {
      places += std::to_string(source.LineAt(element->offset)) + ":" +
                std::to_string(source.ColumnAt(element->offset)) + " ";
    }
  }
  EXPECT_EQ(places, "1:9 1:16 1:20 2:2 3:10 ");
  EXPECT_EQ(source.statementLine, 1);
  EXPECT_EQ(source.ColumnAt(source.statementOffset), 9);
}

// Plain byte reads on a loaded file, each keeping position and line in step:
// the building blocks of the reference reader below.
bool AtEnd(const SourceText& f) { return f.position >= f.contents.size(); }
bool PeekChar(SourceText& f, uint8_t* c) {
  if (AtEnd(f)) return false;
  *c = static_cast<uint8_t>(f.contents[f.position]);
  return true;
}
bool GetChar(SourceText& f, uint8_t* c) {
  if (!PeekChar(f, c)) return false;
  if (*c == '\n') ++f.line;
  ++f.position;
  return true;
}
// False at the end of the text (its NUL included).
bool SkipSpace(SourceText& f) {
  uint8_t c = 0;
  while (PeekChar(f, &c) && c != '\0') {
    if (!std::isspace(c)) return true;
    GetChar(f, &c);
  }
  return false;
}
// Reads until a byte of `stop`, the end, or width - 1 bytes (then returns width).
int ReadUntil(SourceText& f, std::string* out, std::string_view stop, int width) {
  out->clear();
  uint8_t c = 0;
  while (static_cast<int>(out->size()) < width - 1 && PeekChar(f, &c) &&
         stop.find(static_cast<char>(c)) == std::string_view::npos) {
    GetChar(f, &c);
    out->push_back(static_cast<char>(c));
  }
  return static_cast<int>(out->size()) == width - 1 ? width : static_cast<int>(out->size());
}
size_t ReadNumber(SourceText& f, double* value) {
  size_t consumed = 0;
  const std::string_view text = std::string_view(f.contents).substr(f.position);
  const size_t count = ReadNumberText(text, value, &consumed);
  f.position += static_cast<uint32_t>(std::min(consumed, text.size()));
  return count;
}

// The reader written plainly on those reads, as the reference for the direct
// reader: both must give the same statements, results, positions and lines.
// It follows the same choices: a leading comma is an error, the offending
// comma or colon is consumed, a string body is read whole.
uint8_t ReferenceRead(SourceText& f, std::vector<std::vector<std::string>>* statement) {
  statement->clear();
  std::vector<std::string> parameter;
  bool after_comma = true;
  for (;;) {
    if (!SkipSpace(f)) return StatementEnd;
    uint8_t c = 0;
    PeekChar(f, &c);
    CommandElement e;
    bool label = false;
    if (std::memchr("#%&()*+-/<=>@[]{|}", c, 18) != nullptr) {
      GetChar(f, &c);
      e.kind = ElemOperator;
      e.text.push_back(static_cast<char>(c));
      uint8_t c2 = 0;
      if (PeekChar(f, &c2) && ((c2 == '=' && (c == '=' || c == '<' || c == '>')) ||
                              (c2 == '&' && c == '&') || (c2 == '|' && c == '|'))) {
        GetChar(f, &c2);
        e.text.push_back(static_cast<char>(c2));
      }
    } else if (c >= '0' && c <= '9') {
      if (ReadNumber(f, &e.number) == 0) return StatementSyntaxError;
      e.kind = ElemNumber;
    } else if (c == '"' || c == '\'') {
      e.kind = ElemString;
      for (;;) {
        uint8_t quote = 0;
        GetChar(f, &quote);
        const std::string stop(1, static_cast<char>(quote));
        std::string chunk;
        int read = 0;
        do {
          read = ReadUntil(f, &chunk, stop, 512);
          e.text += chunk;
        } while (read == 512);
        uint8_t close = 0;
        GetChar(f, &close);
        if (!SkipSpace(f)) return StatementEnd;
        PeekChar(f, &c);
        if (c != '"' && c != '\'') break;
      }
    } else if (c == ',') {
      GetChar(f, &c);
      if (after_comma) return StatementSyntaxError;
      after_comma = true;
      statement->push_back(parameter);
      parameter.clear();
      continue;
    } else if (c == ';') {
      GetChar(f, &c);
      statement->push_back(parameter);
      return StatementRead;
    } else {
      if (ReadUntil(f, &e.text, " \t\v\r\n\f+-*/=#@&|%<>{[()}],:;", 512) <= 0) {
        GetChar(f, &c);
        return StatementSyntaxError;
      }
      e.kind = ElemWord;
      if (PeekChar(f, &c) && c == ':') {
        GetChar(f, &c);
        e.kind = ElemLabel;
        label = true;
      }
    }
    parameter.push_back(RenderElement(e));
    after_comma = false;
    if (label) {
      statement->push_back(parameter);
      return StatementRead;
    }
  }
}

std::string RenderReference(const std::vector<std::vector<std::string>>& statement) {
  std::string text;
  for (size_t p = 0; p < statement.size(); ++p) {
    if (p > 0) text += " | ";
    for (size_t e = 0; e < statement[p].size(); ++e) text += (e > 0 ? " " : "") + statement[p][e];
  }
  return text;
}

TEST_F(TokenizerTest, MatchesTheFileLayerReadsOnRandomSources) {
  // Bytes weighted towards the ones with a meaning, plus anything at all.
  const std::string alphabet = "aZ_.:!  \n\t\r,;;\"\"''0x1b9.#<=>&&||-+[]{}@%\x81\x5B\x83\x40\xFF\x1A";
  SourceText reference(fs);
  uint32_t state = 7;
  auto next = [&state] { state = state * 1103515245u + 12345u; return state >> 16; };
  for (int round = 0; round < 1000; ++round) {
    std::string text;
    const size_t length = next() % 3000;
    for (size_t i = 0; i < length; ++i) {
      const uint32_t r = next();
      text.push_back(r % 50 == 0 ? static_cast<char>(r >> 8) : alphabet[r % alphabet.size()]);
    }
    Source(text);
    ASSERT_TRUE(reference.FileOpen("/game/main.txt", ModeRead));
    std::vector<std::vector<std::string>> expected;
    for (int call = 0;; ++call) {
      ASSERT_LT(call, 5000);
      const uint32_t before = source.position;
      const uint8_t result = Read();
      ASSERT_EQ(result, ReferenceRead(reference, &expected)) << round << " " << call;
      ASSERT_EQ(source.position, reference.position) << round << " " << call;
      ASSERT_EQ(source.line, reference.line) << round << " " << call;
      ASSERT_EQ(Render(command), RenderReference(expected)) << round << " " << call;
      if (result == StatementEnd) break;
      // Every statement and every error moves the reader on.
      ASSERT_GT(source.position, before);
    }
  }
}

TEST_F(TokenizerTest, HugeSingleLines) {
  // Ten megabytes on one line: statements, then a line without a terminator.
  const std::string statement = "layer_show bg, 0x10, \"s\" 'u';";
  std::string text;
  while (text.size() < 10'000'000) text += statement;
  Source(text);
  int statements = 0;
  uint8_t result = 0;
  while ((result = Read()) == StatementRead) ++statements;
  EXPECT_EQ(result, StatementEnd);
  EXPECT_EQ(statements, static_cast<int>(text.size() / statement.size()));
  EXPECT_EQ(Render(command), "");
  EXPECT_EQ(source.line, 1);

  Source(std::string(10'000'000, 'x'));
  EXPECT_EQ(Read(), StatementEnd);
  EXPECT_EQ(out.text, "警告 : /game/main.txt 1 行目 ; がないためファイルの終端のコマンドを無視しました\n");
  Source("\"" + std::string(10'000'000, 's'));
  EXPECT_EQ(Read(), StatementEnd);
  EXPECT_EQ(sys.log.errorCount, 1);
}

TEST_F(TokenizerTest, ReadsAsWordSaysWhatTheReaderTakesForOneWord) {
  for (std::string_view word : {"a", "_x9", ".5", "x$", "ab\"c", "flag!", "\x83\x5C", "\x95\xCF"}) {
    EXPECT_TRUE(ReadsAsWord(word)) << word;
    Source(std::string(word) + ";");
    ASSERT_EQ(Read(), StatementRead);
    EXPECT_EQ(Render(command), "w:" + std::string(word));
  }
  for (std::string_view not_one : {"", "1a", "a b", "a,b", "a:b", "a(b", "-a", "\"a\"", "'a",
                                   "a;", "\x81\x5B", "a\x1A"}) {
    EXPECT_FALSE(ReadsAsWord(not_one)) << not_one;
  }
  EXPECT_TRUE(ReadsAsWord(std::string(511, 'w')));
  EXPECT_FALSE(ReadsAsWord(std::string(512, 'w'))) << "the reader cuts it into two";
}

}  // namespace
}  // namespace kv

namespace kv {
namespace {

TEST_F(TokenizerTest, ElementEndIsWhereTheReaderEndsEachElement) {
  // "~" belongs to a word; the 0x5B of "ー" ends one; a label ends before
  // its colon.
  const std::string text = "goto no~where, \"a b\", 12.5 >= x\x81\x5By, 0x1F(z); here:";
  Source(text);
  std::string ends;
  for (int statement = 0; statement < 2; ++statement) {
    ASSERT_EQ(Read(), StatementRead);
    for (uint32_t p = 0; p < command.GetParamCount(); ++p) {
      for (uint32_t e = 0; const CommandElement* element = command.ElementAt(p, e); ++e) {
        EXPECT_EQ(ElementEnd(text, element->offset), element->end) << element->text;
        ends += text.substr(element->offset, element->end - element->offset) + "|";
      }
    }
  }
  EXPECT_EQ("goto|no~where|\"a b\"|12.5|>=|x\x81|[|y|0x1F|(|z|)|here|", ends);
  // Joined literals end at the last one's quote.
  Source("text \"a\"  'b' ;");
  ASSERT_EQ(Read(), StatementRead);
  EXPECT_EQ(13u, command.ElementAt(0, 1)->end);
}

}  // namespace
}  // namespace kv
