// The FreeType engine. Every FreeType call of the player's text code is in this file.
#include "text/freetype_font.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_GLYPH_H
#include FT_SYNTHESIS_H

#include <cmath>
#include <cstdio>
#include <cstring>

#include "graphics/blend_kernels.h"
#include "graphics/blit.h"
#include "platform/file.h"
#include "platform/fileops.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"
#include "runtime/strutil.h"
#include "text/builtin_faces.h"
#include "text/fontscan.h"

namespace {

// Load flags: no auto-hinter, and rendered at once for the probes.
constexpr FT_Int32 kLoadNoAutohint = FT_LOAD_NO_AUTOHINT;
constexpr FT_Int32 kLoadProbe = FT_LOAD_NO_AUTOHINT | FT_LOAD_RENDER;

struct qmCachedGlyph {
  FT_Glyph glyph;   // an FT_BitmapGlyph
  int64_t emAdvance;  // the advance in 1/65536 of an em
};

struct qmStreamDescriptor {
  qmFileHandle *file;
  uint64_t base;
  uint64_t size;
};

struct qmFreeTypeFontData {
  FT_StreamRec stream;
  qmStreamDescriptor descriptor;
  FT_Face face;
  qmFileHandle *file;
  void *extraBuffer;
  int32_t dpiX, dpiY;
  int32_t pixelSize;
  char temporaryName[kFontNameSize];
  int32_t temporary;
  int32_t cache;
  qmCachedGlyph antiAliased[256];
  qmCachedGlyph oneBit[256];
  uint32_t charIndex[256];  // glyph index + 1 of each code below 256; 0 until looked up
  FT_Fixed xMatrix;  // 16.16 horizontal scale of the transform; 0x10000 without one
};

// One glyph as the engine hands it out: the bitmap stays valid until the next glyph is got.
struct qmGlyphImage {
  int32_t left, top;
  int64_t emAdvance;  // 1/65536 em
  const FT_Bitmap *bitmap;
};

unsigned long FreeTypeStreamRead(FT_Stream stream, unsigned long offset, unsigned char *buffer,
                                 unsigned long count) {
  auto *d = static_cast<qmStreamDescriptor *>(stream->descriptor.pointer);
  // A seek past the end cannot be honoured (FreeType reads that as failure for count 0).
  if (offset > d->size) return count ? 0 : 1;
  FileSeek(d->file, static_cast<int64_t>(d->base + offset), FILE_SEEK_START);
  if (!count) return 0;
  uint64_t left = d->size - offset;
  uint64_t want = count < left ? count : left;
  return static_cast<unsigned long>(FileRead(d->file, buffer, want));
}

void FreeCache(qmCachedGlyph *cache) {
  for (int i = 0; i < 256; i++) {
    if (cache[i].glyph) FT_Done_Glyph(cache[i].glyph);
    cache[i].glyph = nullptr;
    cache[i].emAdvance = 0;
  }
}

void FreeFreeTypeData(qmFreeTypeFontData *d) {
  if (!d) return;
  FreeCache(d->antiAliased);
  FreeCache(d->oneBit);
  if (d->face) FT_Done_Face(d->face);
  MemFree(d->extraBuffer);
  if (d->file) FileClose(d->file);
  if (d->temporary) RemoveFile(d->temporaryName);
  MemFree(d);
}


// Largest bitmap top (a) and largest rows - top (d) of the test characters; 0 when none loads.
int32_t ProbeBaselineCharacters(FT_Face face, int32_t *a, int32_t *d) {
  static const uint32_t kTest[] = {'A', 0xC0, 0xC4, 'q'};
  int32_t found = 0;
  *a = 0;
  *d = 0;
  for (uint32_t c : kTest) {
    FT_UInt index = FT_Get_Char_Index(face, c);
    if (!index || FT_Load_Glyph(face, index, kLoadProbe)) continue;
    FT_GlyphSlot slot = face->glyph;
    int32_t top = slot->bitmap_top;
    int32_t down = static_cast<int32_t>(slot->bitmap.rows) - top;
    if (!found || top > *a) *a = top;
    if (!found || down > *d) *d = down;
    found = 1;
  }
  return found;
}

int32_t HasSuffix(const char *name, const char *suffix) {
  size_t n = std::strlen(name), s = std::strlen(suffix);
  return n >= s && Stricmp(name + n - s, suffix) == 0;
}

// The face's family and, unless it is a regular one, its style, into the record's face name.
void SetFaceName(FT_Face face, qmFont *font) {
  const char *family = face->family_name ? face->family_name : "";
  const char *style = face->style_name ? face->style_name : "";
  if (style[0] && !IsRegularStyleName(style))
    std::snprintf(font->faceName, sizeof font->faceName, "%s %s", family, style);
  else
    CopyString(font->faceName, family, sizeof font->faceName);
}

// Opens the face behind the name: the stored faces from memory, anything else as a file.
int32_t OpenFace(qmFontState *fonts, qmFreeTypeFontData *d, const char *name, FT_Long faceIndex = 0) {
  auto library = static_cast<FT_Library>(fonts->freetype);
  const char *path = name;
  uint64_t position = 0, length = 0;
  if (std::strncmp(name, ":::chunk", 8) != 0) {
    if (const qmBuiltinFace *b = FindBuiltinFace(name))
      return FT_New_Memory_Face(library, b->data, static_cast<FT_Long>(b->size), 0, &d->face) == 0;
    if (!HasSuffix(name, ".ttf") && !HasSuffix(name, ".otf")) {
      int32_t temporary = 0;
      path = MapFontNameToFile(fonts, name, -1, 0, 0, &position, &length, &temporary);
      if (!path) return 0;
      if (temporary) {
        CopyString(d->temporaryName, path, sizeof d->temporaryName);
        d->temporary = 1;
      }
    }
  }
  d->file = FileOpen(path, FILE_MODE_READ);
  if (!d->file) return 0;
  uint64_t fileSize = d->file->size;
  if (length) {
    if (position > fileSize || length > fileSize - position) return 0;
  } else {
    position = 0;
    length = fileSize;
  }
  d->descriptor = {d->file, position, length};
  d->stream.base = nullptr;
  d->stream.size = static_cast<unsigned long>(length);
  d->stream.pos = 0;
  d->stream.descriptor.pointer = &d->descriptor;
  d->stream.read = FreeTypeStreamRead;
  d->stream.close = nullptr;
  FT_Open_Args args{};
  args.flags = FT_OPEN_STREAM;
  args.stream = &d->stream;
  return FT_Open_Face(library, &args, faceIndex, &d->face) == 0;
}

// The glyph of code (index already looked up), rendered in the kind the style asks for.
// 0, or -1 when it does not load or render.
int32_t GetFreeTypeGlyph(qmFreeTypeFontData *d, uint32_t code, FT_UInt index, int32_t style, qmGlyphImage *out) {
  int32_t antiAlias = (style & QM_STYLE_ANTIALIAS) != 0;
  int32_t cacheable = !(style & (QM_STYLE_BOLD | QM_STYLE_ITALIC)) && d->cache && code < 256;
  qmCachedGlyph *cache = antiAlias ? d->antiAliased : d->oneBit;
  if (cacheable && cache[code].glyph) {
    auto *g = reinterpret_cast<FT_BitmapGlyph>(cache[code].glyph);
    *out = {g->left, g->top, cache[code].emAdvance, &g->bitmap};
    return 0;
  }
  FT_Face face = d->face;
  if (FT_Load_Glyph(face, index, kLoadNoAutohint)) return -1;
  FT_GlyphSlot slot = face->glyph;
  if (style & QM_STYLE_BOLD) FT_GlyphSlot_Embolden(slot);
  if (style & QM_STYLE_ITALIC) FT_GlyphSlot_Oblique(slot);
  if (FT_Render_Glyph(slot, antiAlias ? FT_RENDER_MODE_NORMAL : FT_RENDER_MODE_MONO)) return -1;
  // The transform scales the slot's advance too; the caller applies the x scale once itself.
  FT_Pos advance = slot->advance.x;
  if (d->xMatrix != 0x10000 && d->xMatrix > 0) advance = static_cast<FT_Pos>((advance * 65536) / d->xMatrix);
  const int64_t ppem = face->size->metrics.x_ppem ? face->size->metrics.x_ppem : 1;
  const int64_t emAdvance = (static_cast<int64_t>(advance) * 1024) / ppem;
  if (cacheable) {
    FT_Glyph glyph;
    if (FT_Get_Glyph(slot, &glyph) == 0) {
      cache[code] = {glyph, emAdvance};
      auto *g = reinterpret_cast<FT_BitmapGlyph>(glyph);
      *out = {g->left, g->top, emAdvance, &g->bitmap};
      return 0;
    }
  }
  *out = {slot->bitmap_left, slot->bitmap_top, emAdvance, &slot->bitmap};
  return 0;
}

// The glyph index of a code; those below 256 are looked up once per face.
FT_UInt CharIndex(qmFreeTypeFontData *d, uint32_t code) {
  if (code >= 256) return FT_Get_Char_Index(d->face, code);
  if (!d->charIndex[code]) d->charIndex[code] = FT_Get_Char_Index(d->face, code) + 1;
  return d->charIndex[code] - 1;
}

// The codes of the text: decoded UTF-8, or the bytes when the flag is off or decoding fails.
struct qmCodes {
  uint32_t buffer[256];
  uint32_t *codes = nullptr;
  int32_t count = 0;
  int32_t allocated = 0;
  qmCodes(const char *text, int32_t length, int32_t utf8) {
    if (DecodeUtf8Text(text, length, utf8, buffer, sizeof buffer, &codes, &count, &allocated) == 0) return;
    if (length <= 256) {
      codes = buffer;
      allocated = 0;
    } else {
      codes = static_cast<uint32_t *>(MemAlloc(static_cast<uint32_t>(length) * 4, 0));
      allocated = codes != nullptr;
      if (!codes) length = 0;
    }
    for (int32_t i = 0; i < length; i++) codes[i] = static_cast<uint8_t>(text[i]);
    count = length;
  }
  ~qmCodes() { FreeDecodedText(codes, allocated); }
  qmCodes(const qmCodes &) = delete;
  qmCodes &operator=(const qmCodes &) = delete;
};

// Pixels the pen moves for one character, kerning towards the next one included.
int32_t CharacterAdvance(const qmFont *font, const qmFreeTypeFontData *d, int64_t emAdvance, FT_UInt index,
                         FT_UInt nextIndex) {
  FT_Face face = d->face;
  int64_t em = emAdvance;
  if (FT_HAS_KERNING(face) && index && nextIndex) {
    FT_Vector v;
    if (FT_Get_Kerning(face, index, nextIndex, FT_KERNING_UNSCALED, &v) == 0 && v.x) {
      const int64_t units = face->units_per_EM ? face->units_per_EM : 1;
      em += (static_cast<int64_t>(v.x) * 65536) / units;
    }
  }
  int64_t pixels = (em * d->pixelSize) / 65536;
  return static_cast<int32_t>(static_cast<double>(pixels) * font->xScale);
}

// Cuts the glyph box at (x, y) to the clip rectangle and the target's size: the source
// offset and size left, or 0 when nothing remains.
int32_t ClipGlyph(int32_t *x, int32_t *y, int32_t *sx, int32_t *sy, int32_t *w, int32_t *h, const qmTextClip *clip,
                  int32_t targetW, int32_t targetH) {
  int32_t left = 0, top = 0, right = targetW, bottom = targetH;
  if (clip) {
    left = clip->x > left ? clip->x : left;
    top = clip->y > top ? clip->y : top;
    if (clip->x + clip->width < right) right = clip->x + clip->width;
    if (clip->y + clip->height < bottom) bottom = clip->y + clip->height;
  }
  *sx = *sy = 0;
  if (*x < left) { *sx = left - *x; *w -= *sx; *x = left; }
  if (*y < top) { *sy = top - *y; *h -= *sy; *y = top; }
  if (*x + *w > right) *w = right - *x;
  if (*y + *h > bottom) *h = bottom - *y;
  return *w > 0 && *h > 0;
}

void DrawGlyph(const FT_Bitmap *bm, int32_t gx, int32_t gy, void *target, const qmTextClip *clip, int64_t color) {
  int32_t w = static_cast<int32_t>(bm->width), h = static_cast<int32_t>(bm->rows);
  if (w <= 0 || h <= 0 || bm->pitch <= 0 || !target) return;
  int32_t sx, sy;
  int32_t mono = bm->pixel_mode == FT_PIXEL_MODE_MONO;
  if (color == kGlyphPlane) {
    auto *plane = static_cast<qmMask *>(target);
    if (!ClipGlyph(&gx, &gy, &sx, &sy, &w, &h, clip, plane->width, plane->height)) return;
    for (int32_t row = 0; row < h; row++) {
      const uint8_t *src = bm->buffer + static_cast<ptrdiff_t>(sy + row) * bm->pitch;
      uint8_t *dst = plane->memory + static_cast<ptrdiff_t>(gy + row) * plane->bytesPerRow;
      for (int32_t col = 0; col < w; col++) {
        int32_t s = sx + col, t = gx + col;
        if (mono) {
          if (src[s >> 3] & (0x80 >> (s & 7))) dst[t >> 3] |= static_cast<uint8_t>(0x80 >> (t & 7));
        } else if (src[s]) {
          dst[t] = src[s];
        }
      }
    }
    return;
  }
  auto *bitmap = static_cast<qmBitmap *>(target);
  if (!ClipGlyph(&gx, &gy, &sx, &sy, &w, &h, clip, bitmap->width, bitmap->height)) return;
  uint32_t rgb = static_cast<uint32_t>(color) & 0xFFFFFF;
  if (mono) {
    qmMask wrapper{bm->buffer, static_cast<int32_t>(bm->width), static_cast<int32_t>(bm->rows), bm->pitch, 1};
    BltTemplate(&wrapper, sx, sy, bitmap, gx, gy, w, h, rgb);
    return;
  }
  qmCoverageRequest req{};
  req.coverage = bm->buffer;
  req.coverageX = sx;
  req.coverageY = sy;
  req.coverageBytesPerRow = bm->pitch;
  req.dstBase = bitmap->pixels;
  req.dstX = gx;
  req.dstY = gy;
  req.dstPitch = bitmap->bytesPerRow / 4;
  req.width = w;
  req.height = h;
  req.color = rgb;
  req.mode = QM_COVER_BLEND;
  req.level = 255;
  req.format = bitmap->pixelFormat;
  AlphaCoveragePixels(&req);
}

}  // namespace

const qmBuiltinFace *FindBuiltinFace(const char *name) {
  for (const qmBuiltinFace &f : kBuiltinFaces)
    if (Stricmp(name, f.name) == 0) return &f;
  return nullptr;
}

uint32_t NewFreeTypeLibrary(void **out) {
  FT_Library library = nullptr;
  if (FT_Init_FreeType(&library)) return ERR_FT2;
  *out = library;
  return 0;
}

void FreeFreeTypeLibrary(void *library) {
  if (library) FT_Done_FreeType(static_cast<FT_Library>(library));
}

int32_t OpenFreeTypeFont(qmFontState *fonts, const char *name, int32_t size, int32_t cache, qmFont *font) {
  if (!fonts->freetype || size < 1) return 0;
  auto *d = static_cast<qmFreeTypeFontData *>(MemAlloc(sizeof(qmFreeTypeFontData), 1));
  if (!d) return 0;
  d->xMatrix = 0x10000;
  if (!OpenFace(fonts, d, name)) {
    FreeFreeTypeData(d);
    return 0;
  }
  FT_Face face = d->face;
  // Probe at 100 pixels per em: the tallest ascent and deepest descent over Latin-1.
  int32_t ascent = 0, descent = 0;
  if (FT_Set_Char_Size(face, 0, 6400, 72, 72) == 0) {
    for (uint32_t c = 33; c <= 255; c++) {
      FT_UInt index = FT_Get_Char_Index(face, c);
      if (!index || FT_Load_Glyph(face, index, kLoadProbe)) continue;
      FT_GlyphSlot slot = face->glyph;
      int32_t top = slot->bitmap_top;
      int32_t down = static_cast<int32_t>(slot->bitmap.rows) - top;
      if (top > ascent) ascent = top;
      if (down > descent) descent = down;
    }
  }
  if (ascent + descent <= 0) {
    FreeFreeTypeData(d);
    return 0;
  }
  int32_t p = static_cast<int32_t>(static_cast<int64_t>(size) * 100 / (ascent + descent));
  if (p < 2) p = 2;  // FreeType's pixel size p - 1 must stay at least 1
  d->pixelSize = p;
  d->dpiX = d->dpiY = 72;
  d->cache = cache;
  if (FT_Set_Pixel_Sizes(face, static_cast<FT_UInt>(p - 1), 0)) {
    FreeFreeTypeData(d);
    return 0;
  }
  SetFaceName(face, font);
  font->engineType = QM_FONT_FREETYPE;
  font->antiAliasCapable = 1;
  font->scalable = 1;
  font->size = font->height = font->unscaledHeight = size;
  int32_t a, dd;
  int32_t baseline = ProbeBaselineCharacters(face, &a, &dd) ? (size + a - dd + 1) / 2 : size * 3 / 4;
  font->baseline = font->unscaledBaseline = baseline;
  font->engineData = d;
  return 1;
}

void CloseFreeTypeFont(qmFont *font) {
  FreeFreeTypeData(static_cast<qmFreeTypeFontData *>(font->engineData));
  font->engineData = nullptr;
}

uint32_t MeasureFreeTypeText(qmFont *font, const char *text, int32_t length, int32_t style, int32_t utf8,
                             qmTextExtent *extent) {
  auto *d = static_cast<qmFreeTypeFontData *>(font->engineData);
  qmCodes codes(text, length, utf8);
  int32_t pen = 0, minX = 10000, minY = 10000, maxX = 0, maxY = 0, inked = 0;
  FT_UInt index = codes.count ? CharIndex(d, codes.codes[0]) : 0;
  for (int32_t i = 0; i < codes.count; i++) {
    FT_UInt next = i + 1 < codes.count ? CharIndex(d, codes.codes[i + 1]) : 0;
    qmGlyphImage g;
    if (GetFreeTypeGlyph(d, codes.codes[i], index, style, &g) == 0) {
      if (codes.codes[i] != ' ') {
        int32_t x0 = pen + g.left, x1 = x0 + static_cast<int32_t>(g.bitmap->width);
        int32_t y0 = -g.top, y1 = y0 + static_cast<int32_t>(g.bitmap->rows);
        if (x0 < minX) minX = x0;
        if (y0 < minY) minY = y0;
        if (x1 > maxX) maxX = x1;
        if (y1 > maxY) maxY = y1;
        inked = 1;
      }
      pen += CharacterAdvance(font, d, g.emAdvance, index, next);
    }
    index = next;
  }
  if (!inked) minX = minY = 0;
  extent->width = pen;
  extent->height = font->height;
  extent->minX = minX;
  extent->minY = minY;
  extent->maxX = maxX;
  extent->maxY = maxY;
  return 0;
}

uint32_t RenderFreeTypeText(qmFont *font, void *target, int32_t x, int32_t y, const char *text, int32_t length,
                            int32_t style, int32_t utf8, const qmTextClip *clip, int64_t color) {
  auto *d = static_cast<qmFreeTypeFontData *>(font->engineData);
  qmCodes codes(text, length, utf8);
  int32_t pen = x;
  FT_UInt index = codes.count ? CharIndex(d, codes.codes[0]) : 0;
  for (int32_t i = 0; i < codes.count; i++) {
    FT_UInt next = i + 1 < codes.count ? CharIndex(d, codes.codes[i + 1]) : 0;
    qmGlyphImage g;
    if (GetFreeTypeGlyph(d, codes.codes[i], index, style, &g) == 0) {
      DrawGlyph(g.bitmap, pen + g.left, y + font->baseline - g.top, target, clip, color);
      pen += CharacterAdvance(font, d, g.emAdvance, index, next);
    }
    index = next;
  }
  return 0;
}

int32_t GetFreeTypeKerning(qmFont *font, const char *text, int32_t length, int32_t utf8) {
  auto *d = static_cast<qmFreeTypeFontData *>(font->engineData);
  if (!d || !FT_HAS_KERNING(d->face)) return 0;
  qmCodes codes(text, length, utf8);
  if (codes.count != 2) return 0;
  FT_UInt left = FT_Get_Char_Index(d->face, codes.codes[0]);
  FT_UInt right = FT_Get_Char_Index(d->face, codes.codes[1]);
  if (!left || !right) return 0;
  FT_Vector v;
  if (FT_Get_Kerning(d->face, left, right, FT_KERNING_UNSCALED, &v)) return 0;
  int64_t units = d->face->units_per_EM ? d->face->units_per_EM : 1;
  int64_t k = v.x;
  return static_cast<int32_t>(-((d->pixelSize * ((-k * 65536) / units)) / 65536));
}

void SetFreeTypeTransform(qmFont *font, double xScale, double yScale) {
  auto *d = static_cast<qmFreeTypeFontData *>(font->engineData);
  if (!d) return;
  FreeCache(d->antiAliased);
  FreeCache(d->oneBit);
  FT_Matrix m{static_cast<FT_Fixed>(xScale * 65536), 0, 0, static_cast<FT_Fixed>(yScale * 65536)};
  d->xMatrix = m.xx;
  FT_Set_Transform(d->face, &m, nullptr);
  int32_t a, dd, h = font->height;
  font->baseline = ProbeBaselineCharacters(d->face, &a, &dd) ? (a + h - dd + 1) / 2 : h * 3 / 4;
}

void FlushFreeTypeGlyphCache(qmFont *font) {
  auto *d = static_cast<qmFreeTypeFontData *>(font->engineData);
  if (!d) return;
  FreeCache(d->antiAliased);
  FreeCache(d->oneBit);
}

void *GetFontFace(qmFont *font) {
  auto *d = static_cast<qmFreeTypeFontData *>(font->engineData);
  return d ? d->face : nullptr;
}

int32_t GetFreeTypePixelSize(const qmFont *font) {
  auto *d = static_cast<const qmFreeTypeFontData *>(font->engineData);
  return d ? d->pixelSize : 0;
}

int32_t OpenFreeTypeFaceByCapital(qmFontState *fonts, const char *path, int32_t faceIndex, int32_t size,
                                  qmFont *font) {
  if (!fonts->freetype || size < 1) return 0;
  auto *d = static_cast<qmFreeTypeFontData *>(MemAlloc(sizeof(qmFreeTypeFontData), 1));
  if (!d) return 0;
  d->xMatrix = 0x10000;
  // A plain file name: no built-in face and no lookup in the font list.
  char name[kFontNameSize + 16];
  std::snprintf(name, sizeof name, "%s", path);
  d->file = FileOpen(name, FILE_MODE_READ);
  FT_Face face = nullptr;
  if (d->file) {
    d->descriptor = {d->file, 0, d->file->size};
    d->stream.size = static_cast<unsigned long>(d->file->size);
    d->stream.descriptor.pointer = &d->descriptor;
    d->stream.read = FreeTypeStreamRead;
    FT_Open_Args args{};
    args.flags = FT_OPEN_STREAM;
    args.stream = &d->stream;
    if (FT_Open_Face(static_cast<FT_Library>(fonts->freetype), &args, faceIndex, &d->face) == 0) face = d->face;
  }
  FT_UInt capital = face ? FT_Get_Char_Index(face, 'A') : 0;
  int32_t span = face ? face->ascender - face->descender : 0;
  if (!capital || span <= 0) {
    FreeFreeTypeData(d);
    return 0;
  }
  auto capitalHeight = [&](int32_t pixels) -> int32_t {
    if (FT_Set_Pixel_Sizes(face, static_cast<FT_UInt>(pixels), 0) || FT_Load_Glyph(face, capital, kLoadProbe))
      return -1;
    return static_cast<int32_t>(face->glyph->bitmap.rows);
  };
  int32_t pixels = static_cast<int32_t>(static_cast<int64_t>(size) * face->units_per_EM / span);
  if (pixels < 1) pixels = 1;
  int32_t direction = 0;
  for (int32_t steps = 0; steps < 4096; steps++) {
    int32_t h = capitalHeight(pixels);
    if (h < 0) {
      FreeFreeTypeData(d);
      return 0;
    }
    if (h == size) break;
    int32_t want = h < size ? 1 : -1;
    if (direction && want != direction) break;  // passed the size: keep this one
    direction = want;
    if (pixels + want < 1) break;  // never below one pixel
    pixels += want;
  }
  if (capitalHeight(pixels) < 0) {
    FreeFreeTypeData(d);
    return 0;
  }
  d->pixelSize = pixels;
  d->dpiX = d->dpiY = 72;
  d->cache = 1;
  SetFaceName(face, font);
  font->engineType = QM_FONT_NATIVE;
  font->antiAliasCapable = 1;
  font->scalable = 1;
  font->size = size;
  int32_t height = static_cast<int32_t>((face->size->metrics.ascender - face->size->metrics.descender + 63) / 64);
  int32_t baseline = static_cast<int32_t>((face->size->metrics.ascender + 63) / 64);
  font->height = font->unscaledHeight = height > 0 ? height : size;
  font->baseline = font->unscaledBaseline = baseline;
  font->engineData = d;
  return 1;
}
