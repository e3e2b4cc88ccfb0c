#include "display/scene.h"

#include <new>

#include "runtime/errcodes.h"

uint32_t NewScene(qmObjectRegistry *objects, qmScene **out) {
  auto *scene = new (std::nothrow) qmScene{};
  if (!scene) return ERR_MEM;
  scene->objects = objects;
  ResetDefaultDrawTags(&scene->defaultTransform, &scene->defaultTags);
  *out = scene;
  return 0;
}

void FreeScene(qmScene *scene) {
  if (!scene) return;
  FreeRectList(&scene->layerBatch);
  delete scene;
}
