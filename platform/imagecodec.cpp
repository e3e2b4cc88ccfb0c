// The system picture codecs: libjpeg-turbo (TurboJPEG), libtiff and giflib.
#include "platform/imagecodec.h"

#include <algorithm>

#include "graphics/bitmap.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"

uint32_t CheckImageSize(int64_t width, int64_t height, uint64_t fileBytes) {
  if (width <= 0 || height <= 0) return ERR_LOADPICTURE2;
  const uint64_t pixels = uint64_t(width) * uint64_t(height);
  const uint64_t plausible = fileBytes > (uint64_t(1) << 40) ? UINT64_MAX : std::max<uint64_t>(uint64_t(1) << 20, fileBytes << 14);
  if (pixels > plausible) return ERR_LOADPICTURE2;
  if (width > QM_MAX_PICTURE_SIDE || height > QM_MAX_PICTURE_SIDE || int64_t(pixels) > kMaxImagePixels) return ERR_MEM;
  return 0;
}

uint32_t DecodeImageData(const char *, const qmImageData *, int32_t *, int32_t *, uint32_t **, int32_t *, uint8_t **) {
  return ERR_LOADPICTURE2;
}

uint32_t DecodeImageMemory(const uint8_t *, uint64_t, int32_t *, int32_t *, uint32_t **, int32_t *, uint8_t **) {
  return ERR_LOADPICTURE2;
}

uint32_t EncodeImageData(const char *, const uint32_t *, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                         qmImageData *) {
  return ERR_SAVEPNG;
}

uint32_t EncodeImageJPEG(qmJpegRequest *) { return ERR_WRITEJPEG; }

void FreeEncodedImage(qmImageData *data) {
  MemFree(data->bytes);
  data->bytes = nullptr;
  data->length = 0;
}

uint32_t SaveImagePNG(const char *, const uint32_t *, int32_t, int32_t, int32_t) { return ERR_SAVEPNG; }

uint32_t SaveImageGIF(const char *, const uint8_t *, int32_t, int32_t, const uint32_t *, int32_t, int32_t) {
  return ERR_SAVEIMAGE;
}
