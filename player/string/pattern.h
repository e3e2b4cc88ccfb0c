// The pattern matcher of the string commands: single-character classes (POSIX-locale
// classification, whatever the process locale), sets, the repetitions * + - ?, back
// references %1-%9, balanced runs %b, the frontier %f, captures and position captures, and a
// final '$' anchor. The matcher allocates nothing; its state lives with the caller.
#pragma once
#include <cstddef>
#include <cstdint>

inline constexpr int kPatternMaxCaptures = 32;
// Nested backtracking points (captures and repetitions) one match may hold open; deeper
// patterns give ERR_STACK rather than exhausting the C stack.
inline constexpr int kPatternMaxDepth = 200;
// Steps between two calls of a match's stop check. A step is one item tried or one byte a run
// scans, so a few thousand are some microseconds of work.
inline constexpr ptrdiff_t kPatternCheckEvery = 4096;
inline constexpr ptrdiff_t kCaptureOpen = -1;
inline constexpr ptrdiff_t kCapturePosition = -2;

struct qmPatternCapture {
  const char *init;
  ptrdiff_t len;  // bytes, or kCaptureOpen / kCapturePosition
};

// Asked now and then during a long match: 0 lets it go on, any other code ends it with that
// code in error. Patterns can backtrack for hours; this is how their caller takes control back.
using qmPatternStopCheck = uint32_t (*)(void *data);

struct qmMatchState {
  const char *srcInit;
  const char *srcEnd;
  const char *patEnd;  // the pattern ends at its first zero byte
  int level;           // captures so far
  int depth;           // recursion of the matcher
  uint32_t error;      // 0, or the code of a malformed pattern, a too deep match or a stop
  qmPatternStopCheck stopCheck;  // null: none; PatternBegin clears it
  void *stopData;
  ptrdiff_t stepsLeft;  // until the next stop check; carries over from one attempt to the next
  qmPatternCapture capture[kPatternMaxCaptures];
};

// A capture as the script receives it.
struct qmCaptureValue {
  const char *text;  // null for a position capture
  size_t length;
  double position;  // counted from 1
};

// Binds the subject (length bytes) and the zero-terminated pattern.
void PatternBegin(qmMatchState *ms, const char *subject, size_t length, const char *pattern);
// Tries the pattern p (a position within the bound pattern) at s: the end of the match, or
// null when there is none or ms->error is set.
const char *PatternMatchAt(qmMatchState *ms, const char *s, const char *p);
// The byte every match of p must begin with, when p begins with a plain byte that no
// repetition makes optional; -1 otherwise. Searches may skip to that byte's next occurrence.
int PatternFirstByte(const qmMatchState *ms, const char *p);
// Searches from s on for the first position where p matches: its start (*end = its end), or
// null. Resets the captures before each attempt.
const char *PatternFind(qmMatchState *ms, const char *s, const char *p, const char **end);
// The value of capture i of the match [s, e): the whole match when there are no captures and
// i is 0; 0 or ERR_INVCAPIDX / ERR_UNFINISHEDCAPTURE.
uint32_t PatternGetCapture(const qmMatchState *ms, int i, const char *s, const char *e, qmCaptureValue *out);
// The number of values a match gives: its captures, or 1 (the whole match).
inline int PatternResultCount(const qmMatchState *ms) { return ms->level == 0 ? 1 : ms->level; }
