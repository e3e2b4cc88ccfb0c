// The requests a vector plug-in answers, shared by the player and the plug-in: plain records
// with the machine's own pointer sizes (doubles at their natural 8-byte places). The command
// streams they carry are those of graphics/vectorpath.h.
#pragma once
#include <cstdint>

// Stroke and fill settings of one request. The plug-in clamps join, cap and rule into their
// ranges and draws solid lines for a dash list it cannot use.
struct qmVectorStyle {
  int32_t join;       // JOINMITER 0, JOINROUND 1, JOINBEVEL 2
  int32_t cap;        // CAPBUTT 0, CAPROUND 1, CAPSQUARE 2
  int32_t fillRule;   // FILLRULEWINDING 0, FILLRULEEVENODD 1
  int32_t antialias;  // 0 or 1
  double dashOffset;
  const double *dashes;  // dashCount lengths, or null
  int32_t dashCount;
};

// The box the path covers when filled (fill 1) or stroked lineWidth wide (fill 0), every
// coordinate moved by the offset first; x1..y2 are written by the plug-in.
struct qmPathExtentsRequest {
  const uint8_t *commands;
  const qmVectorStyle *style;
  int32_t fill;
  int32_t lineWidth;
  double offsetX, offsetY;
  double x1, y1, x2, y2;
};

// Coverage of the path drawn into an 8-bit plane (width x height, bytesPerRow apart), added
// to what is there. A point p lands on matrix * (p - origin) + offset, the matrix being
// {a, b, c, d, tx, ty} with x' = a x + c y + tx and y' = b x + d y + ty. The colour's top byte
// is a transparency (0 opaque) that scales the coverage; its low 24 bits are not used.
struct qmDrawPathRequest {
  const uint8_t *commands;
  const qmVectorStyle *style;
  int32_t fill;
  int32_t lineWidth;
  uint32_t color;
  uint8_t *alpha;
  int32_t bytesPerRow;
  int32_t width, height;
  double offsetX, offsetY;
  double originX, originY;
  const double *matrix;
};

// Every coordinate of the stream moved by (dx, dy), in place.
struct qmTranslatePathRequest {
  uint8_t *commands;
  double dx, dy;
};

extern "C" {
// Non-zero for success.
typedef int32_t (*qmGetPathExtentsFn)(qmPathExtentsRequest *request);
typedef int32_t (*qmDrawPathFn)(qmDrawPathRequest *request);
typedef int32_t (*qmTranslatePathFn)(qmTranslatePathRequest *request);
typedef int32_t (*qmGetCurrentPointFn)(const uint8_t *commands, const qmVectorStyle *style, double *x, double *y);
// face is a FreeType FT_Face; null when the plug-in cannot make a font of it.
typedef void *(*qmCreateVectorFontFn)(void *face);
typedef void (*qmFreeVectorFontFn)(void *font);
}

// The entries of the loaded vector plug-in, in the order it exports them.
struct qmVectorEngine {
  qmGetPathExtentsFn getPathExtents;
  qmDrawPathFn drawPath;
  qmTranslatePathFn translatePath;
  qmGetCurrentPointFn getCurrentPoint;
  qmCreateVectorFontFn createVectorFont;
  qmFreeVectorFontFn freeVectorFont;
};
