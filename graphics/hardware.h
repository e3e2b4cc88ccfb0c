// Hooks for accelerated bitmaps. Everything here is drawn in software, so the
// capability word is 0 and every hook is inert; callers still ask before a hardware path.
#pragma once
#include <cstdint>

#include "graphics/bitmap.h"

// Capability bits callers test.
enum : uint32_t {
  QM_HW_ALPHABLIT = 1,
  QM_HW_TRANSITION = 2,
  QM_HW_DOUBLEBUFFER = 4,
  QM_HW_BRUSHES = 8,
  QM_HW_TRANSFORM = 16,
};

uint32_t GetHardwareCaps();
void HardwareBltAlphaChannel();
void WaitGraphicsIdle();
void NoteHardwareAlphaBlit();
void AttachHardwarePlanes(qmBitmap *bitmap, qmMask *mask, qmAlphaChannel *alpha, qmMask **maskTaken,
                          qmAlphaChannel **alphaTaken);
int32_t CanHardwareScale();
int32_t HardwareTransformBitmap();
void SyncHardwareBitmap(qmBitmap *bitmap);
