#include "kvdump/checker.h"

#include <algorithm>
#include <string>
#include <unordered_map>
#include <vector>

#include "context/object_format.h"
#include "language/command_table.h"
#include "output/scramble.h"

namespace kv::kvdump {
namespace {

bool Lands(const std::vector<uint32_t>& landings, int64_t target) {
  return target >= 0 && std::binary_search(landings.begin(), landings.end(), target);
}

// `landings` receives the entry indexes a jump or a definition may name in
// the script: the start of every command, and the place of the "error"
// marker.
bool CheckScript(std::string_view image, const HeaderEntry& script, size_t number,
                 std::vector<uint32_t>* landings, Problem* problem) {
  const std::string which = "script " + std::to_string(number);
  struct Jump {
    uint32_t index;
    int64_t target;
    size_t at;  // of the distance
  };
  std::vector<Jump> jumps;
  bool ends_with_end = false;
  auto visit = [&](const CodeCommand& command) {
    landings->push_back(command.index);
    ends_with_end = command.id == cmd::kEnd && command.parameters.empty();
    if (command.IsJump()) {
      jumps.push_back({command.index,
                       static_cast<int64_t>(command.NextIndex()) + command.JumpDistance(),
                       command.parameters.back().items[0].at});
    } else if (command.id == cmd::kIf || command.id == CmdSysGoto) {
      return ProblemAt(problem, command.at, "a jump command without its jump distance");
    }
    return true;
  };
  ScriptCode code;
  if (!DecodeCode(image, script, visit, &code, problem)) return false;
  if (code.ends_with_error_marker) {
    landings->push_back(code.end_index);
  } else if (!ends_with_end) {
    return ProblemAt(problem, script.offset + script.length,
                     which + " does not end with the end command or the \"error\" marker");
  }
  for (const Jump& jump : jumps) {
    if (!Lands(*landings, jump.target)) {
      return ProblemAt(problem, jump.at,
                       "the jump at entry " + std::to_string(jump.index) + " of " + which +
                           " lands on entry " + std::to_string(jump.target) +
                           ", which is not the start of a command of its script");
    }
  }
  return true;
}

bool CheckDefinitions(const std::vector<Definition>& definitions, const char* kind,
                      const std::unordered_map<std::string_view, size_t>& first_script,
                      const std::vector<std::vector<uint32_t>>& landings, Problem* problem) {
  for (size_t i = 0; i < definitions.size(); ++i) {
    const Definition& d = definitions[i];
    const std::string which = std::string(kind) + " " + std::to_string(i);
    const auto script = first_script.find(d.script);
    if (script == first_script.end()) {
      return ProblemAt(problem, d.at, which + " names a script that the object does not list");
    }
    if (!Lands(landings[script->second], d.position)) {
      return ProblemAt(problem, d.at,
                       which + " points at entry " + std::to_string(d.position) +
                           ", which is not the start of a command of its script");
    }
  }
  return true;
}

}  // namespace

bool CheckStoredObject(std::string_view stored, Problem* problem) {
  std::string image;
  if (!Unscramble(stored, &image, problem)) return false;
  const size_t key_at = static_cast<size_t>(ScrambleKeyOffset(image.size()));
  const uint8_t key = static_cast<uint8_t>(stored[key_at]);
  const uint8_t step = static_cast<uint8_t>(stored[key_at + 1]);
  if (key == 0 || step == 0 || step > 21) {
    problem->message = "scrambling key " + std::to_string(key) + " and step " +
                       std::to_string(step) + " lie outside 1-255 and 1-21";
    problem->offset = key_at;
    problem->in_stored_file = true;
    return false;
  }
  return CheckImage(image, problem);
}

bool CheckImage(std::string_view image, Problem* problem) {
  ObjectHeader header;
  if (!ReadHeader(image, &header, problem)) return false;
  if (header.header_size != header.header_end) {
    return ProblemAt(problem, kHeaderSizeOffset,
                     "the header size field says " + std::to_string(header.header_size) +
                         " but the header's fields take " + std::to_string(header.header_end) +
                         " bytes");
  }
  uint64_t expected = header.header_size;
  for (size_t i = 0; i < header.entries.size(); ++i) {
    const HeaderEntry& e = header.entries[i];
    const size_t offset_field = e.at + 4 + e.name.size();
    if (e.offset != expected) {
      return ProblemAt(problem, offset_field,
                       "entry " + std::to_string(i) + " starts at " + std::to_string(e.offset) +
                           " instead of " + std::to_string(expected) +
                           ", right after the previous one");
    }
    std::string_view bytes;
    if (!EntryBytes(image, e, &bytes)) {
      return ProblemAt(problem, offset_field + 4,
                       "the length of entry " + std::to_string(i) + " (" +
                           std::to_string(e.length) + ") runs past the end of the image (" +
                           std::to_string(image.size()) + " bytes)");
    }
    if (header.kind != ObjectKind::kScript && (bytes.empty() || bytes.back() != '\0')) {
      return ProblemAt(problem, e.offset + e.length,
                       "file " + std::to_string(i) + " is not followed by its zero byte");
    }
    expected += e.length;
  }
  if (expected != image.size()) {
    return ProblemAt(problem, expected,
                     std::to_string(image.size() - expected) +
                         " bytes after the last entry's contents belong to no entry");
  }
  if (header.kind != ObjectKind::kScript) return true;
  std::vector<std::vector<uint32_t>> landings(header.entries.size());
  for (size_t i = 0; i < header.entries.size(); ++i) {
    if (!CheckScript(image, header.entries[i], i, &landings[i], problem)) return false;
  }
  // A definition names the first script of its path; the paths are indexed
  // once, so a long header costs no more than its length.
  std::unordered_map<std::string_view, size_t> first_script;
  first_script.reserve(header.entries.size());
  for (size_t i = 0; i < header.entries.size(); ++i) {
    first_script.emplace(header.entries[i].name, i);
  }
  return CheckDefinitions(header.labels, "label", first_script, landings, problem) &&
         CheckDefinitions(header.functions, "function", first_script, landings, problem);
}

}  // namespace kv::kvdump
