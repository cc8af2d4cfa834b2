#include "kvdump/extractor.h"

#include <algorithm>
#include <array>
#include <unordered_map>

#include "kvdump/disassembler.h"
#include "platform/text.h"

namespace kv::kvdump {
namespace {

// "C:" leading a path, also when a drive-relative name follows ("C:..").
bool StartsWithDrive(std::string_view name) {
  return name.size() >= 2 && name[1] == ':' &&
         ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'));
}

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameLetters(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Upper(a[i]) != b[i]) return false;
  }
  return true;
}

constexpr std::array<std::string_view, 24> kDeviceNames = {
    "CON",  "PRN",  "AUX",  "NUL",  "COM1", "COM2", "COM3",  "COM4",
    "COM5", "COM6", "COM7", "COM8", "COM9", "LPT1", "LPT2",  "LPT3",
    "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9", "CONIN$", "CONOUT$"};

}  // namespace

std::string Joined(const std::vector<std::string>& components, char separator) {
  std::string out;
  for (const std::string& c : components) {
    if (!out.empty()) out.push_back(separator);
    out += c;
  }
  return out;
}

bool WindowsWouldAlter(std::string_view component, std::string* why) {
  for (size_t i = 0; i < component.size(); i += Cp932CharacterLength(component, i)) {
    const auto c = static_cast<uint8_t>(component[i]);
    if (Cp932CharacterLength(component, i) == 2) continue;
    if (c == ':') {
      *why = "the name \"" + PathText(component) +
             "\" holds ':', which names an alternate data stream on Windows";
      return true;
    }
    if (c < 0x20 || c == '<' || c == '>' || c == '"' || c == '|' || c == '?' || c == '*') {
      *why = "the name \"" + PathText(component) + "\" holds a character that Windows refuses";
      return true;
    }
  }
  const char last = component.empty() ? '\0' : component.back();
  if (last == '.' || last == ' ') {
    *why = "the name \"" + PathText(component) +
           "\" ends with a dot or a space, which Windows drops";
    return true;
  }
  // A device name stays one with any extension and with spaces before it.
  std::string_view base = component.substr(0, component.find('.'));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  for (std::string_view device : kDeviceNames) {
    if (SameLetters(base, device)) {
      *why = "the name \"" + PathText(component) + "\" is the device " + std::string(device) +
             " on Windows";
      return true;
    }
  }
  return false;
}

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
    size_t end = start;
    while (end < stored.size() && stored[end] != '/' && stored[end] != '\\') {
      end += Cp932CharacterLength(stored, end);
    }
    std::string_view name = stored.substr(start, end - start);
    if (first && StartsWithDrive(name)) name.remove_prefix(2);
    if (name == "..") {
      *why = "the name climbs out with \"..\"";
      return false;
    }
    if (!name.empty() && name != ".") {
      if (WindowsWouldAlter(name, why)) return false;
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

bool ScriptPlaces(const ObjectHeader& header, char separator,
                  std::vector<std::vector<std::string>>* places, size_t* entry, std::string* why) {
  const size_t count = header.entries.size();
  places->assign(count, {});
  std::vector<std::string> joined(count);
  for (size_t i = 0; i < count; ++i) {
    *entry = i;
    if (!RelativeComponents(header.entries[i].name, &(*places)[i], why)) return false;
    joined[i] = Joined((*places)[i], separator);
    // The converter finds a script by its extension, which -se names.
    const std::string& file = (*places)[i].back();
    const size_t dot = file.rfind('.');
    if (dot == std::string::npos || dot + 1 == file.size() || file[dot + 1] == '-') {
      *why = "the name \"" + PathText(file) + "\" has no extension that -se can name";
      return false;
    }
  }
  const std::string main = std::string(header.directory) + "main.txt";
  std::vector<size_t> order;
  for (size_t i = 0; i < count; ++i) {
    if (header.entries[i].name != main) order.push_back(i);
  }
  std::sort(order.begin(), order.end(),
            [&](size_t a, size_t b) { return header.entries[a].name < header.entries[b].name; });
  std::unordered_map<std::string_view, size_t> taken;
  for (size_t i = 0; i < count; ++i) {
    const auto [other, added] = taken.emplace(joined[i], i);
    if (!added) {
      *entry = i;
      *why = "its place is that of script " + std::to_string(other->second);
      return false;
    }
  }
  for (size_t k = 1; k < order.size(); ++k) {
    if (joined[order[k - 1]] > joined[order[k]]) {
      *entry = order[k];
      *why = "its place sorts before that of script " + std::to_string(order[k - 1]) +
             ", so the converter would take them in the other order";
      return false;
    }
  }
  return true;
}

bool WriteStored(TreeWriter& writer, std::string_view stored, std::string_view contents,
                 bool overwrite, std::string* written, std::string* why) {
  std::vector<std::string> components;
  if (!RelativeComponents(stored, &components, why)) return false;
  *written = PathText(Joined(components));
  // The writer gives each CP932 name the system's form.
  return writer.WriteFile(components, contents, overwrite, why);
}

bool ExtractArchive(std::string_view image, const ObjectHeader& header, TreeWriter& writer,
                    bool overwrite, std::string* out, std::string* errors) {
  bool all = true;
  for (size_t i = 0; i < header.entries.size(); ++i) {
    const HeaderEntry& e = header.entries[i];
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
      *errors += "file " + std::to_string(i) + " \"" + PathText(e.name) + "\" not written: " +
                 why + "\n";
      all = false;
    }
  }
  return all;
}

}  // namespace kv::kvdump
