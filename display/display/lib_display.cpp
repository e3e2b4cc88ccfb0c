// The display library's commands: creating, opening, closing, selecting and freeing displays,
// their size, position, title and attributes, and the screen mode.
#include "display/display/lib_display.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "display/asyncdraw.h"
#include "display/bgpic.h"
#include "display/display/displaylib.h"
#include "display/scene.h"
#include "display/displayops.h"
#include "graphics/colors.h"
#include "display/position.h"
#include "platform/memory.h"
#include "platform/mutex.h"
#include "platform/window.h"
#include "display/displaywindow.h"
#include "runtime/cmdargs.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/objlist.h"
#include "runtime/vm/vm_api.h"

namespace {

constexpr int32_t kCenter = -100000;

uint32_t CheckRecording(VmState *L) { return GetScene(L)->videoRecording ? uint32_t(ERR_WRONGCMDRECVIDEO) : 0u; }

uint32_t DisplayArg(VmState *L, int i, qmDisplay **out) {
  qmObjectId id = GetObjectIdArg(L, i);
  return FindDisplay(GetScene(L), &id, out);
}

uint32_t DspCreateDisplay(VmState *L) {
  CheckArgCount(L, 1, 2);
  if (GetScene(L)->videoRecording) return ERR_VIDRECMULTI;
  qmObjectId id = GetNewObjectIdArg(L, 1);
  // Read first, into a record of this call (on the heap, it is large): a table error leaves
  // nothing behind.
  std::unique_ptr<qmDisplay> held(new (std::nothrow) qmDisplay());
  if (!held) return ERR_MEM;
  qmDisplay &parsed = *held;
  SetDisplayDefaults(&parsed);
  if (vm_gettop(L) >= 2) {
    vm_checktable(L, 2);
    if (uint32_t code = ParseDisplayTagTable(L, 2, &parsed, 1, nullptr)) return code;
    int32_t v;
    if (GetFieldInt(L, 2, "hidden", &v, nullptr) && v) parsed.flags |= DISPF_HIDDEN;
    if (GetFieldInt(L, 2, "layers", &v, nullptr) && v) parsed.flags |= DISPF_LAYERS;
    GetFieldInt(L, 2, "private1", &parsed.private1, nullptr);
    GetFieldInt(L, 2, "private2", &parsed.private2, nullptr);
    GetFieldInt(L, 2, "private3", &parsed.private3, nullptr);
  }
  if (!id.handle) {
    if (qmDisplay *old = FindDisplayOf(GetScene(L), &id)) {
      // A display that shows its own picture of the new one's, or is the new one's picture, goes first.
      if (parsed.bgpic && parsed.bgpic == old->bgpic) parsed.bgpic = nullptr;
      if (uint32_t code = RemoveDisplay(L, old)) return code;
      if (!parsed.bgpic && vm_gettop(L) >= 2) {
        // The picture the old display showed is free again for the new one.
        qmObjectId picId{};
        int found = 0;
        GetFieldObjectId(L, 2, "bgpic", &picId, &found);
        if (found && FindBGPic(ObjectRegistryOf(L), &picId, &parsed.bgpic, 0) == 0) {
          parsed.width = parsed.bgpic->unscaledWidth;
          parsed.height = parsed.bgpic->unscaledHeight;
        }
      }
    }
  }
  qmDisplay *d = nullptr;
  if (uint32_t code = CreateDisplayCore(L, &parsed, id, &d)) return code;
  if (!GetScene(L)->current) MakeDisplayCurrent(L, d);
  if (id.handle) {
    vm_pushlightuserdata(L, d);
    return 1;
  }
  return 0;
}

uint32_t DspFreeDisplay(VmState *L) {
  CheckArgCount(L, 1, 1);
  if (uint32_t code = CheckRecording(L)) return code;
  qmDisplay *d;
  if (uint32_t code = DisplayArg(L, 1, &d)) return code;
  return RemoveDisplay(L, d);
}

uint32_t DspOpenDisplay(VmState *L) {
  CheckArgCount(L, 1, 2);
  if (uint32_t code = CheckRecording(L)) return code;
  qmDisplay *d;
  if (uint32_t code = DisplayArg(L, 1, &d)) return code;
  const bool noSelect = vm_optflag(L, 2, false);
  if (d->state != DISPSTATE_CLOSED) return ERR_WRONGUSAGE;
  if (uint32_t code = OpenDisplayWindow(L, d, (d->flags & DISPF_ACTIVE) ? 1 : 0)) return code;
  if (!noSelect) MakeDisplayCurrent(L, d);
  return 0;
}

uint32_t DspCloseDisplay(VmState *L) {
  CheckArgCount(L, 1, 1);
  if (uint32_t code = CheckRecording(L)) return code;
  qmDisplay *d;
  if (uint32_t code = DisplayArg(L, 1, &d)) return code;
  if (d->state == DISPSTATE_CLOSED) return ERR_WRONGUSAGE;
  // The engine's threads draw shown videos into the window: they must be stopped first.
  const qmPlayerContext *ctx = GetPlayerContext(L);
  if (ctx && ctx->videoOnDisplay && ctx->videoOnDisplay(L, d)) return ERR_VIDATTACHED;
  EndDisplayAsyncDraws(GetScene(L), d);
  CloseDisplayWindow(L, d);
  return 0;
}

uint32_t DspSelectDisplay(VmState *L) {
  CheckArgCount(L, 1, 2);
  if (uint32_t code = CheckRecording(L)) return code;
  qmDisplay *d;
  if (uint32_t code = DisplayArg(L, 1, &d)) return code;
  const bool passive = vm_optflag(L, 2, false);
  if (d == GetScene(L)->current) return 0;
  if (d->state == DISPSTATE_OPEN && !passive) ActivatePlatformWindow(d);
  MakeDisplayCurrent(L, d);
  return 0;
}

uint32_t DspActivateDisplay(VmState *L) {
  CheckArgCount(L, 1, 2);
  qmDisplay *d;
  if (uint32_t code = DisplayArg(L, 1, &d)) return code;
  vm_optflag(L, 2, false);
  if (d->state != DISPSTATE_OPEN) return ERR_WRONGUSAGE;
  ActivatePlatformWindow(d);
  return 0;
}

uint32_t DspHideDisplay(VmState *L) {
  CheckArgCount(L, 0, 0);
  if (uint32_t code = CheckRecording(L)) return code;
  qmDisplay *d = GetScene(L)->current;
  if (!d || d->state != DISPSTATE_OPEN) return ERR_WRONGUSAGE;
  if (uint32_t code = MinimizePlatformWindow(d, 1)) return code;
  d->state = DISPSTATE_MINIMIZED;
  d->activateOnOpen = 0;
  return 0;
}

uint32_t DspShowDisplay(VmState *L) {
  CheckArgCount(L, 0, 0);
  if (uint32_t code = CheckRecording(L)) return code;
  qmDisplay *d = GetScene(L)->current;
  if (!d || d->state != DISPSTATE_MINIMIZED) return ERR_WRONGUSAGE;
  if (uint32_t code = MinimizePlatformWindow(d, 0)) return code;
  d->state = DISPSTATE_OPEN;
  d->activateOnOpen = 1;
  return 0;
}

uint32_t DspSetTitle(VmState *L) {
  CheckArgCount(L, 1, 1);
  size_t len = 0;
  const char *title = vm_checkstring(L, 1, &len);
  qmDisplay *d = GetScene(L)->current;
  if (len > 255 || !d) return ERR_WRONGUSAGE;
  std::memcpy(d->title, title, len + 1);
  if (d->state != DISPSTATE_CLOSED) SetPlatformWindowTitle(d);
  return 0;
}

uint32_t DspMoveDisplay(VmState *L) {
  CheckArgCount(L, 2, 2);
  qmDisplay *d = GetScene(L)->current;
  const int32_t x = vm_checkint32(L, 1), y = vm_checkint32(L, 2);
  if (!d) return ERR_WRONGUSAGE;
  d->x = x;
  d->y = y;
  ResolveDisplayPosition(L, d);
  if (d->state != DISPSTATE_CLOSED) MovePlatformWindow(d);
  return 0;
}

uint32_t DspChangeDisplaySize(VmState *L) {
  CheckArgCount(L, 2, 3);
  qmDisplay *d = GetScene(L)->current;
  if (!d || !d->bgpic) return ERR_WRONGUSAGE;
  const double w = GetNumberOrPercentArg(L, 1, d->bgpic->unscaledWidth, 1, nullptr);
  const double h = GetNumberOrPercentArg(L, 2, d->bgpic->unscaledHeight, 1, nullptr);
  int32_t x = kCenter, y = kCenter, smooth = 0;
  if (vm_type(L, 3) == VM_TTABLE) {
    GetFieldInt(L, 3, "x", &x, nullptr);
    GetFieldInt(L, 3, "y", &y, nullptr);
    GetFieldInt(L, 3, "smooth", &smooth, nullptr);
  } else {
    smooth = vm_optint32(L, 3, 0);
  }
  if (!(w >= 1 && h >= 1)) return ERR_BADDIMENSIONS;
  if (w > QM_MAX_PICTURE_SIDE && w != kKeepAspect) return ERR_MEM;
  if (h > QM_MAX_PICTURE_SIDE && h != kKeepAspect) return ERR_MEM;
  int32_t width = int32_t(w), height = int32_t(h);
  if (uint32_t code = ApplyKeepAspect(d->bgpic->unscaledWidth, d->bgpic->unscaledHeight, &width, &height)) return code;
  uint32_t flags = RESIZE_SCRIPT | (d->state == DISPSTATE_OPEN ? 0u : uint32_t(RESIZE_NOWINDOW));
  return ResizeDisplayCore(L, d, x, y, width, height, flags, smooth);
}

uint32_t DspSetDisplayAttributes(VmState *L) {
  CheckArgCount(L, 1, 1);
  vm_checktable(L, 1);
  qmDisplay *d = GetScene(L)->current;
  if (!d) return ERR_WRONGUSAGE;
  return SetDisplayAttributesCore(L, 1, d, 0);
}

uint32_t DspChangeDisplayMode(VmState *L) {
  CheckArgCount(L, 1, 3);
  if (uint32_t code = CheckRecording(L)) return code;
  const int32_t mode = vm_checkint32(L, 1);
  const int32_t w = vm_optint32(L, 2, 0), h = vm_optint32(L, 3, 0);
  if (mode == 1) return ApplyScreenModeCore(L, 0, 0, 0);
  if (mode == 2 && w >= 1 && h >= 1) return ApplyScreenModeCore(L, 1, w, h);
  return ERR_WRONGUSAGE;
}

uint32_t DspGetDisplayModes(VmState *L) {
  CheckArgCount(L, 0, 0);
  const int32_t bound = ListDisplayModes(nullptr);
  if (bound <= 0) return ERR_NODISPMODES;
  auto *pairs = static_cast<int32_t *>(MemAlloc(uint32_t(bound) * 8, 0));
  if (!pairs) return ERR_MEM;
  const int32_t n = ListDisplayModes(pairs);
  std::vector<std::pair<int32_t, int32_t>> modes;
  for (int32_t i = 0; i < n; i++) modes.emplace_back(pairs[2 * i], pairs[2 * i + 1]);
  MemFree(pairs);
  std::sort(modes.begin(), modes.end());
  vm_newtable(L);
  for (size_t i = 0; i < modes.size(); i++) {
    vm_newtable(L);
    SetFieldInt(L, "width", modes[i].first);
    SetFieldInt(L, "height", modes[i].second);
    vm_rawseti(L, -2, int(i));
  }
  return 1;
}

const qmCommandEntry kDisplayCommands[] = {
    {"ChangeDisplaySize", DspChangeDisplaySize},
    {"SetTitle", DspSetTitle},
    {"MoveDisplay", DspMoveDisplay},
    {"HideDisplay", DspHideDisplay},
    {"ShowDisplay", DspShowDisplay},
    {"SetDisplayAttributes", DspSetDisplayAttributes},
    {"CreateDisplay", DspCreateDisplay},
    {"FreeDisplay", DspFreeDisplay},
    {"OpenDisplay", DspOpenDisplay},
    {"CloseDisplay", DspCloseDisplay},
    {"SelectDisplay", DspSelectDisplay},
    {"ActivateDisplay", DspActivateDisplay},
    {"ChangeDisplayMode", DspChangeDisplayMode},
    {"GetDisplayModes", DspGetDisplayModes},
    {nullptr, nullptr},
};

const qmConstantEntry kDisplayConstants[] = {
    {"DISPSTATE_OPEN", nullptr, 1},
    {"DISPSTATE_CLOSED", nullptr, 0},
    {"DISPSTATE_MINIMIZED", nullptr, 2},
    {"DISPMODE_FULLSCREEN", nullptr, 2},
    {"DISPMODE_WINDOWED", nullptr, 1},
    {"SCALEMODE_NONE", nullptr, 0},
    {"SCALEMODE_AUTO", nullptr, 1},
    {"SCALEMODE_LAYER", nullptr, 2},
    {"KEEPPOSITION", nullptr, 100000},
    {"ORIENTATION_NONE", nullptr, 0},
    {"ORIENTATION_PORTRAIT", nullptr, 1},
    {"ORIENTATION_LANDSCAPE", nullptr, 3},
    {"ORIENTATION_PORTRAITREV", nullptr, 2},
    {"ORIENTATION_LANDSCAPEREV", nullptr, 4},
    {nullptr, nullptr, 0},
};

// The operations the desktop's event pump and window handler call; the window work tells the
// script of resizes, so it runs on the scene's VM.
uint32_t OpResize(qmScene *scene, qmDisplay *d, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t flags, uint32_t) {
  static_assert(kResizeNoNotify == RESIZE_NONOTIFY);
  return ResizeDisplayCore(ObjectRegistryOwner(scene->objects), d, x, y, w, h, flags & RESIZE_NONOTIFY,
                           int32_t(d->smoothScale));
}
uint32_t OpApplyScreenMode(qmScene *scene, uint32_t mode, int32_t w, int32_t h) {
  return ApplyScreenModeCore(ObjectRegistryOwner(scene->objects), mode, w, h);
}
void OpRefresh(qmScene *scene, qmDisplay *d, uint32_t flags) {
  RefreshDisplayCore(ObjectRegistryOwner(scene->objects), d, flags);
}

}  // namespace

const qmDisplayOps kDisplayOps = {OpResize, OpApplyScreenMode, OpRefresh, nullptr, nullptr, nullptr, nullptr};

namespace {

uint32_t InitDisplayLibrary(VmState *L) {
  qmScene *scene = GetScene(L);
  if (scene && !scene->displaysLock) {
    scene->displaysLock = MutexCreate();
    if (!scene->displaysLock) return ERR_SEMAPHORE;
  }
  return 0;
}

void FreeDisplayLibrary(VmState *L) {
  FreeDisplays(L);
  if (qmScene *scene = GetScene(L)) {
    MutexFree(scene->displaysLock);
    scene->displaysLock = nullptr;
  }
}

}  // namespace

const qmLibrary kDisplayLibrary = {"display",          kDisplayCommands, kDisplayConstants, InitDisplayLibrary,
                                   FreeDisplayLibrary, FREERANK_DISPLAY};
