// Transitions driven from the script's loop as asynchronous draw objects: frame by frame, sent
// to other frames, finished and cancelled, against the frames of the same transition run at
// once; and the end of one whose display closes.
#include "display/asyncdraw.h"
#include "layers/layer.h"
#include "runtime/errcodes.h"
#include "runtime/objlist.h"
#include "tests/transitions/fx_vm.h"
#include "transitions/fxasync.h"
#include "transitions/fxrunner.h"
#include "transitions/fxtable.h"

namespace {

struct Case {
  const char *name;
  int32_t effect, speed;
};

const Case kCases[] = {
    {"stripes replay their frames", FX_HSTRIPES, 3},
    {"crossfade draws any frame at once", FX_CROSSFADE, 30},
    {"a stretch draws any frame at once", FX_STRETCHLEFT, 3},
    {"a zoom draws any frame at once", FX_ZOOMCENTER, 3},
    {"pixel zoom draws any frame at once", FX_PIXELZOOM1, FX_NORMALSPEED},
    {"water draws any frame at once", FX_WATER1, 5},
    {"strudel draws any frame at once", FX_STRUDEL, 16},
    {"fade draws any frame at once", FX_FADE, 40},
    {"blend draws any frame at once", FX_BLEND, 40},
    {"dissolve draws any frame from its reveal times", FX_DISSOLVE, 8},
    {"sun draws any frame from its size", FX_SUN, FX_SLOWSPEED},
    {"star draws any frame from its size", FX_STAR, FX_NORMALSPEED},
    {"clock wipe walks its hand to any frame", FX_CLOCKWIPE, FX_SLOWSPEED},
    {"roll draws any frame from its edge", FX_ROLLLEFT, FX_NORMALSPEED},
    {"wallpaper draws any frame from its edge", FX_WALLPAPERLEFT, FX_NORMALSPEED},
};

// A display with layers and the brush of seed 8 (20x10) as its hidden layer 1 at (5, 6).
struct AsyncFx : FxVm {
  AsyncFx() : FxVm(40, 30, true) {
    MakeBrush(1, 20, 10, 8);
    EXPECT_EQ(Call("DisplayBrush", {1, 5, 6}).code, 0u);
    EXPECT_EQ(Call("HideLayer", {1}).code, 0u);
    StartCapture();
  }
  // ShowLayerFX(1, {type, speed, async}); the draw object, or null.
  qmAsyncDraw *Start(const Case &c, int32_t async) {
    CommandCall r = CallWith("showlayerfx", [&] {
      vm_pushnumber(L, 1);
      vm_newtable(L);
      Set("type", c.effect);
      Set("speed", c.speed);
      Set("async", async);
      return 2;
    });
    EXPECT_EQ(r.code, 0u);
    return async && r.code == 0 ? reinterpret_cast<qmAsyncDraw *>(FirstObject(Scene()->objects, QMTYPE_ASYNCDRAW)) : nullptr;
  }
  // AsyncDrawFrame(ad [, frame]): the command's answer.
  int32_t Advance(qmAsyncDraw *ad, int32_t hasFrame = 0, double frame = 0) {
    int32_t result = -1;
    EXPECT_EQ(AdvanceAsyncDraw(Scene(), ad, hasFrame, frame, &result), 0u);
    return result;
  }
};

TEST(AsyncTransitions, FramesMatchTheSynchronousRun) {
  for (const Case &c : kCases) {
    SCOPED_TRACE(c.name);
    std::vector<std::vector<uint32_t>> sync;
    {
      AsyncFx vm;
      vm.Start(c, 0);
      sync = FxVm::Frames();
    }
    ASSERT_GE(sync.size(), 6u);
    const int32_t total = int32_t(sync.size());

    AsyncFx vm;
    const std::vector<uint32_t> before = vm.Window();
    qmAsyncDraw *ad = vm.Start(c, 1);
    ASSERT_NE(ad, nullptr);
    EXPECT_EQ(vm.Window(), before) << "nothing is drawn before the first frame is asked for";
    EXPECT_EQ(ad->control(ADOP_FRAMECOUNT, 0, ad->userData), total);

    for (int32_t k = 1; k <= 5; k++) {
      ASSERT_EQ(vm.Advance(ad), 0);
      ASSERT_EQ(vm.Window(), sync[size_t(k) - 1]) << "frame " << k;
    }
    EXPECT_EQ(vm.Advance(ad, 1, 2), 0);
    EXPECT_EQ(vm.Window(), sync[1]) << "back to frame 2";
    EXPECT_EQ(vm.Advance(ad, 1, 4), 0);
    EXPECT_EQ(vm.Window(), sync[3]) << "forward to frame 4";
    EXPECT_EQ(vm.Advance(ad), 0);
    EXPECT_EQ(vm.Window(), sync[4]) << "frame 5 after the jumps";
    // Finished at once from there: the last picture, the layer shown, the object gone.
    FinishAsyncDrawObject(vm.Scene(), ad);
    EXPECT_EQ(vm.Window(), sync.back());
    EXPECT_EQ(GetNthLayer(vm.d->bgpic, 1)->hidden, 0);
    EXPECT_EQ(FirstObject(vm.Scene()->objects, QMTYPE_ASYNCDRAW), nullptr);
    EXPECT_TRUE(FxVm::Frames().empty()) << "no frame end was waited for";
  }
}

TEST(AsyncTransitions, RunToTheEndThenFreedByTheNextCall) {
  std::vector<std::vector<uint32_t>> sync;
  {
    AsyncFx once;
    once.Start(kCases[0], 0);
    sync = FxVm::Frames();
  }
  AsyncFx vm;
  qmAsyncDraw *ad = vm.Start(kCases[0], 1);
  ASSERT_NE(ad, nullptr);
  for (size_t k = 0; k < sync.size(); k++) ASSERT_EQ(vm.Advance(ad), 0) << k;
  EXPECT_EQ(vm.Window(), sync.back());
  EXPECT_EQ(vm.Advance(ad), 1) << "the call after the last frame ends it";
  EXPECT_EQ(FirstObject(vm.Scene()->objects, QMTYPE_ASYNCDRAW), nullptr);
  EXPECT_EQ(GetNthLayer(vm.d->bgpic, 1)->hidden, 0);
}

TEST(AsyncTransitions, CancelledHalfWayHidesTheLayerAgain) {
  AsyncFx vm;
  const std::vector<uint32_t> before = vm.Window();
  qmAsyncDraw *ad = vm.Start(kCases[0], 1);
  ASSERT_NE(ad, nullptr);
  vm.Advance(ad);
  vm.Advance(ad);
  EXPECT_NE(vm.Window(), before);
  EXPECT_EQ(vm.Call("ShowLayerFX", {1, FX_HSTRIPES}).code, uint32_t(ERR_ALREADYASYNC)) << "one transition a layer";
  // The layer stays while the transition draws it.
  EXPECT_EQ(vm.Call("RemoveLayer", {1}).code, uint32_t(ERR_REMADLAYER));
  EXPECT_EQ(vm.Call("Undo", {3, 1}).code, uint32_t(ERR_REMADLAYER));
  EXPECT_EQ(vm.Call("Cls", {}).code, uint32_t(ERR_REMADLAYER));
  ASSERT_EQ(CountLayers(vm.d->bgpic), 1);
  CancelAsyncDrawObject(vm.Scene(), ad);
  EXPECT_EQ(vm.Window(), before);
  EXPECT_EQ(GetNthLayer(vm.d->bgpic, 1)->hidden, 1);
}

TEST(AsyncTransitions, ClosingTheDisplayEndsTheTransition) {
  AsyncFx vm;
  qmAsyncDraw *ad = vm.Start(kCases[1], 1);
  ASSERT_NE(ad, nullptr);
  vm.Advance(ad);
  FxFrames::display = nullptr;
  ASSERT_EQ(vm.Call("CloseDisplay", {1}).code, 0u);
  EXPECT_EQ(FirstObject(vm.Scene()->objects, QMTYPE_ASYNCDRAW), nullptr);
}

TEST(AsyncTransitions, BackgroundPicturesAreNeverAsynchronous) {
  AsyncFx vm;
  vm.MakeBGPic(2, 40, 30, 3);
  CommandCall r = vm.CallWith("displaytransitionfx", [&] {
    vm_pushnumber(vm.L, 2);
    vm_newtable(vm.L);
    vm.Set("async", 1);
    return 2;
  });
  EXPECT_EQ(r.code, uint32_t(ERR_WRONGUSAGE));
  EXPECT_EQ(FirstObject(vm.Scene()->objects, QMTYPE_ASYNCDRAW), nullptr);
}

}  // namespace
