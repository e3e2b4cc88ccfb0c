// A picture an image-loader plug-in renders at any size (a vector picture): the plug-in's image
// kept with its use count, shared by the brushes made from it.
#pragma once
#include <cstdint>

#include "runtime/formatplugins.h"

struct qmPluginImage {
  const qmFormatPlugins *plugins;
  qmPluginDecoder source;
  int32_t width, height;  // as loaded
  int32_t alpha;          // renderings carry an alpha channel
  uint32_t uses;
};

// A record of one use over a kept source; null without memory (the source is freed then).
qmPluginImage *NewPluginImage(const qmFormatPlugins *plugins, const qmPluginDecoder &source, int32_t width,
                              int32_t height, int32_t alpha);
void RetainPluginImage(qmPluginImage *image);
// Drops a use; the last one frees the plug-in's image and the record. Null does nothing.
void ReleasePluginImage(qmPluginImage *image);
// A rendering under {a, b, c, d, dx, dy} at width x height: 0 with new MemAlloc'd 0xAARRGGBB
// words, ERR_TFIMAGE when the plug-in refuses, ERR_MEM.
uint32_t TransformPluginImage(const qmPluginImage *image, const double values[6], int32_t width, int32_t height,
                              uint32_t **pixels);
