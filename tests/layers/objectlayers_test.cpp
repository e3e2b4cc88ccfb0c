// Text, text objects and lines as layers, and Plot and Cls with layers on. The pictures the
// layers show are checked against the same drawing with layers off (the same renderer, so
// any difference is the layer path's), and one text layer against FreeType as the peer
// renders it (python3-pil).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "display/bgpic.h"
#include "display/brush.h"
#include "display/position.h"
#include "graphics/blit.h"
#include "layers/border.h"
#include "layers/layer.h"
#include "platform/keycodes.h"
#include "runtime/applet.h"
#include "runtime/errcodes.h"
#include "runtime/eventqueue.h"
#include "runtime/objlist.h"
#include "runtime/objtypes.h"
#include "runtime/strutil.h"
#include "tests/display/display_vm.h"
#include "tests/text/text_test_util.h"
#include "text/freetype_font.h"
#include "text/text/textoutput.h"
#include "text/textlayout.h"

namespace {

constexpr int kW = 96, kH = 64;
constexpr uint32_t kBackground = 0x203040;

using Screen = std::vector<uint32_t>;

struct ObjectLayersVm : DisplayVm {
  qmDisplay *d = nullptr;

  explicit ObjectLayersVm(uint32_t background = kBackground) {
    EXPECT_EQ(Create(1, [&] { Set("width", kW), Set("height", kH), Set("color", background); }).code, 0u);
    EXPECT_EQ(Call("OpenDisplay", {1}).code, 0u);
    d = Display(1);
  }
  qmBGPic *Pic() { return d->bgpic; }
  Screen Capture() {
    Screen s;
    for (int y = 0; y < kH; y++)
      for (int x = 0; x < kW; x++) s.push_back(WindowPixel(d, x, y));
    return s;
  }
  // A command whose last argument is a table that fill builds (nothing when fill is empty).
  uint32_t CallTags(const char *name, const std::vector<std::function<void()>> &args,
                    const std::function<void()> &fill) {
    std::string lower(name);
    for (char &ch : lower) ch = char(std::tolower(static_cast<unsigned char>(ch)));
    return CallWith(lower.c_str(), [&] {
      for (const auto &a : args) a();
      if (!fill) return int(args.size());
      vm_newtable(L);
      fill();
      return int(args.size()) + 1;
    }).code;
  }
  std::function<void()> Num(double v) {
    return [this, v] { vm_pushnumber(L, v); };
  }
  std::function<void()> Str(const char *v) {
    return [this, v] { vm_pushstring(L, v); };
  }
  // The same drawing without layers and then with them, from a cleared display each time.
  void WithoutAndWith(const std::function<void()> &draw, Screen *without, Screen *with) {
    ASSERT_EQ(Call("DisableLayers", {}).code, 0u);
    ASSERT_EQ(Call("Cls", {}).code, 0u);
    draw();
    *without = Capture();
    ASSERT_EQ(Call("Cls", {}).code, 0u);
    ASSERT_EQ(Call("EnableLayers", {}).code, 0u);
    draw();
    *with = Capture();
  }
};

// Channels apart by at most tolerance; reports the first pixel that is not.
::testing::AssertionResult SameScreen(const Screen &got, const Screen &want, int tolerance = 0) {
  for (size_t i = 0; i < got.size(); i++)
    for (int shift : {16, 8, 0}) {
      const int a = int((got[i] >> shift) & 0xFF), b = int((want[i] >> shift) & 0xFF);
      if (std::abs(a - b) > tolerance) {
        std::ostringstream m;
        m << "pixel (" << i % kW << ", " << i / kW << ") is " << std::hex << got[i] << ", expected " << want[i];
        return ::testing::AssertionFailure() << m.str();
      }
    }
  return ::testing::AssertionSuccess();
}

int CountInk(const Screen &s, uint32_t background) {
  return int(std::count_if(s.begin(), s.end(), [&](uint32_t p) { return p != background; }));
}

// TextOut and Print with layers on: one layer of the kind, showing what the same text shows
// without layers; the layer keeps its own request; taking it away gives the background back.
TEST(ObjectLayers, TextBlocksBecomeLayersThatLookLikeDirectText) {
  struct Case {
    const char *name;
    const char *font;  // null: the built-in topaz
    int style;
    bool print;
    const char *text;
  };
  const Case cases[] = {
      {"TextOut topaz", nullptr, 1, false, "Hello"},
      {"TextOut anti-aliased with colour tags", ":::default_sans", 16, false, "A[color=$ff8000]g[/color]"},
      {"TextOut over two lines", ":::default_sans", 1, false, "Ab\ncD"},
      {"Print", nullptr, 1, true, "Pr"},
      {"Print anti-aliased", ":::default_sans", 16, true, "Wy"},
  };
  for (const Case &c : cases) {
    ObjectLayersVm vm;
    if (c.font) {
      ASSERT_EQ(vm.Call("SetFont", {CmdArg::Str(c.font), 18}).code, 0u) << c.name;
    }
    ASSERT_EQ(vm.Call("SetFontStyle", {c.style}).code, 0u) << c.name;
    vm.d->cursorX = 7, vm.d->cursorY = 9;
    int32_t cursorWithout[2] = {0, 0};
    auto draw = [&] {
      vm.d->cursorX = 7, vm.d->cursorY = 9;
      const uint32_t code = c.print ? vm.Call("Print", {CmdArg::Str(c.text)}).code
                                    : vm.Call("TextOut", {5, 6, CmdArg::Str(c.text)}).code;
      ASSERT_EQ(code, 0u) << c.name;
    };
    Screen without, with;
    vm.WithoutAndWith(
        [&] {
          draw();
          cursorWithout[0] = vm.d->cursorX, cursorWithout[1] = vm.d->cursorY;
        },
        &without, &with);
    EXPECT_GT(CountInk(without, kBackground), 0) << c.name;
    EXPECT_TRUE(SameScreen(with, without)) << c.name;
    ASSERT_EQ(CountLayers(vm.Pic()), 1) << c.name;
    const qmLayer *layer = FirstLayer(vm.Pic());
    EXPECT_EQ(layer->type, c.print ? QMTYPE_PRINT : QMTYPE_TEXTOUT) << c.name;
    // Print moves the cursor exactly as without layers.
    if (c.print) {
      EXPECT_EQ(vm.d->cursorX, cursorWithout[0]) << c.name;
      EXPECT_EQ(vm.d->cursorY, cursorWithout[1]) << c.name;
    }
    // The layer's request is its own: the text, resolved position and picture size.
    const qmTextRequest *r = layer->base->textRequest;
    ASSERT_NE(r, nullptr) << c.name;
    EXPECT_STREQ(r->text, c.text) << c.name;
    EXPECT_EQ(r->width, layer->base->width) << c.name;
    EXPECT_EQ(r->height, layer->base->height) << c.name;
    if (!c.print) {
      EXPECT_EQ(r->x, 5) << c.name;
      EXPECT_EQ(r->y, 6) << c.name;
    }
    ASSERT_EQ(vm.Call("RemoveLayer", {1}).code, 0u) << c.name;
    EXPECT_EQ(CountInk(vm.Capture(), kBackground), 0) << c.name;
  }
}

// Print twice with layers on: two layers, and the second one starts where the first left
// the cursor.
TEST(ObjectLayers, PrintAdvancesTheCursorFromLayerToLayer) {
  ObjectLayersVm vm;
  Screen without, with;
  int32_t after[2];
  vm.WithoutAndWith(
      [&] {
        vm.d->cursorX = vm.d->cursorY = 0;
        ASSERT_EQ(vm.Call("Print", {CmdArg::Str("ab")}).code, 0u);
        ASSERT_EQ(vm.Call("NPrint", {CmdArg::Str("cd")}).code, 0u);
        ASSERT_EQ(vm.Call("Print", {CmdArg::Str("ef")}).code, 0u);
        after[0] = vm.d->cursorX, after[1] = vm.d->cursorY;
      },
      &without, &with);
  EXPECT_EQ(CountLayers(vm.Pic()), 3);
  EXPECT_EQ(vm.d->cursorX, after[0]);
  EXPECT_EQ(vm.d->cursorY, after[1]);
  EXPECT_GT(vm.d->cursorY, 0);  // NPrint went to the next line
  EXPECT_TRUE(SameScreen(with, without));
  // The third layer starts on the second line, at the left margin.
  const qmLayer *third = GetNthLayer(vm.Pic(), 3);
  EXPECT_EQ(third->type, QMTYPE_PRINT);
  EXPECT_GE(third->base->y, after[1] - 1);
}

// InKeyStr with layers on: each echoed character is a layer of its own that goes again with
// backspace and at the end, so that only the input printed once stays, as Print shows it.
TEST(ObjectLayers, InKeyStrLeavesOnlyTheFinalPrintLayer) {
  ObjectLayersVm vm;
  ASSERT_EQ(vm.Call("EnableLayers", {}).code, 0u);
  ASSERT_EQ(vm.Call("Locate", {8, 16}).code, 0u);
  ASSERT_EQ(vm.Call("Print", {CmdArg::Str("ac")}).code, 0u);
  const Screen want = vm.Capture();
  const int32_t wantX = vm.d->cursorX;
  ASSERT_EQ(vm.Call("Cls", {}).code, 0u);
  ASSERT_EQ(vm.Call("Locate", {8, 16}).code, 0u);
  for (uint32_t k : {uint32_t('a'), uint32_t('b'), uint32_t(KEY_BACKSPACE), uint32_t('c')}) {
    PostEvent(vm.d, EVENT_KEY, 1, 0, k, nullptr);
    PostEvent(vm.d, EVENT_KEY, 0, 0, k, nullptr);
  }
  PostEvent(vm.d, EVENT_KEY, 1, 0, KEY_RETURN, nullptr);
  vm_settop(vm.L, 0);
  vm_pushstring(vm.L, "inkeystr");
  vm_gettable(vm.L, VM_GLOBALSINDEX);
  vm_pushnumber(vm.L, 0);
  ASSERT_EQ(vm_pcall(vm.L, 1, 1, 0), 0u);
  EXPECT_STREQ(vm_tostring(vm.L, -1), "ac");
  vm_settop(vm.L, 0);
  ASSERT_EQ(CountLayers(vm.Pic()), 1);
  EXPECT_STREQ(FirstLayer(vm.Pic())->base->textRequest->text, "ac");
  EXPECT_EQ(vm.d->cursorX, wantX);
  EXPECT_TRUE(SameScreen(vm.Capture(), want));
}

// The display tags of a text layer are the layer's: a hidden one shows nothing until
// ShowLayer, a named one is found by its name, one inserted at the bottom lies under a box, a
// transparent one blends with the background.
TEST(ObjectLayers, TextTagsActOnTheLayer) {
  ObjectLayersVm vm;
  ASSERT_EQ(vm.Call("SetFont", {CmdArg::Str(":::default_sans"), 20}).code, 0u);
  Screen without, with;
  vm.WithoutAndWith([&] { ASSERT_EQ(vm.Call("TextOut", {4, 4, CmdArg::Str("HH")}).code, 0u); }, &without, &with);
  ASSERT_EQ(vm.Call("Cls", {}).code, 0u);
  ASSERT_EQ(CountLayers(vm.Pic()), 0);

  // Hidden, then shown.
  ASSERT_EQ(vm.CallTags("TextOut", {vm.Num(4), vm.Num(4), vm.Str("HH")}, [&] { vm.Set("hidden", 1), vm.SetText("name", "t"); }),
            0u);
  EXPECT_EQ(CountInk(vm.Capture(), kBackground), 0);
  EXPECT_EQ(vm.Call("LayerExists", {CmdArg::Str("t")}).results, std::vector<double>{1});
  ASSERT_EQ(vm.Call("ShowLayer", {CmdArg::Str("t")}).code, 0u);
  EXPECT_TRUE(SameScreen(vm.Capture(), without));
  // A second layer of the same name is refused and leaves nothing behind.
  EXPECT_EQ(vm.CallTags("TextOut", {vm.Num(40), vm.Num(4), vm.Str("x")}, [&] { vm.SetText("name", "T"); }),
            ERR_NAMEUSED);
  EXPECT_EQ(CountLayers(vm.Pic()), 1);
  EXPECT_TRUE(SameScreen(vm.Capture(), without));

  // A box over the text, then text inserted under the box: the box's pixels stay.
  ASSERT_EQ(vm.Call("Cls", {}).code, 0u);
  ASSERT_EQ(vm.Call("SetFillStyle", {1}).code, 0u);
  ASSERT_EQ(vm.Call("Box", {0, 0, kW, kH, 0x00FF00}).code, 0u);
  ASSERT_EQ(vm.CallTags("TextOut", {vm.Num(4), vm.Num(4), vm.Str("HH")}, [&] { vm.Set("insertpos", 1); }), 0u);
  EXPECT_EQ(CountInk(vm.Capture(), 0x00FF00), 0);
  EXPECT_EQ(GetNthLayer(vm.Pic(), 1)->type, QMTYPE_TEXTOUT);

  // Half transparent over the background: every text pixel halfway between.
  ASSERT_EQ(vm.Call("Cls", {}).code, 0u);
  ASSERT_EQ(vm.CallTags("TextOut", {vm.Num(4), vm.Num(4), vm.Str("HH")}, [&] { vm.Set("transparency", 128); }), 0u);
  const Screen half = vm.Capture();
  int checked = 0;
  for (size_t i = 0; i < half.size(); i++) {
    if (without[i] != 0xFFFFFF) continue;  // only fully covered text pixels (white text)
    checked++;
    for (int shift : {16, 8, 0}) {
      const int bg = int((kBackground >> shift) & 0xFF), want = bg + (255 - bg) * 127 / 255;
      EXPECT_NEAR(int((half[i] >> shift) & 0xFF), want, 2) << "pixel " << i;
    }
  }
  EXPECT_GT(checked, 10);
}

// DisplayTextObject with layers on: a TEXTOBJECT layer of the object that keeps its own
// picture, so that it still shows after the object is freed.
TEST(ObjectLayers, TextObjectLayersKeepTheirPicture) {
  ObjectLayersVm vm;
  ASSERT_EQ(vm.Call("SetFont", {CmdArg::Str(":::default_sans"), 16}).code, 0u);
  ASSERT_EQ(vm.Call("SetFontStyle", {16}).code, 0u);
  ASSERT_EQ(vm.Call("CreateTextObject", {3, CmdArg::Str("Obj")}).code, 0u);
  Screen without, with;
  vm.WithoutAndWith([&] { ASSERT_EQ(vm.Call("DisplayTextObject", {3, 10, 12}).code, 0u); }, &without, &with);
  EXPECT_GT(CountInk(without, kBackground), 0);
  EXPECT_TRUE(SameScreen(with, without));
  ASSERT_EQ(CountLayers(vm.Pic()), 1);
  const qmLayer *layer = FirstLayer(vm.Pic());
  EXPECT_EQ(layer->type, QMTYPE_TEXTOBJECT);
  EXPECT_EQ(layer->object.id, 3u);
  ASSERT_NE(layer->base->textRequest, nullptr);
  EXPECT_EQ(layer->base->textRequest->x, 10);
  EXPECT_EQ(layer->base->textRequest->y, 12);
  // Freed, then the layer drawn again from its own picture.
  ASSERT_EQ(vm.Call("FreeTextObject", {3}).code, 0u);
  ASSERT_EQ(vm.Call("HideLayer", {1}).code, 0u);
  EXPECT_EQ(CountInk(vm.Capture(), kBackground), 0);
  ASSERT_EQ(vm.Call("ShowLayer", {1}).code, 0u);
  EXPECT_TRUE(SameScreen(vm.Capture(), without));
  // An unknown object makes no layer.
  EXPECT_EQ(vm.Call("DisplayTextObject", {9, 0, 0}).code, ERR_FINDTEXTOBJECT);
  EXPECT_EQ(CountLayers(vm.Pic()), 1);
}

// InsertLayer of a text object: its picture as a layer at the position given, under other
// layers or on top, hidden on request.
TEST(ObjectLayers, InsertLayerPlacesATextObject) {
  ObjectLayersVm vm;
  ASSERT_EQ(vm.Call("SetFont", {CmdArg::Str(":::default_sans"), 16}).code, 0u);
  ASSERT_EQ(vm.Call("CreateTextObject", {3, CmdArg::Str("Ins")}).code, 0u);
  ASSERT_EQ(vm.Call("EnableLayers", {}).code, 0u);
  ASSERT_EQ(vm.Call("DisplayTextObject", {3, 10, 12}).code, 0u);
  const Screen want = vm.Capture();
  ASSERT_EQ(vm.Call("Cls", {}).code, 0u);
  ASSERT_EQ(vm.Call("SetFillStyle", {1}).code, 0u);
  ASSERT_EQ(vm.Call("Box", {0, 0, kW, kH, 0x00FF00}).code, 0u);
  // Under the box: nothing of it shows.
  ASSERT_EQ(vm.Call("InsertLayer", {1, double(QMTYPE_TEXTOBJECT), 3, 10, 12}).code, 0u);
  ASSERT_EQ(CountLayers(vm.Pic()), 2);
  EXPECT_EQ(FirstLayer(vm.Pic())->type, QMTYPE_TEXTOBJECT);
  EXPECT_EQ(CountInk(vm.Capture(), 0x00FF00), 0);
  // The box gone, it shows as DisplayTextObject showed it.
  ASSERT_EQ(vm.Call("RemoveLayer", {2}).code, 0u);
  EXPECT_TRUE(SameScreen(vm.Capture(), want));
  // On top and hidden: a layer, nothing more to see.
  ASSERT_EQ(vm.Call("InsertLayer", {0, double(QMTYPE_TEXTOBJECT), 3, 40, 30, 1}).code, 0u);
  ASSERT_EQ(CountLayers(vm.Pic()), 2);
  EXPECT_TRUE(LastLayer(vm.Pic())->hidden);
  EXPECT_TRUE(SameScreen(vm.Capture(), want));
  EXPECT_EQ(vm.Call("InsertLayer", {1, double(QMTYPE_TEXTOBJECT), 99, 0, 0}).code, ERR_FINDTEXTOBJECT);
  EXPECT_EQ(CountLayers(vm.Pic()), 2);
}

// Line with layers on: a LINE layer whose pixels are those of the line drawn directly (one
// step of rounding apart where the layer blends its coverage), keeping its end points, which
// move with the layer.
TEST(ObjectLayers, LinesBecomeLineLayers) {
  struct Case {
    const char *name;
    int x1, y1, x2, y2;
    uint32_t color;
    int thickness;
    int form;  // SetFormStyle: 1 normal, 16 anti-aliased
  };
  const Case cases[] = {
      {"horizontal", 3, 5, 80, 5, 0xFF0000, 1, 1},
      {"steep", 10, 2, 14, 60, 0x00FF00, 1, 1},
      {"anti-aliased diagonal", 2, 3, 90, 50, 0xFFFFFF, 1, 16},
      {"thick", 5, 50, 70, 20, 0x0000FF, 5, 1},
      {"thick anti-aliased", 5, 10, 60, 40, 0xFFFF00, 4, 16},
      {"translucent", 0, 0, 95, 63, 0x80FF8000, 1, 1},
      {"reaching past the edges", -40, 30, 140, 33, 0x00FFFF, 3, 1},
      {"thicker than the picture", 10, 20, 80, 40, 0xFF00FF, 30000, 1},
  };
  for (const Case &c : cases) {
    ObjectLayersVm vm;
    ASSERT_EQ(vm.Call("SetFormStyle", {c.form}).code, 0u) << c.name;
    Screen without, with;
    vm.WithoutAndWith(
        [&] {
          ASSERT_EQ(vm.Call("Line", {c.x1, c.y1, c.x2, c.y2, double(c.color), c.thickness}).code, 0u) << c.name;
        },
        &without, &with);
    EXPECT_GT(CountInk(without, kBackground), 0) << c.name;
    EXPECT_TRUE(SameScreen(with, without, 1)) << c.name;
    ASSERT_EQ(CountLayers(vm.Pic()), 1) << c.name;
    const qmLayer *layer = FirstLayer(vm.Pic());
    EXPECT_EQ(layer->type, QMTYPE_LINE) << c.name;
    const qmLayerState *s = layer->base;
    EXPECT_EQ((std::vector<int>{s->lineX1, s->lineY1, s->lineX2, s->lineY2}),
              (std::vector<int>{c.x1, c.y1, c.x2, c.y2}))
        << c.name;
    ASSERT_EQ(vm.Call("TranslateLayer", {1, 3, -2}).code, 0u) << c.name;
    EXPECT_EQ((std::vector<int>{s->lineX1, s->lineY1, s->lineX2, s->lineY2}),
              (std::vector<int>{c.x1 + 3, c.y1 - 2, c.x2 + 3, c.y2 - 2}))
        << c.name;
    ASSERT_EQ(vm.Call("RemoveLayer", {1}).code, 0u) << c.name;
    EXPECT_EQ(CountInk(vm.Capture(), kBackground), 0) << c.name;
  }
}

// A line layer's content keys draw the line anew in its colour and draw style, and GetLayerStyle
// reads its colour, thickness and ends back.
TEST(ObjectLayers, LineStyleKeysDrawTheLineAnew) {
  struct Case {
    const char *name;
    std::function<void(ObjectLayersVm &)> style;
    std::vector<CmdArg> expected;  // the Line command that draws the same without layers
    int form;                      // the draw style's form bits the line is drawn with
  } cases[] = {
      {"thicker, anti-aliased", [](ObjectLayersVm &vm) { vm.Set("thickness", 3); }, {3, 5, 80, 30, 0xFF0000, 3}, 16},
      {"other ends", [](ObjectLayersVm &vm) { vm.Set("x1", 10), vm.Set("y1", 40), vm.Set("x2", 60), vm.Set("y2", 8); },
       {10, 40, 60, 8, 0xFF0000}, 1},
      {"another colour", [](ObjectLayersVm &vm) { vm.Set("color", 0x00FF00); }, {3, 5, 80, 30, 0x00FF00}, 1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Screen want;
    {
      ObjectLayersVm vm;
      ASSERT_EQ(vm.Call("SetFormStyle", {c.form}).code, 0u);
      ASSERT_EQ(vm.Call("Line", c.expected).code, 0u);
      want = vm.Capture();
    }
    ObjectLayersVm vm;
    ASSERT_EQ(vm.Call("SetFormStyle", {c.form}).code, 0u);
    ASSERT_EQ(vm.Call("EnableLayers", {}).code, 0u);
    ASSERT_EQ(vm.Call("Line", {3, 5, 80, 30, 0xFF0000}).code, 0u);
    ASSERT_EQ(vm.Call("SetFormStyle", {c.form == 1 ? 16 : 1}).code, 0u) << "the line keeps the style it was drawn with";
    ASSERT_EQ(vm.CallTags("SetLayerStyle", {vm.Num(1)}, [&] { c.style(vm); }), 0u);
    EXPECT_TRUE(SameScreen(vm.Capture(), want, 1));
  }
  ObjectLayersVm vm;
  ASSERT_EQ(vm.Call("EnableLayers", {}).code, 0u);
  ASSERT_EQ(vm.Call("Line", {3, 5, 80, 30, 0xFF0000, 2}).code, 0u);
  ASSERT_EQ(vm.Call("TranslateLayer", {1, 4, 1}).code, 0u);
  vm_settop(vm.L, 0);
  vm_pushstring(vm.L, "getlayerstyle");
  vm_gettable(vm.L, VM_GLOBALSINDEX);
  vm_pushnumber(vm.L, 1);
  ASSERT_EQ(vm_pcall(vm.L, 1, 1, 0), 0);
  for (auto [key, value] : {std::pair{"color", double(0xFF0000)}, std::pair{"thickness", 2.0}, std::pair{"x1", 7.0},
                            std::pair{"y1", 6.0}, std::pair{"x2", 84.0}, std::pair{"y2", 31.0}}) {
    vm_pushstring(vm.L, key);
    vm_gettable(vm.L, 1);
    EXPECT_EQ(vm_isnumber(vm.L, -1) ? vm_tonumber(vm.L, -1) : -1, value) << key;
    vm_pop(vm.L, 1);
  }
  vm_settop(vm.L, 0);
}

// A line's tags name it and hide it, as any layer's.
TEST(ObjectLayers, LineTagsActOnTheLayer) {
  ObjectLayersVm vm;
  ASSERT_EQ(vm.Call("EnableLayers", {}).code, 0u);
  ASSERT_EQ(vm.CallTags("Line", {vm.Num(0), vm.Num(10), vm.Num(90), vm.Num(10), vm.Num(0xFFFFFF)},
                        [&] { vm.SetText("name", "rule"), vm.Set("hidden", 1); }),
            0u);
  EXPECT_EQ(CountInk(vm.Capture(), kBackground), 0);
  ASSERT_EQ(vm.Call("ShowLayer", {CmdArg::Str("rule")}).code, 0u);
  EXPECT_EQ(CountInk(vm.Capture(), kBackground), 91);
  // A name in use refuses the second line, which leaves nothing behind.
  EXPECT_EQ(vm.CallTags("Line", {vm.Num(0), vm.Num(20), vm.Num(90), vm.Num(20), vm.Num(0xFFFFFF)},
                        [&] { vm.SetText("name", "RULE"); }),
            ERR_NAMEUSED);
  EXPECT_EQ(CountLayers(vm.Pic()), 1);
  EXPECT_EQ(CountInk(vm.Capture(), kBackground), 91);
}

// Plot cannot make a layer: refused with layers on, drawn with them off and into a selected
// brush while they are on.
TEST(ObjectLayers, PlotIsRefusedWhileDrawingMakesLayers) {
  ObjectLayersVm vm;
  ASSERT_EQ(vm.Call("EnableLayers", {}).code, 0u);
  EXPECT_EQ(vm.Call("Plot", {3, 3, 0xFFFFFF}).code, ERR_LAYERSUPPORT2);
  EXPECT_EQ(CountInk(vm.Capture(), kBackground), 0);
  EXPECT_EQ(CountLayers(vm.Pic()), 0);
  ASSERT_EQ(vm.Call("CreateBrush", {5, 8, 8}).code, 0u);
  ASSERT_EQ(vm.Call("SelectBrush", {5}).code, 0u);
  EXPECT_EQ(vm.Call("Plot", {3, 3, 0xFFFFFF}).code, 0u);
  EXPECT_EQ(vm.Call("ReadPixel", {3, 3}).results, std::vector<double>{0xFFFFFF});
  ASSERT_EQ(vm.Call("EndSelect", {}).code, 0u);
  ASSERT_EQ(vm.Call("DisableLayers", {}).code, 0u);
  EXPECT_EQ(vm.Call("Plot", {3, 3, 0xFFFFFF}).code, 0u);
  EXPECT_EQ(DisplayVm::WindowPixel(vm.d, 3, 3), 0xFFFFFFu);
}

// Cls with layers on takes every layer away, whatever made it, and shows the background.
TEST(ObjectLayers, ClsRemovesEveryLayer) {
  ObjectLayersVm vm;
  ASSERT_EQ(vm.Call("EnableLayers", {}).code, 0u);
  ASSERT_EQ(vm.Call("Box", {2, 2, 30, 20, 0xFF0000}).code, 0u);
  ASSERT_EQ(vm.Call("Line", {0, 40, 90, 45, 0x00FF00}).code, 0u);
  ASSERT_EQ(vm.Call("TextOut", {40, 4, CmdArg::Str("Cls")}).code, 0u);
  ASSERT_EQ(vm.Call("Print", {CmdArg::Str("p")}).code, 0u);
  ASSERT_EQ(vm.CallTags("TextOut", {vm.Num(40), vm.Num(30), vm.Str("hidden")}, [&] { vm.Set("hidden", 1); }), 0u);
  ASSERT_EQ(CountLayers(vm.Pic()), 5);
  EXPECT_GT(CountInk(vm.Capture(), kBackground), 0);
  ASSERT_EQ(vm.Call("Cls", {0xFF0000}).code, 0u);
  EXPECT_EQ(CountLayers(vm.Pic()), 0);
  EXPECT_EQ(CountInk(vm.Capture(), kBackground), 0);
  // Layers made after it compose on the plain background again.
  ASSERT_EQ(vm.Call("SetFillStyle", {1}).code, 0u);
  ASSERT_EQ(vm.Call("Box", {2, 2, 4, 4, 0xFF0000}).code, 0u);
  EXPECT_EQ(CountInk(vm.Capture(), kBackground), 16);
}

// Drawn while the display's own picture is selected with SelectBGPic, text and lines are
// layers that show when the selection ends; Cls there takes them away before they show.
TEST(ObjectLayers, LayersDrawnIntoTheSelectedPictureShowAtEndSelect) {
  ObjectLayersVm vm;
  ASSERT_EQ(vm.Call("EnableLayers", {}).code, 0u);
  auto draw = [&] {
    ASSERT_EQ(vm.Call("TextOut", {4, 4, CmdArg::Str("Sel")}).code, 0u);
    ASSERT_EQ(vm.Call("Line", {0, 30, 90, 40, 0xFFFFFF}).code, 0u);
  };
  auto select = [&] { return vm.CallWith("selectbgpic", [&] { vm_pushnil(vm.L); return 1; }).code; };
  draw();
  const Screen want = vm.Capture();
  ASSERT_EQ(vm.Call("Cls", {}).code, 0u);
  ASSERT_EQ(select(), 0u);
  draw();
  EXPECT_EQ(CountLayers(vm.Pic()), 2);
  EXPECT_EQ(CountInk(vm.Capture(), kBackground), 0);
  ASSERT_EQ(vm.Call("EndSelect", {}).code, 0u);
  EXPECT_TRUE(SameScreen(vm.Capture(), want));
  ASSERT_EQ(vm.Call("Cls", {}).code, 0u);
  ASSERT_EQ(select(), 0u);
  draw();
  ASSERT_EQ(vm.Call("Cls", {}).code, 0u);
  EXPECT_EQ(CountLayers(vm.Pic()), 0);
  ASSERT_EQ(vm.Call("EndSelect", {}).code, 0u);
  EXPECT_EQ(CountInk(vm.Capture(), kBackground), 0);
}

// An anti-aliased white glyph on black as a text layer: its pixels are FreeType's coverage as
// the peer renders the glyph at the engine's size (the engine's p counts as the peer's p - 1),
// one step apart at most, with the pen where the layout puts it.
TEST(ObjectLayers, TextLayerMatchesThePeersGlyph) {
  ObjectLayersVm vm(0x000000);
  ASSERT_EQ(vm.Call("EnableLayers", {}).code, 0u);
  ASSERT_EQ(vm.Call("SetFont", {CmdArg::Str(":::default_sans"), 24}).code, 0u);
  ASSERT_EQ(vm.Call("SetFontStyle", {16}).code, 0u);
  const qmFont *font = GetTextState(vm.L)->style.font;
  ASSERT_NE(font, nullptr);
  const int32_t p = GetFreeTypePixelSize(font);
  ASSERT_GT(p, 1);
  const int penX = 20, top = 10;
  ASSERT_EQ(vm.Call("TextOut", {penX, top, CmdArg::Str("A")}).code, 0u);
  ASSERT_EQ(CountLayers(vm.Pic()), 1);
  const std::vector<std::string> lines = Lines(RunPeer("glyphs " + kVeraDir + "Vera.ttf " + std::to_string(p - 1) + " 65"));
  ASSERT_EQ(lines.size(), 1u);
  std::istringstream in(lines[0]);
  std::string tag, hex;
  int code, advance, left, glyphTop, w, h;
  in >> tag >> code >> advance >> left >> glyphTop >> w >> h >> hex;
  ASSERT_GT(w * h, 0);
  const Screen got = vm.Capture();
  const int baseY = top + font->baseline;
  int mismatches = 0, ink = 0;
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      const int peer = std::stoi(hex.substr(size_t(y * w + x) * 2, 2), nullptr, 16);
      const int X = penX + left + x, Y = baseY + glyphTop + y;
      ASSERT_TRUE(X >= 0 && Y >= 0 && X < kW && Y < kH);
      const uint32_t px = got[size_t(Y * kW + X)];
      ink += peer > 0;
      for (int shift : {16, 8, 0})
        if (std::abs(int((px >> shift) & 0xFF) - peer) > 1) mismatches++;
    }
  EXPECT_GT(ink, 20);
  EXPECT_EQ(mismatches, 0);
  // Nothing lies outside the peer's box.
  int outside = 0;
  for (int Y = 0; Y < kH; Y++)
    for (int X = 0; X < kW; X++) {
      const bool inBox = X >= penX + left && X < penX + left + w && Y >= baseY + glyphTop && Y < baseY + glyphTop + h;
      if (!inBox && got[size_t(Y * kW + X)] != 0) outside++;
    }
  EXPECT_EQ(outside, 0);
}

// The ink of a screen: the smallest rectangle holding every pixel off the background, copied out.
struct Ink {
  int x = 0, y = 0, w = 0, h = 0;
  std::vector<uint32_t> px;
  uint32_t At(int cx, int cy) const { return px[size_t(cy * w + cx)]; }
};

Ink InkOf(const Screen &s, uint32_t background) {
  int x0 = kW, y0 = kH, x1 = -1, y1 = -1;
  for (int y = 0; y < kH; y++)
    for (int x = 0; x < kW; x++)
      if (s[size_t(y * kW + x)] != background) x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
  Ink ink;
  if (x1 < 0) return ink;
  ink.x = x0, ink.y = y0, ink.w = x1 - x0 + 1, ink.h = y1 - y0 + 1;
  for (int y = y0; y <= y1; y++)
    for (int x = x0; x <= x1; x++) ink.px.push_back(s[size_t(y * kW + x)]);
  return ink;
}

// Sum of channel differences of two inks laid over each other at their top-left corners; a
// pixel one of them lacks counts against the background.
long InkDistance(const Ink &a, const Ink &b, uint32_t background) {
  long sum = 0;
  for (int y = 0; y < std::max(a.h, b.h); y++)
    for (int x = 0; x < std::max(a.w, b.w); x++) {
      const uint32_t p = x < a.w && y < a.h ? a.At(x, y) : background, q = x < b.w && y < b.h ? b.At(x, y) : background;
      for (int shift : {16, 8, 0}) sum += std::abs(int((p >> shift) & 0xFF) - int((q >> shift) & 0xFF));
    }
  return sum;
}

// A text layer turned a quarter through SetLayerStyle shows what TextOut with the same turn
// shows without layers, and that is the upright text's ink turned clockwise pixel for pixel.
TEST(TextLayers, QuarterTurnedTextLayerIsTheTextTurned) {
  struct Case {
    const char *name;
    const char *font;  // null: the built-in topaz
    int style;
  };
  const Case cases[] = {{"topaz (mask)", nullptr, 1}, {"sans anti-aliased", ":::default_sans", 16}};
  for (const Case &c : cases) {
    ObjectLayersVm vm;
    if (c.font) {
      ASSERT_EQ(vm.Call("SetFont", {CmdArg::Str(c.font), 18}).code, 0u) << c.name;
    }
    ASSERT_EQ(vm.Call("SetFontStyle", {c.style}).code, 0u) << c.name;
    ASSERT_EQ(vm.Call("TextOut", {40, 30, CmdArg::Str("Hy")}).code, 0u) << c.name;
    const Ink upright = InkOf(vm.Capture(), kBackground);
    ASSERT_GT(upright.w * upright.h, 0) << c.name;
    ASSERT_EQ(vm.Call("Cls", {}).code, 0u);
    ASSERT_EQ(vm.CallTags("TextOut", {vm.Num(40), vm.Num(30), vm.Str("Hy")}, [&] { vm.Set("rotate", 90); }), 0u);
    const Screen direct = vm.Capture();
    ASSERT_EQ(vm.Call("Cls", {}).code, 0u);
    ASSERT_EQ(vm.Call("EnableLayers", {}).code, 0u);
    ASSERT_EQ(vm.Call("TextOut", {40, 30, CmdArg::Str("Hy")}).code, 0u);
    ASSERT_EQ(vm.CallWith("setlayerstyle", [&] {
      vm_pushnumber(vm.L, 1);
      vm_newtable(vm.L);
      vm.Set("rotate", 90);
      return 2;
    }).code, 0u) << c.name;
    const Screen layered = vm.Capture();
    EXPECT_TRUE(SameScreen(layered, direct)) << c.name;
    // Turned a quarter counter-clockwise on the screen: the new row y, column x is the old
    // row x, column w - 1 - y.
    const Ink turned = InkOf(layered, kBackground);
    ASSERT_EQ(turned.w, upright.h) << c.name;
    ASSERT_EQ(turned.h, upright.w) << c.name;
    int wrong = 0;
    for (int y = 0; y < turned.h; y++)
      for (int x = 0; x < turned.w; x++) wrong += turned.At(x, y) != upright.At(upright.w - 1 - y, x);
    EXPECT_EQ(wrong, 0) << c.name;
  }
}

// A text layer scaled by 2 in a scalable font is drawn again by the text renderer at twice the
// size (TextOut, and a text object shown with scaling tags): the same picture as the text
// object scaled to 200 per cent, as large as the text set at twice the font size with about as
// much ink, and not made of 2 x 2 blocks as the picture enlarged by pixels is.
TEST(TextLayers, ScaledTextLayerIsRenderedAtTheScaledSize) {
  ObjectLayersVm vm;
  auto scaleLayer = [&](double sx, double sy) {
    return vm.CallWith("setlayerstyle", [&] {
      vm_pushnumber(vm.L, 1);
      vm_newtable(vm.L);
      vm.Set("scalex", sx), vm.Set("scaley", sy);
      return 2;
    }).code;
  };
  // References without layers: twice the font size, and the picture enlarged as pixels.
  ASSERT_EQ(vm.Call("SetFont", {CmdArg::Str(":::default_sans"), 24}).code, 0u);
  ASSERT_EQ(vm.Call("SetFontStyle", {16}).code, 0u);
  ASSERT_EQ(vm.Call("TextOut", {30, 40, CmdArg::Str("Ag")}).code, 0u);
  const Ink doubled = InkOf(vm.Capture(), kBackground);
  ASSERT_EQ(vm.Call("Cls", {}).code, 0u);
  ASSERT_EQ(vm.Call("SetFont", {CmdArg::Str(":::default_sans"), 12}).code, 0u);
  ASSERT_EQ(vm.Call("SetFontStyle", {16}).code, 0u);
  ASSERT_EQ(vm.CallTags("TextOut", {vm.Num(30), vm.Num(40), vm.Str("Ag")}, [&] { vm.Set("scalex", 2), vm.Set("scaley", 2); }),
            0u);
  const Ink blocks = InkOf(vm.Capture(), kBackground);
  ASSERT_EQ(vm.Call("Cls", {}).code, 0u);
  ASSERT_EQ(vm.Call("CreateTextObject", {1, CmdArg::Str("Ag")}).code, 0u);
  ASSERT_EQ(vm.Call("ScaleTextObject", {1, CmdArg::Str("200%"), CmdArg::Str("200%")}).code, 0u);
  ASSERT_EQ(vm.Call("DisplayTextObject", {1, 30, 40}).code, 0u);
  const Ink object = InkOf(vm.Capture(), kBackground);
  ASSERT_EQ(vm.Call("Cls", {}).code, 0u);

  ASSERT_EQ(vm.Call("EnableLayers", {}).code, 0u);
  ASSERT_EQ(vm.Call("TextOut", {30, 40, CmdArg::Str("Ag")}).code, 0u);
  ASSERT_EQ(scaleLayer(2, 2), 0u);
  const qmLayer *layer = FirstLayer(vm.Pic());
  ASSERT_NE(layer, nullptr);
  const Ink scaled = InkOf(vm.Capture(), kBackground);
  ASSERT_GT(scaled.w * scaled.h, 0);
  EXPECT_EQ(InkDistance(scaled, object, kBackground), 0);
  // The same size as the text set at twice the font size, a pixel or two apart for hinting,
  // and about as much ink.
  EXPECT_LE(std::abs(scaled.w - doubled.w), 2);
  EXPECT_LE(std::abs(scaled.h - doubled.h), 2);
  auto inkCount = [](const Ink &k) {
    return int(std::count_if(k.px.begin(), k.px.end(), [](uint32_t p) { return p != kBackground; }));
  };
  EXPECT_NEAR(inkCount(scaled), inkCount(doubled), inkCount(doubled) / 8);
  // Enlarged pixels come as uniform 2 x 2 blocks in one of four phases; rendered glyphs do not.
  auto fewestMixedBlocks = [](const Ink &k) {
    int fewest = 1 << 30;
    for (int py = 0; py < 2; py++)
      for (int px = 0; px < 2; px++) {
        int mixed = 0;
        for (int y = py; y + 1 < k.h; y += 2)
          for (int x = px; x + 1 < k.w; x += 2) {
            const uint32_t p = k.At(x, y);
            mixed += k.At(x + 1, y) != p || k.At(x, y + 1) != p || k.At(x + 1, y + 1) != p;
          }
        fewest = std::min(fewest, mixed);
      }
    return fewest;
  };
  EXPECT_EQ(fewestMixedBlocks(blocks), 0);
  EXPECT_GT(fewestMixedBlocks(scaled), 10);
  // Turned a quarter as well: the scaled rendering turned counter-clockwise, pixel for pixel.
  ASSERT_EQ(vm.CallWith("setlayerstyle", [&] {
    vm_pushnumber(vm.L, 1);
    vm_newtable(vm.L);
    vm.Set("rotate", 90), vm.Set("scalex", 2), vm.Set("scaley", 2);
    return 2;
  }).code, 0u);
  const Ink turned = InkOf(vm.Capture(), kBackground);
  ASSERT_EQ(turned.w, scaled.h);
  ASSERT_EQ(turned.h, scaled.w);
  int wrong = 0;
  for (int y = 0; y < turned.h; y++)
    for (int x = 0; x < turned.w; x++) wrong += turned.At(x, y) != scaled.At(scaled.w - 1 - y, x);
  EXPECT_EQ(wrong, 0);
  ASSERT_EQ(vm.CallWith("setlayerstyle", [&] {
    vm_pushnumber(vm.L, 1);
    vm_newtable(vm.L);
    vm.Set("rotate", 0), vm.Set("scalex", 2), vm.Set("scaley", 2);
    return 2;
  }).code, 0u);
  // Back to scale 1: the layer's own picture again.
  ASSERT_EQ(scaleLayer(1, 1), 0u);
  ASSERT_EQ(vm.Call("DisableLayers", {}).code, 0u);
  const Screen back = vm.Capture();
  ASSERT_EQ(vm.Call("Cls", {}).code, 0u);
  ASSERT_EQ(vm.Call("TextOut", {30, 40, CmdArg::Str("Ag")}).code, 0u);
  EXPECT_TRUE(SameScreen(back, vm.Capture()));
  // A text object shown as made and scaled by its tags on a layer: the object's own rendering
  // at 200 per cent.
  ASSERT_EQ(vm.Call("EnableLayers", {}).code, 0u);
  ASSERT_EQ(vm.Call("Cls", {}).code, 0u);
  ASSERT_EQ(vm.Call("CreateTextObject", {2, CmdArg::Str("Ag")}).code, 0u);
  ASSERT_EQ(vm.CallTags("DisplayTextObject", {vm.Num(2), vm.Num(30), vm.Num(40)},
                        [&] { vm.Set("scalex", 2), vm.Set("scaley", 2); }),
            0u);
  EXPECT_EQ(InkDistance(InkOf(vm.Capture(), kBackground), object, kBackground), 0);
}

// A text layer drawn anew at a scale reads the script's constants in its formatting tags as the
// text command read them: a colour named by a constant and the same colour as a number give
// the same scaled layer.
TEST(TextLayers, ScaledTextLayerReadsConstantsInItsTags) {
  ObjectLayersVm vm;
  const char *spellings[] = {"A[color=$FF0000]g[/color]", "A[color=#RED]g[/color]"};
  std::vector<Screen> shown;
  ASSERT_EQ(vm.Call("SetFont", {CmdArg::Str(":::default_sans"), 12}).code, 0u);
  ASSERT_EQ(vm.Call("EnableLayers", {}).code, 0u);
  const Screen blank = vm.Capture();
  for (const char *text : spellings) {
    ASSERT_EQ(vm.Call("Cls", {}).code, 0u);
    ASSERT_EQ(vm.Call("TextOut", {30, 40, CmdArg::Str(text)}).code, 0u) << text;
    ASSERT_EQ(vm.CallWith("setlayerstyle", [&] {
      vm_pushnumber(vm.L, 1);
      vm_newtable(vm.L);
      vm.Set("scalex", 3), vm.Set("scaley", 3);
      return 2;
    }).code, 0u) << text;
    shown.push_back(vm.Capture());
  }
  EXPECT_FALSE(SameScreen(shown[0], blank));
  EXPECT_TRUE(SameScreen(shown[0], shown[1]));
}

// The border of a text layer thinner than 8 pixels is the text's shape widened: the mask
// stamped at every offset 0..2e, or the alpha summed over the (2e + 1)^2 neighbourhood and
// divided by 2e + 1, in a picture one pixel wider and higher than the widened text; from 8
// on the common border is used.
TEST(TextLayers, TextBorderIsTheWidenedText) {
  struct Case {
    const char *name;
    const char *font;
    int style;
    int size;
  };
  const Case cases[] = {
      {"topaz mask, 2", nullptr, 1, 2},
      {"sans alpha, 2", ":::default_sans", 16, 2},
      {"sans alpha, 1", ":::default_sans", 16, 1},
  };
  for (const Case &c : cases) {
    ObjectLayersVm vm;
    ASSERT_EQ(vm.Call("EnableLayers", {}).code, 0u);
    if (c.font) {
      ASSERT_EQ(vm.Call("SetFont", {CmdArg::Str(c.font), 16}).code, 0u) << c.name;
    }
    ASSERT_EQ(vm.Call("SetFontStyle", {c.style}).code, 0u) << c.name;
    ASSERT_EQ(vm.Call("TextOut", {10, 10, CmdArg::Str("Ti")}).code, 0u) << c.name;
    const qmLayer *layer = FirstLayer(vm.Pic());
    ASSERT_NE(layer, nullptr);
    const qmLayerState *s = layer->current;
    const qmPlaneSet &img = s->own;
    ASSERT_TRUE(c.style == 16 ? img.alpha != nullptr : img.mask != nullptr) << c.name;
    const int w = s->width, h = s->height, e = c.size;
    auto text = [&](int x, int y) -> int {
      if (x < 0 || y < 0 || x >= w || y >= h) return 0;
      if (img.alpha) return img.alpha->memory[size_t(y * img.alpha->bytesPerRow + x)];
      return (img.mask->memory[size_t(y * img.mask->bytesPerRow + x / 8)] & (0x80 >> (x % 8))) ? 255 : 0;
    };
    int32_t ox = 0, oy = 0, bw = 0, bh = 0;
    qmPlaneSet border{};
    ASSERT_EQ(BuildBorderImage(vm.d, layer, s, 0x00FF0000, e, &ox, &oy, &bw, &bh, &border), 0u) << c.name;
    EXPECT_EQ(ox, e) << c.name;
    EXPECT_EQ(oy, e) << c.name;
    ASSERT_EQ(bw, w + 2 * e + 1) << c.name;
    ASSERT_EQ(bh, h + 2 * e + 1) << c.name;
    ASSERT_EQ(img.alpha ? border.alpha != nullptr : border.mask != nullptr, true) << c.name;
    int wrong = 0, inked = 0;
    for (int y = 0; y < bh; y++)
      for (int x = 0; x < bw; x++) {
        int want = 0;
        if (img.alpha) {
          int sum = 0;
          for (int j = 0; j <= 2 * e; j++)
            for (int i = 0; i <= 2 * e; i++) sum += text(x - i, y - j);
          want = std::min(255, sum / (2 * e + 1));
        } else {
          for (int j = 0; j <= 2 * e && !want; j++)
            for (int i = 0; i <= 2 * e && !want; i++) want = text(x - i, y - j);
        }
        const int got = border.alpha ? border.alpha->memory[size_t(y * border.alpha->bytesPerRow + x)]
                        : (border.mask->memory[size_t(y * border.mask->bytesPerRow + x / 8)] & (0x80 >> (x % 8))) ? 255
                                                                                                                   : 0;
        wrong += got != want;
        inked += want > 0;
      }
    EXPECT_EQ(wrong, 0) << c.name;
    EXPECT_GT(inked, 20) << c.name;
    EXPECT_EQ(StoredToArgb(border.bitmap->pixelFormat, border.bitmap->pixels[0]) & 0xFFFFFF, 0xFF0000u) << c.name;
    FreeBitmap(border.bitmap), FreeMask(border.mask), FreeAlphaChannel(border.alpha);
    // Size 8 takes the common border: exactly 2e wider.
    ASSERT_EQ(BuildBorderImage(vm.d, layer, s, 0x00FF0000, 8, &ox, &oy, &bw, &bh, &border), 0u) << c.name;
    EXPECT_EQ(bw, w + 16) << c.name;
    FreeBitmap(border.bitmap), FreeMask(border.mask), FreeAlphaChannel(border.alpha);
  }
}

// With layers on, the font's edge and shadow styles and a transparent colour go to the text
// layer as its border, shadow and transparency; its picture is the plain text.
TEST(TextLayers, EdgeAndShadowBecomeTheLayersBorderAndShadow) {
  ObjectLayersVm vm;
  ASSERT_EQ(vm.Call("TextOut", {10, 10, CmdArg::Str("Ed")}).code, 0u);
  const Screen plain = vm.Capture();
  ASSERT_EQ(vm.Call("Cls", {}).code, 0u);
  ASSERT_EQ(vm.Call("EnableLayers", {}).code, 0u);
  ASSERT_EQ(vm.Call("SetFontStyle", {64, 0xFF0000, 2}).code, 0u);
  ASSERT_EQ(vm.Call("SetFontStyle", {32, 0x00FF00, 3, 3}).code, 0u);
  ASSERT_EQ(vm.Call("TextOut", {10, 10, CmdArg::Str("Ed")}).code, 0u);
  const qmLayer *layer = FirstLayer(vm.Pic());
  ASSERT_NE(layer, nullptr);
  EXPECT_EQ(layer->border.on, 1);
  EXPECT_EQ(layer->border.color, 0xFF0000u);
  EXPECT_EQ(layer->border.size, 2);
  EXPECT_EQ(layer->shadow.on, 1);
  EXPECT_EQ(layer->shadow.color, 0x00FF00u);
  EXPECT_EQ(layer->shadow.size, 3);
  EXPECT_EQ(layer->shadow.direction, 3);
  // The stored request is the plain one, so a new rendering adds no edge of its own.
  EXPECT_EQ(layer->base->textRequest->style.style & (32 | 64), 0);
  // The text's pixels are those of the plain text; the border shows around them in red.
  const Screen shown = vm.Capture();
  int textSame = 0, text = 0, red = 0;
  for (size_t i = 0; i < shown.size(); i++) {
    if (plain[i] != kBackground) text++, textSame += shown[i] == plain[i];
    red += shown[i] == 0xFF0000;
  }
  EXPECT_GT(text, 10);
  EXPECT_EQ(textSame, text);
  EXPECT_GT(red, text);
  // A transparent colour: the layer's transparency, over an opaque picture of the colour.
  ASSERT_EQ(vm.Call("Cls", {}).code, 0u);
  ASSERT_EQ(vm.Call("SetFontStyle", {1}).code, 0u);
  ASSERT_EQ(vm.Call("SetFontColor", {double(0x80FFFFFFu)}).code, 0u);
  ASSERT_EQ(vm.Call("TextOut", {10, 10, CmdArg::Str("Ed")}).code, 0u);
  layer = FirstLayer(vm.Pic());
  ASSERT_NE(layer, nullptr);
  EXPECT_EQ(layer->transparency, 0x80);
  EXPECT_EQ(layer->border.on, 0);
  EXPECT_EQ(layer->shadow.on, 0);
  EXPECT_EQ(layer->base->textRequest->style.color, 0xFFFFFFu);
  EXPECT_EQ(layer->base->own.alpha, nullptr);
}

// SelectLayer on a layer that would draw its picture anew (text, a text object, a shape) turns it into a layer of a brush of its picture, kept only for it: what is drawn into
// it stays when the layer is scaled, each pixel of the doubled layer being the drawn layer's
// pixel at half its place. A second selection keeps that brush; it goes with the layer.
TEST(SelectLayer, LayersThatDrawAnewBecomeBrushLayersOfTheirPicture) {
  struct Row {
    const char *name;
    int32_t type;
    std::function<void(ObjectLayersVm &)> draw;
  } rows[] = {
      {"TextOut", QMTYPE_TEXTOUT,
       [](ObjectLayersVm &vm) {
         ASSERT_EQ(vm.Call("SetFont", {CmdArg::Str(":::default_sans"), 16}).code, 0u);
         ASSERT_EQ(vm.Call("SetFontStyle", {16}).code, 0u);
         ASSERT_EQ(vm.Call("TextOut", {4, 4, CmdArg::Str("Ag")}).code, 0u);
       }},
      {"text object", QMTYPE_TEXTOBJECT,
       [](ObjectLayersVm &vm) {
         ASSERT_EQ(vm.Call("SetFont", {CmdArg::Str(":::default_sans"), 16}).code, 0u);
         ASSERT_EQ(vm.Call("CreateTextObject", {1, CmdArg::Str("Hi")}).code, 0u);
         ASSERT_EQ(vm.Call("DisplayTextObject", {1, 4, 4}).code, 0u);
       }},
      {"box", QMTYPE_BOX,
       [](ObjectLayersVm &vm) { ASSERT_EQ(vm.Call("Box", {4, 4, 18, 11, 0x40C040}).code, 0u); }},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.name);
    ObjectLayersVm vm;
    ASSERT_EQ(vm.Call("EnableLayers", {}).code, 0u);
    r.draw(vm);
    qmLayer *layer = FirstLayer(vm.Pic());
    ASSERT_NE(layer, nullptr);
    ASSERT_EQ(layer->type, r.type);
    // A pixel drawn where the picture shows fully (drawing leaves its mask and alpha).
    const qmPlaneSet &own = layer->base->own;
    ASSERT_NE(own.bitmap, nullptr);
    auto shows = [&](int x, int y) {
      if (own.alpha) return own.alpha->memory[size_t(y) * own.alpha->bytesPerRow + x] == 255;
      if (own.mask) return (own.mask->memory[size_t(y) * own.mask->bytesPerRow + x / 8] & (0x80 >> (x % 8))) != 0;
      return true;
    };
    int bx = -1, by = -1;
    for (int y = 0; y < own.bitmap->height && bx < 0; y++)
      for (int x = 0; x < own.bitmap->width && bx < 0; x++)
        if (shows(x, y)) bx = x, by = y;
    ASSERT_GE(bx, 0);
    const uint32_t brushes = CountObjectsOfType(vm.L, QMTYPE_BRUSH);
    ASSERT_EQ(vm.Call("SelectLayer", {1}).code, 0u);
    ASSERT_EQ(vm.Call("Box", {double(bx), double(by), 1, 1, 0x0000FF}).code, 0u);
    ASSERT_EQ(vm.Call("EndSelect", {}).code, 0u);
    EXPECT_EQ(layer->type, int32_t(QMTYPE_BRUSH));
    EXPECT_EQ(CountObjectsOfType(vm.L, QMTYPE_BRUSH), brushes + 1) << "a brush of the layer's picture";
    const Screen drawn = vm.Capture();
    const int x = layer->current->x, y = layer->current->y, w = layer->current->width, h = layer->current->height;
    ASSERT_EQ(std::count(drawn.begin(), drawn.end(), 0x0000FFu), 1);
    ASSERT_EQ(vm.CallWith("setlayerstyle", [&] {
      vm_pushnumber(vm.L, 1);
      vm_newtable(vm.L);
      vm.Set("scalex", 2), vm.Set("scaley", 2);
      return 2;
    }).code, 0u);
    ASSERT_EQ(layer->current->x, x);
    ASSERT_EQ(layer->current->y, y);
    ASSERT_EQ(layer->current->width, 2 * w);
    ASSERT_EQ(layer->current->height, 2 * h);
    const Screen scaled = vm.Capture();
    int wrong = 0;
    for (int dy = 0; dy < 2 * h && y + dy < kH; dy++)
      for (int dx = 0; dx < 2 * w && x + dx < kW; dx++)
        wrong += scaled[size_t((y + dy) * kW + x + dx)] != drawn[size_t((y + dy / 2) * kW + x + dx / 2)];
    EXPECT_EQ(wrong, 0);
    // Selected again, the layer draws into the brush it has.
    ASSERT_EQ(vm.Call("SelectLayer", {1}).code, 0u);
    ASSERT_EQ(vm.Call("EndSelect", {}).code, 0u);
    EXPECT_EQ(CountObjectsOfType(vm.L, QMTYPE_BRUSH), brushes + 1);
    ASSERT_EQ(vm.Call("RemoveLayer", {1}).code, 0u);
    EXPECT_EQ(CountObjectsOfType(vm.L, QMTYPE_BRUSH), brushes) << "the layer's brush goes with it";
  }
}

constexpr uint32_t kBlue = 0x0000FF;

// SelectLayer on a brush part layer draws into the whole brush at whole-brush coordinates; the
// layer stays a part layer and shows its part of the changed brush. The brush is drawn into as
// it is only when the script freed it and no other layer shows it; otherwise the layer gets a
// copy of its own, and the script's brush and the other layer stay as they were. The copy goes
// with the layer.
TEST(SelectLayer, BrushPartLayersDrawIntoTheirWholeBrush) {
  constexpr uint32_t kBrush = 0xC08040;
  // The part: brush (3, 2) to (18, 13) shown at (4, 4); the other layer shows it whole at (50, 30).
  constexpr int kPartX = 3, kPartY = 2, kAtX = 4, kAtY = 4, kPartW = 16, kPartH = 12, kOtherX = 50, kOtherY = 30;
  struct Row {
    const char *name;
    bool freeFirst;    // FreeBrush before the selection
    bool otherLayer;   // a layer below shows the same brush whole
    int x, y;          // whole-brush coordinates drawn at
    bool copy;         // the layer gets a copy of the brush
  } rows[] = {
      {"inside the part, brush kept by the script", false, false, 5, 6, true},
      {"outside the part", false, false, 1, 0, true},
      {"freed brush that this layer alone shows", true, false, 10, 8, false},
      {"freed brush that another layer shows too", true, true, 10, 8, true},
      {"brush that another layer shows, right of the part", false, true, 20, 14, true},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.name);
    ObjectLayersVm vm;
    const uint32_t none = CountObjectsOfType(vm.L, QMTYPE_BRUSH);
    ASSERT_EQ(vm.Call("EnableLayers", {}).code, 0u);
    ASSERT_EQ(vm.Call("CreateBrush", {1, 24, 16, double(kBrush)}).code, 0u);
    if (r.otherLayer) { ASSERT_EQ(vm.Call("DisplayBrush", {1, kOtherX, kOtherY}).code, 0u); }
    ASSERT_EQ(vm.Call("DisplayBrushPart", {1, kPartX, kPartY, kAtX, kAtY, kPartW, kPartH}).code, 0u);
    if (r.freeFirst) { ASSERT_EQ(vm.Call("FreeBrush", {1}).code, 0u); }
    qmLayer *part = LastLayer(vm.Pic());
    qmLayer *other = r.otherLayer ? FirstLayer(vm.Pic()) : nullptr;
    const qmObjectId shown = part->object;
    const int position = r.otherLayer ? 2 : 1;
    const uint32_t brushes = CountObjectsOfType(vm.L, QMTYPE_BRUSH);
    const Screen before = vm.Capture();

    ASSERT_EQ(vm.Call("SelectLayer", {position}).code, 0u);
    ASSERT_EQ(vm.Call("Box", {double(r.x), double(r.y), 1, 1, double(kBlue)}).code, 0u);
    ASSERT_EQ(vm.Call("EndSelect", {}).code, 0u);

    EXPECT_EQ(part->type, int32_t(QMTYPE_BRUSHPART));
    EXPECT_EQ(CountObjectsOfType(vm.L, QMTYPE_BRUSH), brushes + (r.copy ? 1 : 0));
    EXPECT_EQ(part->object.id == shown.id && part->object.handle == shown.handle, !r.copy);
    qmBrush *drawn = nullptr;
    ASSERT_EQ(FindBrush(ObjectRegistryOf(vm.L), &part->object, &drawn, FINDBRUSH_DELETED), 0u);
    EXPECT_EQ(drawn->deleted, 1u) << "kept only for the layer";
    EXPECT_EQ(DisplayVm::BitmapPixel(drawn->bitmap, r.x, r.y), kBlue);
    qmObjectId first{1, 0};
    qmBrush *scripts = nullptr;
    if (!r.freeFirst) {
      ASSERT_EQ(FindBrush(ObjectRegistryOf(vm.L), &first, &scripts, 0), 0u);
      EXPECT_EQ(DisplayVm::BitmapPixel(scripts->bitmap, r.x, r.y), kBrush) << "the script's brush is untouched";
    }
    if (other) { EXPECT_TRUE(other->object.id == shown.id && other->object.handle == shown.handle); }

    const Screen after = vm.Capture();
    const bool inside = r.x >= kPartX && r.x < kPartX + kPartW && r.y >= kPartY && r.y < kPartY + kPartH;
    EXPECT_EQ(std::count(after.begin(), after.end(), kBlue), inside ? 1 : 0);
    if (inside) { EXPECT_EQ(after[size_t((kAtY + r.y - kPartY) * kW + kAtX + r.x - kPartX)], kBlue); }
    int changed = 0;
    for (size_t i = 0; i < after.size(); i++) changed += after[i] != before[i];
    EXPECT_EQ(changed, inside ? 1 : 0) << "the other layer shows the brush it showed";

    // Selected again, the layer draws into the brush it has now.
    ASSERT_EQ(vm.Call("SelectLayer", {position}).code, 0u);
    ASSERT_EQ(vm.Call("EndSelect", {}).code, 0u);
    EXPECT_EQ(CountObjectsOfType(vm.L, QMTYPE_BRUSH), brushes + (r.copy ? 1 : 0));
    ASSERT_EQ(vm.Call("RemoveLayer", {position}).code, 0u);
    EXPECT_EQ(CountObjectsOfType(vm.L, QMTYPE_BRUSH), brushes - (r.copy ? 0 : 1)) << "the layer's brush goes with it";
    if (r.otherLayer) { ASSERT_EQ(vm.Call("RemoveLayer", {1}).code, 0u); }
    if (!r.freeFirst) { ASSERT_EQ(vm.Call("FreeBrush", {1}).code, 0u); }
    EXPECT_EQ(CountObjectsOfType(vm.L, QMTYPE_BRUSH), none);
  }
}

// SelectLayer on a background-picture part layer draws into the picture the layer keeps of its
// own, at the layer's coordinates. A layer that keeps none draws into the whole picture at
// whole-picture coordinates, into a copy made for it while the script holds the picture.
TEST(SelectLayer, PicturePartLayersDrawIntoTheirOwnPictureOrTheWholePicture) {
  constexpr uint32_t kPicture = 0x808000;
  constexpr int kPartX = 4, kPartY = 5, kAtX = 10, kAtY = 10;
  struct Row {
    const char *name;
    bool dropOwn;  // the layer reads the picture itself rather than a picture of its own
    int x, y;      // drawn at
  } rows[] = {
      {"own picture, layer coordinates", false, 3, 3},
      {"no own picture, whole-picture coordinates", true, kPartX + 3, kPartY + 3},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.name);
    ObjectLayersVm vm;
    ASSERT_EQ(vm.Call("CreateBGPic", {2, 32, 24, double(kPicture)}).code, 0u);
    ASSERT_EQ(vm.Call("EnableLayers", {}).code, 0u);
    ASSERT_EQ(vm.Call("DisplayBGPicPart", {2, kPartX, kPartY, 16, 12, kAtX, kAtY}).code, 0u);
    qmLayer *layer = FirstLayer(vm.Pic());
    ASSERT_NE(layer, nullptr);
    if (r.dropOwn) FreePlaneSet(&layer->base->own);
    const qmObjectId shown = layer->object;
    const uint32_t pictures = CountObjectsOfType(vm.L, QMTYPE_BGPIC);

    ASSERT_EQ(vm.Call("SelectLayer", {1}).code, 0u);
    ASSERT_EQ(vm.Call("Box", {double(r.x), double(r.y), 1, 1, double(kBlue)}).code, 0u);
    ASSERT_EQ(vm.Call("EndSelect", {}).code, 0u);

    EXPECT_EQ(layer->type, int32_t(QMTYPE_BGPICPART));
    const Screen after = vm.Capture();
    EXPECT_EQ(std::count(after.begin(), after.end(), kBlue), 1);
    EXPECT_EQ(after[size_t((kAtY + 3) * kW + kAtX + 3)], kBlue);
    qmObjectId two{2, 0};
    qmBGPic *scripts = nullptr;
    ASSERT_EQ(FindBGPic(ObjectRegistryOf(vm.L), &two, &scripts, 0), 0u);
    EXPECT_EQ(DisplayVm::BitmapPixel(scripts->master.bitmap, kPartX + 3, kPartY + 3), kPicture)
        << "the script's picture is untouched";
    EXPECT_EQ(CountObjectsOfType(vm.L, QMTYPE_BGPIC), pictures + (r.dropOwn ? 1 : 0));
    if (r.dropOwn) {
      EXPECT_FALSE(layer->object.id == shown.id && layer->object.handle == shown.handle);
      qmBGPic *copy = nullptr;
      ASSERT_EQ(FindBGPic(ObjectRegistryOf(vm.L), &layer->object, &copy, FINDBGPIC_DELETED), 0u);
      EXPECT_EQ(copy->deleted, 1u);
      EXPECT_EQ(DisplayVm::BitmapPixel(copy->master.bitmap, r.x, r.y), kBlue);
    }
    ASSERT_EQ(vm.Call("RemoveLayer", {1}).code, 0u);
    EXPECT_EQ(CountObjectsOfType(vm.L, QMTYPE_BGPIC), pictures) << "the layer's copy goes with it";
  }
}

// SetLayerStyle with the content keys of a text layer sets the text anew: what the layer shows
// afterwards is what the text command shows, without layers, for the text as the style leaves it.
TEST(TextLayerStyle, ContentKeysSetTheTextAnew) {
  struct Case {
    const char *name;
    std::function<void(ObjectLayersVm &)> made;      // the layer, drawn with layers on
    std::function<void(ObjectLayersVm &)> style;     // the table's keys
    std::function<void(ObjectLayersVm &)> expected;  // the same text drawn without layers
  } cases[] = {
      {"another text",
       [](ObjectLayersVm &vm) { ASSERT_EQ(vm.Call("TextOut", {4, 4, CmdArg::Str("HH")}).code, 0u); },
       [](ObjectLayersVm &vm) { vm.SetText("text", "Wig"); },
       [](ObjectLayersVm &vm) { ASSERT_EQ(vm.Call("TextOut", {4, 4, CmdArg::Str("Wig")}).code, 0u); }},
      {"another colour",
       [](ObjectLayersVm &vm) { ASSERT_EQ(vm.Call("TextOut", {4, 4, CmdArg::Str("HH")}).code, 0u); },
       [](ObjectLayersVm &vm) { vm.Set("color", 0xFF8000); },
       [](ObjectLayersVm &vm) {
         ASSERT_EQ(vm.Call("SetFontColor", {0xFF8000}).code, 0u);
         ASSERT_EQ(vm.Call("TextOut", {4, 4, CmdArg::Str("HH")}).code, 0u);
       }},
      {"another font and size",
       [](ObjectLayersVm &vm) { ASSERT_EQ(vm.Call("TextOut", {4, 4, CmdArg::Str("HH")}).code, 0u); },
       [](ObjectLayersVm &vm) { vm.SetText("font", ":::default_serif"), vm.Set("fontsize", 28); },
       [](ObjectLayersVm &vm) {
         ASSERT_EQ(vm.Call("SetFont", {CmdArg::Str(":::default_serif"), 28}).code, 0u);
         ASSERT_EQ(vm.Call("TextOut", {4, 4, CmdArg::Str("HH")}).code, 0u);
       }},
      {"bold and underlined",
       [](ObjectLayersVm &vm) { ASSERT_EQ(vm.Call("TextOut", {4, 4, CmdArg::Str("HH")}).code, 0u); },
       [](ObjectLayersVm &vm) { vm.Set("fontstyle", 2 | 8); },
       [](ObjectLayersVm &vm) {
         ASSERT_EQ(vm.Call("SetFontStyle", {2 | 8}).code, 0u);
         ASSERT_EQ(vm.Call("TextOut", {4, 4, CmdArg::Str("HH")}).code, 0u);
       }},
      {"wrapped at a right margin, moved",
       [](ObjectLayersVm &vm) { ASSERT_EQ(vm.Call("TextOut", {4, 4, CmdArg::Str("HH")}).code, 0u); },
       [](ObjectLayersVm &vm) { vm.SetText("text", "HH HH"), vm.Set("rightmargin", 40), vm.Set("x", 10); },
       [](ObjectLayersVm &vm) { ASSERT_EQ(vm.Call("TextOut", {10, 4, CmdArg::Str("HH HH"), POS_LEFT, 40}).code, 0u); }},
      {"a Print block at another cursor",
       [](ObjectLayersVm &vm) { ASSERT_EQ(vm.Call("Print", {CmdArg::Str("Ab")}).code, 0u); },
       [](ObjectLayersVm &vm) { vm.Set("cursorx", 30), vm.Set("cursory", 20), vm.SetText("text", "Cd"); },
       [](ObjectLayersVm &vm) {
         ASSERT_EQ(vm.Call("Locate", {30, 20}).code, 0u);
         ASSERT_EQ(vm.Call("Print", {CmdArg::Str("Cd")}).code, 0u);
       }},
      {"a Print block with tab stops",
       [](ObjectLayersVm &vm) { ASSERT_EQ(vm.Call("Print", {CmdArg::Str("a\tb")}).code, 0u); },
       [&](ObjectLayersVm &vm) {
         vm_pushstring(vm.L, "tabs");
         vm_newtable(vm.L);
         for (int k = 0; k < 2; k++) {
           vm_pushnumber(vm.L, k ? 20 : 50);  // put in order by the reader
           vm_rawseti(vm.L, -2, k);
         }
         vm_settable(vm.L, -3);
       },
       [](ObjectLayersVm &vm) {
         ASSERT_EQ(vm.Call("AddTab", {20}).code, 0u);
         ASSERT_EQ(vm.Call("AddTab", {50}).code, 0u);
         ASSERT_EQ(vm.Call("Print", {CmdArg::Str("a\tb")}).code, 0u);
       }},
      {"a scaled layer, set at its scale",
       [](ObjectLayersVm &vm) {
         ASSERT_EQ(vm.CallTags("TextOut", {vm.Num(4), vm.Num(4), vm.Str("HH")}, [&] { vm.Set("scalex", 2); }), 0u);
       },
       [](ObjectLayersVm &vm) { vm.SetText("text", "Wig"); },
       [](ObjectLayersVm &vm) {
         // A fresh layer of the new text at that scale, as the peer of the changed one.
         ASSERT_EQ(vm.Call("EnableLayers", {}).code, 0u);
         ASSERT_EQ(vm.CallTags("TextOut", {vm.Num(4), vm.Num(4), vm.Str("Wig")}, [&] { vm.Set("scalex", 2); }), 0u);
       }},
      {"a brush layer turned into a text block",
       [](ObjectLayersVm &vm) {
         ASSERT_EQ(vm.Call("CreateBrush", {5, 8, 8, 0x00FF00}).code, 0u);
         ASSERT_EQ(vm.Call("DisplayBrush", {5, 4, 4}).code, 0u);
       },
       [](ObjectLayersVm &vm) { vm.Set("type", QMTYPE_TEXTOUT), vm.SetText("text", "Ty"); },
       [](ObjectLayersVm &vm) { ASSERT_EQ(vm.Call("TextOut", {4, 4, CmdArg::Str("Ty")}).code, 0u); }},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Screen want, got;
    {
      ObjectLayersVm vm;
      ASSERT_EQ(vm.Call("SetFont", {CmdArg::Str(":::default_sans"), 20}).code, 0u);
      c.expected(vm);
      want = vm.Capture();
    }
    ObjectLayersVm vm;
    ASSERT_EQ(vm.Call("SetFont", {CmdArg::Str(":::default_sans"), 20}).code, 0u);
    ASSERT_EQ(vm.Call("EnableLayers", {}).code, 0u);
    c.made(vm);
    ASSERT_EQ(CountLayers(vm.Pic()), 1);
    const uint32_t brushes = CountObjectsOfType(vm.L, QMTYPE_BRUSH);
    ASSERT_EQ(vm.CallTags("SetLayerStyle", {vm.Num(1)}, [&] { c.style(vm); }), 0u);
    EXPECT_GT(CountInk(want, kBackground), 0);
    EXPECT_TRUE(SameScreen(vm.Capture(), want));
    EXPECT_EQ(CountLayers(vm.Pic()), 1);
    EXPECT_EQ(CountObjectsOfType(vm.L, QMTYPE_BRUSH), brushes) << "a script's brush stays";
  }
}

// A font the applet carries is opened by the name the script knows it by, in a style table as
// in SetFont; a name the applet does not carry stays a file name and is not found.
TEST(TextLayerStyle, FontKeyOpensTheAppletsOwnFont) {
  const std::string vera = kVeraDir + "VeraMono.ttf";
  std::FILE *f = std::fopen(vera.c_str(), "rb");
  ASSERT_NE(f, nullptr) << vera;
  std::fseek(f, 0, SEEK_END);
  const long size = std::ftell(f);
  std::fclose(f);
  qmApplet applet{};
  CopyString(applet.programPath, vera.c_str(), sizeof applet.programPath);
  ASSERT_EQ(AddLinkedFile(&applet, "Carried.ttf", "", 0, uint32_t(size)), 0u);
  {
    ObjectLayersVm vm;
    qmApplet *own = GetAppletRecord(vm.L);
    SetAppletRecord(vm.L, &applet);
    ASSERT_EQ(vm.Call("SetFont", {CmdArg::Str(":::default_sans"), 20}).code, 0u);
    ASSERT_EQ(vm.Call("EnableLayers", {}).code, 0u);
    ASSERT_EQ(vm.Call("TextOut", {4, 4, CmdArg::Str("HH")}).code, 0u);
    const Screen before = vm.Capture();
    EXPECT_EQ(vm.CallTags("SetLayerStyle", {vm.Num(1)}, [&] { vm.SetText("font", "Uncarried.ttf"); }),
              uint32_t(ERR_OPENFONT));
    const auto carried = [&] { vm.SetText("font", "Carried.ttf"), vm.Set("fontsize", 30); };
    EXPECT_EQ(vm.CallTags("SetLayerStyle", {vm.Num(1)}, carried), 0u);
    EXPECT_FALSE(SameScreen(vm.Capture(), before)) << "the text is drawn again in the carried font";
    SetAppletRecord(vm.L, own);
  }
  FreeAppletLists(&applet);
}

// The content keys' refusals, each before anything changes, and what GetLayerStyle reads back.
TEST(TextLayerStyle, RefusalsAndReadBack) {
  ObjectLayersVm vm;
  ASSERT_EQ(vm.Call("SetFont", {CmdArg::Str(":::default_sans"), 20}).code, 0u);
  ASSERT_EQ(vm.Call("EnableLayers", {}).code, 0u);
  ASSERT_EQ(vm.Call("TextOut", {4, 4, CmdArg::Str("HH")}).code, 0u);
  ASSERT_EQ(vm.Call("Print", {CmdArg::Str("Pr")}).code, 0u);
  ASSERT_EQ(vm.Call("CreateBrush", {5, 8, 8, 0x00FF00}).code, 0u);
  ASSERT_EQ(vm.Call("DisplayBrush", {5, 60, 40}).code, 0u);
  const Screen before = vm.Capture();
  auto tabs = [&](int n) {
    vm_pushstring(vm.L, "tabs");
    vm_newtable(vm.L);
    for (int k = 0; k < n; k++) {
      vm_pushnumber(vm.L, 2 * k + 1);
      vm_rawseti(vm.L, -2, k);
    }
    vm_settable(vm.L, -3);
  };
  struct Refusal {
    const char *name;
    int layer;
    std::function<void()> style;
    uint32_t code;
  } refusals[] = {
      {"encoding 2", 1, [&] { vm.Set("encoding", 2); }, ERR_WRONGUSAGE},
      {"a negative right margin", 1, [&] { vm.Set("rightmargin", -1); }, ERR_WRONGUSAGE},
      {"a negative left margin", 2, [&] { vm.Set("leftmargin", -1); }, ERR_WRONGUSAGE},
      {"a cursor with a position", 2, [&] { vm.Set("cursorx", 5), vm.Set("x", 3); }, ERR_WRONGUSAGE},
      {"a cursor with a relative move", 2, [&] { vm.Set("cursory", 5), vm.Set("translatey", 3); }, ERR_WRONGUSAGE},
      {"a cursor at CENTER", 2, [&] { vm.Set("cursorx", POS_CENTER); }, ERR_NOCOORDCST},
      {"a cursor at BOTTOM", 2, [&] { vm.Set("cursory", POS_BOTTOM); }, ERR_NOCOORDCST},
      {"a 32nd tab", 2, [&] { tabs(32); }, ERR_INTERNAL},
      {"a tab that is no number", 2, [&] { vm.SetText("tabs", "x"); }, ERR_TABEXPECTED},
      {"a font that is not there", 1, [&] { vm.SetText("font", "no such face at all"), vm.Set("fontengine", 4); },
       ERR_OPENFONT},
      {"a text block without its text", 3, [&] { vm.Set("type", QMTYPE_TEXTOUT); }, ERR_MISSINGPARAMTR},
      {"a Print block without its text", 3, [&] { vm.Set("type", QMTYPE_PRINT); }, ERR_MISSINGPARAMTR},
  };
  for (const Refusal &r : refusals) {
    EXPECT_EQ(vm.CallTags("SetLayerStyle", {vm.Num(r.layer)}, r.style), r.code) << r.name;
    EXPECT_TRUE(SameScreen(vm.Capture(), before)) << r.name;
  }
  EXPECT_EQ(GetNthLayer(vm.Pic(), 3)->type, QMTYPE_BRUSH);
  // 31 tabs are taken.
  EXPECT_EQ(vm.CallTags("SetLayerStyle", {vm.Num(2)}, [&] { tabs(31); }), 0u);
  // A cursor x outside the margins goes to the left margin.
  ASSERT_EQ(vm.CallTags("SetLayerStyle", {vm.Num(2)}, [&] { vm.Set("leftmargin", 6), vm.Set("cursorx", 500); }), 0u);
  ASSERT_EQ(vm.CallTags("SetLayerStyle", {vm.Num(1)},
                        [&] { vm.SetText("text", "Wo"), vm.Set("color", 0x123456), vm.Set("fontsize", 24); }),
            0u);
  vm_settop(vm.L, 0);
  vm_pushstring(vm.L, "getlayerstyle");
  vm_gettable(vm.L, VM_GLOBALSINDEX);
  vm_pushnumber(vm.L, 1);
  ASSERT_EQ(vm_pcall(vm.L, 1, 1, 0), 0);
  auto field = [&](const char *key) {
    vm_pushstring(vm.L, key);
    vm_gettable(vm.L, 1);
    std::string v = vm_type(vm.L, -1) == VM_TSTRING ? vm_tostring(vm.L, -1) : std::to_string(vm_tonumber(vm.L, -1));
    vm_pop(vm.L, 1);
    return v;
  };
  EXPECT_EQ(field("text"), "Wo");
  EXPECT_EQ(field("color"), std::to_string(double(0x123456)));
  EXPECT_EQ(field("fontsize"), std::to_string(24.0));
  EXPECT_EQ(field("encoding"), std::to_string(0.0));
  EXPECT_EQ(field("font"), "Bitstream Vera Sans");
  EXPECT_EQ(field("x"), std::to_string(4.0));
  vm_settop(vm.L, 0);
  EXPECT_EQ(GetNthLayer(vm.Pic(), 2)->base->textRequest->cursorX, 6);
}

// Text layers given another type become layers of that type, read by its own keys.
TEST(TextLayerStyle, TextLayersTakeOtherTypes) {
  ObjectLayersVm vm;
  ASSERT_EQ(vm.Call("EnableLayers", {}).code, 0u);
  ASSERT_EQ(vm.Call("CreateBrush", {5, 6, 4, 0x00FF00}).code, 0u);
  ASSERT_EQ(vm.Call("CreateTextObject", {3, CmdArg::Str("Obj")}).code, 0u);
  ASSERT_EQ(vm.Call("DisplayTextObject", {3, 4, 4}).code, 0u);
  ASSERT_EQ(vm.Call("TextOut", {40, 30, CmdArg::Str("HH")}).code, 0u);
  ASSERT_EQ(vm.CallTags("SetLayerStyle", {vm.Num(1)}, [&] { vm.Set("type", QMTYPE_BRUSH), vm.Set("id", 5); }), 0u);
  ASSERT_EQ(vm.CallTags("SetLayerStyle", {vm.Num(2)},
                        [&] {
                          vm.Set("type", QMTYPE_BOX), vm.Set("sizex", 7), vm.Set("sizey", 3), vm.Set("color", 0xFF);
                          vm.Set("fillstyle", 1);
                        }),
            0u);
  const qmLayer *brush = GetNthLayer(vm.Pic(), 1), *box = GetNthLayer(vm.Pic(), 2);
  EXPECT_EQ(brush->type, QMTYPE_BRUSH);
  EXPECT_EQ(brush->object.id, 5u);
  EXPECT_EQ(box->type, QMTYPE_BOX);
  Screen want(size_t(kW) * kH, kBackground);
  for (int y = 0; y < 4; y++)
    for (int x = 0; x < 6; x++) want[size_t((4 + y) * kW + 4 + x)] = 0x00FF00;
  for (int y = 0; y < 3; y++)
    for (int x = 0; x < 7; x++) want[size_t((30 + y) * kW + 40 + x)] = 0x0000FF;
  EXPECT_TRUE(SameScreen(vm.Capture(), want));
}

// A text object layer shown another text object: it shows that object's picture where it is.
TEST(TextLayerStyle, TextObjectLayerShowsAnotherObject) {
  Screen want;
  {
    ObjectLayersVm vm;
    ASSERT_EQ(vm.Call("SetFont", {CmdArg::Str(":::default_sans"), 16}).code, 0u);
    ASSERT_EQ(vm.Call("CreateTextObject", {4, CmdArg::Str("Other")}).code, 0u);
    ASSERT_EQ(vm.Call("DisplayTextObject", {4, 10, 12}).code, 0u);
    want = vm.Capture();
  }
  ObjectLayersVm vm;
  ASSERT_EQ(vm.Call("SetFont", {CmdArg::Str(":::default_sans"), 16}).code, 0u);
  ASSERT_EQ(vm.Call("CreateTextObject", {3, CmdArg::Str("Obj")}).code, 0u);
  ASSERT_EQ(vm.Call("CreateTextObject", {4, CmdArg::Str("Other")}).code, 0u);
  ASSERT_EQ(vm.Call("EnableLayers", {}).code, 0u);
  ASSERT_EQ(vm.Call("DisplayTextObject", {3, 10, 12}).code, 0u);
  const Screen before = vm.Capture();
  EXPECT_EQ(vm.CallTags("SetLayerStyle", {vm.Num(1)}, [&] { vm.Set("id", 9); }), ERR_FINDTEXTOBJECT);
  EXPECT_TRUE(SameScreen(vm.Capture(), before));
  ASSERT_EQ(vm.CallTags("SetLayerStyle", {vm.Num(1)}, [&] { vm.Set("id", 4); }), 0u);
  EXPECT_TRUE(SameScreen(vm.Capture(), want));
  EXPECT_EQ(FirstLayer(vm.Pic())->object.id, 4u);
  EXPECT_EQ(FirstLayer(vm.Pic())->origin.id, 3u) << "the id the layer was drawn with stays";
}

}  // namespace
