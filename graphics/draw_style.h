// The draw style every shape command reads, its ranges and the drop-shadow arithmetic; the draw
// library's work tables.
#pragma once
#include <cstdint>

#include "graphics/gradientfill.h"
#include "graphics/bitmap.h"
#include "runtime/registry.h"

enum : int32_t { DRAWFILL_NONE = 0, DRAWFILL_COLOR = 1, DRAWFILL_GRADIENT = 2, DRAWFILL_TEXTURE = 3 };
enum : uint32_t { FORM_NORMAL = 1, FORM_ANTIALIAS = 16, FORM_SHADOW = 32, FORM_EDGE = 64 };

inline constexpr int32_t kEffectSizeMax = 64;

struct qmDrawStyle {
  int32_t fillStyle;   // DRAWFILL_*
  uint32_t formStyle;  // FORM_* bits
  qmGradientSpec gradient;
  qmObjectId texture;  // brush of DRAWFILL_TEXTURE
  int32_t edgeSize;    // 1..64
  uint32_t edgeColor;
  int32_t shadowSize;       // 1..64
  int32_t shadowDirection;  // 0 up, then clockwise in eighths, 7 up-left
  uint32_t shadowColor;
  int32_t lineWidth;  // >= 1
  int32_t textureX, textureY;
};

// The style a run starts with (each scene keeps its own).
void SetDefaultDrawStyle(qmDrawStyle *style);
// Brings every field into range: width >= 1, sizes 1..64, an unknown direction becomes 3 and an
// unknown fill style outline only.
void ValidateDrawStyle(qmDrawStyle *style);
void ClampCornerLevels(int32_t levels[4]);
// How far a shadow of that size and direction reaches past the shape on each side; any output
// may be null.
void GetShadowMargins(int32_t size, int32_t direction, int32_t *left, int32_t *top, int32_t *right, int32_t *bottom);

// Work tables of the outline generator: points of one outline, and sin/cos of whole degrees as
// SIN[i] = sin(360 - i), COS[i] = cos(360 - i) for i = 0..360.
inline constexpr int32_t kOutlinePointMax = 1001;
struct qmDrawTables {
  int32_t *points[3];  // kOutlinePointMax {x, y} pairs each
  double *fpoints[3];  // kOutlinePointMax {x, y} pairs each
  double *sine, *cosine;  // 361 entries each
  qmAlphaChannel linePlane;  // grown as lines need, zero wherever no line is being drawn
  int64_t linePlaneBytes;
};
// 0 or ERR_MEM; what was allocated stays for FreeDrawBuffers.
uint32_t InitDrawTables();
void FreeDrawBuffers();
const qmDrawTables *GetDrawTables();
// The line plane as a zeroed width x height plane (its memory grown when needed); null without
// memory. The caller clears what it wrote before the next use.
qmAlphaChannel *GetLinePlane(int32_t width, int32_t height);
