// A stopped engine's video decoded from its beginning to its end on the caller's thread: every
// picture shown on a display at once and, with a base name, saved as a numbered picture file,
// the whole sound track written to one WAVE file.
#include "media/videocore/videodump.h"

#include <cstdio>
#include <cstring>

#include "display/display.h"
#include "display/displayops.h"
#include "media/image/imagewriter.h"
#include "media/videocore/engine_internal.h"
#include "platform/file.h"
#include "platform/fileops.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"

namespace {

constexpr uint32_t kWaveHeaderSize = 44;

void PutLe(uint8_t *p, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; i++) p[i] = uint8_t(v >> (8 * i));
}

// 16-bit PCM; both sizes 0 until the end patches them.
bool WriteWaveHeader(qmFileHandle *f, uint32_t channels, uint32_t rate) {
  uint8_t h[kWaveHeaderSize] = {};
  const uint32_t block = channels >= 2 ? 4 : 2;
  std::memcpy(h, "RIFF", 4);
  std::memcpy(h + 8, "WAVEfmt ", 8);
  PutLe(h + 16, 16, 4);
  PutLe(h + 20, 1, 2);
  PutLe(h + 22, channels, 2);
  PutLe(h + 24, rate, 4);
  PutLe(h + 28, rate * block, 4);
  PutLe(h + 32, block, 2);
  PutLe(h + 34, 16, 2);
  std::memcpy(h + 36, "data", 4);
  return FileWrite(f, h, sizeof h) == sizeof h;
}

// The data padded with zero bytes to a multiple of 4; the RIFF size counts the padding, the
// data size does not.
bool FinishWave(qmFileHandle *f, uint32_t length) {
  static const uint8_t kPad[4] = {};
  const uint32_t padded = (length + 3) & ~3u;
  uint8_t size[4];
  bool ok = FileWrite(f, kPad, padded - length) == padded - length;
  PutLe(size, padded + 36, 4);
  FileSeek(f, 4, FILE_SEEK_START);
  ok = ok && FileWrite(f, size, 4) == 4;
  PutLe(size, length, 4);
  FileSeek(f, 40, FILE_SEEK_START);
  ok = ok && FileWrite(f, size, 4) == 4;
  return ok;
}

// The part of the picture inside the display, shown at once.
void ShowPicture(const qmVideoDumpRequest *req, const uint8_t *pixels, int32_t width, int32_t height) {
  qmDisplay *d = req->display;
  if (!d) return;
  int32_t clipWidth = 0, clipHeight = 0;
  DisplayPictureArea(d, &clipWidth, &clipHeight);
  if (QueueVideoPicture(d, req, pixels, width * 4, req->x, req->y, width, height, clipWidth, clipHeight))
    FlushDisplayUpdatesOf(req->scene, d);
}

uint32_t SavePicture(const qmVideoDumpRequest *req, const uint8_t *pixels, uint32_t *argb, int32_t width,
                     int32_t height, int32_t counter) {
  static const char *const kExtensions[] = {"bmp", "png", "jpg", "gif", "iff"};
  for (int64_t i = 0; i < int64_t(width) * height; i++) {
    const uint8_t *p = pixels + i * 4;
    argb[i] = uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
  }
  char name[2048];
  if (std::snprintf(name, sizeof name, "%s%d.%s", req->baseName, counter, kExtensions[req->format]) >=
      int(sizeof name)) {
    SetErrorArgument(req->baseName);
    return ERR_WRITEFILE;
  }
  // Video pictures have no alpha of their own: they are saved opaque.
  return SaveImageFile(req->format, argb, width, height, name, nullptr, 0xFFFFFFFFu, 0, kDefaultSaveQuality,
                       kDefaultSaveColors, 1, req->plugins);
}

}  // namespace

uint32_t DumpVideoEngine(qmVideoEngine *e, const qmVideoDumpRequest *req) {
  if (e->started) return ERR_WRONGUSAGE;
  if (req->format < IMGFMT_BMP || req->format > IMGFMT_ILBM) return ERR_WRONGUSAGE;
  const int32_t w = e->info.width, h = e->info.height;
  const size_t pixels = size_t(w) * size_t(h);
  auto *picture = static_cast<uint8_t *>(pixels * 4 <= UINT32_MAX ? MemAlloc(uint32_t(pixels * 4), 1) : nullptr);
  auto *argb = static_cast<uint32_t *>(picture ? MemAlloc(uint32_t(pixels * 4), 0) : nullptr);
  auto *sound = static_cast<uint8_t *>(argb ? MemAlloc(kVideoSoundBuffer, 0) : nullptr);
  if (!sound) {
    MemFree(picture);
    MemFree(argb);
    return ERR_MEM;
  }
  qmFileHandle *wave = nullptr;
  uint32_t code = 0;
  char name[2048] = "";
  if (req->baseName) {
    std::snprintf(name, sizeof name, "%s.wav", req->baseName);
    wave = FileOpen(name, FILE_MODE_WRITE);
    if (!wave) {
      SetErrorArgument(name);
      code = ERR_WRITEFILE;
    } else if (!WriteWaveHeader(wave, e->info.channels >= 2 ? 2 : 1, e->info.sampleRate)) {
      SetErrorArgument(name);
      code = ERR_WRITE;
    }
  }
  RewindVideoSource(e);
  uint32_t soundBytes = 0;
  int32_t counter = 0;
  while (!code) {
    qmVideoPacket p{};
    const int r = e->ops->nextPacket(e->source, &p);
    if (r == -1) break;
    if (r < 0) continue;
    if (p.stream != 0) {
      // A packet may hold more sound than one call gives.
      for (int32_t usedUp = 0; !usedUp && !code;) {
        const int32_t n = e->ops->decodeAudio(e->source, &p, sound, kVideoSoundBuffer, &usedUp);
        if (n <= 0) break;
        if (wave && FileWrite(wave, sound, uint64_t(n)) != uint64_t(n)) code = ERR_WRITE;
        soundBytes += uint32_t(n);
      }
    } else {
      qmDecodedFrame f{picture, w, h, w * 4, 0, 0, -1, -1.0, -1.0};
      if (e->ops->decodeVideo(e->source, &p, &f) == 0) {
        ShowPicture(req, picture, w, h);
        if (req->baseName) code = SavePicture(req, picture, argb, w, h, counter++);
      }
    }
    e->ops->freePacket(e->source, &p);
    if (!code && req->pump && req->pump(req->pumpUser)) code = ERR_USERABORT;
  }
  if (wave) {
    if (!FinishWave(wave, soundBytes) && !code) code = ERR_WRITE;
    if (!FileClose(wave) && !code) code = ERR_WRITE;
    // The sound track of a dump that failed is cut short: it goes, as a failed copy does.
    if (code) RemoveFailedOutput(name);
  }
  MemFree(picture);
  MemFree(argb);
  MemFree(sound);
  // The next start or grab reads from the beginning again.
  RewindVideoSource(e);
  e->rewindNeeded = false;
  e->startedSinceGrab = true;
  return code;
}
