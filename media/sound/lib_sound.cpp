// The "sound" library: samples, music streams and modules. The handlers check their arguments
// and call the engine: streams and decoders (sound_stream.h), the mixer channels
// (channels.h), the module player (module.h) and sample arithmetic (sample_ops.h).
#include "media/sound/lib_sound.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "runtime/attributes.h"
#include "display/position.h"
#include "io/fileobject.h"
#include "io/memblock.h"
#include "media/sound/channels.h"
#include "media/sound/custom_stream.h"
#include "media/sound/module.h"
#include "media/sound/sample_ops.h"
#include "media/sound/sound_state.h"
#include "media/sound/sound_stream.h"
#include "platform/audio.h"
#include "platform/file.h"
#include "platform/time.h"
#include "runtime/eventdispatch.h"
#include "runtime/polltimer.h"
#include "runtime/cmdargs.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/errreport.h"
#include "runtime/objdata.h"
#include "runtime/objlist.h"
#include "runtime/rttags.h"
#include "runtime/strutil.h"
#include "runtime/vm/vm_api.h"
#include "runtime/vnames.h"

namespace {

constexpr int32_t kMessageLoadingSample = 146;
constexpr int32_t kMessageLoadingMusic = 147;
constexpr uint32_t kModuleRate = 48000;

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

// ---- samples ----

qmSample *FindSample(VmState *L, const qmObjectId *id) {
  return reinterpret_cast<qmSample *>(FindObject(L, QMTYPE_SAMPLE, id));
}


void FreeSampleRecord(VmState *L, qmSample *s) {
  StopSampleChannels(ChannelsOf(L), s->data);
  RemoveObject(L, &s->header);
  FreeObjectDataList(L, static_cast<qmObjectData *>(s->header.userData));
  FreeSampleData(s->data);
  delete s;
}

// A numbered id that names a sample frees that sample first.
void FreeSampleWithId(VmState *L, const qmObjectId &id) {
  if (id.handle) return;
  if (qmSample *old = FindSample(L, &id)) FreeSampleRecord(L, old);
}

// A new record for the data (taken over): 0 or ERR_MEM (the data are freed then).
uint32_t AddSample(VmState *L, const qmObjectId &id, qmSampleData *d, qmSample **out) {
  auto *s = new (std::nothrow) qmSample{};
  if (!s) {
    FreeSampleData(d);
    return ERR_MEM;
  }
  SetObjectHeader(&s->header, QMTYPE_SAMPLE, &id);
  s->data = d;
  s->volume = 64;
  s->panning = 128;
  s->pitch = int32_t(d->rate);
  s->format = d->format;
  s->length = int32_t(d->frames * d->bytesPerFrame);
  if (uint32_t code = AddObject(L, &s->header)) {
    FreeSampleData(d);
    delete s;
    return code;
  }
  *out = s;
  return 0;
}

int32_t Clamp(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : v > hi ? hi : v; }

int32_t PanningValue(int32_t v) {
  if (v == POS_LEFT) return 0;
  if (v == POS_RIGHT) return 255;
  if (v == POS_CENTER) return 128;
  return Clamp(v, 0, 255);
}

int32_t VolumeArg(VmState *L, int i) {
  int percent = 0;
  return ArgToClampedInt32(L, i, GetNumberOrPercentArg(L, i, 64, 0, &percent), 0, 64);
}

uint32_t SndLoadSample(VmState *L) {
  CheckArgCount(L, 2, 2);
  qmObjectId id = GetNewObjectIdArg(L, 1);
  const char *name = ResolveLinkedFileArg(L, 2, 0, nullptr);
  if (!SoundDeviceReady(L)) return 0;
  FreeSampleWithId(L, id);
  qmFileHandle *f = FileOpen(name, FILE_MODE_READ);
  if (!f) {
    SetErrorArgument(vm_tostring(L, 2));
    return ERR_READFILE;
  }
  FileClose(f);
  PrintStatusMessage(GetErrorText(kMessageLoadingSample), vm_tostring(L, 2), 1);
  qmSampleData *d;
  if (uint32_t code = LoadSoundWhole(name, &d, GetPlayerContext(L)->formatPlugins)) return code;
  qmSample *s;
  if (uint32_t code = AddSample(L, id, d, &s)) return code;
  PrintDoneMessage();
  return PushNewId(L, id, s);
}

uint32_t SndFreeSample(VmState *L) {
  CheckArgCount(L, 1, 1);
  if (GetSoundState(L)->noSound) return 0;
  qmSample *s;
  if (uint32_t code = GetObjectArg(L, 1, QMTYPE_SAMPLE, ERR_FINDSAMPLE, &s)) return code;
  FreeSampleRecord(L, s);
  return 0;
}

uint32_t SndIsSound(VmState *L) {
  CheckArgCount(L, 0, 0);
  return PushNumber(L, SoundDeviceReady(L));
}

uint32_t SndIsSample(VmState *L) {
  CheckArgCount(L, 1, 1);
  return PushNumber(L, ProbeSampleFile(ResolveLinkedFileArg(L, 1, 0, nullptr), GetPlayerContext(L)->formatPlugins));
}

struct qmPlayRequest {
  qmSample *sample;
  qmObjectId id;
  int64_t time;
  uint32_t times;
  int32_t volume, panning, pitch;
};

// Keeps the dispatcher polling while channels play that will raise events.
void HoldPollTimer(VmState *L) {
  qmSoundState *st = GetSoundState(L);
  if (st->pollHeld) return;
  if (AcquirePollTimer(L, POLL_CLIENT_SOUND) == 0) st->pollHeld = true;
}

uint32_t SndPlaySample(VmState *L) {
  CheckArgCount(L, 1, VM_ANYARGS);
  if (!SoundDeviceReady(L)) return 0;
  int n = vm_gettop(L);
  int pairs = (n + 1) / 2;
  if (pairs > 4) return ERR_WRONGUSAGE;
  // Every pair is checked before a channel is claimed: a bad pair plays nothing.
  qmPlayRequest req[4];
  for (int p = 0; p < pairs; p++) {
    int a = 1 + 2 * p;
    qmPlayRequest &r = req[p];
    r = {nullptr, GetObjectIdArg(L, a), -1, 1, -1, -1, -1};
    if (a + 1 <= n && !vm_isnoneornil(L, a + 1)) {
      if (vm_type(L, a + 1) == VM_TTABLE) {
        int found = 0;
        double v;
        if (GetFieldNumber(L, a + 1, "time", &v, &found)) {
          if (v < 1) return ERR_WRONGUSAGE;
          r.time = FieldToInt64(L, "time", v);
        }
        if (GetFieldNumber(L, a + 1, "volume", &v, &found)) r.volume = FieldToClampedInt32(L, "volume", v, 0, 64);
        if (GetFieldNumber(L, a + 1, "panning", &v, &found)) r.panning = PanningValue(FieldToInt32(L, "panning", v));
        if (GetFieldNumber(L, a + 1, "times", &v, &found)) {
          r.times = FieldToUInt32(L, "times", v);
          r.time = -1;
        }
        if (GetFieldNumber(L, a + 1, "pitch", &v, &found)) r.pitch = FieldToInt32(L, "pitch", v);
      } else {
        r.times = vm_checkinteger(L, a + 1);
      }
    }
    r.sample = FindSample(L, &r.id);
    if (!r.sample) return MissingObjectError(&r.id, ERR_FINDSAMPLE);
    if (r.volume < 0) r.volume = r.sample->volume;
    if (r.panning < 0) r.panning = r.sample->panning;
    if (r.pitch < 0) r.pitch = r.sample->pitch;
    if (r.pitch < 256) return ERR_LOWFREQ;
  }
  UpdateAudioChannels(ChannelsOf(L));
  uint32_t code = 0;
  for (int p = 0; p < pairs && !code; p++) {
    qmPlayRequest &r = req[p];
    int index;
    qmObjectId id{r.sample->header.id, r.sample->header.handle};
    code = ClaimSampleChannel(ChannelsOf(L), r.sample->data, id, r.pitch, r.volume, r.panning, r.time, r.times, &index);
  }
  // The samples of one call start together; those before a failing pair keep playing.
  StartClaimedChannels(ChannelsOf(L));
  const qmSoundHandlers &handlers = ChannelsOf(L)->handlers;
  if (handlers.sampleEnd || handlers.sampleLoop) HoldPollTimer(L);
  return code;
}

uint32_t SndStopSample(VmState *L) {
  CheckArgCount(L, 1, 1);
  if (!GetSoundState(L)->deviceOpen) return 0;
  qmSample *s;
  if (uint32_t code = GetObjectArg(L, 1, QMTYPE_SAMPLE, ERR_FINDSAMPLE, &s)) return code;
  StopSampleChannels(ChannelsOf(L), s->data);
  return 0;
}

// 10 ms of a wait for the sound, with the event pump running where the player wired it: 0, or
// ERR_USERABORT on a quit.
uint32_t PauseForSound(VmState *L) {
  qmPlayerContext *ctx = GetPlayerContext(L);
  if (ctx && ctx->waitEvents) return ctx->waitEvents(L, 10);
  SleepMilliseconds(10);
  return 0;
}

uint32_t SndWaitSampleEnd(VmState *L) {
  CheckArgCount(L, 1, 1);
  if (!GetSoundState(L)->deviceOpen) return 0;
  qmSample *s;
  if (uint32_t code = GetObjectArg(L, 1, QMTYPE_SAMPLE, ERR_FINDSAMPLE, &s)) return code;
  for (;;) {
    UpdateAudioChannels(ChannelsOf(L));
    if (!SampleIsPlaying(ChannelsOf(L), s->data)) return 0;
    if (uint32_t code = PauseForSound(L)) return code;
  }
}

uint32_t SndIsSamplePlaying(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmSample *s;
  if (uint32_t code = GetObjectArg(L, 1, QMTYPE_SAMPLE, ERR_FINDSAMPLE, &s)) return code;
  if (!GetSoundState(L)->deviceOpen) return PushNumber(L, 0);
  UpdateAudioChannels(ChannelsOf(L));
  return PushNumber(L, SampleIsPlaying(ChannelsOf(L), s->data));
}

uint32_t SndSetVolume(VmState *L) {
  CheckArgCount(L, 2, 2);
  if (!GetSoundState(L)->deviceOpen) return 0;
  qmSample *s;
  if (uint32_t code = GetObjectArg(L, 1, QMTYPE_SAMPLE, ERR_FINDSAMPLE, &s)) return code;
  s->volume = VolumeArg(L, 2);
  SetSampleChannelParams(ChannelsOf(L), s->data, s->volume, -1);
  return 0;
}

uint32_t SndSetPanning(VmState *L) {
  CheckArgCount(L, 2, 2);
  if (!GetSoundState(L)->deviceOpen) return 0;
  qmSample *s;
  if (uint32_t code = GetObjectArg(L, 1, QMTYPE_SAMPLE, ERR_FINDSAMPLE, &s)) return code;
  s->panning = PanningValue(vm_checkint32(L, 2));
  SetSampleChannelParams(ChannelsOf(L), s->data, -1, s->panning);
  return 0;
}

uint32_t SndSetPitch(VmState *L) {
  CheckArgCount(L, 2, 2);
  if (!GetSoundState(L)->deviceOpen) return 0;
  qmSample *s;
  if (uint32_t code = GetObjectArg(L, 1, QMTYPE_SAMPLE, ERR_FINDSAMPLE, &s)) return code;
  int32_t pitch = vm_checkint32(L, 2);
  if (pitch < 256) return ERR_LOWFREQ;
  s->pitch = pitch;  // a playing channel keeps its rate
  return 0;
}

uint32_t SndSetMasterVolume(VmState *) { return 0; }

// The frames of a "file" or "memory" source: frames x bytes per frame bytes, optionally with
// the bytes of 16-bit values swapped.
void SwapPairs(uint8_t *p, size_t bytes) {
  for (size_t i = 0; i + 1 < bytes; i += 2) std::swap(p[i], p[i + 1]);
}

struct FreeBytes {
  void operator()(uint8_t *p) const { std::free(p); }
};
using SampleBytes = std::unique_ptr<uint8_t, FreeBytes>;

// The bytes of frames frames, worked out before anything is allocated: a sample's length in
// bytes is a signed 32-bit number, so more is refused (ERR_MEM) without trying; else 0 with
// *bytes set.
uint32_t SampleBytesOf(int64_t frames, uint32_t bytesPerFrame, size_t *bytes) {
  if (frames < 0 || uint64_t(frames) * bytesPerFrame > uint64_t(INT32_MAX)) return ERR_MEM;
  *bytes = size_t(uint64_t(frames) * bytesPerFrame);
  return 0;
}

// One buffer of the bytes (zeroed when asked), or nullptr without memory.
SampleBytes NewSampleBytes(size_t bytes, bool zeroed) {
  void *p = zeroed ? std::calloc(bytes ? bytes : 1, 1) : std::malloc(bytes ? bytes : 1);
  return SampleBytes(static_cast<uint8_t *>(p));
}

// A sample of the id over PCM data (malloc'd; the sample takes it, or it is freed): pushes the
// automatic id, if one was asked for.
uint32_t AddMemorySample(VmState *L, const qmObjectId &id, uint8_t *data, int32_t frames, int32_t rate,
                         int32_t format) {
  qmSampleData *d;
  if (CreateMemorySound(data, uint32_t(frames), uint32_t(rate), format, &d)) {
    std::free(data);
    return ERR_MEM;
  }
  qmSample *s;
  if (uint32_t code = AddSample(L, id, d, &s)) return code;
  return PushNewId(L, id, s);
}

uint32_t SndCreateSample(VmState *L) {
  CheckArgCount(L, 3, 5);
  qmObjectId id = GetNewObjectIdArg(L, 1);
  if (!SoundDeviceReady(L)) return 0;
  if (vm_type(L, 2) != VM_TTABLE) {
    SetErrorNumber(2);
    return ERR_TABEXPECTED;
  }
  int32_t rate = vm_checkint32(L, 3);
  int32_t format = ScriptTypeToFormat(vm_optint32(L, 4, SNDTYPE_MONO8));
  int32_t frames = vm_optint32(L, 5, 0);
  if (format < 0 || frames < 0) return ERR_WRONGUSAGE;
  if (rate < 256) return ERR_LOWFREQ;
  FreeSampleWithId(L, id);
  char source[16] = "pcm";
  int found = 0;
  GetFieldString(L, 2, "source", source, sizeof source, &found);
  uint32_t bpf = FormatBytesPerFrame(format);
  bool stereo = format == SMPFMT_STEREO8 || format == SMPFMT_STEREO16;
  bool sixteen = format == SMPFMT_MONO16 || format == SMPFMT_STEREO16;
  SampleBytes pcm;
  size_t bytes = 0;
  if (Stricmp(source, "pcm") == 0) {
    int64_t count = int64_t(frames) * (stereo ? 2 : 1);
    if (frames == 0) {
      count = 0;
      for (;; count++) {
        vm_rawgeti(L, 2, int(count));
        bool nil = vm_isnoneornil(L, -1);
        vm_pop(L, 1);
        if (nil) break;
      }
      if (count == 0 || (stereo && count % 2)) return ERR_WRONGUSAGE;
      if (stereo ? count / 2 > INT32_MAX : count > INT32_MAX) return ERR_MEM;
      frames = int32_t(stereo ? count / 2 : count);
    }
    if (uint32_t code = SampleBytesOf(frames, bpf, &bytes)) return code;
    pcm = NewSampleBytes(bytes, true);  // silence: every format here is signed
    if (!pcm) return ERR_MEM;
    int32_t lo = sixteen ? -32768 : -128, hi = sixteen ? 32767 : 127;
    // Only the table's own entries are visited: values the table lacks stay silent, so a
    // count far beyond the table costs the sound's memory, not a look-up per value.
    vm_pushnil(L);
    while (vm_next(L, 2)) {
      double key = vm_type(L, -2) == VM_TNUMBER ? vm_tonumber(L, -2) : -1;
      if (key >= 0 && key < double(count) && key == std::floor(key)) {
        const double v = vm_tonumber(L, -1);
        if (!(v > lo - 1 && v < hi + 1)) {  // truncated toward zero, as every value is
          vm_pop(L, 2);
          return ERR_SMPRANGE;
        }
        StoreSampleValue(pcm.get(), format, uint64_t(key), int32_t(v));
      }
      vm_pop(L, 1);
    }
  } else if (Stricmp(source, "file") == 0 || Stricmp(source, "memory") == 0) {
    bool file = Stricmp(source, "file") == 0;
    qmObjectId src{};
    if (frames <= 0 || !GetFieldObjectId(L, 2, "id", &src, &found)) return ERR_WRONGUSAGE;
    int32_t swap = 0, offset = 0;
    GetFieldInt(L, 2, "swap", &swap, &found);
    if (!file) GetFieldInt(L, 2, "offset", &offset, &found);
    if (uint32_t code = SampleBytesOf(frames, bpf, &bytes)) return code;
    pcm = NewSampleBytes(bytes, false);
    if (!pcm) return ERR_MEM;
    if (file) {
      qmFileObject *f = FindFileObject(ObjectRegistryOf(L), &src);
      if (!f) return MissingObjectError(&src, ERR_FINDFILE);
      if (f->access == FILE_MODE_WRITE) return ERR_WRITEONLY;
      FileSeek(f->file, int64_t(f->position), FILE_SEEK_START);
      uint64_t got = FileRead(f->file, pcm.get(), bytes);
      f->position += got;
      if (got < bytes) return ERR_READ;
    } else {
      if (offset < 0) return ERR_WRONGUSAGE;
      qmMemBlock *b = FindMemBlock(ObjectRegistryOf(L), &src);
      if (!b) return MissingObjectError(&src, ERR_FINDMEMBLK);
      if (int64_t(offset) + int64_t(bytes) > int64_t(b->size)) return ERR_MEMRANGE;
      std::memcpy(pcm.get(), b->buffer + offset, bytes);
    }
    if (swap && sixteen) SwapPairs(pcm.get(), bytes);
  } else {
    return ERR_WRONGUSAGE;
  }
  return AddMemorySample(L, id, pcm.release(), frames, rate, format);
}

uint32_t SndGetSampleData(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmSample *s;
  if (uint32_t code = GetObjectArg(L, 1, QMTYPE_SAMPLE, ERR_FINDSAMPLE, &s)) return code;
  const qmSampleData *d = s->data;
  vm_newtable(L);
  uint64_t values = uint64_t(d->frames) * d->channels;
  for (uint64_t i = 0; i < values; i++) {
    vm_pushnumber(L, SampleValue(d, i));
    vm_rawseti(L, -2, int(i));
  }
  vm_pushnumber(L, d->frames);
  return 2;
}

uint32_t SndMixSample(VmState *L) {
  CheckArgCount(L, 6, VM_ANYARGS);
  int n = vm_gettop(L);
  if ((n - 4) % 2) return ERR_WRONGUSAGE;
  qmObjectId id = GetNewObjectIdArg(L, 1);
  int32_t frames = vm_checkint32(L, 2);
  int32_t rate = vm_checkint32(L, 3);
  int32_t format = ScriptTypeToFormat(vm_checkint32(L, 4));
  if (format < 0 || frames < 0) return ERR_WRONGUSAGE;
  if (rate < 256) return ERR_LOWFREQ;
  std::vector<qmMixSource> sources;
  for (int a = 5; a < n; a += 2) {
    qmSample *s;
    if (uint32_t code = GetObjectArg(L, a, QMTYPE_SAMPLE, ERR_FINDSAMPLE, &s)) return code;
    vm_checktable(L, a + 1);
    qmMixSource m{s->data, double(s->pitch), 0, 0, -1, true, 1.0};
    int found = 0;
    double v;
    // Pitch and scale stay where a source's position and scaled values fit their integers.
    if (GetFieldNumber(L, a + 1, "pitch", &v, &found)) {
      if (!(v >= 1.0 && v <= 2147483647.0)) return ERR_WRONGUSAGE;
      m.pitch = v;
    }
    if (GetFieldNumber(L, a + 1, "offset", &v, &found)) {
      if (v < 0) return ERR_SMPRANGE;
      m.offset = FieldToInt64(L, "offset", v);
    }
    if (GetFieldNumber(L, a + 1, "threshold", &v, &found)) m.threshold = FieldToInt64(L, "threshold", v);
    if (GetFieldNumber(L, a + 1, "length", &v, &found)) m.length = FieldToInt64(L, "length", v);
    if (GetFieldNumber(L, a + 1, "loop", &v, &found)) m.loop = v != 0;
    if (GetFieldNumber(L, a + 1, "scale", &v, &found)) {
      if (!(std::fabs(v) <= 2147483647.0)) return ERR_WRONGUSAGE;
      m.scale = v;
    }
    sources.push_back(m);
  }
  // The sources are read before a sample of the same number is replaced.
  size_t bytes = 0;
  if (uint32_t code = SampleBytesOf(frames, FormatBytesPerFrame(format), &bytes)) return code;
  auto *data = static_cast<uint8_t *>(std::calloc(bytes ? bytes : 1, 1));
  if (!data) return ERR_MEM;
  if (uint32_t code = MixSampleSources(sources.data(), int(sources.size()), uint32_t(frames), uint32_t(rate), format,
                                       data, CommandCancel(L))) {
    std::free(data);
    return code;
  }
  FreeSampleWithId(L, id);
  return AddMemorySample(L, id, data, frames, rate, format);
}

uint32_t SndCopySample(VmState *L) {
  CheckArgCount(L, 2, 2);
  qmSample *src;
  if (uint32_t code = GetObjectArg(L, 1, QMTYPE_SAMPLE, ERR_FINDSAMPLE, &src)) return code;
  qmObjectId id = GetNewObjectIdArg(L, 2);
  if (!id.handle && !src->header.handle && id.id == src->header.id) return ERR_WRONGUSAGE;
  const qmSampleData *sd = src->data;
  size_t bytes = size_t(sd->frames) * sd->bytesPerFrame;
  auto *data = static_cast<uint8_t *>(std::malloc(bytes ? bytes : 1));
  auto *d = static_cast<qmSampleData *>(std::malloc(sizeof(qmSampleData)));
  if (!data || !d) {
    std::free(data);
    std::free(d);
    return ERR_MEM;
  }
  std::memcpy(data, sd->data, bytes);
  *d = *sd;
  d->data = data;
  FreeSampleWithId(L, id);
  qmSample *s;
  if (uint32_t code = AddSample(L, id, d, &s)) return code;
  s->volume = src->volume;
  s->pitch = src->pitch;
  s->panning = src->panning;
  qmObjectData *copy = nullptr;
  if (uint32_t code = CopyObjectDataList(L, static_cast<qmObjectData *>(src->header.userData), &copy)) {
    FreeSampleRecord(L, s);
    return code;
  }
  s->header.userData = copy;
  return PushNewId(L, id, s);
}

// The conversion options of an option table at index t (absent fields keep their defaults).
void ReadConvertOptions(VmState *L, int t, qmConvertOptions *o) {
  int found = 0;
  double v;
  if (GetFieldNumber(L, t, "loop", &v, &found)) o->loop = v != 0;
  if (GetFieldNumber(L, t, "offset", &v, &found)) o->offset = FieldToInt64(L, "offset", v);
  if (GetFieldNumber(L, t, "start", &v, &found)) o->start = FieldToInt64(L, "start", v);
  if (GetFieldNumber(L, t, "end", &v, &found)) o->end = FieldToInt64(L, "end", v);
}

uint32_t SndInsertSample(VmState *L) {
  CheckArgCount(L, 3, 5);
  qmObjectId tid = GetObjectIdArg(L, 1), sid = GetObjectIdArg(L, 2);
  if (tid.id == sid.id && tid.handle == sid.handle) return ERR_WRONGUSAGE;
  qmSample *target, *source;
  if (uint32_t code = GetObjectArg(L, 1, QMTYPE_SAMPLE, ERR_FINDSAMPLE, &target)) return code;
  if (uint32_t code = GetObjectArg(L, 2, QMTYPE_SAMPLE, ERR_FINDSAMPLE, &source)) return code;
  int64_t position = ArgToInt64(L, 3, vm_checknumber(L, 3));
  int64_t frames = ArgToInt64(L, 4, vm_optnumber(L, 4, 0));
  UpdateAudioChannels(ChannelsOf(L));
  if (SampleIsPlaying(ChannelsOf(L), target->data)) return ERR_MODIFYPSMP;
  qmSampleData *t = target->data;
  if (frames <= 0 || frames > int64_t(source->data->frames)) frames = source->data->frames;
  if (position < 0) position = 0;
  if (position > int64_t(t->frames)) position = t->frames;
  qmConvertOptions o;
  if (vm_type(L, 5) == VM_TTABLE) ReadConvertOptions(L, 5, &o);
  uint64_t total = t->frames + uint64_t(frames);
  if (total * t->bytesPerFrame > uint64_t(INT32_MAX)) return ERR_MEM;
  auto *data = static_cast<uint8_t *>(std::malloc(total * t->bytesPerFrame));
  if (!data) return ERR_MEM;
  size_t before = size_t(position) * t->bytesPerFrame;
  std::memcpy(data, t->data, before);
  if (uint32_t code = ConvertSampleFrames(source->data, o, data + before, t->format,
                                          (t->flags & AUDIOFMT_BIGENDIAN) != 0, uint32_t(frames), CommandCancel(L))) {
    std::free(data);
    return code;
  }
  std::memcpy(data + before + size_t(frames) * t->bytesPerFrame, t->data + before,
              size_t(t->frames) * t->bytesPerFrame - before);
  ReplaceSoundData(t, t->format, data, uint32_t(total), t->rate);
  target->length = int32_t(total * t->bytesPerFrame);
  return 0;
}

uint32_t SndSaveSample(VmState *L) {
  CheckArgCount(L, 2, 3);
  qmSample *s;
  if (uint32_t code = GetObjectArg(L, 1, QMTYPE_SAMPLE, ERR_FINDSAMPLE, &s)) return code;
  const char *name = vm_checkstring(L, 2, nullptr);
  int32_t format = vm_optint32(L, 3, 0);
  qmSampleData d = *s->data;
  d.rate = uint32_t(s->pitch);
  if (format == 0) return WriteWaveFile(name, &d);
  // Other numbers are the formats of sample-saver plug-ins.
  const qmFormatPlugins *plugins = GetPlayerContext(L)->formatPlugins;
  if (!plugins) return ERR_UNKNOWNSMPOUT;
  const qmSampleSaveRequest request = {d.data,     d.frames * d.bytesPerFrame, d.frames, d.channels, d.rate, d.bits,
                                       d.flags & (AUDIOFMT_BIGENDIAN | AUDIOFMT_SIGNED)};
  return plugins->saveSample(format, name, &request);
}

// ---- music ----

qmMusic *FindMusic(VmState *L, const qmObjectId *id) {
  return reinterpret_cast<qmMusic *>(FindObject(L, QMTYPE_MUSIC, id));
}


qmMixerChannel *PlayingChannel(qmSoundState *st) {
  return st->playing && st->playingChannel >= 0 ? GetMixerChannel(&st->channels, st->playingChannel) : nullptr;
}

void ReleaseSoundPoll(VmState *L) {
  qmSoundState *st = GetSoundState(L);
  if (st->pollHeld) ReleasePollTimer(L, POLL_CLIENT_SOUND);
  st->pollHeld = false;
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
  if (m == st->playing && st->playingChannel >= 0) SetChannelVolumePan(st->playingChannel, m->volume, 128);
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

// The playing module, or null.
qmModule *PlayingModule(VmState *L) {
  qmSoundState *st = GetSoundState(L);
  UpdateAudioChannels(ChannelsOf(L));
  qmMixerChannel *ch = PlayingChannel(st);
  return ch && ch->state.load() == CHAN_MODULE ? ch->module : nullptr;
}

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

uint32_t SndWaitPatternPosition(VmState *L) { return WaitModulePosition(L, false); }
uint32_t SndWaitSongPosition(VmState *L) { return WaitModulePosition(L, true); }

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
const qmEventSource kMusicBufferSource = {"musicbuffer", EVRANK_MUSICBUFFER, nullptr, PollMusicBuffer,
                                          FillMusicBufferMessage, MusicBufferDone};

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
