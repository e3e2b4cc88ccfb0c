#include "io/dos/dos_paths.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/dir.h"
#include "platform/fileops.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/strutil.h"
#include "runtime/vnames.h"

namespace {

const char *const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Matches c against the set that starts after "[" at p (pattern ends at end); *next becomes
// the character after the closing "]" (or end).
bool MatchSet(const char *p, const char *end, unsigned char c, const char **next) {
  bool negate = p < end && *p == '!';
  if (negate) p++;
  bool hit = false;
  bool first = true;
  while (p < end && (first || *p != ']')) {
    auto lo = static_cast<unsigned char>(*p);
    if (p + 2 < end && p[1] == '-' && p[2] != ']' && lo < static_cast<unsigned char>(p[2])) {
      if (c >= lo && c <= static_cast<unsigned char>(p[2])) hit = true;
      p += 3;
    } else {
      if (c == lo) hit = true;
      p++;
    }
    first = false;
  }
  *next = p < end ? p + 1 : end;
  return hit != negate;
}

// One pattern character (not "*") against one name byte; *next is the pattern after it.
bool MatchOne(const char *p, const char *end, unsigned char c, const char **next) {
  switch (*p) {
    case '#': *next = p + 1; return c >= '0' && c <= '9';
    case '?': *next = p + 1; return true;
    case '[': return MatchSet(p + 1, end, c, next);
    default: *next = p + 1; return static_cast<unsigned char>(*p) == c;
  }
}

bool OnlyStars(const char *p, const char *end) {
  for (; p < end; p++)
    if (*p != '*') return false;
  return true;
}

bool MatchRange(const char *p, const char *end, const char *n) {
  const char *starP = nullptr;  // pattern after the last "*" group
  const char *starN = nullptr;  // where the name resumes after that group
  for (;;) {
    if (p < end && *p == '*') {
      // The group: every "*" and "?" that follow; each "?" takes one byte while the name lasts.
      while (p < end && (*p == '*' || *p == '?')) {
        if (*p == '?' && *n) n++;
        p++;
      }
      if (*n == 0) return OnlyStars(p, end);
      starP = p;
      starN = n;
      continue;
    }
    if (*n == 0) return OnlyStars(p, end);
    const char *next;
    if (p < end && MatchOne(p, end, static_cast<unsigned char>(*n), &next)) {
      p = next;
      n++;
      continue;
    }
    if (starP == nullptr || *starN == 0) return false;
    p = starP;
    n = ++starN;
  }
}

}  // namespace

int MatchWildcard(const char *pattern, const char *name) {
  return MatchRange(pattern, pattern + std::strlen(pattern), name) ? 1 : 0;
}

int MatchPatternList(const char *list, const char *name) {
  std::string piece;
  const char *p = list;
  while (*p) {
    const char *semi = std::strchr(p, ';');
    size_t len = semi ? size_t(semi - p) : std::strlen(p);
    if (len == 0) return 0;
    piece.assign(p, len);
    if (MatchWildcard(piece.c_str(), name)) return 1;
    if (!semi) break;
    p = semi + 1;
  }
  return 0;
}

uint32_t MakePath(const char *path) {
  SetErrorArgument(path);
  std::string prefix;
  size_t len = std::strlen(path);
  for (size_t i = 1; i <= len; i++) {
    if (i < len && path[i] != '/' && path[i] != '\\') continue;
    prefix.assign(path, i);
    qmVirtualLock *lock = LockVirtualPath(prefix.c_str(), 0);
    if (lock) {
      qmFileInfo info{};
      uint32_t code = ExamineVirtualPath(lock, &info);
      UnlockVirtualPath(lock);
      if (code || !info.isDirectory) {
        SetErrorArgument(path);
        return ERR_CREATEDIR;
      }
      continue;
    }
    if (CreateDir(prefix.c_str())) {
      SetErrorArgument(path);
      return ERR_CREATEDIR;
    }
  }
  return 0;
}

void FormatDateText(uint32_t seconds, char *out) {
  qmDate d{};
  uint32_t times[1] = {seconds};
  TimeToDate(times, &d, 0);
  std::snprintf(out, kDosDateTextSize, "%.2d-%s-%d %.2d:%.2d:%.2d", int(d.day), kMonths[d.month % 12], int(d.year),
                int(d.hours), int(d.minutes), int(d.seconds));
}

namespace {
// Decimal digits from p up to the first other byte (or the text's end); stops growing at a
// value no field accepts.
uint32_t Digits(const char *p, const char *end) {
  uint32_t v = 0;
  while (p < end && *p >= '0' && *p <= '9') {
    if (v < 100000000) v = v * 10 + uint32_t(*p - '0');
    p++;
  }
  return v;
}
}  // namespace

int ParseDateText(const char *text, size_t length, qmDate *date) {
  if (length < 19) return 0;
  const char *end = text + length;
  if (text[2] != '-' || text[6] != '-' || text[14] != ':' || text[17] != ':') return 0;
  uint32_t day = Digits(text, end);
  int month = -1;
  for (int m = 0; m < 12; m++)
    if (Strnicmp(text + 3, kMonths[m], 3) == 0) month = m;
  uint32_t hour = Digits(text + 12, end), minute = Digits(text + 15, end), second = Digits(text + 18, end);
  if (day < 1 || day > 31 || month < 0 || hour > 23 || minute > 59 || second > 59) return 0;
  date->day = day;
  date->month = uint32_t(month);
  date->year = Digits(text + 7, end);
  date->hours = hour;
  date->minutes = minute;
  date->seconds = second;
  return 1;
}
