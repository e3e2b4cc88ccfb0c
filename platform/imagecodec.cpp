// The system picture codecs: JPEG through TurboJPEG, TIFF through libtiff, GIF through giflib,
// PNG through libpng's simplified interface. None of these long-jumps through our
// frames: TurboJPEG, libtiff and giflib report errors by their results, and the simplified
// libpng interface keeps its own jump inside libpng. libtiff is opened at the first TIFF
// picture: it brings seven compression libraries with it, and few scripts load a TIFF.
#include "platform/imagecodec.h"

#include <dlfcn.h>
#include <gif_lib.h>
#include <png.h>
#include <tiffio.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cstring>

#include "platform/errorarg.h"
#include "platform/file.h"
#include "platform/fileops.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "B, G, R, A bytes are read as 0xAARRGGBB words");

namespace {

// What a decoder delivers before it is handed out.
struct Decoded {
  int32_t width = 0;
  int32_t height = 0;
  int32_t hasAlpha = 0;
  uint32_t *pixels = nullptr;  // 0xAARRGGBB with the alpha values in the top byte
};

uint32_t *AllocPixels(int32_t width, int32_t height, int32_t clear) {
  return static_cast<uint32_t *>(MemAlloc(uint32_t(int64_t(width) * height * 4), clear));
}

// ---- JPEG ----

uint32_t DecodeJpeg(const uint8_t *bytes, uint64_t length, bool wantPixels, Decoded *out) {
  if (length > UINT32_MAX) return ERR_LOADPICTURE2;
  tjhandle tj = tjInitDecompress();
  if (!tj) return ERR_MEM;
  int width = 0, height = 0, subsampling = 0, colorspace = 0;
  uint32_t err = 0;
  if (tjDecompressHeader3(tj, bytes, static_cast<unsigned long>(length), &width, &height, &subsampling,
                          &colorspace) != 0)
    err = ERR_LOADPICTURE2;
  if (!err) err = CheckImageSize(width, height, length);
  if (!err && wantPixels) {
    out->pixels = AllocPixels(width, height, 0);
    if (!out->pixels) err = ERR_MEM;
  }
  if (!err && wantPixels) {
    auto *p = reinterpret_cast<unsigned char *>(out->pixels);
    if (colorspace == TJCS_CMYK || colorspace == TJCS_YCCK) {
      // Four bytes per pixel C, M, Y, K as stored; Adobe's files (the only kind written)
      // store them inverted, so red = C x K / 255 and so on.
      if (tjDecompress2(tj, bytes, static_cast<unsigned long>(length), p, width, width * 4, height, TJPF_CMYK, 0) != 0)
        err = ERR_LOADPICTURE2;
      else
        for (int64_t i = 0; i < int64_t(width) * height; i++) {
          const uint8_t *c = p + 4 * i;
          const uint32_t k = c[3];
          const uint32_t r = (c[0] * k + 127) / 255, g = (c[1] * k + 127) / 255, b = (c[2] * k + 127) / 255;
          out->pixels[i] = r << 16 | g << 8 | b;
        }
    } else if (tjDecompress2(tj, bytes, static_cast<unsigned long>(length), p, width, width * 4, height, TJPF_BGRX,
                             0) != 0) {
      // A picture cut short still decodes, grey where data is missing; anything worse fails.
      if (tjGetErrorCode(tj) == TJERR_FATAL) err = ERR_LOADPICTURE2;
    }
    if (!err && colorspace != TJCS_CMYK && colorspace != TJCS_YCCK)
      for (int64_t i = 0; i < int64_t(width) * height; i++) out->pixels[i] &= 0xFFFFFFu;
  }
  tjDestroy(tj);
  if (err) {
    MemFree(out->pixels);
    out->pixels = nullptr;
    return err;
  }
  out->width = width;
  out->height = height;
  return 0;
}

// ---- TIFF ----

struct MemoryStream {
  const uint8_t *bytes;
  uint64_t length;
  uint64_t position;
};

tmsize_t TiffRead(thandle_t h, void *buf, tmsize_t n) {
  auto *s = static_cast<MemoryStream *>(h);
  if (n <= 0 || s->position >= s->length) return 0;
  const uint64_t count = std::min<uint64_t>(uint64_t(n), s->length - s->position);
  std::memcpy(buf, s->bytes + s->position, count);
  s->position += count;
  return tmsize_t(count);
}
tmsize_t TiffWrite(thandle_t, void *, tmsize_t) { return 0; }
toff_t TiffSeek(thandle_t h, toff_t offset, int whence) {
  auto *s = static_cast<MemoryStream *>(h);
  uint64_t base = whence == SEEK_CUR ? s->position : whence == SEEK_END ? s->length : 0;
  const uint64_t target = base + offset;  // offsets are unsigned: a wrap lands far past the end
  if (target > s->length) return toff_t(-1);
  s->position = target;
  return target;
}
int TiffClose(thandle_t) { return 0; }
toff_t TiffSize(thandle_t h) { return static_cast<MemoryStream *>(h)->length; }
int TiffMap(thandle_t, void **, toff_t *) { return 0; }
void TiffUnmap(thandle_t, void *, toff_t) {}
int TiffQuiet(TIFF *, void *, const char *, const char *, va_list) { return 1; }

// The SONAME of the libtiff version the headers describe.
constexpr const char *kTiffLibrary = "libtiff.so.6";

// Every libtiff function this file calls.
#define QM_TIFF_FUNCTIONS(X) \
  X(TIFFOpenOptionsAlloc) \
  X(TIFFOpenOptionsSetMaxSingleMemAlloc) \
  X(TIFFOpenOptionsSetErrorHandlerExtR) \
  X(TIFFOpenOptionsSetWarningHandlerExtR) \
  X(TIFFOpenOptionsFree) \
  X(TIFFClientOpenExt) \
  X(TIFFGetField) \
  X(TIFFRGBAImageOK) \
  X(TIFFReadRGBAImageOriented) \
  X(TIFFClose)

// Typed from the header's own declarations, so that a pointer cannot drift from its function.
struct TiffFunctions {
#define QM_TIFF_POINTER(name) decltype(&::name) name;
  QM_TIFF_FUNCTIONS(QM_TIFF_POINTER)
#undef QM_TIFF_POINTER
};

const TiffFunctions *LoadTiff() {
  static TiffFunctions table;
  void *lib = dlopen(kTiffLibrary, RTLD_NOW | RTLD_LOCAL);
  bool ok = lib != nullptr;
#define QM_TIFF_RESOLVE(name) \
  if (ok) ok = (table.name = reinterpret_cast<decltype(table.name)>(dlsym(lib, #name))) != nullptr;
  QM_TIFF_FUNCTIONS(QM_TIFF_RESOLVE)
#undef QM_TIFF_RESOLVE
  if (!ok && lib) dlclose(lib);
  return ok ? &table : nullptr;
}

// The table, opened at the first TIFF picture from whichever thread; null when libtiff is
// missing, then and later. It stays loaded for the life of the process.
const TiffFunctions *Tiff() {
  static const TiffFunctions *const tiff = LoadTiff();
  return tiff;
}

uint32_t DecodeTiff(const uint8_t *bytes, uint64_t length, bool wantPixels, Decoded *out) {
  const TiffFunctions *loaded = Tiff();
  if (!loaded) {
    SetPlatformErrorArgument(kTiffLibrary);
    return ERR_OPENLIB;
  }
  const TiffFunctions &tiff = *loaded;
  MemoryStream stream = {bytes, length, 0};
  TIFFOpenOptions *options = tiff.TIFFOpenOptionsAlloc();
  if (!options) return ERR_MEM;
  // No single allocation of libtiff's may exceed what one picture of ours may hold.
  tiff.TIFFOpenOptionsSetMaxSingleMemAlloc(options, tmsize_t(kMaxImagePixels * 4));
  tiff.TIFFOpenOptionsSetErrorHandlerExtR(options, TiffQuiet, nullptr);
  tiff.TIFFOpenOptionsSetWarningHandlerExtR(options, TiffQuiet, nullptr);
  TIFF *tif = tiff.TIFFClientOpenExt("picture", "rm", &stream, TiffRead, TiffWrite, TiffSeek, TiffClose, TiffSize,
                                TiffMap, TiffUnmap, options);
  tiff.TIFFOpenOptionsFree(options);
  if (!tif) return ERR_LOADPICTURE2;
  uint32_t width = 0, height = 0;
  uint16_t extraCount = 0, *extra = nullptr;
  tiff.TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
  tiff.TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
  tiff.TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extra);
  // Only alpha that is not premultiplied counts as an alpha channel.
  bool alpha = false;
  for (uint16_t i = 0; i < extraCount && extra; i++)
    if (extra[i] == EXTRASAMPLE_UNASSALPHA) alpha = true;
  uint32_t err = CheckImageSize(width, height, length);
  char message[1024];
  if (!err && !tiff.TIFFRGBAImageOK(tif, message)) err = ERR_LOADPICTURE2;
  if (!err && wantPixels) {
    out->pixels = AllocPixels(int32_t(width), int32_t(height), 0);
    if (!out->pixels) err = ERR_MEM;
    else if (!tiff.TIFFReadRGBAImageOriented(tif, width, height, out->pixels, ORIENTATION_TOPLEFT, 0))
      err = ERR_LOADPICTURE2;
  }
  tiff.TIFFClose(tif);
  if (err) {
    MemFree(out->pixels);
    out->pixels = nullptr;
    return err;
  }
  if (wantPixels) {
    // libtiff gives R, G, B, A bytes with the colours multiplied by alpha.
    for (int64_t i = 0; i < int64_t(width) * height; i++) {
      const uint32_t p = out->pixels[i];
      uint32_t r = p & 255, g = p >> 8 & 255, b = p >> 16 & 255, a = p >> 24;
      if (alpha && a && a < 255) {
        r = std::min(255u, (r * 255 + a / 2) / a);
        g = std::min(255u, (g * 255 + a / 2) / a);
        b = std::min(255u, (b * 255 + a / 2) / a);
      }
      out->pixels[i] = (alpha ? a << 24 : 0) | r << 16 | g << 8 | b;
    }
  }
  out->width = int32_t(width);
  out->height = int32_t(height);
  out->hasAlpha = alpha ? 1 : 0;
  return 0;
}

// ---- GIF: the first picture, on the logical screen ----

int GifRead(GifFileType *gif, GifByteType *buf, int n) {
  return int(TiffRead(static_cast<MemoryStream *>(gif->UserData), buf, n));
}

uint32_t DecodeGif(const uint8_t *bytes, uint64_t length, bool wantPixels, Decoded *out) {
  MemoryStream stream = {bytes, length, 0};
  int gifErr = 0;
  GifFileType *gif = DGifOpen(&stream, GifRead, &gifErr);
  if (!gif) return gifErr == D_GIF_ERR_NOT_ENOUGH_MEM ? ERR_MEM : ERR_LOADPICTURE2;
  uint32_t err = ERR_LOADPICTURE2;  // until a picture is found
  int transparent = -1;
  GifByteType *line = nullptr;
  for (;;) {
    GifRecordType type;
    if (DGifGetRecordType(gif, &type) == GIF_ERROR || type == TERMINATE_RECORD_TYPE) break;
    if (type == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType *ext = nullptr;
      if (DGifGetExtension(gif, &code, &ext) == GIF_ERROR) break;
      if (code == GRAPHICS_EXT_FUNC_CODE && ext) {
        GraphicsControlBlock gcb;
        if (DGifExtensionToGCB(ext[0], ext + 1, &gcb) == GIF_OK) transparent = gcb.TransparentColor;
      }
      while (ext)
        if (DGifGetExtensionNext(gif, &ext) == GIF_ERROR) break;
      if (ext) break;
      continue;
    }
    if (type != IMAGE_DESC_RECORD_TYPE || DGifGetImageDesc(gif) == GIF_ERROR) break;
    const GifImageDesc &d = gif->Image;
    // The screen holds the picture; a screen of 0 (or smaller than the picture) takes the
    // picture's extent.
    const int32_t width = std::max<int32_t>(gif->SWidth, d.Left + d.Width);
    const int32_t height = std::max<int32_t>(gif->SHeight, d.Top + d.Height);
    const bool covers = d.Left == 0 && d.Top == 0 && d.Width >= width && d.Height >= height;
    err = CheckImageSize(width, height, length);
    if (err || d.Width <= 0 || d.Height <= 0) {
      err = err ? err : ERR_LOADPICTURE2;
      break;
    }
    out->width = width;
    out->height = height;
    out->hasAlpha = (transparent >= 0 || !covers) ? 1 : 0;
    if (!wantPixels) break;
    const ColorMapObject *map = d.ColorMap ? d.ColorMap : gif->SColorMap;
    uint32_t palette[256] = {};
    for (int i = 0; map && i < map->ColorCount && i < 256; i++)
      palette[i] = 0xFF000000u | uint32_t(map->Colors[i].Red) << 16 | uint32_t(map->Colors[i].Green) << 8 |
                   map->Colors[i].Blue;
    if (transparent >= 0 && transparent < 256) palette[transparent] = 0;
    out->pixels = AllocPixels(width, height, 1);
    line = static_cast<GifByteType *>(MemAlloc(uint32_t(d.Width), 0));
    if (!out->pixels || !line) {
      err = ERR_MEM;
      break;
    }
    static const int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
    const int passes = d.Interlace ? 4 : 1;
    for (int pass = 0; pass < passes && !err; pass++)
      for (int y = d.Interlace ? kStart[pass] : 0; y < d.Height; y += d.Interlace ? kStep[pass] : 1) {
        if (DGifGetLine(gif, line, d.Width) == GIF_ERROR) {
          err = ERR_LOADPICTURE2;
          break;
        }
        uint32_t *row = out->pixels + int64_t(d.Top + y) * width + d.Left;
        for (int x = 0; x < d.Width; x++) row[x] = palette[line[x]];
      }
    if (!err && !out->hasAlpha)
      for (int64_t i = 0; i < int64_t(width) * height; i++) out->pixels[i] &= 0xFFFFFFu;
    break;
  }
  MemFree(line);
  DGifCloseFile(gif, &gifErr);
  if (err) {
    MemFree(out->pixels);
    out->pixels = nullptr;
  }
  return err;
}

// ---- PNG ----

// Pictures that come in memory (the clipboard's image/png); files go through our own reader.
uint32_t DecodePng(const uint8_t *bytes, uint64_t length, bool wantPixels, Decoded *out) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, bytes, size_t(length))) {
    png_image_free(&image);
    return ERR_LOADPICTURE2;
  }
  const int32_t alpha = (image.format & PNG_FORMAT_FLAG_ALPHA) != 0;
  uint32_t err = CheckImageSize(image.width, image.height, length);
  if (!err && wantPixels) {
    out->pixels = AllocPixels(int32_t(image.width), int32_t(image.height), 0);
    if (!out->pixels) err = ERR_MEM;
  }
  if (!err && wantPixels) {
    image.format = PNG_FORMAT_BGRA;
    if (!png_image_finish_read(&image, nullptr, out->pixels, int32_t(image.width) * 4, nullptr)) {
      err = ERR_LOADPICTURE2;
    } else if (!alpha) {
      const int64_t n = int64_t(image.width) * image.height;
      for (int64_t i = 0; i < n; i++) out->pixels[i] &= 0xFFFFFFu;
    }
  }
  png_image_free(&image);
  if (err) {
    MemFree(out->pixels);
    out->pixels = nullptr;
    return err;
  }
  out->width = int32_t(image.width);
  out->height = int32_t(image.height);
  out->hasAlpha = alpha;
  return 0;
}

uint32_t DecodeMemory(const uint8_t *bytes, uint64_t length, bool wantPixels, Decoded *out) {
  if (length >= 8 && !std::memcmp(bytes, "\x89PNG\r\n\x1a\n", 8)) return DecodePng(bytes, length, wantPixels, out);
  if (length >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF)
    return DecodeJpeg(bytes, length, wantPixels, out);
  if (length >= 4 && (!std::memcmp(bytes, "MM\0*", 4) || !std::memcmp(bytes, "II*\0", 4)))
    return DecodeTiff(bytes, length, wantPixels, out);
  if (length >= 6 && (!std::memcmp(bytes, "GIF87a", 6) || !std::memcmp(bytes, "GIF89a", 6)))
    return DecodeGif(bytes, length, wantPixels, out);
  return ERR_LOADPICTURE2;
}

uint32_t HandOut(const Decoded &d, int32_t *width, int32_t *height, uint32_t **pixels, int32_t *hasAlpha,
                 uint8_t **alphaPlane) {
  if (pixels && d.hasAlpha && alphaPlane) {
    const int64_t n = int64_t(d.width) * d.height;
    auto *plane = static_cast<uint8_t *>(MemAlloc(uint32_t(n), 0));
    if (!plane) {
      MemFree(d.pixels);
      return ERR_MEM;
    }
    for (int64_t i = 0; i < n; i++) {
      plane[i] = uint8_t(d.pixels[i] >> 24);
      d.pixels[i] &= 0xFFFFFFu;
    }
    *alphaPlane = plane;
  } else if (alphaPlane) {
    *alphaPlane = nullptr;
  }
  if (pixels) *pixels = d.pixels;
  *width = d.width;
  *height = d.height;
  if (hasAlpha) *hasAlpha = d.hasAlpha;
  return 0;
}

}  // namespace

uint32_t CheckImageSize(int64_t width, int64_t height, uint64_t fileBytes) {
  if (width <= 0 || height <= 0) return ERR_LOADPICTURE2;
  const uint64_t pixels = uint64_t(width) * uint64_t(height);
  const uint64_t plausible =
      fileBytes > (uint64_t(1) << 40) ? UINT64_MAX : std::max<uint64_t>(uint64_t(1) << 20, fileBytes << 14);
  if (pixels > plausible) return ERR_LOADPICTURE2;
  if (width > kMaxImageSide || height > kMaxImageSide || int64_t(pixels) > kMaxImagePixels) return ERR_MEM;
  return 0;
}

uint32_t DecodeImageMemory(const uint8_t *bytes, uint64_t length, int32_t *width, int32_t *height, uint32_t **pixels,
                           int32_t *hasAlpha, uint8_t **alphaPlane) {
  Decoded d;
  uint32_t err = DecodeMemory(bytes, length, pixels != nullptr, &d);
  if (err) return err;
  return HandOut(d, width, height, pixels, hasAlpha, alphaPlane);
}

uint32_t DecodeImageData(const char *path, const qmImageData *data, int32_t *width, int32_t *height,
                         uint32_t **pixels, int32_t *hasAlpha, uint8_t **alphaPlane) {
  if (!path) {
    if (!data) return ERR_LOADPICTURE2;
    return DecodeImageMemory(data->bytes, data->length, width, height, pixels, hasAlpha, alphaPlane);
  }
  qmFileHandle *f = FileOpen(path, FILE_MODE_READ);
  if (!f) return ERR_READFILE;
  // The whole file: it is no larger than what the disk holds, and every decoder wants it.
  if (f->size == 0 || f->size > UINT32_MAX) {
    FileClose(f);
    return ERR_LOADPICTURE2;
  }
  auto *bytes = static_cast<uint8_t *>(MemAlloc(uint32_t(f->size), 0));
  if (!bytes) {
    FileClose(f);
    return ERR_MEM;
  }
  const uint64_t length = FileRead(f, bytes, f->size);
  FileClose(f);
  uint32_t err = DecodeImageMemory(bytes, length, width, height, pixels, hasAlpha, alphaPlane);
  MemFree(bytes);
  return err;
}

// ---- Encoders ----

namespace {

uint32_t WriteWholeFile(const char *path, const uint8_t *bytes, uint64_t length) {
  qmFileHandle *f = FileOpen(path, FILE_MODE_WRITE);
  if (!f) {
    SetPlatformErrorArgument(path);
    return ERR_WRITEFILE;
  }
  const bool ok = FileWrite(f, bytes, length) == length;
  if (!FileClose(f) || !ok) {
    RemoveFailedOutput(path);  // the file made here stays whole or goes
    SetPlatformErrorArgument(path);
    return ERR_WRITEFILE;
  }
  return 0;
}

// Rows of words, either 0xAARRGGBB or the stored bytes A, R, G, B.
uint32_t EncodePng(const uint32_t *pixels, int32_t width, int32_t height, int32_t bytesPerRow, int32_t alpha,
                   int32_t systemOrder, qmImageData *out) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = uint32_t(width);
  image.height = uint32_t(height);
  image.format = systemOrder ? PNG_FORMAT_ARGB : PNG_FORMAT_BGRA;
  const void *source = pixels;
  int32_t stride = bytesPerRow;  // in components: bytes here
  uint8_t *packed = nullptr;
  if (!alpha) {
    // Three bytes a pixel: the alpha byte stays behind.
    image.format = PNG_FORMAT_RGB;
    packed = static_cast<uint8_t *>(MemAlloc(uint32_t(int64_t(width) * height * 3), 0));
    if (!packed) return ERR_MEM;
    for (int32_t y = 0; y < height; y++) {
      const auto *in = reinterpret_cast<const uint8_t *>(pixels) + int64_t(y) * bytesPerRow;
      uint8_t *o = packed + int64_t(y) * width * 3;
      for (int32_t x = 0; x < width; x++, in += 4, o += 3) {
        o[0] = systemOrder ? in[1] : in[2];
        o[1] = systemOrder ? in[2] : in[1];
        o[2] = systemOrder ? in[3] : in[0];
      }
    }
    source = packed;
    stride = width * 3;
  }
  // One pass into a buffer of the largest size the picture can take.
  png_alloc_size_t size = PNG_IMAGE_PNG_SIZE_MAX(image);
  uint32_t err = ERR_SAVEPNG;
  if (size <= UINT32_MAX) {
    out->bytes = static_cast<uint8_t *>(MemAlloc(uint32_t(size), 0));
    if (!out->bytes) {
      err = ERR_MEM;
    } else if (png_image_write_to_memory(&image, out->bytes, &size, 0, source, stride, nullptr)) {
      out->length = size;
      err = 0;
    } else {
      MemFree(out->bytes);
      out->bytes = nullptr;
    }
  }
  png_image_free(&image);
  MemFree(packed);
  return err;
}

uint32_t EncodeJpeg(const uint32_t *pixels, int32_t width, int32_t height, int32_t bytesPerRow, int32_t quality,
                    int32_t systemOrder, qmImageData *out) {
  tjhandle tj = tjInitCompress();
  if (!tj) return ERR_MEM;
  unsigned char *jpeg = nullptr;
  unsigned long size = 0;
  quality = std::clamp(quality, 1, 100);
  // Fine colour detail is kept at high qualities.
  const int sampling = quality >= 90 ? TJSAMP_444 : TJSAMP_420;
  uint32_t err = 0;
  if (tjCompress2(tj, reinterpret_cast<const unsigned char *>(pixels), width, bytesPerRow, height,
                  systemOrder ? TJPF_XRGB : TJPF_BGRX, &jpeg, &size, sampling, quality, 0) != 0) {
    err = ERR_WRITEJPEG;
  } else {
    out->bytes = static_cast<uint8_t *>(MemAlloc(uint32_t(size), 0));
    if (!out->bytes) err = ERR_MEM;
    else {
      std::memcpy(out->bytes, jpeg, size);
      out->length = size;
    }
  }
  tjFree(jpeg);
  tjDestroy(tj);
  return err;
}

}  // namespace

uint32_t EncodeImageData(const char *path, const uint32_t *pixels, int32_t width, int32_t height,
                         int32_t bytesPerRow, int32_t type, int32_t alpha, int32_t quality, int32_t systemOrder,
                         qmImageData *out) {
  const uint32_t typeErr = type == IMAGETYPE_JPEG ? ERR_WRITEJPEG : ERR_SAVEPNG;
  if (!pixels || width < 1 || height < 1 || bytesPerRow < width * 4 || (type != IMAGETYPE_PNG && type != IMAGETYPE_JPEG))
    return typeErr;
  if (int64_t(width) * height > kMaxImagePixels) return ERR_MEM;
  qmImageData data = {};
  uint32_t err = type == IMAGETYPE_PNG ? EncodePng(pixels, width, height, bytesPerRow, alpha, systemOrder, &data)
                                       : EncodeJpeg(pixels, width, height, bytesPerRow, quality, systemOrder, &data);
  if (err) return err;
  if (path) {
    err = WriteWholeFile(path, data.bytes, data.length);
    FreeEncodedImage(&data);
    return err;
  }
  if (out) *out = data;
  else FreeEncodedImage(&data);
  return 0;
}

uint32_t EncodeImageJPEG(qmJpegRequest *request) {
  request->data = {};
  return EncodeImageData(nullptr, request->pixels, request->width, request->height, request->bytesPerRow,
                         IMAGETYPE_JPEG, 0, request->quality, 0, &request->data);
}

void FreeEncodedImage(qmImageData *data) {
  if (!data) return;
  MemFree(data->bytes);
  data->bytes = nullptr;
  data->length = 0;
}

uint32_t SaveImagePNG(const char *path, const uint32_t *pixels, int32_t width, int32_t height, int32_t hasAlpha) {
  return EncodeImageData(path, pixels, width, height, width * 4, IMAGETYPE_PNG, hasAlpha, 100, 0, nullptr);
}

