#include "graphics/graphics/getattribute.h"

#include "display/asyncdraw.h"
#include "display/bgpic.h"
#include "display/brush.h"
#include "display/display.h"
#include "display/scene.h"
#include "display/output.h"
#include "platform/desktop.h"
#include "graphics/clipregion.h"
#include "graphics/graphics/pointerimage.h"
#include "media/animcore/anim.h"
#include "platform/pointer.h"
#include "display/displaywindow.h"
#include "runtime/attributes.h"
#include "runtime/auxlib.h"
#include "runtime/cmdargs.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/objlist.h"
#include "runtime/vm/vm_api.h"
#include "layers/sprite.h"

namespace {

// A row: the type, whether ATTRCOUNT is answered from the object list without a lookup, and
// the reader that looks the object up (argument 2) and pushes the attribute's results.
struct qmAttributeRow {
  uint32_t type;
  bool counted;
  uint32_t (*read)(VmState *L, int32_t attribute);
};

uint32_t PushNumber(VmState *L, double v) {
  vm_pushnumber(L, v);
  return 1;
}

uint32_t ReadClipRegion(VmState *L, int32_t attribute) {
  qmObjectId id = GetObjectIdArg(L, 2);
  qmClipRegion *r = nullptr;
  if (uint32_t code = FindClipRegion(ObjectRegistryOf(L), &id, &r, 0)) return code;
  switch (attribute) {
  case ATTRWIDTH: return PushNumber(L, r->width);
  case ATTRHEIGHT: return PushNumber(L, r->height);
  case ATTRXPOS: return PushNumber(L, r->x);
  case ATTRYPOS: return PushNumber(L, r->y);
  default: return ERR_UNKNOWNATTR;
  }
}

uint32_t ReadPointer(VmState *L, int32_t attribute) {
  qmObjectId id = GetObjectIdArg(L, 2);
  qmPointerImage *p = nullptr;
  if (uint32_t code = FindPointerImage(L, &id, &p)) return code;
  switch (attribute) {
  case ATTRWIDTH: return PushNumber(L, p->width);
  case ATTRHEIGHT: return PushNumber(L, p->height);
  case ATTRTYPE: return PushNumber(L, p->kind);
  default: return ERR_UNKNOWNATTR;
  }
}

// Frame counts come from the producer's control callback; 0 without one.
uint32_t ReadAsyncDraw(VmState *L, int32_t attribute) {
  qmObjectId id = GetObjectIdArg(L, 2);
  qmAsyncDraw *ad = nullptr;
  if (uint32_t code = FindAsyncDraw(GetScene(L), &id, &ad)) return code;
  switch (attribute) {
  case ATTRTYPE: return PushNumber(L, ad->kind);
  case ATTRNUMFRAMES: return PushNumber(L, ad->control ? double(ad->control(ADOP_FRAMECOUNT, 0, ad->userData)) : 0);
  case ATTRCURFRAME: return PushNumber(L, ad->control ? double(ad->control(ADOP_CURFRAME, 0, ad->userData)) : 0);
  default: return ERR_UNKNOWNATTR;
  }
}

// An object's id as the script gave it: the handle of an automatic id, else the number.
uint32_t PushId(VmState *L, uint32_t id, uintptr_t handle) {
  if (handle) vm_pushlightuserdata(L, reinterpret_cast<void *>(handle));
  else vm_pushnumber(L, id);
  return 1;
}

// The id of the clip region active on the current output; 0 without one.
uint32_t PushActiveClip(VmState *L) {
  qmOutputPicture pic{};
  if (!GetOutputPicture(GetScene(L), &pic) || !*pic.activeClip) return PushNumber(L, 0);
  const qmClipRegion *r = *pic.activeClip;
  return PushId(L, r->header.id, r->header.handle);
}

uint32_t LayerCount(const qmBGPic *pic) {
  uint32_t n = 0;
  for (void *const *node = static_cast<void *const *>(pic->layers.head); node && *node;
       node = static_cast<void *const *>(*node))
    n++;
  return n;
}

uint32_t ReadBGPic(VmState *L, int32_t attribute) {
  qmObjectId id = GetObjectIdArg(L, 2);
  qmBGPic *pic = nullptr;
  if (uint32_t code = FindBGPic(ObjectRegistryOf(L), &id, &pic, 0)) return code;
  switch (attribute) {
  case ATTRWIDTH: return PushNumber(L, pic->unscaledWidth);
  case ATTRHEIGHT: return PushNumber(L, pic->unscaledHeight);
  case ATTRTRANSPARENTCOLOR: return PushNumber(L, pic->transparentColor);
  case ATTRLAYERS: return PushNumber(L, LayerCount(pic));
  case ATTRTYPE: return PushNumber(L, pic->kind);
  case ATTRHASMASK: return PushNumber(L, pic->unscaled.mask ? 1 : 0);
  case ATTRHASALPHA: return PushNumber(L, pic->unscaled.alpha ? 1 : 0);
  case ATTRCLIPREGION: return PushActiveClip(L);
  default: return ERR_UNKNOWNATTR;
  }
}

uint32_t ReadBrush(VmState *L, int32_t attribute) {
  qmObjectId id = GetObjectIdArg(L, 2);
  qmBrush *b = nullptr;
  if (uint32_t code = FindBrush(ObjectRegistryOf(L), &id, &b, FINDBRUSH_HARDWARE)) return code;
  switch (attribute) {
  case ATTRWIDTH: return PushNumber(L, b->width);
  case ATTRHEIGHT: return PushNumber(L, b->height);
  case ATTRTRANSPARENTCOLOR: return PushNumber(L, b->transparentColor);
  case ATTRTYPE: return PushNumber(L, b->kind);
  case ATTRHASMASK: return PushNumber(L, b->hardware ? (b->hardwarePlanes & 1) : b->mask ? 1 : 0);
  case ATTRHASALPHA: return PushNumber(L, b->hardware ? (b->hardwarePlanes >> 1 & 1) : b->alpha ? 1 : 0);
  case ATTRHARDWARE: return PushNumber(L, b->hardware);
  default: return ERR_UNKNOWNATTR;
  }
}

// The first frame's planes answer for the mask and the alpha channel; argument 4 names the frame
// whose delay is asked (from 1).
uint32_t ReadAnim(VmState *L, int32_t attribute) {
  qmObjectId id = GetObjectIdArg(L, 2);
  qmAnim *a = nullptr;
  if (uint32_t code = FindAnim(GetScene(L), &id, &a, 0)) return code;
  auto firstHas = [&](bool alpha) -> uint32_t {
    qmBitmap *b = nullptr;
    qmMask *m = nullptr;
    qmAlphaChannel *al = nullptr;
    if (uint32_t code = FetchAnimFrame(a, 0, 0, 1, &b, &m, &al)) return code;
    const bool has = alpha ? al != nullptr : m != nullptr;
    if (a->onDisk) FreePlanes(b, m, al);
    return PushNumber(L, has ? 1 : 0);
  };
  switch (attribute) {
  case ATTRWIDTH: return PushNumber(L, a->width);
  case ATTRHEIGHT: return PushNumber(L, a->height);
  case ATTRTRANSPARENTCOLOR: return PushNumber(L, a->transparentColor);
  case ATTRNUMFRAMES: return PushNumber(L, a->frameCount);
  case ATTRHASMASK: return firstHas(false);
  case ATTRHASALPHA: return a->onDisk ? PushNumber(L, a->hasAlpha) : firstHas(true);
  case ATTRFRAMEDELAY: {
    const int32_t frame = vm_optint32(L, 4, 0);
    if (frame < 1 || frame > a->frameCount) return ERR_ANIMFRAME;
    return PushNumber(L, GetAnimFrameDelay(a, frame - 1));
  }
  default: return ERR_UNKNOWNATTR;
  }
}
// Fonts, text objects and the current font of a display: the text library answers (an error
// when it is not open).
uint32_t ReadTextObject(VmState *L, uint32_t type, int32_t attribute) {
  qmPlayerContext *ctx = GetPlayerContext(L);
  if (!ctx || !ctx->readTextAttribute) return ERR_WRONGUSAGE;
  return ctx->readTextAttribute(L, type, attribute);
}
// The id is a display, or 0 / nil for the current one; ATTRCOUNT counts the display list.
uint32_t ReadDisplay(VmState *L, int32_t attribute) {
  qmObjectId id = GetObjectIdArg(L, 2);
  const qmScene *scene = GetScene(L);
  if (attribute == ATTRCOUNT) {
    uint32_t n = 0;
    for (const qmDisplay *d = scene->displays; d; d = d->next) n++;
    return PushNumber(L, n);
  }
  const qmDisplay *d = scene->current;
  if (id.id || id.handle) {
    d = nullptr;
    for (const qmDisplay *o = scene->displays; o && !d; o = o->next)
      if (o->id == id.id && o->handle == id.handle) d = o;
    if (!d) return MissingObjectError(&id, ERR_FINDDISPLAY);
  }
  if (!d) return MissingObjectError(&id, ERR_FINDDISPLAY);
  const qmBGPic *pic = d->bgpic;
  auto flag = [&](uint32_t bit) { return PushNumber(L, (d->flags & bit) ? 1 : 0); };
  switch (attribute) {
  case ATTRWIDTH: return PushNumber(L, pic ? pic->unscaledWidth : d->width);
  case ATTRHEIGHT: return PushNumber(L, pic ? pic->unscaledHeight : d->height);
  case ATTRMAXWIDTH: return PushNumber(L, GetPlatformAttr(nullptr, 14) - d->frameWidth);
  case ATTRMAXHEIGHT: return PushNumber(L, GetPlatformAttr(nullptr, 15) - d->frameHeight);
  case ATTRBORDERLEFT: return PushNumber(L, d->frameLeft);
  case ATTRBORDERTOP: return PushNumber(L, d->frameTop);
  case ATTRBORDERRIGHT: return PushNumber(L, d->frameWidth - d->frameLeft);
  case ATTRBORDERBOTTOM: return PushNumber(L, d->frameHeight - d->frameTop);
  case ATTRHOSTWIDTH: return PushNumber(L, GetPlatformAttr(nullptr, 14));
  case ATTRHOSTHEIGHT: return PushNumber(L, GetPlatformAttr(nullptr, 15));
  case ATTRHOSTDEPTH: return PushNumber(L, GetPlatformAttr(nullptr, 5));
  case ATTRBGPIC: return pic ? PushId(L, pic->header.id, pic->header.handle) : PushNumber(L, 0);
  case ATTRLAYERS: return PushNumber(L, pic ? LayerCount(pic) : 0);
  case ATTRLAYERSON: return PushNumber(L, d->layersOn);
  case ATTRXPOS: return PushNumber(L, d->x);
  case ATTRYPOS: return PushNumber(L, d->y);
  case ATTRCURSORX: return PushNumber(L, d->cursorX);
  case ATTRCURSORY: return PushNumber(L, d->cursorY);
  case ATTRPOINTER: {
    auto *p = static_cast<const qmPointerImage *>(PlatformPointerOwner(d));
    return p ? PushId(L, p->header.id, p->header.handle) : PushNumber(L, 0);
  }
  case ATTRSTATE: return PushNumber(L, d->state);
  case ATTRACTIVE: return PushNumber(L, d->active);
  case ATTRMODE: return PushNumber(L, scene->fullScreen ? 2 : 1);
  case ATTRSCALEMODE: return PushNumber(L, d->scaleAuto ? 1 : d->scaleLayer ? 2 : 0);
  case ATTRSCALEWIDTH: return PushNumber(L, d->scaleWidth ? d->scaleWidth : d->width);
  case ATTRSCALEHEIGHT: return PushNumber(L, d->scaleHeight ? d->scaleHeight : d->height);
  case ATTRBORDERLESS: return flag(DISPF_BORDERLESS);
  case ATTRSIZEABLE: return flag(DISPF_SIZEABLE);
  case ATTRFIXED: return flag(DISPF_FIXED);
  case ATTRNOMODESWITCH: return flag(DISPF_NOMODESWITCH);
  case ATTRNOHIDE: return flag(DISPF_NOHIDE);
  case ATTRNOCLOSE: return flag(DISPF_NOCLOSE);
  case ATTRTITLE: vm_pushstring(L, d->title); return 1;
  case ATTRMARGINLEFT: return PushNumber(L, d->textMarginLeft);
  case ATTRMARGINRIGHT: return PushNumber(L, d->textMarginRight);
  case ATTROUTPUTDEVICE: {
    const qmBGPic *sel = d->selectBGPic;
    if (d->doubleBuffer) {
      PushNumber(L, QMTYPE_DOUBLEBUFFER);
      PushNumber(L, 0);
    } else if (d->outputType == DISPOUT_DISPLAY) {
      PushNumber(L, 0);
      PushId(L, d->id, d->handle);
    } else if (d->outputType == DISPOUT_BGPIC) {
      PushNumber(L, QMTYPE_BGPIC);
      PushId(L, scene->picture ? scene->picture->header.id : 0, scene->picture ? scene->picture->header.handle : 0);
    } else {
      PushNumber(L, sel ? sel->selectedType : 0);
      PushId(L, sel ? sel->selectedId.id : 0, sel ? sel->selectedId.handle : 0);
    }
    PushNumber(L, d->doubleBuffer || d->outputType == DISPOUT_DISPLAY ? 0 : d->outputType);
    return 3;
  }
  case ATTRDOUBLEBUFFER: return PushNumber(L, d->doubleBuffer || d->doubleBufferPaused ? 1 : 0);
  case ATTRMASKMODE: return PushNumber(L, GetOutputMaskMode(scene));
  case ATTRALPHAINTENSITY: return PushNumber(L, GetOutputAlphaValue(scene));
  case ATTRORIENTATION:
  case ATTRKEYBOARD: return PushNumber(L, 0);  // a desktop has neither
  default: return ReadTextObject(L, QMTYPE_DISPLAY, attribute);  // the current font's
  }
}

// Files, memory blocks, event handlers, intervals and timeouts: their libraries answer (an error
// when the library is not open).
uint32_t ReadDosObject(VmState *L, int32_t attribute) {
  qmPlayerContext *ctx = GetPlayerContext(L);
  if (!ctx || !ctx->readDosAttribute) return ERR_WRONGUSAGE;
  return ctx->readDosAttribute(L, QMTYPE_FILE, attribute);
}
uint32_t ReadMemory(VmState *L, int32_t attribute) {
  qmPlayerContext *ctx = GetPlayerContext(L);
  if (!ctx || !ctx->readMemoryAttribute) return ERR_WRONGUSAGE;
  return ctx->readMemoryAttribute(L, QMTYPE_MEMORY, attribute);
}
uint32_t ReadEventObject(VmState *L, uint32_t type, int32_t attribute) {
  qmPlayerContext *ctx = GetPlayerContext(L);
  if (!ctx || !ctx->readEventAttribute) return ERR_WRONGUSAGE;
  return ctx->readEventAttribute(L, type, attribute);
}
uint32_t ReadEventHandler(VmState *L, int32_t attribute) { return ReadEventObject(L, QMTYPE_EVENTHANDLER, attribute); }
uint32_t ReadInterval(VmState *L, int32_t attribute) { return ReadEventObject(L, QMTYPE_INTERVAL, attribute); }
uint32_t ReadTimeout(VmState *L, int32_t attribute) { return ReadEventObject(L, QMTYPE_TIMEOUT, attribute); }

// Types whose only attribute is their count: the object is still looked up before any other
// attribute is refused.
uint32_t ReadCountOnly(VmState *L, uint32_t type, uint32_t missing) {
  qmObjectId id = GetObjectIdArg(L, 2);
  if (!FindObject(L, type, &id)) return MissingObjectError(&id, missing);
  return ERR_UNKNOWNATTR;
}
uint32_t ReadDirectory(VmState *L, int32_t) { return ReadCountOnly(L, QMTYPE_DIRECTORY, ERR_FINDDIR); }
uint32_t ReadTimer(VmState *L, int32_t) { return ReadCountOnly(L, QMTYPE_TIMER, ERR_FINDTIMER); }
uint32_t ReadClient(VmState *L, int32_t) { return ReadCountOnly(L, QMTYPE_CLIENT, ERR_FINDCLIENT); }
uint32_t ReadServer(VmState *L, int32_t) { return ReadCountOnly(L, QMTYPE_SERVER, ERR_FINDSERVER); }
uint32_t ReadVectorPath(VmState *L, int32_t) { return ReadCountOnly(L, QMTYPE_VECTORPATH, ERR_FINDPATH); }
uint32_t ReadAnimStream(VmState *L, int32_t) { return ReadCountOnly(L, QMTYPE_ANIMSTREAM, ERR_FINDANIMSTREAM); }
uint32_t ReadUdpObject(VmState *L, int32_t) { return ReadCountOnly(L, QMTYPE_UDPOBJECT, ERR_FINDUDPOBJECT); }
uint32_t ReadMoveList(VmState *L, int32_t) { return ReadCountOnly(L, QMTYPE_MOVELIST, ERR_FINDMOVE); }

// Samples and music: the sound library answers (an error when it is not open).
uint32_t ReadSoundObject(VmState *L, uint32_t type, int32_t attribute) {
  qmPlayerContext *ctx = GetPlayerContext(L);
  if (!ctx || !ctx->readSoundAttribute) return ERR_WRONGUSAGE;
  return ctx->readSoundAttribute(L, type, attribute);
}
// Videos: the video library answers (an error when it is not open).
uint32_t ReadVideo(VmState *L, int32_t attribute) {
  qmPlayerContext *ctx = GetPlayerContext(L);
  if (!ctx || !ctx->readVideoAttribute) return ERR_WRONGUSAGE;
  return ctx->readVideoAttribute(L, attribute);
}
// Layers: the layers library answers (an error when it is not open).
uint32_t ReadLayer(VmState *L, int32_t attribute) {
  qmPlayerContext *ctx = GetPlayerContext(L);
  if (!ctx || !ctx->readLayerAttribute) return ERR_NOLAYERS;
  return ctx->readLayerAttribute(L, attribute);
}
uint32_t ReadFont(VmState *L, int32_t attribute) { return ReadTextObject(L, QMTYPE_FONT, attribute); }
uint32_t ReadTextObj(VmState *L, int32_t attribute) { return ReadTextObject(L, QMTYPE_TEXTOBJECT, attribute); }
uint32_t ReadSample(VmState *L, int32_t attribute) { return ReadSoundObject(L, QMTYPE_SAMPLE, attribute); }
uint32_t ReadMusic(VmState *L, int32_t attribute) { return ReadSoundObject(L, QMTYPE_MUSIC, attribute); }

uint32_t ReadSprite(VmState *L, int32_t attribute) {
  qmObjectId id = GetObjectIdArg(L, 2);
  qmScene *scene = GetScene(L);
  qmSprite *s = nullptr;
  if (uint32_t code = FindSprite(scene->objects, &id, &s, 0)) return code;
  const qmBitmap *bitmap;
  const qmMask *mask;
  const qmAlphaChannel *alpha;
  GetSpriteFrame(s, 0, &bitmap, &mask, &alpha);
  qmShownSprite *n = nullptr;
  switch (attribute) {
  case ATTRWIDTH: return PushNumber(L, s->width);
  case ATTRHEIGHT: return PushNumber(L, s->height);
  case ATTRTRANSPARENTCOLOR: return PushNumber(L, s->transparentColor);
  case ATTRNUMFRAMES: return PushNumber(L, s->frameCount);
  case ATTRONSCREEN: return PushNumber(L, FindShownSprite(scene, s) ? 1 : 0);
  case ATTRHASMASK: return PushNumber(L, mask ? 1 : 0);
  case ATTRHASALPHA: return PushNumber(L, alpha ? 1 : 0);
  case ATTRXPOS:
  case ATTRYPOS:
  case ATTRCURFRAME:
    if (uint32_t code = LookUpShownSprite(scene, &id, &n)) return code;
    return PushNumber(L, attribute == ATTRXPOS ? n->x : attribute == ATTRYPOS ? n->y : n->frame);
  default: return ERR_UNKNOWNATTR;
  }
}

// Each library adds the rows of its object types here.
const qmAttributeRow kAttributeRows[] = {
    {QMTYPE_BGPIC, true, ReadBGPic},
    {QMTYPE_BRUSH, true, ReadBrush},
    {QMTYPE_DISPLAY, false, ReadDisplay},
    {QMTYPE_LAYER, false, ReadLayer},
    {QMTYPE_CLIPREGION, true, ReadClipRegion},
    {QMTYPE_POINTER, true, ReadPointer},
    {QMTYPE_ASYNCDRAW, true, ReadAsyncDraw},
    {QMTYPE_EVENTHANDLER, false, ReadEventHandler},
    {QMTYPE_INTERVAL, false, ReadInterval},
    {QMTYPE_TIMEOUT, false, ReadTimeout},
    {QMTYPE_MEMORY, true, ReadMemory},
    {QMTYPE_FILE, true, ReadDosObject},
    {QMTYPE_DIRECTORY, true, ReadDirectory},
    {QMTYPE_TIMER, true, ReadTimer},
    {QMTYPE_SAMPLE, true, ReadSample},
    {QMTYPE_MUSIC, true, ReadMusic},
    {QMTYPE_CLIENT, true, ReadClient},
    {QMTYPE_SERVER, true, ReadServer},
    {QMTYPE_UDPOBJECT, true, ReadUdpObject},
    {QMTYPE_MOVELIST, true, ReadMoveList},
    {QMTYPE_VECTORPATH, true, ReadVectorPath},
    {QMTYPE_FONT, true, ReadFont},
    {QMTYPE_TEXTOBJECT, true, ReadTextObj},
    {QMTYPE_ANIM, true, ReadAnim},
    {QMTYPE_ANIMSTREAM, true, ReadAnimStream},
    {QMTYPE_SPRITE, true, ReadSprite},
    {QMTYPE_VIDEO, true, ReadVideo},
};

} // namespace


uint32_t GfxGetAttribute(VmState *L) {
  CheckArgCount(L, 3, 4);
  const int32_t type = vm_checkint32(L, 1);
  const int32_t attribute = vm_checkint32(L, 3);
  for (const qmAttributeRow &row : kAttributeRows) {
    if (int32_t(row.type) != type) continue;
    if (attribute == ATTRCOUNT && row.counted) {
      GetObjectIdArg(L, 2);  // the id need not name an object, but it must be an id
      return PushNumber(L, CountObjectsOfType(L, row.type));
    }
    return row.read(L, attribute);
  }
  return ERR_WRONGUSAGE;
}
