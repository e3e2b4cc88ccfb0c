// SetDisplayAttributes: a display tag table applied to a display that exists, in place where
// the window allows it, else by closing and reopening the window.
#include <cstring>
#include <memory>
#include <new>

#include "display/bgpic.h"
#include "display/bgpicload.h"
#include "display/display/displaylib.h"
#include "display/scene.h"
#include "display/displayops.h"
#include "display/doublebuffer.h"
#include "display/outputselect.h"
#include "platform/window.h"
#include "runtime/context.h"
#include "display/displaywindow.h"
#include "runtime/errcodes.h"
#include "runtime/objlist.h"

namespace {

constexpr int32_t kCenter = -100000;
constexpr int32_t kPositionNotGiven = 99999;
constexpr uint32_t kReopenFlags = DISPF_KEEPSCREENON | DISPF_FITSCALE | DISPF_KEEPPROPORTIONS | DISPF_NOCLOSE |
                                  DISPF_USEQUARTZ | DISPF_NOHIDE | DISPF_FIXED | DISPF_SIZEABLE | DISPF_BORDERLESS;

bool SameFill(const qmDisplay *d, const qmFillStyle &f) {
  if (d->fillStyle != f.fillStyle) return false;
  if (f.fillStyle == FILLCOLOR) return d->fillColor == f.fillColor;
  if (f.fillStyle == FILLGRADIENT) return std::memcmp(&d->gradient, &f.gradient, sizeof f.gradient) == 0;
  return d->textureBrush.id == f.textureBrush.id && d->textureBrush.handle == f.textureBrush.handle &&
         d->textureX == f.textureX && d->textureY == f.textureY;
}

// The display's own picture filled anew from its settings, at each of its sizes.
uint32_t RefillOwnBGPic(VmState *L, qmDisplay *d, qmBGPic *pic) {
  qmFillStyle &f = pic->fill;
  if (d->fillStyle == FILLTEXTURE) {
    qmFillStyle texture{};
    texture.fillStyle = FILLTEXTURE;
    texture.textureBrush = d->textureBrush;
    if (uint32_t code = AttachFillTexture(ObjectRegistryOf(L), &texture)) return code;
    FreeBitmap(f.textureBitmap);
    f.textureBitmap = texture.textureBitmap;
    f.textureWidth = texture.textureWidth;
    f.textureHeight = texture.textureHeight;
  }
  f.fillStyle = d->fillStyle;
  f.fillColor = d->fillColor;
  f.gradient = d->gradient;
  f.textureBrush = d->textureBrush;
  f.textureX = d->textureX;
  f.textureY = d->textureY;
  pic->kind = f.fillStyle == FILLGRADIENT ? 1 : 0;
  if (uint32_t code = FillPictureFromStyle(pic->master.bitmap, pic->masterWidth, pic->masterHeight, &f)) return code;
  if (pic->unscaled.bitmap != pic->master.bitmap)
    FillPictureFromStyle(pic->unscaled.bitmap, pic->unscaledWidth, pic->unscaledHeight, &f);
  if (pic->shown.bitmap != pic->master.bitmap && pic->shown.bitmap != pic->unscaled.bitmap)
    FillPictureFromStyle(pic->shown.bitmap, pic->shownWidth, pic->shownHeight, &f);
  return PrepareDisplayBuffers(d, pic, 0);
}

}  // namespace

uint32_t SetDisplayAttributesCore(VmState *L, int t, qmDisplay *d, int32_t noRefresh) {
  // Parsed into a copy first: a table error changes nothing.
  // The copy is large (the window's regions), so it is held on the heap for the call.
  std::unique_ptr<qmDisplay> workCopy(new (std::nothrow) qmDisplay());
  if (!workCopy) return ERR_MEM;
  qmDisplay &work = *workCopy;
  std::memcpy(static_cast<void *>(&work), d, sizeof *d);
  // What the changes are judged against once the record has taken them.
  struct {
    uint32_t scaleMode;
    int32_t x, y;
    char title[sizeof d->title];
  } old{d->scaleMode, d->x, d->y, {}};
  std::memcpy(old.title, d->title, sizeof old.title);
  qmBGPic *pic = d->bgpic;
  work.bgpic = nullptr;
  work.width = pic->unscaledWidth;
  work.height = pic->unscaledHeight;
  int32_t scaleGiven = 0;
  if (uint32_t code = ParseDisplayTagTable(L, t, &work, 0, &scaleGiven)) return code;
  qmBGPic *newPic = work.bgpic && work.bgpic != pic ? work.bgpic : nullptr;

  // What changes the window itself.
  const bool reopen = d->state != DISPSTATE_CLOSED &&
                      (((work.flags ^ d->flags) & kReopenFlags) != 0 ||
                       (newPic && (newPic->shown.mask || newPic->shown.alpha || pic->shown.mask || pic->shown.alpha)));
  const bool sizeChange = !newPic && (work.width != pic->unscaledWidth || work.height != pic->unscaledHeight);
  const bool scaleChange = work.scaleMode != d->scaleMode ||
                           (work.scaleMode && (work.scaleWidth != d->scaleWidth || work.scaleHeight != d->scaleHeight));

  d->flags = work.flags;
  std::memcpy(d->title, work.title, sizeof d->title);
  std::memcpy(d->dragRegions, work.dragRegions, sizeof d->dragRegions);
  std::memcpy(d->dragRegionsUnscaled, work.dragRegionsUnscaled, sizeof d->dragRegionsUnscaled);
  std::memcpy(d->sizeRegions, work.sizeRegions, sizeof d->sizeRegions);
  std::memcpy(d->sizeRegionsUnscaled, work.sizeRegionsUnscaled, sizeof d->sizeRegionsUnscaled);
  d->dragRegionCount = work.dragRegionCount;
  d->sizeRegionCount = work.sizeRegionCount;
  d->dragRegionsGiven = work.dragRegionsGiven;
  d->sizeRegionsGiven = work.sizeRegionsGiven;
  d->scaleAuto = work.scaleAuto;
  d->scaleLayer = work.scaleLayer;
  d->scaleMode = work.scaleMode;
  d->smoothScale = work.smoothScale;
  if (d->scaleLayer) d->layersOn = 1;
  uint32_t code = 0;

  if (newPic) {
    qmScene *scene = GetScene(L);
    if (d->doubleBuffer) EndDoubleBufferCore(scene, d);
    if (d->outputType != DISPOUT_DISPLAY) EndSelectCore(GetScene(L), d, 1);
    d->bgpic = newPic;
    d->ownsBGPic = 0;
    ResetBGPicScale(GetScene(L), nullptr, pic);
    if (d == scene->current) scene->picture = newPic;
    d->width = newPic->unscaledWidth;
    d->height = newPic->unscaledHeight;
    pic = newPic;
    code = PrepareDisplayBuffers(d, pic, 1);
    FreeMarkedBGPics(GetScene(L));
  } else if (d->ownsBGPic) {
    qmFillStyle f{};
    f.fillStyle = work.fillStyle;
    f.fillColor = work.fillColor;
    f.gradient = work.gradient;
    f.textureBrush = work.textureBrush;
    f.textureX = work.textureX;
    f.textureY = work.textureY;
    if (!SameFill(d, f)) {
      d->fillStyle = work.fillStyle;
      d->fillColor = work.fillColor;
      d->gradient = work.gradient;
      d->textureBrush = work.textureBrush;
      d->textureX = work.textureX;
      d->textureY = work.textureY;
      code = RefillOwnBGPic(L, d, pic);
    }
  }
  if (!code && !d->scaleMode) {
    d->scaleWidth = d->scaleHeight = 0;
    d->marginLeft = d->marginTop = d->marginRight = d->marginBottom = 0;
    if (old.scaleMode) {
      ResetBGPicScale(GetScene(L), d, pic);
      d->width = pic->unscaledWidth;
      d->height = pic->unscaledHeight;
      code = PrepareDisplayBuffers(d, pic, 1);
    }
  }
  // An x or y the table left out stays where the size stays, else the window is centred.
  if (work.x == kPositionNotGiven) work.x = sizeChange || newPic ? kCenter : old.x;
  if (work.y == kPositionNotGiven) work.y = sizeChange || newPic ? kCenter : old.y;
  if (!code && sizeChange)
    code = ResizeDisplayCore(L, d, work.x, work.y, work.width, work.height, RESIZE_SCRIPT | RESIZE_NOWINDOW,
                             int32_t(d->smoothScale));
  if (!code && d->scaleMode && (scaleChange || newPic) && work.scaleWidth > 0 && work.scaleHeight > 0) {
    d->scaleWidth = work.scaleWidth;
    d->scaleHeight = work.scaleHeight;
    code = ResizeDisplayCore(L, d, kKeepPosition, kKeepPosition, work.scaleWidth, work.scaleHeight, RESIZE_NOWINDOW,
                             int32_t(d->smoothScale));
  }
  if (code) return code;
  d->x = work.x;
  d->y = work.y;

  if (d->state == DISPSTATE_CLOSED) {
    if (!noRefresh) RefreshDisplayCore(L, d, 0);
    return 0;
  }
  if (reopen || sizeChange || scaleChange || newPic) {
    const int32_t activate = int32_t(d->activateOnOpen);
    CloseDisplayWindow(L, d);
    return OpenDisplayWindow(L, d, activate);
  }
  if (d->x != old.x || d->y != old.y) {
    ResolveDisplayPosition(L, d);
    MovePlatformWindow(d);
  }
  PrepareDisplayRegions(d);
  UpdatePlatformWindow(d);
  if (std::strcmp(d->title, old.title) != 0) SetPlatformWindowTitle(d);
  if (!noRefresh) RefreshDisplayCore(L, d, 0);
  return 0;
}
