#include "platform/date.h"

#include <langinfo.h>
#include <locale.h>

#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/path.h"

namespace {

// Copies text in the user's character set into Latin-1; characters Latin-1 lacks become "?".
void ToLatin1(const char *text, const char *codeset, char *out) {
  bool utf8 = std::strcmp(codeset, "UTF-8") == 0;
  if (utf8 && FromFileSystemName(text, out, kDateTextSize)) return;
  size_t n = 0;
  for (auto *s = reinterpret_cast<const unsigned char *>(text); *s && n + 1 < kDateTextSize; s++) {
    if (utf8 && (*s & 0xC0) == 0x80) continue;  // rest of a character already replaced
    out[n++] = *s < 0x80 || !utf8 ? static_cast<char>(*s) : '?';
  }
  out[n] = 0;
}

// Formats today's date with the user's time locale ("C" when the environment names none that
// is installed).
void FormatLocal(const char *format, nl_item item, char *out) {
  locale_t loc = newlocale(LC_TIME_MASK | LC_CTYPE_MASK, "", static_cast<locale_t>(0));
  if (!loc) loc = newlocale(LC_TIME_MASK | LC_CTYPE_MASK, "C", static_cast<locale_t>(0));
  time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  char text[256] = "";
  const char *pattern = item ? nl_langinfo_l(item, loc) : format;
  strftime_l(text, sizeof text, pattern, &local, loc);
  ToLatin1(text, nl_langinfo_l(CODESET, loc), out);
  freelocale(loc);
}

}  // namespace

void TimeToDate(const uint32_t *times, qmDate *date, int index) {
  time_t t = times[index];
  tm local{};
  localtime_r(&t, &local);
  date->seconds = static_cast<uint32_t>(local.tm_sec);
  date->minutes = static_cast<uint32_t>(local.tm_min);
  date->hours = static_cast<uint32_t>(local.tm_hour);
  date->day = static_cast<uint32_t>(local.tm_mday);
  date->month = static_cast<uint32_t>(local.tm_mon);
  date->year = static_cast<uint32_t>(local.tm_year) + 1900;
}

int DateToTime(const qmDate *date, uint32_t *times, int index) {
  if (date->year < 1900 || date->year > 9999 || date->month > 11 || date->day < 1 ||
      date->day > 31 || date->hours > 23 || date->minutes > 59 || date->seconds > 60)
    return 0;
  tm local{};
  local.tm_sec = static_cast<int>(date->seconds);
  local.tm_min = static_cast<int>(date->minutes);
  local.tm_hour = static_cast<int>(date->hours);
  local.tm_mday = static_cast<int>(date->day);
  local.tm_mon = static_cast<int>(date->month);
  local.tm_year = static_cast<int>(date->year) - 1900;
  local.tm_isdst = -1;
  time_t t = mktime(&local);
  // The system moves a day that the month lacks into the next month; such a date does not exist.
  if (t == static_cast<time_t>(-1) || t < 0 || t > static_cast<time_t>(UINT32_MAX) ||
      local.tm_mday != static_cast<int>(date->day) || local.tm_mon != static_cast<int>(date->month))
    return 0;
  times[index] = static_cast<uint32_t>(t);
  return 1;
}

void GetDateTimeString(int32_t mode, char *out1, char *out2) {
  switch (mode) {
    case DATE_TEXT_LOCALE:
      FormatLocal(nullptr, D_FMT, out1);
      return;
    case DATE_TEXT_WEEKDAY:
      FormatLocal("%A", 0, out1);
      return;
    default:
      break;
  }
  time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  char *timeOut = mode == DATE_TEXT_NUMERIC ? out2 : out1;
  if (mode == DATE_TEXT_NUMERIC)  // two year digits, whatever the century
    std::snprintf(out1, kDateTextSize, "%.2d-%.2d-%.2d", local.tm_mon + 1, local.tm_mday,
                  (local.tm_year + 1900) % 100);
  if (mode == DATE_TEXT_NUMERIC || mode == DATE_TEXT_TIME)
    std::snprintf(timeOut, kDateTextSize, "%.2d:%.2d:%.2d", local.tm_hour, local.tm_min,
                  local.tm_sec);
}
