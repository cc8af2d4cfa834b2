#include "context/diagnostics.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/console.h"
#include "context/pell_file.h"

namespace kv {
namespace {

constexpr std::string_view kLabelError = "エラー";
constexpr std::string_view kLabelWarning = "警告";
constexpr std::string_view kLabelInternalError = "内部エラー";
constexpr std::string_view kLineWord = " 行目 ";
constexpr std::string_view kGnuProgram = "KVConverter";
constexpr std::string_view kGnuError = "error";
constexpr std::string_view kGnuWarning = "warning";

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

Diagnostics::Diagnostics(MessageSink& sink, ConsoleEncoding encoding)
    : sink_(sink), encoding_(encoding) {}

void Diagnostics::AppendLiteral(std::string* out, std::string_view utf8) const {
  if (encoding_ == ConsoleEncoding::kUtf8) {
    out->append(utf8);
  } else {
    out->append(Utf8ToCp932(utf8));
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
        if (encoding_ == ConsoleEncoding::kUtf8) {
          out->append(Cp932ToUtf8(a.text()));
        } else {
          out->append(a.text());
        }
        break;
      case LogArg::Kind::kPath:
        out->append(a.text());
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
  Emit(Kind::kMessage, Format(format, args));
}

void Diagnostics::Prefixed(Kind kind, const Place* place, std::string_view format,
                           std::initializer_list<LogArg> args) {
  Place current{};
  if (place == nullptr) {
    const KCFile* source = current_source_ ? *current_source_ : nullptr;
    if (source != nullptr) {
      current = {source->path, source->line};
      place = &current;
    }
  }
  std::string line;
  if (style_ == DiagnosticsStyle::kGnu) {
    if (place != nullptr) {
      line.append(place->path);
      line.push_back(':');
      line.append(std::to_string(place->line));
    } else {
      line.append(kGnuProgram);
    }
    line.append(": ");
    line.append(kind == Kind::kWarning ? kGnuWarning : kGnuError);
    line.append(": ");
  } else {
    AppendLiteral(&line, kind == Kind::kError     ? kLabelError
                         : kind == Kind::kWarning ? kLabelWarning
                                                  : kLabelInternalError);
    line.append(" : ");
    if (place != nullptr) {
      line.append(place->path);
      line.push_back(' ');
      line.append(std::to_string(place->line));
      AppendLiteral(&line, kLineWord);
    }
  }
  AppendFormatted(&line, format, args);
  Emit(kind, std::move(line));
}

void Diagnostics::Emit(Kind kind, std::string&& text) {
  sink_.Write(text);
  Count(kind);
}

void Diagnostics::Count(Kind kind) {
  if (kind == Kind::kMessage) return;
  if (kind == Kind::kWarning) {
    ++warningCount;
    return;
  }
  ++errorCount;
  if (kind == Kind::kError) ++errorsSinceLimit;
}

void Diagnostics::Error(std::string_view format, std::initializer_list<LogArg> args) {
  Prefixed(Kind::kError, nullptr, format, args);
}

void Diagnostics::Warning(std::string_view format, std::initializer_list<LogArg> args) {
  Prefixed(Kind::kWarning, nullptr, format, args);
}

void Diagnostics::InternalError(std::string_view format, std::initializer_list<LogArg> args) {
  Prefixed(Kind::kInternalError, nullptr, format, args);
}

void Diagnostics::ErrorAt(std::string_view path, int32_t line, std::string_view format,
                          std::initializer_list<LogArg> args) {
  const Place place{path, line};
  Prefixed(Kind::kError, &place, format, args);
}

void Diagnostics::WarningAt(std::string_view path, int32_t line, std::string_view format,
                            std::initializer_list<LogArg> args) {
  const Place place{path, line};
  Prefixed(Kind::kWarning, &place, format, args);
}

}  // namespace kv
