// A player VM with one open display on the dummy video driver, a clock that moves only when a
// frame waits, and every frame the window ends captured: the fake clock's sleep is called once
// by each frame end, and reads the window there.
#pragma once
#include <SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "display/bgpic.h"
#include "display/brush.h"
#include "display/display.h"
#include "display/pacing.h"
#include "graphics/bitmap.h"
#include "platform/desktop.h"
#include "player/event/event_wait.h"
#include "runtime/context.h"
#include "tests/display/display_vm.h"

struct FxFrames {
  static inline uint64_t now = 5000000000;  // microseconds
  static inline qmDisplay *display = nullptr;
  static inline std::vector<std::vector<uint32_t>> frames;  // 0xRRGGBB, rows without gaps
  static inline std::function<void(int frame)> onFrame;     // after a frame is captured

  static void Now(qmTimeval *out) { *out = {uint32_t(now / 1000000), uint32_t(now % 1000000)}; }
  static void Sleep(uint32_t us) {
    now += us;
    if (!display) return;
    frames.push_back(Shot(display));
    if (onFrame) onFrame(int(frames.size()));
  }
  // What the window shows of the display's picture (a window not yet resized cuts it).
  static std::vector<uint32_t> Shot(qmDisplay *d) {
    SDL_Surface *s = d->platform && d->platform->window ? SDL_GetWindowSurface(d->platform->window) : nullptr;
    if (!s) return {};
    const int w = std::min(d->width, s->w), h = std::min(d->height, s->h);
    std::vector<uint32_t> shot(size_t(w) * h);
    for (int y = 0; y < h; y++)
      for (int x = 0; x < w; x++) shot[size_t(y) * w + x] = DisplayVm::WindowPixel(d, x, y);
    return shot;
  }
};

struct FxVm : DisplayVm {
  qmDisplay *d = nullptr;
  int width, height;

  // layerScale: the display scales its layers to layerScale times its size.
  explicit FxVm(int w = 64, int h = 48, bool layers = false, int layerScale = 0) : width(w), height(h) {
    SetDesktopClock(FxFrames::Now, FxFrames::Sleep);
    GetPlayerContext(L)->serviceEvents = ServiceEvents;  // the pump between frames, as the player wires it
    EXPECT_EQ(Create(1, [&] {
                Set("width", w), Set("height", h), Set("color", 0x102030);
                if (layerScale) Set("scalemode", 2), Set("scalewidth", w * layerScale), Set("scaleheight", h * layerScale);
              }).code,
              0u);
    EXPECT_EQ(Call("OpenDisplay", {1}).code, 0u);
    if (layers) {
      EXPECT_EQ(Call("EnableLayers", {}).code, 0u);
    }
    d = Display(1);
    StartCapture();
  }
  ~FxVm() {
    FxFrames::display = nullptr;
    FxFrames::onFrame = nullptr;
    FxFrames::frames.clear();
    Close();
    SetDesktopClock(nullptr, nullptr);
  }

  // From now on frames are counted afresh; one frame end beforehand makes every later one wait.
  void StartCapture() {
    FxFrames::display = nullptr;
    FlushDisplayFrame(Scene());
    FxFrames::frames.clear();
    FxFrames::onFrame = nullptr;
    FxFrames::display = d;
  }
  static const std::vector<std::vector<uint32_t>> &Frames() { return FxFrames::frames; }
  qmBrush *Brush(uint32_t id) {
    qmObjectId oid{id, 0};
    qmBrush *b = nullptr;
    return FindBrush(Scene()->objects, &oid, &b, 0) == 0 ? b : nullptr;
  }

  // A picture's pixel pattern: every pixel differs from its neighbours and from the backdrop.
  static uint32_t Pattern(int seed, int x, int y) {
    return (uint32_t(x * 37 + seed * 101) & 255) << 16 | (uint32_t(y * 53 + seed * 29) & 255) << 8 |
           (uint32_t(x * 11 + y * 7 + seed) & 255);
  }
  static void Paint(qmBitmap *b, int seed) {
    for (int y = 0; y < b->height; y++)
      for (int x = 0; x < b->width; x++)
        b->pixels[y * (b->bytesPerRow / 4) + x] = __builtin_bswap32(Pattern(seed, x, y));
  }

  // CreateBGPic(id, w, h) painted with the pattern of seed.
  qmBGPic *MakeBGPic(uint32_t id, int w, int h, int seed) {
    EXPECT_EQ(Call("CreateBGPic", {double(id), w, h}).code, 0u);
    qmObjectId oid{id, 0};
    qmBGPic *pic = nullptr;
    EXPECT_EQ(FindBGPic(Scene()->objects, &oid, &pic, 0), 0u);
    if (pic) Paint(pic->master.bitmap, seed);
    return pic;
  }
  // CreateBrush(id, w, h) painted with the pattern of seed.
  qmBrush *MakeBrush(uint32_t id, int w, int h, int seed) {
    EXPECT_EQ(Call("CreateBrush", {double(id), w, h}).code, 0u);
    qmObjectId oid{id, 0};
    qmBrush *b = nullptr;
    EXPECT_EQ(FindBrush(Scene()->objects, &oid, &b, 0), 0u);
    if (b) Paint(b->bitmap, seed);
    return b;
  }
  // Gives the brush a mask of its own, set where shows(x, y).
  static void MaskBrush(qmBrush *b, bool (*shows)(int x, int y)) {
    b->mask = AllocMask(b->width, b->height, 1);
    b->transparentColor = kOwnMaskColor;
    for (int y = 0; y < b->height; y++)
      for (int x = 0; x < b->width; x++)
        if (shows(x, y)) b->mask->memory[y * b->mask->bytesPerRow + x / 8] |= uint8_t(0x80 >> (x % 8));
  }
  // Scales the display automatically to w x h (the window shows its picture stretched).
  void ScaleDisplay(int w, int h) {
    CallWith("setdisplayattributes", [&] {
      vm_newtable(L);
      Set("scalemode", 1);
      Set("scalewidth", w);
      Set("scaleheight", h);
      return 1;
    });
    d = Display(1);
  }
  // The window now, as a frame is captured.
  std::vector<uint32_t> Window() const { return FxFrames::Shot(d); }
};
