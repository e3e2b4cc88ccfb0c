// Transitions of layers: shown, hidden, removed and undone, and run again when the picture
// changes size in the middle.
#include <cctype>
#include <string>

#include "display/asyncdraw.h"
#include "display/displayops.h"
#include "layers/layer.h"
#include "layers/redraw.h"
#include "runtime/errcodes.h"
#include "runtime/objlist.h"
#include "runtime/objtypes.h"
#include "tests/transitions/fx_vm.h"
#include "transitions/fxtable.h"

namespace {

constexpr uint32_t kBackdrop = 0x102030;

struct LayerFx : FxVm {
  LayerFx() : FxVm(60, 40, true) {
    MakeBrush(1, 20, 10, 8);
    MakeBrush(2, 12, 6, 5);
  }
  int Layers() { return CountLayers(d->bgpic); }
  qmLayer *Layer(int n) { return GetNthLayer(d->bgpic, n); }
  // Whether the window shows brush seed's pattern of w x h at (x, y), or the backdrop there.
  bool Shows(int seed, int x, int y, int w, int h) {
    for (int j = 0; j < h; j++)
      for (int i = 0; i < w; i++)
        if (WindowPixel(d, x + i, y + j) != Pattern(seed, i, j)) return false;
    return true;
  }
  // ShowLayerFX / HideLayerFX of layer 1 with the options table.
  uint32_t LayerFxWith(const char *command, const std::function<void()> &fill) {
    std::string name = command;
    for (char &c : name) c = char(std::tolower(static_cast<unsigned char>(c)));
    return CallWith(name.c_str(), [&] {
      vm_pushnumber(L, 1);
      vm_newtable(L);
      fill();
      return 2;
    }).code;
  }
  uint32_t Style(int pos, const std::function<void()> &fill) {
    return CallWith("setlayerstyle", [&] {
      vm_pushnumber(L, pos);
      vm_newtable(L);
      fill();
      return 2;
    }).code;
  }
  bool Bare(int x, int y, int w, int h) {
    for (int j = 0; j < h; j++)
      for (int i = 0; i < w; i++)
        if (WindowPixel(d, x + i, y + j) != kBackdrop) return false;
    return true;
  }
};

TEST(LayerTransitions, ShowHideAndRemove) {
  LayerFx vm;
  ASSERT_EQ(vm.Call("DisplayBrush", {1, 5, 6}).code, 0u);
  ASSERT_EQ(vm.Layers(), 1);
  ASSERT_EQ(vm.Call("HideLayer", {1}).code, 0u);
  ASSERT_TRUE(vm.Bare(5, 6, 20, 10));

  vm.StartCapture();
  ASSERT_EQ(vm.Call("ShowLayerFX", {1, FX_HSTRIPES, 5}).code, 0u);
  EXPECT_EQ(FxVm::Frames().size(), 4u) << "20 pixels at 5: 15 in 3 frames, one more";
  EXPECT_EQ(vm.Layer(1)->hidden, 0);
  EXPECT_TRUE(vm.Shows(8, 5, 6, 20, 10));

  vm.StartCapture();
  ASSERT_EQ(vm.Call("HideLayerFX", {1, FX_CROSSFADE}).code, 0u);
  EXPECT_EQ(FxVm::Frames().size(), 26u);
  ASSERT_EQ(vm.Layers(), 1);
  EXPECT_EQ(vm.Layer(1)->hidden, 1);
  EXPECT_TRUE(vm.Bare(5, 6, 20, 10));

  ASSERT_EQ(vm.Call("ShowLayer", {1}).code, 0u);
  vm.StartCapture();
  ASSERT_EQ(vm.Call("RemoveLayerFX", {1, FX_VSTRIPES, 3}).code, 0u);
  EXPECT_EQ(FxVm::Frames().size(), 4u) << "10 rows at 3: 7 in 3 frames, one more";
  EXPECT_EQ(vm.Layers(), 0);
  EXPECT_TRUE(vm.Bare(5, 6, 20, 10));
}

TEST(LayerTransitions, UndoTakesTheLevelthNewestLayerOfTheObject) {
  LayerFx vm;
  ASSERT_EQ(vm.Call("DisplayBrush", {1, 0, 0}).code, 0u);
  ASSERT_EQ(vm.Call("DisplayBrush", {2, 40, 30}).code, 0u);
  ASSERT_EQ(vm.Call("DisplayBrush", {1, 30, 2}).code, 0u);
  vm.StartCapture();
  CommandCall r = vm.CallWith("undofx", [&] {
    vm_pushnumber(vm.L, 3);  // BRUSH
    vm_pushnumber(vm.L, 1);
    vm_newtable(vm.L);
    vm.Set("type", FX_HSTRIPES);
    vm.Set("undolevel", 2);
    return 3;
  });
  ASSERT_EQ(r.code, 0u);
  EXPECT_EQ(vm.Layers(), 2);
  EXPECT_TRUE(vm.Bare(0, 0, 20, 10)) << "the older layer of brush 1 went";
  EXPECT_TRUE(vm.Shows(8, 30, 2, 20, 10)) << "the newest stays";
  EXPECT_TRUE(vm.Shows(5, 40, 30, 12, 6));
  EXPECT_EQ(vm.Call("UndoFX", {3, 1, 0, 5, -1, 3}).code, uint32_t(ERR_FINDARRAY));
}

TEST(LayerTransitions, AResizeRunsTheLayerTransitionAgain) {
  LayerFx vm;
  ASSERT_EQ(vm.Call("DisplayBrush", {1, 5, 6}).code, 0u);
  ASSERT_EQ(vm.Call("HideLayer", {1}).code, 0u);
  vm.StartCapture();
  qmScene *scene = vm.Scene();
  qmDisplay *d = vm.d;
  FxFrames::onFrame = [scene, d](int frame) {
    if (frame == 2) ResizeDisplay(scene, d, kKeepPosition, kKeepPosition, 70, 40, 0, 0);
  };
  ASSERT_EQ(vm.Call("ShowLayerFX", {1, FX_HSTRIPES, 5}).code, 0u);
  EXPECT_EQ(FxVm::Frames().size(), 2u + 4u) << "two frames, then the whole transition again";
  EXPECT_EQ(vm.Layer(1)->hidden, 0);
  EXPECT_TRUE(vm.Shows(8, 5, 6, 20, 10));
}

TEST(LayerTransitions, Errors) {
  struct Row {
    const char *name;
    bool layers;
    const char *command;
    CmdArg layer;
    uint32_t code;
  };
  const Row rows[] = {
      {"layers off", false, "ShowLayerFX", 1, ERR_NOLAYERS},
      {"undo with layers off", false, "UndoFX", 3, ERR_NOLAYERS},
      {"no such layer", true, "HideLayerFX", 4, ERR_LAYERRANGE},
      {"no layer of that name", true, "RemoveLayerFX", CmdArg::Str("nobody"), ERR_FINDLAYER},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.name);
    FxVm vm(40, 30, r.layers);
    vm.MakeBrush(1, 4, 4, 1);
    if (r.layers) {
      ASSERT_EQ(vm.Call("DisplayBrush", {1, 0, 0}).code, 0u);
    }
    vm.StartCapture();
    std::vector<CmdArg> args = {r.layer};
    if (std::string(r.command) == "UndoFX") args.push_back(1);
    EXPECT_EQ(vm.Call(r.command, args).code, r.code);
    EXPECT_TRUE(FxVm::Frames().empty());
  }
}

TEST(LayerTransitions, ARefreshMidTransitionShowsThePartDrawnSoFar) {
  struct Row {
    const char *name;
    const char *command;
    int forced;
    bool coveredByAnother;
  };
  const Row rows[] = {
      {"shown, planes asked for", "ShowLayerFX", 1, false},
      {"hidden, planes asked for", "HideLayerFX", 1, false},
      {"shown under another layer", "ShowLayerFX", 0, true},
      {"hidden under another layer", "HideLayerFX", 0, true},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.name);
    LayerFx vm;
    ASSERT_EQ(vm.Call("DisplayBrush", {1, 5, 6}).code, 0u);
    if (r.coveredByAnother) {
      ASSERT_EQ(vm.Call("DisplayBrush", {2, 20, 12}).code, 0u);
    }
    if (std::string(r.command) == "ShowLayerFX") {
      ASSERT_EQ(vm.Call("HideLayer", {1}).code, 0u);
    }
    vm.StartCapture();
    qmScene *scene = vm.Scene();
    std::vector<uint32_t> refreshed;
    FxFrames::onFrame = [&](int frame) {
      if (frame != 2) return;
      RefreshLayer(scene, vm.Layer(1));
      refreshed = vm.Window();
    };
    ASSERT_EQ(vm.LayerFxWith(r.command, [&] {
      vm.Set("type", FX_HSTRIPES), vm.Set("speed", 5), vm.Set("forcerealtimelayers", r.forced);
    }), 0u);
    ASSERT_GE(FxVm::Frames().size(), 3u);
    const std::vector<uint32_t> &before = FxVm::Frames()[1];
    EXPECT_TRUE(refreshed == before) << "the refresh shows what the transition drew, no more";
    // Half way the layer's rectangle holds some of its pixels and some of the backdrop.
    int layerPixels = 0, backdropPixels = 0;
    for (int y = 6; y < 16; y++)
      for (int x = 5; x < 20; x++) {
        const uint32_t p = before[size_t(y) * vm.width + x];
        layerPixels += p == FxVm::Pattern(8, x - 5, y - 6);
        backdropPixels += p == kBackdrop;
      }
    EXPECT_GT(layerPixels, 0);
    EXPECT_GT(backdropPixels, 0);
    if (r.coveredByAnother) {
      for (const std::vector<uint32_t> &f : FxVm::Frames())
        EXPECT_EQ(f[size_t(12) * vm.width + 20], FxVm::Pattern(5, 0, 0)) << "the layer above stays above";
    }
  }
}

TEST(LayerTransitions, AFilteredLayerEndsAsItsPlainShowLooks) {
  struct Row {
    const char *name;
    std::vector<const char *> filters;
    int32_t effect;
    int32_t async;
  };
  const Row rows[] = {
      {"inverted, stripes", {"invert"}, FX_HSTRIPES, 0},
      {"blurred and sepia, stripes", {"blur", "sepiatone"}, FX_VSTRIPES, 0},
      {"inverted, crossfade", {"invert"}, FX_CROSSFADE, 0},
      {"blurred, driven frame by frame", {"blur"}, FX_HSTRIPES, 1},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.name);
    auto filtered = [&](LayerFx &vm) {
      ASSERT_EQ(vm.Call("DisplayBrush", {1, 5, 6}).code, 0u);
      ASSERT_EQ(vm.Style(1, [&] {
        vm_pushstring(vm.L, "filters");
        vm_newtable(vm.L);
        for (size_t i = 0; i < r.filters.size(); i++) {
          vm_newtable(vm.L);
          vm.SetText("name", r.filters[i]);
          vm_rawseti(vm.L, -2, int(i));
        }
        vm_settable(vm.L, -3);
      }), 0u);
      ASSERT_EQ(vm.Call("HideLayer", {1}).code, 0u);
    };
    std::vector<uint32_t> plain, hidden;
    {
      LayerFx vm;
      filtered(vm);
      hidden = vm.Window();
      ASSERT_EQ(vm.Call("ShowLayer", {1}).code, 0u);
      plain = vm.Window();
    }
    ASSERT_NE(plain, hidden);
    EXPECT_NE(plain[size_t(8) * 60 + 10], FxVm::Pattern(8, 5, 2)) << "the filters change the look";
    LayerFx vm;
    filtered(vm);
    vm.StartCapture();
    CommandCall c = vm.CallWith("showlayerfx", [&] {
      vm_pushnumber(vm.L, 1);
      vm_newtable(vm.L);
      vm.Set("type", r.effect), vm.Set("speed", FX_FASTSPEED), vm.Set("async", r.async);
      return 2;
    });
    ASSERT_EQ(c.code, 0u);
    if (r.async) {
      auto *ad = reinterpret_cast<qmAsyncDraw *>(FirstObject(vm.Scene()->objects, QMTYPE_ASYNCDRAW));
      ASSERT_NE(ad, nullptr);
      int32_t result = 0;
      for (int k = 0; k < 1000 && !result; k++) ASSERT_EQ(AdvanceAsyncDraw(vm.Scene(), ad, 0, 0, &result), 0u);
      EXPECT_EQ(result, 1);
    } else {
      ASSERT_GE(FxVm::Frames().size(), 3u);
      EXPECT_EQ(FxVm::Frames().back(), plain) << "the last frame";
      const std::vector<uint32_t> &mid = FxVm::Frames()[FxVm::Frames().size() / 2];
      EXPECT_NE(mid, plain);
      EXPECT_NE(mid, hidden);
    }
    EXPECT_EQ(vm.Window(), plain);
  }
}

TEST(LayerTransitions, AScrollStandingInForABackgroundPictureCarriesThatPicture) {
  // SCROLLTOP at 1 from y = -10 to 6: frame k has the layer's top at -10 + k, showing the picture
  // stood in for (its area at the layer's place), not the layer's own brush; afterwards the
  // layer's own picture again.
  LayerFx vm;
  qmBGPic *emu = vm.MakeBGPic(2, 60, 40, 0);
  for (int y = 0; y < 40; y++)
    for (int x = 0; x < 60; x++)
      emu->master.bitmap->pixels[y * (emu->master.bitmap->bytesPerRow / 4) + x] = __builtin_bswap32(FxVm::Pattern(4, x, y));
  ASSERT_EQ(vm.Call("DisplayBrush", {1, 5, 6}).code, 0u);
  ASSERT_EQ(vm.Call("HideLayer", {1}).code, 0u);
  vm.StartCapture();
  ASSERT_EQ(vm.LayerFxWith("ShowLayerFX", [&] {
    vm.Set("type", FX_SCROLLTOP), vm.Set("speed", 1), vm.Set("bgpicemu", 1), vm.Set("bgpic", 2);
  }), 0u);
  ASSERT_EQ(FxVm::Frames().size(), 16u);
  for (int k : {4, 10, 16}) {
    const int top = -10 + k;
    for (int ly = 0; ly < 10; ly++)
      for (int x = 0; x < 20; x++)
        if (top + ly >= 0) {
          ASSERT_EQ(FxVm::Frames()[size_t(k) - 1][size_t(top + ly) * 60 + 5 + x], FxVm::Pattern(4, 5 + x, 6 + ly))
              << "frame " << k << " at " << x << "," << ly;
        }
  }
  EXPECT_EQ(emu->lock, 0u) << "the picture is free again";
  EXPECT_EQ(vm.Layer(1)->hidden, 0);
  EXPECT_TRUE(vm.Shows(8, 5, 6, 20, 10)) << "the layer shows its own picture afterwards";
}

TEST(LayerTransitions, ALayerStandingInForABackgroundPicture) {
  struct Row {
    const char *name;
    int32_t emulate, picture;  // picture 0: no "bgpic" key
    int32_t effect;
    uint32_t code;
    size_t frames;
  };
  const Row rows[] = {
      {"whole-display effects reach it", 1, 2, FX_PUSHLEFT, 0, 20},
      {"without it they become stripes", 0, 2, FX_PUSHLEFT, 0, 20},
      {"no picture named", 1, 0, FX_PUSHLEFT, ERR_MISSINGPARAMTR, 0},
      {"no such picture", 1, 9, FX_PUSHLEFT, ERR_FINDBGPIC, 0},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.name);
    LayerFx vm;
    // Picture 2 holds, where layer 1 lies, a pattern of its own.
    qmBGPic *emu = vm.MakeBGPic(2, 60, 40, 0);
    for (int y = 0; y < 40; y++)
      for (int x = 0; x < 60; x++)
        emu->master.bitmap->pixels[y * (emu->master.bitmap->bytesPerRow / 4) + x] =
            __builtin_bswap32(FxVm::Pattern(4, x, y));
    ASSERT_EQ(vm.Call("DisplayBrush", {1, 5, 6}).code, 0u);
    ASSERT_EQ(vm.Call("HideLayer", {1}).code, 0u);
    vm.StartCapture();
    ASSERT_EQ(vm.LayerFxWith("ShowLayerFX", [&] {
      vm.Set("type", r.effect), vm.Set("speed", 1), vm.Set("bgpicemu", r.emulate);
      if (r.picture) vm.Set("bgpic", r.picture);
    }), r.code);
    EXPECT_EQ(emu->lock, 0u) << "the picture is free again";
    if (r.code) {
      EXPECT_TRUE(FxVm::Frames().empty());
      EXPECT_EQ(vm.Layer(1)->hidden, 1);
      continue;
    }
    // PUSHLEFT at 1 on 20 columns: 1..19, then 20; HSTRIPES at 1: 19 columns, one more.
    ASSERT_EQ(FxVm::Frames().size(), r.frames);
    const std::vector<uint32_t> &last = FxVm::Frames().back();
    bool fromPicture = true, fromLayer = true;
    for (int y = 0; y < 10; y++)
      for (int x = 0; x < 20; x++) {
        fromPicture &= last[size_t(6 + y) * 60 + 5 + x] == FxVm::Pattern(4, 5 + x, 6 + y);
        fromLayer &= last[size_t(6 + y) * 60 + 5 + x] == FxVm::Pattern(8, x, y);
      }
    EXPECT_EQ(fromPicture, r.emulate != 0) << "the last frame shows the picture stood in for";
    EXPECT_EQ(fromLayer, r.emulate == 0);
    // Half way a push shows both pictures side by side, moved; stripes show them in place.
    const std::vector<uint32_t> &mid = FxVm::Frames()[9];
    EXPECT_EQ(mid[size_t(6) * 60 + 5], r.emulate ? FxVm::Pattern(4, 5 + 10, 6) : FxVm::Pattern(8, 0, 0));
    EXPECT_EQ(vm.Layer(1)->hidden, 0);
    EXPECT_TRUE(vm.Shows(8, 5, 6, 20, 10)) << "the layer shows its own picture afterwards";
  }
}

TEST(LayerTransitions, ABackgroundPictureChangedMidwayIsTakenAgain) {
  LayerFx vm;
  qmBGPic *emu = vm.MakeBGPic(2, 60, 40, 4);
  ASSERT_EQ(vm.Call("DisplayBrush", {1, 5, 6}).code, 0u);
  ASSERT_EQ(vm.Call("HideLayer", {1}).code, 0u);
  ASSERT_EQ(vm.LayerFxWith("ShowLayerFX", [&] {
    vm.Set("type", 3), vm.Set("speed", 1), vm.Set("async", 1), vm.Set("bgpicemu", 1), vm.Set("bgpic", 2);
  }), 0u);
  auto *ad = reinterpret_cast<qmAsyncDraw *>(FirstObject(vm.Scene()->objects, QMTYPE_ASYNCDRAW));
  ASSERT_NE(ad, nullptr);
  int32_t result = 0;
  for (int k = 0; k < 3; k++) ASSERT_EQ(AdvanceAsyncDraw(vm.Scene(), ad, 0, 0, &result), 0u);
  // Columns 0..2 of the even bands show the picture; then its pixels change under the script.
  EXPECT_EQ(DisplayVm::WindowPixel(vm.d, 5, 6), FxVm::Pattern(4, 5, 6));
  FxVm::Paint(emu->master.bitmap, 6);
  emu->layersChanged = 1;
  ASSERT_EQ(AdvanceAsyncDraw(vm.Scene(), ad, 0, 0, &result), 0u);
  EXPECT_EQ(emu->layersChanged, 0u);
  for (int x = 0; x < 4; x++) EXPECT_EQ(DisplayVm::WindowPixel(vm.d, 5 + x, 6), FxVm::Pattern(6, 5 + x, 6)) << x;
  EXPECT_EQ(DisplayVm::WindowPixel(vm.d, 5 + 4, 6), 0x102030u) << "no further than the frames drawn";
  CancelAsyncDrawObject(vm.Scene(), ad);
  EXPECT_EQ(emu->lock, 0u);
}

TEST(LayerTransitions, ABorderFadesWithItsLayer) {
  struct Row {
    const char *name;
    const char *command;
    int noBorderFade;
  };
  const Row rows[] = {
      {"shown", "ShowLayerFX", 0},
      {"hidden", "HideLayerFX", 0},
      {"removed", "RemoveLayerFX", 0},
      {"shown without the fade", "ShowLayerFX", 1},
  };
  constexpr uint32_t kWhite = 0xFFFFFF;
  for (const Row &r : rows) {
    SCOPED_TRACE(r.name);
    LayerFx vm;
    ASSERT_EQ(vm.Call("DisplayBrush", {1, 10, 10}).code, 0u);
    ASSERT_EQ(vm.Style(1, [&] { vm.Set("border", 1), vm.Set("bordersize", 3), vm.Set("bordercolor", kWhite); }), 0u);
    // Left of the layer, half way down: border only.
    const int px = 8, py = 15;
    ASSERT_EQ(DisplayVm::WindowPixel(vm.d, px, py), kWhite);
    const bool showing = std::string(r.command) == "ShowLayerFX";
    if (showing) {
      ASSERT_EQ(vm.Call("HideLayer", {1}).code, 0u);
      ASSERT_EQ(DisplayVm::WindowPixel(vm.d, px, py), kBackdrop);
    }
    vm.StartCapture();
    ASSERT_EQ(vm.LayerFxWith(r.command, [&] {
      vm.Set("type", FX_VSTRIPES), vm.Set("speed", 1), vm.Set("noborderfade", r.noBorderFade);
    }), 0u);
    const auto &frames = FxVm::Frames();
    ASSERT_GE(frames.size(), 5u);
    // The border's green channel, from the backdrop's 0x20 to white's 0xFF.
    std::vector<int> green;
    for (const std::vector<uint32_t> &f : frames) green.push_back(int(f[size_t(py) * vm.width + px] >> 8 & 255));
    const int from = showing ? 0x20 : 0xFF, to = showing ? 0xFF : 0x20;
    int between = 0;
    for (size_t i = 0; i < green.size(); i++) {
      between += green[i] != from && green[i] != to;
      if (i && !r.noBorderFade) {
        EXPECT_TRUE(showing ? green[i] >= green[i - 1] : green[i] <= green[i - 1]) << "frame " << i;
      }
    }
    if (r.noBorderFade) {
      EXPECT_EQ(between, 0);
    } else {
      EXPECT_GE(between, 3) << "the border passes through shades, not at once";
    }
    EXPECT_EQ(DisplayVm::WindowPixel(vm.d, px, py), showing ? kWhite : kBackdrop);
    EXPECT_EQ(vm.Layers(), std::string(r.command) == "RemoveLayerFX" ? 0 : 1);
    if (!showing) {
      EXPECT_TRUE(vm.Bare(10, 10, 20, 10));
    }
  }
}

}  // namespace

namespace {

// A layer standing in for a background picture through the whole-display effects that scale or
// squash their pictures: the two-part pixel zoom runs both its parts, and a picture changed
// under the script midway is taken again, so the last frame shows it as it is now.
TEST(LayerTransitions, ScalingEffectsStandingInFollowThePicture) {
  struct Row {
    int32_t effect;
    size_t frames;  // at speed 4 over the 20x10 layer, run at once
  };
  // Zooms over 2 x 20 at 4, squashes over 10 or 20 and flips over twice 10; the
  // two-part pixel zoom 49, not the one-part zoom's 25.
  const Row rows[] = {{FX_ZOOMIN, 10},   {FX_ZOOMOUT, 10},      {FX_CRUSHLEFT, 5},  {FX_CRUSHTOP, 3},
                      {FX_VFLIPCOIN, 5}, {FX_TURNDOWNTOP, 3},   {FX_TURNDOWNRIGHT, 5}, {FX_PIXELZOOM2, 49}};
  for (const Row &r : rows) {
    SCOPED_TRACE(r.effect);
    for (int32_t async : {0, 1}) {
      LayerFx vm;
      qmBGPic *emu = vm.MakeBGPic(2, 60, 40, 4);
      ASSERT_EQ(vm.Call("DisplayBrush", {1, 5, 6}).code, 0u);
      ASSERT_EQ(vm.Call("HideLayer", {1}).code, 0u);
      vm.StartCapture();
      ASSERT_EQ(vm.LayerFxWith("ShowLayerFX", [&] {
        vm.Set("type", r.effect), vm.Set("speed", 4), vm.Set("async", async), vm.Set("bgpicemu", 1),
            vm.Set("bgpic", 2);
      }), 0u);
      if (!async) {
        EXPECT_EQ(FxVm::Frames().size(), r.frames);
        continue;
      }
      auto *ad = reinterpret_cast<qmAsyncDraw *>(FirstObject(vm.Scene()->objects, QMTYPE_ASYNCDRAW));
      ASSERT_NE(ad, nullptr);
      EXPECT_EQ(ad->control(ADOP_FRAMECOUNT, 0, ad->userData), int32_t(r.frames));
      int32_t result = 0;
      ASSERT_EQ(AdvanceAsyncDraw(vm.Scene(), ad, 0, 0, &result), 0u);
      FxVm::Paint(emu->master.bitmap, 6);
      emu->layersChanged = 1;
      ASSERT_EQ(AdvanceAsyncDraw(vm.Scene(), ad, 0, 0, &result), 0u);
      EXPECT_EQ(emu->layersChanged, 0u) << "taken again at the next frame";
      for (size_t k = 0; k < r.frames && !ad->finished; k++)
        ASSERT_EQ(AdvanceAsyncDraw(vm.Scene(), ad, 0, 0, &result), 0u);
      ASSERT_TRUE(ad->finished);
      bool changed = true;
      for (int y = 0; y < 10; y++)
        for (int x = 0; x < 20; x++) changed &= DisplayVm::WindowPixel(vm.d, 5 + x, 6 + y) == FxVm::Pattern(6, 5 + x, 6 + y);
      EXPECT_TRUE(changed) << "the last frame shows the picture as it is now";
      ASSERT_EQ(AdvanceAsyncDraw(vm.Scene(), ad, 0, 0, &result), 0u);
      EXPECT_EQ(result, 1);
      // The layer shows its own picture again afterwards.
      EXPECT_TRUE(vm.Shows(8, 5, 6, 20, 10));
    }
  }
}

}  // namespace

namespace {

// Under layer scaling a window sized anew mid-transition draws the layers at the new scale: the
// layer goes back to where it stood and the transition runs again, and the layer ends drawn at
// the new scale, also when it went through its own planes (which the layer code drew anew
// from meanwhile).
TEST(LayerTransitions, APictureSizedAnewMidwayUnderLayerScaling) {
  struct Row {
    int from, to;  // the scale before and after
    int32_t realtime;
    size_t frames;  // HSTRIPES at 5: two frames, then the whole run over 20 x to columns
  };
  const Row rows[] = {{1, 2, 0, 2 + 8}, {1, 2, 1, 2 + 8}, {2, 3, 0, 2 + 12}, {2, 3, 1, 2 + 12}};
  for (const Row &r : rows) {
    SCOPED_TRACE(std::to_string(r.from) + " to " + std::to_string(r.to) + (r.realtime ? " through the planes" : ""));
    FxVm vm(60, 40, true, r.from);
    vm.MakeBrush(1, 20, 10, 8);
    ASSERT_EQ(vm.Call("DisplayBrush", {1, 5, 6}).code, 0u);
    ASSERT_EQ(vm.Call("HideLayer", {1}).code, 0u);
    vm.StartCapture();
    qmScene *scene = vm.Scene();
    qmDisplay *d = vm.d;
    qmLayer *layer = GetNthLayer(d->bgpic, 1);
    FxFrames::onFrame = [&](int frame) {
      if (frame != 2) return;
      SDL_SetWindowSize(d->platform->window, 60 * r.to, 40 * r.to);
      ResizeDisplay(scene, d, kKeepPosition, kKeepPosition, 60 * r.to, 40 * r.to, 0, 2);
      EXPECT_EQ(layer->hidden, 0) << "shown while the frames run";
    };
    ASSERT_EQ(vm.CallWith("showlayerfx", [&] {
      vm_pushnumber(vm.L, 1);
      vm_newtable(vm.L);
      vm.Set("type", FX_HSTRIPES), vm.Set("speed", 5), vm.Set("forcerealtimelayers", r.realtime);
      return 2;
    }).code, 0u);
    EXPECT_EQ(FxVm::Frames().size(), r.frames) << "the transition ran again";
    EXPECT_EQ(layer->hidden, 0);
    // As the layer shows on a display scaled so from the start.
    const std::vector<uint32_t> got = vm.Window();
    FxFrames::display = nullptr;
    FxFrames::onFrame = nullptr;
    vm.Close();
    FxVm plain(60, 40, true, r.to);
    plain.MakeBrush(1, 20, 10, 8);
    ASSERT_EQ(plain.Call("DisplayBrush", {1, 5, 6}).code, 0u);
    EXPECT_EQ(got, plain.Window()) << "the layer is drawn at the new scale";
  }
}

}  // namespace
