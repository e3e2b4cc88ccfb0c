// The skeleton every piece reveal runs (the new picture shown in place, piece by piece, its frames
// replayed for a re-render): a cleared state and the set-up at the init call; each frame the
// progress restarted at frame 0, the member's pieces and advance, and the frame's tail.
#pragma once
#include <cstdint>

#include "platform/memory.h"
#include "runtime/errcodes.h"
#include "transitions/fxprims.h"
#include "transitions/fxrequest.h"

template <class State>
struct qmPieceReveal {
  int32_t variant;  // handed to every call: the member's axis, direction or anchor
  // Piece size, step and stepCount into the request and the state: 0 or an error.
  uint32_t (*setup)(qmFxRequest *fx, State *s, int32_t variant);
  // The progress at its start (frame 0).
  void (*start)(const qmFxRequest *fx, State *s, int32_t variant);
  // This frame's pieces (*done set on the last frame), then the advance.
  void (*frame)(qmFxRequest *fx, State *s, int32_t variant, int32_t *done);
};

template <class State>
uint32_t RunPieceReveal(qmFxRequest *fx, int32_t *done, const qmPieceReveal<State> &m) {
  if (fx->phase == FXPHASE_INIT) {
    auto *s = static_cast<State *>(MemAlloc(sizeof(State), 1));
    if (!s) return ERR_MEM;
    fx->fxState = s;
    return m.setup(fx, s, m.variant);
  }
  if (fx->phase != FXPHASE_FRAME) return 0;
  auto *s = static_cast<State *>(fx->fxState);
  if (fx->frameNo == 0) m.start(fx, s, m.variant);
  m.frame(fx, s, m.variant, done);
  FxFrameTail(fx);
  return 0;
}

// The piece (x, y, width x height) of the area, its part left of or above the area cut off.
inline void DrawCutFxPiece(qmFxRequest *fx, int32_t x, int32_t y, int32_t width, int32_t height) {
  if (x < 0) width += x, x = 0;
  if (y < 0) height += y, y = 0;
  DrawFxPiece(fx, x, y, width, height);
}

// The rectangle of position p that keeps the area's proportions: p along the longer side (the
// width when both are equal), the integer part of p x shorter / longer + 1 across, at least 1
// when atLeastOne.
inline void FxRectOfPosition(const qmFxRequest *fx, int32_t p, bool atLeastOne, int32_t *width, int32_t *height) {
  const bool wide = fx->width >= fx->height;
  const int32_t longer = wide ? fx->width : fx->height, shorter = wide ? fx->height : fx->width;
  int32_t across = int32_t(double(p) * (double(shorter) / double(longer)) + 1.0);
  if (atLeastOne && across < 1) across = 1;
  *width = wide ? p : across;
  *height = wide ? across : p;
}
