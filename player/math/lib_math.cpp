// The math library's commands: the script's view of the engine in math_bits, runtime/random and
// math_real. Every command is a global function; numbers are doubles, integer commands work on
// 32-bit patterns.
#include "player/math/lib_math.h"

#include <cmath>
#include <ctime>

#include "player/math/math_bits.h"
#include "runtime/random.h"
#include "player/math/math_real.h"
#include "runtime/cmdargs.h"
#include "runtime/registry.h"
#include "runtime/vm/vm_api.h"
#include "runtime/vm/vm_number.h"

namespace {

uint32_t PushNumber(VmState *L, double v) {
  vm_pushnumber(L, v);
  return 1;
}

// One number in, one number out.
template <double (*F)(double)>
uint32_t Unary(VmState *L) {
  CheckArgCount(L, 1, 1);
  return PushNumber(L, F(vm_checknumber(L, 1)));
}

template <double (*F)(double, double)>
uint32_t Binary(VmState *L) {
  CheckArgCount(L, 2, 2);
  return PushNumber(L, F(vm_checknumber(L, 1), vm_checknumber(L, 2)));
}

template <uint32_t (*F)(double, double, double *)>
uint32_t BinaryChecked(VmState *L) {
  CheckArgCount(L, 2, 2);
  double r;
  uint32_t code = F(vm_checknumber(L, 1), vm_checknumber(L, 2), &r);
  if (code) return code;
  return PushNumber(L, r);
}

template <double (*F)(double, double, double)>
uint32_t Ternary(VmState *L) {
  CheckArgCount(L, 3, 3);
  return PushNumber(L, F(vm_checknumber(L, 1), vm_checknumber(L, 2), vm_checknumber(L, 3)));
}

double Fabs(double x) { return std::fabs(x); }
double Sin(double x) { return std::sin(x); }
double Cos(double x) { return std::cos(x); }
double Tan(double x) { return std::tan(x); }
double ASin(double x) { return std::asin(x); }
double ACos(double x) { return std::acos(x); }
double ATan(double x) { return std::atan(x); }
double ATan2(double y, double x) { return std::atan2(y, x); }
double Ceil(double x) { return std::ceil(x); }
double Floor(double x) { return std::floor(x); }
double Sqrt(double x) { return std::sqrt(x); }
double Ld(double x) { return MathLog(x, 2); }
double Ln(double x) { return std::log(x); }
double Exp(double x) { return std::exp(x); }
double Pow(double x, double y) { return std::pow(x, y); }
double Add(double a, double b) { return a + b; }
double Sub(double a, double b) { return a - b; }
double Mul(double a, double b) { return a * b; }
double Int(double x) { return vm_toint32(x); }
double Round(double x) { return MathRound(x); }
double Hypot(double x, double y) { return std::hypot(x, y); }

uint32_t MathFrExp(VmState *L) {
  CheckArgCount(L, 1, 1);
  int e = 0;
  double m = std::frexp(vm_checknumber(L, 1), &e);
  vm_pushnumber(L, m);
  vm_pushnumber(L, e);
  return 2;
}

uint32_t MathLdExp(VmState *L) {
  CheckArgCount(L, 2, 2);
  double x = vm_checknumber(L, 1);
  return PushNumber(L, std::ldexp(x, vm_checkword32(L, 2)));
}

// A later argument replaces the result only when strictly smaller (larger), so a NaN first
// argument stays and later NaNs are passed over.
template <bool Smaller>
uint32_t MinMax(VmState *L) {
  CheckArgCount(L, 2, VM_ANYARGS);
  int n = vm_gettop(L);
  double r = vm_checknumber(L, 1);
  for (int i = 2; i <= n; i++) {
    double v = vm_checknumber(L, i);
    if (Smaller ? v < r : v > r) r = v;
  }
  return PushNumber(L, r);
}

uint32_t MathRnd(VmState *L) {
  CheckArgCount(L, 1, 1);
  double r;
  uint32_t code = MathRandomBelow(vm_checkword32(L, 1), &r);
  if (code) return code;
  return PushNumber(L, r);
}

uint32_t MathRndF(VmState *L) {
  CheckArgCount(L, 0, 0);
  return PushNumber(L, MathRandomDouble());
}

uint32_t MathShr(VmState *L) {
  CheckArgCount(L, 2, 2);
  uint32_t x = vm_checkuword32(L, 1);
  return PushNumber(L, MathShiftRight(x, vm_checkword32(L, 2)));
}

uint32_t MathShl(VmState *L) {
  CheckArgCount(L, 2, 2);
  uint32_t x = vm_checkuword32(L, 1);
  return PushNumber(L, MathShiftLeft(x, vm_checkword32(L, 2)));
}

uint32_t MathSar(VmState *L) {
  CheckArgCount(L, 2, 2);
  uint32_t x = vm_checkuword32(L, 1);
  return PushNumber(L, MathShiftArith(x, vm_checkword32(L, 2)));
}

template <MathBitOp Op>
uint32_t BitCmd(VmState *L) {
  CheckArgCount(L, 2, 2);
  uint32_t x = vm_checkuword32(L, 1);
  uint32_t r;
  uint32_t code = MathBit(x, vm_checkword32(L, 2), Op, &r);
  if (code) return code;
  return PushNumber(L, r);
}

uint32_t MathBitXor(VmState *L) {
  CheckArgCount(L, 2, 2);
  uint32_t a = vm_checkuword32(L, 1);
  return PushNumber(L, a ^ vm_checkuword32(L, 2));
}

uint32_t MathBitComplement(VmState *L) {
  CheckArgCount(L, 1, 1);
  return PushNumber(L, ~vm_checkuword32(L, 1));
}

template <int Right>
uint32_t RotateCmd(VmState *L) {
  CheckArgCount(L, 2, 3);
  uint32_t x = vm_checkuword32(L, 1);
  int32_t n = vm_checkword32(L, 2);
  int32_t width = vm_optword32(L, 3, MATHWIDTH_INTEGER);
  uint32_t r;
  uint32_t code = MathRotate(x, n, width, Right, &r);
  if (code) return code;
  return PushNumber(L, r);
}

uint32_t MathCast(VmState *L) {
  CheckArgCount(L, 3, 3);
  uint32_t x = vm_checkuword32(L, 1);
  int isSigned = vm_checkword32(L, 2) != 0;
  double r;
  uint32_t code = MathNarrow(x, isSigned, vm_checkword32(L, 3), &r);
  if (code) return code;
  return PushNumber(L, r);
}

const qmCommandEntry kMathCommands[] = {
    {"Abs", Unary<Fabs>},
    {"Sin", Unary<Sin>},
    {"Cos", Unary<Cos>},
    {"Tan", Unary<Tan>},
    {"ASin", Unary<ASin>},
    {"ACos", Unary<ACos>},
    {"ATan", Unary<ATan>},
    {"ATan2", Binary<ATan2>},
    {"Ceil", Unary<Ceil>},
    {"Floor", Unary<Floor>},
    {"Mod", BinaryChecked<MathMod>},
    {"FrExp", MathFrExp},
    {"LdExp", MathLdExp},
    {"Sqrt", Unary<Sqrt>},
    {"Min", MinMax<true>},
    {"Max", MinMax<false>},
    {"Log", Binary<MathLog>},
    {"Ld", Unary<Ld>},
    {"Ln", Unary<Ln>},
    {"Exp", Unary<Exp>},
    {"Pow", Binary<Pow>},
    {"Deg", Unary<MathDeg>},
    {"Rad", Unary<MathRad>},
    {"Rnd", MathRnd},
    {"RndF", MathRndF},
    {"Add", Binary<Add>},
    {"Sub", Binary<Sub>},
    {"Mul", Binary<Mul>},
    {"Div", BinaryChecked<MathDiv>},
    {"Round", Unary<Round>},
    {"Int", Unary<Int>},
    {"Frac", Unary<MathFrac>},
    {"Shr", MathShr},
    {"Shl", MathShl},
    {"Sar", MathSar},
    {"Rt", BinaryChecked<MathRoot>},
    {"Wrap", Ternary<MathWrap>},
    {"Limit", Ternary<MathLimit>},
    {"BitSet", BitCmd<MATHBIT_SET>},
    {"BitClear", BitCmd<MATHBIT_CLEAR>},
    {"BitTest", BitCmd<MATHBIT_TEST>},
    {"BitXor", MathBitXor},
    {"BitComplement", MathBitComplement},
    {"Sgn", Unary<MathSgn>},
    {"Ror", RotateCmd<1>},
    {"Rol", RotateCmd<0>},
    {"Cast", MathCast},
    {"Hypot", Binary<Hypot>},
    {nullptr, nullptr},
};

const qmConstantEntry kMathConstants[] = {
    {"PI", nullptr, 3.141592653589793},
    {nullptr, nullptr, 0},
};

uint32_t InitMathLibrary(VmState *) {
  SeedMathRandom(static_cast<uint32_t>(std::time(nullptr)));
  return 0;
}

}  // namespace

const qmLibrary kMathLibrary = {"math", kMathCommands, kMathConstants, InitMathLibrary, nullptr, FREERANK_LAST};
