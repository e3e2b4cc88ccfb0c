#include "player/math/math_bits.h"

#include "runtime/errcodes.h"

namespace {

// Shift amounts masked to 0..31: larger counts would be undefined in C++.
inline uint32_t Shl32(uint32_t v, uint32_t s) { return v << (s & 31u); }
inline uint32_t Shr32(uint32_t v, uint32_t s) { return v >> (s & 31u); }

// The narrow rotations follow their two-shift formula literally, so counts above the width
// give what the shift instructions give (Ror(1, 17, SHORT) is 0).
uint32_t RotateNarrow(uint32_t v, uint32_t n, uint32_t bits, uint32_t mask, int right) {
  v &= mask;
  uint32_t back = bits - n;  // unsigned: wraps instead of overflowing for any count
  if (right) return (Shr32(v, n) | Shl32(v, back)) & mask;
  return (Shl32(v, n) | Shr32(v, back)) & mask;
}

}  // namespace

uint32_t MathShiftRight(uint32_t x, int32_t n) { return Shr32(x, static_cast<uint32_t>(n)); }

uint32_t MathShiftLeft(uint32_t x, int32_t n) { return Shl32(x, static_cast<uint32_t>(n)); }

int32_t MathShiftArith(uint32_t x, int32_t n) {
  return static_cast<int32_t>(x) >> (static_cast<uint32_t>(n) & 31u);
}

uint32_t MathRotate(uint32_t x, int32_t n, int32_t width, int right, uint32_t *out) {
  uint32_t c = static_cast<uint32_t>(n);
  switch (width) {
    case MATHWIDTH_INTEGER: {
      c &= 31u;
      if (c == 0) *out = x;
      else *out = right ? (x >> c) | (x << (32u - c)) : (x << c) | (x >> (32u - c));
      return 0;
    }
    case MATHWIDTH_SHORT: *out = RotateNarrow(x, c, 16u, 0xFFFFu, right); return 0;
    case MATHWIDTH_BYTE: *out = RotateNarrow(x, c, 8u, 0xFFu, right); return 0;
    default: return ERR_WRONGUSAGE;
  }
}

uint32_t MathNarrow(uint32_t x, int isSigned, int32_t width, double *out) {
  switch (width) {
    case MATHWIDTH_INTEGER:
      *out = isSigned ? static_cast<double>(static_cast<int32_t>(x)) : static_cast<double>(x);
      return 0;
    case MATHWIDTH_SHORT:
      *out = isSigned ? static_cast<double>(static_cast<int16_t>(x & 0xFFFFu)) : static_cast<double>(x & 0xFFFFu);
      return 0;
    case MATHWIDTH_BYTE:
      *out = isSigned ? static_cast<double>(static_cast<int8_t>(x & 0xFFu)) : static_cast<double>(x & 0xFFu);
      return 0;
    default: return ERR_WRONGUSAGE;
  }
}

uint32_t MathBit(uint32_t x, int32_t n, MathBitOp op, uint32_t *out) {
  if (n < 0 || n > 31) return ERR_WRONGUSAGE;
  uint32_t bit = 1u << n;
  switch (op) {
    case MATHBIT_SET: *out = x | bit; break;
    case MATHBIT_CLEAR: *out = x & ~bit; break;
    case MATHBIT_TEST: *out = (x & bit) ? 1u : 0u; break;
  }
  return 0;
}
