// ISO Latin-1 case tables, case-insensitive comparison and character classes. The tables are
// constant, so any thread may use these functions.
#pragma once
#include <cstddef>
#include <cstdint>

extern const uint8_t (&kUpperCaseTable)[256];
extern const uint8_t (&kLowerCaseTable)[256];

// Folds text in place through the lower-case table; returns text.
char *StrToLower(char *text);
// The difference of the first bytes that differ after folding to upper case; 0 when equal.
int Stricmp(const char *a, const char *b);
// The same over at most n bytes.
int Strnicmp(const char *a, const char *b, size_t n);

// 1 or 0; any value above 255 gives 0.
int IsAlphaChar(uint32_t c);  // A-Z, a-z, 0xC0-0xF6, 0xF8-0xFF
int IsGraphChar(uint32_t c);  // 0x21-0x7E, 0xA1-0xFF
int IsAlnumChar(uint32_t c);  // digits or letters

// Copies at most size - 1 bytes of src and a terminator into dst (size > 0); returns the
// length of src, so a result >= size means the copy was cut.
size_t CopyString(char *dst, const char *src, size_t size);
