#include "player/math/math_real.h"

#include <cmath>

#include "runtime/errcodes.h"
#include "runtime/vm/vm_number.h"

namespace {
constexpr double kRadPerDeg = 0.017453292519943295;
}

uint32_t MathMod(double a, double b, double *out) {
  if (b == 0) return ERR_ZERODIVISION;
  *out = std::fmod(a, b);
  return 0;
}

uint32_t MathDiv(double a, double b, double *out) {
  if (b == 0) return ERR_ZERODIVISION;
  *out = a / b;
  return 0;
}

uint32_t MathRoot(double x, double n, double *out) {
  if (n == 0) return ERR_ZERODIVISION;
  if (n < 0) return ERR_WRONGUSAGE;
  *out = std::pow(x, 1.0 / n);
  return 0;
}

// rint rounds in the current mode, which the player leaves at nearest-even.
int32_t MathRound(double x) { return vm_toint32(std::rint(x)); }

double MathFrac(double x) {
  double whole;
  return std::modf(x, &whole);
}

double MathWrap(double x, double low, double high) {
  if (x < low) return x - low + high;
  if (x >= high) return x - high + low;
  return x;
}

double MathLimit(double x, double low, double high) {
  if (x < low) return low;
  if (high < x) return high;
  return x;
}

double MathSgn(double x) {
  if (x < 0) return -1;
  if (x > 0) return 1;
  return 0;
}

double MathLog(double x, double base) { return std::log10(x) / std::log10(base); }

double MathDeg(double x) { return x / kRadPerDeg; }

double MathRad(double x) { return x * kRadPerDeg; }
