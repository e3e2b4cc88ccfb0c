// Test plug-in of a video decoder: it takes files beginning "TVID", then width and height as
// little-endian 16-bit numbers, then one R, G, B triple per picture, each picture filled with
// that colour, 10 pictures a second and no sound.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "media/videocore/videosource.h"
#include "player/plugin_api.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct Video {
  int32_t width, height;
  std::string colours;  // three bytes a picture
  int32_t next;         // the picture the next packet holds
};

int32_t Pictures(const Video *v) { return int32_t(v->colours.size() / 3); }

}  // namespace

EXPORT int InitPlugin(qmPluginInfo *info, const qmHostTable *, const char *) {
  info->features = PLUGINFEAT_VIDEO;
  info->version = 1;
  info->name = "tvid";
  return 1;
}
EXPORT void ClosePlugin(void) {}

EXPORT void *OpenVideo(const char *file, void *record) {
  FILE *f = std::fopen(file, "rb");
  if (!f) return nullptr;
  uint8_t head[8] = {};
  const bool taken = std::fread(head, 1, sizeof head, f) == sizeof head && std::memcmp(head, "TVID", 4) == 0;
  auto *v = taken ? new Video{head[4] | head[5] << 8, head[6] | head[7] << 8, "", 0} : nullptr;
  char b[256];
  while (v)
    if (size_t n = std::fread(b, 1, sizeof b, f)) v->colours.append(b, n);
    else break;
  std::fclose(f);
  if (!v) return nullptr;
  auto *info = static_cast<qmVideoInfo *>(record);
  info->width = v->width;
  info->height = v->height;
  info->duration = uint32_t(Pictures(v)) * 100;
  info->pixelFrames = 1;
  info->flags = VIDEOINFO_SEEKABLE;
  return v;
}
EXPORT void CloseVideo(void *h) { delete static_cast<Video *>(h); }
EXPORT int NextPacket(void *h, void *out) {
  auto *v = static_cast<Video *>(h);
  if (v->next >= Pictures(v)) return -1;
  auto *p = static_cast<qmVideoPacket *>(out);
  auto *colour = static_cast<uint8_t *>(std::malloc(3));
  std::memcpy(colour, v->colours.data() + 3 * v->next, 3);
  *p = {colour, 0, 3, v->next * 0.1};
  v->next++;
  return 0;
}
EXPORT void FreePacket(void *, void *packet) { std::free(static_cast<qmVideoPacket *>(packet)->data); }
EXPORT int DecodeVideoFrame(void *h, const void *packet, void *out) {
  auto *v = static_cast<Video *>(h);
  const auto *p = static_cast<const qmVideoPacket *>(packet);
  auto *f = static_cast<qmVideoFrame *>(out);
  const auto *rgb = static_cast<const uint8_t *>(p->data);
  for (int32_t i = 0; i < v->width * v->height; i++) {
    uint8_t *px = f->pixels + 4 * i;
    px[0] = 0, px[1] = rgb[0], px[2] = rgb[1], px[3] = rgb[2];
  }
  f->bytesPerRow = v->width * 4;
  f->repeat = 0;
  f->position = uint32_t(p->timeStamp * 10 + 0.5);
  f->decodeTime = p->timeStamp;
  f->presentTime = -1.0;
  return 0;
}
EXPORT void DecodeAudioFrame(void *, const void *, void *samples) {
  auto *s = static_cast<qmVideoSamples *>(samples);
  s->size = 0;
  s->usedUp = 1;
}
EXPORT int SeekVideo(void *h, int64_t ms, uint32_t) {
  auto *v = static_cast<Video *>(h);
  const int64_t at = ms / 100;
  v->next = int32_t(at < 0 ? 0 : at >= Pictures(v) ? (Pictures(v) ? Pictures(v) - 1 : 0) : at);
  return 0;
}
EXPORT void FlushAudio(void *) {}
EXPORT void FlushVideo(void *) {}
EXPORT int32_t GetVideoFrames(void *h) { return Pictures(static_cast<Video *>(h)); }
EXPORT const char *GetVideoFormat(void *) { return "Test video"; }
