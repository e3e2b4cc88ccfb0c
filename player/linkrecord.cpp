#include "player/linkrecord.h"

// The record must reach the executable's data unchanged and be read at run time: the
// compiler may not fold the offset, which the applet writer patches in the built file.
extern "C" {
__attribute__((used)) volatile const uint8_t qmLinkRecord[kLinkRecordSize] = {
    'T', 'a', 'r', 'r', 'o', 'w', 'b', 'y', 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0xDE, 0xAD, 0xC0, 0xDE,
    0xC0, 0xDE, 0xCA, 0xFE, 0xC0, 0xCA, 0xC0, 0x1A,
    0};
}

void CopyLinkRecord(uint8_t *out) {
  for (size_t i = 0; i < kLinkRecordSize; i++) out[i] = qmLinkRecord[i];
}

uint32_t LinkRecordOffset(const uint8_t *record) {
  const uint8_t *p = record + kLinkOffsetPosition;
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
