// Layers on a display of the dummy desktop: brushes shown as layers, reordered, removed and
// taken back. Every expected picture is composed here from the layer pictures by the rule
// written out in Compose, never taken from the player's output.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "display/bgpic.h"
#include "layers/layer.h"
#include "layers/redraw.h"
#include "runtime/attributes.h"
#include "runtime/errcodes.h"
#include "runtime/objtypes.h"
#include "tests/display/display_vm.h"
#include "tests/layers/layers_vm.h"

namespace {

using namespace layertest;

TEST(Layers, BrushesBecomeLayersAndComposeByTheRule) {
  LayersVm vm;
  vm.AddBrush(MakePicture(1, 20, 16, OPAQUE));
  vm.AddBrush(MakePicture(2, 24, 12, MASKED));
  vm.AddBrush(MakePicture(3, 18, 18, ALPHA));
  std::vector<ModelLayer> model;
  EXPECT_EQ(vm.Show(0, 5, 4), 0u);
  model.push_back({0, 5, 4, 0});
  EXPECT_EQ(vm.Show(1, 12, 10), 0u);
  model.push_back({1, 12, 10, 0});
  EXPECT_EQ(vm.Show(2, 50, 36), 0u);  // reaches past the right and bottom edges
  model.push_back({2, 50, 36, 0});
  EXPECT_EQ(vm.Show(0, -6, 30, 128), 0u);  // starts left of the picture, half transparent
  model.push_back({0, -6, 30, 128});
  EXPECT_EQ(CountLayers(vm.Pic()), 4);
  vm.ExpectScreen(model, "four layers");
  // The layer buffer holds the same composition as the window.
  const std::vector<uint32_t> want = Compose(vm.pics, model);
  EXPECT_TRUE(Near(DisplayVm::BitmapPixel(vm.d->layerBuffer, 13, 11), want[11 * kW + 13], 1));
}

TEST(Layers, InsertPositionPutsALayerUnderTheOthers) {
  LayersVm vm;
  vm.AddBrush(MakePicture(4, 30, 20, OPAQUE));
  vm.AddBrush(MakePicture(5, 30, 20, OPAQUE));
  std::vector<ModelLayer> model;
  ASSERT_EQ(vm.Show(0, 10, 10), 0u);
  model.push_back({0, 10, 10, 0});
  // Inserted at the bottom: the first brush stays visible where both lie.
  ASSERT_EQ(vm.Show(1, 20, 15, 0, nullptr, 1), 0u);
  model.insert(model.begin(), {1, 20, 15, 0});
  vm.ExpectScreen(model, "insert at the bottom");
  // An insert position past the top is clamped to the top.
  ASSERT_EQ(vm.Show(1, 0, 0, 0, nullptr, 10), 0u);
  model.push_back({1, 0, 0, 0});
  EXPECT_EQ(CountLayers(vm.Pic()), 3);
  vm.ExpectScreen(model, "insert past the top");
}

// Seeded random sequences of adding, reordering, removing and taking back layers: after each
// step the window must equal the full composition of the model. A missed refresh rectangle
// leaves stale pixels and fails it.
TEST(Layers, RandomSequencesMatchAFullRecomposition) {
  for (unsigned seed : {1u, 7u, 42u}) {
    LayersVm vm;
    for (int i = 0; i < 6; i++)
      vm.AddBrush(MakePicture(int(seed) + i, 6 + i * 3, 5 + i * 2, PlaneKind(i % 3)));
    std::vector<ModelLayer> model;
    std::mt19937 rng(seed);
    auto pick = [&](int n) { return int(rng() % unsigned(n)); };
    for (int step = 0; step < 60; step++) {
      const int n = int(model.size());
      const int op = n < 3 ? 0 : pick(9);
      std::string what = "seed " + std::to_string(seed) + " step " + std::to_string(step) + " op ";
      if (op == 0 && n < 20) {
        const int b = pick(6), x = pick(kW + 10) - 10, y = pick(kH + 10) - 10;
        const int t = pick(4) == 0 ? 1 + pick(254) : 0;
        ASSERT_EQ(vm.Show(b, x, y, t), 0u);
        model.push_back({b, x, y, t});
        what += "add";
      } else if (op == 1) {
        const int a = 1 + pick(n), b = 1 + pick(n);
        const uint32_t code = vm.Call("SwapLayers", {a, b}).code;
        if (a == b) {
          ASSERT_EQ(code, ERR_WRONGUSAGE);
        } else {
          ASSERT_EQ(code, 0u);
          std::swap(model[a - 1], model[b - 1]);
        }
        what += "swap";
      } else if (op == 2) {
        const int p = 1 + pick(n);
        ASSERT_EQ(vm.Call("RemoveLayer", {p}).code, 0u);
        model.erase(model.begin() + (p - 1));
        what += "remove";
      } else if (op == 3) {
        const int p = 1 + pick(n), z = 1 + pick(n);
        const uint32_t code = vm.Call("SetLayerZPos", {p, z}).code;
        if (p == z) {
          ASSERT_EQ(code, ERR_WRONGUSAGE);
        } else {
          ASSERT_EQ(code, 0u);
          const ModelLayer moved = model[p - 1];
          model.erase(model.begin() + (p - 1));
          model.insert(model.begin() + (z - 1), moved);
        }
        what += "zpos";
      } else if (op == 4) {
        const int p = 1 + pick(n);
        const bool front = pick(2);
        ASSERT_EQ(vm.Call(front ? "LayerToFront" : "LayerToBack", {p}).code, 0u);
        std::swap(model[p - 1], model[front ? n - 1 : 0]);  // an exchange with the end layer
        what += front ? "front" : "back";
      } else if (op == 5) {
        // Undo of the most recent layer of a brush.
        const int b = model[pick(n)].brush;
        ASSERT_EQ(vm.Call("Undo", {double(QMTYPE_BRUSH), b + 1}).code, 0u);
        for (int i = n - 1; i >= 0; i--)
          if (model[i].brush == b) {
            model.erase(model.begin() + i);
            break;
          }
        what += "undo";
      } else if (op == 6) {
        const int p = 1 + pick(n), dx = pick(21) - 10, dy = pick(21) - 10;
        ASSERT_EQ(vm.Call("TranslateLayer", {p, dx, dy}).code, 0u);
        model[p - 1].x += dx, model[p - 1].y += dy;
        what += "translate";
      } else if (op == 7) {
        const int p = 1 + pick(n);
        if (model[p - 1].hidden) {
          // Shown again, placed anew half the time.
          if (pick(2)) {
            const int x = pick(kW), y = pick(kH);
            ASSERT_EQ(vm.Call("ShowLayer", {p, x, y}).code, 0u);
            model[p - 1].x = x, model[p - 1].y = y;
          } else {
            ASSERT_EQ(vm.Call("ShowLayer", {p}).code, 0u);
          }
          model[p - 1].hidden = false;
          what += "show";
        } else {
          ASSERT_EQ(vm.Call("HideLayer", {p}).code, 0u);
          model[p - 1].hidden = true;
          what += "hide";
        }
      } else {
        continue;
      }
      ASSERT_EQ(CountLayers(vm.Pic()), int(model.size())) << what;
      vm.ExpectScreen(model, what, 2);
      if (HasFailure()) return;
    }
  }
}

TEST(Layers, ZOrderTable) {
  LayersVm vm;
  vm.AddBrush(MakePicture(9, 8, 8, OPAQUE));
  for (int i = 0; i < 5; i++) ASSERT_EQ(vm.Show(0, i * 4, i * 4, 0, std::string(1, char('a' + i)).c_str()), 0u);
  auto order = [&] {
    std::string s;
    for (qmLayer *l = FirstLayer(vm.Pic()); l; l = LayerAbove(l)) s += l->name;
    return s;
  };
  EXPECT_EQ(vm.Call("SetLayerZPos", {2, 4}).code, 0u);
  EXPECT_EQ(order(), "acdbe");
  EXPECT_EQ(vm.Call("SetLayerZPos", {CmdArg::Str("E"), 1}).code, 0u);  // names in any case
  EXPECT_EQ(order(), "eacdb");
  EXPECT_EQ(vm.Call("SetLayerZPos", {1, 0}).code, 0u);  // 0 is the top
  EXPECT_EQ(order(), "acdbe");
  EXPECT_EQ(vm.Call("SetLayerZPos", {2, 99}).code, 0u);  // past the end is the top
  EXPECT_EQ(order(), "adbec");
  EXPECT_EQ(vm.Call("LayerToBack", {1}).code, 0u);  // already there
  EXPECT_EQ(vm.Call("LayerToFront", {5}).code, 0u);
  EXPECT_EQ(order(), "adbec");
  EXPECT_EQ(vm.Call("LayerToFront", {1}).code, 0u);  // exchanges with the top layer
  EXPECT_EQ(order(), "cdbea");
  EXPECT_EQ(vm.Call("SwapLayers", {CmdArg::Str("d"), CmdArg::Str("b")}).code, 0u);  // neighbours
  EXPECT_EQ(order(), "cbdea");
  const CommandCall hit = vm.Call("GetLayerAtPos", {17, 17});  // b at 12..19 lies under e at 16..23
  ASSERT_EQ(hit.results.size(), 2u);
  EXPECT_EQ(hit.results[0], 4);
  EXPECT_EQ(vm.Call("LayerExists", {CmdArg::Str("C")}).results, std::vector<double>{1});
  EXPECT_EQ(vm.Call("LayerExists", {CmdArg::Str("z")}).results, std::vector<double>{0});
}

TEST(Layers, UndoTakesBackByOriginAndLevel) {
  LayersVm vm;
  vm.AddBrush(MakePicture(10, 10, 10, OPAQUE));
  vm.AddBrush(MakePicture(11, 10, 10, OPAQUE));
  ASSERT_EQ(vm.Show(0, 0, 0, 0, "first"), 0u);
  ASSERT_EQ(vm.Show(1, 5, 5, 0, "other"), 0u);
  ASSERT_EQ(vm.Show(0, 10, 10, 0, "second"), 0u);
  ASSERT_EQ(vm.Show(0, 20, 20, 0, "third"), 0u);
  EXPECT_EQ(vm.Call("Undo", {double(QMTYPE_BRUSH), 1, 2}).code, 0u);  // the second most recent
  EXPECT_EQ(FindLayerByName(vm.Pic(), "second"), 0);
  EXPECT_EQ(vm.Call("Undo", {double(QMTYPE_BRUSH), 1}).code, 0u);
  EXPECT_EQ(FindLayerByName(vm.Pic(), "third"), 0);
  EXPECT_EQ(vm.Call("Undo", {double(QMTYPE_BOX)}).code, 0u);  // none: nothing happens
  EXPECT_EQ(CountLayers(vm.Pic()), 2);
  vm.ExpectScreen({{0, 0, 0, 0}, {1, 5, 5, 0}}, "after undo");
}

TEST(Layers, FreeLayersKeepsOrDropsThePicture) {
  LayersVm vm;
  vm.AddBrush(MakePicture(12, 16, 16, ALPHA));
  ASSERT_EQ(vm.Show(0, 8, 8), 0u);
  ASSERT_EQ(vm.Show(0, 30, 20, 100), 0u);
  const std::vector<ModelLayer> model{{0, 8, 8, 0}, {0, 30, 20, 100}};
  EXPECT_EQ(vm.Call("FreeLayers", {}).code, 0u);
  EXPECT_EQ(CountLayers(vm.Pic()), 0);
  vm.ExpectScreen(model, "kept in the background");
  // A layer over the kept picture, then everything dropped: the bare background remains.
  ASSERT_EQ(vm.Show(0, 0, 0), 0u);
  EXPECT_EQ(vm.Call("FreeLayers", {0}).code, 0u);
  vm.ExpectScreen({}, "bare background");
}

TEST(Layers, NamesAndBadArguments) {
  LayersVm vm;
  vm.AddBrush(MakePicture(13, 4, 4, OPAQUE));
  ASSERT_EQ(vm.Show(0, 0, 0, 0, "Ship"), 0u);
  ASSERT_EQ(vm.Show(0, 8, 0), 0u);
  const std::string n255(255, 'n'), n256(256, 'n');
  struct Row {
    const char *what;
    const char *cmd;
    std::vector<CmdArg> args;
    uint32_t code;
  } rows[] = {
      {"same name in other case", "SetLayerName", {2, CmdArg::Str("SHIP")}, ERR_NAMEUSED},
      {"255 characters", "SetLayerName", {2, CmdArg::Str(n255.c_str())}, 0},
      {"256 characters", "SetLayerName", {2, CmdArg::Str(n256.c_str())}, ERR_NAMETOOLONG},
      {"position beyond the list", "SetLayerName", {3, CmdArg::Str("x")}, ERR_LAYERRANGE},
      {"swap with itself", "SwapLayers", {1, 1}, ERR_WRONGUSAGE},
      {"swap out of range", "SwapLayers", {1, 3}, ERR_LAYERRANGE},
      {"swap position 0", "SwapLayers", {0, 1}, ERR_LAYERRANGE},
      {"unknown name", "RemoveLayer", {CmdArg::Str("nothing")}, ERR_FINDLAYER},
      {"table as layer", "RemoveLayer", {CmdArg::Table()}, ERR_STRORNUM},
      {"remove past the end", "RemoveLayer", {3}, ERR_LAYERRANGE},
      {"remove position -5", "RemoveLayer", {-5}, ERR_LAYERRANGE},
      {"zpos negative", "SetLayerZPos", {1, -1}, ERR_WRONGUSAGE},
      {"zpos of a missing layer", "SetLayerZPos", {7, 1}, ERR_LAYERRANGE},
      {"insert position -1", "InsertLayer", {-1, double(QMTYPE_BRUSH), 1, 0, 0}, ERR_INVINSERT},
      {"insert of a box", "InsertLayer", {0, double(QMTYPE_BOX), 1, 0, 0}, ERR_WRONGUSAGE},
      {"insert of a missing brush", "InsertLayer", {0, double(QMTYPE_BRUSH), 77, 0, 0}, ERR_FINDBRUSH},
  };
  for (const Row &r : rows) EXPECT_EQ(vm.Call(r.cmd, r.args).code, r.code) << r.what;
  EXPECT_EQ(CountLayers(vm.Pic()), 2);
  // InsertLayer at 0 puts the brush on top.
  EXPECT_EQ(vm.Call("InsertLayer", {0, double(QMTYPE_BRUSH), 1, 2, 2}).code, 0u);
  EXPECT_EQ(CountLayers(vm.Pic()), 3);
  vm.ExpectScreen({{0, 0, 0, 0}, {0, 8, 0, 0}, {0, 2, 2, 0}}, "inserted on top");
  // Layers off: the commands refuse.
  EXPECT_EQ(vm.Call("DisableLayers", {}).code, 0u);
  for (const char *cmd : {"RemoveLayer", "LayerToFront", "LayerToBack"})
    EXPECT_EQ(vm.Call(cmd, {1}).code, ERR_NOLAYERS) << cmd;
  EXPECT_EQ(vm.Call("FreeLayers", {}).code, ERR_NOLAYERS);
  EXPECT_EQ(CountLayers(vm.Pic()), 3);  // they stay in the list
}

TEST(Layers, ShowingABrushThenFreeingItKeepsTheLayerPicture) {
  LayersVm vm;
  vm.AddBrush(MakePicture(14, 12, 12, MASKED));
  ASSERT_EQ(vm.Show(0, 3, 3), 0u);
  EXPECT_EQ(vm.Call("FreeBrush", {1}).code, 0u);
  vm.AddBrush(MakePicture(15, 10, 10, OPAQUE));
  ASSERT_EQ(vm.Show(1, 8, 8), 0u);
  ASSERT_EQ(vm.Call("RemoveLayer", {2}).code, 0u);  // the area under it comes from layer 1
  vm.ExpectScreen({{0, 3, 3, 0}}, "freed brush still shown");
}

// Shapes of the draw library become layers of their type; Undo takes them back by type.
TEST(Layers, ShapesBecomeLayers) {
  LayersVm vm;
  vm.AddBrush(MakePicture(16, 20, 20, OPAQUE));
  ASSERT_EQ(vm.Show(0, 10, 10), 0u);
  ASSERT_EQ(vm.Call("SetFillStyle", {1}).code, 0u);  // filled
  ASSERT_EQ(vm.Call("Box", {4, 4, 12, 8, 0xFF0000}).code, 0u);
  ASSERT_EQ(vm.Call("Box", {20, 20, 6, 6, 0x00FF00}).code, 0u);
  ASSERT_EQ(CountLayers(vm.Pic()), 3);
  EXPECT_EQ(LastLayer(vm.Pic())->type, int(QMTYPE_BOX));
  EXPECT_EQ(DisplayVm::WindowPixel(vm.d, 5, 5), 0xFF0000u);
  EXPECT_EQ(DisplayVm::WindowPixel(vm.d, 22, 22), 0x00FF00u);  // over the brush
  // The second box goes; the brush shows again where it lay.
  ASSERT_EQ(vm.Call("Undo", {double(QMTYPE_BOX)}).code, 0u);
  ASSERT_EQ(CountLayers(vm.Pic()), 2);
  const Picture &p = vm.pics[0];
  EXPECT_EQ(DisplayVm::WindowPixel(vm.d, 22, 22), p.px[12 * p.w + 12] & 0xFFFFFF);
  // Moved off the brush, the first box leaves the background behind.
  ASSERT_EQ(vm.Call("TranslateLayer", {2, 40, 30}).code, 0u);
  EXPECT_EQ(DisplayVm::WindowPixel(vm.d, 5, 5), kBackground);
  EXPECT_EQ(DisplayVm::WindowPixel(vm.d, 45, 35), 0xFF0000u);
}

TEST(Layers, AttributesAndDump) {
  LayersVm vm;
  vm.AddBrush(MakePicture(17, 10, 6, OPAQUE));
  ASSERT_EQ(vm.Show(0, 3, 4, 0, "Hero"), 0u);
  ASSERT_EQ(vm.Show(0, 20, 30), 0u);
  ASSERT_EQ(vm.Call("HideLayer", {2}).code, 0u);
  constexpr double kLayer = QMTYPE_LAYER;
  struct Row {
    CmdArg layer;
    double attribute;
    double want;
  } rows[] = {
      {CmdArg::Str("hero"), 0, 10}, {CmdArg::Str("hero"), 1, 6},   {CmdArg::Str("hero"), 7, 3},
      {CmdArg::Str("hero"), 8, 4},  {CmdArg::Str("hero"), 9, 3},   {CmdArg::Str("hero"), 10, 1},
      {2, 10, 0},                   {2, 74, 2},                    {2, 13, 2},
      {2, 7, 20},
  };
  for (const Row &r : rows) {
    const CommandCall c = vm.Call("GetAttribute", {kLayer, r.layer, r.attribute});
    ASSERT_EQ(c.code, 0u) << r.attribute;
    EXPECT_EQ(c.results, std::vector<double>{r.want}) << r.attribute;
  }
  EXPECT_EQ(vm.Call("GetAttribute", {kLayer, 3, 0}).code, ERR_LAYERRANGE);
  EXPECT_EQ(vm.Call("GetAttribute", {kLayer, 1, 60}).code, ERR_UNKNOWNATTR);
  // The attribute is checked before the layer is looked up, and layers that are off before
  // the position.
  struct Order {
    const char *name;
    CmdArg layer;
    double attribute;
    bool layersOn;
    uint32_t code;
  } order[] = {
      {"count of a missing layer", 3, ATTRCOUNT, true, ERR_UNKNOWNATTR},
      {"display attribute of a missing layer", 3, ATTRHOSTWIDTH, true, ERR_UNKNOWNATTR},
      {"width of a missing layer", 3, ATTRWIDTH, true, ERR_LAYERRANGE},
      {"count with layers off", 1, ATTRCOUNT, false, ERR_UNKNOWNATTR},
      {"width with layers off", 1, ATTRWIDTH, false, ERR_NOLAYERS},
      {"width of a missing layer with layers off", 3, ATTRWIDTH, false, ERR_NOLAYERS},
  };
  for (const Order &o : order) {
    ASSERT_EQ(vm.Call(o.layersOn ? "EnableLayers" : "DisableLayers", {}).code, 0u) << o.name;
    EXPECT_EQ(vm.Call("GetAttribute", {kLayer, o.layer, o.attribute}).code, o.code) << o.name;
  }
  ASSERT_EQ(vm.Call("EnableLayers", {}).code, 0u);
  testing::internal::CaptureStdout();
  EXPECT_EQ(vm.Call("DumpLayers", {}).code, 0u);
  const std::string dump = testing::internal::GetCapturedStdout();
  EXPECT_NE(dump.find("sizeof(qmLayer): 1072\nLayers: 2\n"), std::string::npos) << dump;
  EXPECT_NE(dump.find("(1) BRUSH #1 ("), std::string::npos) << dump;
  EXPECT_NE(dump.find("/ \"Hero\") - X: 3 (3) - Y: 4 (4) - Width: 10 (10) - Height: 6 (6) - Visible: 1\n"),
            std::string::npos)
      << dump;
  EXPECT_NE(dump.find("/ \"\") - X: 20 (20) - Y: 30 (30) - Width: 10 (10) - Height: 6 (6) - Visible: 0\n"),
            std::string::npos)
      << dump;
  vm.ExpectScreen({{0, 3, 4, 0}}, "second hidden");
}

// Attributes that belong to one kind of layer: a brush layer answers neither the anim nor the
// text ones, a TextOut layer answers the text ones from what it was drawn with.
TEST(Layers, AttributesOfAnotherKindOfLayer) {
  LayersVm vm;
  vm.AddBrush(MakePicture(17, 10, 6, OPAQUE));
  ASSERT_EQ(vm.Show(0, 3, 4), 0u);
  ASSERT_EQ(vm.Call("TextOut", {10, 20, CmdArg::Str("Hi")}).code, 0u);
  ASSERT_EQ(CountLayers(vm.Pic()), 2);
  constexpr double kLayer = QMTYPE_LAYER;
  enum : int { kNumFrames = 11, kCurFrame = 12, kFrameDelay = 37, kAscender = 30, kName = 32, kSize = 33,
               kText = 36 };
  struct Row {
    const char *name;
    CmdArg layer;
    int attribute;
    uint32_t code;
    double want;
  } rows[] = {
      {"frames of a brush layer", 1, kNumFrames, ERR_NOANMLAYER, 0},
      {"current frame of a brush layer", 1, kCurFrame, ERR_NOANMLAYER, 0},
      {"frame delay of a brush layer", 1, kFrameDelay, ERR_NOANMLAYER, 0},
      {"frames of a text layer", 2, kNumFrames, ERR_NOANMLAYER, 0},
      {"font size of a brush layer", 1, kSize, ERR_NOTXTLAYER, 0},
      {"text of a brush layer", 1, kText, ERR_NOTXTLAYER, 0},
      {"font size of a text layer", 2, kSize, 0, 8},  // the built-in 8-pixel font
      {"the layer is looked up first", 3, kNumFrames, ERR_LAYERRANGE, 0},
      {"the layer is looked up first by name", CmdArg::Str("nobody"), kText, ERR_FINDLAYER, 0},
  };
  for (const Row &r : rows) {
    const CommandCall c = vm.Call("GetAttribute", {kLayer, r.layer, r.attribute});
    EXPECT_EQ(c.code, r.code) << r.name;
    if (r.code == 0) {
      EXPECT_EQ(c.results, std::vector<double>{r.want}) << r.name;
    }
  }
  // The strings of a text layer.
  auto text = [&](int attribute) {
    vm_settop(vm.L, 0);
    vm_pushstring(vm.L, "getattribute");
    vm_gettable(vm.L, VM_GLOBALSINDEX);
    for (double v : {kLayer, 2.0, double(attribute)}) vm_pushnumber(vm.L, v);
    std::string out = vm_pcall(vm.L, 3, 1, 0) == 0 && vm_isstring(vm.L, -1) ? vm_tostring(vm.L, -1) : "?";
    vm_settop(vm.L, 0);
    return out;
  };
  EXPECT_EQ(text(kText), "Hi");
  EXPECT_NE(text(kName), "?");
  EXPECT_GT(vm.Call("GetAttribute", {kLayer, 2, kAscender}).results.at(0), 0);
}

TEST(Layers, MoveToPositionReportsWhetherAnythingMoved) {
  LayersVm vm;
  vm.AddBrush(MakePicture(18, 4, 4, OPAQUE));
  for (int i = 0; i < 5; i++) ASSERT_EQ(vm.Show(0, i, 0, 0, std::string(1, char('a' + i)).c_str()), 0u);
  qmBGPic *pic = vm.Pic();
  auto order = [&] {
    std::string s;
    for (qmLayer *l = FirstLayer(pic); l; l = LayerAbove(l)) s += l->name;
    return s;
  };
  struct {
    int from, to, moved;
    const char *order;
  } rows[] = {{2, 4, 1, "acdbe"}, {4, 4, 0, "acdbe"}, {1, 1, 0, "acdbe"}, {5, 0, 0, "acdbe"},
              {5, 99, 0, "acdbe"}, {3, 1, 1, "dacbe"}, {1, 0, 1, "acbed"}, {2, -3, 1, "abedc"}};
  for (const auto &r : rows) {
    EXPECT_EQ(MoveLayerToPos(pic, GetNthLayer(pic, r.from), r.to), r.moved) << r.from << " to " << r.to;
    EXPECT_EQ(order(), r.order) << r.from << " to " << r.to;
  }
  EXPECT_EQ(GetNthLayer(pic, 0), nullptr);
  EXPECT_EQ(GetNthLayer(pic, 6), nullptr);
}

// A layer that cannot be made leaves the list as it was and nothing behind (LeakSanitizer).
TEST(Layers, FailedAddLeavesNothingBehind) {
  LayersVm vm;
  vm.AddBrush(MakePicture(19, 8, 8, ALPHA));
  ASSERT_EQ(vm.Show(0, 0, 0, 0, "Taken"), 0u);
  EXPECT_EQ(vm.Show(0, 10, 10, 0, "TAKEN"), ERR_NAMEUSED);
  EXPECT_EQ(CountLayers(vm.Pic()), 1);
  vm.ExpectScreen({{0, 0, 0, 0}}, "after the refused layer");
  // A redraw rectangle that lies past the picture's edge is empty: nothing is drawn.
  const uint32_t before = DisplayVm::BitmapPixel(vm.d->layerBuffer, kW - 1, 0);
  Redraw(GetPlayerContext(vm.L)->scene, vm.d, vm.Pic(), vm.d->layerBuffer, kW, 0, 10, 10, 0);
  EXPECT_EQ(DisplayVm::BitmapPixel(vm.d->layerBuffer, kW - 1, 0), before);
}

// Drawn into the display's own picture selected with SelectBGPic, layers wait for EndSelect.
TEST(Layers, SelectedPictureShowsItsLayersAtEndSelect) {
  LayersVm vm;
  vm.AddBrush(MakePicture(20, 12, 12, MASKED));
  ASSERT_EQ(vm.Show(0, 0, 0), 0u);
  ASSERT_EQ(vm.Call("SelectBGPic", {CmdArg::Nil()}).code, 0u);
  ASSERT_EQ(vm.Show(0, 30, 20), 0u);
  ASSERT_EQ(vm.Call("Box", {50, 2, 6, 6, 0x0000FF}).code, 0u);
  vm.ExpectScreen({{0, 0, 0, 0}}, "while selected");
  ASSERT_EQ(vm.Call("EndSelect", {}).code, 0u);
  ASSERT_EQ(CountLayers(vm.Pic()), 3);
  EXPECT_EQ(DisplayVm::WindowPixel(vm.d, 50, 2), 0x0000FFu);  // the outline of an unfilled box
  EXPECT_EQ(DisplayVm::WindowPixel(vm.d, 40, 4), kBackground);
  ASSERT_EQ(vm.Call("RemoveLayer", {3}).code, 0u);
  vm.ExpectScreen({{0, 0, 0, 0}, {0, 30, 20, 0}}, "after EndSelect");
}

TEST(Layers, RectangleListGrowsInSteps) {
  qmDirtyRectList list{};
  for (int i = 0; i < 1025; i++) AppendRect(&list, i, 0, 1, 1);
  EXPECT_EQ(list.capacity, 2048);
  EXPECT_EQ(list.count, 1025);
  EXPECT_EQ(list.entries[1023].x1, 1023);
  EXPECT_EQ(list.entries[1024].x2, 1024);
  FreeRectList(&list);
  struct {
    int x, y, w, h;
    bool kept;
    int cx, cw;
  } rows[] = {{-10, 0, 10, 5, false, 0, 0}, {-10, 0, 30, 5, true, 0, 20}, {60, 0, 10, 5, true, 60, 4},
              {64, 0, 5, 5, false, 0, 0}};
  for (auto &r : rows) {
    int x = r.x, y = r.y, w = r.w, h = r.h;
    EXPECT_EQ(ClipRectToPicture(kW, kH, &x, &y, &w, &h), r.kept) << r.x;
    if (r.kept) {
      EXPECT_EQ(x, r.cx);
      EXPECT_EQ(w, r.cw);
    }
  }
}

void ExpectRects(const std::vector<qmDirtyRect> &got, const std::vector<qmDirtyRect> &want, const char *name) {
  ASSERT_EQ(got.size(), want.size()) << name;
  for (size_t i = 0; i < got.size(); i++) {
    const qmDirtyRect &g = got[i], &w = want[i];
    EXPECT_TRUE(g.x1 == w.x1 && g.y1 == w.y1 && g.x2 == w.x2 && g.y2 == w.y2)
        << name << ", rectangle " << i << ": {" << g.x1 << "," << g.y1 << "," << g.x2 << "," << g.y2 << "}";
  }
}

// The merge before a refresh: one pass over the pairs in list order, touching rectangles join,
// a free column or row keeps them apart. Each row: the list, then what is left of it (x1 = M
// for an entry taken into another).
TEST(Layers, DirtyRectanglesMergeInOnePass) {
  constexpr int32_t M = kMergedRect;
  struct Row {
    const char *name;
    std::vector<qmDirtyRect> in, out;
  } rows[] = {
      {"touching at the side", {{0, 0, 9, 9}, {10, 0, 20, 9}}, {{0, 0, 20, 9}, {M, 0, 20, 9}}},
      {"one free column between", {{0, 0, 9, 9}, {11, 0, 20, 9}}, {{0, 0, 9, 9}, {11, 0, 20, 9}}},
      {"one free row between", {{0, 0, 9, 9}, {0, 11, 9, 20}}, {{0, 0, 9, 9}, {0, 11, 9, 20}}},
      {"touching corner to corner", {{0, 0, 9, 9}, {10, 10, 19, 19}}, {{0, 0, 19, 19}, {M, 10, 19, 19}}},
      {"the later one left of the earlier", {{10, 0, 20, 9}, {0, 0, 9, 9}}, {{0, 0, 20, 9}, {M, 0, 9, 9}}},
      {"one inside the other", {{5, 5, 6, 6}, {0, 0, 9, 9}}, {{0, 0, 9, 9}, {M, 0, 9, 9}}},
      {"taken entries stay taken", {{M, 0, 9, 9}, {5, 0, 20, 9}}, {{M, 0, 9, 9}, {5, 0, 20, 9}}},
      {"far apart, no overflow", {{-2000000000, 0, -1999999990, 9}, {2000000000, 0, 2000000010, 9}},
       {{-2000000000, 0, -1999999990, 9}, {2000000000, 0, 2000000010, 9}}},
      // The first grows by the third and then touches the second, which it has passed; the
      // second, at its turn, takes the first in.
      {"the one whose turn comes takes the passed one",
       {{0, 0, 9, 9}, {30, 0, 39, 9}, {10, 0, 29, 9}},
       {{M, 0, 29, 9}, {0, 0, 39, 9}, {M, 0, 29, 9}}},
      // The second grows by the third into the corner of the first, whose turn is over: one
      // pass leaves both.
      {"no second pass",
       {{40, 0, 49, 9}, {20, 10, 29, 19}, {30, 20, 39, 29}},
       {{40, 0, 49, 9}, {20, 10, 39, 29}, {M, 20, 39, 29}}},
  };
  for (Row &r : rows) {
    MergeRectArray(r.in.data(), int32_t(r.in.size()));
    ExpectRects(r.in, r.out, r.name);
  }
}

// What a refresh of a list composes, on a picture of kW x kH: each entry cut to the picture, or
// the box around them all when they would compose more pixels than it holds.
TEST(Layers, RefreshPlanNeverComposesMoreThanTheBox) {
  constexpr int32_t M = kMergedRect;
  struct Row {
    const char *name;
    std::vector<qmDirtyRect> in, plan;
  } rows[] = {
      {"apart: each on its own", {{0, 0, 9, 9}, {20, 20, 29, 29}}, {{0, 0, 9, 9}, {20, 20, 29, 29}}},
      {"cut to the picture", {{-5, -5, 9, 9}, {60, 40, 70, 50}}, {{0, 0, 9, 9}, {60, 40, 63, 47}}},
      {"merged and outside entries left out", {{M, 0, 9, 9}, {64, 0, 70, 9}, {0, 48, 9, 50}, {5, 5, 6, 6}},
       {{5, 5, 6, 6}}},
      // 200 + 2 x 100 pixels in a box of 200: the box once.
      {"overlapping beyond the box", {{0, 0, 19, 9}, {0, 0, 19, 4}, {0, 5, 19, 9}}, {{0, 0, 19, 9}}},
      {"one inside the other", {{10, 2, 29, 7}, {0, 0, 39, 9}}, {{0, 0, 39, 9}}},
      {"overlapping within the box", {{0, 0, 29, 9}, {20, 5, 39, 14}}, {{0, 0, 29, 9}, {20, 5, 39, 14}}},
  };
  for (Row &r : rows) ExpectRects(PlanRefresh(r.in.data(), int32_t(r.in.size()), kW, kH), r.plan, r.name);
}

}  // namespace

namespace {

// ReadBrushPixel's two results: the colour and the mask bit (or alpha, or -1).
std::pair<uint32_t, int> BrushPixel(DisplayVm &vm, CmdArg id, int x, int y) {
  const CommandCall c = vm.Call("ReadBrushPixel", {id, x, y});
  EXPECT_EQ(c.code, 0u);
  if (c.results.size() != 2) return {0, -2};
  return {uint32_t(c.results[0]), int(c.results[1])};
}

TEST(Layers, ConvertToBrushCopiesWhatALayerShows) {
  LayersVm vm;
  vm.AddBrush(MakePicture(21, 9, 7, MASKED));
  ASSERT_EQ(vm.Show(0, 3, 4, 0, "whole"), 0u);
  // A 4x3 part of the brush from (2, 1), shown at (30, 20).
  ASSERT_EQ(vm.Call("DisplayBrushPart", {1, 2, 1, 30, 20, 4, 3}).code, 0u);
  constexpr double kLayer = QMTYPE_LAYER;
  ASSERT_EQ(vm.Call("ConvertToBrush", {kLayer, CmdArg::Str("whole"), 10}).code, 0u);
  ASSERT_EQ(vm.Call("GetBrushLink", {11, kLayer, 2}).code, 0u);
  const Picture &p = vm.pics[0];
  struct Want {
    int brush, w, h, fromX, fromY;
  } wants[] = {{10, 9, 7, 0, 0}, {11, 4, 3, 2, 1}};
  for (const Want &w : wants) {
    EXPECT_EQ(vm.Call("GetAttribute", {double(QMTYPE_BRUSH), w.brush, ATTRWIDTH}).results, std::vector<double>{double(w.w)});
    EXPECT_EQ(vm.Call("GetAttribute", {double(QMTYPE_BRUSH), w.brush, ATTRHEIGHT}).results, std::vector<double>{double(w.h)});
    EXPECT_EQ(vm.Call("GetAttribute", {double(QMTYPE_BRUSH), w.brush, ATTRTRANSPARENTCOLOR}).results,
              std::vector<double>{double(0x123456)})
        << "a masked layer picture's brush";
    for (int y = 0; y < w.h; y++)
      for (int x = 0; x < w.w; x++) {
        const uint32_t src = p.px[size_t((y + w.fromY) * p.w + x + w.fromX)];
        const auto got = BrushPixel(vm, w.brush, x, y);
        ASSERT_EQ(got.first, src & 0xFFFFFF) << w.brush << " at " << x << "," << y;
        ASSERT_EQ(got.second, (src >> 24) ? 1 : 0) << w.brush << " at " << x << "," << y;
      }
  }
  // An automatic id comes back as the result.
  const CommandCall automatic = vm.Call("ConvertToBrush", {kLayer, 1, CmdArg::Nil()});
  ASSERT_EQ(automatic.code, 0u);
  EXPECT_EQ(automatic.results.size(), 1u);

  struct Bad {
    const char *name;
    CmdArg layer;
    bool layersOn;
    uint32_t code;
  } bad[] = {
      {"no layer there", 3, true, ERR_LAYERRANGE},
      {"no layer of that name", CmdArg::Str("nothing"), true, ERR_FINDLAYER},
      {"neither a number nor a name", CmdArg::Nil(), true, ERR_STRORNUM},
      {"layers off", 1, false, ERR_NOLAYERS},
  };
  for (const Bad &b : bad) {
    ASSERT_EQ(vm.Call(b.layersOn ? "EnableLayers" : "DisableLayers", {}).code, 0u) << b.name;
    EXPECT_EQ(vm.Call("ConvertToBrush", {kLayer, b.layer, 12}).code, b.code) << b.name;
    EXPECT_EQ(vm.Call("GetBrushLink", {12, kLayer, b.layer}).code, b.code) << b.name;
    EXPECT_EQ(vm.Call("GetAttribute", {double(QMTYPE_BRUSH), 0, ATTRCOUNT}).results, std::vector<double>{4})
        << b.name << ": no brush was made";
  }
}

}  // namespace
