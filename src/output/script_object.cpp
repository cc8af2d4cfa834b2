#include "output/script_object.h"

#include <cstdint>
#include <string>
#include <vector>

#include "context/kc_system.h"
#include "context/pell_file.h"
#include "output/object_writer.h"

namespace kv {
namespace {

constexpr char kMark[] = "KVS";
constexpr char kTooLarge[] = "GenScrObject(9) スクリプトオブジェクトが 2147483647 バイトを超えます\n";

// Fixed part of the header: mark, headerSize, scriptCount, labelCount,
// functionCount, directoryLength.
constexpr uint64_t kFixedHeaderSize = 3 + 4 + 4 + 4 + 4 + 4;
// Per script entry: nameLength, codeOffset, codeLength.
constexpr uint64_t kScriptEntryFields = 12;
// Per definition entry: nameLength, scriptLength, position.
constexpr uint64_t kDefinitionEntryFields = 12;

void AppendFixed32(std::string* out, uint64_t value) {
  for (int shift = 0; shift < 32; shift += 8) out->push_back(static_cast<char>(value >> shift));
}

void AppendText(std::string* out, const std::string& text) {
  AppendFixed32(out, text.size());
  out->append(text);
}

uint64_t HeaderSize(const KCSystem& sys) {
  uint64_t size = kFixedHeaderSize + sys.engineDirectory.size();
  for (const auto& [path, object] : sys.Objects) size += path.size() + kScriptEntryFields;
  for (const auto* list : {&sys.LabelDefinitions, &sys.FunctionDefinitions}) {
    for (const DefinitionRecord& d : *list) {
      size += d.name.size() + d.script.size() + kDefinitionEntryFields;
    }
  }
  return size;
}

void AppendDefinitions(std::string* out, const std::vector<DefinitionRecord>& list) {
  AppendFixed32(out, list.size());
  for (const DefinitionRecord& d : list) {
    AppendText(out, d.name);
    AppendText(out, d.script);
    AppendFixed32(out, d.position);
  }
}

}  // namespace

bool GenScrObject(KCSystem& sys) {
  if (sys.log.errorCount != 0 || sys.Objects.empty()) return true;

  const uint64_t header_size = HeaderSize(sys);
  uint64_t image_size = header_size;
  for (const auto& [path, object] : sys.Objects) image_size += object->contents.size();
  if (image_size > ObjectWriter::kMaxImageSize) {
    sys.log.InternalError(kTooLarge);
    return false;
  }

  std::string header;
  header.reserve(header_size);
  header.append(kMark);
  AppendFixed32(&header, header_size);
  AppendFixed32(&header, sys.Objects.size());
  uint64_t code_offset = header_size;
  for (const auto& [path, object] : sys.Objects) {
    AppendText(&header, path);
    AppendFixed32(&header, code_offset);
    AppendFixed32(&header, object->contents.size());
    code_offset += object->contents.size();
  }
  AppendDefinitions(&header, sys.LabelDefinitions);
  AppendDefinitions(&header, sys.FunctionDefinitions);
  AppendText(&header, sys.engineDirectory);
  if (sys.checkOnly) {
    // Everything up to the write has been done and checked; the run reports
    // as if the object had been written.
    sys.scriptObjectWritten = true;
    return true;
  }

  // The header, then the code of every script in the order of the entries;
  // each temporary object is released as soon as its code is written.
  ObjectWriter out(image_size, MakeScrambleKey(sys.ScrambleSeed()));
  bool written = out.Open(sys.fs, sys.scriptObjectName) && out.Write(header);
  for (auto it = sys.Objects.begin(); written && it != sys.Objects.end();) {
    KCFile& object = *it->second;
    written = out.Write(object.contents);
    // Closed without being written anywhere, as every temporary object is.
    if (object.isOpen) {
      object.Reset();
    } else {
      sys.log.InternalError(kMsgCloseClosedFile);
    }
    if (sys.currentObject == &object) sys.currentObject = nullptr;
    it = sys.Objects.erase(it);
  }
  if (!written || !out.Commit()) {
    sys.log.InternalError(kMsgCloseWriteFailed);
    sys.log.Message(kMsgCannotWrite, {LogArg::Path(sys.scriptObjectName), LogArg::Path(out.error())});
    return false;
  }
  sys.scriptObjectWritten = true;
  return true;
}

}  // namespace kv
