#include <gtest/gtest.h>

#include <string>

#include "io/crc32.h"

// Values as python3's zlib.crc32 gives them.
TEST(Crc32, KnownValues) {
  struct {
    std::string text;
    uint32_t crc;
  } cases[] = {{"", 0}, {"abc", 891568578u}, {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
               {std::string("\0\0\0\0", 4), 0x2144DF1Cu}};
  for (auto &c : cases) EXPECT_EQ(CRC32Block(c.text.data(), c.text.size()), c.crc) << c.text;
  // Block by block gives the same as all at once.
  std::string s = "The quick brown fox jumps over the lazy dog";
  uint32_t crc = 0xFFFFFFFFu;
  for (char ch : s) crc = UpdateCRC32(crc, &ch, 1);
  EXPECT_EQ(~crc, 0x414FA339u);
}
