#include "display/scene.h"

#include <new>

#include "runtime/errcodes.h"

namespace {
// The scene outside a run (tests that draw without one).
qmScene gOutsideRun{};
}  // namespace

qmScene *ActiveScene = &gOutsideRun;

uint32_t NewScene(qmObjectRegistry *objects, qmScene **out) {
  auto *scene = new (std::nothrow) qmScene{};
  if (!scene) return ERR_MEM;
  scene->objects = objects;
  ActiveScene = scene;
  ResetDefaultDrawTags();
  *out = scene;
  return 0;
}

void FreeScene(qmScene *scene) {
  if (!scene) return;
  FreeRectList(&scene->layerBatch);
  if (ActiveScene == scene) ActiveScene = &gOutsideRun;
  delete scene;
}
