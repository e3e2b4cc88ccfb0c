// The system audio-file reader on FFmpeg (libavformat, libavcodec, libswresample): the one
// file that decodes sound files through them, opened at the first sound file
// (platform/avlibrary.h).
#include "platform/audiofile.h"

#include <cstring>
#include <vector>

#include "platform/avlibrary.h"
#include "platform/file.h"
#include "runtime/errcodes.h"

struct qmSoundFile {
  const qmAvFunctions *av;
  qmFileHandle *file;
  AVIOContext *io;
  AVFormatContext *format;
  AVCodecContext *codec;
  SwrContext *swr;
  int inFormat, inRate, inChannels;  // the sound the converter is set up for
  AVPacket *packet;
  AVFrame *frame;
  int stream;
  uint32_t channels;
  uint32_t rate;
  uint64_t frames;
  uint64_t skip;  // frames still to drop after a seek
  bool eof;
  std::vector<int16_t> pending;  // decoded frames not yet read
  size_t pendingUsed;            // in values
  const char *name;
};

namespace {

constexpr int kIoBuffer = 32768;

int IoRead(void *opaque, uint8_t *buf, int size) {
  uint64_t got = FileRead(static_cast<qmFileHandle *>(opaque), buf, uint64_t(size));
  return got == 0 ? AVERROR_EOF : int(got);
}

int64_t IoSeek(void *opaque, int64_t offset, int whence) {
  auto *f = static_cast<qmFileHandle *>(opaque);
  if (whence == AVSEEK_SIZE) return f->size == kUnboundedSize ? -1 : int64_t(f->size);
  int origin = whence == SEEK_CUR ? FILE_SEEK_CURRENT : whence == SEEK_END ? FILE_SEEK_END : FILE_SEEK_START;
  FileSeek(f, offset, origin);
  return int64_t(FileSeek(f, 0, FILE_SEEK_CURRENT));
}

const char *ContainerName(const char *fmt) {
  static const struct {
    const char *ff, *name;
  } kNames[] = {{"wav", "RIFF WAVE"}, {"aiff", "AIFF"},     {"mp3", "MPEG Audio"}, {"aac", "AAC ADTS"},
                {"ac3", "AC-3"},      {"au", "NeXT"},       {"caf", "Core Audio"},
                {"mov,mp4,m4a,3gp,3g2,mj2", "MPEG Audio"}};
  for (const auto &n : kNames)
    if (std::strcmp(fmt, n.ff) == 0) return n.name;
  return "Mac Audio File";
}

// Sets the converter up for sound of this layout, format and rate, into the file's own output
// (signed 16-bit, its channels and rate): 0, or -1 when it cannot take that sound.
int SetUpConverter(qmSoundFile *f, AVChannelLayout *layout, int format, int rate) {
  const qmAvFunctions &av = *f->av;
  f->inFormat = f->inRate = f->inChannels = -1;
  if (layout->nb_channels < 1 || rate < 1 || format < 0) return -1;
  AVChannelLayout outLayout;
  av.av_channel_layout_default(&outLayout, int(f->channels));
  const int r = av.swr_alloc_set_opts2(&f->swr, &outLayout, AV_SAMPLE_FMT_S16, int(f->rate), layout,
                                       AVSampleFormat(format), rate, 0, nullptr);
  av.av_channel_layout_uninit(&outLayout);
  if (r < 0 || av.swr_init(f->swr) < 0) return -1;
  f->inFormat = format;
  f->inRate = rate;
  f->inChannels = layout->nb_channels;
  return 0;
}

// Decodes the next frame into pending: false at the end of the stream.
bool DecodeMore(qmSoundFile *f) {
  const qmAvFunctions &av = *f->av;
  for (;;) {
    int r = av.avcodec_receive_frame(f->codec, f->frame);
    if (r == 0) {
      // A stream may change its layout on the way (stereo turning mono): the converter would
      // read planes the frame does not have. It is set up anew; a frame it cannot take is dropped.
      AVFrame *fr = f->frame;
      if ((fr->format != f->inFormat || fr->sample_rate != f->inRate || fr->ch_layout.nb_channels != f->inChannels) &&
          SetUpConverter(f, &fr->ch_layout, fr->format, fr->sample_rate)) {
        av.av_frame_unref(f->frame);
        continue;
      }
      int count = f->frame->nb_samples;
      int outMax = av.swr_get_out_samples(f->swr, count);
      size_t base = f->pending.size();
      f->pending.resize(base + size_t(outMax) * f->channels);
      uint8_t *outp = reinterpret_cast<uint8_t *>(f->pending.data() + base);
      int got = av.swr_convert(f->swr, &outp, outMax, const_cast<const uint8_t **>(f->frame->extended_data), count);
      f->pending.resize(base + size_t(got > 0 ? got : 0) * f->channels);
      av.av_frame_unref(f->frame);
      if (got > 0) return true;
      continue;
    }
    if (r == AVERROR_EOF) return false;
    if (r != AVERROR(EAGAIN)) return false;
    if (f->eof) return false;
    for (;;) {
      if (av.av_read_frame(f->format, f->packet) < 0) {
        f->eof = true;
        av.avcodec_send_packet(f->codec, nullptr);
        break;
      }
      bool ours = f->packet->stream_index == f->stream;
      if (ours) av.avcodec_send_packet(f->codec, f->packet);
      av.av_packet_unref(f->packet);
      if (ours) break;
    }
  }
}

}  // namespace

uint32_t OpenSoundFile(const char *name, qmSoundFileInfo *info, qmSoundFile **out) {
  *out = nullptr;
  qmFileHandle *h = FileOpen(name, FILE_MODE_READ);
  if (!h) return ERR_READFILE;
  const qmAvFunctions *loaded = AvLibrary();
  if (!loaded) {  // no system decoders: the player runs on without them
    FileClose(h);
    return ERR_UNKNOWNMUSFMT;
  }
  const qmAvFunctions &av = *loaded;
  auto *f = new (std::nothrow) qmSoundFile{};
  if (!f) {
    FileClose(h);
    return ERR_MEM;
  }
  f->av = loaded;
  f->file = h;
  uint32_t code = ERR_UNKNOWNMUSFMT;
  // The MPEG head: the audio's offset behind a tag, the bit rate, and whether it varies.
  qmMpegHead head{};
  bool aifc = false;  // FFmpeg reads AIFF and AIFC alike and names both "aiff"
  {
    std::vector<uint8_t> first(16384);
    uint64_t got = FileRead(h, first.data(), first.size());
    aifc = got >= 12 && std::memcmp(first.data(), "FORM", 4) == 0 && std::memcmp(first.data() + 8, "AIFC", 4) == 0;
    if (got >= 1025) {
      AnalyseMpegHead(first.data(), size_t(got), &head);
      if (head.audioOffset + 4 > got && head.audioOffset < h->size) {
        FileSeek(h, int64_t(head.audioOffset), FILE_SEEK_START);
        got = FileRead(h, first.data(), first.size());
        qmMpegHead behind{};
        AnalyseMpegHead(first.data(), size_t(got), &behind);
        head.bitRate = behind.bitRate;
        head.variable = behind.variable;
      }
    }
    FileSeek(h, 0, FILE_SEEK_START);
  }
  auto *buf = static_cast<uint8_t *>(av.av_malloc(kIoBuffer));
  f->io = buf ? av.avio_alloc_context(buf, kIoBuffer, 0, h, IoRead, nullptr, IoSeek) : nullptr;
  f->format = av.avformat_alloc_context();
  if (!f->io || !f->format) {
    if (!f->io) av.av_free(buf);
    code = ERR_MEM;
  } else {
    f->format->pb = f->io;
    if (av.avformat_open_input(&f->format, nullptr, nullptr, nullptr) < 0) {
      f->format = nullptr;  // freed by the failed open
    } else if (av.avformat_find_stream_info(f->format, nullptr) < 0 ||
               (f->stream = av.av_find_best_stream(f->format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0)) < 0) {
      code = ERR_AFILEPROP;
    } else {
      AVStream *st = f->format->streams[f->stream];
      const AVCodec *dec = av.avcodec_find_decoder(st->codecpar->codec_id);
      f->codec = dec ? av.avcodec_alloc_context3(dec) : nullptr;
      if (f->codec && av.avcodec_parameters_to_context(f->codec, st->codecpar) >= 0 &&
          av.avcodec_open2(f->codec, dec, nullptr) >= 0 && f->codec->sample_rate > 0) {
        f->rate = uint32_t(f->codec->sample_rate);
        f->channels = f->codec->ch_layout.nb_channels == 1 ? 1 : 2;
        if (SetUpConverter(f, &f->codec->ch_layout, f->codec->sample_fmt, f->codec->sample_rate) == 0 &&
            (f->packet = av.av_packet_alloc()) && (f->frame = av.av_frame_alloc())) {
          int64_t duration = st->duration != AV_NOPTS_VALUE
                                 ? av.av_rescale_q(st->duration, st->time_base, AVRational{1, int(f->rate)})
                                 : f->format->duration != AV_NOPTS_VALUE
                                       ? av.av_rescale(f->format->duration, f->rate, AV_TIME_BASE)
                                       : 0;
          if (duration > 0) {
            f->frames = uint64_t(duration);
            f->name = aifc ? "AIFC" : ContainerName(f->format->iformat->name);
            info->rate = f->rate;
            info->channels = f->channels;
            info->bits = 16;
            info->frames = f->frames;
            // Plain PCM has no bit rate of its own: the sound library works it out from the frame
            // size and the rate. A compressed stream's rate is the one its container states.
            const bool pcm = st->codecpar->codec_id >= AV_CODEC_ID_FIRST_AUDIO && st->codecpar->codec_id < AV_CODEC_ID_ADPCM_IMA_QT;
            int64_t br = f->format->bit_rate > 0 ? f->format->bit_rate : st->codecpar->bit_rate;
            info->bitRate = uint32_t(!pcm && br > 0 ? br / 1000 : 0);
            bool mpeg = std::strcmp(f->format->iformat->name, "mp3") == 0;
            if (mpeg && head.variable && head.audioOffset < h->size)  // bytes / seconds / 128 = kbit/s
              info->bitRate = uint32_t(double(h->size - head.audioOffset) * f->rate / double(f->frames) / 128.0);
            else if (mpeg && head.bitRate)
              info->bitRate = head.bitRate;
            info->seekable = (f->io->seekable & AVIO_SEEKABLE_NORMAL) ? 1 : 0;
            *out = f;
            return 0;
          }
        }
      }
      code = ERR_AFILEPROP;
    }
  }
  CloseSoundFile(f);
  return code;
}

uint64_t ReadSoundFile(qmSoundFile *f, void *buffer, uint64_t frames, int *end) {
  auto *out = static_cast<int16_t *>(buffer);
  uint64_t done = 0;
  while (done < frames) {
    size_t avail = (f->pending.size() - f->pendingUsed) / f->channels;
    if (avail == 0) {
      f->pending.clear();
      f->pendingUsed = 0;
      if (!DecodeMore(f)) break;
      continue;
    }
    if (f->skip) {
      size_t drop = avail < f->skip ? avail : size_t(f->skip);
      f->pendingUsed += drop * f->channels;
      f->skip -= drop;
      continue;
    }
    size_t n = avail < frames - done ? avail : size_t(frames - done);
    std::memcpy(out + done * f->channels, f->pending.data() + f->pendingUsed, n * f->channels * 2);
    f->pendingUsed += n * f->channels;
    done += n;
  }
  if (end) *end = done < frames;
  return done;
}

void SeekSoundFile(qmSoundFile *f, uint64_t frame) {
  if (frame >= f->frames) return;
  const qmAvFunctions &av = *f->av;
  // Packet times are not exact in every container: go back to the start and drop frames up to
  // the target, so that a seek lands on the very frame.
  AVStream *st = f->format->streams[f->stream];
  int64_t start = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
  if (av.av_seek_frame(f->format, f->stream, start, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY) < 0 &&
      av.avio_seek(f->io, 0, SEEK_SET) < 0)
    return;
  av.avcodec_flush_buffers(f->codec);
  av.swr_init(f->swr);
  f->pending.clear();
  f->pendingUsed = 0;
  f->eof = false;
  f->skip = frame;
}

void CloseSoundFile(qmSoundFile *f) {
  if (!f) return;
  const qmAvFunctions &av = *f->av;
  av.av_frame_free(&f->frame);
  av.av_packet_free(&f->packet);
  av.swr_free(&f->swr);
  av.avcodec_free_context(&f->codec);
  if (f->format) av.avformat_close_input(&f->format);
  if (f->io) {
    av.av_freep(&f->io->buffer);
    av.avio_context_free(&f->io);
  }
  if (f->file) FileClose(f->file);
  delete f;
}

const char *GetSoundFileFormatName(const qmSoundFile *f) { return f->name; }

void AnalyseMpegHead(const uint8_t *p, size_t n, qmMpegHead *out) {
  *out = {};
  if (n >= 10 && std::memcmp(p, "ID3", 3) == 0 && p[3] != 255 && p[4] != 255 && p[6] < 128 && p[7] < 128 &&
      p[8] < 128 && p[9] < 128) {
    uint64_t size = uint64_t(p[6]) << 21 | uint64_t(p[7]) << 14 | uint64_t(p[8]) << 7 | p[9];
    out->audioOffset = size + 10 + ((p[5] & 0x10) ? 10 : 0);
  }
  if (out->audioOffset + 4 <= n) {
    const uint8_t *h = p + out->audioOffset;
    if (h[0] == 0xFF && (h[1] & 0xE0) == 0xE0) {
      static const uint16_t kV1[3][16] = {
          {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
          {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
          {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}};
      static const uint16_t kV2[2][16] = {
          {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
          {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}};
      int version = (h[1] >> 3) & 3;  // 3 = MPEG 1, 2 = MPEG 2, 0 = MPEG 2.5
      int layer = (h[1] >> 1) & 3;    // 3 = layer I, 2 = II, 1 = III
      int index = h[2] >> 4;
      if (layer != 0 && version != 1)
        out->bitRate = version == 3 ? kV1[3 - layer][index] : kV2[layer == 3 ? 0 : 1][index];
    }
  }
  for (size_t i = 0; i + 32 <= n; i++)
    if (std::memcmp(p + i, "Xing", 4) == 0 || std::memcmp(p + i, "VBRI", 4) == 0) {
      out->variable = 1;
      break;
    }
}
