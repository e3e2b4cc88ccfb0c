// An anim played as a layer at 1920x1080: one frame step of the layer (what an asynchronous
// playback's step does: the layer shows the anim's next frame, refreshed and presented), next to
// a brush layer of the same size whose picture is swapped in place for another one (the least a
// brush shown anew costs: no copy, refreshed and presented). Both layers lie side by side on one
// display of 3840x1080, opaque, over the same background, so each refresh composes only its own
// half. Before timing, one step of both is compared: the two halves must be equal pixel by pixel,
// the anim's second frame and the brush's second picture being drawn from one pattern.
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "bench/player_setup.h"
#include "bench/side_by_side.h"
#include "display/bgpic.h"
#include "display/brush.h"
#include "display/display.h"
#include "display/display/displaylib.h"
#include "display/displayops.h"
#include "display/imagecore.h"
#include "display/scene.h"
#include "graphics/blit.h"
#include "layers/layer.h"
#include "layers/layerops.h"
#include "layers/layers/lib_layers.h"
#include "media/animcore/anim.h"
#include "media/animcore/animplay.h"
#include "platform/present.h"
#include "player/libtable.h"
#include "player/startup.h"
#include "player/wiring.h"
#include "runtime/context.h"
#include "runtime/objlist.h"
#include "runtime/objtypes.h"
#include "runtime/rtsupport.h"
#include "runtime/vm/vm_api.h"

namespace {

constexpr int kW = 1920, kH = 1080;
constexpr uint32_t kBackground = 0x203040;

// The two pictures each side alternates between.
uint32_t PatternPixel(int picture, int x, int y) {
  return picture ? uint32_t(x * 7 + y * 3) << 8 & 0xFFFF00 : uint32_t(x ^ y) & 0xFF;
}

void Paint(qmBitmap *b, int picture) {
  for (int y = 0; y < kH; y++)
    for (int x = 0; x < kW; x++) SetBitmapPixel(b, x, y, PatternPixel(picture, x, y), 0);
}

struct Sides {
  VmState *L = nullptr;
  qmScene *scene = nullptr;
  qmDisplay *display = nullptr;
  void *animLayer = nullptr;
  qmLayer *brushLayer = nullptr;
  qmPlaneSet spare{};  // the brush layer's other picture

  Sides() {
    if (OpenBenchPlayer(&L)) return;
    static qmDisplay parsed;
    SetDisplayDefaults(&parsed);
    parsed.width = 2 * kW, parsed.height = kH, parsed.fillColor = kBackground;
    qmDisplay *d = nullptr;
    if (CreateDisplayCore(L, &parsed, {1, 0}, &d)) return;
    MakeDisplayCurrent(L, d);
    if (OpenDisplayWindow(L, d, 0)) return;
    scene = GetScene(L);
    if (SwitchLayersOn(d)) return;

    qmObjectId animId{1, 0};
    qmAnim *anim = nullptr;
    if (NewBlankAnim(scene->objects, &animId, kW, kH, 2, 0, 0, 0, 0, &anim)) return;
    Paint(anim->bitmaps[0], 0);
    Paint(anim->bitmaps[1], 1);
    qmImageRequest animReq{};
    animReq.id = animId;
    if (DrawAnimFrame(scene, anim, 1, &animReq)) return;
    animLayer = PictureLayerAt(scene, scene->picture, 1);

    qmObjectId brushId{2, 0};
    qmBrush *brush = nullptr;
    if (CreateBrushNode(scene->objects, &brushId, kW, kH, 0, 0, 0, 0, 1, &brush)) return;
    Paint(brush->bitmap, 0);
    qmImageRequest brushReq{};
    brushReq.kind = QMTYPE_BRUSH;
    brushReq.id = brushId;
    brushReq.x = kW;
    if (DisplayImageCore(scene, &brushReq)) return;
    brushLayer = GetNthLayer(scene->picture, 2);
    spare.bitmap = AllocBitmap(kW, kH);
    if (!animLayer || !brushLayer || !spare.bitmap) return;
    Paint(spare.bitmap, 1);
    PushPendingWindowUpdates();
    display = d;
  }
  ~Sides() { FreePlaneSet(&spare); }
  // The playback's step: the layer's next frame.
  void AnimStep() {
    SetPictureLayerFrame(scene, animLayer, 0);
    PushPendingWindowUpdates();
  }
  void BrushSwap() {
    SwapLayerPicture(scene, brushLayer, &spare, 0);
    PushPendingWindowUpdates();
  }
};

void AnimLayerStep(benchmark::State &state) {
  Sides s;
  if (!s.display) {
    state.SkipWithError("no display");
    return;
  }
  // Once: both show their second picture, which must be equal.
  s.AnimStep();
  s.BrushSwap();
  const qmBitmap *shown = s.display->layerBuffer;
  for (int y = 0; y < kH; y++)
    for (int x = 0; x < kW; x++)
      if (GetBitmapPixel(shown, x, y, 0) != GetBitmapPixel(shown, kW + x, y, 0) ||
          GetBitmapPixel(shown, x, y, 0) != PatternPixel(1, x, y)) {
        state.SkipWithError("the anim layer does not show what the brush layer shows");
        return;
      }
  qmSideBySide rounds;
  for (auto _ : state) rounds.Round(state, [&] { s.AnimStep(); }, [&] { s.BrushSwap(); });
  rounds.Report(state, "brush_swap");
}

}  // namespace

BENCHMARK(AnimLayerStep)->UseManualTime()->Unit(benchmark::kMillisecond);
