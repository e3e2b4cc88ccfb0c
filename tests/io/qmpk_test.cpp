#include "io/qmpk.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "runtime/errcodes.h"
#include "tests/platform/tempdir.h"

namespace {

// The text inside the fixtures of qmpk_golden.py.
std::string FixtureText() {
  std::string t;
  char line[64];
  for (int i = 0; i < 2000; i++) {
    std::snprintf(line, sizeof line, "line %d of the packed fixture\n", i);
    t += line;
  }
  return t;
}

std::string Golden(const char *name) { return std::string(QM_SOURCE_DIR) + "/tests/io/golden/" + name; }

// Bytes that do not compress, so the packed stream spans several 16 KB blocks.
std::string NoiseBytes(size_t n) {
  std::string s(n, '\0');
  uint32_t x = 12345;
  for (auto &c : s) {
    x = x * 1103515245u + 12345u;
    c = char(x >> 23);
  }
  return s;
}

}  // namespace

TEST(Qmpk, UnpacksWhatPythonsZlibPacked) {
  TempDir dir;
  uint64_t size = 0;
  ASSERT_EQ(UnpackQMPK(kMagicQMPK, Golden("qmpk_text.qmpk").c_str(), (dir / "out").c_str(), 0, &size), 0u);
  EXPECT_EQ(ReadWholeFile(dir / "out"), FixtureText());
  EXPECT_EQ(size, FixtureText().size());
}

TEST(Qmpk, ProgramContainerAtAnOffsetWithTrailingBytes) {
  TempDir dir;
  ASSERT_EQ(UnpackQMPK(kMagicQMZ, Golden("qmz_at100.bin").c_str(), (dir / "out").c_str(), 100, nullptr), 0u);
  EXPECT_EQ(ReadWholeFile(dir / "out"), FixtureText());
  // The dos library's magic does not open a packed program.
  EXPECT_EQ(UnpackQMPK(kMagicQMPK, Golden("qmz_at100.bin").c_str(), (dir / "no").c_str(), 100, nullptr),
            ERR_PAKFORMAT);
  EXPECT_FALSE(std::filesystem::exists(dir / "no"));
}

TEST(Qmpk, RoundTrips) {
  const std::string cases[] = {"", "a", FixtureText(), NoiseBytes(70000)};
  for (const std::string &data : cases) {
    TempDir dir;
    WriteFile(dir / "in", data);
    uint64_t packed = 0, unpacked = 0;
    ASSERT_EQ(PackQMPK(kMagicQMPK, (dir / "in").c_str(), (dir / "p").c_str(), &packed), 0u);
    std::string p = ReadWholeFile(dir / "p");
    EXPECT_EQ(packed, p.size());
    EXPECT_EQ(p.substr(0, 8), std::string("QMPK\0\0\0\0", 8));
    // The stream after the header is plain zlib.
    std::string back(data.size() + 1, '\0');
    uLongf backLen = uLongf(back.size());
    ASSERT_EQ(uncompress(reinterpret_cast<Bytef *>(back.data()), &backLen,
                         reinterpret_cast<const Bytef *>(p.data() + 8), uLong(p.size() - 8)),
              Z_OK);
    EXPECT_EQ(back.substr(0, backLen), data);
    ASSERT_EQ(UnpackQMPK(kMagicQMPK, (dir / "p").c_str(), (dir / "out").c_str(), 0, &unpacked), 0u);
    EXPECT_EQ(ReadWholeFile(dir / "out"), data);
    EXPECT_EQ(unpacked, data.size());
  }
}

TEST(Qmpk, EveryCutFails) {
  TempDir dir;
  WriteFile(dir / "in", NoiseBytes(3000));
  ASSERT_EQ(PackQMPK(kMagicQMZ, (dir / "in").c_str(), (dir / "p").c_str(), nullptr), 0u);
  std::string whole = ReadWholeFile(dir / "p");
  for (size_t cut = 0; cut < whole.size(); cut++) {
    WriteFile(dir / "cut", whole.substr(0, cut));
    uint32_t code = UnpackQMPK(kMagicQMZ, (dir / "cut").c_str(), (dir / "out").c_str(), 0, nullptr);
    uint32_t expected = cut < 4 ? ERR_PAKFORMAT : ERR_ZLIBDATA;
    ASSERT_EQ(code, expected) << "cut at " << cut;
  }
}

// The container records no unpacked size: the caller's limit bounds what reaches the target.
TEST(Qmpk, UnpackedSizeIsBounded) {
  TempDir dir;
  const std::string data = NoiseBytes(70000);
  WriteFile(dir / "in", data);
  ASSERT_EQ(PackQMPK(kMagicQMZ, (dir / "in").c_str(), (dir / "p").c_str(), nullptr), 0u);
  struct Case {
    const char *name;
    uint64_t limit;
    uint32_t code;
  } cases[] = {
      {"exactly the size", data.size(), 0},
      {"one byte short", data.size() - 1, ERR_PAKFORMAT},
      {"inside the first block", 100, ERR_PAKFORMAT},
      {"nothing allowed", 0, ERR_PAKFORMAT},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(UnpackQMPK(kMagicQMZ, (dir / "p").c_str(), (dir / "out").c_str(), 0, nullptr, c.limit), c.code)
        << c.name;
    EXPECT_LE(std::filesystem::file_size(dir / "out"), c.limit) << c.name;
    if (c.code == 0) {
      EXPECT_EQ(ReadWholeFile(dir / "out"), data) << c.name;
    }
  }
}

TEST(Qmpk, Errors) {
  TempDir dir;
  WriteFile(dir / "junk", std::string("QMPK\0\0\0\0not zlib at all", 24));
  EXPECT_EQ(UnpackQMPK(kMagicQMPK, (dir / "junk").c_str(), (dir / "out").c_str(), 0, nullptr), ERR_ZLIBDATA);
  EXPECT_EQ(UnpackQMPK(kMagicQMPK, (dir / "missing").c_str(), (dir / "out").c_str(), 0, nullptr), ERR_READFILE);
  EXPECT_EQ(UnpackQMPK(kMagicQMPK, (dir / "junk").c_str(), (dir / "out").c_str(), 1000, nullptr), ERR_PAKFORMAT);
  EXPECT_EQ(PackQMPK(kMagicQMPK, (dir / "junk").c_str(), (dir / "nodir/x").c_str(), nullptr), ERR_WRITEFILE);
}
