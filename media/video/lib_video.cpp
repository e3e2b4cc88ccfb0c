// The video library's commands: videos opened, shown at a rectangle of the current display,
// played, paused, sought and stopped on the engine's threads, single pictures grabbed into
// brushes.
#include "media/video/lib_video.h"

#include <cmath>
#include <cstring>

#include "display/bgpic.h"
#include "display/brush.h"
#include "display/display.h"
#include "display/displayops.h"
#include "display/position.h"
#include "display/scene.h"
#include "graphics/colors.h"
#include "media/video/video.h"
#include "media/videocore/engine.h"
#include "media/videocore/videodump.h"
#include "platform/fileops.h"
#include "platform/memory.h"
#include "platform/mutex.h"
#include "platform/path.h"
#include "runtime/attributes.h"
#include "runtime/cmdargs.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/errreport.h"
#include "runtime/objlist.h"
#include "runtime/objtypes.h"
#include "runtime/rttags.h"
#include "runtime/strutil.h"
#include "runtime/vm/vm_api.h"
#include "runtime/vnames.h"

namespace {

constexpr int32_t kMessageLoadingVideo = 150;
constexpr uint32_t kRefreshVideoGone = 2;      // the display's refresh after a video left it

qmVideoState *State(VmState *L) { return GetPlayerContext(L)->video; }

uint32_t FindVideo(VmState *L, const qmObjectId &id, qmVideo **out) {
  auto *v = reinterpret_cast<qmVideo *>(FindObject(L, QMTYPE_VIDEO, &id));
  if (!v) return MissingObjectError(&id, ERR_FINDVIDEO);
  *out = v;
  return 0;
}

// The engine's refresh thread reached the end. The record outlives the thread (every stop joins
// it before a record goes), so the state word is written in place and no list is walked.
void SetEndedState(qmVideoEngine *, void *user) {
  auto *r = static_cast<qmVideo *>(user);
  r->state = VIDSTATE_ENDED;
}

// Stops a shown video and takes it off its display.
void StopShown(qmScene *scene, qmVideo *v) {
  if (!VideoShown(v) && v->state.load() != VIDSTATE_DISPLAYPAUSE) return;
  StopVideoEngine(v->engine);
  v->state = VIDSTATE_STOPPED;
  if (v->display) RefreshDisplay(scene, v->display, kRefreshVideoGone);
  v->display = nullptr;
}

// Unlinks and frees the record; the caller stopped it.
void FreeVideoRecord(VmState *L, qmVideo *v) {
  qmVideoState *st = State(L);
  MutexLock(st->listLock);
  RemoveObject(L, &v->header);
  MutexUnlock(st->listLock);
  FreeVideoEngine(v->engine);
  if (v->tempFile[0]) RemoveFile(v->tempFile);
  v->~qmVideo();
  MemFree(v);
}

// A linked file plays from a temporary copy: the system's back end reads real files only.
// 0 with the copy's name in temp (kMaxPathLength + 1 bytes), or the copy's error with no file left.
uint32_t CopyLinkedVideo(const char *file, char *temp) {
  if (!MakeTempChunkFileName(temp, file)) return ERR_WRITEFILE;
  if (uint32_t code = ExtractChunkToFile(file, temp)) {
    RemoveFile(temp);
    temp[0] = 0;
    return code;
  }
  return 0;
}

// A scaled coordinate, kept inside the 32-bit range.
int32_t ScaledCoordinate(int32_t v, double scale) {
  const double d = v * scale;
  return d < -2147483648.0 ? INT32_MIN : d > 2147483647.0 ? INT32_MAX : int32_t(d);
}

// The on-screen rectangle: scaled with the display when it is.
void ComputeScreenRect(qmVideo *v, const qmDisplay *d) {
  bool scaled = d && d->scaleMode != 0 && d->scaleWidth != 0 && d->scaleHeight != 0;
  if (scaled) {
    v->screenX = ScaledCoordinate(v->x, d->scaleX);
    v->screenY = ScaledCoordinate(v->y, d->scaleY);
    v->screenWidth = ScaledCoordinate(v->width, d->scaleX);
    v->screenHeight = ScaledCoordinate(v->height, d->scaleY);
    v->smooth = d->smoothScale;
  } else {
    v->screenX = v->x;
    v->screenY = v->y;
    v->screenWidth = v->width;
    v->screenHeight = v->height;
  }
}

// A shown video's new rectangle goes to the engine, and the display shows what lay under it.
uint32_t ApplyGeometry(VmState *L, qmVideo *v) {
  if (!VideoShown(v)) return 0;
  ComputeScreenRect(v, v->display);
  uint32_t code =
      SetVideoEngineBox(v->engine, v->screenX, v->screenY, v->screenWidth, v->screenHeight, v->smooth);
  if (v->display) RefreshDisplay(GetScene(L), v->display, kRefreshVideoGone);
  return code;
}

uint32_t VidOpenVideo(VmState *L) {
  CheckArgCount(L, 2, 2);
  qmObjectId id = GetNewObjectIdArg(L, 1);
  const char *file = ResolveLinkedFileArg(L, 2, 0, nullptr);
  const char *shown = vm_tostring(L, 2);
  qmVideoState *st = State(L);
  if (!id.handle) {
    qmVideo *old = nullptr;
    if (FindVideo(L, id, &old) == 0) {
      StopShown(GetScene(L), old);
      FreeVideoRecord(L, old);
    }
  }
  PrintStatusMessage(GetErrorText(kMessageLoadingVideo), shown, 1);
  char temp[kMaxPathLength + 1] = "";
  if (std::strncmp(file, ":::chunk", 8) == 0) {
    if (uint32_t code = CopyLinkedVideo(file, temp)) return code;
    file = temp;
  }
  qmVideoEngine *e = nullptr;
  uint32_t backend = VIDBACKEND_OWN;
  uint32_t code = OpenVideoBackend(file, st->driver, &e, &backend, GetPlayerContext(L)->formatPlugins);
  void *mem = code ? nullptr : MemAlloc(sizeof(qmVideo), 1);
  if (!mem) {
    FreeVideoEngine(e);
    if (temp[0]) RemoveFile(temp);
    return code ? code : uint32_t(ERR_MEM);
  }
  auto *v = new (mem) qmVideo{};
  CopyString(v->tempFile, temp, sizeof v->tempFile);
  SetObjectHeader(&v->header, QMTYPE_VIDEO, &id);
  const qmVideoInfo *info = VideoEngineInfo(e);
  v->engine = e;
  v->nativeWidth = v->width = v->screenWidth = info->width;
  v->nativeHeight = v->height = v->screenHeight = info->height;
  v->duration = info->duration;
  v->seekable = (info->flags & VIDEOINFO_SEEKABLE) != 0;
  v->backend = backend;
  v->volume = 64;
  MutexLock(st->listLock);
  uint32_t added = AddObject(L, &v->header);
  MutexUnlock(st->listLock);
  if (added) {
    FreeVideoEngine(e);
    if (temp[0]) RemoveFile(temp);
    v->~qmVideo();
    MemFree(v);
    return ERR_MEM;
  }
  PrintDoneMessage();
  return PushNewId(L, qmObjectId{v->header.id, v->header.handle});
}

uint32_t VidCloseVideo(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmVideo *v = nullptr;
  if (uint32_t code = FindVideo(L, GetObjectIdArg(L, 1), &v)) return code;
  StopShown(GetScene(L), v);
  FreeVideoRecord(L, v);
  return 0;
}

// What the current display's output and picture allow: 0 or the reason a video cannot show.
uint32_t CheckPlayable(const qmScene *scene) {
  const qmDisplay *d = scene->current;
  switch (d->outputType) {
    case DISPOUT_BRUSH: return ERR_SELECTBRUSH;
    case DISPOUT_ANIM: return ERR_SELECTANIM;
    case DISPOUT_MASK: return ERR_SELECTMASK;
    case DISPOUT_ALPHA: return ERR_SELECTALPHACHANNEL;
    default: break;
  }
  if (scene->videoRecording) return ERR_WRONGCMDRECVIDEO;
  if (d->state == DISPSTATE_CLOSED && !d->satellites) return ERR_WRONGUSAGE;
  if (const qmBGPic *pic = d->bgpic)
    if (pic->master.mask || pic->master.alpha || pic->shown.mask || pic->shown.alpha) return ERR_VIDEOTRANS;
  return 0;
}

uint32_t VidPlayVideo(VmState *L) {
  CheckArgCount(L, 1, 3);
  qmScene *scene = GetScene(L);
  if (uint32_t code = CheckPlayable(scene)) return code;
  qmVideo *v = nullptr;
  if (uint32_t code = FindVideo(L, GetObjectIdArg(L, 1), &v)) return code;
  uint32_t state = v->state.load();
  if (state == VIDSTATE_PLAYING) return ERR_VIDPLAYING;
  if (state == VIDSTATE_PAUSED) return ERR_VIDPAUSED;
  if (state == VIDSTATE_ENDED) StopShown(scene, v);  // plays again from the beginning
  if (!vm_isnoneornil(L, 2)) v->x = ResolvePositionX(scene, vm_checkint32(L, 2), v->width, 0, 0.0);
  if (!vm_isnoneornil(L, 3)) v->y = ResolvePositionY(scene, vm_checkint32(L, 3), v->height, 0, 0.0);
  qmDisplay *d = scene->current;
  ComputeScreenRect(v, d);
  v->state = VIDSTATE_PLAYING;
  v->display = d;
  qmVideoStart s{};
  s.display = d;
  s.x = v->screenX;
  s.y = v->screenY;
  s.width = v->screenWidth;
  s.height = v->screenHeight;
  s.volume = v->volume;
  s.smooth = v->smooth;
  s.id = {v->header.id, v->header.handle};
  s.audio = GetPlayerContext(L)->videoAudio;
  s.ended = SetEndedState;
  s.endUser = v;
  if (uint32_t code = StartVideoEngine(v->engine, &s)) {
    v->state = VIDSTATE_STOPPED;
    v->display = nullptr;
    return code;
  }
  return 0;
}

uint32_t VidStopVideo(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmVideo *v = nullptr;
  if (uint32_t code = FindVideo(L, GetObjectIdArg(L, 1), &v)) return code;
  StopShown(GetScene(L), v);
  return 0;
}

uint32_t VidPauseVideo(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmVideo *v = nullptr;
  if (uint32_t code = FindVideo(L, GetObjectIdArg(L, 1), &v)) return code;
  if (v->state.load() != VIDSTATE_PLAYING) return ERR_VIDNOTPLAYING;
  PauseVideoEngine(v->engine);
  v->state = VIDSTATE_PAUSED;
  return 0;
}

uint32_t VidResumeVideo(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmVideo *v = nullptr;
  if (uint32_t code = FindVideo(L, GetObjectIdArg(L, 1), &v)) return code;
  if (v->state.load() != VIDSTATE_PAUSED) return ERR_VIDNOTPAUSED;
  ResumeVideoEngine(v->engine);
  v->state = VIDSTATE_PLAYING;
  return 0;
}

uint32_t VidSeekVideo(VmState *L) {
  CheckArgCount(L, 2, 2);
  qmVideo *v = nullptr;
  if (uint32_t code = FindVideo(L, GetObjectIdArg(L, 1), &v)) return code;
  double position = vm_checknumber(L, 2);
  if (!v->seekable) return ERR_SEEKFORMAT;
  // Taken as unsigned: a negative position lies past the end too.
  uint32_t ms = uint32_t(ArgToInt64(L, 2, position));
  if (v->duration == 0 || ms > v->duration - 1) return ERR_SEEKRANGE;
  return SeekVideoEngine(v->engine, ms);
}

uint32_t VidIsVideo(VmState *L) {
  CheckArgCount(L, 1, 1);
  const char *file = ResolveLinkedFileArg(L, 1, 0, nullptr);
  // A linked file is tried as OpenVideo plays it, from a copy: the answer is the same.
  char temp[kMaxPathLength + 1] = "";
  if (std::strncmp(file, ":::chunk", 8) == 0 && CopyLinkedVideo(file, temp) == 0) file = temp;
  qmVideoEngine *e = nullptr;
  uint32_t backend;
  int ok = OpenVideoBackend(file, State(L)->driver, &e, &backend, GetPlayerContext(L)->formatPlugins) == 0;
  FreeVideoEngine(e);
  if (temp[0]) RemoveFile(temp);
  vm_pushnumber(L, ok);
  return 1;
}

uint32_t VidSetVideoSize(VmState *L) {
  CheckArgCount(L, 3, 4);
  qmVideo *v = nullptr;
  if (uint32_t code = FindVideo(L, GetObjectIdArg(L, 1), &v)) return code;
  int32_t w = ArgToInt32(L, 2, std::round(GetNumberOrPercentArg(L, 2, v->nativeWidth, 1, nullptr)));
  int32_t h = ArgToInt32(L, 3, std::round(GetNumberOrPercentArg(L, 3, v->nativeHeight, 1, nullptr)));
  uint32_t smooth = vm_optflag(L, 4, false) ? 1 : 0;
  if (uint32_t code = ApplyKeepAspect(v->nativeWidth, v->nativeHeight, &w, &h)) return code;
  if (w < 1 || h < 1) return ERR_BADDIMENSIONS;
  v->width = w;
  v->height = h;
  v->smooth = smooth;
  return ApplyGeometry(L, v);
}

uint32_t VidSetVideoPosition(VmState *L) {
  CheckArgCount(L, 3, 3);
  qmVideo *v = nullptr;
  if (uint32_t code = FindVideo(L, GetObjectIdArg(L, 1), &v)) return code;
  qmScene *scene = GetScene(L);
  v->x = ResolvePositionX(scene, vm_checkint32(L, 2), v->width, 0, 0.0);
  v->y = ResolvePositionY(scene, vm_checkint32(L, 3), v->height, 0, 0.0);
  return ApplyGeometry(L, v);
}

uint32_t VidSetVideoVolume(VmState *L) {
  CheckArgCount(L, 2, 2);
  qmVideo *v = nullptr;
  if (uint32_t code = FindVideo(L, GetObjectIdArg(L, 1), &v)) return code;
  double volume = GetNumberOrPercentArg(L, 2, 64.0, 1, nullptr);
  v->volume = ArgToClampedInt32(L, 2, volume, 0, 64);
  if (VideoShown(v)) SetVideoEngineVolume(v->engine, v->volume);
  return 0;
}

uint32_t VidGetVideoFrame(VmState *L) {
  CheckArgCount(L, 3, 5);
  qmObjectId brushId = GetNewObjectIdArg(L, 1);
  qmVideo *v = nullptr;
  if (uint32_t code = FindVideo(L, GetObjectIdArg(L, 2), &v)) return code;
  double position = vm_checknumber(L, 3);
  int32_t mode = vm_optint32(L, 4, 0);
  int32_t accuracy = vm_optint32(L, 5, 15);
  if (v->state.load() != VIDSTATE_STOPPED) return ERR_FGRABVIDSTATE;
  int64_t where;
  if (mode == VIDGRAB_FRAME) {
    if (!(position >= 1.0)) return ERR_VIDEOFRAME;
    where = ArgToInt64(L, 3, position) - 1;
  } else if (mode == VIDGRAB_TIME) {
    if (!v->seekable) return ERR_SEEKFORMAT;
    if (!(position >= 0.0) || v->duration == 0 || !(position <= double(v->duration - 1))) return ERR_SEEKRANGE;
    where = int64_t(position);
  } else {
    return ERR_WRONGUSAGE;
  }
  qmScene *scene = GetScene(L);
  if (!brushId.handle)
    if (uint32_t code = FreeBrushNode(scene, &brushId, 0)) return code;
  const uint32_t *pixels = nullptr;
  int32_t w = 0, h = 0;
  if (uint32_t code = GrabVideoEngineFrame(v->engine, mode, where, accuracy, &pixels, &w, &h)) return code;
  if (uint32_t code = NewBrushFromArgb(scene->objects, &brushId, pixels, w, h, 0, nullptr)) return code;
  return PushNewId(L, brushId);
}

uint32_t VidIsVideoPlaying(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmVideo *v = nullptr;
  if (uint32_t code = FindVideo(L, GetObjectIdArg(L, 1), &v)) return code;
  vm_pushnumber(L, v->state.load() == VIDSTATE_PLAYING ? 1 : 0);
  return 1;
}

uint32_t VidForceVideoDriver(VmState *L) {
  CheckArgCount(L, 1, 1);
  State(L)->driver = vm_checkint32(L, 1);
  return 0;
}

// Served between the dumped packets: 1 when the run is to stop.
int PumpDuringDump(void *user) {
  auto *L = static_cast<VmState *>(user);
  const qmPlayerContext *ctx = GetPlayerContext(L);
  return ctx->pumpEvents ? ctx->pumpEvents(L) : 0;
}

uint32_t VidDumpVideo(VmState *L) {
  CheckArgCount(L, 1, 5);
  qmVideo *v = nullptr;
  if (uint32_t code = FindVideo(L, GetObjectIdArg(L, 1), &v)) return code;
  qmScene *scene = GetScene(L);
  int32_t x = ResolvePositionX(scene, vm_optint32(L, 2, 0), v->width, 0, 0.0);
  int32_t y = ResolvePositionY(scene, vm_optint32(L, 3, 0), v->height, 0, 0.0);
  const char *base = vm_isnoneornil(L, 4) ? nullptr : vm_checkstring(L, 4, nullptr);
  int32_t format = vm_optint32(L, 5, 0);
  if (v->state.load() != VIDSTATE_STOPPED || format < 0 || format > 4) return ERR_WRONGUSAGE;
  // The system's movies cannot be dumped, only the own engine's sources.
  if (v->backend == VIDBACKEND_SYSTEM) return ERR_WRONGUSAGE;
  const qmVideoDumpRequest req{scene, scene->current, x, y, base, format, GetPlayerContext(L)->formatPlugins,
                               PumpDuringDump, L};
  return DumpVideoEngine(v->engine, &req);
}

uint32_t VideoInit(VmState *L) {
  auto *st = static_cast<qmVideoState *>(MemAlloc(sizeof(qmVideoState), 1));
  if (!st) return ERR_MEM;
  st->listLock = MutexCreate();
  if (!st->listLock) {
    MemFree(st);
    return ERR_SEMAPHORE;
  }
  st->driver = -1;
  GetPlayerContext(L)->video = st;
  return 0;
}

// At the start of shut-down every engine stops, so that no thread of theirs touches the
// displays, pictures and sounds freed before the videos' own records.
void StopAllVideos(VmState *L) {
  qmPlayerContext *ctx = GetPlayerContext(L);
  if (!ctx || !ctx->video) return;
  for (auto *h = FirstObject(L, QMTYPE_VIDEO); h; h = h->next) {
    auto *v = reinterpret_cast<qmVideo *>(h);
    StopVideoEngine(v->engine);
    v->state = VIDSTATE_STOPPED;
    v->display = nullptr;
  }
}

// Every engine stops before any record goes, so no thread of theirs outlives what it reports to.
void VideoFree(VmState *L) {
  qmPlayerContext *ctx = GetPlayerContext(L);
  if (!ctx || !ctx->video) return;
  StopAllVideos(L);
  while (auto *h = FirstObject(L, QMTYPE_VIDEO)) FreeVideoRecord(L, reinterpret_cast<qmVideo *>(h));
  MutexFree(ctx->video->listLock);
  MemFree(ctx->video);
  ctx->video = nullptr;
}

const qmConstantEntry kVideoConstants[] = {
    {"VIDDRV_OS", nullptr, VIDDRV_OS},
    {"VIDDRV_QUENMOOR", nullptr, VIDDRV_QUENMOOR},
    {nullptr, nullptr, 0},
};

const qmCommandEntry kVideoCommands[] = {
    {"OpenVideo", VidOpenVideo},
    {"CloseVideo", VidCloseVideo},
    {"PlayVideo", VidPlayVideo},
    {"StopVideo", VidStopVideo},
    {"PauseVideo", VidPauseVideo},
    {"ResumeVideo", VidResumeVideo},
    {"SeekVideo", VidSeekVideo},
    {"IsVideo", VidIsVideo},
    {"SetVideoSize", VidSetVideoSize},
    {"SetVideoPosition", VidSetVideoPosition},
    {"SetVideoVolume", VidSetVideoVolume},
    {"GetVideoFrame", VidGetVideoFrame},
    {"IsVideoPlaying", VidIsVideoPlaying},
    {"ForceVideoDriver", VidForceVideoDriver},
    {"DumpVideo", VidDumpVideo},
    {nullptr, nullptr},
};

}  // namespace

void VideosOfDisplay(VmState *L, qmDisplay *d, int32_t op) {
  const qmPlayerContext *ctx = GetPlayerContext(L);
  if (!ctx || !ctx->video) return;
  bool rescaled = false, redrawn = false;
  for (auto *h = FirstObject(L, QMTYPE_VIDEO); h; h = h->next) {
    auto *v = reinterpret_cast<qmVideo *>(h);
    if (v->display != d) continue;
    uint32_t state = v->state.load();
    if (op == DISPVIDEO_STOP) {
      StopVideoEngine(v->engine);
      v->state = VIDSTATE_STOPPED;
      v->display = nullptr;
    } else if (op == DISPVIDEO_PAUSE && state != VIDSTATE_DISPLAYPAUSE && VideoShown(v)) {
      SetVideoEnginePauseByDisplay(v->engine, true);
      v->savedState = state;
      v->state = VIDSTATE_DISPLAYPAUSE;
    } else if (op == DISPVIDEO_RESUME && state == VIDSTATE_DISPLAYPAUSE) {
      SetVideoEnginePauseByDisplay(v->engine, false);
      v->state = v->savedState;
      redrawn = true;
      RedrawVideoEngine(v->engine);
    } else if (op == DISPVIDEO_RESCALE && (VideoShown(v) || state == VIDSTATE_DISPLAYPAUSE)) {
      // A video held back by a closed window is placed too: it shows there when it opens.
      rescaled = true;
      ComputeScreenRect(v, d);
      SetVideoEngineBox(v->engine, v->screenX, v->screenY, v->screenWidth, v->screenHeight, v->smooth);
    } else if (op == DISPVIDEO_REDRAW && VideoShown(v)) {
      redrawn = true;
      RedrawVideoEngine(v->engine);
    }
  }
  qmScene *scene = GetScene(L);
  if (rescaled && d->state == DISPSTATE_OPEN) RefreshDisplay(scene, d, kRefreshVideoGone);
  // Shown now, not at the next event pass: what the refresh painted must not stay over them.
  if (redrawn) FlushDisplayUpdatesOf(scene, d);
}

int IsVideoOnDisplay(VmState *L, const qmDisplay *d) {
  const qmPlayerContext *ctx = GetPlayerContext(L);
  if (!ctx || !ctx->video) return 0;
  for (auto *h = FirstObject(L, QMTYPE_VIDEO); h; h = h->next) {
    auto *v = reinterpret_cast<qmVideo *>(h);
    if (v->display == d && VideoShown(v)) return 1;
  }
  return 0;
}

int IsVideoAtPoint(VmState *L, const qmDisplay *d, int32_t x, int32_t y) {
  const qmPlayerContext *ctx = GetPlayerContext(L);
  if (!ctx || !ctx->video) return 0;
  for (auto *h = FirstObject(L, QMTYPE_VIDEO); h; h = h->next) {
    auto *v = reinterpret_cast<qmVideo *>(h);
    if (v->display != d || !VideoShown(v)) continue;
    if (x >= v->screenX && y >= v->screenY && int64_t(x) < int64_t(v->screenX) + v->screenWidth &&
        int64_t(y) < int64_t(v->screenY) + v->screenHeight)
      return 1;
  }
  return 0;
}

uint32_t VideoReadAttribute(VmState *L, int32_t attribute) {
  qmVideo *v = nullptr;
  if (uint32_t code = FindVideo(L, GetObjectIdArg(L, 2), &v)) return code;
  double n;
  switch (attribute) {
    case ATTRWIDTH: n = v->nativeWidth; break;
    case ATTRHEIGHT: n = v->nativeHeight; break;
    case ATTRDURATION: n = v->duration; break;
    case ATTRNUMFRAMES: n = VideoEngineFrameCount(v->engine); break;
    case ATTRPOSITION: n = VideoEnginePosition(v->engine); break;
    case ATTRCANSEEK: n = v->seekable; break;
    case ATTRDRIVER: n = v->backend == VIDBACKEND_SYSTEM ? VIDDRV_OS : VIDDRV_QUENMOOR; break;
    case ATTRFORMAT: {
      const char *name = VideoEngineFormatName(v->engine);
      vm_pushstring(L, name ? name : "");
      return 1;
    }
    default: return ERR_UNKNOWNATTR;
  }
  vm_pushnumber(L, n);
  return 1;
}

const qmLibrary kVideoLibrary = {"video", kVideoCommands, kVideoConstants, VideoInit, VideoFree,
                                 FREERANK_VIDEO, StopAllVideos, FREERANK_VIDEOPLAYBACK};
