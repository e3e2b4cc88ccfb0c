// Time pairs and sleeping. Every elapsed-time measurement of the player goes through these.
#pragma once
#include <cstdint>

// Microseconds stay below 1,000,000 after every operation below.
struct qmTimeval {
  uint32_t seconds;
  uint32_t microseconds;
};

// The current time on a monotonic clock: callers only take differences of it (intervals,
// time-outs, frame pacing), and a wall-clock step must not make those jump or go negative.
// Calendar dates come from the date functions instead.
void GetTimeval(qmTimeval *out);

// a -= b with a borrow of one second when needed. A b later than a gives {0, 0}.
void SubTimeval(qmTimeval *a, const qmTimeval *b);

// a += b with one carry (both operands are normalised).
void AddTimeval(qmTimeval *a, const qmTimeval *b);

// -1, 0 or 1: seconds first, then microseconds.
int CmpTimeval(const qmTimeval *a, const qmTimeval *b);

// The time of GetTimeval in seconds.
double GetTimeSeconds();

// Sleeps without servicing events; a negative time sleeps 0.
void SleepMilliseconds(int32_t ms);
