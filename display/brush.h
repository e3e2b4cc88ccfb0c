// The brush record: a script object holding one picture (a bitmap with an optional mask or
// alpha channel), and the list operations every library that touches a brush goes through.
#pragma once
#include <cstdint>

#include "graphics/bitmap.h"
#include "runtime/objectid.h"


struct qmObjectRegistry;
struct qmScene;

// The transparent-colour word of a brush whose mask is its own, not keyed from a colour.
inline constexpr uint32_t kOwnMaskColor = 0x9DC0DE;
inline constexpr uint32_t kNoTransparentColor = 0xFFFFFFFFu;

enum : uint32_t { BRUSHKIND_PIXEL = 0, BRUSHKIND_VECTOR = 1 };

struct qmBrush {
  qmObjectHeader header;  // type BRUSH; a flagged brush has id 0 and its own address as handle
  void *sourceImage;      // the decoded image a vector brush re-renders from; null otherwise
  qmBitmap *bitmap;       // never null in a finished brush
  qmMask *mask;
  qmAlphaChannel *alpha;
  int32_t width, height;
  int32_t sourcePitch;    // row length of the source pixels; the width for brushes made here
  uint32_t lock;          // non-zero: neither changed nor freed (ERR_LOCKEDOBJ)
  uint32_t deleted;       // freed by the script while a layer still shows it
  uint32_t transparentColor;  // 0xRRGGBB the mask was keyed on, kOwnMaskColor, or none
  uint32_t transformed;   // vector brushes: scaled or turned directly
  uint32_t kind;          // BRUSHKIND_*
  int32_t cropX, cropY, cropWidth, cropHeight;
  uint32_t hardware;      // never set on this platform: no bitmaps live in video memory
  uint32_t hardwarePlanes;
  // Loaded while the applet's declarations ran: the decoded pixels (width x height, rows of
  // sourcePitch words) the bitmap and colour-key mask are made from when the first display
  // opens, or when the brush is looked up before; null otherwise.
  uint32_t *preloadPixels;
  int32_t declLine;  // with preloadPixels: the declaration's line, for the report if they fail
};

// FindBrush flags.
enum : int32_t {
  FINDBRUSH_MODIFY = 1,    // locked brushes fail; layers showing it get their own copy first
  FINDBRUSH_DELETED = 2,   // flagged brushes count
  FINDBRUSH_NOCOPY = 4,    // with MODIFY: no copy for the layers
  FINDBRUSH_NOVECTOR = 8,  // vector brushes fail with ERR_BRUSHTYPE
  FINDBRUSH_HARDWARE = 16, // hardware brushes are accepted
};

// 0 with *out, or ERR_BRUSHTYPE / ERR_HWBRUSH / ERR_LOCKEDOBJ, or the missing-object error.
uint32_t FindBrush(const qmObjectRegistry *objects, const qmObjectId *id, qmBrush **out, int32_t flags);
// Appends a record holding the given planes (taken over on success). An automatic id gets the
// record as handle and id->handle is updated. 0 or ERR_MEM (nothing appended, planes the
// caller's again).
uint32_t NewBrushRecord(qmObjectRegistry *objects, qmObjectId *id, uint32_t kind, int32_t width, int32_t height,
                        int32_t sourcePitch, uint32_t transformed, void *sourceImage, qmBitmap *bitmap,
                        uint32_t transparentColor, qmMask *mask, qmAlphaChannel *alpha, qmBrush **out);
// A new brush filled with the colour (unless noFill); a mask is made all visible (all clear
// with clearPlanes) and an alpha channel 255 (0). 0 or ERR_MEM.
uint32_t CreateBrushNode(qmObjectRegistry *objects, qmObjectId *id, int32_t width, int32_t height, uint32_t color,
                         int32_t withMask, int32_t withAlpha, int32_t clearPlanes, int32_t noFill, qmBrush **out);
// A new pixel brush of width x height 0xAARRGGBB words (the caller keeps them); with hasAlpha
// the alpha bytes become its alpha channel. 0 or ERR_MEM.
uint32_t NewBrushFromArgb(qmObjectRegistry *objects, qmObjectId *id, const uint32_t *argb, int32_t width,
                          int32_t height, int32_t hasAlpha, qmBrush **out);
// The brush's pixels as new 0xAARRGGBB words (MemFree), its mask or alpha channel folded into
// the alpha byte (255 without either); *hasAlpha tells whether it had one. Null without memory.
uint32_t *BrushToArgb(const qmBrush *brush, int32_t *hasAlpha);
// A vector brush's picture drawn anew by its plug-in onto new planes of width x height, under
// values {a, b, c, d, tx, ty} over the picture as loaded (x' = a x + c y + tx, y' = b x + d y +
// ty): a colour key of its mask keys the new mask, its alpha channel is made anew, and a turned
// brush with neither gets a mask of its own (*ownMask 1) hiding what lies outside the picture.
// 0, ERR_BRUSHTYPE (not a vector brush), ERR_TFIMAGE (the plug-in refuses) or ERR_MEM.
uint32_t RenderVectorBrushPlanes(const qmBrush *b, const double values[6], int32_t width, int32_t height, bool turned,
                                 qmBitmap **bitmap, qmMask **mask, qmAlphaChannel **alpha, int32_t *ownMask);
// A listed copy of every plane and of the user data under the new id. 0 or ERR_MEM.
uint32_t CopyBrushRecord(qmObjectRegistry *objects, const qmBrush *src, qmObjectId *newId, int32_t hardware,
                         qmBrush **out);
// Frees the brush of that id: ERR_MODIFYABR while it is the selected output, ERR_LOCKEDOBJ
// when locked. Without reportMissing a missing brush is no error.
uint32_t FreeBrushNode(qmScene *scene, const qmObjectId *id, int32_t reportMissing);
// Frees planes and user data; not the record.
void FreeBrushContents(qmObjectRegistry *objects, qmBrush *brush);
void FreeMarkedBrushes(qmObjectRegistry *objects);
// Makes the bitmaps of every brush still kept as decoded pixels: 0 or ERR_MEM (the brushes
// after the failing one stay as they are; *failedLine, when given, is the failing one's
// declaration line).
uint32_t RealizePreloadedBrushes(const qmObjectRegistry *objects, int32_t *failedLine = nullptr);
void FreeAllBrushes(qmObjectRegistry *objects);
// For plug-ins: 1 with the brush's planes and size, 0 when there is no such pixel brush.
int32_t GetBrushInfo(const qmObjectRegistry *objects, const qmObjectId *id, qmBitmap **bitmap, qmMask **mask,
                     qmAlphaChannel **alpha, int32_t *width, int32_t *height);
// ERR_MODIFYABR when the brush of that id is what a Select* command draws into now, else 0.
uint32_t CheckNotSelectedBrush(const qmScene *scene, const qmObjectId *id);
// The brush's planes replaced by new ones at a new size; the old planes are freed.
void ReplaceBrushPlanes(qmBrush *brush, qmBitmap *bitmap, qmMask *mask, qmAlphaChannel *alpha, int32_t width,
                        int32_t height);

void FreePlanes(qmBitmap *bitmap, qmMask *mask, qmAlphaChannel *alpha);

// The rectangle of dense ARGB pixels (and of the alpha channel): the inputs themselves when
// the rectangle is the whole picture, else new copies (MemFree / FreeAlphaChannel). 0 or ERR_MEM.
uint32_t CropArgbPixels(const uint32_t *pixels, const qmAlphaChannel *alpha, int32_t x, int32_t y, int32_t width,
                        int32_t height, int32_t fullWidth, int32_t fullHeight, const uint32_t **pixelsOut,
                        const qmAlphaChannel **alphaOut);
