// Shape outlines against point lists worked out by hand from the angle tables and the box
// rules, and the line clipper against a table of segments.
#include <gtest/gtest.h>

#include <vector>

#include "graphics/draw_style.h"
#include "graphics/shape_geometry.h"
#include "runtime/objtypes.h"

namespace {

struct Tables : ::testing::Test {
  void SetUp() override { ASSERT_EQ(InitDrawTables(), 0u); }
  void TearDown() override { FreeDrawBuffers(); }

  static qmShapeRequest Request(int32_t type, int32_t w, int32_t h) {
    qmShapeRequest r{};
    r.type = type, r.width = w, r.height = h;
    r.matrix[0] = r.matrix[3] = 1;
    SetDefaultDrawStyle(&r.style);
    r.style.fillStyle = DRAWFILL_COLOR;
    return r;
  }
  static std::vector<int> Outline(const qmShapeRequest &r) {
    std::vector<double> pts(2 * kOutlinePointMax);
    const int n = BuildShapeOutline(&r, r.width, r.height, pts.data());
    return std::vector<int>(pts.begin(), pts.begin() + 2 * n);
  }
};

TEST_F(Tables, CirclesByRadius) {
  // Radius 2: a diamond from 3 o'clock counter-clockwise on the screen, closed by its own
  // last point.
  EXPECT_EQ(Outline(Request(QMTYPE_CIRCLE, 5, 5)), (std::vector<int>{4, 2, 2, 0, 0, 2, 2, 4, 4, 2}));
  EXPECT_EQ(Outline(Request(QMTYPE_CIRCLE, 21, 21)).size(), 2u * 21u) << "20 chords of 18 degrees";
  EXPECT_EQ(Outline(Request(QMTYPE_CIRCLE, 31, 31)).size(), 2u * 73u) << "72 chords of 5 degrees";
  EXPECT_EQ(ArcStepForRadius(9), 30);
  EXPECT_EQ(ArcStepForRadius(14), 18);
}

TEST_F(Tables, ArcsRunClockwiseFromThreeOClock) {
  qmShapeRequest r = Request(QMTYPE_ARC, 21, 21);
  r.startAngle = 0, r.endAngle = 90, r.clockwise = 1;
  std::vector<int> p = Outline(r);
  ASSERT_GE(p.size(), 8u);
  EXPECT_EQ(std::vector<int>(p.begin(), p.begin() + 4), (std::vector<int>{0, 0, 20, 20})) << "the bounding pair";
  EXPECT_EQ(p[4], 10);
  EXPECT_EQ(p[5], 20) << "starts at 6 o'clock (the generator orders the angles)";
  const size_t n = p.size() / 2;
  EXPECT_EQ(p[2 * (n - 2)], 10);
  EXPECT_EQ(p[2 * (n - 2) + 1], 10) << "the centre before the closing point";
  for (size_t i = 2; i < n; i++) {
    EXPECT_GE(p[2 * i], 10);
    EXPECT_GE(p[2 * i + 1], 10) << "only the lower right quarter";
  }
  // 90 to 0 clockwise is three quarters: it reaches the top and the left.
  r.startAngle = 90, r.endAngle = 0;
  p = Outline(r);
  bool top = false, left = false;
  for (size_t i = 2; i < p.size() / 2; i++) top |= p[2 * i + 1] == 0, left |= p[2 * i] == 0;
  EXPECT_TRUE(top && left);
  // Whole turns far beyond any sensible angle are taken off, not walked.
  r.startAngle = 2000000000, r.endAngle = 2000000090;
  EXPECT_GT(Outline(r).size(), 4u);
}

TEST_F(Tables, RoundBoxCorners) {
  qmShapeRequest r = Request(QMTYPE_BOX, 300, 300);
  r.corners[0] = 50;
  std::vector<int> p = Outline(r);
  // Corner a: radius 75 (half of the shorter side, halved again) from (0, 75) at 180 degrees.
  bool corner = false;
  for (size_t i = 0; i < p.size() / 2; i++) corner |= p[2 * i] == 0 && p[2 * i + 1] == 75;
  EXPECT_TRUE(corner);
  // Level 0 on a side of 300 is still a radius of 1: no point sits in a sharp corner.
  for (size_t i = 0; i < p.size() / 2; i++) {
    EXPECT_FALSE(p[2 * i] == 299 && p[2 * i + 1] == 299);
    EXPECT_FALSE(p[2 * i] == 0 && p[2 * i + 1] == 299);
  }
  EXPECT_EQ(Outline(Request(QMTYPE_BOX, 4, 3)), (std::vector<int>{0, 0, 3, 0, 3, 2, 0, 2, 0, 0}));
}

TEST_F(Tables, EdgeOutlines) {
  // A collinear polygon has no corner to mitre: the grown bounding rectangle stands in.
  const int32_t line[] = {0, 0, 5, 5, 10, 10, 0, 0};
  int32_t out[16];
  ASSERT_EQ(MitreOffsetPolygon(line, 4, 3, out), 5);
  EXPECT_EQ(std::vector<int>(out, out + 10), (std::vector<int>{-3, -3, 13, -3, 13, 13, -3, 13, -3, -3}));
  // A square grows by the size on every side, whichever way round it runs.
  const int32_t cw[] = {0, 0, 10, 0, 10, 10, 0, 10, 0, 0};
  const int32_t ccw[] = {0, 0, 0, 10, 10, 10, 10, 0, 0, 0};
  for (const int32_t *sq : {cw, ccw}) {
    const int n = MitreOffsetPolygon(sq, 5, 2, out);
    ASSERT_EQ(n, 5);
    for (int i = 0; i < n; i++) {
      EXPECT_TRUE(out[2 * i] == -2 || out[2 * i] == 12);
      EXPECT_TRUE(out[2 * i + 1] == -2 || out[2 * i + 1] == 12);
    }
  }
  // An L shape: its reflex corner moves outward too, into the notch.
  const int32_t ell[] = {0, 0, 10, 0, 10, 4, 4, 4, 4, 10, 0, 10, 0, 0};
  const int n = MitreOffsetPolygon(ell, 7, 1, out);
  ASSERT_EQ(n, 7);
  EXPECT_EQ((std::vector<int>(out, out + 14)), (std::vector<int>{-1, -1, 11, -1, 11, 5, 5, 5, 5, 11, -1, 11, -1, -1}))
      << "(4, 4) moves into the notch, to (5, 5)";

  // Geometry of an edged, shadowed box: the image holds edge and shadow, the shape sits inside.
  qmShapeRequest r = Request(QMTYPE_BOX, 10, 6);
  r.style.formStyle = FORM_EDGE | FORM_SHADOW;
  r.style.edgeSize = 2, r.style.shadowSize = 4, r.style.shadowDirection = 3;
  int32_t *mp, *ep, mn, en;
  ASSERT_EQ(PrepareShapeGeometry(&r, &mp, &mn, &ep, &en), 0u);
  EXPECT_EQ(r.imageWidth, 14 + 4);
  EXPECT_EQ(r.imageHeight, 10 + 4);
  EXPECT_EQ(r.originX, -2);
  EXPECT_EQ(r.shapeX, 2);
  EXPECT_EQ(r.shadowX, 6);
  r.style.fillStyle = DRAWFILL_NONE;
  ASSERT_EQ(PrepareShapeGeometry(&r, &mp, &mn, &ep, &en), 0u);
  EXPECT_EQ(r.imageWidth, 10) << "outlines take neither edge nor shadow";
}

TEST(ShapeStyle, ShadowMargins) {
  const struct {
    int dir, l, t, r, b;
  } rows[] = {{0, 0, 4, 0, 0}, {1, 0, 4, 4, 0}, {2, 0, 0, 4, 0}, {3, 0, 0, 4, 4}, {4, 0, 0, 0, 4},
              {5, 4, 0, 0, 4}, {6, 4, 0, 0, 0}, {7, 4, 4, 0, 0}, {8, 0, 0, 0, 0}};
  for (const auto &row : rows) {
    int l, t, r, b;
    GetShadowMargins(4, row.dir, &l, &t, &r, &b);
    EXPECT_EQ((std::vector<int>{l, t, r, b}), (std::vector<int>{row.l, row.t, row.r, row.b})) << row.dir;
  }
  qmDrawStyle s{};
  s.lineWidth = -3, s.shadowSize = 100, s.edgeSize = 0, s.shadowDirection = -1, s.fillStyle = 7;
  ValidateDrawStyle(&s);
  EXPECT_EQ((std::vector<int>{s.lineWidth, s.shadowSize, s.edgeSize, s.shadowDirection, s.fillStyle}),
            (std::vector<int>{1, 64, 1, 3, DRAWFILL_NONE}));
}

TEST(ShapeLines, ClipLineToRange) {
  const struct {
    const char *name;
    int a1, b1, a2, b2, ok, ra1, rb1, ra2, rb2;
  } rows[] = {
      {"inside", 2, 3, 8, 9, 1, 2, 3, 8, 9},
      {"left of it", -5, 0, -1, 9, 0, 0, 0, 0, 0},
      {"right of it", 11, 0, 30, 9, 0, 0, 0, 0, 0},
      {"first end cut", -10, 5, 10, 5, 1, 0, 5, 10, 5},
      {"both ends cut", -10, 0, 20, 30, 1, 0, 10, 10, 20},
      {"reversed", 20, 30, -10, 0, 1, 10, 20, 0, 10},
      {"second end cut", 5, 0, 15, 10, 1, 5, 0, 10, 5},
      {"near the limits", -2147483647, 0, 2147483647, 0, 1, 0, 0, 10, 0},
  };
  for (const auto &r : rows) {
    int a1 = r.a1, b1 = r.b1, a2 = r.a2, b2 = r.b2;
    EXPECT_EQ(ClipLineToRange(&a1, &b1, &a2, &b2, 0, 10), r.ok) << r.name;
    if (r.ok) {
      EXPECT_EQ((std::vector<int>{a1, b1, a2, b2}), (std::vector<int>{r.ra1, r.rb1, r.ra2, r.rb2})) << r.name;
    }
  }
}

}  // namespace
