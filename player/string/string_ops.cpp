#include "player/string/string_ops.h"

#include <cstring>

#include "runtime/strutil.h"

namespace {

inline uint8_t Fold(char c) { return kLowerCaseTable[static_cast<uint8_t>(c)]; }

// The next occurrence at or after from, or len when none; sub is not empty.
size_t NextOccurrence(const char *s, size_t len, const char *sub, size_t subLen, size_t from, bool caseSensitive) {
  if (subLen > len) return len;
  size_t last = len - subLen;  // the last position where sub still fits
  if (caseSensitive) {
    while (from <= last) {
      const void *hit = std::memchr(s + from, sub[0], last - from + 1);
      if (!hit) return len;
      size_t at = static_cast<size_t>(static_cast<const char *>(hit) - s);
      if (std::memcmp(s + at + 1, sub + 1, subLen - 1) == 0) return at;
      from = at + 1;
    }
    return len;
  }
  uint8_t first = Fold(sub[0]);
  for (; from <= last; from++) {
    if (Fold(s[from]) != first) continue;
    size_t k = 1;
    while (k < subLen && Fold(s[from + k]) == Fold(sub[k])) k++;
    if (k == subLen) return from;
  }
  return len;
}

}  // namespace

ptrdiff_t FindBytes(const char *s, size_t len, const char *sub, size_t subLen, size_t start, bool caseSensitive) {
  if (len == 0 || subLen == 0 || start >= len) return -1;
  size_t at = NextOccurrence(s, len, sub, subLen, start, caseSensitive);
  return at == len ? -1 : static_cast<ptrdiff_t>(at);
}

size_t CountBytes(const char *s, size_t len, const char *sub, size_t subLen, size_t start, bool caseSensitive) {
  if (len == 0 || subLen == 0) return 0;
  size_t count = 0;
  for (size_t at = start; at < len; at += subLen) {
    at = NextOccurrence(s, len, sub, subLen, at, caseSensitive);
    if (at == len) break;
    count++;
  }
  return count;
}

void ReplaceBytes(const char *s, size_t len, const char *search, size_t searchLen, const char *repl,
                  size_t replLen, size_t start, bool caseSensitive, std::string *out) {
  out->clear();
  if (searchLen == 0 || start >= len) {
    out->assign(s, len);
    return;
  }
  out->reserve(len);
  out->append(s, start);
  size_t from = start;
  for (;;) {
    size_t at = NextOccurrence(s, len, search, searchLen, from, caseSensitive);
    if (at == len) break;
    out->append(s + from, at - from);
    out->append(repl, replLen);
    from = at + searchLen;
  }
  out->append(s + from, len - from);
}

void RepeatBytes(const char *s, size_t len, size_t n, std::string *out) {
  out->clear();
  out->reserve(len * n);
  for (size_t i = 0; i < n; i++) out->append(s, len);
}

size_t SplitBytes(const char *s, size_t len, char separator, void (*part)(void *ctx, const char *p, size_t n),
                  void *ctx) {
  size_t count = 0, from = 0;
  for (;;) {
    const void *hit = from < len ? std::memchr(s + from, separator, len - from) : nullptr;
    size_t at = hit ? static_cast<size_t>(static_cast<const char *>(hit) - s) : len;
    part(ctx, s + from, at - from);
    count++;
    if (!hit) return count;
    from = at + 1;
  }
}

void TrimBytes(const char *s, size_t len, char c, int32_t side, size_t *begin, size_t *n) {
  size_t b = 0, e = len;
  if (side == 0) {
    while (b < e && s[b] == c) b++;
  } else {
    while (e > b && s[e - 1] == c) e--;
  }
  *begin = b;
  *n = e - b;
}

void LowerBytes(const char *s, size_t len, char *out) {
  for (size_t i = 0; i < len; i++) out[i] = static_cast<char>(kLowerCaseTable[static_cast<uint8_t>(s[i])]);
}

void UpperBytes(const char *s, size_t len, char *out) {
  for (size_t i = 0; i < len; i++) out[i] = static_cast<char>(kUpperCaseTable[static_cast<uint8_t>(s[i])]);
}
