#include "test_support/object_check.h"

#include "kvdump/checker.h"
#include "kvdump/object_reader.h"

namespace kv {

bool CheckScriptObject(const std::string& stored, std::vector<std::string>* scripts,
                       std::string* problem) {
  scripts->clear();
  kvdump::Problem found;
  std::string image;
  kvdump::ObjectHeader header;
  if (!kvdump::CheckStoredObject(stored, &found) || !kvdump::Unscramble(stored, &image, &found) ||
      !kvdump::ReadHeader(image, &header, &found)) {
    *problem = found.message + " at offset " + std::to_string(found.offset);
    return false;
  }
  if (header.kind != kvdump::ObjectKind::kScript) {
    *problem = "not a script object";
    return false;
  }
  for (const kvdump::HeaderEntry& entry : header.entries) scripts->emplace_back(entry.name);
  return true;
}

}  // namespace kv
