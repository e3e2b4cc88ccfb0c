// 32-, 16- and 8-bit integer operations of the math library on unsigned 32-bit patterns.
#pragma once
#include <cstdint>

// Width codes shared with the system library's constants INTEGER, SHORT and BYTE.
enum : int32_t {
  MATHWIDTH_INTEGER = 1,  // 32 bits
  MATHWIDTH_SHORT = 6,    // 16 bits
  MATHWIDTH_BYTE = 7,     // 8 bits
};

// Shift counts are taken modulo 32, as a 32-bit shift instruction does.
uint32_t MathShiftRight(uint32_t x, int32_t n);
uint32_t MathShiftLeft(uint32_t x, int32_t n);
int32_t MathShiftArith(uint32_t x, int32_t n);

// x rotated by n within the width (right when right is non-zero); 0 or ERR_WRONGUSAGE for
// an unknown width.
uint32_t MathRotate(uint32_t x, int32_t n, int32_t width, int right, uint32_t *out);

// The low bits of x read as the width, signed or unsigned; 0 or ERR_WRONGUSAGE.
uint32_t MathNarrow(uint32_t x, int isSigned, int32_t width, double *out);

enum MathBitOp : int { MATHBIT_SET, MATHBIT_CLEAR, MATHBIT_TEST };
// Bit n of x set, cleared or tested (1 or 0); 0 or ERR_WRONGUSAGE for n outside 0 to 31.
uint32_t MathBit(uint32_t x, int32_t n, MathBitOp op, uint32_t *out);
