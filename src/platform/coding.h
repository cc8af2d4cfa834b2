// Little-endian encoding and decoding of the fixed-size values stored in the
// object files. The writers append to a string; the readers take from the
// front of a string_view and return false, consuming nothing, when too few
// bytes are left.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace kv {

inline void EncodeFixed32(char* dst, uint32_t value) {
  dst[0] = static_cast<char>(value & 0xFF);
  dst[1] = static_cast<char>((value >> 8) & 0xFF);
  dst[2] = static_cast<char>((value >> 16) & 0xFF);
  dst[3] = static_cast<char>((value >> 24) & 0xFF);
}

inline uint32_t DecodeFixed32(const char* src) {
  const auto* p = reinterpret_cast<const unsigned char*>(src);
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline void EncodeFixed64(char* dst, uint64_t value) {
  EncodeFixed32(dst, static_cast<uint32_t>(value));
  EncodeFixed32(dst + 4, static_cast<uint32_t>(value >> 32));
}

inline uint64_t DecodeFixed64(const char* src) {
  return static_cast<uint64_t>(DecodeFixed32(src)) |
         (static_cast<uint64_t>(DecodeFixed32(src + 4)) << 32);
}

inline void PutFixed8(std::string* dst, uint8_t value) { dst->push_back(static_cast<char>(value)); }

inline void PutFixed32(std::string* dst, uint32_t value) {
  char buffer[4];
  EncodeFixed32(buffer, value);
  dst->append(buffer, 4);
}

// A double as the eight bytes of its IEEE-754 representation.
inline void PutDouble(std::string* dst, double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, 8);
  char buffer[8];
  EncodeFixed64(buffer, bits);
  dst->append(buffer, 8);
}

inline bool GetFixed8(std::string_view* input, uint8_t* value) {
  if (input->empty()) return false;
  *value = static_cast<uint8_t>((*input)[0]);
  input->remove_prefix(1);
  return true;
}

inline bool GetFixed32(std::string_view* input, uint32_t* value) {
  if (input->size() < 4) return false;
  *value = DecodeFixed32(input->data());
  input->remove_prefix(4);
  return true;
}

inline bool GetDouble(std::string_view* input, double* value) {
  if (input->size() < 8) return false;
  const uint64_t bits = DecodeFixed64(input->data());
  std::memcpy(value, &bits, 8);
  input->remove_prefix(8);
  return true;
}

// The next `n` bytes, as a view into the input.
inline bool GetBytes(std::string_view* input, uint32_t n, std::string_view* bytes) {
  if (input->size() < n) return false;
  *bytes = input->substr(0, n);
  input->remove_prefix(n);
  return true;
}

// A 32-bit length followed by that many bytes. Consumes nothing when either
// part is missing.
inline bool GetLengthPrefixed(std::string_view* input, std::string_view* bytes) {
  std::string_view rest = *input;
  uint32_t n;
  if (!GetFixed32(&rest, &n) || !GetBytes(&rest, n, bytes)) return false;
  *input = rest;
  return true;
}

}  // namespace kv
