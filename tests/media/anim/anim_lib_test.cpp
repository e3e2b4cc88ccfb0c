// The anim library as a script calls it, on one open display: strips cut from a brush, the
// refusals that come before any change, frames read back and shown, playback onto the display
// (synchronous and as an asynchronous draw object), and the speed map.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "display/position.h"
#include "media/animcore/anim.h"
#include "media/animcore/animload.h"
#include "media/animcore/animplay.h"
#include "runtime/errcodes.h"
#include "runtime/objlist.h"
#include "tests/display/brush/brush_vm.h"

namespace {

constexpr int kW = 40, kH = 30;

// The fixture brush: pixel (x, y) holds x | y << 8 | 0x800000.
uint32_t Pixel(int x, int y) { return uint32_t(x) | uint32_t(y) << 8 | 0x800000u; }

struct AnimVm : BrushVm {
  AnimVm() {
    std::vector<uint32_t> px;
    for (int y = 0; y < kH; y++)
      for (int x = 0; x < kW; x++) px.push_back(0xFF000000u | Pixel(x, y));
    EXPECT_EQ(FromArray(1, px, kW, kH).code, 0u);
  }
  // The colour of the anim's frame at (x, y), read through a brush made by GetAnimFrame.
  double FramePixel(double anim, int frame, int x, int y) {
    if (Call("GetAnimFrame", {99, frame, anim}).code) return -1;
    return Read(99, x, y).first;
  }
  qmAnim *Anim(uint32_t id) {
    qmObjectId oid{id, 0};
    qmAnim *a = nullptr;
    return FindAnim(GetScene(L), &oid, &a, FINDANIM_FREED) == 0 ? a : nullptr;
  }
};

TEST(AnimLib, StripsCutInRowOrder) {
  struct Case {
    const char *name;
    std::vector<CmdArg> args;  // after the new id and the brush: width, height, frames, per row, x, y
    uint32_t expected;
  } cases[] = {
      {"ten frames, four a row", {10, 10, 10, 4}, 0},
      {"from an origin", {8, 5, 6, 3, 4, 2}, 0},
      {"one row of all frames", {5, 30, 8, 0}, 0},
      {"too wide", {10, 10, 5, 5}, ERR_BRUSHSIZE},
      {"too many rows", {10, 10, 13, 4}, ERR_BRUSHSIZE},
      {"more per row than frames", {10, 10, 2, 5}, ERR_BRUSHSIZE},
      {"negative x", {10, 10, 2, 2, -1, 0}, ERR_NEGCOORDS},
      {"negative y", {10, 10, 2, 2, 0, -1}, ERR_NEGCOORDS},
      {"no frames", {10, 10, 0, 2}, ERR_WRONGUSAGE},
      {"no width", {0, 10, 2, 2}, ERR_WRONGUSAGE},
      {"missing brush", {}, ERR_FINDBRUSH},
  };
  for (const Case &c : cases) {
    AnimVm vm;
    std::vector<CmdArg> args = {2, c.args.empty() ? 7 : 1};
    args.insert(args.end(), c.args.begin(), c.args.end());
    if (c.args.empty()) args.insert(args.end(), {10, 10, 1, 1});
    EXPECT_EQ(vm.Call("CreateAnim", args).code, c.expected) << c.name;
    if (c.expected) {
      EXPECT_EQ(vm.Anim(2), nullptr) << c.name;
      continue;
    }
    qmAnim *a = vm.Anim(2);
    ASSERT_NE(a, nullptr) << c.name;
    const int fw = int(c.args[0].num), fh = int(c.args[1].num), n = int(c.args[2].num);
    const int perRow = c.args[3].num < 1 ? n : int(c.args[3].num);
    const int x0 = c.args.size() > 4 ? int(c.args[4].num) : 0, y0 = c.args.size() > 5 ? int(c.args[5].num) : 0;
    EXPECT_EQ(a->frameCount, n) << c.name;
    EXPECT_EQ(a->width, fw) << c.name;
    for (int i = 0; i < n; i++) {
      const int fx = x0 + (i % perRow) * fw, fy = y0 + (i / perRow) * fh;
      EXPECT_EQ(vm.FramePixel(2, i + 1, 0, 0), Pixel(fx, fy)) << c.name << " frame " << i + 1;
      EXPECT_EQ(vm.FramePixel(2, i + 1, fw - 1, fh - 1), Pixel(fx + fw - 1, fy + fh - 1)) << c.name;
    }
  }
}

// A raw picture whose rows lie further apart than its width is cut along its rows.
TEST(AnimLib, StripOfARawPictureStepsByItsPitch) {
  AnimVm vm;
  constexpr int w = 6, h = 4, pitch = 9;
  std::vector<uint32_t> picture(size_t(pitch) * h, 0xFFFFFFFFu);
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) picture[size_t(y) * pitch + x] = 0xFF000000u | Pixel(x, y);
  qmAnimSource s{};
  s.sourceType = QMTYPE_BRUSH;
  s.picture = picture.data();
  s.sourcePitch = pitch;
  s.sourceWidth = w, s.sourceHeight = h;
  s.frameWidth = 3, s.frameHeight = 2, s.frames = 4, s.framesPerRow = 2;
  s.argCount = 7;
  s.transparentColour = kNoTransparentColor;
  qmObjectId id{5, 0};
  ASSERT_EQ(BuildAnimFrames(GetScene(vm.L), &s, &id, nullptr), 0u);
  for (int i = 0; i < 4; i++)
    for (int y = 0; y < 2; y++)
      for (int x = 0; x < 3; x++)
        EXPECT_EQ(vm.FramePixel(5, i + 1, x, y), Pixel((i % 2) * 3 + x, (i / 2) * 2 + y)) << i << " " << x << "," << y;
}

TEST(AnimLib, RefusalsComeBeforeChanges) {
  AnimVm vm;
  ASSERT_EQ(vm.Call("CreateAnim", {2, 1, 10, 10, 3, 3}).code, 0u);
  struct Case {
    const char *name;
    const char *command;
    std::vector<CmdArg> args;
    uint32_t expected;
  } cases[] = {
      {"copy onto itself", "CopyAnim", {2, 2}, ERR_WRONGUSAGE},
      {"copy of a missing anim", "CopyAnim", {8, 3}, ERR_FINDANIM},
      {"frame 0", "GetAnimFrame", {5, 0, 2}, ERR_ANIMFRAME},
      {"frame past the end", "GetAnimFrame", {5, 4, 2}, ERR_ANIMFRAME},
      {"negative delay of a missing anim", "SetAnimFrameDelay", {9, 1, -1}, ERR_WRONGUSAGE},
      {"delay of a missing anim", "SetAnimFrameDelay", {9, 1, 5}, ERR_FINDANIM},
      {"delay of frame 4", "SetAnimFrameDelay", {2, 4, 5}, ERR_ANIMFRAME},
      {"shown frame past the end", "DisplayAnimFrame", {2, 0, 0, 4}, ERR_ANIMFRAME},
      {"insert beyond the end", "ModifyAnimFrames", {2, 1, 5}, ERR_WRONGUSAGE},
      {"remove past the end", "ModifyAnimFrames", {2, -2, 3}, ERR_WRONGUSAGE},
      {"unknown format", "SaveAnim", {2, CmdArg::Str("/nonexistent/x"), 7}, ERR_UNKNOWNANMOUT},
      {"not a file", "LoadAnimFrame", {5, 1, CmdArg::Str("/nonexistent/x.gif")}, ERR_READFILE},
      {"stream of no size", "BeginAnimStream", {1, CmdArg::Str("s.gif"), 0, 5}, ERR_WRONGUSAGE},
      {"missing stream", "FinishAnimStream", {4}, ERR_FINDANIMSTREAM},
  };
  for (const Case &c : cases) EXPECT_EQ(vm.Call(c.command, c.args).code, c.expected) << c.name;
  EXPECT_EQ(vm.Brush(5), nullptr);
  EXPECT_EQ(vm.Anim(2)->frameCount, 3);
  // A copy replaces an anim of the new number.
  ASSERT_EQ(vm.Call("CreateAnim", {3, 1, 5, 5, 1, 1}).code, 0u);
  ASSERT_EQ(vm.Call("CopyAnim", {2, 3}).code, 0u);
  EXPECT_EQ(vm.Anim(3)->frameCount, 3);
  EXPECT_EQ(vm.FramePixel(3, 2, 0, 0), Pixel(10, 0));
}

// Save options read from a table: the mask-or-alpha rule and the colour range.
TEST(AnimLib, SaveOptionChecks) {
  AnimVm vm;
  ASSERT_EQ(vm.Call("CreateAnim", {2, 1, 10, 10, 2, 2}).code, 0u);
  struct Case {
    const char *name;
    double transparency;  // < 0: not given
    double useAlpha, colors;
    uint32_t expected;
  } cases[] = {
      {"alpha and transparency", 0xFF0000, 1, 256, ERR_MASKNALPHA},
      {"one colour", -1, 0, 1, ERR_WRONGUSAGE},
      {"257 colours", -1, 0, 257, ERR_WRONGUSAGE},
  };
  for (const Case &c : cases) {
    const uint32_t code = vm.CallWith("saveanim", [&] {
                              vm_pushnumber(vm.L, 2);
                              vm_pushstring(vm.L, "never.gif");
                              vm_pushnumber(vm.L, 0);
                              vm_newtable(vm.L);
                              if (c.transparency >= 0) vm.Set("transparency", c.transparency);
                              vm.Set("usealpha", c.useAlpha);
                              vm.Set("colors", c.colors);
                              return 4;
                            }).code;
    EXPECT_EQ(code, c.expected) << c.name;
  }
}

TEST(AnimLib, SpeedMap) {
  struct Case {
    int32_t speed, delay;
  } cases[] = {{0, 0}, {5, 100}, {ANIMSPEED_FAST, 0}, {ANIMSPEED_NORMAL, 60}, {ANIMSPEED_SLOW, 160},
               {ANIMSPEED_DEFAULT, kPerFrameDelay}, {-7, 0}};
  for (const Case &c : cases) EXPECT_EQ(AnimSpeedDelay(c.speed), c.delay) << c.speed;
}

// Playing draws every frame in turn and leaves the last on the display; a playback at x = -10
// shows the frames from their column 10 on.
TEST(AnimLib, PlaybackLeavesTheLastFrame) {
  AnimVm vm;
  ASSERT_EQ(vm.Call("CreateAnim", {2, 1, 20, 15, 4, 2}).code, 0u);
  ASSERT_EQ(vm.Call("PlayAnim", {2, 5, 6}).code, 0u);
  EXPECT_EQ(vm.Background(5, 6), Pixel(20, 15));
  EXPECT_EQ(vm.Background(24, 20), Pixel(39, 29));
  EXPECT_EQ(vm.Background(25, 6), 0x102030u);
  ASSERT_EQ(vm.Call("PlayAnim", {2, -10, 30, -2, 2}).code, 0u);
  EXPECT_EQ(vm.Background(0, 30), Pixel(30, 15));
  EXPECT_EQ(vm.Background(9, 44), Pixel(39, 29));
  EXPECT_EQ(vm.Background(10, 30), 0x102030u);
  EXPECT_EQ(vm.Anim(2)->lockCount, 0);
}

// Masked frames are laid on the background saved at the start, so that nothing of the frame
// before shows through the next one.
TEST(AnimLib, MaskedFramesReplaceEachOther) {
  AnimVm vm;
  std::vector<uint32_t> px;
  for (int y = 0; y < 10; y++)
    for (int x = 0; x < 20; x++) px.push_back((x < 15 ? 0xFF000000u : 0u) | Pixel(x, y));
  ASSERT_EQ(vm.FromArray(3, px, 20, 10, 28).code, 0u);
  ASSERT_EQ(vm.Call("CreateAnim", {2, 3, 10, 10, 2, 2}).code, 0u);
  ASSERT_EQ(vm.Call("PlayAnim", {2, 30, 20}).code, 0u);
  for (int x = 0; x < 10; x++)
    EXPECT_EQ(vm.Background(30 + x, 25), x < 5 ? Pixel(10 + x, 5) : 0x102030u) << x;
}

// An asynchronous playback is a draw object that shows one frame per step and locks the anim
// until it ends.
TEST(AnimLib, AsyncPlaybackLocksTheAnim) {
  AnimVm vm;
  ASSERT_EQ(vm.Call("CreateAnim", {2, 1, 20, 15, 2, 2}).code, 0u);
  CommandCall play = vm.CallWith("playanim", [&] {
    for (double v : {2.0, 0.0, 0.0}) vm_pushnumber(vm.L, v);
    vm_newtable(vm.L);
    vm.Set("async", 1);
    vm.Set("speed", -2);
    return 4;
  });
  ASSERT_EQ(play.code, 0u);
  EXPECT_EQ(vm.Anim(2)->lockCount, 1);
  EXPECT_EQ(vm.Call("FreeAnim", {2}).code, ERR_LOCKEDOBJ);
  EXPECT_EQ(vm.Call("ModifyAnimFrames", {2, 1}).code, ERR_LOCKEDOBJ);
  EXPECT_EQ(vm.Call("ScaleAnim", {2, 5, 5}).code, ERR_LOCKEDOBJ);
  // The handle is light user data: the draw object is the one record of its type.
  qmObjectHeader *ad = FirstObject(ObjectRegistryOf(vm.L), QMTYPE_ASYNCDRAW);
  ASSERT_NE(ad, nullptr);
  auto step = [&] {
    return vm.CallWith("asyncdrawframe", [&] {
      vm_pushlightuserdata(vm.L, reinterpret_cast<void *>(ad->handle));
      return 1;
    });
  };
  ASSERT_EQ(step().code, 0u);
  EXPECT_EQ(vm.Background(0, 0), Pixel(0, 0));
  ASSERT_EQ(step().code, 0u);
  EXPECT_EQ(vm.Background(0, 0), Pixel(20, 0));
  // The step after the last frame ends the object and unlocks the anim.
  ASSERT_EQ(step().code, 0u);
  EXPECT_EQ(FirstObject(ObjectRegistryOf(vm.L), QMTYPE_ASYNCDRAW), nullptr);
  EXPECT_EQ(vm.Anim(2)->lockCount, 0);
  EXPECT_EQ(vm.Call("FreeAnim", {2}).code, 0u);
}

// A scaled anim shows and hands out frames of its new size; a failing scaling is checked
// in the record tests.
TEST(AnimLib, ScaleAndShow) {
  AnimVm vm;
  ASSERT_EQ(vm.Call("CreateAnim", {2, 1, 20, 15, 2, 2}).code, 0u);
  ASSERT_EQ(vm.Call("ScaleAnim", {2, 40, CmdArg::Str("200%")}).code, 0u);
  EXPECT_EQ(vm.Anim(2)->width, 40);
  EXPECT_EQ(vm.Anim(2)->height, 30);
  EXPECT_EQ(vm.FramePixel(2, 2, 39, 29), Pixel(39, 14));
  ASSERT_EQ(vm.Call("DisplayAnimFrame", {2, POS_CENTER, 0, 1}).code, 0u);
  EXPECT_EQ(vm.Background(12, 0), Pixel(0, 0));
  EXPECT_EQ(vm.Background(51, 29), Pixel(19, 14));
}

}  // namespace
