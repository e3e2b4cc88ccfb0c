#include "player/string/string_number.h"

#include <cstdio>
#include <cstring>

namespace {

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 99;
}

bool IsSpaceByte(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

std::string NumberToCutText(double n, int32_t decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.14g", n);
  const char *point = std::strchr(text, '.');
  if (!point) return text;
  const char *exponent = std::strpbrk(point, "eE");
  size_t pointAt = size_t(point - text);
  size_t mantissaEnd = exponent ? size_t(exponent - text) : std::strlen(text);
  size_t keep;  // bytes of the mantissa that stay
  if (decimals == 0) keep = pointAt;
  else if (decimals < 0) keep = pointAt + 1;
  else keep = pointAt + 1 + size_t(decimals) < mantissaEnd ? pointAt + 1 + size_t(decimals) : mantissaEnd;
  std::string out(text, keep);
  if (exponent) out += exponent;
  return out;
}

uint32_t ParseUnsigned32(const char *s, size_t len, int base) {
  const char *p = s, *end = s + len;
  while (p < end && IsSpaceByte(*p)) p++;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  if (base == 16 && end - p >= 3 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && DigitValue(p[2]) < 16) p += 2;
  const char *digits = p;
  uint64_t v = 0;
  bool overflow = false;
  for (; p < end && DigitValue(*p) < base; p++) {
    v = v * uint64_t(base) + uint64_t(DigitValue(*p));
    if (v > 0xFFFFFFFFu) {
      overflow = true;
      v = 0x100000000u;  // stays above the limit without wrapping
    }
  }
  if (p == digits) return 0;
  while (p < end && IsSpaceByte(*p)) p++;
  if (p != end) return 0;
  if (overflow) return 0xFFFFFFFFu;
  return negative ? uint32_t(0x100000000u - v) : uint32_t(v);
}

std::string HexText(uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "$%X", v);
  return text;
}

std::string BinaryText(uint32_t v, int32_t type) {
  int bits;
  switch (type) {
    case 1: bits = 32; break;
    case 6: bits = 16; break;
    case 7: bits = 8; break;
    default: return "";
  }
  std::string out(size_t(bits), '0');
  for (int i = 0; i < bits; i++)
    if (v >> (bits - 1 - i) & 1) out[size_t(i)] = '1';
  return out;
}

std::string PaddedNumber(int32_t n, int32_t digits) {
  char text[16];
  int len = std::snprintf(text, sizeof text, "%d", n);
  std::string out;
  if (digits > len) out.assign(size_t(digits - len), '0');
  out.append(text, size_t(len));
  return out;
}
