#include "source/numbers.h"

#include <algorithm>
#include <cmath>
#include <cstring>

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

namespace {

// Whether `text` reads back, whole, as the same bits as `value`.
bool ReadsBackAs(const std::string& text, double value) {
  double read = 0;
  size_t consumed = 0;
  if (ReadNumberText(text, &read, &consumed) == 0 || consumed != text.size()) return false;
  return std::memcmp(&read, &value, sizeof value) == 0;
}

// The digits that wrap to `integer` in 32 bits: the number itself, or for a
// negative one the number plus 2^32.
std::string WrappedDigits(int32_t integer) {
  return std::to_string(static_cast<uint32_t>(integer));
}

}  // namespace

bool NumberLiteral(double value, std::string* text) {
  if (!std::isfinite(value) || (value == 0 && std::signbit(value))) return false;
  const double floor = std::floor(value);
  if (floor < -2147483648.0 || floor > 2147483647.0) return false;
  if (floor == value) {
    *text = WrappedDigits(static_cast<int32_t>(floor));
    return ReadsBackAs(*text, value);
  }
  // value = I + F * 0.1 * 0.1 ..., one 0.1 per digit of F, where I and F are
  // the 32-bit numbers their digits wrap to (F is negative for ten digits of
  // 2^31 or more, and I is then the integer above). The fewest digits win.
  // Once the nearest F for k digits lies beyond 32 bits, more digits only
  // make it larger.
  double scale = 1;  // 10^k
  for (int k = 1; k <= 400; ++k) {
    scale *= 10;
    bool within = false;
    for (const double base : {floor, floor + 1}) {
      if (base > 2147483647.0) continue;
      const double nearest = std::nearbyint((value - base) * scale);
      if (!(std::fabs(nearest) <= 2147483649.0)) continue;
      within = true;
      for (double f = nearest - 1; f <= nearest + 1; ++f) {
        if (f < -2147483648.0 || f > 2147483647.0) continue;
        const std::string fraction = WrappedDigits(static_cast<int32_t>(f));
        if (fraction.size() > static_cast<size_t>(k)) continue;
        std::string candidate = WrappedDigits(static_cast<int32_t>(base)) + "." +
                                std::string(k - fraction.size(), '0') + fraction;
        if (ReadsBackAs(candidate, value)) {
          *text = std::move(candidate);
          return true;
        }
      }
    }
    if (!within) return false;
  }
  return false;
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
