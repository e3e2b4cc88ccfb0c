// The text library as a script uses it: the text state commands as tables of cases, and Print,
// NPrint and TextOut on a display of the dummy desktop, read back from its picture.
#include <gtest/gtest.h>

#include "display/display.h"
#include "display/imagecore.h"
#include "graphics/blit.h"
#include "graphics/bitmapops.h"
#include "platform/keycodes.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/eventqueue.h"
#include "runtime/objlist.h"
#include "runtime/vm/vm_api.h"
#include "tests/display/display_vm.h"
#include "tests/platform/sdl_lsan_suppressions.h"
#include "text/text/textoutput.h"
#include "text/textobject.h"

namespace {

struct TextLib : ::testing::Test {
  DisplayVm vm;
  qmDisplay *d = nullptr;
  void SetUp() override {
    ASSERT_EQ(vm.Create(1, [&] { vm.Set("width", 96), vm.Set("height", 48), vm.Set("color", 0); }).code, 0u);
    ASSERT_EQ(vm.Call("OpenDisplay", {1}).code, 0u);
    d = DisplayVm::Display(1);
    ASSERT_NE(d, nullptr);
  }
  // The columns and rows of the background picture that hold the colour.
  struct Ink {
    int left = 1000, top = 1000, right = -1, bottom = -1, count = 0;
  };
  // kAnyInk: every pixel that is not black.
  static constexpr uint32_t kAnyInk = 0xFFFFFFFF;
  Ink InkOf(uint32_t rgb) const {
    Ink ink;
    const qmBitmap *b = d->backgroundCopy;
    for (int y = 0; y < b->height; y++)
      for (int x = 0; x < b->width; x++)
        if (rgb == kAnyInk ? DisplayVm::BitmapPixel(b, x, y) != 0 : DisplayVm::BitmapPixel(b, x, y) == rgb) {
          ink.count++;
          ink.left = std::min(ink.left, x);
          ink.right = std::max(ink.right, x);
          ink.top = std::min(ink.top, y);
          ink.bottom = std::max(ink.bottom, y);
        }
    return ink;
  }
};

TEST_F(TextLib, PrintMovesTheCursor) {
  ASSERT_EQ(vm.Call("SetFontColor", {0xFF0000}).code, 0u);
  ASSERT_EQ(vm.Call("Print", {CmdArg::Str("Hi")}).code, 0u);
  EXPECT_EQ(d->cursorX, 16);
  EXPECT_EQ(d->cursorY, 0);
  Ink ink = InkOf(0xFF0000);
  EXPECT_GT(ink.count, 10);
  EXPECT_GE(ink.left, 0);
  EXPECT_LT(ink.right, 16);
  EXPECT_LT(ink.bottom, 8);
  EXPECT_EQ(DisplayVm::WindowPixel(d, ink.left, ink.top), 0xFF0000u) << "shown in the window";
  // NPrint joins its values with a blank and ends the line; nil prints as "nil".
  ASSERT_EQ(vm.Call("NPrint", {CmdArg::Str("a"), 1}).code, 0u);
  EXPECT_EQ(d->cursorX, 0);
  EXPECT_EQ(d->cursorY, 8);
  ASSERT_EQ(vm.Call("Print", {CmdArg::Nil()}).code, 0u);
  EXPECT_EQ(d->cursorX, 24);
  // A tab without stops breaks the line; with a stop it moves there.
  ASSERT_EQ(vm.Call("Print", {CmdArg::Str("\tx")}).code, 0u);
  EXPECT_EQ(d->cursorX, 8);
  EXPECT_EQ(d->cursorY, 16);
  ASSERT_EQ(vm.Call("AddTab", {40}).code, 0u);
  ASSERT_EQ(vm.Call("Print", {CmdArg::Str("\ty")}).code, 0u);
  EXPECT_EQ(d->cursorX, 48);
  // A failed pass leaves the cursor where it was.
  EXPECT_EQ(vm.Call("Print", {CmdArg::Str("a]b")}).code, ERR_TEXTSYNTAX);
  EXPECT_EQ(d->cursorX, 48);
  EXPECT_EQ(vm.Call("Print", {}).code, ERR_MISSINGPARAMTR);
}

TEST_F(TextLib, TextOutPlacesAndClips) {
  ASSERT_EQ(vm.Call("SetFontColor", {0x00FF00}).code, 0u);
  ASSERT_EQ(vm.Call("TextOut", {10, 20, CmdArg::Str("A")}).code, 0u);
  Ink ink = InkOf(0x00FF00);
  EXPECT_GE(ink.left, 10);
  EXPECT_LT(ink.right, 18);
  EXPECT_GE(ink.top, 20);
  EXPECT_LT(ink.bottom, 28);
  // Right-aligned at the picture's edge, and far outside it: no ink outside, no fault.
  ASSERT_EQ(vm.Call("TextOut", {POS_RIGHT, POS_BOTTOM, CmdArg::Str("ZZ")}).code, 0u);
  ink = InkOf(0x00FF00);
  EXPECT_LE(ink.right, 95);
  EXPECT_GT(ink.right, 88);
  EXPECT_EQ(vm.Call("TextOut", {-500, 9000, CmdArg::Str("far away")}).code, 0u);
  EXPECT_EQ(vm.Call("TextOut", {0, 0, CmdArg::Str("x"), POS_LEFT, -1}).code, ERR_WRONGUSAGE);
  EXPECT_EQ(vm.Call("TextOut", {0, 0}).code, ERR_MISSINGPARAMTR);
  EXPECT_EQ(vm.Call("TextOut", {0, 0, CmdArg::Str("x"), POS_LEFT, 0, 1}).code, ERR_TOOMANYARGS);
}

// The same text drawn anti-aliased in Vera through TextOut shows where FreeType puts it.
TEST_F(TextLib, TrueTypeTextShows) {
  ASSERT_EQ(vm.Call("SetFont", {CmdArg::Str(":::default_sans"), 20}).code, 0u);
  EXPECT_EQ(vm.Call("TextHeight", {CmdArg::Str("")}).results.at(0), 20);
  ASSERT_EQ(vm.Call("SetFontStyle", {16}).code, 0u);
  ASSERT_EQ(vm.Call("SetFontColor", {0xFFFFFF}).code, 0u);
  ASSERT_EQ(vm.Call("TextOut", {4, 4, CmdArg::Str("Vg")}).code, 0u);
  Ink ink = InkOf(kAnyInk);
  EXPECT_GT(ink.count, 40);
  EXPECT_GT(InkOf(0xFFFFFF).count, 5);
  EXPECT_GE(ink.left, 4);
  EXPECT_GE(ink.top, 4);
  double width = vm.Call("TextWidth", {CmdArg::Str("Vg")}).results.at(0);
  EXPECT_LE(ink.right, 4 + int(width) + 1);
  EXPECT_LT(ink.bottom, 4 + 21);
}

TEST_F(TextLib, StyleCommands) {
  qmTextStyle *s = &GetTextState(vm.L)->style;
  struct Step {
    std::vector<CmdArg> args;
    uint32_t err;
    int32_t style, distance, direction, edge;
  } steps[] = {
      {{2}, 0, 2, 4, 3, 2},
      {{4}, 0, 6, 4, 3, 2},
      {{1 | 2}, 0, 1, 4, 3, 2},
      {{32, 0x123456, 100, 9}, 0, 33 & ~1, 64, 3, 2},
      {{64, 0xFF, 0}, 0, 32 | 64, 64, 3, 1},
      {{2, 5}, ERR_TOOMANYARGS, 32 | 64, 64, 3, 1},
      {{1}, 0, 1, 64, 3, 1},
  };
  for (const Step &st : steps) {
    EXPECT_EQ(vm.Call("SetFontStyle", st.args).code, st.err);
    EXPECT_EQ(s->style, st.style);
    EXPECT_EQ(s->shadowDistance, st.distance);
    EXPECT_EQ(s->shadowDirection, st.direction);
    EXPECT_EQ(s->edgeSize, st.edge);
  }
  // SetFont and UseFont reset the style to NORMAL.
  ASSERT_EQ(vm.Call("SetFontStyle", {2}).code, 0u);
  ASSERT_EQ(vm.Call("SetFont", {CmdArg::Str("topaz"), 8}).code, 0u);
  EXPECT_EQ(s->style, 1);
}

TEST_F(TextLib, CursorMarginsAndTabs) {
  EXPECT_EQ(vm.Call("SetMargins", {100, 100}).code, ERR_WRONGUSAGE);
  ASSERT_EQ(vm.Call("SetMargins", {-5, 99999}).code, 0u);
  EXPECT_EQ(d->textMarginLeft, 0);
  EXPECT_EQ(d->textMarginRight, 95);
  ASSERT_EQ(vm.Call("SetMargins", {10, 50}).code, 0u);
  ASSERT_EQ(vm.Call("Locate", {60, 7}).code, 0u);
  EXPECT_EQ(d->cursorX, 10) << "outside the margins: the left margin";
  EXPECT_EQ(d->cursorY, 7);
  EXPECT_EQ(vm.Call("Locate", {POS_CENTER, 0}).code, ERR_NOCOORDCST);
  ASSERT_EQ(vm.Call("AddTab", {10, 10, 5}).code, 0u);
  EXPECT_EQ(d->tabCount, 3);
  EXPECT_EQ(d->tabStops[0], 5);
  EXPECT_EQ(vm.Call("AddTab", {-1}).code, ERR_NEGCOORDS);
  ASSERT_EQ(vm.Call("ResetTabs", {}).code, 0u);
  for (int i = 0; i < 32; i++) ASSERT_EQ(vm.Call("AddTab", {i}).code, 0u);
  EXPECT_EQ(vm.Call("AddTab", {99}).code, ERR_INTERNAL);
}

TEST_F(TextLib, MeasuringAndFonts) {
  EXPECT_EQ(vm.Call("TextWidth", {CmdArg::Str("abc")}).results.at(0), 24);
  EXPECT_EQ(vm.Call("TextWidth", {CmdArg::Str("")}).results.at(0), 0);
  EXPECT_EQ(vm.Call("TextWidth", {CmdArg::Str("a"), 2}).code, ERR_WRONGUSAGE);
  EXPECT_EQ(vm.Call("TextWidth", {CmdArg::Str("a"), -1}).code, ERR_WRONGUSAGE);
  EXPECT_EQ(vm.Call("SetDefaultEncoding", {2}).code, ERR_WRONGUSAGE);
  // GetKerningPair: two characters only, however long the input.
  ASSERT_EQ(vm.Call("SetFont", {CmdArg::Str(":::default_sans"), 60}).code, 0u);
  EXPECT_LT(vm.Call("GetKerningPair", {CmdArg::Str("A"), CmdArg::Str("V")}).results.at(0), 0);
  std::string huge(5000, 'A');
  EXPECT_EQ(vm.Call("GetKerningPair", {CmdArg::Str(huge.c_str()), CmdArg::Str(huge.c_str())}).results.at(0), 0);
  EXPECT_EQ(vm.Call("GetKerningPair", {CmdArg::Str(""), CmdArg::Str("V")}).results.at(0), 0);
  // Font objects: the font stays in the cache when its object goes.
  ASSERT_EQ(vm.Call("OpenFont", {3, CmdArg::Str(":::default_serif"), 12}).code, 0u);
  ASSERT_EQ(vm.Call("SetFontStyle", {2}).code, 0u);
  ASSERT_EQ(vm.Call("UseFont", {3}).code, 0u);
  EXPECT_EQ(GetTextState(vm.L)->style.style, 1);
  EXPECT_EQ(vm.Call("TextHeight", {CmdArg::Str("x")}).results.at(0), 12);
  qmFont *serif = GetTextState(vm.L)->style.font;
  ASSERT_EQ(vm.Call("OpenFont", {3, CmdArg::Str(":::default_serif"), 12}).code, 0u);
  ASSERT_EQ(vm.Call("UseFont", {3}).code, 0u);
  EXPECT_EQ(GetTextState(vm.L)->style.font, serif);
  ASSERT_EQ(vm.Call("CloseFont", {3}).code, 0u);
  EXPECT_EQ(vm.Call("TextHeight", {CmdArg::Str("x")}).results.at(0), 12) << "still usable";
  EXPECT_EQ(vm.Call("CloseFont", {3}).code, ERR_FINDFONT2);
  EXPECT_EQ(vm.Call("FreeGlyphCache", {1, 99}).code, ERR_FINDFONT2);
  EXPECT_EQ(vm.Call("FreeGlyphCache", {0}).code, 0u);
  EXPECT_EQ(vm.Call("SetFont", {CmdArg::Str("fonts/x.font"), 8}).code, ERR_FONTPATH);
  EXPECT_EQ(vm.Call("SetFont", {CmdArg::Str("No Such Font"), 8}).code, ERR_OPENFONT);
  EXPECT_EQ(vm.Call("AddFontPath", {CmdArg::Str("/no/such/folder")}).code, ERR_LOCK2);
}

TEST_F(TextLib, TextExtentTable) {
  // The table's fields for a text and for an empty one (all zero).
  const struct {
    const char *text;
    double width, miny, maxx, height;
  } rows[] = {{"ab", 16, -6, 15, 8}, {"", 0, 0, 0, 0}};
  for (const auto &row : rows) {
    vm_settop(vm.L, 0);
    vm_pushstring(vm.L, "textextent");
    vm_gettable(vm.L, VM_GLOBALSINDEX);
    vm_pushstring(vm.L, row.text);
    ASSERT_EQ(vm_pcall(vm.L, 1, 1, 0), 0u);
    auto field = [&](const char *key) {
      vm_pushstring(vm.L, key);
      vm_gettable(vm.L, -2);
      double v = vm_tonumber(vm.L, -1);
      vm_pop(vm.L, 1);
      return v;
    };
    EXPECT_EQ(field("width"), row.width) << row.text;
    EXPECT_EQ(field("miny"), row.miny) << row.text;
    EXPECT_EQ(field("maxx"), row.maxx) << row.text;
    EXPECT_EQ(field("height"), row.height) << row.text;
  }
  vm_settop(vm.L, 0);
}

qmTextObject *TextObject(VmState *L, uint32_t id) {
  qmObjectId oid{id, 0};
  return reinterpret_cast<qmTextObject *>(FindObject(L, QMTYPE_TEXTOBJECT, &oid));
}

TEST_F(TextLib, TextObjectsLifecycle) {
  ASSERT_EQ(vm.Call("SetFontColor", {0x0000FF}).code, 0u);
  ASSERT_EQ(vm.Call("CreateTextObject", {1, CmdArg::Str("Hello")}).code, 0u);
  qmTextObject *o = TextObject(vm.L, 1);
  ASSERT_NE(o, nullptr);
  EXPECT_EQ(o->width, 40);
  EXPECT_EQ(o->height, 9);
  ASSERT_EQ(vm.Call("DisplayTextObject", {1, 30, 10}).code, 0u);
  Ink ink = InkOf(0x0000FF);
  EXPECT_GE(ink.left, 30);
  EXPECT_LT(ink.right, 70);
  EXPECT_GE(ink.top, 10);
  // Replacing: a locked object stays as it is.
  o->locked = 1;
  EXPECT_EQ(vm.Call("CreateTextObject", {1, CmdArg::Str("Bye")}).code, ERR_LOCKEDOBJ);
  EXPECT_EQ(TextObject(vm.L, 1)->width, 40);
  EXPECT_EQ(vm.Call("FreeTextObject", {1}).code, ERR_LOCKEDOBJ);
  o->locked = 0;
  ASSERT_EQ(vm.Call("CreateTextObject", {1, CmdArg::Str("Bye")}).code, 0u);
  EXPECT_EQ(TextObject(vm.L, 1)->width, 24);
  EXPECT_EQ(vm.Call("CopyTextObject", {1, 1}).code, ERR_WRONGUSAGE);
  ASSERT_EQ(vm.Call("CopyTextObject", {1, 2}).code, 0u);
  EXPECT_EQ(TextObject(vm.L, 2)->width, 24);
  ASSERT_EQ(vm.Call("FreeTextObject", {1}).code, 0u);
  EXPECT_EQ(vm.Call("FreeTextObject", {1}).code, ERR_FINDTEXTOBJECT);
  EXPECT_EQ(vm.Call("DisplayTextObject", {1, 0, 0}).code, ERR_FINDTEXTOBJECT);
  EXPECT_EQ(vm.Call("DisplayTextObject", {2, 0, 0}).code, 0u);
  EXPECT_EQ(vm.Call("CreateTextObject", {3, CmdArg::Str("x"), POS_LEFT, -1}).code, ERR_WRONGUSAGE);
  EXPECT_EQ(vm.Call("CreateTextObject", {3, CmdArg::Str("[x]")}).code, ERR_UNKTEXTFMT);
  EXPECT_EQ(TextObject(vm.L, 3), nullptr);
}

TEST_F(TextLib, TextObjectsTurnAndScale) {
  ASSERT_EQ(vm.Call("CreateTextObject", {1, CmdArg::Str("Turn me")}).code, 0u);
  qmTextObject *o = TextObject(vm.L, 1);
  const int32_t w = o->width, h = o->height, ox = o->xOffset, oy = o->yOffset;
  ASSERT_EQ(vm.Call("RotateTextObject", {1, 90}).code, 0u);
  EXPECT_NEAR(o->width, h, 2);
  EXPECT_NEAR(o->height, w, 2);
  ASSERT_EQ(vm.Call("RotateTextObject", {1, -90}).code, 0u);
  int32_t w270 = o->width, h270 = o->height;
  ASSERT_EQ(vm.Call("RotateTextObject", {1, 270}).code, 0u);
  EXPECT_EQ(o->width, w270);
  EXPECT_EQ(o->height, h270);
  ASSERT_EQ(vm.Call("RotateTextObject", {1, 360}).code, 0u);
  EXPECT_EQ(o->width, w);
  EXPECT_EQ(o->height, h);
  EXPECT_EQ(o->xOffset, ox);
  EXPECT_EQ(o->yOffset, oy);
  // Fifty per cent wide, the height in proportion (a bitmap font: scaled as pixels).
  ASSERT_EQ(vm.Call("ScaleTextObject", {1, CmdArg::Str("50%"), 100000}).code, 0u);
  EXPECT_EQ(o->width, (w + 1) / 2);
  EXPECT_NEAR(o->height, (h + 1) / 2, 1);
  EXPECT_EQ(vm.Call("ScaleTextObject", {1, 100000, 100000}).code, ERR_WRONGUSAGE);
  EXPECT_EQ(vm.Call("ScaleTextObject", {1, 0, 10}).code, ERR_BADDIMENSIONS);
  // A scalable font renders again at the size asked for, with its line breaks kept.
  ASSERT_EQ(vm.Call("SetFont", {CmdArg::Str(":::default_sans"), 20}).code, 0u);
  ASSERT_EQ(vm.Call("CreateTextObject", {2, CmdArg::Str("two words here"), POS_LEFT, 60}).code, 0u);
  qmTextObject *t = TextObject(vm.L, 2);
  const int32_t tw = t->width, th = t->height;
  ASSERT_NE(t->request.breaks, nullptr);
  std::vector<int32_t> breaks = *t->request.breaks;
  ASSERT_EQ(vm.Call("ScaleTextObject", {2, tw * 2, th * 2}).code, 0u);
  EXPECT_NEAR(t->width, tw * 2, 6);
  EXPECT_NEAR(t->height, th * 2, 6);
  EXPECT_EQ(*t->request.breaks, breaks);
  EXPECT_EQ(GetTextState(vm.L)->style.font->xScale, 1.0) << "the font's scale is restored";
}

// TextOut's option table and DisplayTextObject's fourth argument are display tags: the anchor
// places the picture, "rotate" turns TextOut's block, transparency and tint change its pixels.
TEST_F(TextLib, DisplayTagsOfTextOutAndTextObjects) {
  ASSERT_EQ(vm.Call("SetFontColor", {0xFFFFFF}).code, 0u);
  auto textOut = [&](double x, double y, const char *text, const std::function<void()> &tags) {
    return vm.CallWith("textout", [&] {
      vm_pushnumber(vm.L, x), vm_pushnumber(vm.L, y), vm_pushstring(vm.L, text);
      vm_newtable(vm.L);
      tags();
      return 4;
    }).code;
  };
  auto clear = [&] { ASSERT_EQ(vm.Call("Cls", {}).code, 0u); };
  // The bottom-right corner at (40, 20), in the table's own colour.
  ASSERT_EQ(textOut(40, 20, "AB", [&] { vm.Set("anchorx", 1), vm.Set("anchory", 1), vm.Set("color", 0xFF0000); }),
            0u);
  Ink ink = InkOf(0xFF0000);
  EXPECT_GT(ink.count, 10);
  EXPECT_LT(ink.right, 40);
  EXPECT_GE(ink.left, 24);
  EXPECT_LT(ink.bottom, 20);
  EXPECT_GE(ink.top, 12);
  // A quarter turn stands the block upright.
  clear();
  ASSERT_EQ(textOut(10, 40, "ABCD", [&] { vm.Set("rotate", 90); }), 0u);
  ink = InkOf(kAnyInk);
  EXPECT_GT(ink.bottom - ink.top, 20);
  EXPECT_LT(ink.right - ink.left, 9);
  // Half transparent white over black is middle grey, and tinted white is blue.
  clear();
  ASSERT_EQ(textOut(0, 0, "AB", [&] { vm.Set("transparency", 128); }), 0u);
  ink = InkOf(kAnyInk);
  EXPECT_GT(ink.count, 10);
  EXPECT_EQ(InkOf(0xFFFFFF).count, 0);
  for (int y = ink.top; y <= ink.bottom; y++)
    for (int x = ink.left; x <= ink.right; x++) {
      const uint32_t p = DisplayVm::BitmapPixel(d->backgroundCopy, x, y);
      if (p) {
        EXPECT_NEAR(int(p & 0xFF), 127, 2) << x << "," << y << std::hex << " " << p;
      }
    }
  clear();
  ASSERT_EQ(textOut(0, 0, "AB", [&] { vm.Set("tint", 255), vm.Set("tintcolor", 0x0000FF); }), 0u);
  EXPECT_EQ(InkOf(0xFFFFFF).count, 0);
  EXPECT_GT(InkOf(0x0000FF).count + InkOf(0x0000FE).count, 10);
  EXPECT_EQ(textOut(0, 0, "x", [&] { vm.Set("anchorx", 3); }), ERR_WRONGUSAGE);

  // A text object placed by its anchor, and drawn half transparent from a copy.
  clear();
  ASSERT_EQ(vm.Call("CreateTextObject", {1, CmdArg::Str("Hello")}).code, 0u);
  auto display = [&](double x, double y, const std::function<void()> &tags) {
    return vm.CallWith("displaytextobject", [&] {
      vm_pushnumber(vm.L, 1), vm_pushnumber(vm.L, x), vm_pushnumber(vm.L, y);
      vm_newtable(vm.L);
      tags();
      return 4;
    }).code;
  };
  ASSERT_EQ(display(90, 40, [&] { vm.Set("anchorx", 1), vm.Set("anchory", 1), vm.Set("transparency", 128); }), 0u);
  ink = InkOf(kAnyInk);
  EXPECT_LT(ink.right, 90);
  EXPECT_GE(ink.left, 50);
  EXPECT_LT(ink.bottom, 40);
  EXPECT_EQ(InkOf(0xFFFFFF).count, 0);
  // The object itself keeps its opaque picture.
  clear();
  ASSERT_EQ(vm.Call("DisplayTextObject", {1, 0, 0}).code, 0u);
  EXPECT_GT(InkOf(0xFFFFFF).count, 10);
  EXPECT_EQ(display(0, 0, [&] { vm.Set("anchory", -1); }), ERR_WRONGUSAGE);
}

// Text drawn while a brush is the selected output goes into the brush, not onto the display.
TEST_F(TextLib, TextIntoASelectedBrush) {
  ASSERT_EQ(vm.Call("CreateBrush", {5, 48, 10, 0x000080}).code, 0u);
  ASSERT_EQ(vm.Call("SetFontColor", {0xFFFF00}).code, 0u);
  ASSERT_EQ(vm.Call("CreateTextObject", {1, CmdArg::Str("Obj")}).code, 0u);
  ASSERT_EQ(vm.Call("SelectBrush", {5}).code, 0u);
  ASSERT_EQ(vm.Call("TextOut", {0, 1, CmdArg::Str("Hi")}).code, 0u);
  ASSERT_EQ(vm.Call("SetFontStyle", {64, 0xFF0000, 1}).code, 0u);  // an edge: the full path
  ASSERT_EQ(vm.Call("TextOut", {17, 1, CmdArg::Str("Hi")}).code, 0u);
  ASSERT_EQ(vm.Call("DisplayTextObject", {1, 34, 1}).code, 0u);
  ASSERT_EQ(vm.Call("EndSelect", {}).code, 0u);
  int yellow[3] = {0, 0, 0}, red = 0;
  for (int y = 0; y < 10; y++)
    for (int x = 0; x < 48; x++) {
      const double rgb = vm.Call("ReadBrushPixel", {5, x, y}).results.at(0);
      if (rgb == 0xFFFF00) yellow[std::min(x / 17, 2)]++;
      if (rgb == 0xFF0000) red++;
    }
  EXPECT_GT(yellow[0], 5) << "the plain text";
  EXPECT_GT(yellow[1], 5) << "the edged text";
  EXPECT_GT(red, 5) << "its edge";
  EXPECT_GT(yellow[2], 0) << "the text object";
  EXPECT_EQ(InkOf(kAnyInk).count, 0) << "the display is untouched";
}

// InKeyStr reads the keys queued before it runs; the picture afterwards is the input printed
// once at the cursor where it began.
struct InKeyStrCase {
  const char *name;
  std::vector<uint32_t> keys;  // before RETURN
  int32_t filter, maxLength, password;
  const char *typed, *shown;
};

TEST_F(TextLib, InKeyStrFiltersAndEchoes) {
  const uint32_t BS = KEY_BACKSPACE, SP = KEY_SPACE;
  const InKeyStrCase cases[] = {
      {"all", {'a', SP, 'b'}, 0, 0, 0, "a b", "a b"},
      {"numerical", {'1', 'a', SP, '2'}, 3, 0, 0, "12", "12"},
      {"hex", {'f', 'A', 'g', '9'}, 4, 0, 0, "fA9", "fA9"},
      {"alphabetical", {'x', '1', SP, 'y'}, 2, 0, 0, "x y", "x y"},
      {"backspace", {BS, 'a', 'b', BS, 'c'}, 0, 0, 0, "ac", "ac"},
      {"maximum", {'a', 'b', 'c'}, 0, 2, 0, "ab", "ab"},
      {"password", {'s', 'e', 'c'}, 0, 0, 1, "sec", "***"},
      {"unknown filter", {'a'}, 9, 0, 0, "", ""},
  };
  for (const InKeyStrCase &c : cases) {
    // The expected picture: the shown text printed on a cleared background.
    ASSERT_EQ(vm.Call("Locate", {8, 16}).code, 0u);
    FillBitmapRect(d->backgroundCopy, 0, 0, 96, 48, 0);
    if (c.shown[0]) {
      ASSERT_EQ(vm.Call("Print", {CmdArg::Str(c.shown)}).code, 0u);
    }
    qmBitmap *want = nullptr;
    ASSERT_EQ(CopyBitmap(d->backgroundCopy, nullptr, nullptr, 0, 0, 96, 48, 0, &want, nullptr, nullptr), 0u);
    int32_t wantX = d->cursorX;
    FillBitmapRect(d->backgroundCopy, 0, 0, 96, 48, 0);
    ASSERT_EQ(vm.Call("Locate", {8, 16}).code, 0u);
    for (uint32_t k : c.keys) {
      PostEvent(d, EVENT_KEY, 1, 0, k, nullptr);
      PostEvent(d, EVENT_KEY, 0, 0, k, nullptr);
    }
    PostEvent(d, EVENT_KEY, 1, 0, KEY_RETURN, nullptr);
    vm_settop(vm.L, 0);
    vm_pushstring(vm.L, "inkeystr");
    vm_gettable(vm.L, VM_GLOBALSINDEX);
    vm_pushnumber(vm.L, c.filter);
    vm_pushnumber(vm.L, c.maxLength);
    vm_pushnumber(vm.L, c.password);
    ASSERT_EQ(vm_pcall(vm.L, 3, 1, 0), 0u) << c.name;
    EXPECT_STREQ(vm_tostring(vm.L, -1), c.typed) << c.name;
    vm_settop(vm.L, 0);
    EXPECT_EQ(d->cursorX, wantX) << c.name;
    int differ = 0;
    for (int y = 0; y < 48; y++)
      for (int x = 0; x < 96; x++) differ += DisplayVm::BitmapPixel(want, x, y) != DisplayVm::BitmapPixel(d->backgroundCopy, x, y);
    EXPECT_EQ(differ, 0) << c.name;
    FreeBitmap(want);
  }
}

// With layers on, the layers library's hook gets every TextOut and Print block.
TEST_F(TextLib, TextLayersGoThroughTheHook) {
  static std::vector<std::string> seen;
  seen.clear();
  GetPlayerContext(vm.L)->addTextLayer = [](qmScene *, const qmTextRequest *r, qmImageLayer *layer) -> uint32_t {
    seen.push_back(std::to_string(layer->kind) + ":" + r->text + ":" + std::to_string(layer->requestedX) + "," +
                   std::to_string(layer->requestedY) + ":" + std::to_string(layer->width));
    // The planes were handed over.
    FreeBitmap(layer->bitmap), FreeMask(layer->mask), FreeAlphaChannel(layer->alpha);
    return std::string(r->text) == "refused" ? uint32_t(ERR_MEM) : 0u;
  };
  d->layersOn = 1;
  ASSERT_EQ(vm.Call("TextOut", {5, 6, CmdArg::Str("ab")}).code, 0u);
  ASSERT_EQ(vm.Call("Print", {CmdArg::Str("c")}).code, 0u);
  EXPECT_EQ(vm.Call("TextOut", {0, 0, CmdArg::Str("refused")}).code, ERR_MEM);
  d->layersOn = 0;
  ASSERT_EQ(vm.Call("TextOut", {5, 6, CmdArg::Str("no layers")}).code, 0u);
  GetPlayerContext(vm.L)->addTextLayer = nullptr;
  EXPECT_EQ(seen, (std::vector<std::string>{"9:ab:5,6:16", "11:c:0,0:8", "9:refused:0,0:56"}));
}

}  // namespace

// GetAttribute of text objects and fonts: the picture's size, the text, the font's figures.
TEST_F(TextLib, GetAttributeOfTextObjectsAndFonts) {
  auto attr = [&](double type, double id, double attribute, std::string *text = nullptr) {
    vm_settop(vm.L, 0);
    vm_pushstring(vm.L, "getattribute");
    vm_gettable(vm.L, VM_GLOBALSINDEX);
    vm_pushnumber(vm.L, type);
    vm_pushnumber(vm.L, id);
    vm_pushnumber(vm.L, attribute);
    uint32_t code = vm_pcall(vm.L, 3, 1, 0);
    double value = -1;
    if (code) vm_setendrequested(vm.L, 0);
    else if (text) *text = vm_tostring(vm.L, -1);
    else value = vm_tonumber(vm.L, -1);
    vm_settop(vm.L, 0);
    return std::make_pair(code, value);
  };
  constexpr double kTextObject = 8, kFont = 43;
  constexpr double kWidth = 0, kHeight = 1, kHasMask = 16, kAscender = 30, kDescender = 31, kName = 32,
                   kSize = 33, kScalable = 34, kText = 36, kCount = 60;
  ASSERT_EQ(vm.Call("CreateTextObject", {1, CmdArg::Str("Hello")}).code, 0u);
  const qmTextObject *o = TextObject(vm.L, 1);
  ASSERT_NE(o, nullptr);
  EXPECT_EQ(attr(kTextObject, 1, kWidth).second, o->width);
  EXPECT_EQ(attr(kTextObject, 1, kHeight).second, o->height);
  std::string text;
  EXPECT_EQ(attr(kTextObject, 1, kText, &text).first, 0u);
  EXPECT_EQ(text, "Hello");
  EXPECT_EQ(attr(kTextObject, 1, kSize).second, 8) << "the built-in 8-pixel font";
  EXPECT_EQ(attr(kTextObject, 1, kScalable).second, 0);
  EXPECT_EQ(attr(kTextObject, 0, kCount).second, 1);
  EXPECT_EQ(attr(kTextObject, 2, kWidth).first, ERR_FINDTEXTOBJECT);
  EXPECT_EQ(attr(kTextObject, 1, kHasMask).first, ERR_UNKNOWNATTR);

  ASSERT_EQ(vm.Call("OpenFont", {3, CmdArg::Str(":::default_serif"), 12}).code, 0u);
  ASSERT_EQ(vm.Call("UseFont", {3}).code, 0u);
  const double height = vm.Call("TextHeight", {CmdArg::Str("x")}).results.at(0);
  EXPECT_EQ(attr(kFont, 3, kSize).second, 12);
  EXPECT_EQ(attr(kFont, 3, kScalable).second, 1);
  EXPECT_EQ(attr(kFont, 3, kAscender).second + attr(kFont, 3, kDescender).second, height);
  std::string name;
  EXPECT_EQ(attr(kFont, 3, kName, &name).first, 0u);
  EXPECT_FALSE(name.empty());
  EXPECT_EQ(attr(kFont, 0, kCount).second, 1);
  EXPECT_EQ(attr(kFont, 4, kSize).first, ERR_FINDFONT2);
  EXPECT_EQ(attr(kFont, 3, kWidth).first, ERR_UNKNOWNATTR);
}
