// Prints the contents of an object file written by KVConverter: the header of
// a script object or an archive, and the compiled code of every script as one
// line of hex bytes per command, named after the command.
//
//   kvo_dump FILE.kvo
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "language/command_table.h"
#include "output/scramble.h"

namespace {

class Reader {
 public:
  explicit Reader(const std::string& bytes) : bytes_(bytes) {}
  bool U32(uint32_t* v) {
    if (at_ + 4 > bytes_.size()) return false;
    std::memcpy(v, bytes_.data() + at_, 4);
    at_ += 4;
    return true;
  }
  bool Text(std::string* s) {
    uint32_t n;
    if (!U32(&n) || n > bytes_.size() - at_) return false;
    *s = bytes_.substr(at_, n);
    at_ += n;
    return true;
  }
  size_t at() const { return at_; }
  void Skip(size_t n) { at_ += n; }

 private:
  const std::string& bytes_;
  size_t at_ = 0;
};

std::string CommandName(int32_t id) {
  if (id >= 0 && id < kv::kCommandCount) return std::string(kv::kCommands[id].name);
  if (id == kv::CmdSysGoto) return "(jump)";
  if (id == kv::CmdImplicitText) return "(text statement)";
  return "(" + std::to_string(id) + ")";
}

// Size of the entry at `at`, or 0 when it is not a valid entry.
size_t EntrySize(const std::string& code, size_t at) {
  auto length = [&](size_t pos) -> size_t {
    if (pos + 5 > code.size()) return 0;
    uint32_t n;
    std::memcpy(&n, code.data() + pos + 1, 4);
    return n <= code.size() - pos - 5 ? 5 + n : 0;
  };
  switch (static_cast<uint8_t>(code[at])) {
    case 0x01: case 0x08: return at + 5 <= code.size() ? 5 : 0;
    case 0x02: case 0x20: return length(at);
    case 0x04: return at + 2 <= code.size() ? 2 : 0;
    case 0x10: return at + 9 <= code.size() ? 9 : 0;
    default: return 0;
  }
}

void DumpCode(const std::string& code) {
  size_t at = 0;
  bool line_open = false;
  while (at < code.size()) {
    size_t n = EntrySize(code, at);
    if (n == 0) {
      std::printf("%s  ?? %zu undecodable bytes\n", line_open ? "\n" : "", code.size() - at);
      return;
    }
    if (code[at] == 0x01) {
      int32_t id;
      std::memcpy(&id, code.data() + at + 1, 4);
      std::printf("%s  %-24s", line_open ? "\n" : "", CommandName(id).c_str());
      line_open = true;
    }
    for (size_t i = 0; i < n; ++i) std::printf(" %02X", static_cast<uint8_t>(code[at + i]));
    at += n;
  }
  if (line_open) std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FILE.kvo\n", argv[0]);
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  std::string image;
  if (!in || !kv::UnscrambleBytes(s.str(), &image) || image.size() < 11) {
    std::fprintf(stderr, "%s: not an object file\n", argv[1]);
    return 1;
  }
  std::string mark = image.substr(0, 3);
  Reader r(image);
  r.Skip(3);
  uint32_t header_size = 0, count = 0;
  r.U32(&header_size);
  r.U32(&count);
  std::printf("%s  header %u bytes, %u entries, image %zu bytes\n", mark.c_str(), header_size,
              count, image.size());
  struct Entry { std::string name; uint32_t offset, length; };
  std::vector<Entry> entries;
  for (uint32_t i = 0; i < count; ++i) {
    Entry e;
    if (!r.Text(&e.name) || !r.U32(&e.offset) || !r.U32(&e.length)) return 1;
    std::printf("  %s  offset %u length %u\n", e.name.c_str(), e.offset, e.length);
    entries.push_back(e);
  }
  if (mark != "KVS") return 0;
  for (const char* kind : {"label", "function"}) {
    uint32_t n;
    if (!r.U32(&n)) return 1;
    for (uint32_t i = 0; i < n; ++i) {
      std::string name, script;
      uint32_t position;
      if (!r.Text(&name) || !r.Text(&script) || !r.U32(&position)) return 1;
      std::printf("%s %s  %s entry %u\n", kind, name.c_str(), script.c_str(), position);
    }
  }
  std::string directory;
  if (!r.Text(&directory)) return 1;
  std::printf("engine directory %s\n", directory.c_str());
  for (const Entry& e : entries) {
    if (e.offset > image.size() || e.length > image.size() - e.offset) return 1;
    std::printf("\n%s\n", e.name.c_str());
    DumpCode(image.substr(e.offset, e.length));
  }
  return 0;
}
