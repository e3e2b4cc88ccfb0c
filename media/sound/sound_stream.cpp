#include "media/sound/sound_stream.h"

#include <cstdlib>
#include <cstring>

#include "media/sound/custom_stream.h"
#include "platform/audiofile.h"
#include "platform/file.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"

uint32_t FormatBytesPerFrame(int32_t format) {
  static const uint32_t kBytes[6] = {1, 2, 1, 2, 2, 4};
  return format >= 0 && format < 6 ? kBytes[format] : 0;
}

int32_t FormatCodeOf(uint32_t channels, uint32_t bits, uint32_t flags) {
  bool stereo = channels == 2, sig = flags & AUDIOFMT_SIGNED;
  if (bits == 8) return stereo ? (sig ? SMPFMT_STEREO8 : SMPFMT_STEREO8U) : (sig ? SMPFMT_MONO8 : SMPFMT_MONO8U);
  if (bits == 16) return stereo ? SMPFMT_STEREO16 : SMPFMT_MONO16;
  return -1;
}

int32_t FormatToScriptType(int32_t format) {
  switch (format) {
    case SMPFMT_MONO8U: case SMPFMT_MONO8: return SNDTYPE_MONO8;
    case SMPFMT_STEREO8U: case SMPFMT_STEREO8: return SNDTYPE_STEREO8;
    case SMPFMT_MONO16: return SNDTYPE_MONO16;
    default: return SNDTYPE_STEREO16;
  }
}

int32_t ScriptTypeToFormat(int32_t type) {
  switch (type) {
    case SNDTYPE_MONO8: return SMPFMT_MONO8;
    case SNDTYPE_MONO16: return SMPFMT_MONO16;
    case SNDTYPE_STEREO8: return SMPFMT_STEREO8;
    case SNDTYPE_STEREO16: return SMPFMT_STEREO16;
    default: return -1;
  }
}

namespace {

// Kind 5: the plug-in's description of the file.
void TakePluginSound(qmSound *s, const qmFormatPlugins *plugins, const qmPluginDecoder &decoder,
                     const qmPluginSoundInfo &info) {
  s->kind = SNDKIND_PLUGIN;
  s->plugins = plugins;
  s->decoder = decoder;
  s->rate = info.rate;
  s->channels = info.channels;
  s->bits = info.bits;
  s->flags = info.flags & (AUDIOFMT_BIGENDIAN | AUDIOFMT_SIGNED);
  const uint64_t frameBytes = uint64_t(info.channels) * info.bits / 8;
  s->bytesPerFrame = uint32_t(frameBytes > kMaxFrameBytes ? kMaxFrameBytes + 1 : frameBytes);
  s->frames = s->packets = info.frames;
  s->totalBytes = s->frames * s->bytesPerFrame;
  s->framesPerPacket = 1;
  s->bytesPerPacket = s->bytesPerFrame;
  s->seekable = (info.flags & PLUGINSOUND_SEEKABLE) != 0;
}

}  // namespace

uint32_t OpenSoundStream(const char *name, int32_t mode, qmSound **out, const qmFormatPlugins *plugins) {
  *out = nullptr;
  qmFileHandle *f = FileOpen(name, FILE_MODE_READ);
  if (!f) {
    SetErrorArgument(name);
    return ERR_READFILE;
  }
  uint8_t head[64] = {};
  FileRead(f, head, sizeof head);
  FileClose(f);
  auto *s = static_cast<qmSound *>(std::calloc(1, sizeof(qmSound)));
  if (!s) return ERR_MEM;
  s->seekable = 1;
  s->mode = mode;
  int accepted = 0;
  qmPluginSoundInfo pluginInfo{};
  qmPluginDecoder decoder{};
  if (plugins && plugins->openSound(name, &pluginInfo, &decoder)) {
    TakePluginSound(s, plugins, decoder, pluginInfo);
    accepted = 1;
  } else if (std::memcmp(head, "FORM", 4) == 0 && std::memcmp(head + 8, "8SVX", 4) == 0)
    accepted = OpenIffSound(name, s, 0);
  else if (std::memcmp(head, "FORM", 4) == 0 && std::memcmp(head + 8, "16SV", 4) == 0)
    accepted = OpenIffSound(name, s, 1);
  else if (std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WAVE", 4) == 0)
    accepted = OpenWaveSound(name, s);
  if (!accepted) {
    qmSoundFileInfo info{};
    if (uint32_t code = OpenSoundFile(name, &info, &s->system)) {
      std::free(s);
      if (code == ERR_READFILE) SetErrorArgument(name);
      return code;
    }
    s->kind = SNDKIND_SYSTEM;
    s->rate = info.rate;
    s->channels = info.channels;
    s->bits = info.bits;
    s->flags = AUDIOFMT_SIGNED;
    s->bytesPerFrame = info.channels * info.bits / 8;
    s->frames = s->packets = info.frames;
    s->totalBytes = s->frames * s->bytesPerFrame;
    s->framesPerPacket = 1;
    s->bytesPerPacket = s->bytesPerFrame;
    s->bitRate = info.bitRate;
    s->seekable = info.seekable;
  }
  s->format = FormatCodeOf(s->channels, s->bits, s->flags);
  // A rate no recording uses would size the stream's buffers and resampling steps by gigabytes.
  // A plug-in's frame beyond any layout would overflow the sizes computed from it.
  if (s->rate > kMaxSoundRate || s->bytesPerFrame > kMaxFrameBytes) {
    CloseSoundStream(s);
    SetErrorArgument(name);
    return ERR_OPENSOUND2;
  }
  *out = s;
  return 0;
}

void CloseSoundStream(qmSound *s) {
  if (!s) return;
  if (s->file) FileClose(s->file);
  if (s->system) CloseSoundFile(s->system);
  if (s->custom) FreeCustomStream(s->custom);
  if (s->kind == SNDKIND_PLUGIN) s->plugins->closeSound(&s->decoder);
  std::free(s->scratch);
  std::free(s);
}

uint64_t ReadSoundFrames(qmSound *s, void *buffer, uint64_t frames, int *end) {
  int e = 0;
  uint64_t n = 0;
  switch (s->kind) {
    case SNDKIND_8SVX:
    case SNDKIND_16SV: n = ReadIffSound(s, buffer, frames, &e); break;
    case SNDKIND_WAVE: n = ReadWaveSound(s, buffer, frames, &e); break;
    case SNDKIND_SYSTEM:
      n = ReadSoundFile(s->system, buffer, frames, &e);
      s->position += n;
      s->lastFrames = uint32_t(n);
      s->lastBytes = uint32_t(n * s->bytesPerFrame);
      break;
    case SNDKIND_CUSTOM:
      n = ReadCustomStream(s->custom, buffer, frames, &e);
      s->position += n;
      break;
    case SNDKIND_PLUGIN: {
      qmPluginSoundRead read = {buffer, uint32_t(frames > UINT32_MAX ? UINT32_MAX : frames), 0};
      n = s->bytesPerFrame ? s->plugins->readSound(&s->decoder, &read) : 0;
      e = read.end || n == 0;
      s->position += n;
      s->lastFrames = uint32_t(n);
      s->lastBytes = uint32_t(n * s->bytesPerFrame);
      break;
    }
    default: e = 1; break;
  }
  if (end) *end = e;
  return n;
}

void SeekSoundStream(qmSound *s, uint64_t frame) {
  if (s->kind == SNDKIND_SYSTEM) {
    SeekSoundFile(s->system, frame);
    if (frame < s->frames) s->position = frame;
  } else if (s->kind == SNDKIND_PLUGIN) {
    if (frame < s->frames) {
      s->plugins->seekSound(&s->decoder, frame);
      s->position = frame;
    }
  } else if (s->kind != SNDKIND_CUSTOM && frame < s->frames) {
    s->position = frame;
  }
  s->positionUs = s->rate ? int64_t(frame * 1000000 / s->rate) : 0;
  s->startUs = 0;
}

void SeekSoundStreamMs(qmSound *s, int64_t ms) { SeekSoundStream(s, uint64_t(ms) * s->rate / 1000); }

const char *SoundStreamName(const qmSound *s) {
  switch (s->kind) {
    case SNDKIND_8SVX: return "IFF 8SVX";
    case SNDKIND_16SV: return "IFF 16SV";
    case SNDKIND_WAVE: return "RIFF WAVE";
    case SNDKIND_SYSTEM: return GetSoundFileFormatName(s->system);
    case SNDKIND_CUSTOM: return "Custom stream";
    case SNDKIND_PLUGIN: return s->plugins->soundName(&s->decoder);
    default: return "Unknown";
  }
}

uint64_t SoundDurationMs(const qmSound *s) { return s->rate ? s->frames * 1000 / s->rate : 0; }

uint32_t LoadSoundWhole(const char *name, qmSampleData **out, const qmFormatPlugins *plugins) {
  *out = nullptr;
  qmSound *s;
  if (uint32_t code = OpenSoundStream(name, 0, &s, plugins)) return code;
  uint32_t code = 0;
  if (s->frames == 0 || s->bytesPerFrame == 0 || s->bits == 0) code = ERR_STREAMASSAMPLE;
  else if (s->format < 0) code = ERR_8OR16BITONLY;
  else if (s->frames > UINT32_MAX / s->bytesPerFrame) code = ERR_MEM;
  uint8_t *data = nullptr;
  uint64_t got = 0;
  if (!code) {
    // The system reader's length is the container's estimate: read on until the real end.
    uint64_t cap = s->frames + (s->kind == SNDKIND_SYSTEM ? s->rate : 0);
    data = static_cast<uint8_t *>(std::malloc(cap * s->bytesPerFrame));
    if (!data) code = ERR_MEM;
    while (!code && got < cap) {
      uint64_t n = ReadSoundFrames(s, data + got * s->bytesPerFrame, cap - got, nullptr);
      if (n == 0) break;
      got += n;
    }
    if (!code && got == 0) code = ERR_STREAMASSAMPLE;
  }
  if (!code) {
    auto *d = static_cast<qmSampleData *>(std::calloc(1, sizeof(qmSampleData)));
    if (!d) {
      code = ERR_MEM;
    } else {
      d->data = data;
      data = nullptr;
      d->bits = s->bits;
      d->bytesPerFrame = s->bytesPerFrame;
      d->channels = s->channels;
      d->flags = s->flags;
      d->frames = uint32_t(got);
      d->format = s->format;
      d->rate = s->rate;
      *out = d;
    }
  }
  std::free(data);
  CloseSoundStream(s);
  return code;
}

int ProbeSampleFile(const char *name, const qmFormatPlugins *plugins) {
  qmSound *s;
  if (OpenSoundStream(name, 0, &s, plugins)) return 0;
  int ok = s->totalBytes != 0 && s->bytesPerFrame != 0 && s->bits != 0;
  CloseSoundStream(s);
  return ok;
}

uint32_t CreateMemorySound(uint8_t *data, uint32_t frames, uint32_t rate, int32_t format, qmSampleData **out) {
  auto *d = static_cast<qmSampleData *>(std::calloc(1, sizeof(qmSampleData)));
  if (!d) return ERR_MEM;
  d->data = data;
  ReplaceSoundData(d, format, data, frames, rate);
  *out = d;
  return 0;
}

void ReplaceSoundData(qmSampleData *d, int32_t format, uint8_t *data, uint32_t frames, uint32_t rate) {
  if (d->data != data) std::free(d->data);
  d->data = data;
  d->format = format;
  d->bits = format == SMPFMT_MONO16 || format == SMPFMT_STEREO16 ? 16 : 8;
  d->channels = format == SMPFMT_STEREO8 || format == SMPFMT_STEREO8U || format == SMPFMT_STEREO16 ? 2 : 1;
  d->bytesPerFrame = FormatBytesPerFrame(format);
  if (format >= SMPFMT_MONO8) d->flags = (d->flags & AUDIOFMT_BIGENDIAN) | AUDIOFMT_SIGNED;
  d->frames = frames;
  d->rate = rate;
}

void FreeSampleData(qmSampleData *d) {
  if (!d) return;
  std::free(d->data);
  std::free(d);
}
