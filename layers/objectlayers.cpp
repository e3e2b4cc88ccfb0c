#include "layers/objectlayers.h"

#include "display/display.h"
#include "display/imagecore.h"
#include "layers/layerops.h"
#include "layers/layers/lib_layers.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"
#include "text/textobject.h"

uint32_t LayersAddTextLayer(VmState *L, const qmTextRequest *request, qmImageLayer *layer) {
  auto *copy = static_cast<qmTextRequest *>(MemAlloc(sizeof(qmTextRequest), 1));
  if (!copy || CopyTextRequest(request, copy)) {
    MemFree(copy);
    // The planes were handed over: they go with the refusal.
    FreeBitmap(layer->bitmap), FreeMask(layer->mask), FreeAlphaChannel(layer->alpha);
    layer->bitmap = nullptr, layer->mask = nullptr, layer->alpha = nullptr;
    return ERR_MEM;
  }
  layer->textRequest = copy;
  return LayersAddImageLayer(L, layer);
}

void FreeLayerTextRequest(qmLayerState *state) {
  if (!state->textRequest) return;
  FreeTextRequest(state->textRequest);
  MemFree(state->textRequest);
  state->textRequest = nullptr;
}

uint32_t LayersRemoveAllLayers(VmState *L) {
  qmDisplay *d = CurrentDisplay;
  qmBGPic *pic = CurrentBGPic;
  if (!d || !pic) return 0;
  // A layer an asynchronous draw object still draws may not go (ERR_REMADLAYER); the player
  // has no such objects yet, so every layer can be taken.
  const bool selected = d->outputType == DISPOUT_BGPIC;
  while (qmLayer *layer = FirstLayer(pic)) DestroyLayer(L, layer, !selected || layer->hidden, nullptr, nullptr);
  pic->layersChanged = 1;
  return 0;
}

uint32_t LayersRemoveLastLayer(VmState *L, int32_t type) {
  qmBGPic *pic = CurrentBGPic;
  const qmObjectId none{0, 0};
  qmLayer *layer = pic ? FindObjectLayer(pic, type, &none, 1) : nullptr;
  if (!layer) return 0;
  DestroyLayer(L, layer, 0, nullptr, nullptr);
  pic->layersChanged = 1;
  return 0;
}
