#include "context/diagnostics.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/console.h"
#include "context/source_text.h"

namespace kv {
namespace {

constexpr std::string_view kLabelError = "エラー";
constexpr std::string_view kLabelWarning = "警告";
constexpr std::string_view kLabelInternalError = "内部エラー";
constexpr std::string_view kLabelNote = "備考";
constexpr std::string_view kLineWord = " 行目 ";
constexpr std::string_view kGnuProgram = "KVConverter";
constexpr std::string_view kGnuError = "error";
constexpr std::string_view kGnuWarning = "warning";
constexpr std::string_view kGnuNote = "note";

class StdoutMessageSink : public MessageSink {
 public:
  void Write(std::string_view bytes) override { WriteStdout(bytes); }
  bool Intact(std::string* reason) const override { return StdoutIntact(reason); }
  void WriteFailure(std::string_view bytes) override { WriteStderr(bytes); }
};

}  // namespace

namespace {
#ifdef NDEBUG
bool g_debug_checks = false;
#else
bool g_debug_checks = true;
#endif
}  // namespace

void EnableDebugChecks() { g_debug_checks = true; }

void DebugCheck(bool holds, const char* what) {
  if (holds || !g_debug_checks) return;
  std::fprintf(stderr, "KVConverter: debug check failed: %s\n", what);
  std::abort();
}

MessageSink& StdoutSink() {
  static StdoutMessageSink sink;
  return sink;
}

Diagnostics::Diagnostics(MessageSink& sink, ConsoleEncoding encoding, int32_t* errors_since_limit)
    : errorsSinceLimit(errors_since_limit != nullptr ? *errors_since_limit
                                                     : own_errors_since_limit_),
      sink_(sink),
      encoding_(encoding) {}

void Diagnostics::AppendLiteral(std::string* out, std::string_view utf8) const {
  if (encoding_ == ConsoleEncoding::kUtf8) {
    out->append(utf8);
  } else {
    out->append(Utf8ToCp932(utf8));
  }
}

void Diagnostics::AppendText(std::string* out, std::string_view cp932) const {
  if (encoding_ == ConsoleEncoding::kUtf8) {
    out->append(Cp932ToUtf8(cp932));
  } else {
    out->append(cp932);
  }
}

void Diagnostics::AppendFormatted(std::string* out, std::string_view format,
                                  std::initializer_list<LogArg> args) const {
  const LogArg* arg = args.begin();
  size_t literal_start = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%' || i + 1 == format.size()) continue;
    AppendLiteral(out, format.substr(literal_start, i - literal_start));
    char conversion = format[++i];
    literal_start = i + 1;
    if (conversion == '%') {
      out->push_back('%');
      continue;
    }
    if (arg == args.end()) continue;
    const LogArg& a = *arg++;
    switch (a.kind()) {
      case LogArg::Kind::kNumber:
        out->append(std::to_string(a.number()));
        break;
      case LogArg::Kind::kChar:
        out->push_back(static_cast<char>(a.number()));
        break;
      case LogArg::Kind::kText:
      case LogArg::Kind::kPath:
        AppendText(out, a.text());
        break;
      case LogArg::Kind::kOwnText:
        AppendLiteral(out, a.text());
        break;
    }
  }
  AppendLiteral(out, format.substr(literal_start));
}

std::string Diagnostics::Format(std::string_view format, std::initializer_list<LogArg> args) const {
  std::string text;
  AppendFormatted(&text, format, args);
  return text;
}

void Diagnostics::Message(std::string_view format, std::initializer_list<LogArg> args) {
  sink_.Write(Format(format, args));
}

SourcePlace Diagnostics::PlaceIn(const SourceText& file, uint32_t offset) {
  return {file.path, file.LineAt(offset), file.ColumnAt(offset)};
}

SourcePlace Diagnostics::StatementPlace(const SourceText& file) {
  if (file.statementLine == 0) return {file.path, file.line, 0};
  return {file.path, file.statementLine, file.ColumnAt(file.statementOffset)};
}

SourcePlace Diagnostics::CurrentPlace() const {
  const SourceText* source = current_source_ ? *current_source_ : nullptr;
  return source != nullptr ? StatementPlace(*source) : SourcePlace{};
}

void Diagnostics::AppendDesignedPrefix(std::string* line, Kind kind, const SourcePlace& place) const {
  AppendLiteral(line, kind == Kind::kError     ? kLabelError
                      : kind == Kind::kWarning ? kLabelWarning
                      : kind == Kind::kNote    ? kLabelNote
                                               : kLabelInternalError);
  line->append(" : ");
  // The program's own form shows a script and its line, never a file alone:
  // a report about a file carries the current script's place, if any.
  const SourcePlace shown = place.line > 0 ? place : CurrentPlace();
  if (shown.line > 0) {
    AppendText(line, shown.path);
    line->push_back(' ');
    line->append(std::to_string(shown.line));
    AppendLiteral(line, kLineWord);
  }
}

void Diagnostics::AppendGnuPrefix(std::string* line, Kind kind, const SourcePlace& place) const {
  if (place.path.empty()) {
    line->append(kGnuProgram);
  } else {
    if (place.path_is_system) {
      line->append(place.path);
    } else {
      AppendText(line, place.path);
    }
    if (place.line > 0) {
      line->push_back(':');
      line->append(std::to_string(place.line));
      if (place.column > 0) {
        line->push_back(':');
        line->append(std::to_string(place.column));
      }
    }
  }
  line->append(": ");
  line->append(kind == Kind::kWarning ? kGnuWarning : kind == Kind::kNote ? kGnuNote : kGnuError);
  line->append(": ");
}

void Diagnostics::Report(Kind kind, const SourcePlace* given, std::string_view format,
                         std::initializer_list<LogArg> args, const ReportDetails& details) {
  SourcePlace place;
  if (given != nullptr) {
    place = *given;
  } else if (kind == Kind::kNote) {
    place = last_place_;
  } else {
    place = CurrentPlace();
  }
  std::string message = Format(format, args);
  // Every diagnostic ends with exactly one line feed of its own, whether its
  // text has one or not.
  if (!message.empty() && message.back() == '\n') message.pop_back();

  if (listener_ != nullptr) {
    listener_->OnDiagnostic(Diagnostic{kind, place, message, details.check, details.related});
  }

  // The name of the check that found it ends its first line on the console,
  // so that it can be looked up and switched off.
  if (!details.check.empty()) {
    const size_t end = std::min(message.find('\n'), message.size());
    message.insert(end, " [" + std::string(details.check) + "]");
  }

  std::string text;
  if (style_ == DiagnosticsStyle::kGnu) {
    // A text of several lines is one diagnostic: its first line, then the
    // others as its notes.
    std::string_view rest = message;
    Kind line_kind = kind;
    for (;;) {
      const size_t end = std::min(rest.find('\n'), rest.size());
      AppendGnuPrefix(&text, line_kind, place);
      text.append(rest.substr(0, end));
      text.push_back('\n');
      if (end == rest.size()) break;
      rest.remove_prefix(end + 1);
      line_kind = Kind::kNote;
    }
  } else {
    AppendDesignedPrefix(&text, kind, place);
    text.append(message);
    text.push_back('\n');
  }
  if (kind != Kind::kNote) {
    last_path_.assign(place.path);
    last_place_ = {last_path_, place.line, place.column};
  }
  sink_.Write(text);
  Count(kind);
}

void Diagnostics::Count(Kind kind) {
  switch (kind) {
    case Kind::kNote:
      return;
    case Kind::kWarning:
      ++warningCount;
      return;
    case Kind::kError:
      ++errorsSinceLimit;
      [[fallthrough]];
    case Kind::kInternalError:
      ++errorCount;
      return;
  }
}

void Diagnostics::Error(std::string_view format, std::initializer_list<LogArg> args) {
  Report(Kind::kError, nullptr, format, args, {});
}

void Diagnostics::Warning(std::string_view format, std::initializer_list<LogArg> args) {
  Report(Kind::kWarning, nullptr, format, args, {});
}

void Diagnostics::InternalError(std::string_view format, std::initializer_list<LogArg> args) {
  Report(Kind::kInternalError, nullptr, format, args, {});
}

void Diagnostics::Note(std::string_view format, std::initializer_list<LogArg> args) {
  Report(Kind::kNote, nullptr, format, args, {});
}

void Diagnostics::ErrorAt(const SourcePlace& place, std::string_view format,
                          std::initializer_list<LogArg> args, const ReportDetails& details) {
  Report(Kind::kError, &place, format, args, details);
}

void Diagnostics::WarningAt(const SourcePlace& place, std::string_view format,
                            std::initializer_list<LogArg> args, const ReportDetails& details) {
  Report(Kind::kWarning, &place, format, args, details);
}

void Diagnostics::InternalErrorAt(const SourcePlace& place, std::string_view format,
                                  std::initializer_list<LogArg> args) {
  Report(Kind::kInternalError, &place, format, args, {});
}

void Diagnostics::NoteAt(const SourcePlace& place, std::string_view format,
                         std::initializer_list<LogArg> args) {
  Report(Kind::kNote, &place, format, args, {});
}

}  // namespace kv
