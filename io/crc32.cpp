#include "io/crc32.h"

#include <zlib.h>

namespace {
// Built once at start-up and only read after it, by every run and thread alike.
uint32_t gCrcTable[256];
bool gCrcReady = false;
}  // namespace

void InitCRC32Table() {
  for (uint32_t i = 0; i < 256; i++) {
    uint32_t c = i;
    for (int k = 0; k < 8; k++) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    gCrcTable[i] = c;
  }
  gCrcReady = true;
}

uint32_t UpdateCRC32(uint32_t crc, const void *data, size_t length) {
  // zlib computes the same checksum several bytes at a time; it keeps the value complemented
  // between calls, where this interface hands the raw register back and forth.
  auto *p = static_cast<const Bytef *>(data);
  uLong c = ~crc & 0xFFFFFFFFu;
  while (length > 0) {
    uInt n = length > 0x40000000u ? 0x40000000u : uInt(length);
    c = crc32(c, p, n);
    p += n;
    length -= n;
  }
  return ~uint32_t(c);
}
