// The sound library's sample commands: loading, making and changing samples, playing them on
// the mixer channels and saving them.
#include "media/sound/sample_commands.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "display/position.h"
#include "io/fileobject.h"
#include "io/memblock.h"
#include "media/sound/channels.h"
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
#include "runtime/objdata.h"
#include "runtime/objlist.h"
#include "runtime/rttags.h"
#include "runtime/strutil.h"
#include "runtime/vm/vm_api.h"
#include "runtime/vnames.h"

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

namespace {

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

}  // namespace

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

namespace {

struct qmPlayRequest {
  qmSample *sample;
  qmObjectId id;
  int64_t time;
  uint32_t times;
  int32_t volume, panning, pitch;
};

}  // namespace

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

namespace {

// The frames of a "file" or "memory" source: frames x bytes per frame bytes, optionally with
// the bytes of 16-bit values swapped.
void SwapPairs(uint8_t *p, size_t bytes) {
  for (size_t i = 0; i + 1 < bytes; i += 2) std::swap(p[i], p[i + 1]);
}

struct FreeBytes {
  void operator()(uint8_t *p) const { std::free(p); }
};

using SampleBytes = std::unique_ptr<uint8_t, FreeBytes>;

}  // namespace

// The bytes of frames frames, worked out before anything is allocated: a sample's length in
// bytes is a signed 32-bit number, so more is refused (ERR_MEM) without trying; else 0 with
// *bytes set.
uint32_t SampleBytesOf(int64_t frames, uint32_t bytesPerFrame, size_t *bytes) {
  if (frames < 0 || uint64_t(frames) * bytesPerFrame > uint64_t(INT32_MAX)) return ERR_MEM;
  *bytes = size_t(uint64_t(frames) * bytesPerFrame);
  return 0;
}

namespace {

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

}  // namespace

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
