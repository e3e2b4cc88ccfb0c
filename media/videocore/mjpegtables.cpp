#include "media/videocore/mjpegtables.h"

#include <array>
#include <cstddef>

namespace {

// The AC value lists run in an irregular order for their short codes; the rest follow as
// every (run, size) pair not yet listed, run by run, sizes 1 to 10.
template <std::size_t N>
constexpr int AppendAcValues(std::array<uint8_t, kStandardDhtSize> &t, int at, const uint8_t (&head)[N]) {
  bool seen[256] = {};
  for (uint8_t v : head) {
    t[at++] = v;
    seen[v] = true;
  }
  for (int run = 0; run < 16; run++)
    for (int size = 1; size <= 10; size++)
      if (!seen[run << 4 | size]) t[at++] = uint8_t(run << 4 | size);
  return at;
}

template <std::size_t N>
constexpr int AppendTable(std::array<uint8_t, kStandardDhtSize> &t, int at, uint8_t classAndId,
                          const uint8_t (&counts)[16], const uint8_t (&head)[N], bool ac) {
  t[at++] = classAndId;
  for (uint8_t c : counts) t[at++] = c;
  if (ac) return AppendAcValues(t, at, head);
  for (int v = 0; v < 12; v++) t[at++] = uint8_t(v);
  return at;
}

constexpr std::array<uint8_t, kStandardDhtSize> MakeTables() {
  constexpr uint8_t dcLumaCounts[16] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
  constexpr uint8_t dcChromaCounts[16] = {0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0};
  constexpr uint8_t acLumaCounts[16] = {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7D};
  constexpr uint8_t acChromaCounts[16] = {0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77};
  constexpr uint8_t none[1] = {0};
  constexpr uint8_t acLumaHead[] = {0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13,
                                    0x51, 0x61, 0x07, 0x22, 0x71, 0x14, 0x32, 0x81, 0x91, 0xA1, 0x08, 0x23, 0x42,
                                    0xB1, 0xC1, 0x15, 0x52, 0xD1, 0xF0, 0x24, 0x33, 0x62, 0x72, 0x82, 0x09, 0x0A};
  constexpr uint8_t acChromaHead[] = {0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12,
                                      0x41, 0x51, 0x07, 0x61, 0x71, 0x13, 0x22, 0x32, 0x81, 0x08, 0x14,
                                      0x42, 0x91, 0xA1, 0xB1, 0xC1, 0x09, 0x23, 0x33, 0x52, 0xF0, 0x15,
                                      0x62, 0x72, 0xD1, 0x0A, 0x16, 0x24, 0x34, 0xE1, 0x25, 0xF1};
  std::array<uint8_t, kStandardDhtSize> t{};
  t[0] = 0xFF, t[1] = 0xC4, t[2] = 0x01, t[3] = 0xA2;  // length 418
  int at = 4;
  at = AppendTable(t, at, 0x00, dcLumaCounts, none, false);
  at = AppendTable(t, at, 0x01, dcChromaCounts, none, false);
  at = AppendTable(t, at, 0x10, acLumaCounts, acLumaHead, true);
  at = AppendTable(t, at, 0x11, acChromaCounts, acChromaHead, true);
  return at == int(kStandardDhtSize) ? t : std::array<uint8_t, kStandardDhtSize>{};
}

constexpr std::array<uint8_t, kStandardDhtSize> kTables = MakeTables();
static_assert(kTables[0] == 0xFF, "the standard tables fill 420 bytes exactly");

}  // namespace

const uint8_t *const kStandardDht = kTables.data();
