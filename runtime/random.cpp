#include "runtime/random.h"

#include <cstdlib>

#include "runtime/errcodes.h"
#include "runtime/vm/vm_number.h"

void SeedMathRandom(uint32_t seed) {
  std::srand(seed);
  srand48(static_cast<long>(seed));
}

double MathRandomDouble() { return drand48(); }

uint32_t MathRandomBelow(int32_t n, double *out) {
  if (n < 0) return ERR_WRONGUSAGE;
  // n * r stays below n for every r < 1, so the truncation never reaches n.
  *out = n == 0 ? 0.0 : static_cast<double>(vm_toint32(static_cast<double>(n) * drand48()));
  return 0;
}
