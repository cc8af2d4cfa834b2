#include "output/script_object.h"

#include <cstdint>
#include <string>
#include <vector>

#include "driver/kc_system.h"
#include "source/pell_file.h"

namespace kv {
namespace {

constexpr char kMark[] = "KVS";
constexpr char kCreateFailed[] = "GenScrObject(1) スクリプトオブジェクトの生成に失敗\n";
constexpr char kMarkFailed[] = "GenScrObject(2) ファイル識別記号出力に失敗\n";
constexpr char kListFailed[] = "GenScrObject(3) ファイルリスト出力に失敗\n";
constexpr char kLabelsFailed[] = "GenScrObject(4) ラベル出力に失敗\n";
constexpr char kFunctionsFailed[] = "GenScrObject(5) 関数出力に失敗\n";
constexpr char kDirectoryFailed[] = "GenScrObject(6) 実行ファイルパス出力に失敗\n";
constexpr char kScanFailed[] = "GenScrObject(7) 一時オブジェクトスキャンに失敗\n";
constexpr char kCopyFailed[] = "GenScrObject(8) オブジェクトへの出力に失敗\n";

// Fixed part of the header: mark, headerSize, scriptCount, labelCount,
// functionCount, directoryLength.
constexpr uint64_t kFixedHeaderSize = 3 + 4 + 4 + 4 + 4 + 4;
// Per script entry: nameLength, codeOffset, codeLength.
constexpr uint64_t kScriptEntryFields = 12;
// Per definition entry: nameLength, scriptLength, position.
constexpr uint64_t kDefinitionEntryFields = 12;

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

int32_t Len(const std::string& text) { return static_cast<int32_t>(text.size()); }

bool WriteDefinitions(KCFile& out, const std::vector<DefinitionRecord>& list) {
  if (!out.FilePrint("%i", {static_cast<int32_t>(list.size())})) return false;
  for (const DefinitionRecord& d : list) {
    if (!out.FilePrint("%i%s%i%s%i", {Len(d.name), d.name, Len(d.script), d.script,
                                       static_cast<int32_t>(d.position)})) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool GenScrObject(KCSystem& sys) {
  if (sys.log.errorCount != 0 || sys.Objects.empty()) return true;

  KCFile out(sys.fs);
  if (!out.FileOpen(sys.scriptObjectName, ModeWrite | ModeTruncate | ModeBinary)) {
    sys.log.Error(kMsgNameMayBeWrong, {LogArg::Path(sys.scriptObjectName)});
    sys.log.InternalError(kCreateFailed);
    return false;
  }

  const uint64_t full_header_size = HeaderSize(sys);
  uint64_t code_size = 0;
  for (const auto& [path, object] : sys.Objects) code_size += object->contents.size();
  // The whole file is built in one buffer, scrambled in place (two bytes
  // more) and written; reserving it at once avoids copying it while it grows.
  out.contents.reserve(full_header_size + code_size + 2);

  const int32_t header_size = static_cast<int32_t>(full_header_size);
  if (!out.FilePrint("%s%i", {kMark, header_size})) {
    sys.log.InternalError(kMarkFailed);
    return false;
  }

  bool listed = out.FilePrint("%i", {static_cast<int32_t>(sys.Objects.size())});
  int64_t code_offset = header_size;
  for (auto it = sys.Objects.begin(); listed && it != sys.Objects.end(); ++it) {
    const int32_t code_length = static_cast<int32_t>(it->second->contents.size());
    listed = out.FilePrint("%i%s%i%i", {Len(it->first), it->first,
                                        static_cast<int32_t>(code_offset), code_length});
    code_offset += code_length;
  }
  if (!listed) {
    sys.log.InternalError(kListFailed);
    return false;
  }
  if (!WriteDefinitions(out, sys.LabelDefinitions)) {
    sys.log.InternalError(kLabelsFailed);
    return false;
  }
  if (!WriteDefinitions(out, sys.FunctionDefinitions)) {
    sys.log.InternalError(kFunctionsFailed);
    return false;
  }
  if (!out.FilePrint("%i%s", {Len(sys.engineDirectory), sys.engineDirectory})) {
    sys.log.InternalError(kDirectoryFailed);
    return false;
  }

  // Copy the code of every script in the order of the entries; each temporary
  // object is released as soon as its code stands in the output.
  for (auto it = sys.Objects.begin(); it != sys.Objects.end();) {
    KCFile& object = *it->second;
    if (!object.FileSeek(0, 0)) {
      sys.log.InternalError(kScanFailed);
      return false;
    }
    if (!out.WriteBytes(object.contents.data(), object.contents.size())) {
      sys.log.InternalError(kCopyFailed);
      return false;
    }
    // Closed without being written, as KCFile::FileClose would complain of a
    // closed object.
    if (object.isOpen) {
      object.Reset();
    } else {
      sys.log.InternalError(kMsgCloseClosedFile);
    }
    if (sys.currentObject == &object) sys.currentObject = nullptr;
    it = sys.Objects.erase(it);
  }

  if (sys.checkOnly) {
    // Everything up to the write has been done and checked; the run reports
    // as if the object had been written.
    out.Reset();
    sys.scriptObjectWritten = true;
    return true;
  }
  sys.scriptObjectWritten = out.FileClose(sys.log, sys.ScrambleSeed());
  return sys.scriptObjectWritten;
}

}  // namespace kv
