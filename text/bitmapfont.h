// The bitmap font engine: AmigaOS ".font" contents files with their size files, one plane
// (type 1) or colour (type 2), and the built-in "topaz" 8. Text is Latin-1 bytes.
#pragma once
#include <cstdint>

#include "text/font.h"

// The built-in record: one for the whole process, read only, never closed.
const qmFont *GetTopazFont();

// Opens the size of the contents file at path (or a ":::chunk" name): 1 opened, 0 not.
int32_t OpenBitmapFont(const char *path, int32_t size, qmFont *font);
// Reads one size file (an AmigaOS hunk file with the font structure): 1 and the record's
// engine fields filled, or 0 with nothing left allocated.
int32_t LoadBitmapFontSizeFile(const char *path, qmFont *font);
void CloseBitmapFont(qmFont *font);
uint32_t MeasureBitmapFontText(qmFont *font, const char *text, int32_t length, int32_t style, qmTextExtent *extent);
uint32_t RenderBitmapFontText(qmFont *font, void *target, void *second, int32_t x, int32_t y, const char *text,
                              int32_t length, int32_t style, const qmTextClip *clip, int64_t color);
