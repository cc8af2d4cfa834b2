// JSON through nlohmann/json, used without exceptions: parsing reports
// failure, reading a member checks its type, writing replaces what is not
// UTF-8.
#pragma once

#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace kv {

using Json = nlohmann::json;

// Parses `text`. False when it is not JSON, or nests arrays and objects
// deeper than the protocol ever needs (a bound that keeps every later walk
// over the value shallow).
bool ParseJson(std::string_view text, Json* value);

// The compact text of `value`; bytes of strings that are not UTF-8 become
// U+FFFD.
std::string SerializeJson(const Json& value);

// Appends JSON text to a string piece by piece, for a value too large to be
// built as a tree first: the caller writes the punctuation and the keys, and
// strings are escaped as SerializeJson escapes them (bytes that are not UTF-8
// become U+FFFD).
class JsonTextWriter {
 public:
  explicit JsonTextWriter(std::string* out);
  ~JsonTextWriter();
  JsonTextWriter(const JsonTextWriter&) = delete;
  JsonTextWriter& operator=(const JsonTextWriter&) = delete;

  void Raw(std::string_view text) { out_->append(text); }
  void String(std::string_view text);  // quoted and escaped
  void Integer(int64_t value);

 private:
  std::string* out_;
  Json scratch_;  // each string goes through the library's own escaping
  std::unique_ptr<nlohmann::detail::serializer<Json>> serializer_;
};

// The member `key` of `object`, or null when `object` is no object or has
// no such member.
const Json* Member(const Json& object, std::string_view key);
// The member as a string, an integer or a boolean; false when it is missing
// or of another type (an integer must have no fraction).
bool StringMember(const Json& object, std::string_view key, std::string* value);
bool IntegerMember(const Json& object, std::string_view key, int64_t* value);
bool BoolMember(const Json& object, std::string_view key, bool* value);

}  // namespace kv
