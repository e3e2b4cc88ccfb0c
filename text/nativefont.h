// The system text engine: fonts installed on the machine, found by full name through
// fontconfig, or a font file linked into the applet; sized so that the capital A is as tall as
// the requested size, drawn through FreeType.
#pragma once
#include <cstdint>

#include "text/font.h"

// Through the state's fontconfig use and FreeType library: 1 opened, 0 not.
int32_t OpenNativeFont(qmFontState *fonts, const char *name, int32_t size, qmFont *font);
void CloseNativeFont(qmFont *font);
// 0, ERR_INTERNAL for more than 16,383 characters, ERR_TEXTCONVERT for malformed UTF-8.
uint32_t MeasureNativeText(qmFont *font, const char *text, int32_t length, int32_t style, int32_t utf8,
                           qmTextExtent *extent);
uint32_t RenderNativeText(qmFont *font, void *target, int32_t x, int32_t y, const char *text, int32_t length,
                          int32_t style, int32_t utf8, const qmTextClip *clip, int64_t color);
