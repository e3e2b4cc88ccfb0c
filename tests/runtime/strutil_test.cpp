// Latin-1 case tables, case-insensitive comparison and character classes.
#include <gtest/gtest.h>

#include "runtime/strutil.h"

namespace {

TEST(CaseTables, Latin1Letters) {
  struct Case {
    uint8_t c, upper, lower;
  } cases[] = {
      {'a', 'A', 'a'}, {'Z', 'Z', 'z'}, {'5', '5', '5'},       {0xE4, 0xC4, 0xE4}, {0xC4, 0xC4, 0xE4},
      {0xF7, 0xF7, 0xF7}, {0xD7, 0xD7, 0xD7}, {0xFE, 0xFE, 0xFE}, {0xDE, 0xDE, 0xDE}, {0xFF, 0xFF, 0xFF},
      {0xDF, 0xDF, 0xDF}, {0xFD, 0xDD, 0xFD}, {0xDD, 0xDD, 0xFD}, {0xE0, 0xC0, 0xE0}, {0x40, 0x40, 0x40},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(kUpperCaseTable[c.c], c.upper) << int(c.c);
    EXPECT_EQ(kLowerCaseTable[c.c], c.lower) << int(c.c);
  }
}

TEST(Stricmp, ComparesFoldedBytes) {
  struct Case {
    const char *a, *b;
    int sign;
  } cases[] = {
      {"LoadBrush", "loadbrush", 0},
      {"\xC4rger", "\xE4RGER", 0},
      {"\xDE", "\xFE", -1},  // thorn has no case pair here: 0xDE < 0xFE
      {"abc", "abd", -1},
      {"abc", "ab", 1},
      {"", "", 0},
      {"a", "", 1},
  };
  for (const Case &c : cases) {
    int r = Stricmp(c.a, c.b);
    EXPECT_EQ((r > 0) - (r < 0), c.sign) << c.a << " / " << c.b;
  }
  const char *same = "X";
  EXPECT_EQ(Stricmp(same, same), 0);
  EXPECT_EQ(Strnicmp("abcX", "ABCY", 3), 0);
  EXPECT_NE(Strnicmp("abcX", "ABCY", 4), 0);
}

TEST(StrToLower, FoldsInPlace) {
  char text[] = "Display \xC4\xD6\xDC\xDE MODE";
  StrToLower(text);
  EXPECT_STREQ(text, "display \xE4\xF6\xFC\xDE mode");
}

TEST(CharClasses, Boundaries) {
  struct Case {
    uint32_t c;
    int alpha, graph, alnum;
  } cases[] = {
      {'A', 1, 1, 1}, {'z', 1, 1, 1}, {'0', 0, 1, 1}, {' ', 0, 0, 0},  {0x7F, 0, 0, 0}, {0xA0, 0, 0, 0},
      {0xA1, 0, 1, 0}, {0xC0, 1, 1, 1}, {0xD7, 1, 1, 1}, {0xF7, 0, 1, 0}, {0xFF, 1, 1, 1}, {0x141, 0, 0, 0},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(IsAlphaChar(c.c), c.alpha) << c.c;
    EXPECT_EQ(IsGraphChar(c.c), c.graph) << c.c;
    EXPECT_EQ(IsAlnumChar(c.c), c.alnum) << c.c;
  }
}

}  // namespace
