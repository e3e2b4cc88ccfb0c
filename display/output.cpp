#include "display/output.h"

#include "graphics/alpha_kernels.h"
#include "display/bgpic.h"
#include "display/scene.h"
#include "platform/memory.h"

namespace {

uint32_t maskMode = MASKVANILLACOPY;
uint32_t alphaValue = kNoAlphaValue;

uint8_t *scratch = nullptr;
uint32_t scratchBytes = 0;

} // namespace

int32_t GetOutputPicture(const qmScene *scene, qmOutputPicture *out) {
  qmBGPic *pic = scene ? scene->picture : nullptr;
  if (!pic) return 0;
  *out = qmOutputPicture{pic->unscaledWidth, pic->unscaledHeight, &pic->activeClip, pic->palette};
  return 1;
}

uint32_t GetOutputMaskMode() { return maskMode; }
uint32_t GetOutputAlphaValue() { return alphaValue; }
void SetOutputMaskMode(uint32_t mode) { maskMode = mode; }
void SetOutputAlphaValue(uint32_t value) { alphaValue = value; }
void ResetOutputSettings() {
  maskMode = MASKVANILLACOPY;
  alphaValue = kNoAlphaValue;
}

uint8_t *GetScratchPlane(uint32_t bytes) {
  if (bytes <= scratchBytes) return scratch;
  MemFree(scratch);
  scratch = static_cast<uint8_t *>(MemAlloc(bytes, 0));
  scratchBytes = scratch ? bytes : 0;
  return scratch;
}

void FreeScratchPlane() {
  MemFree(scratch);
  scratch = nullptr;
  scratchBytes = 0;
}
