#include "display/output.h"

#include "graphics/alpha_kernels.h"
#include "display/bgpic.h"
#include "display/scene.h"
#include "platform/memory.h"

int32_t GetOutputPicture(const qmScene *scene, qmOutputPicture *out) {
  qmBGPic *pic = scene ? scene->picture : nullptr;
  if (!pic) return 0;
  *out = qmOutputPicture{pic->unscaledWidth, pic->unscaledHeight, &pic->activeClip, pic->palette};
  return 1;
}

uint32_t GetOutputMaskMode(const qmScene *scene) { return scene ? scene->outputMaskMode : uint32_t(MASKVANILLACOPY); }
uint32_t GetOutputAlphaValue(const qmScene *scene) { return scene ? scene->outputAlphaValue : kNoAlphaValue; }
void SetOutputMaskMode(qmScene *scene, uint32_t mode) {
  if (scene) scene->outputMaskMode = mode;
}
void SetOutputAlphaValue(qmScene *scene, uint32_t value) {
  if (scene) scene->outputAlphaValue = value;
}
void ResetOutputSettings(qmScene *scene) {
  if (!scene) return;
  scene->outputMaskMode = MASKVANILLACOPY;
  scene->outputAlphaValue = kNoAlphaValue;
}

uint8_t *GetScratchPlane(qmScene *scene, uint32_t bytes) {
  if (!scene) return nullptr;
  if (bytes <= scene->scratchBytes) return scene->scratchPlane;
  MemFree(scene->scratchPlane);
  scene->scratchPlane = static_cast<uint8_t *>(MemAlloc(bytes, 0));
  scene->scratchBytes = scene->scratchPlane ? bytes : 0;
  return scene->scratchPlane;
}

void FreeScratchPlane(qmScene *scene) {
  if (!scene) return;
  MemFree(scene->scratchPlane);
  scene->scratchPlane = nullptr;
  scene->scratchBytes = 0;
}
