// Reading object files for inspection: undoing the scrambling, the header of a
// script object or a media archive, and the compiled code of a script, all
// over untrusted bytes. Every length is checked against what is left before
// anything is copied; the results are views into the image, so memory stays
// bounded by the size of the input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kv::kvdump {

// The first thing wrong with an object, and where: a byte offset in the
// unscrambled image (the bytes --raw writes), or in the stored file when
// `in_stored_file` is set.
struct Problem {
  std::string message;
  size_t offset = 0;
  bool in_stored_file = false;
};

// Stores the first problem found and returns false, for the readers and
// checks that stop there.
bool ProblemAt(Problem* problem, size_t offset, std::string message);

enum class ObjectKind { kScript, kImageArchive, kAudioArchive, kMovieArchive };

// A script entry (name, code offset and length) or an archive entry (name,
// data offset and length), with the image offset of the entry itself.
struct HeaderEntry {
  std::string_view name;
  uint32_t offset = 0;
  uint32_t length = 0;
  size_t at = 0;
};

// A label or function: its name, the script that defines it, and the index
// of the code entry it names.
struct Definition {
  std::string_view name;
  std::string_view script;
  uint32_t position = 0;
  size_t at = 0;
};

struct ObjectHeader {
  ObjectKind kind = ObjectKind::kScript;
  std::string_view mark;
  uint32_t header_size = 0;  // as stored
  size_t header_end = 0;     // where the header's fields actually end
  std::vector<HeaderEntry> entries;
  std::vector<Definition> labels;     // script objects only
  std::vector<Definition> functions;  // script objects only
  std::string_view directory;         // script objects only
};

// Undoes the scrambling of a stored object. Fails (with the problem) only
// when the file is too short to hold the key and the step.
bool Unscramble(std::string_view stored, std::string* image, Problem* problem);

// Reads the header of an unscrambled image. Fails at the first field that is
// missing or runs past the end of the image, or at an unknown mark.
bool ReadHeader(std::string_view image, ObjectHeader* header, Problem* problem);

// The bytes an entry points at; false when they lie outside the image.
bool EntryBytes(std::string_view image, const HeaderEntry& entry, std::string_view* bytes);

const char* KindName(ObjectKind kind);

// One item of a parameter: an expression item or a jump distance.
struct CodeItem {
  uint8_t specifier = 0;
  size_t at = 0;              // image offset of the entry
  uint8_t byte = 0;           // SpecChar: an operator code
  int32_t integer = 0;        // SpecLong
  double number = 0;          // SpecDouble
  std::string_view text;      // SpecString, SpecVariable
};

struct CodeParameter {
  size_t at = 0;
  std::vector<CodeItem> items;
};

struct CodeCommand {
  size_t at = 0;
  uint32_t index = 0;  // entry index, as jumps and definitions count them
  int32_t id = 0;
  std::vector<CodeParameter> parameters;
  // The jump distance of the conditional and unconditional jumps, whose last
  // parameter holds it.
  bool IsJump() const;
  int32_t JumpDistance() const { return parameters.back().items[0].integer; }
  uint32_t NextIndex() const { return index + 2 + static_cast<uint32_t>(parameters.size()); }
};

struct ScriptCode {
  bool ends_with_error_marker = false;
  uint32_t end_index = 0;  // the index after the last command
};

// Decodes the code of one script entry of the image. Fails when the code
// lies outside the image, at the first entry that is malformed or truncated,
// at a parameter count that does not match the parameters that follow, at an
// unknown operator code, at an integer entry outside a jump, and at anything
// after the "error" marker. Each command is handed to `visit` as soon as it
// is decoded; when `visit` returns false, decoding stops and fails (the
// visitor has set the problem).
using CommandVisitor = std::function<bool(const CodeCommand&)>;
bool DecodeCode(std::string_view image, const HeaderEntry& script, const CommandVisitor& visit,
                ScriptCode* out, Problem* problem);

// Decodes again the command of `script` whose command entry begins at image
// offset `at` and which is entry `index`, as DecodeCode found it.
bool DecodeCommandAt(std::string_view image, const HeaderEntry& script, size_t at,
                     uint32_t index, CodeCommand* command, Problem* problem);

}  // namespace kv::kvdump
