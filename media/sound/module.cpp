#include "media/sound/module.h"

#include <cmath>
#include <cstring>

#include "runtime/errcodes.h"

namespace {

// The Protracker period table: three octaves for finetune 0; the other finetunes are the same
// notes tuned by 1/8 semitone per step (rows 0..7, then -8..-1), rounded.
constexpr int32_t kPeriods0[36] = {856, 808, 762, 720, 678, 640, 604, 570, 538, 508, 480, 453,
                                   428, 404, 381, 360, 339, 320, 302, 285, 269, 254, 240, 226,
                                   214, 202, 190, 180, 170, 160, 151, 143, 135, 127, 120, 113};
struct qmPeriodTable {
  int32_t row[16][36];
};

qmPeriodTable MakePeriods() {
  qmPeriodTable t{};
  for (int ft = 0; ft < 16; ft++) {
    int tune = ft < 8 ? ft : ft - 16;
    for (int n = 0; n < 36; n++)
      t.row[ft][n] = tune == 0 ? kPeriods0[n] : int32_t(std::lround(kPeriods0[n] * std::pow(2.0, -tune / 96.0)));
  }
  return t;
}

// Made once when the program loads, read only after.
const qmPeriodTable gPeriods = MakePeriods();

constexpr uint8_t kSine[32] = {0,   24,  49,  74,  97,  120, 141, 161, 180, 197, 212, 224, 235, 244, 250, 253,
                               255, 253, 250, 244, 235, 224, 212, 197, 180, 161, 141, 120, 97,  74,  49,  24};
constexpr uint8_t kFunk[16] = {0, 5, 6, 7, 8, 10, 11, 13, 16, 19, 22, 26, 32, 43, 64, 128};

int32_t Wave(int32_t wave, int32_t pos) {
  pos &= 63;
  switch (wave & 3) {
    case 0: return pos < 32 ? kSine[pos] : -int32_t(kSine[pos - 32]);
    case 2: return pos < 32 ? 255 : -255;
    default: return pos < 32 ? pos * 8 : pos * 8 - 512;
  }
}

int32_t Clamp(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : v > hi ? hi : v; }

int32_t NoteIndex(int32_t period) {
  for (int i = 0; i < 36; i++)
    if (period >= kPeriods0[i]) return i;
  return 35;
}

void SetStep(qmModule *m, qmModVoice *v, int32_t period) {
  v->period = period;
  uint64_t div = uint64_t(period) * m->internalRate / 50;
  v->step = period > 0 && div ? uint32_t(1172874197ull / div) : 0;
}

int32_t Finetune(const qmModule *m, const qmModVoice *v) {
  return v->sample ? m->samples[v->sample - 1].finetune : 0;
}

void Trigger(qmModule *m, qmModVoice *v, int32_t offsetBytes) {
  if (!v->sample) return;
  const qmModSample &s = m->samples[v->sample - 1];
  int64_t pos = int64_t(offsetBytes) << 14;
  if (pos >= int64_t(s.length)) pos = s.repeatLength > (2u << 14) ? int64_t(s.repeatStart) : -1;
  v->position = s.data ? pos : -1;
  if (!(v->vibWave & 4)) v->vibPos = 0;
  if (!(v->tremWave & 4)) v->tremPos = 0;
  v->pendingSample = 0;
}

void VolumeSlide(qmModVoice *v, const qmModCell &c) {
  if (c.high) v->baseVolume = Clamp(v->baseVolume + c.high, 0, 63);
  else v->baseVolume = Clamp(v->baseVolume - c.low, 0, 63);
  v->volume = v->baseVolume;
}

void TonePorta(qmModule *m, qmModVoice *v) {
  if (!v->targetPeriod) return;
  int32_t p = v->basePeriod;
  if (p < v->targetPeriod) p = p + v->portaSpeed > v->targetPeriod ? v->targetPeriod : p + v->portaSpeed;
  else if (p > v->targetPeriod) p = p - v->portaSpeed < v->targetPeriod ? v->targetPeriod : p - v->portaSpeed;
  v->basePeriod = p;
  if (v->glissando) p = gPeriods.row[Finetune(m, v)][NoteIndex(p)];
  SetStep(m, v, p);
}

void Vibrato(qmModule *m, qmModVoice *v) {
  int32_t delta = (Wave(v->vibWave, v->vibPos) * v->vibDepth) >> 7;
  SetStep(m, v, Clamp(v->basePeriod + delta, 113, 856));
  v->vibPos = (v->vibPos + v->vibSpeed) & 63;
}

void Tremolo(qmModVoice *v) {
  v->volume = Clamp(v->baseVolume + ((Wave(v->tremWave, v->tremPos) * v->tremDepth) >> 8), 0, 63);
  v->tremPos = (v->tremPos + v->tremSpeed) & 63;
}

void Funk(qmModule *m, qmModVoice *v) {
  if (!v->funkSpeed || !v->sample) return;
  v->funkCounter += kFunk[v->funkSpeed];
  if (v->funkCounter < 128) return;
  v->funkCounter = 0;
  const qmModSample &s = m->samples[v->sample - 1];
  uint32_t start = s.repeatStart >> 14, len = s.repeatLength >> 14;
  if (len < 2 || !s.data) return;
  v->funkOffset = (v->funkOffset + 1) % int32_t(len);
  auto *p = const_cast<int8_t *>(s.data) + start + v->funkOffset;
  *p = int8_t(-1 - *p);
}

// The row's first tick: sample, note and the effects of tick 0.
void ReadCell(qmModule *m, qmModVoice *v, const qmModCell &c) {
  v->cell = c;
  v->retrig = v->cutTick = v->delayTick = -1;
  if (c.sample >= 1 && c.sample <= 31) {
    const qmModSample &s = m->samples[c.sample - 1];
    v->baseVolume = v->volume = s.volume;
    if (!c.period && v->sample && int32_t(c.sample) != v->sample) v->pendingSample = int32_t(c.sample);
    else v->sample = int32_t(c.sample);
  }
  if (v->period != v->basePeriod) SetStep(m, v, v->basePeriod);  // the previous row's vibrato ends
  if (c.period) {
    if (c.effect == 0xE && c.high == 5) m->samples[v->sample ? v->sample - 1 : 0].finetune = c.low;
    int32_t note = NoteIndex(int32_t(c.period));
    int32_t period = gPeriods.row[Finetune(m, v)][note];
    if (c.effect == 3 || c.effect == 5) {
      v->targetPeriod = period;
    } else if (c.effect == 0xE && c.high == 0xD && c.low) {
      v->delayTick = c.low;
      v->note = note;
      v->targetPeriod = period;
    } else {
      v->note = note;
      v->basePeriod = period;
      SetStep(m, v, period);
      int32_t offset = 0;
      if (c.effect == 9) {
        if (c.param) v->lastOffset = c.param;
        offset = v->lastOffset * 256;
      }
      Trigger(m, v, offset);
    }
  }
  switch (c.effect) {
    case 3:
      if (c.param) v->portaSpeed = c.param;
      break;
    case 4:
      if (c.high) v->vibSpeed = c.high;
      if (c.low) v->vibDepth = c.low;
      break;
    case 7:
      if (c.high) v->tremSpeed = c.high;
      if (c.low) v->tremDepth = 2 * c.low;
      break;
    case 0xB:
      if (int32_t(c.param) <= m->songPos) m->flags |= MODFLAG_SONGEND;
      m->breakRow = 0;
      m->jumpPending = 1;
      m->breakPending = int32_t(c.param) + 1;  // the position, plus one so that 0 is "none"
      break;
    case 0xC: v->baseVolume = v->volume = c.param >= 64 ? 63 : c.param; break;
    case 0xD: {
      int32_t r = c.high * 10 + c.low;
      m->breakRow = r > 63 ? 0 : r;
      m->jumpPending = 1;
      break;
    }
    case 0xF:
      if (c.param == 0) m->flags |= MODFLAG_SONGEND;
      else if (c.param < 32) m->speed = c.param;
      else {
        m->tempo = c.param;
        m->samplesPerTick = m->internalRate * 60 / (uint32_t(m->tempo) * 24);
      }
      break;
    case 0xE:
      switch (c.high) {
        case 0:
          if (m->flags & MODFLAG_FILTERALLOWED) m->filterOn = c.low == 0;
          break;
        case 1: v->basePeriod = Clamp(v->basePeriod - c.low, 113, 856); SetStep(m, v, v->basePeriod); break;
        case 2: v->basePeriod = Clamp(v->basePeriod + c.low, 113, 856); SetStep(m, v, v->basePeriod); break;
        case 3: v->glissando = c.low; break;
        case 4: v->vibWave = c.low; break;
        case 6:
          if (c.low == 0) v->loopRow = m->row;
          else if (v->loopCount == 0) {
            v->loopCount = c.low;
            m->breakRow = v->loopRow;
            m->breakPending = -1;  // a jump within the pattern
          } else if (--v->loopCount > 0) {
            m->breakRow = v->loopRow;
            m->breakPending = -1;
          }
          break;
        case 7: v->tremWave = c.low; break;
        case 9: v->retrig = c.low; break;
        case 0xA: v->baseVolume = v->volume = Clamp(v->baseVolume + c.low, 0, 63); break;
        case 0xB: v->baseVolume = v->volume = Clamp(v->baseVolume - c.low, 0, 63); break;
        case 0xC:
          v->cutTick = c.low;
          if (c.low == 0) v->baseVolume = v->volume = 0;
          break;
        case 0xE:
          if (m->patternDelayRows == 0) m->patternDelay = c.low + 1;  // the row plays x + 1 times
          break;
        case 0xF:
          v->funkSpeed = c.low;
          Funk(m, v);
          break;
      }
      break;
  }
}

// The other ticks of a row.
void TickEffects(qmModule *m, qmModVoice *v) {
  const qmModCell &c = v->cell;
  switch (c.effect) {
    case 0:
      if (c.param) {
        int32_t add = m->tick % 3 == 1 ? c.high : m->tick % 3 == 2 ? c.low : 0;
        SetStep(m, v, gPeriods.row[Finetune(m, v)][Clamp(NoteIndex(v->basePeriod) + add, 0, 35)]);
      }
      break;
    case 1: v->basePeriod = Clamp(v->basePeriod - c.param, 113, 856); SetStep(m, v, v->basePeriod); break;
    case 2: v->basePeriod = Clamp(v->basePeriod + c.param, 113, 856); SetStep(m, v, v->basePeriod); break;
    case 3: TonePorta(m, v); break;
    case 4: Vibrato(m, v); break;
    case 5: TonePorta(m, v); VolumeSlide(v, c); break;
    case 6: Vibrato(m, v); VolumeSlide(v, c); break;
    case 7: Tremolo(v); break;
    case 0xA: VolumeSlide(v, c); break;
    case 0xE:
      if (c.high == 9 && v->retrig > 0 && m->tick % v->retrig == 0) Trigger(m, v, 0);
      if (c.high == 0xC && m->tick == v->cutTick) v->baseVolume = v->volume = 0;
      if (c.high == 0xD && m->tick == v->delayTick && v->targetPeriod) {
        v->basePeriod = v->targetPeriod;
        SetStep(m, v, v->basePeriod);
        Trigger(m, v, 0);
      }
      break;
  }
  Funk(m, v);
}

void NextPosition(qmModule *m) {
  m->songPos++;
  if (m->songPos >= int32_t(m->songLength) || m->songPos > 127) m->songPos = 0;
}

void ProcessTick(qmModule *m) {
  if (m->tick == 0 && m->patternDelayRows == 0) {
    const qmModCell *row = &m->cells[(size_t(m->order[m->songPos]) * 64 + size_t(m->row)) * 4];
    for (int i = 0; i < 4; i++) ReadCell(m, &m->voices[i], row[i]);
  } else {
    for (qmModVoice &v : m->voices) TickEffects(m, &v);
  }
  m->reportedPos.store(m->songPos, std::memory_order_relaxed);
  m->reportedRow.store(m->row, std::memory_order_relaxed);
  if (++m->tick < m->speed) return;
  m->tick = 0;
  // The row ends: pattern delay, loops, breaks and jumps.
  if (m->patternDelay) {
    m->patternDelayRows = m->patternDelay;
    m->patternDelay = 0;
  }
  if (m->patternDelayRows && --m->patternDelayRows > 0) return;  // the row plays again
  m->patternDelayRows = 0;
  if (m->breakPending == -1) {  // pattern loop
    m->row = m->breakRow;
    m->breakPending = 0;
    m->breakRow = 0;
    return;
  }
  if (m->jumpPending) {
    if (m->breakPending > 0) {
      m->songPos = m->breakPending - 1;
      if (m->songPos >= int32_t(m->songLength)) m->songPos = 0;
    } else {
      NextPosition(m);
    }
    m->row = m->breakRow;
    m->jumpPending = m->breakPending = m->breakRow = 0;
    for (qmModVoice &v : m->voices) v.loopRow = 0;
    return;
  }
  if (++m->row > 63) {
    m->row = 0;
    NextPosition(m);
    for (qmModVoice &v : m->voices) v.loopRow = 0;
  }
}

// Mixes n internal samples of one voice into the sums. The end and loop checks run once per
// stretch of samples that cannot reach them, not once per sample.
void MixVoiceSpan(qmModule *m, qmModVoice *v, int32_t *left, int32_t *right, uint32_t n) {
  uint32_t i = 0;
  while (i < n) {
    if (v->position < 0 || !v->sample) return;
    const qmModSample *s = &m->samples[v->sample - 1];
    bool loops = s->repeatLength > (2u << 14);
    int64_t end = loops ? int64_t(s->loopEnd) : int64_t(s->length);
    if (v->position >= end) {
      if (!loops) {
        v->position = -1;
        return;
      }
      v->position -= s->repeatLength;
      if (v->pendingSample) {
        v->sample = v->pendingSample;
        v->pendingSample = 0;
        s = &m->samples[v->sample - 1];
        if (!s->data || s->length == 0) {
          v->position = -1;
          return;
        }
        v->position = s->repeatLength > (2u << 14) ? int64_t(s->repeatStart) : 0;
      }
      if (v->position < 0 || v->position >= int64_t(s->length)) v->position = s->repeatStart;
      continue;
    }
    uint32_t step = v->step;
    uint64_t run = step ? (uint64_t(end - v->position) + step - 1) / step : n - i;
    if (run > n - i) run = n - i;
    const int8_t *d = s->data;
    int64_t pos = v->position;
    int32_t vl = v->volume * (255 - v->pan), vr = v->volume * v->pan;
    int32_t *l = left + i, *r = right + i;
    // The voices sit hard left or right: a side with a factor of 0 is not summed.
    if (vr == 0) {
      for (uint64_t k = 0; k < run; k++, pos += step) l[k] += d[pos >> 14] * vl;
    } else if (vl == 0) {
      for (uint64_t k = 0; k < run; k++, pos += step) r[k] += d[pos >> 14] * vr;
    } else {
      for (uint64_t k = 0; k < run; k++, pos += step) {
        int32_t x = d[pos >> 14];
        l[k] += x * vl;
        r[k] += x * vr;
      }
    }
    v->position = pos;
    i += uint32_t(run);
  }
}

int32_t Filter(qmModule *m, int side, int32_t x) {
  double *h = m->history[side];
  double y1 = m->filterG * (x + h[0]) + m->filterK * h[1];
  h[0] = x;
  h[1] = y1;
  double y2 = m->filterG * (y1 + h[2]) + m->filterK * h[3];
  h[2] = y1;
  h[3] = y2;
  return int32_t(y2);
}

}  // namespace

bool IsModuleImage(const uint8_t *image, size_t size) {
  return size >= 1084 && std::memcmp(image + 1080, "M.K.", 4) == 0;
}

uint32_t InitModule(qmModule *m, const uint8_t *image, size_t size, uint32_t outputRate) {
  if (!IsModuleImage(image, size)) return ERR_UNKNOWNMUSFMT;
  uint32_t patterns = 0;
  for (int i = 0; i < 128; i++)
    if (image[952 + i] + 1u > patterns) patterns = image[952 + i] + 1u;
  size_t need = 1084 + size_t(patterns) * 1024;
  uint32_t songLength = image[950];
  if (size < need || songLength < 1 || songLength > 128) return ERR_UNKNOWNMUSFMT;
  try {
    m->image.assign(image, image + size);
    m->cells.assign(size_t(patterns) * 256, qmModCell{});
  } catch (...) {
    return ERR_MEM;
  }
  m->outputRate = outputRate;
  RestartModule(m);
  return 0;
}

void RestartModule(qmModule *m) {
  const uint8_t *p = m->image.data();
  size_t size = m->image.size();
  std::memcpy(m->title, p, 20);
  m->title[20] = 0;
  m->patterns = uint32_t(m->cells.size() / 256);
  m->songLength = p[950];
  std::memcpy(m->order, p + 952, 128);
  for (qmModVoice &v : m->voices) v = qmModVoice{};
  for (qmModVoice &v : m->voices) v.position = -1;
  m->voices[1].pan = m->voices[2].pan = 255;
  m->masterVolume = 256;
  m->flags = MODFLAG_FILTERALLOWED;
  m->internalRate = 2 * m->outputRate;
  double a = std::atan(12566.370614359172 / m->outputRate);
  m->filterA = a;
  m->filterK = (1 - a) / (1 + a);
  m->filterG = (1 - m->filterK) / 2;
  std::memset(m->history, 0, sizeof m->history);
  size_t dataAt = 1084 + size_t(m->patterns) * 1024;
  for (int i = 0; i < 31; i++) {
    const uint8_t *h = p + 20 + 30 * i;
    qmModSample &s = m->samples[i];
    std::memcpy(s.name, h, 22);
    s.name[22] = 0;
    uint32_t length = 2u * (uint32_t(h[22]) << 8 | h[23]);
    s.finetune = h[24] & 15;
    s.volume = h[25] >= 64 ? 63 : h[25];
    uint32_t repStart = 2u * (uint32_t(h[26]) << 8 | h[27]);
    uint32_t repLength = 2u * (uint32_t(h[28]) << 8 | h[29]);
    // Cut at the file's end; the loop stays within what is left of the sample.
    if (dataAt >= size) length = 0;
    else if (length > size - dataAt) length = uint32_t(size - dataAt);
    if (repStart > length) repStart = length;
    if (repStart + repLength > length) repLength = length - repStart;
    s.data = length ? reinterpret_cast<const int8_t *>(p + dataAt) : nullptr;
    s.length = length << 14;
    s.repeatStart = repStart << 14;
    s.repeatLength = repLength << 14;
    s.loopEnd = (repStart + repLength) << 14;
    dataAt += 2u * (uint32_t(h[22]) << 8 | h[23]);
  }
  for (size_t c = 0; c < m->cells.size(); c++) {
    const uint8_t *b = p + 1084 + c * 4;
    qmModCell &cell = m->cells[c];
    cell.period = uint32_t(b[0] & 0x0F) << 8 | b[1];
    cell.sample = (b[0] & 0xF0) | (b[2] >> 4);
    cell.effect = b[2] & 0x0F;
    cell.param = b[3];
    cell.high = b[3] >> 4;
    cell.low = b[3] & 0x0F;
  }
  m->speed = 6;
  m->tempo = 125;
  m->songPos = m->row = 0;
  m->samplesPerTick = m->internalRate / 50;
  m->tickSamplesLeft = 0;
  m->tick = 0;
  m->patternDelay = m->patternDelayRows = 0;
  m->breakRow = m->breakPending = m->jumpPending = 0;
  m->filterOn = 0;
  m->endCount = 0;
  m->requestedPos = -1;
  m->reportedPos = 0;
  m->reportedRow = 0;
}

uint32_t ModuleFramesToNextTick(const qmModule *m) { return (m->tickSamplesLeft + 1) / 2; }

uint32_t RequestModulePosition(qmModule *m, int32_t pos) {
  if (pos < 0 || pos >= int32_t(m->songLength)) return ERR_WRONGUSAGE;
  m->requestedPos = pos;
  return 0;
}

void RenderModuleAudio(qmModule *m, int16_t *out, uint32_t frames) {
  int32_t want = m->requestedPos.exchange(-1);
  if (want >= 0 && want < int32_t(m->songLength)) {
    m->songPos = want;
    m->row = 0;
    m->tick = 0;
    m->patternDelayRows = m->patternDelay = 0;
    m->breakPending = m->jumpPending = 0;
    m->tickSamplesLeft = 0;
  }
  // Two internal samples make one frame; a tick may end between them.
  int32_t carry[2] = {0, 0};
  bool half = false;
  uint32_t f = 0;
  while (f < frames) {
    if (m->tickSamplesLeft == 0) {
      ProcessTick(m);
      m->tickSamplesLeft = m->samplesPerTick;
    }
    uint32_t n = 2 * (frames - f) - (half ? 1 : 0);
    if (n > m->tickSamplesLeft) n = m->tickSamplesLeft;
    if (n > kModuleSpan) n = kModuleSpan;
    std::memset(m->mixLeft, 0, sizeof(int32_t) * n);
    std::memset(m->mixRight, 0, sizeof(int32_t) * n);
    for (qmModVoice &v : m->voices) MixVoiceSpan(m, &v, m->mixLeft, m->mixRight, n);
    m->tickSamplesLeft -= n;
    auto side = [m](int which, int32_t sum) {
      int32_t v = sum >> 7;
      if (m->filterOn) v = Filter(m, which, v);
      return Clamp(v, -32768, 32767);
    };
    auto put = [&](int32_t l, int32_t r) {
      out[2 * f] = int16_t(Clamp((l * m->masterVolume) >> 9, -32768, 32767));
      out[2 * f + 1] = int16_t(Clamp((r * m->masterVolume) >> 9, -32768, 32767));
      f++;
    };
    uint32_t k = 0;
    if (half && n > 0) {
      put(carry[0] + side(0, m->mixLeft[0]), carry[1] + side(1, m->mixRight[0]));
      half = false;
      k = 1;
    }
    for (; k + 1 < n; k += 2) {
      int32_t l = side(0, m->mixLeft[k]);
      int32_t r = side(1, m->mixRight[k]);
      put(l + side(0, m->mixLeft[k + 1]), r + side(1, m->mixRight[k + 1]));
    }
    if (k < n) {
      carry[0] = side(0, m->mixLeft[k]);
      carry[1] = side(1, m->mixRight[k]);
      half = true;
    }
  }
}
