// The formats of loader and saver plug-ins, offered to the readers and writers: every entry
// walks the loaded plug-ins in load order. A host call that fails inside a plug-in's entry
// becomes that entry's failure once the plug-in has returned.
#include <cstring>

#include "platform/memory.h"
#include "player/pluginmanager.h"
#include "player/plugins.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/formatplugins.h"

namespace {

// Runs one entry call with its own host-call record; the failure's code, or 0.
template <typename Call>
uint32_t CallPlugin(Call call) {
  qmHostCallError outer = SwapHostCallError({});
  call();
  return SwapHostCallError(outer).code;
}

template <typename F>
F Entry(const qmPluginDecoder *d, uint32_t feature, int index) {
  return reinterpret_cast<F>(FeatureEntry(static_cast<const qmPluginSymbols *>(d->plugin), feature, index));
}

// Loaded plug-ins with the feature, in load order.
template <typename Visit>
bool ForEachWith(uint32_t feature, Visit visit) {
  for (qmPlugin *p = GetPluginList(); p; p = p->next)
    if (p->handle && (p->features & feature))
      if (visit(GetPluginSymbols(p->handle))) return true;
  return false;
}

int32_t PitchOf(const qmPluginImageInfo &info) { return info.pixelsPerRow > 0 ? info.pixelsPerRow : info.width; }

// Rows a picture can be made of: some, of a size, no shorter than the picture is wide.
bool UsableRows(const uint32_t *rows, const qmPluginImageInfo &info) {
  return rows && info.width > 0 && info.height > 0 && PitchOf(info) >= info.width;
}

// Copies a plug-in's rows (pixelsPerRow words apart) into a picture without gaps; null without
// memory or usable rows.
uint32_t *CopyRows(const uint32_t *rows, const qmPluginImageInfo &info) {
  const int32_t pitch = PitchOf(info);
  if (!UsableRows(rows, info)) return nullptr;
  auto *pixels = static_cast<uint32_t *>(MemAlloc(size_t(info.width) * size_t(info.height) * 4, 0));
  if (!pixels) return nullptr;
  for (int32_t y = 0; y < info.height; y++)
    std::memcpy(pixels + size_t(y) * info.width, rows + size_t(y) * pitch, size_t(info.width) * 4);
  return pixels;
}

uint32_t LoadPluginImage(const char *name, uint32_t **pixels, qmPluginImageInfo *info, qmPluginDecoder *source) {
  uint32_t result = ERR_LOADPICTURE2;
  ForEachWith(PLUGINFEAT_IMAGE, [&](const qmPluginSymbols *sym) {
    qmPluginImageInfo found{};
    if (!pixels) {
      int taken = 0;
      CallPlugin([&] { taken = GetFeatureEntry<qmIsImageFn>(sym, PLUGINFEAT_IMAGE, 0)(name, &found); });
      if (!taken) return false;
      *info = found;
      result = 0;
      return true;
    }
    void *handle = nullptr;
    uint32_t failed = CallPlugin([&] { handle = GetFeatureEntry<qmLoadImageFn>(sym, PLUGINFEAT_IMAGE, 1)(name, &found); });
    if (!handle) return false;
    const uint32_t *rows = nullptr;
    if (!failed) failed = CallPlugin([&] { rows = GetFeatureEntry<qmGetImageFn>(sym, PLUGINFEAT_IMAGE, 2)(handle, &found); });
    uint32_t *copy = failed ? nullptr : CopyRows(rows, found);
    // A vector picture is kept for renderings at other sizes, when the caller keeps sources.
    if (copy && source && found.kind == 1)
      *source = {sym, handle};
    else
      CallPlugin([&] { GetFeatureEntry<qmFreeImageFn>(sym, PLUGINFEAT_IMAGE, 3)(handle); });
    if (failed) {
      result = failed;
    } else if (!copy) {
      result = UsableRows(rows, found) ? ERR_MEM : ERR_LOADPICTURE2;
    } else {
      *pixels = copy;
      *info = found;
      result = 0;
    }
    return true;
  });
  if (result) SetErrorArgument(name);
  return result;
}

uint32_t TransformPluginImage(const qmPluginDecoder *source, const double values[6], int32_t width, int32_t height,
                              uint32_t **pixels) {
  if (width < 1 || height < 1) return ERR_TFIMAGE;
  int ok = 0;
  double block[6];
  std::memcpy(block, values, sizeof block);
  uint32_t failed = CallPlugin([&] { ok = Entry<qmTransformImageFn>(source, PLUGINFEAT_IMAGE, 4)(source->handle, block, width, height); });
  if (failed) return failed;
  if (!ok) return ERR_TFIMAGE;
  qmPluginImageInfo found{};
  const uint32_t *rows = nullptr;
  if ((failed = CallPlugin([&] { rows = Entry<qmGetImageFn>(source, PLUGINFEAT_IMAGE, 2)(source->handle, &found); })))
    return failed;
  // The rendering must be of the size asked for: the caller's planes are made for it.
  if (!rows || found.width != width || found.height != height) return ERR_TFIMAGE;
  uint32_t *copy = CopyRows(rows, found);
  if (!copy) return ERR_MEM;
  *pixels = copy;
  return 0;
}

void FreePluginImage(const qmPluginDecoder *source) {
  CallPlugin([&] { Entry<qmFreeImageFn>(source, PLUGINFEAT_IMAGE, 3)(source->handle); });
}

// The first plug-in whose saver of this feature registered the format.
const qmPluginSymbols *FindSaver(uint32_t feature, int slot, int32_t format) {
  const qmPluginSymbols *found = nullptr;
  ForEachWith(feature, [&](const qmPluginSymbols *sym) {
    if (int32_t(sym->savers[slot].formatId) != format) return false;
    found = sym;
    return true;
  });
  return found;
}

int32_t SaverFlags(uint32_t feature, int slot, int32_t format) {
  const qmPluginSymbols *sym = FindSaver(feature, slot, format);
  return sym ? int32_t(sym->savers[slot].flags & 0x7FFFFFFF) : -1;
}

int32_t ImageSaverFlags(int32_t format) { return SaverFlags(PLUGINFEAT_IMGSAVER, 0, format); }

uint32_t SaveWithSaver(uint32_t feature, int slot, int32_t format, uint32_t unknown, uint32_t refused,
                       const char *name, const void *request) {
  const qmPluginSymbols *sym = FindSaver(feature, slot, format);
  if (!sym) return unknown;
  int ok = 0;
  uint32_t failed = CallPlugin([&] {
    if (feature == PLUGINFEAT_IMGSAVER)
      ok = GetFeatureEntry<qmSaveImageFn>(sym, feature, 1)(name, static_cast<const qmImageSaveRequest *>(request));
    else
      ok = GetFeatureEntry<qmSaveSampleFn>(sym, feature, 1)(name, static_cast<const qmSampleSaveRequest *>(request));
  });
  if (failed) return failed;
  return ok ? 0 : refused;
}

uint32_t SaveImage(int32_t format, const char *name, const qmImageSaveRequest *request) {
  return SaveWithSaver(PLUGINFEAT_IMGSAVER, 0, format, ERR_UNKNOWNIMGOUT, ERR_SAVEIMAGE, name, request);
}

uint32_t SaveSample(int32_t format, const char *name, const qmSampleSaveRequest *request) {
  return SaveWithSaver(PLUGINFEAT_SMPSAVER, 2, format, ERR_UNKNOWNSMPOUT, ERR_SAVESAMPLE, name, request);
}

// The first plug-in of the feature whose open entry (index 0) answers a handle.
template <typename Open>
int OpenDecoder(uint32_t feature, qmPluginDecoder *decoder, Open open) {
  return ForEachWith(feature, [&](const qmPluginSymbols *sym) {
    void *handle = nullptr;
    CallPlugin([&] { handle = open(sym); });
    if (!handle) return false;
    *decoder = {sym, handle};
    return true;
  });
}

int OpenSound(const char *name, qmPluginSoundInfo *info, qmPluginDecoder *decoder) {
  return OpenDecoder(PLUGINFEAT_SOUND, decoder, [&](const qmPluginSymbols *sym) {
    *info = {};
    return GetFeatureEntry<qmOpenStreamFn>(sym, PLUGINFEAT_SOUND, 0)(name, info);
  });
}

void CloseSound(const qmPluginDecoder *d) {
  CallPlugin([&] { Entry<qmCloseStreamFn>(d, PLUGINFEAT_SOUND, 1)(d->handle); });
}

void SeekSound(const qmPluginDecoder *d, uint64_t frame) {
  CallPlugin([&] { Entry<qmSeekStreamFn>(d, PLUGINFEAT_SOUND, 2)(d->handle, frame); });
}

uint32_t ReadSound(const qmPluginDecoder *d, qmPluginSoundRead *read) {
  uint32_t frames = 0;
  if (CallPlugin([&] { frames = Entry<qmStreamSamplesFn>(d, PLUGINFEAT_SOUND, 3)(d->handle, read); })) {
    read->end = 1;
    return 0;
  }
  // A decoder never delivers more than was asked for.
  return frames > read->frames ? read->frames : frames;
}

const char *SoundName(const qmPluginDecoder *d) {
  const char *name = nullptr;
  CallPlugin([&] { name = Entry<qmGetFormatNameFn>(d, PLUGINFEAT_SOUND, 4)(d->handle); });
  return name ? name : "";
}

int OpenAnim(const char *name, uint32_t info[ANIMINFO_WORDS], qmPluginDecoder *decoder) {
  return OpenDecoder(PLUGINFEAT_ANIM, decoder, [&](const qmPluginSymbols *sym) {
    std::memset(info, 0, ANIMINFO_WORDS * sizeof info[0]);
    return GetFeatureEntry<qmOpenAnimFn>(sym, PLUGINFEAT_ANIM, 0)(name, info);
  });
}

const uint32_t *LoadFrame(const qmPluginDecoder *d, int32_t index) {
  const uint32_t *pixels = nullptr;
  uint64_t scratch[8] = {};
  CallPlugin([&] { pixels = Entry<qmLoadFrameFn>(d, PLUGINFEAT_ANIM, 1)(d->handle, index, scratch); });
  return pixels;
}

void FreeFrame(const qmPluginDecoder *d, const uint32_t *pixels) {
  if (pixels) CallPlugin([&] { Entry<qmFreeFrameFn>(d, PLUGINFEAT_ANIM, 2)(d->handle, pixels); });
}

int32_t FrameDelay(const qmPluginDecoder *d, int32_t index) {
  int32_t ms = 0;
  CallPlugin([&] { ms = Entry<qmGetFrameDelayFn>(d, PLUGINFEAT_ANIM, 3)(d->handle, index); });
  return ms < 0 ? 0 : ms;
}

void CloseAnim(const qmPluginDecoder *d) {
  CallPlugin([&] { Entry<qmCloseAnimFn>(d, PLUGINFEAT_ANIM, 4)(d->handle); });
}

int OpenVideo(const char *name, void *info, uint32_t infoSize, qmPluginDecoder *decoder) {
  return OpenDecoder(PLUGINFEAT_VIDEO, decoder, [&](const qmPluginSymbols *sym) {
    std::memset(info, 0, infoSize);
    return GetFeatureEntry<qmOpenVideoFn>(sym, PLUGINFEAT_VIDEO, 0)(name, info);
  });
}

void CloseVideo(const qmPluginDecoder *d) {
  CallPlugin([&] { Entry<qmCloseVideoFn>(d, PLUGINFEAT_VIDEO, 1)(d->handle); });
}

int VideoNextPacket(const qmPluginDecoder *d, void *packet) {
  int r = -1;
  const uint32_t failed = CallPlugin([&] { r = Entry<qmNextVideoPacketFn>(d, PLUGINFEAT_VIDEO, 2)(d->handle, packet); });
  return failed ? -1 : r;
}

void VideoFreePacket(const qmPluginDecoder *d, void *packet) {
  CallPlugin([&] { Entry<qmFreeVideoPacketFn>(d, PLUGINFEAT_VIDEO, 3)(d->handle, packet); });
}

int VideoDecodePicture(const qmPluginDecoder *d, const void *packet, void *frame) {
  int r = -1;
  const uint32_t failed =
      CallPlugin([&] { r = Entry<qmDecodeVideoFrameFn>(d, PLUGINFEAT_VIDEO, 4)(d->handle, packet, frame); });
  return failed ? -1 : r;
}

void VideoDecodeSound(const qmPluginDecoder *d, const void *packet, void *samples) {
  CallPlugin([&] { Entry<qmDecodeAudioFrameFn>(d, PLUGINFEAT_VIDEO, 5)(d->handle, packet, samples); });
}

int VideoSeek(const qmPluginDecoder *d, int64_t position, uint32_t seekStream) {
  int r = -1;
  const uint32_t failed =
      CallPlugin([&] { r = Entry<qmSeekVideoFn>(d, PLUGINFEAT_VIDEO, 6)(d->handle, position, seekStream); });
  return failed ? -1 : r;
}

void VideoFlushSound(const qmPluginDecoder *d) {
  CallPlugin([&] { Entry<qmFlushVideoFn>(d, PLUGINFEAT_VIDEO, 7)(d->handle); });
}

void VideoFlushPictures(const qmPluginDecoder *d) {
  CallPlugin([&] { Entry<qmFlushVideoFn>(d, PLUGINFEAT_VIDEO, 8)(d->handle); });
}

int32_t VideoFrameCount(const qmPluginDecoder *d) {
  int32_t n = 0;
  CallPlugin([&] { n = Entry<qmGetVideoFramesFn>(d, PLUGINFEAT_VIDEO, 9)(d->handle); });
  return n < 0 ? 0 : n;
}

const char *VideoFormatName(const qmPluginDecoder *d) {
  const char *name = nullptr;
  CallPlugin([&] { name = Entry<qmGetFormatNameFn>(d, PLUGINFEAT_VIDEO, 10)(d->handle); });
  return name ? name : "";
}

int32_t AnimSaverFlags(int32_t format) { return SaverFlags(PLUGINFEAT_ANMSAVER, 1, format); }

void FinishAnimSave(const qmPluginDecoder *d) {
  CallPlugin([&] { Entry<qmFinishAnimStreamFn>(d, PLUGINFEAT_ANMSAVER, 3)(d->handle); });
}

uint32_t BeginAnimSave(int32_t format, const char *name, int32_t width, int32_t height, uint32_t flags,
                       int32_t quality, int32_t fps, qmPluginDecoder *stream) {
  const qmPluginSymbols *sym = FindSaver(PLUGINFEAT_ANMSAVER, 1, format);
  if (!sym) return ERR_UNKNOWNANMOUT;
  void *handle = nullptr;
  const uint32_t failed = CallPlugin([&] {
    handle = GetFeatureEntry<qmBeginAnimStreamFn>(sym, PLUGINFEAT_ANMSAVER, 1)(name, width, height, flags, quality, fps);
  });
  if (!handle) return failed ? failed : uint32_t(ERR_SAVEANIM);
  const qmPluginDecoder begun{sym, handle};
  // A stream begun while a host call failed is finished here: the caller never sees it.
  if (failed) {
    FinishAnimSave(&begun);
    return failed;
  }
  *stream = begun;
  return 0;
}

uint32_t WriteAnimSaveFrame(const qmPluginDecoder *d, const qmAnimSaveFrame *frame) {
  int ok = 0;
  const uint32_t failed = CallPlugin([&] { ok = Entry<qmWriteAnimFrameFn>(d, PLUGINFEAT_ANMSAVER, 2)(d->handle, frame); });
  if (failed) return failed;
  return ok ? 0 : uint32_t(ERR_SAVEANIM);
}

const qmFormatPlugins kFormatPlugins = {
    LoadPluginImage, TransformPluginImage, FreePluginImage, ImageSaverFlags, SaveImage, SaveSample, OpenSound,
    ReadSound,       SeekSound,            SoundName,       CloseSound,      OpenAnim,  LoadFrame,  FreeFrame,
    FrameDelay,      CloseAnim,            OpenVideo,       CloseVideo,      AnimSaverFlags, BeginAnimSave,
    WriteAnimSaveFrame, FinishAnimSave, VideoNextPacket, VideoFreePacket, VideoDecodePicture, VideoDecodeSound,
    VideoSeek, VideoFlushSound, VideoFlushPictures, VideoFrameCount, VideoFormatName};

}  // namespace

const qmFormatPlugins *GetFormatPlugins() { return &kFormatPlugins; }
