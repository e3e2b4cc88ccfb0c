// The image file writer.
#include "media/image/imagewriter.h"

#include <algorithm>
#include <cstring>

#include "graphics/blit.h"
#include "graphics/quantize.h"
#include "media/animcore/gif.h"
#include "media/image/ilbm.h"
#include "platform/errorarg.h"
#include "platform/file.h"
#include "platform/fileops.h"
#include "platform/imagecodec.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"
#include "runtime/formatplugins.h"

namespace {

void PutLe(uint8_t *p, uint32_t v, int n) {
  for (int i = 0; i < n; i++) p[i] = uint8_t(v >> (8 * i));
}

uint32_t WriteFailed(const char *name) {
  SetPlatformErrorArgument(name);
  return ERR_WRITEFILE;
}

// A file this writer made and could not finish goes again: no half-written picture stays.
uint32_t Abandon(const char *name, uint32_t code) {
  RemoveFailedOutput(name);
  return code;
}

// A 24-bit bottom-up BMP; alpha is not stored.
uint32_t SaveBMP(const uint32_t *pixels, int32_t width, int32_t height, const char *name) {
  const uint32_t rowSize = width > 0 ? uint32_t(width) * 3 + uint32_t(width) % 4 : 0;
  const uint32_t rows = height > 0 ? uint32_t(height) : 0;
  uint8_t head[54] = {'B', 'M'};
  PutLe(head + 2, uint32_t(54 + uint64_t(rows) * rowSize), 4);
  PutLe(head + 10, 54, 4);
  PutLe(head + 14, 40, 4);
  PutLe(head + 18, uint32_t(width), 4);
  PutLe(head + 22, uint32_t(height), 4);
  PutLe(head + 26, 1, 2);
  PutLe(head + 28, 24, 2);
  qmFileHandle *f = FileOpen(name, FILE_MODE_WRITE);
  if (!f) return WriteFailed(name);
  bool ok = FileWrite(f, head, sizeof head) == sizeof head;
  if (ok && rows && rowSize) {
    auto *line = static_cast<uint8_t *>(MemAlloc(rowSize, 1));
    if (!line) {
      FileClose(f);
      return Abandon(name, ERR_MEM);
    }
    for (int64_t y = int64_t(rows) - 1; ok && y >= 0; y--) {
      const uint32_t *in = pixels + y * width;
      for (int32_t x = 0; x < width; x++) {
        line[3 * x] = uint8_t(in[x]);
        line[3 * x + 1] = uint8_t(in[x] >> 8);
        line[3 * x + 2] = uint8_t(in[x] >> 16);
      }
      ok = FileWrite(f, line, rowSize) == rowSize;
    }
    MemFree(line);
  }
  if (!FileClose(f) || !ok) return Abandon(name, WriteFailed(name));
  return 0;
}

uint32_t SaveJPEG(const uint32_t *pixels, int32_t width, int32_t height, const char *name, int32_t quality) {
  qmFileHandle *f = FileOpen(name, FILE_MODE_WRITE);
  if (!f) return WriteFailed(name);
  qmJpegRequest request = {pixels, width, height, width * 4, quality, {}};
  uint32_t err = EncodeImageJPEG(&request);
  bool ok = true;
  if (!err) ok = FileWrite(f, request.data.bytes, request.data.length) == request.data.length;
  FreeEncodedImage(&request.data);
  if (!FileClose(f)) ok = false;
  if (!err && !ok) err = WriteFailed(name);
  return err ? Abandon(name, err) : 0;
}

// The picture reduced to at most colors entries: a new index array (MemFree) and the palette,
// the transparent colour (when given) its last entry. With reserve and no transparent colour
// the last entry is kept free of pixels all the same. 0 or ERR_MEM.
uint32_t ReduceColors(const uint32_t *pixels, int32_t width, int32_t height, uint32_t transparent, int32_t colors,
                      int32_t dither, int32_t reserve, uint8_t **indicesOut, uint32_t palette[256], int32_t *count,
                      int32_t *transparentIndex) {
  auto *indices = static_cast<uint8_t *>(MemAlloc(uint32_t(int64_t(width) * height), 0));
  if (!indices) return ERR_MEM;
  const uint32_t key = transparent == 0xFFFFFFFFu ? transparent : transparent & 0xFFFFFF;
  if (!QuantizeImage(pixels, width, height, width, colors, key, reserve, dither, indices, palette, count)) {
    MemFree(indices);
    return ERR_MEM;
  }
  // The transparent colour, when given, is the entry after the box colours: the last one.
  *transparentIndex = key == 0xFFFFFFFFu ? -1 : *count - 1;
  *indicesOut = indices;
  return 0;
}

uint32_t SaveGIF(const uint32_t *pixels, int32_t width, int32_t height, const char *name, uint32_t transparent,
                 int32_t colors, int32_t dither) {
  if (width < 1 || height < 1 || width > 0xFFFF || height > 0xFFFF) return ERR_SAVEIMAGE;  // the format's sides
  uint8_t *indices = nullptr;
  uint32_t palette[256];
  int32_t count = 0, transparentIndex = -1;
  // The GIF writer flags the last entry transparent even without a transparent colour: it is
  // kept free of pixels.
  if (uint32_t err = ReduceColors(pixels, width, height, transparent, colors, dither, 1, &indices, palette, &count,
                                  &transparentIndex))
    return err;
  qmGifWriter *writer = nullptr;
  uint32_t err = GifCreate(name, width, height, &writer);
  if (!err) {
    err = GifWriteFrame(writer, indices, width, height, 0, palette, count, transparentIndex, 0);
    const uint32_t closeErr = GifClose(writer);
    if (!err) err = closeErr;
    if (err) Abandon(name, err);
  }
  MemFree(indices);
  return err;
}

// The image saver a plug-in registered for the format; one that takes no ARGB data gets the
// picture reduced as for a GIF.
uint32_t SaveWithPlugin(const qmFormatPlugins *plugins, int32_t format, const uint32_t *pixels, int32_t width,
                        int32_t height, const char *name, uint32_t transparent, int32_t alpha, int32_t quality,
                        int32_t colors, int32_t dither) {
  const int32_t flags = plugins ? plugins->imageSaverFlags(format) : -1;
  if (flags < 0) return ERR_UNKNOWNIMGOUT;
  if (width < 1 || height < 1) return ERR_SAVEIMAGE;
  qmImageSaveRequest r{};
  r.width = width;
  r.height = height;
  r.quality = quality;
  r.transparentIndex = -1;
  if (flags & SAVERFLAG_ARGB) {
    r.pixels = pixels;
    r.bytesPerRow = width * 4;
    if (alpha && (flags & SAVERFLAG_ALPHA)) r.flags |= SAVEREQ_ALPHA;
    return plugins->saveImage(format, name, &r);
  }
  uint8_t *indices = nullptr;
  uint32_t palette[256];
  int32_t count = 0;
  if (uint32_t err = ReduceColors(pixels, width, height, transparent, colors, dither, 0, &indices, palette, &count,
                                  &r.transparentIndex))
    return err;
  r.pixels = indices;
  r.palette = palette;
  r.bytesPerRow = width;
  r.indexed = 1;
  r.colors = count;
  if (r.transparentIndex >= 0) r.flags |= SAVEREQ_TRANSPARENT;
  uint32_t err = plugins->saveImage(format, name, &r);
  MemFree(indices);
  return err;
}

}  // namespace

uint32_t SaveImageFile(int32_t format, const uint32_t *pixels, int32_t width, int32_t height, const char *name,
                       const qmMask *, uint32_t transparentColor, int32_t alpha, int32_t quality, int32_t colors,
                       int32_t dither, const qmFormatPlugins *plugins) {
  quality = std::clamp(quality, 1, 100);
  colors = std::clamp(colors, 1, 256);
  // Only a BMP can stand without pixels (its header alone).
  if (format >= IMGFMT_PNG && format <= IMGFMT_ILBM && (width < 1 || height < 1)) return ERR_SAVEIMAGE;
  switch (format) {
    case IMGFMT_BMP: return SaveBMP(pixels, width, height, name);
    case IMGFMT_PNG: return SaveImagePNG(name, pixels, width, height, alpha ? 1 : 0);
    case IMGFMT_JPEG: return SaveJPEG(pixels, width, height, name, quality);
    case IMGFMT_GIF: return SaveGIF(pixels, width, height, name, transparentColor, colors, dither);
    case IMGFMT_ILBM: return SaveILBM(name, pixels, width, height);
    default:
      return SaveWithPlugin(plugins, format, pixels, width, height, name, transparentColor, alpha, quality, colors,
                            dither);
  }
}

uint32_t *BitmapToArgbMasked(const qmBitmap *bitmap, int32_t width, int32_t height, const qmMask *mask,
                             const qmAlphaChannel *alpha, uint32_t color, int32_t maskToAlpha) {
  uint32_t *out = BitmapToArgb(bitmap, width, height);
  if (!out) return nullptr;
  for (int32_t y = 0; y < height; y++) {
    uint32_t *row = out + int64_t(y) * width;
    if (mask) {
      const uint8_t *bits = mask->memory + int64_t(y) * mask->bytesPerRow;
      for (int32_t x = 0; x < width; x++) {
        const bool set = (bits[x >> 3] >> (7 - (x & 7))) & 1;
        if (maskToAlpha)
          row[x] = (row[x] & 0xFFFFFF) | (set ? 0xFF000000u : 0u);
        else if (!set)
          row[x] = color;
      }
    }
    if (alpha) {
      const uint8_t *a = alpha->memory + int64_t(y) * alpha->bytesPerRow;
      // A fully transparent pixel gets the colour's RGB bits ORed in (transparent white for the
      // usual 0xFFFFFFFF; with 0 it keeps its own colour).
      for (int32_t x = 0; x < width; x++)
        row[x] = (row[x] & 0xFFFFFF) | (a[x] ? uint32_t(a[x]) << 24 : color & 0xFFFFFF);
    }
    if (!mask && !alpha)
      for (int32_t x = 0; x < width; x++) row[x] |= 0xFF000000u;
  }
  return out;
}

uint32_t SaveBitmapFile(int32_t format, const qmBitmap *bitmap, int32_t width, int32_t height, const char *name,
                        const qmMask *mask, uint32_t transparentColor, const qmAlphaChannel *alpha, int32_t quality,
                        int32_t colors, int32_t dither, const qmFormatPlugins *plugins) {
  uint32_t *pixels = BitmapToArgbMasked(bitmap, width, height, mask, alpha, transparentColor, 0);
  if (!pixels) return ERR_MEM;
  uint32_t err = SaveImageFile(format, pixels, width, height, name, mask, transparentColor, alpha != nullptr, quality,
                               colors, dither, plugins);
  MemFree(pixels);
  return err;
}
