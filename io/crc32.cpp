#include "io/crc32.h"

namespace {
uint32_t crc_table[256];
bool crc_ready = false;
}  // namespace

void InitCRC32Table() {
  for (uint32_t i = 0; i < 256; i++) {
    uint32_t c = i;
    for (int k = 0; k < 8; k++) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    crc_table[i] = c;
  }
  crc_ready = true;
}

const uint32_t *GetCRC32Table() {
  if (!crc_ready) InitCRC32Table();
  return crc_table;
}

uint32_t UpdateCRC32(uint32_t crc, const void *data, size_t length) {
  const uint32_t *table = GetCRC32Table();
  auto *p = static_cast<const unsigned char *>(data);
  for (size_t i = 0; i < length; i++) crc = (crc >> 8) ^ table[(crc ^ p[i]) & 0xFF];
  return crc;
}
