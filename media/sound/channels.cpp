#include "media/sound/channels.h"

#include <cstdlib>
#include <cstring>

#include "media/sound/module.h"
#include "media/sound/sound_stream.h"
#include "platform/mutex.h"
#include "platform/signal.h"
#include "platform/thread.h"
#include "runtime/errcodes.h"

// The double buffer of the playing stream: two halves of one second each; the audio thread
// hands one over while the refill thread fills the other.
struct qmStreamPlayer {
  qmSound *stream;
  qmMixerChannel *channel;
  uint8_t *buffer;
  uint32_t halfFrames, bytesPerFrame;
  std::atomic<uint32_t> count[2];
  std::atomic<uint32_t> ready[2];  // filled and not yet handed over
  std::atomic<uint32_t> last[2];   // the stream ends with this half
  uint32_t playHalf, playOffset;   // audio thread
  std::atomic<uint32_t> ended;
  std::atomic<uint64_t> consumed;  // frames handed over since the start
  uint64_t startFrame;
  uint32_t startPass;
  bool single;
  uint8_t silence;
  // The refill thread and its request (a half to fill, -1 none).
  qmThread *thread;
  qmMutex *mutex;
  qmSignal *signal;
  int32_t request;
  std::atomic<int32_t> wakeWanted;  // the half whose refill could not be asked yet, -1 none
};

namespace {

int IndexOf(const qmMixerChannel *ch) { return int(ch - ch->owner->channels); }

// Audio thread: the sample's frames pass by pass.
uint32_t SampleInput(void *arg, void *buffer, uint32_t maxFrames) {
  auto *ch = static_cast<qmMixerChannel *>(arg);
  const qmSampleData *d = ch->sample;
  if (!d || d->frames == 0) return 0;
  auto *out = static_cast<uint8_t *>(buffer);
  uint32_t made = 0;
  while (made < maxFrames) {
    uint32_t pass = ch->pass.load(std::memory_order_relaxed);
    bool last = ch->times != 0 && pass >= ch->times;
    uint64_t end = last ? ch->lastPassFrames : d->frames;
    uint64_t pos = ch->frame.load(std::memory_order_relaxed);
    if (pos >= end) {
      if (last) break;
      ch->frame.store(0, std::memory_order_relaxed);
      ch->pass.store(pass + 1, std::memory_order_relaxed);
      ch->loopsSeen.fetch_add(1, std::memory_order_release);
      continue;
    }
    uint64_t n = end - pos < maxFrames - made ? end - pos : maxFrames - made;
    std::memcpy(out + size_t(made) * d->bytesPerFrame, d->data + pos * d->bytesPerFrame, n * d->bytesPerFrame);
    ch->frame.store(pos + n, std::memory_order_relaxed);
    made += uint32_t(n);
  }
  return made;
}

uint32_t ModuleInput(void *arg, void *buffer, uint32_t maxFrames) {
  auto *ch = static_cast<qmMixerChannel *>(arg);
  RenderModuleAudio(ch->module, static_cast<int16_t *>(buffer), maxFrames);
  return maxFrames;
}

// Audio thread: asks the refill thread for a half without waiting for its lock.
void WakeStreamRefill(qmStreamPlayer *sp, int32_t half) {
  if (MutexTryLock(sp->mutex)) {
    sp->request = half;
    SignalPost(sp->signal);
    MutexUnlock(sp->mutex);
    sp->wakeWanted.store(-1, std::memory_order_relaxed);
  } else {
    sp->wakeWanted.store(half, std::memory_order_relaxed);
  }
}

uint32_t StreamInput(void *arg, void *buffer, uint32_t maxFrames) {
  auto *sp = static_cast<qmStreamPlayer *>(static_cast<qmMixerChannel *>(arg)->player);
  if (sp->ended.load(std::memory_order_relaxed)) return 0;
  int32_t wanted = sp->wakeWanted.load(std::memory_order_relaxed);
  if (wanted >= 0) WakeStreamRefill(sp, wanted);
  uint32_t half = sp->playHalf;
  if (!sp->ready[half].load(std::memory_order_acquire)) {
    // The refill is late: a little silence, and ask again at the next call.
    uint32_t n = maxFrames < 64 ? maxFrames : 64;
    std::memset(buffer, sp->silence, size_t(n) * sp->bytesPerFrame);
    return n;
  }
  uint32_t count = sp->count[half].load(std::memory_order_relaxed);
  uint32_t n = count - sp->playOffset < maxFrames ? count - sp->playOffset : maxFrames;
  std::memcpy(buffer, sp->buffer + (size_t(half) * sp->halfFrames + sp->playOffset) * sp->bytesPerFrame,
              size_t(n) * sp->bytesPerFrame);
  sp->playOffset += n;
  sp->consumed.fetch_add(n, std::memory_order_relaxed);
  if (sp->playOffset >= count) {
    bool last = sp->last[half].load(std::memory_order_relaxed);
    sp->ready[half].store(0, std::memory_order_release);
    sp->playOffset = 0;
    sp->playHalf = half ^ 1;
    if (last) sp->ended.store(1, std::memory_order_relaxed);
    else if (!sp->single) WakeStreamRefill(sp, int32_t(half));
  }
  return n;
}

// Refill side: one half from the stream, wrapping to its start while passes remain.
void FillHalf(qmStreamPlayer *sp, int half) {
  qmMixerChannel *ch = sp->channel;
  uint8_t *dst = sp->buffer + size_t(half) * sp->halfFrames * sp->bytesPerFrame;
  uint32_t filled = 0;
  bool last = false, justWrapped = false;
  while (filled < sp->halfFrames) {
    int end = 0;
    uint64_t n = ReadSoundFrames(sp->stream, dst + size_t(filled) * sp->bytesPerFrame, sp->halfFrames - filled, &end);
    filled += uint32_t(n);
    if (filled >= sp->halfFrames) break;
    if (n > 0) justWrapped = false;
    else if (justWrapped) {  // nothing even from the start
      last = true;
      break;
    }
    if (n > 0 && !end) continue;
    uint32_t pass = ch->pass.load(std::memory_order_relaxed);
    // Music played without end (times 0) always wraps.
    if (sp->stream->kind != SNDKIND_CUSTOM && (ch->times == 0 || pass < ch->times)) {
      ch->pass.store(pass + 1, std::memory_order_relaxed);
      MutexLock(AudioMutex());
      SeekSoundStream(sp->stream, 0);
      MutexUnlock(AudioMutex());
      justWrapped = true;
      continue;
    }
    last = true;
    break;
  }
  if (last) std::memset(dst + size_t(filled) * sp->bytesPerFrame, sp->silence,
                        size_t(sp->halfFrames - filled) * sp->bytesPerFrame);
  sp->count[half].store(last ? filled : sp->halfFrames, std::memory_order_relaxed);
  sp->last[half].store(last ? 1 : 0, std::memory_order_relaxed);
  sp->ready[half].store(1, std::memory_order_release);
}

void *RefillThread(void *record) {
  qmThread *t = GetThreadRecord(record);
  auto *sp = static_cast<qmStreamPlayer *>(GetThreadUserData(t));
  ThreadSignalStarted(t);
  MutexLock(sp->mutex);
  for (;;) {
    while (sp->request < 0 && !ThreadQuitRequested(t)) SignalWait(sp->signal, sp->mutex);
    if (ThreadQuitRequested(t)) break;
    int half = sp->request;
    sp->request = -1;
    MutexUnlock(sp->mutex);
    FillHalf(sp, half);
    MutexLock(sp->mutex);
  }
  MutexUnlock(sp->mutex);
  ThreadWaitJoin(t);
  ThreadExit(t, 0);
  return nullptr;
}

void FreeStreamPlayer(qmStreamPlayer *sp) {
  if (!sp) return;
  if (sp->thread) {
    ThreadRequestQuit(sp->thread);
    MutexLock(sp->mutex);
    SignalPost(sp->signal);
    MutexUnlock(sp->mutex);
    ThreadJoin(sp->thread);
  }
  if (sp->signal) SignalFree(sp->signal);
  if (sp->mutex) MutexFree(sp->mutex);
  std::free(sp->buffer);
  delete sp;
}

// Audio thread, after each render: a channel whose converter ran dry is detached and left for
// the main thread to retire.
void PostRender(void *arg, uint32_t) {
  auto *set = static_cast<qmSoundChannels *>(arg);
  if (!set) return;
  for (int i = 0; i < kMixerInputs; i++) {
    qmMixerChannel *ch = &set->channels[i];
    qmAudioConverter *c = MixerInputConverter(i);
    if (c && c->ended) {
      AttachMixerInput(i, nullptr);
      ch->released.store(1, std::memory_order_release);
    }
  }
}

const qmAudioRenderHooks kRenderHooks = {nullptr, PostRender};

uint32_t ClaimFree(qmSoundChannels *set, int *index) {
  for (int i = 0; i < kMixerInputs; i++)
    if (set->channels[i].state.load() == CHAN_FREE) {
      *index = i;
      return 0;
    }
  return ERR_NOCHANNEL;
}

// Detaches and frees what the channel holds (the caller holds the audio mutex for the detach).
void RetireChannel(qmMixerChannel *ch) {
  MutexLock(AudioMutex());
  AttachMixerInput(IndexOf(ch), nullptr);
  MutexUnlock(AudioMutex());
  FreeAudioConverter(ch->converter);
  ResetMixerChannel(ch);
}

}  // namespace

uint32_t InitSoundChannels(qmSoundChannels *set) {
  if (uint32_t code = InitAudio()) return code;
  for (qmMixerChannel &ch : set->channels) {
    ch.owner = set;
    ResetMixerChannel(&ch);
  }
  set->handlers.sampleLoop = set->handlers.sampleEnd = set->handlers.musicEnd = set->handlers.videoEnd = 0;
  SetAudioRenderHooks(&kRenderHooks, set);
  return 0;
}

void FreeSoundChannels(qmSoundChannels *set) {
  for (qmMixerChannel &ch : set->channels) {
    if (ch.player) FinishMusicChannel(&ch, false, nullptr);
    else if (ch.state.load() != CHAN_FREE) RetireChannel(&ch);
  }
  ClearSoundEvents(set);
}

qmMixerChannel *GetMixerChannel(qmSoundChannels *set, int index) {
  return index >= 0 && index < kMixerInputs ? &set->channels[index] : nullptr;
}

void ResetMixerChannel(qmMixerChannel *ch) {
  ch->sample = nullptr;
  ch->stream = nullptr;
  ch->module = nullptr;
  ch->id = {};
  ch->times = 0;
  ch->pass = 0;
  ch->lastPassFrames = ch->lastPassMs = ch->passMs = 0;
  ch->frame = 0;
  ch->volume = ch->pan = ch->pitch = 0;
  ch->converter = nullptr;
  ch->released = 0;
  ch->loopsSeen = 0;
  ch->loopsPosted = 0;
  ch->player = nullptr;
  ch->streamEnded = nullptr;
  ch->endedArg = nullptr;
  ch->state = CHAN_FREE;
}

uint32_t ClaimSampleChannel(qmSoundChannels *set, qmSampleData *d, const qmObjectId &id, int32_t pitch,
                            int32_t volume, int32_t pan, int64_t time, uint32_t times, int *index) {
  int i;
  if (uint32_t code = ClaimFree(set, &i)) return code;
  qmMixerChannel *ch = &set->channels[i];
  qmAudioFormat fmt;
  FillStreamDescription(&fmt, uint32_t(pitch), d->bits, d->channels, d->flags);
  if (uint32_t code = NewAudioConverter(&fmt, AudioOutputRate(), SampleInput, ch, &ch->converter)) return code;
  ch->sample = d;
  ch->id = id;
  ch->pass = 1;
  ch->volume = volume;
  ch->pan = pan;
  ch->pitch = pitch;
  // One pass in milliseconds, in 64 bits and at least 1, so that short samples divide safely.
  uint64_t passMs = uint64_t(d->frames) * 1000 / uint32_t(pitch);
  ch->passMs = passMs ? passMs : 1;
  ch->lastPassFrames = d->frames;
  ch->lastPassMs = 0;
  if (time < 0) {
    ch->times = times;
  } else {
    uint64_t t = uint64_t(time);
    ch->times = uint32_t(t / ch->passMs + 1);
    ch->lastPassMs = t % ch->passMs;
    ch->lastPassFrames = uint64_t(pitch) * ch->lastPassMs / 1000;
    // A time that is a whole number of passes ends with a whole pass, not an empty one.
    if (ch->lastPassFrames == 0) {
      ch->times--;
      ch->lastPassFrames = d->frames;
      ch->lastPassMs = 0;
    }
    if (ch->lastPassFrames > d->frames) ch->lastPassFrames = d->frames;
  }
  ch->state = CHAN_CLAIMED;
  *index = i;
  return 0;
}

void StartClaimedChannels(qmSoundChannels *set) {
  MutexLock(AudioMutex());
  for (int i = 0; i < kMixerInputs; i++) {
    qmMixerChannel *ch = &set->channels[i];
    if (ch->state.load() != CHAN_CLAIMED) continue;
    SetChannelVolumePan(i, ch->volume, ch->pan);
    AttachMixerInput(i, ch->converter);
    ch->state = CHAN_SAMPLE;
  }
  MutexUnlock(AudioMutex());
}

void ReleaseClaimedChannels(qmSoundChannels *set) {
  for (qmMixerChannel &ch : set->channels)
    if (ch.state.load() == CHAN_CLAIMED) RetireChannel(&ch);
}

int StopSampleChannels(qmSoundChannels *set, const qmSampleData *d) {
  int n = 0;
  for (qmMixerChannel &ch : set->channels)
    if (ch.sample == d && (ch.state.load() == CHAN_SAMPLE || ch.state.load() == CHAN_CLAIMED)) {
      RetireChannel(&ch);
      n++;
    }
  return n;
}

bool SampleIsPlaying(qmSoundChannels *set, const qmSampleData *d) { return FindSampleChannel(set, d) != nullptr; }

qmMixerChannel *FindSampleChannel(qmSoundChannels *set, const qmSampleData *d) {
  for (qmMixerChannel &ch : set->channels)
    if (ch.sample == d && ch.state.load() == CHAN_SAMPLE && !ch.released.load()) return &ch;
  return nullptr;
}

void SetSampleChannelParams(qmSoundChannels *set, const qmSampleData *d, int32_t volume, int32_t pan) {
  MutexLock(AudioMutex());
  for (int i = 0; i < kMixerInputs; i++) {
    qmMixerChannel &ch = set->channels[i];
    if (ch.sample == d && ch.state.load() == CHAN_SAMPLE) {
      if (volume >= 0) ch.volume = volume;
      if (pan >= 0) ch.pan = pan;
      SetChannelVolumePan(i, ch.volume, ch.pan);
    }
  }
  MutexUnlock(AudioMutex());
}

uint32_t StartModuleChannel(qmSoundChannels *set, qmModule *m, const qmObjectId &id, int32_t volume, int *index) {
  int i;
  if (uint32_t code = ClaimFree(set, &i)) return code;
  qmMixerChannel *ch = &set->channels[i];
  qmAudioFormat fmt;
  FillStreamDescription(&fmt, m->outputRate, 16, 2, AUDIOFMT_SIGNED);
  if (uint32_t code = NewAudioConverter(&fmt, AudioOutputRate(), ModuleInput, ch, &ch->converter)) return code;
  ch->module = m;
  ch->id = id;
  ch->volume = volume;
  ch->pan = 128;
  MutexLock(AudioMutex());
  SetChannelVolume(i, volume);
  AttachMixerInput(i, ch->converter);
  ch->state = CHAN_MODULE;
  MutexUnlock(AudioMutex());
  *index = i;
  return 0;
}

uint32_t StartStreamChannel(qmSoundChannels *set, qmSound *s, const qmObjectId &id, uint32_t times,
                            uint32_t startPass, int32_t volume, void (*ended)(void *endedArg, qmMixerChannel *ch),
                            void *endedArg, int *index) {
  int i;
  if (uint32_t code = ClaimFree(set, &i)) return code;
  qmMixerChannel *ch = &set->channels[i];
  qmAudioFormat fmt;
  FillStreamDescription(&fmt, s->rate, s->bits, s->channels, s->flags);
  if (uint32_t code = NewAudioConverter(&fmt, AudioOutputRate(), StreamInput, ch, &ch->converter)) return code;
  auto *sp = new (std::nothrow) qmStreamPlayer{};
  uint32_t half = s->rate / (s->framesPerPacket ? s->framesPerPacket : 1);
  if (half == 0) half = 1;
  if (sp) sp->buffer = static_cast<uint8_t *>(std::malloc(size_t(2) * half * s->bytesPerFrame));
  if (!sp || !sp->buffer || !(sp->mutex = MutexCreate()) || !(sp->signal = SignalCreate())) {
    uint32_t code = sp && sp->buffer ? uint32_t(ERR_SEMAPHORE) : uint32_t(ERR_MEM);
    FreeStreamPlayer(sp);
    FreeAudioConverter(ch->converter);
    ch->converter = nullptr;
    return code;
  }
  sp->stream = s;
  sp->channel = ch;
  sp->halfFrames = half;
  sp->bytesPerFrame = s->bytesPerFrame;
  sp->silence = s->format == SMPFMT_MONO8U || s->format == SMPFMT_STEREO8U ? 128 : 0;
  sp->request = -1;
  sp->wakeWanted = -1;
  sp->startFrame = s->position;
  sp->startPass = startPass ? startPass : 1;
  ch->stream = s;
  ch->streamEnded = ended;
  ch->endedArg = endedArg;
  ch->id = id;
  ch->times = times;
  ch->pass = sp->startPass;
  ch->volume = volume;
  ch->pan = 128;
  ch->player = sp;
  uint64_t left = s->frames > s->position ? s->frames - s->position : 0;
  sp->single = s->kind != SNDKIND_CUSTOM && left <= half && times != 0 && sp->startPass >= times;
  SeekSoundStream(s, s->position);
  FillHalf(sp, 0);
  if (!sp->single && !sp->last[0]) {
    sp->request = 1;
    sp->thread = ThreadStart("Quenmoor stream refill", RefillThread, sp, 0, 0, 20);
    if (!sp->thread) {
      ch->player = nullptr;
      FreeStreamPlayer(sp);
      FreeAudioConverter(ch->converter);
      ResetMixerChannel(ch);
      return ERR_THREAD;
    }
  } else {
    sp->single = true;
  }
  MutexLock(AudioMutex());
  SetChannelVolume(i, volume);
  AttachMixerInput(i, ch->converter);
  ch->state = CHAN_STREAM;
  MutexUnlock(AudioMutex());
  *index = i;
  return 0;
}

uint32_t StartVideoChannel(void *owner, uint32_t rate, uint32_t channels, qmAudioInputProc input, void *arg,
                           int32_t volume, int *index) {
  auto *set = static_cast<qmSoundChannels *>(owner);
  int i;
  if (uint32_t code = ClaimFree(set, &i)) return code;
  qmMixerChannel *ch = &set->channels[i];
  qmAudioFormat fmt;
  FillStreamDescription(&fmt, rate, 16, channels, AUDIOFMT_SIGNED);
  if (uint32_t code = NewAudioConverter(&fmt, AudioOutputRate(), input, arg, &ch->converter)) return code;
  ch->volume = volume;
  ch->pan = 128;
  MutexLock(AudioMutex());
  SetChannelVolume(i, volume);
  AttachMixerInput(i, ch->converter);
  ch->state = CHAN_VIDEO;
  MutexUnlock(AudioMutex());
  *index = i;
  return 0;
}

void SetVideoChannelVolume(void *owner, int index, int32_t volume) {
  qmMixerChannel *ch = GetMixerChannel(static_cast<qmSoundChannels *>(owner), index);
  if (!ch || ch->state.load() != CHAN_VIDEO) return;
  MutexLock(AudioMutex());
  ch->volume = volume;
  SetChannelVolumePan(index, volume, ch->pan);
  MutexUnlock(AudioMutex());
}

void PostVideoEndEvent(void *owner, const qmObjectId *id) {
  auto *set = static_cast<qmSoundChannels *>(owner);
  if (set->handlers.videoEnd) PostSoundEvent(set, SNDEVT_VIDEOEND, *id, 0, 0, 0);
}

void StopVideoChannel(void *owner, int index) {
  qmMixerChannel *ch = GetMixerChannel(static_cast<qmSoundChannels *>(owner), index);
  if (ch && ch->state.load() == CHAN_VIDEO) RetireChannel(ch);
}

void FinishMusicChannel(qmMixerChannel *ch, bool keep, uint32_t *pass) {
  MutexLock(AudioMutex());
  AttachMixerInput(IndexOf(ch), nullptr);
  MutexUnlock(AudioMutex());
  if (qmStreamPlayer *sp = ch->player) {
    qmSound *s = sp->stream;
    uint64_t at = sp->startFrame + sp->consumed.load();
    uint32_t startPass = sp->startPass;
    FreeStreamPlayer(sp);
    ch->player = nullptr;
    if (keep && s->frames > 0) {
      uint64_t p = at % s->frames;
      if (pass) *pass = uint32_t(startPass + at / s->frames);
      SeekSoundStream(s, p);
    } else {
      if (pass) *pass = 1;
      SeekSoundStream(s, 0);
    }
  } else if (pass) {
    *pass = 1;
  }
  FreeAudioConverter(ch->converter);
  ResetMixerChannel(ch);
}

bool StreamIsSingleBuffer(const qmMixerChannel *ch) { return ch->player && ch->player->single; }

bool StreamRefillCaughtUp(const qmMixerChannel *ch) {
  const qmStreamPlayer *sp = ch->player;
  if (!sp || sp->single || sp->ended.load()) return true;
  uint32_t half = sp->playHalf;
  return sp->ready[half ^ 1].load() || sp->last[half].load();
}

uint64_t StreamPositionMs(const qmMixerChannel *ch) {
  const qmStreamPlayer *sp = ch->player;
  if (!sp || !sp->stream->rate) return 0;
  uint64_t at = sp->startFrame + sp->consumed.load(std::memory_order_relaxed);
  if (sp->stream->frames) at %= sp->stream->frames;
  return at * 1000 / sp->stream->rate;
}

void ServiceAudioEvents(qmSoundChannels *set) {
  for (qmMixerChannel &ch : set->channels) {
    if (ch.state.load() != CHAN_SAMPLE) continue;
    // Loops are counted, so that none is lost when several come between two deliveries.
    uint32_t seen = ch.loopsSeen.load(std::memory_order_acquire);
    while (ch.loopsPosted < seen) {
      ch.loopsPosted++;
      if (set->handlers.sampleLoop)
        PostSoundEvent(set, SNDEVT_SAMPLELOOP, ch.id, ch.passMs, ch.loopsPosted + 1, 0);
    }
  }
}

void UpdateAudioChannels(qmSoundChannels *set) {
  ServiceAudioEvents(set);
  for (qmMixerChannel &ch : set->channels) {
    if (!ch.released.load(std::memory_order_acquire)) continue;
    int32_t state = ch.state.load();
    if (state == CHAN_SAMPLE) {
      if (set->handlers.sampleEnd)
        PostSoundEvent(set, SNDEVT_SAMPLEEND, ch.id, ch.passMs, ch.pass.load(), ch.lastPassMs);
      RetireChannel(&ch);
    } else if (state == CHAN_STREAM) {
      qmObjectId id = ch.id;
      if (ch.streamEnded) ch.streamEnded(ch.endedArg, &ch);
      FinishMusicChannel(&ch, false, nullptr);
      if (set->handlers.musicEnd) PostSoundEvent(set, SNDEVT_MUSICEND, id, 0, 0, 0);
    }
  }
}

void PostSoundEvent(qmSoundChannels *set, int32_t kind, const qmObjectId &id, uint64_t passMs, uint32_t count,
                    uint64_t extraMs) {
  qmSoundEvent e{kind, id, count ? (count - 1) * passMs : 0, count};
  if (kind == SNDEVT_SAMPLEEND) e.position += extraMs;
  std::lock_guard<std::mutex> lock(set->eventMutex);
  try {
    set->events.push_back(e);
  } catch (...) {
    // without memory the event is dropped
  }
}

int TakeSoundEvent(qmSoundChannels *set, int32_t *kind, qmObjectId *id, uint64_t *position, uint32_t *count) {
  std::lock_guard<std::mutex> lock(set->eventMutex);
  if (set->events.empty()) return 0;
  qmSoundEvent e = set->events.front();
  set->events.pop_front();
  *kind = e.kind;
  *id = e.id;
  *position = e.position;
  *count = e.count;
  return 1;
}

void ClearSoundEvents(qmSoundChannels *set) {
  std::lock_guard<std::mutex> lock(set->eventMutex);
  set->events.clear();
}

bool AnyChannelPlaying(qmSoundChannels *set) {
  for (qmMixerChannel &ch : set->channels) {
    int32_t s = ch.state.load();
    if (s == CHAN_SAMPLE || s == CHAN_STREAM) return true;
  }
  return false;
}
