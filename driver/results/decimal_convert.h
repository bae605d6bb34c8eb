// Exact conversions of decimal numbers (protocol/decimal_text.h): into a
// scaled integer (the numeric structure, integer targets), into exponent form
// (a number that does not fit a character buffer otherwise), and a scaled
// integer back into decimal text (a numeric structure as a literal). No
// double is involved anywhere, so no digit changes; nothing allocates.
#pragma once

#include <cstddef>
#include <cstdint>

#include "protocol/decimal_text.h"

namespace q4 {

// SQL_NUMERIC_STRUCT holds a 128-bit magnitude; 38 digits always fit it.
constexpr int kMaxNumericDigits = 38;

enum class ScaledFit : uint8_t {
  kExact,        // the magnitude is the whole value
  kFractionCut,  // digits beyond the scale were cut off (toward zero)
  kOverflow,     // more than `max_digits` digits: nothing stored
};

// |value| x 10^scale, truncated toward zero, into *magnitude (the sign is
// the caller's: d.negative). `max_digits` is at most kMaxNumericDigits.
ScaledFit scale_decimal(const DecimalText& d, int scale, int max_digits,
                        unsigned __int128* magnitude);

// The number in exponent form with every significant digit, "-1.25e+300",
// "1e-300", "0" (no blanks, no "+" before the number, no padding of the
// exponent). Returns its length when it fits `room` bytes, else 0 (nothing
// written).
size_t write_exponent_form(const DecimalText& d, char* out, size_t room);

// The longest text write_scaled_integer writes: a sign, 39 digits, a point,
// and up to 128 zeros that a scale adds on either side.
constexpr size_t kMaxScaledIntegerText = 1 + 39 + 1 + 130;

// magnitude / 10^scale as decimal text without exponent: "-123.45" for
// (true, 12345, 2), "0.05" for (false, 5, 2), "1200" for (false, 12, -2). A
// negative zero is written "0". `scale` is clamped to -128..127 (the range of
// the structure's scale). Returns the length; `out` needs
// kMaxScaledIntegerText bytes.
size_t write_scaled_integer(bool negative, unsigned __int128 magnitude, int scale, char* out);

}  // namespace q4
