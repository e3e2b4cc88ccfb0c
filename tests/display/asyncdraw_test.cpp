// Asynchronous draw objects on a bare scene with a counting producer: the frame protocol with
// its jumps and errors, the double-buffer bracket, the queries other libraries make, and that
// every object's free callback runs exactly once however it ends.
#include "display/asyncdraw.h"

#include <gtest/gtest.h>

#include "display/bgpic.h"
#include "display/dirtyrects.h"
#include "display/display.h"
#include "display/displayops.h"
#include "display/scene.h"
#include "runtime/errcodes.h"
#include "runtime/objlist.h"
#include "tests/display/asyncdraw_producer.h"

namespace {

struct AsyncScene : ::testing::Test {
  qmObjectRegistry *objects = nullptr;
  qmScene *scene = nullptr;
  qmDisplay *one = nullptr, *two = nullptr;
  qmBGPic picture{};

  void SetUp() override {
    ASSERT_EQ(NewObjectRegistry(nullptr, &objects), 0u);
    ASSERT_EQ(NewScene(objects, &scene), 0u);
    one = NewDisplayRecord(1);
    two = NewDisplayRecord(2);
    ASSERT_TRUE(one && two);
    one->layersOn = 1;
    picture.unscaledWidth = 320;
    picture.unscaledHeight = 200;
    scene->current = one;
    scene->picture = &picture;
  }
  void TearDown() override {
    FreeAllAsyncDraws(scene);
    EXPECT_EQ(CountObjectsOfType(objects, QMTYPE_ASYNCDRAW), 0u);
    FreeDirtyRects(one);
    FreeDisplayRecord(one);
    FreeDisplayRecord(two);
    FreeScene(scene);
    FreeObjectRegistry(objects);
  }
  bool Listed(const qmAsyncDraw *ad) const {
    for (qmObjectHeader *h = FirstObject(objects, QMTYPE_ASYNCDRAW); h; h = h->next)
      if (h == &ad->head) return true;
    return false;
  }
  // One AsyncDrawFrame step: the code and the command's answer.
  std::pair<uint32_t, int32_t> Step(qmAsyncDraw *ad) {
    int32_t result = -1;
    const uint32_t code = AdvanceAsyncDraw(scene, ad, 0, 0, &result);
    return {code, result};
  }
  std::pair<uint32_t, int32_t> Jump(qmAsyncDraw *ad, double frame) {
    int32_t result = -1;
    const uint32_t code = AdvanceAsyncDraw(scene, ad, 1, frame, &result);
    return {code, result};
  }
};

TEST_F(AsyncScene, FramesRunThenTheNextCallEndsAndTheIdIsGone) {
  FakeProducer p;
  qmAsyncDraw *ad = p.Start(scene);
  ASSERT_NE(ad, nullptr);
  EXPECT_EQ(ad->display, one);
  EXPECT_EQ(ad->head.type, uint32_t(QMTYPE_ASYNCDRAW));
  EXPECT_EQ(ad->head.handle, reinterpret_cast<uintptr_t>(ad));
  const qmObjectId id{0, ad->head.handle};
  for (int i = 1; i <= 3; i++) {
    EXPECT_EQ(Step(ad), std::make_pair(0u, 0)) << "frame " << i;  // even the last frame answers False
    EXPECT_EQ(p.frames, i);
  }
  EXPECT_EQ(ad->finished, 1);
  EXPECT_EQ(p.finishes + p.frees, 0);
  EXPECT_EQ(Step(ad), std::make_pair(0u, 1));  // ends: True
  EXPECT_EQ(p.frames, 3);
  EXPECT_EQ(p.finishes, 1);
  EXPECT_EQ(p.finishFlag, 1);
  EXPECT_EQ(p.frees, 1);
  EXPECT_EQ(p.freeFlag, 1);
  qmAsyncDraw *found = nullptr;
  EXPECT_EQ(FindAsyncDraw(scene, &id, &found), uint32_t(ERR_FINDARRAY));
  const qmObjectId number{5, 0};
  EXPECT_EQ(FindAsyncDraw(scene, &number, &found), uint32_t(ERR_FINDASYNCDRAW));
}

TEST_F(AsyncScene, FrameArguments) {
  struct Case {
    const char *name;
    int32_t current;  // before the call, of 10 frames
    int32_t finished;
    double frame;
    uint32_t code;
    int32_t result;
    int32_t frames, seeks, redraws;  // what the producer was asked to do
    int32_t after;                   // its frame afterwards
    bool ended;
  } cases[] = {
      {"0 draws the next frame", 4, 0, 0, 0, 0, 1, 0, 0, 5, false},
      {"0 before the first frame is the current one", 0, 0, 0, 0, 0, 0, 0, 0, 0, false},
      {"negative is 0", 4, 0, -3, 0, 0, 1, 0, 0, 5, false},
      {"current + 1 draws one frame", 4, 0, 5, 0, 0, 1, 0, 0, 5, false},
      {"fraction truncated to current + 1", 4, 0, 5.9, 0, 0, 1, 0, 0, 5, false},
      {"the current frame draws nothing", 4, 0, 4, 0, 0, 0, 0, 0, 4, false},
      {"a jump forward seeks and redraws", 4, 0, 8, 0, 0, 0, 1, 1, 8, false},
      {"a jump back seeks and redraws", 6, 0, 2, 0, 0, 0, 1, 1, 2, false},
      {"a jump to the last frame answers True", 4, 0, 10, 0, 1, 0, 1, 1, 10, false},
      {"beyond the total", 4, 0, 11, ERR_ANIMFRAME, 0, 0, 0, 0, 4, false},
      {"far beyond the total", 4, 0, 1e30, ERR_ANIMFRAME, 0, 0, 0, 0, 4, false},
      {"finished: 0 ends", 10, 1, 0, 0, 1, 0, 0, 0, 10, true},
      {"finished: beyond the total ends", 10, 1, 12, 0, 1, 0, 0, 0, 10, true},
      {"finished: a frame inside seeks", 10, 1, 3, 0, 0, 0, 1, 1, 3, false},
  };
  for (const Case &c : cases) {
    FakeProducer p;
    p.total = 10;
    p.current = c.current;
    qmAsyncDraw *ad = p.Start(scene);
    ad->finished = c.finished;
    EXPECT_EQ(Jump(ad, c.frame), std::make_pair(c.code, c.result)) << c.name;
    EXPECT_EQ(p.frames, c.frames) << c.name;
    EXPECT_EQ(p.seeks, c.seeks) << c.name;
    EXPECT_EQ(p.redraws, c.redraws) << c.name;
    EXPECT_EQ(p.current, c.after) << c.name;
    EXPECT_EQ(p.frees, c.ended ? 1 : 0) << c.name;
    if (!c.ended) {
      EXPECT_TRUE(Listed(ad)) << c.name;
      EXPECT_EQ(ad->finished, c.result) << c.name;  // a jump leaves it finished exactly at the last frame
      CancelAsyncDrawObject(scene, ad);
    }
    EXPECT_EQ(p.frees, 1) << c.name;
  }
}

TEST_F(AsyncScene, JumpsNeedLayersAndAControlCallback) {
  FakeProducer p;
  qmAsyncDraw *ad = p.Start(scene);
  one->layersOn = 0;
  EXPECT_EQ(Jump(ad, 2).first, uint32_t(ERR_NOLAYERS));
  EXPECT_TRUE(p.ops.empty());
  EXPECT_EQ(p.frames, 0);
  EXPECT_EQ(Step(ad), std::make_pair(0u, 0));  // a plain step needs no layers
  one->layersOn = 1;

  // Without a control callback there are no frames to jump to; frame 0 is the current one.
  FakeProducer bare;
  bare.withControl = false;
  bare.withFinish = false;
  qmAsyncDraw *b = bare.Start(scene);
  EXPECT_EQ(Jump(b, 1).first, uint32_t(ERR_ANIMFRAME));
  EXPECT_EQ(Jump(b, 0), std::make_pair(0u, 0));
  EXPECT_EQ(bare.frames, 0);
  EXPECT_EQ(Step(b), std::make_pair(0u, 0));
  EXPECT_EQ(bare.frames, 1);
  bare.current = bare.total;
  b->finished = 1;
  EXPECT_EQ(Step(b), std::make_pair(0u, 1));  // no finish callback: it ends all the same
  EXPECT_EQ(bare.frees, 1);
  EXPECT_EQ(bare.freeFlag, 1);
  CancelAsyncDrawObject(scene, ad);
}

TEST_F(AsyncScene, CallbackErrorsPassAndTheObjectStays) {
  FakeProducer p;
  p.total = 10;
  qmAsyncDraw *ad = p.Start(scene);
  p.frameError = ERR_MEM;
  EXPECT_EQ(Step(ad).first, uint32_t(ERR_MEM));
  EXPECT_EQ(Jump(ad, 1).first, uint32_t(ERR_MEM));
  p.frameError = 0;
  p.seekError = ERR_LOCKBMAP;
  EXPECT_EQ(Jump(ad, 7).first, uint32_t(ERR_LOCKBMAP));
  EXPECT_EQ(p.redraws, 0);
  EXPECT_TRUE(Listed(ad));
  EXPECT_EQ(p.frees, 0);
  p.seekError = 0;
  EXPECT_EQ(Step(ad), std::make_pair(0u, 0));  // still usable
  EXPECT_EQ(p.frames, 1);
  CancelAsyncDrawObject(scene, ad);
}

TEST_F(AsyncScene, FinishAndCancelFlags) {
  struct Case {
    const char *name;
    int32_t framesFirst;  // of 3
    bool cancel;
    int32_t finishes, finishFlag, freeFlag;
  } cases[] = {
      {"finish midway", 1, false, 1, 0, 0},
      {"finish after the last frame", 3, false, 1, 1, 1},
      {"cancel midway", 1, true, 0, -1, 0},
      {"cancel after the last frame", 3, true, 0, -1, 0},
  };
  for (const Case &c : cases) {
    FakeProducer p;
    qmAsyncDraw *ad = p.Start(scene);
    for (int i = 0; i < c.framesFirst; i++) Step(ad);
    if (c.cancel)
      CancelAsyncDrawObject(scene, ad);
    else
      FinishAsyncDrawObject(scene, ad);
    EXPECT_EQ(p.finishes, c.finishes) << c.name;
    EXPECT_EQ(p.finishFlag, c.finishFlag) << c.name;
    EXPECT_EQ(p.frees, 1) << c.name;
    EXPECT_EQ(p.freeFlag, c.freeFlag) << c.name;
    EXPECT_EQ(CountObjectsOfType(objects, QMTYPE_ASYNCDRAW), 0u) << c.name;
  }
}

TEST_F(AsyncScene, DoubleBufferFramesAreBracketedAndMarkTheDrawnLayer) {
  static int layerTag;  // stands for a layer record
  qmLayerHooks hooks{};
  hooks.layerBounds = [](const void *layer, int32_t *x, int32_t *y, int32_t *w, int32_t *h) {
    EXPECT_EQ(layer, &layerTag);
    *x = 10, *y = 20, *w = 30, *h = 40;
  };
  scene->layerHooks = &hooks;
  qmBGPic drawBuffer{};
  drawBuffer.unscaledWidth = 320;
  drawBuffer.unscaledHeight = 200;
  one->doubleBuffer = 1;
  one->doubleBufferBGPic = &drawBuffer;
  one->outputType = DISPOUT_BRUSH;
  scene->picture = &drawBuffer;
  ASSERT_EQ(ResetDirtyRects(one), 0u);

  FakeProducer p;
  p.total = 10;
  p.drawn = &layerTag;
  qmAsyncDraw *ad = p.Start(scene);
  EXPECT_EQ(Step(ad), std::make_pair(0u, 0));
  using Op = std::pair<int32_t, intptr_t>;
  EXPECT_EQ(p.ops, (std::vector<Op>{{ADOP_DOUBLEBUFFER, 1}, {ADOP_DOUBLEBUFFER, 0}, {ADOP_DRAWNOBJECT, 0}}));
  ASSERT_EQ(one->dirtyCount, 1);
  EXPECT_EQ(one->dirtyRects[0].x1, 10);
  EXPECT_EQ(one->dirtyRects[0].y1, 20);
  EXPECT_EQ(one->dirtyRects[0].x2, 39);
  EXPECT_EQ(one->dirtyRects[0].y2, 59);

  // A failing frame still closes the bracket, and marks nothing.
  p.ops.clear();
  p.frameError = ERR_MEM;
  EXPECT_EQ(Step(ad).first, uint32_t(ERR_MEM));
  EXPECT_EQ(p.ops, (std::vector<Op>{{ADOP_DOUBLEBUFFER, 1}, {ADOP_DOUBLEBUFFER, 0}}));
  p.frameError = 0;

  // A jump on the double buffer marks the layer instead of redrawing the display.
  one->dirtyCount = 0;
  EXPECT_EQ(Jump(ad, 6), std::make_pair(0u, 0));
  EXPECT_EQ(p.redraws, 0);
  EXPECT_EQ(one->dirtyCount, 1);

  // A brush selected while double-buffered is refused.
  scene->picture = &picture;
  EXPECT_EQ(CheckAsyncDrawOutput(scene), uint32_t(ERR_ENDDOUBLEBUFFER));
  scene->layerHooks = nullptr;
  CancelAsyncDrawObject(scene, ad);
}

TEST_F(AsyncScene, OutputChecks) {
  qmBGPic selected{};
  qmBGPic drawBuffer{};
  struct Case {
    const char *name;
    uint32_t outputType, doubleBuffer;
    bool onDrawBuffer;
    uint32_t selectedType;
    uint32_t code;
  } cases[] = {
      {"the display", DISPOUT_DISPLAY, 0, false, 0, 0},
      {"the double buffer", DISPOUT_BRUSH, 1, true, 0, 0},
      {"a brush", DISPOUT_BRUSH, 0, false, QMTYPE_BRUSH, ERR_SELECTBRUSH},
      {"an anim", DISPOUT_BRUSH, 0, false, QMTYPE_ANIM, ERR_SELECTANIM},
      {"a brush while double-buffered", DISPOUT_BRUSH, 1, false, QMTYPE_BRUSH, ERR_ENDDOUBLEBUFFER},
      {"an anim while double-buffered", DISPOUT_BRUSH, 1, false, QMTYPE_ANIM, ERR_ENDDOUBLEBUFFER},
      {"a mask", DISPOUT_MASK, 0, false, QMTYPE_BRUSH, ERR_SELECTMASK},
      {"an alpha channel", DISPOUT_ALPHA, 0, false, QMTYPE_BRUSH, ERR_SELECTALPHACHANNEL},
      {"a mask while double-buffered", DISPOUT_MASK, 1, false, QMTYPE_BRUSH, ERR_SELECTMASK},
  };
  for (const Case &c : cases) {
    one->outputType = c.outputType;
    one->doubleBuffer = c.doubleBuffer;
    one->doubleBufferBGPic = &drawBuffer;
    selected.selectedType = c.selectedType;
    one->selectBGPic = c.selectedType ? &selected : nullptr;
    scene->picture = c.onDrawBuffer ? &drawBuffer : &selected;
    EXPECT_EQ(CheckAsyncDrawOutput(scene), c.code) << c.name;
  }
  one->outputType = DISPOUT_DISPLAY;
  one->doubleBuffer = 0;
  one->doubleBufferBGPic = nullptr;
  one->selectBGPic = nullptr;
  scene->picture = &picture;
}

TEST_F(AsyncScene, QueriesOfOtherLibraries) {
  static int layerA, layerB, pictureA, pictureB;
  FakeProducer anim, fx1, fx2, bare;
  anim.pending = &pictureA;  // not a transition: never asked
  fx1.drawn = &layerA;
  fx2.drawn = &layerB;
  fx2.pending = &pictureB;
  bare.withControl = false;
  EXPECT_EQ(IsDisplayInAsyncDraw(scene, one), 0);
  EXPECT_EQ(QueryPendingAsyncDraw(scene), nullptr);
  anim.Start(scene, ADF_ANIM);
  fx1.Start(scene);
  scene->current = two;
  fx2.Start(scene);
  bare.Start(scene, ADF_MOVEOBJECT);
  scene->current = one;

  EXPECT_EQ(IsDisplayInAsyncDraw(scene, one), 1);
  EXPECT_EQ(IsDisplayInAsyncDraw(scene, two), 1);
  EXPECT_EQ(QueryPendingAsyncDraw(scene), &pictureB);
  EXPECT_EQ(anim.CountOps(ADOP_PENDINGPICTURE), 0);
  EXPECT_EQ(IsObjectInAsyncDraw(scene, &layerB), 1);
  EXPECT_EQ(IsObjectInAsyncDraw(scene, &layerA), 1);
  EXPECT_EQ(IsObjectInAsyncDraw(scene, &pictureA), 0);
  EXPECT_EQ(IsObjectInAsyncDraw(scene, nullptr), 0);  // nobody draws "nothing"

  EXPECT_EQ(BroadcastAsyncDraws(scene, ADOP_LAYERCHANGED, reinterpret_cast<intptr_t>(&layerA)), 0u);
  for (FakeProducer *p : {&anim, &fx1, &fx2}) {
    ASSERT_FALSE(p->ops.empty());
    EXPECT_EQ(p->ops.back(), std::make_pair(int32_t(ADOP_LAYERCHANGED), reinterpret_cast<intptr_t>(&layerA)));
  }

  // Display two closes: its objects end, once, and the other display's stay.
  EndDisplayAsyncDraws(scene, two);
  EXPECT_EQ(fx2.frees, 1);
  EXPECT_EQ(fx2.freeFlag, 0);
  EXPECT_EQ(fx2.finishes, 0);
  EXPECT_EQ(bare.frees, 1);
  EXPECT_EQ(IsDisplayInAsyncDraw(scene, two), 0);
  EXPECT_EQ(IsDisplayInAsyncDraw(scene, one), 1);
  EXPECT_EQ(anim.frees + fx1.frees, 0);
  FreeAllAsyncDraws(scene);
  for (FakeProducer *p : {&anim, &fx1, &fx2, &bare}) {
    EXPECT_EQ(p->frees, 1);
    EXPECT_EQ(p->freeFlag, 0);
  }
  FreeAllAsyncDraws(scene);  // an empty list is fine
}

// A producer whose callbacks end other objects (a layer it destroys takes a display with it,
// say) must not make any callback run twice or on a freed record.
TEST_F(AsyncScene, EndingsInsideCallbacks) {
  struct Nesting : FakeProducer {
    qmScene *scene = nullptr;
    const qmDisplay *display = nullptr;
  };
  static Nesting *first;
  Nesting a, b, c;
  for (Nesting *n : {&a, &b, &c}) n->scene = scene, n->display = one;
  first = &a;
  qmAsyncDraw *ra = nullptr;
  // a's finish and free callbacks end every object of the display, a itself included.
  auto endAll = [](void *ud, int32_t flag) {
    auto *n = static_cast<Nesting *>(ud);
    if (n->frees) ADD_FAILURE() << "callback after free";
    if (n == first && n->finishes == 0) {
      n->finishes++;
      n->finishFlag = flag;
      EndDisplayAsyncDraws(n->scene, n->display);
      return;
    }
    n->frees++;
    n->freeFlag = flag;
    if (n == first) FreeAllAsyncDraws(n->scene);
  };
  ASSERT_EQ(CreateAsyncDraw(scene, ADF_FX, FakeProducer::Frame, 0, endAll, endAll, FakeProducer::Control, &a, &ra),
            0u);
  b.Start(scene);
  c.Start(scene);
  FinishAsyncDrawObject(scene, ra);
  for (Nesting *n : {&a, &b, &c}) EXPECT_EQ(n->frees, 1);
  EXPECT_EQ(a.finishes, 1);
  EXPECT_EQ(CountObjectsOfType(objects, QMTYPE_ASYNCDRAW), 0u);
}

TEST_F(AsyncScene, CreateWithoutAListFails) {
  scene->objects = nullptr;
  FakeProducer p;
  qmAsyncDraw *ad = reinterpret_cast<qmAsyncDraw *>(1);
  EXPECT_EQ(CreateAsyncDraw(scene, ADF_FX, FakeProducer::Frame, 0, nullptr, FakeProducer::Free, nullptr, &p, &ad),
            uint32_t(ERR_MEM));
  EXPECT_EQ(ad, nullptr);
  EXPECT_EQ(p.frees, 0);
  scene->objects = objects;
}

}  // namespace
