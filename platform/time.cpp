#include "platform/time.h"

#include <cerrno>
#include <ctime>

void GetTimeval(qmTimeval *out) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  out->seconds = static_cast<uint32_t>(now.tv_sec);
  out->microseconds = static_cast<uint32_t>(now.tv_nsec / 1000);
}

void SubTimeval(qmTimeval *a, const qmTimeval *b) {
  if (CmpTimeval(a, b) < 0) {  // the unsigned seconds would wrap to about 136 years
    a->seconds = 0;
    a->microseconds = 0;
    return;
  }
  if (a->microseconds < b->microseconds) {
    a->seconds -= 1;
    a->microseconds += 1000000;
  }
  a->seconds -= b->seconds;
  a->microseconds -= b->microseconds;
}

void AddTimeval(qmTimeval *a, const qmTimeval *b) {
  a->seconds += b->seconds;
  a->microseconds += b->microseconds;
  if (a->microseconds > 999999) {
    a->microseconds -= 1000000;
    a->seconds += 1;
  }
}

int CmpTimeval(const qmTimeval *a, const qmTimeval *b) {
  if (a->seconds != b->seconds) return a->seconds < b->seconds ? -1 : 1;
  if (a->microseconds != b->microseconds) return a->microseconds < b->microseconds ? -1 : 1;
  return 0;
}

double GetTimeSeconds() {
  qmTimeval now;
  GetTimeval(&now);
  return now.seconds + now.microseconds / 1e6;
}

void SleepMilliseconds(int32_t ms) {
  if (ms <= 0) return;
  timespec left{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
  // A signal handler may cut the sleep short; sleep the rest.
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}
