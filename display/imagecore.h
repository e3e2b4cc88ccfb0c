// The image display core: the one routine that draws a picture object (a brush, a rectangle
// of one, or a rectangle of a background picture) into the current output, with its display
// tags applied.
#pragma once
#include <cstdint>

struct qmScene;

#include "display/displaytags.h"
#include "runtime/objectid.h"

struct qmBGPic;
struct qmTextRequest;
struct qmShapeLayerData;
struct qmPathLayerData;

// Flags of a drawing, handed on to the layer engine.
enum : uint32_t {
  IMGCORE_HIDDEN = 1,       // nothing is drawn into the output
  IMGCORE_RENDERSCALED = 2, // the layer is rendered again for a scaled display
  IMGCORE_INSERT = 4,       // the layer engine shows the picture; it is never drawn directly
  IMGCORE_REPLACE = 8,      // replaces the layer at a position; flagged brushes are accepted
  IMGCORE_NEWIMAGE = 16,    // replaces the picture of an existing layer
};

// A picture handed to the caller that asked for it. With mustFree the planes are the caller's
// to free (FreeBitmap, FreeMask, FreeAlphaChannel); otherwise they are the object's own.
struct qmPictureOut {
  qmBitmap *bitmap;
  qmMask *mask;
  qmAlphaChannel *alpha;
  int32_t x, y, width, height;
  int32_t mustFree;
};

struct qmImageRequest {
  int32_t layerPosition;  // with IMGCORE_REPLACE: the layer to replace
  uint32_t kind;          // QMTYPE_BRUSH, QMTYPE_BRUSHPART, QMTYPE_BGPICPART or QMTYPE_ANIM
  qmObjectId id;          // a background picture's -1: the current display's own
  int32_t srcX, srcY;     // parts: the rectangle inside the object
  int32_t x, y;           // background-picture parts: -1 is the source position
  int32_t width, height;  // brushes: ignored, the brush's size
  // The display tags read by the handler (runtime/bindings/displaytags_reader.h), finished here
  // against the object; null: the scene's defaults. A bad tags table's code comes after the
  // object's own checks.
  const qmTransform *transform;
  const qmDisplayTags *tags;
  uint32_t tagsError;
  qmPictureOut *pictureOut;      // or null: the picture is drawn
  uint32_t flags;                // IMGCORE_*
  // ANIM: the frame the anim engine fetched at the anim's native size (width x height; its
  // planes stay the caller's), its number from 1, the anim's frame count and the frame's
  // delay in milliseconds, which a layer made of it keeps.
  struct {
    qmBitmap *bitmap;
    qmMask *mask;
    qmAlphaChannel *alpha;
  } frame;
  int32_t frameNumber, frameCount;
  uint32_t frameDelay;
};

// A picture handed to the layer engine: the planes (copies of the drawn rectangle, or the
// private picture) belong to it from the call on.
struct qmImageLayer {
  uint32_t kind;          // QMTYPE_BRUSH, BRUSHPART or BGPICPART; a shape's type (BOX ...)
  qmObjectId id;          // {0, 0} for shapes
  qmBitmap *bitmap;
  qmMask *mask;
  qmAlphaChannel *alpha;
  int32_t requestedX, requestedY;   // the resolved position before the anchor
  int32_t objectWidth, objectHeight;  // the untransformed size
  int32_t partX, partY;
  int32_t x, y, width, height;      // where the picture lies on the background picture
  const qmTransform *transform;
  qmDisplayTags *tags;
  int32_t position;  // -1 top, else 1-based
  uint32_t flags;    // IMGCORE_HIDDEN, IMGCORE_INSERT, IMGCORE_RENDERSCALED
  // Shapes: the fill style and colour they were drawn with (shapeData 1 when given).
  int32_t shapeData, fillStyle;
  uint32_t shapeColor;
  qmTextRequest *textRequest;  // text layers: the layer's own copy, handed over like the planes
  int32_t lineEnds[4];         // LINE: x1, y1, x2, y2 on the picture
  // Shapes: the rest of what the command was given, copied by the layer engine (its vertices
  // too), so that the shape can be drawn again; null for other pictures.
  const qmShapeLayerData *shape;
  // ANIM: the frame shown (from 1), the anim's frame count and the frame's delay in ms.
  int32_t frame, frameCount;
  uint32_t frameDelay;
  // VECTORPATH: what the path is drawn again from, copied by the layer engine; null otherwise.
  const qmPathLayerData *path;
};

// 0 or the first error; nothing is drawn when a check fails, and every private copy is freed
// unless it went to the caller through pictureOut.
uint32_t DisplayImageCore(qmScene *scene, const qmImageRequest *request);
// Whether a picture inserted at the tags' position would lie under layers of the picture drawn
// into: then only the layer refresh may show it, never a direct blit.
bool InsertsBelowLayers(const qmBGPic *picture, const qmDisplayTags *tags);

struct qmTransformedImage {
  qmBitmap *bitmap;
  qmMask *mask;
  qmAlphaChannel *alpha;
  int32_t x, y, width, height;
};

// The rectangle of the picture turned about the anchor, and where it lands when the untouched
// rectangle would lie at (x, y). Kind TFKIND_GEOMETRY gives position and size only. 0,
// ERR_MEM (also for a result beyond the picture limit), ERR_BRUSHTYPE for vector images (none
// are loaded here) or the transform's error; out is written only on success. The display is
// PredictTransformedSize's.
uint32_t TransformImageBitmaps(const qmDisplay *display, int32_t kind, const qmBitmap *bitmap, const qmMask *mask, const qmAlphaChannel *alpha,
                               int32_t srcX, int32_t srcY, int32_t x, int32_t y, int32_t width, int32_t height,
                               double anchorX, double anchorY, const double m[4], int32_t smooth,
                               qmTransformedImage *out);
