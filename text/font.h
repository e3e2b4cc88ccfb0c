// The font record that every text operation draws and measures through, and the font layer:
// name resolution, a run's cache of opened fonts and the dispatch by engine.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "graphics/bitmap.h"
#include "platform/path.h"

// The script's engine numbers.
enum : int32_t {
  FONTENGINE_NATIVE = 0,   // a bitmap .font first, then the system engine
  FONTENGINE_INBUILT = 4,  // FreeType
};

// Engine types of a record; any other value makes every operation do nothing.
enum : int32_t {
  QM_FONT_BITMAP = 1,  // .font with one plane
  QM_FONT_COLOR = 2,   // colour .font
  QM_FONT_NATIVE = 3,
  QM_FONT_FREETYPE = 4,
};

// Style bits the engines read.
enum : int32_t {
  QM_STYLE_NORMAL = 1,
  QM_STYLE_BOLD = 2,
  QM_STYLE_ITALIC = 4,
  QM_STYLE_UNDERLINED = 8,
  QM_STYLE_ANTIALIAS = 16,
  QM_STYLE_SHADOW = 32,
  QM_STYLE_EDGE = 64,
};

constexpr int32_t kFontNameSize = 1024;

struct qmFont {
  char faceName[kFontNameSize];    // set by the engine
  char openedName[kFontNameSize];  // the resolved name the layer opened it by
  int32_t size;                    // requested size in pixels
  int32_t height;                  // line height after scaling
  int32_t baseline;                // top of a line to the baseline, after scaling
  int32_t unscaledHeight;
  int32_t unscaledBaseline;
  int32_t engineType;
  int32_t scalable;
  int32_t antiAliasCapable;
  int32_t nativeRouting;  // a type 1 or 2 record served by the system engine
  double xScale;
  double yScale;
  void *engineData;          // owned by the engine
  qmBitmap *colorBitmap;     // type 2: the glyph strip
  qmMask *colorMask;         // type 2: its transparency
  uint32_t *pendingImage;    // type 2 while no bitmap can be made yet (ARGB)
  int32_t pendingWidth;
  int32_t pendingHeight;
  void *vectorFont;          // released by the vector-path code
};

// x relative to the pen start, y relative to the baseline growing downwards. The engines fill
// the first six words; the text library adds the rest.
struct qmTextExtent {
  int32_t width;  // pen advance of the whole text
  int32_t height; // the font's height
  int32_t minX, minY, maxX, maxY;
  int32_t inkWidth;
  int32_t top, bottom, left, right;  // extensions of synthetic styles, shadow and edge
};

struct qmTextClip {
  int32_t x, y, width, height;
};

// Colour argument of RenderFontText that writes glyph shapes into a plane instead of painting.
constexpr int64_t kGlyphPlane = -1;

struct qmFontCacheNode;
struct qmFontListEntry;

// What one run keeps of fonts: every font it opened, the folders it added to the search, the
// system font list once asked for, and its own FreeType library. Freeing it closes them all, so
// a run that follows starts with none of them.
struct qmFontState {
  qmFontCacheNode *cache = nullptr;  // in opening order
  std::vector<std::string> paths;    // AddFontPath's folders, in the order added
  qmFontListEntry *list = nullptr;   // the system font list (text/fontscan.h)
  int32_t listed = 0;                // the list is made
  int32_t fontconfig = 0;            // this state holds a use of fontconfig
  void *freetype = nullptr;          // the FT_Library its FreeType faces belong to
  char mapped[kMaxPathLength + 1] = {};         // the answer of MapFontNameToFile
  char temporaryName[kMaxPathLength + 1] = {};  // the file a collection face was last copied into
};

// 0 with a new state, ERR_MEM or ERR_FT2.
uint32_t NewFontState(qmFontState **out);
// Closes every font of the cache, drops the list and the paths, releases FreeType and fontconfig.
void FreeFontState(qmFontState *fonts);

// Cached open (the text commands): aliases, ".font" cut, path check, cache walk, open, and a
// failed FreeType open tried once more on engine 0. 0 or an error code.
uint32_t GetCachedFont(qmFontState *fonts, const char *name, int32_t size, int32_t engine, int32_t cache,
                       int32_t linked, qmFont **out);
// Opens without the cache: 0 or an error code (ERR_OPENFONT with the name and size set).
uint32_t OpenFontRecord(qmFontState *fonts, const char *name, int32_t size, int32_t engine, int32_t cache,
                        int32_t linked, qmFont **out);
// Closes through the engine and frees the record; the built-in topaz record is left alone.
void CloseFontRecord(qmFont *font);

// Style bits 2 bold, 4 italic, 16 anti-alias. 0 or the engine's error.
uint32_t MeasureFontText(qmFont *font, const char *text, int32_t length, int32_t style, int32_t utf8,
                         qmTextExtent *extent);
// Draws at pen x and line top y, clipped to the rectangle. A null font is the built-in topaz.
// With a colour (0xRRGGBB) target is a qmBitmap; with kGlyphPlane it is a qmMask (plain glyphs
// set bits) or an 8-bit plane (anti-aliased glyphs write coverage); colour fonts then copy
// their pixels into target and their mask bits into second.
uint32_t RenderFontText(qmFont *font, void *target, void *second, int32_t x, int32_t y, const char *text,
                        int32_t length, int32_t style, int32_t utf8, const qmTextClip *clip, int64_t color);
void SetFontScale(qmFont *font, double xScale, double yScale);
// 1 for fonts the system engine made (callers then add no synthetic style extents).
int32_t IsNativeFont(const qmFont *font);
void FlushFontGlyphCache(qmFont *font);
// Kerning in pixels of a text of exactly two characters; 0 for anything else.
int32_t GetFontKerning(qmFont *font, const char *text, int32_t length, int32_t style, int32_t utf8);

// Decodes UTF-8 into codes: into buffer when 4 x length fits bufferBytes, else into a new
// allocation (*allocated = 1; FreeDecodedText). 0, or 1003 without the flag or for a malformed
// or truncated sequence (the caller then reads the bytes as Latin-1).
uint32_t DecodeUtf8Text(const char *text, int32_t length, int32_t utf8, uint32_t *buffer, int32_t bufferBytes,
                        uint32_t **codes, int32_t *count, int32_t *allocated);
void FreeDecodedText(uint32_t *codes, int32_t allocated);

// Empties the glyph caches of every cached font, or of the cache entries holding that font.
void FlushAllFontGlyphCaches(qmFontState *fonts, qmFont *only);
// Closes every cached font and empties the cache.
void FreeFontCache(qmFontState *fonts);

// Search for a bitmap font's contents file: the font paths, the current folder, "Fonts/".
// 1 with the path written (kFontNameSize bytes), 0 when not found.
int32_t FindFontFile(const qmFontState *fonts, const char *name, char *path);

// The font-path list (AddFontPath): folders searched first for fonts, in the order added.
// 0 or ERR_MEM; the caller checked the folder.
uint32_t AddFontPathEntry(qmFontState *fonts, const char *path);
void FreeFontPaths(qmFontState *fonts);
