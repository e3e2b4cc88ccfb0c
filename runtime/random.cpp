#include "runtime/random.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

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

namespace {

void FillRandByCalls(uint8_t *out, size_t count, uint32_t modulus) {
  for (size_t i = 0; i < count; i++) out[i] = uint8_t(uint32_t(std::rand()) % modulus);
}

#ifdef __GLIBC__
// The C library's default generator: 31 words, the next word r[i] = r[i - 31] + r[i - 3] (mod
// 2^32), which rand gives shifted right once. initstate and setstate hand its buffer over as one
// word (5 x rear index + type 3) and the 31 words; the next word goes 3 places past the rear.
constexpr int32_t kWords = 31, kLag = 3, kTypes = 5, kAdditiveType = 3;
constexpr size_t kChunk = 4096;
// Draws taken by real calls before the rest are computed: a generator other than the one above
// shows itself here, and the calls go on.
constexpr size_t kChecked = 64;

// rand switched to a scratch buffer for a moment: the buffer it was drawing from, written up to
// date, goes to setstate to switch back.
int32_t *SwitchRandAway(int32_t *scratch) {
  return reinterpret_cast<int32_t *>(initstate(1, reinterpret_cast<char *>(scratch), (kWords + 1) * sizeof(int32_t)));
}

#endif

}  // namespace

void FillRandModulo(uint8_t *out, size_t count, uint32_t modulus) {
#ifdef __GLIBC__
  int32_t scratch[kWords + 1];
  int32_t *held = count > kChecked ? SwitchRandAway(scratch) : nullptr;
  if (!held) {
    FillRandByCalls(out, count, modulus);
    return;
  }
  const int32_t code = held[0];
  // words[k] is the word drawn k - 31 draws before the chunk's first.
  uint32_t words[kWords + kChunk];
  for (int32_t j = 0; j < kWords; j++) words[j] = uint32_t(held[1 + j]);
  setstate(reinterpret_cast<char *>(held));
  if (code % kTypes != kAdditiveType || code / kTypes >= kWords) {
    FillRandByCalls(out, count, modulus);
    return;
  }
  const int32_t rear = code / kTypes, front = (rear + kLag) % kWords;
  std::rotate(words, words + front, words + kWords);
  for (size_t i = 0; i < kChecked; i++) {
    const uint32_t drawn = uint32_t(std::rand());
    out[i] = uint8_t(drawn % modulus);
    words[kWords + i] = words[i] + words[i + kWords - kLag];
    if ((words[kWords + i] >> 1) != drawn) {
      FillRandByCalls(out + i + 1, count - i - 1, modulus);
      return;
    }
  }
  for (size_t done = 0; done < count;) {
    const size_t n = count - done < kChunk ? count - done : kChunk;
    for (size_t i = done ? 0 : kChecked; i < n; i++) {
      words[kWords + i] = words[i] + words[i + kWords - kLag];
      out[done + i] = uint8_t((words[kWords + i] >> 1) % modulus);
    }
    done += n;
    std::memmove(words, words + n, kWords * sizeof(uint32_t));
  }
  // The last 31 words back in their places, the rear index moved on by count.
  held = SwitchRandAway(scratch);
  for (int32_t j = 0; j < kWords; j++) held[1 + (front + int64_t(count) + j) % kWords] = int32_t(words[j]);
  held[0] = int32_t((rear + int64_t(count)) % kWords) * kTypes + kAdditiveType;
  setstate(reinterpret_cast<char *>(held));
#else
  FillRandByCalls(out, count, modulus);
#endif
}
