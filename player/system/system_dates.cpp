#include "player/system/system_dates.h"

#include <cstdio>
#include <cstring>

#include "runtime/errcodes.h"

namespace {

const char *const kMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// The number written by the digits of text[0..n); other characters count as 0 digits.
long Digits(const char *text, int n) {
  long v = 0;
  for (int i = 0; i < n && text[i]; i++) v = v * 10 + (text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : 0);
  return v;
}

struct DateFields {
  long part[6];  // year, month, day, hours, minutes, seconds
};

// "dd-Mon-yyyy hh:mm:ss" or, with dateOnly, also "dd-Mon-yyyy".
bool ParseLongDate(const char *text, int dateOnly, DateFields *f) {
  size_t len = std::strlen(text);
  if (len != 20 && !(dateOnly && len == 11)) return false;
  int month = -1;
  for (int m = 0; m < 12; m++)
    if (std::strncmp(text + 3, kMonthNames[m], 3) == 0) month = m;
  if (month < 0) return false;
  f->part[0] = Digits(text + 7, 4);
  f->part[1] = month;
  f->part[2] = Digits(text, 2);
  f->part[3] = len == 20 ? Digits(text + 12, 2) : 0;
  f->part[4] = len == 20 ? Digits(text + 15, 2) : 0;
  f->part[5] = len == 20 ? Digits(text + 18, 2) : 0;
  return true;
}

}  // namespace

void FormatLongDate(const char *numericDate, const char *time, char *out, size_t size) {
  long month = Digits(numericDate, 2);
  const char *name = month >= 1 && month <= 12 ? kMonthNames[month - 1] : "???";
  std::snprintf(out, size, "%.2ld-%s-20%.2ld %.2ld:%.2ld:%.2ld", Digits(numericDate + 3, 2), name,
                Digits(numericDate + 6, 2), Digits(time, 2), Digits(time + 3, 2), Digits(time + 6, 2));
}

double DateNumber(int32_t kind, const char *numericDate, const char *time) {
  switch (kind) {
    case DATEKIND_YEAR: return 2000 + Digits(numericDate + 6, 2);
    case DATEKIND_MONTH: return Digits(numericDate, 2);
    case DATEKIND_DAY: return Digits(numericDate + 3, 2);
    case DATEKIND_TIME: return Digits(time, 2) * 10000 + Digits(time + 3, 2) * 100 + Digits(time + 6, 2);
    default: return 0;
  }
}

uint32_t CompareDateTexts(const char *a, const char *b, int dateOnly, int32_t *result) {
  DateFields fa, fb;
  if (!ParseLongDate(a, dateOnly, &fa) || !ParseLongDate(b, dateOnly, &fb)) return ERR_INVALIDDATE;
  *result = 0;
  int fields = dateOnly ? 3 : 6;
  for (int i = 0; i < fields; i++) {
    if (fa.part[i] == fb.part[i]) continue;
    *result = fa.part[i] > fb.part[i] ? 1 : 2;
    break;
  }
  return 0;
}
