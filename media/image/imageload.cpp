// The image loader: the head of the file chooses the reader.
#include "media/image/imageload.h"

#include <cstring>

#include "platform/file.h"
#include "platform/imagecodec.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "media/image/pluginimage.h"
#include "runtime/formatplugins.h"

namespace {

enum class ImageKind { kUnknown, kIlbm, kPng, kJpeg, kBmp, kSystem };

// The tests in their fixed order; the first that matches wins. A shorter file is tested
// against the zero bytes that fill the rest of the head.
ImageKind KindOfHead(const uint8_t *head) {
  if (!std::memcmp(head, "FORM", 4) && !std::memcmp(head + 8, "ILBM", 4)) return ImageKind::kIlbm;
  if (head[0] == 0x89 && !std::memcmp(head + 1, "PNG", 3)) return ImageKind::kPng;
  if (head[0] == 0xFF && head[1] == 0xD8 && (!std::memcmp(head + 6, "JFIF", 4) || !std::memcmp(head + 6, "Exif", 4)))
    return ImageKind::kJpeg;
  if (!std::memcmp(head, "BM", 2)) return ImageKind::kBmp;
  if (!std::memcmp(head, "MM\0*", 4) || !std::memcmp(head, "II*\0", 4)) return ImageKind::kSystem;
  if (!std::memcmp(head, "GIF87a", 6) || !std::memcmp(head, "GIF89a", 6)) return ImageKind::kSystem;
  return ImageKind::kUnknown;
}

}  // namespace

uint32_t LoadImageFile(const char *name, uint32_t *paletteIn, int32_t pen, int32_t uniqueTransparency,
                       uint32_t **pixelsOut, uint32_t **paletteOut, uint32_t *transparentOut, int32_t *widthOut,
                       int32_t *heightOut, int32_t *alphaOut) {
  SetErrorArgument(name);
  qmFileHandle *f = FileOpen(name, FILE_MODE_READ);
  if (!f) return ERR_READFILE;
  FileClose(f);

  uint8_t head[64] = {};
  f = FileOpen(name, FILE_MODE_READ);
  if (!f) return ERR_LOADPICTURE2;
  FileRead(f, head, sizeof head);
  FileClose(f);

  int32_t width = 0, height = 0, alpha = 0;
  uint32_t *pixels = nullptr, *palette = nullptr, transparent = 0xFFFFFFFFu;
  uint32_t **pixelsPlace = pixelsOut ? &pixels : nullptr;
  uint32_t err = 0;
  switch (KindOfHead(head)) {
    case ImageKind::kIlbm:
      err = LoadILBM(name, paletteIn, pen, uniqueTransparency, &transparent, &width, &height, pixelsPlace,
                     paletteOut ? &palette : nullptr);
      break;
    case ImageKind::kPng: LoadPNG(name, &width, &height, pixelsPlace, &alpha, &err); break;
    case ImageKind::kBmp: err = LoadBMP(name, &width, &height, pixelsPlace); break;
    case ImageKind::kJpeg:
    case ImageKind::kSystem:
      err = DecodeImageData(name, nullptr, &width, &height, pixelsPlace, &alpha, nullptr);
      break;
    case ImageKind::kUnknown: err = ERR_LOADPICTURE2; break;
  }
  if (err) {
    // A reader that failed has freed what it made; this is for readers that must not leak
    // half a result whatever they do.
    MemFree(pixels);
    MemFree(palette);
    if (err != ERR_OPENLIB) SetErrorArgument(name);  // that one names the missing library
    return err;
  }
  if (pixelsOut) *pixelsOut = pixels;
  if (paletteOut) *paletteOut = palette;
  if (transparentOut) *transparentOut = transparent;
  if (alphaOut) *alphaOut = alpha;
  *widthOut = width;
  *heightOut = height;
  return 0;
}

uint32_t LoadImageWithPlugins(const qmFormatPlugins *plugins, const char *name, uint32_t *paletteIn, int32_t pen,
                              int32_t uniqueTransparency, uint32_t **pixelsOut, uint32_t **paletteOut,
                              uint32_t *transparentOut, int32_t *widthOut, int32_t *heightOut, int32_t *alphaOut,
                              const qmPluginLoadExtras &extras) {
  if (extras.forcedAlpha) *extras.forcedAlpha = 0;
  if (extras.vector) *extras.vector = nullptr;
  qmPluginImageInfo info{};
  qmPluginDecoder source{};
  uint32_t code = plugins ? plugins->loadImage(name, pixelsOut, &info, extras.vector && pixelsOut ? &source : nullptr)
                          : ERR_LOADPICTURE2;
  if (code == ERR_LOADPICTURE2)
    return LoadImageFile(name, paletteIn, pen, uniqueTransparency, pixelsOut, paletteOut, transparentOut, widthOut,
                         heightOut, alphaOut);
  if (code) return code;
  if (paletteOut) *paletteOut = nullptr;
  if (transparentOut) *transparentOut = 0xFFFFFFFFu;
  if (alphaOut) *alphaOut = info.alpha || info.loadAlpha;
  if (extras.forcedAlpha) *extras.forcedAlpha = info.loadAlpha != 0;
  if (source.handle) {
    *extras.vector = NewPluginImage(plugins, source, info.width, info.height, info.alpha || info.loadAlpha);
    if (!*extras.vector) {
      MemFree(*pixelsOut);
      return ERR_MEM;
    }
  }
  *widthOut = info.width;
  *heightOut = info.height;
  return 0;
}
