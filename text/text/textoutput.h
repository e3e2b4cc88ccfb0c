// The output of one laid-out block into the current output, and the run's text state every
// text command reads.
#pragma once
#include <cstdint>

#include "display/displaytags.h"
#include "text/textlayout.h"
#include "text/textstate.h"

struct VmState;

// The run's text state: the style block with the current font, the default encoding and the
// fonts. Null while the text library is closed.
qmTextState *GetTextState(VmState *L);

// Blits a text picture through its mask or alpha into the current output at (x, y).
void BlitTextPicture(VmState *L, const qmBitmap *bitmap, const qmMask *mask, const qmAlphaChannel *alpha, int32_t x,
                     int32_t y, int32_t width, int32_t height);

// With layers on: the picture (borrowed; its anchor point at (x, y)) becomes a layer of the kind
// (TEXTOUT, PRINT, TEXTOBJECT for the object id) keeping a copy of the request, turned and
// scaled by the transform (null: none) and changed by the tags' filters; its transparency,
// name, insert position and hidden switch come from the tags (null: none). The rectangle is
// then shown composed from the layers. With IMGCORE_INSERT in the flags the layer goes to the
// 1-based position (-1: on top) and nothing is shown (InsertLayer shows it); IMGCORE_HIDDEN hides
// it. 0 or an error; nothing changes on an error.
uint32_t ShowTextAsLayer(VmState *L, const qmTextRequest *request, int32_t kind, const qmObjectId *id,
                         const qmBitmap *bitmap, const qmMask *mask, const qmAlphaChannel *alpha, int32_t width,
                         int32_t height, int32_t x, int32_t y, const qmTransform *transform,
                         const qmDisplayTags *tags, int32_t position, uint32_t flags);

// Lays the request out and draws it into the current output (kinds TEXTOUT and PRINT); Print
// moves the display's cursor. The transform (null: none) turns and scales the picture about its
// anchor; the display tags' filters and transparency (null: none) are applied to it. 0 or an
// error code; nothing is drawn on an error.
uint32_t RenderTextBlock(VmState *L, qmTextRequest *request, int32_t kind, int32_t plain, const qmTransform *transform,
                         const qmDisplayTags *tags);
