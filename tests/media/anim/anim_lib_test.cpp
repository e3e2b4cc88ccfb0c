// The anim library as a script calls it, on one open display: strips cut from a brush, the
// refusals that come before any change, frames read back and shown, playback onto the display
// (synchronous and as an asynchronous draw object), and the speed map.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "display/displayops.h"
#include "display/position.h"
#include "graphics/alpha_kernels.h"
#include "graphics/blit.h"
#include "graphics/draw_style.h"
#include "layers/layer.h"
#include "layers/layerops.h"
#include "layers/redraw.h"
#include "media/animcore/anim.h"
#include "media/animcore/animload.h"
#include "media/animcore/animplay.h"
#include "runtime/errcodes.h"
#include "runtime/objlist.h"
#include "runtime/objtypes.h"
#include "tests/display/brush/brush_vm.h"
#include "tests/media/animcore/anim_test_util.h"
#include "tests/platform/tempdir.h"
#include "tests/media/videocore/video_test_util.h"
#include "transitions/fxtable.h"

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
  // PlayAnim(id, 0, 0, {async = 1, speed = speed}): the draw object, null on failure.
  qmObjectHeader *PlayAsync(double id, double speed) {
    const CommandCall play = CallWith("playanim", [&] {
      for (double v : {id, 0.0, 0.0}) vm_pushnumber(L, v);
      vm_newtable(L);
      Set("async", 1);
      Set("speed", speed);
      return 4;
    });
    EXPECT_EQ(play.code, 0u);
    return play.code ? nullptr : FirstObject(ObjectRegistryOf(L), QMTYPE_ASYNCDRAW);
  }
  // AsyncDrawFrame(handle).
  uint32_t Step(const qmObjectHeader *ad) {
    return CallWith("asyncdrawframe", [&] {
      vm_pushlightuserdata(L, reinterpret_cast<void *>(ad->handle));
      return 1;
    }).code;
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
  s.transparentColor = kNoTransparentColor;
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
  // A frame as a brush (type 4, ANIM): ConvertToBrush and GetBrushLink name the frame from 1.
  EXPECT_EQ(vm.Call("ConvertToBrush", {4, 2, 5, 0}).code, ERR_ANIMFRAME);
  ASSERT_EQ(vm.Call("ConvertToBrush", {4, 2, 5, 3}).code, 0u);
  EXPECT_EQ(vm.Read(5, 9, 9).first, Pixel(29, 9));
  ASSERT_EQ(vm.Call("GetBrushLink", {6, 4, 2, 2}).code, 0u);
  EXPECT_EQ(vm.Read(6, 0, 0).first, Pixel(10, 0));
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
  qmObjectHeader *ad = vm.PlayAsync(2, ANIMSPEED_FAST);
  ASSERT_NE(ad, nullptr);
  EXPECT_EQ(vm.Anim(2)->lockCount, 1);
  EXPECT_EQ(vm.Call("FreeAnim", {2}).code, ERR_LOCKEDOBJ);
  EXPECT_EQ(vm.Call("ModifyAnimFrames", {2, 1}).code, ERR_LOCKEDOBJ);
  EXPECT_EQ(vm.Call("ScaleAnim", {2, 5, 5}).code, ERR_LOCKEDOBJ);
  ASSERT_EQ(vm.Step(ad), 0u);
  EXPECT_EQ(vm.Background(0, 0), Pixel(0, 0));
  ASSERT_EQ(vm.Step(ad), 0u);
  EXPECT_EQ(vm.Background(0, 0), Pixel(20, 0));
  // GetAttribute(#ASYNCDRAW, handle, #ATTRNUMFRAMES / #ATTRCURFRAME).
  for (auto [attribute, value] : {std::pair{11, 2.0}, std::pair{12, 2.0}})
    EXPECT_EQ(vm.CallWith("getattribute", [&] {
                    vm_pushnumber(vm.L, QMTYPE_ASYNCDRAW);
                    vm_pushlightuserdata(vm.L, reinterpret_cast<void *>(ad->handle));
                    vm_pushnumber(vm.L, attribute);
                    return 3;
                  }).results,
              std::vector<double>{value});
  // The step after the last frame ends the object and unlocks the anim.
  ASSERT_EQ(vm.Step(ad), 0u);
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

// With layers on an anim frame is a layer that keeps the anim's id and its frame: NextFrame
// steps it on, and it keeps working after the script freed the anim, which goes with the layer.
TEST(AnimLib, AnimLayers) {
  AnimVm vm;
  ASSERT_EQ(vm.Call("EnableLayers", {}).code, 0u);
  ASSERT_EQ(vm.Call("CreateAnim", {2, 1, 20, 15, 3, 2}).code, 0u);
  auto shown = [&](int x, int y) { return DisplayVm::BitmapPixel(vm.d->layerBuffer, x, y); };
  auto attribute = [&](int a) { return vm.Call("GetAttribute", {22, 1, a}).results.at(0); };
  ASSERT_EQ(vm.Call("DisplayAnimFrame", {2, 4, 5, 2}).code, 0u);
  EXPECT_EQ(shown(4, 5), Pixel(20, 0));
  EXPECT_EQ(attribute(12), 2);  // the current frame
  EXPECT_EQ(attribute(11), 3);  // frames
  struct Step {
    std::vector<CmdArg> args;
    int frame;
    int x, y;
  } steps[] = {{{1}, 3, 4, 5}, {{1}, 1, 4, 5}, {{1, 10, 12, -1}, 3, 10, 12}, {{1, kKeepPosition, kKeepPosition, 2}, 2, 10, 12}};
  for (const Step &s : steps) {
    ASSERT_EQ(vm.Call("NextFrame", s.args).code, 0u) << s.frame;
    EXPECT_EQ(attribute(12), s.frame);
    const int fx = ((s.frame - 1) % 2) * 20, fy = ((s.frame - 1) / 2) * 15;
    EXPECT_EQ(shown(s.x, s.y), Pixel(fx, fy)) << s.frame;
    EXPECT_EQ(shown(s.x + 19, s.y + 14), Pixel(fx + 19, fy + 14)) << s.frame;
  }
  EXPECT_EQ(vm.Call("NextFrame", {1, kKeepPosition, kKeepPosition, 4}).code, ERR_ANIMFRAME);
  // Freed by the script, the anim lives on for its layer.
  ASSERT_EQ(vm.Call("FreeAnim", {2}).code, 0u);
  EXPECT_EQ(vm.Anim(2), nullptr);
  ASSERT_EQ(vm.Call("NextFrame", {1}).code, 0u);
  EXPECT_EQ(shown(10, 12), Pixel(0, 15));
  ASSERT_EQ(vm.Call("ModifyLayerFrames", {1, -1}).code, 0u);
  EXPECT_EQ(attribute(11), 2);
  EXPECT_EQ(CountObjectsOfType(ObjectRegistryOf(vm.L), QMTYPE_ANIM), 1u);
  ASSERT_EQ(vm.Call("RemoveLayer", {1}).code, 0u);
  EXPECT_EQ(CountObjectsOfType(ObjectRegistryOf(vm.L), QMTYPE_ANIM), 0u);
}

// An anim layer stepping between a frame that is opaque and one that is partly transparent
// shows each frame's own mask or alpha channel, not the one of the frame before.
TEST(AnimLib, AnimLayerFramesShowTheirOwnTransparency) {
  for (double plane : {28.0, 30.0}) {
    SCOPED_TRACE(plane == 28 ? "mask" : "alpha channel");
    AnimVm vm;
    ASSERT_EQ(vm.Call("EnableLayers", {}).code, 0u);
    std::vector<uint32_t> px;
    for (int y = 0; y < 10; y++)
      for (int x = 0; x < 20; x++) px.push_back((x < 15 ? 0xFF000000u : 0u) | Pixel(x, y));
    ASSERT_EQ(vm.FromArray(3, px, 20, 10, plane).code, 0u);
    ASSERT_EQ(vm.Call("CreateAnim", {2, 3, 10, 10, 2, 2}).code, 0u);
    ASSERT_EQ(vm.Call("DisplayAnimFrame", {2, 30, 20, 1}).code, 0u);
    auto shown = [&](int x) { return DisplayVm::BitmapPixel(vm.d->layerBuffer, 30 + x, 25); };
    for (int frame : {2, 1, 2}) {
      ASSERT_EQ(vm.Call("NextFrame", {1}).code, 0u);
      for (int x = 0; x < 10; x++) {
        const uint32_t expected = frame == 1 ? Pixel(x, 5) : x < 5 ? Pixel(10 + x, 5) : 0x102030u;
        EXPECT_EQ(shown(x), expected) << "frame " << frame << ", column " << x;
      }
    }
  }
}

// Layers on, anim 2 of three frames of 20x15 cut from brush 1, and count layers of it side by
// side from (0, 0), each stepped from frame 1 to frame 2.
void ShowSecondFrames(AnimVm &vm, int count) {
  ASSERT_EQ(vm.Call("EnableLayers", {}).code, 0u);
  ASSERT_EQ(vm.Call("CreateAnim", {2, 1, 20, 15, 3, 2}).code, 0u);
  for (int i = 0; i < count; i++) ASSERT_EQ(vm.Call("DisplayAnimFrame", {2, 20 * i, 0, 1}).code, 0u);
  for (int i = 1; i <= count; i++) ASSERT_EQ(vm.Call("NextFrame", {i}).code, 0u);
}

// Layer 1 hidden, then shown again by an asynchronous crossfade run to its end; after its first
// frame the layer steps to its next frame when asked, and anim 2 is scaled.
void CrossfadeWhileScaled(AnimVm &vm, bool step) {
  ASSERT_EQ(vm.Call("HideLayer", {1}).code, 0u);
  ASSERT_EQ(vm.CallWith("showlayerfx", [&] {
                vm_pushnumber(vm.L, 1);
                vm_newtable(vm.L);
                vm.Set("type", FX_CROSSFADE);
                vm.Set("speed", 30);
                vm.Set("async", 1);
                return 2;
              }).code,
            0u);
  qmObjectHeader *ad = FirstObject(ObjectRegistryOf(vm.L), QMTYPE_ASYNCDRAW);
  ASSERT_NE(ad, nullptr);
  ASSERT_EQ(vm.Step(ad), 0u);
  if (step) {
    ASSERT_EQ(vm.Call("NextFrame", {1}).code, 0u);
    ASSERT_EQ(vm.Step(ad), 0u);
  }
  ASSERT_EQ(vm.Call("ScaleAnim", {2, 10, 5}).code, 0u);
  while (FirstObject(ObjectRegistryOf(vm.L), QMTYPE_ASYNCDRAW)) ASSERT_EQ(vm.Step(ad), 0u);
}

// An anim layer shows an in-memory frame where the anim keeps it. Whatever happens next to the
// layer or to the anim, the layer goes on showing what it showed (or what was drawn into it),
// the anim keeps its own frames, and nothing is freed twice or read after it went.
TEST(AnimLib, ShownFramesOutliveWhatHappensAroundThem) {
  auto framePixel = [](int frame, int x, int y) { return Pixel(((frame - 1) % 2) * 20 + x, ((frame - 1) / 2) * 15 + y); };
  struct Case {
    const char *name;
    std::function<void(AnimVm &)> act;
    uint32_t topLeft, bottomRight;  // what the layer shows at its corners afterwards
    bool animKept;                  // the script's anim still holds its three frames as made
  } cases[] = {
      {"ScaleAnim of the script's anim",
       [](AnimVm &vm) { ASSERT_EQ(vm.Call("ScaleAnim", {2, 10, 5}).code, 0u); }, framePixel(2, 0, 0),
       framePixel(2, 19, 14), false},
      {"ModifyAnimFrames removes the frame shown",
       [](AnimVm &vm) { ASSERT_EQ(vm.Call("ModifyAnimFrames", {2, -2, 2}).code, 0u); }, framePixel(2, 0, 0),
       framePixel(2, 19, 14), false},
      {"SelectAnim draws into the frame shown",
       [](AnimVm &vm) {
         ASSERT_EQ(vm.Call("SelectAnim", {2, 2}).code, 0u);
         ASSERT_EQ(vm.Call("DisplayBrush", {1, -5, -5}).code, 0u);
         ASSERT_EQ(vm.Call("EndSelect", {}).code, 0u);
         EXPECT_EQ(vm.FramePixel(2, 2, 0, 0), Pixel(5, 5));
       },
       framePixel(2, 0, 0), framePixel(2, 19, 14), false},
      {"SelectLayer draws into the frame shown, of a copy kept for the layer",
       [](AnimVm &vm) {
         ASSERT_EQ(vm.Call("SelectLayer", {1, 0, 2}).code, 0u);
         ASSERT_EQ(vm.Call("DisplayBrush", {1, -5, -5}).code, 0u);
         ASSERT_EQ(vm.Call("EndSelect", {}).code, 0u);
       },
       Pixel(5, 5), Pixel(24, 19), true},
      {"FreeAnim, then SelectLayer draws into the frame shown of the anim",
       [](AnimVm &vm) {
         ASSERT_EQ(vm.Call("FreeAnim", {2}).code, 0u);
         ASSERT_EQ(vm.Call("SelectLayer", {1, 0, 2}).code, 0u);
         ASSERT_EQ(vm.Call("DisplayBrush", {1, -5, -5}).code, 0u);
         ASSERT_EQ(vm.Call("EndSelect", {}).code, 0u);
         EXPECT_EQ(CountObjectsOfType(ObjectRegistryOf(vm.L), QMTYPE_ANIM), 1u) << "the anim lives for the layer";
       },
       Pixel(5, 5), Pixel(24, 19), false},
      {"FreeAnim, then ModifyLayerFrames removes the frame shown",
       [](AnimVm &vm) {
         ASSERT_EQ(vm.Call("FreeAnim", {2}).code, 0u);
         ASSERT_EQ(vm.Call("ModifyLayerFrames", {1, -1, 2}).code, 0u);
         EXPECT_EQ(vm.Call("GetAttribute", {22, 1, 12}).results.at(0), 0);
       },
       framePixel(2, 0, 0), framePixel(2, 19, 14), false},
      {"ModifyLayerFrames inserts before the frame shown, then FreeAnim",
       [](AnimVm &vm) {
         ASSERT_EQ(vm.Call("ModifyLayerFrames", {1, 2, 1}).code, 0u);
         EXPECT_EQ(vm.FramePixel(2, 1, 0, 0), Pixel(0, 0)) << "the script's anim keeps its frames";
         ASSERT_EQ(vm.Call("FreeAnim", {2}).code, 0u);
       },
       framePixel(2, 0, 0), framePixel(2, 19, 14), false},
      {"the layer's picture swapped for the caller's planes",
       [](AnimVm &vm) {
         qmScene *scene = GetScene(vm.L);
         qmPlaneSet mine{AllocBitmap(20, 15), nullptr, nullptr};
         ASSERT_NE(mine.bitmap, nullptr);
         FillBitmapRect(mine.bitmap, 0, 0, 20, 15, 0x123456);
         ASSERT_EQ(SwapLayerPicture(scene, GetNthLayer(scene->picture, 1), &mine, 0), 0u);
         EXPECT_EQ(mine.bitmap, nullptr) << "the frame shown before stays the anim's";
         FreePlaneSet(&mine);
       },
       0x123456, 0x123456, true},
      {"ConvertToBrush and GetBrushLink of the layer",
       [&](AnimVm &vm) {
         // An anim layer is named with one of its frames, the one it shows here.
         EXPECT_EQ(vm.Call("ConvertToBrush", {int(QMTYPE_LAYER), 1, 8}).code, uint32_t(ERR_ANIMFRAME));
         ASSERT_EQ(vm.Call("ConvertToBrush", {int(QMTYPE_LAYER), 1, 8, 2}).code, 0u);
         ASSERT_EQ(vm.Call("GetBrushLink", {9, int(QMTYPE_LAYER), 1, 2}).code, 0u);
         ASSERT_EQ(vm.Call("NextFrame", {1}).code, 0u);
         for (double brush : {8.0, 9.0}) {
           EXPECT_EQ(vm.Read(brush, 0, 0).first, framePixel(2, 0, 0));
           EXPECT_EQ(vm.Read(brush, 19, 14).first, framePixel(2, 19, 14));
           ASSERT_EQ(vm.Call("FreeBrush", {brush}).code, 0u);
         }
       },
       framePixel(3, 0, 0), framePixel(3, 19, 14), true},
      {"an asynchronous transition on the layer while the anim is scaled",
       [](AnimVm &vm) { CrossfadeWhileScaled(vm, false); }, framePixel(2, 0, 0), framePixel(2, 19, 14), false},
      {"an asynchronous transition on the layer while it steps and the anim is scaled",
       [](AnimVm &vm) { CrossfadeWhileScaled(vm, true); }, framePixel(3, 0, 0), framePixel(3, 19, 14), false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    AnimVm vm;
    ShowSecondFrames(vm, 1);
    if (::testing::Test::HasFatalFailure()) return;
    c.act(vm);
    if (::testing::Test::HasFatalFailure()) return;
    // Composed anew from what the layer holds now.
    qmScene *scene = GetScene(vm.L);
    RefreshRect(scene, 0, 0, 40, 30);
    EXPECT_EQ(DisplayVm::BitmapPixel(vm.d->layerBuffer, 0, 0), c.topLeft);
    EXPECT_EQ(DisplayVm::BitmapPixel(vm.d->layerBuffer, 19, 14), c.bottomRight);
    if (c.animKept)
      for (int frame = 1; frame <= 3; frame++) {
        EXPECT_EQ(vm.FramePixel(2, frame, 0, 0), framePixel(frame, 0, 0)) << frame;
        EXPECT_EQ(vm.FramePixel(2, frame, 19, 14), framePixel(frame, 19, 14)) << frame;
      }
    ASSERT_EQ(vm.Call("NextFrame", {1}).code, 0u) << "still a layer of an anim";
    ASSERT_EQ(vm.Call("RemoveLayer", {1}).code, 0u);
    // What lived for the layer alone went with it.
    const bool scriptsAnim = vm.Anim(2) != nullptr;
    EXPECT_EQ(CountObjectsOfType(ObjectRegistryOf(vm.L), QMTYPE_ANIM), scriptsAnim ? 1u : 0u);
  }
}

// Undo and FreeLayers take lent frames out with their layers; the anim, the script's or freed,
// goes only when the script and the last layer let it go.
TEST(AnimLib, LayersOfLentFramesGo) {
  struct Case {
    const char *name;
    bool freeFirst;
    const char *command;
    std::vector<CmdArg> args;
  } cases[] = {
      {"Undo, the anim the script's", false, "Undo", {int(QMTYPE_ANIM), 2}},
      {"Undo, the anim freed", true, "Undo", {int(QMTYPE_ANIM), 2}},
      {"FreeLayers, the anim the script's", false, "FreeLayers", {}},
      {"FreeLayers, the anim freed", true, "FreeLayers", {}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    AnimVm vm;
    ShowSecondFrames(vm, 2);
    if (::testing::Test::HasFatalFailure()) return;
    if (c.freeFirst) { ASSERT_EQ(vm.Call("FreeAnim", {2}).code, 0u); }
    ASSERT_EQ(vm.Call(c.command, c.args).code, 0u);
    if (c.args.empty()) {
      EXPECT_EQ(CountObjectsOfType(ObjectRegistryOf(vm.L), QMTYPE_ANIM), c.freeFirst ? 0u : 1u);
      continue;
    }
    // Undo took the newer layer; the older one still shows frame 2 of the same frames.
    EXPECT_EQ(DisplayVm::BitmapPixel(vm.d->layerBuffer, 0, 0), Pixel(20, 0));
    EXPECT_EQ(CountObjectsOfType(ObjectRegistryOf(vm.L), QMTYPE_ANIM), 1u);
    ASSERT_EQ(vm.Call("RemoveLayer", {1}).code, 0u);
    EXPECT_EQ(CountObjectsOfType(ObjectRegistryOf(vm.L), QMTYPE_ANIM), c.freeFirst ? 0u : 1u);
    if (!c.freeFirst) { EXPECT_EQ(vm.FramePixel(2, 2, 0, 0), Pixel(20, 0)); }
  }
}

// NextFrame needs an anim layer; ModifyLayerFrames looks the layer's object up as an anim.
TEST(AnimLib, FrameCommandsOnOtherLayers) {
  AnimVm vm;
  ASSERT_EQ(vm.Call("EnableLayers", {}).code, 0u);
  ASSERT_EQ(vm.Call("DisplayBrush", {1, 0, 0}).code, 0u);
  EXPECT_EQ(vm.Call("NextFrame", {1}).code, ERR_NOANMLAYER);
  EXPECT_EQ(vm.Call("ModifyLayerFrames", {1, 1}).code, ERR_FINDANIM);
  EXPECT_EQ(vm.Call("GetAttribute", {22, 1, 12}).code, ERR_NOANMLAYER);
}

// ModifyLayerFrames changes a copy of its own when the anim is the script's: the script's anim
// keeps its frames, and the layer keeps showing its frame at its new place.
TEST(AnimLib, LayerFramesChangeTheLayersCopy) {
  AnimVm vm;
  ASSERT_EQ(vm.Call("EnableLayers", {}).code, 0u);
  ASSERT_EQ(vm.Call("CreateAnim", {2, 1, 20, 15, 3, 2}).code, 0u);
  ASSERT_EQ(vm.Call("DisplayAnimFrame", {2, 0, 0, 2}).code, 0u);
  auto attribute = [&](int a) { return vm.Call("GetAttribute", {22, 1, a}).results.at(0); };
  struct Case {
    int32_t count, position;
    int frames, shown;
  } cases[] = {{2, 1, 5, 4}, {1, 0, 6, 4}, {-1, 4, 5, 0}};
  for (const Case &c : cases) {
    ASSERT_EQ(vm.Call("ModifyLayerFrames", {1, c.count, c.position}).code, 0u) << c.count;
    EXPECT_EQ(attribute(11), c.frames) << c.count;
    EXPECT_EQ(attribute(12), c.shown) << c.count;
  }
  EXPECT_EQ(vm.Anim(2)->frameCount, 3);
  // From frame 0 the next frame is the first, one of the blank ones inserted at 1.
  ASSERT_EQ(vm.Call("NextFrame", {1}).code, 0u);
  EXPECT_EQ(attribute(12), 1);
  EXPECT_EQ(DisplayVm::BitmapPixel(vm.d->layerBuffer, 0, 0), 0u);
}

// With layers on the playback shows its frames through one layer, which stays at the end.
TEST(AnimLib, PlaybackWithLayers) {
  AnimVm vm;
  ASSERT_EQ(vm.Call("EnableLayers", {}).code, 0u);
  ASSERT_EQ(vm.Call("CreateAnim", {2, 1, 20, 15, 4, 2}).code, 0u);
  ASSERT_EQ(vm.Call("PlayAnim", {2, 5, 6}).code, 0u);
  EXPECT_EQ(vm.Call("GetAttribute", {21, 0, 6}).results, std::vector<double>{1});  // the display's layers
  EXPECT_EQ(vm.Call("GetAttribute", {22, 1, 12}).results, std::vector<double>{4});
  EXPECT_EQ(DisplayVm::BitmapPixel(vm.d->layerBuffer, 5, 6), Pixel(20, 15));
  EXPECT_EQ(vm.Anim(2)->lockCount, 0);
}

// CreateLayer with frames makes an anim of blank frames that lives as long as its layer.
TEST(AnimLib, CreateLayerWithFrames) {
  for (int clear : {0, 1}) {
    AnimVm vm;
    ASSERT_EQ(vm.Call("EnableLayers", {}).code, 0u);
    const uint32_t code = vm.CallWith("createlayer", [&] {
                              for (double v : {3.0, 4.0, 10.0, 8.0}) vm_pushnumber(vm.L, v);
                              vm_newtable(vm.L);
                              vm.Set("frames", 2);
                              vm.Set("mask", 1);
                              vm.Set("clear", clear);
                              vm.Set("color", 0xFF8000);
                              return 5;
                            }).code;
    ASSERT_EQ(code, 0u) << clear;
    EXPECT_EQ(vm.Call("GetAttribute", {22, 1, 11}).results, std::vector<double>{2});
    EXPECT_EQ(vm.Call("GetAttribute", {22, 1, 9}).results, std::vector<double>{QMTYPE_ANIM});
    EXPECT_EQ(DisplayVm::BitmapPixel(vm.d->layerBuffer, 3, 4), clear ? 0x102030u : 0xFF8000u) << clear;
    EXPECT_EQ(DisplayVm::BitmapPixel(vm.d->layerBuffer, 12, 11), clear ? 0x102030u : 0xFF8000u) << clear;
    EXPECT_EQ(CountObjectsOfType(ObjectRegistryOf(vm.L), QMTYPE_ANIM), 1u);
    ASSERT_EQ(vm.Call("RemoveLayer", {1}).code, 0u);
    EXPECT_EQ(CountObjectsOfType(ObjectRegistryOf(vm.L), QMTYPE_ANIM), 0u);
  }
}

// Anim files through LoadAnim, IsAnim, LoadAnimFrame and GetAttribute: GIF animations that
// Pillow made (anim_peer.py strip), in memory and from disk.
struct GifFiles {
  TempDir dir;
  bool made = RunAnimPeer("strip " + dir.path()) == 0;
  std::string strip = dir / "strip.gif", one = dir / "one.gif";
};
constexpr uint32_t kStripLeft[] = {0xF80000, 0x00FC00, 0x0000F8};
constexpr uint32_t kStripRight[] = {0xF8F800, 0x808080, 0xF800F8};

TEST(AnimLib, AnimFiles) {
  GifFiles gifs;
  if (!gifs.made) GTEST_SKIP() << "python3-pil is missing";
  AnimVm vm;
  auto load = [&](double id, const std::function<void()> &options) {
    return vm.CallWith("loadanim", [&] {
      vm_pushnumber(vm.L, id);
      vm_pushstring(vm.L, gifs.strip.c_str());
      if (!options) return 2;
      options();
      return 3;
    }).code;
  };
  struct Case {
    const char *name;
    std::function<void()> options;
    uint32_t code;
    uint32_t onDisk;
    int frames, width;
  } cases[] = {
      {"plain", nullptr, 0, 0, 3, 8},
      {"transparent colour as a number", [&] { vm_pushnumber(vm.L, 0xF80000); }, 0, 0, 3, 8},
      {"from disk", [&] { vm_newtable(vm.L), vm.Set("fromdisk", 1); }, 0, 1, 3, 8},
      {"as a picture", [&] { vm_newtable(vm.L), vm.Set("frames", 2), vm.Set("width", 4), vm.Set("height", 6); }, 0,
       0, 2, 4},
      {"frames from disk", [&] { vm_newtable(vm.L), vm.Set("frames", 2), vm.Set("fromdisk", 1); }, ERR_WRONGUSAGE, 0,
       0, 0},
      {"alpha of a GIF", [&] { vm_newtable(vm.L), vm.Set("loadalpha", 1); }, ERR_NOALPHA, 0, 0, 0},
      {"alpha and a colour", [&] { vm_newtable(vm.L), vm.Set("loadalpha", 1), vm.Set("transparency", 0); },
       ERR_MASKNALPHA, 0, 0, 0},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(load(3, c.options), c.code) << c.name;
    qmAnim *a = vm.Anim(3);
    if (c.code) {
      EXPECT_EQ(a, nullptr) << c.name;
      continue;
    }
    ASSERT_NE(a, nullptr) << c.name;
    EXPECT_EQ(a->onDisk, c.onDisk) << c.name;
    EXPECT_EQ(a->frameCount, c.frames) << c.name;
    EXPECT_EQ(a->width, c.width) << c.name;
    if (c.width == 8)
      for (int f = 0; f < 3; f++) {
        EXPECT_EQ(vm.FramePixel(3, f + 1, 3, 5), kStripLeft[f]) << c.name;
        EXPECT_EQ(vm.FramePixel(3, f + 1, 4, 0), kStripRight[f]) << c.name;
        // The file's delays, read through GetAttribute (#ANIM, id, #ATTRFRAMEDELAY, frame).
        EXPECT_EQ(vm.Call("GetAttribute", {4, 3, 37, f + 1}).results, std::vector<double>{100.0 * (f + 1)});
      }
    ASSERT_EQ(vm.Call("FreeAnim", {3}).code, 0u);
  }
  // The transparent colour keys the frames' masks.
  ASSERT_EQ(load(3, [&] { vm_pushnumber(vm.L, 0xF80000); }), 0u);
  EXPECT_EQ(vm.Call("GetAttribute", {4, 3, 16}).results, std::vector<double>{1});  // a mask
  EXPECT_EQ(vm.Call("GetAttribute", {4, 3, 37, 0}).code, ERR_ANIMFRAME);
  // A one-frame GIF loads, but it is no anim to IsAnim; a missing file neither.
  EXPECT_EQ(vm.Call("IsAnim", {CmdArg::Str(gifs.strip.c_str())}).results, std::vector<double>{1});
  EXPECT_EQ(vm.Call("IsAnim", {CmdArg::Str(gifs.one.c_str())}).results, std::vector<double>{0});
  EXPECT_EQ(vm.Call("IsAnim", {CmdArg::Str("/nonexistent.gif")}).results, std::vector<double>{0});
  ASSERT_EQ(vm.Call("LoadAnim", {4, CmdArg::Str(gifs.one.c_str())}).code, 0u);
  EXPECT_EQ(vm.Anim(4)->frameCount, 1);
  // LoadAnimFrame: frames count from 1 and -1 is the last; a frame out of range makes no brush.
  struct FrameCase {
    int frame;
    uint32_t code;
    int shown;  // index into the strip's colours
  } frames[] = {{1, 0, 0}, {3, 0, 2}, {-1, 0, 2}, {0, ERR_ANIMFRAME, 0}, {4, ERR_ANIMFRAME, 0},
                {-2, ERR_ANIMFRAME, 0}};
  for (const FrameCase &c : frames) {
    EXPECT_EQ(vm.Call("LoadAnimFrame", {6, c.frame, CmdArg::Str(gifs.strip.c_str())}).code, c.code) << c.frame;
    if (c.code) {
      EXPECT_EQ(vm.Brush(6), nullptr) << c.frame;
      continue;
    }
    EXPECT_EQ(vm.Read(6, 0, 0).first, kStripLeft[c.shown]) << c.frame;
    ASSERT_EQ(vm.Call("FreeBrush", {6}).code, 0u);
  }
}

// A disk-based anim decodes a frame per fetch; scaled, it fetches at the new size, and a copy
// made after the scaling decodes alike; playing it shows the last frame.
TEST(AnimLib, DiskAnims) {
  GifFiles gifs;
  if (!gifs.made) GTEST_SKIP() << "python3-pil is missing";
  AnimVm vm;
  ASSERT_EQ(vm.CallWith("loadanim", [&] {
                vm_pushnumber(vm.L, 3);
                vm_pushstring(vm.L, gifs.strip.c_str());
                vm_newtable(vm.L);
                vm.Set("fromdisk", 1);
                return 3;
              }).code,
            0u);
  EXPECT_EQ(vm.Call("ModifyAnimFrames", {3, 1}).code, ERR_ANIMDISK);
  EXPECT_EQ(vm.Call("SelectAnim", {3, 1}).code, ERR_ANIMDISK);
  ASSERT_EQ(vm.Call("SetAnimFrameDelay", {3, 2, 40}).code, 0u);
  EXPECT_EQ(vm.Call("GetAttribute", {4, 3, 37, 2}).results, std::vector<double>{40});
  ASSERT_EQ(vm.Call("ScaleAnim", {3, 16, 12}).code, 0u);
  ASSERT_EQ(vm.Call("CopyAnim", {3, 4}).code, 0u);
  for (double id : {3.0, 4.0}) {
    EXPECT_EQ(vm.FramePixel(id, 2, 15, 11), kStripRight[1]);
    EXPECT_EQ(vm.FramePixel(id, 2, 7, 0), kStripLeft[1]);
    EXPECT_EQ(vm.Call("GetAttribute", {4, id, 0}).results, std::vector<double>{16});
  }
  ASSERT_EQ(vm.Call("PlayAnim", {4, 0.0, 0.0}).code, 0u);
  EXPECT_EQ(vm.Background(15, 11), kStripRight[2]);
  ASSERT_EQ(vm.Call("PlayAnimDisk", {CmdArg::Str(gifs.strip.c_str()), 30, 30}).code, 0u);
  EXPECT_EQ(vm.Background(30, 30), kStripLeft[2]);
  EXPECT_EQ(CountObjectsOfType(ObjectRegistryOf(vm.L), QMTYPE_ANIM), 2u);
  // A still picture cannot be read frame by frame from disk: it loads into memory.
  if (!HaveFfmpeg()) return;
  const std::string still = gifs.dir / "still.png";
  ASSERT_EQ(RunQuiet("ffmpeg -v error -y -f lavfi -i color=c=0x2020E0:s=6x4 -frames:v 1 '" + still + "'"), 0);
  ASSERT_EQ(vm.CallWith("loadanim", [&] {
                vm_pushnumber(vm.L, 5);
                vm_pushstring(vm.L, still.c_str());
                vm_newtable(vm.L);
                vm.Set("fromdisk", 1);
                return 3;
              }).code,
            0u);
  ASSERT_NE(vm.Anim(5), nullptr);
  EXPECT_EQ(vm.Anim(5)->onDisk, 0u);
  EXPECT_EQ(vm.Anim(5)->frameCount, 1);
  EXPECT_LE(ColourDistance(uint32_t(vm.FramePixel(5, 1, 3, 2)), 0x2020E0u), 4);
}

// SelectAnim draws into a frame of the anim; freeing or playing it meanwhile is refused.
TEST(AnimLib, SelectedAnim) {
  AnimVm vm;
  ASSERT_EQ(vm.Call("CreateAnim", {2, 1, 10, 10, 2, 2}).code, 0u);
  ASSERT_EQ(vm.Call("SelectAnim", {2, 2}).code, 0u);
  ASSERT_EQ(vm.Call("DisplayBrush", {1, -5, -5}).code, 0u);
  EXPECT_EQ(vm.Call("FreeAnim", {2}).code, ERR_MODIFYAANIM);
  EXPECT_EQ(vm.Call("ModifyAnimFrames", {2, 1}).code, ERR_MODIFYAANIM);
  EXPECT_EQ(vm.Call("ScaleAnim", {2, 5, 5}).code, ERR_MODIFYAANIM);
  ASSERT_EQ(vm.Call("EndSelect", {}).code, 0u);
  EXPECT_EQ(vm.FramePixel(2, 2, 0, 0), Pixel(5, 5));
  EXPECT_EQ(vm.FramePixel(2, 1, 0, 0), Pixel(0, 0));
}

// SelectMask and SelectAlphaChannel of a frame draw into that frame's own plane: the first
// drawing gives it a visible mask (or an opaque alpha channel, its mask going), the frame store
// keeps what was drawn and the other frames stay as they were.
TEST(AnimLib, DrawingIntoAFramesMaskAndAlphaChannel) {
  AnimVm vm;
  ASSERT_EQ(vm.Call("CreateAnim", {2, 1, 10, 10, 3, 3}).code, 0u);
  auto inBox = [](int x, int y, int bx, int by, int bw, int bh) {
    return x >= bx && x < bx + bw && y >= by && y < by + bh;
  };
  ASSERT_EQ(vm.Call("SetFillStyle", {int(DRAWFILL_COLOR)}).code, 0u);
  ASSERT_EQ(vm.Call("SelectMask", {2, 4, 2}).code, 0u);
  EXPECT_EQ(vm.Call("FreeAnim", {2}).code, ERR_MODIFYAANIM);
  ASSERT_EQ(vm.Call("SetMaskMode", {int(MASKINVISIBLE)}).code, 0u);
  ASSERT_EQ(vm.Call("Box", {2, 3, 4, 5, 0}).code, 0u);
  ASSERT_EQ(vm.Call("SetMaskMode", {int(MASKVANILLACOPY)}).code, 0u);
  ASSERT_EQ(vm.Call("EndSelect", {}).code, 0u);
  const qmAnim *a = vm.Anim(2);
  ASSERT_NE(a->masks[1], nullptr);
  EXPECT_EQ(a->masks[0], nullptr);
  EXPECT_EQ(a->masks[2], nullptr);
  EXPECT_EQ(a->alphas[1], nullptr);
  for (int y = 0; y < 10; y++)
    for (int x = 0; x < 10; x++) {
      const uint8_t *row = a->masks[1]->memory + y * a->masks[1]->bytesPerRow;
      ASSERT_EQ(GetMaskBit(row, x), !inBox(x, y, 2, 3, 4, 5)) << x << "," << y;
      ASSERT_EQ(vm.FramePixel(2, 2, x, y), Pixel(10 + x, y)) << "the colours stay";
    }

  ASSERT_EQ(vm.Call("SelectAlphaChannel", {2, 4, 2}).code, 0u);
  ASSERT_EQ(vm.Call("SetAlphaIntensity", {64}).code, 0u);
  ASSERT_EQ(vm.Call("Box", {0, 0, 3, 7, 0}).code, 0u);
  ASSERT_EQ(vm.Call("EndSelect", {}).code, 0u);
  EXPECT_EQ(a->masks[1], nullptr) << "an alpha channel replaces the mask";
  ASSERT_NE(a->alphas[1], nullptr);
  EXPECT_EQ(a->alphas[0], nullptr);
  for (int y = 0; y < 10; y++)
    for (int x = 0; x < 10; x++)
      ASSERT_EQ(a->alphas[1]->memory[y * a->alphas[1]->bytesPerRow + x], inBox(x, y, 0, 0, 3, 7) ? 64 : 255)
          << x << "," << y;
}

// What a frame selection refuses before it changes anything.
TEST(AnimLib, FrameSelectionRefusals) {
  AnimVm vm;
  ASSERT_EQ(vm.Call("CreateAnim", {2, 1, 10, 10, 3, 3}).code, 0u);
  ASSERT_EQ(vm.Call("CreateAnim", {3, 1, 10, 10, 2, 2}).code, 0u);
  ASSERT_NE(vm.PlayAsync(3, 1000), nullptr);
  struct Case {
    const char *name;
    const char *command;
    std::vector<CmdArg> args;
    uint32_t expected;
  } cases[] = {
      {"no frame", "SelectMask", {2, 4}, ERR_MISSINGPARAMTR},
      {"frame 0", "SelectMask", {2, 4, 0}, ERR_ANIMFRAME},
      {"past the last frame", "SelectAlphaChannel", {2, 4, 4}, ERR_ANIMFRAME},
      {"no such anim", "SelectAlphaChannel", {9, 4, 1}, ERR_FINDANIM},
      {"an anim that plays", "SelectMask", {3, 4, 1}, ERR_LOCKEDOBJ},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(vm.Call(c.command, c.args).code, c.expected);
    EXPECT_EQ(vm.d->outputType, uint32_t(DISPOUT_DISPLAY));
  }
  for (uint32_t id : {2u, 3u})
    for (int32_t i = 0; i < vm.Anim(id)->frameCount; i++) EXPECT_EQ(vm.Anim(id)->masks[i], nullptr);
}

// An asynchronous frame is due its delay after the one before was shown: a step before that
// draws nothing. The delay of 20 s is far beyond the time between two calls.
TEST(AnimLib, AsyncFramesWaitForTheirDelay) {
  AnimVm vm;
  ASSERT_EQ(vm.Call("CreateAnim", {2, 1, 20, 15, 2, 2}).code, 0u);
  qmObjectHeader *ad = vm.PlayAsync(2, 1000);
  ASSERT_NE(ad, nullptr);
  for (int i = 0; i < 2; i++) ASSERT_EQ(vm.Step(ad), 0u);
  EXPECT_EQ(vm.Background(0, 0), Pixel(0, 0)) << "the second frame is not due yet";
  EXPECT_EQ(vm.Anim(2)->lockCount, 1);
}

// SetLayerStyle and GetLayerStyle of an anim layer: "frame" (0 the next, after the last the
// first) and "id", another anim of any size.
TEST(AnimLib, AnimLayerStyle) {
  AnimVm vm;
  ASSERT_EQ(vm.Call("EnableLayers", {}).code, 0u);
  ASSERT_EQ(vm.Call("CreateAnim", {2, 1, 20, 15, 2, 2}).code, 0u);
  ASSERT_EQ(vm.Call("CreateAnim", {3, 1, 20, 15, 2, 2, 0, 15}).code, 0u);
  ASSERT_EQ(vm.Call("CreateAnim", {4, 1, 10, 15, 2, 2}).code, 0u);
  ASSERT_EQ(vm.Call("DisplayAnimFrame", {2, 0, 0, 2}).code, 0u);
  auto style = [&](std::function<void()> fill) {
    return vm.CallWith("setlayerstyle", [&] {
      vm_pushnumber(vm.L, 1);
      vm_newtable(vm.L);
      fill();
      return 2;
    }).code;
  };
  auto frame = [&] { return vm.Call("GetAttribute", {22, 1, 12}).results.at(0); };
  auto shown = [&] { return DisplayVm::BitmapPixel(vm.d->layerBuffer, 0, 0); };
  ASSERT_EQ(style([&] { vm.Set("frame", 0); }), 0u);
  EXPECT_EQ(frame(), 1);
  EXPECT_EQ(shown(), Pixel(0, 0));
  ASSERT_EQ(style([&] { vm.Set("id", 3); }), 0u);
  EXPECT_EQ(frame(), 1);
  EXPECT_EQ(shown(), Pixel(0, 15));
  ASSERT_EQ(style([&] { vm.Set("id", 2), vm.Set("frame", 2); }), 0u);
  EXPECT_EQ(shown(), Pixel(20, 0));
  // Another size: the narrower frame is shown from the same corner, the rest composed anew.
  ASSERT_EQ(style([&] { vm.Set("id", 4); }), 0u) << "another size";
  EXPECT_EQ(shown(), Pixel(0, 0));
  EXPECT_EQ(DisplayVm::BitmapPixel(vm.d->layerBuffer, 9, 14), Pixel(9, 14));
  EXPECT_EQ(DisplayVm::BitmapPixel(vm.d->layerBuffer, 10, 0), 0x102030u);
  ASSERT_EQ(style([&] { vm.Set("id", 2), vm.Set("frame", 2); }), 0u);
  EXPECT_EQ(style([&] { vm.Set("id", 9); }), ERR_FINDANIM);
  EXPECT_EQ(style([&] { vm.Set("frame", 3); }), ERR_ANIMFRAME);
  EXPECT_EQ(shown(), Pixel(20, 0));
  // GetLayerStyle(1).id and .frame.
  vm_settop(vm.L, 0);
  vm_pushstring(vm.L, "getlayerstyle");
  vm_gettable(vm.L, VM_GLOBALSINDEX);
  vm_pushnumber(vm.L, 1);
  ASSERT_EQ(vm_pcall(vm.L, 1, 1, 0), 0);
  for (auto [key, value] : {std::pair{"id", 2.0}, std::pair{"frame", 2.0}}) {
    vm_pushstring(vm.L, key);
    vm_gettable(vm.L, 1);
    EXPECT_EQ(vm_tonumber(vm.L, -1), value) << key;
    vm_pop(vm.L, 1);
  }
  vm_settop(vm.L, 0);
}

// Move lists: a NEXTFRAME entry draws an anim that no layer shows as a new layer (its second
// frame), and later steps that layer on and moves it; NEXTFRAME2 names the layer by position.
TEST(AnimLib, MoveListFrames) {
  AnimVm vm;
  ASSERT_EQ(vm.Call("EnableLayers", {}).code, 0u);
  ASSERT_EQ(vm.Call("CreateAnim", {2, 1, 20, 15, 3, 2}).code, 0u);
  auto frame = [&] { return vm.Call("GetAttribute", {22, 1, 12}).results.at(0); };
  auto shown = [&](int x, int y) { return DisplayVm::BitmapPixel(vm.d->layerBuffer, x, y); };
  ASSERT_EQ(vm.Call("AddMove", {7, int(QMTYPE_NEXTFRAME), 2, 0.0, 0.0}).code, 0u);
  ASSERT_EQ(vm.Call("DoMove", {7}).code, 0u);
  EXPECT_EQ(frame(), 2);
  EXPECT_EQ(shown(0, 0), Pixel(20, 0));
  ASSERT_EQ(vm.Call("AddMove", {8, int(QMTYPE_NEXTFRAME), 2, 5, 6}).code, 0u);
  ASSERT_EQ(vm.Call("DoMove", {8}).code, 0u);
  EXPECT_EQ(frame(), 3);
  EXPECT_EQ(shown(5, 6), Pixel(0, 15));
  EXPECT_EQ(shown(0, 0), 0x102030u) << "the old place is composed anew";
  ASSERT_EQ(vm.Call("AddMove", {9, int(QMTYPE_NEXTFRAME2), 1, 5, 6, 2}).code, 0u);
  ASSERT_EQ(vm.Call("DoMove", {9}).code, 0u);
  EXPECT_EQ(frame(), 2);
  EXPECT_EQ(shown(5, 6), Pixel(20, 0));
  ASSERT_EQ(vm.Call("DisplayBrush", {1, 0, 0}).code, 0u);
  ASSERT_EQ(vm.Call("AddMove", {10, int(QMTYPE_NEXTFRAME2), 2, 0.0, 0.0}).code, 0u);
  EXPECT_EQ(vm.Call("DoMove", {10}).code, ERR_WRONGUSAGE);
}

// An anim stream: a brush smaller than the stream at CENTER lies centred on the transparent
// colour, which the GIF leaves transparent; a brush of the stream's size is written whole.
// Pillow decodes the file.
TEST(AnimLib, AnimStreamFrames) {
  TempDir dir;
  if (RunAnimPeer("strip " + dir.path())) GTEST_SKIP() << "python3-pil is missing";
  AnimVm vm;
  const std::string file = dir / "stream.gif";
  std::vector<uint32_t> small, whole;
  for (int i = 0; i < 4 * 2; i++) small.push_back(0xFF000000u | 0xF80000u);
  for (int i = 0; i < 10 * 8; i++) whole.push_back(0xFF000000u | (i % 2 ? 0x0000F8u : 0xF8F800u));
  ASSERT_EQ(vm.FromArray(2, small, 4, 2).code, 0u);
  ASSERT_EQ(vm.FromArray(3, whole, 10, 8).code, 0u);
  ASSERT_EQ(vm.Call("BeginAnimStream", {1, CmdArg::Str(file.c_str()), 10, 8}).code, 0u);
  EXPECT_EQ(vm.Call("WriteAnimFrame", {9, 2}).code, ERR_FINDANIMSTREAM);
  const uint32_t code = vm.CallWith("writeanimframe", [&] {
                            vm_pushnumber(vm.L, 1);
                            vm_pushnumber(vm.L, 2);
                            vm_newtable(vm.L);
                            vm.Set("x", POS_CENTER);
                            vm.Set("y", POS_CENTER);
                            vm.Set("transparency", 0x00FC00);
                            vm.Set("delay", 120);
                            return 3;
                          }).code;
  ASSERT_EQ(code, 0u);
  ASSERT_EQ(vm.Call("WriteAnimFrame", {1, 3}).code, 0u);
  ASSERT_EQ(vm.Call("FinishAnimStream", {1}).code, 0u);
  EXPECT_EQ(vm.Call("FinishAnimStream", {1}).code, ERR_FINDANIMSTREAM);
  ASSERT_EQ(RunAnimPeer("gif-frames " + dir / "back" + " " + file), 0);
  PeerFrames back;
  ASSERT_TRUE(ReadFrames(dir / "back/stream.frames", &back));
  ASSERT_EQ(back.rgba.size(), 2u);
  // The quantizer's palette holds the centres of its 5-6-5 cells.
  auto rgba = [&](size_t f, int x, int y) {
    const auto *q = reinterpret_cast<const uint8_t *>(back.rgba[f].data()) + (y * 10 + x) * 4;
    return uint32_t(q[0]) << 24 | uint32_t(q[1]) << 16 | uint32_t(q[2]) << 8 | q[3];
  };
  for (int y = 0; y < 8; y++)
    for (int x = 0; x < 10; x++) {
      const bool inside = x >= 3 && x < 7 && y >= 3 && y < 5;
      EXPECT_EQ(rgba(0, x, y) & 0xFF, inside ? 255u : 0u) << x << "," << y;
      if (inside) {
        EXPECT_EQ(rgba(0, x, y) >> 8, 0xFC0204u) << x << "," << y;
      }
      EXPECT_EQ(rgba(1, x, y), ((y * 10 + x) % 2 ? 0x0402FCu : 0xFCFA04u) << 8 | 0xFF) << x << "," << y;
    }
}

// With layers on an asynchronous playback drives its layer: each step shows the next frame,
// a jump shows the frame asked for, and the layer cannot be removed while it plays.
TEST(AnimLib, AsyncPlaybackWithLayers) {
  AnimVm vm;
  ASSERT_EQ(vm.Call("EnableLayers", {}).code, 0u);
  ASSERT_EQ(vm.Call("CreateAnim", {2, 1, 20, 15, 3, 2}).code, 0u);
  qmObjectHeader *ad = vm.PlayAsync(2, ANIMSPEED_FAST);
  ASSERT_NE(ad, nullptr);
  auto frame = [&] { return vm.Call("GetAttribute", {22, 1, 12}).results.at(0); };
  auto shown = [&] { return DisplayVm::BitmapPixel(vm.d->layerBuffer, 0, 0); };
  EXPECT_EQ(frame(), 1);
  ASSERT_EQ(vm.Step(ad), 0u);
  ASSERT_EQ(vm.Step(ad), 0u);
  EXPECT_EQ(frame(), 2);
  EXPECT_EQ(shown(), Pixel(20, 0));
  EXPECT_EQ(vm.Call("RemoveLayer", {1}).code, ERR_REMADLAYER);
  // AsyncDrawFrame(handle, 3): a jump.
  ASSERT_EQ(vm.CallWith("asyncdrawframe", [&] {
                vm_pushlightuserdata(vm.L, reinterpret_cast<void *>(ad->handle));
                vm_pushnumber(vm.L, 3);
                return 2;
              }).code,
            0u);
  EXPECT_EQ(frame(), 3);
  EXPECT_EQ(shown(), Pixel(0, 15));
}

// The playback holds its layer, not a position: layers inserted or removed below it leave it
// driving its own layer, and when its layer goes by a removal that does not ask the draw
// objects, the playback lets go of it and ends at its next step.
TEST(AnimLib, AsyncPlaybackFollowsItsLayer) {
  struct Case {
    const char *name;
    std::function<void(AnimVm &)> removeAll;
  } cases[] = {
      {"FreeLayers", [](AnimVm &vm) { ASSERT_EQ(vm.Call("FreeLayers", {}).code, 0u); }},
      {"the layer engine's removal",
       [](AnimVm &vm) {
         qmScene *scene = GetScene(vm.L);
         while (qmLayer *l = FirstLayer(scene->picture)) DestroyLayer(scene, l, 0, nullptr, nullptr);
       }},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    AnimVm vm;
    ASSERT_EQ(vm.Call("EnableLayers", {}).code, 0u);
    ASSERT_EQ(vm.Call("CreateAnim", {2, 1, 20, 15, 4, 2}).code, 0u);
    ASSERT_EQ(vm.Call("DisplayBrush", {1, 30, 30}).code, 0u);
    qmObjectHeader *ad = vm.PlayAsync(2, ANIMSPEED_FAST);
    ASSERT_NE(ad, nullptr);
    auto frameAt = [&](int position) { return vm.Call("GetAttribute", {22, position, 12}).results.at(0); };
    auto shown = [&] { return DisplayVm::BitmapPixel(vm.d->layerBuffer, 0, 0); };
    // A brush layer slipped in under everything.
    ASSERT_EQ(vm.CallWith("displaybrush", [&] {
                  for (double v : {1.0, 30.0, 0.0}) vm_pushnumber(vm.L, v);
                  vm_newtable(vm.L);
                  vm.Set("insertpos", 1);
                  return 4;
                }).code,
              0u);
    ASSERT_EQ(vm.Step(ad), 0u);
    ASSERT_EQ(vm.Step(ad), 0u);
    EXPECT_EQ(frameAt(3), 2);
    EXPECT_EQ(shown(), Pixel(20, 0));
    EXPECT_EQ(vm.Call("RemoveLayer", {3}).code, ERR_REMADLAYER);
    ASSERT_EQ(vm.Call("RemoveLayer", {1}).code, 0u);
    ASSERT_EQ(vm.Step(ad), 0u);
    EXPECT_EQ(frameAt(2), 3);
    EXPECT_EQ(shown(), Pixel(0, 15));
    EXPECT_EQ(vm.Call("RemoveLayer", {2}).code, ERR_REMADLAYER);

    c.removeAll(vm);
    EXPECT_EQ(vm.Anim(2)->lockCount, 1);
    const uintptr_t handle = ad->handle;
    ASSERT_EQ(vm.Step(ad), 0u) << "the step after its layer went ends the playback";
    const CommandCall last = vm.CallWith("asyncdrawframe", [&] {
      vm_pushlightuserdata(vm.L, reinterpret_cast<void *>(handle));
      return 1;
    });
    EXPECT_EQ(last.code, 0u);
    EXPECT_EQ(FirstObject(ObjectRegistryOf(vm.L), QMTYPE_ASYNCDRAW), nullptr) << "ended";
    EXPECT_EQ(vm.Anim(2)->lockCount, 0);
  }
}

}  // namespace

namespace {

// SaveAnim and anim streams in format 1 write motion-JPEG AVIs: ffprobe counts their frames,
// and LoadAnim reads them back with their colours (within JPEG rounding).
TEST(AnimLib, AnimsSaveAsAviAndLoadBack) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is missing";
  TempDir dir;
  AnimVm vm;
  std::vector<uint32_t> strip;
  for (int y = 0; y < 16; y++)
    for (int x = 0; x < 32; x++) strip.push_back(0xFF000000u | (x < 16 ? 0xE02020u : 0x2020E0u));
  ASSERT_EQ(vm.FromArray(3, strip, 32, 16).code, 0u);
  ASSERT_EQ(vm.Call("CreateAnim", {2, 3, 16, 16, 2, 2}).code, 0u);
  const std::string saved = dir / "saved.avi";
  ASSERT_EQ(vm.Call("SaveAnim", {2, CmdArg::Str(saved.c_str()), 1}).code, 0u);
  EXPECT_EQ(ProbeFrameCount(saved), 2);
  ASSERT_EQ(vm.Call("LoadAnim", {4, CmdArg::Str(saved.c_str())}).code, 0u);
  EXPECT_LE(ColourDistance(uint32_t(vm.FramePixel(4, 1, 8, 8)), 0xE02020u), 12);
  EXPECT_LE(ColourDistance(uint32_t(vm.FramePixel(4, 2, 8, 8)), 0x2020E0u), 12);

  const std::string streamed = dir / "stream.avi";
  ASSERT_EQ(vm.Call("BeginAnimStream", {5, CmdArg::Str(streamed.c_str()), 32, 16, 1}).code, 0u);
  for (int i = 0; i < 3; i++) ASSERT_EQ(vm.Call("WriteAnimFrame", {5, 3}).code, 0u);
  ASSERT_EQ(vm.Call("FinishAnimStream", {5}).code, 0u);
  EXPECT_EQ(ProbeFrameCount(streamed), 3);
}

// An AVI whose index sends a frame past the end of the file: that frame gives ERR_LOADFRAME to
// LoadAnimFrame, while the frames before it load; LoadAnim, which reads the frames in order,
// finds them all.
TEST(AnimLib, AviFramePastTheEndOfTheFile) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is missing";
  TempDir dir;
  const std::string made = dir / "made.avi", bad = dir / "bad.avi";
  ASSERT_EQ(RunQuiet("ffmpeg -v error -y -f lavfi -i color=c=0x2020E0:s=16x8:r=5 -frames:v 3 -c:v mjpeg '" + made +
                     "'"),
            0);
  std::string b = ReadWholeFile(made);
  const size_t idx1 = b.rfind("idx1");
  ASSERT_NE(idx1, std::string::npos);
  // The third video entry of the index (16 bytes each after the chunk header) points far away.
  int seen = 0;
  for (size_t e = idx1 + 8; e + 16 <= b.size(); e += 16)
    if (b.compare(e, 4, "00dc") == 0 && ++seen == 3) b.replace(e + 8, 4, std::string("\xF0\xFF\xFF\x7F", 4));
  ASSERT_EQ(seen, 3);
  WriteFile(bad, b);
  AnimVm vm;
  ASSERT_EQ(vm.Call("LoadAnimFrame", {6, 2, CmdArg::Str(bad.c_str())}).code, 0u);
  EXPECT_LE(ColourDistance(uint32_t(vm.Read(6, 4, 4).first), 0x2020E0u), 12);
  EXPECT_EQ(vm.Call("LoadAnimFrame", {7, 3, CmdArg::Str(bad.c_str())}).code, ERR_LOADFRAME);
  EXPECT_EQ(vm.Brush(7), nullptr);
  // LoadAnim reads the frames in their order, chunk after chunk, and needs no index.
  ASSERT_EQ(vm.Call("LoadAnim", {4, CmdArg::Str(bad.c_str())}).code, 0u);
  EXPECT_EQ(vm.Anim(4)->frameCount, 3);
  EXPECT_LE(ColourDistance(uint32_t(vm.FramePixel(4, 3, 4, 4)), 0x2020E0u), 12);
}

}  // namespace
