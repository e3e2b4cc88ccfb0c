// Conversions between seconds since 1970 and local calendar dates, and date and time texts.
#pragma once
#include <cstdint>

struct qmDate {
  uint32_t seconds, minutes, hours;
  uint32_t day;    // of the month, 1-31
  uint32_t month;  // 0-11
  uint32_t year;   // full year
};

// The local date of times[index].
void TimeToDate(const uint32_t *times, qmDate *date, int index);
// 1 and times[index] set from the local date (daylight saving time decided by the system);
// 0 when the date does not exist (31 February, month 12) or lies outside 1970 to 2106.
int DateToTime(const qmDate *date, uint32_t *times, int index);

enum : int32_t {
  DATE_TEXT_LOCALE = 0,   // out1: today's date in the user's short style
  DATE_TEXT_NUMERIC = 1,  // out1: "mm-dd-yy", out2: "hh:mm:ss"
  DATE_TEXT_TIME = 2,     // out1: "hh:mm:ss"
  DATE_TEXT_WEEKDAY = 3,  // out1: the user's name of today's weekday
};
inline constexpr int kDateTextSize = 64;

// Texts in Latin-1, at most kDateTextSize bytes with the terminator; out2 is used by mode 1 only.
void GetDateTimeString(int32_t mode, char *out1, char *out2);
