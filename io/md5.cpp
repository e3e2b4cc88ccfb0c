#include "io/md5.h"

#include <cstring>

namespace {

// The four auxiliary functions of the rounds.
struct F { static uint32_t f(uint32_t x, uint32_t y, uint32_t z) { return z ^ (x & (y ^ z)); } };
struct G { static uint32_t f(uint32_t x, uint32_t y, uint32_t z) { return y ^ (z & (x ^ y)); } };
struct H { static uint32_t f(uint32_t x, uint32_t y, uint32_t z) { return x ^ y ^ z; } };
struct I { static uint32_t f(uint32_t x, uint32_t y, uint32_t z) { return y ^ (x | ~z); } };

template <class Fn>
inline void Step(uint32_t &a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, uint32_t k, int s) {
  a += Fn::f(b, c, d) + x + k;
  a = ((a << s) | (a >> (32 - s))) + b;
}

inline uint32_t LoadLE32(const uint8_t *p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// One 64-byte block; the words are little-endian whatever the host order.
void Transform(uint32_t state[4], const uint8_t *block) {
  uint32_t x[16];
  for (int i = 0; i < 16; i++) x[i] = LoadLE32(block + 4 * i);
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  Step<F>(a, b, c, d, x[0], 0xd76aa478u, 7);
  Step<F>(d, a, b, c, x[1], 0xe8c7b756u, 12);
  Step<F>(c, d, a, b, x[2], 0x242070dbu, 17);
  Step<F>(b, c, d, a, x[3], 0xc1bdceeeu, 22);
  Step<F>(a, b, c, d, x[4], 0xf57c0fafu, 7);
  Step<F>(d, a, b, c, x[5], 0x4787c62au, 12);
  Step<F>(c, d, a, b, x[6], 0xa8304613u, 17);
  Step<F>(b, c, d, a, x[7], 0xfd469501u, 22);
  Step<F>(a, b, c, d, x[8], 0x698098d8u, 7);
  Step<F>(d, a, b, c, x[9], 0x8b44f7afu, 12);
  Step<F>(c, d, a, b, x[10], 0xffff5bb1u, 17);
  Step<F>(b, c, d, a, x[11], 0x895cd7beu, 22);
  Step<F>(a, b, c, d, x[12], 0x6b901122u, 7);
  Step<F>(d, a, b, c, x[13], 0xfd987193u, 12);
  Step<F>(c, d, a, b, x[14], 0xa679438eu, 17);
  Step<F>(b, c, d, a, x[15], 0x49b40821u, 22);
  Step<G>(a, b, c, d, x[1], 0xf61e2562u, 5);
  Step<G>(d, a, b, c, x[6], 0xc040b340u, 9);
  Step<G>(c, d, a, b, x[11], 0x265e5a51u, 14);
  Step<G>(b, c, d, a, x[0], 0xe9b6c7aau, 20);
  Step<G>(a, b, c, d, x[5], 0xd62f105du, 5);
  Step<G>(d, a, b, c, x[10], 0x02441453u, 9);
  Step<G>(c, d, a, b, x[15], 0xd8a1e681u, 14);
  Step<G>(b, c, d, a, x[4], 0xe7d3fbc8u, 20);
  Step<G>(a, b, c, d, x[9], 0x21e1cde6u, 5);
  Step<G>(d, a, b, c, x[14], 0xc33707d6u, 9);
  Step<G>(c, d, a, b, x[3], 0xf4d50d87u, 14);
  Step<G>(b, c, d, a, x[8], 0x455a14edu, 20);
  Step<G>(a, b, c, d, x[13], 0xa9e3e905u, 5);
  Step<G>(d, a, b, c, x[2], 0xfcefa3f8u, 9);
  Step<G>(c, d, a, b, x[7], 0x676f02d9u, 14);
  Step<G>(b, c, d, a, x[12], 0x8d2a4c8au, 20);
  Step<H>(a, b, c, d, x[5], 0xfffa3942u, 4);
  Step<H>(d, a, b, c, x[8], 0x8771f681u, 11);
  Step<H>(c, d, a, b, x[11], 0x6d9d6122u, 16);
  Step<H>(b, c, d, a, x[14], 0xfde5380cu, 23);
  Step<H>(a, b, c, d, x[1], 0xa4beea44u, 4);
  Step<H>(d, a, b, c, x[4], 0x4bdecfa9u, 11);
  Step<H>(c, d, a, b, x[7], 0xf6bb4b60u, 16);
  Step<H>(b, c, d, a, x[10], 0xbebfbc70u, 23);
  Step<H>(a, b, c, d, x[13], 0x289b7ec6u, 4);
  Step<H>(d, a, b, c, x[0], 0xeaa127fau, 11);
  Step<H>(c, d, a, b, x[3], 0xd4ef3085u, 16);
  Step<H>(b, c, d, a, x[6], 0x04881d05u, 23);
  Step<H>(a, b, c, d, x[9], 0xd9d4d039u, 4);
  Step<H>(d, a, b, c, x[12], 0xe6db99e5u, 11);
  Step<H>(c, d, a, b, x[15], 0x1fa27cf8u, 16);
  Step<H>(b, c, d, a, x[2], 0xc4ac5665u, 23);
  Step<I>(a, b, c, d, x[0], 0xf4292244u, 6);
  Step<I>(d, a, b, c, x[7], 0x432aff97u, 10);
  Step<I>(c, d, a, b, x[14], 0xab9423a7u, 15);
  Step<I>(b, c, d, a, x[5], 0xfc93a039u, 21);
  Step<I>(a, b, c, d, x[12], 0x655b59c3u, 6);
  Step<I>(d, a, b, c, x[3], 0x8f0ccc92u, 10);
  Step<I>(c, d, a, b, x[10], 0xffeff47du, 15);
  Step<I>(b, c, d, a, x[1], 0x85845dd1u, 21);
  Step<I>(a, b, c, d, x[8], 0x6fa87e4fu, 6);
  Step<I>(d, a, b, c, x[15], 0xfe2ce6e0u, 10);
  Step<I>(c, d, a, b, x[6], 0xa3014314u, 15);
  Step<I>(b, c, d, a, x[13], 0x4e0811a1u, 21);
  Step<I>(a, b, c, d, x[4], 0xf7537e82u, 6);
  Step<I>(d, a, b, c, x[11], 0xbd3af235u, 10);
  Step<I>(c, d, a, b, x[2], 0x2ad7d2bbu, 15);
  Step<I>(b, c, d, a, x[9], 0xeb86d391u, 21);
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
}

}  // namespace

void MD5Init(qmMD5Context *ctx) {
  ctx->state[0] = 0x67452301u;
  ctx->state[1] = 0xefcdab89u;
  ctx->state[2] = 0x98badcfeu;
  ctx->state[3] = 0x10325476u;
  ctx->count = 0;
}

void MD5Digest(qmMD5Context *ctx, const void *data, size_t length) {
  auto *p = static_cast<const uint8_t *>(data);
  size_t have = size_t(ctx->count & 63);
  ctx->count += length;
  if (have) {
    size_t take = 64 - have;
    if (length < take) {
      std::memcpy(ctx->buffer + have, p, length);
      return;
    }
    std::memcpy(ctx->buffer + have, p, take);
    Transform(ctx->state, ctx->buffer);
    p += take;
    length -= take;
  }
  for (; length >= 64; p += 64, length -= 64) Transform(ctx->state, p);
  if (length) std::memcpy(ctx->buffer, p, length);
}

void MD5Final(qmMD5Context *ctx, uint8_t digest[16]) {
  uint64_t bits = ctx->count * 8;
  size_t have = size_t(ctx->count & 63);
  // A single 1 bit, zeros up to 56 bytes into a block, then the bit count.
  uint8_t pad[72] = {0x80};
  size_t padLength = (have < 56 ? 56 : 120) - have;
  uint8_t length[8];
  for (int i = 0; i < 8; i++) length[i] = uint8_t(bits >> (8 * i));
  MD5Digest(ctx, pad, padLength);
  MD5Digest(ctx, length, 8);
  for (int i = 0; i < 4; i++)
    for (int k = 0; k < 4; k++) digest[4 * i + k] = uint8_t(ctx->state[i] >> (8 * k));
}

void MD5ToHex(const uint8_t digest[16], char out[33]) {
  static const char kDigits[] = "0123456789abcdef";
  for (int i = 0; i < 16; i++) {
    out[2 * i] = kDigits[digest[i] >> 4];
    out[2 * i + 1] = kDigits[digest[i] & 15];
  }
  out[32] = '\0';
}

void MD5Text(const void *data, size_t length, char out[33]) {
  qmMD5Context ctx;
  uint8_t digest[16];
  MD5Init(&ctx);
  MD5Digest(&ctx, data, length);
  MD5Final(&ctx, digest);
  MD5ToHex(digest, out);
}
