#include "context/diagnostics.h"

#include <string>

#include "platform/console.h"
#include "context/pell_file.h"

namespace kv {
namespace {

constexpr std::string_view kLabelError = "エラー";
constexpr std::string_view kLabelWarning = "警告";
constexpr std::string_view kLabelInternalError = "内部エラー";
constexpr std::string_view kLineWord = " 行目 ";

class StdoutMessageSink : public MessageSink {
 public:
  void Write(std::string_view bytes) override { WriteStdout(bytes); }
};

}  // namespace

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

void Diagnostics::Message(std::string_view format, std::initializer_list<LogArg> args) {
  std::string line;
  AppendFormatted(&line, format, args);
  sink_.Write(line);
}

void Diagnostics::Prefixed(std::string_view label, std::string_view format,
                           std::initializer_list<LogArg> args) {
  std::string line;
  AppendLiteral(&line, label);
  line.append(" : ");
  const KCFile* source = current_source_ ? *current_source_ : nullptr;
  if (source != nullptr) {
    line.append(source->path);
    line.push_back(' ');
    line.append(std::to_string(source->line));
    AppendLiteral(&line, kLineWord);
  }
  AppendFormatted(&line, format, args);
  sink_.Write(line);
}

void Diagnostics::Error(std::string_view format, std::initializer_list<LogArg> args) {
  Prefixed(kLabelError, format, args);
  ++errorCount;
  ++errorsSinceLimit;
}

void Diagnostics::Warning(std::string_view format, std::initializer_list<LogArg> args) {
  Prefixed(kLabelWarning, format, args);
  ++warningCount;
}

void Diagnostics::InternalError(std::string_view format, std::initializer_list<LogArg> args) {
  Prefixed(kLabelInternalError, format, args);
  ++errorCount;
}

}  // namespace kv
