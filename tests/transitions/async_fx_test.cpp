// A transition driven from outside, frame by frame, sent to other frames, finished and
// cancelled, against the frames of the same transition run at once.
#include "runtime/errcodes.h"
#include "tests/transitions/fx_vm.h"
#include "transitions/fxasync.h"
#include "transitions/fxrunner.h"
#include "transitions/fxtable.h"

namespace {

struct Case {
  const char *name;
  int32_t effect, speed;
};

// The brush of seed 8 (20x10) at (5, 6) of a 40x30 display, through the effect.
qmFxRequest BrushRequest(FxVm &vm, const Case &c, int32_t async) {
  qmFxRequest r{};
  r.scene = vm.Scene();
  r.objectType = FXTARGET_BRUSH;
  r.objectId = {1, 0};
  r.x = 5;
  r.y = 6;
  r.effect = c.effect;
  r.step = c.speed;
  r.parameter = 2;
  r.async = async;
  return r;
}

const Case kCases[] = {
    {"stripes replay their frames", FX_HSTRIPES, 3},
    {"crossfade draws any frame at once", FX_CROSSFADE, 30},
};

TEST(AsyncTransitions, FramesMatchTheSynchronousRun) {
  for (const Case &c : kCases) {
    SCOPED_TRACE(c.name);
    std::vector<std::vector<uint32_t>> sync;
    {
      FxVm vm(40, 30);
      vm.MakeBrush(1, 20, 10, 8);
      vm.StartCapture();
      qmFxRequest r = BrushRequest(vm, c, 0);
      ASSERT_EQ(RunTransition(&r, nullptr), 0u);
      sync = FxVm::Frames();
    }
    ASSERT_GE(sync.size(), 6u);
    const int32_t total = int32_t(sync.size());

    FxVm vm(40, 30);
    qmBrush *brush = vm.MakeBrush(1, 20, 10, 8);
    vm.StartCapture();
    qmFxRequest r = BrushRequest(vm, c, 1);
    qmFxRequest *fx = nullptr;
    ASSERT_EQ(RunTransition(&r, &fx), 0u);
    ASSERT_NE(fx, nullptr);
    EXPECT_TRUE(FxVm::Frames().empty()) << "nothing is drawn before the first frame is asked for";
    EXPECT_EQ(AsyncFxControl(FXCTL_FRAME_COUNT, 0, fx), total);
    EXPECT_EQ(brush->lock, 1u);

    int32_t done = 0;
    for (int32_t k = 1; k <= 5; k++) {
      ASSERT_EQ(AsyncFxFrame(fx, &done), 0u);
      ASSERT_EQ(vm.Window(), sync[size_t(k) - 1]) << "frame " << k;
      ASSERT_EQ(AsyncFxControl(FXCTL_CURRENT_FRAME, 0, fx), k);
    }
    // Back to frame 2, forward to frame 4, then on frame by frame from there.
    int32_t target = 2;
    ASSERT_EQ(AsyncFxControl(FXCTL_GOTO_FRAME, reinterpret_cast<intptr_t>(&target), fx), 0);
    EXPECT_EQ(vm.Window(), sync[1]) << "back to frame 2";
    target = 4;
    ASSERT_EQ(AsyncFxControl(FXCTL_GOTO_FRAME, reinterpret_cast<intptr_t>(&target), fx), 0);
    EXPECT_EQ(vm.Window(), sync[3]) << "forward to frame 4";
    ASSERT_EQ(AsyncFxFrame(fx, &done), 0u);
    EXPECT_EQ(vm.Window(), sync[4]) << "frame 5 after the jump";
    for (int32_t k = 6; k <= total && !done; k++) ASSERT_EQ(AsyncFxFrame(fx, &done), 0u);
    EXPECT_EQ(done, 1);
    EXPECT_EQ(vm.Window(), sync.back());
    FinishFx(fx, 1);
    ReleaseFxRequest(fx, 1);
    EXPECT_EQ(brush->lock, 0u);
    EXPECT_TRUE(FxVm::Frames().empty()) << "no frame end was waited for";
  }
}

TEST(AsyncTransitions, CancelledHalfWayReleasesTheObject) {
  FxVm vm(40, 30);
  qmBrush *brush = vm.MakeBrush(1, 20, 10, 8);
  qmFxRequest r = BrushRequest(vm, kCases[0], 1);
  qmFxRequest *fx = nullptr;
  ASSERT_EQ(RunTransition(&r, &fx), 0u);
  int32_t done = 0;
  ASSERT_EQ(AsyncFxFrame(fx, &done), 0u);
  ASSERT_EQ(brush->lock, 1u);
  ReleaseFxRequest(fx, 0);
  EXPECT_EQ(brush->lock, 0u);
}

}  // namespace
