#include "io/memblock/memblock.h"

#include <cstdio>
#include <cstring>

#include "platform/memory.h"
#include "runtime/errcodes.h"
#include "runtime/objdata.h"
#include "runtime/objlist.h"
#include "runtime/strutil.h"

namespace {
qmMemBlock *AsBlock(qmObjectHeader *h) { return reinterpret_cast<qmMemBlock *>(h); }
}  // namespace

uint32_t AllocMemBlock(VmState *L, const qmObjectId *id, int32_t size, qmMemBlock **out) {
  if (size < 1) return ERR_MEM;
  if (!id->handle)
    if (qmMemBlock *old = AsBlock(FindObject(L, QMTYPE_MEMORY, id))) FreeMemBlock(L, old);
  auto *block = static_cast<qmMemBlock *>(MemAlloc(sizeof(qmMemBlock), 1));
  // Cleared, so that a script never reads what the memory held before.
  uint8_t *buffer = static_cast<uint8_t *>(MemAlloc(uint64_t(size), 1));
  if (!block || !buffer) {
    MemFree(block);
    MemFree(buffer);
    return ERR_MEM;
  }
  SetObjectHeader(&block->header, QMTYPE_MEMORY, id);
  block->size = size;
  block->buffer = buffer;
  if (uint32_t code = AddObject(L, &block->header)) {
    MemFree(buffer);
    MemFree(block);
    return code;
  }
  *out = block;
  return 0;
}

void FreeMemBlock(VmState *L, qmMemBlock *block) {
  RemoveObject(L, &block->header);
  FreeObjectDataList(L, static_cast<qmObjectData *>(block->header.userData));
  MemFree(block->buffer);
  MemFree(block);
}

void FreeAllMemBlocks(VmState *L) {
  while (qmObjectHeader *h = FirstObject(L, QMTYPE_MEMORY)) FreeMemBlock(L, AsBlock(h));
}

uint32_t FindMemBlock(VmState *L, const qmObjectId *id, qmMemBlock **out) {
  *out = AsBlock(FindObject(L, QMTYPE_MEMORY, id));
  return *out ? 0 : MissingObjectError(id, ERR_FINDMEMBLK);
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
