// The draw library's shapes on a 1920x1080 picture, next to OpenCV's drawing calls on a cv::Mat
// of the same size and cairo on an image surface of the same size, with the same shapes in the
// same run, each peer alternating with ours round by round. Peers place edges and round coverage
// their own way: one picture of each side is compared once, loosely (the same shapes drawn).
#include <benchmark/benchmark.h>
#include <cairo.h>

#include <cmath>
#include <cstring>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "bench/side_by_side.h"
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

void OursBoxes(Ours &o, int) {
  for (const Box &b : TheShapes().boxes) FillTargetRect(&o.target, b.x, b.y, b.w, b.h, b.color);
}

void OursLines(Ours &o, int width) {
  for (const Segment &s : TheShapes().lines) {
    if (width == 1) {
      DrawTargetLine(&o.target, s.x1, s.y1, s.x2, s.y2, s.color, 1);
      continue;
    }
    qmDrawnRect drawn;
    DrawLineDirect(&o.target, s.x1, s.y1, s.x2, s.y2, s.color, width, 1, &drawn);
  }
}

void OursCircles(Ours &o, int) {
  for (const Box &c : TheShapes().circles) {
    qmShapeRequest req = Request(QMTYPE_CIRCLE, c.x, c.y, c.h, c.h, c.color, true);
    req.radiusX = req.radiusY = c.w;
    o.Shape(req);
  }
}

// The command's own reading: points relative to the polygon's box, closed.
struct PreparedPolygon {
  std::vector<double> pts;
  int x, y, w, h;
  uint32_t color;
};

const std::vector<PreparedPolygon> &PreparedPolygons() {
  static std::vector<PreparedPolygon> polys = [] {
    std::vector<PreparedPolygon> v;
    for (const Poly &p : TheShapes().polygons) {
      PreparedPolygon q{{}, 100000, 100000, 0, 0, p.color};
      int x1 = -100000, y1 = -100000;
      for (size_t i = 0; i < p.pts.size(); i += 2) {
        q.x = std::min(q.x, p.pts[i]), q.y = std::min(q.y, p.pts[i + 1]);
        x1 = std::max(x1, p.pts[i]), y1 = std::max(y1, p.pts[i + 1]);
      }
      for (size_t i = 0; i < p.pts.size(); i += 2) q.pts.push_back(p.pts[i] - q.x), q.pts.push_back(p.pts[i + 1] - q.y);
      q.pts.push_back(q.pts[0]), q.pts.push_back(q.pts[1]);
      q.w = x1 - q.x + 1, q.h = y1 - q.y + 1;
      v.push_back(q);
    }
    return v;
  }();
  return polys;
}

void OursPolygons(Ours &o, int) {
  for (const PreparedPolygon &p : PreparedPolygons()) {
    qmShapeRequest req = Request(QMTYPE_POLYGON, p.x, p.y, p.w, p.h, p.color, false);
    req.points = const_cast<double *>(p.pts.data()), req.pointCount = int32_t(p.pts.size() / 2);
    o.Shape(req);
  }
}

// ---- OpenCV on a cv::Mat ----

cv::Scalar CvColor(uint32_t c) { return cv::Scalar(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF, 255); }

void OpenCVBoxes(cv::Mat &m, int) {
  for (const Box &b : TheShapes().boxes)
    cv::rectangle(m, cv::Point(b.x, b.y), cv::Point(b.x + b.w - 1, b.y + b.h - 1), CvColor(b.color), cv::FILLED);
}

void OpenCVLines(cv::Mat &m, int width) {
  for (const Segment &s : TheShapes().lines)
    cv::line(m, cv::Point(s.x1, s.y1), cv::Point(s.x2, s.y2), CvColor(s.color), width, cv::LINE_AA);
}

void OpenCVCircles(cv::Mat &m, int) {
  for (const Box &c : TheShapes().circles)
    cv::circle(m, cv::Point(c.x + c.w, c.y + c.w), c.w, CvColor(c.color), cv::FILLED, cv::LINE_AA);
}

void OpenCVPolygons(cv::Mat &m, int) {
  static const std::vector<std::vector<cv::Point>> polys = [] {
    std::vector<std::vector<cv::Point>> v;
    for (const Poly &p : TheShapes().polygons) {
      std::vector<cv::Point> q;
      for (size_t i = 0; i < p.pts.size(); i += 2) q.emplace_back(p.pts[i], p.pts[i + 1]);
      v.push_back(q);
    }
    return v;
  }();
  for (size_t i = 0; i < polys.size(); i++)
    cv::fillPoly(m, std::vector<std::vector<cv::Point>>{polys[i]}, CvColor(TheShapes().polygons[i].color), cv::LINE_8);
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

void CairoBoxes(Cairo &c, int) {
  cairo_set_antialias(c.cr, CAIRO_ANTIALIAS_NONE);
  for (const Box &b : TheShapes().boxes) {
    c.Color(b.color);
    cairo_rectangle(c.cr, b.x, b.y, b.w, b.h);
    cairo_fill(c.cr);
  }
}

void CairoLines(Cairo &c, int width) {
  cairo_set_antialias(c.cr, CAIRO_ANTIALIAS_DEFAULT);
  cairo_set_line_width(c.cr, double(width));
  cairo_set_line_cap(c.cr, CAIRO_LINE_CAP_ROUND);  // as ours and OpenCV end a thick line
  for (const Segment &s : TheShapes().lines) {
    c.Color(s.color);
    cairo_move_to(c.cr, s.x1 + 0.5, s.y1 + 0.5);
    cairo_line_to(c.cr, s.x2 + 0.5, s.y2 + 0.5);
    cairo_stroke(c.cr);
  }
}

void CairoCircles(Cairo &c, int) {
  cairo_set_antialias(c.cr, CAIRO_ANTIALIAS_DEFAULT);
  for (const Box &b : TheShapes().circles) {
    c.Color(b.color);
    cairo_arc(c.cr, b.x + b.w + 0.5, b.y + b.w + 0.5, b.w, 0, 2 * M_PI);
    cairo_fill(c.cr);
  }
}

void CairoPolygons(Cairo &c, int) {
  cairo_set_antialias(c.cr, CAIRO_ANTIALIAS_NONE);
  for (const Poly &p : TheShapes().polygons) {
    c.Color(p.color);
    cairo_move_to(c.cr, p.pts[0], p.pts[1]);
    for (size_t i = 2; i < p.pts.size(); i += 2) cairo_line_to(c.cr, p.pts[i], p.pts[i + 1]);
    cairo_close_path(c.cr);
    cairo_fill(c.cr);
  }
}

// ---- side by side ----

// The share of pixels (in per cent) whose colours lie more than a quarter of the range apart:
// the peers place edges and round coverage their own way, so the pictures agree only where
// the same shapes were drawn.
double PercentApart(const qmBitmap *ours, const uint8_t *peer, int peerStride) {
  int64_t apart = 0;
  for (int y = 0; y < kH; y++)
    for (int x = 0; x < kW; x++) {
      // Ours holds the bytes A, R, G, B; the peers a native 0xAARRGGBB word.
      const uint32_t a = __builtin_bswap32(ours->pixels[int64_t(y) * (ours->bytesPerRow / 4) + x]);
      const uint32_t b = *reinterpret_cast<const uint32_t *>(peer + int64_t(y) * peerStride + 4 * x);
      for (int shift = 0; shift < 24; shift += 8)
        if (std::abs(int((a >> shift) & 255) - int((b >> shift) & 255)) > 64) {
          apart++;
          break;
        }
    }
  return 100.0 * double(apart) / (double(kW) * kH);
}

// Per cent. Thousands of overlapping anti-aliased shapes pile up edge differences (a thick line's
// ends are round in one peer and square in another), so only a picture mostly apart means
// other shapes were drawn.
constexpr double kMostApart = 50;

// Ours beside one peer in alternating rounds (bench/side_by_side.h), after one picture of each
// was compared.
template <typename Peer>
void Versus(benchmark::State &state, void (*ours)(Ours &, int), void (*peer)(Peer &, int), Peer &target,
            const uint8_t *pixels, int stride, const char *peerName, int items) {
  const int arg = int(state.range(0));
  Ours o;
  // A new picture is not cleared: it may hold an earlier bench's pixels, where the peers' are 0.
  std::memset(o.bitmap->pixels, 0, size_t(o.bitmap->bytesPerRow) * size_t(kH));
  ours(o, arg);
  peer(target, arg);
  const double apart = PercentApart(o.bitmap, pixels, stride);
  state.counters["pixels_apart_pct"] = apart;
  if (apart > kMostApart) return state.SkipWithError("the peer drew other shapes");
  qmSideBySide s;
  for (auto _ : state) s.Round(state, [&] { ours(o, arg); }, [&] { peer(target, arg); });
  s.Report(state, peerName);
  state.SetItemsProcessed(state.iterations() * items);
}

void VersusOpenCV(benchmark::State &state, void (*ours)(Ours &, int), void (*peer)(cv::Mat &, int), int items) {
  cv::Mat m(kH, kW, CV_8UC4, cv::Scalar::all(0));
  Versus<cv::Mat>(state, ours, peer, m, m.data, int(m.step), "opencv", items);
}

void VersusCairo(benchmark::State &state, void (*ours)(Ours &, int), void (*peer)(Cairo &, int), int items) {
  Cairo c;
  cairo_surface_flush(c.surface);
  Versus<Cairo>(state, ours, peer, c, cairo_image_surface_get_data(c.surface), cairo_image_surface_get_stride(c.surface),
                "cairo", items);
}

}  // namespace

#define QM_DRAW_PAIR(name, ours, opencv, cairo, items, ...)                                                  \
  BENCHMARK_CAPTURE(VersusOpenCV, name, ours, opencv, items)->__VA_ARGS__->UseManualTime()->Iterations(9)->Unit(benchmark::kMillisecond); \
  BENCHMARK_CAPTURE(VersusCairo, name, ours, cairo, items)->__VA_ARGS__->UseManualTime()->Iterations(9)->Unit(benchmark::kMillisecond)
QM_DRAW_PAIR(boxes, OursBoxes, OpenCVBoxes, CairoBoxes, kBoxes, Arg(0));
QM_DRAW_PAIR(lines, OursLines, OpenCVLines, CairoLines, kLines, Arg(1)->Arg(5));
QM_DRAW_PAIR(circles, OursCircles, OpenCVCircles, CairoCircles, kCircles, Arg(0));
QM_DRAW_PAIR(polygons, OursPolygons, OpenCVPolygons, CairoPolygons, kPolygons, Arg(0));
