// Pixel work through the real player: brush effects and lines drawn into a selected brush,
// read back from the 24-bit BMP that SaveBrush writes and compared with references computed
// from the formulas (the Python reference of the effects, a line walk written here).
#include <cstdlib>
#include <fstream>

#include "tests/graphics/effects_ref.h"
#include "tests/player/e2e_util.h"

namespace {

// A 24-bit BMP of 0xRRGGBB pixels, rows bottom-up and padded to 4 bytes.
void WriteBmp(const std::string &path, int32_t w, int32_t h, const std::vector<uint32_t> &px) {
  const int32_t row = (w * 3 + 3) & ~3;
  std::vector<uint8_t> f(54 + size_t(row) * h, 0);
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; i++) f[at + i] = uint8_t(v >> (8 * i));
  };
  f[0] = 'B', f[1] = 'M';
  put32(2, uint32_t(f.size())), put32(10, 54), put32(14, 40), put32(18, uint32_t(w)), put32(22, uint32_t(h));
  f[26] = 1, f[28] = 24;
  for (int32_t y = 0; y < h; y++)
    for (int32_t x = 0; x < w; x++) {
      const uint32_t p = px[size_t(y) * w + x];
      uint8_t *o = &f[54 + size_t(h - 1 - y) * row + size_t(x) * 3];
      o[0] = uint8_t(p), o[1] = uint8_t(p >> 8), o[2] = uint8_t(p >> 16);
    }
  qmtools::WriteBytes(path, f);
}

// The pixels of a 24-bit BMP (either row order) as 0xRRGGBB; empty when it is not one.
std::vector<uint32_t> ReadBmp(const std::string &path, int32_t *w, int32_t *h) {
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> f((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (f.size() < 54 || f[0] != 'B' || f[1] != 'M' || f[28] != 24) return {};
  auto get32 = [&](size_t at) { return uint32_t(f[at]) | uint32_t(f[at + 1]) << 8 | uint32_t(f[at + 2]) << 16 | uint32_t(f[at + 3]) << 24; };
  const uint32_t offset = get32(10);
  *w = int32_t(get32(18));
  const int32_t rawH = int32_t(get32(22));
  *h = std::abs(rawH);
  const int32_t row = (*w * 3 + 3) & ~3;
  if (f.size() < offset + size_t(row) * *h) return {};
  std::vector<uint32_t> px(size_t(*w) * *h);
  for (int32_t y = 0; y < *h; y++)
    for (int32_t x = 0; x < *w; x++) {
      const uint8_t *p = &f[offset + size_t(rawH > 0 ? *h - 1 - y : y) * row + size_t(x) * 3];
      px[size_t(y) * *w + x] = uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
    }
  return px;
}

// Loads in.bmp as brush 1 (and 2), runs the lines and saves brush 1 as out.bmp: the result's
// pixels, with the script's output on failure.
std::vector<uint32_t> RunOnBrush(const PlayerDir &d, std::vector<ScriptLine> lines, int32_t *w, int32_t *h,
                                 std::string *report) {
  std::remove((d / "out.bmp").c_str());
  lines.insert(lines.begin(), {false, "LoadBrush", {1, d / "in.bmp"}});
  lines.push_back({false, "SaveBrush", {1, d / "out.bmp", 0.0, 0.0}});
  qmtools::WriteBytes(d / "k.qma", AppletOf(ScriptOf(lines)));
  PlayerResult r = d.Run({"-QUIET", "-DEBUGDEVICE", "x", d / "k.qma"});
  *report = "status " + std::to_string(r.status) + ": " + r.out + r.err;
  return ReadBmp(d / "out.bmp", w, h);
}

// Runs the lines and saves a snapshot of display 1 as shot.bmp: its pixels, with the script's
// output on failure.
std::vector<uint32_t> RunForSnapshot(const PlayerDir &d, std::vector<ScriptLine> lines, int32_t *w, int32_t *h,
                                     std::string *report) {
  std::remove((d / "shot.bmp").c_str());
  lines.push_back({false, "SaveSnapshot", {d / "shot.bmp", 1}});
  qmtools::WriteBytes(d / "l.qma", AppletOf(ScriptOf(lines)));
  PlayerResult r = d.Run({"-QUIET", "-DEBUGDEVICE", "x", d / "l.qma"});
  *report = "status " + std::to_string(r.status) + ": " + r.out + r.err;
  return ReadBmp(d / "shot.bmp", w, h);
}

// Where two pictures first differ, for the failure message.
std::string FirstDifference(const std::vector<uint32_t> &got, const std::vector<uint32_t> &want, int32_t w) {
  if (got.size() != want.size()) return "sizes " + std::to_string(got.size()) + " and " + std::to_string(want.size());
  for (size_t i = 0; i < got.size(); i++)
    if (got[i] != want[i]) {
      char buf[96];
      std::snprintf(buf, sizeof buf, "(%d, %d): %06X, wanted %06X", int(i % w), int(i / w), got[i], want[i]);
      return buf;
    }
  return "";
}

}  // namespace

// Each effect command reaches its kernel with the arguments the command defines (defaults
// included), on a picture whose width is not a multiple of the row padding.
TEST(E2eKernels, BrushEffectsMatchTheReference) {
  struct Case {
    std::vector<ScriptLine> lines;
    std::string reference;  // the reference's operation; "map:" for a source-position map
  };
  const Case cases[] = {
      {{{false, "BlurBrush", {1, 2.0}}}, "blur 2 0.66666666666666663"},  // sigma: a third of the radius
      {{{false, "BlurBrush", {1, 1.5, 2.0}}}, "blur 1.5 2"},
      {{{false, "SharpenBrush", {1, 1.0}}}, "sharpen 1 1"},
      {{{false, "SharpenBrush", {1}}}, "sharpen 0 1"},
      {{{false, "EmbossBrush", {1, 1.0}}}, "emboss 1 1"},
      {{{false, "EdgeBrush", {1}}}, "edge 0 0"},
      {{{false, "SolarizeBrush", {1, 127}}}, "solarize 127"},
      {{{false, "ContrastBrush", {1, 0.0}}}, "contrast -1"},
      {{{false, "ModulateBrush", {1, 1.2, 0.5, 130}}}, "modulate 120 50 130"},
      {{{false, "SepiaToneBrush", {1, 200}}}, "sepiatone 200"},
      {{{false, "CharcoalBrush", {1, 1.0}}}, "charcoal 1 1"},
      {{{false, "OilPaintBrush", {1, 1.0}}}, "oilpaint 1"},
      {{{false, "FloodFill", {1, 6, 5, 0xFF0000, 0x00FF00}}}, "flood 6 5 16711680 65280"},
      {{{false, "SwirlBrush", {1, 200}}}, "map:swirl 200"},
      {{{false, "SwirlBrush", {1, -500}}}, "map:swirl -359"},  // clamped to -359
      {{{false, "WaterRippleBrush", {1, 5, 2, 2, 0.2, 0.8}}}, "map:waterripple 5 2 2 0.2 0.8"},
      {{{false, "WaterRippleBrush", {1, 3, 2, 0.0, 0.0, 0.0}}}, "map:waterripple 3 2 0 0 0"},  // no radius
  };
  const int32_t w = 13, h = 11;
  std::vector<uint32_t> in = fxtest::Fixture(w, h, 5);
  // A red ring for the flood fill: its inside is filled whatever its colours.
  for (int32_t i = 2; i <= 9; i++) in[size_t(2) * w + i] = in[size_t(8) * w + i] = 0xFF0000;
  for (int32_t j = 2; j <= 8; j++) in[size_t(j) * w + 2] = in[size_t(j) * w + 9] = 0xFF0000;
  PlayerDir d;
  WriteBmp(d / "in.bmp", w, h, in);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.reference);
    int32_t gw = 0, gh = 0;
    std::string report;
    const std::vector<uint32_t> got = RunOnBrush(d, c.lines, &gw, &gh, &report);
    ASSERT_EQ(gw, w) << report;
    ASSERT_EQ(gh, h) << report;
    std::vector<uint32_t> want;
    if (c.reference.rfind("map:", 0) == 0) {
      for (int64_t source : fxtest::RunReference(c.reference.substr(4), w, h, {})) want.push_back(in[size_t(source)]);
    } else {
      for (int64_t v : fxtest::RunReference(c.reference, w, h, in)) want.push_back(uint32_t(v));
    }
    ASSERT_EQ(want.size(), in.size()) << "the reference did not run";
    EXPECT_EQ(got, want) << FirstDifference(got, want, w);
  }
}

namespace {

// A picture being drawn into: pixels 0xRRGGBB, plots outside are dropped.
struct Canvas {
  int32_t w, h;
  std::vector<uint32_t> px;
  void Plot(int64_t x, int64_t y, uint32_t rgb, int32_t level) {
    if (x < 0 || y < 0 || x >= w || y >= h) return;
    uint32_t &d = px[size_t(y) * w + size_t(x)];
    if (level >= 255) {
      d = rgb;
      return;
    }
    uint32_t out = 0;
    for (int shift = 16; shift >= 0; shift -= 8) {
      const int32_t a = int32_t((d >> shift) & 0xFF), b = int32_t((rgb >> shift) & 0xFF);
      out |= uint32_t(a + (((b - a) * level) >> 8)) << shift;
    }
    d = out;
  }
  // The one-pixel line: Bresenham from the end with the smaller major coordinate.
  void Line(int64_t x1, int64_t y1, int64_t x2, int64_t y2, uint32_t rgb, int32_t level) {
    const int64_t dx = std::llabs(x2 - x1), dy = std::llabs(y2 - y1);
    const bool steep = dx < dy;
    if (steep ? y1 > y2 : x1 > x2) std::swap(x1, x2), std::swap(y1, y2);
    const int64_t major = steep ? dy : dx, minor = steep ? dx : dy;
    const int64_t step = (steep ? x2 >= x1 : y2 >= y1) ? 1 : -1;
    int64_t err = 2 * minor - major, m = steep ? x1 : y1;
    for (int64_t k = 0; k <= major; k++) {
      if (steep) Plot(m, y1 + k, rgb, level);
      else Plot(x1 + k, m, rgb, level);
      if (err < 0) err += 2 * minor;
      else err += 2 * (minor - major), m += step;
    }
  }
  // The anti-aliased line: a 16.16 position along the minor axis, two pixels per step.
  void Smooth(int64_t x1, int64_t y1, int64_t x2, int64_t y2, uint32_t rgb, int32_t overall) {
    auto level = [&](int32_t l) { return overall == 255 ? l : l * overall / 255; };
    if (x1 == x2 && y1 == y2) return Plot(x1, y1, rgb, overall);
    const bool byX = std::llabs(x2 - x1) > std::llabs(y2 - y1);
    if (byX ? x1 > x2 : y1 > y2) std::swap(x1, x2), std::swap(y1, y2);
    const int64_t g = byX ? ((y2 - y1) * 65536) / (x2 - x1) : ((x2 - x1) * 65536) / (y2 - y1);
    int64_t acc = (byX ? y1 : x1) * 65536;
    for (int64_t k = 0; k <= (byX ? x2 - x1 : y2 - y1); k++, acc += g) {
      const int32_t f = int32_t((acc >> 8) & 255);
      if (byX) Plot(x1 + k, acc >> 16, rgb, level(255 - f)), Plot(x1 + k, (acc >> 16) + 1, rgb, level(f));
      else Plot(acc >> 16, y1 + k, rgb, level(255 - f)), Plot((acc >> 16) + 1, y1 + k, rgb, level(f));
    }
  }
};

}  // namespace

// Lines drawn into a selected brush keep the pixels of the whole line where they run past the
// brush's edges (plain, anti-aliased, translucent), and far-off ends cost no long walk.
TEST(E2eKernels, LinesPastTheEdgesOfASelectedBrushKeepTheWholeLinesPixels) {
  struct Case {
    int32_t x1, y1, x2, y2;
  };
  const Case lines[] = {{1, 1, 20, 6},    {-6, -3, 30, 20},   {-10, 17, 12, -4}, {22, -7, 3, 25},
                        {-40, 5, 60, 11}, {3, -50, 9, 70},    {10, 10, 10, 10}};
  const int32_t w = 24, h = 18;
  std::vector<uint32_t> in = fxtest::Fixture(w, h, 9);
  PlayerDir d;
  WriteBmp(d / "in.bmp", w, h, in);
  for (double color : {double(0xFF4020), double(0x80106020)})
    for (int antialias = 0; antialias < 2; antialias++) {
      SCOPED_TRACE(std::to_string(int64_t(color)) + (antialias ? " anti-aliased" : ""));
      std::vector<ScriptLine> script = {{false, "SelectBrush", {1}}};
      if (antialias) script.push_back({false, "SetFormStyle", {16}});
      Canvas want{w, h, in};
      const uint32_t rgb = uint32_t(color) & 0xFFFFFF;
      const int32_t level = 255 - int32_t(uint32_t(color) >> 24);
      for (const Case &l : lines) {
        script.push_back({false, "Line", {double(l.x1), double(l.y1), double(l.x2), double(l.y2), color}});
        if (antialias) want.Smooth(l.x1, l.y1, l.x2, l.y2, rgb, level);
        else want.Line(l.x1, l.y1, l.x2, l.y2, rgb, level);
      }
      // A diagonal from far outside to far outside: only the steps over the brush are walked.
      // Both walks put it on (t, t); the anti-aliased one's second pixels have level 0.
      script.push_back({false, "Line", {-2000000000.0, -2000000000.0, 2000000000.0, 2000000000.0, color}});
      for (int32_t t = 0; t < std::min(w, h); t++) want.Plot(t, t, rgb, level);
      script.push_back({false, "EndSelect", {}});
      int32_t gw = 0, gh = 0;
      std::string report;
      const std::vector<uint32_t> got = RunOnBrush(d, script, &gw, &gh, &report);
      ASSERT_EQ(got.size(), want.px.size()) << report;
      EXPECT_EQ(got, want.px) << FirstDifference(got, want.px, w);
    }
}

// A line with layers on is a layer of its own; whatever its ends, it lands on the pixels the
// same line gives drawn straight into the display (plain and anti-aliased, thin and thick),
// and a one-pixel line's are those of the whole line's walk cut to the display.
TEST(E2eKernels, LineLayersLandOnTheLinesOwnPixels) {
  struct Case {
    int32_t x1, y1, x2, y2;
  };
  const Case lines[] = {{-3000, -1234, 5000, 777}, {-2000, 460, 3000, -37}, {-7, 100, 9000, 400},
                        {320, -5000, 100, 9000},   {641, -3, -10, 480},     {-1000000, -999983, 1000000, 1000017},
                        {5, 6, 200, 300}};
  const int32_t w = 640, h = 480;
  PlayerDir d;
  for (int antialias = 0; antialias < 2; antialias++)
    for (int32_t thickness : {1, 3}) {
      for (const Case &l : lines) {
        SCOPED_TRACE(std::to_string(l.x1) + "," + std::to_string(l.y1) + " to " + std::to_string(l.x2) + "," +
                     std::to_string(l.y2) + (antialias ? " anti-aliased" : "") + " thickness " +
                     std::to_string(thickness));
        std::vector<uint32_t> shots[2];
        for (int layers = 0; layers < 2; layers++) {
          std::vector<ScriptLine> script;
          if (layers) script.push_back({false, "EnableLayers", {}});
          if (antialias) script.push_back({false, "SetFormStyle", {16}});
          script.push_back({false, "Line", {double(l.x1), double(l.y1), double(l.x2), double(l.y2), double(0xFF4020),
                                            double(thickness)}});
          int32_t gw = 0, gh = 0;
          std::string report;
          shots[layers] = RunForSnapshot(d, script, &gw, &gh, &report);
          ASSERT_TRUE(gw == w && gh == h) << report << (layers ? " (with layers)" : "");
        }
        EXPECT_EQ(shots[1], shots[0]) << FirstDifference(shots[1], shots[0], w);
        if (thickness == 1) {
          Canvas want{w, h, std::vector<uint32_t>(size_t(w) * h, 0)};
          if (antialias) want.Smooth(l.x1, l.y1, l.x2, l.y2, 0xFF4020, 255);
          else want.Line(l.x1, l.y1, l.x2, l.y2, 0xFF4020, 255);
          EXPECT_EQ(shots[0], want.px) << FirstDifference(shots[0], want.px, w);
        }
      }
    }
}

// A layer style that draws a line layer anew (a new colour or thickness, a shadow or border) gives the pixels the same line gets drawn fresh with what the style set, whatever its
// ends: a line whose ends lie far off the display is drawn again for the part that can show (with
// the room its shadow or border takes), not its whole box.
TEST(E2eKernels, LineLayersRedrawnByTheirStyleMatchTheFreshLine) {
  struct Case {
    int32_t x1, y1, x2, y2;
  };
  const Case lines[] = {{-1000000, 5, 1000000, 300}, {-2000, 460, 3000, -37}, {320, -5000, 100, 9000},
                        {-1000000, -999983, 1000000, 1000017}, {5, 6, 200, 300}};
  struct Style {
    const char *what;
    int32_t antialias, thickness;  // as the line was drawn first
    std::vector<std::pair<std::string, ScriptArg>> keys;
    int32_t freshAntialias, freshThickness;  // the line drawn fresh with what the style set
    std::vector<std::pair<std::string, ScriptArg>> freshKeys = {};
  };
  const uint32_t first = 0xFF4020, next = 0x20C040;
  const Style styles[] = {
      {"colour", 0, 1, {{"color", double(next)}}, 0, 1},
      {"colour, anti-aliased", 1, 1, {{"color", double(next)}}, 1, 1},
      {"colour, thick", 0, 3, {{"color", double(next)}}, 0, 3},
      {"colour, thick anti-aliased", 1, 3, {{"color", double(next)}}, 1, 3},
      {"thickness", 0, 1, {{"color", double(next)}, {"thickness", 4.0}}, 0, 4},
      {"shadow", 0, 1, {{"color", double(next)}, {"shadow", 1.0}, {"shadowsize", 9.0}}, 0, 1,
       {{"shadow", 1.0}, {"shadowsize", 9.0}}},
      {"border", 0, 3, {{"color", double(next)}, {"border", 1.0}, {"bordersize", 6.0}}, 0, 3,
       {{"border", 1.0}, {"bordersize", 6.0}}},
  };
  const int32_t w = 640, h = 480;
  PlayerDir d;
  for (const Style &s : styles)
    for (const Case &l : lines) {
      SCOPED_TRACE(std::string(s.what) + ": " + std::to_string(l.x1) + "," + std::to_string(l.y1) + " to " +
                   std::to_string(l.x2) + "," + std::to_string(l.y2));
      std::vector<uint32_t> shots[2];
      for (int restyled = 0; restyled < 2; restyled++) {
        const int32_t aa = restyled ? s.antialias : s.freshAntialias;
        const int32_t thickness = restyled ? s.thickness : s.freshThickness;
        std::vector<ScriptLine> script{{false, "EnableLayers", {}}};
        if (aa) script.push_back({false, "SetFormStyle", {16}});
        std::vector<std::pair<std::string, ScriptArg>> tags{{"thickness", double(thickness)}};
        if (!restyled) tags.insert(tags.end(), s.freshKeys.begin(), s.freshKeys.end());
        script.push_back({false, "Line", {double(l.x1), double(l.y1), double(l.x2), double(l.y2),
                                          double(restyled ? first : next), ScriptArg::Table(tags)}});
        if (restyled) script.push_back({false, "SetLayerStyle", {1, ScriptArg::Table(s.keys)}});
        int32_t gw = 0, gh = 0;
        std::string report;
        shots[restyled] = RunForSnapshot(d, script, &gw, &gh, &report);
        ASSERT_TRUE(gw == w && gh == h) << report << (restyled ? " (restyled)" : " (fresh)");
      }
      EXPECT_EQ(shots[1], shots[0]) << FirstDifference(shots[1], shots[0], w);
    }
}

// A line layer with far-off ends that its style stretches or turns is drawn again through the
// matrix for the part that can show: the applet runs on (no "Out of memory!") and the line shows.
TEST(E2eKernels, FarLineLayersTransformedByTheirStyleStillShow) {
  const std::pair<std::string, double> transforms[] = {{"scalex", 2.0}, {"scaley", 3.0}, {"rotate", 30.0}};
  PlayerDir d;
  for (const auto &[key, value] : transforms) {
    SCOPED_TRACE(key);
    std::vector<ScriptLine> script{{false, "EnableLayers", {}},
                                   {false, "Line", {-1000000, 5, 1000000, 300, double(0xFF4020)}},
                                   {false, "SetLayerStyle", {1, ScriptArg::Table({{key, value}})}}};
    int32_t gw = 0, gh = 0;
    std::string report;
    const std::vector<uint32_t> shot = RunForSnapshot(d, script, &gw, &gh, &report);
    ASSERT_EQ(gw, 640) << report;
    EXPECT_GT(std::count(shot.begin(), shot.end(), 0xFF4020u), 100);
  }
}
