// The vector row converter against the scalar one, over random bytes and every short length.
#include "media/image/bmp_rows.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "graphics/cpu.h"

TEST(BmpRows, VectorPathMatchesScalar) {
#ifdef QM_HAVE_AVX2
  if (!CpuHasAvx2()) GTEST_SKIP() << "no AVX2";
  std::mt19937 rng(7);
  for (int32_t n = 0; n < 70; n++) {
    // The bytes end exactly after the row, so that a read past them shows under ASan.
    std::vector<uint8_t> in(size_t(n) * 3);
    for (auto &b : in) b = uint8_t(rng());
    std::vector<uint32_t> scalar(size_t(n) + 1, 0xDEADBEEF), vector(size_t(n) + 1, 0xDEADBEEF);
    Bgr24ToArgbRowScalar(in.data(), scalar.data(), n);
    Bgr24ToArgbRowAvx2(in.data(), vector.data(), n);
    ASSERT_EQ(vector, scalar) << n;
  }
#else
  GTEST_SKIP() << "built without the AVX2 kernels";
#endif
}
