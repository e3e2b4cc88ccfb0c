#include "io/memblock.h"

#include <cstdio>
#include <cstring>

#include "runtime/objlist.h"
#include "runtime/strutil.h"

qmMemBlock *FindMemBlock(const qmObjectRegistry *objects, const qmObjectId *id) {
  return reinterpret_cast<qmMemBlock *>(FindObject(objects, QMTYPE_MEMORY, id));
}

void PutBigEndian(uint8_t *p, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; i++) p[i] = uint8_t(value >> (8 * (bytes - 1 - i)));
}

uint32_t GetBigEndian(const uint8_t *p, int bytes) {
  uint32_t v = 0;
  for (int i = 0; i < bytes; i++) v = v << 8 | p[i];
  return v;
}

void FillBigEndian(uint8_t *p, int64_t count, uint32_t value, int unit) {
  if (unit == 1) {
    std::memset(p, int(value & 0xFF), size_t(count));
    return;
  }
  uint8_t pattern[4];
  PutBigEndian(pattern, value, unit);
  for (int64_t i = 0; i < count; i += unit) std::memcpy(p + i, pattern, size_t(unit));
}

size_t PrintableTextLength(const uint8_t *p, size_t max) {
  size_t n = 0;
  while (n < max && (IsGraphChar(p[n]) || p[n] == ' ' || p[n] == '\n' || p[n] == '\t' || p[n] == '\r')) n++;
  return n;
}

std::string FormatMemDump(const uint8_t *p, size_t length, uint64_t firstOffset) {
  std::string out;
  char cell[16];
  for (size_t line = 0; line < length; line += 16) {
    size_t n = length - line < 16 ? length - line : 16;
    std::snprintf(cell, sizeof cell, "%.8x: ", unsigned(firstOffset + line));
    out += cell;
    for (size_t i = 0; i < 16; i++) {
      if (i < n) {
        std::snprintf(cell, sizeof cell, "%.2x ", p[line + i]);
        out += cell;
      } else {
        out += "   ";
      }
    }
    for (size_t i = 0; i < n; i++) {
      uint8_t c = p[line + i];
      out += IsGraphChar(c) || c == ' ' ? char(c) : '.';
    }
    out += '\n';
  }
  return out;
}
