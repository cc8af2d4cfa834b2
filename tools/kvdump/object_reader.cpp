#include "kvdump/object_reader.h"

#include "context/object_format.h"
#include "context/operators.h"
#include "language/command_table.h"
#include "output/scramble.h"
#include "platform/coding.h"

namespace kv::kvdump {
namespace {

// A cursor over the image that knows its offset, for the messages.
class Cursor {
 public:
  Cursor(std::string_view image, size_t start) : image_(image), rest_(image.substr(start)) {}

  size_t offset() const { return image_.size() - rest_.size(); }
  bool empty() const { return rest_.empty(); }
  uint8_t peek() const { return static_cast<uint8_t>(rest_[0]); }

  bool Fixed8(uint8_t* v) { return GetFixed8(&rest_, v); }
  bool Fixed32(uint32_t* v) { return GetFixed32(&rest_, v); }
  bool Double(double* v) { return GetDouble(&rest_, v); }
  bool Text(std::string_view* v) { return GetLengthPrefixed(&rest_, v); }

 private:
  std::string_view image_;
  std::string_view rest_;
};

// "the name of script 3", "the label count", ...
std::string Nth(const char* what, size_t i) { return std::string(what) + " " + std::to_string(i); }

bool ReadText(Cursor& in, std::string_view* text, const std::string& what, Problem* problem) {
  const size_t at = in.offset();
  uint32_t n;
  Cursor probe = in;
  if (!probe.Fixed32(&n)) {
    return ProblemAt(problem, at, "the header ends inside the length of " + what);
  }
  if (!in.Text(text)) {
    return ProblemAt(problem, at,
                     "the length of " + what + " (" + std::to_string(n) +
                         ") runs past the end of the image");
  }
  return true;
}

bool ReadCount(Cursor& in, uint32_t* v, const std::string& what, Problem* problem) {
  const size_t at = in.offset();
  if (!in.Fixed32(v)) return ProblemAt(problem, at, "the header ends inside " + what);
  return true;
}

bool ReadDefinitions(Cursor& in, const char* kind, std::vector<Definition>* out,
                     Problem* problem) {
  uint32_t count;
  if (!ReadCount(in, &count, std::string("the ") + kind + " count", problem)) return false;
  for (uint32_t i = 0; i < count; ++i) {
    // Each definition takes at least its fixed fields: a count larger than the
    // bytes left fails here, at the first missing one, before anything grows.
    Definition d;
    d.at = in.offset();
    const std::string what = Nth(kind, i);
    if (!ReadText(in, &d.name, "the name of " + what, problem) ||
        !ReadText(in, &d.script, "the script of " + what, problem) ||
        !ReadCount(in, &d.position, "the position of " + what, problem)) {
      return false;
    }
    out->push_back(d);
  }
  return true;
}

}  // namespace

bool ProblemAt(Problem* problem, size_t offset, std::string message) {
  problem->message = std::move(message);
  problem->offset = offset;
  problem->in_stored_file = false;
  return false;
}

const char* KindName(ObjectKind kind) {
  switch (kind) {
    case ObjectKind::kScript: return "script object";
    case ObjectKind::kImageArchive: return "image archive";
    case ObjectKind::kAudioArchive: return "audio archive";
    case ObjectKind::kMovieArchive: return "movie archive";
  }
  return "object";
}

bool Unscramble(std::string_view stored, std::string* image, Problem* problem) {
  if (!UnscrambleBytes(stored, image)) {
    problem->message = "the file is too short to be an object file (" +
                       std::to_string(stored.size()) + " bytes)";
    problem->offset = 0;
    problem->in_stored_file = true;
    return false;
  }
  return true;
}

bool ReadHeader(std::string_view image, ObjectHeader* header, Problem* problem) {
  *header = ObjectHeader();
  if (image.size() < kFixedHeaderSize) {
    return ProblemAt(problem, 0,
                     "the image is too short for a header (" + std::to_string(image.size()) +
                         " bytes, at least " + std::to_string(kFixedHeaderSize) + " needed)");
  }
  header->mark = image.substr(0, kMarkSize);
  if (header->mark == kScriptObjectMark) {
    header->kind = ObjectKind::kScript;
  } else if (header->mark == kImageArchiveMark) {
    header->kind = ObjectKind::kImageArchive;
  } else if (header->mark == kAudioArchiveMark) {
    header->kind = ObjectKind::kAudioArchive;
  } else if (header->mark == kMovieArchiveMark) {
    header->kind = ObjectKind::kMovieArchive;
  } else {
    return ProblemAt(problem, 0, "unknown identification mark: not an object file");
  }
  header->header_size = DecodeFixed32(image.data() + kHeaderSizeOffset);
  const uint32_t count = DecodeFixed32(image.data() + kEntryCountOffset);
  const bool script = header->kind == ObjectKind::kScript;
  Cursor in(image, kFixedHeaderSize);
  for (uint32_t i = 0; i < count; ++i) {
    HeaderEntry e;
    e.at = in.offset();
    const std::string what = Nth(script ? "script" : "file", i);
    if (!ReadText(in, &e.name, "the name of " + what, problem) ||
        !ReadCount(in, &e.offset, "the offset of " + what, problem) ||
        !ReadCount(in, &e.length, "the length of " + what, problem)) {
      return false;
    }
    header->entries.push_back(e);
  }
  if (script) {
    if (!ReadDefinitions(in, "label", &header->labels, problem) ||
        !ReadDefinitions(in, "function", &header->functions, problem) ||
        !ReadText(in, &header->directory, "the engine directory", problem)) {
      return false;
    }
  }
  header->header_end = in.offset();
  return true;
}

bool EntryBytes(std::string_view image, const HeaderEntry& entry, std::string_view* bytes) {
  if (entry.offset > image.size() || entry.length > image.size() - entry.offset) return false;
  *bytes = image.substr(entry.offset, entry.length);
  return true;
}

bool CodeCommand::IsJump() const {
  const bool jump_form = (id == cmd::kIf && parameters.size() == 2) ||
                         (id == CmdSysGoto && parameters.size() == 1);
  return jump_form && parameters.back().items.size() == 1 &&
         parameters.back().items[0].specifier == SpecLong;
}

namespace {

// Decodes the rest of a command whose command entry begins at `at` and whose
// specifier byte `in` has just read.
bool ReadCommand(Cursor& in, size_t at, uint32_t index, CodeCommand* command, Problem* problem) {
  uint8_t specifier;
  command->parameters.clear();
  command->at = at;
  command->index = index;
  uint32_t id;
  if (!in.Fixed32(&id)) return ProblemAt(problem, at, "the code ends inside a command entry");
  command->id = static_cast<int32_t>(id);
  const size_t count_at = in.offset();
  uint8_t count;
  if (in.empty()) return ProblemAt(problem, count_at, "the command has no parameter count");
  if (!in.Fixed8(&specifier) || specifier != SpecChar || !in.Fixed8(&count)) {
    return ProblemAt(problem, count_at, "the command's parameter count is missing or malformed");
  }
  for (uint32_t p = 0; p < count; ++p) {
    CodeParameter& parameter = command->parameters.emplace_back();
    parameter.at = in.offset();
    uint8_t items;
    if (in.empty() || in.peek() != SpecChar) {
      return ProblemAt(problem, parameter.at,
                       "the command announces " + std::to_string(count) + " parameters but has " +
                           std::to_string(p));
    }
    in.Fixed8(&specifier);
    if (!in.Fixed8(&items)) {
      return ProblemAt(problem, parameter.at, "the code ends inside an item count");
    }
    for (uint32_t k = 0; k < items; ++k) {
      CodeItem item;
      item.at = in.offset();
      if (in.empty()) {
        return ProblemAt(problem, item.at,
                         "the parameter announces " + std::to_string(items) + " items but has " +
                             std::to_string(k));
      }
      in.Fixed8(&item.specifier);
      bool ok = false;
      uint32_t u = 0;
      switch (item.specifier) {
        case SpecString:
        case SpecVariable: ok = in.Text(&item.text); break;
        case SpecChar:
          ok = in.Fixed8(&item.byte);
          if (ok && item.byte >= kOperatorCount) {
            return ProblemAt(problem, item.at,
                             "unknown operator code " + std::to_string(item.byte));
          }
          break;
        case SpecLong:
          ok = in.Fixed32(&u);
          item.integer = static_cast<int32_t>(u);
          break;
        case SpecDouble: ok = in.Double(&item.number); break;
        case SpecCommand:
          return ProblemAt(problem, item.at,
                           "the parameter announces " + std::to_string(items) + " items but has " +
                               std::to_string(k));
        default:
          return ProblemAt(problem, item.at,
                           "unknown entry type " + std::to_string(item.specifier) +
                               " in a parameter");
      }
      if (!ok) return ProblemAt(problem, item.at, "the code ends inside an entry");
      parameter.items.push_back(item);
    }
  }
  if (!in.empty() && in.peek() == SpecChar) {
    return ProblemAt(problem, in.offset(),
                     "the command announces " + std::to_string(count) +
                         " parameters but more follow");
  }
  for (const CodeParameter& parameter : command->parameters) {
    for (const CodeItem& item : parameter.items) {
      if (item.specifier == SpecLong && !command->IsJump()) {
        return ProblemAt(problem, item.at, "an integer entry outside a jump");
      }
    }
  }
  return true;
}

// A cursor over the image up to the end of a script's code, so that its
// offsets are image offsets.
Cursor CodeCursor(std::string_view image, const HeaderEntry& script, size_t at) {
  return Cursor(image.substr(0, static_cast<size_t>(script.offset) + script.length), at);
}

}  // namespace

bool DecodeCommandAt(std::string_view image, const HeaderEntry& script, size_t at,
                     uint32_t index, CodeCommand* command, Problem* problem) {
  std::string_view code;
  if (!EntryBytes(image, script, &code) || at < script.offset ||
      at >= static_cast<size_t>(script.offset) + script.length) {
    return ProblemAt(problem, at, "no command of the script begins here");
  }
  Cursor in = CodeCursor(image, script, at);
  uint8_t specifier = 0;
  if (!in.Fixed8(&specifier) || specifier != SpecCommand) {
    return ProblemAt(problem, at, "no command begins here");
  }
  return ReadCommand(in, at, index, command, problem);
}

bool DecodeCode(std::string_view image, const HeaderEntry& script, const CommandVisitor& visit,
                ScriptCode* out, Problem* problem) {
  *out = ScriptCode();
  std::string_view code;
  if (!EntryBytes(image, script, &code)) {
    return ProblemAt(problem, script.at, "the code lies outside the image");
  }
  Cursor in = CodeCursor(image, script, script.offset);
  uint32_t index = 0;
  // One command at a time, its storage reused: memory stays bounded by the
  // largest command, not by the size of the code.
  CodeCommand command;
  while (!in.empty()) {
    const size_t at = in.offset();
    uint8_t specifier;
    in.Fixed8(&specifier);
    if (specifier == SpecString) {
      std::string_view text;
      if (in.Text(&text) && text == kErrorMarker) {
        if (!in.empty()) {
          return ProblemAt(problem, in.offset(), "code follows the \"error\" marker");
        }
        out->ends_with_error_marker = true;
        break;
      }
      return ProblemAt(problem, at, "a string entry stands where a command is expected");
    }
    if (specifier != SpecCommand) {
      return ProblemAt(problem, at,
                       "entry type " + std::to_string(specifier) +
                           " stands where a command is expected");
    }
    if (!ReadCommand(in, at, index, &command, problem)) return false;
    index = command.NextIndex();
    if (!visit(command)) return false;
  }
  out->end_index = index;
  return true;
}

}  // namespace kv::kvdump
