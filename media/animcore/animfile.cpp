#include "media/animcore/animfile.h"

#include <cstring>

#include "media/animcore/gif.h"
#include "media/animcore/iffanim.h"
#include "media/videocore/avireader.h"
#include "platform/file.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/formatplugins.h"

namespace {

uint32_t KindOfHead(const uint8_t *head) {
  if (!std::memcmp(head, "FORM", 4) && !std::memcmp(head + 8, "ANIM", 4)) return ANIMFILE_IFFANIM;
  if (!std::memcmp(head, "GIF87", 5) || !std::memcmp(head, "GIF89", 5)) return ANIMFILE_GIF;
  if (!std::memcmp(head, "RIFF", 4) && !std::memcmp(head + 8, "AVI ", 4)) return ANIMFILE_AVI;
  return 0;
}

// The decoder of a recognised head, or null when its open fails.
void *OpenByKind(uint32_t kind, const char *fileName, int32_t *width, int32_t *height, int32_t *frames) {
  switch (kind) {
  case ANIMFILE_IFFANIM: return IffAnimOpen(fileName, width, height, frames);
  case ANIMFILE_GIF: return GifOpen(fileName, width, height, frames, 0);
  case ANIMFILE_AVI: return AviReaderOpen(fileName, width, height, frames);
  default: return nullptr;
  }
}

qmPluginDecoder PluginDecoderOf(const qmAnimFile *file) { return {file->plugin, file->decoder}; }

}  // namespace

uint32_t ProbeAnimFile(const char *fileName, const qmFormatPlugins *plugins, qmAnimFile **out, int32_t *width,
                       int32_t *height, int32_t *frames, uint32_t *hasAlpha) {
  SetErrorArgument(fileName);
  // Regular files only: a FIFO without a writer would hold the open up for ever.
  qmFileHandle *f = nullptr;
  if (FileOpenRegular(fileName, &f)) {
    SetErrorArgument(fileName);
    return ERR_READFILE;
  }
  uint8_t head[64] = {};
  FileRead(f, head, sizeof head);
  FileClose(f);

  auto *file = static_cast<qmAnimFile *>(MemAlloc(sizeof(qmAnimFile), 1));
  if (!file) return ERR_MEM;
  file->plugins = plugins;
  int32_t w = 0, h = 0, n = 0;
  uint32_t alpha = 0;
  qmPluginDecoder decoder{};
  uint32_t info[ANIMINFO_WORDS] = {};
  if (plugins && plugins->openAnim && plugins->openAnim(fileName, info, &decoder)) {
    file->kind = ANIMFILE_PLUGIN;
    file->decoder = decoder.handle;
    file->plugin = decoder.plugin;
    w = int32_t(info[ANIMINFO_WIDTH]), h = int32_t(info[ANIMINFO_HEIGHT]), n = int32_t(info[ANIMINFO_FRAMES]);
    alpha = info[ANIMINFO_ALPHA] != 0;
  } else if (const uint32_t kind = KindOfHead(head)) {
    file->decoder = OpenByKind(kind, fileName, &w, &h, &n);
    file->kind = kind;
  }
  // The platform decoder slot has nothing to decode on this platform.
  if (!file->decoder || w < 1 || h < 1 || n < 1) {
    if (file->decoder) CloseAnimFile(file);
    else MemFree(file);
    SetErrorArgument(fileName);
    return ERR_OPENANIM2;
  }
  *out = file;
  if (width) *width = w;
  if (height) *height = h;
  if (frames) *frames = n;
  if (hasAlpha) *hasAlpha = alpha;
  return 0;
}

uint32_t *LoadAnimFileFrame(qmAnimFile *file, int32_t index) {
  switch (file->kind) {
  case ANIMFILE_IFFANIM: return IffAnimLoadFrame(static_cast<qmIffAnim *>(file->decoder), index);
  case ANIMFILE_GIF: return GifLoadFrame(static_cast<qmGifReader *>(file->decoder), index);
  case ANIMFILE_AVI: return AviReaderLoadFrame(static_cast<qmAviReader *>(file->decoder), index);
  case ANIMFILE_PLUGIN: {
    const qmPluginDecoder d = PluginDecoderOf(file);
    return file->plugins->loadFrame ? const_cast<uint32_t *>(file->plugins->loadFrame(&d, index)) : nullptr;
  }
  default: return nullptr;
  }
}

void FreeAnimFileFrame(qmAnimFile *file, uint32_t *pixels) {
  if (!pixels) return;
  if (file && file->kind == ANIMFILE_PLUGIN) {
    const qmPluginDecoder d = PluginDecoderOf(file);
    if (file->plugins->freeFrame) file->plugins->freeFrame(&d, pixels);
    return;
  }
  MemFree(pixels);
}

uint32_t GetAnimFileFrameDelay(qmAnimFile *file, int32_t index) {
  switch (file->kind) {
  case ANIMFILE_IFFANIM: return IffAnimGetFrameDelay(static_cast<qmIffAnim *>(file->decoder), index);
  case ANIMFILE_GIF: return GifGetFrameDelay(static_cast<qmGifReader *>(file->decoder), index);
  case ANIMFILE_AVI: return AviReaderGetFrameDelay(static_cast<qmAviReader *>(file->decoder));
  case ANIMFILE_PLUGIN: {
    const qmPluginDecoder d = PluginDecoderOf(file);
    const int32_t ms = file->plugins->frameDelay ? file->plugins->frameDelay(&d, index) : 0;
    return ms > 0 ? uint32_t(ms) : 0;
  }
  default: return 0;
  }
}

void CloseAnimFile(qmAnimFile *file) {
  if (!file) return;
  switch (file->kind) {
  case ANIMFILE_IFFANIM: IffAnimClose(static_cast<qmIffAnim *>(file->decoder)); break;
  case ANIMFILE_GIF: GifCloseReader(static_cast<qmGifReader *>(file->decoder)); break;
  case ANIMFILE_AVI: AviReaderClose(static_cast<qmAviReader *>(file->decoder)); break;
  case ANIMFILE_PLUGIN: {
    const qmPluginDecoder d = PluginDecoderOf(file);
    if (file->plugins->closeAnim) file->plugins->closeAnim(&d);
    break;
  }
  default: break;
  }
  MemFree(file);
}

int32_t IsAnimFile(const char *fileName, const qmFormatPlugins *plugins) {
  qmAnimFile *file = nullptr;
  int32_t frames = 0;
  if (ProbeAnimFile(fileName, plugins, &file, nullptr, nullptr, &frames, nullptr)) return 0;
  CloseAnimFile(file);
  return frames > 1;
}
