// FormatStr conversions: the specification parser and the formatting of one conversion
// through the C library's formatter with the same specification.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

struct qmFormatSpec {
  char text[24];  // "%", flags, width, precision and the letter, for snprintf
  char letter;
  bool hasPrecision;
};

// Reads the conversion that begins with the '%' at p (end bounds the format): its length,
// or 0 for a bad specification (ERR_WRONGUSAGE) - more than two width or precision digits,
// more than 18 characters after the '%', or a letter that is not a conversion. "%%" is
// not a conversion; the caller copies it as one "%".
size_t ParseFormatSpec(const char *p, const char *end, qmFormatSpec *spec);

// The letter's argument kind.
enum qmFormatKind { FORMAT_REAL, FORMAT_SIGNED, FORMAT_UNSIGNED, FORMAT_STRING, FORMAT_QUOTED };
qmFormatKind FormatKindOf(char letter);

void AppendFormattedReal(const qmFormatSpec *spec, double v, std::string *out);
void AppendFormattedSigned(const qmFormatSpec *spec, int32_t v, std::string *out);
void AppendFormattedUnsigned(const qmFormatSpec *spec, uint32_t v, std::string *out);
// A text of 100 bytes or more without a precision is copied whole.
void AppendFormattedString(const qmFormatSpec *spec, const char *s, size_t len, std::string *out);
// Between double quotes; '"', '\' and newline get a backslash, a zero byte becomes "\000".
void AppendQuoted(const char *s, size_t len, std::string *out);
