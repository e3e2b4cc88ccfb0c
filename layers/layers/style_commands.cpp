// The style commands of the layers library: SetLayerStyle and its one-key front-ends, which
// build a style table and hand it to the style engine, and GetLayerStyle, which answers with
// the table of everything a style can set.
#include "layers/layers/style_commands.h"

#include "display/display.h"
#include "display/displayops.h"
#include "display/scene.h"
#include "display/filters.h"
#include "graphics/clipregion.h"
#include "layers/animlayer.h"
#include "layers/layer.h"
#include "layers/layerimage.h"
#include "graphics/vectorpath.h"
#include "graphics/vectorrender.h"
#include "layers/layers/layerargs.h"
#include "layers/layerops.h"
#include "layers/redraw.h"
#include "layers/style.h"
#include "platform/memory.h"
#include "runtime/bindings/style_reader.h"
#include "runtime/context.h"
#include "runtime/cmdargs.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/objtypes.h"
#include "runtime/vm/vm_api.h"
#include "text/font.h"
#include "text/textlayout.h"

namespace {

// The layer argument copied and a new style table pushed, for the front-ends.
void PushLayerAndTable(VmState *L) {
  vm_pushvalue(L, 1);
  vm_newtable(L);
}

// table[key] := the value at stack index i (the table on the stack top).
void SetFieldFromArg(VmState *L, const char *key, int i) {
  vm_pushstring(L, key);
  vm_pushvalue(L, i);
  vm_settable(L, -3);
}

// The smooth-scaling switch of the optional argument i, when given.
void SetSmoothFromArg(VmState *L, int i, int top) {
  if (top >= i && !vm_isnoneornil(L, i)) SetFieldFromArg(L, "smoothscale", i);
}

// A style change being read and applied, freed however its command ends.
struct StyleChangeOwner {
  qmStyleChange *change;
  bool initialised = false;
  ~StyleChangeOwner() {
    if (!change) return;
    if (initialised) FreeStyleChange(change);
    MemFree(change);
  }
};

}  // namespace

uint32_t ApplyLayerStyle(VmState *L, int32_t first, int32_t count, int32_t noFinalRefresh) {
  qmScene *scene = GetScene(L);
  if (uint32_t code = LayerGuard(scene)) return code;
  // The output of the current display takes layer commands only with a picture to hold them.
  qmBGPic *pic = scene->picture;
  if (!pic) return ERR_NOLAYERS;
  qmDirtyRectList *batch = &scene->layerBatch;
  batch->count = 0;
  uint32_t code = 0;
  // A layer argument without its table meets the table check.
  for (int32_t i = first; i < first + count && !code; i += 2) {
    qmLayer *layer = nullptr;
    if ((code = GetExistingLayerArg(L, i, &layer, nullptr))) break;
    StyleChangeOwner owned{static_cast<qmStyleChange *>(MemAlloc(sizeof(qmStyleChange), 1))};
    qmStyleChange *change = owned.change;
    if (!change) {
      code = ERR_MEM;
      break;
    }
    InitStyleChange(layer, change);
    owned.initialised = true;
    // The reader raises on a wrong value; the owner frees the change on the way out.
    code = ReadLayerStyle(L, i + 1, layer, 1, change);
    if (!code) code = ApplyStyleChange(scene, layer, *change, batch);
  }
  // What was changed before an error is shown as well.
  qmDisplay *d = scene->current;
  if (d && d->outputType == DISPOUT_BGPIC) {
    qmDirtyRectList list{d->dirtyRects, d->dirtyCount, d->dirtyCapacity};
    for (int32_t k = 0; k < batch->count; k++) {
      const qmDirtyRect &r = batch->entries[k];
      AppendRect(&list, r.x1, r.y1, r.x2 - r.x1 + 1, r.y2 - r.y1 + 1);
    }
    d->dirtyRects = list.entries, d->dirtyCount = list.count, d->dirtyCapacity = list.capacity;
    batch->count = 0;
  } else if (!noFinalRefresh) {
    // A layer's old and new rectangle mostly overlap, and so do neighbours': each area is
    // composed once after merging (the pixels are the same as entry by entry).
    MergeRectArray(batch->entries, batch->count);
    RefreshRectList(scene, batch->entries, batch->count);
    batch->count = 0;
  }
  pic->layersChanged = 1;
  return code;
}

uint32_t SetLayerPosFrame(VmState *L, qmLayer *layer, int32_t x, int32_t y, int32_t frame, int32_t noFinalRefresh) {
  // An anim layer takes its frame first; the move below refreshes both at once.
  if (layer->type == QMTYPE_ANIM) {
    const bool moves = x != kKeepPosition || y != kKeepPosition;
    if (uint32_t code = SetAnimLayerFrame(GetScene(L), layer, frame, moves || noFinalRefresh)) return code;
    if (!moves) return 0;
  }
  if (layer->name) vm_pushstring(L, layer->name);
  else vm_pushnumber(L, FindLayerIndex(GetScene(L)->picture, layer));
  vm_newtable(L);
  SetFieldInt(L, "x", x);
  SetFieldInt(L, "y", y);
  const int32_t top = vm_gettop(L);
  const uint32_t code = ApplyLayerStyle(L, top - 1, 2, noFinalRefresh);
  vm_settop(L, top - 2);
  return code;
}

namespace {

uint32_t ApplyPushedStyle(VmState *L) { return ApplyLayerStyle(L, vm_gettop(L) - 1, 2, 0); }

}  // namespace

uint32_t LaySetLayerStyle(VmState *L) {
  CheckArgCount(L, 2, 0);
  return ApplyLayerStyle(L, 1, vm_gettop(L), 0);
}

uint32_t LaySetLayerFilter(VmState *L) {
  CheckArgCount(L, 2, 2);
  const int type = vm_type(L, 2);
  if (type == VM_TNUMBER && vm_tonumber(L, 2) != 0) return ERR_WRONGUSAGE;
  if (type != VM_TNUMBER && type != VM_TTABLE) {
    SetErrorNumber(2);
    return ERR_TABEXPECTED;
  }
  PushLayerAndTable(L);
  if (type == VM_TNUMBER) SetFieldInt(L, "clearfilters", 1);
  else SetFieldFromArg(L, "filters", 2);
  return ApplyPushedStyle(L);
}

uint32_t LaySetLayerAnchor(VmState *L) {
  CheckArgCount(L, 3, 3);
  const double ax = vm_checknumber(L, 2), ay = vm_checknumber(L, 3);
  PushLayerAndTable(L);
  SetFieldNumber(L, "anchorx", ax);
  SetFieldNumber(L, "anchory", ay);
  return ApplyPushedStyle(L);
}

uint32_t LayTransformLayer(VmState *L) {
  CheckArgCount(L, 5, 6);
  const int top = vm_gettop(L);
  double m[4];
  for (int k = 0; k < 4; k++) m[k] = vm_checknumber(L, 2 + k);
  PushLayerAndTable(L);
  vm_pushstring(L, "transform");
  vm_newtable(L);
  for (int k = 0; k < 4; k++) {
    vm_pushnumber(L, m[k]);
    vm_rawseti(L, -2, k);
  }
  vm_settable(L, -3);
  SetSmoothFromArg(L, 6, top);
  return ApplyPushedStyle(L);
}

uint32_t LayRotateLayer(VmState *L) {
  CheckArgCount(L, 2, 3);
  const int top = vm_gettop(L);
  const double angle = vm_checknumber(L, 2);
  PushLayerAndTable(L);
  SetFieldNumber(L, "rotate", angle);
  SetSmoothFromArg(L, 3, top);
  return ApplyPushedStyle(L);
}

uint32_t LayScaleLayer(VmState *L) {
  CheckArgCount(L, 3, 4);
  const int top = vm_gettop(L);
  // A size is a number or a percentage string; the style reader checks both.
  PushLayerAndTable(L);
  SetFieldFromArg(L, "width", 2);
  SetFieldFromArg(L, "height", 3);
  SetSmoothFromArg(L, 4, top);
  return ApplyPushedStyle(L);
}

uint32_t LaySetLayerTint(VmState *L) {
  CheckArgCount(L, 3, 3);
  const uint32_t color = vm_checkinteger(L, 2);
  PushLayerAndTable(L);
  SetFieldNumber(L, "tintcolor", color);
  SetFieldFromArg(L, "tint", 3);
  return ApplyPushedStyle(L);
}

uint32_t LaySetLayerTransparency(VmState *L) {
  CheckArgCount(L, 2, 2);
  PushLayerAndTable(L);
  SetFieldFromArg(L, "transparency", 2);
  return ApplyPushedStyle(L);
}

namespace {

void SetFieldFlagNumber(VmState *L, const char *key, int32_t on) { SetFieldInt(L, key, on ? 1 : 0); }

// "filters": one entry per enabled slot in slot order, each {name, priority, args}.
void PushFilterList(VmState *L, const qmFilterSlot *filters) {
  vm_pushstring(L, "filters");
  vm_newtable(L);
  int n = 0;
  for (int32_t slot = 0; slot < kFilterSlotCount; slot++) {
    const qmFilterSlot &f = filters[slot];
    if (!f.enabled) continue;
    const qmFilterInfo &info = kFilterInfo[slot];
    vm_newtable(L);
    SetFieldString(L, "name", info.name);
    SetFieldInt(L, "priority", f.priority);
    vm_pushstring(L, "args");
    vm_newtable(L);
    int ni = 0, nf = 0;
    for (int32_t k = 0; k < info.paramCount; k++) {
      vm_pushnumber(L, info.kinds[k] == FPARAM_FLOAT ? double(f.floatParams[nf++]) : double(f.params[ni++]));
      vm_rawseti(L, -2, k);
    }
    vm_settable(L, -3);
    vm_rawseti(L, -2, n++);
  }
  vm_settable(L, -3);
}

// The shape's colour, draw style and geometry, as its content keys of SetLayerStyle take them.
void PushShapeFields(VmState *L, int32_t type, const qmLayerState *base) {
  const qmShapeLayerData &s = base->shape;
  SetFieldNumber(L, "color", base->shapeColor);
  WriteFormStyleFields(L, &s.style);
  switch (type) {
  case QMTYPE_BOX: {
    SetFieldInt(L, "sizex", base->objectWidth);
    SetFieldInt(L, "sizey", base->objectHeight);
    const int32_t *c = s.corners;
    if (c[0] == c[1] && c[1] == c[2] && c[2] == c[3]) {
      SetFieldInt(L, "roundlevel", c[0]);
    } else {
      SetFieldInt(L, "cornera", c[0]);
      SetFieldInt(L, "cornerb", c[1]);
      SetFieldInt(L, "cornerc", c[2]);
      SetFieldInt(L, "cornerd", c[3]);
    }
    break;
  }
  case QMTYPE_CIRCLE: SetFieldInt(L, "radius", s.radiusA); break;
  case QMTYPE_LINE:
    SetFieldInt(L, "thickness", s.thickness);
    SetFieldInt(L, "x1", base->lineX1);
    SetFieldInt(L, "y1", base->lineY1);
    SetFieldInt(L, "x2", base->lineX2);
    SetFieldInt(L, "y2", base->lineY2);
    break;
  case QMTYPE_POLYGON:
    vm_pushstring(L, "vertices");
    vm_newtable(L);
    for (int32_t k = 0; s.vertices && k < 2 * s.vertexCount; k++) {
      vm_pushnumber(L, s.vertices[k]);
      vm_rawseti(L, -2, k);
    }
    vm_settable(L, -3);
    SetFieldInt(L, "numvertices", s.vertexCount);
    break;
  case QMTYPE_ARC:
    SetFieldInt(L, "startangle", s.startAngle);
    SetFieldInt(L, "endangle", s.endAngle);
    SetFieldFlagNumber(L, "clockwise", s.clockwise);
    [[fallthrough]];
  case QMTYPE_ELLIPSE:
    SetFieldInt(L, "radiusa", s.radiusA);
    SetFieldInt(L, "radiusb", s.radiusB);
    break;
  default: break;
  }
}

}  // namespace

uint32_t LayGetLayerStyle(VmState *L) {
  qmScene *scene = GetScene(L);
  CheckArgCount(L, 1, 1);
  qmDisplay *d = scene->current;
  if (!d) return ERR_NOLAYERS;
  // With a Select* output the picture of the display and the layers switched on before count.
  const bool selecting =
      d->outputType == DISPOUT_BRUSH || d->outputType == DISPOUT_MASK || d->outputType == DISPOUT_ALPHA;
  const qmBGPic *pic = selecting ? d->bgpic : scene->picture;
  if (!(selecting ? d->selectSave[5] : d->layersOn) || !pic) return ERR_NOLAYERS;
  int32_t pos = 0;
  if (uint32_t code = GetLayerArg(L, 1, &pos)) return code;
  const qmLayer *l = pos >= 1 ? GetNthLayer(pic, pos) : nullptr;
  if (!l) return ERR_LAYERRANGE;
  const qmLayerState *base = l->base;
  vm_newtable(L);
  switch (l->type) {
  case QMTYPE_BRUSH:
  case QMTYPE_BRUSHPART:
  case QMTYPE_BGPICPART:
    SetFieldObjectId(L, "id", &l->object);
    SetFieldInt(L, "partx", base->partX);
    SetFieldInt(L, "party", base->partY);
    SetFieldInt(L, "partwidth", base->objectWidth);
    SetFieldInt(L, "partheight", base->objectHeight);
    break;
  case QMTYPE_TEXTOBJECT: SetFieldObjectId(L, "id", &l->object); break;
  case QMTYPE_ANIM:
    SetFieldObjectId(L, "id", &l->object);
    SetFieldInt(L, "frame", l->base->frame);
    break;
  case QMTYPE_VECTORPATH:
    SetFieldObjectId(L, "id", &l->object);
    if (const qmPathLayerData *p = base->path) {
      SetFieldNumber(L, "color", p->color);
      WriteFormStyleFields(L, &p->style);
      SetFieldInt(L, "linejoin", p->settings.join);
      SetFieldInt(L, "linecap", p->settings.cap);
      SetFieldInt(L, "fillrule", p->settings.fillRule);
      SetFieldNumber(L, "dashoffset", p->settings.dashOffset);
      vm_pushstring(L, "dashes");
      vm_newtable(L);
      for (uint32_t k = 0; p->settings.dashes && k < p->settings.dashCount; k++) {
        vm_pushnumber(L, p->settings.dashes[k]);
        vm_rawseti(L, -2, int(k));
      }
      vm_settable(L, -3);
    }
    break;
  case QMTYPE_TEXTOUT:
  case QMTYPE_PRINT:
    if (const qmTextRequest *r = base->textRequest) {
      SetFieldNumber(L, "color", r->style.color);
      SetFieldInt(L, "fontstyle", r->style.style);
      SetFieldInt(L, "align", r->align);
      SetFieldInt(L, "leftmargin", r->marginLeft);
      SetFieldInt(L, "rightmargin", r->wrap);
      SetFieldInt(L, "fontsize", r->style.font ? r->style.font->size : 8);
      SetFieldInt(L, "encoding", r->encoding);
      SetFieldString(L, "text", r->text ? r->text : "");
      SetFieldString(L, "font", r->style.font ? r->style.font->faceName : "topaz");
    }
    break;
  default:
    // A line drawn by Line keeps its colour, style and ends beside its picture.
    if (IsShapeType(l->type) && (base->shapeData || l->type == QMTYPE_LINE)) PushShapeFields(L, l->type, base);
    break;
  }
  const qmTransform &t = l->transform;
  SetFieldInt(L, "x", base->requestedX);
  SetFieldInt(L, "y", base->requestedY);
  SetFieldInt(L, "width", t.targetWidth);
  SetFieldInt(L, "height", t.targetHeight);
  SetFieldNumber(L, "rotate", t.rotation);
  SetFieldNumber(L, "scalex", t.scaleX);
  SetFieldNumber(L, "scaley", t.scaleY);
  SetFieldNumber(L, "anchorx", l->anchorX);
  SetFieldNumber(L, "anchory", l->anchorY);
  SetFieldFlagNumber(L, "smoothscale", t.smooth);
  vm_pushstring(L, "transform");
  vm_newtable(L);
  static const double kIdentity[4] = {1, 0, 0, 1};
  const double *m = t.userMatrixSet ? t.userMatrix : kIdentity;
  for (int k = 0; k < 4; k++) {
    vm_pushnumber(L, m[k]);
    vm_rawseti(L, -2, k);
  }
  vm_settable(L, -3);
  SetFieldInt(L, "transparency", l->transparency);
  SetFieldInt(L, "tint", l->filters[kTintFilterSlot].params[1]);
  SetFieldNumber(L, "tintcolor", uint32_t(l->filters[kTintFilterSlot].params[0]));
  SetFieldFlagNumber(L, "hidden", l->hidden);
  SetFieldNumber(L, "clipregion", base->clip ? double(base->clip->header.id) : -1.0);
  SetFieldFlagNumber(L, "shadow", l->shadow.on);
  if (l->shadow.on) {
    SetFieldNumber(L, "shadowcolor", l->shadow.color);
    SetFieldInt(L, "shadowdir", l->shadow.direction);
    SetFieldInt(L, "shadowsize", l->shadow.size);
    SetFieldNumber(L, "shadowradius", l->shadow.radius);
    SetFieldNumber(L, "shadowsigma", l->shadow.sigma);
  }
  SetFieldFlagNumber(L, "border", l->border.on);
  SetFieldNumber(L, "bordercolor", l->border.color);
  SetFieldInt(L, "bordersize", l->border.size);
  SetFieldInt(L, "outlinethickness", l->border.size);
  SetFieldNumber(L, "edgecolor", l->border.color);
  SetFieldInt(L, "edgesize", l->border.size);
  PushFilterList(L, l->filters);
  SetFieldString(L, "group", l->group);
  SetFieldString(L, "name", l->name ? l->name : "");
  SetFieldInt(L, "z", pos);
  return 1;
}
