// The draw library's shapes on a 1920x1080 picture, next to OpenCV's drawing calls on a cv::Mat
// of the same size and cairo on an image surface of the same size, with the same shapes in the
// same run. Peers place edges and round coverage their own way: this compares speed only.
#include <benchmark/benchmark.h>
#include <cairo.h>

#include <cmath>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "graphics/bitmap.h"
#include "graphics/draw_style.h"
#include "graphics/shape_render.h"
#include "display/safeblt.h"
#include "runtime/objtypes.h"

namespace {

constexpr int kW = 1920, kH = 1080;
constexpr int kBoxes = 10000, kLines = 10000, kCircles = 1000, kPolygons = 1000, kPolygonPoints = 20;

uint32_t Hash(uint32_t x) {
  x ^= x >> 16;
  x *= 0x7feb352d;
  x ^= x >> 15;
  x *= 0x846ca68b;
  return x ^ (x >> 16);
}
int Rand(uint32_t i, int n) { return int(Hash(i) % uint32_t(n)); }

struct Box {
  int x, y, w, h;
  uint32_t color;
};
struct Segment {
  int x1, y1, x2, y2;
  uint32_t color;
};
struct Poly {
  std::vector<int32_t> pts;  // x, y pairs, relative to the picture
  uint32_t color;
};

// The same shapes for everyone.
struct Shapes {
  std::vector<Box> boxes, circles;  // circles: x, y is the box's top-left, w the radius
  std::vector<Segment> lines;
  std::vector<Poly> polygons;
  Shapes() {
    for (int i = 0; i < kBoxes; i++)
      boxes.push_back({Rand(4 * i, kW - 100), Rand(4 * i + 1, kH - 100), 1 + Rand(4 * i + 2, 100),
                       1 + Rand(4 * i + 3, 100), Hash(i) & 0xFFFFFF});
    for (int i = 0; i < kLines; i++)
      lines.push_back({Rand(7 * i, kW), Rand(7 * i + 1, kH), Rand(7 * i + 2, kW), Rand(7 * i + 3, kH),
                       Hash(i + 9) & 0xFFFFFF});
    for (int i = 0; i < kCircles; i++)
      circles.push_back({Rand(5 * i, kW - 101), Rand(5 * i + 1, kH - 101), 50, 101, Hash(i + 3) & 0xFFFFFF});
    for (int i = 0; i < kPolygons; i++) {
      Poly p;
      const int cx = 100 + Rand(11 * i, kW - 200), cy = 100 + Rand(11 * i + 1, kH - 200);
      for (int k = 0; k < kPolygonPoints; k++) {
        // A star-like ring: radius 40..100 at even angle steps, so the outline never crosses.
        const double a = 2 * M_PI * k / kPolygonPoints, r = 40 + Rand(97 * i + k, 60);
        p.pts.push_back(cx + int(r * std::cos(a)));
        p.pts.push_back(cy + int(r * std::sin(a)));
      }
      p.color = Hash(i + 5) & 0xFFFFFF;
      polygons.push_back(p);
    }
  }
};
const Shapes &TheShapes() {
  static Shapes s;
  return s;
}

// ---- ours: the engine the draw commands call ----

struct Ours {
  qmBitmap *bitmap = AllocBitmap(kW, kH);
  qmDrawTarget target{};
  Ours() {
    InitDrawTables();
    target.bitmap = bitmap;
    target.clipWidth = kW, target.clipHeight = kH;
    target.maskMode = 2;
    target.alphaValue = -1;
  }
  ~Ours() {
    FreeBitmap(bitmap);
    FreeDrawBuffers();
  }
  void Blit(const qmShapeImage &img) {
    qmSafeBlt b{};
    b.src = img.bitmap;
    b.dst = bitmap;
    b.dstX = img.x, b.dstY = img.y;
    b.width = b.srcWidth = img.bitmap->width;
    b.height = b.srcHeight = img.bitmap->height;
    b.dstWidth = kW, b.dstHeight = kH;
    b.flags = SAFEBLT_PIXELSONLY | SAFEBLT_NOCLIP;
    b.mask = img.mask, b.alpha = img.alpha;
    SafeBlt(nullptr, &b);
  }
  // As the draw commands choose: straight in when nothing has to be composed first.
  void Shape(qmShapeRequest &req) {
    qmDrawnRect drawn;
    if (CanDrawShapeDirect(&req)) {
      DrawShapeDirect(&req, &target, &drawn);
      return;
    }
    qmShapeImage img;
    if (RenderShapeImage(&req, nullptr, &img) == 0) {
      Blit(img);
      FreeShapeImage(&img);
    }
  }
};

qmShapeRequest Request(int32_t type, int x, int y, int w, int h, uint32_t color, bool antialias) {
  qmShapeRequest r{};
  r.type = type, r.x = x, r.y = y, r.width = w, r.height = h, r.color = color;
  r.matrix[0] = r.matrix[3] = 1;
  SetDefaultDrawStyle(&r.style);
  r.style.fillStyle = DRAWFILL_COLOR;
  if (antialias) r.style.formStyle |= FORM_ANTIALIAS;
  return r;
}

void OursBoxes(benchmark::State &state) {
  Ours o;
  for (auto _ : state)
    for (const Box &b : TheShapes().boxes) FillTargetRect(&o.target, b.x, b.y, b.w, b.h, b.color);
  state.SetItemsProcessed(state.iterations() * kBoxes);
}

void OursLines(benchmark::State &state) {
  Ours o;
  const int width = int(state.range(0));
  for (auto _ : state)
    for (const Segment &s : TheShapes().lines) {
      if (width == 1) {
        DrawTargetLine(&o.target, s.x1, s.y1, s.x2, s.y2, s.color, 1);
        continue;
      }
      qmDrawnRect drawn;
      DrawLineDirect(&o.target, s.x1, s.y1, s.x2, s.y2, s.color, width, 1, &drawn);
    }
  state.SetItemsProcessed(state.iterations() * kLines);
}

void OursCircles(benchmark::State &state) {
  Ours o;
  for (auto _ : state)
    for (const Box &c : TheShapes().circles) {
      qmShapeRequest req = Request(QMTYPE_CIRCLE, c.x, c.y, c.h, c.h, c.color, true);
      req.radiusX = req.radiusY = c.w;
      o.Shape(req);
    }
  state.SetItemsProcessed(state.iterations() * kCircles);
}

void OursPolygons(benchmark::State &state) {
  Ours o;
  // The command's own reading: points relative to the polygon's box, closed.
  struct Prepared {
    std::vector<double> pts;
    int x, y, w, h;
    uint32_t color;
  };
  std::vector<Prepared> polys;
  for (const Poly &p : TheShapes().polygons) {
    Prepared q{{}, 100000, 100000, 0, 0, p.color};
    int x1 = -100000, y1 = -100000;
    for (size_t i = 0; i < p.pts.size(); i += 2) {
      q.x = std::min(q.x, p.pts[i]), q.y = std::min(q.y, p.pts[i + 1]);
      x1 = std::max(x1, p.pts[i]), y1 = std::max(y1, p.pts[i + 1]);
    }
    for (size_t i = 0; i < p.pts.size(); i += 2) q.pts.push_back(p.pts[i] - q.x), q.pts.push_back(p.pts[i + 1] - q.y);
    q.pts.push_back(q.pts[0]), q.pts.push_back(q.pts[1]);
    q.w = x1 - q.x + 1, q.h = y1 - q.y + 1;
    polys.push_back(q);
  }
  for (auto _ : state)
    for (const Prepared &p : polys) {
      qmShapeRequest req = Request(QMTYPE_POLYGON, p.x, p.y, p.w, p.h, p.color, false);
      req.points = p.pts.data(), req.pointCount = int32_t(p.pts.size() / 2);
      o.Shape(req);
    }
  state.SetItemsProcessed(state.iterations() * kPolygons);
}

// ---- OpenCV on a cv::Mat ----

cv::Scalar CvColor(uint32_t c) { return cv::Scalar(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF, 255); }

void OpenCVBoxes(benchmark::State &state) {
  cv::Mat m(kH, kW, CV_8UC4, cv::Scalar::all(0));
  for (auto _ : state)
    for (const Box &b : TheShapes().boxes)
      cv::rectangle(m, cv::Point(b.x, b.y), cv::Point(b.x + b.w - 1, b.y + b.h - 1), CvColor(b.color), cv::FILLED);
  state.SetItemsProcessed(state.iterations() * kBoxes);
}

void OpenCVLines(benchmark::State &state) {
  cv::Mat m(kH, kW, CV_8UC4, cv::Scalar::all(0));
  const int width = int(state.range(0));
  for (auto _ : state)
    for (const Segment &s : TheShapes().lines)
      cv::line(m, cv::Point(s.x1, s.y1), cv::Point(s.x2, s.y2), CvColor(s.color), width, cv::LINE_AA);
  state.SetItemsProcessed(state.iterations() * kLines);
}

void OpenCVCircles(benchmark::State &state) {
  cv::Mat m(kH, kW, CV_8UC4, cv::Scalar::all(0));
  for (auto _ : state)
    for (const Box &c : TheShapes().circles)
      cv::circle(m, cv::Point(c.x + c.w, c.y + c.w), c.w, CvColor(c.color), cv::FILLED, cv::LINE_AA);
  state.SetItemsProcessed(state.iterations() * kCircles);
}

void OpenCVPolygons(benchmark::State &state) {
  cv::Mat m(kH, kW, CV_8UC4, cv::Scalar::all(0));
  std::vector<std::vector<cv::Point>> polys;
  for (const Poly &p : TheShapes().polygons) {
    std::vector<cv::Point> v;
    for (size_t i = 0; i < p.pts.size(); i += 2) v.emplace_back(p.pts[i], p.pts[i + 1]);
    polys.push_back(v);
  }
  for (auto _ : state)
    for (size_t i = 0; i < polys.size(); i++)
      cv::fillPoly(m, std::vector<std::vector<cv::Point>>{polys[i]}, CvColor(TheShapes().polygons[i].color), cv::LINE_8);
  state.SetItemsProcessed(state.iterations() * kPolygons);
}

// ---- cairo on an image surface ----

struct Cairo {
  cairo_surface_t *surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kW, kH);
  cairo_t *cr = cairo_create(surface);
  ~Cairo() {
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
  }
  void Color(uint32_t c) { cairo_set_source_rgb(cr, ((c >> 16) & 0xFF) / 255.0, ((c >> 8) & 0xFF) / 255.0, (c & 0xFF) / 255.0); }
};

void CairoBoxes(benchmark::State &state) {
  Cairo c;
  cairo_set_antialias(c.cr, CAIRO_ANTIALIAS_NONE);
  for (auto _ : state)
    for (const Box &b : TheShapes().boxes) {
      c.Color(b.color);
      cairo_rectangle(c.cr, b.x, b.y, b.w, b.h);
      cairo_fill(c.cr);
    }
  state.SetItemsProcessed(state.iterations() * kBoxes);
}

void CairoLines(benchmark::State &state) {
  Cairo c;
  cairo_set_line_width(c.cr, double(state.range(0)));
  for (auto _ : state)
    for (const Segment &s : TheShapes().lines) {
      c.Color(s.color);
      cairo_move_to(c.cr, s.x1 + 0.5, s.y1 + 0.5);
      cairo_line_to(c.cr, s.x2 + 0.5, s.y2 + 0.5);
      cairo_stroke(c.cr);
    }
  state.SetItemsProcessed(state.iterations() * kLines);
}

void CairoCircles(benchmark::State &state) {
  Cairo c;
  for (auto _ : state)
    for (const Box &b : TheShapes().circles) {
      c.Color(b.color);
      cairo_arc(c.cr, b.x + b.w + 0.5, b.y + b.w + 0.5, b.w, 0, 2 * M_PI);
      cairo_fill(c.cr);
    }
  state.SetItemsProcessed(state.iterations() * kCircles);
}

void CairoPolygons(benchmark::State &state) {
  Cairo c;
  cairo_set_antialias(c.cr, CAIRO_ANTIALIAS_NONE);
  for (auto _ : state)
    for (const Poly &p : TheShapes().polygons) {
      c.Color(p.color);
      cairo_move_to(c.cr, p.pts[0], p.pts[1]);
      for (size_t i = 2; i < p.pts.size(); i += 2) cairo_line_to(c.cr, p.pts[i], p.pts[i + 1]);
      cairo_close_path(c.cr);
      cairo_fill(c.cr);
    }
  state.SetItemsProcessed(state.iterations() * kPolygons);
}

}  // namespace

BENCHMARK(OursBoxes)->Unit(benchmark::kMillisecond);
BENCHMARK(OpenCVBoxes)->Unit(benchmark::kMillisecond);
BENCHMARK(CairoBoxes)->Unit(benchmark::kMillisecond);
BENCHMARK(OursLines)->Arg(1)->Arg(5)->Unit(benchmark::kMillisecond);
BENCHMARK(OpenCVLines)->Arg(1)->Arg(5)->Unit(benchmark::kMillisecond);
BENCHMARK(CairoLines)->Arg(1)->Arg(5)->Unit(benchmark::kMillisecond);
BENCHMARK(OursCircles)->Unit(benchmark::kMillisecond);
BENCHMARK(OpenCVCircles)->Unit(benchmark::kMillisecond);
BENCHMARK(CairoCircles)->Unit(benchmark::kMillisecond);
BENCHMARK(OursPolygons)->Unit(benchmark::kMillisecond);
BENCHMARK(OpenCVPolygons)->Unit(benchmark::kMillisecond);
BENCHMARK(CairoPolygons)->Unit(benchmark::kMillisecond);
