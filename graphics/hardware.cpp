#include "graphics/hardware.h"

uint32_t GetHardwareCaps() { return 0; }
void HardwareBltAlphaChannel() {}
void WaitGraphicsIdle() {}
void NoteHardwareAlphaBlit() {}

void AttachHardwarePlanes(qmBitmap *, qmMask *, qmAlphaChannel *, qmMask **maskTaken, qmAlphaChannel **alphaTaken) {
  if (maskTaken) *maskTaken = nullptr;
  if (alphaTaken) *alphaTaken = nullptr;
}

int32_t CanHardwareScale() { return 0; }
int32_t HardwareTransformBitmap() { return 0; }
void SyncHardwareBitmap(qmBitmap *) {}
