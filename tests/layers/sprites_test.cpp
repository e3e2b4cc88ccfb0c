// Sprites shown over a display with layers off. Expected screens come from the compositing rule
// of layers_vm.h over pictures the test knows pixel by pixel; what a command refreshed is read
// from a window painted with a marker colour beforehand: only refreshed pixels lose it.
#include <SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "display/bgpic.h"
#include "runtime/errcodes.h"
#include "runtime/objlist.h"
#include "runtime/vm/vm_state.h"
#include "layers/sprite.h"
#include "tests/layers/layers_vm.h"

namespace {

using namespace layertest;

constexpr uint32_t kMarker = 0xFF00FF;

struct SpritesVm : LayersVm {
  SpritesVm() { EXPECT_EQ(Call("DisableLayers", {}).code, 0u); }

  // The model picture of the rectangle of p (same kind of planes).
  static Picture Crop(const Picture &p, int x, int y, int w, int h) {
    Picture out{w, h, p.kind, {}};
    for (int row = 0; row < h; row++)
      for (int col = 0; col < w; col++) out.px.push_back(p.px[(y + row) * p.w + x + col]);
    return out;
  }
  int AddModel(const Picture &p) {
    pics.push_back(p);
    return int(pics.size()) - 1;
  }
  // CreateSprite(id, SPRITE, source, ...): a sprite showing the frames of the others in order.
  uint32_t Link(int id, const std::vector<int> &sources) {
    std::vector<CmdArg> args = {id, 32};
    for (int source : sources) args.push_back(source);
    return Call("CreateSprite", args).code;
  }
  qmSprite *Sprite(uint32_t id) {
    qmObjectId oid{id, 0};
    qmSprite *s = nullptr;
    return FindSprite(Scene()->objects, &oid, &s, FINDSPRITE_DELETED) == 0 ? s : nullptr;
  }
  void PaintWindow(uint32_t rgb) {
    SDL_Surface *s = SDL_GetWindowSurface(d->platform->window);
    SDL_FillRect(s, nullptr, rgb);
  }
  // Whether the window pixel still shows the marker: nothing refreshed it.
  bool Marked(int x, int y) { return WindowPixel(d, x, y) == kMarker; }
};

TEST(Sprites, FramesOverTheBackgroundFollowTheCompositingRule) {
  SpritesVm vm;
  // Brush 1: two 6x5 frames side by side, masked; brush 2: one 7x7 frame with alpha.
  vm.AddBrush(MakePicture(3, 12, 5, MASKED));
  vm.AddBrush(MakePicture(8, 7, 7, ALPHA));
  const int frame1 = vm.AddModel(SpritesVm::Crop(vm.pics[0], 0, 0, 6, 5));
  const int frame2 = vm.AddModel(SpritesVm::Crop(vm.pics[0], 6, 0, 6, 5));
  ASSERT_EQ(vm.Call("CreateSprite", {1, 3, 1, 6, 5, 2, 2, 0, 0}).code, 0u);
  ASSERT_EQ(vm.Call("CreateSprite", {2, 3, 2}).code, 0u);
  ASSERT_EQ(vm.Call("DisplaySprite", {1, 10, 10}).code, 0u);
  vm.ExpectScreen({{frame1, 10, 10, 0}}, "first frame");
  // The second sprite goes over the first; showing the first again keeps the drawing order.
  ASSERT_EQ(vm.Call("DisplaySprite", {2, 13, 8}).code, 0u);
  ASSERT_EQ(vm.Call("DisplaySprite", {1, 12, 9}).code, 0u);  // frame 0: the next one
  vm.ExpectScreen({{frame2, 12, 9, 0}, {1, 13, 8, 0}}, "second frame under the alpha sprite");
  ASSERT_EQ(vm.Call("DisplaySprite", {1, 12, 9}).code, 0u);  // after the last frame: the first
  vm.ExpectScreen({{frame1, 12, 9, 0}, {1, 13, 8, 0}}, "wrapped to the first frame");
  // Off the picture's edge: only the visible part is drawn.
  ASSERT_EQ(vm.Call("DisplaySprite", {2, kW - 3, -2}).code, 0u);
  vm.ExpectScreen({{frame1, 12, 9, 0}, {1, kW - 3, -2, 0}}, "cut at the edge");
  ASSERT_EQ(vm.Call("RemoveSprite", {1}).code, 0u);
  vm.ExpectScreen({{1, kW - 3, -2, 0}}, "removed");
  // A brush drawn under a shown sprite leaves the sprite on top.
  ASSERT_EQ(vm.Call("DisplaySprite", {2, 20, 20}).code, 0u);
  ASSERT_EQ(vm.Show(0, 18, 18), 0u);
  vm.ExpectScreen({{0, 18, 18, 0}, {1, 20, 20, 0}}, "brush drawn under the sprite");
}

TEST(Sprites, RefreshesOnlyWhatChanged) {
  SpritesVm vm;
  vm.AddBrush(MakePicture(1, 10, 10, OPAQUE));
  ASSERT_EQ(vm.Call("CreateSprite", {1, 3, 1}).code, 0u);
  ASSERT_EQ(vm.Call("DisplaySprite", {1, 5, 5, 1}).code, 0u);
  vm.PaintWindow(kMarker);
  ASSERT_EQ(vm.Call("DisplaySprite", {1, 5, 5, 1}).code, 0u);
  for (int y = 0; y < kH; y++)
    for (int x = 0; x < kW; x++) ASSERT_TRUE(vm.Marked(x, y)) << "unchanged sprite refreshed " << x << "," << y;
  // A near move: one rectangle around both places, its corner outside both sprites included.
  ASSERT_EQ(vm.Call("DisplaySprite", {1, 9, 8, 1}).code, 0u);
  EXPECT_FALSE(vm.Marked(18, 5)) << "the union's top-right corner is refreshed";
  EXPECT_FALSE(vm.Marked(5, 17)) << "the union's bottom-left corner is refreshed";
  EXPECT_TRUE(vm.Marked(19, 5)) << "right of the union";
  EXPECT_TRUE(vm.Marked(5, 18)) << "below the union";
  // A far move: the two rectangles alone.
  vm.PaintWindow(kMarker);
  ASSERT_EQ(vm.Call("DisplaySprite", {1, 40, 30, 1}).code, 0u);
  EXPECT_FALSE(vm.Marked(9, 8)) << "the old place is refreshed";
  EXPECT_FALSE(vm.Marked(49, 39)) << "the new place is refreshed";
  EXPECT_TRUE(vm.Marked(25, 20)) << "between them nothing is refreshed";
  EXPECT_TRUE(vm.Marked(40, 8)) << "the corner of a union is not refreshed";
}

TEST(Sprites, CommandErrors) {
  SpritesVm vm;
  vm.AddBrush(MakePicture(1, 8, 8, OPAQUE));
  ASSERT_EQ(vm.Call("CreateSprite", {1, 3, 1, 4, 4, 2, 2}).code, 0u);
  ASSERT_EQ(vm.Call("CreateSprite", {2, 3, 1, 4, 4, 1, 1}).code, 0u);
  ASSERT_EQ(vm.Link(3, {1, 2}), 0u);
  ASSERT_NE(vm.Sprite(3), nullptr);
  EXPECT_EQ(vm.Sprite(3)->frameCount, 3);
  ASSERT_EQ(vm.Call("DisplaySprite", {2, 0, 0}).code, 0u);
  struct Case {
    const char *name;
    const char *command;
    std::vector<CmdArg> args;
    uint32_t code;
    uint32_t argument;  // the id in the message, where one is named
  } cases[] = {
      {"frame one past the count", "DisplaySprite", {1, 0, 0, 3}, ERR_ANIMFRAME, 0},
      {"negative frame", "DisplaySprite", {1, 0, 0, -1}, ERR_ANIMFRAME, 0},
      {"missing sprite", "DisplaySprite", {9, 0, 0}, ERR_FINDSPRITE, 9},
      {"removing one not shown", "RemoveSprite", {1}, ERR_SPRITEONSCREEN, 1},
      {"scaling a shown sprite", "ScaleSprite", {2, 8, 8}, ERR_MODIFYSPRITE, 0},
      {"flipping a shown sprite", "FlipSprite", {2, 1}, ERR_MODIFYSPRITE, 0},
      {"scaling a linked sprite", "ScaleSprite", {3, 8, 8}, ERR_MODIFYSPRITE2, 0},
      {"flipping a link's source", "FlipSprite", {1, 0}, ERR_MODIFYSPRITE2, 0},
      {"copy onto itself", "CopySprite", {1, 1}, ERR_WRONGUSAGE, 0},
      {"a link of links", "CreateSprite", {4, 32, 1, 3}, ERR_SPRITELINK, 0},
      {"a missing source of a link", "CreateSprite", {4, 32, 1, 9}, ERR_FINDSPRITE, 9},
      {"freeing a missing sprite", "FreeSprite", {9}, ERR_FINDSPRITE, 9},
  };
  for (const Case &c : cases) {
    G(vm.L)->err.argnum = 0;
    EXPECT_EQ(vm.Call(c.command, c.args).code, c.code) << c.name;
    if (c.argument) {
      EXPECT_EQ(G(vm.L)->err.argnum, c.argument) << c.name;
    }
  }
  // Sprites of other sizes make no link.
  ASSERT_EQ(vm.Call("CreateBrush", {5, 3, 3}).code, 0u);
  ASSERT_EQ(vm.Call("CreateSprite", {5, 3, 5}).code, 0u);
  EXPECT_EQ(vm.Link(6, {1, 5}), uint32_t(ERR_WRONGSPRITESIZE));
  // Layers cannot come on over shown sprites; every sprite command that draws needs them off.
  EXPECT_EQ(vm.Call("EnableLayers", {}).code, uint32_t(ERR_NOSPRITES));
  ASSERT_EQ(vm.Call("RemoveSprites", {}).code, 0u);
  ASSERT_EQ(vm.Call("EnableLayers", {}).code, 0u);
  for (const char *command : {"DisplaySprite", "RemoveSprite", "RemoveSprites"}) {
    std::vector<CmdArg> args = std::string(command) == "DisplaySprite" ? std::vector<CmdArg>{2, 0, 0}
                               : std::string(command) == "RemoveSprite" ? std::vector<CmdArg>{2}
                                                                        : std::vector<CmdArg>{};
    EXPECT_EQ(vm.Call(command, args).code, uint32_t(ERR_LAYERSOFF)) << command;
  }
}

// A brush cut as a strip: frames in rows from the origin, every frame read back through
// ConvertToBrush; the strip's arguments are refused before any sprite is made.
TEST(Sprites, BrushStripsAreCutRowByRow) {
  SpritesVm vm;
  vm.AddBrush(MakePicture(2, 8, 8, MASKED));
  // Five 2x2 frames, two to a row, from (2, 1): three rows, the last with one frame.
  ASSERT_EQ(vm.Call("CreateSprite", {1, 3, 1, 2, 2, 5, 2, 2, 1}).code, 0u);
  ASSERT_NE(vm.Sprite(1), nullptr);
  EXPECT_EQ(vm.Sprite(1)->frameCount, 5);
  for (int i = 0; i < 5; i++) {
    ASSERT_EQ(vm.Call("ConvertToBrush", {32, 1, 10, i + 1}).code, 0u) << i;
    for (int y = 0; y < 2; y++)
      for (int x = 0; x < 2; x++) {
        const uint32_t want = vm.pics[0].px[(1 + (i / 2) * 2 + y) * 8 + 2 + (i % 2) * 2 + x];
        const CommandCall r = vm.Call("ReadBrushPixel", {10, x, y});
        EXPECT_EQ(uint32_t(r.results.at(0)), want & 0xFFFFFF) << "frame " << i + 1 << " at " << x << "," << y;
        EXPECT_EQ(r.results.at(1), (want >> 24) ? 1 : 0) << "frame " << i + 1 << " at " << x << "," << y;
      }
  }
  // Three arguments: one frame of the whole brush.
  ASSERT_EQ(vm.Call("CreateSprite", {2, 3, 1}).code, 0u);
  EXPECT_EQ(vm.Sprite(2)->frameCount * 10000 + vm.Sprite(2)->width * 100 + vm.Sprite(2)->height, 10808);

  struct Case {
    const char *name;
    std::vector<CmdArg> args;
    uint32_t code;
  } cases[] = {
      {"size without a frame count", {3, 3, 1, 4, 4}, ERR_WRONGUSAGE},
      {"six arguments", {3, 3, 1, 4, 4, 2}, ERR_WRONGUSAGE},
      {"a width of 0", {3, 3, 1, 0, 4, 2, 2}, ERR_WRONGUSAGE},
      {"a negative height", {3, 3, 1, 4, -1, 2, 2}, ERR_WRONGUSAGE},
      {"no frames", {3, 3, 1, 4, 4, 0, 2}, ERR_WRONGUSAGE},
      {"a negative x", {3, 3, 1, 4, 4, 1, 1, -1, 0}, ERR_NEGCOORDS},
      {"a negative y", {3, 3, 1, 4, 4, 1, 1, 0, -2}, ERR_NEGCOORDS},
      {"a row wider than the brush", {3, 3, 1, 4, 4, 3, 3}, ERR_BRUSHSIZE},
      {"more per row than frames still counts the row", {3, 3, 1, 4, 4, 1, 3}, ERR_BRUSHSIZE},
      {"rows below the brush", {3, 3, 1, 4, 4, 4, 2, 0, 4}, ERR_BRUSHSIZE},
      {"a strip from the edge", {3, 3, 1, 4, 4, 2, 2, 5, 0}, ERR_BRUSHSIZE},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(vm.Call("CreateSprite", c.args).code, c.code) << c.name;
    EXPECT_EQ(vm.Sprite(3), nullptr) << c.name;
  }
  // The last frame may end on the brush's edge.
  EXPECT_EQ(vm.Call("CreateSprite", {3, 3, 1, 4, 4, 4, 2}).code, 0u);
}

// A linked sprite names its sources as arguments; a table is no id.
TEST(Sprites, LinkedSpritesTakeTheirSourcesAsArguments) {
  SpritesVm vm;
  vm.AddBrush(MakePicture(4, 6, 2, OPAQUE));
  ASSERT_EQ(vm.Call("CreateSprite", {1, 3, 1, 2, 2, 2, 2}).code, 0u);
  ASSERT_EQ(vm.Call("CreateSprite", {2, 3, 1, 2, 2, 1, 1, 4, 0}).code, 0u);
  ASSERT_EQ(vm.Link(3, {2, 1, 2}), 0u);
  ASSERT_NE(vm.Sprite(3), nullptr);
  EXPECT_EQ(vm.Sprite(3)->frameCount, 4);
  // Frames in the order of the arguments: 2's, then 1's two, then 2's again.
  const int left[] = {4, 0, 2, 4};
  for (int i = 0; i < 4; i++) {
    ASSERT_EQ(vm.Call("ConvertToBrush", {32, 3, 10, i + 1}).code, 0u);
    EXPECT_EQ(uint32_t(vm.Call("ReadBrushPixel", {10, 1, 1}).results.at(0)), vm.pics[0].px[6 + left[i] + 1] & 0xFFFFFF)
        << "frame " << i + 1;
  }
  EXPECT_NE(vm.Call("CreateSprite", {4, 32, CmdArg::Table()}).code, 0u);
  EXPECT_EQ(vm.Sprite(4), nullptr);
}

TEST(Sprites, RemovingAllKeepsOrRestoresTheBackground) {
  for (int keep : {0, 1}) {
    SpritesVm vm;
    vm.AddBrush(MakePicture(2, 9, 6, MASKED));
    ASSERT_EQ(vm.Call("CreateSprite", {1, 3, 1}).code, 0u);
    ASSERT_EQ(vm.Call("CopySprite", {1, 2}).code, 0u);
    ASSERT_EQ(vm.Call("DisplaySprite", {1, 3, 4}).code, 0u);
    ASSERT_EQ(vm.Call("DisplaySprite", {2, 30, 20}).code, 0u);
    ASSERT_EQ(vm.Call("RemoveSprites", {keep}).code, 0u);
    EXPECT_EQ(vm.Pic()->shownSprites, nullptr);
    if (keep) {
      vm.ExpectScreen({{0, 3, 4, 0}, {0, 30, 20, 0}}, "kept as background");
    } else {
      vm.ExpectScreen({}, "background restored");
    }
    // What stays is background now: a sprite shown and removed again brings it back as it was.
    ASSERT_EQ(vm.Call("DisplaySprite", {1, 6, 6}).code, 0u);
    ASSERT_EQ(vm.Call("RemoveSprite", {1}).code, 0u);
    if (keep) {
      vm.ExpectScreen({{0, 3, 4, 0}, {0, 30, 20, 0}}, "background after a new sprite left");
    } else {
      vm.ExpectScreen({}, "bare background after a new sprite left");
    }
  }
}

// A seeded run of shows, moves (near and far, over the edges) and removals of crowded sprites:
// after every command the screen is the background with the shown sprites in the order they
// were first shown, as the model keeps them.
TEST(Sprites, CrowdedShowsMovesAndRemovalsKeepTheOrder) {
  SpritesVm vm;
  constexpr int kSprites = 8;
  for (int i = 0; i < kSprites; i++) {
    vm.AddBrush(MakePicture(40 + i, 7 + i % 3, 6 + i % 4, PlaneKind(i % 3)));
    ASSERT_EQ(vm.Call("CreateSprite", {i + 1, 3, i + 1}).code, 0u);
  }
  struct Shown {
    int sprite, x, y;
  };
  std::vector<Shown> shown;  // drawing order
  std::mt19937 rng(11);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  for (int step = 0; step < 120; step++) {
    const int sprite = pick(0, kSprites - 1);
    auto at = std::find_if(shown.begin(), shown.end(), [&](const Shown &s) { return s.sprite == sprite; });
    std::string what;
    if (at != shown.end() && pick(0, 4) == 0) {
      ASSERT_EQ(vm.Call("RemoveSprite", {sprite + 1}).code, 0u);
      shown.erase(at);
      what = "removed";
    } else {
      const bool near = at != shown.end() && pick(0, 2) > 0;
      const int x = near ? at->x + pick(-3, 3) : pick(-6, kW - 2), y = near ? at->y + pick(-3, 3) : pick(-6, kH - 2);
      ASSERT_EQ(vm.Call("DisplaySprite", {sprite + 1, x, y, 1}).code, 0u);
      if (at != shown.end()) at->x = x, at->y = y;
      else shown.push_back({sprite, x, y});
      what = near ? "moved near" : "shown or moved far";
    }
    std::vector<ModelLayer> model;
    for (const Shown &s : shown) model.push_back({s.sprite, s.x, s.y, 0});
    vm.ExpectScreen(model, "step " + std::to_string(step) + ", sprite " + std::to_string(sprite + 1) + " " + what);
    if (::testing::Test::HasFailure()) return;
  }
}

// Sprites with opaque middles over each other, as most real ones are: a disc whose inside is
// opaque (alpha 255 or mask set), with a rim of partial alpha and clear corners, or a picture
// without planes. Pixel a of the plane: 255 inside radius r1, falling to 0 at r2.
Picture MakeDisc(int seed, int side, PlaneKind kind) {
  Picture p = MakePicture(seed, side, side, OPAQUE);
  p.kind = kind;
  const double c = (side - 1) / 2.0, r1 = side * 0.3, r2 = side * 0.5;
  for (int y = 0; y < side; y++)
    for (int x = 0; x < side; x++) {
      const double r = std::hypot(x - c, y - c);
      uint32_t a = r <= r1 ? 255 : r >= r2 ? 0 : uint32_t(255 * (r2 - r) / (r2 - r1));
      if (kind == MASKED) a = r < r2 - 1 ? 255 : 0;
      if (kind == OPAQUE) a = 255;
      uint32_t &px = p.px[size_t(y * side + x)];
      px = a << 24 | (px & 0xFFFFFF);
    }
  return p;
}

// The screen the player must show, bit for bit: the background, then each sprite bottom to top
// by the blend rule of its kernels (alpha 0 keeps the pixel, 255 takes the sprite's, anything
// else moves each channel by ((s - d) * a) >> 8), cut to the clip rectangle it was shown under.
struct ExactSprite {
  int picture, x, y;
  int clipX = 0, clipY = 0, clipW = kW, clipH = kH;
};
std::vector<uint32_t> ComposeExact(const std::vector<Picture> &pics, const std::vector<ExactSprite> &shown) {
  std::vector<uint32_t> out(kW * kH, kBackground);
  for (const ExactSprite &e : shown) {
    const Picture &p = pics[size_t(e.picture)];
    for (int y = 0; y < p.h; y++)
      for (int x = 0; x < p.w; x++) {
        const int X = e.x + x, Y = e.y + y;
        if (X < std::max(0, e.clipX) || Y < std::max(0, e.clipY) || X >= std::min(kW, e.clipX + e.clipW) ||
            Y >= std::min(kH, e.clipY + e.clipH))
          continue;
        const uint32_t s = p.px[size_t(y * p.w + x)] & 0xFFFFFF, plane = p.px[size_t(y * p.w + x)] >> 24;
        const int a = p.kind == OPAQUE ? 255 : p.kind == MASKED ? (plane ? 255 : 0) : int(plane);
        uint32_t &d = out[size_t(Y * kW + X)];
        if (a == 255) d = s;
        if (a == 0 || a == 255) continue;
        uint32_t mixed = 0;
        for (int shift : {16, 8, 0}) {
          const int dc = int(Channel(d, shift)), sc = int(Channel(s, shift));
          mixed |= uint32_t(dc + (((sc - dc) * a) >> 8)) << shift;
        }
        d = mixed;
      }
  }
  return out;
}

// Every window pixel against the exact screen; false (with the first difference) when one differs.
bool ScreenIsExactly(SpritesVm &vm, const std::vector<ExactSprite> &shown, const std::string &what) {
  const std::vector<uint32_t> want = ComposeExact(vm.pics, shown);
  for (int y = 0; y < kH; y++)
    for (int x = 0; x < kW; x++) {
      const uint32_t got = SpritesVm::WindowPixel(vm.d, x, y) & 0xFFFFFF;
      if (got != want[size_t(y * kW + x)]) {
        ADD_FAILURE() << what << ": pixel (" << x << ", " << y << ") is " << std::hex << got << ", expected "
                      << want[size_t(y * kW + x)];
        return false;
      }
    }
  return true;
}

// Many overlapping sprites with opaque middles moved about (six deep on average, more in
// places): what lies under an opaque pixel is left out of a refresh, and the screen
// stays exactly what drawing them all from the bottom gives. Some are shown under a clip
// rectangle, one is a link of two frames that takes turns.
TEST(Sprites, OpaqueMiddlesHideWhatIsBelowExactly) {
  SpritesVm vm;
  constexpr int kSprites = 64;
  std::mt19937 rng(2026);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  struct Kind {
    int side;
    PlaneKind kind;
  };
  const Kind kinds[] = {{18, ALPHA}, {13, ALPHA}, {21, ALPHA}, {16, MASKED}, {9, OPAQUE}, {24, ALPHA}};
  for (int k = 0; k < int(std::size(kinds)); k++) {
    vm.AddBrush(MakeDisc(60 + k, kinds[k].side, kinds[k].kind));
    ASSERT_EQ(vm.Call("CreateSprite", {k + 1, 3, k + 1}).code, 0u);
  }
  // Sprite 8 takes turns between two frames of one size: disc 1 and a copy of it upside down (7).
  ASSERT_EQ(vm.Call("CopySprite", {1, 7}).code, 0u);
  ASSERT_EQ(vm.Call("FlipSprite", {7, 0}).code, 0u);  // its rim differs from sprite 1's upside down
  ASSERT_EQ(vm.Link(8, {1, 7}), 0u);
  std::vector<int> pictureOf;  // of each sprite id - 1
  for (int k = 0; k < int(std::size(kinds)); k++) pictureOf.push_back(k);
  Picture flipped = vm.pics[0];
  for (int y = 0; y < flipped.h; y++)
    for (int x = 0; x < flipped.w; x++)
      flipped.px[size_t(y * flipped.w + x)] = vm.pics[0].px[size_t((flipped.h - 1 - y) * flipped.w + x)];
  const int flippedPicture = vm.AddModel(flipped);
  // Copies make up the crowd: ids 9 on, each of one of the six.
  std::vector<ExactSprite> shown;
  std::vector<int> ids;
  for (int i = 0; i < kSprites; i++) {
    const int source = i % int(std::size(kinds)), id = 9 + i;
    ASSERT_EQ(vm.Call("CopySprite", {source + 1, id}).code, 0u);
    if (i == 5) {
      ASSERT_EQ(vm.Call("CreateClipRegion", {1, 14, 10, 6, 40, 30}).code, 0u);
      ASSERT_EQ(vm.Call("SetClipRegion", {1}).code, 0u);
    }
    ExactSprite e{source, pick(-8, kW - 8), pick(-8, kH - 8)};
    if (i >= 5 && i < 9) e.clipX = 10, e.clipY = 6, e.clipW = 40, e.clipH = 30;
    ASSERT_EQ(vm.Call("DisplaySprite", {id, e.x, e.y, 1}).code, 0u);
    if (i == 8) {
      ASSERT_EQ(vm.Call("SetClipRegion", {0}).code, 0u);
    }
    shown.push_back(e);
    ids.push_back(id);
  }
  ASSERT_EQ(vm.Call("DisplaySprite", {8, 20, 14, 1}).code, 0u);
  shown.push_back({0, 20, 14});
  ids.push_back(8);
  ASSERT_TRUE(ScreenIsExactly(vm, shown, "all shown"));
  for (int step = 0; step < 150; step++) {
    const int k = pick(0, int(shown.size()) - 1);
    ExactSprite &e = shown[size_t(k)];
    const bool far = pick(0, 5) == 0;
    e.x = far ? pick(-10, kW - 4) : e.x + pick(-3, 3);
    e.y = far ? pick(-10, kH - 4) : e.y + pick(-3, 3);
    int frame = 1;
    if (ids[size_t(k)] == 8) {
      frame = step % 2 + 1;
      e.picture = frame == 1 ? 0 : flippedPicture;
    }
    ASSERT_EQ(vm.Call("DisplaySprite", {ids[size_t(k)], e.x, e.y, frame}).code, 0u);
    if (!ScreenIsExactly(vm, shown, "step " + std::to_string(step) + ", sprite " + std::to_string(ids[size_t(k)])))
      return;
  }
  // Taken off one by one from the bottom: what each uncovers is composed anew.
  while (!shown.empty()) {
    ASSERT_EQ(vm.Call("RemoveSprite", {ids.front()}).code, 0u);
    shown.erase(shown.begin()), ids.erase(ids.begin());
    if (!ScreenIsExactly(vm, shown, std::to_string(shown.size()) + " left")) return;
  }
}

// A frame whose planes change (flipped, scaled) covers what its new planes cover, not what
// the old ones did: a half-opaque sprite over a second one, changed while off the screen.
TEST(Sprites, ChangedFramesCoverByTheirNewPlanes) {
  SpritesVm vm;
  Picture half = MakePicture(31, 40, 24, ALPHA);
  for (int y = 0; y < half.h; y++)
    for (int x = 0; x < half.w; x++) {
      uint32_t &px = half.px[size_t(y * half.w + x)];
      px = (x < 24 ? 255u : 90u) << 24 | (px & 0xFFFFFF);
    }
  vm.AddBrush(half);
  vm.AddBrush(MakePicture(32, 50, 36, OPAQUE));
  ASSERT_EQ(vm.Call("CreateSprite", {1, 3, 1}).code, 0u);
  ASSERT_EQ(vm.Call("CreateSprite", {2, 3, 2}).code, 0u);
  // A stack of copies under them, so that a refresh there is many layers deep.
  std::vector<ExactSprite> under;
  for (int id = 3; id <= 6; id++) {
    ASSERT_EQ(vm.Call("CopySprite", {2, id}).code, 0u);
    ASSERT_EQ(vm.Call("DisplaySprite", {id, id - 1, 6}).code, 0u);
    under.push_back({1, id - 1, 6});
  }
  auto with = [&](std::vector<ExactSprite> top) {
    top.insert(top.begin(), under.begin(), under.end());
    return top;
  };
  ASSERT_EQ(vm.Call("DisplaySprite", {2, 6, 6}).code, 0u);
  ASSERT_EQ(vm.Call("DisplaySprite", {1, 10, 12}).code, 0u);
  ASSERT_TRUE(ScreenIsExactly(vm, with({{1, 6, 6}, {0, 10, 12}}), "as made"));
  ASSERT_EQ(vm.Call("RemoveSprite", {1}).code, 0u);
  ASSERT_EQ(vm.Call("FlipSprite", {1, 1}).code, 0u);  // the opaque part now on the right
  Picture mirrored = half;
  for (int y = 0; y < half.h; y++)
    for (int x = 0; x < half.w; x++) mirrored.px[size_t(y * half.w + x)] = half.px[size_t(y * half.w + half.w - 1 - x)];
  const int m = vm.AddModel(mirrored);
  ASSERT_EQ(vm.Call("DisplaySprite", {1, 10, 12}).code, 0u);
  ASSERT_TRUE(ScreenIsExactly(vm, with({{1, 6, 6}, {m, 10, 12}}), "flipped"));
  ASSERT_EQ(vm.Call("DisplaySprite", {2, 7, 6}).code, 0u);  // moved under it: composed anew below it
  ASSERT_TRUE(ScreenIsExactly(vm, with({{1, 7, 6}, {m, 10, 12}}), "flipped, the one below moved"));
  ASSERT_EQ(vm.Call("RemoveSprite", {1}).code, 0u);
  ASSERT_EQ(vm.Call("ScaleSprite", {1, 40, 48}).code, 0u);  // twice as high: each row doubled
  Picture high{40, 48, ALPHA, {}};
  for (int y = 0; y < 48; y++)
    for (int x = 0; x < 40; x++) high.px.push_back(mirrored.px[size_t((y / 2) * 40 + x)]);
  const int h = vm.AddModel(high);
  ASSERT_EQ(vm.Call("DisplaySprite", {1, 10, 0}).code, 0u);
  ASSERT_TRUE(ScreenIsExactly(vm, with({{1, 7, 6}, {h, 10, 0}}), "scaled"));
  ASSERT_EQ(vm.Call("DisplaySprite", {2, 6, 6}).code, 0u);
  ASSERT_TRUE(ScreenIsExactly(vm, with({{1, 6, 6}, {h, 10, 0}}), "scaled, the one below moved"));
}

TEST(Sprites, ChangedFramesReadBack) {
  SpritesVm vm;
  vm.AddBrush(MakePicture(4, 8, 4, ALPHA));
  ASSERT_EQ(vm.Call("CreateSprite", {1, 3, 1, 4, 4, 2, 2}).code, 0u);
  ASSERT_EQ(vm.Call("CopySprite", {1, 2}).code, 0u);
  ASSERT_EQ(vm.Call("FlipSprite", {1, 1}).code, 0u);  // left to right
  ASSERT_EQ(vm.Call("FlipSprite", {2, 0}).code, 0u);  // the copy: top to bottom
  Picture left = SpritesVm::Crop(vm.pics[0], 0, 0, 4, 4), right = SpritesVm::Crop(vm.pics[0], 4, 0, 4, 4);
  Picture mirrored = left, upsideDown = right;
  for (int y = 0; y < 4; y++)
    for (int x = 0; x < 4; x++) {
      mirrored.px[y * 4 + x] = left.px[y * 4 + 3 - x];
      upsideDown.px[y * 4 + x] = right.px[(3 - y) * 4 + x];
    }
  const int a = vm.AddModel(mirrored), b = vm.AddModel(upsideDown);
  ASSERT_EQ(vm.Call("DisplaySprite", {1, 2, 2, 1}).code, 0u);
  ASSERT_EQ(vm.Call("DisplaySprite", {2, 20, 2, 2}).code, 0u);
  vm.ExpectScreen({{a, 2, 2, 0}, {b, 20, 2, 0}}, "flipped frames");
  // Doubled by nearest scaling: every pixel becomes a 2x2 block.
  ASSERT_EQ(vm.Call("RemoveSprites", {}).code, 0u);
  ASSERT_EQ(vm.Call("ScaleSprite", {1, CmdArg::Str("200%"), 100000}).code, 0u);
  EXPECT_EQ(vm.Sprite(1)->width, 8);
  EXPECT_EQ(vm.Sprite(1)->height, 8);
  Picture doubled{8, 8, ALPHA, {}};
  for (int y = 0; y < 8; y++)
    for (int x = 0; x < 8; x++) doubled.px.push_back(mirrored.px[(y / 2) * 4 + x / 2]);
  const int c = vm.AddModel(doubled);
  ASSERT_EQ(vm.Call("DisplaySprite", {1, 30, 30, 1}).code, 0u);
  vm.ExpectScreen({{c, 30, 30, 0}}, "scaled frame");
}

TEST(Sprites, FreeingReachesEveryDisplayAndEveryLink) {
  SpritesVm vm;
  vm.AddBrush(MakePicture(5, 6, 6, OPAQUE));
  ASSERT_EQ(vm.Call("CreateSprite", {1, 3, 1}).code, 0u);
  ASSERT_EQ(vm.Call("CreateSprite", {2, 3, 1}).code, 0u);
  ASSERT_EQ(vm.Link(3, {1, 2}), 0u);
  ASSERT_EQ(vm.Call("DisplaySprite", {1, 4, 4}).code, 0u);
  ASSERT_EQ(vm.Call("DisplaySprite", {3, 20, 4}).code, 0u);
  // A second display becomes the current one; display 1 still shows both sprites.
  ASSERT_EQ(vm.Create(2, [&] { vm.Set("width", 32), vm.Set("height", 24); }).code, 0u);
  ASSERT_EQ(vm.Call("OpenDisplay", {2}).code, 0u);
  ASSERT_EQ(vm.Call("SelectDisplay", {2}).code, 0u);
  ASSERT_NE(vm.Scene()->current, vm.d);
  EXPECT_EQ(vm.Call("ScaleSprite", {1, 3, 3}).code, uint32_t(ERR_MODIFYSPRITE)) << "shown on the other display";
  EXPECT_EQ(vm.Call("FlipSprite", {2, 0}).code, uint32_t(ERR_MODIFYSPRITE2)) << "a link's source";
  // Freeing sprite 1 frees the link made of it, and both leave display 1's picture.
  ASSERT_EQ(vm.Call("FreeSprite", {1}).code, 0u);
  EXPECT_EQ(vm.Sprite(1), nullptr);
  EXPECT_EQ(vm.Sprite(3), nullptr);
  EXPECT_EQ(vm.Pic()->shownSprites, nullptr);
  vm.ExpectScreen({}, "display 1 refreshed without them");
  // Display 1 composes again: under AddressSanitizer a freed sprite left in its list would show.
  ASSERT_EQ(vm.Call("SelectDisplay", {1}).code, 0u);
  ASSERT_EQ(vm.Call("DisplaySprite", {2, 30, 30}).code, 0u);
  vm.ExpectScreen({{0, 30, 30, 0}}, "the remaining sprite");
}

}  // namespace

namespace {

// What other libraries read of sprites: attributes, collisions, brushes and pointers made of a frame.
TEST(Sprites, OtherCommandsSeeShownSprites) {
  SpritesVm vm;
  // Two 4x4 masked frames of brush 1, and a solid one-pixel brush 2.
  vm.AddBrush(MakePicture(6, 8, 4, MASKED));
  vm.AddBrush(MakePicture(7, 1, 1, OPAQUE));
  ASSERT_EQ(vm.Call("CreateSprite", {1, 3, 1, 4, 4, 2, 2}).code, 0u);
  ASSERT_EQ(vm.Call("CreateSprite", {2, 3, 2}).code, 0u);
  constexpr int kSprite = 32, kSpriteVsBox = 48, kPointer = 36;
  constexpr int kWidth = 0, kXPos = 7, kNumFrames = 11, kCurFrame = 12, kHasMask = 16, kOnScreen = 23;
  struct Attr {
    int attribute;
    uint32_t code;
    double value;
  } hidden[] = {{kWidth, 0, 4}, {kNumFrames, 0, 2}, {kOnScreen, 0, 0}, {kHasMask, 0, 1},
                {kXPos, ERR_SPRITEONSCREEN, 0}, {kCurFrame, ERR_SPRITEONSCREEN, 0}};
  for (const Attr &a : hidden) {
    const CommandCall r = vm.Call("GetAttribute", {kSprite, 1, a.attribute});
    EXPECT_EQ(r.code, a.code) << "attribute " << a.attribute;
    if (!a.code) {
      EXPECT_EQ(r.results, std::vector<double>{a.value}) << "attribute " << a.attribute;
    }
  }
  ASSERT_EQ(vm.Call("DisplaySprite", {1, 10, 12, 2}).code, 0u);
  for (const Attr &a : {Attr{kXPos, 0, 10}, Attr{kCurFrame, 0, 2}, Attr{kOnScreen, 0, 1}})
    EXPECT_EQ(vm.Call("GetAttribute", {kSprite, 1, a.attribute}).results, std::vector<double>{a.value});
  // Collisions go by the current frame's mask: the model picture says which pixels are set.
  const Picture frame2 = SpritesVm::Crop(vm.pics[0], 4, 0, 4, 4);
  int setX = -1, setY = -1, clearX = -1, clearY = -1;
  for (int i = 0; i < 16; i++) {
    const bool set = frame2.px[i] >> 24;
    (set ? setX : clearX) = i % 4, (set ? setY : clearY) = i / 4;
  }
  ASSERT_TRUE(setX >= 0 && clearX >= 0);
  struct Hit {
    const char *name;
    std::vector<CmdArg> args;
    double hit;
  } hits[] = {
      {"box on a set pixel", {kSpriteVsBox, 1, 10 + setX, 12 + setY, 1, 1}, 1},
      {"box on a clear pixel", {kSpriteVsBox, 1, 10 + clearX, 12 + clearY, 1, 1}, 0},
      {"box beside it", {kSpriteVsBox, 1, 14, 12, 5, 5}, 0},
  };
  for (const Hit &h : hits) EXPECT_EQ(vm.Call("Collision", h.args).results, std::vector<double>{h.hit}) << h.name;
  // The one-pixel sprite over a set and over a clear pixel of the masked one.
  ASSERT_EQ(vm.Call("DisplaySprite", {2, 10 + setX, 12 + setY}).code, 0u);
  EXPECT_EQ(vm.Call("Collision", {kSprite, 1, 2}).results, std::vector<double>{1});
  ASSERT_EQ(vm.Call("DisplaySprite", {2, 10 + clearX, 12 + clearY}).code, 0u);
  EXPECT_EQ(vm.Call("Collision", {kSprite, 1, 2}).results, std::vector<double>{0});
  ASSERT_EQ(vm.Call("RemoveSprite", {2}).code, 0u);
  EXPECT_EQ(vm.Call("Collision", {kSprite, 1, 2}).code, uint32_t(ERR_SPRITEONSCREEN));
  // A brush of frame 2 shows the frame's pixels; frame 0 is out of range.
  ASSERT_EQ(vm.Call("ConvertToBrush", {kSprite, 1, 10, 2}).code, 0u);
  EXPECT_EQ(vm.Call("ConvertToBrush", {kSprite, 1, 11, 0}).code, uint32_t(ERR_ANIMFRAME));
  EXPECT_EQ(vm.Call("GetBrushLink", {11, kSprite, 1, 3}).code, uint32_t(ERR_ANIMFRAME));
  ASSERT_EQ(vm.Call("RemoveSprite", {1}).code, 0u);
  const int model = vm.AddModel(frame2);
  ASSERT_EQ(vm.CallWith("displaybrush", [&] {
                for (double v : {10.0, 30.0, 30.0}) vm_pushnumber(vm.L, v);
                return 3;
              }).code,
            0u);
  vm.ExpectScreen({{model, 30, 30, 0}}, "brush of the second frame");
  // A pointer of a frame.
  ASSERT_EQ(vm.Call("CreatePointer", {5, kSprite, 1, 2}).code, 0u);
  EXPECT_EQ(vm.Call("GetAttribute", {kPointer, 5, kWidth}).results, std::vector<double>{4});
  EXPECT_EQ(vm.Call("CreatePointer", {6, kSprite, 1, 3}).code, uint32_t(ERR_ANIMFRAME));
}

}  // namespace
