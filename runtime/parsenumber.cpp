#include "runtime/parsenumber.h"

#include <cstdlib>

#include "runtime/errcodes.h"

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

double ParseNumber(const char *text, size_t *consumed, uint32_t *error) {
  const char *p = text;
  uint32_t code = 0;
  double value = 0;
  bool negative = false;
  if (*p == '-') {
    negative = true;
    p++;
  }
  if (*p == '$' || (p[0] == '0' && (p[1] == 'x' || p[1] == 'X'))) {
    p += *p == '$' ? 1 : 2;
    if (text[0] != '-' && p[-1] == '$' && *p == '-') {  // "$-ff"
      negative = true;
      p++;
    }
    uint32_t n = 0;
    const char *start = p;
    for (int d; (d = HexDigit(*p)) >= 0; p++) n = n << 4 | uint32_t(d);
    if (p == start) code = ERR_SYNTAXERROR;
    value = n;
  } else if (*p == '%') {
    p++;
    uint32_t n = 0;
    const char *start = p;
    for (; *p == '0' || *p == '1'; p++) n = n << 1 | uint32_t(*p - '0');
    if (p == start) code = ERR_VALUEEXPECTED;
    value = n;
  } else if (IsDigit(*p) || (*p == '.' && IsDigit(p[1]))) {
    char *end = nullptr;
    value = std::strtod(p, &end);
    p = end;
  } else {
    code = ERR_VALUEEXPECTED;
  }
  if (code) p = text;
  if (consumed) *consumed = size_t(p - text);
  if (error) *error = code;
  if (code) return 0;
  return negative ? -value : value;
}
