// The text state of one run.
#include "text/textstate.h"

#include "platform/memory.h"
#include "runtime/errcodes.h"
#include "text/bitmapfont.h"

void ResetTextStyle(qmTextState *state) {
  state->style = {QM_STYLE_NORMAL, 0xFFFFFF, 0, 0x0093DD, 4, 3, 2, const_cast<qmFont *>(GetTopazFont())};
  state->encoding = 0;
}

uint32_t NewTextState(qmTextState **out) {
  *out = nullptr;
  auto *state = static_cast<qmTextState *>(MemAlloc(sizeof(qmTextState), 1));
  if (!state) return ERR_MEM;
  if (uint32_t err = NewFontState(&state->fonts)) {
    MemFree(state);
    return err;
  }
  ResetTextStyle(state);
  *out = state;
  return 0;
}

void FreeTextState(qmTextState *state) {
  if (!state) return;
  FreeFontState(state->fonts);
  MemFree(state);
}
