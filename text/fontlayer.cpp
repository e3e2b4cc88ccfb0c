// The font layer: resolves names, keeps a run's cache of opened fonts, opens fonts engine by
// engine and dispatches every operation by the record's engine type.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "platform/errorarg.h"
#include "platform/file.h"
#include "platform/memory.h"
#include "platform/vfile.h"
#include "runtime/errcodes.h"
#include "runtime/strutil.h"
#include "runtime/vnames.h"
#include "text/bitmapfont.h"
#include "text/font.h"
#include "text/fontscan.h"
#include "text/freetype_font.h"
#include "text/nativefont.h"

struct qmFontCacheNode {
  qmFontCacheNode *next;
  char name[kFontNameSize];
  int32_t size;
  int32_t engine;
  int32_t cache;
  qmFont *font;
};

namespace {

// Names longer than this are refused by the open as unknown.
constexpr size_t kMaxFontName = 511;

int32_t HasFontSuffix(const char *name) {
  size_t n = std::strlen(name);
  return n >= 5 && Stricmp(name + n - 5, ".font") == 0;
}

// The record goes to the bitmap engine unless the native engine serves it instead.
bool IsBitmapType(const qmFont *font) {
  return font->engineType == QM_FONT_BITMAP || font->engineType == QM_FONT_COLOR;
}

uint32_t OpenFontError(const char *name, int32_t size) {
  char text[kFontNameSize + 64];
  std::snprintf(text, sizeof text, "Cannot open font %s with size %ld!", name, static_cast<long>(size));
  SetPlatformErrorArgument(text);
  return ERR_OPENFONT;
}

// A linked font: the header's flag word says outline or bitmap; the name of the font file
// behind the header goes to out.
uint32_t ResolveLinkedFont(const char *name, char *out, int32_t *outline) {
  qmFileHandle *f = FileOpen(name, FILE_MODE_READ);
  qmChunkName chunk{};
  if (!f || !ParseChunkName(name, &chunk) || chunk.memory) {
    if (f) FileClose(f);
    SetPlatformErrorArgument(name);
    return ERR_READFILE;
  }
  uint8_t word[4];
  uint64_t header = 4;
  bool ok = FileRead(f, word, 4) == 4;
  uint32_t flags = ok ? (uint32_t(word[0]) << 24 | uint32_t(word[1]) << 16 | uint32_t(word[2]) << 8 | word[3]) : 0;
  if (ok && (flags & 6) == 6) {
    uint8_t len[4];
    ok = FileRead(f, len, 4) == 4;
    header += 4 + (uint64_t(len[0]) << 24 | uint64_t(len[1]) << 16 | uint64_t(len[2]) << 8 | len[3]);
  }
  FileClose(f);
  if (!ok || header > chunk.length) {
    SetPlatformErrorArgument(name);
    return ERR_READFILE;
  }
  *outline = (flags & 2) != 0;
  std::string display(chunk.display, chunk.displayLength);
  if (!MakeChunkName(display.c_str(), out, kFontNameSize, chunk.offset + header, chunk.length - header, 0,
                     chunk.container)) {
    SetPlatformErrorArgument(name);
    return ERR_READFILE;
  }
  return 0;
}

qmFont *FindCachedFont(const qmFontState *fonts, const char *name, int32_t size, int32_t engine, int32_t cache) {
  for (qmFontCacheNode *n = fonts->cache; n; n = n->next)
    if (n->cache == cache && n->engine == engine && n->size == size && Stricmp(n->name, name) == 0) return n->font;
  return nullptr;
}

uint32_t OpenAndCache(qmFontState *fonts, const char *name, int32_t size, int32_t engine, int32_t cache,
                      int32_t linked, qmFont **out) {
  if (qmFont *f = FindCachedFont(fonts, name, size, engine, cache)) {
    SetFontScale(f, 1.0, 1.0);
    *out = f;
    return 0;
  }
  qmFont *font = nullptr;
  uint32_t err = OpenFontRecord(fonts, name, size, engine, cache, linked, &font);
  if (err) return err;
  // The built-in record is shared by every run and keeps its own name.
  if (font != GetTopazFont()) CopyString(font->openedName, name, sizeof font->openedName);
  auto *node = static_cast<qmFontCacheNode *>(MemAlloc(sizeof(qmFontCacheNode), 1));
  if (!node) {
    CloseFontRecord(font);
    return ERR_MEM;
  }
  CopyString(node->name, name, sizeof node->name);
  node->size = size;
  node->engine = engine;
  node->cache = cache;
  node->font = font;
  qmFontCacheNode **tail = &fonts->cache;
  while (*tail) tail = &(*tail)->next;
  *tail = node;
  *out = font;
  return 0;
}

}  // namespace

uint32_t NewFontState(qmFontState **out) {
  *out = nullptr;
  auto *fonts = new (std::nothrow) qmFontState;
  if (!fonts) return ERR_MEM;
  if (uint32_t err = NewFreeTypeLibrary(&fonts->freetype)) {
    delete fonts;
    return err;
  }
  *out = fonts;
  return 0;
}

void FreeFontState(qmFontState *fonts) {
  if (!fonts) return;
  FreeFontCache(fonts);
  FreeFontList(fonts);
  ReleaseFontconfig(fonts);
  FreeFreeTypeLibrary(fonts->freetype);
  delete fonts;
}

uint32_t GetCachedFont(qmFontState *fonts, const char *name, int32_t size, int32_t engine, int32_t cache,
                       int32_t linked, qmFont **out) {
  std::string resolved = name;
  if (resolved == ":::default_bitmap") {
    resolved = "topaz";
  } else if (resolved == ":::default_truetype" || resolved == ":::default_sans") {
    resolved = "Bitstream Vera Sans";
    engine = FONTENGINE_INBUILT;
  } else if (resolved == ":::default_serif") {
    resolved = "Bitstream Vera Serif";
    engine = FONTENGINE_INBUILT;
  } else if (resolved == ":::default_mono") {
    resolved = "Bitstream Vera Sans Mono";
    engine = FONTENGINE_INBUILT;
  } else if (resolved.compare(0, 8, ":::chunk") != 0) {
    char shown[kChunkNameSize];
    if (engine != FONTENGINE_INBUILT &&
        std::strcmp(ChunkDisplayName(resolved.c_str(), shown, sizeof shown), resolved.c_str()) != 0)
      return ERR_FONTPATH;
    if (HasFontSuffix(resolved.c_str())) resolved.resize(resolved.size() - 5);
  }
  if (resolved.size() > kMaxFontName) resolved.resize(kMaxFontName);
  uint32_t err = OpenAndCache(fonts, resolved.c_str(), size, engine, cache, linked, out);
  if (err && engine == FONTENGINE_INBUILT)
    err = OpenAndCache(fonts, resolved.c_str(), size, FONTENGINE_NATIVE, cache, linked, out);
  return err;
}

uint32_t OpenFontRecord(qmFontState *fonts, const char *name, int32_t size, int32_t engine, int32_t cache,
                        int32_t linked, qmFont **out) {
  // Sizes below one pixel make no font in any engine.
  if (size < 1) return OpenFontError(name, size);
  char path[kFontNameSize];
  int32_t mayBitmap = 1, mayNative = 1;
  const char *openName = name;
  if (linked && std::strncmp(name, ":::chunk", 8) == 0) {
    int32_t outline = 0;
    uint32_t err = ResolveLinkedFont(name, path, &outline);
    if (err) return err;
    openName = path;
    mayBitmap = !outline;
    mayNative = outline;
  }
  auto *font = static_cast<qmFont *>(MemAlloc(sizeof(qmFont), 1));
  if (!font) return ERR_MEM;
  font->xScale = font->yScale = 1.0;
  int32_t opened = 0;
  if (engine == FONTENGINE_NATIVE) {
    if (Stricmp(openName, "topaz") == 0 && size == 8) {
      MemFree(font);
      *out = const_cast<qmFont *>(GetTopazFont());
      return 0;
    }
    if (mayBitmap) {
      char found[kFontNameSize];
      if (std::strncmp(openName, ":::chunk", 8) == 0) opened = OpenBitmapFont(openName, size, font);
      else if (FindFontFile(fonts, openName, found)) opened = OpenBitmapFont(found, size, font);
    }
    if (!opened && mayNative) opened = OpenNativeFont(fonts, openName, size, font);
  } else if (engine == FONTENGINE_INBUILT) {
    opened = OpenFreeTypeFont(fonts, openName, size, cache, font);
  }
  if (!opened) {
    MemFree(font);
    return OpenFontError(name, size);
  }
  *out = font;
  return 0;
}

void CloseFontRecord(qmFont *font) {
  if (!font || font == GetTopazFont()) return;
  if (IsBitmapType(font)) {
    if (font->nativeRouting) CloseNativeFont(font);
    else CloseBitmapFont(font);
  } else if (font->engineType == QM_FONT_NATIVE) {
    CloseNativeFont(font);
  } else if (font->engineType == QM_FONT_FREETYPE) {
    CloseFreeTypeFont(font);
  }
  MemFree(font);
}

uint32_t MeasureFontText(qmFont *font, const char *text, int32_t length, int32_t style, int32_t utf8,
                         qmTextExtent *extent) {
  if (!font) font = const_cast<qmFont *>(GetTopazFont());
  if (IsBitmapType(font) && !font->nativeRouting) return MeasureBitmapFontText(font, text, length, style, extent);
  if (IsBitmapType(font) || font->engineType == QM_FONT_NATIVE)
    return MeasureNativeText(font, text, length, style, utf8, extent);
  if (font->engineType == QM_FONT_FREETYPE) return MeasureFreeTypeText(font, text, length, style, utf8, extent);
  return 0;
}

uint32_t RenderFontText(qmFont *font, void *target, void *second, int32_t x, int32_t y, const char *text,
                        int32_t length, int32_t style, int32_t utf8, const qmTextClip *clip, int64_t color) {
  if (!font) font = const_cast<qmFont *>(GetTopazFont());
  if (IsBitmapType(font) && !font->nativeRouting)
    return RenderBitmapFontText(font, target, second, x, y, text, length, style, clip, color);
  if (IsBitmapType(font) || font->engineType == QM_FONT_NATIVE)
    return RenderNativeText(font, target, x, y, text, length, style, utf8, clip, color);
  if (font->engineType == QM_FONT_FREETYPE)
    return RenderFreeTypeText(font, target, x, y, text, length, style, utf8, clip, color);
  return 0;
}

void SetFontScale(qmFont *font, double xScale, double yScale) {
  if (!font || !font->scalable || (font->xScale == xScale && font->yScale == yScale)) return;
  font->xScale = xScale;
  font->yScale = yScale;
  font->height = static_cast<int32_t>(std::ceil(font->unscaledHeight * yScale));
  font->baseline = static_cast<int32_t>(std::ceil(font->unscaledBaseline * yScale));
  if (font->engineType == QM_FONT_FREETYPE) SetFreeTypeTransform(font, xScale, yScale);
}

int32_t IsNativeFont(const qmFont *font) { return font && font->engineType == QM_FONT_NATIVE; }

void FlushFontGlyphCache(qmFont *font) {
  if (font && font->engineType == QM_FONT_FREETYPE) FlushFreeTypeGlyphCache(font);
}

int32_t GetFontKerning(qmFont *font, const char *text, int32_t length, int32_t, int32_t utf8) {
  if (!font || font->engineType != QM_FONT_FREETYPE) return 0;
  return GetFreeTypeKerning(font, text, length, utf8);
}

uint32_t DecodeUtf8Text(const char *text, int32_t length, int32_t utf8, uint32_t *buffer, int32_t bufferBytes,
                        uint32_t **codes, int32_t *count, int32_t *allocated) {
  *allocated = 0;
  *count = 0;
  if (!utf8) return ERR_USERABORT;
  uint32_t *out = buffer;
  if (static_cast<int64_t>(length) * 4 > bufferBytes) {
    out = static_cast<uint32_t *>(MemAlloc(static_cast<uint32_t>(length) * 4, 0));
    if (!out) return ERR_USERABORT;
    *allocated = 1;
  }
  static const uint8_t kLeadMask[] = {0, 0, 31, 15, 7, 3};
  int32_t n = 0;
  for (int32_t i = 0; i < length;) {
    auto b = static_cast<uint8_t>(text[i]);
    if (b < 128) {
      out[n++] = b;
      i++;
      continue;
    }
    int32_t ones = 0;
    while (ones < 6 && (b & (0x80 >> ones))) ones++;
    if (ones == 1 || ones == 6 || i + ones > length) {
      FreeDecodedText(out, *allocated);
      *allocated = 0;
      return ERR_USERABORT;
    }
    uint32_t code = static_cast<uint32_t>(b & kLeadMask[ones]) << (6 * (ones - 1));
    for (int32_t k = 1; k < ones; k++) {
      auto c = static_cast<uint8_t>(text[i + k]);
      if (!(c & 0x80)) {
        FreeDecodedText(out, *allocated);
        *allocated = 0;
        return ERR_USERABORT;
      }
      code |= static_cast<uint32_t>(c & 63) << (6 * (ones - 1 - k));
    }
    out[n++] = code;
    i += ones;
  }
  *codes = out;
  *count = n;
  return 0;
}

void FreeDecodedText(uint32_t *codes, int32_t allocated) {
  if (allocated) MemFree(codes);
}

void FlushAllFontGlyphCaches(qmFontState *fonts, qmFont *only) {
  for (qmFontCacheNode *n = fonts->cache; n; n = n->next)
    if (!only || n->font == only) FlushFontGlyphCache(n->font);
}

void FreeFontCache(qmFontState *fonts) {
  while (qmFontCacheNode *n = fonts->cache) {
    fonts->cache = n->next;
    CloseFontRecord(n->font);
    MemFree(n);
  }
}

int32_t FindFontFile(const qmFontState *fonts, const char *name, char *path) {
  std::string file = name;
  if (!HasFontSuffix(name)) file += ".font";
  auto tryPath = [&](const std::string &candidate) {
    qmFileHandle *f = FileOpen(candidate.c_str(), FILE_MODE_READ);
    if (!f) return false;
    FileClose(f);
    CopyString(path, candidate.c_str(), kFontNameSize);
    return true;
  };
  for (const std::string &folder : fonts->paths) {
    char joined[kFontNameSize];
    CopyString(joined, folder.c_str(), sizeof joined);
    if (AddPart(joined, sizeof joined, file.c_str()) && tryPath(joined)) return 1;
  }
  if (tryPath(file)) return 1;
  return tryPath("Fonts/" + file) ? 1 : 0;
}

uint32_t AddFontPathEntry(qmFontState *fonts, const char *path) {
  for (const std::string &p : fonts->paths)
    if (Stricmp(p.c_str(), path) == 0) return 0;
  try {
    fonts->paths.emplace_back(path);
  } catch (const std::bad_alloc &) {
    return ERR_MEM;
  }
  FreeFontList(fonts);
  return 0;
}

void FreeFontPaths(qmFontState *fonts) { fonts->paths.clear(); }
