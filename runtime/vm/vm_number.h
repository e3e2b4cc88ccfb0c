// Number conversions with one defined result for every double.
#pragma once
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

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

constexpr int VM_MAXNUMBER2STR = 32;

// "00" "01" ... "99": whole numbers are written two digits at a time.
inline constexpr struct VmDigitPairs {
  char text[200];
  constexpr VmDigitPairs() : text() {
    for (int i = 0; i < 100; i++) {
      text[2 * i] = static_cast<char>('0' + i / 10);
      text[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
  }
} vm_digitpairs;

// The text of a number as "%.14g" gives it; returns its length. Whole numbers below 1e14
// (the common case: counters, indices) are written directly, with the same result.
inline int vm_number2str(double n, char *buf, size_t size) {
  if (size >= VM_MAXNUMBER2STR && n > -1e14 && n < 1e14 && n == static_cast<double>(static_cast<int64_t>(n)) &&
      !(n == 0 && std::signbit(n))) {
    int64_t v = static_cast<int64_t>(n);
    uint64_t u = v < 0 ? static_cast<uint64_t>(-v) : static_cast<uint64_t>(v);
    // Filled from the 24th byte down; at most 15 characters (14 digits and a sign), moved to buf
    // as one 16-byte block, the zeros above them included, which a call to copy them would cost
    // more than.
    char tmp[40] = {};
    char *const end = tmp + 24;
    char *p = end;
    while (u >= 100) {
      const char *pair = vm_digitpairs.text + 2 * (u % 100);
      u /= 100;
      *--p = pair[1];
      *--p = pair[0];
    }
    if (u >= 10) {
      *--p = vm_digitpairs.text[2 * u + 1];
      *--p = vm_digitpairs.text[2 * u];
    } else {
      *--p = static_cast<char>('0' + u);
    }
    if (v < 0) *--p = '-';
    int len = static_cast<int>(end - p);
    std::memcpy(buf, p, 16);
    buf[len] = '\0';
    return len;
  }
  return std::snprintf(buf, size, "%.14g", n);
}
