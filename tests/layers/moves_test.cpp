// Layers made, tested for collisions, moved through move lists, shown and hidden as groups. The
// screen is checked against the compositing rule of layers_vm.h after every change, and the
// collision cases come from fixtures whose answer can be read off the drawing in the comment.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "display/brush.h"
#include "graphics/blit.h"
#include "graphics/clipregion.h"
#include "layers/collision.h"
#include "layers/layer.h"
#include "layers/movelist.h"
#include "runtime/attributes.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/objlist.h"
#include "runtime/objtypes.h"
#include "tests/layers/layers_vm.h"

namespace {

using namespace layertest;

constexpr int kBrushVsBox = 46, kLayerVsBox = 47, kSpriteVsBox = 48;

// A mask of w x h with the given rows of '#' (set) and '.' (clear).
struct MaskFixture {
  std::vector<uint8_t> bytes;
  qmMask mask{};
  MaskFixture(int w, const std::vector<std::string> &rows) {
    const int bpr = w / 8 + 1;
    bytes.assign(size_t(bpr) * rows.size(), 0);
    for (size_t y = 0; y < rows.size(); y++)
      for (int x = 0; x < w; x++)
        if (rows[y][x] == '#') bytes[y * bpr + x / 8] |= uint8_t(0x80 >> (x % 8));
    mask = {bytes.data(), w, int32_t(rows.size()), bpr, 1};
  }
};

TEST(PixelCollision, BoxesAndPlanes) {
  EXPECT_EQ(BoxCollision(0, 0, 10, 10, 10, 0, 10, 10), 0);  // x2 = 10 lies past 0 + 10 - 1
  EXPECT_EQ(BoxCollision(0, 0, 10, 10, 9, 0, 10, 10), 1);
  EXPECT_EQ(BoxCollision(0, 0, 10, 10, 0, -10, 10, 10), 0);
  EXPECT_EQ(BoxCollision(0, 0, 10, 10, 0, -9, 10, 10), 1);
  EXPECT_EQ(BoxCollision(INT32_MAX - 1, 0, 10, 10, INT32_MIN, 0, 10, 10), 0);  // no wrap-round

  // a: a 4x4 object whose mask is its left column; b the same, with only its right column.
  MaskFixture left(4, {"#...", "#...", "#...", "#..."}), right(4, {"...#", "...#", "...#", "...#"});
  // An alpha channel (one byte per pixel, rows of 5 bytes) that is zero except at (2, 1).
  std::vector<uint8_t> alphaBytes(5 * 4, 0);
  alphaBytes[1 * 5 + 2] = 1;
  qmAlphaChannel dot{alphaBytes.data(), 4, 4, 5, 1};
  MaskFixture clip(8, {"........", "........", "..######", "..######"});
  struct Row {
    const char *name;
    qmCollisionObject a, b;
    int32_t hit;
  } rows[] = {
      {"solid boxes overlap", {0, 0, 4, 4}, {3, 3, 4, 4}, 1},
      {"solid boxes only touch", {0, 0, 4, 4}, {4, 0, 4, 4}, 0},
      // b's left column at x = 3 meets a's set column only when b starts at 0.
      {"left column over right column", {0, 0, 4, 4, &left.mask}, {-3, 0, 4, 4, &right.mask}, 1},
      {"columns side by side", {0, 0, 4, 4, &left.mask}, {-2, 0, 4, 4, &right.mask}, 0},
      {"mask against a solid box", {0, 0, 4, 4, &left.mask}, {1, 0, 3, 4}, 0},
      {"mask against a box over its column", {0, 0, 4, 4, &left.mask}, {0, 3, 1, 1}, 1},
      {"alpha dot hit", {10, 10, 4, 4, nullptr, &dot}, {12, 11, 1, 1}, 1},
      {"alpha dot missed", {10, 10, 4, 4, nullptr, &dot}, {11, 11, 1, 1}, 0},
      // The picture's corner lies at (x - imageX, y - imageY): a part of the picture from (2, 1).
      {"image offset moves the dot", {10, 10, 2, 3, nullptr, &dot, 2, 1}, {10, 10, 1, 1}, 1},
      // A clip mask at (0, 0) that is set from row 2, column 2 on.
      {"clip mask clears the top", {0, 0, 8, 4, nullptr, nullptr, 0, 0, &clip.mask, 0, 0}, {3, 0, 2, 2}, 0},
      {"clip mask lets the bottom through", {0, 0, 8, 4, nullptr, nullptr, 0, 0, &clip.mask, 0, 0}, {3, 1, 2, 2}, 1},
      {"clip mask shifted away", {0, 0, 8, 4, nullptr, nullptr, 0, 0, &clip.mask, 4, 0}, {3, 1, 2, 2}, 0},
  };
  for (const Row &r : rows) {
    EXPECT_EQ(PixelCollision(r.a, r.b), r.hit) << r.name;
    EXPECT_EQ(PixelCollision(r.b, r.a), r.hit) << r.name << " (swapped)";
  }
}

struct MovesVm : LayersVm {
  // A picture for the model that CreateLayer makes itself (no brush behind it here).
  int AddModelPicture(int w, int h, uint32_t color, PlaneKind kind, uint32_t plane) {
    Picture p{w, h, kind, std::vector<uint32_t>(size_t(w) * h, plane << 24 | color)};
    pics.push_back(p);
    return int(pics.size()) - 1;
  }
  uint32_t CreateLayer(int x, int y, int w, int h, const std::function<void()> &fill = nullptr) {
    return CallWith("createlayer", [&] {
      for (int v : {x, y, w, h}) vm_pushnumber(L, v);
      if (!fill) return 4;
      vm_newtable(L);
      fill();
      return 5;
    }).code;
  }
  uint32_t AddMove(double list, int kind, CmdArg a, int x, int y, int extra = 0) {
    return Call("AddMove", {list, kind, a, x, y, extra}).code;
  }
  int Brushes() { return int(CountObjectsOfType(L, QMTYPE_BRUSH)); }
  qmLayer *Layer(int pos) { return GetNthLayer(Pic(), pos); }
};

TEST(Collision, CommandKinds) {
  MovesVm vm;
  // Brush 1: 8x8 masked checkerboard of 1-pixel squares by MakePicture's (x + y + seed) % 3 rule;
  // brush 2: 8x8 opaque.
  vm.AddBrush(MakePicture(0, 8, 8, MASKED));
  vm.AddBrush(MakePicture(1, 8, 8, OPAQUE));
  const double brush = QMTYPE_BRUSH, box = QMTYPE_BOX, layer = QMTYPE_LAYER;
  auto one = [&](const std::vector<CmdArg> &args) {
    const CommandCall r = vm.Call("Collision", args);
    EXPECT_EQ(r.code, 0u);
    return r.results.empty() ? -1.0 : r.results[0];
  };
  EXPECT_EQ(one({box, 0, 0, 10, 10, 10, 0, 10, 10}), 0);
  EXPECT_EQ(one({box, 0, 0, 10, 10, 9, 0, 10, 10}), 1);
  // MakePicture with seed 0 clears the mask where (x + y) % 3 == 0, so pixel (0, 0) is clear and
  // (1, 0) set: an opaque 1x1 brush part does not exist, so a box stands in.
  EXPECT_EQ(one({kBrushVsBox, 1, 0, 0, 0, 0, 1, 1}), 0);
  EXPECT_EQ(one({kBrushVsBox, 1, 0, 0, 1, 0, 1, 1}), 1);
  EXPECT_EQ(one({brush, 1, 0, 0, 2, 7, 7}), 1);   // only (7, 7) overlaps: (7 + 7) % 3 = 2, set
  EXPECT_EQ(one({brush, 1, 0, 0, 2, 6, 7}), 1);
  EXPECT_EQ(one({brush, 1, 0, 0, 2, 8, 0}), 0);
  EXPECT_EQ(vm.Call("Collision", {brush, 9, 0, 0, 2, 0, 0}).code, uint32_t(ERR_FINDBRUSH));
  EXPECT_EQ(vm.Call("Collision", {32, 1, 2}).code, uint32_t(ERR_FINDSPRITE)) << "no sprites exist";
  EXPECT_EQ(vm.Call("Collision", {kSpriteVsBox, 1, 0, 0, 5, 5}).code, uint32_t(ERR_FINDSPRITE));
  EXPECT_EQ(vm.Call("Collision", {99, 1, 2}).code, uint32_t(ERR_WRONGUSAGE));

  // Layers: the masked brush at (20, 20), the opaque one at (27, 27): they share (27, 27),
  // which is (7, 7) of the first: set.
  ASSERT_EQ(vm.Show(0, 20, 20), 0u);
  ASSERT_EQ(vm.Show(1, 27, 27), 0u);
  EXPECT_EQ(one({layer, 1, 2}), 1);
  ASSERT_EQ(vm.Call("TranslateLayer", {2, -1, 1}).code, 0u);  // now only (26, 28): off the first
  EXPECT_EQ(one({layer, 1, 2}), 0);
  ASSERT_EQ(vm.Call("TranslateLayer", {2, 1, -1}).code, 0u);
  EXPECT_EQ(one({layer, 1, 2}), 1);
  // Through a clip region: its box cuts the layer, its mask votes. A box of (20, 20, 4, 4) keeps
  // layer 1 off (27, 27); a mask at (24, 24) clear only at (27, 27) does too.
  qmClipRegion cut{};
  cut.x = cut.y = 20, cut.width = cut.height = 4;
  vm.Layer(1)->current->clip = &cut;
  EXPECT_EQ(one({layer, 1, 2}), 0);
  MaskFixture holed(8, {"########", "########", "########", "###.####",  //
                        "########", "########", "########", "########"});
  qmClipRegion shaped{};
  shaped.x = shaped.y = 24, shaped.width = shaped.height = 8, shaped.mask = &holed.mask;
  vm.Layer(1)->current->clip = &shaped;
  EXPECT_EQ(one({layer, 1, 2}), 0);
  holed.bytes[3 * 2] = 0xFF;
  EXPECT_EQ(one({layer, 1, 2}), 1);
  vm.Layer(1)->current->clip = nullptr;
  ASSERT_EQ(vm.Call("TranslateLayer", {2, -1, 1}).code, 0u);
  EXPECT_EQ(vm.Call("Collision", {layer, 1, 3}).code, uint32_t(ERR_LAYERRANGE));
  EXPECT_EQ(vm.Call("Collision", {layer, CmdArg::Str("nope"), 1}).code, uint32_t(ERR_FINDLAYER));
  // Layer against a box in display units: with a display scale of 2 the box (10, 10, 1, 1)
  // becomes (20, 20, 2, 2) on the layer's picture, where (21, 20) of the layer is (1, 0): set.
  EXPECT_EQ(one({kLayerVsBox, 1, 10, 10, 1, 1}), 0) << "(10, 10) lies off the layer unscaled";
  vm.d->scaleX = vm.d->scaleY = 2;
  EXPECT_EQ(one({kLayerVsBox, 1, 10, 10, 1, 1}), 1);
  vm.d->scaleX = vm.d->scaleY = 1;
  ASSERT_EQ(vm.Call("DisableLayers", {}).code, 0u);
  EXPECT_EQ(vm.Call("Collision", {layer, 1, 2}).code, uint32_t(ERR_NOLAYERS));
}

TEST(CreateLayer, PlanesPixelsAndErrors) {
  MovesVm vm;
  std::vector<ModelLayer> model;
  const int brushes = vm.Brushes();
  ASSERT_EQ(vm.CreateLayer(4, 6, 12, 10, [&] { vm.Set("color", 0xC08040); }), 0u);
  model.push_back({vm.AddModelPicture(12, 10, 0xC08040, OPAQUE, 255), 4, 6, 0});
  // A clear mask shows nothing; a full one everything.
  ASSERT_EQ(vm.CreateLayer(8, 8, 10, 10, [&] { vm.Set("color", 0x00FF00), vm.Set("mask", 1), vm.Set("clear", 1); }),
            0u);
  model.push_back({vm.AddModelPicture(10, 10, 0x00FF00, MASKED, 0), 8, 8, 0});
  ASSERT_EQ(vm.CreateLayer(30, 4, 9, 7, [&] { vm.Set("color", 0x0000FF), vm.Set("mask", 1); }), 0u);
  model.push_back({vm.AddModelPicture(9, 7, 0x0000FF, MASKED, 255), 30, 4, 0});
  ASSERT_EQ(vm.CreateLayer(40, 30, 9, 9, [&] { vm.Set("color", 0xFFFFFF), vm.Set("alphachannel", 1); }), 0u);
  model.push_back({vm.AddModelPicture(9, 9, 0xFFFFFF, ALPHA, 255), 40, 30, 0});
  ASSERT_EQ(vm.CreateLayer(50, 0, 9, 9, [&] { vm.Set("alphachannel", 1), vm.Set("clear", 1); }), 0u);
  model.push_back({vm.AddModelPicture(9, 9, 0, ALPHA, 0), 50, 0, 0});
  // The display tags of the same table: a name and half transparency.
  ASSERT_EQ(vm.CreateLayer(20, 20, 8, 8, [&] {
    vm.Set("color", 0xFF0000), vm.SetText("name", "red"), vm.Set("transparency", 128);
  }),
            0u);
  model.push_back({vm.AddModelPicture(8, 8, 0xFF0000, OPAQUE, 255), 20, 20, 128});
  EXPECT_EQ(FindLayerByName(vm.Pic(), "red"), 6);
  vm.ExpectScreen(model, "created layers");

  // The planes themselves: bits and bytes as the table asked.
  const qmLayerState *masked = vm.Layer(3)->current, *clear = vm.Layer(2)->current;
  ASSERT_NE(masked->own.mask, nullptr);
  ASSERT_NE(clear->own.mask, nullptr);
  EXPECT_EQ(masked->own.mask->memory[0], 0xFF);
  EXPECT_EQ(masked->own.mask->memory[0] & 0x80, 0x80);
  EXPECT_EQ(clear->own.mask->memory[0], 0);
  ASSERT_NE(vm.Layer(4)->current->own.alpha, nullptr);
  EXPECT_EQ(vm.Layer(4)->current->own.alpha->memory[8], 255);
  EXPECT_EQ(vm.Layer(5)->current->own.alpha->memory[8], 0);
  // Each layer has a brush behind it that no lookup finds.
  EXPECT_EQ(vm.Brushes(), brushes + 6);
  const qmObjectId behind = vm.Layer(1)->object;
  qmBrush *found = nullptr;
  EXPECT_NE(FindBrush(ObjectRegistryOf(vm.L), &behind, &found, 0), 0u);
  EXPECT_EQ(FindBrush(ObjectRegistryOf(vm.L), &behind, &found, FINDBRUSH_DELETED), 0u);

  struct Row {
    const char *name;
    std::function<void()> fill;
    int w;
    uint32_t code;
  } rows[] = {
      {"mask and alpha channel", [&] { vm.Set("mask", 1), vm.Set("alphachannel", 1); }, 5, ERR_WRONGUSAGE},
      {"negative frame count", [&] { vm.Set("frames", -1); }, 5, ERR_WRONGUSAGE},
      // A frame count makes an anim, which goes again when its layer cannot be made.
      {"frames, a name in use", [&] { vm.Set("frames", 2), vm.Set("mask", 1), vm.SetText("name", "RED"); }, 5,
       ERR_NAMEUSED},
      {"zero width", [&] {}, 0, ERR_BADDIMENSIONS},
      {"a name in use", [&] { vm.SetText("name", "RED"); }, 5, ERR_NAMEUSED},
      // A display tag of the wrong type raises: the picture is not made yet.
      {"a wrong display tag", [&] { vm.SetText("scalex", "not a number"); }, 5, ERR_NUMTABLEARG},
      {"frames, a wrong display tag", [&] { vm.Set("frames", 2), vm.SetText("scalex", "not a number"); }, 5,
       ERR_NUMTABLEARG},
  };
  for (const Row &r : rows) EXPECT_EQ(vm.CreateLayer(0, 0, r.w, 5, r.fill), r.code) << r.name;
  EXPECT_EQ(CountLayers(vm.Pic()), 6) << "failed calls add no layer";
  EXPECT_EQ(vm.Brushes(), brushes + 6) << "and leave no brush behind";
  EXPECT_EQ(CountObjectsOfType(ObjectRegistryOf(vm.L), QMTYPE_ANIM), 0u) << "nor an anim";
  vm.ExpectScreen(model, "after the failures");
}

// A brush kept alive for layers goes with its last layer, once: the brush list counts it and
// the sanitizer would report a second free or a leak.
TEST(CreateLayer, FlaggedBrushesGoWithTheirLastLayer) {
  MovesVm vm;
  vm.AddBrush(MakePicture(3, 6, 6, OPAQUE));
  const int base = vm.Brushes();
  ASSERT_EQ(vm.CreateLayer(0, 0, 5, 5), 0u);
  ASSERT_EQ(vm.CreateLayer(10, 0, 5, 5), 0u);
  EXPECT_EQ(vm.Brushes(), base + 2);
  ASSERT_EQ(vm.Call("RemoveLayer", {1}).code, 0u);
  EXPECT_EQ(vm.Brushes(), base + 1);
  // A script brush freed while two layers show it lives on until both are gone; its number is
  // free for a new brush at once.
  ASSERT_EQ(vm.Show(0, 20, 20), 0u);
  ASSERT_EQ(vm.Show(0, 30, 20), 0u);
  ASSERT_EQ(vm.Call("FreeBrush", {1}).code, 0u);
  EXPECT_EQ(vm.Brushes(), base + 1);
  vm.AddBrush(MakePicture(4, 6, 6, OPAQUE));  // number 2; number 1 again below
  ASSERT_EQ(vm.Call("CopyBrush", {2, 1}).code, 0u);
  EXPECT_EQ(vm.Brushes(), base + 3);
  ASSERT_EQ(vm.Call("RemoveLayer", {2}).code, 0u);
  EXPECT_EQ(vm.Brushes(), base + 3) << "one layer still shows the freed brush";
  ASSERT_EQ(vm.Call("RemoveLayer", {2}).code, 0u);
  EXPECT_EQ(vm.Brushes(), base + 2);
  ASSERT_EQ(vm.Call("FreeLayers", {0}).code, 0u);
  EXPECT_EQ(vm.Brushes(), base + 1) << "the created layer's brush went with FreeLayers";
  qmBrush *b = nullptr;
  const qmObjectId one{1, 0};
  EXPECT_EQ(FindBrush(ObjectRegistryOf(vm.L), &one, &b, 0), 0u) << "the new brush 1 is untouched";
}

TEST(MoveList, AddAndClear) {
  MovesVm vm;
  vm.AddBrush(MakePicture(5, 4, 4, OPAQUE));
  for (int i = 0; i < kMoveListSize; i++) ASSERT_EQ(vm.AddMove(7, QMTYPE_BRUSH, 1, i, 0), 0u) << i;
  EXPECT_EQ(vm.AddMove(7, QMTYPE_BRUSH, 1, 99, 99), uint32_t(ERR_INTERNAL));
  const qmObjectId seven{7, 0};
  const qmMoveList *list = FindMoveList(GetPlayerContext(vm.L)->scene, &seven);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->count, kMoveListSize);
  EXPECT_EQ(list->entries[kMoveListSize - 1].x, kMoveListSize - 1) << "the last entry is the 512th";
  // A layer argument by name is stored as its position; a missing one fails before a list is made.
  ASSERT_EQ(vm.Show(0, 0, 0, 0, "it"), 0u);
  EXPECT_EQ(vm.AddMove(8, QMTYPE_LAYER, CmdArg::Str("IT"), 3, 4, 1), 0u);
  const qmObjectId eight{8, 0};
  ASSERT_NE(FindMoveList(GetPlayerContext(vm.L)->scene, &eight), nullptr);
  EXPECT_EQ(FindMoveList(GetPlayerContext(vm.L)->scene, &eight)->entries[0].object.id, 1u);
  EXPECT_EQ(vm.AddMove(9, QMTYPE_LAYER, CmdArg::Str("none"), 0, 0), uint32_t(ERR_FINDLAYER));
  const qmObjectId nine{9, 0};
  EXPECT_EQ(FindMoveList(GetPlayerContext(vm.L)->scene, &nine), nullptr);
  // GetAttribute knows move lists by their count alone; other attributes still look the list up.
  struct Attr {
    const char *name;
    double id, attribute;
    uint32_t code;
    double want;
  } attrs[] = {
      {"count without a lookup", 99, ATTRCOUNT, 0, 2},
      {"missing list", 99, ATTRWIDTH, ERR_FINDMOVE, 0},
      {"no other attribute", 7, ATTRWIDTH, ERR_UNKNOWNATTR, 0},
  };
  for (const Attr &a : attrs) {
    const CommandCall c = vm.Call("GetAttribute", {double(QMTYPE_MOVELIST), a.id, a.attribute});
    EXPECT_EQ(c.code, a.code) << a.name;
    if (!a.code) {
      EXPECT_EQ(c.results, std::vector<double>{a.want}) << a.name;
    }
  }
  EXPECT_EQ(vm.Call("ClearMove", {7}).code, 0u);
  EXPECT_EQ(FindMoveList(GetPlayerContext(vm.L)->scene, &seven), nullptr);
  EXPECT_EQ(vm.Call("ClearMove", {7}).code, uint32_t(ERR_FINDMOVE));
  EXPECT_EQ(vm.Call("DoMove", {7}).code, uint32_t(ERR_FINDMOVE));
  // Nil asks for an automatic id, handed back as the result.
  vm_settop(vm.L, 0);
  vm_pushstring(vm.L, "addmove");
  vm_gettable(vm.L, VM_GLOBALSINDEX);
  vm_pushnil(vm.L);
  for (double v : {double(QMTYPE_BRUSH), 1.0, 5.0, 5.0}) vm_pushnumber(vm.L, v);
  ASSERT_EQ(vm_pcall(vm.L, 5, 1, 0), 0u);
  ASSERT_EQ(vm_type(vm.L, -1), VM_TLIGHTUSERDATA);
  const qmObjectId handle{0, reinterpret_cast<uintptr_t>(vm_touserdata(vm.L, 1))};
  // The handle adds to that list; after ClearMove it names nothing.
  auto call = [&](const char *name, int n, std::initializer_list<double> more) {
    vm_pushstring(vm.L, name);
    vm_gettable(vm.L, VM_GLOBALSINDEX);
    vm_pushvalue(vm.L, 1);
    for (double v : more) vm_pushnumber(vm.L, v);
    return vm_pcall(vm.L, n, 0, 0);
  };
  EXPECT_EQ(call("addmove", 5, {double(QMTYPE_BRUSH), 1.0, 6.0, 6.0}), 0u);
  ASSERT_NE(FindMoveList(GetPlayerContext(vm.L)->scene, &handle), nullptr);
  EXPECT_EQ(FindMoveList(GetPlayerContext(vm.L)->scene, &handle)->count, 2);
  EXPECT_EQ(call("clearmove", 1, {}), 0u);
  EXPECT_EQ(call("addmove", 5, {double(QMTYPE_BRUSH), 1.0, 6.0, 6.0}), uint32_t(ERR_FINDARRAY));
  vm_setendrequested(vm.L, 0);
  vm_settop(vm.L, 0);
}

qmMoveEntry Rect(int x1, int y1, int x2, int y2) {
  qmMoveEntry e{};
  e.hasRect = 1;
  e.rect = {x1, y1, x2, y2};
  return e;
}

TEST(MoveList, OverlappingRectanglesMergeTouchingOnesDoNot) {
  struct Row {
    const char *name;
    std::vector<qmMoveEntry> in;
    int32_t left;
    qmDirtyRect first;
  } rows[] = {
      {"overlap by one pixel", {Rect(0, 0, 9, 9), Rect(9, 9, 20, 20)}, 1, {0, 0, 20, 20}},
      {"touching at the side", {Rect(0, 0, 9, 9), Rect(10, 0, 19, 9)}, 2, {0, 0, 9, 9}},
      {"touching below", {Rect(0, 0, 9, 9), Rect(0, 10, 9, 19)}, 2, {0, 0, 9, 9}},
      {"one inside the other", {Rect(5, 5, 6, 6), Rect(0, 0, 9, 9)}, 1, {0, 0, 9, 9}},
      {"entries without a rectangle are left out", {qmMoveEntry{}, Rect(0, 0, 3, 3)}, 1, {0, 0, 0, 0}},
      {"a chain through the middle one", {Rect(0, 0, 4, 4), Rect(4, 4, 8, 8), Rect(8, 8, 12, 12)}, 1, {0, 0, 12, 12}},
  };
  for (Row &r : rows) {
    EXPECT_EQ(MergeMoveRects(r.in.data(), int32_t(r.in.size())), r.left) << r.name;
    if (r.in[0].hasRect) {
      EXPECT_EQ(r.in[0].rect.x1, r.first.x1) << r.name;
      EXPECT_EQ(r.in[0].rect.y2, r.first.y2) << r.name;
      EXPECT_EQ(r.in[0].rect.x2, r.first.x2) << r.name;
    }
  }
  // One sweep over the others per entry, in list order: the first takes in the third and so
  // grows over the second, which it has already passed; the second then takes the first in.
  std::vector<qmMoveEntry> order{Rect(0, 0, 9, 9), Rect(20, 0, 29, 9), Rect(8, 0, 21, 9)};
  EXPECT_EQ(MergeMoveRects(order.data(), 3), 1);
  EXPECT_FALSE(order[0].hasRect);
  EXPECT_FALSE(order[2].hasRect);
  ASSERT_TRUE(order[1].hasRect);
  EXPECT_EQ(order[1].rect.x1, 0);
  EXPECT_EQ(order[1].rect.x2, 29);
  EXPECT_EQ(order[1].rect.y2, 9);
}

// Many layers crowded together and moved a few pixels each: the refresh rectangles overlap and
// chain, so their sum outgrows the box around them, and the screen must still be the layers.
TEST(DoMove, CrowdedMovesShowTheLayers) {
  MovesVm vm;
  // Opaque and masked pictures: the rule of blending is not what this test looks at.
  for (int i = 0; i < 3; i++) vm.AddBrush(MakePicture(14 + 3 * i, 5 + i, 4 + i, i == 1 ? MASKED : OPAQUE));
  std::mt19937 rng(43);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  std::vector<ModelLayer> model;
  for (int i = 0; i < 40; i++) {
    model.push_back({i % 3, pick(-4, kW - 4), pick(-4, kH - 4), 0});
    ASSERT_EQ(vm.Show(model.back().brush, model.back().x, model.back().y, model.back().transparency), 0u);
  }
  vm.ExpectScreen(model, "shown");
  for (int round = 0; round < 6; round++) {
    const int list = 10 + round;
    for (int i = 0; i < 40; i++) {
      ModelLayer &m = model[size_t(i)];
      m.x += pick(-3, 3), m.y += pick(-3, 3);
      ASSERT_EQ(vm.AddMove(list, QMTYPE_LAYER, i + 1, m.x, m.y, 2), 0u);
    }
    ASSERT_EQ(vm.Call("DoMove", {list}).code, 0u);
    vm.ExpectScreen(model, "round " + std::to_string(round));
  }
}

// Two crowded lists carried out while the display's picture is selected: the screen keeps the
// old places until EndSelect, which refreshes what both lists gathered at once.
TEST(DoMove, ListsGatheredWhileSelectedShowAtEndSelect) {
  MovesVm vm;
  for (int i = 0; i < 3; i++) vm.AddBrush(MakePicture(30 + i, 6 + i, 5 + i, i == 2 ? OPAQUE : MASKED));
  std::mt19937 rng(7);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  std::vector<ModelLayer> model;
  for (int i = 0; i < 30; i++) {
    model.push_back({i % 3, pick(-4, kW - 4), pick(-4, kH - 4), 0});
    ASSERT_EQ(vm.Show(model.back().brush, model.back().x, model.back().y), 0u);
  }
  for (int round = 0; round < 3; round++) {
    const std::vector<ModelLayer> before = model;
    ASSERT_EQ(vm.Call("SelectBGPic", {CmdArg::Nil()}).code, 0u);
    for (int half = 0; half < 2; half++) {
      const int list = 20 + 2 * round + half;
      for (int i = 15 * half; i < 15 * half + 15; i++) {
        ModelLayer &m = model[size_t(i)];
        m.x += pick(-4, 4), m.y += pick(-4, 4);
        ASSERT_EQ(vm.AddMove(list, QMTYPE_LAYER, i + 1, m.x, m.y, 2), 0u);
      }
      ASSERT_EQ(vm.Call("DoMove", {list}).code, 0u);
    }
    vm.ExpectScreen(before, "round " + std::to_string(round) + " while selected");
    ASSERT_EQ(vm.Call("EndSelect", {}).code, 0u);
    vm.ExpectScreen(model, "round " + std::to_string(round) + " after EndSelect");
  }
}

TEST(DoMove, EntriesOfEachKind) {
  MovesVm vm;
  for (int i = 0; i < 4; i++) vm.AddBrush(MakePicture(20 + i, 8 + i, 6 + i, PlaneKind(i % 3)));
  std::vector<ModelLayer> model;
  ASSERT_EQ(vm.Show(0, 2, 2), 0u);
  model.push_back({0, 2, 2, 0});
  ASSERT_EQ(vm.Show(1, 20, 10), 0u);
  model.push_back({1, 20, 10, 0});
  ASSERT_EQ(vm.Show(0, 40, 30), 0u);
  model.push_back({0, 40, 30, 0});
  // Brush 1's bottom-most layer moves; brush 3, shown by none, becomes a new top layer; layer 2
  // moves and hides.
  ASSERT_EQ(vm.AddMove(1, QMTYPE_BRUSH, 1, 10, 12), 0u);
  ASSERT_EQ(vm.AddMove(1, QMTYPE_BRUSH, 3, 30, 5), 0u);
  ASSERT_EQ(vm.AddMove(1, QMTYPE_LAYER, 2, 22, 14, 1), 0u);
  ASSERT_EQ(vm.Call("DoMove", {1}).code, 0u);
  model[0].x = 10, model[0].y = 12;
  model[1].x = 22, model[1].y = 14, model[1].hidden = true;
  model.push_back({2, 30, 5, 0});
  ASSERT_EQ(CountLayers(vm.Pic()), 4);
  vm.ExpectScreen(model, "first list");
  // Carried out again, the same list acts again: the brush 3 entry now finds its layer.
  ASSERT_EQ(vm.Call("DoMove", {1}).code, 0u);
  EXPECT_EQ(CountLayers(vm.Pic()), 4);
  vm.ExpectScreen(model, "first list again");

  // Undo level 0 counts as 1 (the top-most layer of brush 1); a hide of brush 2 by its id; a
  // brush inserted at the bottom; layer 1 (after the insert: the new one) removed next run.
  ASSERT_EQ(vm.Call("AddMove", {2, double(QMTYPE_UNDO), double(QMTYPE_BRUSH), 1, 0}).code, 0u);
  ASSERT_EQ(vm.AddMove(2, QMTYPE_HIDEBRUSH, 2, 0, 0), 0u);
  ASSERT_EQ(vm.AddMove(2, QMTYPE_INSERTBRUSH, 4, 5, 30, 1), 0u);
  ASSERT_EQ(vm.Call("DoMove", {2}).code, 0u);
  model.erase(model.begin() + 2);  // the top-most layer of brush 1
  model[1].hidden = true;
  model.insert(model.begin(), {3, 5, 30, 0});
  vm.ExpectScreen(model, "undo, hide, insert");
  ASSERT_EQ(vm.AddMove(3, QMTYPE_REMOVELAYER, 1, 0, 0), 0u);
  ASSERT_EQ(vm.AddMove(3, QMTYPE_HIDELAYER, 1, 0, 0), 0u);  // the former layer 2, now at 1
  ASSERT_EQ(vm.Call("DoMove", {3}).code, 0u);
  model.erase(model.begin());
  model[0].hidden = true;
  vm.ExpectScreen(model, "remove, hide layer");
}

// The rectangles a run refreshed stay in the list's entries: overlapping areas go out as one,
// areas that only touch as two.
TEST(DoMove, OverlappingAreasRefreshedOnceTouchingOnesTwice) {
  MovesVm vm;
  vm.AddBrush(MakePicture(31, 10, 10, OPAQUE));
  std::vector<ModelLayer> model = {{0, 0, 0, 0}, {0, 30, 0, 0}};
  for (const ModelLayer &m : model) ASSERT_EQ(vm.Show(m.brush, m.x, m.y), 0u);
  auto refreshed = [&](double id) {
    const qmObjectId list{uint32_t(id), 0};
    int n = 0;
    const qmMoveList *moves = FindMoveList(GetPlayerContext(vm.L)->scene, &list);
    for (int i = 0; i < moves->count; i++) n += moves->entries[i].hasRect;
    return n;
  };
  // Layer 1 sweeps 0..19, layer 2 20..39: touching at 19 | 20.
  ASSERT_EQ(vm.AddMove(1, QMTYPE_LAYER, 1, 10, 0, 2), 0u);
  ASSERT_EQ(vm.AddMove(1, QMTYPE_LAYER, 2, 20, 0, 2), 0u);
  ASSERT_EQ(vm.Call("DoMove", {1}).code, 0u);
  EXPECT_EQ(refreshed(1), 2);
  model[0].x = 10, model[1].x = 20;
  vm.ExpectScreen(model, "touching");
  // Now layer 1 sweeps 10..20 and layer 2 20..29: one shared column.
  ASSERT_EQ(vm.AddMove(2, QMTYPE_LAYER, 1, 11, 0, 2), 0u);
  ASSERT_EQ(vm.AddMove(2, QMTYPE_LAYER, 2, 19, 0, 2), 0u);
  ASSERT_EQ(vm.Call("DoMove", {2}).code, 0u);
  EXPECT_EQ(refreshed(2), 1);
  model[0].x = 11, model[1].x = 19;
  vm.ExpectScreen(model, "overlapping");
}

TEST(DoMove, AnErrorLeavesEarlierEntriesAppliedAndShown) {
  MovesVm vm;
  vm.AddBrush(MakePicture(30, 10, 10, OPAQUE));
  std::vector<ModelLayer> model;
  ASSERT_EQ(vm.Show(0, 0, 0), 0u);
  model.push_back({0, 0, 0, 0});
  ASSERT_EQ(vm.AddMove(1, QMTYPE_LAYER, 1, 30, 20, 2), 0u);
  ASSERT_EQ(vm.AddMove(1, QMTYPE_REMOVELAYER, 5, 0, 0), 0u);
  ASSERT_EQ(vm.AddMove(1, QMTYPE_LAYER, 1, 0, 0), 0u);
  EXPECT_EQ(vm.Call("DoMove", {1}).code, uint32_t(ERR_LAYERRANGE));
  model[0].x = 30, model[0].y = 20;
  vm.ExpectScreen(model, "the first entry moved the layer, the third never ran");
  // Kinds that need objects the player cannot show as layers yet.
  ASSERT_EQ(vm.AddMove(2, QMTYPE_NEXTFRAME2, 1, 0, 0), 0u);
  EXPECT_EQ(vm.Call("DoMove", {2}).code, uint32_t(ERR_WRONGUSAGE)) << "a brush layer has no frames";
  ASSERT_EQ(vm.AddMove(3, QMTYPE_HIDEBRUSH, 9, 0, 0), 0u);
  EXPECT_EQ(vm.Call("DoMove", {3}).code, uint32_t(ERR_WRONGUSAGE)) << "a hide of a brush no layer shows";
  ASSERT_EQ(vm.AddMove(4, QMTYPE_BRUSH, 9, 0, 0), 0u);
  EXPECT_EQ(vm.Call("DoMove", {4}).code, uint32_t(ERR_FINDBRUSH));
  // Checks of the output come before the list.
  ASSERT_EQ(vm.Call("DisableLayers", {}).code, 0u);
  EXPECT_EQ(vm.Call("DoMove", {99}).code, uint32_t(ERR_NOLAYERS));
}

// A list carried out again, or made anew with the same entries, after other commands reordered,
// removed or replaced layers acts on the layers that stand at its positions now, never on those
// a list found the time before (whose records may be gone).
TEST(DoMove, ARunAgainFindsTheLayersAsTheyStandNow) {
  MovesVm vm;
  for (int i = 0; i < 3; i++) vm.AddBrush(MakePicture(50 + i, 9 + i, 7 + i, i == 1 ? MASKED : OPAQUE));
  std::vector<ModelLayer> model;
  auto show = [&](int brush, int x, int y) {
    ASSERT_EQ(vm.Show(brush, x, y), 0u);
    model.push_back({brush, x, y, 0});
  };
  auto showSix = [&] {
    for (int i = 0; i < 6; i++) show(i % 3, 3 + 8 * i, 2 + 5 * i);
  };
  // Entry p moves the layer at position p to (50 - 8p, 4 + 6p); a run moves the first `reached`.
  auto placed = [&](int reached) {
    for (int p = 1; p <= reached && p <= int(model.size()); p++) {
      ModelLayer &m = model[size_t(p - 1)];
      m.x = 50 - 8 * p, m.y = 4 + 6 * p;
    }
  };
  showSix();
  auto makeList = [&] {
    for (int p = 1; p <= 6; p++) ASSERT_EQ(vm.AddMove(1, QMTYPE_LAYER, p, 50 - 8 * p, 4 + 6 * p, 2), 0u);
  };
  makeList();
  ASSERT_EQ(vm.Call("DoMove", {1}).code, 0u);
  placed(6);
  vm.ExpectScreen(model, "first run");
  struct Change {
    const char *name;
    std::function<void()> apply;
    uint32_t code;
    int reached;
  } changes[] = {
      {"two layers swapped",
       [&] {
         ASSERT_EQ(vm.Call("SwapLayers", {2, 5}).code, 0u);
         std::swap(model[1], model[4]);
       },
       0, 6},
      {"the bottom layer brought to the front (it trades places with the top one)",
       [&] {
         ASSERT_EQ(vm.Call("LayerToFront", {1}).code, 0u);
         std::swap(model[0], model[5]);
       },
       0, 6},
      {"a layer removed and another shown on top",
       [&] {
         ASSERT_EQ(vm.Call("RemoveLayer", {3}).code, 0u);
         model.erase(model.begin() + 2);
         show(2, 20, 20);
       },
       0, 6},
      {"a layer shown at the bottom and the top one removed",
       [&] {
         ASSERT_EQ(vm.Show(1, 7, 30, 0, nullptr, 1), 0u);
         model.insert(model.begin(), {1, 7, 30, 0});
         ASSERT_EQ(vm.Call("RemoveLayer", {7}).code, 0u);
         model.pop_back();
       },
       0, 6},
      {"every layer freed and six shown anew",
       [&] {
         ASSERT_EQ(vm.Call("FreeLayers", {0}).code, 0u);
         model.clear();
         showSix();
       },
       0, 6},
      {"fewer layers than the list addresses: the entries before the missing one move",
       [&] {
         ASSERT_EQ(vm.Call("FreeLayers", {0}).code, 0u);
         model.clear();
         for (int i = 0; i < 4; i++) show(2 - i % 3, 40 - 9 * i, 30 - 6 * i);
       },
       ERR_LAYERRANGE, 4},
  };
  for (bool anew : {false, true}) {
    for (const Change &c : changes) {
      const std::string name = std::string(c.name) + (anew ? ", the list made anew" : ", the list run again");
      c.apply();
      vm.ExpectScreen(model, name + ", before the run");
      if (anew) {
        ASSERT_EQ(vm.Call("ClearMove", {1}).code, 0u);
        makeList();
      }
      EXPECT_EQ(vm.Call("DoMove", {1}).code, c.code) << name;
      placed(c.reached);
      vm.ExpectScreen(model, name);
      if (HasFailure()) return;
    }
    // Six layers again for the second round.
    ASSERT_EQ(vm.Call("FreeLayers", {0}).code, 0u);
    model.clear();
    showSix();
  }
}

// Seeded lists of moves, hides and shows over up to 12 layers: after each DoMove the window must
// equal the full composition of the model, so a missed or wrongly merged rectangle shows.
TEST(DoMove, RandomListsMatchAFullRecomposition) {
  for (unsigned seed : {3u, 11u, 29u}) {
    MovesVm vm;
    for (int i = 0; i < 4; i++) vm.AddBrush(MakePicture(int(seed) + i, 5 + i * 3, 4 + i * 2, PlaneKind(i % 3)));
    std::mt19937 rng(seed);
    auto pick = [&](int n) { return int(rng() % unsigned(n)); };
    std::vector<ModelLayer> model;
    for (int i = 0; i < 12; i++) {
      const int b = pick(4), x = pick(kW) - 5, y = pick(kH) - 5;
      ASSERT_EQ(vm.Show(b, x, y), 0u);
      model.push_back({b, x, y, 0});
    }
    for (int frame = 0; frame < 15; frame++) {
      const double list = 100 + frame;
      const int entries = 1 + pick(6);
      // Brush entries act after the layer entries, whatever their place in the list.
      std::vector<std::function<void()>> later;
      for (int e = 0; e < entries; e++) {
        const int p = 1 + pick(int(model.size()));
        const int x = pick(kW + 10) - 10, y = pick(kH + 10) - 10, extra = pick(3);
        if (pick(4) == 0) {
          // The bottom-most layer of a brush moves and is shown.
          const int b = model[p - 1].brush;
          ASSERT_EQ(vm.AddMove(list, QMTYPE_BRUSH, b + 1, x, y), 0u);
          later.push_back([&model, b, x, y] {
            for (ModelLayer &m : model)
              if (m.brush == b) {
                m.x = x, m.y = y, m.hidden = false;
                break;
              }
          });
        } else {
          ASSERT_EQ(vm.AddMove(list, QMTYPE_LAYER, p, x, y, extra), 0u);
          model[p - 1].x = x, model[p - 1].y = y;
          if (extra < 2) model[p - 1].hidden = extra == 1;
        }
      }
      for (auto &apply : later) apply();
      ASSERT_EQ(vm.Call("DoMove", {list}).code, 0u);
      vm.ExpectScreen(model, "seed " + std::to_string(seed) + " frame " + std::to_string(frame), 2);
      if (HasFailure()) return;
    }
  }
}

TEST(ShowLayer, GroupsMoveAsOneBox) {
  MovesVm vm;
  vm.AddBrush(MakePicture(40, 6, 6, OPAQUE));
  vm.AddBrush(MakePicture(41, 10, 4, MASKED));
  std::vector<ModelLayer> model = {{0, 20, 15, 0}, {1, 30, 25, 0}, {0, 8, 8, 0}, {0, 26, 18, 0}};
  for (const ModelLayer &m : model) ASSERT_EQ(vm.Show(m.brush, m.x, m.y), 0u);
  // No command gives group names: the test gives them to layers 1, 2 and 4.
  for (int p : {1, 2, 4}) std::strcpy(vm.Layer(p)->group, "crew");
  ASSERT_EQ(vm.Call("HideLayer", {CmdArg::Str("CREW"), 123}).code, 0u) << "the second argument is ignored";
  for (int p : {0, 1, 3}) model[p].hidden = true;
  vm.ExpectScreen(model, "group hidden");
  // The group's box starts at (20, 15); shown at (0, 0) every layer moves by (-20, -15).
  ASSERT_EQ(vm.Call("ShowLayer", {CmdArg::Str("crew"), 0, 0}).code, 0u);
  for (int p : {0, 1, 3}) model[p].hidden = false, model[p].x -= 20, model[p].y -= 15;
  vm.ExpectScreen(model, "group shown at (0, 0)");
  EXPECT_EQ(vm.Layer(4)->current->x, 6);
  EXPECT_EQ(vm.Layer(2)->current->y, 10);
  ASSERT_EQ(vm.Call("ShowLayer", {CmdArg::Str("crew")}).code, 0u);
  vm.ExpectScreen(model, "shown without coordinates: no move");
  // A name that is neither a layer's nor a group's; an empty one; an index past the end.
  EXPECT_EQ(vm.Call("ShowLayer", {CmdArg::Str("crowd")}).code, uint32_t(ERR_FINDLAYER));
  EXPECT_EQ(vm.Call("HideLayer", {CmdArg::Str("")}).code, uint32_t(ERR_FINDLAYER));
  EXPECT_EQ(vm.Call("HideLayer", {9}).code, uint32_t(ERR_LAYERRANGE));
  vm.ExpectScreen(model, "after the failures");
}

TEST(NextFrame, BrushLayersHaveNoFrames) {
  MovesVm vm;
  vm.AddBrush(MakePicture(50, 6, 6, OPAQUE));
  ASSERT_EQ(vm.Show(0, 0, 0, 0, "b"), 0u);
  EXPECT_EQ(vm.Call("NextFrame", {1}).code, uint32_t(ERR_NOANMLAYER));
  EXPECT_EQ(vm.Call("NextFrame", {CmdArg::Str("b"), 5, 5, 2}).code, uint32_t(ERR_NOANMLAYER));
  EXPECT_EQ(vm.Call("NextFrame", {2}).code, uint32_t(ERR_LAYERRANGE));
  // Its object is looked up as an anim, and there is none.
  EXPECT_EQ(vm.Call("ModifyLayerFrames", {1, 3}).code, uint32_t(ERR_FINDANIM));
  EXPECT_EQ(vm.Call("ModifyLayerFrames", {0, 3}).code, uint32_t(ERR_LAYERRANGE));
}

TEST(SelectLayer, DrawsIntoTheLayersPicture) {
  MovesVm vm;
  vm.AddBrush(MakePicture(60, 12, 12, OPAQUE));
  std::vector<ModelLayer> model = {{0, 10, 10, 0}};
  ASSERT_EQ(vm.Show(0, 10, 10, 0, "target"), 0u);
  EXPECT_EQ(vm.Call("SelectLayer", {5}).code, uint32_t(ERR_LAYERRANGE));
  ASSERT_EQ(vm.Call("SelectLayer", {CmdArg::Str("target")}).code, 0u);
  EXPECT_EQ(vm.Call("SwapLayers", {1, 2}).code, uint32_t(ERR_SELECTBRUSH)) << "layers wait for the selection";
  // The brush of 4x4 drawn at (2, 3) of the layer's picture.
  vm.AddBrush(MakePicture(61, 4, 4, OPAQUE));
  ASSERT_EQ(vm.Call("DisplayBrush", {2, 2, 3}).code, 0u);
  ASSERT_EQ(vm.Call("EndSelect", {}).code, 0u);
  // The model's picture of the layer changes the same way.
  Picture changed = vm.pics[0];
  for (int y = 0; y < 4; y++)
    for (int x = 0; x < 4; x++) changed.px[(3 + y) * 12 + 2 + x] = vm.pics[1].px[y * 4 + x];
  vm.pics.push_back(changed);
  model[0].brush = 2;
  vm.ExpectScreen(model, "after EndSelect");
}

// An anim layer made by CreateLayer: SelectLayer draws into the frame it names, the layer stays a
// layer of the anim, and the drawing shows whenever that frame is shown again.
TEST(SelectLayer, AnAnimLayerIsDrawnIntoTheFrameNamed) {
  MovesVm vm;
  ASSERT_EQ(vm.CreateLayer(10, 8, 12, 10, [&] { vm.Set("color", 0x4080C0), vm.Set("frames", 3); }), 0u);
  vm.AddBrush(MakePicture(66, 4, 4, OPAQUE));
  auto plain = [&](const char *what) {
    for (int y = 8; y < 18; y++)
      for (int x = 10; x < 22; x++)
        if (DisplayVm::WindowPixel(vm.d, x, y) != 0x4080C0u) {
          ADD_FAILURE() << what << ": pixel (" << x << ", " << y << ") is " << std::hex
                        << DisplayVm::WindowPixel(vm.d, x, y);
          return;
        }
  };
  auto drawnOn = [&](const char *what) {
    vm.pics.push_back(Picture{12, 10, OPAQUE, std::vector<uint32_t>(120, 0xFF4080C0u)});
    Picture &frame = vm.pics.back();
    for (int y = 0; y < 4; y++)
      for (int x = 0; x < 4; x++) frame.px[size_t((5 + y) * 12 + 3 + x)] = vm.pics[0].px[size_t(y * 4 + x)];
    vm.ExpectScreen({{int(vm.pics.size()) - 1, 10, 8, 0}}, what, 0);
  };
  struct Refusal {
    const char *name;
    std::vector<CmdArg> args;
    uint32_t code;
  } refusals[] = {
      {"no frame", {1}, ERR_MISSINGPARAMTR},
      {"frame past the last", {1, 0, 4}, ERR_ANIMFRAME},
      {"frame -1", {1, 0, -1}, ERR_ANIMFRAME},
      {"no such layer", {2, 0, 1}, ERR_LAYERRANGE},
  };
  for (const Refusal &r : refusals) EXPECT_EQ(vm.Call("SelectLayer", r.args).code, r.code) << r.name;
  ASSERT_EQ(vm.Call("NextFrame", {1}).code, 0u);
  ASSERT_EQ(vm.Call("SelectLayer", {1, 0, 2}).code, 0u);
  ASSERT_EQ(vm.Call("DisplayBrush", {1, 3, 5}).code, 0u);
  ASSERT_EQ(vm.Call("EndSelect", {}).code, 0u);
  drawnOn("the frame shown, drawn into");
  ASSERT_EQ(vm.Layer(1)->type, int32_t(QMTYPE_ANIM));
  ASSERT_EQ(vm.Call("NextFrame", {1}).code, 0u);
  plain("frame 3");
  ASSERT_EQ(vm.Call("NextFrame", {1}).code, 0u);
  plain("frame 1");
  ASSERT_EQ(vm.Call("NextFrame", {1}).code, 0u);
  drawnOn("frame 2 again");
  // A frame not shown: nothing changes on the screen until the layer shows it.
  ASSERT_EQ(vm.Call("SelectLayer", {1, 0, 3}).code, 0u);
  ASSERT_EQ(vm.Call("DisplayBrush", {1, 3, 5}).code, 0u);
  ASSERT_EQ(vm.Call("EndSelect", {}).code, 0u);
  drawnOn("frame 2 while frame 3 was drawn into");
  ASSERT_EQ(vm.Call("NextFrame", {1}).code, 0u);
  drawnOn("frame 3");
  // A brush layer has no frames.
  ASSERT_EQ(vm.Show(0, 40, 30), 0u);
  EXPECT_EQ(vm.Call("SelectLayer", {2, 0, 1}).code, uint32_t(ERR_NOANMLAYER));
  EXPECT_EQ(vm.Brushes(), 1) << "no brush was made for the anim layer";
}

// A style naming an anim of another size: the layer shows the new frame hanging from its
// requested point by its anchor, and a scaled layer shows it at its scale.
TEST(AnimLayerStyle, AnotherAnimOfAnotherSize) {
  struct Case {
    const char *name;
    std::function<void(MovesVm &)> style;  // before the anim changes
    int x, y;                              // where the new frame's picture lies afterwards
    int scale;
  } cases[] = {
      {"anchored at its middle", [](MovesVm &vm) { ASSERT_EQ(vm.Call("SetLayerAnchor", {1, 0.5, 0.5}).code, 0u); },
       18, 19, 1},
      {"scaled twice", [](MovesVm &vm) { ASSERT_EQ(vm.Call("ScaleLayer", {1, CmdArg::Str("200%"), CmdArg::Str("200%")}).code, 0u); },
       20, 20, 2},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    MovesVm vm;
    vm.AddBrush(MakePicture(70, 8, 6, OPAQUE));
    vm.AddBrush(MakePicture(71, 4, 3, OPAQUE));
    ASSERT_EQ(vm.Call("CreateAnim", {3, 1, 8, 6, 1, 1}).code, 0u);
    ASSERT_EQ(vm.Call("CreateAnim", {4, 2, 4, 3, 1, 1}).code, 0u);
    ASSERT_EQ(vm.Call("DisplayAnimFrame", {3, 20, 20, 1}).code, 0u);
    c.style(vm);
    ASSERT_EQ(vm.CallWith("setlayerstyle",
                          [&] {
                            vm_pushnumber(vm.L, 1);
                            vm_newtable(vm.L);
                            vm.Set("id", 4);
                            return 2;
                          })
                  .code,
              0u);
    Picture shown{4 * c.scale, 3 * c.scale, OPAQUE, {}};
    for (int y = 0; y < shown.h; y++)
      for (int x = 0; x < shown.w; x++) shown.px.push_back(vm.pics[1].px[size_t((y / c.scale) * 4 + x / c.scale)]);
    vm.pics.push_back(shown);
    vm.ExpectScreen({{2, c.x, c.y, 0}}, c.name, 0);
  }
}

// A layer shown through its transform keeps its untouched picture: SelectLayer draws into that,
// and EndSelect shows it through the transform again.
TEST(SelectLayer, AScaledLayerIsDrawnUntransformedAndShownScaled) {
  MovesVm vm;
  vm.AddBrush(MakePicture(62, 6, 5, OPAQUE));
  vm.AddBrush(MakePicture(63, 2, 2, OPAQUE));
  ASSERT_EQ(vm.CallWith("displaybrush",
                        [&] {
                          for (double v : {1.0, 4.0, 6.0}) vm_pushnumber(vm.L, v);
                          vm_newtable(vm.L);
                          vm.Set("scalex", 2), vm.Set("scaley", 2);
                          return 4;
                        })
                .code,
            0u);
  ASSERT_EQ(vm.Call("SelectLayer", {1}).code, 0u);
  ASSERT_EQ(vm.Call("DisplayBrush", {2, 3, 1}).code, 0u);
  ASSERT_EQ(vm.Call("EndSelect", {}).code, 0u);
  // The picture as drawn, then doubled in both directions by nearest neighbour.
  Picture drawn = vm.pics[0];
  for (int y = 0; y < 2; y++)
    for (int x = 0; x < 2; x++) drawn.px[size_t((1 + y) * 6 + 3 + x)] = vm.pics[1].px[size_t(y * 2 + x)];
  Picture doubled{12, 10, OPAQUE, {}};
  for (int y = 0; y < 10; y++)
    for (int x = 0; x < 12; x++) doubled.px.push_back(drawn.px[size_t((y / 2) * 6 + x / 2)]);
  vm.pics.push_back(doubled);
  vm.ExpectScreen({{2, 4, 6, 0}}, "the scaled layer after EndSelect", 0);
  qmBrush *original = nullptr;
  const qmObjectId one{1, 0};
  ASSERT_EQ(FindBrush(ObjectRegistryOf(vm.L), &one, &original, 0), 0u);
  EXPECT_EQ(GetBitmapPixel(original->bitmap, 3, 1, 0) & 0xFFFFFF, vm.pics[0].px[1 * 6 + 3] & 0xFFFFFF)
      << "the brush the layer was drawn from is untouched";
}

// Two layers show one brush: drawing into the selected one leaves the other, and the brush, as
// they were.
TEST(SelectLayer, TheOtherLayerOfTheSameBrushKeepsItsPicture) {
  MovesVm vm;
  vm.AddBrush(MakePicture(64, 8, 6, OPAQUE));
  vm.AddBrush(MakePicture(65, 3, 3, OPAQUE));
  ASSERT_EQ(vm.Show(0, 2, 2), 0u);
  ASSERT_EQ(vm.Show(0, 30, 20), 0u);
  ASSERT_EQ(vm.Call("SelectLayer", {2}).code, 0u);
  ASSERT_EQ(vm.Call("DisplayBrush", {2, 1, 1}).code, 0u);
  ASSERT_EQ(vm.Call("EndSelect", {}).code, 0u);
  Picture drawn = vm.pics[0];
  for (int y = 0; y < 3; y++)
    for (int x = 0; x < 3; x++) drawn.px[size_t((1 + y) * 8 + 1 + x)] = vm.pics[1].px[size_t(y * 3 + x)];
  vm.pics.push_back(drawn);
  vm.ExpectScreen({{0, 2, 2, 0}, {2, 30, 20, 0}}, "only the selected layer changed", 0);
  // The brush itself, shown again, is what it was.
  ASSERT_EQ(vm.Show(0, 50, 30), 0u);
  vm.ExpectScreen({{0, 2, 2, 0}, {2, 30, 20, 0}, {0, 50, 30, 0}}, "the brush is untouched", 0);
}

}  // namespace
