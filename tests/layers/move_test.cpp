// Objects moved on a display whose clock moves only when a frame waits: every frame the window
// shows is captured and compared with the background and the object drawn where the path puts
// it, with layers on and off, to the end and asynchronously.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "display/bgpic.h"
#include "layers/layer.h"
#include "runtime/errcodes.h"
#include "runtime/vm/vm_api.h"
#include "layers/move.h"
#include "layers/sprite.h"
#include "tests/media/animcore/anim_test_util.h"
#include "tests/transitions/fx_vm.h"

namespace {

constexpr uint32_t kBack = 0x102030;

struct MoveVm : FxVm {
  using FxVm::FxVm;
  // The window of the fixture's size with pictures of (seed, w x h) at their places, drawn in order.
  struct Placed {
    int seed, x, y, w, h;
  };
  std::vector<uint32_t> Expected(const std::vector<Placed> &objects) const {
    std::vector<uint32_t> out(size_t(width) * height, kBack);
    for (const Placed &p : objects)
      for (int y = 0; y < p.h; y++)
        for (int x = 0; x < p.w; x++) {
          const int64_t X = int64_t(p.x) + x, Y = int64_t(p.y) + y;
          if (X >= 0 && Y >= 0 && X < width && Y < height) out[size_t(Y) * width + X] = Pattern(p.seed, x, y);
        }
    return out;
  }
  // A command whose one result is a handle: the handle, or null (the code in *code).
  void *CallForHandle(const char *name, const std::function<int()> &push, uint32_t *code) {
    vm_settop(L, 0);
    vm_pushstring(L, name);
    vm_gettable(L, VM_GLOBALSINDEX);
    const int n = push();
    *code = vm_pcall(L, n, VM_MULTRET, 0);
    void *handle = *code == 0 && vm_gettop(L) >= 1 ? vm_touserdata(L, 1) : nullptr;
    if (*code) vm_setendrequested(L, 0);
    vm_settop(L, 0);
    return handle;
  }
  // MoveBrush(id, x1, y1, x2, y2, {speed, async = True}): the asynchronous draw object's handle.
  void *StartAsync(int id, int x1, int y1, int x2, int y2, int speed) {
    uint32_t code = 0;
    void *h = CallForHandle("movebrush", [&] {
      for (int v : {id, x1, y1, x2, y2}) vm_pushnumber(L, v);
      vm_newtable(L);
      Set("speed", speed);
      vm_pushstring(L, "async");
      vm_pushboolean(L, 1);
      vm_settable(L, -3);
      return 6;
    }, &code);
    EXPECT_EQ(code, 0u);
    return h;
  }
  // AsyncDrawFrame(handle): whether the object ended.
  bool Advance(void *handle) {
    vm_settop(L, 0);
    vm_pushstring(L, "asyncdrawframe");
    vm_gettable(L, VM_GLOBALSINDEX);
    vm_pushlightuserdata(L, handle);
    EXPECT_EQ(vm_pcall(L, 1, 1, 0), 0u);
    const bool ended = vm_toboolean(L, -1);
    vm_settop(L, 0);
    return ended;
  }
};

TEST(MoveObject, EveryFrameShowsTheObjectOnlyWhereThePathIs) {
  struct Case {
    const char *name;
    bool layers;
    const char *command;
    std::vector<CmdArg> args;
    std::vector<int> xs;  // where the brush stands after each frame (y follows the same steps)
    std::vector<int> ys;
  } cases[] = {
      {"brush, layers off", false, "MoveBrush", {1, 0, 10, 40, 10, 10}, {10, 20, 30, 40}, {10, 10, 10, 10}},
      {"brush diagonally, layers off", false, "MoveBrush", {1, 50, 30, 20, 0, 15}, {35, 20}, {15, 0}},
      {"brush off the edge, layers off", false, "MoveBrush", {1, 40, 5, 70, 5, 20}, {60, 70}, {5, 5}},
      {"brush, layers on", true, "MoveBrush", {1, 0, 10, 40, 10, 10}, {10, 20, 30, 40}, {10, 10, 10, 10}},
      {"layer", true, "MoveLayer", {1, 0, 0, 0, 24, 12}, {0, 0}, {12, 24}},
  };
  for (const Case &c : cases) {
    MoveVm vm(64, 48, c.layers);
    vm.MakeBrush(1, 8, 6, 3);
    if (std::string(c.command) == "MoveLayer") {
      ASSERT_EQ(vm.Call("DisplayBrush", {1, 0, 0}).code, 0u);
    }
    vm.StartCapture();
    ASSERT_EQ(vm.Call(c.command, c.args).code, 0u) << c.name;
    const auto &frames = MoveVm::Frames();
    ASSERT_EQ(frames.size(), c.xs.size()) << c.name << ": one frame per step";
    for (size_t i = 0; i < frames.size(); i++) {
      EXPECT_EQ(frames[i], vm.Expected({{3, c.xs[i], c.ys[i], 8, 6}})) << c.name << " frame " << i;
    }
    if (c.layers) {
      EXPECT_EQ(CountLayers(vm.d->bgpic), 1) << c.name << ": the object's own layer moved";
    }
  }
}

// The two 6x6 halves of a 12x6 pattern of seed 0 moved 10 pixels a step with animspeed
// FASTSPEED: the frame turns after every step that time passed before, and the first step is
// drawn at the start's own time.
void ExpectHalvesMoving(MoveVm &vm, const char *what) {
  const auto &frames = MoveVm::Frames();
  ASSERT_EQ(frames.size(), 3u) << what;
  const int shownFrame[3] = {0, 0, 1};
  for (size_t i = 0; i < frames.size(); i++) {
    const int x = 10 * int(i + 1);
    std::vector<uint32_t> want(size_t(vm.width) * vm.height, kBack);
    for (int y = 0; y < 6; y++)
      for (int px = 0; px < 6; px++)
        want[size_t(y) * vm.width + x + px] = FxVm::Pattern(0, px + 6 * shownFrame[i], y);
    EXPECT_EQ(frames[i], want) << what << " frame " << i;
  }
}

TEST(MoveObject, SpritesPlayTheirFramesAndStayShown) {
  MoveVm vm;
  vm.MakeBrush(1, 12, 6, 0);
  ASSERT_EQ(vm.Call("CreateSprite", {1, 3, 1, 6, 6, 2, 2}).code, 0u);
  vm.StartCapture();
  ASSERT_EQ(vm.Call("MoveSprite", {1, 0, 0, 30, 0, 10, -2}).code, 0u);
  ExpectHalvesMoving(vm, "sprite");
  ASSERT_NE(vm.d->bgpic->shownSprites, nullptr);
  EXPECT_EQ(vm.d->bgpic->shownSprites->x, 30);
  // It ends shown: RemoveSprite takes it away.
  ASSERT_EQ(vm.Call("RemoveSprite", {1}).code, 0u);
  EXPECT_EQ(vm.Window(), vm.Expected({}));
}

TEST(MoveObject, AnimsPlayTheirFramesAlongThePath) {
  MoveVm vm;
  vm.MakeBrush(1, 12, 6, 0);
  ASSERT_EQ(vm.Call("CreateAnim", {1, 1, 6, 6, 2, 2}).code, 0u);
  vm.StartCapture();
  ASSERT_EQ(vm.Call("MoveAnim", {1, 0, 0, 30, 0, 10, -2}).code, 0u);
  ExpectHalvesMoving(vm, "anim");
  EXPECT_EQ(vm.Call("FreeAnim", {1}).code, 0u) << "the move let go of the anim";
}

TEST(MoveObject, AnimFramesKeepTheirDelayWithLayersOnAndOff) {
  // Which of the anim's two frames each captured frame shows, moving 4 pixels a step at
  // animspeed 5 (100 ms a frame); the clock moves only as frames are paced.
  auto framesShown = [](bool layers) {
    MoveVm vm(64, 48, layers);
    vm.MakeBrush(1, 12, 6, 0);
    EXPECT_EQ(vm.Call("CreateAnim", {1, 1, 6, 6, 2, 2}).code, 0u);
    vm.StartCapture();
    EXPECT_EQ(vm.Call("MoveAnim", {1, 0, 0, 56, 0, 4, 5}).code, 0u);
    std::vector<int> shown;
    for (size_t i = 0; i < MoveVm::Frames().size(); i++) {
      const uint32_t px = MoveVm::Frames()[i][size_t(1) * vm.width + 4 * int(i + 1) + 1];
      shown.push_back(px == FxVm::Pattern(0, 1, 1) ? 0 : px == FxVm::Pattern(0, 7, 1) ? 1 : -1);
    }
    return shown;
  };
  const std::vector<int> off = framesShown(false), on = framesShown(true);
  ASSERT_EQ(off.size(), 14u);
  ASSERT_EQ(on.size(), 14u);
  // The layer takes a new frame as soon as it is due; the picture draws it with the next step.
  for (size_t i = 0; i + 1 < off.size(); i++) EXPECT_EQ(on[i], off[i + 1]) << "step " << i;
  int changes = 0;
  for (size_t i = 1; i < off.size(); i++) changes += off[i] != off[i - 1];
  EXPECT_GE(changes, 1);
  EXPECT_LE(changes, 4) << "a frame stays for its delay, not one step";
}

TEST(MoveObject, SpritesFromAnimsAndAnimFiles) {
  MoveVm vm;
  vm.MakeBrush(1, 12, 6, 0);
  ASSERT_EQ(vm.Call("CreateAnim", {1, 1, 6, 6, 2, 2}).code, 0u);
  ASSERT_EQ(vm.Call("CreateSprite", {1, 4, 1}).code, 0u);
  ASSERT_EQ(vm.Call("FreeAnim", {1}).code, 0u) << "the sprite keeps its own frames";
  vm.StartCapture();
  ASSERT_EQ(vm.Call("MoveSprite", {1, 0, 0, 30, 0, 10, -2}).code, 0u);
  ExpectHalvesMoving(vm, "sprite of an anim");
  // A GIF animation made by Pillow: three 8x6 frames, each two colours left and right of column 4.
  char dir[] = "/tmp/qmspritesXXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  if (RunAnimPeer("strip " + std::string(dir) + " >/dev/null") != 0) GTEST_SKIP() << "python3-pil is missing";
  const std::string gif = std::string(dir) + "/strip.gif";
  ASSERT_EQ(vm.Call("LoadSprite", {2, CmdArg::Str(gif.c_str())}).code, 0u);
  for (const char *name : {"/strip.gif", "/one.gif"}) std::remove((std::string(dir) + name).c_str());
  std::remove(dir);
  constexpr uint32_t kLeft[] = {0xF80000, 0x00FC00, 0x0000F8}, kRight[] = {0xF8F800, 0x808080, 0xF800F8};
  ASSERT_EQ(vm.Call("RemoveSprite", {1}).code, 0u);
  for (int frame = 1; frame <= 3; frame++) {
    ASSERT_EQ(vm.Call("DisplaySprite", {2, 20, 10, frame}).code, 0u);
    EXPECT_EQ(MoveVm::WindowPixel(vm.d, 21, 12), kLeft[frame - 1]) << "frame " << frame;
    EXPECT_EQ(MoveVm::WindowPixel(vm.d, 26, 15), kRight[frame - 1]) << "frame " << frame;
  }
  EXPECT_EQ(vm.Call("DisplaySprite", {2, 20, 10, 4}).code, uint32_t(ERR_ANIMFRAME));
  EXPECT_EQ(vm.Call("LoadSprite", {3, CmdArg::Str(gif.c_str())}).code, uint32_t(ERR_READFILE)) << "gone";
}

TEST(MoveObject, ScaledDisplaysShowTheEndStateScaled) {
  MoveVm vm;
  ASSERT_EQ(vm.Create(2, [&] {
                vm.Set("width", 40), vm.Set("height", 30), vm.Set("scalemode", 1), vm.Set("scalewidth", 80),
                    vm.Set("scaleheight", 60), vm.Set("color", kBack);
              }).code,
            0u);
  ASSERT_EQ(vm.Call("OpenDisplay", {2}).code, 0u);
  ASSERT_EQ(vm.Call("SelectDisplay", {2}).code, 0u);
  qmDisplay *d2 = MoveVm::Display(2);
  vm.MakeBrush(1, 8, 6, 3);
  vm.MakeBrush(2, 5, 5, 9);
  ASSERT_EQ(vm.Call("CreateSprite", {1, 3, 1}).code, 0u);
  ASSERT_EQ(vm.Call("DisplaySprite", {1, 4, 4}).code, 0u);
  ASSERT_EQ(vm.Call("MoveSprite", {1, 4, 4, 24, 14, 10}).code, 0u);
  ASSERT_EQ(vm.Call("MoveBrush", {2, 30, 0, 0, 20, 10}).code, 0u);
  // The brush lies in the background, the sprite over it; each picture pixel is 2 x 2 in the window.
  for (int y = 0; y < 30; y++)
    for (int x = 0; x < 40; x++) {
      uint32_t want = kBack;
      if (x < 5 && y >= 20 && y < 25) want = FxVm::Pattern(9, x, y - 20);
      if (x >= 24 && x < 32 && y >= 14 && y < 20) want = FxVm::Pattern(3, x - 24, y - 14);
      for (int k = 0; k < 4; k++)
        ASSERT_EQ(MoveVm::WindowPixel(d2, 2 * x + k % 2, 2 * y + k / 2), want) << x << "," << y;
    }
}

TEST(MoveObject, AsynchronousMovesHoldTheBrushUntilTheLastEnds) {
  MoveVm vm;
  vm.MakeBrush(1, 8, 6, 5);
  void *a = vm.StartAsync(1, 0, 0, 20, 0, 10);   // two steps
  void *b = vm.StartAsync(1, 0, 30, 40, 30, 10);  // four steps
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(vm.Call("FreeBrush", {1}).code, uint32_t(ERR_LOCKEDOBJ));
  int steps = 0;
  while (!vm.Advance(a)) steps++;
  EXPECT_EQ(steps, 2);
  EXPECT_EQ(vm.Call("FreeBrush", {1}).code, uint32_t(ERR_LOCKEDOBJ)) << "the other move still holds it";
  while (!vm.Advance(b)) {
  }
  // Both ended at their targets, drawn into the background.
  EXPECT_EQ(vm.Window(), vm.Expected({{5, 20, 0, 8, 6}, {5, 40, 30, 8, 6}}));
  EXPECT_EQ(vm.Call("FreeBrush", {1}).code, 0u);
}

// FreeLayers takes every layer away, also the one an asynchronous move carries its brush on:
// the move lets go of it and ends at its next frame, drawing nothing more.
TEST(MoveObject, AnAsynchronousMoveWhoseLayerGoesEnds) {
  MoveVm vm(64, 48, true);
  vm.MakeBrush(1, 8, 6, 5);
  void *a = vm.StartAsync(1, 0, 0, 40, 0, 10);
  ASSERT_NE(a, nullptr);
  EXPECT_FALSE(vm.Advance(a));
  ASSERT_EQ(CountLayers(vm.d->bgpic), 1);
  ASSERT_EQ(vm.Call("FreeLayers", {}).code, 0u);  // what the layer showed stays as background
  // Three steps were left; the step that ends it is reported at the call after it, as any last step.
  int calls = 1;
  while (!vm.Advance(a) && calls < 10) calls++;
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(CountLayers(vm.d->bgpic), 0);
  EXPECT_EQ(vm.Window(), vm.Expected({{5, 10, 0, 8, 6}}));
  EXPECT_EQ(vm.Call("FreeBrush", {1}).code, 0u);
}

// A caller that embeds a move drives it step by step and ends it; a start on the end begins 10
// pixels up and left of it.
TEST(MoveObject, EmbeddedMovesAreDrivenByTheirOwner) {
  struct Case {
    int x1, y1, x2, y2;
    std::vector<int> xs;
  } cases[] = {{0, 20, 30, 20, {10, 20, 30}}, {30, 20, 30, 20, {30}}};
  for (const Case &c : cases) {
    MoveVm vm;
    vm.MakeBrush(1, 8, 6, 4);
    qmMove m{};
    m.scene = vm.Scene();
    m.objectType = QMTYPE_BRUSH;
    m.objectId = {1, 0};
    m.startX = c.x1, m.startY = c.y1, m.endX = c.x2, m.endY = c.y2;
    m.speedOption = 10;
    m.animSpeedOption = MOVESPEED_NORMAL;
    m.embedded = 1;
    ASSERT_EQ(RunMove(&m, nullptr), 0u);
    EXPECT_EQ(vm.Call("FreeBrush", {1}).code, uint32_t(ERR_LOCKEDOBJ)) << "held while embedded";
    std::vector<int> xs;
    for (int32_t done = 0; !done && xs.size() < 100;) {
      ASSERT_EQ(MoveStep(&m, &done), 0u);
      xs.push_back(m.x);
    }
    EXPECT_EQ(xs, c.xs);
    EXPECT_EQ(m.y, c.y2);
    EXPECT_EQ(vm.Window(), vm.Expected({{4, c.x2, c.y2, 8, 6}}));
    MoveFree(&m);
    EXPECT_EQ(vm.Call("FreeBrush", {1}).code, 0u) << "let go by its owner";
  }
}

TEST(MoveObject, RefusalsAndMovesThatGoNowhere) {
  MoveVm vm;
  vm.MakeBrush(1, 8, 6, 5);
  ASSERT_EQ(vm.Call("CreateSprite", {1, 3, 1}).code, 0u);
  vm.StartCapture();
  ASSERT_EQ(vm.Call("MoveBrush", {1, 5, 5, 5, 5}).code, 0u);
  EXPECT_TRUE(MoveVm::Frames().empty());
  EXPECT_EQ(vm.Window(), vm.Expected({})) << "nothing drawn";
  struct Case {
    const char *name;
    const char *command;
    std::vector<CmdArg> args;
    uint32_t code;
  } cases[] = {
      {"speed 0", "MoveBrush", {1, 0, 0, 9, 9, 0}, ERR_WRONGUSAGE},
      {"DEFAULTSPEED as speed", "MoveSprite", {1, 0, 0, 9, 9, -4}, ERR_WRONGUSAGE},
      {"missing brush", "MoveBrush", {7, 0, 0, 9, 9}, ERR_FINDBRUSH},
      {"missing sprite", "MoveSprite", {7, 0, 0, 9, 9}, ERR_FINDSPRITE},
      {"a layer without layers", "MoveLayer", {1, 0, 0, 9, 9}, ERR_NOLAYERS},
  };
  for (const Case &c : cases) EXPECT_EQ(vm.Call(c.command, c.args).code, c.code) << c.name;
  ASSERT_EQ(vm.Call("EnableLayers", {}).code, 0u);
  EXPECT_EQ(vm.Call("MoveSprite", {1, 0, 0, 9, 9}).code, uint32_t(ERR_LAYERSOFF));
  EXPECT_EQ(vm.Call("MoveLayer", {3, 0, 0, 9, 9}).code, uint32_t(ERR_LAYERRANGE));
  EXPECT_EQ(vm.Call("FreeBrush", {1}).code, 0u) << "a refused move holds nothing";
}

}  // namespace

namespace {

// A text object whose picture stands off its origin (an edge reaches left of and above the
// letters): a move ends where DisplayTextObject would show it, with layers on and off.
TEST(MoveObject, TextObjectsEndWhereTheyWouldBeShown) {
  auto screen = [](bool layers, bool moved) {
    MoveVm vm(64, 48, layers);
    EXPECT_EQ(vm.Call("SetFontStyle", {64, 0xFF4020, 3}).code, 0u);
    EXPECT_EQ(vm.Call("CreateTextObject", {1, CmdArg::Str("Hi")}).code, 0u);
    int32_t ox = 0, oy = 0;
    const qmObjectId id{1, 0};
    EXPECT_EQ(GetPlayerContext(vm.L)->textObjectOffset(vm.Scene(), &id, &ox, &oy), 0u);
    EXPECT_TRUE(ox < 0 && oy < 0) << "the edge puts the picture at " << ox << "," << oy;
    if (moved) {
      EXPECT_EQ(vm.Call("MoveTextObject", {1, 2, 3, 22, 13, 4}).code, 0u);
    } else {
      EXPECT_EQ(vm.Call("DisplayTextObject", {1, 22, 13}).code, 0u);
    }
    return vm.Window();
  };
  for (bool layers : {false, true}) {
    const std::vector<uint32_t> shown = screen(layers, false);
    EXPECT_NE(shown, std::vector<uint32_t>(64 * 48, kBack)) << "the text is drawn";
    EXPECT_EQ(screen(layers, true), shown) << (layers ? "layers on" : "layers off");
  }
}

}  // namespace

namespace {

// A move list entry for a text object that no layer shows draws the object as a new top layer,
// where DisplayTextObject would show it; the next list moves that layer.
TEST(MoveObject, MoveListsShowATextObjectAsANewLayer) {
  auto shown = [](int x, int y) {
    MoveVm vm(64, 48, true);
    EXPECT_EQ(vm.Call("SetFontStyle", {64, 0xFF4020, 3}).code, 0u);
    EXPECT_EQ(vm.Call("CreateTextObject", {1, CmdArg::Str("Hi")}).code, 0u);
    EXPECT_EQ(vm.Call("DisplayTextObject", {1, x, y}).code, 0u);
    return vm.Window();
  };
  const std::vector<uint32_t> first = shown(22, 13), second = shown(5, 20);
  EXPECT_NE(first, std::vector<uint32_t>(64 * 48, kBack)) << "the text is drawn";
  MoveVm vm(64, 48, true);
  ASSERT_EQ(vm.Call("SetFontStyle", {64, 0xFF4020, 3}).code, 0u);
  ASSERT_EQ(vm.Call("CreateTextObject", {1, CmdArg::Str("Hi")}).code, 0u);
  ASSERT_EQ(vm.Call("AddMove", {1, double(QMTYPE_TEXTOBJECT), 1, 22, 13}).code, 0u);
  ASSERT_EQ(vm.Call("DoMove", {1}).code, 0u);
  ASSERT_EQ(CountLayers(vm.d->bgpic), 1);
  EXPECT_EQ(GetNthLayer(vm.d->bgpic, 1)->type, QMTYPE_TEXTOBJECT);
  EXPECT_EQ(vm.Window(), first);
  ASSERT_EQ(vm.Call("AddMove", {2, double(QMTYPE_TEXTOBJECT), 1, 5, 20}).code, 0u);
  ASSERT_EQ(vm.Call("DoMove", {2}).code, 0u);
  EXPECT_EQ(CountLayers(vm.d->bgpic), 1) << "the layer moved, none was added";
  EXPECT_EQ(vm.Window(), second);
  // A text object that does not exist ends the list with its look-up error.
  ASSERT_EQ(vm.Call("AddMove", {3, double(QMTYPE_TEXTOBJECT), 9, 0, 0}).code, 0u);
  EXPECT_EQ(vm.Call("DoMove", {3}).code, uint32_t(ERR_FINDTEXTOBJECT));
  EXPECT_EQ(CountLayers(vm.d->bgpic), 1);
}

// While an asynchronous move holds a text object it cannot be freed; once the move ends it can.
TEST(MoveObject, AMovingTextObjectIsHeld) {
  for (bool layers : {false, true}) {
    SCOPED_TRACE(layers ? "layers on" : "layers off");
    MoveVm vm(64, 48, layers);
    ASSERT_EQ(vm.Call("CreateTextObject", {1, CmdArg::Str("Hi")}).code, 0u);
    uint32_t code = 0;
    void *h = vm.CallForHandle("movetextobject", [&] {
      for (int v : {1, 0, 0, 30, 0}) vm_pushnumber(vm.L, v);
      vm_newtable(vm.L);
      vm.Set("speed", 10);
      vm_pushstring(vm.L, "async");
      vm_pushboolean(vm.L, 1);
      vm_settable(vm.L, -3);
      return 6;
    }, &code);
    ASSERT_EQ(code, 0u);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(vm.Call("FreeTextObject", {1}).code, uint32_t(ERR_LOCKEDOBJ));
    int steps = 0;
    while (!vm.Advance(h) && steps < 10) steps++;
    EXPECT_EQ(steps, 3);
    EXPECT_EQ(vm.Call("FreeTextObject", {1}).code, 0u);
  }
}

}  // namespace

namespace {

constexpr int kMaxCoord = INT32_MAX, kMinCoord = INT32_MIN;

// Where the moved object stands after the command: the layer carrying it, the shown sprite.
struct EndSeen {
  bool found;
  int32_t x, y;
};
EndSeen EndPosition(MoveVm &vm, const std::string &command, bool layers) {
  if (command == "MoveSprite") {
    const qmShownSprite *s = vm.d->bgpic->shownSprites;
    return s ? EndSeen{true, s->x, s->y} : EndSeen{false, 0, 0};
  }
  if (layers) {
    const qmLayer *l = GetNthLayer(vm.d->bgpic, 1);
    return l && l->current ? EndSeen{true, l->current->requestedX, l->current->requestedY} : EndSeen{false, 0, 0};
  }
  return {false, 0, 0};
}

// Moves from and to the coordinate limits, of every object kind along every path kind: each ends,
// where it was sent, in a number of frames the picture bounds (a path of billions of pixels
// outside it is not stepped through), showing the object at its end when that lies in view.
TEST(MoveObject, MovesAtTheCoordinateLimitsEndWhereTheyWereSent) {
  struct Case {
    const char *name;
    const char *command;
    bool layers;
    int x1, y1, x2, y2, speed;
  } cases[] = {
      {"brush out to the right", "MoveBrush", false, 0, 10, kMaxCoord, 10, 1},
      {"brush in from the far left", "MoveBrush", false, kMinCoord, 10, 20, 10, 1},
      {"brush corner to corner", "MoveBrush", false, kMinCoord, kMinCoord, kMaxCoord, kMaxCoord, 3},
      {"brush in from below at full speed", "MoveBrush", false, 30, kMaxCoord, 30, 12, kMaxCoord},
      {"brush layer across everything", "MoveBrush", true, kMaxCoord, 5, kMinCoord, 5, 2},
      {"brush layer in from the top", "MoveBrush", true, 10, kMinCoord, 10, 30, 7},
      {"anim out upward", "MoveAnim", false, 20, 10, 20, kMinCoord, 1},
      {"anim layer in diagonally", "MoveAnim", true, kMaxCoord, kMinCoord, 40, 20, 5},
      {"text object in from the right", "MoveTextObject", false, kMaxCoord, 10, 15, 10, 2},
      {"text object layer out to the left", "MoveTextObject", true, 10, 10, kMinCoord + 1, 10, 1},
      {"layer out to the bottom right", "MoveLayer", true, 0, 0, kMaxCoord, kMaxCoord, 1},
      {"layer in from the top left", "MoveLayer", true, kMinCoord, kMinCoord, 12, 8, kMaxCoord},
      {"sprite in from the far right", "MoveSprite", false, kMaxCoord, 20, 25, 20, 1},
      {"sprite out downward", "MoveSprite", false, 25, 20, 25, kMaxCoord, 4},
  };
  for (const Case &c : cases)
    for (int path = 0; path <= 7; path++) {
      SCOPED_TRACE(testing::Message() << c.name << ", path " << path);
      const std::string command = c.command;
      // A text object ends where DisplayTextObject shows it (off the picture: nothing shown).
      std::vector<uint32_t> textShown;
      if (command == "MoveTextObject") {
        MoveVm shown(64, 48, c.layers);
        ASSERT_EQ(shown.Call("CreateTextObject", {1, CmdArg::Str("Hi")}).code, 0u);
        ASSERT_EQ(shown.Call("DisplayTextObject", {1, c.x2, c.y2}).code, 0u);
        textShown = shown.Window();
      }
      MoveVm vm(64, 48, c.layers);
      vm.MakeBrush(1, 8, 6, 3);
      if (command == "MoveAnim") {
        ASSERT_EQ(vm.Call("CreateAnim", {1, 1, 4, 6, 2, 2}).code, 0u);
      }
      if (command == "MoveSprite") {
        ASSERT_EQ(vm.Call("CreateSprite", {1, 3, 1}).code, 0u);
      }
      if (command == "MoveTextObject") {
        ASSERT_EQ(vm.Call("CreateTextObject", {1, CmdArg::Str("Hi")}).code, 0u);
      }
      if (command == "MoveLayer") {
        ASSERT_EQ(vm.Call("DisplayBrush", {1, 0, 0}).code, 0u);
      }
      vm.StartCapture();
      // A move that stepped through the whole path would run for days: asked to quit after a
      // generous number of frames, it fails here instead.
      FxFrames::onFrame = [&](int frame) {
        if (frame == 20000) vm_setendrequested(vm.L, 1);
      };
      ASSERT_EQ(vm.Call(c.command, {1, c.x1, c.y1, c.x2, c.y2, c.speed, path}).code, 0u);
      FxFrames::onFrame = nullptr;
      // The picture is 64 pixels wide: a step of 1 crosses it, the object and its swings in a
      // few hundred frames; the paths were billions of pixels long.
      EXPECT_LT(MoveVm::Frames().size(), 1200u);
      const EndSeen end = EndPosition(vm, command, c.layers);
      if (command == "MoveSprite" || c.layers) {
        ASSERT_TRUE(end.found);
        if (command != "MoveTextObject") {
          // Layers keep their places within their own limits.
          const auto place = [&](int v) { return c.layers ? std::clamp<int64_t>(v, -kPositionLimit, kPositionLimit) : v; };
          EXPECT_EQ(end.x, place(c.x2));
          EXPECT_EQ(end.y, place(c.y2));
        }
      }
      if (command == "MoveBrush" && !c.layers) {
        EXPECT_EQ(vm.Window(), vm.Expected({{3, c.x2, c.y2, 8, 6}})) << "the brush at its end, nothing else";
      }
      if (command == "MoveTextObject") {
        EXPECT_EQ(vm.Window(), textShown);
      }
      if (command == "MoveAnim") {
        EXPECT_EQ(vm.Call("FreeAnim", {1}).code, 0u) << "the move let go of the anim";
      }
    }
}

// A quit asked for while a long move runs (the frame pump reports it) ends the move at its next
// frame, with the quit's code; nothing holds the brush afterwards.
TEST(MoveObject, AQuitEndsALongMoveAtItsNextFrame) {
  for (bool layers : {false, true}) {
    SCOPED_TRACE(layers ? "layers on" : "layers off");
    MoveVm vm(64, 48, layers);
    vm.MakeBrush(1, 8, 6, 3);
    vm.StartCapture();
    FxFrames::onFrame = [&](int frame) {
      if (frame == 5) vm_setendrequested(vm.L, 1);
    };
    // One pixel a frame along the picture's top row, then on for two billion pixels.
    EXPECT_EQ(vm.Call("MoveBrush", {1, 0, 0, kMaxCoord, 0, 1}).code, uint32_t(ERR_USERABORT));
    FxFrames::onFrame = nullptr;
    EXPECT_EQ(MoveVm::Frames().size(), 5u) << "no frame after the one the quit came in";
    EXPECT_EQ(MoveVm::Frames().back(), vm.Expected({{3, 5, 0, 8, 6}}));
    EXPECT_EQ(vm.Call("FreeBrush", {1}).code, 0u);
  }
}

}  // namespace
