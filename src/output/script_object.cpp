#include "output/script_object.h"

#include <cstdint>
#include <string>
#include <vector>

#include "context/kc_system.h"
#include "context/object_format.h"
#include "context/kc_file.h"
#include "output/object_writer.h"
#include "platform/bulk_memory.h"
#include "platform/coding.h"

namespace kv {
namespace {

constexpr char kTooLarge[] = "GenScrObject(9) スクリプトオブジェクトが 2147483647 バイトを超えます\n";


// The header goes to the writer in pieces of about this size: a game's
// labels and functions can make it megabytes long.
constexpr size_t kHeaderPiece = 64 * 1024;

// Collects header fields and hands them to the writer piece by piece.
class HeaderWriter {
 public:
  explicit HeaderWriter(ObjectWriter* out) : out_(out) { piece_.reserve(kHeaderPiece + 4096); }

  void Fixed32(uint64_t value) { PutFixed32(&piece_, static_cast<uint32_t>(value)); }
  void Bytes(std::string_view bytes) {
    piece_.append(bytes);
    if (piece_.size() >= kHeaderPiece) Flush();
  }
  void Text(std::string_view text) {
    Fixed32(text.size());
    Bytes(text);
  }
  // False when a piece could not be written.
  bool Flush() {
    ok_ = ok_ && out_->Write(piece_);
    piece_.clear();
    return ok_;
  }

 private:
  ObjectWriter* out_;
  std::string piece_;
  bool ok_ = true;
};

uint64_t HeaderSize(const KCSystem& sys) {
  uint64_t size = kFixedHeaderSize + kScriptHeaderCounts + sys.options.engineDirectory.size();
  for (const auto& [path, object] : sys.results.Objects) size += path.size() + kEntryOverhead;
  for (const auto* list : {&sys.results.LabelDefinitions, &sys.results.FunctionDefinitions}) {
    for (const DefinitionRecord& d : *list) {
      size += d.name.size() + d.script.size() + kDefinitionOverhead;
    }
  }
  return size;
}

// Written code is not read again: its pages go back as the object is
// written, so the writer's buffers do not come on top of the whole game's
// code. The scripts' code mostly lies in the order it is written, so the
// pages go in runs of several MiB (one call for each script's would cost
// more than the writing).
class WrittenCode {
 public:
  ~WrittenCode() { Discard(); }
  void Add(std::string_view code) {
    if (code.data() != end_) Discard();
    if (begin_ == nullptr) begin_ = code.data();
    end_ = code.data() + code.size();
    if (static_cast<size_t>(end_ - begin_) >= kRun) Discard();
  }

 private:
  static constexpr size_t kRun = size_t{8} << 20;
  void Discard() {
    if (begin_ != nullptr) DiscardPages(const_cast<char*>(begin_), static_cast<size_t>(end_ - begin_));
    begin_ = end_ = nullptr;
  }
  const char* begin_ = nullptr;
  const char* end_ = nullptr;
};

void ReportWriteFailure(KCSystem& sys, const std::string& name, const std::string& err) {
  sys.log.InternalErrorAt({name}, kMsgCloseWriteFailed);
  sys.log.Message(kMsgCannotWrite, {LogArg::Path(name), LogArg::Path(err)});
}

void WriteDefinitions(HeaderWriter* header, const DefinitionList& list) {
  header->Fixed32(list.size());
  for (const DefinitionRecord& d : list) {
    header->Text(d.name);
    header->Text(d.script);
    header->Fixed32(d.position);
  }
}

}  // namespace

bool WriteScriptObject(KCSystem& sys) {
  if (sys.log.errorCount != 0 || sys.results.Objects.empty()) return true;

  const uint64_t header_size = HeaderSize(sys);
  uint64_t image_size = header_size;
  for (const auto& [path, object] : sys.results.Objects) image_size += object->CodeSize();
  const std::string& name = sys.options.scriptObjectName;
  if (image_size > ObjectWriter::kMaxImageSize) {
    sys.log.InternalErrorAt({name}, kTooLarge);
    return false;
  }

  if (sys.options.checkOnly) {
    // Everything a write needs has been checked once the file is known to
    // be writable; the run then reports as if the object had been written.
    std::string err;
    if (!ObjectWriter::CanWrite(sys.fs, name, &err)) {
      ReportWriteFailure(sys, name, err);
      return false;
    }
    sys.results.scriptObjectWritten = true;
    return true;
  }

  // The header, then the code of every script in the order of the entries;
  // each temporary object is released as soon as its code is written.
  ObjectWriter out(image_size, MakeScrambleKey(sys.ScrambleSeed()));
  bool written = out.Open(sys.fs, name);
  if (written) {
    HeaderWriter header(&out);
    header.Bytes(kScriptObjectMark);
    header.Fixed32(header_size);
    header.Fixed32(sys.results.Objects.size());
    uint64_t code_offset = header_size;
    for (const auto& [path, object] : sys.results.Objects) {
      header.Text(path);
      header.Fixed32(code_offset);
      header.Fixed32(object->CodeSize());
      code_offset += object->CodeSize();
    }
    WriteDefinitions(&header, sys.results.LabelDefinitions);
    WriteDefinitions(&header, sys.results.FunctionDefinitions);
    header.Text(sys.options.engineDirectory);
    written = header.Flush();
  }
  WrittenCode written_code;
  for (auto it = sys.results.Objects.begin(); written && it != sys.results.Objects.end();) {
    KCFile& object = *it->second;
    const std::string_view code = object.Code();
    written = out.Write(code);
    // Code that could not be moved out of its object goes with the object.
    if (object.codeKept) written_code.Add(code);
    // Closed without being written anywhere, as every temporary object is.
    if (object.isOpen) {
      object.Reset();
    } else {
      sys.log.InternalError(kMsgCloseClosedFile);
    }
    if (sys.script.currentObject == &object) sys.script.currentObject = nullptr;
    it = sys.results.Objects.erase(it);
  }
  if (!written || !out.Commit()) {
    ReportWriteFailure(sys, name, out.error());
    return false;
  }
  sys.results.scriptObjectWritten = true;
  return true;
}

}  // namespace kv
