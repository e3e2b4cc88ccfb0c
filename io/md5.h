// The MD5 message digest (RFC 1321): init, any number of digest steps over byte blocks, final.
#pragma once
#include <cstddef>
#include <cstdint>

struct qmMD5Context {
  uint32_t state[4];
  uint64_t count;       // bytes digested so far
  uint8_t buffer[64];   // the bytes of an unfinished block
};

void MD5Init(qmMD5Context *ctx);
void MD5Digest(qmMD5Context *ctx, const void *data, size_t length);
// Pads, appends the bit count and writes the 16 digest bytes; the context is spent.
void MD5Final(qmMD5Context *ctx, uint8_t digest[16]);

// The digest as 32 lower-case hexadecimal digits and a terminator.
void MD5ToHex(const uint8_t digest[16], char out[33]);
// The whole digest of one block, as hexadecimal text.
void MD5Text(const void *data, size_t length, char out[33]);
