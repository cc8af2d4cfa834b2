#include "output/media_archive.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "context/kc_system.h"
#include "context/object_format.h"
#include "output/object_writer.h"
#include "platform/coding.h"
#include "platform/file_system.h"

namespace kv {
namespace {

constexpr char kOpenFailed[] = "GenImgAdoObject(3) オブジェクトファイルオープンに失敗\n";
constexpr char kCopyFailed[] = "GenImgAdoObject(5) オブジェクトへの出力に失敗\n";
constexpr char kOutputFailed[] = "GenImgAdoObject(6) オブジェクトの出力に失敗\n";
constexpr char kTooLarge[] = "GenImgAdoObject(7) アーカイブが 2147483647 バイトを超えます\n";
enum class CopyResult { kDone, kReadFailed, kWriteFailed };

// Streams one media file and its trailing zero byte into the archive. The file
// must still have the size its entry was written with. A read that fails
// leaves its reason in *err.
CopyResult CopyMediaFile(FileSystem& fs, const std::string& path, uint64_t size,
                         ObjectWriter* out, std::string* err) {
  std::unique_ptr<InputFile> in = fs.OpenInput(path, err);
  if (!in) return CopyResult::kReadFailed;
  bool same_size = in->Size() == size;
  uint64_t copied = 0;
  while (same_size && copied < size) {
    size_t got = 0;
    bool read_failed = false;
    if (!out->WriteFrom(*in, size - copied, &got, &read_failed, err)) {
      return read_failed ? CopyResult::kReadFailed : CopyResult::kWriteFailed;
    }
    same_size = got != 0;  // ends sooner than it did
    copied += got;
  }
  // A file that has grown since its size was taken no longer fits its entry.
  char probe;
  size_t more = 0;
  if (same_size && !in->Read(&probe, 1, &more, err)) return CopyResult::kReadFailed;
  if (!same_size || more != 0) {
    *err = kReasonSizeChanged;
    return CopyResult::kReadFailed;
  }
  const char zero = 0;
  return out->Write(&zero, 1) ? CopyResult::kDone : CopyResult::kWriteFailed;
}

void ReportWriteFailure(KCSystem& sys, const std::string& object_name, const std::string& err) {
  sys.log.InternalErrorAt({object_name}, kMsgCloseWriteFailed);
  sys.log.InternalErrorAt({object_name}, kOutputFailed);
  sys.log.Message(kMsgCannotWrite, {LogArg::Path(object_name), LogArg::Path(err)});
}

// Everything after the start message; the caller prints the finish message.
bool WriteArchive(KCSystem& sys, std::string_view mark, const std::vector<std::string>& files,
                  const std::string& object_name) {
  // Take every file's size first: the header holds all offsets and lengths,
  // and the scrambler needs the total length before the first byte.
  uint64_t header_size = kFixedHeaderSize;
  for (const std::string& path : files) header_size += path.size() + kEntryOverhead;
  std::vector<uint64_t> sizes;
  sizes.reserve(files.size());
  uint64_t image_size = header_size;
  std::string err;
  for (const std::string& path : files) {
    std::unique_ptr<InputFile> in = sys.fs.OpenInput(path, &err);
    if (!in) {
      sys.log.ErrorAt({path}, kMsgNameMayBeWrong, {LogArg::Path(path)});
      sys.log.InternalErrorAt({path}, kOpenFailed);
      sys.log.Message(kMsgCannotRead, {LogArg::Path(path), LogArg::Path(err)});
      return false;
    }
    sizes.push_back(in->Size());
    // Stays far from wrapping: each term is capped before it is added.
    image_size += std::min(in->Size(), ObjectWriter::kMaxImageSize) + 1;
    sys.log.Message(kMsgConverting, {LogArg::Path(path)});
  }
  if (image_size > ObjectWriter::kMaxImageSize) {
    sys.log.InternalErrorAt({object_name}, kTooLarge);
    return false;
  }
  // A check only needs to know that every file can be read and that the
  // archive could be written.
  if (sys.options.checkOnly) {
    if (ObjectWriter::CanWrite(sys.fs, object_name, &err)) return true;
    ReportWriteFailure(sys, object_name, err);
    return false;
  }

  std::string header;
  header.reserve(header_size);
  header.append(mark);
  PutFixed32(&header, static_cast<uint32_t>(header_size));
  PutFixed32(&header, static_cast<uint32_t>(files.size()));
  uint64_t data_offset = header_size;
  for (size_t i = 0; i < files.size(); ++i) {
    const uint64_t data_length = sizes[i] + 1;  // the file and its zero byte
    PutFixed32(&header, static_cast<uint32_t>(files[i].size()));
    header.append(files[i]);
    PutFixed32(&header, static_cast<uint32_t>(data_offset));
    PutFixed32(&header, static_cast<uint32_t>(data_length));
    data_offset += data_length;
  }

  ObjectWriter out(image_size, MakeScrambleKey(sys.ScrambleSeed()));
  if (!out.Open(sys.fs, object_name)) {
    ReportWriteFailure(sys, object_name, out.error());
    return false;
  }
  bool written = out.Write(header);
  std::string().swap(header);
  for (size_t i = 0; written && i < files.size(); ++i) {
    err.clear();
    switch (CopyMediaFile(sys.fs, files[i], sizes[i], &out, &err)) {
      case CopyResult::kDone:
        break;
      case CopyResult::kReadFailed:
        sys.log.InternalErrorAt({files[i]}, kCopyFailed);
        if (!err.empty()) {
          sys.log.Message(kMsgCannotRead, {LogArg::Path(files[i]), LogArg::Path(err)});
        }
        return false;
      case CopyResult::kWriteFailed:
        written = false;
        break;
    }
  }
  if (!written || !out.Commit()) {
    ReportWriteFailure(sys, object_name, out.error());
    return false;
  }
  return true;
}

}  // namespace

bool WriteMediaArchive(KCSystem& sys, std::string_view mark, const std::vector<std::string>& files,
                       const std::string& object_name, std::string_view start_message,
                       std::string_view finish_message) {
  if (files.empty()) return true;
  sys.log.Message(start_message);
  const bool written = WriteArchive(sys, mark, files, object_name);
  sys.log.Message(finish_message);
  return written;
}

}  // namespace kv
