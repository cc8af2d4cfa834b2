// Hand-written conversions between decimal text and numbers. They never use the
// platform's number parsing or formatting: the exact values they produce (for
// example 0.3 read as 3 * 0.1) end up in compiled output and must not vary.
#ifndef KV_SOURCE_NUMBERS_H_
#define KV_SOURCE_NUMBERS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kv {

// Optional sign then at least one digit; the digits accumulate in 32 bits with
// wrap-around. Returns the number of characters consumed (> 0), or 0 when there
// is no number (then *value is left untouched).
size_t ParseInteger(std::string_view text, int32_t* value);

// Decimal rule: optional sign, a digit run (possibly empty), then an optional '.'
// and a fraction scaled by one multiplication by 0.1 per fraction digit. Returns
// the number of characters converted; 0 means no number and *value is untouched.
// A lone sign converts (1 character, value 0); "7.+" takes 2; "5." takes both.
size_t ReadDecimal(std::string_view text, double* value);

// Text number reader of the file layer: "0x"/"0X" hexadecimal, "0b"/"0B" binary
// (both 32 bits, older digits shifted out, result taken as signed), otherwise
// ReadDecimal. Returns the count ReadNumber reports (digits converted for hex and
// binary, characters for decimal; 0 = no number, *value untouched) and stores in
// *consumed how many bytes to advance: a prefix without digits stays consumed.
size_t ReadNumberText(std::string_view text, double* value, size_t* consumed);

// The shortest numeric literal, without a sign, that ReadNumberText reads
// back as exactly `value`, the same bits: digits that wrap to the integer
// part, then a point and the fraction digits when there is a fraction. False
// when no literal reads back to it: NaN, the infinities, -0 and every value
// that the 32-bit integer part and the tenth-by-tenth fraction cannot give
// (a script writes such a value with a sign, if at all).
bool NumberLiteral(double value, std::string* text);

// Decimal text of `value` with `fraction_digits` digits after the point, cut
// rather than rounded. Always NUL-terminates when size >= 1. Returns false only
// when the text does not fit (the buffer then holds the cut prefix) or size is 0.
bool NumberToText(char* buffer, size_t size, int fraction_digits, double value);

}  // namespace kv

#endif  // KV_SOURCE_NUMBERS_H_
