// Display tags: the optional last argument of every drawing command, a table that says how an
// object is drawn (scaled, turned, anchored, made transparent, tinted, shadowed, bordered,
// hidden, named, inserted at a layer position). Parsed into a geometry record and a record of
// the rest, and applied to a picture when the display draws without layers.
#pragma once
#include <cstdint>

#include "graphics/bitmap.h"
#include "graphics/transform.h"

struct qmBGPic;
struct qmDisplay;
struct qmScene;

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
  // Scale, size or rotation read before the object's size was known: FinishDisplayTags builds
  // the matrix.
  int32_t geometryPending;
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
  // An insert position read before the picture drawn into was known: FinishDisplayTags cuts it
  // to the picture's layers.
  int32_t insertPending;
};

// Flags of the tags readers (runtime/bindings/displaytags_reader.h).
enum : int32_t {
  DTAG_INIT = 1,          // start from the defaults (target size and smooth flag from the call)
  DTAG_NEEDTABLE = 2,     // a non-table argument is an error
  DTAG_NOSIZE = 4,        // "width" and "height" are ignored
  DTAG_NOROTATE = 8,      // "rotate" is ignored
  DTAG_SMOOTHROTATE = 16, // smooth scaling follows the default only for turned objects
  DTAG_OBJECTLATER = 32   // the object and its picture are not known yet: FinishDisplayTags
};

// The built-in defaults: identity matrix, scales 1.0, the default shadow (0x80000000, size 4,
// direction 3, radius 5, sigma 5/3) and border (colour 0, size 2); everything else 0.
void ResetDefaultDrawTags(qmTransform *transform, qmDisplayTags *tags);
// The scene's defaults (SetDrawTagsDefault), which every drawing command starts from.
void CopyDefaultTransform(const qmScene *scene, qmTransform *out);
void CopyDefaultDisplayTags(const qmScene *scene, qmDisplayTags *out);
void InitDefaultDrawTags(const qmScene *scene, qmTransform *transform, qmDisplayTags *tags, int32_t width,
                         int32_t height, int32_t smooth, int32_t flags);
// Completes what was read before the object and its picture were known: the matrix for the
// object's width x height, and the insert position cut to one past the picture's last layer.
void FinishDisplayTags(const qmBGPic *picture, int32_t width, int32_t height, qmTransform *transform,
                       qmDisplayTags *tags);
// How many layers the picture has (0 for null).
int32_t CountPictureLayers(const qmBGPic *picture);

// The matrix for a target size (0 keeps the object's), scale factors and a rotation in degrees.
void BuildTransformMatrix(double m[4], int32_t targetWidth, int32_t targetHeight, int32_t width, int32_t height,
                          double scaleX, double scaleY, double rotation);
// The size of a width x height picture under the matrix; both at least 1. Sizes beyond the
// picture limit come back as they are, for the caller to refuse. A picture of the display's
// unscaled size drawn at its layer-scale factors gets exactly its scaled size (display may be null).
void PredictTransformedSize(const qmDisplay *display, const double m[4], int32_t width, int32_t height,
                            int64_t *widthOut, int64_t *heightOut);

enum : int32_t { TFKIND_PIXEL = 0, TFKIND_VECTOR = 1, TFKIND_GEOMETRY = 2 };

