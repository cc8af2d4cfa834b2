#include "server/framing.h"

#include <algorithm>

namespace kv {
namespace {

constexpr size_t kMaxHeaderLine = 1024;
constexpr size_t kChunk = size_t{64} << 10;
constexpr std::string_view kLengthField = "content-length";

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return Lower(x) == Lower(y); });
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// A decimal length of at most 12 digits (anything longer is beyond every
// limit anyway).
bool ParseLength(std::string_view text, size_t* length) {
  if (text.empty() || text.size() > 12) return false;
  size_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<size_t>(c - '0');
  }
  *length = value;
  return true;
}

IncomingMessage ParseError(std::string error) {
  IncomingMessage message;
  message.kind = IncomingMessage::Kind::kParseError;
  message.error = std::move(error);
  return message;
}

}  // namespace

bool MessageReader::Fill() {
  if (pos_ > 0 && pos_ >= buffer_.size() / 2) {
    buffer_.erase(0, pos_);
    pos_ = 0;
  }
  if (!chunk_) chunk_.reset(new char[kChunk]);  // left unset: reads fill it
  const size_t got = source_.Read(chunk_.get(), kChunk);
  buffer_.append(chunk_.get(), got);
  return got > 0;
}

MessageReader::Line MessageReader::ReadLine(std::string* line) {
  size_t searched = pos_;
  for (;;) {
    const size_t end = buffer_.find('\n', searched);
    if (end != std::string::npos && end - pos_ <= kMaxHeaderLine) {
      line->assign(buffer_, pos_, end - pos_);
      if (!line->empty() && line->back() == '\r') line->pop_back();
      pos_ = end + 1;
      return Line::kRead;
    }
    if (buffer_.size() - pos_ > kMaxHeaderLine) return Line::kTooLong;
    searched = buffer_.size() - pos_;
    if (!Fill()) return Line::kEnd;
    searched += pos_;
  }
}

void MessageReader::SkipToNextHeader() {
  for (;;) {
    auto found = std::search(buffer_.begin() + static_cast<std::ptrdiff_t>(pos_), buffer_.end(),
                             kLengthField.begin(), kLengthField.end(),
                             [](char x, char y) { return Lower(x) == y; });
    if (found != buffer_.end()) {
      pos_ = static_cast<size_t>(found - buffer_.begin());
      return;
    }
    // Keep what could be the start of the field name.
    pos_ = std::max(pos_, buffer_.size() - std::min(buffer_.size(), kLengthField.size() - 1));
    if (!Fill()) {
      pos_ = buffer_.size();
      return;
    }
  }
}

IncomingMessage MessageReader::Next() {
  bool has_field = false;
  bool has_length = false;
  size_t length = 0;
  std::string problem;
  std::string line;
  for (;;) {
    const Line read = ReadLine(&line);
    if (read == Line::kEnd) return IncomingMessage{};
    if (read == Line::kTooLong) {
      ++pos_;  // the search for the next header starts inside the line
      problem = "header line too long";
      break;
    }
    if (line.empty()) {
      if (has_field) break;
      continue;  // blank lines between messages
    }
    has_field = true;
    const size_t colon = line.find(':');
    if (colon == std::string::npos) {
      problem = "header line without ':'";
      break;
    }
    if (!EqualsIgnoringCase(Trim(std::string_view(line).substr(0, colon)), kLengthField)) continue;
    size_t value = 0;
    if (!ParseLength(Trim(std::string_view(line).substr(colon + 1)), &value) ||
        (has_length && value != length)) {
      problem = "bad Content-Length";
      break;
    }
    has_length = true;
    length = value;
  }
  if (problem.empty() && !has_length) problem = "no Content-Length";
  if (!problem.empty()) {
    SkipToNextHeader();
    return ParseError("malformed header: " + problem);
  }
  if (length > max_body_bytes_) {
    // A length past the limit is not trusted to skip by: the reader goes on
    // at the next header, so that a wrong length cannot swallow the input.
    SkipToNextHeader();
    return ParseError("message too long");
  }
  while (buffer_.size() - pos_ < length) {
    if (!Fill()) return IncomingMessage{};
  }
  IncomingMessage message;
  const std::string_view body(buffer_.data() + pos_, length);
  if (!ParseJson(body, &message.value))
    message = ParseError("message is not JSON");
  else
    message.kind = IncomingMessage::Kind::kMessage;
  message.bytes = length;
  pos_ += length;
  return message;
}

std::string FrameHeader(size_t body_bytes) {
  return "Content-Length: " + std::to_string(body_bytes) + "\r\n\r\n";
}

std::string FrameMessage(const Json& message) {
  const std::string body = SerializeJson(message);
  return FrameHeader(body.size()) + body;
}

}  // namespace kv
