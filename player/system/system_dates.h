// Date texts of the system library: the long date "dd-Mon-yyyy hh:mm:ss", the numbers of
// GetDateNum, and the comparison of two long dates.
#pragma once
#include <cstddef>
#include <cstdint>

enum : int32_t {
  DATEKIND_YEAR = 0,
  DATEKIND_MONTH = 1,
  DATEKIND_DAY = 2,
  DATEKIND_TIME = 3,
};

// From the platform's numeric texts "mm-dd-yy" and "hh:mm:ss".
void FormatLongDate(const char *numericDate, const char *time, char *out, size_t size);
// The year (20yy), month, day or time (hhmmss) as a number; other kinds 0.
double DateNumber(int32_t kind, const char *numericDate, const char *time);
// *result: 0 equal, 1 when a is later, 2 when b is later; ERR_INVALIDDATE for a text that is
// not a long date (20 characters) or, with dateOnly, its date part (11 characters).
uint32_t CompareDateTexts(const char *a, const char *b, int dateOnly, int32_t *result);
