#include "test_support/source_round_trip.h"

#include <set>
#include <tuple>

#include "context/diagnostics.h"
#include "driver/converter.h"
#include "kvdump/checker.h"
#include "kvdump/decompiler.h"
#include "kvdump/extractor.h"
#include "kvdump/object_reader.h"
#include "test_support/memory_file_system.h"

namespace kv {
namespace {

using kvdump::ObjectHeader;

// A stored path made relative as kvdump makes it, '/'-separated; "" when
// kvdump refuses it.
std::string Relative(std::string_view stored) {
  std::vector<std::string> components;
  std::string why;
  return kvdump::RelativeComponents(stored, &components, &why) ? kvdump::Joined(components) : "";
}

bool Open(const std::string& stored, std::string* image, ObjectHeader* header, std::string* why) {
  kvdump::Problem problem;
  if (!kvdump::CheckStoredObject(stored, &problem) ||
      !kvdump::Unscramble(stored, image, &problem) ||
      !kvdump::ReadHeader(*image, header, &problem)) {
    *why = problem.message + " (offset " + std::to_string(problem.offset) + ")";
    return false;
  }
  if (header->kind != kvdump::ObjectKind::kScript) {
    *why = "not a script object";
    return false;
  }
  return true;
}

// The scripts, definitions and engine directory of an object, with every
// path in the relative form (a rebuilt one's after its prefix).
struct Comparable {
  std::map<std::string, std::string> code;
  std::vector<std::tuple<std::string, std::string, uint32_t>> labels, functions;
  std::string directory;
};

bool Read(const std::string& stored, const std::string& prefix, Comparable* out, std::string* why) {
  std::string image;
  ObjectHeader header;
  if (!Open(stored, &image, &header, why)) return false;
  auto relative = [&prefix](std::string_view path) {
    if (path.substr(0, prefix.size()) != prefix) return "(outside the prefix) " + std::string(path);
    return Relative(path.substr(prefix.size()));
  };
  for (const kvdump::HeaderEntry& e : header.entries) {
    std::string_view code;
    kvdump::EntryBytes(image, e, &code);
    out->code[relative(e.name)] = std::string(code);
  }
  for (const auto& [list, definitions] :
       {std::pair{&out->labels, &header.labels}, std::pair{&out->functions, &header.functions}}) {
    for (const kvdump::Definition& d : *definitions) {
      list->emplace_back(std::string(d.name), relative(d.script), d.position);
    }
  }
  out->directory = relative(header.directory);
  return true;
}

}  // namespace

bool DecompileObject(const std::string& stored, DecompiledTree* tree, std::string* problem) {
  std::string image;
  ObjectHeader header;
  if (!Open(stored, &image, &header, problem)) return false;
  std::vector<kvdump::ScriptSource> scripts;
  kvdump::Problem found;
  if (!kvdump::DecompileScripts(image, header, &scripts, &found)) {
    *problem = found.message + " (offset " + std::to_string(found.offset) + ")";
    return false;
  }
  *tree = DecompiledTree();
  std::vector<std::vector<std::string>> places;
  size_t entry = 0;
  std::string why;
  if (!kvdump::ScriptPlaces(header, '/', &places, &entry, &why)) {
    *problem = "script " + std::to_string(entry) + ": " + why;
    return false;
  }
  std::set<std::string> extensions;
  for (kvdump::ScriptSource& script : scripts) {
    const std::string& file = places[script.entry].back();
    extensions.insert(file.substr(file.rfind('.') + 1));
    tree->files.emplace_back(kvdump::Joined(places[script.entry]), std::move(script.text));
  }
  tree->extensions.assign(extensions.begin(), extensions.end());
  const std::string directory = Relative(header.directory);
  tree->engine_directory = directory.empty() ? "" : directory + "/";
  return true;
}

bool SameScripts(const std::string& original, const std::string& rebuilt, const std::string& prefix,
                 std::string* difference) {
  Comparable a, b;
  if (!Read(original, "", &a, difference) || !Read(rebuilt, prefix, &b, difference)) return false;
  if (a.code.size() != b.code.size()) {
    *difference =
        std::to_string(a.code.size()) + " scripts became " + std::to_string(b.code.size());
    return false;
  }
  for (const auto& [path, code] : a.code) {
    const auto other = b.code.find(path);
    if (other == b.code.end()) {
      *difference = "script " + path + " is missing";
      return false;
    }
    if (other->second != code) {
      size_t at = 0;
      while (at < code.size() && at < other->second.size() && code[at] == other->second[at]) ++at;
      *difference = "the code of " + path + " differs from byte " + std::to_string(at);
      return false;
    }
  }
  if (a.labels != b.labels) {
    *difference = "the labels differ";
    return false;
  }
  if (a.functions != b.functions) {
    *difference = "the functions differ";
    return false;
  }
  if (a.directory != b.directory) {
    *difference = "the engine directory " + a.directory + " became " + b.directory;
    return false;
  }
  return true;
}

bool SourceRoundTrip(const std::string& stored, std::string* difference, bool* refused) {
  DecompiledTree tree;
  if (refused != nullptr) *refused = false;
  if (!DecompileObject(stored, &tree, difference)) {
    *difference = "kvdump --source refuses the object: " + *difference;
    if (refused != nullptr) *refused = true;
    return false;
  }
  const std::string root = "/rebuilt/";
  MemoryFileSystem fs("/rebuilt");
  for (const auto& [path, text] : tree.files) fs.AddFile(root + path, text);
  std::vector<std::string> args = {
      "KVConverter", "-xd", root + tree.engine_directory, "-td", root, "-i", "-a", "-m", "-se"};
  args.insert(args.end(), tree.extensions.begin(), tree.extensions.end());
  StringSink sink;
  ConverterEnvironment env{fs, sink, ConsoleEncoding::kUtf8, [] { return 1u; }, nullptr};
  if (RunConverter(args, env) != 0 || !fs.HasFile(root + "script.kvo")) {
    *difference = "the decompiled scripts do not convert:\n" + sink.text;
    for (const auto& [path, text] : tree.files) *difference += "--- " + path + "\n" + text;
    return false;
  }
  return SameScripts(stored, fs.FileContents(root + "script.kvo"), root, difference);
}

}  // namespace kv
