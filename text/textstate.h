// What one run keeps of text: the style block every text command starts from (style, colours,
// shadow and edge, the current font), the default encoding, and the run's fonts. The text
// library makes it with the run and frees it at the end; a run after it starts from the
// defaults with no font of the first opened.
#pragma once
#include <cstdint>

#include "text/font.h"
#include "text/textlayout.h"

struct qmTextState {
  qmTextStyle style;
  int32_t encoding;  // 0 ISO-8859-1, 1 UTF-8
  qmFontState *fonts;
};

// The style and encoding a run starts with, the built-in topaz as its font.
void ResetTextStyle(qmTextState *state);
// 0 with a new state holding an empty font state, or ERR_MEM / ERR_FT2.
uint32_t NewTextState(qmTextState **out);
// Frees the state and closes every font its runs opened.
void FreeTextState(qmTextState *state);
