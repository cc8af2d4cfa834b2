#include "kvdump/extractor.h"

#include "kvdump/disassembler.h"

namespace kv::kvdump {
namespace {

// "C:" leading a path, also when a drive-relative name follows ("C:..").
bool StartsWithDrive(std::string_view name) {
  return name.size() >= 2 && name[1] == ':' &&
         ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'));
}

std::string Joined(const std::vector<std::string>& components) {
  std::string out;
  for (const std::string& c : components) {
    if (!out.empty()) out.push_back('/');
    out += c;
  }
  return out;
}

}  // namespace

bool RelativeComponents(std::string_view stored, std::vector<std::string>* components,
                        std::string* why) {
  components->clear();
  if (stored.find('\0') != std::string_view::npos) {
    *why = "the name holds a zero byte";
    return false;
  }
  size_t start = 0;
  bool first = true;
  while (start <= stored.size()) {
    size_t end = stored.find_first_of("/\\", start);
    if (end == std::string_view::npos) end = stored.size();
    std::string_view name = stored.substr(start, end - start);
    if (first && StartsWithDrive(name)) name.remove_prefix(2);
    if (name == "..") {
      *why = "the name climbs out with \"..\"";
      return false;
    }
    if (!name.empty() && name != ".") {
      components->emplace_back(name);
    }
    first = false;
    start = end + 1;
  }
  if (components->empty()) {
    *why = "the name holds no file name";
    return false;
  }
  return true;
}

bool ExtractArchive(std::string_view image, const ObjectHeader& header, TreeWriter& writer,
                    bool overwrite, std::string* out, std::string* errors) {
  bool all = true;
  for (size_t i = 0; i < header.entries.size(); ++i) {
    const HeaderEntry& e = header.entries[i];
    const std::string shown = PathText(e.name);
    std::vector<std::string> components;
    std::string why;
    std::string_view bytes;
    bool ok = RelativeComponents(e.name, &components, &why);
    if (ok && !EntryBytes(image, e, &bytes)) {
      why = "its data lies outside the archive";
      ok = false;
    }
    if (ok) {
      if (!bytes.empty() && bytes.back() == '\0') bytes.remove_suffix(1);
      ok = writer.WriteFile(components, bytes, overwrite, &why);
    }
    if (ok) {
      *out += PathText(Joined(components)) + "\n";
    } else {
      *errors += "file " + std::to_string(i) + " \"" + shown + "\" not written: " + why + "\n";
      all = false;
    }
  }
  return all;
}

}  // namespace kv::kvdump
