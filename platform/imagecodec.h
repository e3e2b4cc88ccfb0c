// The system's picture decoder and encoder: JPEG (libjpeg-turbo), TIFF (libtiff), PNG (libpng)
// and the first picture of a GIF (giflib) are decoded here; PNG and JPEG are encoded here. Pixel
// words are 0xAARRGGBB, rows top to bottom, no gap.
#pragma once
#include <cstdint>

// Bytes of an encoded picture in memory. Made by the encoders with MemAlloc (free them with
// FreeEncodedImage); handed to the decoder by the caller, who keeps them.
struct qmImageData {
  uint8_t *bytes;
  uint64_t length;
};

// Largest picture a reader delivers: each side 1..kMaxImageSide (the planes' own limit,
// QM_MAX_PLANE_SIDE) and at most this many pixels (512 MiB of pixel words).
inline constexpr int32_t kMaxImageSide = int32_t(1) << 28;
inline constexpr int64_t kMaxImagePixels = int64_t(1) << 27;

// 0 when a picture of width x height, encoded in fileBytes bytes, may be allocated. A side of
// 0 or less, or more pixels than any encoding packs into so few bytes (2^14 per byte, with
// 2^20 pixels always allowed), is a broken file: ERR_LOADPICTURE2. A plausible picture that
// is larger than the limits above: ERR_MEM.
uint32_t CheckImageSize(int64_t width, int64_t height, uint64_t fileBytes);

// Decodes the file at path (a plain or virtual name), or else data. Without pixels only the
// size and has-alpha are reported. With pixels: a new array (MemAlloc) of width x height words
// with alpha byte 0; for a picture with alpha the alpha values go to a new plane of width x
// height bytes when alphaPlane is given, else into the words' alpha bytes.
// 0, ERR_MEM, ERR_READFILE (path cannot be opened), ERR_LOADPICTURE2.
uint32_t DecodeImageData(const char *path, const qmImageData *data, int32_t *width, int32_t *height,
                         uint32_t **pixels, int32_t *hasAlpha, uint8_t **alphaPlane);
// The same over a block of memory, which is not copied.
uint32_t DecodeImageMemory(const uint8_t *bytes, uint64_t length, int32_t *width, int32_t *height,
                           uint32_t **pixels, int32_t *hasAlpha, uint8_t **alphaPlane);

enum : int32_t {
  IMAGETYPE_PNG = 0,
  IMAGETYPE_JPEG = 1,
};

// Encodes width x height pixels (rows bytesPerRow apart) as PNG or JPEG. Words are 0xAARRGGBB,
// or with systemOrder set the bitmap's stored bytes alpha, red, green, blue. The alpha byte is
// kept when alpha is set (PNG only). Quality 0..100 (JPEG). With a path the result goes to that
// file, else to *out. 0, ERR_MEM, ERR_WRITEFILE (the file cannot be created; the path is the
// error argument), ERR_SAVEPNG or ERR_WRITEJPEG.
uint32_t EncodeImageData(const char *path, const uint32_t *pixels, int32_t width, int32_t height,
                         int32_t bytesPerRow, int32_t type, int32_t alpha, int32_t quality, int32_t systemOrder,
                         qmImageData *out);

// A JPEG of 0xAARRGGBB words in memory: data and length are filled on success.
struct qmJpegRequest {
  const uint32_t *pixels;
  int32_t width;
  int32_t height;
  int32_t bytesPerRow;
  int32_t quality;  // 0..100
  qmImageData data; // out
};
// 0, ERR_MEM or ERR_WRITEJPEG. The length is in the request, so that no length is taken for an
// error code.
uint32_t EncodeImageJPEG(qmJpegRequest *request);
void FreeEncodedImage(qmImageData *data);

// A PNG file of 0xAARRGGBB words, rows width x 4 bytes: 0, ERR_WRITEFILE or ERR_SAVEPNG.
uint32_t SaveImagePNG(const char *path, const uint32_t *pixels, int32_t width, int32_t height, int32_t hasAlpha);

