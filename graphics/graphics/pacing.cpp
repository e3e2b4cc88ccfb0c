#include "graphics/graphics/pacing.h"

#include "display/display.h"
#include "platform/desktop.h"
#include "platform/present.h"

void FlushDisplayFrame(VmState *L) {
  if (CurrentDisplay) FlushDisplayWindow(L, CurrentDisplay);
}

void SetFrameRateLimit(int32_t n) { SetPlatformAttr(nullptr, PLATATTR_FRAMERATE, n > 0 ? n : 0); }

int32_t GetFrameRateLimit() { return FrameRateLimitOn() ? GetCurrentFrameRate() : 0; }
