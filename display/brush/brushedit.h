// Changes made to a brush in place: the shared checks before any change, and the operations
// that swap in new planes only after they were made.
#pragma once
#include <cstdint>

#include "display/brush.h"

struct VmState;
struct qmDisplay;

// The checks of every command that changes a brush: not the selected output (ERR_MODIFYABR),
// found without the deletion flag, a pixel brush and no hardware brush unless flags say
// otherwise (FINDBRUSH_HARDWARE accepts both kinds), not locked.
uint32_t FindBrushToEdit(VmState *L, const qmObjectId *id, qmBrush **out, int32_t flags);
// A number id first frees the brush it names; a missing one is no error.
uint32_t FreeOldBrushOfId(VmState *L, const qmObjectId &id);

// New size from script numbers (kKeepAspect for one side): checked in 64 bits first. 0,
// ERR_BADDIMENSIONS, ERR_WRONGUSAGE or ERR_MEM.
uint32_t ScaleBrushCore(qmBrush *brush, double width, double height, int32_t smooth);
// Turned by the 2x2 matrix (x' = m0 x + m2 y, y' = m1 x + m3 y) with mask and alpha; the
// display (may be null) lends its layer-scale factors to the size it predicts.
uint32_t TransformBrushCore(const qmDisplay *display, qmBrush *brush, const double m[4], int32_t smooth);
// count pairs of 0xRRGGBB colours {from, to}.
uint32_t ReplaceBrushColors(qmBrush *brush, const uint32_t *pairs, int32_t count);
// A colour-key mask for the colour (none for 0xFFFFFFFF); the old mask and alpha go.
uint32_t SetBrushTransparencyCore(qmBrush *brush, uint32_t color);
// x and y resolved already: ERR_NEGCOORDS, ERR_COORDSRANGE, ERR_MEM or 0.
uint32_t CropBrushCore(qmBrush *brush, int32_t x, int32_t y, int32_t width, int32_t height);
// Every byte of the plane's rows inverted; ERR_WRONGUSAGE without the plane.
uint32_t InvertPlane(qmMask *plane, int32_t rows);
uint32_t FloodFillBrush(qmBrush *brush, int32_t x, int32_t y, uint32_t border, uint32_t fill);

// The smallest box around the visible pixels (mask bits set, else alpha not 0, else all) becomes
// the brush; *left and *top receive its corner. ERR_TRANSBRUSH when nothing is visible.
uint32_t TrimBrushCore(qmBrush *brush, int32_t *left, int32_t *top);
// The brush keeps only a mask (QMTYPE_MASK), only an alpha channel (QMTYPE_ALPHACHANNEL) or
// neither (-1); a new plane is made from the other one or fully visible. 0, ERR_MEM or
// ERR_WRONGUSAGE for another type.
uint32_t ChangeBrushTransparencyCore(qmBrush *brush, int32_t type);
// Bent by a distortion method of the graphics core; the result replaces the brush's planes and
// size only when it was made.
uint32_t DistortBrushCore(qmBrush *brush, int32_t method, int32_t paramCount, const double *params, int32_t smooth);

// The pixel's 0xRRGGBB and its mask bit, alpha value or -1; outside: 0xFFFFFFFF and -1.
void ReadBrushPixelAt(const qmBrush *brush, int32_t x, int32_t y, uint32_t *rgb, int32_t *plane);
// Outside the brush nothing happens. transparency -1 leaves mask and alpha as they are; else
// 0 sets the mask bit and anything else clears it, or its low byte becomes the alpha value.
void WriteBrushPixelAt(qmBrush *brush, int32_t x, int32_t y, uint32_t color, int32_t transparency);
// The pixel as A << 24 | RGB, A from the alpha channel, the mask (255 / 0) or 255; inverted
// gives 255 - A.
uint32_t BrushPixelArgb(const qmBrush *brush, const qmBitmapView &view, int32_t x, int32_t y, bool inverted);
// The reverse: RGB into the pixel and A (inverted when asked) into the mask bit (set when not
// 0) or the alpha value.
void SetBrushPixelArgb(qmBrush *brush, const qmBitmapView &view, int32_t x, int32_t y, uint32_t argb, bool inverted);
