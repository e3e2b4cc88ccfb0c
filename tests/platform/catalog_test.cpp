#include "platform/catalog.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "catalog_fixture.h"
#include "platform/fileops.h"
#include "platform/memory.h"
#include "tempdir.h"

namespace {

using namespace std::string_literals;

class Catalog : public ::testing::Test {
 protected:
  qmCatalog *Load(const std::string &bytes) {
    std::string path = dir / "test.catalog";
    WriteFile(path, bytes);
    return CatalogOpenFile(path.c_str());
  }
  TempDir dir;
};

TEST_F(Catalog, IffStringsOverrideDefaults) {
  qmCatalog *c = Load(IffCatalog({{5, "f\xFCnf"}, {7, "Sieben"}, {95, "fertig"}}));
  ASSERT_NE(c, nullptr);
  EXPECT_STREQ(CatalogGetString(c, 7, "seven"), "Sieben");
  EXPECT_STREQ(CatalogGetString(c, 5, "five"), "f\xFCnf");
  EXPECT_STREQ(CatalogGetString(c, 95, "done"), "fertig");
  EXPECT_STREQ(CatalogGetString(c, 6, "six"), "six");
  EXPECT_STREQ(CatalogGetString(c, -1, "end word"), "end word");
  CatalogClose(c);
  EXPECT_STREQ(CatalogGetString(nullptr, 7, "seven"), "seven");
}

TEST_F(Catalog, CorruptIffFailsOrCutsCleanly) {
  const std::string good = CatalogEntry(1, "one") + CatalogEntry(2, "two");
  std::string noTerminator;
  PutBigEndian32(noTerminator, 3);
  PutBigEndian32(noTerminator, 4);
  noTerminator += "abcd";  // length 4, no zero inside
  std::string hugeLength;
  PutBigEndian32(hugeLength, 4);
  PutBigEndian32(hugeLength, 0xFFFFFFF0u);
  hugeLength += "four";
  std::string pastEnd;
  PutBigEndian32(pastEnd, 5);
  PutBigEndian32(pastEnd, 64);
  pastEnd += "five";

  struct Case {
    const char *name;
    std::string bytes;
    bool opens;
    const char *id2;  // expected text of id 2 (default "-")
    const char *id3;
  };
  const std::string padding(64, ' ');
  const Case cases[] = {
      {"terminator missing", IffCatalog(good + noTerminator + CatalogEntry(9, padding)), true,
       "two", "-"},
      {"length beyond 32 bits of file", IffCatalog(good + hugeLength + padding), true, "two", "-"},
      {"length past the end", IffCatalog(good + pastEnd), true, "two", "-"},
      {"cut in an entry header", IffCatalog(good + "\0\0\0\x03"s), true, "two", "-"},
      {"no STRS chunk", "FORM\0\0\0\0CTLGFVER"s + padding + padding, false, "", ""},
      {"not CTLG", "FORM\0\0\0\0ILBMFVER"s + padding + padding, false, "", ""},
      {"FVER not first", "FORM\0\0\0\0CTLGSTRS"s + good + padding + padding, false, "", ""},
  };
  for (const auto &c : cases) {
    qmCatalog *cat = Load(c.bytes);
    ASSERT_EQ(cat != nullptr, c.opens) << c.name;
    if (!cat) continue;
    EXPECT_STREQ(CatalogGetString(cat, 2, "-"), c.id2) << c.name;
    EXPECT_STREQ(CatalogGetString(cat, 3, "-"), c.id3) << c.name;
    EXPECT_STREQ(CatalogGetString(cat, 4, "-"), "-") << c.name;
    EXPECT_STREQ(CatalogGetString(cat, 5, "-"), "-") << c.name;
    CatalogClose(cat);
  }
  // Every truncation of a valid catalog opens or fails without reading past its bytes.
  const std::string whole = IffCatalog({{1, "one"}, {2, "two"}, {3, std::string(100, 'x')}});
  for (size_t n = 0; n < whole.size(); n++) {
    qmCatalog *cat = Load(whole.substr(0, n));
    for (int id = 0; id < 4; id++) CatalogGetString(cat, id, "-");
    CatalogClose(cat);
  }
}

TEST_F(Catalog, PlainTextLinesAndEscapes) {
  struct Case {
    const char *name;
    std::string bytes;
    std::vector<std::string> lines;  // ids 0.. ; the next id gives the default
  };
  const Case cases[] = {
      {"escaped line feed", "a\\nb", {"a\nb"}},
      {"escapes", "\\t\\r\\x\\\\", {"\t\r\\\\"}},
      {"LF", "one\ntwo\n", {"one", "two"}},
      {"CR LF", "one\r\ntwo\r\n", {"one", "two"}},
      {"CR alone keeps the next line whole", "one\rtwo", {"one", "two"}},
      {"empty line", "one\n\nthree", {"one", "", "three"}},
      {"trailing backslash", "end\\", {"end\\"}},
      {"empty file", "", {}},
      // Exactly 100 bytes: plain text even though it begins like an IFF file.
      {"100 bytes beginning FORM", "FORM" + std::string(95, 'x') + "\n", {"FORM" + std::string(95, 'x')}},
  };
  for (const auto &c : cases) {
    qmCatalog *cat = Load(c.bytes);
    ASSERT_NE(cat, nullptr) << c.name;
    for (size_t i = 0; i < c.lines.size(); i++)
      EXPECT_EQ(CatalogGetString(cat, static_cast<int32_t>(i), "-"), c.lines[i]) << c.name << i;
    EXPECT_STREQ(CatalogGetString(cat, static_cast<int32_t>(c.lines.size()), "-"), "-") << c.name;
    if (!c.lines.empty()) {
      EXPECT_EQ(CatalogGetString(cat, -3, "-"), c.lines[0]) << c.name;
    }
    CatalogClose(cat);
  }
}

// The language decides the folder; English and unknown languages look for nothing.
TEST_F(Catalog, OpensTheFileOfTheUsersLanguage) {
  std::filesystem::create_directories(dir / "Catalogs/german");
  std::filesystem::create_directories(dir / "Catalogs/fran\xC3\xA7" "ais");
  std::filesystem::create_directories(dir / "Catalogs/english");
  WriteFile(dir / "Catalogs/german/app.catalog", IffCatalog({{1, "Datei"}}));
  WriteFile(dir / "Catalogs/fran\xC3\xA7" "ais/app.catalog", "z\xE9ro\nFichier\n");
  WriteFile(dir / "Catalogs/english/app.catalog", "nought\nFile\n");

  const char *saved = std::getenv("LANG");
  std::string keep = saved ? saved : "";
  char *previous = SetCurrentDir(dir.path().c_str());
  ASSERT_NE(previous, nullptr);
  struct Case {
    const char *lang;
    const char *id1;
  };
  const Case cases[] = {
      {"de_DE.UTF-8", "Datei"},   // English name of the folder
      {"fr_FR.UTF-8", "Fichier"},  // own name, Latin-1 inside, UTF-8 on disk
      {"en_GB.UTF-8", "-"},
      {nullptr, "-"},
      {"it_IT", "-"},  // no such folder
  };
  for (const auto &c : cases) {
    if (c.lang) setenv("LANG", c.lang, 1);
    else unsetenv("LANG");
    qmCatalog *cat = CatalogOpen("app.catalog");
    EXPECT_STREQ(CatalogGetString(cat, 1, "-"), c.id1) << (c.lang ? c.lang : "(unset)");
    CatalogClose(cat);
  }
  MemFree(SetCurrentDir(previous));
  MemFree(previous);
  if (saved) setenv("LANG", keep.c_str(), 1);
  else unsetenv("LANG");
}

}  // namespace
