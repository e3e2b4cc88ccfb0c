#include "graphics/bitmap.h"

#include "platform/memory.h"

namespace {

// Sizes are computed in 64 bits so that a huge request fails instead of wrapping
// into a small buffer; 0 means "no picture".
uint32_t PlaneBytes(int32_t width, int32_t height, int64_t bytesPerRow) {
  if (width <= 0 || height <= 0 || width > QM_MAX_PLANE_SIDE || height > QM_MAX_PLANE_SIDE) return 0;
  int64_t total = bytesPerRow * height;
  return uint64_t(total) > QM_MAX_PLANE_BYTES ? 0 : static_cast<uint32_t>(total);
}

qmMask *AllocPlane(int32_t width, int32_t height, int32_t bytesPerRow, int32_t clear) {
  uint32_t size = PlaneBytes(width, height, bytesPerRow);
  if (size == 0) return nullptr;
  auto *plane = static_cast<qmMask *>(MemAlloc(sizeof(qmMask), 1));
  if (!plane) return nullptr;
  plane->memory = static_cast<uint8_t *>(MemAlloc(size, clear));
  if (!plane->memory) {
    MemFree(plane);
    return nullptr;
  }
  plane->width = width;
  plane->height = height;
  plane->bytesPerRow = bytesPerRow;
  return plane;
}

void FreePlane(qmMask *plane) {
  if (!plane) return;
  if (!plane->borrowed) MemFree(plane->memory);
  MemFree(plane);
}

qmMask *WrapPlane(uint8_t *memory, int32_t width, int32_t height, int32_t bytesPerRow) {
  auto *plane = static_cast<qmMask *>(MemAlloc(sizeof(qmMask), 1));
  if (!plane) return nullptr;
  plane->memory = memory;
  plane->width = width;
  plane->height = height;
  plane->bytesPerRow = bytesPerRow;
  plane->borrowed = 1;
  return plane;
}

qmBitmap *AllocBitmapMemory(int32_t width, int32_t height, int32_t clear) {
  if (width > QM_MAX_PLANE_SIDE) return nullptr;
  uint32_t size = PlaneBytes(width, height, int64_t(BitmapPitchPixels(width)) * 4);
  if (size == 0) return nullptr;
  auto *bitmap = static_cast<qmBitmap *>(MemAlloc(sizeof(qmBitmap), 1));
  if (!bitmap) return nullptr;
  bitmap->pixels = static_cast<uint32_t *>(MemAlloc(size, clear));
  if (!bitmap->pixels) {
    MemFree(bitmap);
    return nullptr;
  }
  bitmap->width = width;
  bitmap->height = height;
  bitmap->bytesPerRow = BitmapPitchPixels(width) * 4;
  bitmap->bytesPerPixel = 4;
  bitmap->pixelFormat = QM_BITMAP_FORMAT;
  return bitmap;
}

}  // namespace

qmBitmap *AllocBitmap(int32_t width, int32_t height) { return AllocBitmapMemory(width, height, 0); }

// Large blocks come from fresh zero pages, which cost nothing until a row is touched.
qmBitmap *AllocClearedBitmap(int32_t width, int32_t height) { return AllocBitmapMemory(width, height, 1); }

qmBitmap *AllocHardwareBitmap(int32_t width, int32_t height) { return AllocBitmap(width, height); }

void FreeBitmap(qmBitmap *bitmap) {
  if (!bitmap) return;
  MemFree(bitmap->pixels);
  MemFree(bitmap);
}

int32_t LockBitmap(const qmBitmap *bitmap, qmBitmapView *view) {
  if (!bitmap) {
    *view = qmBitmapView{};
    return 0;
  }
  view->base = bitmap->pixels;
  view->valid = 1;
  view->pixelFormat = bitmap->pixelFormat;
  view->bytesPerPixel = bitmap->bytesPerPixel;
  view->pitch = bitmap->bytesPerPixel ? bitmap->bytesPerRow / bitmap->bytesPerPixel : 0;
  view->width = bitmap->width;
  view->height = bitmap->height;
  return 1;
}

void UnlockBitmap() {}

qmMask *AllocMask(int32_t width, int32_t height, int32_t clear) {
  if (width > QM_MAX_PLANE_SIDE) return nullptr;
  return AllocPlane(width, height, MaskBytesPerRow(width), clear);
}

void FreeMask(qmMask *mask) { FreePlane(mask); }

qmMask *WrapMask(uint8_t *bits, int32_t bytesPerRow) { return WrapPlane(bits, 0, 0, bytesPerRow); }

void SetMaskMemory(qmMask *mask, uint8_t *bits, int32_t bytesPerRow) {
  if (!mask->borrowed) MemFree(mask->memory);
  mask->memory = bits;
  mask->bytesPerRow = bytesPerRow;
  mask->borrowed = 1;
}

qmAlphaChannel *AllocAlphaChannel(int32_t width, int32_t height, int32_t clear) {
  if (width > QM_MAX_PLANE_SIDE) return nullptr;
  return AllocPlane(width, height, AlphaBytesPerRow(width), clear);
}

void FreeAlphaChannel(qmAlphaChannel *alpha) { FreePlane(alpha); }

void SetAlphaChannelMemory(qmAlphaChannel *alpha, uint8_t *memory, int32_t bytesPerRow) {
  SetMaskMemory(alpha, memory, bytesPerRow);
}

uintptr_t GetBitmapAttr(const void *record, int32_t selector) {
  if (selector == 21) return 32;
  if (!record) return 0;
  auto *bitmap = static_cast<const qmBitmap *>(record);
  auto *plane = static_cast<const qmMask *>(record);
  switch (selector) {
  case 0: return static_cast<uint32_t>(bitmap->width);
  case 18: return static_cast<uint32_t>(bitmap->height);
  case 3:
  case 4: return reinterpret_cast<uintptr_t>(plane->memory);
  case 1:
  case 2: return static_cast<uint32_t>(plane->bytesPerRow);
  case 11: return static_cast<uint32_t>(MaskBytesPerRow(bitmap->width));
  // Without a platform world the pitch of the pixels themselves is the answer.
  case 17: return static_cast<uint32_t>(bitmap->bytesPerRow / 4);
  case 24: return reinterpret_cast<uintptr_t>(record);
  default: return 0;
  }
}

void FreeImagePixels(void *pixels) { MemFree(pixels); }
