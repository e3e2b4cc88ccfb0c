// The script's random numbers, the math library's and GetRandomColor's, from drand48.
#pragma once
#include <cstdint>

// Seeds both rand (srand) and drand48 (srand48) with the seed, the time in seconds at start.
void SeedMathRandom(uint32_t seed);
// A uniform double in [0, 1).
double MathRandomDouble();
// A whole number from 0 to n - 1 (0 for n = 0); 0 or ERR_WRONGUSAGE for n < 0.
uint32_t MathRandomBelow(int32_t n, double *out);
