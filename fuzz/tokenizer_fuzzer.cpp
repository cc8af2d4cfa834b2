// Comment removal and the tokenizer on their own, over fuzzed source text.
//
// Comment removal is compared with a plain byte-by-byte remover written from
// its rules; every statement the tokenizer reads is checked for the shape of
// its elements, for progress, for the line the reader reports, and for the
// line and column each element has in the text as loaded, comments included.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "context/diagnostics.h"
#include "context/source_text.h"
#include "run_checks.h"
#include "source/source_loader.h"
#include "source/statement.h"
#include "source/tokenizer.h"

namespace {

using kv::fuzz::Fail;

// The rules of comment removal, one byte at a time: "//" up to its line feed,
// "/*" up to the first "*/" keeping the line feeds inside; false when a block
// comment is not closed. origin[k] is where byte k of the result stands in `in`.
bool RemoveCommentsSlowly(const std::string& in, std::string* out, std::vector<size_t>* origin) {
  out->clear();
  origin->clear();
  auto keep = [&](size_t i) {
    out->push_back(in[i]);
    origin->push_back(i);
  };
  size_t i = 0;
  while (i < in.size()) {
    if (in.compare(i, 2, "//") == 0) {
      while (i < in.size() && in[i] != '\n') ++i;
      if (i < in.size()) keep(i++);
    } else if (in.compare(i, 2, "/*") == 0) {
      i += 2;
      for (;;) {
        if (i >= in.size()) return false;
        if (in.compare(i, 2, "*/") == 0) {
          i += 2;
          break;
        }
        if (in[i] == '\n') keep(i);
        ++i;
      }
    } else {
      keep(i++);
    }
  }
  return true;
}

// An element's line and column, as the file reader computes them from the
// text without comments, against where the element stands in the text as
// loaded.
void CheckPlace(const kv::SourceText& file, const kv::CommandElement& e, const std::string& loaded,
                const std::vector<size_t>& origin, const std::string& console) {
  if (e.offset >= origin.size()) Fail("an element begins past the text", console);
  const size_t at = origin[e.offset];
  const size_t line_feed = at == 0 ? std::string::npos : loaded.rfind('\n', at - 1);
  const size_t column = line_feed == std::string::npos ? at + 1 : at - line_feed;
  const size_t line = 1 + std::count(loaded.begin(), loaded.begin() + at, '\n');
  if (file.ColumnAt(e.offset) != static_cast<int32_t>(column)) Fail("wrong column", console);
  if (file.LineAt(e.offset) != static_cast<int32_t>(line)) Fail("wrong line", console);
}

bool IsWordStop(char c) {
  return std::string_view(" \t\v\r\n\f+-*/=#@&|%<>{[()}],:;").find(c) != std::string_view::npos;
}
bool IsOperatorByte(char c) {
  return std::string_view("#%&()*+-/<=>@[]{|}").find(c) != std::string_view::npos;
}

void CheckElement(const kv::CommandElement& e, const std::string& console) {
  switch (e.kind) {
    case kv::ElemOperator:
      if (e.text.empty() || e.text.size() > 2 || !IsOperatorByte(e.text[0])) {
        Fail("malformed operator " + e.text, console);
      }
      if (e.text.size() == 2 && e.text != "==" && e.text != "<=" && e.text != ">=" &&
          e.text != "&&" && e.text != "||") {
        Fail("two operators read as one: " + e.text, console);
      }
      break;
    case kv::ElemWord:
    case kv::ElemLabel:
      if (e.text.empty() || e.text.size() > 511) Fail("malformed word", console);
      for (char c : e.text) {
        if (IsWordStop(c)) Fail("a word holds a stop byte: " + e.text, console);
      }
      break;
    case kv::ElemString:
      break;
    case kv::ElemNumber:
      if (std::isnan(e.number)) Fail("a number is not a number", console);
      break;
    default:
      Fail("unknown element kind", console);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kv;
  const std::string source(reinterpret_cast<const char*>(data), size);
  MemoryFileSystem fs("/game");
  fs.AddFile("/game/main.txt", source);
  fuzz::MessageLog log;
  Diagnostics diagnostics(log, ConsoleEncoding::kUtf8);
  Statement statement;
  SourceText file(fs);
  if (!file.FileOpen("/game/main.txt", ModeRead)) Fail("cannot load", "");

  std::string expected;
  std::vector<size_t> origin;
  const std::string loaded = file.contents;
  const bool closed = RemoveCommentsSlowly(loaded, &expected, &origin);
  if (RemoveComments(diagnostics, file) != closed) {
    Fail("comment removal disagrees on closing", log.text);
  }
  if (!closed) return 0;
  if (file.contents != expected) Fail("comment removal removed other bytes", log.text);
  if (file.position != 0 || file.line != 1) Fail("comment removal did not rewind", log.text);

  const SourceText* current = &file;
  diagnostics.set_current_source(&current);
  const std::string& text = file.contents;
  uint32_t counted = 0;
  int32_t lines = 1;
  for (;;) {
    const uint32_t before = file.position;
    const int32_t errors_before = diagnostics.errorCount;
    const uint8_t result = ReadStatement(diagnostics, statement, file);
    if (file.position > text.size()) Fail("position past the end", log.text);
    if (file.position < counted) Fail("the reader moved back", log.text);
    for (; counted < file.position; ++counted) lines += text[counted] == '\n';
    if (file.line != lines) Fail("the line does not match the position", log.text);
    const int32_t new_errors = diagnostics.errorCount - errors_before;
    if (result == StatementEnd) {
      if (new_errors > 1) Fail("more than one error at the end", log.text);
      break;
    }
    if (file.position <= before) Fail("a statement did not move the reader on", log.text);
    if (result == StatementSyntaxError) {
      if (new_errors != 1) Fail("a syntax error not reported once", log.text);
      continue;
    }
    if (result != StatementRead || new_errors != 0) Fail("unexpected statement result", log.text);
    for (uint32_t p = 0; p < statement.size(); ++p) {
      for (const CommandElement& e : statement[p]) {
        CheckElement(e, log.text);
        CheckPlace(file, e, loaded, origin, log.text);
      }
    }
  }
  return 0;
}
