// The fixture of the layer tests: a display of kW x kH with layers on, brushes made from
// pictures the test knows pixel by pixel, and the compositing rule written out in Compose, so
// that every expected picture comes from the rule and never from the player's output.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "display/bgpic.h"
#include "layers/layer.h"
#include "tests/display/display_vm.h"

namespace layertest {

constexpr int kW = 64, kH = 48;
constexpr uint32_t kBackground = 0x102030;
constexpr double kMaskType = 28, kAlphaType = 30;

enum PlaneKind { OPAQUE, MASKED, ALPHA };

// A brush as the test knows it: its pixels (0xAARRGGBB, the top byte the plane value).
struct Picture {
  int w, h;
  PlaneKind kind;
  std::vector<uint32_t> px;
};

// A layer of the model: which picture, where, and how it is drawn.
struct ModelLayer {
  int brush;
  int x, y;
  int transparency;
  bool hidden = false;
};

inline Picture MakePicture(int seed, int w, int h, PlaneKind kind) {
  Picture p{w, h, kind, {}};
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      uint32_t a = 255;
      if (kind == MASKED) a = (x + y + seed) % 3 ? 255 : 0;
      if (kind == ALPHA) a = uint32_t((x * 37 + y * 11 + seed * 5) % 256);
      const uint32_t r = (seed * 53 + x * 7) & 0xFF, g = (seed * 29 + y * 13) & 0xFF, b = (seed * 91 + x * y) & 0xFF;
      p.px.push_back(a << 24 | r << 16 | g << 8 | b);
    }
  return p;
}

inline uint32_t Channel(uint32_t c, int shift) { return (c >> shift) & 0xFF; }

// d + (s - d) * a / 255 per channel.
inline uint32_t Blend(uint32_t d, uint32_t s, uint32_t a) {
  uint32_t out = 0;
  for (int shift : {16, 8, 0}) {
    const int dc = int(Channel(d, shift)), sc = int(Channel(s, shift));
    out |= uint32_t(dc + (sc - dc) * int(a) / 255) << shift;
  }
  return out;
}

// The compositing rule: the background, then each layer bottom to top; an opaque picture
// replaces, a masked one replaces where its mask is set, an alpha picture blends by its alpha;
// a layer's transparency t scales what it contributes by (255 - t) / 255.
inline std::vector<uint32_t> Compose(const std::vector<Picture> &pics, const std::vector<ModelLayer> &layers) {
  std::vector<uint32_t> out(kW * kH, kBackground);
  for (const ModelLayer &l : layers) {
    const Picture &p = pics[l.brush];
    if (l.hidden) continue;
    for (int y = 0; y < p.h; y++)
      for (int x = 0; x < p.w; x++) {
        const int X = l.x + x, Y = l.y + y;
        if (X < 0 || Y < 0 || X >= kW || Y >= kH) continue;
        const uint32_t s = p.px[y * p.w + x] & 0xFFFFFF, plane = p.px[y * p.w + x] >> 24;
        uint32_t a = 255;
        if (p.kind == MASKED) a = plane ? 255 : 0;
        if (p.kind == ALPHA) a = plane;
        a = a * uint32_t(255 - l.transparency) / 255;
        uint32_t &d = out[Y * kW + X];
        d = Blend(d, s, a);
      }
  }
  return out;
}

// Exact where nothing is blended; blending may round differently by one step.
inline bool Near(uint32_t got, uint32_t want, int tolerance) {
  for (int shift : {16, 8, 0})
    if (std::abs(int(Channel(got, shift)) - int(Channel(want, shift))) > tolerance) return false;
  return true;
}

// Display 1 of w x h filled with the background colour, opened, with layers on.
inline qmDisplay *OpenLayersDisplay(DisplayVm *vm, int w, int h, uint32_t background) {
  EXPECT_EQ(vm->Create(1, [&] { vm->Set("width", w), vm->Set("height", h), vm->Set("color", background); }).code,
            0u);
  EXPECT_EQ(vm->Call("OpenDisplay", {1}).code, 0u);
  qmDisplay *d = DisplayVm::Display(1);
  EXPECT_EQ(vm->Call("EnableLayers", {}).code, 0u);
  return d;
}

struct LayersVm : DisplayVm {
  qmDisplay *d = nullptr;
  std::vector<Picture> pics;

  LayersVm() { d = OpenLayersDisplay(this, kW, kH, kBackground); }
  // A brush of id index + 1 from the picture.
  void AddBrush(const Picture &p) {
    pics.push_back(p);
    const double type = p.kind == MASKED ? kMaskType : p.kind == ALPHA ? kAlphaType : -1;
    const CommandCall r = CallWith("rgbarraytobrush", [&] {
      vm_pushnumber(L, double(pics.size()));
      vm_newtable(L);
      for (size_t i = 0; i < p.px.size(); i++) {
        vm_pushnumber(L, p.px[i]);
        vm_rawseti(L, -2, int(i));
      }
      for (double v : {double(p.w), double(p.h), type, 0.0}) vm_pushnumber(L, v);
      return 6;
    });
    ASSERT_EQ(r.code, 0u);
  }
  // DisplayBrush(id, x, y[, {transparency, name, insertpos}]).
  uint32_t Show(int brush, int x, int y, int transparency = 0, const char *name = nullptr, int insertpos = 0) {
    return CallWith("displaybrush", [&] {
      vm_pushnumber(L, brush + 1);
      vm_pushnumber(L, x);
      vm_pushnumber(L, y);
      if (!transparency && !name && !insertpos) return 3;
      vm_newtable(L);
      if (transparency) Set("transparency", transparency);
      if (name) SetText("name", name);
      if (insertpos) Set("insertpos", insertpos);
      return 4;
    }).code;
  }
  qmBGPic *Pic() { return d->bgpic; }
  // Every window pixel against the model; reports the first difference.
  void ExpectScreen(const std::vector<ModelLayer> &model, const std::string &what, int tolerance = 1) {
    const std::vector<uint32_t> want = Compose(pics, model);
    for (int y = 0; y < kH; y++)
      for (int x = 0; x < kW; x++) {
        const uint32_t got = WindowPixel(d, x, y);
        if (!Near(got, want[y * kW + x], tolerance)) {
          ADD_FAILURE() << what << ": pixel (" << x << ", " << y << ") is " << std::hex << got << ", expected "
                        << want[y * kW + x];
          return;
        }
      }
  }
};

}  // namespace layertest
