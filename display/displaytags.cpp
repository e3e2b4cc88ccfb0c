#include "display/displaytags.h"

#include <cmath>
#include <cstring>

#include "display/bgpic.h"
#include "display/display.h"
#include "display/filters.h"
#include "graphics/blit.h"
#include "graphics/alphaops.h"
#include "graphics/bitmap_effects.h"
#include "graphics/bitmapops.h"
#include "graphics/geometry.h"
#include "runtime/cmdargs.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/vm/vm_api.h"


namespace {

constexpr double kRadiansPerDegree = 0.017453292519943295;

// Layers of the current picture; the layer list is walked through its first-node word.
int32_t CurrentLayerCount() {
  if (!CurrentBGPic) return 0;
  int32_t n = 0;
  for (void *const *node = static_cast<void *const *>(CurrentBGPic->layers.head); node && *node;
       node = static_cast<void *const *>(*node))
    n++;
  return n;
}

[[maybe_unused]] const bool kDefaultsReady = [] {
  ResetDefaultDrawTags();
  return true;
}();

// A switch of the table: True/False or a number; 1 when it was given.
int FlagField(VmState *L, int32_t t, const char *key, int32_t *out) {
  bool on = *out != 0;
  if (!GetFieldFlag(L, t, key, &on, nullptr)) return 0;
  *out = on ? 1 : 0;
  return 1;
}

}  // namespace

void ResetDefaultDrawTags() {
  std::memset(&DefaultTransform, 0, sizeof DefaultTransform);
  std::memset(&DefaultDisplayTags, 0, sizeof DefaultDisplayTags);
  DefaultTransform.matrix[0] = DefaultTransform.matrix[3] = 1.0;
  DefaultTransform.scaleX = DefaultTransform.scaleY = 1.0;
  qmShadowBlock &s = DefaultDisplayTags.shadow;
  s.color = 0x80000000u;
  s.size = 4;
  s.direction = 3;
  s.radius = 5.0;
  s.sigma = 5.0 / 3.0;
  DefaultDisplayTags.border.size = 2;
}

void CopyDefaultTransform(qmTransform *out) { *out = DefaultTransform; }
void CopyDefaultDisplayTags(qmDisplayTags *out) { *out = DefaultDisplayTags; }

void InitDefaultDrawTags(qmTransform *t, qmDisplayTags *tags, int32_t width, int32_t height, int32_t smooth,
                         int32_t flags) {
  CopyDefaultTransform(t);
  if (tags) CopyDefaultDisplayTags(tags);
  t->targetWidth = width;
  t->targetHeight = height;
  if (!(flags & DTAG_SMOOTHROTATE)) t->smooth = smooth;
}

void BuildTransformMatrix(double m[4], int32_t targetWidth, int32_t targetHeight, int32_t width, int32_t height,
                          double scaleX, double scaleY, double rotation) {
  const int32_t tw = targetWidth ? targetWidth : width;
  const int32_t th = targetHeight ? targetHeight : height;
  if (tw == width && th == height) {
    m[0] = scaleX, m[1] = 0, m[2] = 0, m[3] = scaleY;
  } else {
    m[0] = double(tw) / width, m[1] = 0, m[2] = 0, m[3] = double(th) / height;
  }
  if (rotation != 0) {
    const double theta = (360 - std::fmod(rotation, 360.0)) * kRadiansPerDegree;
    const double c = std::cos(theta), s = std::sin(theta);
    const double a = m[0], b = m[1], cc = m[2], d = m[3];
    m[0] = a * c - b * s;
    m[1] = a * s + b * c;
    m[2] = cc * c - d * s;
    m[3] = cc * s + d * c;
  }
}


uint32_t ReadShadowOptions(VmState *L, int32_t t, qmShadowBlock *s, int32_t *found) {
  const int any = FlagField(L, t, "shadow", &s->on);
  if (found) *found = any;
  if (!s->on) return 0;
  GetFieldUInt(L, t, "shadowcolor", &s->color, nullptr);
  GetFieldInt(L, t, "shadowdir", &s->direction, nullptr);
  GetFieldInt(L, t, "shadowsize", &s->size, nullptr);
  GetFieldNumber(L, t, "shadowradius", &s->radius, nullptr);
  GetFieldNumber(L, t, "shadowsigma", &s->sigma, nullptr);
  if (!(s->radius >= 1.0) || s->size < 0 || !(s->sigma > 0.0)) return ERR_WRONGUSAGE;
  return 0;
}

uint32_t ReadBorderOptions(VmState *L, int32_t t, int32_t text, qmBorderBlock *b, int32_t *found) {
  int f = 0, any = 0;
  if (FlagField(L, t, "border", &b->on)) any = 1;
  if (GetFieldUInt(L, t, "bordercolor", &b->color, &f)) any = 1;
  if (GetFieldInt(L, t, "bordersize", &b->size, &f)) any = 1;
  if (text) {
    if (GetFieldUInt(L, t, "edgecolor", &b->color, &f)) any = 1;
    if (GetFieldInt(L, t, "edgesize", &b->size, &f)) any = 1;
    if (GetFieldInt(L, t, "outlinethickness", &b->size, &f)) any = 1;
  }
  if (found) *found = any;
  if (b->on && b->size <= 0) return ERR_WRONGUSAGE;
  return 0;
}

uint32_t ParseDisplayTags(VmState *L, int32_t index, int32_t sourceWidth, int32_t sourceHeight, int32_t width,
                          int32_t height, int32_t smoothDefault, qmTransform *t, qmDisplayTags *tags, int32_t flags) {
  if (flags & DTAG_INIT) InitDefaultDrawTags(t, tags, width, height, smoothDefault, flags);
  if (index != vm_gettop(L)) return 0;
  if (vm_type(L, index) != VM_TTABLE) {
    if (!(flags & DTAG_NEEDTABLE)) return 0;
    SetErrorNumber(index);
    return ERR_TABEXPECTED;
  }
  int found = 0;
  double user[4];
  if (GetFieldMatrix(L, index, "transform", user, &found)) {
    if (user[0] == 0 || user[3] == 0) return ERR_WRONGUSAGE;
    std::memcpy(t->userMatrix, user, sizeof user);
    std::memcpy(t->matrix, user, sizeof user);
    t->userMatrixSet = 1;
  } else {
    int geometry = 0, fx = 0, fy = 0;
    GetFieldNumber(L, index, "scalex", &t->scaleX, &fx);
    GetFieldNumber(L, index, "scaley", &t->scaleY, &fy);
    if ((fx && t->scaleX == 0) || (fy && t->scaleY == 0)) return ERR_WRONGUSAGE;
    geometry = fx || fy;
    if (!geometry && !(flags & DTAG_NOSIZE)) {
      if (GetFieldInt(L, index, "width", &t->targetWidth, nullptr)) geometry = 1;
      if (GetFieldInt(L, index, "height", &t->targetHeight, nullptr)) geometry = 1;
    }
    if (!(flags & DTAG_NOROTATE) && GetFieldNumber(L, index, "rotate", &t->rotation, nullptr)) {
      geometry = 1;
      t->rotation = std::fmod(t->rotation, 360.0);
      if (t->rotation != 0 && (flags & DTAG_SMOOTHROTATE)) t->smooth = smoothDefault;
    }
    if (geometry) {
      BuildTransformMatrix(t->matrix, t->targetWidth, t->targetHeight, sourceWidth, sourceHeight, t->scaleX,
                           t->scaleY, t->rotation);
    } else {
      t->userMatrixSet = 0;
    }
  }
  FlagField(L, index, "smoothscale", &t->smooth);
  GetFieldNumber(L, index, "anchorx", &t->anchorX, nullptr);
  GetFieldNumber(L, index, "anchory", &t->anchorY, nullptr);
  if (!(t->anchorX >= 0.0 && t->anchorX <= 1.0) || !(t->anchorY >= 0.0 && t->anchorY <= 1.0)) return ERR_WRONGUSAGE;
  if (!tags) return 0;

  FlagField(L, index, "hidden", &tags->hidden);
  double v = 0;
  auto level = [](double n) { return n < 0 ? 0 : n > 255 ? 255 : int32_t(n); };
  if (GetFieldNumberOrPercent(L, index, "transparency", 255, 0, &v, nullptr, nullptr)) tags->transparency = level(v);
  qmFilterSlot &tint = tags->filters[kTintFilterSlot];
  if (GetFieldNumberOrPercent(L, index, "tint", 255, 0, &v, nullptr, nullptr)) {
    tint.params[1] = level(v);
    tint.enabled = tint.params[1] != 0;
  }
  uint32_t tintColor = 0;
  if (GetFieldUInt(L, index, "tintcolor", &tintColor, nullptr)) tint.params[0] = int32_t(tintColor);

  int32_t insert = 0;
  if (GetFieldLayerId(L, index, "insertpos", &insert, nullptr)) {
    if (insert < 0) return ERR_INVINSERT;
    const int32_t n = CurrentLayerCount();
    if (n > 0 && insert > n + 1) insert = n + 1;
    tags->insertPosition = insert;
  }
  if (uint32_t code = ReadShadowOptions(L, index, &tags->shadow, nullptr)) return code;
  if (uint32_t code = ReadBorderOptions(L, index, 0, &tags->border, nullptr)) return code;
  if (uint32_t code = ReadFilterTable(L, index, tags->filters, nullptr)) return code;
  tags->effects = tags->hidden || tags->transparency || HasFilters(tags->filters) || tags->shadow.on || tags->border.on;

  vm_pushstring(L, "name");
  vm_gettable(L, index);
  if (!vm_isnoneornil(L, -1)) {
    size_t len = 0;
    const char *name = vm_checkstring_field(L, -1, &len, "name");
    if (len > 255) {
      vm_pop(L, 1);
      return ERR_NAMETOOLONG;
    }
    std::memcpy(tags->name, name, len);
    tags->name[len] = 0;
  }
  vm_pop(L, 1);
  return 0;
}

void PredictTransformedSize(const double m[4], int32_t width, int32_t height, int64_t *widthOut, int64_t *heightOut) {
  int64_t w = width, h = height;
  if (m[1] == 0 && m[2] == 0 && m[0] >= 0 && m[3] >= 0) {
    const qmDisplay *d = CurrentDisplay;
    if (m[0] == 1 && m[3] == 1) {
      // unchanged
    } else if (d && d->scaleLayer && d->scaleWidth && d->scaleHeight && d->bgpic && d->scaleX == m[0] &&
               d->scaleY == m[3] && width == d->bgpic->unscaledWidth && height == d->bgpic->unscaledHeight) {
      // Drawn at the display's own factors: exactly the display's scaled size.
      w = d->scaleWidth;
      h = d->scaleHeight;
    } else {
      const double fw = std::floor(m[0] * width), fh = std::floor(m[3] * height);
      w = fw > 4e9 ? int64_t(4e9) : int64_t(fw);
      h = fh > 4e9 ? int64_t(4e9) : int64_t(fh);
    }
  } else {
    // The turned rectangle's bounding box, in doubles so that no size overflows.
    const double xs[4] = {0, m[0] * width, m[2] * height, m[0] * width + m[2] * height};
    const double ys[4] = {0, m[1] * width, m[3] * height, m[1] * width + m[3] * height};
    double x0 = xs[0], x1 = xs[0], y0 = ys[0], y1 = ys[0];
    for (int i = 1; i < 4; i++) {
      x0 = std::fmin(x0, xs[i]), x1 = std::fmax(x1, xs[i]);
      y0 = std::fmin(y0, ys[i]), y1 = std::fmax(y1, ys[i]);
    }
    const double bw = std::ceil(x1 - x0), bh = std::ceil(y1 - y0);
    w = bw > 4e9 ? int64_t(4e9) : int64_t(bw);
    h = bh > 4e9 ? int64_t(4e9) : int64_t(bh);
  }
  *widthOut = w < 1 ? 1 : w;
  *heightOut = h < 1 ? 1 : h;
}

uint32_t TransformImageBitmaps(int32_t kind, const qmBitmap *bitmap, const qmMask *mask, const qmAlphaChannel *alpha,
                               int32_t srcX, int32_t srcY, int32_t x, int32_t y, int32_t width, int32_t height,
                               double anchorX, double anchorY, const double m[4], int32_t smooth,
                               qmTransformedImage *out) {
  int64_t w64 = 0, h64 = 0;
  PredictTransformedSize(m, width, height, &w64, &h64);
  // Sizes from script numbers are refused before anything is allocated.
  if (w64 > QM_MAX_PICTURE_SIDE || h64 > QM_MAX_PICTURE_SIDE) return ERR_MEM;
  qmTransformedImage r{};
  int32_t bw = 0, bh = 0;
  GetTransformedRect(x, y, width, height, anchorX, anchorY, m, &r.x, &r.y, &bw, &bh);
  r.width = int32_t(w64);
  r.height = int32_t(h64);
  if (kind == TFKIND_GEOMETRY) {
    *out = r;
    return 0;
  }
  if (kind == TFKIND_VECTOR) return ERR_BRUSHTYPE;
  if (IsIdentityMatrix(m)) {
    if (uint32_t code = CopyBitmap(bitmap, mask, alpha, srcX, srcY, width, height, 0, &r.bitmap, &r.mask, &r.alpha))
      return code;
  } else if (m[1] == 0 && m[2] == 0 && m[0] >= 0 && m[3] >= 0) {
    qmScaleOutputs o{};
    if (uint32_t code = ScaleBitmap(bitmap, mask, alpha, srcX, srcY, nullptr, width, height, r.width, r.height, smooth,
                                    &o))
      return code;
    if (!o.bitmap) return ERR_MEM;
    r.bitmap = o.bitmap, r.mask = o.mask, r.alpha = o.alpha;
  } else {
    qmTransformOutputs o{};
    if (uint32_t code = TransformBitmap(bitmap, mask, alpha, srcX, srcY, width, height, m, smooth, &o)) return code;
    r.bitmap = o.bitmap, r.mask = o.mask, r.alpha = o.alpha;
    r.width = o.bitmap ? o.bitmap->width : r.width;
    r.height = o.bitmap ? o.bitmap->height : r.height;
  }
  *out = r;
  return 0;
}

void ApplyDisplayTagEffects(const qmDisplayTags *tags, qmBitmap *bitmap, qmMask **mask, qmAlphaChannel **alpha,
                            int32_t width, int32_t height) {
  if (!tags) return;
  ApplyFilters(tags->filters, bitmap, *mask, *alpha, width, height);
  const int32_t t = tags->transparency;
  if (!t) return;
  const uint8_t strength = uint8_t(255 - t);
  if (*alpha) {
    ScaleAlphaChannel(*alpha, *alpha, height, strength);
    return;
  }
  qmAlphaChannel *a = AllocAlphaChannel(width, height, 1);
  if (!a) return;  // drawn without the transparency
  if (*mask) {
    MaskToAlphaRect(*mask, 0, 0, a, 0, 0, width, height, strength);
    FreeMask(*mask);
    *mask = nullptr;
  } else {
    FillAlphaRect(a, 0, 0, width, height, strength);
  }
  *alpha = a;
}
