#include "runtime/strutil.h"

namespace {

constexpr uint8_t UpperOf(int c) {
  if (c >= 0x61 && c <= 0x7A) return uint8_t(c - 32);
  if ((c >= 0xE0 && c <= 0xF6) || (c >= 0xF8 && c <= 0xFD)) return uint8_t(c - 32);
  return uint8_t(c);  // 0xF7 (division sign), 0xFE (thorn) and 0xFF stay
}

constexpr uint8_t LowerOf(int c) {
  if (c >= 0x41 && c <= 0x5A) return uint8_t(c + 32);
  if ((c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xDD)) return uint8_t(c + 32);
  return uint8_t(c);  // 0xD7 (multiplication sign) and 0xDE (thorn) stay
}

struct CaseTables {
  uint8_t upper[256];
  uint8_t lower[256];
};

constexpr CaseTables MakeTables() {
  CaseTables t{};
  for (int c = 0; c < 256; c++) {
    t.upper[c] = UpperOf(c);
    t.lower[c] = LowerOf(c);
  }
  return t;
}

constexpr CaseTables kTables = MakeTables();

}  // namespace

const uint8_t (&kUpperCaseTable)[256] = kTables.upper;
const uint8_t (&kLowerCaseTable)[256] = kTables.lower;

char *StrToLower(char *text) {
  for (unsigned char *p = reinterpret_cast<unsigned char *>(text); *p; p++) *p = kLowerCaseTable[*p];
  return text;
}

int Strnicmp(const char *a, const char *b, size_t n) {
  if (a == b) return 0;
  const unsigned char *pa = reinterpret_cast<const unsigned char *>(a);
  const unsigned char *pb = reinterpret_cast<const unsigned char *>(b);
  for (; n > 0; n--, pa++, pb++) {
    int d = int(kUpperCaseTable[*pa]) - int(kUpperCaseTable[*pb]);
    if (d != 0 || *pa == 0) return d;
  }
  return 0;
}

int Stricmp(const char *a, const char *b) { return Strnicmp(a, b, SIZE_MAX); }

int IsAlphaChar(uint32_t c) {
  return (c >= 0x41 && c <= 0x5A) || (c >= 0x61 && c <= 0x7A) || (c >= 0xC0 && c <= 0xF6) ||
         (c >= 0xF8 && c <= 0xFF);
}

int IsGraphChar(uint32_t c) { return (c >= 0x21 && c <= 0x7E) || (c >= 0xA1 && c <= 0xFF); }

int IsAlnumChar(uint32_t c) { return (c >= 0x30 && c <= 0x39) || IsAlphaChar(c); }

size_t CopyString(char *dst, const char *src, size_t size) {
  size_t n = 0;
  while (src[n]) n++;
  size_t k = n < size ? n : size - 1;
  for (size_t i = 0; i < k; i++) dst[i] = src[i];
  dst[k] = 0;
  return n;
}
