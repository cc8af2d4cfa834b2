// Console output of the converter: plain progress messages, and errors,
// warnings and internal errors, which are prefixed with their label and, while
// a script is being read, with the script's path and line, and counted.
//
// Message formats are the program's own texts, written in the code as UTF-8
// literals with the conversions %s, %d and %c. Arguments say what they hold:
// script text (CP932 bytes, converted for a UTF-8 console), a path (printed
// as the file system has it), a number or a single byte.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace kv {

class KCFile;

class LogArg {
 public:
  enum class Kind { kNumber, kChar, kText, kPath, kOwnText };

  LogArg(int32_t number) : kind_(Kind::kNumber), number_(number) {}
  LogArg(std::string_view cp932_text) : kind_(Kind::kText), text_(cp932_text) {}
  LogArg(const char* cp932_text) : kind_(Kind::kText), text_(cp932_text) {}
  LogArg(const std::string& cp932_text) : kind_(Kind::kText), text_(cp932_text) {}
  static LogArg Char(int byte) { LogArg a(int32_t{byte}); a.kind_ = Kind::kChar; return a; }
  static LogArg Path(std::string_view path) { LogArg a(path); a.kind_ = Kind::kPath; return a; }
  // A text of the program itself (UTF-8 in the code), converted like formats.
  static LogArg Own(std::string_view utf8) { LogArg a(utf8); a.kind_ = Kind::kOwnText; return a; }

  Kind kind() const { return kind_; }
  int32_t number() const { return number_; }
  std::string_view text() const { return text_; }

 private:
  Kind kind_;
  int32_t number_ = 0;
  std::string_view text_;
};

// Where console bytes go: standard output in the program, a string in tests.
class MessageSink {
 public:
  virtual ~MessageSink() = default;
  virtual void Write(std::string_view bytes) = 0;
  // False once a write has failed, with the system's reason in *reason: what
  // was printed may not have reached anyone.
  virtual bool Intact(std::string* /*reason*/) const { return true; }
  // Tells that the sink failed, somewhere else than the sink itself
  // (standard error for standard output).
  virtual void WriteFailure(std::string_view /*bytes*/) {}
};

// Sink for standard output: each message reaches the terminal, file or pipe
// before Write returns.
MessageSink& StdoutSink();

// A sink that keeps everything written to it (for tests).
class StringSink : public MessageSink {
 public:
  void Write(std::string_view bytes) override { text.append(bytes); }
  std::string text;
};

enum class ConsoleEncoding { kUtf8, kCp932 };

// How errors and warnings are laid out: the program's own form
// ("エラー : PATH LINE 行目 MESSAGE") or the form that compilers, editors and
// CI annotations read ("PATH:LINE: error: MESSAGE").
enum class DiagnosticsStyle { kDesigned, kGnu };

// Checks of the program's own consistency that stop it at once with a message
// on standard error: on in debug builds and in the tests, off in a release
// build, where the program carries on with its safety net.
void EnableDebugChecks();
void DebugCheck(bool holds, const char* what);

class Diagnostics {
 public:
  static constexpr int32_t kErrorLimit = 100;

  Diagnostics(MessageSink& sink, ConsoleEncoding encoding);

  // The script whose path and line prefix errors and warnings; null when none.
  void set_current_source(const KCFile* const* current_source) { current_source_ = current_source; }
  ConsoleEncoding encoding() const { return encoding_; }
  void set_style(DiagnosticsStyle style) { style_ = style; }

  enum class Kind { kMessage, kError, kWarning, kInternalError };

  void Message(std::string_view format, std::initializer_list<LogArg> args = {});
  void Error(std::string_view format, std::initializer_list<LogArg> args = {});
  void Warning(std::string_view format, std::initializer_list<LogArg> args = {});
  void InternalError(std::string_view format, std::initializer_list<LogArg> args = {});
  // An error or warning about a given line of a script, whichever script is
  // current (or none).
  void ErrorAt(std::string_view path, int32_t line, std::string_view format,
               std::initializer_list<LogArg> args = {});
  void WarningAt(std::string_view path, int32_t line, std::string_view format,
                 std::initializer_list<LogArg> args = {});

  // A text of the program formatted for the console, as Message prints it.
  std::string Format(std::string_view format, std::initializer_list<LogArg> args = {}) const;

  int32_t errorCount = 0;        // errors and internal errors
  int32_t warningCount = 0;
  int32_t errorsSinceLimit = 0;  // errors only; reset when the error limit fires

 private:
  struct Place {
    std::string_view path;
    int32_t line;
  };
  void Prefixed(Kind kind, const Place* place, std::string_view format,
                std::initializer_list<LogArg> args);
  void Count(Kind kind);
  void Emit(Kind kind, std::string&& text);
  void AppendLiteral(std::string* out, std::string_view utf8) const;
  void AppendFormatted(std::string* out, std::string_view format,
                       std::initializer_list<LogArg> args) const;

  MessageSink& sink_;
  ConsoleEncoding encoding_;
  DiagnosticsStyle style_ = DiagnosticsStyle::kDesigned;
  const KCFile* const* current_source_ = nullptr;
};

}  // namespace kv
