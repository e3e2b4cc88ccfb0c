// The math library's operations on doubles that go beyond one libm call: checked division,
// rounding to 32-bit integers, range wrapping and clamping.
#pragma once
#include <cstdint>

// fmod(a, b); 0 or ERR_ZERODIVISION for b = 0.
uint32_t MathMod(double a, double b, double *out);
// a / b; 0 or ERR_ZERODIVISION for b = 0.
uint32_t MathDiv(double a, double b, double *out);
// The n-th root x^(1/n); ERR_ZERODIVISION for n = 0, ERR_WRONGUSAGE for n < 0.
uint32_t MathRoot(double x, double n, double *out);
// The nearest 32-bit integer, halves to the even neighbour; out of range and NaN as the
// 32-bit conversion gives them.
int32_t MathRound(double x);
// The fractional part with the sign of x.
double MathFrac(double x);
// One step of wrapping into [low, high).
double MathWrap(double x, double low, double high);
double MathLimit(double x, double low, double high);
// -1, 1, or 0 (also for NaN).
double MathSgn(double x);
// log10(x) / log10(base).
double MathLog(double x, double base);
// Radians to degrees and back.
double MathDeg(double x);
double MathRad(double x);
