// The system font scan against fontconfig's own readers (fc-scan, fc-list), and the rules the
// scan keeps on the generated fixtures.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>

#include "text/fontscan.h"
#include "text/freetype_font.h"
#include "tests/text/text_test_util.h"

namespace {

struct FontScanTest : FontEngineTest {
  const qmFontListEntry *Find(const char *fullName) {
    for (const qmFontListEntry *e = GetFontList(fonts); e; e = e->next)
      if (strcasecmp(e->fullName, fullName) == 0) return e;
    return nullptr;
  }
};

// Weight and slant from the style words are fontconfig's numbers for the same faces.
TEST_F(FontScanTest, WeightAndSlantAsFcScanReports) {
  auto lines = Lines(RunCommand("fc-scan --format '%{file}|%{weight}|%{slant}\\n' " + kDejaVuDir.substr(0, kDejaVuDir.size() - 1)));
  ASSERT_GT(lines.size(), 5u);
  ASSERT_EQ(ScanFontDirectory(fonts, kDejaVuDir.c_str(), 1), 0u);
  std::map<std::string, const qmFontListEntry *> byPath;
  for (const qmFontListEntry *e = GetFontList(fonts); e; e = e->next) byPath[e->path] = e;
  int checked = 0;
  for (const std::string &line : lines) {
    auto a = line.find('|'), b = line.rfind('|');
    std::string file = line.substr(0, a);
    auto it = byPath.find(file);
    ASSERT_NE(it, byPath.end()) << file;
    // "Book" is a weight word of its own (75); fontconfig reads these faces' OS/2 class (80).
    int32_t weight = std::stoi(line.substr(a + 1, b - a - 1));
    if (std::string(it->second->fullName).ends_with(" Book")) weight = 75;
    EXPECT_EQ(it->second->weight, weight) << file << " " << it->second->fullName;
    EXPECT_EQ(it->second->slant, std::stoi(line.substr(b + 1))) << file;
    checked++;
  }
  EXPECT_GT(checked, 5);
}

// Every face file fontconfig lists is in the system list.
TEST_F(FontScanTest, SystemFoldersCoverFcList) {
  ScanFontFolders(fonts, 1);
  std::set<std::string> ours;
  for (const qmFontListEntry *e = GetFontList(fonts); e; e = e->next) ours.insert(e->path);
  auto files = Lines(RunCommand("fc-list --format '%{file}\\n' | grep -iE '\\.(ttf|otf|ttc)$' | sort -u"));
  ASSERT_GT(files.size(), 3u);
  for (const std::string &f : files) EXPECT_TRUE(ours.count(f)) << f;
}

TEST_F(FontScanTest, RegularFacesListedOnceFoundBothWays) {
  std::string dir = FixtureDir() + "/faces";
  ASSERT_EQ(AddFontPathEntry(fonts, dir.c_str()), 0u);
  ScanFontFolders(fonts, 1);
  EXPECT_NE(Find("Bitstream Vera Sans Roman"), nullptr);
  EXPECT_EQ(Find("Bitstream Vera Sans"), nullptr);
  FreeFontList(fonts);
  uint64_t pos, len;
  int32_t temporary;
  EXPECT_NE(MapFontNameToFile(fonts, "Bitstream Vera Sans", -1, 0, 0, &pos, &len, &temporary), nullptr);
  EXPECT_NE(MapFontNameToFile(fonts, "Bitstream Vera Sans Roman", -1, 0, 0, &pos, &len, &temporary), nullptr);
}

TEST_F(FontScanTest, FixtureRules) {
  std::string dir = FixtureDir() + "/faces";
  ASSERT_EQ(ScanFontDirectory(fonts, dir.c_str(), 1), 0u);
  ASSERT_EQ(ScanFontDirectory(fonts, FixtureDir().c_str(), 1), 0u);
  // The font path's file wins over a later folder with the same face.
  ASSERT_EQ(ScanFontDirectory(fonts, kVeraDir.c_str(), 1), 0u);
  const qmFontListEntry *vera = Find("Bitstream Vera Sans Roman");
  ASSERT_NE(vera, nullptr);
  EXPECT_EQ(std::string(vera->path), dir + "/Pair.ttc");
  EXPECT_GT(vera->collectionOffset, 0u);
  const qmFontListEntry *bold = Find("Bitstream Vera Sans Bold");
  ASSERT_NE(bold, nullptr);
  EXPECT_EQ(bold->weight, 200);
  // Only non-English Microsoft names: one entry with an empty full name.
  const qmFontListEntry *empty = Find("");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(std::string(empty->path), dir + "/NoEnglish.ttf");
  // A 300-byte family is cut at 255 characters; Bold Italic gives 200 and 100.
  const qmFontListEntry *longName = Find((std::string(255, 'L') + " Bold Italic").c_str());
  ASSERT_NE(longName, nullptr);
  EXPECT_EQ(longName->weight, 200);
  EXPECT_EQ(longName->slant, 100);
  // "a.ttf" is too short a name to be scanned.
  for (const qmFontListEntry *e = GetFontList(fonts); e; e = e->next) EXPECT_NE(std::string(e->path), dir + "/a.ttf");
  // ".font" sizes are distinct in first-seen order; 0x0F03 files are no bitmap fonts.
  const qmFontListEntry *plain = Find("plain");
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(plain->bitmap, 1);
  EXPECT_EQ(std::vector<uint8_t>(plain->sizes, plain->sizes + plain->sizeCount), (std::vector<uint8_t>{8, 11}));
  const qmFontListEntry *outline = Find("outline");
  ASSERT_NE(outline, nullptr);
  EXPECT_EQ(outline->bitmap, 0);
}

TEST_F(FontScanTest, StyleWords) {
  struct Case {
    const char *style;
    int32_t weight, slant;
  } cases[] = {
      {"Bold Italic", 200, 100}, {"Fett Kursiv", 80, 0},  {"ExtraLight", 40, 0}, {"Condensed Bold Oblique", 200, 110},
      {"Book", 75, 0},           {"Semi-bold", 180, 0},   {"Ultra-black", 215, 0}, {"", 80, 0},
  };
  for (const Case &c : cases) {
    AddFontListEntry(fonts, "/x", "Family", c.style, 0, 0, 0, 0, 0, nullptr, 0);
    const qmFontListEntry *e = Find((std::string("Family") + (c.style[0] ? " " : "") + c.style).c_str());
    ASSERT_NE(e, nullptr) << c.style;
    EXPECT_EQ(e->weight, c.weight) << c.style;
    EXPECT_EQ(e->slant, c.slant) << c.style;
  }
}

// A face of a collection is copied into a file of its own that FreeType opens with the
// family and style fontconfig reports for that index.
TEST_F(FontScanTest, CollectionFaceOpensFromItsCopy) {
  std::string file = FixtureDir() + "/faces/Pair.ttc";
  auto peer = Lines(RunCommand("fc-scan --format '%{index}|%{family}|%{style}\\n' " + file));
  ASSERT_EQ(peer.size(), 2u);
  ASSERT_EQ(AddFontPathEntry(fonts, (FixtureDir() + "/faces").c_str()), 0u);
  qmFont *f = nullptr;
  ASSERT_EQ(OpenFontRecord(fonts, "Bitstream Vera Sans Bold", 20, FONTENGINE_INBUILT, 1, 0, &f), 0u);
  EXPECT_EQ("1|" + std::string(f->faceName).substr(0, 19) + "|Bold", peer[1]);
  EXPECT_STREQ(f->faceName, "Bitstream Vera Sans Bold");
  CloseFontRecord(f);
}

}  // namespace
