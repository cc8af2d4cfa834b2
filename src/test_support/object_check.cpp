#include "test_support/object_check.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <set>

#include "language/command_table.h"

namespace kv {
namespace {

class Reader {
 public:
  Reader(const std::string& bytes, size_t begin, size_t end) : bytes_(bytes), at_(begin), end_(end) {}
  bool Byte(uint8_t* v) {
    if (at_ >= end_) return false;
    *v = static_cast<uint8_t>(bytes_[at_++]);
    return true;
  }
  bool U32(uint32_t* v) {
    if (end_ - at_ < 4) return false;
    *v = 0;
    for (int i = 0; i < 4; ++i) *v |= uint32_t{static_cast<uint8_t>(bytes_[at_ + i])} << (8 * i);
    at_ += 4;
    return true;
  }
  bool Text(std::string* s) {
    uint32_t n;
    if (!U32(&n) || n > end_ - at_) return false;
    s->assign(bytes_, at_, n);
    at_ += n;
    return true;
  }
  bool Skip(size_t n) {
    if (n > end_ - at_) return false;
    at_ += n;
    return true;
  }
  size_t at() const { return at_; }
  bool done() const { return at_ == end_; }

 private:
  const std::string& bytes_;
  size_t at_;
  size_t end_;
};

struct Definition {
  std::string name, script;
  uint32_t position;
};

bool IsCommandId(uint32_t id) { return id < kCommandCount || id == CmdSysGoto || id == CmdImplicitText; }

// Walks one script's code; stores the entry index of every command and of
// the end of the code in *commands.
bool CheckCode(const std::string& image, size_t offset, size_t length, std::set<int64_t>* commands,
               std::string* problem) {
  Reader r(image, offset, offset + length);
  int64_t items = 0;
  std::vector<std::pair<int64_t, int64_t>> jumps;  // (entry after the command, distance)
  while (!r.done()) {
    const size_t at = r.at();
    auto fail = [&](const char* what) {
      *problem = std::string(what) + " at byte " + std::to_string(at - offset) + " of the code";
      return false;
    };
    uint8_t spec, count;
    uint32_t id;
    if (!r.Byte(&spec) || spec != 0x01 || !r.U32(&id)) return fail("no command entry");
    if (!IsCommandId(id)) return fail("unknown command id");
    if (!r.Byte(&spec) || spec != 0x04 || !r.Byte(&count)) return fail("no parameter count");
    commands->insert(items);
    std::vector<int32_t> distances;
    for (int p = 0; p < count; ++p) {
      uint8_t k;
      if (!r.Byte(&spec) || spec != 0x04 || !r.Byte(&k)) return fail("no item count");
      for (int i = 0; i < k; ++i) {
        uint32_t n;
        if (!r.Byte(&spec)) return fail("code ends inside a parameter");
        switch (spec) {
          case 0x02:
          case 0x20:
            if (!r.U32(&n) || !r.Skip(n)) return fail("text runs past the code");
            break;
          case 0x04:
            if (!r.Skip(1)) return fail("operator runs past the code");
            break;
          case 0x08:
            if (!r.U32(&n)) return fail("integer runs past the code");
            if (k == 1) distances.push_back(static_cast<int32_t>(n));
            break;
          case 0x10:
            if (!r.Skip(8)) return fail("number runs past the code");
            break;
          default:
            return fail("unknown item");
        }
      }
    }
    items += count + 2;
    for (int32_t d : distances) jumps.emplace_back(items, d);
  }
  commands->insert(items);
  for (const auto& [from, distance] : jumps) {
    if (!commands->count(from + distance)) {
      *problem = "a jump of " + std::to_string(distance) + " from entry " + std::to_string(from) +
                 " lands between commands";
      return false;
    }
  }
  return true;
}

}  // namespace

bool CheckScriptObject(const std::string& image, std::vector<std::string>* scripts,
                       std::string* problem) {
  scripts->clear();
  Reader r(image, 0, image.size());
  uint32_t header_size, count;
  if (image.compare(0, 3, "KVS") != 0 || !r.Skip(3) || !r.U32(&header_size) || !r.U32(&count)) {
    *problem = "no KVS header";
    return false;
  }
  struct Entry {
    uint32_t offset, length;
  };
  std::map<std::string, Entry> entries;
  for (uint32_t i = 0; i < count; ++i) {
    std::string name;
    Entry e;
    if (!r.Text(&name) || !r.U32(&e.offset) || !r.U32(&e.length)) {
      *problem = "script list runs past the image";
      return false;
    }
    if (!scripts->empty() && name <= scripts->back()) {
      *problem = "scripts not in ascending order: " + name;
      return false;
    }
    scripts->push_back(name);
    entries[name] = e;
  }
  std::vector<Definition> definitions;
  for (int list = 0; list < 2; ++list) {
    uint32_t n;
    if (!r.U32(&n)) {
      *problem = "no definition count";
      return false;
    }
    for (uint32_t i = 0; i < n; ++i) {
      Definition d;
      if (!r.Text(&d.name) || !r.Text(&d.script) || !r.U32(&d.position)) {
        *problem = "definitions run past the image";
        return false;
      }
      definitions.push_back(d);
    }
  }
  std::string directory;
  if (!r.Text(&directory) || r.at() != header_size) {
    *problem = "header size " + std::to_string(header_size) + " but the header ends at " +
               std::to_string(r.at());
    return false;
  }
  uint64_t expected_offset = header_size;
  std::map<std::string, std::set<int64_t>> commands;
  for (const std::string& name : *scripts) {
    const Entry& e = entries[name];
    if (e.offset != expected_offset || e.length > image.size() - e.offset) {
      *problem = "code of " + name + " is not where the header says";
      return false;
    }
    expected_offset += e.length;
    if (!CheckCode(image, e.offset, e.length, &commands[name], problem)) {
      *problem = name + ": " + *problem;
      return false;
    }
  }
  if (expected_offset != image.size()) {
    *problem = "bytes after the last script's code";
    return false;
  }
  for (const Definition& d : definitions) {
    auto it = commands.find(d.script);
    if (it == commands.end() || !it->second.count(d.position)) {
      *problem = "definition " + d.name + " does not point at a command of " + d.script;
      return false;
    }
  }
  return true;
}

}  // namespace kv
