#include "media/image/pluginimage.h"

#include "platform/memory.h"

qmPluginImage *NewPluginImage(const qmFormatPlugins *plugins, const qmPluginDecoder &source, int32_t width,
                              int32_t height, int32_t alpha) {
  auto *image = static_cast<qmPluginImage *>(MemAlloc(sizeof(qmPluginImage), 1));
  if (!image) {
    plugins->freeImage(&source);
    return nullptr;
  }
  *image = {plugins, source, width, height, alpha, 1};
  return image;
}

void RetainPluginImage(qmPluginImage *image) {
  if (image) image->uses++;
}

void ReleasePluginImage(qmPluginImage *image) {
  if (!image || --image->uses > 0) return;
  image->plugins->freeImage(&image->source);
  MemFree(image);
}

uint32_t TransformPluginImage(const qmPluginImage *image, const double values[6], int32_t width, int32_t height,
                              uint32_t **pixels) {
  return image->plugins->transformImage(&image->source, values, width, height, pixels);
}
