// Switching between windowed and full-screen operation, and the first display at start-up.
#include <algorithm>
#include <cstdio>

#include "display/backfill.h"
#include "display/bgpic.h"
#include "display/bgpicload.h"
#include "display/brush.h"
#include "media/animcore/anim.h"
#include "graphics/blit.h"
#include "graphics/bitmap.h"
#include "display/display/displaylib.h"
#include "display/scene.h"
#include "platform/desktop.h"
#include "platform/hooks.h"
#include "platform/memory.h"
#include "platform/requesters.h"
#include "platform/window.h"
#include "runtime/context.h"
#include "display/displaywindow.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/errreport.h"
#include "runtime/rttags.h"
#include "runtime/vm/vm_api.h"

namespace {
constexpr int32_t kCenter = -100000;
// Message-table entries of the question start mode 3 asks.
constexpr int32_t kMessageChooseMode = 288, kMessageModeButtons = 445;
// The start-up's own status lines.
constexpr int32_t kMessagePreparingDisplay = 99, kMessageAndAction = 372;

// A picture a declaration loaded that cannot be made at the first display: the error is the
// declaration's, named by its line and command as when the declaration itself fails.
uint32_t DeclaredPictureFailed(VmState *L, uint32_t code, int32_t line, const char *command) {
  if (line < 0) return code;
  vm_seterrorplace(L, line, command, nullptr);
  qmTagItem lineInfo[] = {{RTTAG_LINEINFO, 1}, {0, 0}};
  SetRuntimeTags(nullptr, lineInfo);
  return code;
}

// The desktop as it is now becomes the picture of the display (at the display's size, from the
// desktop's top-left corner), before its window covers the desktop.
uint32_t TakeDesktopPicture(qmDisplay *d) {
  if (uint32_t code = InitDesktop()) return code;
  qmBGPic *pic = d->bgpic;
  if (!pic || !pic->master.bitmap) return ERR_MEM;
  const int32_t w = std::min(pic->unscaledWidth, GetPlatformAttr(nullptr, 14));
  const int32_t h = std::min(pic->unscaledHeight, GetPlatformAttr(nullptr, 15));
  qmBitmap *grab = w > 0 && h > 0 ? GrabScreenPixels(0, 0, w, h) : nullptr;
  if (!grab) return ERR_MEM;
  // The picture's sets share their bitmap until it is scaled; each distinct one gets the grab.
  qmBitmap *targets[3] = {pic->master.bitmap, pic->unscaled.bitmap, pic->shown.bitmap};
  for (int i = 0; i < 3; i++) {
    if (!targets[i] || (i > 0 && targets[i] == targets[0]) || (i > 1 && targets[i] == targets[1])) continue;
    BltBitmap(grab, 0, 0, targets[i], 0, 0, std::min(w, targets[i]->width), std::min(h, targets[i]->height));
  }
  FreeBitmap(grab);
  return PrepareDisplayBuffers(d, pic, 1);
}

// The backdrop display heads the list while it exists.
qmDisplay *BackdropDisplay(const qmScene *scene) {
  return scene->displays && scene->displays->private1 ? scene->displays : nullptr;
}

// A closed, borderless display of the screen (below the band above the work area unless the
// backfill covers it) showing the backfill, made behind a windowed applet's windows; it owns
// its picture. 0 or an error code (nothing is left).
uint32_t CreateBackdropDisplay(VmState *L) {
  qmScene *scene = GetScene(L);
  if (uint32_t code = InitDesktop()) return code;
  const int32_t top = scene->backfill.coverTitleBar ? 0 : std::max(GetPlatformAttr(nullptr, 22), 0);
  const int32_t w = GetPlatformAttr(nullptr, 14), h = GetPlatformAttr(nullptr, 15) - top;
  qmBitmap *b = nullptr;
  if (uint32_t code = BuildBackfillPicture(scene, &scene->backfill, w, h, &b)) return code;
  qmObjectId picId{0, 1};
  qmBGPic *pic = nullptr;
  if (uint32_t code = NewBGPicRecord(scene->objects, &picId, 0, w, h, {b, nullptr, nullptr}, kNoTransparency,
                                     nullptr, &pic)) {
    FreeBitmap(b);
    return code;
  }
  auto *parsed = static_cast<qmDisplay *>(MemAlloc(sizeof(qmDisplay), 1));
  if (!parsed) {
    FreeBGPicCore(scene, &picId, 0);
    return ERR_MEM;
  }
  SetDisplayDefaults(parsed);
  parsed->x = 0;
  parsed->y = top;
  parsed->width = w;
  parsed->height = h;
  parsed->flags = DISPF_BORDERLESS | DISPF_FIXED | DISPF_HIDEPOINTER;
  parsed->private1 = 1;
  parsed->bgpic = pic;
  parsed->ownsBGPic = 1;
  qmDisplay *d = nullptr;
  const uint32_t code = CreateDisplayCore(L, parsed, {0, 1}, &d);
  MemFree(parsed);
  // A record that failed before it took the picture over leaves it listed.
  if (code && FindBGPic(scene->objects, &picId, &pic, 0) == 0) FreeBGPicCore(scene, &picId, 0);
  return code;
}

void FreeBackdropDisplay(VmState *L) {
  if (qmDisplay *d = BackdropDisplay(GetScene(L))) RemoveDisplay(L, d);
}

// A windowed applet with backfill shows it behind its windows, unless the start mode chose
// plain full-screen bars.
bool WantsBackdrop(const qmScene *scene) {
  return !scene->fullScreen && scene->backfill.type != BACKFILL_NONE && !scene->backfillForced;
}
}

uint32_t ApplyScreenModeCore(VmState *L, uint32_t mode, int32_t width, int32_t height) {
  qmScene *scene = GetScene(L);
  mode = mode ? 1 : 0;
  if (mode == scene->fullScreen) {
    if (!mode) return 0;
    if (width == GetPlatformAttr(nullptr, 14) && height == GetPlatformAttr(nullptr, 15)) return 0;
  }
  const uint32_t fade = FadeDisplayOut();
  for (qmDisplay *d = scene->displays; d; d = d->next) {
    d->reopen = d->state != DISPSTATE_CLOSED;
    if (!d->reopen) continue;
    const uint32_t activate = d->activateOnOpen;
    CloseDisplayWindow(L, d);
    d->activateOnOpen = activate;
  }
  // Every switch makes the backdrop anew, for the new mode's screen.
  FreeBackdropDisplay(L);
  // A switch that fails is reported; the windows still come back, in the mode they had.
  const uint32_t switched = mode ? SwitchDisplayMode(width, height, GetPlatformAttr(nullptr, 5)) : RestoreDisplayMode();
  if (!switched) scene->fullScreen = mode;
  uint32_t code = 0;
  SetFullscreenUIMode(scene->fullScreen ? 2 : 0);
  // The bars of the full screen show the applet's backfill unless the start-up mode asked
  // for black ones.
  FreeBitmap(scene->backfillPicture);
  scene->backfillPicture = nullptr;
  if (!code && scene->fullScreen && scene->backfill.type != BACKFILL_NONE && !scene->backfillForced)
    code = BuildBackfillPicture(scene, &scene->backfill, GetPlatformAttr(nullptr, 14), GetPlatformAttr(nullptr, 15),
                                &scene->backfillPicture);
  if (!code && WantsBackdrop(scene)) {
    code = CreateBackdropDisplay(L);
    if (!code) BackdropDisplay(scene)->reopen = 1;
  }
  for (qmDisplay *d = scene->displays; d; d = d->next) {
    if (!d->reopen) continue;
    d->reopen = 0;
    if (!d->private1) {
      d->x = d->y = kCenter;
      if (scene->fullScreen) d->flags = (d->flags | DISPF_BORDERLESS | DISPF_FIXED) & ~DISPF_SIZEABLE;
      else d->flags &= ~(DISPF_BORDERLESS | DISPF_FIXED);
    }
    const uint32_t c = OpenDisplayWindow(L, d, int32_t(d->activateOnOpen));
    if (!code) code = c;
    if (c) break;
  }
  // Also after a failed switch: the windows are open again, in the mode they had.
  FadeDisplayIn(fade);
  return switched ? switched : code;
}

qmFullScreenSize ChooseFullScreenSize(int32_t settingWidth, int32_t settingHeight, int32_t width, int32_t height,
                                      int32_t frameWidth, int32_t frameHeight, bool framed, int32_t desktopWidth,
                                      int32_t desktopHeight) {
  const int64_t wantedWidth = int64_t(width) + frameWidth, wantedHeight = int64_t(height) + frameHeight;
  auto side = [](int32_t setting, int64_t wanted, int32_t desktop) {
    return setting == 0 ? int64_t(desktop) : setting < 0 ? wanted : int64_t(setting);
  };
  const int64_t screenWidth = side(settingWidth, wantedWidth, desktopWidth);
  const int64_t screenHeight = side(settingHeight, wantedHeight, desktopHeight);
  auto clamp = [](int64_t v) { return int32_t(std::min<int64_t>(v, INT32_MAX)); };
  if (wantedWidth <= screenWidth && wantedHeight <= screenHeight)
    return {clamp(screenWidth), clamp(screenHeight), 0};
  // A window whose frame alone does not fit goes without it.
  if (framed && width <= screenWidth && height <= screenHeight) return {clamp(screenWidth), clamp(screenHeight), 1};
  return {clamp(wantedWidth), clamp(wantedHeight), 0};
}

uint32_t PrepareDeclaredBGPic(VmState *L, uint32_t id, int32_t *line) {
  const qmObjectId picId{id, 0};
  return RealizePreloadedBGPic(GetScene(L)->objects, &picId, line);
}

uint32_t OpenFirstDisplay(VmState *L, int32_t startMode, int32_t screenWidth, int32_t screenHeight) {
  qmScene *scene = GetScene(L);
  const qmObjectId one{1, 0};
  qmDisplay *first = FindDisplayOf(scene, &one);
  if (!first) {
    SetErrorNumber(1);
    return ERR_FINDDISPLAY;
  }
  if (startMode == 0) startMode = 1;
  // Desktop mode (display 1 declared at the desktop's size): the display shows the desktop as
  // it was, in a window that covers it.
  const bool desktop = first->private2 != 0;
  if (desktop) {
    if (scene->videoRecording) return ERR_DDRECVIDEO;
    if (first->scaleAuto || first->scaleLayer) return ERR_DDAUTOSCALE;
    startMode = 1;
    first->flags = DISPF_ACTIVE | DISPF_NOHIDE | DISPF_NOMODESWITCH | DISPF_FIXED | DISPF_BORDERLESS;
  } else if (startMode == 3) {
    // The left button is full screen, the right one windowed; when no dialog could ask, the
    // screen is switched all the same, only without the borderless window of mode 2.
    const int answer =
        ShowMessageRequester(first->title, GetErrorText(kMessageChooseMode), GetErrorText(kMessageModeButtons));
    startMode = answer == 1 ? 2 : answer == 0 ? 1 : 3;
  }
  if (startMode == 2 || startMode == 4) scene->backfillForced = 1;
  if (startMode == 2 || startMode == 4 || startMode == 6)
    first->flags = (first->flags | DISPF_BORDERLESS | DISPF_FIXED) & ~DISPF_SIZEABLE;
  if (startMode == 6) {
    // A borderless window on a black backdrop that covers the whole screen.
    first->flags |= DISPF_FAKEFULLSCREEN;
    qmBackfillSettings &b = scene->backfill;
    b = {};
    b.type = BACKFILL_COLOR;
    b.startColor = 0;
    b.endColor = b.transparentColor = kNoBackfillColor;
    b.coverTitleBar = 1;
    startMode = 1;
  }
  if (desktop) scene->backfill.type = BACKFILL_NONE;
  if (startMode != 1) {
    if (uint32_t code = InitDesktop()) return code;
    // The screen must hold the display: a screen smaller than the display with its frame takes
    // the display's size, or keeps its own when the display fits there without the frame.
    GetWindowFrameWidths(first);
    const qmFullScreenSize s =
        ChooseFullScreenSize(screenWidth, screenHeight, first->width, first->height, first->frameWidth,
                             first->frameHeight, !(first->flags & DISPF_BORDERLESS), GetPlatformAttr(nullptr, 14),
                             GetPlatformAttr(nullptr, 15));
    if (s.dropFrame) {
      first->flags |= DISPF_BORDERLESS;
      GetWindowFrameWidths(first);
    }
    // No mode to switch to ends the start: the applet asked for a screen it cannot have.
    if (uint32_t code = SwitchDisplayMode(s.width, s.height, GetPlatformAttr(nullptr, 5))) return code;
    scene->fullScreen = 1;
    SetFullscreenUIMode(2);
  }
  PrintStatusMessage(GetErrorText(kMessagePreparingDisplay), nullptr, 1);
  // The brushes and pictures the declarations loaded become bitmaps now; one that cannot is
  // reported as its declaration's failure, at its line and in its command.
  int32_t line = -1;
  if (uint32_t code = RealizePreloadedBrushes(scene->objects, &line))
    return DeclaredPictureFailed(L, code, line, "LoadBrush");
  if (uint32_t code = RealizePreloadedBGPics(scene->objects, &line))
    return DeclaredPictureFailed(L, code, line, "LoadBGPic");
  if (uint32_t code = ConvertPendingAnimFrames(scene->objects, &line))
    return DeclaredPictureFailed(L, code, line, "LoadAnim");
  if (WantsBackdrop(scene))
    if (uint32_t code = CreateBackdropDisplay(L)) return code;
  PrintDoneMessage();
  if (!IsQuiet() && !scene->videoRecording) {
    std::printf("%s\n", GetErrorText(kMessageAndAction));
    std::fflush(stdout);
  }
  // From here on the script runs: nothing more is printed on the console.
  CloseConsoleOutput();
  qmTagItem quiet[] = {{RTTAG_QUIET, 1}, {0, 0}};
  SetRuntimeTags(nullptr, quiet);
  if (desktop)
    if (uint32_t code = TakeDesktopPicture(first)) return code;
  for (qmDisplay *d = scene->displays; d; d = d->next)
    if (uint32_t code = FitDisplayToScreen(L, d)) return code;
  qmDisplay *current = nullptr;
  for (qmDisplay *d = scene->displays; d; d = d->next) {
    if (d->flags & DISPF_HIDDEN) continue;
    if (uint32_t code = OpenDisplayWindow(L, d, (d->flags & DISPF_ACTIVE) ? 1 : 0)) return code;
    if (!current && (d->flags & DISPF_ACTIVE)) current = d;
  }
  if (current) ActivatePlatformWindow(current);
  MakeDisplayCurrent(L, current ? current : first);
  return 0;
}
