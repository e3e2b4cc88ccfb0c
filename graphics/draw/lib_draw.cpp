// The draw library's commands: shapes, lines and single pixels in the current draw style, into
// the current output. The outlines and images are made by the engine files beside it.
#include "graphics/draw/lib_draw.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "display/bgpic.h"
#include "display/filters.h"
#include "runtime/bindings/gradient_reader.h"
#include "display/brush.h"
#include "display/dirtyrects.h"
#include "display/display.h"
#include "display/displaytags.h"
#include "display/drawoutput.h"
#include "display/imagecore.h"
#include "display/outputselect.h"
#include "display/scene.h"
#include "graphics/alpha_kernels.h"
#include "graphics/blit.h"
#include "graphics/draw_style.h"
#include "graphics/vectorpath.h"
#include "graphics/shape_draw.h"
#include "graphics/shape_geometry.h"
#include "graphics/shape_render.h"
#include "graphics/alphaops.h"
#include "graphics/bitmapops.h"
#include "graphics/clipregion.h"
#include "display/output.h"
#include "display/position.h"
#include "display/safeblt.h"
#include "runtime/bindings/displaytags_reader.h"
#include "runtime/cmdargs.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/objtypes.h"
#include "runtime/vm/vm_api.h"

namespace {

// Most polygon points the command takes; with the closing point an outline fits the work
// tables.
constexpr int32_t kPolygonPointMax = 999;

// ---- Shapes -----------------------------------------------------------------------------

// The texture picture of a texture fill: the style's brush, scaled by the shape's matrix when
// that scales (*scaled is then a copy the caller frees).
uint32_t FindTexture(VmState *L, const qmDrawStyle &style, const double m[4], const qmBitmap **out,
                     qmBitmap **scaled) {
  *out = nullptr, *scaled = nullptr;
  qmObjectId id = style.texture;
  qmBrush *brush = nullptr;
  if (uint32_t code = FindBrush(ObjectRegistryOf(L), &id, &brush, 0)) return code;
  const double sx = std::fabs(m[0]), sy = std::fabs(m[3]);
  if (sx == 1 && sy == 1) {
    *out = brush->bitmap;
    return 0;
  }
  const int64_t w = std::max<int64_t>(1, std::llround(brush->width * sx));
  const int64_t h = std::max<int64_t>(1, std::llround(brush->height * sy));
  if (w > QM_MAX_PICTURE_SIDE || h > QM_MAX_PICTURE_SIDE) return ERR_MEM;
  const qmDisplay *display = GetScene(L)->current;
  const int32_t smooth = display ? int32_t(display->smoothScale) : 0;
  qmScaleOutputs copy{};
  if (uint32_t code = ScaleBitmap(brush->bitmap, nullptr, nullptr, 0, 0, nullptr, brush->width, brush->height,
                                  int32_t(w), int32_t(h), smooth, &copy))
    return code;
  *out = *scaled = copy.bitmap;
  return 0;
}

// Transparency or a filter of the tags: only a shape image can carry them.
bool HasTagEffects(const qmDisplayTags &tags) {
  if (tags.transparency) return true;
  for (const qmFilterSlot &f : tags.filters)
    if (f.enabled) return true;
  return false;
}

// As a layer, a shape's edge, drop shadow, thick outline and colour alpha become the layer's
// border, shadow and transparency, which the layer engine draws and the script can restyle; the
// picture holds the plain shape. A thick outline's border is drawn after the edge's, so it wins.
void MoveFormStyleToLayerTags(qmDrawStyle *style, qmDisplayTags *tags, uint32_t *color) {
  if (style->formStyle & FORM_EDGE) {
    style->formStyle &= ~FORM_EDGE;
    tags->border.on = 1, tags->border.color = style->edgeColor, tags->border.size = style->edgeSize;
    tags->effects = 1;
  }
  if (style->formStyle & FORM_SHADOW) {
    style->formStyle &= ~FORM_SHADOW;
    tags->shadow.on = 1, tags->shadow.color = style->shadowColor;
    tags->shadow.size = style->shadowSize, tags->shadow.direction = style->shadowDirection;
    tags->effects = 1;
  }
  if (style->fillStyle == DRAWFILL_NONE && style->lineWidth >= 2) {
    tags->border.on = 1, tags->border.color = *color & 0xFFFFFF;
    tags->border.size = std::max(style->lineWidth / 2, 1);
    style->lineWidth = 1;
    tags->effects = 1;
  }
  if (*color >> 24) {
    tags->transparency = int32_t(*color >> 24);
    *color &= 0xFFFFFF;
    tags->effects = 1;
  }
}

// The top-left of the shape's box: the position resolved with the anchor, then moved so that
// the anchor point lies there.
void PlaceShapeBox(VmState *L, qmShapeRequest *req) {
  req->x = ResolvePositionX(GetScene(L), req->x, req->width, 0, req->anchorX);
  req->y = ResolvePositionY(GetScene(L), req->y, req->height, 0, req->anchorY);
  req->x = int32_t(std::clamp<int64_t>(int64_t(req->x) - int64_t(req->width * req->anchorX), INT32_MIN, INT32_MAX));
  req->y = int32_t(std::clamp<int64_t>(int64_t(req->y) - int64_t(req->height * req->anchorY), INT32_MIN, INT32_MAX));
}

// ForcePathUse sends the shapes through the path renderer.
bool PathsForced(VmState *L) {
  const qmScene *scene = GetScene(L);
  const qmPlayerContext *ctx = GetPlayerContext(L);
  return scene->vector && scene->vector->forcePathUse && ctx && ctx->drawShapeAsPath;
}

// Renders the request into the output: straight through its coverage, or through an image
// when an edge, a shadow or a fill picture has to be composed first.
uint32_t RenderShape(VmState *L, qmShapeRequest *req, const qmDisplayTags &tags) {
  if (PathsForced(L)) return GetPlayerContext(L)->drawShapeAsPath(L, req, &tags);
  qmDrawOutput o;
  if (uint32_t code = GetDrawOutput(GetScene(L), &o)) return code;
  PlaceShapeBox(L, req);
  req->style = GetScene(L)->drawStyle;
  ValidateDrawStyle(&req->style);
  SnapMatrixNoise(req->matrix, req->matrix);
  // With layers on the shape's image becomes a layer of the shape's type, and the rectangle is
  // composed from the layers.
  qmDisplay *d = o.display;
  qmPlayerContext *ctx = GetPlayerContext(L);
  const bool toLayer = LayersTakeOutput(d) && ctx && ctx->addImageLayer;
  qmDisplayTags layerTags = tags;
  if (toLayer) MoveFormStyleToLayerTags(&req->style, &layerTags, &req->color);
  // A layer keeps the shape untransformed and draws it again through its transform.
  qmShapeLayerData shape{};
  qmTransform transform{};
  const bool layerTransform = toLayer && !IsIdentityMatrix(req->matrix);
  if (toLayer) {
    shape.style = req->style;
    std::copy(req->corners, req->corners + 4, shape.corners);
    shape.radiusA = req->radiusX, shape.radiusB = req->radiusY;
    shape.startAngle = req->startAngle, shape.endAngle = req->endAngle, shape.clockwise = req->clockwise;
    shape.vertices = const_cast<double *>(req->points), shape.vertexCount = req->pointCount;
  }
  if (layerTransform) {
    CopyDefaultTransform(GetScene(L), &transform);
    std::copy(req->matrix, req->matrix + 4, transform.userMatrix);
    std::copy(req->matrix, req->matrix + 4, transform.matrix);
    transform.userMatrixSet = 1;
    transform.anchorX = req->anchorX, transform.anchorY = req->anchorY;
    req->matrix[0] = req->matrix[3] = 1;
    req->matrix[1] = req->matrix[2] = 0;
  }
  // The line width and drop shadow grow with the matrix (a quarter turn keeps them).
  ScaleShapeStyle(&req->style, std::hypot(req->matrix[0], req->matrix[1]));
  ValidateDrawStyle(&req->style);
  const bool effects = HasTagEffects(tags);
  if (!toLayer && !effects && CanDrawShapeDirect(req)) {
    qmDrawnRect drawn;
    if (uint32_t code = DrawShapeDirect(req, &o.target, &drawn)) return code;
    if (drawn.width) ShowDrawnRect(GetScene(L), o, drawn.x, drawn.y, drawn.width, drawn.height);
    return 0;
  }
  const qmBitmap *texture = nullptr;
  qmBitmap *scaledTexture = nullptr;
  if (req->style.fillStyle == DRAWFILL_TEXTURE)
    if (uint32_t code = FindTexture(L, req->style, req->matrix, &texture, &scaledTexture)) return code;
  qmShapeImage img;
  uint32_t code = RenderShapeImage(req, texture, &img);
  FreeBitmap(scaledTexture);
  if (code) return code;
  if (!img.bitmap) return 0;
  // A layer takes the tags' filters, transparency, shadow, border, name, insert position and
  // hidden switch itself; drawn straight, the filters and transparency go into the picture.
  if (effects && !toLayer)
    ApplyDisplayTagEffects(&tags, img.bitmap, &img.mask, &img.alpha, img.bitmap->width, img.bitmap->height);
  if (toLayer) {
    // The planes go to the layer, which frees them also when it is refused.
    qmImageLayer layer{};
    layer.kind = uint32_t(req->type);
    layer.bitmap = img.bitmap, layer.mask = img.mask, layer.alpha = img.alpha;
    layer.requestedX = req->x, layer.requestedY = req->y;
    if (layerTransform) {
      // The position before the anchor: the layer places its box by its own anchor.
      layer.requestedX = req->x + int32_t(req->width * req->anchorX);
      layer.requestedY = req->y + int32_t(req->height * req->anchorY);
      layer.transform = &transform;
    }
    layer.objectWidth = req->width, layer.objectHeight = req->height;
    layer.x = img.x, layer.y = img.y;
    layer.width = img.bitmap->width, layer.height = img.bitmap->height;
    layer.tags = &layerTags;  // the layer writes a clamped insert position back
    layer.position = -1;
    layer.flags = IMGCORE_RENDERSCALED;
    layer.shapeData = 1, layer.fillStyle = req->style.fillStyle, layer.shapeColor = req->color;
    layer.shape = &shape;
    if (uint32_t code = ctx->addImageLayer(ctx->scene, &layer)) return code;
    if (d->outputType == DISPOUT_DISPLAY) RefreshDisplayRect(GetScene(L), img.x, img.y, d, img.x, img.y, layer.width, layer.height);
    return 0;
  }
  BlitShapeImage(GetScene(L), o, img);
  FreeShapeImage(&img);
  return 0;
}

void InitRequest(qmShapeRequest *req, int32_t type, int32_t x, int32_t y, uint32_t color) {
  *req = {};
  req->type = type;
  req->x = x, req->y = y;
  req->color = color;
  req->matrix[0] = req->matrix[3] = 1;
}

// The optional argument at i: a table of the shape's keys (read by read), or a number for the
// caller. True when it was a table.
template <class F> bool ReadShapeTable(VmState *L, int i, F &&read) {
  if (vm_type(L, i) != VM_TTABLE) return false;
  read(i);
  return true;
}

// The shape's display tags: the defaults, then the table at index when it is the last
// argument, read at the shape's box size. Its matrix and anchor go into the request.
uint32_t ReadShapeTags(VmState *L, int index, int32_t flags, qmShapeRequest *req, qmDisplayTags *tags) {
  qmTransform t;
  if (uint32_t code = ParseDisplayTags(L, GetScene(L), index, req->width, req->height, 0, 0, 0, &t, tags, DTAG_INIT | flags))
    return code;
  if (!IsIdentityMatrix(t.matrix)) std::copy(t.matrix, t.matrix + 4, req->matrix);
  req->anchorX = t.anchorX, req->anchorY = t.anchorY;
  return 0;
}

// A rotation argument, or the "rotate" key of a shape table.
void ApplyRotation(qmShapeRequest *req, double degrees) {
  RotationMatrix(degrees, req->matrix);
}

uint32_t DrawBox(VmState *L) {
  CheckArgCount(L, 4, 7);
  const int n = vm_gettop(L);
  qmShapeRequest req;
  InitRequest(&req, QMTYPE_BOX, vm_checkint32(L, 1), vm_checkint32(L, 2), vm_optinteger(L, 5, 0));
  req.width = vm_checkint32(L, 3), req.height = vm_checkint32(L, 4);
  if (req.width < 1 || req.height < 1) return ERR_WRONGUSAGE;
  qmDisplayTags tags;
  if (uint32_t code = ReadShapeTags(L, 6, 0, &req, &tags)) return code;
  const bool table = n >= 6 && ReadShapeTable(L, 6, [&](int t) {
    int32_t level;
    if (GetFieldInt(L, t, "roundlevel", &level, nullptr)) std::fill(req.corners, req.corners + 4, level);
    const char *keys[4] = {"cornera", "cornerb", "cornerc", "cornerd"};
    for (int k = 0; k < 4; k++) GetFieldInt(L, t, keys[k], &req.corners[k], nullptr);
  });
  if (!table && n >= 6) std::fill(req.corners, req.corners + 4, vm_checkint32(L, 6));
  if (!table && n == 7 && vm_type(L, 7) != VM_TTABLE) ApplyRotation(&req, vm_checknumber(L, 7));
  ClampCornerLevels(req.corners);

  // A plain opaque box without effects is filled straight into the output.
  const qmDrawStyle &st = GetScene(L)->drawStyle;
  const bool plain = !PathsForced(L) && !req.corners[0] && !req.corners[1] && !req.corners[2] && !req.corners[3] &&
                     IsIdentityMatrix(req.matrix) && !(st.formStyle & (FORM_ANTIALIAS | FORM_EDGE | FORM_SHADOW)) &&
                     !(req.color >> 24) && !HasTagEffects(tags) &&
                     (st.fillStyle == DRAWFILL_COLOR || (st.fillStyle == DRAWFILL_NONE && st.lineWidth <= 1));
  if (!plain) return RenderShape(L, &req, tags);
  qmDrawOutput o;
  if (uint32_t code = GetDrawOutput(GetScene(L), &o)) return code;
  // With layers on every box is a layer: the shape path hands it over.
  const bool toLayers = LayersTakeOutput(o.display);
  if (o.target.clipMask || toLayers) return RenderShape(L, &req, tags);
  PlaceShapeBox(L, &req);
  const int32_t x = req.x, y = req.y;
  const int32_t w = req.width, h = req.height;
  if (st.fillStyle == DRAWFILL_COLOR) {
    FillTargetRect(&o.target, x, y, w, h, req.color);
  } else {
    // The frame's sides, each pixel once; a side outside the clip rectangle (or past the
    // integer range) is simply not there.
    auto side = [&](int64_t sx, int64_t sy, int32_t sw, int32_t sh) {
      if (sx <= INT32_MAX && sy <= INT32_MAX) FillTargetRect(&o.target, int32_t(sx), int32_t(sy), sw, sh, req.color);
    };
    side(x, y, w, 1);
    if (h > 1) side(x, int64_t(y) + h - 1, w, 1);
    if (h > 2) {
      side(x, int64_t(y) + 1, 1, h - 2);
      if (w > 1) side(int64_t(x) + w - 1, int64_t(y) + 1, 1, h - 2);
    }
  }
  ShowDrawnRect(GetScene(L), o, x, y, w, h);
  return 0;
}

uint32_t DrawCircle(VmState *L) {
  CheckArgCount(L, 3, 5);
  const int n = vm_gettop(L);
  qmShapeRequest req;
  InitRequest(&req, QMTYPE_CIRCLE, vm_checkint32(L, 1), vm_checkint32(L, 2), vm_optinteger(L, 4, 0));
  const int32_t r = vm_checkint32(L, 3);
  int32_t side;
  if (uint32_t code = SideFromRadius(r, &side)) return code;
  req.radiusX = req.radiusY = r;
  req.width = req.height = side;
  // A circle ignores the table's rotation.
  qmDisplayTags tags;
  if (uint32_t code = ReadShapeTags(L, 5, DTAG_NOROTATE, &req, &tags)) return code;
  if (n == 5 && vm_type(L, 5) != VM_TTABLE) ApplyRotation(&req, vm_checknumber(L, 5));
  return RenderShape(L, &req, tags);
}

uint32_t DrawEllipse(VmState *L) {
  CheckArgCount(L, 4, 6);
  const int n = vm_gettop(L);
  qmShapeRequest req;
  InitRequest(&req, QMTYPE_ELLIPSE, vm_checkint32(L, 1), vm_checkint32(L, 2), vm_optinteger(L, 5, 0));
  const int32_t rx = vm_checkint32(L, 3), ry = vm_checkint32(L, 4);
  if (uint32_t code = SideFromRadius(rx, &req.width)) return code;
  if (uint32_t code = SideFromRadius(ry, &req.height)) return code;
  req.radiusX = rx, req.radiusY = ry;
  qmDisplayTags tags;
  if (uint32_t code = ReadShapeTags(L, 6, 0, &req, &tags)) return code;
  if (n == 6 && vm_type(L, 6) != VM_TTABLE) ApplyRotation(&req, vm_checknumber(L, 6));
  return RenderShape(L, &req, tags);
}

uint32_t DrawArc(VmState *L) {
  CheckArgCount(L, 6, 9);
  const int n = vm_gettop(L);
  qmShapeRequest req;
  InitRequest(&req, QMTYPE_ARC, vm_checkint32(L, 1), vm_checkint32(L, 2), vm_optinteger(L, 7, 0));
  const int32_t rx = vm_checkint32(L, 3), ry = vm_checkint32(L, 4);
  if (uint32_t code = SideFromRadius(rx, &req.width)) return code;
  if (uint32_t code = SideFromRadius(ry, &req.height)) return code;
  req.radiusX = rx, req.radiusY = ry;
  req.startAngle = vm_checkint32(L, 5), req.endAngle = vm_checkint32(L, 6);
  if (req.startAngle < 0 || req.endAngle < 0) return ERR_WRONGUSAGE;
  req.clockwise = 1;
  qmDisplayTags tags;
  if (uint32_t code = ReadShapeTags(L, 8, 0, &req, &tags)) return code;
  const bool table = n >= 8 && ReadShapeTable(L, 8, [&](int t) {
    int32_t clockwise;
    if (GetFieldInt(L, t, "clockwise", &clockwise, nullptr)) req.clockwise = clockwise != 0;
  });
  if (!table && n >= 8) req.clockwise = vm_checkint32(L, 8) != 0;
  if (!table && n == 9) ApplyRotation(&req, vm_checknumber(L, 9));
  if (req.startAngle == req.endAngle) return 0;
  return RenderShape(L, &req, tags);
}

// count x, y pairs of the table at t as doubles, closed and moved to start at (0, 0).
uint32_t ReadPolygonTable(VmState *L, int t, int32_t count, std::vector<double> *points, int32_t *outCount,
                          int32_t *width, int32_t *height, int32_t *minX, int32_t *minY) {
  SetErrorArgument("polygon");
  points->assign(2 * (size_t(count) + 1), 0.0);
  double *p = points->data();
  for (int32_t k = 0; k < 2 * count; k++) {
    vm_rawgeti(L, t, k + 1);
    const int type = vm_type(L, -1);
    if (type != VM_TNIL && !vm_isnumber(L, -1)) {
      vm_pop(L, 1);
      return ERR_NUMTABLEARG;
    }
    p[k] = type == VM_TNIL ? 0 : vm_tonumber(L, -1);
    vm_pop(L, 1);
    if (!std::isfinite(p[k]) || std::fabs(p[k]) > 1e9) {
      // Beyond any picture: no outline of it could be drawn.
      return ERR_MEM;
    }
  }
  int32_t n = count;
  if (p[2 * (n - 1)] != p[0] || p[2 * (n - 1) + 1] != p[1]) p[2 * n] = p[0], p[2 * n + 1] = p[1], n++;
  double x0 = p[0], y0 = p[1], x1 = p[0], y1 = p[1];
  for (int32_t i = 1; i < n; i++) {
    x0 = std::min(x0, p[2 * i]), x1 = std::max(x1, p[2 * i]);
    y0 = std::min(y0, p[2 * i + 1]), y1 = std::max(y1, p[2 * i + 1]);
  }
  for (int32_t i = 0; i < n; i++) p[2 * i] -= x0, p[2 * i + 1] -= y0;
  *outCount = n;
  *minX = int32_t(std::nearbyint(x0)), *minY = int32_t(std::nearbyint(y0));
  const int64_t w = int64_t(std::nearbyint(x1)) - *minX + 1, h = int64_t(std::nearbyint(y1)) - *minY + 1;
  if (w > QM_MAX_PICTURE_SIDE || h > QM_MAX_PICTURE_SIDE) return ERR_MEM;
  *width = int32_t(w), *height = int32_t(h);
  return 0;
}

uint32_t DrawPolygon(VmState *L) {
  CheckArgCount(L, 4, 6);
  const int n = vm_gettop(L);
  const int32_t x = vm_checkint32(L, 1), y = vm_checkint32(L, 2);
  if (vm_type(L, 3) != VM_TTABLE) {
    SetErrorNumber(3);
    return ERR_TABEXPECTED;
  }
  const int32_t count = vm_checkint32(L, 4);
  if (count < 2 || count > kPolygonPointMax) return ERR_WRONGUSAGE;
  const uint32_t color = vm_optinteger(L, 5, 0);
  std::vector<double> points;
  int32_t pointCount, width, height, minX, minY;
  try {
    points.reserve(2 * (kPolygonPointMax + 1));
  } catch (...) {
    return ERR_MEM;
  }
  if (uint32_t code = ReadPolygonTable(L, 3, count, &points, &pointCount, &width, &height, &minX, &minY)) return code;
  qmShapeRequest req;
  InitRequest(&req, QMTYPE_POLYGON, int32_t(std::clamp<int64_t>(int64_t(x) + minX, INT32_MIN, INT32_MAX)),
              int32_t(std::clamp<int64_t>(int64_t(y) + minY, INT32_MIN, INT32_MAX)), color);
  req.points = points.data(), req.pointCount = pointCount;
  req.width = width, req.height = height;
  qmDisplayTags tags;
  if (uint32_t code = ReadShapeTags(L, 6, 0, &req, &tags)) return code;
  if (n == 6 && vm_type(L, 6) != VM_TTABLE) ApplyRotation(&req, vm_checknumber(L, 6));
  return RenderShape(L, &req, tags);
}

// With layers on a line is a LINE layer: its picture is the line's colour seen through the
// line's coverage, rendered where it can reach the picture, and the layer keeps the two end
// points. A line wholly off the picture leaves no layer.
uint32_t AddLineLayer(VmState *L, const qmDrawOutput &o, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t color,
                      int32_t thickness, bool antialias, qmDisplayTags *tags) {
  const int32_t ends[4] = {x1, y1, x2, y2};
  // The layer's shadow and border show what lies that much beyond the display, so the picture
  // keeps it (the same room a layer style keeps when it draws the line again).
  const int64_t room = LineEffectsRoom(tags->shadow.on, tags->shadow.size, tags->shadow.radius, tags->shadow.sigma,
                                       tags->border.on, tags->border.size);
  const int64_t margin = thickness + 4;
  const int32_t low = int32_t(-margin - room);
  if (!ClipLineToRange(&x1, &y1, &x2, &y2, low, int32_t(o.width + margin + room)) ||
      !ClipLineToRange(&y1, &x1, &y2, &x2, low, int32_t(o.height + margin + room)))
    return 0;
  // The picture covers the line with room for its width, but never much more than the
  // background picture: a very thick line is cut where it cannot show.
  const int64_t kSlack = 4 + room;
  const int64_t left = std::max<int64_t>(std::min(x1, x2) - margin, -kSlack);
  const int64_t top = std::max<int64_t>(std::min(y1, y2) - margin, -kSlack);
  const int64_t w = std::min<int64_t>(std::max(x1, x2) + margin + 1, o.width + kSlack) - left;
  const int64_t h = std::min<int64_t>(std::max(y1, y2) + margin + 1, o.height + kSlack) - top;
  if (w < 1 || h < 1) return 0;
  if (w > QM_MAX_PICTURE_SIDE || h > QM_MAX_PICTURE_SIDE) return ERR_MEM;
  qmImageLayer layer{};
  layer.bitmap = AllocBitmap(int32_t(w), int32_t(h));
  layer.alpha = AllocAlphaChannel(int32_t(w), int32_t(h), 1);
  if (!layer.bitmap || !layer.alpha) {
    FreeBitmap(layer.bitmap), FreeAlphaChannel(layer.alpha);
    return ERR_MEM;
  }
  FillBitmapRect(layer.bitmap, 0, 0, int32_t(w), int32_t(h), color & 0xFFFFFF);
  // The coverage goes into the alpha channel alone, at the level of the colour's alpha byte.
  qmDrawTarget cover{};
  cover.alpha = layer.alpha;
  cover.clipWidth = int32_t(w), cover.clipHeight = int32_t(h);
  cover.alphaValue = -1;
  // A one-pixel line is walked from its own ends, not the cut ones: a cut end is rounded to a
  // whole pixel, which would move every pixel of the line; the walk covers only the steps over
  // the picture. Ends so far off that they leave the coordinate range are cut after all, and a
  // thick line is cut as it is when drawn without layers, so that both give the same pixels.
  int64_t ends64[4] = {int64_t(ends[0]) - left, int64_t(ends[1]) - top, int64_t(ends[2]) - left,
                       int64_t(ends[3]) - top};
  bool whole = thickness == 1;
  for (int64_t v : ends64) whole = whole && v >= INT32_MIN && v <= INT32_MAX;
  if (!whole) ends64[0] = x1 - left, ends64[1] = y1 - top, ends64[2] = x2 - left, ends64[3] = y2 - top;
  const int32_t ax = int32_t(ends64[0]), ay = int32_t(ends64[1]), bx = int32_t(ends64[2]), by = int32_t(ends64[3]);
  if (thickness == 1) {
    DrawTargetLine(&cover, ax, ay, bx, by, color, antialias);
  } else {
    qmDrawnRect drawn;
    if (uint32_t code = DrawLineDirect(&cover, ax, ay, bx, by, color, thickness, antialias, &drawn)) {
      FreeBitmap(layer.bitmap), FreeAlphaChannel(layer.alpha);
      return code;
    }
  }
  layer.kind = QMTYPE_LINE;
  layer.requestedX = layer.x = int32_t(left), layer.requestedY = layer.y = int32_t(top);
  layer.objectWidth = layer.width = int32_t(w), layer.objectHeight = layer.height = int32_t(h);
  layer.tags = tags;
  layer.position = -1;
  layer.flags = IMGCORE_RENDERSCALED;
  std::copy(ends, ends + 4, layer.lineEnds);
  // What the line was drawn with, for a layer style that draws it anew.
  qmShapeLayerData shape{};
  shape.style = GetScene(L)->drawStyle;
  shape.thickness = thickness;
  layer.shape = &shape;
  layer.shapeColor = color;
  if (uint32_t code = GetPlayerContext(L)->addImageLayer(GetScene(L), &layer)) return code;
  if (o.onDisplay) RefreshDisplayRect(GetScene(L), layer.x, layer.y, o.display, layer.x, layer.y, layer.width, layer.height);
  return 0;
}

uint32_t DrawLine(VmState *L) {
  CheckArgCount(L, 4, 7);
  const int n = vm_gettop(L);
  int32_t x1 = vm_checkint32(L, 1), y1 = vm_checkint32(L, 2), x2 = vm_checkint32(L, 3), y2 = vm_checkint32(L, 4);
  const uint32_t color = vm_optinteger(L, 5, 0);
  int32_t thickness = 1;
  // The line's box gives the tags their size; its matrix turns the ends.
  qmShapeRequest box;
  InitRequest(&box, QMTYPE_LINE, 0, 0, color);
  box.width = int32_t(std::min<int64_t>(std::llabs(int64_t(x2) - x1) + 1, INT32_MAX));
  box.height = int32_t(std::min<int64_t>(std::llabs(int64_t(y2) - y1) + 1, INT32_MAX));
  qmDisplayTags tags;
  if (uint32_t code = ReadShapeTags(L, 6, DTAG_NOSIZE, &box, &tags)) return code;
  const bool table = n >= 6 && ReadShapeTable(L, 6, [&](int t) {
    GetFieldInt(L, t, "thickness", &thickness, nullptr);
  });
  if (!table && n >= 6) thickness = vm_checkint32(L, 6);
  if (!table && n == 7 && vm_type(L, 7) != VM_TTABLE) ApplyRotation(&box, vm_checknumber(L, 7));
  if (thickness < 1) thickness = 1;
  if (thickness > QM_MAX_PICTURE_SIDE) return ERR_MEM;

  qmDrawOutput o;
  if (uint32_t code = GetDrawOutput(GetScene(L), &o)) return code;
  const qmScene *scene = GetScene(L);
  x1 = ResolvePositionX(scene, x1, 1, 0, 0), y1 = ResolvePositionY(scene, y1, 1, 0, 0);
  x2 = ResolvePositionX(scene, x2, 1, 0, 0), y2 = ResolvePositionY(scene, y2, 1, 0, 0);
  const double *m = box.matrix;
  if (!IsIdentityMatrix(m)) {
    // The ends turn about the line box's anchor point (its top-left by default).
    const int64_t ax = std::min(x1, x2) + int64_t((box.width - 1) * box.anchorX);
    const int64_t ay = std::min(y1, y2) + int64_t((box.height - 1) * box.anchorY);
    auto turn = [&](int32_t *px, int32_t *py) {
      const double dx = double(*px - ax), dy = double(*py - ay);
      *px = int32_t(std::clamp<int64_t>(ax + int64_t(m[0] * dx + m[2] * dy), INT32_MIN, INT32_MAX));
      *py = int32_t(std::clamp<int64_t>(ay + int64_t(m[1] * dx + m[3] * dy), INT32_MIN, INT32_MAX));
    };
    turn(&x1, &y1), turn(&x2, &y2);
  }
  const bool antialias = GetScene(L)->drawStyle.formStyle & FORM_ANTIALIAS;
  qmPlayerContext *ctx = GetPlayerContext(L);
  if (LayersTakeOutput(o.display) && ctx && ctx->addImageLayer)
    return AddLineLayer(L, o, x1, y1, x2, y2, color, thickness, antialias, &tags);
  if (thickness == 1) {
    DrawTargetLine(&o.target, x1, y1, x2, y2, color, antialias);
    const int64_t bx = std::min(x1, x2), by = std::min(y1, y2);
    ShowDrawnRect(GetScene(L), o, bx - 1, by - 1, std::llabs(int64_t(x2) - x1) + 3, std::llabs(int64_t(y2) - y1) + 3);
    return 0;
  }
  // Thick lines need their coverage: only the part that can reach the output is rendered.
  const int64_t margin = thickness + 4;
  if (std::max(x1, x2) + margin < o.target.clipX || std::max(y1, y2) + margin < o.target.clipY ||
      std::min(x1, x2) - margin > int64_t(o.target.clipX) + o.target.clipWidth ||
      std::min(y1, y2) - margin > int64_t(o.target.clipY) + o.target.clipHeight)
    return 0;
  const int32_t lowX = int32_t(std::max<int64_t>(INT32_MIN, o.target.clipX - margin));
  const int32_t lowY = int32_t(std::max<int64_t>(INT32_MIN, o.target.clipY - margin));
  const int32_t highX = int32_t(std::min<int64_t>(INT32_MAX, int64_t(o.target.clipX) + o.target.clipWidth + margin));
  const int32_t highY = int32_t(std::min<int64_t>(INT32_MAX, int64_t(o.target.clipY) + o.target.clipHeight + margin));
  if (!ClipLineToRange(&x1, &y1, &x2, &y2, lowX, highX) || !ClipLineToRange(&y1, &x1, &y2, &x2, lowY, highY))
    return 0;
  qmDrawnRect drawn;
  if (uint32_t code = DrawLineDirect(&o.target, x1, y1, x2, y2, color, thickness, antialias, &drawn)) return code;
  if (drawn.width) ShowDrawnRect(GetScene(L), o, drawn.x, drawn.y, drawn.width, drawn.height);
  return 0;
}

// ---- Pixels -------------------------------------------------------------------------------

uint32_t DrawPlot(VmState *L) {
  CheckArgCount(L, 2, 3);
  int32_t x = vm_checkint32(L, 1), y = vm_checkint32(L, 2);
  const uint32_t color = vm_optinteger(L, 3, 0);
  // A pixel cannot be a layer: with layers on only a Select* target takes it.
  if (LayersTakeOutput(GetScene(L)->current)) return ERR_LAYERSUPPORT2;
  qmDrawOutput o;
  if (uint32_t code = GetDrawOutput(GetScene(L), &o)) return code;
  const qmScene *scene = GetScene(L);
  x = ResolvePositionX(scene, x, 1, 0, 0), y = ResolvePositionY(scene, y, 1, 0, 0);
  DrawTargetPixel(&o.target, x, y, color);
  // The window keeps a video's picture where one covers the pixel; the background copy has it.
  const qmPlayerContext *ctx = GetPlayerContext(L);
  if (o.onDisplay && ctx && ctx->videoAtPoint && ctx->videoAtPoint(L, o.display, x, y)) return 0;
  ShowDrawnRect(GetScene(L), o, x, y, 1, 1);
  return 0;
}

bool InsideClip(const qmDrawTarget &t, int32_t x, int32_t y) {
  const int64_t cx = int64_t(x) - t.clipX, cy = int64_t(y) - t.clipY;
  if (cx < 0 || cy < 0 || cx >= t.clipWidth || cy >= t.clipHeight) return false;
  return !t.clipMask || GetBitmapPixel(t.clipMask, int32_t(cx), int32_t(cy), 1);
}

uint32_t DrawReadPixel(VmState *L) {
  CheckArgCount(L, 2, 2);
  int32_t x = vm_checkint32(L, 1), y = vm_checkint32(L, 2);
  qmDrawOutput o;
  if (uint32_t code = GetDrawOutput(GetScene(L), &o)) return code;
  const qmScene *scene = GetScene(L);
  x = ResolvePositionX(scene, x, 1, 0, 0), y = ResolvePositionY(scene, y, 1, 0, 0);
  if (!InsideClip(o.target, x, y)) return ERR_PIXELRANGE;
  uint32_t value = 0;
  const uint32_t type = o.display->outputType;
  if (type == DISPOUT_MASK) {
    value = o.target.mask ? GetBitmapPixel(o.target.mask, x, y, 1) : 1;
  } else if (type == DISPOUT_ALPHA) {
    value = o.target.alpha ? o.target.alpha->memory[int64_t(y) * o.target.alpha->bytesPerRow + x] : 255;
  } else if (type == DISPOUT_BGPIC) {
    // A picture selected to take layers has no output bitmap (drawing makes layers); its own
    // image, at the size the script sees, is what is read.
    const qmBitmap *image = scene->picture ? scene->picture->unscaled.bitmap : nullptr;
    if (image && x < image->width && y < image->height) value = GetBitmapPixel(image, x, y, 0);
  } else if (o.target.bitmap) {
    value = GetBitmapPixel(o.target.bitmap, x, y, 0);
  }
  vm_pushnumber(L, value);
  return 1;
}

uint32_t DrawCls(VmState *L) {
  CheckArgCount(L, 0, 1);
  const uint32_t color = vm_optinteger(L, 1, 0);
  qmDrawOutput o;
  if (uint32_t code = GetDrawOutput(GetScene(L), &o)) return code;
  // With layers on every layer of the picture goes first.
  qmPlayerContext *ctx = GetPlayerContext(L);
  if (LayersTakeOutput(o.display) && ctx && ctx->removeAllLayers) {
    if (uint32_t code = ctx->removeAllLayers(ctx->scene)) return code;
    if (!o.onDisplay) return 0;
  }
  if (o.onDisplay) {
    // The display goes back to its background picture; the colour is not used there.
    qmDisplay *d = o.display;
    const qmBGPic *pic = d->bgpic;
    if (pic && pic->shown.bitmap && d->backgroundCopy) {
      const int32_t w = std::min(pic->shown.bitmap->width, d->backgroundCopy->width);
      const int32_t h = std::min(pic->shown.bitmap->height, d->backgroundCopy->height);
      BltBitmap(pic->shown.bitmap, 0, 0, d->backgroundCopy, 0, 0, w, h);
      if (d->layerBuffer) BltBitmap(d->backgroundCopy, 0, 0, d->layerBuffer, 0, 0, w, h);
      RefreshDisplayRect(GetScene(L), 0, 0, d, 0, 0, w, h);
    }
    return 0;
  }
  qmDrawTarget whole = o.target;
  whole.clipX = whole.clipY = 0;
  whole.clipWidth = o.width, whole.clipHeight = o.height;
  if (whole.bitmap) whole.clipWidth = std::min(whole.clipWidth, whole.bitmap->width);
  if (whole.bitmap) whole.clipHeight = std::min(whole.clipHeight, whole.bitmap->height);
  // A bitmap's alpha channel becomes opaque; one selected alone takes the alpha value.
  FillTargetRect(&whole, 0, 0, whole.clipWidth, whole.clipHeight, whole.bitmap ? color & 0xFFFFFF : color);
  if (o.doubleBuffered) AddDirtyRect(o.display, 0, 0, o.width, o.height, o.width, o.height);
  return 0;
}

// ---- Style --------------------------------------------------------------------------------

uint32_t DrawSetFillStyle(VmState *L) {
  CheckArgCount(L, 1, 6);
  qmDrawStyle *st = &GetScene(L)->drawStyle;
  const int32_t style = vm_checkint32(L, 1);
  // An unknown style is refused before anything changes.
  if (uint32_t(style) > 3) return ERR_WRONGUSAGE;
  st->fillStyle = style;
  uint32_t code = 0;
  switch (style) {
  case DRAWFILL_NONE: st->lineWidth = vm_optint32(L, 2, 1); break;
  case DRAWFILL_GRADIENT:
    st->gradient.kind = vm_checkinteger(L, 2);
    st->gradient.startColor = vm_checkinteger(L, 3);
    st->gradient.endColor = vm_checkinteger(L, 4);
    code = ReadGradientArgs(L, 5, &st->gradient);
    break;
  case DRAWFILL_TEXTURE:
    st->texture = GetObjectIdArg(L, 2);
    st->textureX = vm_optint32(L, 3, 0), st->textureY = vm_optint32(L, 4, 0);
    break;
  default: break;
  }
  ValidateDrawStyle(st);
  return code;
}

uint32_t DrawSetFormStyle(VmState *L) {
  CheckArgCount(L, 1, 4);
  const int n = vm_gettop(L);
  qmDrawStyle *st = &GetScene(L)->drawStyle;
  const uint32_t style = vm_checkinteger(L, 1);
  if (style & FORM_NORMAL) {
    st->formStyle = FORM_NORMAL;
  } else if (style == FORM_SHADOW) {
    if (n >= 2) st->shadowColor = vm_checkinteger(L, 2);
    if (n >= 3) st->shadowSize = vm_checkint32(L, 3);
    if (n >= 4) st->shadowDirection = vm_checkint32(L, 4);
    st->formStyle |= FORM_SHADOW;
  } else if (style == FORM_EDGE) {
    // With all four arguments only the flag is taken, as scripts have always seen it.
    if (n == 2 || n == 3) st->edgeColor = vm_checkinteger(L, 2);
    if (n == 3) st->edgeSize = vm_checkint32(L, 3);
    st->formStyle |= FORM_EDGE;
  } else {
    if (n > 1) return ERR_TOOMANYARGS;
    st->formStyle |= style;
  }
  ValidateDrawStyle(st);
  return 0;
}

uint32_t DrawSetLineWidth(VmState *L) {
  CheckArgCount(L, 1, 1);
  const int32_t width = vm_checkint32(L, 1);
  if (width < 1) return ERR_WRONGUSAGE;
  GetScene(L)->drawStyle.lineWidth = width;
  return 0;
}

uint32_t InitDrawLibrary(VmState *L) {
  if (qmScene *scene = GetScene(L)) SetDefaultDrawStyle(&scene->drawStyle);
  return InitDrawTables();
}

void FreeDrawLibrary(VmState *) { FreeDrawBuffers(); }

const qmCommandEntry kDrawCommands[] = {
    {"Box", DrawBox},
    {"Plot", DrawPlot},
    {"Ellipse", DrawEllipse},
    {"Line", DrawLine},
    {"Circle", DrawCircle},
    {"Polygon", DrawPolygon},
    {"SetFillStyle", DrawSetFillStyle},
    {"ReadPixel", DrawReadPixel},
    {"Cls", DrawCls},
    {"Arc", DrawArc},
    {"SetFormStyle", DrawSetFormStyle},
    {"SetLineWidth", DrawSetLineWidth},
    {nullptr, nullptr},
};

const qmConstantEntry kDrawConstants[] = {
    {"BLACK", nullptr, 0x000000},
    {"MAROON", nullptr, 0x800000},
    {"GREEN", nullptr, 0x008000},
    {"OLIVE", nullptr, 0x808000},
    {"NAVY", nullptr, 0x000080},
    {"PURPLE", nullptr, 0x800080},
    {"TEAL", nullptr, 0x008080},
    {"GRAY", nullptr, 0x808080},
    {"SILVER", nullptr, 0xC0C0C0},
    {"RED", nullptr, 0xFF0000},
    {"LIME", nullptr, 0x00FF00},
    {"YELLOW", nullptr, 0xFFFF00},
    {"BLUE", nullptr, 0x0000FF},
    {"FUCHSIA", nullptr, 0xFF00FF},
    {"AQUA", nullptr, 0x00FFFF},
    {"WHITE", nullptr, 0xFFFFFF},
    {"FILLNONE", nullptr, DRAWFILL_NONE},
    {"FILLCOLOR", nullptr, DRAWFILL_COLOR},
    {"FILLGRADIENT", nullptr, DRAWFILL_GRADIENT},
    {"FILLTEXTURE", nullptr, DRAWFILL_TEXTURE},
    {"BOX", nullptr, QMTYPE_BOX},
    {"LINE", nullptr, QMTYPE_LINE},
    {"CIRCLE", nullptr, QMTYPE_CIRCLE},
    {"PLOT", nullptr, QMTYPE_PLOT},
    {"ELLIPSE", nullptr, QMTYPE_ELLIPSE},
    {"POLYGON", nullptr, QMTYPE_POLYGON},
    {"ARC", nullptr, QMTYPE_ARC},
    // The form styles belong to the text library's table, which does not exist yet; scripts
    // need them for SetFormStyle now.
    {"NORMAL", nullptr, FORM_NORMAL},
    {"ANTIALIAS", nullptr, FORM_ANTIALIAS},
    {"SHADOW", nullptr, FORM_SHADOW},
    {"EDGE", nullptr, FORM_EDGE},
    {nullptr, nullptr, 0},
};

} // namespace

const qmLibrary kDrawLibrary = {"draw", kDrawCommands, kDrawConstants, InitDrawLibrary, FreeDrawLibrary,
                                FREERANK_DRAW};
