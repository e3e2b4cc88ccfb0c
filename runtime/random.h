// The script's random numbers, the math library's and GetRandomColor's, from drand48.
#pragma once
#include <cstddef>
#include <cstdint>

// Seeds both rand (srand) and drand48 (srand48) with the seed, the time in seconds at start.
void SeedMathRandom(uint32_t seed);
// A uniform double in [0, 1).
double MathRandomDouble();
// A whole number from 0 to n - 1 (0 for n = 0); 0 or ERR_WRONGUSAGE for n < 0.
uint32_t MathRandomBelow(int32_t n, double *out);
// count draws of rand, each taken mod modulus (1..256) into out, rand left where count calls
// leave it; the C library's generator is stepped here without its lock where it is the one
// this code knows, else called.
void FillRandModulo(uint8_t *out, size_t count, uint32_t modulus);
