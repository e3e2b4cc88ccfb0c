// Rendering a text object at its size and angle: scalable fonts are rendered at the scaled
// size (with the stored line breaks replayed); others are scaled as pixels. Turning is done on
// the finished picture.
#include "text/textobject.h"

#include <cmath>
#include <cstring>

#include "graphics/bitmapops.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"

namespace {

int32_t Scaled(int32_t v, double s) { return static_cast<int32_t>(std::lround(v * s)); }

}  // namespace

uint32_t CopyTextRequest(const qmTextRequest *from, qmTextRequest *to) {
  *to = *from;
  to->text = nullptr;
  to->breaks = nullptr;
  to->tabChoices = nullptr;
  size_t length = from->text ? std::strlen(from->text) : 0;
  to->text = static_cast<char *>(MemAlloc(static_cast<uint32_t>(length + 1), 1));
  if (!to->text) return ERR_MEM;
  if (length) std::memcpy(to->text, from->text, length);
  try {
    if (from->breaks) to->breaks = new std::vector<int32_t>(*from->breaks);
    if (from->tabChoices) to->tabChoices = new std::vector<int32_t>(*from->tabChoices);
  } catch (const std::bad_alloc &) {
    FreeTextRequest(to);
    return ERR_MEM;
  }
  return 0;
}

void FreeTextRequest(qmTextRequest *request) {
  MemFree(request->text);
  delete request->breaks;
  delete request->tabChoices;
  request->text = nullptr;
  request->breaks = nullptr;
  request->tabChoices = nullptr;
}

void FreeTextObjectData(qmTextObject *object) {
  if (object->bitmap) FreeBitmap(object->bitmap);
  if (object->mask) FreeMask(object->mask);
  if (object->alpha) FreeAlphaChannel(object->alpha);
  object->bitmap = nullptr;
  object->mask = nullptr;
  object->alpha = nullptr;
  FreeTextRequest(&object->request);
}

uint32_t RenderTextAtScale(qmTextRequest *request, int32_t kind, double sx, double sy, qmConstantLookup lookup,
                           void *context, int32_t keepTables, qmTextBox *box, int32_t *fontScaled) {
  sx = std::fabs(sx), sy = std::fabs(sy);
  qmFont *font = request->style.font;
  const bool scaleFont = font && font->scalable && (sx != 1.0 || sy != 1.0);
  // The pass works on a scaled copy of the request; the stored one keeps its own numbers.
  qmTextRequest r = *request;
  if (scaleFont) {
    r.wrap = Scaled(r.wrap, sx);
    r.marginLeft = Scaled(r.marginLeft, sx);
    r.cursorX = Scaled(r.cursorX, sx);
    for (int32_t i = 0; i < r.tabCount; i++) r.tabStops[i] = Scaled(r.tabStops[i], sx);
    r.style.shadowDistance = Scaled(r.style.shadowDistance, sx);
    r.style.edgeSize = Scaled(r.style.edgeSize, sx);
    ClampTextStyle(&r.style);
    SetFontScale(font, sx, sy);
  }
  qmTextLayout layout;
  uint32_t err = LayoutTextBlock(&r, kind, 0, lookup, context, keepTables, &layout);
  if (keepTables) request->breaks = r.breaks, request->tabChoices = r.tabChoices;
  *box = {};
  if (!err) err = RenderTextRuns(&r, &layout, TextWrapWidth(&r, kind), box);
  if (scaleFont) SetFontScale(font, 1.0, 1.0);
  *fontScaled = scaleFont;
  return err;
}

uint32_t RenderTextObject(qmTextObject *object, qmConstantLookup lookup, void *context) {
  qmTextRequest *base = &object->request;
  bool first = object->baseWidth == 0;
  double sx = first ? 1.0 : double(object->targetWidth) / object->baseWidth;
  double sy = first ? 1.0 : double(object->targetHeight) / object->baseHeight;
  qmTextBox box{};
  int32_t scaleFont = 0;
  // Tables made by the first pass are the object's from now on.
  uint32_t err = RenderTextAtScale(base, QM_TEXT_OBJECT, sx, sy, lookup, context, 1, &box, &scaleFont);
  if (err) return err;
  qmBitmap *bitmap = box.bitmap;
  qmMask *mask = box.mask;
  qmAlphaChannel *alpha = box.alpha;
  int32_t width = box.width, height = box.height;
  if (!first && !scaleFont && (width != object->targetWidth || height != object->targetHeight)) {
    qmScaleOutputs scaled{};
    err = ScaleBitmap(bitmap, mask, alpha, 0, 0, nullptr, width, height, std::max(1, Scaled(width, sx)),
                      std::max(1, Scaled(height, sy)), 0, &scaled);
    if (!err) {
      FreeTextBox(&box);
      bitmap = scaled.bitmap;
      mask = scaled.mask;
      alpha = scaled.alpha;
      width = std::max(1, Scaled(width, sx));
      height = std::max(1, Scaled(height, sy));
      box = {bitmap, mask, alpha, box.x, box.y, width, width, height, 0};
    }
  }
  double angle = std::fmod(object->rotation, 360.0);
  if (!err && angle != 0.0) {
    double rad = angle * M_PI / 180.0;
    const double m[4] = {std::cos(rad), -std::sin(rad), std::sin(rad), std::cos(rad)};
    qmTransformOutputs turned{};
    err = TransformBitmap(bitmap, mask, alpha, 0, 0, width, height, m, 1, &turned);
    if (!err) {
      FreeTextBox(&box);
      int32_t w, h;
      double ox, oy;
      GetTransformedSize(m, width, height, &w, &h, &ox, &oy);
      box = {turned.bitmap, turned.mask, turned.alpha, 0, 0, w, w, h, 0};
    }
  }
  if (err) {
    FreeTextBox(&box);
    return err;
  }
  if (object->bitmap) FreeBitmap(object->bitmap);
  if (object->mask) FreeMask(object->mask);
  if (object->alpha) FreeAlphaChannel(object->alpha);
  object->bitmap = box.bitmap;
  object->mask = box.mask;
  object->alpha = box.alpha;
  object->width = box.width;
  object->height = box.height;
  object->xOffset = angle == 0.0 ? box.x : 0;
  object->yOffset = angle == 0.0 ? box.y : 0;
  if (first) {
    object->baseWidth = object->targetWidth = box.width;
    object->baseHeight = object->targetHeight = box.height;
    base->width = box.width;
    base->height = box.height;
  }
  return 0;
}
