// The player's vector plug-in: path command streams measured and drawn by cairo, straight into
// the player's 8-bit coverage planes, and text outlines through cairo's FreeType faces.
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <cstring>

#include "graphics/vector_requests.h"
#include "graphics/vectorpath.h"
#include "player/plugin_api.h"
#include "player/vectorcairo/cairo_library.h"

#define QM_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// cairo, once a request has needed it; null before, and where cairo is missing.
const qmCairoFunctions *gCairo;

// Opens cairo for the request that needs it first: whether it is there.
bool CairoReady() {
  if (!gCairo) gCairo = CairoLibrary();
  return gCairo != nullptr;
}

// Vector fonts are handed out as small numbers: the stream keeps them in 32-bit words.
constexpr int kFontSlots = 256;
cairo_font_face_t *gFonts[kFontSlots + 1];  // slot 0 unused

// Each vector font opens its own FreeType face of the player's font file or memory, so that it
// outlives the player's font: cairo keeps faces in its caches after they are released, and
// frees the face with its last use.
FT_Library gFreeType;
struct OwnFace {
  FT_Face face;
  unsigned char *bytes;  // a memory face's copy, or null
};
const cairo_user_data_key_t kOwnFaceKey{};

void DropOwnFace(void *data) {
  auto *own = static_cast<OwnFace *>(data);
  FT_Done_Face(own->face);
  delete[] own->bytes;
  delete own;
}

// A face of its own for the player's face: from the same file, or from a copy of its memory.
OwnFace *OpenOwnFace(FT_Face theirs) {
  if (!gFreeType && FT_Init_FreeType(&gFreeType)) return nullptr;
  FT_Stream stream = theirs->stream;
  auto *own = new OwnFace{};
  FT_Error e;
  if (stream->base && stream->size) {
    own->bytes = new unsigned char[stream->size];
    std::memcpy(own->bytes, stream->base, stream->size);
    e = FT_New_Memory_Face(gFreeType, own->bytes, FT_Long(stream->size), theirs->face_index, &own->face);
  } else if (stream->pathname.pointer) {
    e = FT_New_Face(gFreeType, static_cast<const char *>(stream->pathname.pointer), theirs->face_index, &own->face);
  } else {
    e = 1;
  }
  if (e) {
    delete[] own->bytes;
    delete own;
    return nullptr;
  }
  return own;
}

struct Reader {
  uint8_t *at;
  uint32_t Word() {
    uint32_t w;
    std::memcpy(&w, at, 4);
    at += 4;
    return w;
  }
  double Number() {
    double d;
    std::memcpy(&d, at, 8);
    at += 8;
    return d;
  }
  // The number's place, for rewriting it.
  uint8_t *NumberPlace() {
    uint8_t *p = at;
    at += 8;
    return p;
  }
  const char *Text() {
    const char *t = reinterpret_cast<const char *>(at);
    at += ((std::strlen(t) + 1) & ~size_t(3)) + 4;
    return t;
  }
};

void Move(uint8_t *place, double by) {
  double d;
  std::memcpy(&d, place, 8);
  d += by;
  std::memcpy(place, &d, 8);
}

void RoundedBox(cairo_t *cr, double x, double y, double w, double h, const uint32_t level[4]) {
  if (w < 0) x += w, w = -w;
  if (h < 0) y += h, h = -h;
  // Levels are per cent of half the shorter side: top-left, bottom-left, bottom-right, top-right.
  double r[4];
  for (int i = 0; i < 4; i++) r[i] = std::min(level[i], 100u) / 100.0 * std::min(w, h) / 2;
  const double quarter = M_PI / 2;
  gCairo->cairo_new_sub_path(cr);
  gCairo->cairo_move_to(cr, x + r[0], y);
  if (r[3] > 0) gCairo->cairo_arc(cr, x + w - r[3], y + r[3], r[3], -quarter, 0);
  else gCairo->cairo_line_to(cr, x + w, y);
  if (r[2] > 0) gCairo->cairo_arc(cr, x + w - r[2], y + h - r[2], r[2], 0, quarter);
  else gCairo->cairo_line_to(cr, x + w, y + h);
  if (r[1] > 0) gCairo->cairo_arc(cr, x + r[1], y + h - r[1], r[1], quarter, 2 * quarter);
  else gCairo->cairo_line_to(cr, x, y + h);
  if (r[0] > 0) gCairo->cairo_arc(cr, x + r[0], y + r[0], r[0], 2 * quarter, 3 * quarter);
  else gCairo->cairo_line_to(cr, x, y);
  gCairo->cairo_close_path(cr);
}

// How far an arc turns from start to end (degrees) in its direction: an end behind the start
// counts from the start's next turn, and more than one turn draws one turn, so that the work
// does not grow with the numbers.
double ArcSweep(double start, double end, bool clockwise) {
  double sweep = clockwise ? end - start : start - end;
  if (sweep < 0) {
    sweep = std::fmod(sweep, 360.0);
    if (sweep < 0) sweep += 360;
  }
  return std::min(sweep, 360.0);
}

// cairo keeps points in 24.8 fixed point, +-2^23 pixels, and wraps what lies beyond; the steps
// it splits a round shape into grow without bound with its size in pixels (an arc's or a round
// pen's). Points past +-2^22 pixels and round shapes past 2^22 pixels across are refused rather
// than drawn wrongly or forever (an arc about a point in range then stays in range).
constexpr double kLargestRound = 1 << 22;

// Whether the user-space points land within cairo's range.
bool InRange(cairo_t *cr, const double *v, int n) {
  for (int i = 0; i + 1 < n; i += 2) {
    double x = v[i], y = v[i + 1];
    gCairo->cairo_user_to_device(cr, &x, &y);
    if (!(std::fabs(x) <= kLargestRound && std::fabs(y) <= kLargestRound)) return false;
  }
  return true;
}

// How far the current matrix stretches a unit length at most (its norm, never below the
// largest stretch).
double MatrixStretch(cairo_t *cr) {
  cairo_matrix_t m;
  gCairo->cairo_get_matrix(cr, &m);
  return std::sqrt(m.xx * m.xx + m.xy * m.xy + m.yx * m.yx + m.yy * m.yy);
}

// False when the arc's radii make no drawable scale.
bool EllipticArc(cairo_t *cr, double cx, double cy, double rx, double ry, double start, double end, bool clockwise,
                 bool joinCurrent) {
  if (!(rx > 0 && ry > 0)) return true;
  if (!std::isfinite(rx * ry)) return false;
  if (!(rx * ry > 0)) return true;  // too small to be seen
  const double sweep = ArcSweep(start, end, clockwise);
  // The start brought into one turn: far angles keep their place, and the sum below stays exact
  // enough.
  start = std::fmod(start, 360.0);
  end = clockwise ? start + sweep : start - sweep;
  if (!joinCurrent) gCairo->cairo_new_sub_path(cr);
  gCairo->cairo_save(cr);
  gCairo->cairo_translate(cr, cx, cy);
  gCairo->cairo_scale(cr, rx, ry);
  if (!(MatrixStretch(cr) <= kLargestRound)) {
    gCairo->cairo_restore(cr);
    return false;
  }
  // Angles in degrees; with y growing downwards cairo's positive direction turns clockwise.
  const double a = start * M_PI / 180, b = end * M_PI / 180;
  if (clockwise) gCairo->cairo_arc(cr, 0, 0, 1, a, b);
  else gCairo->cairo_arc_negative(cr, 0, 0, 1, a, b);
  gCairo->cairo_restore(cr);
  return true;
}

// Font sizes past this draw nothing: no font of the player is that large.
constexpr uint32_t kLargestFontSize = 32767;

// False when the text's letters would be too large for cairo's range.
bool TextOutline(cairo_t *cr, uint32_t font, uint32_t size, const char *text) {
  if (font == 0 || font > uint32_t(kFontSlots) || !gFonts[font]) return true;
  if (size == 0 || size > kLargestFontSize) return true;
  if (!(MatrixStretch(cr) * size <= kLargestRound)) return false;
  gCairo->cairo_set_font_face(cr, gFonts[font]);
  gCairo->cairo_set_font_size(cr, size);
  // Outlines are not fitted to the pixel grid: the path may be moved, scaled or turned later.
  cairo_font_options_t *options = gCairo->cairo_font_options_create();
  gCairo->cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
  gCairo->cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
  gCairo->cairo_set_font_options(cr, options);
  gCairo->cairo_font_options_destroy(options);
  if (!gCairo->cairo_has_current_point(cr)) {
    cairo_font_extents_t fe;
    gCairo->cairo_font_extents(cr, &fe);
    gCairo->cairo_move_to(cr, 0, fe.ascent);
  }
  gCairo->cairo_text_path(cr, text);
  return true;
}

bool AllFinite(const double *v, int n) {
  for (int i = 0; i < n; i++)
    if (!std::isfinite(v[i])) return false;
  return true;
}

// The stream as cairo's current path, every coordinate moved by (dx, dy). False for an opcode
// it does not know, or a number that is NaN or infinite (cairo's own checks would abort the
// process on some of them).
bool BuildPath(cairo_t *cr, const uint8_t *commands, double dx, double dy) {
  gCairo->cairo_new_path(cr);
  if (!std::isfinite(dx) || !std::isfinite(dy)) return false;
  Reader r{const_cast<uint8_t *>(commands)};
  uint32_t previous = PATHOP_END;
  for (;;) {
    const uint32_t op = r.Word();
    switch (op) {
    case PATHOP_END: return true;
    case PATHOP_MOVE:
    case PATHOP_LINE:
    case PATHOP_CURVE: {
      const bool relative = r.Word() != 0;
      double v[6];
      const int n = op == PATHOP_CURVE ? 6 : 2;
      for (int i = 0; i < n; i++) v[i] = r.Number();
      if (!AllFinite(v, n)) return false;
      // Relative to the current point, or to the origin when there is none yet.
      double bx = dx, by = dy;
      if (relative && gCairo->cairo_has_current_point(cr)) gCairo->cairo_get_current_point(cr, &bx, &by);
      if (!relative) bx = dx, by = dy;
      for (int i = 0; i < n; i += 2) v[i] += bx, v[i + 1] += by;
      if (!AllFinite(v, n) || !InRange(cr, v, n)) return false;
      if (op == PATHOP_MOVE) gCairo->cairo_move_to(cr, v[0], v[1]);
      else if (op == PATHOP_LINE) gCairo->cairo_line_to(cr, v[0], v[1]);
      else gCairo->cairo_curve_to(cr, v[0], v[1], v[2], v[3], v[4], v[5]);
      break;
    }
    case PATHOP_SUBPATH: gCairo->cairo_new_sub_path(cr); break;
    case PATHOP_CLOSE: gCairo->cairo_close_path(cr); break;
    case PATHOP_ARC: {
      double v[6];
      for (double &d : v) d = r.Number();
      const uint32_t clockwise = r.Word();
      v[0] += dx, v[1] += dy;
      if (!AllFinite(v, 6) || !InRange(cr, v, 2)) return false;
      // A move just before joins the arc to it (a pie slice); otherwise the arc starts apart.
      if (!EllipticArc(cr, v[0], v[1], v[2], v[3], v[4], v[5], clockwise != 0, previous == PATHOP_MOVE)) return false;
      break;
    }
    case PATHOP_BOX: {
      double v[4];
      for (double &d : v) d = r.Number();
      uint32_t level[4];
      for (uint32_t &l : level) l = r.Word();
      v[0] += dx, v[1] += dy;
      const double corners[8] = {v[0], v[1], v[0] + v[2], v[1], v[0] + v[2], v[1] + v[3], v[0], v[1] + v[3]};
      if (!AllFinite(v, 4) || !AllFinite(corners, 8) || !InRange(cr, corners, 8)) return false;
      RoundedBox(cr, v[0], v[1], v[2], v[3], level);
      break;
    }
    case PATHOP_TEXT: {
      const uint32_t font = r.Word(), size = r.Word();
      if (!TextOutline(cr, font, size, r.Text())) return false;
      break;
    }
    default: return false;
    }
    previous = op;
  }
}

bool DashesUsable(const qmVectorStyle *s) {
  if (s->dashCount <= 0 || !s->dashes) return false;
  bool any = false;
  for (int32_t i = 0; i < s->dashCount; i++) {
    if (!(s->dashes[i] >= 0) || !std::isfinite(s->dashes[i])) return false;
    any = any || s->dashes[i] > 0;
  }
  return any;
}

// The style's settings, each brought into what cairo takes. False when the pen, through the
// current matrix, is too large to draw.
bool ApplyStyle(cairo_t *cr, const qmVectorStyle *s, int32_t lineWidth) {
  gCairo->cairo_set_line_join(cr, cairo_line_join_t(std::clamp(s->join, 0, 2)));
  gCairo->cairo_set_line_cap(cr, cairo_line_cap_t(std::clamp(s->cap, 0, 2)));
  gCairo->cairo_set_fill_rule(cr, cairo_fill_rule_t(std::clamp(s->fillRule, 0, 1)));
  gCairo->cairo_set_line_width(cr, std::max(lineWidth, 1));
  gCairo->cairo_set_antialias(cr, s->antialias ? CAIRO_ANTIALIAS_DEFAULT : CAIRO_ANTIALIAS_NONE);
  if (DashesUsable(s)) gCairo->cairo_set_dash(cr, s->dashes, s->dashCount, std::isfinite(s->dashOffset) ? s->dashOffset : 0);
  return MatrixStretch(cr) * std::max(lineWidth, 1) <= kLargestRound;
}

// A context for measuring: a surface of one pixel, which no drawing touches.
struct Measure {
  cairo_surface_t *surface = gCairo->cairo_image_surface_create(CAIRO_FORMAT_A8, 1, 1);
  cairo_t *cr = gCairo->cairo_create(surface);
  ~Measure() {
    gCairo->cairo_destroy(cr);
    gCairo->cairo_surface_destroy(surface);
  }
  bool Ok() const { return gCairo->cairo_status(cr) == CAIRO_STATUS_SUCCESS; }
};

}  // namespace

QM_EXPORT int InitPlugin(qmPluginInfo *info, const qmHostTable *, const char *) {
  info->features = PLUGINFEAT_VECTOR;
  info->version = 1;
  info->revision = 0;
  info->name = "vectorcairo";
  info->info1 = "Quenmoor team";
  info->info2to8[0] = "Vector paths drawn by cairo";
  return 1;
}

QM_EXPORT void ClosePlugin(void) {
  if (!gCairo) return;  // no font was made without it
  for (cairo_font_face_t *&f : gFonts) {
    if (f) gCairo->cairo_font_face_destroy(f);
    f = nullptr;
  }
}

QM_EXPORT int32_t GetPathExtents(qmPathExtentsRequest *q) {
  if (!q || !q->commands || !q->style || !CairoReady()) return 0;
  Measure m;
  if (!m.Ok()) return 0;
  if (!ApplyStyle(m.cr, q->style, q->lineWidth)) return 0;
  if (!BuildPath(m.cr, q->commands, q->offsetX, q->offsetY)) return 0;
  if (q->fill) gCairo->cairo_fill_extents(m.cr, &q->x1, &q->y1, &q->x2, &q->y2);
  else gCairo->cairo_stroke_extents(m.cr, &q->x1, &q->y1, &q->x2, &q->y2);
  const double box[4] = {q->x1, q->y1, q->x2, q->y2};
  return m.Ok() && AllFinite(box, 4) ? 1 : 0;
}

QM_EXPORT int32_t DrawPath(qmDrawPathRequest *q) {
  if (!q || !q->commands || !q->style || !q->alpha || !q->matrix) return 0;
  if (q->width < 1 || q->height < 1 || q->bytesPerRow < q->width || q->bytesPerRow % 4) return 0;
  const double place[6] = {q->offsetX, q->offsetY, q->originX, q->originY, q->matrix[4], q->matrix[5]};
  if (!AllFinite(q->matrix, 4) || !AllFinite(place, 6) || !CairoReady()) return 0;
  cairo_surface_t *surface =
      gCairo->cairo_image_surface_create_for_data(q->alpha, CAIRO_FORMAT_A8, q->width, q->height, q->bytesPerRow);
  cairo_t *cr = gCairo->cairo_create(surface);
  const double *m = q->matrix;
  cairo_matrix_t mx;
  gCairo->cairo_matrix_init(&mx, m[0], m[1], m[2], m[3], m[4] + q->offsetX, m[5] + q->offsetY);
  gCairo->cairo_set_matrix(cr, &mx);
  gCairo->cairo_translate(cr, -q->originX, -q->originY);
  bool ok = ApplyStyle(cr, q->style, q->lineWidth);
  // The colour's top byte is its transparency.
  gCairo->cairo_set_source_rgba(cr, 0, 0, 0, (255 - (q->color >> 24)) / 255.0);
  ok = ok && BuildPath(cr, q->commands, 0, 0);
  if (ok) {
    if (q->fill) gCairo->cairo_fill(cr);
    else gCairo->cairo_stroke(cr);
  }
  ok = ok && gCairo->cairo_status(cr) == CAIRO_STATUS_SUCCESS;
  gCairo->cairo_destroy(cr);
  gCairo->cairo_surface_flush(surface);
  gCairo->cairo_surface_destroy(surface);
  return ok ? 1 : 0;
}

namespace {

// One pass of TranslatePath over the stream: with apply false it only checks that every moved
// coordinate stays a number (so that a refused move leaves the stream as it was).
bool MoveStream(uint8_t *commands, double dx, double dy, bool apply) {
  Reader r{commands};
  bool hasPoint = false;
  auto move = [&](uint8_t *x, uint8_t *y) {
    double p[2];
    std::memcpy(&p[0], x, 8);
    std::memcpy(&p[1], y, 8);
    p[0] += dx, p[1] += dy;
    if (!AllFinite(p, 2)) return false;
    if (apply) Move(x, dx), Move(y, dy);
    return true;
  };
  for (;;) {
    const uint32_t op = r.Word();
    switch (op) {
    case PATHOP_END: return true;
    case PATHOP_MOVE:
    case PATHOP_LINE:
    case PATHOP_CURVE: {
      // A relative command moves with the path only where it counts from the origin.
      const bool moves = r.Word() == 0 || !hasPoint;
      const int n = op == PATHOP_CURVE ? 3 : 1;
      for (int i = 0; i < n; i++) {
        uint8_t *x = r.NumberPlace(), *y = r.NumberPlace();
        if (moves && !move(x, y)) return false;
      }
      hasPoint = true;
      break;
    }
    case PATHOP_SUBPATH: hasPoint = false; break;
    case PATHOP_CLOSE: break;
    case PATHOP_ARC: {
      uint8_t *x = r.NumberPlace(), *y = r.NumberPlace();
      if (!move(x, y)) return false;
      for (int i = 0; i < 4; i++) r.Number();
      r.Word();
      hasPoint = true;
      break;
    }
    case PATHOP_BOX: {
      uint8_t *x = r.NumberPlace(), *y = r.NumberPlace();
      if (!move(x, y)) return false;
      r.Number(), r.Number();
      for (int i = 0; i < 4; i++) r.Word();
      hasPoint = true;
      break;
    }
    case PATHOP_TEXT:
      r.Word(), r.Word(), r.Text();
      hasPoint = true;
      break;
    default: return false;
    }
  }
}

}  // namespace

QM_EXPORT int32_t TranslatePath(qmTranslatePathRequest *q) {
  if (!q || !q->commands || !std::isfinite(q->dx) || !std::isfinite(q->dy)) return 0;
  if (!MoveStream(q->commands, q->dx, q->dy, false)) return 0;
  return MoveStream(q->commands, q->dx, q->dy, true) ? 1 : 0;
}

QM_EXPORT int32_t GetCurrentPoint(const uint8_t *commands, const qmVectorStyle *style, double *x, double *y) {
  if (!commands || !style || !x || !y || !CairoReady()) return 0;
  Measure m;
  if (!m.Ok() || !BuildPath(m.cr, commands, 0, 0)) return 0;
  *x = *y = 0;
  if (gCairo->cairo_has_current_point(m.cr)) gCairo->cairo_get_current_point(m.cr, x, y);
  return std::isfinite(*x) && std::isfinite(*y) ? 1 : 0;
}

QM_EXPORT void *CreateVectorFont(void *face) {
  if (!face || !CairoReady()) return nullptr;
  int slot = 1;
  while (slot <= kFontSlots && gFonts[slot]) slot++;
  if (slot > kFontSlots) return nullptr;
  OwnFace *own = OpenOwnFace(static_cast<FT_Face>(face));
  if (!own) return nullptr;
  cairo_font_face_t *f = gCairo->cairo_ft_font_face_create_for_ft_face(own->face, 0);
  if (gCairo->cairo_font_face_status(f) != CAIRO_STATUS_SUCCESS ||
      gCairo->cairo_font_face_set_user_data(f, &kOwnFaceKey, own, DropOwnFace) != CAIRO_STATUS_SUCCESS) {
    gCairo->cairo_font_face_destroy(f);
    DropOwnFace(own);
    return nullptr;
  }
  gFonts[slot] = f;
  return reinterpret_cast<void *>(uintptr_t(slot));
}

QM_EXPORT void FreeVectorFont(void *font) {
  const auto slot = uintptr_t(font);
  if (slot == 0 || slot > uintptr_t(kFontSlots) || !gFonts[slot]) return;
  gCairo->cairo_font_face_destroy(gFonts[slot]);
  gFonts[slot] = nullptr;
}

// The text library opens and closes its fonts itself.
QM_EXPORT void *OpenFont(const char *, int32_t) { return nullptr; }
QM_EXPORT void CloseFont(void *) {}
