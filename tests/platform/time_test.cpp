#include "platform/time.h"

#include <gtest/gtest.h>

namespace {

struct TimevalCase {
  const char *name;
  qmTimeval a, b;
  char op;  // '+' or '-'
  qmTimeval expected;
};

TEST(Timeval, ArithmeticKeepsMicrosecondsNormalised) {
  const TimevalCase cases[] = {
      {"carry", {1, 600000}, {2, 700000}, '+', {4, 300000}},
      {"sum just below a second", {0, 500000}, {0, 499999}, '+', {0, 999999}},
      {"sum of exactly a second", {0, 500000}, {0, 500000}, '+', {1, 0}},
      {"borrow", {7, 50}, {5, 100}, '-', {1, 999950}},
      {"no borrow", {7, 100}, {5, 50}, '-', {2, 50}},
      {"equal", {3, 3}, {3, 3}, '-', {0, 0}},
      // An earlier time minus a later one would wrap the unsigned seconds to ~136 years.
      {"later minus earlier saturates", {5, 100}, {7, 50}, '-', {0, 0}},
      {"same second, later microseconds", {5, 10}, {5, 20}, '-', {0, 0}},
  };
  for (const auto &c : cases) {
    qmTimeval a = c.a;
    if (c.op == '+') AddTimeval(&a, &c.b);
    else SubTimeval(&a, &c.b);
    EXPECT_EQ(a.seconds, c.expected.seconds) << c.name;
    EXPECT_EQ(a.microseconds, c.expected.microseconds) << c.name;
  }
}

TEST(Timeval, CompareSecondsFirst) {
  qmTimeval a{2, 0}, b{1, 999999}, c{2, 0}, d{2, 1};
  EXPECT_EQ(CmpTimeval(&a, &b), 1);
  EXPECT_EQ(CmpTimeval(&b, &a), -1);
  EXPECT_EQ(CmpTimeval(&a, &c), 0);
  EXPECT_EQ(CmpTimeval(&a, &d), -1);
}

TEST(Timeval, ClockAdvancesAcrossSleep) {
  qmTimeval start, end;
  GetTimeval(&start);
  double s0 = GetTimeSeconds();
  SleepMilliseconds(20);
  GetTimeval(&end);
  EXPECT_LT(end.microseconds, 1000000u);
  SubTimeval(&end, &start);
  uint64_t us = end.seconds * 1000000ull + end.microseconds;
  EXPECT_GE(us, 20000u);
  EXPECT_LT(us, 2000000u);
  EXPECT_GE(GetTimeSeconds() - s0, 0.02);
}

// Read as their size, the two would sleep a second and weeks: both together take less than
// one sleep of half a second.
TEST(Timeval, NegativeSleepReturnsAtOnce) {
  double t0 = GetTimeSeconds();
  SleepMilliseconds(-1000);
  SleepMilliseconds(INT32_MIN);
  double negative = GetTimeSeconds() - t0;
  t0 = GetTimeSeconds();
  SleepMilliseconds(500);
  EXPECT_LT(negative, GetTimeSeconds() - t0);
}

}  // namespace
