// The video engine's FFmpeg back end: libavformat reads the packets, libavcodec decodes them,
// libswscale turns pictures into 32-bit pixels at the engine's size and libswresample turns
// sound into signed 16-bit interleaved frames. Seeks are in milliseconds.
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "media/videocore/videosource.h"
#include "platform/avlibrary.h"

namespace {

struct FFSource {
  AVFormatContext *format;
  int videoIndex, audioIndex;
  AVCodecContext *video, *audio;
  AVFrame *frame;       // pictures
  AVFrame *soundFrame;  // sound, decoded on another thread than the pictures
  SwsContext *scaler;
  // The scaler's own picture, at the size last asked for: libswscale writes past the end of a
  // row on some conversions (a 24-bit source to A, R, G, B writes a byte beyond the last
  // pixel), so it never writes into the engine's picture, which is exactly its size.
  uint8_t *scaled;
  int32_t scaledWidth, scaledHeight, scaledBytesPerRow;
  SwrContext *resampler;
  uint32_t outChannels;
  int outRate;
  // What the resampler takes: a decoder may change its sound's layout or rate on the way, and
  // the resampler reads as many planes as it was set up for.
  int inFormat, inRate, inChannels;
  const AVPacket *audioSent;  // the sound packet handed to the decoder last
  int videoDrained;           // the end of the file was handed to the picture decoder
  int drainSent;
  int64_t skipBefore;  // after a seek: pictures before this time (stream units) are not shown
  double frameSeconds;
};

double Seconds(int64_t ts, AVRational base) {
  return ts == AV_NOPTS_VALUE ? -1.0 : double(ts) * av_q2d(base);
}

AVCodecContext *OpenDecoder(AVStream *st) {
  const qmAvFunctions &av = *AvLibrary();  // loaded: the source was opened through it
  const AVCodec *codec = av.avcodec_find_decoder(st->codecpar->codec_id);
  if (!codec) return nullptr;
  AVCodecContext *c = av.avcodec_alloc_context3(codec);
  if (!c) return nullptr;
  c->thread_count = 1;  // the engine's own threads overlap the work
  if (av.avcodec_parameters_to_context(c, st->codecpar) < 0 || av.avcodec_open2(c, codec, nullptr) < 0) {
    av.avcodec_free_context(&c);
    return nullptr;
  }
  return c;
}

void CloseSource(void *h) {
  FFSource *s = static_cast<FFSource *>(h);
  if (!s) return;
  const qmAvFunctions &av = *AvLibrary();  // loaded: the source was opened through it
  av.sws_freeContext(s->scaler);
  std::free(s->scaled);
  av.swr_free(&s->resampler);
  av.av_frame_free(&s->frame);
  av.av_frame_free(&s->soundFrame);
  av.avcodec_free_context(&s->video);
  av.avcodec_free_context(&s->audio);
  av.avformat_close_input(&s->format);
  delete s;
}

// The resampler from sound of this layout, format and rate to the output's: 0, or -1.
int SetUpResampler(FFSource *s, AVChannelLayout *layout, int format, int rate) {
  const qmAvFunctions &av = *AvLibrary();  // loaded: the source was opened through it
  s->inFormat = s->inRate = s->inChannels = -1;
  if (layout->nb_channels < 1 || rate < 1 || format < 0) return -1;
  AVChannelLayout outLayout;
  av.av_channel_layout_default(&outLayout, int(s->outChannels));
  int r = av.swr_alloc_set_opts2(&s->resampler, &outLayout, AV_SAMPLE_FMT_S16, s->outRate, layout,
                                 AVSampleFormat(format), rate, 0, nullptr);
  av.av_channel_layout_uninit(&outLayout);
  if (r < 0 || av.swr_init(s->resampler) < 0) return -1;
  s->inFormat = format;
  s->inRate = rate;
  s->inChannels = layout->nb_channels;
  return 0;
}

bool OpenAudio(FFSource *s, qmVideoInfo *info) {
  AVStream *st = s->format->streams[s->audioIndex];
  s->audio = OpenDecoder(st);
  if (!s->audio || s->audio->sample_rate < 1 || s->audio->ch_layout.nb_channels < 1) return false;
  s->outChannels = s->audio->ch_layout.nb_channels >= 2 ? 2 : 1;
  s->outRate = s->audio->sample_rate;
  if (SetUpResampler(s, &s->audio->ch_layout, s->audio->sample_fmt, s->audio->sample_rate)) return false;
  info->sampleRate = uint32_t(s->audio->sample_rate);
  info->channels = s->outChannels;
  return true;
}

void *OpenSource(const char *path, qmVideoInfo *info) {
  const qmAvFunctions *loaded = AvLibrary();
  if (!loaded) return nullptr;  // FFmpeg is not installed: no file opens through it
  const qmAvFunctions &av = *loaded;
  FFSource *s = new (std::nothrow) FFSource{};
  if (!s) return nullptr;
  s->videoIndex = s->audioIndex = -1;
  if (av.avformat_open_input(&s->format, path, nullptr, nullptr) < 0) {
    delete s;
    return nullptr;
  }
  if (av.avformat_find_stream_info(s->format, nullptr) < 0) return CloseSource(s), nullptr;
  s->videoIndex = av.av_find_best_stream(s->format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (s->videoIndex < 0) return CloseSource(s), nullptr;
  AVStream *vs = s->format->streams[s->videoIndex];
  if (vs->disposition & AV_DISPOSITION_ATTACHED_PIC) return CloseSource(s), nullptr;
  s->video = OpenDecoder(vs);
  s->frame = av.av_frame_alloc();
  s->soundFrame = av.av_frame_alloc();
  if (!s->video || !s->frame || !s->soundFrame || s->video->width < 1 || s->video->height < 1) return CloseSource(s), nullptr;
  s->audioIndex = av.av_find_best_stream(s->format, AVMEDIA_TYPE_AUDIO, -1, s->videoIndex, nullptr, 0);
  if (s->audioIndex >= 0 && !OpenAudio(s, info)) {
    // A sound track we cannot decode: the picture plays silent.
    av.avcodec_free_context(&s->audio);
    av.swr_free(&s->resampler);
    s->audioIndex = -1;
    info->sampleRate = info->channels = 0;
  }
  for (unsigned i = 0; i < s->format->nb_streams; i++)
    if (int(i) != s->videoIndex && int(i) != s->audioIndex) s->format->streams[i]->discard = AVDISCARD_ALL;
  info->width = s->video->width;
  info->height = s->video->height;
  int64_t d = s->format->duration;
  if (d == AV_NOPTS_VALUE || d < 0) d = vs->duration == AV_NOPTS_VALUE ? 0 : av.av_rescale_q(vs->duration, vs->time_base, AV_TIME_BASE_Q);
  int64_t ms = d / 1000;
  info->duration = uint32_t(ms > int64_t(UINT32_MAX) ? UINT32_MAX : ms);
  info->seekStream = 0;
  info->seekUnits = 1000;
  info->pixelFrames = 1;
  info->flags = (s->format->pb && (s->format->pb->seekable & AVIO_SEEKABLE_NORMAL)) ? uint32_t(VIDEOINFO_SEEKABLE) : 0u;
  AVRational rate = vs->avg_frame_rate.num > 0 ? vs->avg_frame_rate : vs->r_frame_rate;
  s->frameSeconds = rate.num > 0 && rate.den > 0 ? av_q2d(av_inv_q(rate)) : 0.0;
  info->frameDuration = s->frameSeconds;
  s->skipBefore = AV_NOPTS_VALUE;
  return s;
}

int NextPacket(void *h, qmVideoPacket *p) {
  const qmAvFunctions &av = *AvLibrary();  // loaded: the source was opened through it
  FFSource *s = static_cast<FFSource *>(h);
  AVPacket *pkt = av.av_packet_alloc();
  if (!pkt) return -2;
  for (;;) {
    int r = av.av_read_frame(s->format, pkt);
    if (r < 0) {
      // The end: empty packets drain the pictures the decoder still holds.
      if (s->videoDrained) {
        av.av_packet_free(&pkt);
        return -1;
      }
      *p = {pkt, 0, 0, -1.0};
      return 0;
    }
    if (pkt->stream_index == s->videoIndex || pkt->stream_index == s->audioIndex) break;
    av.av_packet_unref(pkt);
  }
  AVStream *st = s->format->streams[pkt->stream_index];
  p->data = pkt;
  p->stream = pkt->stream_index == s->videoIndex ? 0 : 1;
  p->size = uint32_t(pkt->size);
  p->timeStamp = Seconds(pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts, st->time_base);
  return 0;
}

void FreePacket(void *h, qmVideoPacket *p) {
  const qmAvFunctions &av = *AvLibrary();  // loaded: the source was opened through it
  FFSource *s = static_cast<FFSource *>(h);
  AVPacket *pkt = static_cast<AVPacket *>(p->data);
  // The next packet may be given the same address: it must still reach the decoder.
  if (s && s->audioSent == pkt) s->audioSent = nullptr;
  av.av_packet_free(&pkt);
  p->data = nullptr;
}

// Slack after the scaler's picture and the alignment of its rows, in bytes: more than any
// conversion writes past its end, and the alignment its vector code asks for.
constexpr int64_t kScaledSlack = 64;

// The scaler's picture at width x height: 0, or -1 without memory (or for a size whose rows
// do not fit an int).
int EnsureScaledPicture(FFSource *s, int32_t width, int32_t height) {
  if (s->scaled && s->scaledWidth == width && s->scaledHeight == height) return 0;
  std::free(s->scaled);
  s->scaled = nullptr;
  s->scaledWidth = s->scaledHeight = s->scaledBytesPerRow = 0;
  if (width < 1 || height < 1) return -1;
  const int64_t row = (int64_t(width) * 4 + kScaledSlack - 1) / kScaledSlack * kScaledSlack;
  if (row > INT32_MAX) return -1;
  const int64_t bytes = row * height + kScaledSlack;
  // Not FFmpeg's allocator: its bound on one allocation is for what files ask for, and the
  // rectangle a script plays a video in may be larger.
  s->scaled = static_cast<uint8_t *>(std::aligned_alloc(size_t(kScaledSlack), size_t(bytes)));
  if (!s->scaled) return -1;
  s->scaledWidth = width;
  s->scaledHeight = height;
  s->scaledBytesPerRow = int32_t(row);
  return 0;
}

int ReceivePicture(FFSource *s, qmDecodedFrame *f) {
  const qmAvFunctions &av = *AvLibrary();  // loaded: the source was opened through it
  AVStream *st = s->format->streams[s->videoIndex];
  for (;;) {
    int r = av.avcodec_receive_frame(s->video, s->frame);
    if (r == AVERROR_EOF) s->videoDrained = 1;
    if (r < 0) return -1;
    int64_t ts = s->frame->best_effort_timestamp;
    if (s->skipBefore != AV_NOPTS_VALUE && ts != AV_NOPTS_VALUE && ts < s->skipBefore) {
      av.av_frame_unref(s->frame);
      continue;
    }
    s->skipBefore = AV_NOPTS_VALUE;
    break;
  }
  AVFrame *fr = s->frame;
  int flags = f->smooth ? SWS_BILINEAR : SWS_POINT;
  s->scaler = av.sws_getCachedContext(s->scaler, fr->width, fr->height, AVPixelFormat(fr->format), f->width, f->height,
                                   AV_PIX_FMT_ARGB, flags, nullptr, nullptr, nullptr);
  if (!s->scaler || EnsureScaledPicture(s, f->width, f->height)) {
    av.av_frame_unref(fr);
    return -1;
  }
  uint8_t *dst[4] = {s->scaled, nullptr, nullptr, nullptr};
  int dstStride[4] = {s->scaledBytesPerRow, 0, 0, 0};
  if (av.sws_scale(s->scaler, fr->data, fr->linesize, 0, fr->height, dst, dstStride) <= 0) {
    av.av_frame_unref(fr);  // nothing converted: the scaler's picture holds no picture of this file
    return -1;
  }
  for (int32_t y = 0; y < f->height; y++)
    std::memcpy(f->pixels + int64_t(y) * f->bytesPerRow, s->scaled + int64_t(y) * s->scaledBytesPerRow,
                size_t(f->width) * 4);
  f->repeat = uint32_t(fr->repeat_pict > 0 ? fr->repeat_pict : 0);
  f->pts = Seconds(fr->pts, st->time_base);
  f->dts = Seconds(fr->pkt_dts, st->time_base);
  double at = Seconds(fr->best_effort_timestamp, st->time_base);
  double start = st->start_time == AV_NOPTS_VALUE ? 0.0 : Seconds(st->start_time, st->time_base);
  f->position = at >= 0.0 && s->frameSeconds > 0.0 ? int32_t(std::lround((at - start) / s->frameSeconds)) : -1;
  av.av_frame_unref(fr);
  return 0;
}

int DecodeVideo(void *h, const qmVideoPacket *p, qmDecodedFrame *f) {
  const qmAvFunctions &av = *AvLibrary();  // loaded: the source was opened through it
  FFSource *s = static_cast<FFSource *>(h);
  const AVPacket *pkt = static_cast<const AVPacket *>(p->data);
  if (pkt->size == 0 && !pkt->data) {
    if (!s->drainSent) av.avcodec_send_packet(s->video, nullptr);
    s->drainSent = 1;
    int r = ReceivePicture(s, f);
    if (r < 0) s->videoDrained = 1;
    return r;
  }
  int r = av.avcodec_send_packet(s->video, pkt);
  if (r == AVERROR(EAGAIN)) {
    // The decoder holds a picture: it comes out first and this packet is offered again.
    int got = ReceivePicture(s, f);
    av.avcodec_send_packet(s->video, pkt);
    return got;
  }
  if (r < 0) return -1;
  return ReceivePicture(s, f);
}

int32_t DecodeAudio(void *h, const qmVideoPacket *p, uint8_t *out, uint32_t capacity, int32_t *usedUp) {
  const qmAvFunctions &av = *AvLibrary();  // loaded: the source was opened through it
  FFSource *s = static_cast<FFSource *>(h);
  *usedUp = 1;
  if (!s->audio) return 0;
  const AVPacket *pkt = static_cast<const AVPacket *>(p->data);
  if (s->audioSent != pkt) {
    s->audioSent = pkt;
    if (av.avcodec_send_packet(s->audio, pkt) < 0) return 0;
  }
  if (av.avcodec_receive_frame(s->audio, s->soundFrame) < 0) return 0;
  AVFrame *fr = s->soundFrame;
  if ((fr->format != s->inFormat || fr->sample_rate != s->inRate || fr->ch_layout.nb_channels != s->inChannels) &&
      SetUpResampler(s, &fr->ch_layout, fr->format, fr->sample_rate)) {
    av.av_frame_unref(fr);  // sound the resampler cannot take is not heard
    *usedUp = 0;
    return 0;
  }
  uint32_t frameBytes = 2 * s->outChannels;
  int room = int(capacity / frameBytes);
  uint8_t *dst[1] = {out};
  int n = av.swr_convert(s->resampler, dst, room, const_cast<const uint8_t **>(s->soundFrame->extended_data),
                      s->soundFrame->nb_samples);
  av.av_frame_unref(s->soundFrame);
  *usedUp = 0;  // more pictures of sound may follow from the same packet
  return n > 0 ? int32_t(uint32_t(n) * frameBytes) : 0;
}

void FlushVideo(void *h) {
  const qmAvFunctions &av = *AvLibrary();  // loaded: the source was opened through it
  FFSource *s = static_cast<FFSource *>(h);
  av.avcodec_flush_buffers(s->video);
  s->videoDrained = s->drainSent = 0;
}

void FlushAudio(void *h) {
  const qmAvFunctions &av = *AvLibrary();  // loaded: the source was opened through it
  FFSource *s = static_cast<FFSource *>(h);
  if (!s->audio) return;
  av.avcodec_flush_buffers(s->audio);
  s->audioSent = nullptr;
}

int Seek(void *h, int64_t ms, uint32_t) {
  const qmAvFunctions &av = *AvLibrary();  // loaded: the source was opened through it
  FFSource *s = static_cast<FFSource *>(h);
  AVStream *st = s->format->streams[s->videoIndex];
  int64_t start = st->start_time == AV_NOPTS_VALUE ? 0 : st->start_time;
  int64_t target = start + av.av_rescale_q(ms, AVRational{1, 1000}, st->time_base);
  if (av.av_seek_frame(s->format, s->videoIndex, target, AVSEEK_FLAG_BACKWARD) < 0) return -1;
  FlushVideo(s);
  FlushAudio(s);
  // The picture kept is the one in view at ms: the last that starts at or before it.
  int64_t span = s->frameSeconds > 0.0 ? int64_t(s->frameSeconds / av_q2d(st->time_base) + 0.5) : 0;
  s->skipBefore = ms > 0 ? target - span + 1 : AV_NOPTS_VALUE;
  return 0;
}

int32_t FrameCount(void *h) {
  FFSource *s = static_cast<FFSource *>(h);
  AVStream *st = s->format->streams[s->videoIndex];
  if (st->nb_frames > 0) return int32_t(st->nb_frames > INT32_MAX ? INT32_MAX : st->nb_frames);
  if (s->frameSeconds > 0.0 && s->format->duration > 0)
    return int32_t(std::lround(double(s->format->duration) / AV_TIME_BASE / s->frameSeconds));
  return 0;
}

const char *FormatName(void *h) {
  FFSource *s = static_cast<FFSource *>(h);
  const AVInputFormat *f = s->format->iformat;
  return f->long_name ? f->long_name : f->name;
}

}  // namespace

const qmVideoSourceOps kFFmpegVideoSource = {
    "FFmpeg",   OpenSource, CloseSource, NextPacket, FreePacket, DecodeVideo, DecodeAudio,
    Seek,       FlushAudio, FlushVideo,  FrameCount, FormatName,
};
