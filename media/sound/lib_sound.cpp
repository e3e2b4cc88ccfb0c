// The "sound" library: its command table and constants, its start and end, the sound events it
// hands the dispatcher, its runtime tags and attributes, and what its handler files share
// (soundargs.h). The handlers are in sample_commands.cpp and music_commands.cpp; the engine
// they call is beside them: streams and decoders (sound_stream.h), the mixer channels
// (channels.h), the module player (module.h) and sample arithmetic (sample_ops.h).
#include "media/sound/lib_sound.h"

#include <new>

#include "media/sound/channels.h"
#include "media/sound/music_commands.h"
#include "media/sound/sample_commands.h"
#include "media/sound/sound_state.h"
#include "media/sound/sound_stream.h"
#include "media/sound/soundargs.h"
#include "platform/audio.h"
#include "platform/time.h"
#include "runtime/attributes.h"
#include "runtime/cmdargs.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/eventdispatch.h"
#include "runtime/objlist.h"
#include "runtime/polltimer.h"
#include "runtime/rttags.h"
#include "runtime/vm/vm_api.h"

// The run's mixer channels.
qmSoundChannels *ChannelsOf(VmState *L) { return &GetSoundState(L)->channels; }

uint32_t PushNumber(VmState *L, double v) {
  vm_pushnumber(L, v);
  return 1;
}

// An automatic id is returned as the only result; a numbered one returns nothing.
uint32_t PushNewId(VmState *L, const qmObjectId &id, void *record) {
  if (!id.handle) return 0;
  vm_pushlightuserdata(L, record);
  return 1;
}

int32_t VolumeArg(VmState *L, int i) {
  int percent = 0;
  return ArgToClampedInt32(L, i, GetNumberOrPercentArg(L, i, 64, 0, &percent), 0, 64);
}

// Keeps the dispatcher polling while channels play that will raise events.
void HoldPollTimer(VmState *L) {
  qmSoundState *st = GetSoundState(L);
  if (st->pollHeld) return;
  if (AcquirePollTimer(L, POLL_CLIENT_SOUND) == 0) st->pollHeld = true;
}

// 10 ms of a wait for the sound, with the event pump running where the player wired it: 0, or
// ERR_USERABORT on a quit.
uint32_t PauseForSound(VmState *L) {
  qmPlayerContext *ctx = GetPlayerContext(L);
  if (ctx && ctx->waitEvents) return ctx->waitEvents(L, 10);
  SleepMilliseconds(10);
  return 0;
}

void ReleaseSoundPoll(VmState *L) {
  qmSoundState *st = GetSoundState(L);
  if (st->pollHeld) ReleasePollTimer(L, POLL_CLIENT_SOUND);
  st->pollHeld = false;
}

namespace {

// ---- events ----

int PollSound(VmState *L, qmEventState *st, qmEventMessage *msg) {
  qmSoundState *ss = GetSoundState(L);
  if (!ss) return EVPOLL_NONE;
  UpdateAudioChannels(&ss->channels);
  int32_t kind;
  qmObjectId id;
  uint64_t position;
  uint32_t count;
  while (TakeSoundEvent(&ss->channels, &kind, &id, &position, &count)) {
    int slot = kind == SNDEVT_SAMPLEEND ? OBJH_ONSAMPLEEND
             : kind == SNDEVT_SAMPLELOOP ? OBJH_ONSAMPLELOOP
             : kind == SNDEVT_MUSICEND ? OBJH_ONMUSICEND
                                       : OBJH_ONVIDEOEND;
    if (st->objectSlots[slot].function == kNoHandler) continue;
    ss->message = {kind, id, position, count};
    msg->type = MSG_SOUND;
    msg->function = st->objectSlots[slot].function;
    msg->userData = st->objectSlots[slot].userData;
    SetMessageAction(msg, kind == SNDEVT_SAMPLEEND    ? "OnSampleEnd"
                          : kind == SNDEVT_SAMPLELOOP ? "OnSampleLoop"
                          : kind == SNDEVT_MUSICEND   ? "OnMusicEnd"
                                                      : "OnVideoEnd");
    return EVPOLL_CALL;
  }
  return EVPOLL_NONE;
}

void FillSoundMessage(VmState *L, qmEventMessage *msg) {
  const qmSoundMessage &m = GetSoundState(L)->message;
  FillAction(L, msg);
  FillId(L, msg, m.id);
  if (m.kind == SNDEVT_SAMPLEEND || m.kind == SNDEVT_SAMPLELOOP) {
    SetFieldNumber(L, "position", double(m.position));
    SetFieldNumber(L, "count", m.count);
  }
}

// At the start of a cycle (the timers' walk has not begun): the shared poll interval goes
// once nothing plays that could still raise an event.
void StartSound(VmState *L, qmEventState *) {
  qmSoundState *ss = GetSoundState(L);
  if (!ss || !ss->pollHeld) return;
  UpdateAudioChannels(&ss->channels);
  if (!AnyChannelPlaying(&ss->channels) && !(ss->playing && ss->playing->custom)) ReleaseSoundPoll(L);
}

const qmEventSource kSoundSource = {"sound", EVRANK_SOUND, StartSound, PollSound, FillSoundMessage, nullptr};

// ---- runtime tags and attributes ----

// The tag lists name their run by its script state; a list without one reaches no run's sound.
qmSoundState *TagState(void *context) { return context ? GetSoundState(static_cast<VmState *>(context)) : nullptr; }

int SetSoundTag(void *context, uint32_t tag, uintptr_t value) {
  qmSoundState *st = TagState(context);
  qmSoundHandlers *h = st ? &st->channels.handlers : nullptr;
  switch (tag) {
    case RTTAG_NOSOUND:
      if (st) st->noSound = value != 0;
      return 1;
    case RTTAG_SOUNDSETTING:
      if (st) st->soundSetting = value;
      return 1;
    case RTTAG_ONSAMPLELOOP:
      if (h) h->sampleLoop = value != 0;
      return 1;
    case RTTAG_ONSAMPLEEND:
      if (h) h->sampleEnd = value != 0;
      return 1;
    case RTTAG_ONMUSICEND:
      if (h) h->musicEnd = value != 0;
      return 1;
    case RTTAG_ONVIDEOEND:
      if (h) h->videoEnd = value != 0;
      return 1;
    default: return 0;
  }
}

int GetSoundTag(void *context, uint32_t tag, uintptr_t *result) {
  qmSoundState *st = TagState(context);
  if (!st) return 0;
  switch (tag) {
    case RTTAG_NOSOUND: *result = st->noSound; return 1;
    case RTTAG_SOUNDSETTING: *result = st->soundSetting; return 1;
    default: return 0;
  }
}

enum : int32_t {
  ATTRTYPE_ = 9, ATTRNUMFRAMES_ = 11, ATTRPITCH_ = 15, ATTRPOSITION_ = 18, ATTRFORMAT_ = 19,
  ATTRBITRATE_ = 20, ATTRCANSEEK_ = 72,
};

uint32_t ReadSampleAttribute(VmState *L, int32_t attribute) {
  if (attribute == ATTRCOUNT) return PushNumber(L, CountObjectsOfType(L, QMTYPE_SAMPLE));
  qmSample *s;
  if (uint32_t code = GetObjectArg(L, 2, QMTYPE_SAMPLE, ERR_FINDSAMPLE, &s)) return code;
  uint32_t bpf = FormatBytesPerFrame(s->format);
  uint64_t frames = bpf ? uint64_t(s->length) / bpf : 0;
  switch (attribute) {
    case ATTRTYPE_: return PushNumber(L, FormatToScriptType(s->format));
    case ATTRNUMFRAMES_: return PushNumber(L, double(frames));
    case ATTRDURATION: return PushNumber(L, double(frames * 1000 / uint32_t(s->pitch)));
    case ATTRPITCH_: return PushNumber(L, s->pitch);
    case ATTRPOSITION_: {
      UpdateAudioChannels(ChannelsOf(L));
      qmMixerChannel *ch = GetSoundState(L)->deviceOpen ? FindSampleChannel(ChannelsOf(L), s->data) : nullptr;
      if (!ch) {
        vm_pushnumber(L, -1);
        vm_pushnumber(L, -1);
        return 2;
      }
      vm_pushnumber(L, double(ch->frame.load() * 1000 / uint32_t(ch->pitch)));
      vm_pushnumber(L, double(ch->pass.load() - 1));
      return 2;
    }
    default: return ERR_UNKNOWNATTR;
  }
}

uint32_t ReadMusicAttribute(VmState *L, int32_t attribute) {
  if (attribute == ATTRCOUNT) return PushNumber(L, CountObjectsOfType(L, QMTYPE_MUSIC));
  qmMusic *m;
  if (uint32_t code = GetObjectArg(L, 2, QMTYPE_MUSIC, ERR_FINDMUSIC, &m)) return code;
  bool module = m->kind == MUSKIND_MODULE;
  qmSound *s = m->stream;
  switch (attribute) {
    case ATTRTYPE_: return PushNumber(L, module ? SNDTYPE_STEREO16 : FormatToScriptType(s->format));
    case ATTRDURATION: return PushNumber(L, module || m->custom ? 0 : double(SoundDurationMs(s)));
    case ATTRPITCH_: return PushNumber(L, module ? kModuleRate : s->rate);
    case ATTRPOSITION_: {
      if (module) return PushNumber(L, 0);
      qmSoundState *st = GetSoundState(L);
      qmMixerChannel *ch = st->playing == m ? PlayingChannel(st) : nullptr;
      if (ch) return PushNumber(L, double(StreamPositionMs(ch)));
      return PushNumber(L, s->rate ? double(s->position * 1000 / s->rate) : 0);
    }
    case ATTRFORMAT_:
      vm_pushstring(L, module ? "Protracker" : SoundStreamName(s));
      return 1;
    case ATTRBITRATE_:
      if (module) return PushNumber(L, 0);
      return PushNumber(L, s->bitRate ? s->bitRate : double(s->bytesPerFrame) * s->rate / 1024 * 8);
    case ATTRCANSEEK_: return PushNumber(L, m->seekable);
    default: return ERR_UNKNOWNATTR;
  }
}

// ---- the library ----

const qmCommandEntry kSoundCommands[] = {
    {"FreeSample", SndFreeSample},
    {"LoadSample", SndLoadSample},
    {"IsSound", SndIsSound},
    {"GetPatternPosition", SndGetPatternPosition},
    {"GetSongPosition", SndGetSongPosition},
    {"PlaySubsong", SndPlaySubsong},
    {"WaitPatternPosition", SndWaitPatternPosition},
    {"WaitSongPosition", SndWaitSongPosition},
    {"WaitSampleEnd", SndWaitSampleEnd},
    {"IsSamplePlaying", SndIsSamplePlaying},
    {"SetVolume", SndSetVolume},
    {"SetPitch", SndSetPitch},
    {"SetPanning", SndSetPanning},
    {"StopSample", SndStopSample},
    {"PlaySample", SndPlaySample},
    {"SetMasterVolume", SndSetMasterVolume},
    {"IsSample", SndIsSample},
    {"CreateSample", SndCreateSample},
    {"OpenMusic", SndOpenMusic},
    {"CloseMusic", SndCloseMusic},
    {"PlayMusic", SndPlayMusic},
    {"StopMusic", SndStopMusic},
    {"PauseMusic", SndPauseMusic},
    {"ResumeMusic", SndResumeMusic},
    {"SeekMusic", SndSeekMusic},
    {"SetMusicVolume", SndSetMusicVolume},
    {"IsMusic", SndIsMusic},
    {"IsMusicPlaying", SndIsMusicPlaying},
    {"PlayModule", SndPlayMusic},
    {"StopModule", SndStopMusic},
    {"PauseModule", SndPauseMusic},
    {"ResumeModule", SndResumeMusic},
    {"LoadModule", SndOpenMusic},
    {"FreeModule", SndCloseMusic},
    {"IsModule", SndIsMusic},
    {"SaveSample", SndSaveSample},
    {"GetSampleData", SndGetSampleData},
    {"CreateMusic", SndCreateMusic},
    {"FillMusicBuffer", SndFillMusicBuffer},
    {"MixSample", SndMixSample},
    {"CopySample", SndCopySample},
    {"InsertSample", SndInsertSample},
    {nullptr, nullptr},
};

const qmConstantEntry kSoundConstants[] = {
    {"MONO16", nullptr, SNDTYPE_MONO16}, {"STEREO16", nullptr, SNDTYPE_STEREO16},
    {"MONO8", nullptr, SNDTYPE_MONO8},   {"STEREO8", nullptr, SNDTYPE_STEREO8},
    {"SAMPLE", nullptr, QMTYPE_SAMPLE},  {"MUSIC", nullptr, QMTYPE_MUSIC},
    {"SMPFMT_WAVE", nullptr, 0},         {nullptr, nullptr, 0},
};

uint32_t InitSoundLibrary(VmState *L) {
  qmPlayerContext *ctx = GetPlayerContext(L);
  if (!ctx) return 0;
  ctx->sound = new (std::nothrow) qmSoundState{};
  if (!ctx->sound) return ERR_MEM;
  if (uint32_t code = InitSoundChannels(&ctx->sound->channels)) return code;
  if (uint32_t code = AddSetTagHook(SetSoundTag)) return code;
  if (uint32_t code = AddGetTagHook(GetSoundTag)) return code;
  if (GetEventState(L)) {
    if (uint32_t code = RegisterEventSource(L, &kSoundSource)) return code;
    if (uint32_t code = RegisterEventSource(L, &kMusicBufferSource)) return code;
  }
  return 0;
}

// Early in the shut-down: the playing music stops keeping its place, every channel stops and
// the output closes, so that no audio or refill thread touches what is freed after.
void StopSoundDevice(VmState *L) {
  qmSoundState *st = GetSoundState(L);
  if (st && st->pollHeld) ReleaseSoundPoll(L);  // while the event library is still there
  if (st && st->playing) {
    StopMusicBackend(st, true);
    st->paused = st->playing;
    st->playing = nullptr;
  }
  if (st) FreeSoundChannels(&st->channels);
  StopAudioOutput();
  if (st) st->deviceOpen = false;
}

void FreeSoundObjects(VmState *L) {
  qmPlayerContext *ctx = GetPlayerContext(L);
  if (!ctx || !ctx->sound) return;
  StopSoundDevice(L);
  while (qmObjectHeader *h = FirstObject(L, QMTYPE_SAMPLE)) FreeSampleRecord(L, reinterpret_cast<qmSample *>(h));
  while (qmObjectHeader *h = FirstObject(L, QMTYPE_MUSIC)) FreeMusicRecord(L, reinterpret_cast<qmMusic *>(h));
  CloseAudioOutput();
  delete ctx->sound;
  ctx->sound = nullptr;
}

}  // namespace

uint32_t SoundReadAttribute(VmState *L, uint32_t type, int32_t attribute) {
  return type == QMTYPE_SAMPLE ? ReadSampleAttribute(L, attribute) : ReadMusicAttribute(L, attribute);
}

qmSoundState *GetSoundState(VmState *L) {
  qmPlayerContext *ctx = GetPlayerContext(L);
  return ctx ? ctx->sound : nullptr;
}

int SoundDeviceReady(VmState *L) {
  qmSoundState *st = GetSoundState(L);
  if (!st || st->noSound) return 0;
  if (st->deviceOpen) return 1;
  if (OpenAudioOutput() != 0) {
    st->noSound = true;
    return 0;
  }
  st->deviceOpen = true;
  return 1;
}

const qmLibrary kSoundLibrary = {"sound",         kSoundCommands, kSoundConstants,       InitSoundLibrary,
                                 FreeSoundObjects, FREERANK_SOUND, StopSoundDevice, FREERANK_SOUNDDEVICE};
