// The FreeType engine: TrueType and OpenType faces, the built-in faces from memory, others by
// path or by name through the system font list. Sized so that the requested size is the line
// height; glyphs of codes below 256 without synthetic styles are cached per font and kind.
#pragma once
#include <cstdint>

#include "text/font.h"

// A FreeType library of its own (an FT_Library) for a font state: 0 or ERR_FT2.
uint32_t NewFreeTypeLibrary(void **out);
// After every face opened through it is closed.
void FreeFreeTypeLibrary(void *library);

// Opens through the state's library (names it does not hold are looked up in its font list):
// 1 opened (the record filled), 0 not (everything freed).
int32_t OpenFreeTypeFont(qmFontState *fonts, const char *name, int32_t size, int32_t cache, qmFont *font);
void CloseFreeTypeFont(qmFont *font);
uint32_t MeasureFreeTypeText(qmFont *font, const char *text, int32_t length, int32_t style, int32_t utf8,
                             qmTextExtent *extent);
uint32_t RenderFreeTypeText(qmFont *font, void *target, int32_t x, int32_t y, const char *text, int32_t length,
                            int32_t style, int32_t utf8, const qmTextClip *clip, int64_t color);
int32_t GetFreeTypeKerning(qmFont *font, const char *text, int32_t length, int32_t utf8);
void SetFreeTypeTransform(qmFont *font, double xScale, double yScale);
void FlushFreeTypeGlyphCache(qmFont *font);
// The face (an FT_Face) for the vector-path code.
void *GetFontFace(qmFont *font);
// The engine's pixel size: the factor of every advance and kerning (one above FreeType's).
int32_t GetFreeTypePixelSize(const qmFont *font);

// For the system engine: opens face faceIndex of the file at a pixel size whose capital A is
// size pixels tall (the search from the design size stops at the first size that reaches it,
// never below 1), and fills the record as FreeType does but for its type. 1 opened, 0 not.
int32_t OpenFreeTypeFaceByCapital(qmFontState *fonts, const char *path, int32_t faceIndex, int32_t size,
                                  qmFont *font);
