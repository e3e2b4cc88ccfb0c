#include "runtime/bindings/style_reader.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "runtime/bindings/displaytags_reader.h"
#include "runtime/bindings/filters_reader.h"
#include "runtime/bindings/gradient_reader.h"
#include "display/display.h"
#include "display/position.h"
#include "display/scene.h"
#include "display/displaytags.h"
#include "display/filters.h"
#include "display/scene.h"
#include "graphics/clipregion.h"
#include "graphics/draw_style.h"
#include "graphics/vectorpath.h"
#include "graphics/vectorrender.h"
#include "layers/layerimage.h"
#include "platform/memory.h"
#include "runtime/auxlib.h"
#include "runtime/context.h"
#include "runtime/strutil.h"
#include "text/font.h"
#include "text/textstate.h"
#include "text/textobject.h"
#include "runtime/cmdargs.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/objlist.h"
#include "runtime/objtypes.h"
#include "runtime/vm/vm_api.h"

namespace {

bool IsBrushContent(int32_t type) {
  return type == QMTYPE_BRUSH || type == QMTYPE_BRUSHPART || type == QMTYPE_BGPICPART;
}

bool IsTextBlock(int32_t type) { return type == QMTYPE_TEXTOUT || type == QMTYPE_PRINT; }

// Cursor keys of a PRINT style (cursorGiven bits).
enum : int32_t { CURSOR_X = 1, CURSOR_Y = 2 };

// Most vertices a polygon layer takes, as the polygon command.
constexpr int32_t kVertexMax = 999;

int32_t Level(VmState *L, const char *key, double v) { return FieldToClampedInt32(L, key, v, 0, 255); }

bool HasField(VmState *L, int32_t t, const char *key) {
  vm_pushstring(L, key);
  vm_gettable(L, t);
  const bool present = vm_type(L, -1) != VM_TNIL;
  vm_pop(L, 1);
  return present;
}

// The keys that define an object of that type, which a change of type makes required.
uint32_t CheckTypeKeys(VmState *L, int32_t t, int32_t type) {
  static const char *const kBox[] = {"sizex", "sizey", nullptr};
  static const char *const kCircle[] = {"radius", nullptr};
  static const char *const kEllipse[] = {"radiusa", "radiusb", nullptr};
  static const char *const kArc[] = {"radiusa", "radiusb", "startangle", "endangle", nullptr};
  static const char *const kLine[] = {"x1", "y1", "x2", "y2", nullptr};
  static const char *const kPolygon[] = {"vertices", nullptr};
  static const char *const kText[] = {"text", nullptr};
  static const char *const kObject[] = {"id", nullptr};
  const char *const *keys = kObject;
  switch (type) {
  case QMTYPE_TEXTOUT:
  case QMTYPE_PRINT: keys = kText; break;
  case QMTYPE_BOX: keys = kBox; break;
  case QMTYPE_CIRCLE: keys = kCircle; break;
  case QMTYPE_ELLIPSE: keys = kEllipse; break;
  case QMTYPE_ARC: keys = kArc; break;
  case QMTYPE_LINE: keys = kLine; break;
  case QMTYPE_POLYGON: keys = kPolygon; break;
  default: break;
  }
  for (; *keys; keys++)
    if (!HasField(L, t, *keys)) return ERR_MISSINGPARAMTR;
  return 0;
}

// Pushes the list under key: 1 (the table is on the stack), 0 when the key is absent (nothing
// pushed), or -1 when it is no table (nothing pushed: the caller reports ERR_TABEXPECTED).
int PushListField(VmState *L, int32_t t, const char *key) {
  vm_pushstring(L, key);
  vm_gettable(L, t);
  const int type = vm_type(L, -1);
  if (type == VM_TTABLE) return 1;
  vm_pop(L, 1);
  return type == VM_TNIL ? 0 : -1;
}

// "vertices": 2n numbers from index 0 ("numvertices" pairs when given, missing words 0; else up
// to the first missing pair), moved to start at (0, 0); the move is kept as the position's offset.
uint32_t ReadVertices(VmState *L, int32_t t, qmStyleChange *c) {
  if (const int list = PushListField(L, t, "vertices"); list <= 0) return list ? uint32_t(ERR_TABEXPECTED) : 0;
  const int32_t v = vm_gettop(L);
  int32_t count = -1;
  GetFieldInt(L, t, "numvertices", &count, nullptr);
  if (count < 0) {
    count = 0;
    for (;; count++) {
      vm_rawgeti(L, v, 2 * count);
      const bool present = vm_type(L, -1) != VM_TNIL;
      vm_pop(L, 1);
      if (!present || count > kVertexMax) break;
    }
  }
  if (count < 2 || count > kVertexMax) {
    vm_pop(L, 1);
    return ERR_WRONGUSAGE;
  }
  auto *p = static_cast<double *>(MemAlloc(uint32_t(2 * sizeof(double) * size_t(count)), 0));
  if (!p) {
    vm_pop(L, 1);
    return ERR_MEM;
  }
  uint32_t code = 0;
  for (int32_t k = 0; k < 2 * count && !code; k++) {
    vm_rawgeti(L, v, k);
    // As in the polygon command, a missing word counts as 0.
    const int type = vm_type(L, -1);
    if (type != VM_TNIL && !vm_isnumber(L, -1)) code = ERR_NUMTABLEARG;
    else p[k] = type == VM_TNIL ? 0 : vm_tonumber(L, -1);
    vm_pop(L, 1);
    // Beyond any picture: no outline of it could be drawn.
    if (!code && !(std::fabs(p[k]) <= 1e9)) code = ERR_MEM;
  }
  vm_pop(L, 1);
  if (code) {
    MemFree(p);
    return code;
  }
  double x0 = p[0], y0 = p[1];
  for (int32_t i = 1; i < count; i++) x0 = std::min(x0, p[2 * i]), y0 = std::min(y0, p[2 * i + 1]);
  for (int32_t i = 0; i < count; i++) p[2 * i] -= x0, p[2 * i + 1] -= y0;
  MemFree(c->shape.vertices);
  c->shape.vertices = p, c->shape.vertexCount = count;
  c->vertexOffsetX = int32_t(std::nearbyint(x0)), c->vertexOffsetY = int32_t(std::nearbyint(y0));
  return 0;
}

// The content keys of a shape: colour, draw style and the geometry of its type.
uint32_t ReadShapeKeys(VmState *L, int32_t t, qmStyleChange *c) {
  int given = 0;
  GetFieldUInt(L, t, "color", &c->shapeColor, &given);
  int32_t styleGiven = 0, switched = 0;
  if (uint32_t code = ReadFormStyleOptions(L, &c->look, t, &c->shape.style, &styleGiven, &switched)) return code;
  if (switched) c->lookChanged = 1;
  qmShapeLayerData &s = c->shape;
  switch (c->type) {
  case QMTYPE_BOX: {
    GetFieldInt(L, t, "sizex", &c->boxWidth, &given);
    GetFieldInt(L, t, "sizey", &c->boxHeight, &given);
    if (given && (c->boxWidth < 1 || c->boxHeight < 1)) return ERR_WRONGUSAGE;
    int32_t level = 0;
    if (GetFieldInt(L, t, "roundlevel", &level, &given)) std::fill(s.corners, s.corners + 4, level);
    const char *keys[4] = {"cornera", "cornerb", "cornerc", "cornerd"};
    for (int k = 0; k < 4; k++) GetFieldInt(L, t, keys[k], &s.corners[k], &given);
    ClampCornerLevels(s.corners);
    break;
  }
  case QMTYPE_CIRCLE:
    if (GetFieldInt(L, t, "radius", &s.radiusA, &given)) s.radiusB = s.radiusA;
    break;
  case QMTYPE_ELLIPSE:
  case QMTYPE_ARC:
    GetFieldInt(L, t, "radiusa", &s.radiusA, &given);
    GetFieldInt(L, t, "radiusb", &s.radiusB, &given);
    if (c->type == QMTYPE_ARC) {
      GetFieldInt(L, t, "startangle", &s.startAngle, &given);
      GetFieldInt(L, t, "endangle", &s.endAngle, &given);
      int32_t clockwise = 0;
      if (GetFieldInt(L, t, "clockwise", &clockwise, &given)) s.clockwise = clockwise != 0;
      if (s.startAngle < 0 || s.endAngle < 0) return ERR_WRONGUSAGE;
    }
    break;
  case QMTYPE_LINE:
    GetFieldInt(L, t, "x1", &c->lineX1, &given);
    GetFieldInt(L, t, "y1", &c->lineY1, &given);
    GetFieldInt(L, t, "x2", &c->lineX2, &given);
    GetFieldInt(L, t, "y2", &c->lineY2, &given);
    GetFieldInt(L, t, "thickness", &s.thickness, &given);
    if (s.thickness < 1) s.thickness = 1;
    break;
  case QMTYPE_POLYGON: {
    const bool had = s.vertices != nullptr;
    if (uint32_t code = ReadVertices(L, t, c)) return code;
    if (s.vertices && !had) given = 1;
    break;
  }
  default: break;
  }
  // Only a shape that is to be drawn again must be whole.
  if (!given && !styleGiven) return 0;
  if ((c->type == QMTYPE_CIRCLE || c->type == QMTYPE_ELLIPSE || c->type == QMTYPE_ARC) &&
      (s.radiusA < 1 || s.radiusB < 1))
    return ERR_WRONGUSAGE;
  ValidateDrawStyle(&s.style);
  c->contentChanged = 1;
  return 0;
}

// "dashes": lengths from index 0 up to the first missing one. 0 or ERR_TABEXPECTED,
// ERR_NUMTABLEARG, ERR_WRONGUSAGE (a list that cannot dash a line).
uint32_t ReadDashes(VmState *L, int32_t t, std::vector<double> *out, int *given) {
  if (const int list = PushListField(L, t, "dashes"); list <= 0) return list ? uint32_t(ERR_TABEXPECTED) : 0;
  *given = 1;
  uint32_t code = 0;
  for (int32_t k = 0; !code; k++) {
    vm_rawgeti(L, -1, k);
    const int at = vm_type(L, -1);
    if (at == VM_TNIL) {
      vm_pop(L, 1);
      break;
    }
    if (!vm_isnumber(L, -1)) code = ERR_NUMTABLEARG;
    else out->push_back(vm_tonumber(L, -1));
    vm_pop(L, 1);
  }
  vm_pop(L, 1);
  if (code) return code;
  // As SetDash: none, or a negative first length, draws solid lines.
  if (out->empty() || (*out)[0] < 0) {
    out->clear();
    return 0;
  }
  return CheckDashes(out->data(), uint32_t(out->size()));
}

// The content keys of a path layer: another path, its colour, draw style and stroke settings.
uint32_t ReadPathKeys(VmState *L, int32_t t, const qmLayer *layer, qmStyleChange *c) {
  const qmPathLayerData *now = layer->base->path;
  qmObjectId id{};
  const int idGiven = GetFieldObjectId(L, t, "id", &id, nullptr);
  const qmPath *path = nullptr;
  if (idGiven) {
    path = reinterpret_cast<const qmPath *>(FindObject(L, QMTYPE_VECTORPATH, &id));
    if (!path) return MissingObjectError(&id, ERR_FINDPATH);
    if (PathIsEmpty(path)) return ERR_EMPTYPATH;
  }
  if (!now) return 0;  // a layer made without its path is kept as its picture
  qmPathLayerData next = *now;  // borrowed until copied below
  if (path) next.commands = path->commands, next.bytes = uint32_t(PathCommandBytes(path) + 4);
  int given = idGiven;
  GetFieldUInt(L, t, "color", &next.color, &given);
  int32_t styleGiven = 0, switched = 0;
  if (uint32_t code = ReadFormStyleOptions(L, &c->look, t, &next.style, &styleGiven, &switched)) return code;
  if (switched) c->lookChanged = 1;
  GetFieldInt(L, t, "linejoin", &next.settings.join, &given);
  GetFieldInt(L, t, "linecap", &next.settings.cap, &given);
  GetFieldInt(L, t, "fillrule", &next.settings.fillRule, &given);
  GetFieldNumber(L, t, "dashoffset", &next.settings.dashOffset, &given);
  std::vector<double> dashes;
  int dashesGiven = 0;
  if (uint32_t code = ReadDashes(L, t, &dashes, &dashesGiven)) return code;
  if (dashesGiven) {
    next.settings.dashes = dashes.empty() ? nullptr : dashes.data();
    next.settings.dashCount = uint32_t(dashes.size());
    if (dashes.empty()) next.settings.dashOffset = 0;
  }
  if (!given && !styleGiven && !dashesGiven) return 0;
  ValidateDrawStyle(&next.style);
  qmPathLayerData *copy = nullptr;
  if (uint32_t code = CopyPathLayerData(&next, &copy)) return code;
  FreePathLayerData(c->path);
  c->path = copy;
  c->contentChanged = 1;
  return 0;
}

// The font keys: the request's font opened again by name, size, engine and cache switch, each
// kept from the font the block has where not given. *given := 1 when a key was given.
uint32_t ReadFontKeys(VmState *L, int32_t t, qmTextStyle *style, int *given) {
  const qmFont *font = style->font;
  char name[kFontNameSize];
  CopyString(name, font && font->openedName[0] ? font->openedName : font ? font->faceName : "topaz", sizeof name);
  int32_t size = font ? font->size : 8;
  int32_t engine = font && font->engineType == QM_FONT_FREETYPE ? FONTENGINE_INBUILT : FONTENGINE_NATIVE;
  int32_t cache = 1;
  int found = 0;
  // A font the applet carries is named as the script knows it and opened from the applet; the
  // copy is owned here, as the readers after it may raise.
  char *givenName = nullptr;
  int linkedFont = 0;
  GetFieldStringDup(L, t, "font", 1, &linkedFont, &givenName, nullptr, &found);
  const std::unique_ptr<char, void (*)(void *)> owned(givenName, MemFree);
  GetFieldInt(L, t, "fontsize", &size, &found);
  GetFieldInt(L, t, "fontengine", &engine, &found);
  GetFieldInt(L, t, "fontcache", &cache, &found);
  if (!found) return 0;
  *given = 1;
  if (givenName) CopyString(name, givenName, sizeof name);
  // A font of the applet's own files is always kept in the cache. A name given here is a linked
  // font when the applet carries it as one (as in SetFont); the font kept from the block is one
  // when its name is the applet's.
  const bool own = std::strncmp(name, ":::chunk", 8) == 0;
  const bool linked = givenName ? linkedFont != 0 : own;
  if (own) cache = 1;
  qmFont *opened = nullptr;
  const qmTextState *text = GetScene(L) ? GetScene(L)->text : nullptr;
  if (!text) return ERR_OPENFONT;
  if (uint32_t code = GetCachedFont(text->fonts, name, size, engine, cache, linked, &opened)) return code;
  style->font = opened;
  return 0;
}

// "tabs": tab stops from index 0 up to the first missing one, at most 31, put in order.
uint32_t ReadTabStops(VmState *L, int32_t t, qmTextRequest *r, int *given) {
  if (const int list = PushListField(L, t, "tabs"); list <= 0) return list ? uint32_t(ERR_TABEXPECTED) : 0;
  *given = 1;
  constexpr int32_t kMost = kMaxTabStops - 1;
  int32_t stops[kMost];
  int32_t count = 0;
  uint32_t code = 0;
  for (int32_t k = 0; !code; k++) {
    vm_rawgeti(L, -1, k);
    if (vm_type(L, -1) == VM_TNIL) {
      vm_pop(L, 1);
      break;
    }
    if (!vm_isnumber(L, -1)) {
      SetErrorArgument("tabs");
      code = ERR_NUMTABLEARG;
    } else if (count == kMost) {
      code = ERR_INTERNAL;
    } else {
      stops[count++] = NumberToInt(vm_tonumber(L, -1));
    }
    vm_pop(L, 1);
  }
  vm_pop(L, 1);
  if (code) return code;
  std::sort(stops, stops + count);
  std::copy(stops, stops + count, r->tabStops);
  r->tabCount = count;
  return 0;
}

// The content keys of a text block (TEXTOUT, PRINT): its text, colour, font and style, encoding,
// margins and alignment, a PRINT block's cursor and tabs. A block made from another kind of
// layer starts from the current font and encoding (a PRINT block also from the display's
// cursor, margins and tabs). The fontstyle bits 32 and 64 switch the layer's shadow and border,
// which a text block is drawn with. Anything given makes a request to set anew.
uint32_t ReadTextKeys(VmState *L, int32_t t, const qmLayer *layer, qmStyleChange *c) {
  const int32_t kind = c->type;
  const qmTextRequest *now = IsTextBlock(layer->type) ? layer->base->textRequest : nullptr;
  const bool newKind = layer->type != kind;
  qmTextRequest next{};  // its text and tables are borrowed until copied below
  if (now) {
    next = *now;
  } else {
    const qmPlayerContext *ctx = GetPlayerContext(L);
    next.style = {QM_STYLE_NORMAL, 0xFFFFFF, 0, 0x0093DD, 4, 3, 2, ctx && ctx->currentFont ? ctx->currentFont(L) : nullptr};
    next.encoding = ctx && ctx->defaultEncoding ? ctx->defaultEncoding(L) : 0;
    next.align = POS_LEFT;
    next.text = const_cast<char *>("");
  }
  if (newKind) {
    next.cursorX = next.cursorY = next.marginLeft = next.wrap = next.tabCount = 0;
    next.align = POS_LEFT;
    if (kind == QMTYPE_PRINT)
      if (const qmDisplay *d = GetScene(L)->current) {
        next.cursorX = d->cursorX, next.cursorY = d->cursorY;
        next.marginLeft = d->textMarginLeft, next.wrap = d->textMarginRight;
        next.tabCount = std::min(d->tabCount, kMaxTabStops);
        std::copy(d->tabStops, d->tabStops + next.tabCount, next.tabStops);
      }
  }
  int given = newKind, layout = newKind;
  const char *text = nullptr;
  size_t length = 0;
  if (GetFieldBytes(L, t, "text", &text, &length, &layout)) next.text = const_cast<char *>(text);
  GetFieldUInt(L, t, "color", &next.style.color, &given);
  qmTextStyle &st = next.style;
  constexpr uint32_t kGlyphBits = QM_STYLE_BOLD | QM_STYLE_ITALIC | QM_STYLE_UNDERLINED | QM_STYLE_ANTIALIAS;
  uint32_t bits = 0;
  if (GetFieldUInt(L, t, "fontstyle", &bits, &layout)) {
    if (bits & QM_STYLE_NORMAL) st.style = QM_STYLE_NORMAL;
    if (bits & kGlyphBits) st.style = int32_t((uint32_t(st.style) & ~uint32_t(QM_STYLE_NORMAL)) | (bits & kGlyphBits));
    if (bits & QM_STYLE_SHADOW) {
      qmShadowBlock &s = c->look.shadow;
      s.on = 1, s.color = st.shadowColor, s.size = st.shadowDistance, s.direction = st.shadowDirection;
      if (!(s.radius >= 1.0)) s.radius = 1.0;
      if (!(s.sigma > 0)) s.sigma = s.radius / 3;
      c->lookChanged = 1;
    }
    if (bits & QM_STYLE_EDGE) {
      c->look.border = {1, st.edgeColor, st.edgeSize};
      c->lookChanged = 1;
    }
  }
  if (GetFieldUInt(L, t, "fontstyleclear", &bits, &layout)) {
    st.style = int32_t(uint32_t(st.style) & ~(bits & kGlyphBits));
    if (!(st.style & int32_t(kGlyphBits))) st.style = QM_STYLE_NORMAL;
    if (bits & QM_STYLE_SHADOW) c->look.shadow.on = 0, c->lookChanged = 1;
    if (bits & QM_STYLE_EDGE) c->look.border.on = 0, c->lookChanged = 1;
  }
  if (GetFieldInt(L, t, "encoding", &next.encoding, &layout) && next.encoding != 0 && next.encoding != 1)
    return ERR_WRONGUSAGE;
  if (GetFieldInt(L, t, "rightmargin", &next.wrap, &layout) && next.wrap < 0) return ERR_WRONGUSAGE;
  if (uint32_t code = ReadFontKeys(L, t, &st, &layout)) return code;
  if (kind == QMTYPE_TEXTOUT) {
    GetFieldInt(L, t, "align", &next.align, &layout);
  } else {
    if (GetFieldInt(L, t, "leftmargin", &next.marginLeft, &layout) && next.marginLeft < 0) return ERR_WRONGUSAGE;
    if (GetFieldInt(L, t, "cursorx", &next.cursorX, &layout)) c->cursorGiven |= CURSOR_X;
    if (GetFieldInt(L, t, "cursory", &next.cursorY, &layout)) c->cursorGiven |= CURSOR_Y;
    if (uint32_t code = ReadTabStops(L, t, &next, &layout)) return code;
  }
  if (!given && !layout) return 0;
  // Breaks and tab choices recorded for the old block do not fit a new layout.
  if (layout) next.breaks = nullptr, next.tabChoices = nullptr;
  auto *copy = static_cast<qmTextRequest *>(MemAlloc(sizeof(qmTextRequest), 1));
  if (!copy) return ERR_MEM;
  if (CopyTextRequest(&next, copy)) {
    MemFree(copy);
    return ERR_MEM;
  }
  if (c->text) {
    FreeTextRequest(c->text);
    MemFree(c->text);
  }
  c->text = copy;
  c->contentChanged = 1;
  return 0;
}

// The cursor keys of a PRINT style, once the other keys are read: they place the block at the
// cursor, so no position key may come with them, nor may a cursor be a coordinate constant; a
// cursor x outside the margins goes to the left margin.
uint32_t CheckCursorKeys(VmState *L, int32_t t, qmStyleChange *c) {
  if (!c->cursorGiven || !c->text) return 0;
  for (const char *key : {"x", "y", "translatex", "translatey"})
    if (HasField(L, t, key)) return ERR_WRONGUSAGE;
  qmTextRequest *r = c->text;
  if (((c->cursorGiven & CURSOR_X) && MaybeSpecialPosition(r->cursorX)) ||
      ((c->cursorGiven & CURSOR_Y) && MaybeSpecialPosition(r->cursorY)))
    return ERR_NOCOORDCST;
  if (r->cursorX < r->marginLeft || r->cursorX > r->wrap) r->cursorX = r->marginLeft;
  r->x = POS_CENTER;
  return 0;
}

// Content keys of one layer: another object, another part of it, another type.
uint32_t ReadContentKeys(VmState *L, int32_t t, const qmLayer *layer, qmStyleChange *c) {
  int32_t type = layer->type;
  if (GetFieldInt(L, t, "type", &type, nullptr) && type != layer->type) {
    if (uint32_t code = CheckTypeKeys(L, t, type)) return code;
    if (IsShapeType(type)) {
      // A shape made from another kind of layer starts from the draw style in force now.
      if (!IsShapeType(layer->type)) {
        c->shape = {};
        c->shape.style = GetScene(L)->drawStyle;
        c->shape.clockwise = 1;
        c->shapeColor = 0;
      }
      if (c->shape.thickness < 1) c->shape.thickness = 1;
      c->type = type;
      c->contentChanged = 1;
      return ReadShapeKeys(L, t, c);
    }
    if (IsTextBlock(type)) {
      c->type = type;
      c->contentChanged = 1;
      return ReadTextKeys(L, t, layer, c);
    }
    if (type == QMTYPE_TEXTOBJECT) {
      GetFieldObjectId(L, t, "id", &c->object, nullptr);
      c->type = type;
      c->contentChanged = c->textObjectGiven = 1;
      return 0;
    }
    // Paths are kept as pictures here: only brush, picture, text and shape content can be built
    // anew.
    if (!IsBrushContent(type)) {
      if (type == QMTYPE_ANIM || type == QMTYPE_VECTORPATH) {
        qmObjectId id{};
        GetFieldObjectId(L, t, "id", &id, nullptr);
        return MissingObjectError(&id, type == QMTYPE_ANIM ? ERR_FINDANIM : ERR_FINDPATH);
      }
      return ERR_WRONGUSAGE;
    }
    if (!IsBrushContent(layer->type) || (type == QMTYPE_BGPICPART) != (layer->type == QMTYPE_BGPICPART))
      if (!HasField(L, t, "id")) return ERR_MISSINGPARAMTR;
    c->type = type;
    c->contentChanged = 1;
  }
  if (layer->type == QMTYPE_ANIM) {
    // The anim is looked up when the change is applied.
    if (GetFieldObjectId(L, t, "id", &c->object, nullptr)) c->animGiven = 1;
    if (GetFieldInt(L, t, "frame", &c->frame, nullptr)) c->frameGiven = 1;
    return 0;
  }
  if (layer->type == QMTYPE_VECTORPATH) return ReadPathKeys(L, t, layer, c);
  // A text layer given another type is read as that type.
  if (IsTextBlock(c->type)) return ReadTextKeys(L, t, layer, c);
  if (c->type == QMTYPE_TEXTOBJECT) {
    if (GetFieldObjectId(L, t, "id", &c->object, nullptr)) c->contentChanged = c->textObjectGiven = 1;
    return 0;
  }
  if (IsShapeType(c->type)) return ReadShapeKeys(L, t, c);
  if (!IsBrushContent(c->type)) return 0;
  if (GetFieldObjectId(L, t, "id", &c->object, nullptr)) c->contentChanged = 1;
  int part = 0;
  GetFieldInt(L, t, "partx", &c->partX, &part);
  GetFieldInt(L, t, "party", &c->partY, &part);
  GetFieldInt(L, t, "partwidth", &c->partWidth, &part);
  GetFieldInt(L, t, "partheight", &c->partHeight, &part);
  if (part) {
    c->contentChanged = 1;
    if (c->type == QMTYPE_BRUSH) c->type = QMTYPE_BRUSHPART;
  }
  return 0;
}

// The transform keys: a user matrix, or scale, size and rotation.
uint32_t ReadTransformKeys(VmState *L, int32_t t, qmStyleChange *c) {
  qmTransform &T = c->transform;
  double m[4];
  int userSet = 0;
  if (GetFieldMatrix(L, t, "transform", m, nullptr)) {
    if (m[0] == 0 || m[3] == 0) return ERR_WRONGUSAGE;
    std::memcpy(T.userMatrix, m, sizeof m);
    T.userMatrixSet = 1;
    T.rotation = 0;
    T.targetWidth = T.targetHeight = 0;
    T.scaleX = T.scaleY = 1.0;
    c->transformChanged = userSet = 1;
  } else {
    double v = 0;
    if (GetFieldNumber(L, t, "scalex", &v, nullptr) && v != T.scaleX)
      T.scaleX = v, T.targetWidth = 0, c->transformChanged = 1;
    if (GetFieldNumber(L, t, "scaley", &v, nullptr) && v != T.scaleY)
      T.scaleY = v, T.targetHeight = 0, c->transformChanged = 1;
    int percent = 0;
    if (GetFieldNumberOrPercent(L, t, "width", 0, 1, &v, &percent, nullptr)) {
      if (percent) T.targetWidth = 0, T.scaleX = v;
      else T.targetWidth = FieldToInt32(L, "width", v), T.scaleX = 1.0;
      c->transformChanged = 1;
    }
    if (GetFieldNumberOrPercent(L, t, "height", 0, 1, &v, &percent, nullptr)) {
      if (percent) T.targetHeight = 0, T.scaleY = v;
      else T.targetHeight = FieldToInt32(L, "height", v), T.scaleY = 1.0;
      c->transformChanged = 1;
    }
    if (GetFieldNumber(L, t, "rotate", &v, nullptr) && v != T.rotation) {
      T.rotation = std::fmod(v, 360.0);
      c->transformChanged = 1;
    }
  }
  if (T.targetWidth < 0 || T.targetHeight < 0 || T.scaleX == 0 || T.scaleY == 0) return ERR_BADDIMENSIONS;
  if (c->transformChanged && !userSet) T.userMatrixSet = 0;
  return 0;
}

// A switch of the table into *out; 1 when it was given.
int FlagKey(VmState *L, int32_t t, const char *key, int32_t *out) {
  bool on = *out != 0;
  if (!GetFieldFlag(L, t, key, &on, nullptr)) return 0;
  *out = on ? 1 : 0;
  return 1;
}

uint32_t ReadCommonKeys(VmState *L, int32_t t, const qmLayer *layer, qmStyleChange *c) {
  qmLayer &look = c->look;
  if (uint32_t code = ReadTransformKeys(L, t, c)) return code;
  double v = 0;
  for (int axis = 0; axis < 2; axis++) {
    const char *key = axis ? "anchory" : "anchorx";
    if (!GetFieldNumber(L, t, key, &v, nullptr)) continue;
    if (!(v >= 0.0 && v <= 1.0)) return ERR_WRONGUSAGE;
    (axis ? look.anchorY : look.anchorX) = v;
    c->anchorGiven = c->positionGiven = 1;
  }
  c->transform.anchorX = look.anchorX, c->transform.anchorY = look.anchorY;
  if (GetFieldNumber(L, t, "translatex", &v, nullptr)) c->x = FieldToInt32(L, "translatex", v), c->relativeX = c->positionGiven = 1;
  else if (GetFieldNumber(L, t, "x", &v, nullptr)) c->x = FieldToInt32(L, "x", v), c->positionGiven = 1;
  if (GetFieldNumber(L, t, "translatey", &v, nullptr)) c->y = FieldToInt32(L, "translatey", v), c->relativeY = c->positionGiven = 1;
  else if (GetFieldNumber(L, t, "y", &v, nullptr)) c->y = FieldToInt32(L, "y", v), c->positionGiven = 1;
  FlagKey(L, t, "smoothscale", &c->transform.smooth);
  if (GetFieldNumberOrPercent(L, t, "transparency", 255, 0, &v, nullptr, nullptr) &&
      Level(L, "transparency", v) != look.transparency) {
    look.transparency = Level(L, "transparency", v);
    c->lookChanged = 1;
  }
  int32_t given = 0;
  if (uint32_t code = ReadFilterTable(L, t, look.filters, &given)) return code;
  ReadTintOptions(L, t, look.filters);
  int32_t clear = 0;
  if (GetFieldInt(L, t, "clearfilters", &clear, nullptr) && clear) std::memset(look.filters, 0, sizeof look.filters);
  if (std::memcmp(look.filters, layer->filters, sizeof look.filters)) c->lookChanged = 1;
  look.shapeFilters = HasShapeFilters(look.filters);
  if (FlagKey(L, t, "hidden", &look.hidden)) c->lookChanged = 1;
  if (uint32_t code = ReadShadowOptions(L, t, &look.shadow, nullptr)) return code;
  if (uint32_t code = ReadBorderOptions(L, t, 0, &look.border, nullptr)) return code;
  vm_pushstring(L, "clipregion");
  vm_gettable(L, t);
  const bool dropClip = vm_type(L, -1) == VM_TNUMBER && vm_tonumber(L, -1) == -1;
  vm_pop(L, 1);
  qmObjectId clipId{};
  if (dropClip) {
    c->clipGiven = c->clipChanged = 1;
    c->clip = nullptr;
  } else if (GetFieldObjectId(L, t, "clipregion", &clipId, nullptr)) {
    if (uint32_t code = FindClipRegion(ObjectRegistryOf(L), &clipId, &c->clip, 0)) return code;
    c->clipGiven = c->clipChanged = 1;
  }
  if (FlagKey(L, t, "nocliptransform", &look.nocliptransform)) c->clipChanged = 1;
  int32_t z = 0;
  if (GetFieldLayerId(L, t, "z", &z, nullptr)) c->z = z < 1 ? -1 : z;
  return 0;
}

}  // namespace

uint32_t ReadLayerStyle(VmState *L, int32_t t, const qmLayer *layer, int32_t single, qmStyleChange *c) {
  t = vm_absindex(L, t);
  if (vm_type(L, t) != VM_TTABLE) {
    SetErrorNumber(uint32_t(t));
    return ERR_TABEXPECTED;
  }
  if (single)
    if (uint32_t code = ReadContentKeys(L, t, layer, c)) return code;
  if (uint32_t code = ReadCommonKeys(L, t, layer, c)) return code;
  return CheckCursorKeys(L, t, c);
}

uint32_t ReadFormStyleOptions(VmState *L, qmLayer *layer, int32_t t, qmDrawStyle *style, int32_t *styleGiven,
                              int32_t *changed) {
  constexpr uint32_t kLayerBits = FORM_SHADOW | FORM_EDGE;
  auto layerSwitch = [&](uint32_t bits, int32_t on) {
    if (!layer) return;
    if (bits & FORM_SHADOW) layer->shadow.on = on, *changed = 1;
    if (bits & FORM_EDGE) layer->border.on = on, *changed = 1;
  };
  uint32_t bits = 0;
  if (GetFieldUInt(L, t, "formstyle", &bits, nullptr)) {
    if (bits & FORM_NORMAL) {
      style->formStyle = FORM_NORMAL;
      *styleGiven = 1;
    } else {
      layerSwitch(bits & kLayerBits, 1);
      style->formStyle |= bits & ~kLayerBits;
      if (bits & ~kLayerBits) *styleGiven = 1;
    }
  }
  if (GetFieldUInt(L, t, "formstyleclear", &bits, nullptr)) {
    layerSwitch(bits & kLayerBits, 0);
    style->formStyle &= ~(bits & ~kLayerBits);
    if (bits & ~kLayerBits) *styleGiven = 1;
  }
  int found = 0;
  GetFieldInt(L, t, "fillstyle", &style->fillStyle, &found);
  qmGradientSpec &g = style->gradient;
  int32_t kind = int32_t(g.kind);
  GetFieldInt(L, t, "gradientstyle", &kind, &found);
  g.kind = uint32_t(kind);
  GetFieldInt(L, t, "gradientangle", &g.angle, &found);
  int colour = 0;
  GetFieldUInt(L, t, "gradientstartcolor", &g.startColor, &colour);
  GetFieldUInt(L, t, "gradientendcolor", &g.endColor, &colour);
  if (colour) g.colorCount = 0;
  if (style->fillStyle == DRAWFILL_GRADIENT)
    if (uint32_t code = ReadGradientSpec(L, t, kGradientOptionKeys, &g)) return code;
  GetFieldObjectId(L, t, "texturebrush", &style->texture, &found);
  GetFieldInt(L, t, "texturex", &style->textureX, &found);
  GetFieldInt(L, t, "texturey", &style->textureY, &found);
  if (found || colour) *styleGiven = 1;
  return 0;
}

void WriteFormStyleFields(VmState *L, const qmDrawStyle *style) {
  SetFieldNumber(L, "formstyle", style->formStyle);
  SetFieldInt(L, "fillstyle", style->fillStyle);
  SetFieldNumber(L, "gradientstyle", style->gradient.kind);
  SetFieldInt(L, "gradientangle", style->gradient.angle);
  SetFieldNumber(L, "gradientstartcolor", style->gradient.startColor);
  SetFieldNumber(L, "gradientendcolor", style->gradient.endColor);
  SetFieldObjectId(L, "texturebrush", &style->texture);
  SetFieldInt(L, "texturex", style->textureX);
  SetFieldInt(L, "texturey", style->textureY);
}
