// rand drawn in bulk: the same numbers as one call a draw, and rand left where those calls leave it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "runtime/random.h"

namespace {

// The numbers and the next draws after them, one call a draw and in bulk, from the same start:
// the seed, then drawnBefore calls (so the generator's indexes stand anywhere).
void ExpectSameAsCalls(uint32_t seed, int drawnBefore, size_t count, uint32_t modulus, const char *name) {
  std::srand(seed);
  for (int i = 0; i < drawnBefore; i++) std::rand();
  std::vector<uint8_t> called(count);
  for (uint8_t &v : called) v = uint8_t(uint32_t(std::rand()) % modulus);
  std::vector<int> calledAfter(100);
  for (int &v : calledAfter) v = std::rand();

  std::srand(seed);
  for (int i = 0; i < drawnBefore; i++) std::rand();
  std::vector<uint8_t> bulk(count, 0xEE);
  FillRandModulo(bulk.data(), count, modulus);
  std::vector<int> bulkAfter(100);
  for (int &v : bulkAfter) v = std::rand();

  EXPECT_EQ(bulk, called) << name;
  EXPECT_EQ(bulkAfter, calledAfter) << name;
}

TEST(FillRandModulo, DrawsWhatTheCallsDraw) {
  struct Case {
    const char *name;
    uint32_t seed;
    size_t count;
    uint32_t modulus;
    int drawnBefore;
  } cases[] = {
      {"none", 1, 0, 255, 0},
      {"one", 1, 1, 255, 0},
      {"fewer than the generator's words", 9, 30, 255, 0},
      {"only the checked draws", 3, 64, 255, 0},
      {"one past the checked draws", 3, 65, 255, 5},
      {"a whole number of the generator's words", 77, 31 * 40, 255, 17},
      {"one chunk", 12345, 4096, 255, 1},
      {"a chunk and one", 12345, 4097, 255, 30},
      {"a dissolve's area", 1765432109, 640 * 480, 255, 2},
      {"every byte", 42, 10000, 256, 11},
      {"small modulus", 42, 10000, 7, 3},
  };
  for (const Case &c : cases) ExpectSameAsCalls(c.seed, c.drawnBefore, c.count, c.modulus, c.name);
}

TEST(FillRandModulo, AnotherGeneratorStateIsCalled) {
  // A bigger state buffer picks a generator of other lags: the calls are the truth.
  static char state[256];
  char *previous = initstate(5, state, sizeof state);
  ExpectSameAsCalls(5, 0, 5000, 255, "a 256-byte state");
  setstate(previous);
  ExpectSameAsCalls(6, 3, 5000, 255, "back to the default state");
}

}  // namespace
