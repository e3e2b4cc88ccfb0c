#include "runtime/byteorder.h"

#include "platform/file.h"

static uint32_t ReadBytes(qmFileHandle *f, int n, bool bigEndian) {
  uint32_t v = 0;
  for (int i = 0; i < n; i++) {
    uint32_t b = uint32_t(FileGetc(f)) & 0xFF;  // -1 at the end becomes 0xFF
    v = bigEndian ? (v << 8) | b : v | (b << (8 * i));
  }
  return v;
}

static int WriteBytes(qmFileHandle *f, uint32_t v, int n, bool bigEndian) {
  int ok = 1;
  for (int i = 0; i < n; i++) {
    int shift = bigEndian ? 8 * (n - 1 - i) : 8 * i;
    ok &= FilePutc(f, int((v >> shift) & 0xFF));
  }
  return ok;
}

uint32_t ReadLongBE(qmFileHandle *f) { return ReadBytes(f, 4, true); }
uint32_t ReadLongLE(qmFileHandle *f) { return ReadBytes(f, 4, false); }
int32_t ReadWordBE(qmFileHandle *f) { return int16_t(ReadBytes(f, 2, true)); }
int32_t ReadWordLE(qmFileHandle *f) { return int16_t(ReadBytes(f, 2, false)); }
int WriteLongBE(qmFileHandle *f, uint32_t value) { return WriteBytes(f, value, 4, true); }
int WriteLongLE(qmFileHandle *f, uint32_t value) { return WriteBytes(f, value, 4, false); }
int WriteWordBE(qmFileHandle *f, uint32_t value) { return WriteBytes(f, value, 2, true); }
int WriteWordLE(qmFileHandle *f, uint32_t value) { return WriteBytes(f, value, 2, false); }

int WriteCString(qmFileHandle *f, const char *text) {
  int ok = 1;
  for (const char *p = text; *p; p++) ok &= FilePutc(f, static_cast<unsigned char>(*p));
  return ok;
}
