// Helpers shared by the statement compilation tests: a context with an open
// current object, statements built element by element, and the expected
// bytes of code entries.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>

#include "compile/dispatcher.h"
#include "compile/func_set.h"
#include "compile/statement_handlers.h"
#include "context/kc_system.h"
#include "language/command_reader.h"
#include "language/kc_command.h"
#include "platform/coding.h"
#include "test_support/memory_file_system.h"
#include "source/source_loader.h"
#include "test_support/conversion_harness.h"

namespace kv::testing {

inline CommandElement W(const std::string& word) { return {ElemWord, 0, word, 0}; }
inline CommandElement N(double number) { return {ElemNumber, 0, "", number}; }
inline CommandElement Op(const std::string& op) { return {ElemOperator, 0, op, 0}; }
inline CommandElement S(const std::string& text) { return {ElemString, 0, text, 0}; }
inline CommandElement L(const std::string& label) { return {ElemLabel, 0, label, 0}; }

inline std::string Le32(uint32_t v) {
  std::string out;
  PutFixed32(&out, v);
  return out;
}
// Expected entries.
inline std::string Cmd(int32_t id) { return "\x01" + Le32(static_cast<uint32_t>(id)); }
inline std::string Ch(uint8_t v) { return std::string("\x04", 1) + static_cast<char>(v); }
inline std::string Long(int32_t v) { return "\x08" + Le32(static_cast<uint32_t>(v)); }
inline std::string Var(const std::string& name) { return "\x20" + Le32(name.size()) + name; }
inline std::string Str(const std::string& text) { return "\x02" + Le32(text.size()) + text; }
inline std::string Num(double v) {
  std::string out(1, '\x10');
  PutDouble(&out, v);
  return out;
}
// Operator item by code.
inline std::string OpItem(uint8_t code) { return Ch(code); }

class CompileTest : public ::testing::Test {
 protected:
  CompileTest() {
    object.FileOpen("/game/main.txt*", 0x123);
    sys.script.currentObject = &object;
    source.path = "/game/main.txt";
  }

  // Replaces the current statement (the command word already removed), as
  // command reading identified it.
  void Statement(std::initializer_list<CommandParameter> parameters, int32_t id = CmdInvalid) {
    command.ClearParameters();
    for (const CommandParameter& p : parameters) command.AppendParameter(p);
    command.SetStatementId(id);
  }
  // A command without parameters (2 entries), standing for any statement.
  void Plain(int32_t id = 500) {
    command.ClearParameters();
    ASSERT_TRUE(funcs.OutCommand(id, "test", 0, 0));
  }
  // Makes the script current at `line`, so messages and records carry it.
  void AtLine(int32_t line) {
    sys.script.currentSource = &source;
    source.line = line;
    source.statementLine = line;
  }
  std::string Console() {
    std::string text = out.text;
    out.text.clear();
    return text;
  }
  std::string Bytes() const { return std::string(object.Code()); }

  // Compiles `text` as a whole script in the main phase, through the
  // tokenizer and command reading, up to its end command. False when a
  // statement failed.
  bool RunScript(const std::string& text) {
    fs.AddFile("/game/main.txt", text);
    SourceText* script = LoadSource(sys, "/game/main.txt");
    if (script == nullptr) return false;
    sys.script.currentSource = script;
    command.InitCommandTable();
    command.DeleteSetupCommands();
    Dispatcher dispatcher(sys, command, funcs, handlers);
    CommandReader reader(sys, command, dispatcher);
    bool ok = true;
    for (;;) {
      const int32_t result = reader.ReadCommand(script);
      if (result == CmdInvalid) ok = false;
      if (result == cmd::kEnd || result == CmdEndOfFile) return ok;
    }
  }

  MemoryFileSystem fs{"/game"};
  StringSink out;
  KCSystem sys{fs, out, ConsoleEncoding::kUtf8};
  KCCommand command{sys};
  KCFuncSet funcs{sys, command};
  StatementHandlers handlers{sys, command, funcs};
  KCFile object{fs};
  SourceText source{fs};
};

}  // namespace kv::testing
