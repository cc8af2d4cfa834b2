#include "kvdump/disassembler.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <unordered_map>
#include <vector>

#include "context/object_format.h"
#include "context/operators.h"
#include "kvdump/infix.h"
#include "language/command_table.h"
#include "platform/text.h"

namespace kv::kvdump {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

void AppendHexEscape(std::string* out, uint8_t c) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "\\x%02X", c);
  out->append(buffer);
}

// Escape for a single-byte character that is not printed as itself; false
// when the byte is printable ASCII.
bool AppendControlEscape(std::string* out, uint8_t c, bool quoted) {
  switch (c) {
    case '\n': out->append("\\n"); return true;
    case '\t': out->append("\\t"); return true;
    case '\r': out->append("\\r"); return true;
    case '"':
    case '\\':
      if (!quoted) return false;
      out->push_back('\\');
      out->push_back(static_cast<char>(c));
      return true;
    default:
      if (c < 0x20 || c == 0x7F) {
        AppendHexEscape(out, c);
        return true;
      }
      return false;
  }
}

// A CP932 character of one or two bytes, as UTF-8; escapes when it has no
// mapping.
void AppendConverted(std::string* out, std::string_view character) {
  const std::string utf8 = Cp932ToUtf8(character);
  if (utf8.find(kReplacement) == std::string::npos) {
    out->append(utf8);
    return;
  }
  for (char c : character) AppendHexEscape(out, static_cast<uint8_t>(c));
}

std::string OperatorText(uint8_t code) {
  if (code < kOperatorCount) return std::string(kOperators[code].spelling);
  return "op#" + std::to_string(code);
}

std::string ItemText(const CodeItem& item, const TextStyle& style) {
  switch (item.specifier) {
    case SpecVariable: return ScriptText(item.text, style.utf8, false);
    case SpecString: return ScriptText(item.text, style.utf8, true);
    case SpecDouble: return NumberText(item.number);
    case SpecChar: return OperatorText(item.byte);
    case SpecLong: return std::to_string(item.integer);
  }
  return "?";
}

std::string PostfixText(const CodeParameter& parameter, const TextStyle& style) {
  std::string out = "[";
  for (size_t i = 0; i < parameter.items.size(); ++i) {
    if (i > 0) out.push_back(' ');
    out += ItemText(parameter.items[i], style);
  }
  return out + "]";
}

// The infix form of a parameter's items; false when they do not form one
// expression. A declaration's parameter holds pieces, each ended by '@' (an
// '@' after a piece of one operand), shown joined by " @ ".
bool InfixText(const CodeParameter& parameter, const TextStyle& style, std::string* out) {
  const std::vector<CodeItem>& items = parameter.items;
  if (items.empty()) {
    *out = "<empty>";
    return true;
  }
  auto operand = [&style](const CodeItem& item, std::string* text) {
    *text = ItemText(item, style);
    return true;
  };
  out->clear();
  size_t start = 0;
  size_t operands = 0;  // of the piece from start
  for (size_t i = 0; i < items.size(); ++i) {
    if (items[i].specifier != SpecChar) {
      ++operands;
      continue;
    }
    if (items[i].byte == kOperatorAt && operands == 1) {
      Infix piece;
      if (!PostfixToInfix(std::span<const CodeItem>(items).subspan(start, i - start), operand,
                          &piece)) {
        return false;
      }
      *out += piece.text + " @";
      if (i + 1 < items.size()) *out += " ";
      start = i + 1;
      operands = 0;
      continue;
    }
    if (operands < 2) return false;
    --operands;
  }
  if (start == items.size()) return true;
  Infix last;
  if (!PostfixToInfix(std::span<const CodeItem>(items).subspan(start), operand, &last)) {
    return false;
  }
  *out += last.text;
  return true;
}

void PrintIndexed(const TextSink& out, uint32_t index, const std::string& text) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%6u  ", index);
  out(buffer + text + "\n");
}

void PrintMarker(const TextSink& out, const std::string& text) { out("        " + text + "\n"); }

// A label or function line, before the entry it names.
struct Marker {
  size_t script;  // the first script entry of the definition's path
  uint32_t position;
  size_t order;   // labels before functions, each list in its order
  const Definition* definition;
  bool label;
};

}  // namespace

std::string ScriptText(std::string_view bytes, bool utf8, bool quoted) {
  std::string out;
  if (quoted) out.push_back('"');
  // Consecutive double-byte and katakana characters are converted together;
  // only a run holding a character without a mapping goes one by one.
  size_t run_start = 0, run_end = 0;
  auto flush = [&] {
    if (run_end == run_start) return;
    const std::string_view run = bytes.substr(run_start, run_end - run_start);
    run_start = run_end;
    if (!utf8) {
      out.append(run);
      return;
    }
    const std::string converted = Cp932ToUtf8(run);
    if (converted.find(kReplacement) == std::string::npos) {
      out.append(converted);
      return;
    }
    for (size_t i = 0; i < run.size();) {
      const size_t length = static_cast<uint8_t>(run[i]) >= 0xA1 &&
                                    static_cast<uint8_t>(run[i]) <= 0xDF ? 1 : 2;
      AppendConverted(&out, run.substr(i, length));
      i += length;
    }
  };
  for (size_t i = 0; i < bytes.size(); ++i) {
    const uint8_t c = static_cast<uint8_t>(bytes[i]);
    size_t length = 0;
    if (c >= 0xA1 && c <= 0xDF) {
      length = 1;  // half-width katakana
    } else if (Cp932CharacterLength(bytes, i) == 2) {
      length = 2;
    }
    if (length > 0) {
      if (run_end != i) run_start = i;  // a new run (the last one was flushed)
      run_end = i + length;
      i += length - 1;
      continue;
    }
    flush();
    if (c >= 0x80) {
      AppendHexEscape(&out, c);
    } else if (!AppendControlEscape(&out, c, quoted)) {
      out.push_back(static_cast<char>(c));
    }
  }
  flush();
  if (quoted) out.push_back('"');
  return out;
}

namespace {
bool path_text_utf8 = true;
}  // namespace

std::string PathText(std::string_view bytes) { return ScriptText(bytes, path_text_utf8, false); }

void SetPathTextUtf8(bool utf8) { path_text_utf8 = utf8; }

std::string NumberText(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  char buffer[40];
  if (value == std::trunc(value) && std::fabs(value) < 1e15) {
    std::snprintf(buffer, sizeof buffer, "%.0f", value);
    return buffer;
  }
  for (int precision = 1; precision <= 17; ++precision) {
    std::snprintf(buffer, sizeof buffer, "%.*g", precision, value);
    if (std::strtod(buffer, nullptr) == value) break;
  }
  return buffer;
}

std::string ParameterText(const CodeParameter& parameter, const CodeCommand& command,
                          const TextStyle& style) {
  if (command.IsJump() && &parameter == &command.parameters.back()) {
    const int32_t distance = command.JumpDistance();
    const int64_t target = static_cast<int64_t>(command.NextIndex()) + distance;
    return "-> " + std::to_string(target) + " (" + (distance >= 0 ? "+" : "") +
           std::to_string(distance) + ")";
  }
  std::string text;
  if (!style.postfix && InfixText(parameter, style, &text)) return text;
  return PostfixText(parameter, style);
}

std::string CommandName(int32_t id) {
  if (id >= 0 && id < kCommandCount) return std::string(kCommands[id].name);
  if (id == CmdSysGoto) return "(jump)";
  if (id == CmdImplicitText) return "(text)";
  return "(command " + std::to_string(id) + ")";
}

void HeaderListing(std::string_view file_name, std::string_view image, const ObjectHeader& header,
                   const TextStyle& style, const TextSink& out) {
  out(PathText(file_name) + ": " + KindName(header.kind) + " \"" + std::string(header.mark) +
      "\", header " + std::to_string(header.header_size) + " bytes, image " +
      std::to_string(image.size()) + " bytes\n");
  const bool script = header.kind == ObjectKind::kScript;
  for (size_t i = 0; i < header.entries.size(); ++i) {
    const HeaderEntry& e = header.entries[i];
    out(std::string("  ") + (script ? "script " : "file ") + std::to_string(i) + "  " +
        PathText(e.name) + "  " + (script ? "code" : "data") + " at " + std::to_string(e.offset) +
        ", " + std::to_string(e.length) + " bytes\n");
  }
  if (!script) return;
  for (const auto& [kind, list] : {std::pair{"label", &header.labels},
                                   std::pair{"function", &header.functions}}) {
    for (const Definition& d : *list) {
      out(std::string("  ") + kind + " " + ScriptText(d.name, style.utf8, false) + "  " +
          PathText(d.script) + "  entry " + std::to_string(d.position) + "\n");
    }
  }
  out("  engine directory  " + PathText(header.directory) + "\n");
}

bool Disassemble(std::string_view image, const ObjectHeader& header, const TextStyle& style,
                 const TextSink& out, Problem* problem) {
  if (header.kind != ObjectKind::kScript) return true;
  // Each definition goes with the first script of its path, found through
  // one index of the paths; a definition of no listed script is not shown.
  std::unordered_map<std::string_view, size_t> first_script;
  first_script.reserve(header.entries.size());
  for (size_t i = 0; i < header.entries.size(); ++i) {
    first_script.emplace(header.entries[i].name, i);
  }
  std::vector<Marker> markers;
  markers.reserve(header.labels.size() + header.functions.size());
  for (const bool label : {true, false}) {
    for (const Definition& d : label ? header.labels : header.functions) {
      const auto found = first_script.find(d.script);
      if (found != first_script.end()) {
        markers.push_back({found->second, d.position, markers.size(), &d, label});
      }
    }
  }
  std::sort(markers.begin(), markers.end(), [](const Marker& a, const Marker& b) {
    if (a.script != b.script) return a.script < b.script;
    if (a.position != b.position) return a.position < b.position;
    return a.order < b.order;
  });
  auto marker = markers.begin();
  auto marker_text = [&style](const Marker& m) {
    return std::string(m.label ? "label " : "function ") +
           ScriptText(m.definition->name, style.utf8, false);
  };
  for (size_t s = 0; s < header.entries.size(); ++s) {
    const HeaderEntry& script = header.entries[s];
    out("\n" + PathText(script.name) + "\n");
    auto visit = [&](const CodeCommand& command) {
      for (; marker != markers.end() && marker->script == s && marker->position <= command.index;
           ++marker) {
        PrintMarker(out, marker_text(*marker));
      }
      std::string line = CommandName(command.id);
      for (size_t i = 0; i < command.parameters.size(); ++i) {
        line += i == 0 ? " " : ", ";
        line += ParameterText(command.parameters[i], command, style);
      }
      PrintIndexed(out, command.index, line);
      return true;
    };
    ScriptCode code;
    if (!DecodeCode(image, script, visit, &code, problem)) return false;
    for (; marker != markers.end() && marker->script == s; ++marker) {
      PrintMarker(out, marker_text(*marker));
    }
    if (code.ends_with_error_marker) PrintIndexed(out, code.end_index, "\"error\" (abandoned)");
  }
  return true;
}

}  // namespace kv::kvdump
