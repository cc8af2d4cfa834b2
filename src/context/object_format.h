// The layout of the object files the converter writes: the identification
// marks, the fixed part of the headers, and the entries of compiled code.
// All integers are 32-bit little-endian (see platform/coding.h).
//
// Script object ("KVS"):
//   mark[3] headerSize scriptCount
//   scriptCount x { nameLength name codeOffset codeLength }
//   labelCount    x { nameLength name scriptLength script position }
//   functionCount x { nameLength name scriptLength script position }
//   directoryLength directory
//   the code of every script, in the order of its entries, without gaps
// Media archive ("KVI", "KVA", "KVM"):
//   mark[3] headerSize fileCount
//   fileCount x { nameLength name dataOffset dataLength }
//   the contents of every file, each followed by one zero byte
#pragma once

#include <cstdint>
#include <string_view>

namespace kv {

inline constexpr std::string_view kScriptObjectMark = "KVS";
inline constexpr std::string_view kImageArchiveMark = "KVI";
inline constexpr std::string_view kAudioArchiveMark = "KVA";
inline constexpr std::string_view kMovieArchiveMark = "KVM";
inline constexpr size_t kMarkSize = 3;

// Offsets of the fields every object starts with.
inline constexpr size_t kHeaderSizeOffset = 3;
inline constexpr size_t kEntryCountOffset = 7;
inline constexpr size_t kFixedHeaderSize = 11;  // mark, header size, entry count
// A script or archive entry: name length, offset and length around the name.
inline constexpr size_t kEntryOverhead = 12;
// A label or function entry: two lengths and the position around two texts.
inline constexpr size_t kDefinitionOverhead = 12;
// The label count, the function count and the directory length.
inline constexpr size_t kScriptHeaderCounts = 12;

// Specifier bytes of the compiled code entries, and the sizes of their
// fixed payloads.
enum Specifier : uint8_t {
  SpecCommand = 0x01,   // command id, 4 bytes
  SpecString = 0x02,    // length, then the bytes
  SpecChar = 0x04,      // one byte: a count or an operator code
  SpecLong = 0x08,      // 4 bytes: a jump distance
  SpecDouble = 0x10,    // 8 bytes: an IEEE-754 double
  SpecVariable = 0x20,  // length, then the name bytes
};

// A script abandoned at the error limit ends with this string entry instead
// of the end command.
inline constexpr std::string_view kErrorMarker = "error";

// Expression items that are operators (SpecChar) hold the operator's code,
// whose table is context/operators.h.

}  // namespace kv
