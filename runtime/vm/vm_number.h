// Number conversions with one defined result for every double.
#pragma once
#include <cstdint>
#include <cstdio>

// Truncation toward zero; NaN and values outside the signed 32-bit range give INT32_MIN.
inline int32_t vm_toint32(double d) {
  if (d > -2147483649.0 && d < 2147483648.0) return static_cast<int32_t>(d);
  return INT32_MIN;
}

// Negative numbers wrap through the signed conversion (two's complement); others are
// clamped to 4294967295 and truncated; NaN takes the signed path.
inline uint32_t vm_touint32(double d) {
  if (d >= 0) return d >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<uint32_t>(d);
  return static_cast<uint32_t>(vm_toint32(d));
}

// The text of a number ("%.14g"); returns its length.
inline int vm_number2str(double n, char *buf, size_t size) { return std::snprintf(buf, size, "%.14g", n); }
constexpr int VM_MAXNUMBER2STR = 32;
