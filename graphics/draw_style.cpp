#include "graphics/draw_style.h"

#include <cmath>
#include <cstring>

#include "platform/memory.h"
#include "runtime/errcodes.h"

namespace {

// Scratch of the outline generator and the coverage plane: nothing in them outlives a call, only
// the main thread draws, and the draw library's shut-down frees them with the run.
qmDrawTables gDrawTables;

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

uint32_t InitDrawTables() {
  for (auto &p : gDrawTables.points) {
    if (!p) p = static_cast<int32_t *>(MemAlloc(kOutlinePointMax * 2 * sizeof(int32_t), 1));
    if (!p) return ERR_MEM;
  }
  for (auto &p : gDrawTables.fpoints) {
    if (!p) p = static_cast<double *>(MemAlloc(kOutlinePointMax * 2 * sizeof(double), 1));
    if (!p) return ERR_MEM;
  }
  if (!gDrawTables.sine) gDrawTables.sine = static_cast<double *>(MemAlloc(361 * sizeof(double), 0));
  if (!gDrawTables.sine) return ERR_MEM;
  if (!gDrawTables.cosine) gDrawTables.cosine = static_cast<double *>(MemAlloc(361 * sizeof(double), 0));
  if (!gDrawTables.cosine) return ERR_MEM;
  for (int i = 0; i <= 360; i++) {
    gDrawTables.sine[i] = std::sin((360 - i) * kDegree);
    gDrawTables.cosine[i] = std::cos((360 - i) * kDegree);
  }
  return 0;
}

void FreeDrawBuffers() {
  for (auto &p : gDrawTables.points) MemFree(p), p = nullptr;
  for (auto &p : gDrawTables.fpoints) MemFree(p), p = nullptr;
  MemFree(gDrawTables.sine);
  MemFree(gDrawTables.cosine);
  gDrawTables.sine = gDrawTables.cosine = nullptr;
  MemFree(gDrawTables.linePlane.memory);
  gDrawTables.linePlane = {};
  gDrawTables.linePlaneBytes = 0;
}

qmAlphaChannel *GetLinePlane(int32_t width, int32_t height) {
  const int32_t bytesPerRow = AlphaBytesPerRow(width);
  const int64_t bytes = int64_t(bytesPerRow) * height;
  if (bytes > gDrawTables.linePlaneBytes) {
    if (bytes > INT32_MAX) return nullptr;
    MemFree(gDrawTables.linePlane.memory);
    gDrawTables.linePlane.memory = static_cast<uint8_t *>(MemAlloc(uint32_t(bytes), 1));
    gDrawTables.linePlaneBytes = gDrawTables.linePlane.memory ? bytes : 0;
    if (!gDrawTables.linePlane.memory) return nullptr;
  }
  gDrawTables.linePlane.width = width, gDrawTables.linePlane.height = height, gDrawTables.linePlane.bytesPerRow = bytesPerRow;
  gDrawTables.linePlane.borrowed = 1;
  return &gDrawTables.linePlane;
}

const qmDrawTables *GetDrawTables() { return &gDrawTables; }
