// The road from a laid-out block to the current output: the display's background copy
// (presented at once) or the Select* target; and where a run's text state is found.
#include <cstring>
#include <string>

#include "display/display.h"
#include "display/filters.h"
#include "display/imagecore.h"
#include "display/scene.h"
#include "graphics/bitmapops.h"
#include "display/output.h"
#include "display/position.h"
#include "display/safeblt.h"
#include "graphics/transform.h"
#include "runtime/bindings/constant_lookup.h"
#include "runtime/cmdargs.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "text/text/textoutput.h"

qmTextState *GetTextState(VmState *L) {
  const qmScene *scene = GetScene(L);
  return scene ? scene->text : nullptr;
}

void BlitTextPicture(VmState *L, const qmBitmap *bitmap, const qmMask *mask, const qmAlphaChannel *alpha, int32_t x,
                     int32_t y, int32_t width, int32_t height) {
  qmDisplay *D = GetScene(L)->current;
  if (!D || !bitmap) return;
  qmOutputPicture picture{};
  qmClipRegion *clip = GetOutputPicture(GetScene(L), &picture) ? *picture.activeClip : nullptr;
  qmSafeBlt b{};
  b.src = bitmap;
  b.dst = D->outputType == DISPOUT_DISPLAY ? nullptr : D->outputBitmap;
  b.dstX = x;
  b.dstY = y;
  b.width = b.srcWidth = width;
  b.height = b.srcHeight = height;
  b.dstWidth = b.dstHeight = 0x7FFFFFFF;
  // On the display: into its background copy, shown at once.
  b.flags = D->outputType == DISPOUT_DISPLAY ? uint32_t(SAFEBLT_BACKGROUND) : 0u;
  b.mask = mask;
  b.alpha = alpha;
  b.clip = clip;
  SafeBlt(GetScene(L), &b);
}

uint32_t ShowTextAsLayer(VmState *L, const qmTextRequest *request, int32_t kind, const qmObjectId *id,
                         const qmBitmap *bitmap, const qmMask *mask, const qmAlphaChannel *alpha, int32_t width,
                         int32_t height, int32_t x, int32_t y, const qmTransform *transform,
                         const qmDisplayTags *tags, int32_t position, uint32_t flags) {
  qmDisplay *D = GetScene(L)->current;
  qmPlayerContext *ctx = GetPlayerContext(L);
  if (!D || !ctx || !ctx->addTextLayer || !bitmap) return 0;
  const double anchorX = transform ? transform->anchorX : 0.0, anchorY = transform ? transform->anchorY : 0.0;
  qmImageLayer layer{};
  const int32_t left = x - int32_t(width * anchorX), top = y - int32_t(height * anchorY);
  // The layer keeps the untouched picture: the layer engine shows it through its transform and
  // filters, as it does for brushes.
  if (uint32_t err = CopyBitmap(bitmap, mask, alpha, 0, 0, width, height, 0, &layer.bitmap,
                                mask ? &layer.mask : nullptr, alpha ? &layer.alpha : nullptr))
    return err;
  qmDisplayTags own{};
  if (tags) own = *tags;
  layer.kind = uint32_t(kind);
  if (id) layer.id = *id;
  layer.requestedX = x, layer.requestedY = y;
  layer.objectWidth = width, layer.objectHeight = height;
  layer.x = left, layer.y = top;
  layer.width = width, layer.height = height;
  layer.transform = transform;
  layer.tags = tags ? &own : nullptr;
  layer.position = position;
  // On a display that scales layers the text is set again at the display's scale.
  layer.flags = (flags & (IMGCORE_INSERT | IMGCORE_HIDDEN)) | IMGCORE_RENDERSCALED;
  if (uint32_t err = ctx->addTextLayer(ctx->scene, request, &layer)) return err;
  // The rectangle is composed anew from the background and the layers; drawn into the picture
  // selected with SelectBGPic, the layer shows when the selection ends.
  if (D->outputType == DISPOUT_DISPLAY && !(flags & IMGCORE_INSERT))
    RefreshDisplayRect(GetScene(L), left, top, D, left, top, width, height);
  return 0;
}

uint32_t RenderTextBlock(VmState *L, qmTextRequest *request, int32_t kind, int32_t plain, const qmTransform *transform,
                         const qmDisplayTags *tags) {
  qmDisplay *D = GetScene(L)->current;
  qmPlayerContext *ctx = GetPlayerContext(L);
  const bool layered = LayersTakeOutput(D) && ctx && ctx->addTextLayer;
  // As a layer, the text's edge, shadow and transparency become the layer's border, shadow and
  // transparency: the picture holds the plain text, which the layer engine can turn, scale and
  // render again without them baked in.
  qmTextRequest plainRequest = *request;
  qmDisplayTags layerTags{};
  if (layered && (kind == QM_TEXT_TEXTOUT || kind == QM_TEXT_PRINT)) {
    qmTextStyle &st = plainRequest.style;
    if (tags) layerTags = *tags;
    else CopyDefaultDisplayTags(GetScene(L), &layerTags);
    if (st.style & QM_STYLE_EDGE) {
      st.style &= ~QM_STYLE_EDGE;
      layerTags.border.on = 1, layerTags.border.color = st.edgeColor, layerTags.border.size = st.edgeSize;
      layerTags.effects = 1;
    }
    if (st.style & QM_STYLE_SHADOW) {
      st.style &= ~QM_STYLE_SHADOW;
      layerTags.shadow.on = 1, layerTags.shadow.color = st.shadowColor;
      layerTags.shadow.size = st.shadowDistance, layerTags.shadow.direction = st.shadowDirection;
      layerTags.effects = 1;
    }
    if (st.color >> 24) {
      layerTags.transparency = int32_t(st.color >> 24);
      st.color &= 0xFFFFFF;
      layerTags.effects = 1;
    }
    request = &plainRequest;
    tags = &layerTags;
  }
  qmTextLayout layout;
  if (uint32_t err = LayoutTextBlock(request, kind, plain, LookupTagConstant, L, 0, &layout)) return err;
  qmTextBox box;
  if (uint32_t err = RenderTextRuns(request, &layout, TextWrapWidth(request, kind), &box)) return err;
  const double anchorX = transform ? transform->anchorX : 0.0, anchorY = transform ? transform->anchorY : 0.0;
  int32_t x, y;
  if (kind == QM_TEXT_PRINT) {
    x = request->marginLeft + box.firstLineOffset + box.x;
    y = request->cursorY + box.y;
  } else {
    x = ResolvePositionX(GetScene(L), request->x, box.width, 0, anchorX) + box.x;
    y = ResolvePositionY(GetScene(L), request->y, box.height, 0, anchorY) + box.y;
  }
  if (layered) {
    // The layer keeps the request at the block's resolved place and with its picture's size.
    qmTextRequest stored = *request;
    stored.x = x - box.x, stored.y = y - box.y;
    stored.width = box.width, stored.height = box.height;
    if (uint32_t err = ShowTextAsLayer(L, &stored, kind, nullptr, box.bitmap, box.mask, box.alpha, box.width,
                                       box.height, x, y, transform, tags, -1, 0)) {
      FreeTextBox(&box);
      return err;
    }
  } else {
    // The anchor point of the picture lies at the position; a turned or scaled picture keeps
    // it there.
    x -= int32_t(box.width * anchorX);
    y -= int32_t(box.height * anchorY);
    if (transform && box.bitmap && !IsIdentityMatrix(transform->matrix)) {
      // Placed as the layer engine places a turned text layer.
      double m[4];
      SnapMatrixNoise(transform->matrix, m);
      qmTransformedImage t{};
      if (uint32_t err = TransformImageBitmaps(GetScene(L)->current, TFKIND_PIXEL, box.bitmap, box.mask, box.alpha, 0, 0, x, y, box.width,
                                               box.height, anchorX, anchorY, m, transform->smooth, &t)) {
        FreeTextBox(&box);
        return err;
      }
      FreeTextBox(&box);
      box.bitmap = t.bitmap, box.mask = t.mask, box.alpha = t.alpha;
      box.width = t.width, box.height = t.height;
      x = t.x, y = t.y;
    }
    if (box.bitmap) ApplyDisplayTagEffects(tags, box.bitmap, &box.mask, &box.alpha, box.width, box.height);
    BlitTextPicture(L, box.bitmap, box.mask, box.alpha, x, y, box.width, box.height);
  }
  if (D && kind == QM_TEXT_PRINT) {
    D->cursorX = request->marginLeft + layout.penX;
    D->cursorY = request->cursorY + layout.lineTop;
  }
  FreeTextBox(&box);
  return 0;
}
