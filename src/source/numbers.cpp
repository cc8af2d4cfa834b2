#include "source/numbers.h"

#include <cmath>

namespace kv {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Accumulates the digit run starting at *pos as value * 10 + digit modulo 2^32
// (done unsigned, so the wrap is defined) and advances *pos past it.
int32_t AccumulateDigits(std::string_view text, size_t* pos) {
  uint32_t accumulated = 0;
  while (*pos < text.size() && IsDigit(text[*pos])) {
    accumulated = accumulated * 10u + static_cast<uint32_t>(text[*pos] - '0');
    ++*pos;
  }
  return static_cast<int32_t>(accumulated);
}

// Reads digits of one radix (bits per digit) into 32 bits; digits beyond the
// capacity push the oldest ones out. Returns the number of digits read.
size_t AccumulateRadixDigits(std::string_view text, size_t pos, int bits,
                             uint32_t* result) {
  const int limit = (1 << bits) - 1;
  uint32_t accumulated = 0;
  size_t count = 0;
  while (pos + count < text.size()) {
    const int digit = HexDigitValue(text[pos + count]);
    if (digit < 0 || digit > limit) break;
    accumulated = (accumulated << bits) | static_cast<uint32_t>(digit);
    ++count;
  }
  *result = accumulated;
  return count;
}

// Writes characters into a bounded buffer, always leaving room for the NUL.
class BoundedText {
 public:
  BoundedText(char* buffer, size_t size) : buffer_(buffer), limit_(size - 1) {}
  void Put(char c) {
    if (length_ < limit_) {
      buffer_[length_++] = c;
    } else {
      cut_ = true;
    }
  }
  bool cut() const { return cut_; }
  void Terminate() { buffer_[length_] = '\0'; }

 private:
  char* buffer_;
  size_t limit_;
  size_t length_ = 0;
  bool cut_ = false;
};

}  // namespace

size_t ParseInteger(std::string_view text, int32_t* value) {
  size_t pos = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) pos = 1;
  if (pos >= text.size() || !IsDigit(text[pos])) return 0;
  const int32_t magnitude = AccumulateDigits(text, &pos);
  // Negation wraps like the accumulation: "-2147483648" stays -2147483648.
  *value = negative ? static_cast<int32_t>(0u - static_cast<uint32_t>(magnitude))
                    : magnitude;
  return pos;
}

size_t ReadDecimal(std::string_view text, double* value) {
  size_t pos = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) pos = 1;
  const int32_t integer_part = AccumulateDigits(text, &pos);
  if (pos == 0) return 0;

  double result = static_cast<double>(integer_part);
  if (pos < text.size() && text[pos] == '.') {
    ++pos;
    // A sign right after the point ends the number there: "7.+" reads as 7.
    const bool sign_follows =
        pos < text.size() && (text[pos] == '+' || text[pos] == '-');
    if (!sign_follows) {
      const size_t fraction_start = pos;
      const int32_t fraction_digits = AccumulateDigits(text, &pos);
      // One multiplication by 0.1 per digit, so 0.3 becomes 3 * 0.1 exactly.
      double fraction = static_cast<double>(fraction_digits);
      for (size_t i = fraction_start; i < pos; ++i) fraction *= 0.1;
      result += fraction;
    }
  }
  // The sign applies to the whole value, fraction included.
  *value = negative ? -result : result;
  return pos;
}

size_t ReadNumberText(std::string_view text, double* value, size_t* consumed) {
  int bits = 0;
  if (text.size() >= 2 && text[0] == '0') {
    if (text[1] == 'x' || text[1] == 'X') bits = 4;
    else if (text[1] == 'b' || text[1] == 'B') bits = 1;
  }
  if (bits == 0) {
    const size_t count = ReadDecimal(text, value);
    *consumed = count;
    return count;
  }
  uint32_t accumulated = 0;
  const size_t count = AccumulateRadixDigits(text, 2, bits, &accumulated);
  *consumed = 2 + count;
  if (count > 0) *value = static_cast<double>(static_cast<int32_t>(accumulated));
  return count;
}

bool NumberToText(char* buffer, size_t size, int fraction_digits, double value) {
  if (buffer == nullptr || size == 0) return false;

  // The integer part is the value truncated to 32 bits. Values whose integer part
  // does not fit are clamped to the nearest 32-bit limit with no fraction, and
  // NaN prints as 0: the plain conversion would be undefined there.
  int32_t integer_part = 0;
  double rest = 0.0;
  if (std::isnan(value)) {
    integer_part = 0;
  } else if (value >= 2147483648.0) {
    integer_part = INT32_MAX;
  } else if (value <= -2147483649.0) {
    integer_part = INT32_MIN;
  } else {
    integer_part = static_cast<int32_t>(value);
    rest = std::fabs(value - static_cast<double>(integer_part));  // exact, < 1
  }

  BoundedText out(buffer, size);
  if (value < 0.0) out.Put('-');

  uint32_t magnitude = integer_part < 0
                           ? 0u - static_cast<uint32_t>(integer_part)
                           : static_cast<uint32_t>(integer_part);
  char digits[10];
  size_t digit_count = 0;
  do {
    digits[digit_count++] = static_cast<char>('0' + magnitude % 10u);
    magnitude /= 10u;
  } while (magnitude != 0);
  while (digit_count > 0) out.Put(digits[--digit_count]);

  if (fraction_digits > 0) {
    out.Put('.');
    // Each digit is cut, never rounded: 2.675 with three digits gives 2.674.
    for (int i = 0; i < fraction_digits && !out.cut(); ++i) {
      rest *= 10.0;
      int digit = static_cast<int>(rest);
      if (digit > 9) digit = 9;
      rest -= digit;
      out.Put(static_cast<char>('0' + digit));
    }
  }
  out.Terminate();
  return !out.cut();
}

}  // namespace kv
