// The player program with a declared brush: it is loaded from its picture at start-up, cropped
// as declared, and the script finds it.
#include <cstdlib>

#include "tests/player/e2e_util.h"

namespace {

// Prints GetAttribute(#BRUSH, 1, #ATTRWIDTH), the height and ReadBrushPixel(1, 0, 0)'s colour.
const char kBrushScript[] =
    ".func source=\"b.qms\" maxstack=8\n"
    "  .k \"debugprint\" \"getattribute\" 3 1 0 \"readbrushpixel\"\n"
    "      GETGLOBAL 0 k0 @1\n"
    "      GETGLOBAL 1 k1\n"
    "      LOADK 2 k2\n"
    "      LOADK 3 k3\n"
    "      LOADK 4 k4\n"
    "      CALL 1 4 2\n"
    "      CALL 0 2 1\n"
    "      GETGLOBAL 0 k0 @2\n"
    "      GETGLOBAL 1 k1\n"
    "      LOADK 2 k2\n"
    "      LOADK 3 k3\n"
    "      LOADK 4 k3\n"
    "      CALL 1 4 2\n"
    "      CALL 0 2 1\n"
    "      GETGLOBAL 0 k0 @3\n"
    "      GETGLOBAL 1 k5\n"
    "      LOADK 2 k3\n"
    "      LOADK 3 k4\n"
    "      LOADK 4 k4\n"
    "      CALL 1 4 2\n"
    "      CALL 0 2 1\n"
    "      RETURN 0 1 @4\n"
    ".end\n";

// A declared brush of the picture, its part from (x, y) of width x height (0: the rest).
std::vector<uint8_t> BrushApplet(const std::string &picture, int16_t x, int16_t y, int16_t w, int16_t h) {
  qmtools::AppletDecl b;
  b.type = 1;  // a brush
  b.id = 1;
  b.name = picture;
  b.line = 1;
  b.param1 = 0xFFFFFFFFu;  // no transparent colour
  auto be16 = [&](int16_t v) {
    b.typeData.push_back(uint8_t(uint16_t(v) >> 8));
    b.typeData.push_back(uint8_t(v));
  };
  be16(w), be16(h), be16(x), be16(y), be16(-1);  // no global alpha
  b.typeData.push_back(0);                       // software
  qmtools::AppletBuilder a;
  a.Version(5, 2).Includes({{1, 100, 0, "b.qms"}}).Declarations({b}).Bytecode(ChunkOf(kBrushScript));
  return a.Bytes();
}

}  // namespace

TEST(E2eBrush, DeclaredBrushLoadsAtStartUp) {
  PlayerDir d;
  ASSERT_EQ(std::system(("/usr/bin/python3 " QM_SOURCE_DIR "/tests/display/brush/brush_pictures.py make " + d / "").c_str()), 0);
  qmtools::WriteBytes(d / "b.qma", BrushApplet(d / "rgba.png", 10, 2, 0, 0));
  PlayerResult r = d.Run({"-QUIET", d / "b.qma"}, {"SDL_VIDEODRIVER=dummy"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  // rgba.png is 100 x 50 with (x * 5, y * 9, x * y) at (x, y); the brush starts at (10, 2).
  EXPECT_EQ(r.out, "90\n48\n" + std::to_string((50 << 16) | (18 << 8) | 20) + "\n");
}

TEST(E2eBrush, ABrokenDeclaredPictureStopsTheProgram) {
  PlayerDir d;
  qmtools::WriteBytes(d / "junk.png", std::vector<uint8_t>{0x89, 'P', 'N', 'G', 1, 2, 3});
  qmtools::WriteBytes(d / "b.qma", BrushApplet(d / "junk.png", 0, 0, 0, 0));
  PlayerResult r = d.Run({"-QUIET", d / "b.qma"}, {"SDL_VIDEODRIVER=dummy"});
  EXPECT_NE(r.status, 0) << r.out;
  EXPECT_EQ(r.out.find("90"), std::string::npos);
}
