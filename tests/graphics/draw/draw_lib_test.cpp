// The draw library as a script uses it, on a display of the desktop layer's dummy driver: the
// style commands, the argument checks, and shapes compared pixel by pixel with the same
// geometry drawn by OpenCV's Python binding (tests/graphics/draw/cv_peer.py).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "display/dirtyrects.h"
#include "display/outputselect.h"
#include "platform/memory.h"
#include "graphics/alpha_kernels.h"
#include "graphics/coverage_module.h"
#include "graphics/draw_style.h"
#include "graphics/shape_geometry.h"
#include "runtime/errcodes.h"
#include "runtime/objtypes.h"
#include "tests/display/display_vm.h"

namespace {

constexpr int kW = 64, kH = 48;
constexpr uint32_t kBackground = 0x102030;

struct DrawVm : DisplayVm {
  qmDisplay *d = nullptr;
  DrawVm() {
    EXPECT_EQ(Create(1, [&] { Set("width", kW), Set("height", kH), Set("color", kBackground); }).code, 0u);
    EXPECT_EQ(Call("OpenDisplay", {1}).code, 0u);
    d = Display(1);
  }
  std::vector<uint32_t> Picture() const {
    std::vector<uint32_t> out;
    for (int y = 0; y < kH; y++)
      for (int x = 0; x < kW; x++) out.push_back(BitmapPixel(d->backgroundCopy, x, y));
    return out;
  }
  // Polygon(x, y, {points}, count [, colour]).
  CommandCall Polygon(double x, double y, const std::vector<CmdArg> &points, double count, double color) {
    return CallWith("polygon", [&] {
      vm_pushnumber(L, x);
      vm_pushnumber(L, y);
      vm_newtable(L);
      for (size_t i = 0; i < points.size(); i++) {
        if (points[i].kind == CmdArg::STR) vm_pushstring(L, points[i].str);
        else vm_pushnumber(L, points[i].num);
        vm_rawseti(L, -2, int(i + 1));
      }
      vm_pushnumber(L, count);
      vm_pushnumber(L, color);
      return 5;
    });
  }
};

// What the peer draws from the script (one shape per line, see cv_peer.py).
std::vector<uint32_t> Peer(const std::string &shapes) {
  char path[] = "/tmp/qm_draw_peerXXXXXX";
  const int fd = mkstemp(path);
  EXPECT_GE(fd, 0);
  FILE *f = fdopen(fd, "w");
  std::fprintf(f, "size %d %d %u\n%s", kW, kH, kBackground, shapes.c_str());
  std::fclose(f);
  const std::string cmd = std::string("/usr/bin/python3 " QM_SOURCE_DIR "/tests/graphics/draw/cv_peer.py < ") + path;
  FILE *p = popen(cmd.c_str(), "r");
  std::vector<uint32_t> out;
  unsigned v;
  while (p && std::fscanf(p, "%x", &v) == 1) out.push_back(v);
  if (p) pclose(p);
  std::remove(path);
  EXPECT_EQ(out.size(), size_t(kW * kH)) << "the peer ran: python3-opencv is installed";
  return out;
}

// The outline our geometry gives the shape, placed at (x, y), as peer points.
std::string PeerPoints(const qmShapeRequest &req, int x, int y) {
  std::vector<double> pts(2 * kOutlinePointMax);
  const int n = BuildShapeOutline(&req, req.width, req.height, pts.data());
  std::ostringstream s;
  for (int i = req.type == QMTYPE_ARC ? 2 : 0; i < n; i++) s << ' ' << int(pts[2 * i]) + x << ' ' << int(pts[2 * i + 1]) + y;
  return s.str();
}

qmShapeRequest Shape(int32_t type, int32_t w, int32_t h) {
  qmShapeRequest r{};
  r.type = type, r.width = w, r.height = h;
  r.matrix[0] = r.matrix[3] = 1;
  return r;
}

int Differences(const std::vector<uint32_t> &a, const std::vector<uint32_t> &b, int tolerance = 0) {
  int n = 0;
  for (size_t i = 0; i < a.size() && i < b.size(); i++)
    for (int shift : {0, 8, 16})
      if (std::abs(int((a[i] >> shift) & 0xFF) - int((b[i] >> shift) & 0xFF)) > tolerance) {
        if (n < 12) ADD_FAILURE() << "at " << i % kW << ", " << i / kW << std::hex << ": ours " << a[i] << ", peer " << b[i];
        n++;
        break;
      }
  return n + int(a.size() != b.size()) * 100000;
}

TEST(DrawLibrary, StyleCommands) {
  DrawVm vm;
  qmDrawStyle *st = &GetScene(vm.L)->drawStyle;
  EXPECT_EQ(st->formStyle, FORM_NORMAL);
  EXPECT_EQ(st->edgeColor, 0x0093DDu);
  const struct {
    const char *name;
    const char *cmd;
    std::vector<CmdArg> args;
    uint32_t code;
    std::function<bool()> check;
  } rows[] = {
      {"antialias", "SetFormStyle", {int(FORM_ANTIALIAS)}, 0, [&] { return st->formStyle == (FORM_NORMAL | FORM_ANTIALIAS); }},
      {"shadow accumulates", "SetFormStyle", {int(FORM_SHADOW), 0xFF0000, 100, 9}, 0,
       [&] { return st->formStyle == 49u && st->shadowSize == 64 && st->shadowDirection == 3 && st->shadowColor == 0xFF0000u; }},
      {"normal bit wins", "SetFormStyle", {17}, 0, [&] { return st->formStyle == FORM_NORMAL; }},
      {"edge colour and size", "SetFormStyle", {int(FORM_EDGE), 0x00FF00, 5}, 0,
       [&] { return st->edgeColor == 0x00FF00u && st->edgeSize == 5; }},
      {"edge with four arguments: flag only", "SetFormStyle", {int(FORM_EDGE), 0x0000FF, 9, 1}, 0,
       [&] { return st->edgeColor == 0x00FF00u && st->edgeSize == 5 && (st->formStyle & FORM_EDGE); }},
      {"edge size beyond 64", "SetFormStyle", {int(FORM_EDGE), 0x00FF00, 1000}, 0, [&] { return st->edgeSize == 64; }},
      {"antialias takes no colour", "SetFormStyle", {int(FORM_ANTIALIAS), 1}, ERR_TOOMANYARGS,
       [&] { return !(st->formStyle & FORM_ANTIALIAS); }},
      {"line width 0", "SetLineWidth", {0}, ERR_WRONGUSAGE, [&] { return st->lineWidth == 1; }},
      {"line width 2.9", "SetLineWidth", {2.9}, 0, [&] { return st->lineWidth == 2; }},
      {"outline resets the width", "SetFillStyle", {int(DRAWFILL_NONE)}, 0, [&] { return st->lineWidth == 1; }},
      {"fill colour", "SetFillStyle", {int(DRAWFILL_COLOR)}, 0, [&] { return st->fillStyle == DRAWFILL_COLOR; }},
      {"fill style 4 is refused and not kept", "SetFillStyle", {4}, ERR_WRONGUSAGE,
       [&] { return st->fillStyle == DRAWFILL_COLOR; }},
      {"fill style -1", "SetFillStyle", {-1}, ERR_WRONGUSAGE, [&] { return st->fillStyle == DRAWFILL_COLOR; }},
      {"gradient", "SetFillStyle", {int(DRAWFILL_GRADIENT), 3, 0xFF0000, 0x0000FF}, 0,
       [&] { return st->fillStyle == DRAWFILL_GRADIENT && st->gradient.kind == 3u && st->gradient.endColor == 0xFFu; }},
      {"texture", "SetFillStyle", {int(DRAWFILL_TEXTURE), 7, 3, 4}, 0,
       [&] { return st->texture.id == 7u && st->textureX == 3 && st->textureY == 4; }},
  };
  for (const auto &r : rows) {
    EXPECT_EQ(vm.Call(r.cmd, r.args).code, r.code) << r.name;
    EXPECT_TRUE(r.check()) << r.name;
  }
  // The texture brush is looked up when a shape is drawn: brush 7 is not there.
  EXPECT_EQ(vm.Call("Circle", {5, 5, 5}).code, ERR_FINDBRUSH);
}

TEST(DrawLibrary, ArgumentChecksComeFirst) {
  DrawVm vm;
  ASSERT_EQ(vm.Call("SetFillStyle", {int(DRAWFILL_COLOR)}).code, 0u);
  const std::vector<uint32_t> before = vm.Picture();
  const struct {
    const char *name;
    std::function<CommandCall()> call;
    uint32_t code;
  } rows[] = {
      {"box width 0", [&] { return vm.Call("Box", {0, 0, 0, 10}); }, ERR_WRONGUSAGE},
      {"box height -5", [&] { return vm.Call("Box", {0, 0, 10, -5}); }, ERR_WRONGUSAGE},
      {"circle radius 0", [&] { return vm.Call("Circle", {0, 0, 0}); }, ERR_WRONGUSAGE},
      {"circle radius beyond any picture", [&] { return vm.Call("Circle", {0, 0, 1e9}); }, ERR_MEM},
      {"ellipse y radius 0", [&] { return vm.Call("Ellipse", {0, 0, 5, 0}); }, ERR_WRONGUSAGE},
      {"arc negative angle", [&] { return vm.Call("Arc", {10, 10, 10, 10, -10, 90}); }, ERR_WRONGUSAGE},
      {"arc of equal angles", [&] { return vm.Call("Arc", {10, 10, 10, 10, 45, 45}); }, 0},
      {"polygon count 1", [&] { return vm.Polygon(0, 0, {0, 0}, 1, 0); }, ERR_WRONGUSAGE},
      {"polygon count 1000", [&] { return vm.Polygon(0, 0, {0, 0}, 1000, 0); }, ERR_WRONGUSAGE},
      {"polygon count 1000000", [&] { return vm.Polygon(0, 0, {0, 0}, 1000000, 0); }, ERR_WRONGUSAGE},
      {"polygon count -1", [&] { return vm.Polygon(0, 0, {0, 0}, -1, 0); }, ERR_WRONGUSAGE},
      {"polygon \"a\"", [&] { return vm.Polygon(0, 0, {0, 0, CmdArg::Str("a"), 4}, 2, 0); }, ERR_NUMTABLEARG},
      {"polygon without a table", [&] { return vm.Call("Polygon", {0, 0, 5, 3}); }, ERR_TABEXPECTED},
      {"polygon wider than any picture", [&] { return vm.Polygon(0, 0, {0, 0, 100000, 0, 0, 5}, 3, 0); }, ERR_MEM},
      {"round box wider than any picture", [&] { return vm.Call("Box", {0, 0, 2147483647, 5, 0, 50}); }, ERR_MEM},
      {"line thicker than any picture", [&] { return vm.Call("Line", {0, 0, 10, 10, 0, 1e8}); }, ERR_MEM},
      {"readpixel outside", [&] { return vm.Call("ReadPixel", {kW, 0}); }, ERR_PIXELRANGE},
      {"plot outside is silent", [&] { return vm.Call("Plot", {-1, 5, 0xFFFFFF}); }, 0},
      {"too many arguments", [&] { return vm.Call("Plot", {1, 2, 3, 4}); }, ERR_TOOMANYARGS},
  };
  for (const auto &r : rows) EXPECT_EQ(r.call().code, r.code) << r.name;
  EXPECT_EQ(vm.Picture(), before) << "a failing command draws nothing";
}

TEST(DrawLibrary, FilledShapesMatchThePeer) {
  DrawVm vm;
  ASSERT_EQ(vm.Call("SetFillStyle", {int(DRAWFILL_COLOR)}).code, 0u);
  std::ostringstream peer;
  // Each shape with its command and the same outline for the peer.
  auto circle = [&](int x, int y, int r, uint32_t c) {
    EXPECT_EQ(vm.Call("Circle", {x, y, r, double(c)}).code, 0u);
    peer << "fill " << c << " 0" << PeerPoints(Shape(QMTYPE_CIRCLE, 2 * r + 1, 2 * r + 1), x, y) << '\n';
  };
  circle(2, 2, 1, 0xFF0000);
  circle(8, 2, 2, 0x00FF00);
  circle(16, 2, 10, 0x0000FF);
  circle(40, 0, 11, 0xFFFF00);
  EXPECT_EQ(vm.Call("Ellipse", {5, 25, 12, 6, 0xFF00FF}).code, 0u);
  peer << "fill " << 0xFF00FF << " 0" << PeerPoints(Shape(QMTYPE_ELLIPSE, 25, 13), 5, 25) << '\n';
  qmShapeRequest arc = Shape(QMTYPE_ARC, 21, 21);
  arc.startAngle = 30, arc.endAngle = 200, arc.clockwise = 1;
  EXPECT_EQ(vm.Call("Arc", {35, 26, 10, 10, 30, 200, 0x00FFFF}).code, 0u);
  peer << "fill " << 0x00FFFF << " 0" << PeerPoints(arc, 35, 26) << '\n';
  qmShapeRequest round = Shape(QMTYPE_BOX, 20, 12);
  round.corners[1] = 100, round.corners[3] = 40;
  EXPECT_EQ(vm.CallWith("box", [&] {
                for (double v : {40.0, 34.0, 20.0, 12.0, double(0x808080)}) vm_pushnumber(vm.L, v);
                vm_newtable(vm.L);
                vm.Set("cornerb", 100);
                vm.Set("cornerd", 40);
                return 6;
              }).code,
            0u);
  peer << "fill " << 0x808080 << " 0" << PeerPoints(round, 40, 34) << '\n';
  // A polygon with a missing pair: the last point is (0, 0) of the command's position.
  EXPECT_EQ(vm.Polygon(20, 20, {10, 2, 25, 12, 3, 14}, 4, 0xFFFFFF).code, 0u);
  peer << "fill " << 0xFFFFFF << " 0 30 22 45 32 23 34 20 20\n";
  EXPECT_EQ(Differences(vm.Picture(), Peer(peer.str())), 0);
  EXPECT_EQ(DisplayVm::WindowPixel(vm.d, 19, 5), 0x0000FFu) << "the window shows it";
}

TEST(DrawLibrary, OutlinesBoxesAndLinesMatchThePeer) {
  DrawVm vm;
  std::ostringstream peer;
  // Outlines of width 1 and 3 (FILLNONE).
  EXPECT_EQ(vm.Call("Circle", {2, 2, 9, 0xFF0000}).code, 0u);
  peer << "outline " << 0xFF0000 << " 1 0" << PeerPoints(Shape(QMTYPE_CIRCLE, 19, 19), 2, 2) << '\n';
  ASSERT_EQ(vm.Call("SetFillStyle", {int(DRAWFILL_NONE), 3}).code, 0u);
  EXPECT_EQ(vm.Call("Ellipse", {24, 4, 15, 8, 0x00FF00}).code, 0u);
  peer << "outline " << 0x00FF00 << " 3 0" << PeerPoints(Shape(QMTYPE_ELLIPSE, 31, 17), 24, 4) << '\n';
  // Boxes straight into the output: a frame and a fill, edges inclusive, one cut by the border.
  ASSERT_EQ(vm.Call("SetFillStyle", {int(DRAWFILL_NONE)}).code, 0u);
  EXPECT_EQ(vm.Call("Box", {3, 26, 10, 8, 0xFFFF00}).code, 0u);
  peer << "outline " << 0xFFFF00 << " 1 0 3 26 12 26 12 33 3 33\n";
  EXPECT_EQ(vm.Call("Box", {-4, 40, 9, 20, 0xFFFF00}).code, 0u);
  peer << "outline " << 0xFFFF00 << " 1 0 -4 40 4 40 4 59 -4 59\n";
  ASSERT_EQ(vm.Call("SetFillStyle", {int(DRAWFILL_COLOR)}).code, 0u);
  EXPECT_EQ(vm.Call("Box", {16, 26, 1, 1, 0xFF00FF}).code, 0u);
  EXPECT_EQ(vm.Call("Box", {18, 26, 6, 3, 0xFF00FF}).code, 0u);
  EXPECT_EQ(vm.Call("Box", {60, 44, 100, 100, 0xFF00FF}).code, 0u);
  peer << "rect " << 0xFF00FF << " 16 26 1 1\nrect " << 0xFF00FF << " 18 26 6 3\nrect " << 0xFF00FF
       << " 60 44 100 100\n";
  // Lines: thick ones through their coverage, one-pixel ones straight in.
  EXPECT_EQ(vm.Call("Line", {30, 30, 55, 38, 0x00FFFF, 5}).code, 0u);
  peer << "line " << 0x00FFFF << " 5 0 30 30 55 38\n";
  EXPECT_EQ(vm.Call("Line", {20, 46, 50, 46, 0xFFFFFF}).code, 0u);
  EXPECT_EQ(vm.Call("Line", {62, 2, 62, 20, 0xFFFFFF}).code, 0u);
  EXPECT_EQ(vm.Call("Line", {-10, 5, 10, 5, 0xFFFFFF}).code, 0u);
  peer << "line " << 0xFFFFFF << " 1 0 20 46 50 46\nline " << 0xFFFFFF << " 1 0 62 2 62 20\nline " << 0xFFFFFF
       << " 1 0 0 5 10 5\n";
  EXPECT_EQ(Differences(vm.Picture(), Peer(peer.str())), 0);

  // A diagonal one-pixel line: one pixel per column, both ends included, the same count as the peer.
  ASSERT_EQ(vm.Call("Cls", {}).code, 0u);
  EXPECT_EQ(vm.Call("Line", {3, 4, 40, 20, 0xFFFFFF}).code, 0u);
  int ours = 0;
  for (uint32_t p : vm.Picture()) ours += p == 0xFFFFFF;
  int theirs = 0;
  for (uint32_t p : Peer("line 16777215 1 0 3 4 40 20\n")) theirs += p == 0xFFFFFF;
  EXPECT_EQ(ours, 38);
  EXPECT_EQ(theirs, 38);
}

TEST(DrawLibrary, AntialiasedShapesBlendTheirRim) {
  DrawVm vm;
  ASSERT_EQ(vm.Call("SetFillStyle", {int(DRAWFILL_COLOR)}).code, 0u);
  ASSERT_EQ(vm.Call("SetFormStyle", {int(FORM_ANTIALIAS)}).code, 0u);
  std::ostringstream peer;
  EXPECT_EQ(vm.Call("Circle", {4, 4, 15, 0xFFFFFF}).code, 0u);
  peer << "fill " << 0xFFFFFF << " 1" << PeerPoints(Shape(QMTYPE_CIRCLE, 31, 31), 4, 4) << '\n';
  EXPECT_EQ(vm.Call("Line", {36, 4, 60, 40, 0xFFFF00, 5}).code, 0u);
  peer << "line " << 0xFFFF00 << " 5 1 36 4 60 40\n";
  const std::vector<uint32_t> ours = vm.Picture(), theirs = Peer(peer.str());
  // Coverage is the peer's; the blend of it into the picture rounds its own way.
  EXPECT_EQ(Differences(ours, theirs, 3), 0);
  int rim = 0;
  for (uint32_t p : ours) rim += p != kBackground && p != 0xFFFFFF && p != 0xFFFF00;
  EXPECT_GT(rim, 40) << "partly covered pixels on the rims";

  // An outline of width 3, anti-aliased: a ring, hollow inside.
  ASSERT_EQ(vm.Call("Cls", {}).code, 0u);
  ASSERT_EQ(vm.Call("SetFillStyle", {int(DRAWFILL_NONE), 3}).code, 0u);
  EXPECT_EQ(vm.Call("Circle", {10, 10, 12, 0xFFFFFF}).code, 0u);
  EXPECT_EQ(DisplayVm::BitmapPixel(vm.d->backgroundCopy, 22, 22), kBackground) << "the centre";
  EXPECT_EQ(DisplayVm::BitmapPixel(vm.d->backgroundCopy, 22, 10), 0xFFFFFFu) << "the top of the ring";
}

TEST(DrawLibrary, ShadowsInEveryDirectionAndEdges) {
  const int dx[8] = {0, 4, 4, 4, 0, -4, -4, -4}, dy[8] = {-4, -4, 0, 4, 4, 4, 0, -4};
  DrawVm vm;
  for (int dir = 0; dir < 8; dir++) {
    ASSERT_EQ(vm.Call("Cls", {}).code, 0u);
    ASSERT_EQ(vm.Call("SetFillStyle", {int(DRAWFILL_COLOR)}).code, 0u);
    ASSERT_EQ(vm.Call("SetFormStyle", {int(FORM_SHADOW), 0x000000, 4, dir}).code, 0u);
    EXPECT_EQ(vm.Call("Box", {20, 16, 12, 9, 0xFF0000}).code, 0u);
    std::ostringstream peer;
    peer << "rect 0 " << 20 + dx[dir] << ' ' << 16 + dy[dir] << " 12 9\nrect " << 0xFF0000 << " 20 16 12 9\n";
    EXPECT_EQ(Differences(vm.Picture(), Peer(peer.str())), 0) << "direction " << dir;
    ASSERT_EQ(vm.Call("SetFormStyle", {int(FORM_NORMAL)}).code, 0u);
  }
  // An edge lies under the shape, grown by its size; with a shadow, the shadow is the edge's.
  ASSERT_EQ(vm.Call("Cls", {}).code, 0u);
  ASSERT_EQ(vm.Call("SetFillStyle", {int(DRAWFILL_COLOR)}).code, 0u);
  ASSERT_EQ(vm.Call("SetFormStyle", {int(FORM_EDGE), 0x00FF00, 3}).code, 0u);
  ASSERT_EQ(vm.Call("SetFormStyle", {int(FORM_SHADOW), 0x0000FF, 2, 3}).code, 0u);
  EXPECT_EQ(vm.Call("Box", {10, 10, 20, 10, 0xFF0000}).code, 0u);
  EXPECT_EQ(Differences(vm.Picture(), Peer("rect 255 9 9 26 16\nrect 65280 7 7 26 16\nrect 16711680 10 10 20 10\n")), 0);
  // A fully transparent fill cuts a hole into its edge.
  ASSERT_EQ(vm.Call("Cls", {}).code, 0u);
  ASSERT_EQ(vm.Call("SetFormStyle", {int(FORM_NORMAL)}).code, 0u);
  ASSERT_EQ(vm.Call("SetFormStyle", {int(FORM_EDGE), 0x00FF00, 3}).code, 0u);
  ASSERT_EQ(vm.Call("SetFormStyle", {int(FORM_ANTIALIAS)}).code, 0u);
  EXPECT_EQ(vm.Call("Box", {10, 10, 20, 10, double(0xFFFF0000u)}).code, 0u);
  EXPECT_EQ(DisplayVm::BitmapPixel(vm.d->backgroundCopy, 20, 15), kBackground);
  EXPECT_EQ(DisplayVm::BitmapPixel(vm.d->backgroundCopy, 8, 15), 0x00FF00u);
}

TEST(DrawLibrary, PixelsClsAndSelectedPictures) {
  DrawVm vm;
  EXPECT_EQ(vm.Call("Plot", {3, 4, 0xABCDEF}).code, 0u);
  EXPECT_EQ(vm.Call("ReadPixel", {3, 4}).results.at(0), double(0xABCDEF));
  // Half transparent: (0x10 + ((0xFF - 0x10) * 127 >> 8)) and so on.
  EXPECT_EQ(vm.Call("Plot", {5, 4, double(0x80FFFFFFu)}).code, 0u);
  EXPECT_EQ(vm.Call("ReadPixel", {5, 4}).results.at(0), double(0x10 + ((0xEF * 127) >> 8)) * 65536 +
                                                           double(0x20 + ((0xDF * 127) >> 8)) * 256 +
                                                           double(0x30 + ((0xCF * 127) >> 8)));
  EXPECT_EQ(vm.Call("Cls", {0xFF0000}).code, 0u);
  EXPECT_EQ(vm.Call("ReadPixel", {3, 4}).results.at(0), double(kBackground)) << "the display shows its picture again";

  // Into a selected picture, its mask and its alpha channel.
  ASSERT_EQ(vm.Call("CreateBGPic", {5, 16, 8, 0x000000}).code, 0u);
  ASSERT_EQ(vm.Call("SelectBGPic", {5, 0}).code, 0u);
  ASSERT_EQ(vm.Call("SetFillStyle", {int(DRAWFILL_COLOR)}).code, 0u);
  EXPECT_EQ(vm.Call("Cls", {0x00FF00}).code, 0u);
  EXPECT_EQ(vm.Call("Circle", {2, 0, 3, 0xFF0000}).code, 0u);
  EXPECT_EQ(vm.Call("ReadPixel", {5, 3}).results.at(0), double(0xFF0000));
  EXPECT_EQ(vm.Call("ReadPixel", {15, 7}).results.at(0), double(0x00FF00));
  EXPECT_EQ(vm.Call("ReadPixel", {16, 0}).code, ERR_PIXELRANGE) << "the picture's own size";
  ASSERT_EQ(vm.Call("EndSelect", {}).code, 0u);
  ASSERT_EQ(vm.Call("SelectAlphaChannel", {5, 1}).code, 0u);
  EXPECT_EQ(vm.Call("Box", {0, 0, 4, 4, double(0x40000000u)}).code, 0u);
  EXPECT_EQ(vm.Call("ReadPixel", {1, 1}).results.at(0), 255 - 0x40) << "255 less the alpha byte";
  EXPECT_EQ(vm.Call("ReadPixel", {6, 1}).results.at(0), 255);
  ASSERT_EQ(vm.Call("EndSelect", {}).code, 0u);
  ASSERT_EQ(vm.Call("SelectMask", {5, 1}).code, 0u);
  ASSERT_EQ(vm.Call("SetMaskMode", {int(MASKINVISIBLE)}).code, 0u);
  EXPECT_EQ(vm.Call("Line", {0, 7, 15, 7}).code, 0u);
  EXPECT_EQ(vm.Call("ReadPixel", {9, 7}).results.at(0), 0);
  EXPECT_EQ(vm.Call("ReadPixel", {9, 6}).results.at(0), 1);
  ASSERT_EQ(vm.Call("SetMaskMode", {int(MASKVANILLACOPY)}).code, 0u);
  ASSERT_EQ(vm.Call("EndSelect", {}).code, 0u);
}

TEST(DrawLibrary, PositionsPlaceTheShapesBox) {
  DrawVm vm;
  ASSERT_EQ(vm.Call("SetFillStyle", {int(DRAWFILL_COLOR)}).code, 0u);
  // x, y are the box's top-left: Circle(0, 0, 10) touches the top and the left edge.
  EXPECT_EQ(vm.Call("Circle", {0, 0, 10, 0xFFFFFF}).code, 0u);
  EXPECT_EQ(DisplayVm::BitmapPixel(vm.d->backgroundCopy, 0, 10), 0xFFFFFFu);
  EXPECT_EQ(DisplayVm::BitmapPixel(vm.d->backgroundCopy, 10, 0), 0xFFFFFFu);
  EXPECT_EQ(DisplayVm::BitmapPixel(vm.d->backgroundCopy, 21, 10), kBackground);
  // CENTER centres the 21 x 21 box: columns 21 to 41, rows 13 to 33.
  ASSERT_EQ(vm.Call("Cls", {}).code, 0u);
  EXPECT_EQ(vm.Call("Circle", {-100000, -100000, 10, 0xFF0000}).code, 0u);
  for (const auto &p : std::vector<std::pair<int, int>>{{21, 23}, {41, 23}, {31, 13}, {31, 33}})
    EXPECT_EQ(DisplayVm::BitmapPixel(vm.d->backgroundCopy, p.first, p.second), 0xFF0000u) << p.first << "," << p.second;
  for (const auto &p : std::vector<std::pair<int, int>>{{20, 23}, {42, 23}, {31, 12}, {31, 34}})
    EXPECT_EQ(DisplayVm::BitmapPixel(vm.d->backgroundCopy, p.first, p.second), kBackground) << p.first << "," << p.second;
}

TEST(DrawLibrary, RotationAndGradientFill) {
  DrawVm vm;
  ASSERT_EQ(vm.Call("SetFillStyle", {int(DRAWFILL_COLOR)}).code, 0u);
  // A quarter turn about the top-left corner: the 20 x 4 box now rises from it.
  EXPECT_EQ(vm.Call("Box", {10, 30, 20, 4, 0xFFFFFF, 0, 90}).code, 0u);
  EXPECT_EQ(DisplayVm::BitmapPixel(vm.d->backgroundCopy, 11, 15), 0xFFFFFFu);
  EXPECT_EQ(DisplayVm::BitmapPixel(vm.d->backgroundCopy, 25, 31), kBackground);
  // A turn of a whole 360 degrees is none.
  EXPECT_EQ(vm.Call("Box", {40, 40, 5, 3, 0xFF0000, 0, 720}).code, 0u);
  EXPECT_EQ(DisplayVm::BitmapPixel(vm.d->backgroundCopy, 44, 42), 0xFF0000u);
  EXPECT_EQ(DisplayVm::BitmapPixel(vm.d->backgroundCopy, 45, 42), kBackground);

  // A linear gradient from red to blue down a box (angle 0).
  ASSERT_EQ(vm.Call("Cls", {}).code, 0u);
  ASSERT_EQ(vm.Call("SetFillStyle", {int(DRAWFILL_GRADIENT), 2, 0xFF0000, 0x0000FF}).code, 0u);
  EXPECT_EQ(vm.Call("Box", {4, 4, 40, 10}).code, 0u);
  const uint32_t top = DisplayVm::BitmapPixel(vm.d->backgroundCopy, 20, 4);
  const uint32_t bottom = DisplayVm::BitmapPixel(vm.d->backgroundCopy, 20, 13);
  EXPECT_GT(top >> 16, 0xE0u) << std::hex << top;
  EXPECT_GT(bottom & 0xFF, 0xE0u) << std::hex << bottom;
  EXPECT_EQ(DisplayVm::BitmapPixel(vm.d->backgroundCopy, 43, 4), top) << "rows are even";
  EXPECT_EQ(DisplayVm::BitmapPixel(vm.d->backgroundCopy, 44, 8), kBackground);
  EXPECT_EQ(DisplayVm::BitmapPixel(vm.d->backgroundCopy, 4, 14), kBackground);
}

// A 4 x 4 brush whose pixels tell their place.
constexpr uint32_t TexturePixel(int x, int y) { return 0x200000u * uint32_t(x + 1) + 0x2000u * uint32_t(y + 1) + 0x40u; }

TEST(DrawLibrary, TextureFillsTileTheBrush) {
  DrawVm vm;
  ASSERT_EQ(vm.Call("CreateBrush", {7, 4, 4}).code, 0u);
  for (int y = 0; y < 4; y++)
    for (int x = 0; x < 4; x++) ASSERT_EQ(vm.Call("WriteBrushPixel", {7, x, y, double(TexturePixel(x, y))}).code, 0u);
  ASSERT_EQ(vm.Call("SetFillStyle", {int(DRAWFILL_TEXTURE), 7, 1, 2}).code, 0u);
  ASSERT_EQ(vm.Call("Box", {10, 10, 12, 8}).code, 0u);
  int wrong = 0;
  for (int y = 8; y < 20; y++)
    for (int x = 8; x < 24; x++) {
      const bool inside = x >= 10 && x < 22 && y >= 10 && y < 18;
      const uint32_t want = inside ? TexturePixel((x - 10 + 1) % 4, (y - 10 + 2) % 4) : kBackground;
      wrong += DisplayVm::BitmapPixel(vm.d->backgroundCopy, x, y) != want;
    }
  EXPECT_EQ(wrong, 0);
  // A shape scaled by its tags scales the texture with it: each texture pixel two columns wide.
  ASSERT_EQ(vm.Call("SetFillStyle", {int(DRAWFILL_TEXTURE), 7}).code, 0u);
  ASSERT_EQ(vm.CallWith("box", [&] {
    for (double v : {30.0, 30.0, 8.0, 4.0, 0.0}) vm_pushnumber(vm.L, v);
    vm_newtable(vm.L);
    vm.Set("scalex", 2);
    return 6;
  }).code, 0u);
  // (The scaled box's corners are 0 and 14: 15 columns.)
  for (int x = 0; x < 15; x++)
    EXPECT_EQ(DisplayVm::BitmapPixel(vm.d->backgroundCopy, 30 + x, 31), TexturePixel((x / 2) % 4, 1)) << x;
  // A turned gradient box is gradient all over: red to blue, never anything else.
  ASSERT_EQ(vm.Call("Cls", {}).code, 0u);
  ASSERT_EQ(vm.Call("SetFillStyle", {int(DRAWFILL_GRADIENT), 2, 0xFF0000, 0x0000FF}).code, 0u);
  ASSERT_EQ(vm.Call("Box", {10, 40, 30, 6, 0, 0, 90}).code, 0u);
  int painted = 0;
  for (int y = 0; y < kH; y++)
    for (int x = 0; x < kW; x++) {
      const uint32_t p = DisplayVm::BitmapPixel(vm.d->backgroundCopy, x, y);
      if (p == kBackground) continue;
      painted++;
      EXPECT_EQ(p & 0x00FF00, 0u) << x << "," << y << std::hex << " " << p;
    }
  EXPECT_GT(painted, 100);
  // The brush freed: the texture is missing again.
  ASSERT_EQ(vm.Call("SetFillStyle", {int(DRAWFILL_TEXTURE), 7}).code, 0u);
  ASSERT_EQ(vm.Call("FreeBrush", {7}).code, 0u);
  EXPECT_EQ(vm.Call("Box", {0, 0, 4, 4}).code, ERR_FINDBRUSH);
}

// Shapes drawn into a brush selected as the output change its pixels, and its mask where the
// mask is selected.
TEST(DrawLibrary, DrawingIntoASelectedBrush) {
  DrawVm vm;
  ASSERT_EQ(vm.CallWith("createbrush", [&] {
    for (double v : {20.0, 16.0, 8.0, double(0x0000FF)}) vm_pushnumber(vm.L, v);
    vm_newtable(vm.L);
    vm.Set("mask", 1);
    return 5;
  }).code, 0u);
  ASSERT_EQ(vm.Call("SelectBrush", {20}).code, 0u);
  ASSERT_EQ(vm.Call("SetFillStyle", {int(DRAWFILL_COLOR)}).code, 0u);
  EXPECT_EQ(vm.Call("Box", {2, 1, 5, 3, 0xFF0000}).code, 0u);
  EXPECT_EQ(vm.Call("Circle", {9, 1, 2, 0x00FF00}).code, 0u);
  ASSERT_EQ(vm.Call("EndSelect", {}).code, 0u);
  struct Case {
    int x, y;
    uint32_t rgb;
  } cases[] = {{2, 1, 0xFF0000}, {6, 3, 0xFF0000}, {7, 3, 0x0000FF}, {11, 3, 0x00FF00}, {0, 0, 0x0000FF}};
  for (const Case &c : cases)
    EXPECT_EQ(vm.Call("ReadBrushPixel", {20, c.x, c.y}).results.at(0), double(c.rgb)) << c.x << "," << c.y;
  EXPECT_EQ(DisplayVm::BitmapPixel(vm.d->backgroundCopy, 2, 1), kBackground) << "the display is untouched";

  // The selected mask: an invisible box clears its bits.
  ASSERT_EQ(vm.Call("SelectMask", {20}).code, 0u);
  ASSERT_EQ(vm.Call("SetMaskMode", {int(MASKINVISIBLE)}).code, 0u);
  EXPECT_EQ(vm.Call("Box", {0, 4, 16, 4}).code, 0u);
  ASSERT_EQ(vm.Call("SetMaskMode", {int(MASKVANILLACOPY)}).code, 0u);
  ASSERT_EQ(vm.Call("EndSelect", {}).code, 0u);
  EXPECT_EQ(vm.Call("ReadBrushPixel", {20, 3, 5}).results.at(1), 0);
  EXPECT_EQ(vm.Call("ReadBrushPixel", {20, 3, 3}).results.at(1), 1);
}

// The display tags of a shape's table: anchor, scaling and turning, transparency and tint;
// a bad key fails the command.
TEST(DrawLibrary, ShapeTablesReadTheDisplayTags) {
  DrawVm vm;
  ASSERT_EQ(vm.Call("SetFillStyle", {int(DRAWFILL_COLOR)}).code, 0u);
  auto box = [&](double x, double y, double w, double h, double color, const std::function<void()> &tags) {
    return vm.CallWith("box", [&] {
      for (double v : {x, y, w, h, color}) vm_pushnumber(vm.L, v);
      vm_newtable(vm.L);
      tags();
      return 6;
    }).code;
  };
  auto pixel = [&](int x, int y) { return DisplayVm::BitmapPixel(vm.d->backgroundCopy, x, y); };
  // The anchor point lies at the position.
  ASSERT_EQ(box(20, 20, 10, 6, 0xFFFFFF, [&] { vm.Set("anchorx", 0.5), vm.Set("anchory", 1); }), 0u);
  EXPECT_EQ(pixel(15, 14), 0xFFFFFFu);
  EXPECT_EQ(pixel(24, 19), 0xFFFFFFu);
  EXPECT_EQ(pixel(14, 14), kBackground);
  EXPECT_EQ(pixel(15, 20), kBackground);
  // A circle's box likewise.
  ASSERT_EQ(vm.Call("Cls", {}).code, 0u);
  ASSERT_EQ(vm.CallWith("circle", [&] {
    for (double v : {32.0, 24.0, 5.0, double(0xFFFFFF)}) vm_pushnumber(vm.L, v);
    vm_newtable(vm.L);
    vm.Set("anchorx", 0.5), vm.Set("anchory", 0.5);
    return 5;
  }).code, 0u);
  EXPECT_EQ(pixel(32, 24), 0xFFFFFFu);
  EXPECT_EQ(pixel(27, 24), 0xFFFFFFu);
  EXPECT_EQ(pixel(26, 24), kBackground);

  // Scaled by the tags: twice as wide.
  ASSERT_EQ(vm.Call("Cls", {}).code, 0u);
  ASSERT_EQ(box(2, 2, 10, 4, 0xFFFFFF, [&] { vm.Set("scalex", 2); }), 0u);
  EXPECT_EQ(pixel(19, 3), 0xFFFFFFu);
  EXPECT_EQ(pixel(21, 3), kBackground);
  // The table's turn is the argument's.
  ASSERT_EQ(vm.Call("Cls", {}).code, 0u);
  ASSERT_EQ(vm.Call("Box", {10, 30, 20, 4, 0xFFFFFF, 0, 90}).code, 0u);
  const std::vector<uint32_t> turned = vm.Picture();
  ASSERT_EQ(vm.Call("Cls", {}).code, 0u);
  ASSERT_EQ(box(10, 30, 20, 4, 0xFFFFFF, [&] { vm.Set("rotate", 90); }), 0u);
  EXPECT_EQ(Differences(vm.Picture(), turned), 0);

  // Half transparent: the background shows through.
  ASSERT_EQ(vm.Call("Cls", {}).code, 0u);
  ASSERT_EQ(box(4, 4, 8, 8, 0xFFFFFF, [&] { vm.Set("transparency", 128); }), 0u);
  const uint32_t mixed = pixel(6, 6);
  for (int shift : {0, 8, 16}) {
    const int got = int((mixed >> shift) & 0xFF), back = int((kBackground >> shift) & 0xFF);
    EXPECT_NEAR(got, (back + 255) / 2, 2) << std::hex << mixed;
  }
  EXPECT_EQ(pixel(12, 6), kBackground);
  // Tinted all the way to blue.
  ASSERT_EQ(box(20, 4, 8, 8, 0xFF0000, [&] { vm.Set("tint", 255), vm.Set("tintcolor", 0x0000FF); }), 0u);
  EXPECT_EQ(pixel(22, 6) >> 8, 0u);
  EXPECT_GE(pixel(22, 6) & 0xFF, 0xFCu);

  struct Bad {
    const char *name;
    std::function<void()> tags;
    uint32_t code;
  } bad[] = {
      {"anchor beyond the box", [&] { vm.Set("anchorx", 2); }, ERR_WRONGUSAGE},
      {"scale 0", [&] { vm.Set("scaley", 0); }, ERR_WRONGUSAGE},
  };
  for (const Bad &b : bad) EXPECT_EQ(box(0, 0, 4, 4, 0, b.tags), b.code) << b.name;
}

TEST(DrawLibrary, OutOfMemoryDrawsNothingAndKeepsNothing) {
  DrawVm vm;
  ASSERT_EQ(vm.Call("SetFillStyle", {int(DRAWFILL_COLOR)}).code, 0u);
  ASSERT_EQ(vm.Call("SetFormStyle", {int(FORM_EDGE), 0x00FF00, 2}).code, 0u);
  ASSERT_EQ(vm.Call("SetFormStyle", {int(FORM_ANTIALIAS)}).code, 0u);
  const std::vector<uint32_t> before = vm.Picture();
  // Each allocation of the shape fails in turn: the command reports it and leaves the picture
  // (the sanitizer checks that nothing is kept).
  int failures = 0;
  for (uint64_t n = 1; n < 20; n++) {
    SetMemAllocFailure(n);
    const uint32_t code = vm.Call("Circle", {10, 10, 12, 0xFF0000}).code;
    const bool used = MemAllocFailureUsed();
    SetMemAllocFailure(0);
    if (!used) break;
    failures++;
    EXPECT_EQ(code, ERR_MEM) << n;
    EXPECT_EQ(vm.Picture(), before) << n;
  }
  EXPECT_GE(failures, 3);
  EXPECT_EQ(vm.Call("Circle", {10, 10, 12, 0xFF0000}).code, 0u);
  EXPECT_NE(vm.Picture(), before);
}

// Without the coverage module the shapes that need its rasterisers fail naming the missing
// module and draw nothing; plain boxes and one-pixel lines do not need it.
TEST(DrawLibrary, WithoutTheCoverageModuleShapesFailAndDrawNothing) {
  DrawVm vm;
  ASSERT_EQ(vm.Call("SetFillStyle", {int(DRAWFILL_COLOR)}).code, 0u);
  const qmCoverageTable *module = CoverageTable();
  ASSERT_NE(module, nullptr);
  SetCoverageTable(nullptr);
  const std::vector<uint32_t> before = vm.Picture();
  EXPECT_EQ(vm.Call("Circle", {10, 10, 12, 0xFF0000}).code, ERR_OPENLIB) << "hard-edged, straight into the picture";
  EXPECT_EQ(vm.Call("Line", {3, 4, 40, 30, 0xFF0000, 5}).code, ERR_OPENLIB) << "thick";
  ASSERT_EQ(vm.Call("SetFormStyle", {int(FORM_ANTIALIAS)}).code, 0u);
  EXPECT_EQ(vm.Call("Circle", {10, 10, 12, 0xFF0000}).code, ERR_OPENLIB) << "anti-aliased, through a plane";
  ASSERT_EQ(vm.Call("SetFormStyle", {int(FORM_EDGE), 0x00FF00, 2}).code, 0u);
  EXPECT_EQ(vm.Call("Circle", {10, 10, 12, 0xFF0000}).code, ERR_OPENLIB) << "with an edge, through an image";
  EXPECT_EQ(vm.Picture(), before);
  ASSERT_EQ(vm.Call("SetFormStyle", {int(FORM_NORMAL)}).code, 0u);
  EXPECT_EQ(vm.Call("Box", {2, 3, 4, 5, 0x0000FF}).code, 0u);
  EXPECT_EQ(vm.Call("Line", {0, 0, 9, 9, 0x0000FF}).code, 0u);
  EXPECT_NE(vm.Picture(), before);

  // With the module back, shapes draw again, as the peer draws them.
  SetCoverageTable(module);
  ASSERT_EQ(vm.Call("Cls", {}).code, 0u);
  ASSERT_EQ(vm.Call("SetFormStyle", {int(FORM_ANTIALIAS)}).code, 0u);
  EXPECT_EQ(vm.Call("Line", {36, 4, 60, 40, 0xFFFF00, 5}).code, 0u);
  EXPECT_EQ(Differences(vm.Picture(), Peer("line 16776960 5 1 36 4 60 40\n"), 3), 0);
}

TEST(DrawLibrary, DoubleBufferingNotesWhatWasDrawn) {
  DrawVm vm;
  ASSERT_EQ(vm.Call("BeginDoubleBuffer", {}).code, 0u);
  ASSERT_EQ(vm.Call("SetFillStyle", {int(DRAWFILL_COLOR)}).code, 0u);
  vm.d->dirtyCount = 0;
  EXPECT_EQ(vm.Call("Box", {5, 6, 7, 8, 0xFF0000}).code, 0u);
  ASSERT_EQ(vm.d->dirtyCount, 1);
  EXPECT_EQ(vm.d->dirtyRects[0].x1, 5);
  EXPECT_EQ(vm.d->dirtyRects[0].y2, 13);
  EXPECT_EQ(vm.Call("Circle", {30, 20, 5, 0x00FF00}).code, 0u);
  EXPECT_EQ(vm.Call("Line", {0, 40, 60, 40, 0x0000FF, 3}).code, 0u);
  EXPECT_EQ(vm.d->dirtyCount, 3);
  EXPECT_EQ(DisplayVm::BitmapPixel(vm.d->backBuffer2, 8, 8), 0xFF0000u) << "into the draw buffer";
  ASSERT_EQ(vm.Call("Flip", {}).code, 0u);
  EXPECT_EQ(DisplayVm::WindowPixel(vm.d, 8, 8), 0xFF0000u);
  EXPECT_EQ(DisplayVm::WindowPixel(vm.d, 35, 25), 0x00FF00u);
  ASSERT_EQ(vm.Call("EndDoubleBuffer", {}).code, 0u);
}

TEST(DrawLibrary, LargestPolygonWithEveryEffect) {
  DrawVm vm;
  ASSERT_EQ(vm.Call("SetFillStyle", {int(DRAWFILL_COLOR)}).code, 0u);
  ASSERT_EQ(vm.Call("SetFormStyle", {int(FORM_EDGE), 0x00FF00, 64}).code, 0u);
  ASSERT_EQ(vm.Call("SetFormStyle", {int(FORM_SHADOW), 0x000000, 64, 5}).code, 0u);
  ASSERT_EQ(vm.Call("SetFormStyle", {int(FORM_ANTIALIAS)}).code, 0u);
  // 999 points on a circle, the last repeating none: closed by the command to 1000.
  std::vector<CmdArg> ring;
  for (int i = 0; i < 999; i++) {
    ring.push_back(20 + 18 * std::cos(i * 2 * M_PI / 999));
    ring.push_back(20 + 18 * std::sin(i * 2 * M_PI / 999));
  }
  EXPECT_EQ(vm.Polygon(10, 5, ring, 999, 0xFF0000).code, 0u);
  EXPECT_EQ(DisplayVm::BitmapPixel(vm.d->backgroundCopy, 30, 25), 0xFF0000u) << "the polygon's middle";
  // A spiky one: its mitred corners reach far, and are still cut to the picture.
  std::vector<CmdArg> spikes;
  for (int i = 0; i < 998; i++) {
    const double r = i % 2 ? 30 : 1;
    spikes.push_back(r * std::cos(i * 2 * M_PI / 998));
    spikes.push_back(r * std::sin(i * 2 * M_PI / 998));
  }
  EXPECT_EQ(vm.Polygon(32, 24, spikes, 998, 0xFFFFFF).code, 0u);
}

TEST(DrawLibrary, CoordinatesNearTheIntegerLimits) {
  DrawVm vm;
  const std::vector<uint32_t> before = vm.Picture();
  ASSERT_EQ(vm.Call("SetFillStyle", {int(DRAWFILL_COLOR)}).code, 0u);
  const double big = 2147483647, small = -2147483647;
  const std::vector<std::vector<CmdArg>> far[] = {
      {{big - 5, 3, 100, 100, 0xFFFFFF}, {small, small, 200, 200, 0xFFFFFF}},
  };
  for (const auto &args : far[0]) EXPECT_EQ(vm.Call("Box", args).code, 0u);
  ASSERT_EQ(vm.Call("SetFillStyle", {int(DRAWFILL_NONE)}).code, 0u);
  EXPECT_EQ(vm.Call("Box", {big, big, 50, 50, 0xFFFFFF}).code, 0u) << "a frame whose sides lie past the range";
  ASSERT_EQ(vm.Call("SetFillStyle", {int(DRAWFILL_COLOR)}).code, 0u);
  EXPECT_EQ(vm.Call("Circle", {big - 3, big - 3, 20, 0xFFFFFF}).code, 0u);
  EXPECT_EQ(vm.Call("Circle", {small, 10, 20, 0xFFFFFF}).code, 0u);
  EXPECT_EQ(vm.Call("Plot", {big, small, 0xFFFFFF}).code, 0u);
  EXPECT_EQ(vm.Polygon(big, big, {0, 0, 30, 0, 0, 30}, 3, 0xFFFFFF).code, 0u);
  EXPECT_EQ(vm.Call("Line", {big, big, big - 100, big, 0xFFFFFF, 7}).code, 0u);
  EXPECT_EQ(vm.Picture(), before) << "nothing of them reaches the picture";
  // A line across the whole integer range still meets the picture.
  EXPECT_EQ(vm.Call("Line", {small, 10, big, 10, 0xFFFFFF}).code, 0u);
  EXPECT_EQ(vm.Call("Line", {small, 20, big, 20, 0xFFFFFF, 3}).code, 0u);
  for (int x : {0, 31, 63}) {
    EXPECT_EQ(DisplayVm::BitmapPixel(vm.d->backgroundCopy, x, 10), 0xFFFFFFu) << x;
    EXPECT_EQ(DisplayVm::BitmapPixel(vm.d->backgroundCopy, x, 21), 0xFFFFFFu) << x;
  }
}

TEST(DrawLibrary, AnyArgumentsNeitherCrashNorOverrun) {
  DrawVm vm;
  // Values from the small to the far: every shape under every style, with a fixed seed.
  const double values[] = {-2147483648.0, -100000, -70000, -1000, -3, -1, 0, 1, 2, 3, 7, 15, 64, 100,
                           361, 1000, 40000, 2147483647.0, 1e12, -1e12, 0.5};
  uint32_t seed = 12345;
  auto next = [&] {
    seed = seed * 1103515245u + 12345u;
    return seed >> 8;
  };
  auto value = [&] { return CmdArg(values[next() % (sizeof values / sizeof values[0])]); };
  const char *styles[][4] = {{"SetFillStyle", "1"}, {"SetFillStyle", "0"}, {"SetFormStyle", "16"},
                             {"SetFormStyle", "32"}, {"SetFormStyle", "64"}, {"SetFormStyle", "1"}};
  const struct {
    const char *name;
    int args;
  } commands[] = {{"Box", 7}, {"Circle", 5}, {"Ellipse", 6}, {"Arc", 9}, {"Line", 7}, {"Plot", 3}, {"ReadPixel", 2}};
  for (int i = 0; i < 400; i++) {
    const auto &style = styles[next() % 6];
    vm.Call(style[0], {std::atoi(style[1])});
    if (next() % 4 == 0) vm.Call("SetLineWidth", {int(next() % 9) + 1});
    const auto &c = commands[next() % 7];
    std::vector<CmdArg> args;
    const int n = c.args - int(next() % 3);
    for (int k = 0; k < n; k++) args.push_back(value());
    const uint32_t code = vm.Call(c.name, args).code;
    // 1e12 and -1e12 lie outside the 32-bit range of the integer arguments: an argument error.
    EXPECT_TRUE(code == 0 || code == ERR_WRONGUSAGE || code == ERR_MEM || code == ERR_PIXELRANGE ||
                code == ERR_MISSINGPARAMTR || code == ERR_NUMEXPECTED) << c.name << " " << code;
  }
  ASSERT_EQ(vm.Call("SetFormStyle", {1}).code, 0u);
}

}  // namespace
