// Object images and code entries built byte by byte, for the kvdump tests.
#pragma once

#include <string>
#include <vector>

#include "context/object_format.h"
#include "platform/coding.h"

namespace kv::kvdump::testing {

inline std::string U32(uint32_t v) {
  std::string out;
  PutFixed32(&out, v);
  return out;
}
inline std::string Text(const std::string& s) { return U32(static_cast<uint32_t>(s.size())) + s; }

// Code entries.
inline std::string Cmd(int32_t id, uint8_t parameters) {
  return static_cast<char>(SpecCommand) + U32(static_cast<uint32_t>(id)) +
         static_cast<char>(SpecChar) + static_cast<char>(parameters);
}
inline std::string Count(uint8_t items) {
  return std::string(1, static_cast<char>(SpecChar)) + static_cast<char>(items);
}
inline std::string Op(uint8_t code) { return Count(code); }
inline std::string Var(const std::string& name) { return static_cast<char>(SpecVariable) + Text(name); }
inline std::string Str(const std::string& text) { return static_cast<char>(SpecString) + Text(text); }
inline std::string Num(double v) {
  std::string out(1, static_cast<char>(SpecDouble));
  PutDouble(&out, v);
  return out;
}
// The jump parameter: one item, the distance.
inline std::string Jump(int32_t distance) {
  return Count(1) + static_cast<char>(SpecLong) + U32(static_cast<uint32_t>(distance));
}
inline std::string End() { return Cmd(442, 0); }

struct Named {
  std::string name;
  std::string bytes;  // a script's code or an archive file's stored data
};
struct Def {
  std::string name;
  std::string script;
  uint32_t position;
};

inline std::string ScriptImage(const std::vector<Named>& scripts, const std::vector<Def>& labels = {},
                               const std::vector<Def>& functions = {},
                               const std::string& directory = "/game/") {
  std::string entries, rest, code;
  size_t header = kFixedHeaderSize + kScriptHeaderCounts + directory.size();
  for (const Named& s : scripts) header += kEntryOverhead + s.name.size();
  for (const auto* list : {&labels, &functions}) {
    rest += U32(static_cast<uint32_t>(list->size()));
    for (const Def& d : *list) {
      header += kDefinitionOverhead + d.name.size() + d.script.size();
      rest += Text(d.name) + Text(d.script) + U32(d.position);
    }
  }
  for (const Named& s : scripts) {
    entries += Text(s.name) + U32(static_cast<uint32_t>(header + code.size())) +
               U32(static_cast<uint32_t>(s.bytes.size()));
    code += s.bytes;
  }
  return "KVS" + U32(static_cast<uint32_t>(header)) + U32(static_cast<uint32_t>(scripts.size())) +
         entries + rest + Text(directory) + code;
}

inline std::string ArchiveImage(const std::vector<Named>& files, const std::string& mark = "KVI") {
  size_t header = kFixedHeaderSize;
  for (const Named& f : files) header += kEntryOverhead + f.name.size();
  std::string entries, data;
  for (const Named& f : files) {
    entries += Text(f.name) + U32(static_cast<uint32_t>(header + data.size())) +
               U32(static_cast<uint32_t>(f.bytes.size()));
    data += f.bytes;
  }
  return mark + U32(static_cast<uint32_t>(header)) + U32(static_cast<uint32_t>(files.size())) +
         entries + data;
}

}  // namespace kv::kvdump::testing
