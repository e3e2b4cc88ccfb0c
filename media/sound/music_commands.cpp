// The sound library's music commands: music streams and modules opened, played, paused and
// sought, module positions, and streams the script feeds itself through its "FillMusicBuffer"
// handler.
#include "media/sound/music_commands.h"

#include <cstring>
#include <new>
#include <vector>

#include "media/sound/channels.h"
#include "media/sound/custom_stream.h"
#include "media/sound/module.h"
#include "media/sound/sample_commands.h"
#include "media/sound/sample_ops.h"
#include "media/sound/sound_state.h"
#include "media/sound/sound_stream.h"
#include "media/sound/soundargs.h"
#include "platform/audio.h"
#include "platform/file.h"
#include "runtime/cmdargs.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/errreport.h"
#include "runtime/eventdispatch.h"
#include "runtime/objdata.h"
#include "runtime/objlist.h"
#include "runtime/rttags.h"
#include "runtime/strutil.h"
#include "runtime/vm/vm_api.h"
#include "runtime/vnames.h"

namespace {

qmMusic *FindMusic(VmState *L, const qmObjectId *id) {
  return reinterpret_cast<qmMusic *>(FindObject(L, QMTYPE_MUSIC, id));
}

}  // namespace

qmMixerChannel *PlayingChannel(qmSoundState *st) {
  return st->playing && st->playingChannel >= 0 ? GetMixerChannel(&st->channels, st->playingChannel) : nullptr;
}

// Stops the back end of the playing music; with keep the place is kept for a resume.
void StopMusicBackend(qmSoundState *st, bool keep) {
  qmMusic *m = st->playing;
  qmMixerChannel *ch = PlayingChannel(st);
  uint32_t pass = 1;
  if (ch && (ch->state.load() == CHAN_STREAM || ch->state.load() == CHAN_MODULE))
    FinishMusicChannel(ch, keep, &pass);
  if (m->kind == MUSKIND_MODULE && !keep) RestartModule(m->module);
  if (m->kind == MUSKIND_STREAM && !keep && !m->custom) SeekSoundStream(m->stream, 0);
  if (m->custom && !keep) ClearCustomStream(m->stream->custom);  // the next start asks afresh
  m->savedPass = keep ? pass : 1;
  st->playingChannel = -1;
}

namespace {

void MusicEnded(void *state, qmMixerChannel *ch);

uint32_t StartMusicRecord(VmState *L, qmMusic *m) {
  qmSoundState *st = GetSoundState(L);
  if (st->inFillCallback) return ERR_NOCALLBACK;
  if (st->playing) {
    qmMusic *old = st->playing;
    StopMusicBackend(st, false);
    old->savedPass = 1;
    old->paused = 0;
    st->playing = nullptr;
  }
  if (st->paused && st->paused != m) {
    st->paused->savedPass = 1;
    st->paused->paused = 0;
    if (st->paused->kind == MUSKIND_MODULE) RestartModule(st->paused->module);
    else if (!st->paused->custom) SeekSoundStream(st->paused->stream, 0);
  }
  st->paused = nullptr;
  qmObjectId id{m->header.id, m->header.handle};
  int index = -1;
  uint32_t code = m->kind == MUSKIND_MODULE
                      ? StartModuleChannel(&st->channels, m->module, id, m->volume, &index)
                      : StartStreamChannel(&st->channels, m->stream, id, m->times, m->savedPass, m->volume,
                                           MusicEnded, st, &index);
  if (code) return code;
  st->playing = m;
  st->playingChannel = index;
  m->paused = 0;
  if (m->custom || st->channels.handlers.musicEnd) HoldPollTimer(L);
  return 0;
}

// StopMusic and PauseMusic.
uint32_t StopOrPauseMusic(VmState *L, bool pause) {
  CheckArgCount(L, 0, 1);
  qmSoundState *st = GetSoundState(L);
  if (st->noSound) return 0;
  UpdateAudioChannels(ChannelsOf(L));
  qmMusic *m;
  if (vm_gettop(L) >= 1 && !vm_isnoneornil(L, 1)) {
    qmObjectId id;
    if (uint32_t code = GetObjectArg(L, 1, QMTYPE_MUSIC, ERR_FINDMUSIC, &m, &id)) return code;
    if (m != st->playing) {
      if (id.handle) return ERR_MUSNOTPLYNG2;
      SetErrorNumber(id.id);
      return ERR_MUSNOTPLYNG;
    }
  } else {
    m = st->playing;
    if (!m) return ERR_WRONGUSAGE;
  }
  if (st->inFillCallback) return ERR_NOCALLBACK;
  StopMusicBackend(st, pause);
  st->playing = nullptr;
  if (pause) {
    st->paused = m;
    m->paused = 1;
  } else {
    m->paused = 0;
  }
  return 0;
}

}  // namespace

uint32_t SndStopMusic(VmState *L) { return StopOrPauseMusic(L, false); }

uint32_t SndPauseMusic(VmState *L) { return StopOrPauseMusic(L, true); }

void FreeMusicRecord(VmState *L, qmMusic *m) {
  qmSoundState *st = GetSoundState(L);
  if (st->playing == m) {
    StopMusicBackend(st, false);
    st->playing = nullptr;
  }
  if (st->paused == m) st->paused = nullptr;
  RemoveObject(L, &m->header);
  FreeObjectDataList(L, static_cast<qmObjectData *>(m->header.userData));
  CloseSoundStream(m->stream);
  delete m->module;
  delete m;
}

namespace {

// The file as music: a module when "M.K." stands at 1080, else a sound stream.
uint32_t OpenMusicStream(const char *name, qmMusic *m, const qmFormatPlugins *plugins) {
  qmFileHandle *f = FileOpen(name, FILE_MODE_READ);
  if (!f) {
    SetErrorArgument(name);
    return ERR_READFILE;
  }
  uint8_t tag[4] = {};
  uint64_t size = f->size;
  FileSeek(f, 1080, FILE_SEEK_START);
  bool module = size >= 1084 && FileRead(f, tag, 4) == 4 && std::memcmp(tag, "M.K.", 4) == 0;
  if (module) {
    std::vector<uint8_t> image;
    try {
      image.resize(size_t(size));
    } catch (...) {
      FileClose(f);
      return ERR_MEM;
    }
    FileSeek(f, 0, FILE_SEEK_START);
    bool ok = FileRead(f, image.data(), size) == size;
    FileClose(f);
    if (!ok) return ERR_READ;
    m->module = new (std::nothrow) qmModule;
    if (!m->module) return ERR_MEM;
    if (uint32_t code = InitModule(m->module, image.data(), image.size(), kModuleRate)) {
      delete m->module;
      m->module = nullptr;
      return code;
    }
    m->kind = MUSKIND_MODULE;
    m->seekable = 0;
    return 0;
  }
  FileClose(f);
  uint32_t code = OpenSoundStream(name, 1, &m->stream, plugins);
  if (code == ERR_OPENSOUND) return ERR_UNKNOWNMUSFMT;
  if (code) return code;
  m->kind = MUSKIND_STREAM;
  m->seekable = m->stream->seekable;
  return 0;
}

qmMusic *NewMusic(const qmObjectId &id) {
  auto *m = new (std::nothrow) qmMusic{};
  if (!m) return nullptr;
  SetObjectHeader(&m->header, QMTYPE_MUSIC, &id);
  m->volume = 64;
  m->times = 1;
  m->savedPass = 1;
  return m;
}

}  // namespace

uint32_t SndOpenMusic(VmState *L) {
  CheckArgCount(L, 2, 2);
  qmObjectId id = GetNewObjectIdArg(L, 1);
  const char *name = ResolveLinkedFileArg(L, 2, 0, nullptr);
  if (GetSoundState(L)->noSound) return 0;
  if (!id.handle)
    if (qmMusic *old = FindMusic(L, &id)) FreeMusicRecord(L, old);
  if (!SoundDeviceReady(L)) return 0;
  PrintStatusMessage(GetErrorText(kMessageLoadingMusic), vm_tostring(L, 2), 1);
  qmMusic *m = NewMusic(id);
  if (!m) return ERR_MEM;
  if (uint32_t code = OpenMusicStream(name, m, GetPlayerContext(L)->formatPlugins)) {
    delete m;
    return code;
  }
  if (uint32_t code = AddObject(L, &m->header)) {
    CloseSoundStream(m->stream);
    delete m->module;
    delete m;
    return code;
  }
  PrintDoneMessage();
  return PushNewId(L, id, m);
}

uint32_t SndCloseMusic(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmSoundState *st = GetSoundState(L);
  if (st->noSound) return 0;
  qmMusic *m;
  if (uint32_t code = GetObjectArg(L, 1, QMTYPE_MUSIC, ERR_FINDMUSIC, &m)) return code;
  if (st->inFillCallback && m == st->playing) return ERR_NOCALLBACK;
  if (m == st->playing && m->custom) ReleaseSoundPoll(L);
  FreeMusicRecord(L, m);
  return 0;
}

uint32_t SndPlayMusic(VmState *L) {
  CheckArgCount(L, 1, 2);
  if (GetSoundState(L)->noSound) return 0;
  qmMusic *m;
  if (uint32_t code = GetObjectArg(L, 1, QMTYPE_MUSIC, ERR_FINDMUSIC, &m)) return code;
  m->times = 1;
  if (vm_type(L, 2) == VM_TTABLE) {
    int found = 0;
    double v;
    if (GetFieldNumber(L, 2, "volume", &v, &found)) m->volume = FieldToClampedInt32(L, "volume", v, 0, 64);
    if (GetFieldNumber(L, 2, "times", &v, &found)) m->times = FieldToUInt32(L, "times", v);
  } else if (!vm_isnoneornil(L, 2)) {
    m->times = vm_checkinteger(L, 2);
  }
  if (!SoundDeviceReady(L)) return 0;
  // PlayMusic starts from the beginning, also a paused music; a playing one stops first, so
  // that no audio or refill thread reads what is reset.
  qmSoundState *st = GetSoundState(L);
  if (st->inFillCallback) return ERR_NOCALLBACK;
  if (st->playing == m) {
    StopMusicBackend(st, false);
    st->playing = nullptr;
  }
  m->savedPass = 1;
  if (m->kind == MUSKIND_MODULE) RestartModule(m->module);
  else if (!m->custom) SeekSoundStream(m->stream, 0);
  return StartMusicRecord(L, m);
}

uint32_t SndResumeMusic(VmState *L) {
  CheckArgCount(L, 0, 1);
  qmSoundState *st = GetSoundState(L);
  if (st->noSound) return 0;
  qmMusic *m = st->paused;
  if (vm_gettop(L) >= 1 && !vm_isnoneornil(L, 1)) {
    if (uint32_t code = GetObjectArg(L, 1, QMTYPE_MUSIC, ERR_FINDMUSIC, &m)) return code;
  } else if (!m) {
    return ERR_WRONGUSAGE;
  }
  if (!m->paused) return ERR_MUSNOTPAUSED;
  return StartMusicRecord(L, m);
}

uint32_t SndSeekMusic(VmState *L) {
  CheckArgCount(L, 2, 2);
  qmSoundState *st = GetSoundState(L);
  if (st->noSound) return 0;
  qmMusic *m;
  if (uint32_t code = GetObjectArg(L, 1, QMTYPE_MUSIC, ERR_FINDMUSIC, &m)) return code;
  double pos = vm_checknumber(L, 2);
  if (!m->seekable || m->kind != MUSKIND_STREAM) return ERR_SEEKFORMAT;
  uint64_t duration = SoundDurationMs(m->stream);
  if (!(pos >= 0 && pos <= double(duration) - 1)) return ERR_SEEKRANGE;
  if (m == st->playing) {
    if (st->inFillCallback) return ERR_NOCALLBACK;
    StopMusicBackend(st, true);
    st->playing = nullptr;
    SeekSoundStreamMs(m->stream, int64_t(pos));
    return StartMusicRecord(L, m);
  }
  SeekSoundStreamMs(m->stream, int64_t(pos));
  return 0;
}

uint32_t SndSetMusicVolume(VmState *L) {
  CheckArgCount(L, 2, 2);
  qmSoundState *st = GetSoundState(L);
  if (st->noSound) return 0;
  qmMusic *m;
  if (uint32_t code = GetObjectArg(L, 1, QMTYPE_MUSIC, ERR_FINDMUSIC, &m)) return code;
  m->volume = VolumeArg(L, 2);
  if (m == st->playing && st->playingChannel >= 0) SetChannelVolume(st->playingChannel, m->volume);
  return 0;
}

uint32_t SndIsMusic(VmState *L) {
  CheckArgCount(L, 1, 1);
  const char *name = ResolveLinkedFileArg(L, 1, 0, nullptr);
  qmMusic probe{};
  uint32_t code = OpenMusicStream(name, &probe, GetPlayerContext(L)->formatPlugins);
  const char *format = "Unknown";
  if (!code) format = probe.kind == MUSKIND_MODULE ? "Protracker" : SoundStreamName(probe.stream);
  vm_pushnumber(L, code ? 0 : 1);
  vm_pushstring(L, format);
  CloseSoundStream(probe.stream);
  delete probe.module;
  return 2;
}

uint32_t SndIsMusicPlaying(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmMusic *m;
  if (uint32_t code = GetObjectArg(L, 1, QMTYPE_MUSIC, ERR_FINDMUSIC, &m)) return code;
  UpdateAudioChannels(ChannelsOf(L));
  return PushNumber(L, m == GetSoundState(L)->playing);
}

namespace {

// The playing module, or null.
qmModule *PlayingModule(VmState *L) {
  qmSoundState *st = GetSoundState(L);
  UpdateAudioChannels(ChannelsOf(L));
  qmMixerChannel *ch = PlayingChannel(st);
  return ch && ch->state.load() == CHAN_MODULE ? ch->module : nullptr;
}

}  // namespace

uint32_t SndGetPatternPosition(VmState *L) {
  CheckArgCount(L, 0, 0);
  qmModule *m = PlayingModule(L);
  return PushNumber(L, m ? m->reportedRow.load() : -1);
}

uint32_t SndGetSongPosition(VmState *L) {
  CheckArgCount(L, 0, 0);
  qmModule *m = PlayingModule(L);
  return PushNumber(L, m ? m->reportedPos.load() : -1);
}

uint32_t SndPlaySubsong(VmState *L) {
  CheckArgCount(L, 1, 1);
  int32_t n = vm_checkint32(L, 1);
  if (!GetSoundState(L)->playing) return ERR_WRONGUSAGE;
  qmModule *m = PlayingModule(L);
  if (!m) return ERR_WRONGUSAGE;
  // A position beyond the song is refused, not read from beyond the order table.
  return RequestModulePosition(m, n);
}

namespace {

uint32_t WaitModulePosition(VmState *L, bool song) {
  CheckArgCount(L, 1, 1);
  int32_t target = vm_checkint32(L, 1);
  for (;;) {
    qmModule *m = PlayingModule(L);
    if (!m) return 0;
    int32_t now = song ? m->reportedPos.load() : m->reportedRow.load();
    if (target <= now) return 0;
    if (uint32_t code = PauseForSound(L)) return code;
  }
}

}  // namespace

uint32_t SndWaitPatternPosition(VmState *L) { return WaitModulePosition(L, false); }

uint32_t SndWaitSongPosition(VmState *L) { return WaitModulePosition(L, true); }

namespace {

// ---- custom streams ----

void FillMusicBufferMessage(VmState *L, qmEventMessage *msg) {
  const qmMusicBufferRequest &request = GetSoundState(L)->bufferRequest;
  FillAction(L, msg);
  FillId(L, msg, request.id);
  SetFieldNumber(L, "frames", double(request.wanted));
  SetFieldNumber(L, "delivered", double(request.delivered));
}

void MusicBufferDone(VmState *L, qmEventState *, qmEventMessage *) { GetSoundState(L)->inFillCallback = false; }

int PollMusicBuffer(VmState *L, qmEventState *st, qmEventMessage *msg);

}  // namespace

const qmEventSource kMusicBufferSource = {"musicbuffer", EVRANK_MUSICBUFFER, nullptr, PollMusicBuffer,
                                          FillMusicBufferMessage, MusicBufferDone};

namespace {

// Frames the playing custom stream wants: 2 x rate at its start, then the rate less what is
// queued while less than a second is.
uint64_t GetMusicBufferNeed(qmSoundState *st, qmObjectId *id) {
  qmMusic *m = st->playing;
  if (!m || !m->custom) return 0;
  qmCustomStream *c = m->stream->custom;
  *id = qmObjectId{m->header.id, m->header.handle};
  if (c->refillPending.exchange(0)) return 2ull * c->rate;
  uint64_t queued = CustomStreamQueuedFrames(c);
  return queued < c->rate ? c->rate - queued : 0;
}

int PollMusicBuffer(VmState *L, qmEventState *st, qmEventMessage *msg) {
  qmSoundState *ss = GetSoundState(L);
  if (!ss || ss->inFillCallback) return EVPOLL_NONE;
  const qmHandlerSlot &slot = st->objectSlots[OBJH_FILLMUSICBUFFER];
  if (slot.function == kNoHandler) return EVPOLL_NONE;
  qmObjectId id{};
  uint64_t wanted = GetMusicBufferNeed(ss, &id);
  if (!wanted) return EVPOLL_NONE;
  ss->bufferRequest = {id, wanted, ss->playing->stream->custom->delivered};
  msg->type = MSG_MUSICBUFFER;
  msg->function = slot.function;
  msg->userData = slot.userData;
  SetMessageAction(msg, "FillMusicBuffer");
  ss->inFillCallback = true;
  return EVPOLL_ONCE;
}

}  // namespace

uint32_t SndCreateMusic(VmState *L) {
  CheckArgCount(L, 3, 3);
  qmSoundState *st = GetSoundState(L);
  if (st->inFillCallback) return ERR_NOCALLBACK;
  qmEventState *ev = GetEventState(L);
  if (!ev || ev->objectSlots[OBJH_FILLMUSICBUFFER].function == kNoHandler) return ERR_NOFMBHANDLER;
  qmObjectId id = GetNewObjectIdArg(L, 1);
  int32_t rate = vm_checkint32(L, 2);
  int32_t format = ScriptTypeToFormat(vm_checkint32(L, 3));
  if (format < 0) return ERR_WRONGUSAGE;
  if (rate < 256) return ERR_LOWFREQ;
  if (st->noSound) return 0;
  if (!id.handle)
    if (qmMusic *old = FindMusic(L, &id)) FreeMusicRecord(L, old);
  if (!SoundDeviceReady(L)) return 0;
  qmMusic *m = NewMusic(id);
  if (!m) return ERR_MEM;
  if (uint32_t code = CreateCustomStream(uint32_t(rate), format, &m->stream)) {
    delete m;
    return code;
  }
  m->kind = MUSKIND_STREAM;
  m->custom = 1;
  if (uint32_t code = AddObject(L, &m->header)) {
    CloseSoundStream(m->stream);
    delete m;
    return code;
  }
  // The first request, at once: two seconds of frames.
  m->stream->custom->refillPending = 0;
  st->bufferRequest = {id.handle ? qmObjectId{0, m->header.handle} : id, 2ull * uint32_t(rate), 0};
  qmEventMessage msg{};
  ClearEventMessage(&msg);
  msg.source = &kMusicBufferSource;
  msg.type = MSG_MUSICBUFFER;
  msg.function = ev->objectSlots[OBJH_FILLMUSICBUFFER].function;
  msg.userData = ev->objectSlots[OBJH_FILLMUSICBUFFER].userData;
  SetMessageAction(&msg, "FillMusicBuffer");
  int top = vm_gettop(L);
  st->inFillCallback = true;
  uint32_t code = CallEventHandler(L, &msg, 1);
  st->inFillCallback = false;
  vm_settop(L, top);
  if (code) return code;
  return PushNewId(L, id, m);
}

uint32_t SndFillMusicBuffer(VmState *L) {
  CheckArgCount(L, 3, 4);
  qmSoundState *st = GetSoundState(L);
  if (!st->inFillCallback) return ERR_NOMUSICCB;
  qmMusic *m;
  if (uint32_t code = GetObjectArg(L, 1, QMTYPE_MUSIC, ERR_FINDMUSIC, &m)) return code;
  if (!m->custom) return ERR_WRONGUSAGE;
  const char *type = vm_checkstring(L, 2, nullptr);
  int32_t frames = vm_checkint32(L, 3);
  if (frames < 0) return ERR_WRONGUSAGE;
  qmCustomStream *c = m->stream->custom;
  if (Stricmp(type, "end") == 0) return QueueCustomBuffer(c, nullptr, 0);
  size_t bytes = 0;
  if (uint32_t code = SampleBytesOf(frames, c->bytesPerFrame, &bytes)) return code;
  std::vector<uint8_t> pcm;
  try {
    pcm.resize(bytes);
  } catch (const std::bad_alloc &) {
    return ERR_MEM;
  }
  bool unsignedFmt = c->format == SMPFMT_MONO8U || c->format == SMPFMT_STEREO8U;
  if (Stricmp(type, "mute") == 0) {
    std::memset(pcm.data(), unsignedFmt ? 128 : 0, pcm.size());
  } else if (Stricmp(type, "pcm") == 0) {
    if (vm_type(L, 4) != VM_TTABLE) return ERR_WRONGUSAGE;
    vm_pushstring(L, "data");
    vm_rawget(L, 4);
    if (vm_type(L, -1) != VM_TTABLE) return ERR_WRONGUSAGE;
    int t = vm_gettop(L);
    uint64_t values = uint64_t(frames) * c->channels;
    for (uint64_t i = 0; i < values; i++) {
      vm_rawgeti(L, t, int(i));
      bool number = vm_type(L, -1) == VM_TNUMBER;
      const int32_t v = number ? FieldToClampedInt32(L, "data", vm_tonumber(L, -1), INT32_MIN, INT32_MAX) : 0;
      vm_pop(L, 1);
      if (!number) break;
      StoreSampleValue(pcm.data(), c->format, i, v);
    }
  } else if (Stricmp(type, "sample") == 0) {
    if (vm_type(L, 4) != VM_TTABLE) return ERR_WRONGUSAGE;
    qmObjectId sid{};
    int found = 0;
    if (!GetFieldObjectId(L, 4, "id", &sid, &found)) return ERR_WRONGUSAGE;
    qmSample *s = FindSample(L, &sid);
    if (!s) return MissingObjectError(&sid, ERR_FINDSAMPLE);
    qmConvertOptions o;
    ReadConvertOptions(L, 4, &o);
    if (uint32_t code = ConvertSampleFrames(s->data, o, pcm.data(), c->format, false, uint32_t(frames), CommandCancel(L)))
      return code;
    int32_t freeIt = 0;
    GetFieldInt(L, 4, "free", &freeIt, &found);
    if (freeIt) FreeSampleRecord(L, s);
  } else {
    return ERR_WRONGUSAGE;
  }
  return QueueCustomBuffer(c, pcm.data(), uint32_t(frames));
}

namespace {

// A music channel that ended by itself: the music is no longer the playing one.
void MusicEnded(void *state, qmMixerChannel *ch) {
  auto *st = static_cast<qmSoundState *>(state);
  if (!st->playing || GetMixerChannel(&st->channels, st->playingChannel) != ch) return;
  st->playing->savedPass = 1;
  st->playing->paused = 0;
  if (st->playing->custom) ClearCustomStream(st->playing->stream->custom);
  st->playing = nullptr;
  st->playingChannel = -1;
}

}  // namespace
