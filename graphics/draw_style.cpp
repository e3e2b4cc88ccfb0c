#include "graphics/draw_style.h"

#include <cmath>
#include <cstring>

#include "platform/memory.h"
#include "runtime/errcodes.h"

namespace {

qmDrawTables tables;

// The degree factor the angle tables were always computed with.
constexpr double kDegree = 0.017453292519943295;

} // namespace

void SetDefaultDrawStyle(qmDrawStyle *s) {
  std::memset(s, 0, sizeof *s);
  s->fillStyle = DRAWFILL_NONE;
  s->formStyle = FORM_NORMAL;
  s->gradient.kind = 2;  // linear
  s->gradient.startColor = 0x0000FF;
  s->gradient.endColor = 0x000000;
  s->edgeSize = 2;
  s->edgeColor = 0x0093DD;
  s->shadowSize = 4;
  s->shadowDirection = 3;
  s->shadowColor = 0x000000;
  s->lineWidth = 1;
}

void ValidateDrawStyle(qmDrawStyle *s) {
  auto clamp = [](int32_t v) { return v < 1 ? 1 : v > kEffectSizeMax ? kEffectSizeMax : v; };
  if (s->lineWidth < 1) s->lineWidth = 1;
  s->shadowSize = clamp(s->shadowSize);
  s->edgeSize = clamp(s->edgeSize);
  if (uint32_t(s->shadowDirection) > 7) s->shadowDirection = 3;
  if (uint32_t(s->fillStyle) > 3) s->fillStyle = DRAWFILL_NONE;
}

void ClampCornerLevels(int32_t levels[4]) {
  for (int i = 0; i < 4; i++) levels[i] = levels[i] < 0 ? 0 : levels[i] > 100 ? 100 : levels[i];
}

void GetShadowMargins(int32_t size, int32_t direction, int32_t *left, int32_t *top, int32_t *right, int32_t *bottom) {
  int32_t l = 0, t = 0, r = 0, b = 0;
  if (size != 0) {
    if (direction == 5 || direction == 6 || direction == 7) l = size;
    if (direction == 0 || direction == 1 || direction == 7) t = size;
    if (direction == 1 || direction == 2 || direction == 3) r = size;
    if (direction == 3 || direction == 4 || direction == 5) b = size;
  }
  if (left) *left = l;
  if (top) *top = t;
  if (right) *right = r;
  if (bottom) *bottom = b;
}

void AddShadowDirectionOffset(int32_t direction, int32_t size, int32_t *x, int32_t *y) {
  if (uint32_t(direction) >= 8) return;
  if (direction != 2 && direction != 6) *y += size;
  if (direction != 0 && direction != 4) *x += size;
}

uint32_t InitDrawTables() {
  for (auto &p : tables.points) {
    if (!p) p = static_cast<int32_t *>(MemAlloc(kOutlinePointMax * 2 * sizeof(int32_t), 1));
    if (!p) return ERR_MEM;
  }
  for (auto &p : tables.fpoints) {
    if (!p) p = static_cast<double *>(MemAlloc(kOutlinePointMax * 2 * sizeof(double), 1));
    if (!p) return ERR_MEM;
  }
  if (!tables.sine) tables.sine = static_cast<double *>(MemAlloc(361 * sizeof(double), 0));
  if (!tables.sine) return ERR_MEM;
  if (!tables.cosine) tables.cosine = static_cast<double *>(MemAlloc(361 * sizeof(double), 0));
  if (!tables.cosine) return ERR_MEM;
  for (int i = 0; i <= 360; i++) {
    tables.sine[i] = std::sin((360 - i) * kDegree);
    tables.cosine[i] = std::cos((360 - i) * kDegree);
  }
  return 0;
}

void FreeDrawBuffers() {
  for (auto &p : tables.points) MemFree(p), p = nullptr;
  for (auto &p : tables.fpoints) MemFree(p), p = nullptr;
  MemFree(tables.sine);
  MemFree(tables.cosine);
  tables.sine = tables.cosine = nullptr;
  MemFree(tables.linePlane.memory);
  tables.linePlane = {};
  tables.linePlaneBytes = 0;
}

qmAlphaChannel *GetLinePlane(int32_t width, int32_t height) {
  const int32_t bytesPerRow = AlphaBytesPerRow(width);
  const int64_t bytes = int64_t(bytesPerRow) * height;
  if (bytes > tables.linePlaneBytes) {
    if (bytes > INT32_MAX) return nullptr;
    MemFree(tables.linePlane.memory);
    tables.linePlane.memory = static_cast<uint8_t *>(MemAlloc(uint32_t(bytes), 1));
    tables.linePlaneBytes = tables.linePlane.memory ? bytes : 0;
    if (!tables.linePlane.memory) return nullptr;
  }
  tables.linePlane.width = width, tables.linePlane.height = height, tables.linePlane.bytesPerRow = bytesPerRow;
  tables.linePlane.borrowed = 1;
  return &tables.linePlane;
}

const qmDrawTables *GetDrawTables() { return &tables; }
