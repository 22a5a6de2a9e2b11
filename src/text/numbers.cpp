#include "text/numbers.h"

#include <algorithm>
#include <cmath>

namespace korvex {

DecimalNumber parseDecimal(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const size_t firstDigit = i;
  // Once past int32 either way the magnitude stops growing.
  constexpr int64_t kBeyond = int64_t{1} << 32;
  int64_t magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
    magnitude = std::min(magnitude * 10 + (text[i] - '0'), kBeyond);
  DecimalNumber number;
  number.hasDigits = i > firstDigit;
  const int64_t value = negative ? -magnitude : magnitude;
  number.inRange = value >= INT32_MIN && value <= INT32_MAX;
  number.value = clampToInt32(value);
  return number;
}

int32_t clampToInt32(int64_t value) {
  return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

int32_t truncateToInt32(double value) {
  if (std::isnan(value)) return 0;
  if (value <= -2147483648.0) return INT32_MIN;
  if (value >= 2147483648.0) return INT32_MAX;
  return static_cast<int32_t>(value);
}

}  // namespace korvex
