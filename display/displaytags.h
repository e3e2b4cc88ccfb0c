// Display tags: the optional last argument of every drawing command, a table that says how an
// object is drawn (scaled, turned, anchored, made transparent, tinted, shadowed, bordered,
// hidden, named, inserted at a layer position). Parsed into a geometry record and a record of
// the rest, and applied to a picture when the display draws without layers.
#pragma once
#include <cstdint>

#include "graphics/bitmap.h"
#include "graphics/transform.h"

struct VmState;

inline constexpr int32_t kFilterSlotCount = 20;
inline constexpr int32_t kTintFilterSlot = 16;

struct qmFilterSlot {
  uint8_t enabled;
  uint8_t priority;  // higher runs first
  int32_t params[4];
  float floatParams[4];
};

struct qmTransform {
  double matrix[4];  // the effective 2x2 matrix, row by row: a, b / c, d
  double scaleX, scaleY;
  int32_t targetWidth, targetHeight;  // 0: keep the size
  double rotation;                    // degrees
  double userMatrix[4];               // the "transform" tag
  int32_t userMatrixSet;
  int32_t smooth;
  int32_t generalTransform;  // kept by the layer engine
  double scaleXEstimate, scaleYEstimate;
  double anchorX, anchorY;  // 0.0 .. 1.0 of the object's size
};

struct qmShadowBlock {
  int32_t on;
  uint32_t color;  // ARGB
  int32_t size;
  int32_t direction;  // 0..7
  double radius, sigma;
};

struct qmBorderBlock {
  int32_t on;
  uint32_t color;
  int32_t size;
};

struct qmDisplayTags {
  char name[256];
  int32_t hidden;
  int32_t insertPosition;  // 0: on top; else the 1-based layer position
  int32_t transparency;    // 0 opaque .. 255 invisible
  qmShadowBlock shadow;
  qmBorderBlock border;
  qmFilterSlot filters[kFilterSlotCount];
  int32_t effects;  // 1: only the layer engine can show the object as asked
};

// ParseDisplayTags flags.
enum : int32_t {
  DTAG_INIT = 1,         // start from the defaults (target size and smooth flag from the call)
  DTAG_NEEDTABLE = 2,    // a non-table argument is an error
  DTAG_NOSIZE = 4,       // "width" and "height" are ignored
  DTAG_NOROTATE = 8,     // "rotate" is ignored
  DTAG_SMOOTHROTATE = 16 // smooth scaling follows the default only for turned objects
};

// Identity matrix, scales 1.0, the default shadow (0x80000000, size 4, direction 3, radius 5,
// sigma 5/3) and border (colour 0, size 2); everything else 0.
void ResetDefaultDrawTags();
void CopyDefaultTransform(qmTransform *out);
void CopyDefaultDisplayTags(qmDisplayTags *out);
void InitDefaultDrawTags(qmTransform *transform, qmDisplayTags *tags, int32_t width, int32_t height, int32_t smooth,
                         int32_t flags);

// Reads the table at argument index (when it is the last argument) over the records: 0 or the
// code of the first bad key (ERR_WRONGUSAGE, ERR_TABEXPECTED, ERR_INVINSERT, ERR_NAMETOOLONG,
// or an error of the "filters" list, ReadFilterTable).
uint32_t ParseDisplayTags(VmState *L, int32_t index, int32_t sourceWidth, int32_t sourceHeight, int32_t width,
                          int32_t height, int32_t smoothDefault, qmTransform *transform, qmDisplayTags *tags,
                          int32_t flags);
uint32_t ReadShadowOptions(VmState *L, int32_t table, qmShadowBlock *shadow, int32_t *found);
uint32_t ReadBorderOptions(VmState *L, int32_t table, int32_t text, qmBorderBlock *border, int32_t *found);

// The matrix for a target size (0 keeps the object's), scale factors and a rotation in degrees.
void BuildTransformMatrix(double m[4], int32_t targetWidth, int32_t targetHeight, int32_t width, int32_t height,
                          double scaleX, double scaleY, double rotation);
// The size of a width x height picture under the matrix; both at least 1. Sizes beyond the
// picture limit come back as they are, for the caller to refuse.
void PredictTransformedSize(const double m[4], int32_t width, int32_t height, int64_t *widthOut, int64_t *heightOut);

enum : int32_t { TFKIND_PIXEL = 0, TFKIND_VECTOR = 1, TFKIND_GEOMETRY = 2 };

struct qmTransformedImage {
  qmBitmap *bitmap;
  qmMask *mask;
  qmAlphaChannel *alpha;
  int32_t x, y, width, height;
};

// The rectangle of the picture turned about the anchor, and where it lands when the untouched
// rectangle would lie at (x, y). Kind TFKIND_GEOMETRY gives position and size only. 0,
// ERR_MEM (also for a result beyond the picture limit), ERR_BRUSHTYPE for vector images (none
// are loaded here) or the transform's error; out is written only on success.
uint32_t TransformImageBitmaps(int32_t kind, const qmBitmap *bitmap, const qmMask *mask, const qmAlphaChannel *alpha,
                               int32_t srcX, int32_t srcY, int32_t x, int32_t y, int32_t width, int32_t height,
                               double anchorX, double anchorY, const double m[4], int32_t smooth,
                               qmTransformedImage *out);

// Tints the top-left width x height towards the colour by level 0..255.
void TintPixels(qmBitmap *bitmap, int32_t width, int32_t height, uint32_t rgb, int32_t level);
// Filters and transparency of the tags applied in place to a picture that the caller owns.
void ApplyDisplayTagEffects(const qmDisplayTags *tags, qmBitmap *bitmap, qmMask **mask, qmAlphaChannel **alpha,
                            int32_t width, int32_t height);

#include "display/scene.h"
