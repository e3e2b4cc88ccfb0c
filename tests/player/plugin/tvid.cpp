// Test plug-in of a video decoder: it takes files beginning "TVID" and tells their size (two
// little-endian 16-bit numbers after the magic) as the first two words of the video's record;
// it decodes nothing. Its other entries are there because the feature requires them.
#include <cstdio>
#include <cstring>

#include "player/plugin_api.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {
int gVideo;  // every open video's handle: nothing is kept per video
}

EXPORT int InitPlugin(qmPluginInfo *info, const qmHostTable *, const char *) {
  info->features = PLUGINFEAT_VIDEO;
  info->version = 1;
  info->name = "tvid";
  return 1;
}
EXPORT void ClosePlugin(void) {}

EXPORT void *OpenVideo(const char *file, void *info) {
  FILE *f = std::fopen(file, "rb");
  if (!f) return nullptr;
  uint8_t head[8] = {};
  const bool taken = std::fread(head, 1, sizeof head, f) == sizeof head && std::memcmp(head, "TVID", 4) == 0;
  std::fclose(f);
  if (!taken) return nullptr;
  auto *words = static_cast<uint32_t *>(info);
  words[0] = uint32_t(head[4] | head[5] << 8);
  words[1] = uint32_t(head[6] | head[7] << 8);
  return &gVideo;
}
EXPORT void CloseVideo(void *) {}
EXPORT int NextPacket(void *, void *) { return -1; }
EXPORT void FreePacket(void *, void *) {}
EXPORT int DecodeVideoFrame(void *, void *, void *) { return -1; }
EXPORT int DecodeAudioFrame(void *, void *, void *) { return 0; }
EXPORT int SeekVideo(void *, int64_t, int) { return -1; }
EXPORT void FlushAudio(void *) {}
EXPORT void FlushVideo(void *) {}
EXPORT int32_t GetVideoFrames(void *) { return 0; }
EXPORT const char *GetVideoFormat(void *) { return "Test video"; }
