#include "display/scene.h"

#include <new>

#include "runtime/errcodes.h"

namespace {
// The scene outside a run (tests that draw without one).
qmScene gOutsideRun{};
[[maybe_unused]] const bool kOutsideDefaultsReady = [] {
  ResetDefaultDrawTags(&gOutsideRun.defaultTransform, &gOutsideRun.defaultTags);
  return true;
}();
}  // namespace

qmScene *ActiveScene = &gOutsideRun;

uint32_t NewScene(qmObjectRegistry *objects, qmScene **out) {
  auto *scene = new (std::nothrow) qmScene{};
  if (!scene) return ERR_MEM;
  scene->objects = objects;
  ResetDefaultDrawTags(&scene->defaultTransform, &scene->defaultTags);
  ActiveScene = scene;
  *out = scene;
  return 0;
}

void FreeScene(qmScene *scene) {
  if (!scene) return;
  FreeRectList(&scene->layerBatch);
  if (ActiveScene == scene) ActiveScene = &gOutsideRun;
  delete scene;
}
