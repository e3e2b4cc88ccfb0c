// The transitionfx library's commands: transitions of background pictures, brushes, text
// objects and parts of pictures, the clearing of the screen, and the random effect.
#include "transitions/transitionfx/lib_transitionfx.h"

#include <cstdlib>

#include "display/asyncdraw.h"
#include "display/bgpic.h"
#include "display/display.h"
#include "display/imagecore.h"
#include "display/scene.h"
#include "graphics/blit.h"
#include "layers/layer.h"
#include "runtime/bindings/fxoptions_reader.h"
#include "runtime/bindings/layerarg_reader.h"
#include "runtime/cmdargs.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/objlist.h"
#include "runtime/objtypes.h"
#include "runtime/vm/vm_api.h"
#include "transitions/fxprims.h"
#include "transitions/fxrunner.h"
#include "transitions/fxtable.h"

namespace {

constexpr int32_t kPositionNotGiven = 99999;

// One pass of the event pump between frames; non-zero once the script is to stop.
int32_t PumpBetweenFrames(void *data) {
  auto *L = static_cast<VmState *>(data);
  if (qmPlayerContext *ctx = GetPlayerContext(L); ctx && ctx->serviceEvents) ctx->serviceEvents(L);
  return vm_endrequested(L) ? 1 : 0;
}

// A picture of another size goes on the display through the display library's own path.
uint32_t ShowResized(void *data, qmBGPic *pic) {
  auto *L = static_cast<VmState *>(data);
  qmPlayerContext *ctx = GetPlayerContext(L);
  if (!ctx || !ctx->setDisplayAttributes) return ERR_WRONGUSAGE;
  const qmObjectId id{pic->header.id, pic->header.handle};
  vm_newtable(L);
  SetFieldObjectId(L, "bgpic", &id);
  uint32_t code = ctx->setDisplayAttributes(L, vm_gettop(L), ctx->scene->current, 1);
  vm_pop(L, 1);
  return code;
}

qmFxRequest NewRequest(VmState *L, int32_t objectType) {
  qmFxRequest r{};
  r.scene = GetScene(L);
  r.pump = PumpBetweenFrames;
  r.pumpData = L;
  r.showResized = ShowResized;
  r.objectType = objectType;
  r.effect = FX_RANDOMEFFECT;
  r.step = FX_NORMALSPEED;
  r.parameter = FX_RANDOMPARAMETER;
  r.bgpicX = r.bgpicY = kPositionNotGiven;
  return r;
}

// The trailing arguments from position p: one options table when the command was given exactly
// p arguments and the last is a table, else effect, speed and parameter as numbers. True for
// the table form, whose options land in o.
bool ReadTrailing(VmState *L, int p, qmFxRequest *r, qmFxOptions *o) {
  if (vm_gettop(L) == p && vm_type(L, p) == VM_TTABLE) {
    ReadFxOptions(L, p, o);
    r->effect = o->effect;
    r->step = o->speed;
    r->parameter = o->parameter;
    r->forceRealtime = o->forceRealtime;
    r->async = o->async;
    r->noBorderFade = o->noBorderFade;
    return true;
  }
  r->effect = vm_optint32(L, p, FX_RANDOMEFFECT);
  r->step = vm_optint32(L, p + 1, FX_NORMALSPEED);
  r->parameter = vm_optint32(L, p + 2, FX_RANDOMPARAMETER);
  return false;
}

// Runs the request until it asks for no restart; an asynchronous one gives its draw object's
// handle as the result.
uint32_t Run(VmState *L, qmFxRequest *r) {
  do {
    r->restart = 0;
    qmAsyncDraw *ad = nullptr;
    if (uint32_t code = RunTransition(r, &ad)) return code;
    if (ad) return PushNewId(L, qmObjectId{0, reinterpret_cast<uintptr_t>(ad)});
  } while (r->restart);
  return 0;
}

uint32_t FxDisplayTransitionFX(VmState *L) {
  CheckArgCount(L, 1, 4);
  qmFxRequest r = NewRequest(L, FXTARGET_BGPIC);
  r.objectId = GetObjectIdArg(L, 1);
  qmFxOptions o;
  if (ReadTrailing(L, 2, &r, &o)) {
    if (o.async) return ERR_WRONGUSAGE;
    GetFieldInt(L, 2, "x", &r.bgpicX, nullptr);
    GetFieldInt(L, 2, "y", &r.bgpicY, nullptr);
  }
  return Run(L, &r);
}

// With layers on an object's picture becomes the newest layer of the picture, not yet shown,
// and the transition shows that layer.
bool LayersOn(const qmFxRequest &r) { return r.scene->current && r.scene->current->layersOn; }

void ShowNewestLayer(qmFxRequest *r) {
  r->objectType = FXTARGET_LAYER;
  r->objectId = {uint32_t(CountLayers(r->scene->current->bgpic)), 0};
}

uint32_t AddHiddenImageLayer(qmFxRequest *r, uint32_t kind, int32_t srcX, int32_t srcY, int32_t width,
                             int32_t height) {
  qmImageRequest ir{};
  ir.kind = kind;
  ir.id = r->objectId;
  ir.srcX = srcX;
  ir.srcY = srcY;
  ir.x = r->x;
  ir.y = r->y;
  ir.width = width;
  ir.height = height;
  ir.flags = IMGCORE_HIDDEN;
  if (uint32_t code = DisplayImageCore(r->scene, &ir)) return code;
  ShowNewestLayer(r);
  return 0;
}

// DisplayBrushFX and DisplayTextObjectFX: id, x, y, then the effect arguments or a table whose
// "dx" and "dy" replace x and y.
qmFxRequest ReadPlacedObject(VmState *L, int32_t objectType) {
  CheckArgCount(L, 3, 6);
  qmFxRequest r = NewRequest(L, objectType);
  r.objectId = GetObjectIdArg(L, 1);
  r.x = vm_checkint32(L, 2);
  r.y = vm_checkint32(L, 3);
  qmFxOptions o;
  if (ReadTrailing(L, 4, &r, &o)) {
    if (o.haveDx) r.x = o.dx;
    if (o.haveDy) r.y = o.dy;
  }
  return r;
}

uint32_t FxDisplayBrushFX(VmState *L) {
  qmFxRequest r = ReadPlacedObject(L, FXTARGET_BRUSH);
  if (LayersOn(r))
    if (uint32_t code = AddHiddenImageLayer(&r, QMTYPE_BRUSH, 0, 0, 0, 0)) return code;
  return Run(L, &r);
}

uint32_t FxDisplayTextObjectFX(VmState *L) {
  qmFxRequest r = ReadPlacedObject(L, FXTARGET_TEXTOBJECT);
  qmPlayerContext *ctx = GetPlayerContext(L);
  if (LayersOn(r)) {
    if (!ctx->insertTextObjectLayer) return ERR_FINDTEXTOBJECT;
    const int32_t top = CountLayers(r.scene->current->bgpic) + 1;
    if (uint32_t code = ctx->insertTextObjectLayer(r.scene, &r.objectId, r.x, r.y, top, 1)) return code;
    ShowNewestLayer(&r);
    return Run(L, &r);
  }
  if (!ctx->textObjectPicture) return ERR_FINDTEXTOBJECT;
  const qmBitmap *bitmap = nullptr;
  const qmMask *mask = nullptr, *alpha = nullptr;
  if (uint32_t code = ctx->textObjectPicture(r.scene, &r.objectId, &bitmap, &mask, &alpha, &r.width, &r.height))
    return code;
  r.srcImage = const_cast<qmBitmap *>(bitmap);
  r.srcMask = mask;
  r.srcAlpha = alpha;
  return Run(L, &r);
}

uint32_t FxDisplayBGPicPartFX(VmState *L) {
  CheckArgCount(L, 5, 11);
  qmFxRequest r = NewRequest(L, FXTARGET_BGPICPART);
  r.objectId = GetObjectIdArg(L, 1);
  const int32_t px = vm_checkint32(L, 2), py = vm_checkint32(L, 3);
  r.width = vm_checkint32(L, 4);
  r.height = vm_checkint32(L, 5);
  int32_t layers = 0;
  qmFxOptions o;
  if (ReadTrailing(L, 6, &r, &o)) {
    r.x = o.haveDx ? o.dx : px;
    r.y = o.haveDy ? o.dy : py;
    layers = o.layers;
  } else {
    r.x = vm_optint32(L, 9, px);
    r.y = vm_optint32(L, 10, py);
    layers = vm_optint32(L, 11, 0);
  }
  qmScene *scene = r.scene;
  if (layers && !LayersOn(r)) return ERR_WRONGUSAGE;
  qmBGPic *pic = nullptr;
  if (uint32_t code = FindBGPic(scene->objects, &r.objectId, &pic, 0)) return code;
  if (r.width < 1 || r.height < 1) return ERR_WRONGUSAGE;
  if (layers) {
    if (uint32_t code = AddHiddenImageLayer(&r, QMTYPE_BGPICPART, px, py, r.width, r.height)) return code;
    return Run(L, &r);
  }
  r.partX = px;
  r.partY = py;
  return Run(L, &r);
}

// ShowLayerFX, HideLayerFX and RemoveLayerFX: the layer (a position or a name), then the
// effect arguments or a table.
uint32_t LayerTransition(VmState *L, int32_t objectType) {
  CheckArgCount(L, 1, 4);
  qmFxRequest r = NewRequest(L, objectType);
  int32_t position = 0;
  if (uint32_t code = GetLayerArg(L, 1, &position)) return code;
  r.objectId = {uint32_t(position), 0};
  r.layerTarget = objectType != FXTARGET_LAYER;
  qmFxOptions o;
  if (ReadTrailing(L, 2, &r, &o) && objectType == FXTARGET_LAYER) {
    // The layer stands in for a change to the background picture named by "bgpic".
    GetFieldInt(L, 2, "bgpicemu", &r.bgpicEmu, nullptr);
    if (r.bgpicEmu) {
      qmObjectId id{};
      int found = 0;
      GetFieldObjectId(L, 2, "bgpic", &id, &found);
      if (!found) return ERR_MISSINGPARAMTR;
      if (uint32_t code = FindBGPic(r.scene->objects, &id, &r.emuBGPic, 0)) return code;
      r.emuBGPic->layersChanged = 0;
    }
  }
  return Run(L, &r);
}

uint32_t FxShowLayerFX(VmState *L) { return LayerTransition(L, FXTARGET_LAYER); }
uint32_t FxHideLayerFX(VmState *L) { return LayerTransition(L, FXTARGET_HIDELAYER); }
uint32_t FxRemoveLayerFX(VmState *L) { return LayerTransition(L, FXTARGET_REMOVELAYER); }

uint32_t FxUndoFX(VmState *L) {
  CheckArgCount(L, 2, 6);
  qmFxRequest r = NewRequest(L, FXTARGET_REMOVELAYER);
  r.undoType = vm_checkint32(L, 1);
  r.objectId = GetObjectIdArg(L, 2);
  r.layerTarget = 1;
  qmFxOptions o;
  if (ReadTrailing(L, 3, &r, &o)) r.undoLevel = o.undoLevel;
  else r.undoLevel = vm_optint32(L, 6, 1);
  if (r.undoLevel < 1) r.undoLevel = 1;
  if (!r.scene->current || !r.scene->current->layersOn) return ERR_NOLAYERS;
  return Run(L, &r);
}

uint32_t FxClearScreen(VmState *L) {
  CheckArgCount(L, 1, 4);
  qmFxRequest r = NewRequest(L, FXTARGET_BGPIC);
  qmFxOptions o;
  const uint32_t color = vm_optinteger(L, 2, 0) & 0xFFFFFF;
  if (ReadTrailing(L, 3, &r, &o)) {
    if (o.async) return ERR_WRONGUSAGE;
    GetFieldInt(L, 3, "x", &r.bgpicX, nullptr);
    GetFieldInt(L, 3, "y", &r.bgpicY, nullptr);
  } else {
    r.step = vm_optint32(L, 3, FX_NORMALSPEED);
    r.parameter = vm_optint32(L, 4, FX_RANDOMPARAMETER);
  }
  r.effect = vm_checkint32(L, 1);
  qmScene *scene = r.scene;
  const qmBGPic *current = scene->picture;
  if (!current) return ERR_WRONGUSAGE;
  qmBitmap *b = AllocBitmap(current->unscaledWidth, current->unscaledHeight);
  if (!b) return ERR_MEM;
  FillBitmapRect(b, 0, 0, b->width, b->height, color);
  qmObjectId id{0, 1};
  if (uint32_t code = NewBGPicRecord(scene->objects, &id, 0, b->width, b->height, {b, nullptr, nullptr},
                                     kNoTransparency, nullptr, nullptr)) {
    FreeBitmap(b);
    return code;
  }
  r.objectId = id;
  uint32_t code = Run(L, &r);
  FreeBGPicCore(scene, &id, 0);
  return code;
}

uint32_t FxGetRandomFX(VmState *L) {
  CheckArgCount(L, 1, 1);
  const int32_t objectsOnly = vm_checkint32(L, 1);
  vm_pushnumber(L, DrawRandomFx(drand48, objectsOnly != 0, nullptr));
  return 1;
}

const qmCommandEntry kTransitionFxCommands[] = {
    {"DisplayTransitionFX", FxDisplayTransitionFX},
    {"DisplayBrushFX", FxDisplayBrushFX},
    {"DisplayTextObjectFX", FxDisplayTextObjectFX},
    {"DisplayBGPicPartFX", FxDisplayBGPicPartFX},
    {"ShowLayerFX", FxShowLayerFX},
    {"HideLayerFX", FxHideLayerFX},
    {"RemoveLayerFX", FxRemoveLayerFX},
    {"UndoFX", FxUndoFX},
    {"ClearScreen", FxClearScreen},
    {"GetRandomFX", FxGetRandomFX},
    {nullptr, nullptr},
};

}  // namespace

const qmLibrary kTransitionFxLibrary = {"transitionfx", kTransitionFxCommands, kFxConstants, nullptr, nullptr,
                                        FREERANK_LAST};
