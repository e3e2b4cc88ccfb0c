#include "platform/audio.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "platform/audio_kernels.h"
#include "platform/cpu.h"
#include "platform/mutex.h"
#include "runtime/errcodes.h"

namespace {

// Input frames fetched at a time: small, so that the sources' positions run little ahead.
constexpr uint32_t kConverterFrames = 256;
// The render works in blocks of this many frames; a longer pull is cut into blocks.
constexpr uint32_t kRenderBlock = 1024;

struct qmMixerInput {
  qmAudioConverter *converter;  // changed under the audio mutex
  std::atomic<float> gainLeft{1.0f}, gainRight{1.0f};
};

qmMutex *gAudioMutex = nullptr;
qmMixerInput gInputs[kMixerInputs];
const qmAudioSink *gSink = nullptr;
const qmAudioSink *gOpenSink = nullptr;
std::atomic<uint32_t> gRate{kOutputRate};
std::atomic<const qmAudioRenderHooks *> gHooks{nullptr};
std::atomic<void *> gHookArg{nullptr};
float gBlock[kRenderBlock * 2];  // used by the audio thread alone

uint32_t NullOpen(uint32_t *rate) {
  *rate = kOutputRate;
  return 0;
}
void NullClose() {}

inline float Sample8(uint8_t b, bool isSigned) {
  return isSigned ? float(int8_t(b)) * (1.0f / 128) : float(int(b) - 128) * (1.0f / 128);
}
inline float Sample16(const uint8_t *p, bool bigEndian) {
  int16_t v = bigEndian ? int16_t(uint16_t(p[0] << 8 | p[1])) : int16_t(uint16_t(p[1] << 8 | p[0]));
  return float(v) * (1.0f / 32768);
}

// Reads the frame at p into lr.
inline void DecodeFrame(const qmAudioFormat &f, const uint8_t *p, float lr[2]) {
  bool sig = f.flags & AUDIOFMT_SIGNED, be = f.flags & AUDIOFMT_BIGENDIAN;
  if (f.bits == 8) {
    lr[0] = Sample8(p[0], sig);
    lr[1] = f.channels == 2 ? Sample8(p[1], sig) : lr[0];
  } else {
    lr[0] = Sample16(p, be);
    lr[1] = f.channels == 2 ? Sample16(p + 2, be) : lr[0];
  }
}

// Decodes the n fetched frames into float pairs, one loop per layout.
template <uint32_t kBits, uint32_t kChannels>
void DecodeRunAs(const qmAudioFormat &f, const uint8_t *p, float *lr, uint32_t n) {
  bool sig = f.flags & AUDIOFMT_SIGNED, be = f.flags & AUDIOFMT_BIGENDIAN;
  for (uint32_t i = 0; i < n; i++, p += kBits / 8 * kChannels, lr += 2) {
    if (kBits == 8) {
      lr[0] = Sample8(p[0], sig);
      lr[1] = kChannels == 2 ? Sample8(p[1], sig) : lr[0];
    } else {
      lr[0] = Sample16(p, be);
      lr[1] = kChannels == 2 ? Sample16(p + 2, be) : lr[0];
    }
  }
}

void DecodeRun(const qmAudioFormat &f, const uint8_t *p, float *lr, uint32_t n) {
  if (f.bits == 8) {
    if (f.channels == 1) DecodeRunAs<8, 1>(f, p, lr, n);
    else DecodeRunAs<8, 2>(f, p, lr, n);
  } else {
    if (f.channels == 1) DecodeRunAs<16, 1>(f, p, lr, n);
    else DecodeRunAs<16, 2>(f, p, lr, n);
  }
}

// The next input frame into lr: false once the input has ended (lr is silence then). kBatch
// decodes each fetch whole and reads the decoded pairs; otherwise each frame is decoded here.
template <bool kBatch>
bool FetchFrame(qmAudioConverter *c, float lr[2]) {
  if (!c->inputEnded && c->used == c->have) {
    c->have = c->proc(c->arg, c->buffer, c->bufferFrames);
    c->used = 0;
    if (c->have == 0) c->inputEnded = 1;
    else if (kBatch) DecodeRun(c->in, c->buffer, c->decoded, c->have);
  }
  if (c->inputEnded) {
    lr[0] = lr[1] = 0;
    return false;
  }
  if (kBatch) {
    lr[0] = c->decoded[size_t(c->used) * 2];
    lr[1] = c->decoded[size_t(c->used) * 2 + 1];
  } else {
    DecodeFrame(c->in, c->buffer + size_t(c->used) * c->in.bytesPerFrame, lr);
  }
  c->used++;
  return true;
}

// The render of one converter. kBatch: frames are decoded a fetch at a time, and an advance
// that stays within the fetched frames jumps there at once instead of frame by frame; kAvx2:
// runs within the fetched frames go four output frames at a time (a batch converter's cur and
// next are the decoded pairs before used once used is 2 or more).
template <bool kBatch, bool kAvx2>
uint32_t Convert(qmAudioConverter *c, float *out, uint32_t frames, float gainLeft, float gainRight) {
  if (c->ended) return 0;
  if (!c->primed) {
    c->primed = 1;
    if (!FetchFrame<kBatch>(c, c->cur)) {
      c->ended = 1;
      return 0;
    }
    FetchFrame<kBatch>(c, c->next);
  }
  float cur0 = c->cur[0], cur1 = c->cur[1], next0 = c->next[0], next1 = c->next[1];
  uint64_t phase = c->phase;
  const uint64_t step = c->step;
  const float *dec = c->decoded;
  uint32_t made = 0;
  while (made < frames) {
    const uint32_t n = QM_AVX2_HEAD(kAvx2 && frames - made >= 4 && c->used >= 2 && !c->inputEnded,
                                    ResampleRunAvx2(dec, c->have, &c->used, &phase, step, out, frames - made, gainLeft, gainRight));
    if (n > 0) {
      made += n;
      out += 2 * size_t(n);
      cur0 = dec[size_t(c->used) * 2 - 4], cur1 = dec[size_t(c->used) * 2 - 3];
      next0 = dec[size_t(c->used) * 2 - 2], next1 = dec[size_t(c->used) * 2 - 1];
      if (made == frames) break;
    }
    float frac = float(uint32_t(phase)) * (1.0f / 4294967296.0f);
    out[0] += (cur0 + (next0 - cur0) * frac) * gainLeft;
    out[1] += (cur1 + (next1 - cur1) * frac) * gainRight;
    out += 2;
    made++;
    phase += step;
    if (phase < (uint64_t(1) << 32)) continue;
    uint64_t k = phase >> 32;
    if (kBatch && !c->inputEnded && k <= c->have - c->used) {
      // cur and next become the k-1th and kth frames from used, all already decoded
      phase &= 0xFFFFFFFFu;
      uint32_t at = c->used + uint32_t(k);
      if (k >= 2) cur0 = dec[size_t(at) * 2 - 4], cur1 = dec[size_t(at) * 2 - 3];
      else cur0 = next0, cur1 = next1;
      next0 = dec[size_t(at) * 2 - 2], next1 = dec[size_t(at) * 2 - 1];
      c->used = at;
      continue;
    }
    while (phase >= (uint64_t(1) << 32)) {
      phase -= uint64_t(1) << 32;
      if (c->inputEnded && c->used == c->have) {
        // cur was the last frame (next is the silence behind it)
        c->ended = 1;
        c->phase = phase;
        c->cur[0] = cur0, c->cur[1] = cur1, c->next[0] = next0, c->next[1] = next1;
        return made;
      }
      cur0 = next0, cur1 = next1;
      FetchFrame<kBatch>(c, c->next);
      next0 = c->next[0], next1 = c->next[1];
      dec = c->decoded;
    }
  }
  c->phase = phase;
  c->cur[0] = cur0, c->cur[1] = cur1, c->next[0] = next0, c->next[1] = next1;
  return made;
}

}  // namespace

const qmAudioSink kNullAudioSink = {"null", NullOpen, NullClose};

void FillStreamDescription(qmAudioFormat *out, uint32_t rate, uint32_t bits, uint32_t channels, uint32_t flags) {
  out->rate = rate;
  out->bits = bits;
  out->channels = channels;
  out->bytesPerFrame = channels * bits / 8;
  out->flags = flags;
}

uint32_t NewAudioConverter(const qmAudioFormat *in, uint32_t outRate, qmAudioInputProc proc, void *arg,
                           qmAudioConverter **out) {
  *out = nullptr;
  if ((in->bits != 8 && in->bits != 16) || (in->channels != 1 && in->channels != 2) || in->rate < 1 ||
      outRate < 1 || in->bytesPerFrame != in->channels * in->bits / 8)
    return ERR_AUDIOCONVERTER;
  auto *c = static_cast<qmAudioConverter *>(std::calloc(1, sizeof(qmAudioConverter)));
  if (!c) return ERR_MEM;
  c->buffer = static_cast<uint8_t *>(std::malloc(size_t(kConverterFrames) * in->bytesPerFrame));
  c->decoded = static_cast<float *>(std::malloc(sizeof(float) * 2 * kConverterFrames));
  if (!c->buffer || !c->decoded) {
    std::free(c->buffer);
    std::free(c->decoded);
    std::free(c);
    return ERR_MEM;
  }
  c->in = *in;
  c->outRate = outRate;
  c->step = (uint64_t(in->rate) << 32) / outRate;
  c->proc = proc;
  c->arg = arg;
  c->bufferFrames = kConverterFrames;
  *out = c;
  return 0;
}

void FreeAudioConverter(qmAudioConverter *c) {
  if (!c) return;
  std::free(c->buffer);
  std::free(c->decoded);
  std::free(c);
}

uint32_t ConvertAudioBatched(qmAudioConverter *c, float *out, uint32_t frames, float gainLeft, float gainRight) {
  return Convert<true, false>(c, out, frames, gainLeft, gainRight);
}

uint32_t ConvertAudio(qmAudioConverter *c, float *out, uint32_t frames, float gainLeft, float gainRight) {
  QM_AVX2_RETURN(Convert<true, true>(c, out, frames, gainLeft, gainRight));
  return Convert<true, false>(c, out, frames, gainLeft, gainRight);
}

uint32_t ConvertAudioStepwise(qmAudioConverter *c, float *out, uint32_t frames, float gainLeft, float gainRight) {
  return Convert<false, false>(c, out, frames, gainLeft, gainRight);
}

void SetAudioSink(const qmAudioSink *sink) { gSink = sink; }

void SetAudioRenderHooks(const qmAudioRenderHooks *hooks, void *arg) {
  // Under the audio mutex, so that a render sees the steps and their record together.
  if (gAudioMutex) MutexLock(gAudioMutex);
  gHooks.store(hooks);
  gHookArg.store(arg);
  if (gAudioMutex) MutexUnlock(gAudioMutex);
}

uint32_t InitAudio() {
  if (!gAudioMutex) {
    gAudioMutex = MutexCreate();
    if (!gAudioMutex) return ERR_SEMAPHORE;
  }
  for (qmMixerInput &in : gInputs) {
    in.converter = nullptr;
    in.gainLeft = in.gainRight = 1.0f;
  }
  return 0;
}

uint32_t OpenAudioOutput() {
  if (gOpenSink) return 0;
  if (!gSink || !gAudioMutex) return ERR_OPENAUDIO;
  uint32_t rate = kOutputRate;
  if (gSink->open(&rate) != 0 || rate == 0) return ERR_OPENAUDIO;
  gRate = rate;
  gOpenSink = gSink;
  return 0;
}

bool AudioOutputOpen() { return gOpenSink != nullptr; }
uint32_t AudioOutputRate() { return gRate; }

void StopAudioOutput() {
  if (!gOpenSink) return;
  gOpenSink->close();  // no callback runs after the sink closed
  gOpenSink = nullptr;
}

void CloseAudioOutput() {
  StopAudioOutput();
  for (qmMixerInput &in : gInputs) in.converter = nullptr;
  SetAudioRenderHooks(nullptr, nullptr);
  if (gAudioMutex) MutexFree(gAudioMutex);
  gAudioMutex = nullptr;
}

qmMutex *AudioMutex() { return gAudioMutex; }

void AttachMixerInput(int index, qmAudioConverter *converter) {
  if (index >= 0 && index < kMixerInputs) gInputs[index].converter = converter;
}

qmAudioConverter *MixerInputConverter(int index) {
  return index >= 0 && index < kMixerInputs ? gInputs[index].converter : nullptr;
}

float VolumeGain(int32_t volume) {
  if (volume <= 0) return 0.0f;
  if (volume >= 64) return 1.0f;
  return float(std::cbrt(double(volume) / 64.0));
}

void PanFactors(int32_t pan, float *left, float *right) {
  if (pan < 0) pan = 0;
  if (pan > 255) pan = 255;
  // 128 is the exact centre (0.5), 0 and 255 the sides.
  double p = pan == 128 ? 0.5 : double(pan) / 255.0;
  *left = float(p <= 0.5 ? 1.0 : 2.0 * (1.0 - p));
  *right = float(p >= 0.5 ? 1.0 : 2.0 * p);
}

void SetChannelVolumePan(int index, int32_t volume, int32_t pan) {
  if (index < 0 || index >= kMixerInputs) return;
  float g = VolumeGain(volume), l, r;
  PanFactors(pan, &l, &r);
  gInputs[index].gainLeft = g * l;
  gInputs[index].gainRight = g * r;
}

void SetChannelVolume(int index, int32_t volume) { SetChannelVolumePan(index, volume, 128); }

void RenderAudioOutput(float *out, uint32_t frames) {
  while (frames > 0) {
    uint32_t n = frames < kRenderBlock ? frames : kRenderBlock;
    std::memset(gBlock, 0, sizeof(float) * 2 * n);
    if (gAudioMutex && MutexTryLock(gAudioMutex)) {
      const qmAudioRenderHooks *hooks = gHooks.load();
      void *hookArg = gHookArg.load();
      if (hooks && hooks->preRender) hooks->preRender(hookArg, n);
      for (qmMixerInput &in : gInputs)
        if (in.converter) ConvertAudio(in.converter, gBlock, n, in.gainLeft, in.gainRight);
      if (hooks && hooks->postRender) hooks->postRender(hookArg, n);
      MutexUnlock(gAudioMutex);
    }
    for (uint32_t i = 0; i < 2 * n; i++) {
      float v = gBlock[i];
      out[i] = v > 1.0f ? 1.0f : v < -1.0f ? -1.0f : v;
    }
    out += 2 * n;
    frames -= n;
  }
}
