// The vectorgraphics library's commands: paths built command by command, copied, measured,
// moved and drawn. Building needs nothing more; measuring, moving and drawing ask the vector
// plug-in (graphics/vector_requests.h) that the player found.
#include "graphics/vectorgraphics/lib_vectorgraphics.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "display/brush.h"
#include "display/display.h"
#include "display/displaytags.h"
#include "display/drawoutput.h"
#include "display/filters.h"
#include "display/imagecore.h"
#include "display/position.h"
#include "display/safeblt.h"
#include "display/scene.h"
#include "graphics/draw_style.h"
#include "graphics/shape_geometry.h"
#include "graphics/transform.h"
#include "graphics/vectorpath.h"
#include "graphics/vectorrender.h"
#include "platform/memory.h"
#include "runtime/bindings/displaytags_reader.h"
#include "runtime/cmdargs.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/objdata.h"
#include "runtime/objlist.h"
#include "runtime/objtypes.h"
#include "runtime/vm/vm_api.h"
#include "text/font.h"
#include "text/freetype_font.h"

namespace {

enum : int32_t { ENCODING_ISO8859_1 = 0, ENCODING_UTF8 = 1 };

qmVectorState *StateOf(VmState *L) {
  qmScene *scene = GetScene(L);
  return scene ? scene->vector : nullptr;
}

// 0 with the plug-in's entries, or ERR_VECGFXPLUGIN (also in a VM without the player's scene).
uint32_t FindEngine(VmState *L, qmVectorEngine *engine) {
  const qmPlayerContext *ctx = GetPlayerContext(L);
  if (StateOf(L) && ctx && ctx->findVectorEngine && ctx->findVectorEngine(engine)) return 0;
  return ERR_VECGFXPLUGIN;
}

// The stroke settings the setters change: 0, or ERR_WRONGUSAGE in a VM without the player's scene.
uint32_t SettingsOf(VmState *L, qmVectorState **out) {
  *out = StateOf(L);
  return *out ? 0u : uint32_t(ERR_WRONGUSAGE);
}

uint32_t GetPathArg(VmState *L, int i, qmPath **out, qmObjectId *id = nullptr) {
  return GetObjectArg(L, i, QMTYPE_VECTORPATH, ERR_FINDPATH, out, id);
}

void FreePath(VmState *L, qmPath *path) {
  RemoveObject(L, &path->header);
  FreeObjectDataList(L, static_cast<qmObjectData *>(path->header.userData));
  FreePathRecord(path);
}

// A new empty path under the id, after the one that had that number: 0 or ERR_MEM.
uint32_t CreatePath(VmState *L, const qmObjectId *id, qmPath **out) {
  if (!id->handle)
    if (qmObjectHeader *old = FindObject(L, QMTYPE_VECTORPATH, id)) FreePath(L, reinterpret_cast<qmPath *>(old));
  qmPath *path;
  if (uint32_t code = NewPath(&path)) return code;
  SetObjectHeader(&path->header, QMTYPE_VECTORPATH, id);
  if (uint32_t code = AddObject(L, &path->header)) {
    FreePathRecord(path);
    return code;
  }
  *out = path;
  return 0;
}

qmPathOperand Word(uint32_t w) { return {PATHARG_WORD, w, 0, nullptr}; }
qmPathOperand Number(double d) { return {PATHARG_DOUBLE, 0, d, nullptr}; }
qmPathOperand Text(const char *t) { return {PATHARG_STRING, 0, 0, t}; }

uint32_t Append(VmState *L, uint32_t opcode, const std::vector<qmPathOperand> &ops) {
  qmPath *path;
  if (uint32_t code = GetPathArg(L, 1, &path)) return code;
  return AppendPathCommand(path, opcode, int32_t(ops.size()), ops.data());
}

// count number arguments from first on into out: 0, or ERR_WRONGUSAGE when one is not finite
// (no coordinate, angle, size or dash length of a path can be NaN or infinite).
uint32_t GetFiniteArgs(VmState *L, int first, int count, double *out) {
  for (int i = 0; i < count; i++) out[i] = vm_checknumber(L, first + i);
  for (int i = 0; i < count; i++)
    if (!std::isfinite(out[i])) return ERR_WRONGUSAGE;
  return 0;
}

// MoveTo and its kin: id, then count numbers.
uint32_t AppendPoints(VmState *L, uint32_t opcode, uint32_t relative, int count) {
  CheckArgCount(L, 1 + count, 1 + count);
  double v[6];
  if (uint32_t code = GetFiniteArgs(L, 2, count, v)) return code;
  std::vector<qmPathOperand> ops{Word(relative)};
  for (int i = 0; i < count; i++) ops.push_back(Number(v[i]));
  return Append(L, opcode, ops);
}

// v: centre x, y, radii x, y, start and end angles.
uint32_t AppendArc(VmState *L, const double v[6], int32_t clockwise) {
  return Append(L, PATHOP_ARC, {Number(v[0]), Number(v[1]), Number(v[2]), Number(v[3]), Number(v[4]), Number(v[5]),
                                Word(uint32_t(clockwise))});
}

qmVectorStyle MeasureStyle(VmState *L) { return VectorStyleOf(StateOf(L), 0); }

// The plug-in's extents, which the script is handed or moves the path by: false unless every
// one is a number.
bool FiniteExtents(const qmPathExtentsRequest &e) {
  return std::isfinite(e.x1) && std::isfinite(e.y1) && std::isfinite(e.x2) && std::isfinite(e.y2);
}

// ---- Building paths -------------------------------------------------------------------------

uint32_t VecMoveTo(VmState *L) { return AppendPoints(L, PATHOP_MOVE, 0, 2); }
uint32_t VecLineTo(VmState *L) { return AppendPoints(L, PATHOP_LINE, 0, 2); }
uint32_t VecCurveTo(VmState *L) { return AppendPoints(L, PATHOP_CURVE, 0, 6); }
uint32_t VecRelMoveTo(VmState *L) { return AppendPoints(L, PATHOP_MOVE, 1, 2); }
uint32_t VecRelLineTo(VmState *L) { return AppendPoints(L, PATHOP_LINE, 1, 2); }
uint32_t VecRelCurveTo(VmState *L) { return AppendPoints(L, PATHOP_CURVE, 1, 6); }

uint32_t VecStartSubPath(VmState *L) {
  CheckArgCount(L, 1, 1);
  return Append(L, PATHOP_SUBPATH, {});
}

uint32_t VecClosePath(VmState *L) {
  CheckArgCount(L, 1, 1);
  return Append(L, PATHOP_CLOSE, {});
}

uint32_t VecAddArcToPath(VmState *L) {
  CheckArgCount(L, 7, 8);
  double v[6];
  const uint32_t code = GetFiniteArgs(L, 2, 6, v);
  const int32_t clockwise = vm_optint32(L, 8, 1);
  if (code) return code;
  return AppendArc(L, v, clockwise);
}

uint32_t VecAddCircleToPath(VmState *L) {
  CheckArgCount(L, 4, 4);
  double v[6] = {0, 0, 0, 0, 0, 360};
  if (uint32_t code = GetFiniteArgs(L, 2, 3, v)) return code;
  v[3] = v[2];
  return AppendArc(L, v, 1);
}

uint32_t VecAddEllipseToPath(VmState *L) {
  CheckArgCount(L, 5, 5);
  double v[6] = {0, 0, 0, 0, 0, 360};
  if (uint32_t code = GetFiniteArgs(L, 2, 4, v)) return code;
  return AppendArc(L, v, 1);
}

uint32_t VecAddBoxToPath(VmState *L) {
  CheckArgCount(L, 5, 6);
  double v[4];
  const uint32_t finite = GetFiniteArgs(L, 2, 4, v);
  int32_t corners[4] = {0, 0, 0, 0};
  if (!vm_isnoneornil(L, 6)) {
    vm_checktable(L, 6);
    int32_t level;
    int found;
    if (GetFieldInt(L, 6, "roundlevel", &level, &found)) corners[0] = corners[1] = corners[2] = corners[3] = level;
    const char *keys[4] = {"cornera", "cornerb", "cornerc", "cornerd"};
    for (int i = 0; i < 4; i++) GetFieldInt(L, 6, keys[i], &corners[i], &found);
  }
  if (finite) return finite;
  ClampBoxCorners(corners);
  std::vector<qmPathOperand> ops;
  for (double d : v) ops.push_back(Number(d));
  for (int32_t c : corners) ops.push_back(Word(uint32_t(c)));
  return Append(L, PATHOP_BOX, ops);
}

// ISO-8859-1 bytes as UTF-8.
std::string Latin1ToUtf8(const char *text, size_t len) {
  std::string out;
  out.reserve(len * 2);
  for (size_t i = 0; i < len; i++) {
    const auto c = uint8_t(text[i]);
    if (c < 0x80) {
      out.push_back(char(c));
    } else {
      out.push_back(char(0xC0 | (c >> 6)));
      out.push_back(char(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

uint32_t VecAddTextToPath(VmState *L) {
  CheckArgCount(L, 2, 3);
  size_t len;
  const char *text = vm_checkstring(L, 2, &len);
  const qmPlayerContext *ctx = GetPlayerContext(L);
  int32_t encoding = ctx && ctx->defaultEncoding ? ctx->defaultEncoding(L) : ENCODING_ISO8859_1;
  if (!vm_isnoneornil(L, 3)) {
    vm_checktable(L, 3);
    int found;
    GetFieldInt(L, 3, "encoding", &encoding, &found);
  }
  qmVectorEngine engine;
  if (uint32_t code = FindEngine(L, &engine)) return code;
  std::string utf8;
  if (encoding == ENCODING_ISO8859_1) utf8 = Latin1ToUtf8(text, len);
  else if (encoding == ENCODING_UTF8) utf8.assign(text, std::strlen(text));
  else return ERR_WRONGUSAGE;
  qmFont *font = ctx && ctx->currentFont ? ctx->currentFont(L) : nullptr;
  if (!font || font->engineType != FONTENGINE_INBUILT) return ERR_VFONTTYPE;
  if (!font->vectorFont) {
    void *face = GetFontFace(font);
    font->vectorFont = face ? engine.createVectorFont(face) : nullptr;
    if (!font->vectorFont) return ERR_VFONT;
  }
  // The handle travels as a word of the stream: the plug-in hands out small numbers.
  return Append(L, PATHOP_TEXT,
                {Word(uint32_t(reinterpret_cast<uintptr_t>(font->vectorFont))), Word(uint32_t(font->size)),
                 Text(utf8.c_str())});
}

// ---- Path objects ---------------------------------------------------------------------------

uint32_t VecStartPath(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmObjectId id = GetNewObjectIdArg(L, 1);
  qmPath *path;
  if (uint32_t code = CreatePath(L, &id, &path)) return code;
  return PushNewId(L, {path->header.id, path->header.handle});
}

uint32_t VecFreePath(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmPath *path;
  if (uint32_t code = GetPathArg(L, 1, &path)) return code;
  FreePath(L, path);
  return 0;
}

uint32_t VecClearPath(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmPath *path;
  if (uint32_t code = GetPathArg(L, 1, &path)) return code;
  ClearPathCommands(path);
  return 0;
}

uint32_t VecIsPathEmpty(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmPath *path;
  if (uint32_t code = GetPathArg(L, 1, &path)) return code;
  vm_pushnumber(L, PathIsEmpty(path) ? 1 : 0);
  return 1;
}

uint32_t VecCopyPath(VmState *L) {
  CheckArgCount(L, 2, 2);
  qmPath *src;
  qmObjectId srcId;
  if (uint32_t code = GetPathArg(L, 1, &src, &srcId)) return code;
  qmObjectId id = GetNewObjectIdArg(L, 2);
  if (!id.handle && !src->header.handle && id.id == src->header.id) return ERR_WRONGUSAGE;
  qmPath copy{};
  if (uint32_t code = CopyPathCommands(src, &copy)) return code;
  qmPath *path;
  if (uint32_t code = CreatePath(L, &id, &path)) {
    ClearPathCommands(&copy);
    return code;
  }
  path->commands = copy.commands, path->end = copy.end, path->capacity = copy.capacity;
  return PushNewId(L, {path->header.id, path->header.handle});
}

uint32_t VecAppendPath(VmState *L) {
  CheckArgCount(L, 2, 2);
  qmPath *a, *b;
  if (uint32_t code = GetPathArg(L, 1, &a)) return code;
  if (uint32_t code = GetPathArg(L, 2, &b)) return code;
  if (a == b) return ERR_WRONGUSAGE;
  return AppendPathCommands(a, b);
}

// ---- Geometry through the plug-in ------------------------------------------------------------

uint32_t VecTranslatePath(VmState *L) {
  CheckArgCount(L, 3, 3);
  qmPath *path;
  if (uint32_t code = GetPathArg(L, 1, &path)) return code;
  double d[2];
  if (uint32_t code = GetFiniteArgs(L, 2, 2, d)) return code;
  const double dx = d[0], dy = d[1];
  if ((dx == 0 && dy == 0) || PathIsEmpty(path)) return 0;
  qmVectorEngine engine;
  if (uint32_t code = FindEngine(L, &engine)) return code;
  qmTranslatePathRequest q{path->commands, dx, dy};
  return engine.translatePath(&q) ? 0u : uint32_t(ERR_DRAWPATH);
}

uint32_t VecNormalizePath(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmVectorEngine engine;
  if (uint32_t code = FindEngine(L, &engine)) return code;
  qmPath *path;
  if (uint32_t code = GetPathArg(L, 1, &path)) return code;
  if (PathIsEmpty(path)) return 0;
  const qmVectorStyle style = MeasureStyle(L);
  qmPathExtentsRequest e{};
  e.commands = path->commands, e.style = &style, e.fill = 1, e.lineWidth = 1;
  if (!engine.getPathExtents(&e) || !FiniteExtents(e)) return ERR_DRAWPATH;
  qmTranslatePathRequest q{path->commands, -e.x1, -e.y1};
  return engine.translatePath(&q) ? 0u : uint32_t(ERR_DRAWPATH);
}

uint32_t VecGetCurrentPoint(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmVectorEngine engine;
  if (uint32_t code = FindEngine(L, &engine)) return code;
  qmPath *path;
  if (uint32_t code = GetPathArg(L, 1, &path)) return code;
  double x = 0, y = 0;
  const qmVectorStyle style = MeasureStyle(L);
  if (!PathIsEmpty(path) && !engine.getCurrentPoint(path->commands, &style, &x, &y)) return ERR_DRAWPATH;
  if (!std::isfinite(x) || !std::isfinite(y)) return ERR_DRAWPATH;
  vm_pushnumber(L, x);
  vm_pushnumber(L, y);
  return 2;
}

uint32_t VecGetPathExtents(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmVectorEngine engine;
  if (uint32_t code = FindEngine(L, &engine)) return code;
  qmPath *path;
  if (uint32_t code = GetPathArg(L, 1, &path)) return code;
  double box[4] = {0, 0, 0, 0};
  if (!PathIsEmpty(path)) {
    const qmDrawStyle *ds = &GetScene(L)->drawStyle;
    const qmVectorStyle style = MeasureStyle(L);
    qmPathExtentsRequest e{};
    e.commands = path->commands, e.style = &style;
    e.fill = ds->fillStyle != DRAWFILL_NONE ? 1 : 0;
    e.lineWidth = ds->lineWidth;
    if (!engine.getPathExtents(&e) || !FiniteExtents(e)) return ERR_DRAWPATH;
    box[0] = e.x1, box[1] = e.y1, box[2] = e.x2, box[3] = e.y2;
  }
  for (double d : box) vm_pushnumber(L, d);
  return 4;
}

// ---- Drawing --------------------------------------------------------------------------------

// The texture brush of a texture fill, or null when there is none (the colour fills then).
const qmBitmap *TextureOf(VmState *L, const qmDrawStyle &style) {
  if (style.fillStyle != DRAWFILL_TEXTURE) return nullptr;
  qmObjectId id = style.texture;
  qmBrush *brush = nullptr;
  return FindBrush(ObjectRegistryOf(L), &id, &brush, 0) == 0 ? brush->bitmap : nullptr;
}

// Positions are kept within +-2^30: a picture that far out lies off every output, and its corner
// plus its size, or less an anchor's share, cannot overflow.
constexpr int32_t kFarPosition = 1 << 30;

int32_t NearPosition(double v) {
  return std::isnan(v) ? 0 : int32_t(std::clamp(v, double(-kFarPosition), double(kFarPosition)));
}

// The anchor's share of a side in whole pixels (0 for an anchor that is no number).
int32_t AnchorShare(int32_t side, double anchor) { return NearPosition(std::trunc(double(side) * anchor)); }

// The picture of the commands at (x, y) (the position constants allowed), placed and turned by
// the tags' transform, with their transparency and filters, into the current output or as a
// layer (which turns its upright picture itself).
uint32_t DrawPathCommands(VmState *L, const qmVectorEngine &engine, const qmPath *path, int32_t x, int32_t y,
                          uint32_t color, const qmTransform &transform, const qmDisplayTags &givenTags) {
  const uint8_t *commands = path->commands;
  qmScene *scene = GetScene(L);
  if (!commands) return ERR_EMPTYPATH;
  qmDrawOutput o;
  if (uint32_t code = GetDrawOutput(scene, &o)) return code;
  qmDrawStyle style = GetScene(L)->drawStyle;
  ValidateDrawStyle(&style);
  const qmPlayerContext *ctx = GetPlayerContext(L);
  const bool toLayer = LayersTakeOutput(o.display) && ctx && ctx->addImageLayer;
  double m[4];
  SnapMatrixNoise(transform.matrix, m);
  const double ax = transform.anchorX, ay = transform.anchorY;
  const qmPathPicture p{&engine, commands, StateOf(L), &style, color, TextureOf(L, style), toLayer ? nullptr : m,
                        ax, ay};
  qmShapeImage img;
  qmPathBox box;
  if (uint32_t code = RenderPathPicture(&p, &img, &box)) return code;
  const int32_t w = img.bitmap->width, h = img.bitmap->height;
  const int32_t rx = NearPosition(ResolvePositionX(scene, NearPosition(x), box.width, 0, ax));
  const int32_t ry = NearPosition(ResolvePositionY(scene, NearPosition(y), box.height, 0, ay));
  // The path's upright box lands on the position less the anchor's share.
  img.x = NearPosition(double(rx) - AnchorShare(box.width, ax) - box.x);
  img.y = NearPosition(double(ry) - AnchorShare(box.height, ay) - box.y);
  qmDisplayTags tags = givenTags;  // a layer writes a clamped insert position back
  if (toLayer) {
    // The planes go to the layer, which frees them also when it is refused.
    qmImageLayer layer{};
    layer.kind = QMTYPE_VECTORPATH;
    layer.bitmap = img.bitmap, layer.alpha = img.alpha;
    layer.requestedX = rx, layer.requestedY = ry;
    layer.objectWidth = box.width, layer.objectHeight = box.height;
    layer.x = img.x, layer.y = img.y, layer.width = w, layer.height = h;
    if (!IsIdentityMatrix(m)) layer.transform = &transform;
    layer.tags = &tags;
    layer.position = -1;
    // The layer draws the path again when it is turned or scaled.
    const qmPathLayerData data{path->commands, uint32_t(PathCommandBytes(path) + 4), *StateOf(L), style, color,
                               ctx->findVectorEngine};
    layer.path = &data;
    if (uint32_t code = ctx->addImageLayer(scene, &layer)) return code;
    if (o.display->outputType == DISPOUT_DISPLAY)
      RefreshDisplayRect(scene, img.x, img.y, o.display, img.x, img.y, w, h);
    return 0;
  }
  ApplyDisplayTagEffects(&tags, img.bitmap, &img.mask, &img.alpha, w, h);
  BlitShapeImage(scene, o, img);
  FreeShapeImage(&img);
  return 0;
}

// DrawPath(id, x, y [, colour [, tags]]).
uint32_t VecDrawPath(VmState *L) {
  CheckArgCount(L, 3, 5);
  qmVectorEngine engine;
  if (uint32_t code = FindEngine(L, &engine)) return code;
  qmPath *path;
  if (uint32_t code = GetPathArg(L, 1, &path)) return code;
  const int32_t x = vm_checkint32(L, 2), y = vm_checkint32(L, 3);
  const uint32_t color = vm_optinteger(L, 4, 0);
  if (PathIsEmpty(path)) return ERR_EMPTYPATH;
  // The tags are read for the size of the path's picture.
  qmDrawStyle style = GetScene(L)->drawStyle;
  ValidateDrawStyle(&style);
  const qmPathPicture p{&engine, path->commands, StateOf(L), &style, color, nullptr, nullptr, 0, 0};
  double box[4];
  if (uint32_t code = MeasurePath(&p, box)) return code;
  // Whole pixels, at most the largest picture; nothing (or no number) reads as 0.
  auto side = [](double extent) { return extent > 0 ? int32_t(std::fmin(extent + 0.5, QM_MAX_PICTURE_SIDE)) : 0; };
  const int32_t w = side(box[2] - box[0]), h = side(box[3] - box[1]);
  qmTransform t;
  qmDisplayTags tags;
  if (uint32_t code =
          ParseDisplayTags(L, GetScene(L), vm_gettop(L) >= 5 ? 5 : 0, w, h, 0, 0, 0, &t, &tags, DTAG_INIT))
    return code;
  return DrawPathCommands(L, engine, path, x, y, color, t, tags);
}

// The draw library's shapes while ForcePathUse is on: the shape as a path of an automatic id,
// ended by a close, drawn at the shape's position and then freed again.
uint32_t DrawShapeAsPath(VmState *L, const qmShapeRequest *req, const qmDisplayTags *tags) {
  qmVectorEngine engine;
  if (uint32_t code = FindEngine(L, &engine)) return code;
  const qmObjectId automatic{0, 1};
  qmPath *path;
  if (uint32_t code = CreatePath(L, &automatic, &path)) return code;
  auto add = [&](uint32_t op, const std::vector<qmPathOperand> &ops) {
    // The shape's numbers are the script's too: none reaches the plug-in as NaN or infinite.
    for (const qmPathOperand &o : ops)
      if (o.kind == PATHARG_DOUBLE && !std::isfinite(o.number)) return uint32_t(ERR_WRONGUSAGE);
    return AppendPathCommand(path, op, int32_t(ops.size()), ops.data());
  };
  const double rx = req->radiusX, ry = req->radiusY;
  uint32_t code = 0;
  switch (req->type) {
  case QMTYPE_BOX: {
    std::vector<qmPathOperand> ops{Number(0), Number(0), Number(req->width), Number(req->height)};
    int32_t corners[4] = {req->corners[0], req->corners[1], req->corners[2], req->corners[3]};
    ClampBoxCorners(corners);
    for (int32_t c : corners) ops.push_back(Word(uint32_t(c)));
    code = add(PATHOP_BOX, ops);
    break;
  }
  case QMTYPE_CIRCLE:
  case QMTYPE_ELLIPSE:
    code = add(PATHOP_ARC, {Number(rx), Number(ry), Number(rx), Number(ry), Number(0), Number(360), Word(1)});
    break;
  case QMTYPE_POLYGON:
    for (int32_t i = 0; i < req->pointCount && !code; i++)
      code = add(i ? PATHOP_LINE : PATHOP_MOVE, {Word(0), Number(req->points[2 * i]), Number(req->points[2 * i + 1])});
    break;
  case QMTYPE_ARC:
    code = add(PATHOP_MOVE, {Word(0), Number(rx), Number(ry)});
    if (!code)
      code = add(PATHOP_ARC, {Number(rx), Number(ry), Number(rx), Number(ry), Number(req->startAngle),
                              Number(req->endAngle), Word(uint32_t(req->clockwise))});
    break;
  default: break;
  }
  if (!code) code = add(PATHOP_CLOSE, {});
  if (!code) {
    // The shape's turn and anchor, as its tags gave them.
    qmTransform t;
    CopyDefaultTransform(GetScene(L), &t);
    std::copy(req->matrix, req->matrix + 4, t.matrix);
    std::copy(req->matrix, req->matrix + 4, t.userMatrix);
    t.userMatrixSet = !IsIdentityMatrix(req->matrix);
    t.anchorX = req->anchorX, t.anchorY = req->anchorY;
    code = DrawPathCommands(L, engine, path, req->x, req->y, req->color, t, *tags);
  }
  FreePath(L, path);
  return code;
}

// ---- Stroke settings ------------------------------------------------------------------------

// The stroke settings that take one whole number: SetLineJoin, SetLineCap, SetFillRule and
// ForcePathUse (join, cap and rule are clamped where a path is drawn).
uint32_t SetSettingsWord(VmState *L, int32_t qmVectorState::*field) {
  CheckArgCount(L, 1, 1);
  const int32_t value = vm_checkint32(L, 1);
  qmVectorState *s;
  if (uint32_t code = SettingsOf(L, &s)) return code;
  s->*field = value;
  return 0;
}

uint32_t VecSetLineJoin(VmState *L) { return SetSettingsWord(L, &qmVectorState::join); }

uint32_t VecSetLineCap(VmState *L) { return SetSettingsWord(L, &qmVectorState::cap); }

uint32_t VecSetFillRule(VmState *L) { return SetSettingsWord(L, &qmVectorState::fillRule); }

// SetDash(offset, length1 [, length2 ...]): a negative first length turns dashing off; a list
// with a negative length elsewhere, or with no length above 0, is refused and the old one kept.
uint32_t VecSetDash(VmState *L) {
  CheckArgCount(L, 2, VM_ANYARGS);
  const int n = vm_gettop(L);
  std::vector<double> lengths(size_t(n - 1));
  double offset;
  const uint32_t finite = GetFiniteArgs(L, 1, 1, &offset) | GetFiniteArgs(L, 2, n - 1, lengths.data());
  qmVectorState *s;
  if (uint32_t code = SettingsOf(L, &s)) return code;
  if (finite) return ERR_WRONGUSAGE;
  if (lengths[0] < 0) {
    MemFree(s->dashes);
    s->dashes = nullptr, s->dashCount = 0, s->dashOffset = 0;
    return 0;
  }
  if (uint32_t code = CheckDashes(lengths.data(), uint32_t(lengths.size()))) return code;
  auto *dashes = static_cast<double *>(MemAlloc(uint32_t(lengths.size() * sizeof(double)), 0));
  if (!dashes) return ERR_MEM;
  std::memcpy(dashes, lengths.data(), lengths.size() * sizeof(double));
  MemFree(s->dashes);
  s->dashes = dashes, s->dashCount = uint32_t(lengths.size()), s->dashOffset = offset;
  return 0;
}

uint32_t VecForcePathUse(VmState *L) { return SetSettingsWord(L, &qmVectorState::forcePathUse); }

// ---- Library --------------------------------------------------------------------------------

}  // namespace

uint32_t VectorDrawShapeAsPath(VmState *L, const qmShapeRequest *req, const qmDisplayTags *tags) {
  return DrawShapeAsPath(L, req, tags);
}

namespace {

uint32_t InitVectorGraphicsLibrary(VmState *L) {
  qmScene *scene = GetScene(L);
  if (!scene || scene->vector) return 0;
  scene->vector = static_cast<qmVectorState *>(MemAlloc(sizeof(qmVectorState), 1));
  return scene->vector ? 0u : uint32_t(ERR_MEM);
}

void FreeVectorGraphicsLibrary(VmState *L) {
  while (qmObjectHeader *h = FirstObject(L, QMTYPE_VECTORPATH)) FreePath(L, reinterpret_cast<qmPath *>(h));
  qmScene *scene = GetScene(L);
  if (!scene || !scene->vector) return;
  ResetVectorState(scene->vector);
  MemFree(scene->vector);
  scene->vector = nullptr;
}

const qmCommandEntry kCommands[] = {
    {"MoveTo", VecMoveTo},
    {"LineTo", VecLineTo},
    {"CurveTo", VecCurveTo},
    {"RelMoveTo", VecRelMoveTo},
    {"RelLineTo", VecRelLineTo},
    {"RelCurveTo", VecRelCurveTo},
    {"DrawPath", VecDrawPath},
    {"StartPath", VecStartPath},
    {"StartSubPath", VecStartSubPath},
    {"ClosePath", VecClosePath},
    {"AddArcToPath", VecAddArcToPath},
    {"AddCircleToPath", VecAddCircleToPath},
    {"AddEllipseToPath", VecAddEllipseToPath},
    {"AddBoxToPath", VecAddBoxToPath},
    {"SetLineJoin", VecSetLineJoin},
    {"SetLineCap", VecSetLineCap},
    {"SetDash", VecSetDash},
    {"SetFillRule", VecSetFillRule},
    {"FreePath", VecFreePath},
    {"ClearPath", VecClearPath},
    {"IsPathEmpty", VecIsPathEmpty},
    {"GetCurrentPoint", VecGetCurrentPoint},
    {"GetPathExtents", VecGetPathExtents},
    {"CopyPath", VecCopyPath},
    {"AppendPath", VecAppendPath},
    {"AddTextToPath", VecAddTextToPath},
    {"TranslatePath", VecTranslatePath},
    {"NormalizePath", VecNormalizePath},
    {"ForcePathUse", VecForcePathUse},
    {nullptr, nullptr},
};

const qmConstantEntry kConstants[] = {
    {"JOINMITER", nullptr, 0},       {"JOINROUND", nullptr, 1},      {"JOINBEVEL", nullptr, 2},
    {"CAPBUTT", nullptr, 0},         {"CAPROUND", nullptr, 1},       {"CAPSQUARE", nullptr, 2},
    {"FILLRULEWINDING", nullptr, 0}, {"FILLRULEEVENODD", nullptr, 1}, {nullptr, nullptr, 0},
};

}  // namespace

const qmLibrary kVectorGraphicsLibrary = {"vectorgraphics", kCommands, kConstants, InitVectorGraphicsLibrary,
                                          FreeVectorGraphicsLibrary, FREERANK_VECTORGRAPHICS};
