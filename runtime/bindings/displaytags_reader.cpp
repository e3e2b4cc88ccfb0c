#include "runtime/bindings/displaytags_reader.h"

#include <cmath>
#include <cstring>

#include "display/filters.h"
#include "display/imagecore.h"
#include "display/scene.h"
#include "runtime/bindings/filters_reader.h"
#include "runtime/cmdargs.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/vm/vm_api.h"

namespace {

// A switch of the table: True/False or a number; 1 when it was given.
int FlagField(VmState *L, int32_t t, const char *key, int32_t *out) {
  bool on = *out != 0;
  if (!GetFieldFlag(L, t, key, &on, nullptr)) return 0;
  *out = on ? 1 : 0;
  return 1;
}

}  // namespace

uint32_t ReadShadowOptions(VmState *L, int32_t t, qmShadowBlock *s, int32_t *found) {
  const int any = FlagField(L, t, "shadow", &s->on);
  if (found) *found = any;
  if (!s->on) return 0;
  GetFieldUInt(L, t, "shadowcolor", &s->color, nullptr);
  GetFieldInt(L, t, "shadowdir", &s->direction, nullptr);
  GetFieldInt(L, t, "shadowsize", &s->size, nullptr);
  GetFieldNumber(L, t, "shadowradius", &s->radius, nullptr);
  GetFieldNumber(L, t, "shadowsigma", &s->sigma, nullptr);
  if (!(s->radius >= 1.0) || s->size < 0 || !(s->sigma > 0.0)) return ERR_WRONGUSAGE;
  return 0;
}

uint32_t ReadBorderOptions(VmState *L, int32_t t, int32_t text, qmBorderBlock *b, int32_t *found) {
  int f = 0, any = 0;
  if (FlagField(L, t, "border", &b->on)) any = 1;
  if (GetFieldUInt(L, t, "bordercolor", &b->color, &f)) any = 1;
  if (GetFieldInt(L, t, "bordersize", &b->size, &f)) any = 1;
  if (text) {
    if (GetFieldUInt(L, t, "edgecolor", &b->color, &f)) any = 1;
    if (GetFieldInt(L, t, "edgesize", &b->size, &f)) any = 1;
    if (GetFieldInt(L, t, "outlinethickness", &b->size, &f)) any = 1;
  }
  if (found) *found = any;
  if (b->on && b->size <= 0) return ERR_WRONGUSAGE;
  return 0;
}

uint32_t ParseDisplayTags(VmState *L, const qmScene *scene, int32_t index, int32_t sourceWidth, int32_t sourceHeight,
                          int32_t width, int32_t height, int32_t smoothDefault, qmTransform *t, qmDisplayTags *tags,
                          int32_t flags) {
  if (flags & DTAG_INIT) InitDefaultDrawTags(scene, t, tags, width, height, smoothDefault, flags);
  if (index != vm_gettop(L)) return 0;
  if (vm_type(L, index) != VM_TTABLE) {
    if (!(flags & DTAG_NEEDTABLE)) return 0;
    SetErrorNumber(index);
    return ERR_TABEXPECTED;
  }
  int found = 0;
  double user[4];
  if (GetFieldMatrix(L, index, "transform", user, &found)) {
    if (user[0] == 0 || user[3] == 0) return ERR_WRONGUSAGE;
    std::memcpy(t->userMatrix, user, sizeof user);
    std::memcpy(t->matrix, user, sizeof user);
    t->userMatrixSet = 1;
    t->geometryPending = 0;
  } else {
    int geometry = 0, fx = 0, fy = 0;
    GetFieldNumber(L, index, "scalex", &t->scaleX, &fx);
    GetFieldNumber(L, index, "scaley", &t->scaleY, &fy);
    if ((fx && t->scaleX == 0) || (fy && t->scaleY == 0)) return ERR_WRONGUSAGE;
    geometry = fx || fy;
    if (!geometry && !(flags & DTAG_NOSIZE)) {
      if (GetFieldInt(L, index, "width", &t->targetWidth, nullptr)) geometry = 1;
      if (GetFieldInt(L, index, "height", &t->targetHeight, nullptr)) geometry = 1;
    }
    if (!(flags & DTAG_NOROTATE) && GetFieldNumber(L, index, "rotate", &t->rotation, nullptr)) {
      geometry = 1;
      t->rotation = std::fmod(t->rotation, 360.0);
      if (t->rotation != 0 && (flags & DTAG_SMOOTHROTATE)) t->smooth = smoothDefault;
    }
    if (geometry) {
      t->geometryPending = 1;
    } else {
      t->userMatrixSet = 0;
    }
  }
  FlagField(L, index, "smoothscale", &t->smooth);
  GetFieldNumber(L, index, "anchorx", &t->anchorX, nullptr);
  GetFieldNumber(L, index, "anchory", &t->anchorY, nullptr);
  if (!(t->anchorX >= 0.0 && t->anchorX <= 1.0) || !(t->anchorY >= 0.0 && t->anchorY <= 1.0)) return ERR_WRONGUSAGE;
  if (!tags) {
    if (!(flags & DTAG_OBJECTLATER)) FinishDisplayTags(scene->picture, sourceWidth, sourceHeight, t, nullptr);
    return 0;
  }

  FlagField(L, index, "hidden", &tags->hidden);
  double v = 0;
  if (GetFieldNumberOrPercent(L, index, "transparency", 255, 0, &v, nullptr, nullptr))
    tags->transparency = FieldToClampedInt32(L, "transparency", v, 0, 255);
  ReadTintOptions(L, index, tags->filters);

  int32_t insert = 0;
  if (GetFieldLayerId(L, index, "insertpos", &insert, nullptr)) {
    if (insert < 0) return ERR_INVINSERT;
    tags->insertPosition = insert;
    tags->insertPending = 1;
  }
  if (!(flags & DTAG_OBJECTLATER)) FinishDisplayTags(scene->picture, sourceWidth, sourceHeight, t, tags);
  if (uint32_t code = ReadShadowOptions(L, index, &tags->shadow, nullptr)) return code;
  if (uint32_t code = ReadBorderOptions(L, index, 0, &tags->border, nullptr)) return code;
  if (uint32_t code = ReadFilterTable(L, index, tags->filters, nullptr)) return code;
  tags->effects = tags->hidden || tags->transparency || HasFilters(tags->filters) || tags->shadow.on || tags->border.on;

  vm_pushstring(L, "name");
  vm_gettable(L, index);
  if (!vm_isnoneornil(L, -1)) {
    size_t len = 0;
    const char *name = vm_checkstring_field(L, -1, &len, "name");
    if (len > 255) {
      vm_pop(L, 1);
      return ERR_NAMETOOLONG;
    }
    std::memcpy(tags->name, name, len);
    tags->name[len] = 0;
  }
  vm_pop(L, 1);
  return 0;
}

void ReadImageRequestTags(VmState *L, const qmScene *scene, int32_t index, int32_t needTable, qmTransform *transform,
                          qmDisplayTags *tags, qmImageRequest *request) {
  const int32_t flags = DTAG_INIT | DTAG_OBJECTLATER | (needTable ? DTAG_NEEDTABLE : 0);
  request->tagsError = ParseDisplayTags(L, scene, index, 0, 0, 0, 0, 0, transform, tags, flags);
  request->transform = transform;
  request->tags = tags;
}
