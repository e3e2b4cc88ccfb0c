#include "display/scene.h"

#include <new>

#include "display/output.h"
#include "graphics/bitmap.h"
#include "graphics/imagecache.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"

uint32_t NewScene(qmObjectRegistry *objects, qmScene **out) {
  auto *scene = new (std::nothrow) qmScene{};
  if (!scene) return ERR_MEM;
  if (NewImageCache(&scene->images)) {
    delete scene;
    return ERR_MEM;
  }
  scene->objects = objects;
  scene->backfill.startColor = scene->backfill.endColor = kNoBackfillColor;
  scene->backfill.transparentColor = kNoBackfillColor;
  ResetDefaultDrawTags(&scene->defaultTransform, &scene->defaultTags);
  SetDefaultDrawStyle(&scene->drawStyle);
  ResetOutputSettings(scene);
  *out = scene;
  return 0;
}

void FreeScene(qmScene *scene) {
  if (!scene) return;
  FreeRectList(&scene->layerBatch);
  FreeBitmap(scene->backfillPicture);
  MemFree(scene->foundLayers);
  FreeScratchPlane(scene);
  FreeImageCache(scene->images);
  delete scene;
}
