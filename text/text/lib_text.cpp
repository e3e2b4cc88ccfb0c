// The text library's commands: fonts, styles, colours, cursor, margins, tab stops and the
// default encoding; measuring; Print, NPrint and TextOut; font objects.
#include "text/text/lib_text.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "display/bgpic.h"
#include "display/display.h"
#include "display/filters.h"
#include "display/imagecore.h"
#include "display/scene.h"
#include "graphics/bitmapops.h"
#include "graphics/colors.h"
#include "display/position.h"
#include "display/safeblt.h"
#include "platform/eventpump.h"
#include "runtime/attributes.h"
#include "platform/keycodes.h"
#include "platform/memory.h"
#include "runtime/bindings/constant_lookup.h"
#include "runtime/bindings/font_attributes.h"
#include "runtime/eventqueue.h"
#include "runtime/bindings/displaytags_reader.h"
#include "runtime/cmdargs.h"
#include "platform/eventpump.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/objdata.h"
#include "runtime/objlist.h"
#include "runtime/strutil.h"
#include "runtime/rttags.h"
#include "runtime/vm/vm_api.h"
#include "runtime/vnames.h"
#include "text/font.h"
#include "text/fontscan.h"
#include "text/text/textoutput.h"
#include "text/textobject.h"

namespace {

// An open font object: the font itself stays the font cache's.
struct qmFontNode {
  qmObjectHeader header;
  qmFont *font;
};

constexpr int32_t kMaxJoinedKerningText = 611;

int32_t EncodingArg(VmState *L, int i, uint32_t *err) {
  int32_t encoding = vm_optint32(L, i, GetTextState(L)->encoding);
  *err = encoding == 0 || encoding == 1 ? 0 : uint32_t(ERR_WRONGUSAGE);
  return encoding;
}

// The font named at argument i, its size at i + 1 and options at i + 2 (only when last).
uint32_t SelectFont(VmState *L, int i, qmFont **out) {
  int linked = 0;
  const char *name = ResolveLinkedFileArg(L, i, 1, &linked);
  int32_t size = vm_checkint32(L, i + 1);
  int32_t engine = FONTENGINE_NATIVE, cache = 1;
  if (vm_gettop(L) == i + 2 && vm_type(L, i + 2) == VM_TTABLE) {
    int found;
    GetFieldInt(L, i + 2, "engine", &engine, &found);
    GetFieldInt(L, i + 2, "cache", &cache, &found);
  }
  std::string copy = name;  // the linked-name buffer is reused by the next resolution
  PrintStatusMessage("Opening font %s", copy.c_str(), 1);
  return GetCachedFont(GetTextState(L)->fonts, copy.c_str(), size, engine, cache, linked, out);
}

uint32_t FindFontNode(VmState *L, const qmObjectId &id, qmFontNode **out) {
  qmObjectHeader *h = FindObject(L, QMTYPE_FONT, &id);
  if (!h) return MissingObjectError(&id, ERR_FINDFONT2);
  *out = reinterpret_cast<qmFontNode *>(h);
  return 0;
}

void FreeFontNode(VmState *L, qmFontNode *node) {
  RemoveObject(L, &node->header);
  FreeObjectDataList(L, static_cast<qmObjectData *>(node->header.userData));
  MemFree(node);
}

uint32_t TxtSetFont(VmState *L) {
  CheckArgCount(L, 2, 3);
  qmFont *font = nullptr;
  if (uint32_t err = SelectFont(L, 1, &font)) return err;
  // SelectFont's status line ends here, as OpenFont ends it.
  PrintStatusMessage("done\n", nullptr, 0);
  GetTextState(L)->style.font = font;
  GetTextState(L)->style.style = QM_STYLE_NORMAL;
  return 0;
}

uint32_t TxtSetFontColor(VmState *L) {
  CheckArgCount(L, 1, 1);
  GetTextState(L)->style.color = vm_checkinteger(L, 1);
  return 0;
}

uint32_t TxtTextHeight(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmFont *font = GetTextState(L)->style.font;
  vm_pushnumber(L, font ? font->height : 0);
  return 1;
}

uint32_t TxtTextWidth(VmState *L) {
  CheckArgCount(L, 1, 2);
  size_t length;
  const char *text = vm_checkstring(L, 1, &length);
  uint32_t err;
  int32_t encoding = EncodingArg(L, 2, &err);
  if (err) return err;
  qmTextExtent e{};
  if (length && (err = ComputeTextExtent(text, int32_t(length), encoding, &e, &GetTextState(L)->style))) return err;
  vm_pushnumber(L, e.width);
  return 1;
}

uint32_t TxtResetTabs(VmState *L) {
  CheckArgCount(L, 0, 0);
  if (qmDisplay *d = GetScene(L)->current) d->tabCount = 0;
  return 0;
}

uint32_t TxtAddTab(VmState *L) {
  CheckArgCount(L, 1, VM_ANYARGS);
  qmDisplay *d = GetScene(L)->current;
  int n = vm_gettop(L);
  for (int i = 1; i <= n; i++) {
    int32_t stop = vm_checkint32(L, i);
    if (!d) continue;
    if (d->tabCount >= kTabStopMax) return ERR_INTERNAL;
    if (stop < 0) return ERR_NEGCOORDS;
    int32_t at = d->tabCount;
    while (at > 0 && d->tabStops[at - 1] > stop) at--;
    std::memmove(&d->tabStops[at + 1], &d->tabStops[at], sizeof(int32_t) * size_t(d->tabCount - at));
    d->tabStops[at] = stop;
    d->tabCount++;
  }
  return 0;
}

uint32_t TxtLocate(VmState *L) {
  CheckArgCount(L, 2, 2);
  int32_t x = vm_checkint32(L, 1), y = vm_checkint32(L, 2);
  if (x == POS_CENTER || x == POS_LEFT || x == POS_RIGHT || y == POS_CENTER || y == POS_TOP || y == POS_BOTTOM)
    return ERR_NOCOORDCST;
  qmDisplay *d = GetScene(L)->current;
  if (!d) return 0;
  d->cursorX = x >= d->textMarginLeft && x <= d->textMarginRight ? x : d->textMarginLeft;
  d->cursorY = y;
  return 0;
}

uint32_t TxtSetMargins(VmState *L) {
  CheckArgCount(L, 2, 2);
  int32_t left = vm_checkint32(L, 1), right = vm_checkint32(L, 2);
  if (left >= right) return ERR_WRONGUSAGE;
  qmDisplay *d = GetScene(L)->current;
  if (!d) return 0;
  const qmBGPic *picture = GetScene(L)->picture;
  int32_t width = picture ? picture->unscaledWidth : d->width;
  d->textMarginLeft = std::max(left, 0);
  d->textMarginRight = std::min(right, width - 1);
  d->cursorX = d->textMarginLeft;
  d->cursorY = 0;
  return 0;
}

uint32_t TxtSetFontStyle(VmState *L) {
  CheckArgCount(L, 1, 4);
  int n = vm_gettop(L);
  int32_t s = vm_checkint32(L, 1);
  qmTextStyle *state = &GetTextState(L)->style;
  if (s & QM_STYLE_NORMAL) {
    state->style = QM_STYLE_NORMAL;
    return 0;
  }
  qmTextStyle next = *state;
  if (s == QM_STYLE_SHADOW) {
    if (n >= 2) next.shadowColor = vm_checkinteger(L, 2);
    if (n >= 3) next.shadowDistance = vm_checkint32(L, 3);
    if (n >= 4) next.shadowDirection = vm_checkint32(L, 4);
  } else if (s == QM_STYLE_EDGE) {
    if (n >= 2) next.edgeColor = vm_checkinteger(L, 2);
    if (n >= 3) next.edgeSize = vm_checkint32(L, 3);
    if (n >= 4) return ERR_TOOMANYARGS;
  } else if (n > 1) {
    return ERR_TOOMANYARGS;
  }
  // Styles accumulate until NORMAL: a plain style bit clears NORMAL itself.
  next.style = (next.style & ~QM_STYLE_NORMAL) | s;
  ClampTextStyle(&next);
  *state = next;
  return 0;
}

// Print text at the cursor of the current display.
uint32_t PrintText(VmState *L, const std::string &text, int32_t plain) {
  qmDisplay *d = GetScene(L)->current;
  if (!d) return 0;
  qmTextRequest r{};
  r.x = POS_CENTER;
  r.style = GetTextState(L)->style;
  r.text = const_cast<char *>(text.c_str());
  r.align = POS_LEFT;
  r.cursorX = d->cursorX;
  r.cursorY = d->cursorY;
  r.marginLeft = d->textMarginLeft;
  r.wrap = d->textMarginRight;
  std::memcpy(r.tabStops, d->tabStops, sizeof r.tabStops);
  r.tabCount = d->tabCount;
  return RenderTextBlock(L, &r, QM_TEXT_PRINT, plain, nullptr, nullptr);
}

uint32_t PrintValues(VmState *L, bool newline) {
  CheckArgCount(L, 1, VM_ANYARGS);
  int n = vm_gettop(L);
  std::string text;
  for (int i = 1; i <= n; i++) {
    vm_pushstring(L, "tostring");
    vm_gettable(L, VM_GLOBALSINDEX);
    vm_pushvalue(L, i);
    if (uint32_t code = vm_call(L, 1, 1)) return code;
    const char *part = vm_tostring(L, -1);
    size_t len = part ? vm_strlen(L, -1) : 0;
    if (i > 1) text += ' ';
    if (part) text.append(part, len);
    vm_pop(L, 1);
  }
  if (newline) text += '\n';
  return PrintText(L, text, 0);
}

uint32_t TxtPrint(VmState *L) { return PrintValues(L, false); }
uint32_t TxtNPrint(VmState *L) { return PrintValues(L, true); }

uint32_t TxtTextOut(VmState *L) {
  CheckArgCount(L, 3, 5);
  int n = vm_gettop(L);
  qmTextRequest r{};
  r.x = vm_checkint32(L, 1);
  r.y = vm_checkint32(L, 2);
  size_t length;
  const char *text = vm_checkstring(L, 3, &length);
  r.style = GetTextState(L)->style;
  r.align = POS_LEFT;
  r.encoding = GetTextState(L)->encoding;
  // The block's size is known only once it is laid out: the tags' "width" and "height" do not
  // apply to it.
  qmTransform transform;
  qmDisplayTags tags;
  if (uint32_t code = ParseDisplayTags(L, GetScene(L), 4, 0, 0, 0, 0, 0, &transform, &tags, DTAG_INIT | DTAG_NOSIZE)) return code;
  std::vector<int32_t> table;
  if (n == 4 && vm_type(L, 4) == VM_TTABLE) {
    int found;
    GetFieldInt(L, 4, "align", &r.align, &found);
    GetFieldInt(L, 4, "wordwrap", &r.wrap, &found);
    GetFieldInt(L, 4, "encoding", &r.encoding, &found);
    GetFieldUInt(L, 4, "color", &r.style.color, &found);
    vm_pushstring(L, "wordwraptable");
    vm_gettable(L, 4);
    if (vm_type(L, -1) == VM_TTABLE) {
      for (int k = 0;; k++) {
        vm_rawgeti(L, -1, k);
        if (vm_type(L, -1) == VM_TNIL) {
          vm_pop(L, 1);
          break;
        }
        if (vm_type(L, -1) != VM_TNUMBER) {
          SetErrorArgument("wordwraptable");
          return ERR_NUMTABLEARG;
        }
        if (table.size() + 1 >= 32768) return ERR_INTERNAL;
        table.push_back(FieldToInt32(L, "wordwraptable", vm_tonumber(L, -1)));
        vm_pop(L, 1);
      }
      r.breaks = &table;
    }
    vm_pop(L, 1);
  } else {
    r.align = vm_optint32(L, 4, POS_LEFT);
    r.wrap = vm_optint32(L, 5, 0);
  }
  if (r.wrap < 0 || (r.encoding != 0 && r.encoding != 1)) return ERR_WRONGUSAGE;
  std::string copy(text, length);
  r.text = copy.data();
  return RenderTextBlock(L, &r, QM_TEXT_TEXTOUT, 0, &transform, &tags);
}

// Text objects.

uint32_t FindTextObject(VmState *L, const qmObjectId &id, qmTextObject **out) {
  for (qmObjectHeader *h = FirstObject(L, QMTYPE_TEXTOBJECT); h; h = h->next) {
    auto *o = reinterpret_cast<qmTextObject *>(h);
    if (!o->temporary && ObjectHasId(h, &id)) {
      *out = o;
      return 0;
    }
  }
  return MissingObjectError(&id, ERR_FINDTEXTOBJECT);
}

void FreeTextObjectRecord(VmState *L, qmTextObject *o) {
  RemoveObject(L, &o->header);
  FreeObjectDataList(L, static_cast<qmObjectData *>(o->header.userData));
  FreeTextObjectData(o);
  MemFree(o);
}

// report off: a missing object is no error.
uint32_t FreeTextObjectCore(VmState *L, const qmObjectId &id, bool report) {
  qmTextObject *o = nullptr;
  if (uint32_t err = FindTextObject(L, id, &o)) return report ? err : 0;
  if (o->locked) return ERR_LOCKEDOBJ;
  FreeTextObjectRecord(L, o);
  return 0;
}

uint32_t AppendTextObject(VmState *L, qmTextObject *o) {
  if (uint32_t err = AddObject(L, &o->header)) {
    FreeTextObjectData(o);
    MemFree(o);
    return err;
  }
  if (!o->header.handle) return 0;
  vm_pushlightuserdata(L, reinterpret_cast<void *>(o->header.handle));
  return 1;
}

uint32_t TxtCreateTextObject(VmState *L) {
  CheckArgCount(L, 2, 5);
  int n = vm_gettop(L);
  qmObjectId id = GetNewObjectIdArg(L, 1);
  size_t length;
  const char *text = vm_checkstring(L, 2, &length);
  qmTextRequest r{};
  r.style = GetTextState(L)->style;
  r.align = POS_LEFT;
  r.encoding = GetTextState(L)->encoding;
  if (n == 3 && vm_type(L, 3) == VM_TTABLE) {
    int found;
    GetFieldInt(L, 3, "align", &r.align, &found);
    GetFieldInt(L, 3, "wordwrap", &r.wrap, &found);
    GetFieldInt(L, 3, "encoding", &r.encoding, &found);
    GetFieldUInt(L, 3, "color", &r.style.color, &found);
  } else {
    r.align = vm_optint32(L, 3, POS_LEFT);
    r.wrap = vm_optint32(L, 4, 0);
    r.encoding = vm_optint32(L, 5, r.encoding);
  }
  if (r.wrap < 0 || (r.encoding != 0 && r.encoding != 1)) return ERR_WRONGUSAGE;
  if (!id.handle)
    if (uint32_t err = FreeTextObjectCore(L, id, false)) return err;
  std::string copy(text, length);
  r.text = copy.data();
  auto *o = static_cast<qmTextObject *>(MemAlloc(sizeof(qmTextObject), 1));
  if (!o) return ERR_MEM;
  SetObjectHeader(&o->header, QMTYPE_TEXTOBJECT, &id);
  uint32_t err = CopyTextRequest(&r, &o->request);
  if (!err) err = RenderTextObject(o, LookupTagConstant, L);
  if (err) {
    FreeTextObjectData(o);
    MemFree(o);
    return err;
  }
  return AppendTextObject(L, o);
}

// The object's picture as a TEXTOBJECT layer at the resolved position (x, y), through
// ShowTextAsLayer. What the layer keeps: its position and the object's size and, for an object
// shown at its first size and upright, the object's request too, from which the layer engine
// renders it again when the layer is scaled (the layer copies it). A scaled or turned object
// keeps only the position block, and its layer is scaled from the picture.
uint32_t ShowTextObjectLayer(VmState *L, const qmTextObject *o, int32_t x, int32_t y, const qmTransform *transform,
                             const qmDisplayTags *tags, int32_t position, uint32_t flags) {
  const bool asMade = o->width == o->baseWidth && o->height == o->baseHeight && o->rotation == 0.0;
  qmTextRequest place = asMade ? o->request : qmTextRequest{};
  place.x = x, place.y = y;
  place.width = o->width, place.height = o->height;
  const qmObjectId id{o->header.id, o->header.handle};
  return ShowTextAsLayer(L, &place, QMTYPE_TEXTOBJECT, &id, o->bitmap, o->mask, o->alpha, o->width, o->height,
                         x + o->xOffset, y + o->yOffset, transform, tags, position, flags);
}

// Without layers the picture is drawn as stored (the tags' turning and scaling belong to
// layers); the tags place it by their anchor, and filters and transparency go to a copy.
uint32_t TxtDisplayTextObject(VmState *L) {
  CheckArgCount(L, 3, 4);
  qmTextObject *o = nullptr;
  if (uint32_t err = FindTextObject(L, GetObjectIdArg(L, 1), &o)) return err;
  const int32_t argX = vm_checkint32(L, 2), argY = vm_checkint32(L, 3);
  qmTransform t;
  qmDisplayTags tags;
  if (uint32_t err = ParseDisplayTags(L, GetScene(L), 4, o->baseWidth, o->baseHeight, 0, 0, 0, &t, &tags, DTAG_INIT)) return err;
  if (LayersTakeOutput(GetScene(L)->current)) {
    const int32_t x = ResolvePositionX(GetScene(L), argX, o->width, 0, t.anchorX);
    const int32_t y = ResolvePositionY(GetScene(L), argY, o->height, 0, t.anchorY);
    return ShowTextObjectLayer(L, o, x, y, &t, &tags, -1, 0);
  }
  int32_t x = ResolvePositionX(GetScene(L), argX, o->width, 0, t.anchorX) - int32_t(o->width * t.anchorX);
  int32_t y = ResolvePositionY(GetScene(L), argY, o->height, 0, t.anchorY) - int32_t(o->height * t.anchorY);
  bool effects = tags.transparency != 0;
  for (const qmFilterSlot &f : tags.filters) effects = effects || f.enabled;
  if (!effects || !o->bitmap) {
    BlitTextPicture(L, o->bitmap, o->mask, o->alpha, x + o->xOffset, y + o->yOffset, o->width, o->height);
    return 0;
  }
  qmBitmap *bitmap = nullptr;
  qmMask *mask = nullptr;
  qmAlphaChannel *alpha = nullptr;
  if (uint32_t err = CopyBitmap(o->bitmap, o->mask, o->alpha, 0, 0, o->width, o->height, 0, &bitmap, &mask, &alpha))
    return err;
  ApplyDisplayTagEffects(&tags, bitmap, &mask, &alpha, o->width, o->height);
  BlitTextPicture(L, bitmap, mask, alpha, x + o->xOffset, y + o->yOffset, o->width, o->height);
  FreeBitmap(bitmap);
  FreeMask(mask);
  FreeAlphaChannel(alpha);
  return 0;
}

uint32_t TxtFreeTextObject(VmState *L) {
  CheckArgCount(L, 1, 1);
  return FreeTextObjectCore(L, GetObjectIdArg(L, 1), true);
}

uint32_t TxtCopyTextObject(VmState *L) {
  CheckArgCount(L, 2, 2);
  qmTextObject *src = nullptr;
  if (uint32_t err = FindTextObject(L, GetObjectIdArg(L, 1), &src)) return err;
  qmObjectId id = GetNewObjectIdArg(L, 2);
  if (!id.handle && !src->header.handle && id.id == src->header.id) return ERR_WRONGUSAGE;
  if (!id.handle)
    if (uint32_t err = FreeTextObjectCore(L, id, false)) return err;
  auto *o = static_cast<qmTextObject *>(MemAlloc(sizeof(qmTextObject), 1));
  if (!o) return ERR_MEM;
  *o = *src;
  o->header = {};
  SetObjectHeader(&o->header, QMTYPE_TEXTOBJECT, &id);
  o->bitmap = nullptr;
  o->mask = nullptr;
  o->alpha = nullptr;
  o->locked = o->temporary = 0;
  uint32_t err = CopyTextRequest(&src->request, &o->request);
  if (!err)
    err = CopyBitmap(src->bitmap, src->mask, src->alpha, 0, 0, src->width, src->height, 0, &o->bitmap,
                     src->mask ? &o->mask : nullptr, src->alpha ? &o->alpha : nullptr);
  if (err) {
    FreeTextObjectData(o);
    MemFree(o);
    return err;
  }
  return AppendTextObject(L, o);
}

uint32_t TransformTextObject(VmState *L, bool rotate) {
  CheckArgCount(L, rotate ? 2 : 3, rotate ? 2 : 3);
  qmTextObject *o = nullptr;
  if (uint32_t err = FindTextObject(L, GetObjectIdArg(L, 1), &o)) return err;
  if (o->locked) return ERR_LOCKEDOBJ;
  if (rotate) {
    double angle = std::fmod(vm_checknumber(L, 2), 360.0);
    o->rotation = angle < 0 ? angle + 360.0 : angle;
  } else {
    int percent;
    int32_t w = ArgToInt32(L, 2, GetNumberOrPercentArg(L, 2, o->baseWidth, 1, &percent));
    int32_t h = ArgToInt32(L, 3, GetNumberOrPercentArg(L, 3, o->baseHeight, 1, &percent));
    if (uint32_t err = ApplyKeepAspect(o->baseWidth, o->baseHeight, &w, &h)) return err;
    o->targetWidth = w;
    o->targetHeight = h;
  }
  return RenderTextObject(o, LookupTagConstant, L);
}

uint32_t TxtRotateTextObject(VmState *L) { return TransformTextObject(L, true); }
uint32_t TxtScaleTextObject(VmState *L) { return TransformTextObject(L, false); }

uint32_t TxtTextExtent(VmState *L) {
  CheckArgCount(L, 1, 2);
  size_t length;
  const char *text = vm_checkstring(L, 1, &length);
  uint32_t err;
  int32_t encoding = EncodingArg(L, 2, &err);
  if (err) return err;
  qmTextExtent e{};
  if (length && (err = ComputeTextExtent(text, int32_t(length), encoding, &e, &GetTextState(L)->style))) return err;
  if (!length) e = {};
  vm_newtable(L);
  SetFieldInt(L, "minx", e.minX + e.left);
  SetFieldInt(L, "maxx", e.maxX + e.right);
  SetFieldInt(L, "miny", e.minY + e.top);
  SetFieldInt(L, "maxy", e.maxY + e.bottom);
  SetFieldInt(L, "width", e.width);
  SetFieldInt(L, "height", length ? e.height : 0);
  return 1;
}

uint32_t TxtOpenFont(VmState *L) {
  CheckArgCount(L, 3, 4);
  qmObjectId id = GetNewObjectIdArg(L, 1);
  if (!id.handle) {
    qmFontNode *old = nullptr;
    if (FindFontNode(L, id, &old) == 0) FreeFontNode(L, old);
  }
  qmFont *font = nullptr;
  if (uint32_t err = SelectFont(L, 2, &font)) return err;
  auto *node = static_cast<qmFontNode *>(MemAlloc(sizeof(qmFontNode), 1));
  if (!node) return ERR_MEM;
  SetObjectHeader(&node->header, QMTYPE_FONT, &id);
  node->font = font;
  if (uint32_t err = AddObject(L, &node->header)) {
    MemFree(node);
    return err;
  }
  PrintStatusMessage("done\n", nullptr, 0);
  if (!id.handle) return 0;
  vm_pushlightuserdata(L, reinterpret_cast<void *>(node->header.handle));
  return 1;
}

uint32_t TxtCloseFont(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmFontNode *node = nullptr;
  if (uint32_t err = FindFontNode(L, GetObjectIdArg(L, 1), &node)) return err;
  FreeFontNode(L, node);
  return 0;
}

uint32_t TxtUseFont(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmFontNode *node = nullptr;
  if (uint32_t err = FindFontNode(L, GetObjectIdArg(L, 1), &node)) return err;
  GetTextState(L)->style.font = node->font;
  GetTextState(L)->style.style = QM_STYLE_NORMAL;
  return 0;
}

uint32_t TxtGetAvailableFonts(VmState *L) {
  CheckArgCount(L, 0, 0);
  qmFontState *fonts = GetTextState(L)->fonts;
  FreeFontList(fonts);
  ScanFontFolders(fonts, 1);
  vm_newtable(L);
  int k = 0;
  for (const qmFontListEntry *e = GetFontList(fonts); e; e = e->next, k++) {
    vm_newtable(L);
    SetFieldString(L, "name", e->fullName);
    SetFieldString(L, "family", e->family);
    SetFieldInt(L, "bitmap", e->bitmap);
    SetFieldInt(L, "weight", e->weight);
    SetFieldInt(L, "slant", e->slant);
    vm_pushstring(L, "sizes");
    vm_newtable(L);
    for (int32_t s = 0; s < e->sizeCount; s++) {
      vm_pushnumber(L, e->sizes[s]);
      vm_rawseti(L, -2, s);
    }
    vm_settable(L, -3);
    vm_rawseti(L, -2, k);
  }
  FreeFontList(fonts);
  return 1;
}

uint32_t TxtFreeGlyphCache(VmState *L) {
  CheckArgCount(L, 1, 2);
  int32_t selector = vm_checkint32(L, 1);
  if (selector == 0) {
    FlushAllFontGlyphCaches(GetTextState(L)->fonts, nullptr);
    return 0;
  }
  qmFontNode *node = nullptr;
  if (uint32_t err = FindFontNode(L, GetObjectIdArg(L, 2), &node)) return err;
  FlushAllFontGlyphCaches(GetTextState(L)->fonts, node->font);
  return 0;
}

uint32_t TxtSetDefaultEncoding(VmState *L) {
  CheckArgCount(L, 1, 1);
  int32_t encoding = vm_checkint32(L, 1);
  if (encoding != 0 && encoding != 1) return ERR_WRONGUSAGE;
  GetTextState(L)->encoding = encoding;
  return 0;
}

uint32_t TxtAddFontPath(VmState *L) {
  CheckArgCount(L, 1, 1);
  const char *path = vm_checkstring(L, 1, nullptr);
  qmFontState *fonts = GetTextState(L)->fonts;
  for (const std::string &known : fonts->paths)
    if (Stricmp(known.c_str(), path) == 0) return 0;
  qmVirtualLock *lock = LockVirtualPath(path, 0);
  if (!lock) {
    SetErrorArgument(path);
    return ERR_LOCK2;
  }
  char full[1024];
  if (!GetVirtualLockName(lock, full, sizeof full)) CopyString(full, path, sizeof full);
  UnlockVirtualPath(lock);
  return AddFontPathEntry(fonts, full);
}

uint32_t TxtGetKerningPair(VmState *L) {
  CheckArgCount(L, 2, 3);
  size_t la, lb;
  const char *a = vm_checkstring(L, 1, &la);
  const char *b = vm_checkstring(L, 2, &lb);
  uint32_t err;
  int32_t encoding = EncodingArg(L, 3, &err);
  if (err) return err;
  int32_t kerning = 0;
  // Kerning needs exactly two characters: longer texts answer 0 without being joined.
  if (la && lb && la + lb <= size_t(kMaxJoinedKerningText)) {
    std::string joined = std::string(a, la) + std::string(b, lb);
    const qmTextStyle &style = GetTextState(L)->style;
    kerning = GetFontKerning(style.font, joined.data(), int32_t(joined.size()), style.style, encoding);
  }
  vm_pushnumber(L, kerning);
  return 1;
}

// InKeyStr: one line typed by the user, echoed at the cursor.

// Whether the filter (ALL, ALPHANUMERICAL, ALPHABETICAL, NUMERICAL, HEXNUMERICAL) takes the code.
bool AcceptsInput(int32_t filter, uint32_t c) {
  bool digit = c >= '0' && c <= '9';
  bool letter = IsAlphaChar(c) != 0;
  switch (filter) {
  case 0: return c == ' ' || IsGraphChar(c);
  case 1: return c == ' ' || digit || letter;
  case 2: return c == ' ' || letter;
  case 3: return digit;
  case 4: return digit || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  default: return false;
  }
}

// What each echoed character drew over: a full-width strip of the background copy around
// its line (the character may wrap onto the next line), and the cursor before it.
struct qmEchoSave {
  qmBitmap *strip;
  int32_t top;
  int32_t cursorX, cursorY;
  bool layer;  // with layers on the character became a PRINT layer: it is taken away instead
};

// Whether echoed characters become layers of their own, which the layers library can take away.
bool EchoesAsLayers(VmState *L, const qmDisplay *d) {
  const qmPlayerContext *ctx = GetPlayerContext(L);
  return d && d->layersOn && ctx && ctx->addTextLayer && ctx->removeLastLayer;
}

void RestoreEcho(VmState *L, qmDisplay *d, qmEchoSave &save) {
  if (save.layer) {
    GetPlayerContext(L)->removeLastLayer(GetScene(L), QM_TEXT_PRINT);
    save.layer = false;
  }
  if (save.strip) {
    qmSafeBlt b{};
    b.src = save.strip;
    b.dstY = save.top;
    b.width = b.srcWidth = save.strip->width;
    b.height = b.srcHeight = save.strip->height;
    b.dstWidth = b.dstHeight = 0x7FFFFFFF;
    b.flags = SAFEBLT_BACKGROUND | SAFEBLT_NOCLIP;
    SafeBlt(GetScene(L), &b);
    FreeBitmap(save.strip);
    save.strip = nullptr;
  }
  d->cursorX = save.cursorX;
  d->cursorY = save.cursorY;
}

uint32_t SaveEcho(VmState *L, qmDisplay *d, qmEchoSave *save) {
  const qmTextStyle *s = &GetTextState(L)->style;
  int32_t line = s->font ? s->font->height : 8;
  int32_t margin = line + s->edgeSize + s->shadowDistance;
  save->cursorX = d->cursorX;
  save->cursorY = d->cursorY;
  save->strip = nullptr;
  save->layer = false;
  qmBitmap *bg = d->backgroundCopy;
  if (!bg || EchoesAsLayers(L, d)) return 0;
  int32_t top = std::max(0, d->cursorY - margin), bottom = std::min(bg->height, d->cursorY + 2 * line + margin);
  save->top = top;
  if (bottom <= top) return 0;
  return CopyBitmap(bg, nullptr, nullptr, 0, top, bg->width, bottom - top, 0, &save->strip, nullptr, nullptr);
}

uint32_t TxtInKeyStr(VmState *L) {
  CheckArgCount(L, 1, 3);
  int32_t filter = vm_checkint32(L, 1);
  int32_t maxLength = vm_optint32(L, 2, 0);
  bool password = vm_optint32(L, 3, 0) != 0;
  if (maxLength <= 0 || maxLength > 1024) maxLength = 1024;
  qmDisplay *d = GetScene(L)->current;
  if (d && d->outputType != DISPOUT_DISPLAY) {
    if (d->doubleBuffer) return ERR_ENDDOUBLEBUFFER;
    switch (d->outputType) {
    case DISPOUT_ANIM: return ERR_SELECTANIM;
    case DISPOUT_MASK: return ERR_SELECTMASK;
    case DISPOUT_ALPHA: return ERR_SELECTALPHACHANNEL;
    case DISPOUT_BGPIC: return ERR_SELECTBG;
    default: return ERR_SELECTBRUSH;
    }
  }
  std::string typed;
  std::vector<qmEchoSave> echoes;
  auto undoEchoes = [&]() {
    while (!echoes.empty()) {
      if (d) RestoreEcho(L, d, echoes.back());
      echoes.pop_back();
    }
  };
  bool done = false;
  uint32_t err = 0;
  while (!done && !err) {
    if (GetPlayerContext(L)->pumpEvents && GetPlayerContext(L)->pumpEvents(L)) {
      err = ERR_USERABORT;
      break;
    }
    ExpireEvents();
    // Keys are collected under the queue's lock and handled after it: printing never holds it.
    std::vector<uint32_t> keys;
    LockEventQueue();
    qmQueuedEvent ev;
    for (uint32_t i = 0; PeekEvent(i, &ev, 0); i++)
      if (ev.type == EVENT_KEY && ev.keyDown) keys.push_back(ev.keyCode);
    RemoveEvents(kRemoveAllEvents, 0);
    UnlockEventQueue();
    for (uint32_t k : keys) {
      if (done || err) break;
      if (k == uint32_t(KEY_BACKSPACE)) {
        if (typed.empty()) continue;
        typed.pop_back();
        if (d) RestoreEcho(L, d, echoes.back());
        echoes.pop_back();
        continue;
      }
      if (k == uint32_t(KEY_ENTER) || k == uint32_t(KEY_RETURN)) {
        done = true;
        continue;
      }
      if (k == uint32_t(KEY_TAB) || k == uint32_t(KEY_SPACE)) k = ' ';
      if (k > 255 || int32_t(typed.size()) >= maxLength || !AcceptsInput(filter, k)) continue;
      qmEchoSave save{};
      if (d && (err = SaveEcho(L, d, &save))) break;
      try {
        echoes.push_back(save);
        typed += char(k);
      } catch (const std::bad_alloc &) {
        if (save.strip) FreeBitmap(save.strip);
        err = ERR_MEM;
        break;
      }
      err = PrintText(L, std::string(1, password ? '*' : char(k)), 1);
      if (!err && EchoesAsLayers(L, d)) echoes.back().layer = true;
      if (int32_t(typed.size()) >= 1024) done = true;
    }
    if (!done && !err) WaitPlatformEvent();
  }
  if (err) {
    undoEchoes();
    return err;
  }
  // The echoes go, and the whole input is printed once more where it began.
  undoEchoes();
  if (!typed.empty()) {
    if ((err = PrintText(L, password ? std::string(typed.size(), '*') : typed, 1))) return err;
  }
  vm_pushlstring(L, typed.data(), typed.size());
  return 1;
}

const qmCommandEntry kTextCommands[] = {
    {"SetFont", TxtSetFont},
    {"SetFontColor", TxtSetFontColor},
    {"TextHeight", TxtTextHeight},
    {"TextWidth", TxtTextWidth},
    {"ResetTabs", TxtResetTabs},
    {"AddTab", TxtAddTab},
    {"Locate", TxtLocate},
    {"SetMargins", TxtSetMargins},
    {"SetFontStyle", TxtSetFontStyle},
    {"Print", TxtPrint},
    {"NPrint", TxtNPrint},
    {"TextOut", TxtTextOut},
    {"CreateTextObject", TxtCreateTextObject},
    {"DisplayTextObject", TxtDisplayTextObject},
    {"TextExtent", TxtTextExtent},
    {"ScaleTextObject", TxtScaleTextObject},
    {"CopyTextObject", TxtCopyTextObject},
    {"RotateTextObject", TxtRotateTextObject},
    {"OpenFont", TxtOpenFont},
    {"CloseFont", TxtCloseFont},
    {"UseFont", TxtUseFont},
    {"GetAvailableFonts", TxtGetAvailableFonts},
    {"FreeGlyphCache", TxtFreeGlyphCache},
    {"SetDefaultEncoding", TxtSetDefaultEncoding},
    {"AddFontPath", TxtAddFontPath},
    {"GetKerningPair", TxtGetKerningPair},
    {"InKeyStr", TxtInKeyStr},
    {"FreeTextObject", TxtFreeTextObject},
    {nullptr, nullptr},
};

const qmConstantEntry kTextConstants[] = {
    {"NORMAL", nullptr, 1},
    {"BOLD", nullptr, 2},
    {"ITALIC", nullptr, 4},
    {"UNDERLINED", nullptr, 8},
    {"ALL", nullptr, 0},
    {"ALPHANUMERICAL", nullptr, 1},
    {"NUMERICAL", nullptr, 3},
    {"ALPHABETICAL", nullptr, 2},
    {"HEXNUMERICAL", nullptr, 4},
    {"ANTIALIAS", nullptr, 16},
    {"SHADOW", nullptr, 32},
    {"EDGE", nullptr, 64},
    {"SHDWNORTH", nullptr, 0},
    {"SHDWNORTHEAST", nullptr, 1},
    {"SHDWEAST", nullptr, 2},
    {"SHDWSOUTHEAST", nullptr, 3},
    {"SHDWSOUTH", nullptr, 4},
    {"SHDWSOUTHWEST", nullptr, 5},
    {"SHDWWEST", nullptr, 6},
    {"SHDWNORTHWEST", nullptr, 7},
    {"BITMAP_DEFAULT", ":::default_bitmap", 0},
    {"TRUETYPE_DEFAULT", ":::default_truetype", 0},
    {"SANS", ":::default_sans", 0},
    {"SERIF", ":::default_serif", 0},
    {"MONOSPACE", ":::default_mono", 0},
    {"FONTENGINE_NATIVE", nullptr, 0},
    {"FONTENGINE_INBUILT", nullptr, 4},
    {"FONTWEIGHT_THIN", nullptr, 0},
    {"FONTWEIGHT_EXTRALIGHT", nullptr, 40},
    {"FONTWEIGHT_ULTRALIGHT", nullptr, 40},
    {"FONTWEIGHT_LIGHT", nullptr, 50},
    {"FONTWEIGHT_BOOK", nullptr, 75},
    {"FONTWEIGHT_NORMAL", nullptr, 80},
    {"FONTWEIGHT_REGULAR", nullptr, 80},
    {"FONTWEIGHT_MEDIUM", nullptr, 100},
    {"FONTWEIGHT_SEMIBOLD", nullptr, 180},
    {"FONTWEIGHT_DEMIBOLD", nullptr, 180},
    {"FONTWEIGHT_BOLD", nullptr, 200},
    {"FONTWEIGHT_EXTRABOLD", nullptr, 205},
    {"FONTWEIGHT_ULTRABOLD", nullptr, 205},
    {"FONTWEIGHT_HEAVY", nullptr, 210},
    {"FONTWEIGHT_BLACK", nullptr, 210},
    {"FONTWEIGHT_EXTRABLACK", nullptr, 215},
    {"FONTWEIGHT_ULTRABLACK", nullptr, 215},
    {"FONTSLANT_ROMAN", nullptr, 0},
    {"FONTSLANT_ITALIC", nullptr, 100},
    {"FONTSLANT_OBLIQUE", nullptr, 110},
    {"ENCODING_ISO8859_1", nullptr, 0},
    {"ENCODING_UTF8", nullptr, 1},
    {nullptr, nullptr, 0},
};

}  // namespace

uint32_t TextObjectPicture(const qmScene *scene, const qmObjectId *id, const qmBitmap **bitmap,
                           const qmMask **mask, const qmAlphaChannel **alpha, int32_t *width, int32_t *height) {
  qmTextObject *o = nullptr;
  if (uint32_t err = FindTextObject(ObjectRegistryOwner(scene->objects), *id, &o)) return err;
  *bitmap = o->bitmap, *mask = o->mask, *alpha = o->alpha;
  *width = o->width, *height = o->height;
  return 0;
}

uint32_t TextObjectOffset(const qmScene *scene, const qmObjectId *id, int32_t *x, int32_t *y) {
  qmTextObject *o = nullptr;
  if (uint32_t err = FindTextObject(ObjectRegistryOwner(scene->objects), *id, &o)) return err;
  *x = o->xOffset, *y = o->yOffset;
  return 0;
}

uint32_t TextObjectLock(const qmScene *scene, const qmObjectId *id, uint32_t **lock) {
  qmTextObject *o = nullptr;
  if (uint32_t err = FindTextObject(ObjectRegistryOwner(scene->objects), *id, &o)) return err;
  *lock = &o->locked;
  return 0;
}

// GetAttribute of a font object (its font's attributes), a text object (its picture's size, its
// text and its font's attributes) or a display (the current font's attributes).
uint32_t TextReadAttribute(VmState *L, uint32_t type, int32_t attribute) {
  if (type == QMTYPE_DISPLAY) return PushFontAttribute(L, GetTextState(L)->style.font, attribute);
  qmObjectId id = GetObjectIdArg(L, 2);
  if (type == QMTYPE_FONT) {
    qmFontNode *node = nullptr;
    if (uint32_t err = FindFontNode(L, id, &node)) return err;
    return PushFontAttribute(L, node->font, attribute);
  }
  qmTextObject *o = nullptr;
  if (uint32_t err = FindTextObject(L, id, &o)) return err;
  switch (attribute) {
  case ATTRWIDTH: vm_pushnumber(L, o->width); return 1;
  case ATTRHEIGHT: vm_pushnumber(L, o->height); return 1;
  case ATTRTEXT: vm_pushstring(L, o->request.text ? o->request.text : ""); return 1;
  default: return PushFontAttribute(L, o->request.style.font, attribute);
  }
}

// InsertLayer of a text object: its picture as a TEXTOBJECT layer at the position, placed
// like DisplayTextObject without tags places it.
uint32_t TextInsertObjectLayer(qmScene *scene, const qmObjectId *id, int32_t x, int32_t y, int32_t position,
                               int32_t hidden) {
  VmState *L = ObjectRegistryOwner(scene->objects);
  qmTextObject *o = nullptr;
  if (uint32_t err = FindTextObject(L, *id, &o)) return err;
  x = ResolvePositionX(scene, x, o->width, 0, 0);
  y = ResolvePositionY(scene, y, o->height, 0, 0);
  return ShowTextObjectLayer(L, o, x, y, nullptr, nullptr, position,
                             IMGCORE_INSERT | (hidden ? uint32_t(IMGCORE_HIDDEN) : 0u));
}

// The script's constants for the formatting tags of a text layer redrawn by the layer engine.
uint32_t TextTagConstant(void *scene, const char *text, size_t *consumed, double *number) {
  return LookupTagConstant(ObjectRegistryOwner(static_cast<qmScene *>(scene)->objects), text, consumed, number);
}

namespace {

uint32_t InitTextLibrary(VmState *L) {
  qmScene *scene = GetScene(L);
  if (!scene || scene->text) return 0;
  return NewTextState(&scene->text);
}

void FreeTextLibrary(VmState *L) {
  while (qmObjectHeader *h = FirstObject(L, QMTYPE_TEXTOBJECT))
    FreeTextObjectRecord(L, reinterpret_cast<qmTextObject *>(h));
  while (qmObjectHeader *h = FirstObject(L, QMTYPE_FONT)) FreeFontNode(L, reinterpret_cast<qmFontNode *>(h));
  if (qmScene *scene = GetScene(L)) {
    FreeTextState(scene->text);
    scene->text = nullptr;
  }
}

}  // namespace

const qmLibrary kTextLibrary = {"text", kTextCommands, kTextConstants, InitTextLibrary, FreeTextLibrary,
                                FREERANK_TEXT};
