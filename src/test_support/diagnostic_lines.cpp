#include "test_support/diagnostic_lines.h"

#include "platform/text.h"

namespace kv {

namespace {

std::string Position(const SourcePosition& p) {
  return std::to_string(p.line) + ":" + std::to_string(p.column);
}

}  // namespace

std::vector<std::string> DiagnosticLines(const std::vector<FileDiagnostics>& files) {
  std::vector<std::string> lines;
  for (const FileDiagnostics& file : files) {
    for (const SourceDiagnostic& d : file.diagnostics) {
      std::string line = file.path + " " + Position(d.range.start) + "-" + Position(d.range.end) +
                         " " + std::to_string(static_cast<int>(d.severity)) + " [" + d.code +
                         "] " + Cp932ToUtf8(d.message);
      for (const RelatedLocation& r : d.related) {
        line += " | " + r.location.path + " " + Position(r.location.range.start) + "-" +
                std::to_string(r.location.range.end.column) + " " + Cp932ToUtf8(r.message);
      }
      lines.push_back(line);
    }
  }
  return lines;
}

}  // namespace kv
