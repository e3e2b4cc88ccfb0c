// The text state every text output reads: the style block with the current font, the default
// encoding, and the output of one laid-out block into the current output.
#pragma once
#include <cstdint>

#include "text/textlayout.h"

struct VmState;

// The process-wide style block (style, colours, shadow and edge, current font).
qmTextStyle *GetTextState();
qmFont *GetCurrentFont();
int32_t GetDefaultEncoding();
void SetDefaultEncodingValue(int32_t encoding);
void ResetTextState(qmFont *font);

// Lays the request out and draws it into the current output (kinds TEXTOUT and PRINT); Print
// moves the display's cursor. 0 or an error code; nothing is drawn on an error.
uint32_t RenderTextBlock(VmState *L, qmTextRequest *request, int32_t kind, int32_t plain);
