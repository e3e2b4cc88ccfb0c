// Paths drawn by the vectorgraphics engine through the vector plug-in on a 1920x1080 picture,
// next to cairo drawing the same paths straight onto an image surface of the same size in the
// same run, in alternating rounds. Half the paths are filled (stars and circles), half stroked
// (round-capped polylines), all anti-aliased; both pictures are compared once before timing.
#include <benchmark/benchmark.h>
#include <cairo.h>
#include <dlfcn.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "bench/side_by_side.h"
#include "display/safeblt.h"
#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "graphics/draw_style.h"
#include "graphics/vectorpath.h"
#include "graphics/vectorrender.h"

namespace {

constexpr int kW = 1920, kH = 1080, kPaths = 10000, kPoints = 8;


// One path: a star or polyline of whole-pixel points, or a circle; its box lies on whole pixels
// (round caps and joins reach exactly half the width), so that both sides place it alike.
struct Shape {
  bool fill, circle;
  std::vector<double> pts;  // x, y pairs; a circle: centre and radius
  uint32_t color;
};

std::vector<Shape> MakeShapes() {
  std::mt19937 random(12345);  // the same paths in every run
  auto below = [&](int n) { return int(random() % uint32_t(n)); };
  std::vector<Shape> shapes;
  for (int i = 0; i < kPaths; i++) {
    Shape s{i % 2 == 0, i % 6 == 0, {}, uint32_t(random()) & 0xFFFFFF};
    const int cx = 60 + below(kW - 120), cy = 60 + below(kH - 120);
    if (s.circle) {
      s.pts = {double(cx), double(cy), double(10 + below(40))};
    } else {
      for (int k = 0; k < kPoints; k++) {
        const double a = 2 * M_PI * k / kPoints, r = (k % 2 ? 15 : 45) + below(10);
        s.pts.push_back(cx + std::lround(r * std::cos(a)));
        s.pts.push_back(cy + std::lround(r * std::sin(a)));
      }
    }
    shapes.push_back(s);
  }
  return shapes;
}

const std::vector<Shape> &TheShapes() {
  static std::vector<Shape> s = MakeShapes();
  return s;
}

constexpr int kStrokeWidth = 4;

// ---- ours: the path stream, the renderer and the blit DrawPath uses ----

struct Ours {
  qmVectorEngine engine{};
  qmVectorState state{};
  qmBitmap *bitmap = AllocBitmap(kW, kH);
  std::vector<qmPath *> paths;
  qmDrawStyle filled{}, stroked{};
  Ours() {
    void *lib = dlopen(QM_VECTOR_PLUGIN, RTLD_NOW);
    if (!lib) {
      std::fprintf(stderr, "%s\n", dlerror());
      std::exit(1);
    }
    engine.getPathExtents = reinterpret_cast<qmGetPathExtentsFn>(dlsym(lib, "GetPathExtents"));
    engine.drawPath = reinterpret_cast<qmDrawPathFn>(dlsym(lib, "DrawPath"));
    state.join = state.cap = 1;  // round
    SetDefaultDrawStyle(&filled);
    filled.fillStyle = DRAWFILL_COLOR;
    filled.formStyle |= FORM_ANTIALIAS;
    stroked = filled;
    stroked.fillStyle = DRAWFILL_NONE;
    stroked.lineWidth = kStrokeWidth;
    FillBitmapRect(bitmap, 0, 0, kW, kH, 0);
    for (const Shape &s : TheShapes()) {
      qmPath *p;
      NewPath(&p);
      auto add = [&](uint32_t op, std::vector<qmPathOperand> ops) {
        AppendPathCommand(p, op, int32_t(ops.size()), ops.data());
      };
      auto num = [](double d) { return qmPathOperand{PATHARG_DOUBLE, 0, d, nullptr}; };
      auto word = [](uint32_t w) { return qmPathOperand{PATHARG_WORD, w, 0, nullptr}; };
      if (s.circle) {
        add(PATHOP_ARC, {num(s.pts[0]), num(s.pts[1]), num(s.pts[2]), num(s.pts[2]), num(0), num(360), word(1)});
      } else {
        for (size_t k = 0; k < s.pts.size(); k += 2)
          add(k ? PATHOP_LINE : PATHOP_MOVE, {word(0), num(s.pts[k]), num(s.pts[k + 1])});
        if (s.fill) add(PATHOP_CLOSE, {});
      }
      paths.push_back(p);
    }
  }
  ~Ours() {
    for (qmPath *p : paths) FreePathRecord(p);
    FreeBitmap(bitmap);
  }
  void Draw() {
    const std::vector<Shape> &shapes = TheShapes();
    for (size_t i = 0; i < shapes.size(); i++) {
      const qmPathPicture p{&engine, paths[i]->commands, &state, shapes[i].fill ? &filled : &stroked,
                            shapes[i].color, nullptr, nullptr, 0, 0};
      qmShapeImage img;
      qmPathBox box;
      if (RenderPathPicture(&p, &img, &box)) continue;
      qmSafeBlt b{};
      b.src = img.bitmap;
      b.dst = bitmap;
      b.dstX = img.x, b.dstY = img.y;
      b.width = b.srcWidth = img.bitmap->width;
      b.height = b.srcHeight = img.bitmap->height;
      b.dstWidth = kW, b.dstHeight = kH;
      b.flags = SAFEBLT_PIXELSONLY | SAFEBLT_NOCLIP;
      b.alpha = img.alpha;
      SafeBlt(nullptr, &b);
      FreeShapeImage(&img);
    }
  }
};

// ---- cairo straight onto the picture ----

struct Peer {
  cairo_surface_t *surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, kW, kH);
  cairo_t *cr = cairo_create(surface);
  Peer() {
    cairo_set_line_width(cr, kStrokeWidth);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_paint(cr);
  }
  ~Peer() {
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
  }
  void Draw() {
    for (const Shape &s : TheShapes()) {
      cairo_set_source_rgb(cr, ((s.color >> 16) & 255) / 255.0, ((s.color >> 8) & 255) / 255.0,
                           (s.color & 255) / 255.0);
      if (s.circle) {
        cairo_new_sub_path(cr);
        cairo_arc(cr, s.pts[0], s.pts[1], s.pts[2], 0, 2 * M_PI);
      } else {
        for (size_t k = 0; k < s.pts.size(); k += 2)
          (k ? cairo_line_to : cairo_move_to)(cr, s.pts[k], s.pts[k + 1]);
        if (s.fill) cairo_close_path(cr);
      }
      if (s.fill) cairo_fill(cr);
      else cairo_stroke(cr);
    }
    cairo_surface_flush(surface);
  }
};

// The two pictures agree but for the blends' rounding, which overlapping paths add up.
void CheckOnce() {
  static bool done = false;
  if (done) return;
  done = true;
  Ours o;
  Peer p;
  o.Draw();
  p.Draw();
  const uint8_t *data = cairo_image_surface_get_data(p.surface);
  const int stride = cairo_image_surface_get_stride(p.surface);
  int worst = 0;
  for (int y = 0; y < kH; y++)
    for (int x = 0; x < kW; x++) {
      const uint32_t ours = __builtin_bswap32(o.bitmap->pixels[int64_t(y) * (o.bitmap->bytesPerRow / 4) + x]);
      const uint32_t peer = *reinterpret_cast<const uint32_t *>(data + int64_t(y) * stride + 4 * x);
      for (int s = 0; s < 24; s += 8)
        worst = std::max(worst, std::abs(int((ours >> s) & 255) - int((peer >> s) & 255)));
    }
  if (worst > 8) {
    std::fprintf(stderr, "the pictures differ by up to %d per channel\n", worst);
    std::exit(1);
  }
}

// Both sides in alternating rounds (bench/side_by_side.h), process CPU time and wall time.
void PathsVersusCairo(benchmark::State &state) {
  CheckOnce();
  Ours o;
  Peer p;
  qmSideBySide s;
  for (auto _ : state) s.Round(state, [&] { o.Draw(); }, [&] { p.Draw(); });
  s.Report(state, "cairo");
  state.SetItemsProcessed(state.iterations() * kPaths);
}

// ---- one path of a million points, built and stroked ----

constexpr int kLongPoints = 1000000, kLongRow = 1000, kLongRowGap = 8;

// The points of a long polyline: a snake of rows of kLongRow points a pixel apart, each row
// kLongRowGap pixels below the last and run the other way, so that the stroke never meets
// itself (a path that crosses itself a million times costs cairo's tessellator far more than
// the points do).
double LongPoint(int i, int axis) {
  const int row = i / kLongRow, k = i % kLongRow;
  if (axis) return double(row * kLongRowGap) + 4.5;
  return double(row % 2 ? kLongRow - 1 - k : k) + 4.5;
}

// Ours: the path built a command at a time as LineTo builds it, then drawn as DrawPath draws
// it; the peer: cairo stroking the same points. Alternating rounds.
void LongPathVersusCairo(benchmark::State &state) {
  Ours o;
  cairo_surface_t *surface = cairo_image_surface_create(CAIRO_FORMAT_A8, kLongRow + 8, kLongPoints / kLongRow * kLongRowGap + 8);
  cairo_t *cr = cairo_create(surface);
  cairo_set_line_width(cr, kStrokeWidth);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  qmSideBySide s;
  for (auto _ : state)
    s.Round(
        state,
        [&] {
          qmPath *p;
          NewPath(&p);
          for (int i = 0; i < kLongPoints; i++) {
            const qmPathOperand ops[] = {{PATHARG_WORD, 0, 0, nullptr},
                                         {PATHARG_DOUBLE, 0, LongPoint(i, 0), nullptr},
                                         {PATHARG_DOUBLE, 0, LongPoint(i, 1), nullptr}};
            AppendPathCommand(p, i ? PATHOP_LINE : PATHOP_MOVE, 3, ops);
          }
          const qmPathPicture pic{&o.engine, p->commands, &o.state, &o.stroked, 0xFFFFFF, nullptr, nullptr, 0, 0};
          qmShapeImage img;
          qmPathBox box;
          if (RenderPathPicture(&pic, &img, &box) == 0) FreeShapeImage(&img);
          FreePathRecord(p);
        },
        [&] {
          for (int i = 0; i < kLongPoints; i++) (i ? cairo_line_to : cairo_move_to)(cr, LongPoint(i, 0), LongPoint(i, 1));
          cairo_stroke(cr);
        });
  s.Report(state, "cairo");
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
  state.SetItemsProcessed(state.iterations() * kLongPoints);
}

}  // namespace

BENCHMARK(PathsVersusCairo)->UseManualTime()->Iterations(11)->Unit(benchmark::kMillisecond);
BENCHMARK(LongPathVersusCairo)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
