#pragma once

// Integer helpers for geometry that a host can push to the limits of 32
// bits. Converting an out-of-range double to an integer, or overflowing a
// signed sum, is undefined behaviour, so both saturate instead.

#include <cmath>
#include <cstdint>
#include <limits>

namespace lenstrove {

constexpr int32_t SaturateToInt32(int64_t value) {
  if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

// Truncation toward zero, as a plain conversion does for values in range.
inline int32_t TruncateToInt32(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 2147483648.0) return std::numeric_limits<int32_t>::max();
  if (value <= -2147483649.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

}  // namespace lenstrove
