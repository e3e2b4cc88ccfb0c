// FormatStr conversions: the conversion parser and the formatting of one conversion
// through the C library's formatter with the same conversion.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

struct qmFormatConversion {
  char text[24];  // "%", flags, width, precision and the letter, for snprintf
  char letter;
  bool hasPrecision;
};

// Reads the conversion that begins with the '%' at p (end bounds the format): its length,
// or 0 for a bad conversion (ERR_WRONGUSAGE) - more than two width or precision digits,
// more than 18 characters after the '%', or a letter that is not a conversion. "%%" is
// not a conversion; the caller copies it as one "%".
size_t ParseFormatConversion(const char *p, const char *end, qmFormatConversion *conv);

// The letter's argument kind.
enum qmFormatKind { FORMAT_REAL, FORMAT_SIGNED, FORMAT_UNSIGNED, FORMAT_STRING, FORMAT_QUOTED };
qmFormatKind FormatKindOf(char letter);

void AppendFormattedReal(const qmFormatConversion *conv, double v, std::string *out);
void AppendFormattedSigned(const qmFormatConversion *conv, int32_t v, std::string *out);
void AppendFormattedUnsigned(const qmFormatConversion *conv, uint32_t v, std::string *out);
// A text of 100 bytes or more without a precision is copied whole.
void AppendFormattedString(const qmFormatConversion *conv, const char *s, size_t len, std::string *out);
// Between double quotes; '"', '\' and newline get a backslash, a zero byte becomes "\000".
void AppendQuoted(const char *s, size_t len, std::string *out);
