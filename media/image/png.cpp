// PNG through libpng. libpng reports errors by long-jumping out of its error callback, so the
// frames between the jump point and the callback (ours and libpng's) hold nothing that needs a
// destructor, and everything allocated there is released by hand on both paths.
#include <png.h>

#include <csetjmp>
#include <cstring>

#include "graphics/bitmap.h"
#include "media/image/imageload.h"
#include "platform/file.h"
#include "platform/imagecodec.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "libpng writes B, G, R, A bytes as 0xAARRGGBB words");

namespace {

// Ancillary chunks of any length that the picture does not need: names of four letters and a zero.
constexpr png_byte kSkippedChunks[] = "tEXt\0zTXt\0iTXt\0iCCP\0sPLT\0eXIf\0pCAL\0sCAL";

// Plain data only: it survives the jump back from libpng.
struct PngRead {
  std::jmp_buf jump;
  qmFileHandle *file;
  uint32_t *pixels;
  png_bytep *rows;
};

[[noreturn]] void PngError(png_structp png, png_const_charp) {
  auto *r = static_cast<PngRead *>(png_get_error_ptr(png));
  std::longjmp(r->jump, 1);
}

void PngWarning(png_structp, png_const_charp) {}

void PngReadBytes(png_structp png, png_bytep out, size_t n) {
  auto *r = static_cast<PngRead *>(png_get_io_ptr(png));
  if (FileRead(r->file, out, n) != n) png_error(png, "Read error!");
}

uint32_t ReadPng(PngRead *r, int32_t *widthOut, int32_t *heightOut, uint32_t **pixelsOut, int32_t *alphaOut) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, r, PngError, PngWarning);
  if (!png) return ERR_MEM;
  png_infop info = png_create_info_struct(png);
  png_infop endInfo = info ? png_create_info_struct(png) : nullptr;
  if (!endInfo) {
    png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    return ERR_MEM;
  }
  if (setjmp(r->jump)) {
    png_destroy_read_struct(&png, &info, &endInfo);
    MemFree(r->rows);
    MemFree(r->pixels);
    r->rows = nullptr;
    r->pixels = nullptr;
    return ERR_LOADPICTURE2;
  }
  png_set_read_fn(png, r, PngReadBytes);
  png_set_user_limits(png, QM_MAX_PLANE_SIDE, QM_MAX_PLANE_SIDE);
  // libpng allocates (and clears) a chunk of these kinds at the length it claims before reading
  // it, however short the file; none of them changes the pixels, so they are skipped unread.
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, kSkippedChunks, int(sizeof kSkippedChunks / 5));
  png_read_info(png, info);
  png_uint_32 width = 0, height = 0;
  int depth = 0, colorType = 0, interlace = 0;
  png_get_IHDR(png, info, &width, &height, &depth, &colorType, &interlace, nullptr, nullptr);
  uint32_t err = CheckImageSize(width, height, r->file->size);
  if (err) {
    png_destroy_read_struct(&png, &info, &endInfo);
    return err;
  }

  // Everything becomes 8-bit B, G, R, A bytes in memory, that is 0xAARRGGBB words; pictures
  // without alpha get a zero filler byte.
  const bool tRNS = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
  if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (colorType == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
  if (tRNS) png_set_tRNS_to_alpha(png);
  if (depth == 16) png_set_strip_16(png);
  if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
  const bool alpha = (colorType & PNG_COLOR_MASK_ALPHA) || tRNS;
  if (!alpha) png_set_filler(png, 0, PNG_FILLER_AFTER);
  png_set_bgr(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const int outType = png_get_color_type(png, info);
  if (png_get_bit_depth(png, info) != 8 || png_get_rowbytes(png, info) != size_t(width) * 4 ||
      (outType != PNG_COLOR_TYPE_RGB && outType != PNG_COLOR_TYPE_RGB_ALPHA)) {
    png_destroy_read_struct(&png, &info, &endInfo);
    return ERR_LOADPICTURE2;
  }

  if (pixelsOut) {
    r->pixels = static_cast<uint32_t *>(MemAlloc(uint32_t(width * height * 4), 0));
    r->rows = static_cast<png_bytep *>(MemAlloc(uint32_t(height * sizeof(png_bytep)), 0));
    if (!r->pixels || !r->rows) {
      png_destroy_read_struct(&png, &info, &endInfo);
      MemFree(r->rows);
      MemFree(r->pixels);
      r->rows = nullptr;
      r->pixels = nullptr;
      return ERR_MEM;
    }
    for (png_uint_32 y = 0; y < height; y++) r->rows[y] = reinterpret_cast<png_bytep>(r->pixels + size_t(y) * width);
    // Interlaced pictures take every pass over the same rows.
    png_read_image(png, r->rows);
    png_read_end(png, endInfo);
    MemFree(r->rows);
    r->rows = nullptr;
    *pixelsOut = r->pixels;
    r->pixels = nullptr;
  }
  png_destroy_read_struct(&png, &info, &endInfo);
  *widthOut = int32_t(width);
  *heightOut = int32_t(height);
  *alphaOut = outType == PNG_COLOR_TYPE_RGB_ALPHA ? 1 : 0;
  return 0;
}

}  // namespace

void LoadPNG(const char *name, int32_t *widthOut, int32_t *heightOut, uint32_t **pixelsOut, int32_t *alphaOut,
             uint32_t *errorOut) {
  *errorOut = 0;
  qmFileHandle *f = FileOpen(name, FILE_MODE_READ);
  if (!f) {
    *errorOut = ERR_READFILE;
    return;
  }
  PngRead r;
  std::memset(&r, 0, sizeof r);
  r.file = f;
  *errorOut = ReadPng(&r, widthOut, heightOut, pixelsOut, alphaOut);
  FileClose(f);
}
