#include "media/sound/sample_ops.h"

#include "media/sound/sound_stream.h"
#include "runtime/errcodes.h"

int32_t SampleValue(const qmSampleData *d, uint64_t index) {
  if (d->bits == 8) {
    uint8_t b = d->data[index];
    return (d->flags & AUDIOFMT_SIGNED) ? int32_t(int8_t(b)) : int32_t(b) - 128;
  }
  const uint8_t *p = d->data + index * 2;
  uint16_t v = (d->flags & AUDIOFMT_BIGENDIAN) ? uint16_t(p[0] << 8 | p[1]) : uint16_t(p[1] << 8 | p[0]);
  return int16_t(v);
}

void StoreSampleValue(uint8_t *data, int32_t format, uint64_t index, int32_t value) {
  if (format == SMPFMT_MONO16 || format == SMPFMT_STEREO16) {
    data[index * 2] = uint8_t(value);
    data[index * 2 + 1] = uint8_t(uint32_t(value) >> 8);
  } else if (format == SMPFMT_MONO8U || format == SMPFMT_STEREO8U) {
    data[index] = uint8_t(value + 128);
  } else {
    data[index] = uint8_t(int8_t(value));
  }
}

uint32_t MixSampleSources(const qmMixSource *sources, int count, uint32_t frames, uint32_t rate, int32_t format,
                          uint8_t *out, const qmCancel &cancel) {
  struct Cursor {
    double position, step;
    int64_t contributed;
    bool silent;
  };
  Cursor cursors[64];
  if (count > 64) count = 64;
  for (int i = 0; i < count; i++)
    cursors[i] = {double(sources[i].offset), sources[i].pitch / rate, 0, false};
  bool stereoOut = format == SMPFMT_STEREO8 || format == SMPFMT_STEREO16;
  bool sixteen = format == SMPFMT_MONO16 || format == SMPFMT_STEREO16;
  for (uint64_t f = 0; f < frames; f++) {
    if (f % kFramesPerPoll == kFramesPerPoll - 1)
      if (uint32_t code = PollCancel(cancel)) return code;
    int64_t left = 0, right = 0;
    for (int i = 0; i < count; i++) {
      const qmMixSource &s = sources[i];
      Cursor &c = cursors[i];
      if (c.silent || int64_t(f) < s.threshold || (s.length >= 0 && c.contributed >= s.length)) continue;
      uint64_t n = s.data->frames;
      uint64_t at = uint64_t(c.position);
      if (at >= n) {
        if (!s.loop || n == 0) {
          c.silent = true;
          continue;
        }
        at %= n;
      }
      int64_t mul = s.data->bits == 8 ? 65536 : 256;
      int64_t l = int64_t(SampleValue(s.data, at * s.data->channels)) * mul;
      int64_t r = s.data->channels == 2 ? int64_t(SampleValue(s.data, at * 2 + 1)) * mul : l;
      if (s.scale != 1.0) {
        l = int64_t(double(l) * s.scale);
        r = int64_t(double(r) * s.scale);
      }
      left += l;
      right += r;
      c.position += c.step;
      c.contributed++;
    }
    auto clamp24 = [](int64_t v) { return v < -8388608 ? -8388608 : v > 8388607 ? 8388607 : v; };
    left = clamp24(left);
    right = clamp24(right);
    if (stereoOut) {
      int sh = sixteen ? 8 : 16;
      StoreSampleValue(out, format, f * 2, int32_t(left >> sh));
      StoreSampleValue(out, format, f * 2 + 1, int32_t(right >> sh));
    } else {
      StoreSampleValue(out, format, f, int32_t((left + right) >> (sixteen ? 9 : 17)));
    }
  }
  return 0;
}

uint32_t ConvertSampleFrames(const qmSampleData *src, const qmConvertOptions &o, uint8_t *dst, int32_t dstFormat,
                             bool bigEndian, uint32_t frames, const qmCancel &cancel) {
  int64_t end = o.end ? o.end : int64_t(src->frames);
  if (o.offset < 0 || o.start < 0 || o.end < 0 || o.end > int64_t(src->frames) || (o.end && o.start >= o.end))
    return ERR_SMPRANGE;
  int64_t window = end - o.start;
  bool stereoOut = dstFormat == SMPFMT_STEREO8 || dstFormat == SMPFMT_STEREO8U || dstFormat == SMPFMT_STEREO16;
  bool sixteen = dstFormat == SMPFMT_MONO16 || dstFormat == SMPFMT_STEREO16;
  int64_t counter = o.offset;
  for (uint64_t f = 0; f < frames; f++) {
    if (f % kFramesPerPoll == kFramesPerPoll - 1)
      if (uint32_t code = PollCancel(cancel)) return code;
    int32_t l = 0, r = 0;
    bool silent = window <= 0;
    if (!silent && counter >= window) {
      if (o.loop) counter %= window;
      else silent = true;
    }
    if (!silent) {
      uint64_t at = uint64_t(o.start + counter);
      l = SampleValue(src, at * src->channels);
      r = src->channels == 2 ? SampleValue(src, at * 2 + 1) : l;
      if (src->bits == 8) {
        l *= 256;
        r *= 256;
      }
      counter++;
    }
    uint64_t outs = stereoOut ? 2 : 1;
    int32_t values[2] = {l, r};
    for (uint64_t k = 0; k < outs; k++) {
      int32_t v = values[k];
      uint64_t index = f * outs + k;
      if (sixteen) {
        if (bigEndian) {
          dst[index * 2] = uint8_t(uint32_t(v) >> 8);
          dst[index * 2 + 1] = uint8_t(v);
        } else {
          StoreSampleValue(dst, dstFormat, index, v);
        }
      } else {
        StoreSampleValue(dst, dstFormat, index, v / 256);
      }
    }
  }
  return 0;
}
