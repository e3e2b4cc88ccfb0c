// The display tag table of CreateDisplay and SetDisplayAttributes, and the drag and size
// regions of borderless windows.
#include <cstring>

#include "display/bgpic.h"
#include "runtime/bindings/gradient_reader.h"
#include "runtime/cmdargs.h"
#include "display/display/displaylib.h"
#include "display/scene.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/vm/vm_api.h"

namespace {

constexpr int32_t kCenter = -100000;

// Reads the region list under key: 0 with the regions, their count and the given flag; the
// record is left alone when the key is absent.
uint32_t ReadDisplayRegions(VmState *L, int t, const char *key, qmDisplayRegion *regions,
                            qmDisplayRegion *unscaled, int32_t *count, uint32_t *given) {
  vm_pushstring(L, key);
  vm_gettable(L, t);
  if (vm_type(L, -1) != VM_TTABLE) {
    vm_pop(L, 1);
    return 0;
  }
  const int list = vm_gettop(L);
  qmDisplayRegion read[kDisplayRegionMax];
  int32_t n = 0;
  uint32_t code = 0;
  for (int i = 0;; i++) {
    vm_rawgeti(L, list, i);
    if (vm_type(L, -1) != VM_TTABLE) {
      vm_pop(L, 1);
      break;
    }
    // Beyond the table's room nothing is written: the script's regions are refused.
    if (n == kDisplayRegionMax) {
      code = ERR_WRONGUSAGE;
      vm_pop(L, 1);
      break;
    }
    const int r = vm_gettop(L);
    qmDisplayRegion g{QMTYPE_BOX, 0, 0, 0, 0};
    int fx = 0, fy = 0, fw = 0, fh = 0;
    GetFieldInt(L, r, "type", &g.type, nullptr);
    GetFieldInt(L, r, "x", &g.x, &fx);
    GetFieldInt(L, r, "y", &g.y, &fy);
    GetFieldInt(L, r, "width", &g.width, &fw);
    GetFieldInt(L, r, "height", &g.height, &fh);
    vm_pop(L, 1);
    if (g.type != QMTYPE_BOX) code = ERR_WRONGUSAGE;
    else if (!fx || !fy || !fw || !fh) code = ERR_MISSINGPARAMTR;
    else if (g.x < 0 || g.y < 0 || g.width < 1 || g.height < 1) code = ERR_WRONGUSAGE;
    if (code) break;
    read[n++] = g;
  }
  vm_pop(L, 1);
  if (code) return code;
  std::memcpy(regions, read, sizeof(qmDisplayRegion) * size_t(n));
  std::memcpy(unscaled, read, sizeof(qmDisplayRegion) * size_t(n));
  *count = n;
  *given = n > 0;
  return 0;
}

void ReadSwitch(VmState *L, int t, const char *key, uint32_t bit, uint32_t *flags) {
  int32_t v;
  if (GetFieldInt(L, t, key, &v, nullptr)) *flags = v ? (*flags | bit) : (*flags & ~bit);
}

}  // namespace

void SetDisplayDefaults(qmDisplay *d) {
  qmMutex *lock = d->updateLock;
  std::memset(d, 0, sizeof *d);
  d->updateLock = lock;
  d->outputType = DISPOUT_DISPLAY;
  d->x = d->y = kCenter;
  d->width = 640;
  d->height = 480;
  std::strcpy(d->title, "Quenmoor");
  d->scaleX = d->scaleY = 1.0;
  d->textMarginRight = d->width - 1;
  d->fillStyle = FILLCOLOR;
  InitGradientSpec(&d->gradient);
  for (auto &slot : d->handlers) slot = {kNoHandler, kNoHandler};
}

uint32_t ParseDisplayTagTable(VmState *L, int t, qmDisplay *d, int32_t creating, int32_t *scaleGiven) {
  const qmScene *scene = GetScene(L);
  if (creating || !scene->videoRecording) {
    if (uint32_t code = ReadDisplayRegions(L, t, "dragregion", d->dragRegions, d->dragRegionsUnscaled,
                                           &d->dragRegionCount, &d->dragRegionsGiven))
      return code;
    if (uint32_t code = ReadDisplayRegions(L, t, "sizeregion", d->sizeRegions, d->sizeRegionsUnscaled,
                                           &d->sizeRegionCount, &d->sizeRegionsGiven))
      return code;
    static const struct {
      const char *key;
      uint32_t bit;
    } kSwitches[] = {{"borderless", DISPF_BORDERLESS}, {"sizeable", DISPF_SIZEABLE},
                     {"fixed", DISPF_FIXED},           {"nohide", DISPF_NOHIDE},
                     {"nomodeswitch", DISPF_NOMODESWITCH}, {"smoothscale", DISPF_SMOOTHSCALE},
                     {"active", DISPF_ACTIVE},         {"hidepointer", DISPF_HIDEPOINTER},
                     {"usequartz", DISPF_USEQUARTZ},   {"noclose", DISPF_NOCLOSE},
                     {"keepproportions", DISPF_KEEPPROPORTIONS}, {"fitscale", DISPF_FITSCALE},
                     {"keepscreenon", DISPF_KEEPSCREENON}};
    for (const auto &s : kSwitches) ReadSwitch(L, t, s.key, s.bit, &d->flags);
    GetFieldInt(L, t, "x", &d->x, nullptr);
    GetFieldInt(L, t, "y", &d->y, nullptr);
    int fw = 0, fh = 0;
    GetFieldIntOrPercent(L, t, "scalewidth", 1, &d->scaleWidth, &fw);
    GetFieldIntOrPercent(L, t, "scaleheight", 1, &d->scaleHeight, &fh);
    if ((fw && d->scaleWidth == 0) || (fh && d->scaleHeight == 0)) return ERR_WRONGUSAGE;
    if (scaleGiven && (fw || fh)) *scaleGiven = 1;
    int32_t mode;
    if (GetFieldInt(L, t, "scalemode", &mode, nullptr)) {
      if (mode == 0) {
        d->flags &= ~(DISPF_SCALEAUTO | DISPF_SCALELAYER);
        d->marginLeft = d->marginTop = d->marginRight = d->marginBottom = 0;
        d->scaleWidth = d->scaleHeight = 0;
      } else if (mode == 1) {
        d->flags = (d->flags | DISPF_SCALEAUTO) & ~DISPF_SCALELAYER;
      } else if (mode == 2) {
        d->flags = (d->flags | DISPF_SCALELAYER) & ~DISPF_SCALEAUTO;
      } else {
        return ERR_WRONGUSAGE;
      }
    }
  }

  qmObjectId bgpicId{};
  int haveBGPic = 0;
  GetFieldObjectId(L, t, "bgpic", &bgpicId, &haveBGPic);
  if (haveBGPic) {
    qmBGPic *pic = nullptr;
    if (uint32_t code = FindBGPic(scene->objects, &bgpicId, &pic, 0)) return code;
    for (const qmDisplay *o = scene->displays; o; o = o->next)
      if (o->bgpic == pic && (creating || o != scene->current)) return ERR_MULTIBGPIC;
    d->bgpic = pic;
    d->ownsBGPic = 0;
    d->width = pic->unscaledWidth;
    d->height = pic->unscaledHeight;
  }
  if (!haveBGPic || !creating) {
    GetFieldInt(L, t, "width", &d->width, nullptr);
    GetFieldInt(L, t, "height", &d->height, nullptr);
    if (creating || d->ownsBGPic) {
      int32_t style = int32_t(d->fillStyle);
      int found = 0;
      GetFieldInt(L, t, "fillstyle", &style, &found);
      if (creating && !found) style = FILLCOLOR;
      if (style == FILLCOLOR) {
        GetFieldUInt(L, t, "color", &d->fillColor, nullptr);
      } else if (style == FILLGRADIENT) {
        if (uint32_t code = ReadGradientOptions(L, t, &d->gradient)) return code;
      } else if (style == FILLTEXTURE) {
        GetFieldObjectId(L, t, "texturebrush", &d->textureBrush, nullptr);
        GetFieldInt(L, t, "texturex", &d->textureX, nullptr);
        GetFieldInt(L, t, "texturey", &d->textureY, nullptr);
      } else {
        return ERR_WRONGUSAGE;
      }
      d->fillStyle = uint32_t(style);
    }
    if (d->width < 1 || d->height < 1) return ERR_WRONGUSAGE;
    if (d->width > QM_MAX_PICTURE_SIDE || d->height > QM_MAX_PICTURE_SIDE) return ERR_MEM;
  }
  if (scene->videoRecording && !creating) return 0;

  char title[sizeof d->title + 1];
  int haveTitle = 0;
  vm_pushstring(L, "title");
  vm_gettable(L, t);
  const bool longTitle = vm_type(L, -1) == VM_TSTRING && std::strlen(vm_tostring(L, -1)) > 255;
  vm_pop(L, 1);
  if (longTitle) return ERR_WRONGUSAGE;
  GetFieldString(L, t, "title", title, sizeof title, &haveTitle);
  if (haveTitle) std::strcpy(d->title, title);

  // A percentage of the size, computed wide so that no product overflows.
  auto percent = [](int32_t v, int32_t size) -> int64_t { return v < 0 ? int64_t(size) * -int64_t(v) / 100 : v; };
  const int64_t sw = percent(d->scaleWidth, d->width), sh = percent(d->scaleHeight, d->height);
  if (sw > QM_MAX_PICTURE_SIDE || sh > QM_MAX_PICTURE_SIDE) return ERR_MEM;
  d->scaleWidth = int32_t(sw);
  d->scaleHeight = int32_t(sh);
  d->scaleAuto = (d->flags & DISPF_SCALEAUTO) ? 1 : 0;
  d->scaleLayer = (d->flags & DISPF_SCALELAYER) ? 1 : 0;
  d->smoothScale = (d->flags & DISPF_SMOOTHSCALE) ? 1 : 0;
  d->scaleMode = d->scaleAuto ? 1 : d->scaleLayer ? 2 : 0;
  return 0;
}

void ClipDisplayRegion(qmDisplayRegion *r, int32_t width, int32_t height) {
  if (r->x >= width) r->x = width - 1;
  if (r->y >= height) r->y = height - 1;
  if (int64_t(r->x) + r->width > width) r->width = width - r->x;
  if (int64_t(r->y) + r->height > height) r->height = height - r->y;
  if (r->width < 1) r->width = 1;
  if (r->height < 1) r->height = 1;
}

void PrepareDisplayRegions(qmDisplay *d) {
  const bool scaled = (d->scaleAuto || d->scaleLayer) && d->scaleWidth && d->scaleHeight;
  auto rebuild = [&](qmDisplayRegion *regions, const qmDisplayRegion *unscaled, int32_t count) {
    if (!scaled) return;
    for (int32_t i = 0; i < count; i++) {
      const qmDisplayRegion &u = unscaled[i];
      regions[i] = {u.type, int32_t(u.x * d->scaleX), int32_t(u.y * d->scaleY), int32_t(u.width * d->scaleX),
                    int32_t(u.height * d->scaleY)};
    }
  };
  if (d->dragRegionsGiven) {
    rebuild(d->dragRegions, d->dragRegionsUnscaled, d->dragRegionCount);
  } else {
    d->dragRegions[0] = {0, 0, 0, d->width, 15};
    d->dragRegionCount = 1;
  }
  if (d->sizeRegionsGiven) {
    rebuild(d->sizeRegions, d->sizeRegionsUnscaled, d->sizeRegionCount);
  } else {
    d->sizeRegions[0] = {0, d->width - 10, d->height - 10, 10, 10};
    d->sizeRegionCount = 1;
  }
  for (int32_t i = 0; i < d->dragRegionCount; i++) ClipDisplayRegion(&d->dragRegions[i], d->width, d->height);
  for (int32_t i = 0; i < d->sizeRegionCount; i++) ClipDisplayRegion(&d->sizeRegions[i], d->width, d->height);
}
