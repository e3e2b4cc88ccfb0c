// IFF ILBM pictures through the real player: netpbm's pictures are loaded as brushes and saved
// again as ILBM, and netpbm reads the saved files back to the colours it read from its own.
#include <string>
#include <vector>

#include "tests/media/image/image_test_util.h"
#include "tests/player/e2e_util.h"

TEST(E2eIlbm, NetpbmPicturesLoadAndSaveAgain) {
  PlayerDir d;
  if (!HasCommand("ppmtoilbm") || RunPeer("ilbm " + d / "ilbm")) GTEST_SKIP() << "netpbm or python3-pil is missing";
  const char *names[] = {"colors16", "colors2", "colors200", "deep", "masked", "wide"};
  std::vector<ScriptLine> lines;
  for (const char *n : names) {
    lines.push_back({false, "LoadBrush", {1, d / "ilbm" + "/" + n + ".ilbm"}});
    lines.push_back({false, "SaveBrush", {1, d / n + ".iff", -1, 4}});
  }
  // A 1 x 1 picture: 24 plane rows of 2 bytes each, packed.
  lines.push_back({false, "CreateBrush", {2, 1, 1, double(0xC0FF10)}});
  lines.push_back({false, "SaveBrush", {2, d / "one.iff", -1, 4}});
  qmtools::WriteBytes(d / "a.qma", AppletOf(ScriptOf(lines)));
  PlayerResult r = d.Run({"-QUIET", "-DEBUGDEVICE", "x", d / "a.qma"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  for (const char *n : names) {
    SCOPED_TRACE(n);
    PeerPicture original, saved;
    ASSERT_TRUE(ReadReference(d / "ilbm" + "/" + n + ".ref", &original));
    ASSERT_TRUE(PeerDecode(d / n + ".iff", d / n + ".ref", &saved));
    EXPECT_EQ(saved.width, original.width);
    EXPECT_EQ(saved.height, original.height);
    EXPECT_TRUE(saved.rgba == original.rgba);
  }
  PeerPicture one;
  ASSERT_TRUE(PeerDecode(d / "one.iff", d / "one.ref", &one));
  EXPECT_EQ(one.rgba, std::string("\xC0\xFF\x10\xFF", 4));
  const std::string bytes = ReadWholeFile(d / "one.iff");
  ASSERT_GE(bytes.size(), 48u);
  auto be32 = [&](size_t at) {
    return uint32_t(uint8_t(bytes[at])) << 24 | uint32_t(uint8_t(bytes[at + 1])) << 16 |
           uint32_t(uint8_t(bytes[at + 2])) << 8 | uint8_t(bytes[at + 3]);
  };
  // 11 set bits make literal runs of 3 bytes, the 13 clear planes runs of 2; the odd total is
  // padded in the FORM size.
  EXPECT_EQ(be32(44), 11u * 3 + 13u * 2);
  EXPECT_EQ(be32(4), 40u + 59u + 1u);
}
