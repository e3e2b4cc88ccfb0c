// Video decoder plug-ins as sources of the video engine: the plug-in manager's entries over the
// engine's records; pictures come at the file's size and are scaled here to the size asked for.
#include "media/videocore/pluginsource.h"

#include <cstring>

#include "media/videocore/sourcepicture.h"
#include "platform/memory.h"
#include "runtime/formatplugins.h"

namespace {

struct PluginSource {
  const qmFormatPlugins *plugins;
  qmPluginDecoder decoder;
  int32_t width, height;
  uint8_t *picture;  // width x height pixels of A, R, G, B bytes: what the plug-in decodes into
  qmScaleBuffers scale;
};

// Only opened through OpenPluginVideoSource, which knows the plug-ins.
void *OpenNothing(const char *, qmVideoInfo *) { return nullptr; }

void ClosePlugin(void *h) {
  auto *s = static_cast<PluginSource *>(h);
  s->plugins->closeVideo(&s->decoder);
  FreeScaleBuffers(&s->scale);
  MemFree(s->picture);
  MemFree(s);
}

int NextPluginPacket(void *h, qmVideoPacket *p) {
  auto *s = static_cast<PluginSource *>(h);
  *p = {nullptr, 0, 0, -1.0};
  return s->plugins->videoNextPacket(&s->decoder, p);
}

void FreePluginPacket(void *h, qmVideoPacket *p) {
  auto *s = static_cast<PluginSource *>(h);
  s->plugins->videoFreePacket(&s->decoder, p);
}

int DecodePluginVideo(void *h, const qmVideoPacket *p, qmDecodedFrame *f) {
  auto *s = static_cast<PluginSource *>(h);
  qmVideoFrame frame{s->picture, s->width * 4, 0, 0, -1.0, -1.0};
  if (s->plugins->videoDecodePicture(&s->decoder, p, &frame) != 0) return -1;
  // Read with the row length the buffer was given: a longer one claimed would run past it.
  if (PutSourcePicture(s->picture, s->width, s->height, s->width * 4, f, &s->scale)) return -1;
  f->repeat = frame.repeat;
  f->position = int32_t(frame.position);
  f->dts = frame.decodeTime;
  f->pts = frame.presentTime;
  return 0;
}

int32_t DecodePluginAudio(void *h, const qmVideoPacket *p, uint8_t *out, uint32_t capacity, int32_t *usedUp) {
  auto *s = static_cast<PluginSource *>(h);
  qmVideoSamples samples{reinterpret_cast<int16_t *>(out), capacity, 0, 0, 1};
  s->plugins->videoDecodeSound(&s->decoder, p, &samples);
  *usedUp = samples.usedUp;
  // Never more than the buffer holds, whatever the plug-in says.
  return int32_t(samples.size > capacity ? capacity : samples.size);
}

int SeekPlugin(void *h, int64_t position, uint32_t stream) {
  auto *s = static_cast<PluginSource *>(h);
  return s->plugins->videoSeek(&s->decoder, position, stream);
}

void FlushPluginSound(void *h) {
  auto *s = static_cast<PluginSource *>(h);
  s->plugins->videoFlushSound(&s->decoder);
}

void FlushPluginPictures(void *h) {
  auto *s = static_cast<PluginSource *>(h);
  s->plugins->videoFlushPictures(&s->decoder);
}

int32_t PluginFrames(void *h) {
  auto *s = static_cast<PluginSource *>(h);
  return s->plugins->videoFrameCount(&s->decoder);
}

const char *PluginFormat(void *h) {
  auto *s = static_cast<PluginSource *>(h);
  return s->plugins->videoFormatName(&s->decoder);
}

}  // namespace

const qmVideoSourceOps kPluginVideoSource = {"plug-in",         OpenNothing,       ClosePlugin, NextPluginPacket,
                                             FreePluginPacket,  DecodePluginVideo, DecodePluginAudio, SeekPlugin,
                                             FlushPluginSound,  FlushPluginPictures, PluginFrames, PluginFormat};

void *OpenPluginVideoSource(const qmFormatPlugins *plugins, const char *path, qmVideoInfo *info) {
  if (!plugins || !plugins->openVideo) return nullptr;
  qmPluginDecoder decoder{};
  if (!plugins->openVideo(path, info, sizeof *info, &decoder)) return nullptr;
  // Pictures of 32-bit pixels at a size of at least one pixel; planar frames are not taken.
  const uint64_t bytes = uint64_t(info->width > 0 ? info->width : 0) * uint64_t(info->height > 0 ? info->height : 0) * 4;
  auto *s = static_cast<PluginSource *>(MemAlloc(sizeof(PluginSource), 1));
  if (s && info->pixelFrames == 1 && bytes && bytes <= UINT32_MAX / 2)
    s->picture = static_cast<uint8_t *>(MemAlloc(uint32_t(bytes), 1));
  if (!s || !s->picture) {
    MemFree(s);
    plugins->closeVideo(&decoder);
    return nullptr;
  }
  s->plugins = plugins;
  s->decoder = decoder;
  s->width = info->width;
  s->height = info->height;
  return s;
}
