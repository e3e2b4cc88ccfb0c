// Names rather than open files: the wildcard matcher and pattern lists, directory creation
// along a path, and the date text of file attributes.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/date.h"

// Bytes compare exactly. "#" one digit, "?" any one byte, "*" any run, "[...]" one byte of a
// set and "[!...]" one byte outside it (a-z ranges; the first member may be "]"; a set that
// never closes runs to the pattern's end). The whole name must match. One backtrack point,
// so the time is at most the product of the two lengths.
int MatchWildcard(const char *pattern, const char *name);
// The list is split at ";"; an empty piece ends it. 1 when any pattern matches the name; an
// empty list matches nothing.
int MatchPatternList(const char *list, const char *name);

// Creates every missing directory along the path (mode 0755): 0, or ERR_CREATEDIR (the path as
// error argument) when a part is a file or cannot be made.
uint32_t MakePath(const char *path);

// "dd-Mon-yyyy hh:mm:ss" of a time in seconds since 1970, local time; out holds 32 bytes.
inline constexpr size_t kDosDateTextSize = 32;
void FormatDateText(uint32_t seconds, char *out);
// 1 and *date from such a text (day 1..31, month by its English abbreviation in any case,
// hour 0..23, minute 0..59, second 0..59); 0 for anything else, a short text included.
int ParseDateText(const char *text, size_t length, qmDate *date);
