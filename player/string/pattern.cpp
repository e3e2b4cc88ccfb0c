#include "player/string/pattern.h"

#include <cstring>

#include "runtime/errcodes.h"

namespace {

constexpr char kEscape = '%';

// Character classes of the POSIX locale, so that results never depend on setlocale.
bool IsLowerAscii(int c) { return c >= 'a' && c <= 'z'; }
bool IsUpperAscii(int c) { return c >= 'A' && c <= 'Z'; }
bool IsDigitAscii(int c) { return c >= '0' && c <= '9'; }
bool IsAlphaAscii(int c) { return IsLowerAscii(c) || IsUpperAscii(c); }
bool IsSpaceAscii(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsControlAscii(int c) { return c < 32 || c == 127; }
bool IsPunctAscii(int c) { return c > 32 && c < 127 && !IsAlphaAscii(c) && !IsDigitAscii(c); }
bool IsHexAscii(int c) { return IsDigitAscii(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// c against the class letter after a '%'; a letter that names no class stands for itself.
bool ClassMatches(int c, int letter) {
  bool in;
  switch (IsUpperAscii(letter) ? letter + ('a' - 'A') : letter) {
    case 'a': in = IsAlphaAscii(c); break;
    case 'c': in = IsControlAscii(c); break;
    case 'd': in = IsDigitAscii(c); break;
    case 'l': in = IsLowerAscii(c); break;
    case 'p': in = IsPunctAscii(c); break;
    case 's': in = IsSpaceAscii(c); break;
    case 'u': in = IsUpperAscii(c); break;
    case 'w': in = IsAlphaAscii(c) || IsDigitAscii(c); break;
    case 'x': in = IsHexAscii(c); break;
    case 'z': in = c == 0; break;
    default: return letter == c;
  }
  return IsUpperAscii(letter) ? !in : in;
}

// c against the set from '[' at p to its closing ']' at close.
bool SetMatches(int c, const char *p, const char *close) {
  bool member = true;
  p++;
  if (*p == '^') {
    member = false;
    p++;
  }
  while (p < close) {
    if (*p == kEscape) {
      if (ClassMatches(c, static_cast<unsigned char>(p[1]))) return member;
      p += 2;
    } else if (p[1] == '-' && p + 2 < close) {
      if (static_cast<unsigned char>(p[0]) <= c && c <= static_cast<unsigned char>(p[2])) return member;
      p += 3;
    } else {
      if (static_cast<unsigned char>(*p) == c) return member;
      p++;
    }
  }
  return !member;
}

// The end of the single-character class at p; null with ms->error on a malformed class.
const char *ClassEnd(qmMatchState *ms, const char *p) {
  char c = *p++;
  if (c == kEscape) {
    if (p >= ms->patEnd) {
      ms->error = ERR_MALFORMPAT1;
      return nullptr;
    }
    return p + 1;
  }
  if (c == '[') {
    if (p < ms->patEnd && *p == '^') p++;
    // The first member is taken as it is, so a ']' there belongs to the set.
    do {
      if (p >= ms->patEnd) {
        ms->error = ERR_MALFORMPAT2;
        return nullptr;
      }
      c = *p++;
      if (c == kEscape && p < ms->patEnd) p++;
    } while (p >= ms->patEnd || *p != ']');
    return p + 1;
  }
  return p;
}

// One byte of the subject at s against the class [p, ep).
bool SingleMatch(const qmMatchState *ms, const char *s, const char *p, const char *ep) {
  if (s >= ms->srcEnd) return false;
  int c = static_cast<unsigned char>(*s);
  switch (*p) {
    case '.': return true;
    case kEscape: return ClassMatches(c, static_cast<unsigned char>(p[1]));
    case '[': return SetMatches(c, p, ep - 1);
    default: return static_cast<unsigned char>(*p) == c;
  }
}

const char *Match(qmMatchState *ms, const char *s, const char *p);

// Counts n steps; once every kPatternCheckEvery the stop check runs. False when it ended the match.
bool Step(qmMatchState *ms, ptrdiff_t n) {
  ms->stepsLeft -= n;
  if (ms->stepsLeft > 0) return true;
  ms->stepsLeft = kPatternCheckEvery;
  if (!ms->stopCheck) return true;
  ms->error = ms->stopCheck(ms->stopData);
  return ms->error == 0;
}

const char *MatchBalance(qmMatchState *ms, const char *s, const char *p) {
  if (p + 1 >= ms->patEnd) {
    ms->error = ERR_UNBALANCEDPAT;
    return nullptr;
  }
  if (s >= ms->srcEnd || *s != *p) return nullptr;
  char open = p[0], close = p[1];
  const char *from = s;
  const char *r = nullptr;
  int depth = 1;
  while (++s < ms->srcEnd) {
    if (*s == close) {
      if (--depth == 0) {
        r = s + 1;
        break;
      }
    } else if (*s == open) {
      depth++;
    }
  }
  return Step(ms, s - from) ? r : nullptr;
}

// Longest run first, giving back one byte at a time.
const char *MaxExpand(qmMatchState *ms, const char *s, const char *p, const char *ep) {
  ptrdiff_t n = 0;
  while (SingleMatch(ms, s + n, p, ep)) n++;
  if (!Step(ms, n)) return nullptr;
  for (; n >= 0; n--) {
    const char *r = Match(ms, s + n, ep + 1);
    if (r || ms->error) return r;
  }
  return nullptr;
}

// Shortest run first, adding one byte at a time.
const char *MinExpand(qmMatchState *ms, const char *s, const char *p, const char *ep) {
  for (;;) {
    const char *r = Match(ms, s, ep + 1);
    if (r || ms->error) return r;
    if (!SingleMatch(ms, s, p, ep)) return nullptr;
    s++;
  }
}

const char *StartCapture(qmMatchState *ms, const char *s, const char *p, ptrdiff_t what) {
  if (ms->level >= kPatternMaxCaptures) {
    ms->error = ERR_TOOMANYCAPTURES;
    return nullptr;
  }
  ms->capture[ms->level].init = s;
  ms->capture[ms->level].len = what;
  ms->level++;
  const char *r = Match(ms, s, p);
  if (!r) ms->level--;  // undone on backtracking
  return r;
}

const char *EndCapture(qmMatchState *ms, const char *s, const char *p) {
  int l = ms->level - 1;
  while (l >= 0 && ms->capture[l].len != kCaptureOpen) l--;
  if (l < 0) {
    ms->error = ERR_INVPATCAP;
    return nullptr;
  }
  ms->capture[l].len = s - ms->capture[l].init;
  const char *r = Match(ms, s, p);
  if (!r) ms->capture[l].len = kCaptureOpen;
  return r;
}

const char *MatchBackReference(qmMatchState *ms, const char *s, int digit) {
  int l = digit - '1';
  if (l < 0 || l >= ms->level || ms->capture[l].len == kCaptureOpen) {
    ms->error = ERR_INVCAPIDX;
    return nullptr;
  }
  if (ms->capture[l].len == kCapturePosition) return nullptr;  // a position is not text to repeat
  size_t len = static_cast<size_t>(ms->capture[l].len);
  if (static_cast<size_t>(ms->srcEnd - s) >= len && std::memcmp(ms->capture[l].init, s, len) == 0) return s + len;
  return nullptr;
}

// Items that consume no choice (single bytes, %b, %f, back references) advance in the loop;
// only captures and repetitions recurse, and only those count toward the depth limit.
const char *MatchItems(qmMatchState *ms, const char *s, const char *p) {
  for (;;) {
    if (p >= ms->patEnd) return s;
    switch (*p) {
      case '(':
        if (p + 1 < ms->patEnd && p[1] == ')') return StartCapture(ms, s, p + 2, kCapturePosition);
        return StartCapture(ms, s, p + 1, kCaptureOpen);
      case ')':
        return EndCapture(ms, s, p + 1);
      case '$':
        if (p + 1 == ms->patEnd) return s == ms->srcEnd ? s : nullptr;
        break;
      case kEscape:
        if (p + 1 >= ms->patEnd) break;  // ClassEnd reports it
        if (p[1] == 'b') {
          s = MatchBalance(ms, s, p + 2);
          if (!s) return nullptr;
          p += 4;
          continue;
        }
        if (p[1] == 'f') {
          p += 2;
          if (p >= ms->patEnd || *p != '[') {
            ms->error = ERR_MISSINGOPBRACK;
            return nullptr;
          }
          const char *ep = ClassEnd(ms, p);
          if (!ep) return nullptr;
          int previous = s == ms->srcInit ? 0 : static_cast<unsigned char>(s[-1]);
          int current = s < ms->srcEnd ? static_cast<unsigned char>(*s) : 0;
          if (SetMatches(previous, p, ep - 1) || !SetMatches(current, p, ep - 1)) return nullptr;
          p = ep;
          continue;
        }
        if (IsDigitAscii(static_cast<unsigned char>(p[1]))) {
          s = MatchBackReference(ms, s, p[1]);
          if (!s) return nullptr;
          p += 2;
          continue;
        }
        break;
      default:
        break;
    }
    const char *ep = ClassEnd(ms, p);
    if (!ep) return nullptr;
    bool one = SingleMatch(ms, s, p, ep);
    char op = ep < ms->patEnd ? *ep : '\0';
    switch (op) {
      case '?': {
        if (one) {
          const char *r = Match(ms, s + 1, ep + 1);
          if (r || ms->error) return r;
        }
        p = ep + 1;
        continue;
      }
      case '*': return MaxExpand(ms, s, p, ep);
      case '+': return one ? MaxExpand(ms, s + 1, p, ep) : nullptr;
      case '-': return MinExpand(ms, s, p, ep);
      default:
        if (!one) return nullptr;
        s++;
        p = ep;
        continue;
    }
  }
}

const char *Match(qmMatchState *ms, const char *s, const char *p) {
  if (!Step(ms, 1)) return nullptr;
  if (ms->depth >= kPatternMaxDepth) {
    ms->error = ERR_STACK;
    return nullptr;
  }
  ms->depth++;
  const char *r = MatchItems(ms, s, p);
  ms->depth--;
  return r;
}

}  // namespace

void PatternBegin(qmMatchState *ms, const char *subject, size_t length, const char *pattern) {
  ms->srcInit = subject;
  ms->srcEnd = subject + length;
  ms->patEnd = pattern + std::strlen(pattern);
  ms->level = 0;
  ms->depth = 0;
  ms->error = 0;
  ms->stopCheck = nullptr;
  ms->stopData = nullptr;
  ms->stepsLeft = kPatternCheckEvery;
}

const char *PatternMatchAt(qmMatchState *ms, const char *s, const char *p) {
  ms->level = 0;
  ms->depth = 0;
  return Match(ms, s, p);
}

int PatternFirstByte(const qmMatchState *ms, const char *p) {
  if (p >= ms->patEnd || std::strchr("^$*+?.([%-])", *p)) return -1;
  if (p + 1 < ms->patEnd && (p[1] == '*' || p[1] == '?' || p[1] == '-')) return -1;
  return static_cast<unsigned char>(*p);
}

const char *PatternFind(qmMatchState *ms, const char *s, const char *p, const char **end) {
  int first = PatternFirstByte(ms, p);
  for (; s <= ms->srcEnd; s++) {
    if (first >= 0) {
      s = static_cast<const char *>(std::memchr(s, first, static_cast<size_t>(ms->srcEnd - s)));
      if (!s) return nullptr;
    }
    const char *e = PatternMatchAt(ms, s, p);
    if (e) {
      *end = e;
      return s;
    }
    if (ms->error) return nullptr;
  }
  return nullptr;
}

uint32_t PatternGetCapture(const qmMatchState *ms, int i, const char *s, const char *e, qmCaptureValue *out) {
  if (i >= ms->level) {
    if (i != 0) return ERR_INVCAPIDX;
    out->text = s;
    out->length = static_cast<size_t>(e - s);
    return 0;
  }
  const qmPatternCapture &c = ms->capture[i];
  if (c.len == kCaptureOpen) return ERR_UNFINISHEDCAPTURE;
  if (c.len == kCapturePosition) {
    out->text = nullptr;
    out->length = 0;
    out->position = static_cast<double>(c.init - ms->srcInit + 1);
    return 0;
  }
  out->text = c.init;
  out->length = static_cast<size_t>(c.len);
  return 0;
}
