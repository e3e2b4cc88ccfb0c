#include "player/string/string_format.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr size_t kMaxSpecLength = 18;  // characters after the '%'

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Formats with the conversion into out; the text may hold zero bytes (%c of 0).
template <class T>
void AppendPrintf(const char *format, T v, std::string *out) {
  char buffer[512];
  int n = std::snprintf(buffer, sizeof buffer, format, v);
  if (n < 0) return;
  if (size_t(n) < sizeof buffer) {
    out->append(buffer, size_t(n));
    return;
  }
  size_t at = out->size();
  out->resize(at + size_t(n) + 1);
  std::snprintf(out->data() + at, size_t(n) + 1, format, v);
  out->resize(at + size_t(n));
}

}  // namespace

size_t ParseFormatConversion(const char *p, const char *end, qmFormatConversion *conv) {
  const char *q = p + 1;
  while (q < end && std::strchr("-+ #0", *q) && *q) q++;
  for (int i = 0; q < end && IsDigit(*q); i++, q++)
    if (i == 2) return 0;
  conv->hasPrecision = false;
  if (q < end && *q == '.') {
    conv->hasPrecision = true;
    q++;
    for (int i = 0; q < end && IsDigit(*q); i++, q++)
      if (i == 2) return 0;
  }
  if (q >= end || size_t(q - p) > kMaxSpecLength) return 0;
  if (!std::strchr("eEfgGdicouxXsq", *q) || *q == '\0') return 0;
  size_t len = size_t(q - p) + 1;
  std::memcpy(conv->text, p, len);
  conv->letter = *q;
  // The integer conversions print a 32-bit int; the text gets no length modifier.
  conv->text[len] = '\0';
  return len;
}

qmFormatKind FormatKindOf(char letter) {
  switch (letter) {
    case 'd': case 'i': case 'c': return FORMAT_SIGNED;
    case 'o': case 'u': case 'x': case 'X': return FORMAT_UNSIGNED;
    case 's': return FORMAT_STRING;
    case 'q': return FORMAT_QUOTED;
    default: return FORMAT_REAL;
  }
}

void AppendFormattedReal(const qmFormatConversion *conv, double v, std::string *out) { AppendPrintf(conv->text, v, out); }

void AppendFormattedSigned(const qmFormatConversion *conv, int32_t v, std::string *out) {
  AppendPrintf(conv->text, int(v), out);
}

void AppendFormattedUnsigned(const qmFormatConversion *conv, uint32_t v, std::string *out) {
  AppendPrintf(conv->text, unsigned(v), out);
}

void AppendFormattedString(const qmFormatConversion *conv, const char *s, size_t len, std::string *out) {
  if (!conv->hasPrecision && len >= 100) {
    out->append(s, len);
    return;
  }
  AppendPrintf(conv->text, s, out);
}

void AppendQuoted(const char *s, size_t len, std::string *out) {
  out->reserve(out->size() + len + 2);
  out->push_back('"');
  for (size_t i = 0; i < len; i++) {
    char c = s[i];
    if (c == '"' || c == '\\' || c == '\n') {
      out->push_back('\\');
      out->push_back(c);
    } else if (c == '\0') {
      out->append("\\000", 4);
    } else {
      out->push_back(c);
    }
  }
  out->push_back('"');
}
