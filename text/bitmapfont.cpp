// The bitmap font engine. Size files are untrusted: every pointer, size and glyph location is
// checked against the file and the plane before the font opens, so drawing never reads
// outside what was loaded.
#include "text/bitmapfont.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "graphics/alpha_kernels.h"
#include "graphics/blit.h"
#include "platform/file.h"
#include "platform/memory.h"
#include "platform/vfile.h"
#include "runtime/strutil.h"
#include "runtime/vnames.h"
#include "text/topaz_glyphs.h"

namespace {

struct qmBitmapFontData {
  int32_t ySize, style, flags, xSize, baseline, boldSmear, accessors, loChar, hiChar;
  uint8_t *plane;       // Modulo x YSize bytes; type 1 only
  int32_t modulo;
  uint32_t *charLoc;    // offset << 16 | width, per glyph
  int16_t *charSpace;   // or null
  int16_t *charKern;    // or null
  int32_t glyphCount;
  qmMask planeMask;     // borrows the plane
  int32_t builtin;      // the tables belong to the program
};

// Colour fonts: colour index 0 becomes this key, drawn transparent.
constexpr uint32_t kColorFontKey = 0xEEE6D2;
// Size files larger than this are no fonts.
constexpr uint64_t kMaxSizeFile = 16u << 20;

int32_t GlyphIndex(const qmBitmapFontData *d, uint8_t code) {
  if (code < d->loChar || code > d->hiChar) return d->glyphCount - 1;
  return code - d->loChar;
}

void FreeBitmapFontData(qmBitmapFontData *d) {
  if (!d) return;
  if (!d->builtin) {
    MemFree(d->plane);
    MemFree(d->charLoc);
  }
  MemFree(d->charSpace);
  MemFree(d->charKern);
  MemFree(d);
}

uint32_t Be32(const uint8_t *p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
uint32_t Be16(const uint8_t *p) { return uint32_t(p[0]) << 8 | p[1]; }

int32_t HasSuffix(const char *name, const char *suffix) {
  size_t n = std::strlen(name), s = std::strlen(suffix);
  return n >= s && Stricmp(name + n - s, suffix) == 0;
}

// The size file's bytes, or false.
bool ReadWholeFile(const char *path, std::vector<uint8_t> *out) {
  qmFileHandle *f = FileOpen(path, FILE_MODE_READ);
  if (!f) return false;
  bool ok = f->size > 0 && f->size <= kMaxSizeFile;
  if (ok) {
    out->resize(f->size);
    ok = FileRead(f, out->data(), f->size) == f->size;
  }
  FileClose(f);
  return ok;
}

// The bytes of a block at a pointer (an offset from file offset 32), or null when any of it
// lies outside the file.
const uint8_t *At(const std::vector<uint8_t> &file, uint32_t pointer, uint64_t length) {
  uint64_t start = 32 + uint64_t(pointer);
  if (start > file.size() || length > file.size() - start) return nullptr;
  return file.data() + start;
}

template <typename T>
T *CopyOut(const uint8_t *src, int32_t count, int32_t wordBytes) {
  auto *out = static_cast<T *>(MemAlloc(static_cast<uint32_t>(count) * sizeof(T), 0));
  if (!out) return nullptr;
  for (int32_t i = 0; i < count; i++)
    out[i] = static_cast<T>(wordBytes == 4 ? Be32(src + i * 4) : Be16(src + i * 2));
  return out;
}

}  // namespace

int32_t LoadBitmapFontSizeFile(const char *path, qmFont *font) {
  std::vector<uint8_t> file;
  if (!ReadWholeFile(path, &file) || file.size() < 186 || Be16(&file[50]) != 0x0F80) return 0;
  const uint8_t *h = file.data();
  auto *d = static_cast<qmBitmapFontData *>(MemAlloc(sizeof(qmBitmapFontData), 1));
  if (!d) return 0;
  d->ySize = Be16(h + 110);
  d->style = h[112];
  d->flags = h[113];
  d->xSize = Be16(h + 114);
  d->baseline = Be16(h + 116);
  d->boldSmear = Be16(h + 118);
  d->accessors = Be16(h + 120);
  d->loChar = h[122];
  d->hiChar = h[123];
  d->modulo = Be16(h + 128);
  d->glyphCount = d->hiChar - d->loChar + 2;
  bool ok = d->ySize > 0 && d->hiChar >= d->loChar;
  uint64_t planeBytes = uint64_t(d->modulo) * uint64_t(d->ySize);
  // Every plane, stored or left out, spans this many bytes: a size the file itself could not
  // hold is no font, and keeps a colour strip (32 bits a pixel) within a small multiple of it.
  ok = ok && planeBytes <= file.size();
  const uint8_t *loc = ok ? At(file, Be32(h + 130), uint64_t(d->glyphCount) * 4) : nullptr;
  ok = ok && loc;
  if (ok) d->charLoc = CopyOut<uint32_t>(loc, d->glyphCount, 4);
  ok = ok && d->charLoc;
  // Every glyph must lie inside a plane row.
  for (int32_t g = 0; ok && g < d->glyphCount; g++)
    ok = (d->charLoc[g] >> 16) + (d->charLoc[g] & 0xFFFF) <= uint32_t(d->modulo) * 8;
  for (int which = 0; ok && which < 2; which++) {
    uint32_t pointer = Be32(h + (which ? 138 : 134));
    if (!pointer) continue;
    const uint8_t *src = At(file, pointer, uint64_t(d->glyphCount) * 2);
    int16_t *table = src ? CopyOut<int16_t>(src, d->glyphCount, 2) : nullptr;
    ok = table != nullptr;
    (which ? d->charKern : d->charSpace) = table;
  }
  if (ok && (d->style & 0x40)) {
    // Colour font: planes picked from Depth, a 0x0RGB palette, index 0 transparent.
    int32_t depth = h[144], pick = h[148];
    const uint8_t *block = At(file, Be32(h + 150), 8);
    ok = depth <= 8 && block;
    uint32_t count = ok ? Be16(block + 2) : 0;
    ok = ok && count <= 256;
    const uint8_t *table = ok ? At(file, Be32(block + 4), uint64_t(count) * 2) : nullptr;
    ok = ok && (count == 0 || table);
    std::vector<const uint8_t *> planes;
    for (int32_t i = 0, stored = 0; ok && i < depth; i++) {
      if (!(pick & (1 << i))) continue;
      uint32_t pointer = Be32(h + 154 + 4 * stored);
      stored++;
      const uint8_t *plane = pointer ? At(file, pointer, planeBytes) : nullptr;
      ok = !pointer || plane;
      planes.push_back(plane);
    }
    int32_t width = d->modulo * 8, height = d->ySize;
    uint32_t palette[256] = {};
    for (uint32_t i = 0; ok && i < count; i++) {
      uint32_t c = Be16(table + i * 2);
      palette[i] = ((c >> 8) & 15) * 17 << 16 | ((c >> 4) & 15) * 17 << 8 | (c & 15) * 17;
    }
    std::vector<uint32_t> strip;
    if (ok && width > 0) {
      strip.resize(size_t(width) * size_t(height));
      for (int32_t r = 0; r < height; r++)
        for (int32_t c = 0; c < width; c++) {
          uint32_t index = 0;
          for (size_t i = 0; i < planes.size(); i++)
            if (planes[i] && (planes[i][size_t(r) * size_t(d->modulo) + size_t(c / 8)] & (0x80 >> (c % 8))))
              index |= 1u << i;
          strip[size_t(r) * size_t(width) + size_t(c)] = index == 0 ? kColorFontKey : 0xFF000000u | palette[index];
        }
      ok = BitmapFromArgb(strip.data(), kColorFontKey, width, height, width, 0, &font->colorBitmap,
                          &font->colorMask) == 0;
    }
    font->engineType = QM_FONT_COLOR;
  } else if (ok) {
    const uint8_t *plane = At(file, Be32(h + 124), planeBytes);
    ok = plane && planeBytes;
    if (ok) d->plane = static_cast<uint8_t *>(MemAlloc(static_cast<uint32_t>(planeBytes), 0));
    ok = ok && d->plane;
    if (ok) std::memcpy(d->plane, plane, planeBytes);
    d->planeMask = {d->plane, d->modulo * 8, d->ySize, d->modulo, 1};
    font->engineType = QM_FONT_BITMAP;
  }
  if (!ok) {
    if (font->colorBitmap) FreeBitmap(font->colorBitmap);
    if (font->colorMask) FreeMask(font->colorMask);
    font->colorBitmap = nullptr;
    font->colorMask = nullptr;
    font->engineType = 0;
    FreeBitmapFontData(d);
    return 0;
  }
  font->height = font->unscaledHeight = d->ySize;
  font->baseline = font->unscaledBaseline = d->baseline;
  font->engineData = d;
  return 1;
}

namespace {

int32_t Advance(const qmBitmapFontData *d, int32_t g) { return d->charSpace ? d->charSpace[g] : d->xSize; }

// Clips a glyph rectangle at (x, y) to the clip and the target; false when nothing is left.
bool ClipRect(int32_t *x, int32_t *y, int32_t *sx, int32_t *sy, int32_t *w, int32_t *h, const qmTextClip *clip,
              int32_t targetW, int32_t targetH) {
  int32_t left = 0, top = 0, right = targetW, bottom = targetH;
  if (clip) {
    if (clip->x > left) left = clip->x;
    if (clip->y > top) top = clip->y;
    if (clip->x + clip->width < right) right = clip->x + clip->width;
    if (clip->y + clip->height < bottom) bottom = clip->y + clip->height;
  }
  if (*x < left) { *sx += left - *x; *w -= left - *x; *x = left; }
  if (*y < top) { *sy += top - *y; *h -= top - *y; *y = top; }
  if (*x + *w > right) *w = right - *x;
  if (*y + *h > bottom) *h = bottom - *y;
  return *w > 0 && *h > 0;
}

}  // namespace

namespace {

qmBitmapFontData TopazData() {
  qmBitmapFontData d{};
  d.ySize = 8;
  d.xSize = 8;
  d.baseline = 6;
  d.boldSmear = 1;
  d.loChar = 32;
  d.hiChar = 255;
  d.modulo = kTopazModulo;
  d.glyphCount = 225;
  d.plane = const_cast<uint8_t *>(kTopazPlane);
  d.charLoc = const_cast<uint32_t *>(kTopazCharLoc);
  d.builtin = 1;
  d.planeMask = {d.plane, kTopazModulo * 8, 8, kTopazModulo, 1};
  return d;
}

// Made from the program's own tables before main and never changed or freed: every run shares
// it, as it shares the tables.
const qmBitmapFontData gTopazData = TopazData();

qmFont TopazFont() {
  qmFont font{};
  CopyString(font.faceName, "topaz", sizeof font.faceName);
  CopyString(font.openedName, "topaz", sizeof font.openedName);
  font.size = 8;
  font.height = font.unscaledHeight = 8;
  font.baseline = font.unscaledBaseline = 6;
  font.engineType = QM_FONT_BITMAP;
  font.xScale = font.yScale = 1.0;
  font.engineData = const_cast<qmBitmapFontData *>(&gTopazData);
  return font;
}

const qmFont gTopaz = TopazFont();

}  // namespace

const qmFont *GetTopazFont() { return &gTopaz; }

int32_t OpenBitmapFont(const char *path, int32_t size, qmFont *font) {
  std::string contents = path;
  bool chunk = std::strncmp(path, ":::chunk", 8) == 0;
  if (!chunk && !HasSuffix(path, ".font")) contents += ".font";
  qmFileHandle *f = FileOpen(contents.c_str(), FILE_MODE_READ);
  if (!f) return 0;
  uint8_t head[4];
  std::string entryName;
  bool found = false;
  if (FileRead(f, head, 4) == 4 && (Be16(head) == 0x0F00 || Be16(head) == 0x0F02)) {
    uint32_t count = Be16(head + 2);
    for (uint32_t i = 0; i < count && !found; i++) {
      uint8_t entry[260];
      if (FileRead(f, entry, 260) != 260) break;
      entry[255] = 0;  // names are cut at the field's end
      if (int32_t(Be16(entry + 256)) == size && std::strcmp(reinterpret_cast<char *>(entry), "::incomplete") != 0) {
        entryName = reinterpret_cast<char *>(entry);
        found = true;
      }
    }
  }
  FileClose(f);
  if (!found) return 0;
  char sizePath[kFontNameSize];
  if (entryName.compare(0, 8, ":::chunk") == 0) {
    // A size file linked into the applet: the offset of the entry in the contents' container.
    size_t digits = 8;
    while (digits < entryName.size() && entryName[digits] >= '0' && entryName[digits] <= '9') digits++;
    unsigned long offset = std::strtoul(entryName.substr(8, digits - 8).c_str(), nullptr, 10);
    size_t slash = contents.find('/');
    std::string container = slash == std::string::npos ? "" : contents.substr(slash);
    std::snprintf(sizePath, sizeof sizePath, ":::chunk%lu%s%s", offset, entryName.c_str() + digits,
                  container.c_str());
  } else {
    CopyString(sizePath, contents.c_str(), sizeof sizePath);
    *GetPathPart(sizePath) = 0;
    if (!AddPart(sizePath, sizeof sizePath, entryName.c_str())) return 0;
  }
  if (!LoadBitmapFontSizeFile(sizePath, font)) return 0;
  if (chunk) {
    ChunkDisplayNameInto(path, font->faceName, sizeof font->faceName);
  } else {
    ChunkDisplayNameInto(path, font->faceName, sizeof font->faceName);
    if (HasSuffix(font->faceName, ".font")) font->faceName[std::strlen(font->faceName) - 5] = 0;
  }
  font->size = size;
  font->antiAliasCapable = 0;
  font->scalable = 0;
  return 1;
}

void CloseBitmapFont(qmFont *font) {
  if (font->colorBitmap) FreeBitmap(font->colorBitmap);
  if (font->colorMask) FreeMask(font->colorMask);
  MemFree(font->pendingImage);
  font->colorBitmap = nullptr;
  font->colorMask = nullptr;
  font->pendingImage = nullptr;
  FreeBitmapFontData(static_cast<qmBitmapFontData *>(font->engineData));
  font->engineData = nullptr;
}

uint32_t MeasureBitmapFontText(qmFont *font, const char *text, int32_t length, int32_t, qmTextExtent *extent) {
  auto *d = static_cast<qmBitmapFontData *>(font->engineData);
  if (!d) return 0;
  int32_t width = 0, minX = 0, maxX = 0;
  if (!(d->flags & 0x20) && !d->charSpace && !d->charKern) {
    width = length * d->xSize;
    maxX = width - 1;
  } else {
    int32_t pen = 0;
    for (int32_t i = 0; i < length; i++) {
      int32_t g = GlyphIndex(d, static_cast<uint8_t>(text[i]));
      int32_t kern = d->charKern ? d->charKern[g] : 0;
      int32_t space = d->charSpace ? d->charSpace[g] : 0;
      width += kern + space;
      int32_t a = pen + kern, b = a + int32_t(d->charLoc[g] & 0xFFFF);
      pen = a + space;
      for (int32_t v : {a, b, pen}) {
        if (v < minX) minX = v;
        if (v > maxX) maxX = v;
      }
    }
    maxX -= 1;
  }
  extent->width = width;
  extent->height = d->ySize;
  extent->minX = minX;
  extent->minY = -d->baseline;
  extent->maxX = maxX;
  extent->maxY = d->ySize - d->baseline - 1;
  return 0;
}

uint32_t RenderBitmapFontText(qmFont *font, void *target, void *second, int32_t x, int32_t y, const char *text,
                              int32_t length, int32_t, const qmTextClip *clip, int64_t color) {
  auto *d = static_cast<qmBitmapFontData *>(font->engineData);
  if (!d || !target) return 0;
  int32_t pen = x;
  for (int32_t i = 0; i < length; i++) {
    int32_t g = GlyphIndex(d, static_cast<uint8_t>(text[i]));
    if (d->charKern) pen += d->charKern[g];
    int32_t offset = int32_t(d->charLoc[g] >> 16), w = int32_t(d->charLoc[g] & 0xFFFF), h = d->ySize;
    int32_t gx = pen, gy = y, sx = offset, sy = 0;
    if (font->engineType == QM_FONT_BITMAP) {
      if (color != kGlyphPlane) {
        auto *bitmap = static_cast<qmBitmap *>(target);
        if (ClipRect(&gx, &gy, &sx, &sy, &w, &h, clip, bitmap->width, bitmap->height))
          BltTemplate(&d->planeMask, sx, sy, bitmap, gx, gy, w, h, static_cast<uint32_t>(color) & 0xFFFFFF);
      } else {
        // Clipped to the target plane too: a caller's plane may be smaller than the text.
        auto *plane = static_cast<qmMask *>(target);
        if (ClipRect(&gx, &gy, &sx, &sy, &w, &h, nullptr, plane->width, plane->height))
          CopyMaskRect(&d->planeMask, sx, sy, plane, gx, gy, w, h, MASKOR);
      }
    } else if (font->engineType == QM_FONT_COLOR && font->colorBitmap) {
      auto *bitmap = static_cast<qmBitmap *>(target);
      if (ClipRect(&gx, &gy, &sx, &sy, &w, &h, color == kGlyphPlane ? nullptr : clip, bitmap->width,
                   bitmap->height)) {
        BltMask(font->colorBitmap, sx, sy, bitmap, gx, gy, w, h, font->colorMask);
        if (color == kGlyphPlane && second)
          CopyMaskRect(font->colorMask, sx, sy, static_cast<qmMask *>(second), gx, gy, w, h, MASKOR);
      }
    }
    pen += Advance(d, g);
  }
  return 0;
}
