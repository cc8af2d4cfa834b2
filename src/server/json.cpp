#include "server/json.h"

#include <charconv>

namespace kv {
namespace {

constexpr int kMaxDepth = 64;

// Builds the value as nlohmann's own parser does, and stops the parse when
// arrays and objects nest too deep.
class BoundedDepthBuilder : public nlohmann::detail::json_sax_dom_parser<Json> {
 public:
  explicit BoundedDepthBuilder(Json& value)
      : nlohmann::detail::json_sax_dom_parser<Json>(value, false) {}

  bool start_object(std::size_t n) {
    return ++depth_ <= kMaxDepth && json_sax_dom_parser::start_object(n);
  }
  bool end_object() {
    --depth_;
    return json_sax_dom_parser::end_object();
  }
  bool start_array(std::size_t n) {
    return ++depth_ <= kMaxDepth && json_sax_dom_parser::start_array(n);
  }
  bool end_array() {
    --depth_;
    return json_sax_dom_parser::end_array();
  }

 private:
  int depth_ = 0;
};

}  // namespace

bool ParseJson(std::string_view text, Json* value) {
  Json parsed;
  BoundedDepthBuilder builder(parsed);
  if (!Json::sax_parse(text.begin(), text.end(), &builder, nlohmann::detail::input_format_t::json,
                       true, false) ||
      builder.is_errored()) {
    return false;
  }
  *value = std::move(parsed);
  return true;
}

std::string SerializeJson(const Json& value) {
  return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

JsonTextWriter::JsonTextWriter(std::string* out)
    : out_(out),
      scratch_(std::string()),
      serializer_(std::make_unique<nlohmann::detail::serializer<Json>>(
          nlohmann::detail::output_adapter<char>(*out), ' ', Json::error_handler_t::replace)) {}

JsonTextWriter::~JsonTextWriter() = default;

void JsonTextWriter::String(std::string_view text) {
  scratch_.get_ref<std::string&>().assign(text);
  serializer_->dump(scratch_, false, false, 0);
}

void JsonTextWriter::Integer(int64_t value) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out_->append(digits, end);
}

const Json* Member(const Json& object, std::string_view key) {
  if (!object.is_object()) return nullptr;
  auto it = object.find(key);
  return it == object.end() ? nullptr : &*it;
}

bool StringMember(const Json& object, std::string_view key, std::string* value) {
  const Json* member = Member(object, key);
  if (member == nullptr || !member->is_string()) return false;
  *value = member->get_ref<const std::string&>();
  return true;
}

bool IntegerMember(const Json& object, std::string_view key, int64_t* value) {
  const Json* member = Member(object, key);
  if (member == nullptr) return false;
  if (member->is_number_unsigned()) {
    // Beyond int64_t is as large as a position or a version can mean.
    const uint64_t number = member->get<uint64_t>();
    *value = number > uint64_t{INT64_MAX} ? INT64_MAX : static_cast<int64_t>(number);
    return true;
  }
  if (!member->is_number_integer()) return false;
  *value = member->get<int64_t>();
  return true;
}

bool BoolMember(const Json& object, std::string_view key, bool* value) {
  const Json* member = Member(object, key);
  if (member == nullptr || !member->is_boolean()) return false;
  *value = member->get<bool>();
  return true;
}

}  // namespace kv
