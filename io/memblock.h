// Memory blocks: raw byte buffers that scripts fill and read in big-endian values. Every
// range is checked in 64 bits, so no offset and count can wrap past a block's end.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "runtime/objectid.h"

struct qmObjectRegistry;

// The system library's type numbers that the commands take.
enum : int32_t {
  MEMTYPE_INTEGER = 1,
  MEMTYPE_STRING = 3,
  MEMTYPE_SHORT = 6,
  MEMTYPE_BYTE = 7,
};

inline constexpr int64_t kMaxMemBlockSize = INT32_MAX;

struct qmMemBlock {
  qmObjectHeader header;  // QMTYPE_MEMORY
  int32_t size;           // 1 .. kMaxMemBlockSize
  uint8_t *buffer;
};

// Whether offset .. offset + count - 1 lies inside a block of size bytes (count 0: offset <= size).
inline bool MemRangeFits(int64_t offset, int64_t count, int64_t size) {
  return offset >= 0 && count >= 0 && count <= size && offset <= size - count;
}

// The run's block of that id, or null.
qmMemBlock *FindMemBlock(const qmObjectRegistry *objects, const qmObjectId *id);

// Big-endian values of 1, 2 or 4 bytes.
void PutBigEndian(uint8_t *p, uint32_t value, int bytes);
uint32_t GetBigEndian(const uint8_t *p, int bytes);

// Fills count bytes at p with the value repeated in units of 1, 2 or 4 bytes (count a
// multiple of the unit).
void FillBigEndian(uint8_t *p, int64_t count, uint32_t value, int unit);

// The length of the text at p (at most max bytes): bytes that are printable, blanks, tabs,
// carriage returns or line feeds.
size_t PrintableTextLength(const uint8_t *p, size_t max);

// The hexadecimal dump: lines of 16 bytes with the offset from firstOffset, each byte in
// hexadecimal and then as a character ("." for anything not printable).
std::string FormatMemDump(const uint8_t *p, size_t length, uint64_t firstOffset);
