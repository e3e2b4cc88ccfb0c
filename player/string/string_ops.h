// Byte-string operations of the string commands: searching with or without Latin-1 case
// folding, replacing, splitting, trimming, case conversion. Results that grow are built in one
// std::string, so every operation is linear in its input and output.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// The first occurrence of sub in s at or after start: its position, or -1 (also for an empty
// s or sub, or start at or past the end). Case-insensitive comparison folds both sides
// through the lower-case table.
ptrdiff_t FindBytes(const char *s, size_t len, const char *sub, size_t subLen, size_t start, bool caseSensitive);
// Non-overlapping occurrences from start on.
size_t CountBytes(const char *s, size_t len, const char *sub, size_t subLen, size_t start, bool caseSensitive);
// s with every non-overlapping occurrence of search from start on replaced by repl; the bytes
// before start are copied. An empty search changes nothing.
void ReplaceBytes(const char *s, size_t len, const char *search, size_t searchLen, const char *repl,
                  size_t replLen, size_t start, bool caseSensitive, std::string *out);
// n copies of s (n >= 1).
void RepeatBytes(const char *s, size_t len, size_t n, std::string *out);
// Calls part(ctx, begin, length) for every part between separator bytes, empty parts
// included; returns the number of parts (at least 1).
size_t SplitBytes(const char *s, size_t len, char separator, void (*part)(void *ctx, const char *p, size_t n),
                  void *ctx);
// The run of c removed at the start (side 0) or at the end (any other side): [*begin, +*n).
void TrimBytes(const char *s, size_t len, char c, int32_t side, size_t *begin, size_t *n);
// Through the lower-case or upper-case table into out (len bytes).
void LowerBytes(const char *s, size_t len, char *out);
void UpperBytes(const char *s, size_t len, char *out);
