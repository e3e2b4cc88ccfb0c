// Transitions driven from the script's loop as asynchronous draw objects: frame by frame, sent
// to other frames, finished and cancelled, against the frames of the same transition run at
// once; refreshed, moved, changed and replaced between frames; and the end of one whose display closes.
#include <cstdlib>

#include "display/asyncdraw.h"
#include "display/displayops.h"
#include "display/safeblt.h"
#include "layers/layer.h"
#include "layers/redraw.h"
#include "runtime/errcodes.h"
#include "runtime/objlist.h"
#include "tests/transitions/fx_vm.h"
#include "transitions/effects/fxroutines.h"
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
    {"up-and-down replays its frames", FX_UPNDOWN, 3},
    {"a flow from the left draws any frame at once", FX_VFLOWLEFT, 3},
    {"a flow from the bottom draws any frame at once", FX_HFLOWBOTTOM, 1},
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
    // Random stripe sizes and reveal times: every run of a case draws the same.
    std::srand(11);
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

TEST(AsyncTransitions, ARefreshBetweenFramesShowsThePartDrawnSoFar) {
  for (const Case &c : kCases) {
    SCOPED_TRACE(c.name);
    AsyncFx vm;
    const std::vector<uint32_t> before = vm.Window();
    qmAsyncDraw *ad = vm.Start(c, 1);
    ASSERT_NE(ad, nullptr);
    vm.Advance(ad);
    vm.Advance(ad);
    const std::vector<uint32_t> drawn = vm.Window();
    ASSERT_NE(drawn, before);
    qmLayer *layer = GetNthLayer(vm.d->bgpic, 1);
    RefreshLayer(vm.Scene(), layer);
    EXPECT_EQ(vm.Window(), drawn) << "the layer shows what the frames drew, no more";
    // A display refresh over the whole window, as after an expose, the same.
    RedrawDisplayRect(vm.Scene(), vm.d, 0, 0, vm.width, vm.height);
    BltToDisplay(vm.d->layerBuffer, 0, 0, vm.d, 0, 0, vm.width, vm.height, 0);
    EXPECT_EQ(vm.Window(), drawn);
    // Neither the layer's shown nor its whole picture: some of each.
    int layerPixels = 0, backdropPixels = 0;
    for (int y = 6; y < 16; y++)
      for (int x = 5; x < 25; x++) {
        const uint32_t p = drawn[size_t(y) * vm.width + x];
        layerPixels += p == FxVm::Pattern(8, x - 5, y - 6);
        backdropPixels += p == 0x102030;
      }
    if (FindFxRoutines(c.effect)->family & FXFAMILY_PIECEREVEAL) {
      EXPECT_GT(layerPixels, 0);
      EXPECT_GT(backdropPixels, 0);
    } else if (c.effect == FX_PIXELZOOM1) {
      EXPECT_EQ(backdropPixels, 0) << "coarse blocks of the layer cover it whole";
    } else if ((c.effect >= FX_ROLLTOP && c.effect <= FX_WALLPAPERLEFT) || c.effect == FX_STRETCHLEFT ||
               c.effect == FX_ZOOMCENTER) {
      EXPECT_GT(backdropPixels, 0) << "a roll or a stretch has only begun";
    } else if (IsAlphaFx(c.effect)) {
      EXPECT_EQ(layerPixels + backdropPixels, 0) << "a blend mixes every pixel";
    }
    FinishAsyncDrawObject(vm.Scene(), ad);
  }
}

TEST(AsyncTransitions, AMovedLayerIsDrawnWhereItStands) {
  AsyncFx vm;
  qmAsyncDraw *ad = vm.Start(kCases[0], 1);
  ASSERT_NE(ad, nullptr);
  vm.Advance(ad);
  ASSERT_EQ(vm.Call("TranslateLayer", {1, 10, 8}).code, 0u);
  while (vm.Advance(ad) == 0) {
  }
  for (int y = 0; y < 10; y++)
    for (int x = 0; x < 20; x++)
      ASSERT_EQ(DisplayVm::WindowPixel(vm.d, 15 + x, 14 + y), FxVm::Pattern(8, x, y)) << x << "," << y;
  EXPECT_EQ(DisplayVm::WindowPixel(vm.d, 5, 6), 0x102030u) << "nothing is left where it stood";
}

TEST(AsyncTransitions, ALayerChangedHalfWayIsFollowed) {
  // HSTRIPES8 at normal speed takes one column a frame: 20 frames on 20 columns, 40 on 40.
  struct Row {
    const char *name;
    std::function<uint32_t(AsyncFx &)> change;
    int32_t frameCount, frameAfter;
  };
  const Row rows[] = {
      {"scaled to twice its size: frame 10 of 20 becomes 20 of 40",
       [](AsyncFx &vm) { return vm.Call("ScaleLayer", {1, 40, 20}).code; }, 40, 20},
      {"filtered: the same frames",
       [](AsyncFx &vm) {
         return vm.CallWith("setlayerstyle", [&] {
           vm_pushnumber(vm.L, 1);
           vm_newtable(vm.L);
           vm_pushstring(vm.L, "filters");
           vm_newtable(vm.L);
           vm_newtable(vm.L);
           vm.SetText("name", "invert");
           vm_rawseti(vm.L, -2, 0);
           vm_settable(vm.L, -3);
           return 2;
         }).code;
       },
       20, 10},
  };
  const Case stripes8{"stripes of 8", 3, FX_NORMALSPEED};
  for (const Row &r : rows) {
    SCOPED_TRACE(r.name);
    // The changed layer's own transition, driven to the frame the follow lands on, and its end.
    std::vector<uint32_t> atFrame, plain;
    {
      AsyncFx vm;
      ASSERT_EQ(vm.Call("ShowLayer", {1}).code, 0u);
      ASSERT_EQ(r.change(vm), 0u);
      plain = vm.Window();
      ASSERT_EQ(vm.Call("HideLayer", {1}).code, 0u);
      qmAsyncDraw *ad = vm.Start(stripes8, 1);
      ASSERT_NE(ad, nullptr);
      ASSERT_EQ(ad->control(ADOP_FRAMECOUNT, 0, ad->userData), r.frameCount);
      for (int32_t k = 0; k < r.frameAfter; k++) vm.Advance(ad);
      atFrame = vm.Window();
    }
    AsyncFx vm;
    qmAsyncDraw *ad = vm.Start(stripes8, 1);
    ASSERT_NE(ad, nullptr);
    ASSERT_EQ(ad->control(ADOP_FRAMECOUNT, 0, ad->userData), 20);
    for (int k = 0; k < 10; k++) vm.Advance(ad);
    ASSERT_EQ(r.change(vm), 0u);
    EXPECT_EQ(ad->control(ADOP_FRAMECOUNT, 0, ad->userData), r.frameCount);
    EXPECT_EQ(ad->control(ADOP_CURFRAME, 0, ad->userData), r.frameAfter);
    EXPECT_EQ(vm.Window(), atFrame) << "the changed layer, drawn as far as the transition had come";
    int32_t result = 0;
    for (int k = 0; k < 100 && !result; k++) result = vm.Advance(ad);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(vm.Window(), plain);
    EXPECT_EQ(FirstObject(vm.Scene()->objects, QMTYPE_ASYNCDRAW), nullptr);
  }
}

TEST(AsyncTransitions, ALayerReplacedByTheRecordBeforeItIsFollowed) {
  AsyncFx vm;
  // Layer 2 is the one drawn; layer 1, below it, is the record that takes its place.
  vm.MakeBrush(2, 20, 10, 5);
  ASSERT_EQ(vm.Call("InsertLayer", {1, 3, 2, 5, 6, 1}).code, 0u);
  const Case stripes8{"stripes of 8", 3, FX_NORMALSPEED};
  CommandCall r = vm.CallWith("showlayerfx", [&] {
    vm_pushnumber(vm.L, 2);
    vm_newtable(vm.L);
    vm.Set("type", stripes8.effect), vm.Set("speed", stripes8.speed), vm.Set("async", 1);
    return 2;
  });
  ASSERT_EQ(r.code, 0u);
  auto *ad = reinterpret_cast<qmAsyncDraw *>(FirstObject(vm.Scene()->objects, QMTYPE_ASYNCDRAW));
  ASSERT_NE(ad, nullptr);
  for (int k = 0; k < 4; k++) vm.Advance(ad);
  qmLayer *replaced = GetNthLayer(vm.d->bgpic, 2), *replacing = GetNthLayer(vm.d->bgpic, 1);
  ASSERT_EQ(ad->control(ADOP_REPLACELAYER, reinterpret_cast<intptr_t>(replaced), ad->userData), 0);
  EXPECT_TRUE(IsObjectInAsyncDraw(vm.Scene(), replacing));
  EXPECT_FALSE(IsObjectInAsyncDraw(vm.Scene(), replaced));
  ASSERT_EQ(vm.Call("RemoveLayer", {2}).code, 0u) << "the replaced record goes";
  EXPECT_EQ(ad->control(ADOP_CURFRAME, 0, ad->userData), 4);
  // Four columns of the even bands show the replacing layer's picture, the rest not yet.
  for (int x = 0; x < 4; x++) EXPECT_EQ(DisplayVm::WindowPixel(vm.d, 5 + x, 6), FxVm::Pattern(5, x, 0)) << x;
  EXPECT_EQ(DisplayVm::WindowPixel(vm.d, 9, 6), 0x102030u);
  int32_t result = 0;
  for (int k = 0; k < 100 && !result; k++) result = vm.Advance(ad);
  EXPECT_EQ(result, 1);
  for (int y = 0; y < 10; y++)
    for (int x = 0; x < 20; x++) ASSERT_EQ(DisplayVm::WindowPixel(vm.d, 5 + x, 6 + y), FxVm::Pattern(5, x, y));
  EXPECT_EQ(GetNthLayer(vm.d->bgpic, 1)->hidden, 0);
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

namespace {
// FreeLayers takes the layer a transition draws (it has no guard): the transition lets go of the
// layer and ends at its next frame without drawing, and what the layers showed stays.
TEST(AsyncTransitions, FreeingEveryLayerEndsTheTransition) {
  std::vector<Case> cases(std::begin(kCases), std::end(kCases));
  cases.push_back({"a scroll moves the layer itself", FX_SCROLLLEFT, 5});
  for (const Case &c : cases) {
    AsyncFx vm;
    qmAsyncDraw *ad = vm.Start(c, 1);
    ASSERT_NE(ad, nullptr) << c.name;
    vm.Advance(ad);
    vm.Advance(ad);
    ASSERT_EQ(vm.Call("FreeLayers", {}).code, 0u) << c.name;
    const std::vector<uint32_t> kept = vm.Window();
    EXPECT_EQ(vm.Advance(ad), 0) << c.name;
    EXPECT_EQ(vm.Advance(ad), 1) << c.name;
    EXPECT_EQ(CountLayers(vm.d->bgpic), 0) << c.name;
    EXPECT_EQ(vm.Window(), kept) << c.name;
  }
}
}  // namespace

namespace {
// A script batching its layer changes under SelectBGPic of the display's own picture may drive an
// asynchronous transition: the selection stays, the frames wait with the batch and EndSelect
// shows the frame reached. Every other selection, or a transition run at once, is refused.
TEST(AsyncTransitions, RunsWhileTheDisplaysOwnPictureIsSelected) {
  std::vector<std::vector<uint32_t>> sync;
  {
    AsyncFx once;
    once.Start(kCases[0], 0);
    sync = FxVm::Frames();
  }
  {
    AsyncFx vm;
    const std::vector<uint32_t> before = vm.Window();
    // SelectBGPic(Nil): the display's own picture.
    ASSERT_EQ(vm.CallWith("selectbgpic", [&] { return vm_pushnil(vm.L), 1; }).code, 0u);
    qmAsyncDraw *ad = vm.Start(kCases[0], 1);
    ASSERT_NE(ad, nullptr);
    EXPECT_EQ(vm.d->outputType, uint32_t(DISPOUT_BGPIC)) << "the selection stays";
    for (int k = 0; k < 3; k++) EXPECT_EQ(vm.Advance(ad), 0);
    EXPECT_EQ(vm.Window(), before) << "the frames wait with the batch";
    ASSERT_EQ(vm.Call("EndSelect", {}).code, 0u);
    EXPECT_EQ(vm.Window(), sync[2]) << "the end of the batch shows the third frame";
    EXPECT_EQ(vm.Advance(ad), 0);
    EXPECT_EQ(vm.Window(), sync[3]) << "with the display the output again a frame shows at once";
    CancelAsyncDrawObject(vm.Scene(), ad);
  }
  // One player at a time: each of these opens its own.
  struct Refused {
    const char *name;
    int32_t async;
    bool otherPicture;
  };
  for (const Refused &r : {Refused{"run at once", 0, false}, Refused{"another picture selected", 1, true}}) {
    SCOPED_TRACE(r.name);
    AsyncFx other;
    if (r.otherPicture) other.MakeBGPic(2, 40, 30, 3);
    if (r.otherPicture) {
      ASSERT_EQ(other.Call("SelectBGPic", {2}).code, 0u);
    } else {
      ASSERT_EQ(other.CallWith("selectbgpic", [&] { return vm_pushnil(other.L), 1; }).code, 0u);
    }
    const CommandCall c = other.CallWith("showlayerfx", [&] {
      vm_pushnumber(other.L, 1);
      vm_newtable(other.L);
      other.Set("type", FX_HSTRIPES);
      other.Set("async", r.async);
      return 2;
    });
    EXPECT_EQ(c.code, uint32_t(ERR_SELECTBG));
    EXPECT_EQ(FirstObject(other.Scene()->objects, QMTYPE_ASYNCDRAW), nullptr);
  }
}
}  // namespace
