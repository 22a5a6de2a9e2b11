// Numbers read from text (options, settings files, cell maps) and real
// values brought into int32.
#pragma once

#include <cstdint>
#include <string>

namespace korvex {

// A decimal integer at the start of `text`: leading white space, an optional
// sign, then digits up to the first other character.
struct DecimalNumber {
  bool hasDigits = false;  // false: no digit after the sign, value 0
  bool inRange = true;     // false: beyond int32, value saturated
  int32_t value = 0;
};
DecimalNumber parseDecimal(const std::string& text);

// `value` saturated to the int32 range.
int32_t clampToInt32(int64_t value);

// A real value truncated toward zero, saturated beyond int32; NaN gives 0.
int32_t truncateToInt32(double value);

}  // namespace korvex
