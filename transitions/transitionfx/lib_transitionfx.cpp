// The transitionfx library's commands: transitions of background pictures, brushes, text
// objects and parts of pictures, the clearing of the screen, and the random effect.
#include "transitions/transitionfx/lib_transitionfx.h"

#include <cstdlib>

#include "display/bgpic.h"
#include "display/display.h"
#include "display/imagecore.h"
#include "display/scene.h"
#include "graphics/blit.h"
#include "runtime/bindings/fxoptions_reader.h"
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

// Runs the request until it asks for no restart.
uint32_t Run(qmFxRequest *r) {
  do {
    r->restart = 0;
    if (uint32_t code = RunTransition(r, nullptr)) return code;
  } while (r->restart);
  return 0;
}

// Asynchronous transitions need the graphics library's draw objects, which are not here yet.
uint32_t RefuseAsync(const qmFxRequest &r) { return r.async ? uint32_t(ERR_WRONGUSAGE) : 0u; }

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
  return Run(&r);
}

// The picture stays on the display as a layer when layers are on, drawn by the image core.
uint32_t LeaveImageLayer(VmState *L, uint32_t kind, const qmObjectId &id, int32_t srcX, int32_t srcY, int32_t x,
                         int32_t y, int32_t width, int32_t height) {
  qmScene *scene = GetScene(L);
  if (!scene->current || !scene->current->layersOn) return 0;
  qmImageRequest ir{};
  ir.kind = kind;
  ir.id = id;
  ir.srcX = srcX;
  ir.srcY = srcY;
  ir.x = x;
  ir.y = y;
  ir.width = width;
  ir.height = height;
  return DisplayImageCore(scene, &ir);
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
  if (uint32_t code = RefuseAsync(r)) return code;
  const int32_t x = r.x, y = r.y;
  if (uint32_t code = Run(&r)) return code;
  return LeaveImageLayer(L, QMTYPE_BRUSH, r.objectId, 0, 0, x, y, 0, 0);
}

uint32_t FxDisplayTextObjectFX(VmState *L) {
  qmFxRequest r = ReadPlacedObject(L, FXTARGET_TEXTOBJECT);
  if (uint32_t code = RefuseAsync(r)) return code;
  qmPlayerContext *ctx = GetPlayerContext(L);
  if (!ctx->textObjectPicture) return ERR_FINDTEXTOBJECT;
  const qmBitmap *bitmap = nullptr;
  const qmMask *mask = nullptr, *alpha = nullptr;
  if (uint32_t code = ctx->textObjectPicture(r.scene, &r.objectId, &bitmap, &mask, &alpha, &r.width, &r.height))
    return code;
  r.srcImage = const_cast<qmBitmap *>(bitmap);
  r.srcMask = mask;
  r.srcAlpha = alpha;
  const int32_t x = r.x, y = r.y;
  if (uint32_t code = Run(&r)) return code;
  if (r.scene->current && r.scene->current->layersOn && ctx->insertTextObjectLayer)
    return ctx->insertTextObjectLayer(r.scene, &r.objectId, x, y, -1, 0);
  return 0;
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
  if (uint32_t code = RefuseAsync(r)) return code;
  qmScene *scene = r.scene;
  if (layers && (!scene->current || !scene->current->layersOn)) return ERR_WRONGUSAGE;
  qmBGPic *pic = nullptr;
  if (uint32_t code = FindBGPic(scene->objects, &r.objectId, &pic, 0)) return code;
  if (r.width < 1 || r.height < 1) return ERR_WRONGUSAGE;
  r.srcImage = AllocClearedBitmap(r.width, r.height);
  if (!r.srcImage) return ERR_MEM;
  BltBitmapClipped(pic->unscaled.bitmap, px, py, r.srcImage, 0, 0, r.width, r.height);
  const int32_t x = r.x, y = r.y;
  uint32_t code = Run(&r);
  FreeBitmap(r.srcImage);
  if (code || !layers) return code;
  return LeaveImageLayer(L, QMTYPE_BGPICPART, r.objectId, px, py, x, y, r.width, r.height);
}

// ShowLayerFX, HideLayerFX and RemoveLayerFX: the layer (a position or a name), then the
// effect arguments or a table.
uint32_t LayerTransition(VmState *L, int32_t objectType) {
  CheckArgCount(L, 1, 4);
  qmFxRequest r = NewRequest(L, objectType);
  int32_t position = 0;
  if (uint32_t code = GetLayerPositionArg(L, 1, &position)) return code;
  r.objectId = {uint32_t(position), 0};
  r.layerTarget = objectType != FXTARGET_LAYER;
  qmFxOptions o;
  ReadTrailing(L, 2, &r, &o);
  if (uint32_t code = RefuseAsync(r)) return code;
  return Run(&r);
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
  if (uint32_t code = RefuseAsync(r)) return code;
  if (!r.scene->current || !r.scene->current->layersOn) return ERR_NOLAYERS;
  return Run(&r);
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
  uint32_t code = Run(&r);
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
