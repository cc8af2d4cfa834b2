// Console output of the converter: plain progress messages, and errors,
// warnings and internal errors, which are prefixed with their label and, while
// a script is being read, with the script's path and line, and counted.
//
// Message formats are the program's own texts, written in the code as UTF-8
// literals with the conversions %s, %d and %c. Arguments say what they hold:
// script text or a path (CP932 bytes, converted for a UTF-8 console, as the
// script paths that prefix errors and warnings are), a number or a single
// byte.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

namespace kv {

class SourceText;

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
// CI annotations read ("PATH:LINE:COL: error: MESSAGE").
enum class DiagnosticsStyle { kDesigned, kGnu };

// Checks of the program's own consistency that stop it at once with a message
// on standard error: on in debug builds and in the tests, off in a release
// build, where the program carries on with its safety net.
void EnableDebugChecks();
void DebugCheck(bool holds, const char* what);

// Where a diagnostic points: a file (its path as the program holds it, in
// CP932; empty: none), a line of it (0: none) and the byte column in that
// line (1-based, 0: none), as the author's file has them.
struct SourcePlace {
  std::string_view path;
  int32_t line = 0;
  int32_t column = 0;
  // Set when `path` is the system's own form (UTF-8) of a name that CP932
  // cannot hold: it is printed as it is, so that an editor can open it.
  bool path_is_system = false;
};

// A place that belongs to a diagnostic, such as the line that opened a block
// left open, or the first definition of a name defined twice.
struct RelatedPlace {
  SourcePlace place;
  std::string_view what;  // a short key: "first-definition", "block-opening"
};

// One diagnostic as it is reported, before it is laid out for the console.
// Its texts are valid only while the listener handles it.
struct Diagnostic {
  enum class Kind { kError, kWarning, kInternalError, kNote };
  Kind kind;
  SourcePlace place;
  // Formatted in the diagnostics' encoding; several lines are separated by
  // line feeds, and no line feed ends it.
  std::string_view message;
  // The name of the check that found it, for the checks that have one.
  std::string_view check;
  std::span<const RelatedPlace> related;
};

// Receives every diagnostic as it is reported. A note belongs to the error
// or warning reported before it.
class DiagnosticListener {
 public:
  virtual ~DiagnosticListener() = default;
  virtual void OnDiagnostic(const Diagnostic& diagnostic) = 0;
};

// What a report may carry beside its place and message.
struct ReportDetails {
  std::string_view check;
  std::span<const RelatedPlace> related;
};

class Diagnostics {
 public:
  static constexpr int32_t kErrorLimit = 100;
  using Kind = Diagnostic::Kind;

  // `errors_since_limit` (optional) is where the errors since the last
  // error limit are counted: a run keeps that count with the rest of what
  // one script leaves for the next.
  Diagnostics(MessageSink& sink, ConsoleEncoding encoding, int32_t* errors_since_limit = nullptr);
  Diagnostics(const Diagnostics&) = delete;
  Diagnostics& operator=(const Diagnostics&) = delete;

  // The script whose statement places errors and warnings; null when none.
  void set_current_source(const SourceText* const* current_source) { current_source_ = current_source; }
  ConsoleEncoding encoding() const { return encoding_; }
  void set_style(DiagnosticsStyle style) { style_ = style; }
  void set_listener(DiagnosticListener* listener) { listener_ = listener; }

  // A plain line, neither labelled nor counted.
  void Message(std::string_view format, std::initializer_list<LogArg> args = {});
  // Reports at the statement being read in the current script (its first
  // element), or with no place when no script is current.
  void Error(std::string_view format, std::initializer_list<LogArg> args = {});
  void Warning(std::string_view format, std::initializer_list<LogArg> args = {});
  void InternalError(std::string_view format, std::initializer_list<LogArg> args = {});
  // Reports at a given place, whichever script is current (or none). A place
  // without a line names the file the report is about; the program's own
  // form then shows the current script's place, as for the reports above.
  void ErrorAt(const SourcePlace& place, std::string_view format,
               std::initializer_list<LogArg> args = {}, const ReportDetails& details = {});
  void WarningAt(const SourcePlace& place, std::string_view format,
                 std::initializer_list<LogArg> args = {}, const ReportDetails& details = {});
  void InternalErrorAt(const SourcePlace& place, std::string_view format,
                       std::initializer_list<LogArg> args = {});
  // A plain line that says more about the diagnostic reported last, at its
  // place or at a place of its own; not counted.
  void Note(std::string_view format, std::initializer_list<LogArg> args = {});
  void NoteAt(const SourcePlace& place, std::string_view format,
              std::initializer_list<LogArg> args = {});

  // The place of byte `offset` of `file`'s contents, and the place of the
  // statement being read in it (where the tokenizer put it).
  static SourcePlace PlaceIn(const SourceText& file, uint32_t offset);
  static SourcePlace StatementPlace(const SourceText& file);

  // A text of the program formatted for the console, as Message prints it.
  std::string Format(std::string_view format, std::initializer_list<LogArg> args = {}) const;

  int32_t errorCount = 0;        // errors and internal errors
  int32_t warningCount = 0;

 private:
  int32_t own_errors_since_limit_ = 0;

 public:
  int32_t& errorsSinceLimit;  // errors only; reset when the error limit fires

 private:
  void Report(Kind kind, const SourcePlace* place, std::string_view format,
              std::initializer_list<LogArg> args, const ReportDetails& details);
  // The place of a report that names none: the current statement.
  SourcePlace CurrentPlace() const;
  void AppendDesignedPrefix(std::string* line, Kind kind, const SourcePlace& place) const;
  void AppendGnuPrefix(std::string* line, Kind kind, const SourcePlace& place) const;
  void Count(Kind kind);
  void AppendLiteral(std::string* out, std::string_view utf8) const;
  void AppendText(std::string* out, std::string_view cp932) const;
  void AppendFormatted(std::string* out, std::string_view format,
                       std::initializer_list<LogArg> args) const;

  MessageSink& sink_;
  ConsoleEncoding encoding_;
  DiagnosticsStyle style_ = DiagnosticsStyle::kDesigned;
  const SourceText* const* current_source_ = nullptr;
  DiagnosticListener* listener_ = nullptr;
  // The place of the last error or warning, where its notes stand.
  std::string last_path_;
  SourcePlace last_place_;
};

}  // namespace kv
