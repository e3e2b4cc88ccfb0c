// The layout pass and the run renderer, as tables of texts on the built-in 8x8 font (every
// character 8 pixels wide, so widths are easy to follow).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "graphics/blit.h"
#include "runtime/errcodes.h"
#include "text/textlayout.h"
#include "tests/text/text_test_util.h"

namespace {

struct TextLayoutTest : FontEngineTest {
  qmTextRequest Request(const char *text, int32_t wrap = 0, int32_t align = POS_LEFT) {
    qmTextRequest r{};
    r.style = {QM_STYLE_NORMAL, 0xFFFFFF, 0, 0x0093DD, 4, 3, 2, topaz};
    r.text = const_cast<char *>(text);
    r.wrap = wrap;
    r.align = align;
    return r;
  }
  // "line:x:text" per run, joined with "|".
  static std::string Describe(const qmTextLayout &l) {
    std::string out;
    for (const qmTextRun &r : l.runs) {
      if (!out.empty()) out += "|";
      out += std::to_string(r.lineTop / 8) + ":" + std::to_string(r.x) + ":" + std::string(&l.text[size_t(r.start)], size_t(r.length));
    }
    return out;
  }
};

TEST_F(TextLayoutTest, TagsAndEscapes) {
  struct Case {
    const char *text;
    uint32_t err;
    const char *runs;
  } cases[] = {
      {"a[[b]]c", 0, "0:0:a[b]c"},
      {"a]b", ERR_TEXTSYNTAX, ""},
      {"[x]a", ERR_UNKTEXTFMT, ""},
      {"[bx]a", ERR_UNKTEXTFMT, ""},
      {"[colour=1]a", ERR_UNKTEXTFMT, ""},  // "color" is no prefix of "colour"
      {"[color a]a", ERR_TEXTARG, ""},
      {"[color]a", ERR_TEXTARG, ""},
      {"[color=$FF0000 a", ERR_SQBRACKETCLOSE, ""},
      {"[color=\"red\"]a", ERR_VALUEEXPECTED, ""},
      {"[/color]a", ERR_TEXTSYNTAX, ""},
      {"[shadow=0,0]a", ERR_WRONGUSAGE, ""},
      {"[edge=$FF,9]a", ERR_WRONGUSAGE, ""},
      {"[edge=$FF,8]a", 0, "0:0:a"},
      {"[b", ERR_SQBRACKETCLOSE, ""},
      {"a[b]b[/b]c", 0, "0:0:a|0:8:b|0:16:c"},      // bold inks one more column, same advance
      {"a[ B ]b[ / b ]c", 0, "0:0:a|0:8:b|0:16:c"},  // blanks inside tags
      {"[b][/b]ab", 0, "0:0:ab"},                    // no text between: no run of its own
      {"a[u][/u]b", 0, "0:0:a|0:8:b"},
      {"[color=$FF]a[color=#RED]b[/color]c[/color]d", 0, "0:0:a|0:8:b|0:16:c|0:24:d"},
      {"", 0, "0:0: "},
  };
  auto lookup = [](void *, const char *text, size_t *consumed, double *number) -> uint32_t {
    if (std::strncmp(text, "RED", 3) != 0) return ERR_VALUEEXPECTED;
    *consumed = 3;
    *number = 0xFF0000;
    return 0;
  };
  for (const Case &c : cases) {
    qmTextRequest r = Request(c.text);
    qmTextLayout l;
    EXPECT_EQ(LayoutTextBlock(&r, QM_TEXT_TEXTOUT, 0, lookup, nullptr, 0, &l), c.err) << c.text;
    if (!c.err) {
      EXPECT_EQ(Describe(l), c.runs) << c.text;
    }
  }
  // Nested colours unwind in reverse order.
  qmTextRequest r = Request("[color=1]a[color=2]b[/color]c[/color]d");
  qmTextLayout l;
  ASSERT_EQ(LayoutTextBlock(&r, QM_TEXT_TEXTOUT, 0, nullptr, nullptr, 0, &l), 0u);
  ASSERT_EQ(l.runs.size(), 4u);
  EXPECT_EQ(l.runs[0].style.color, 1u);
  EXPECT_EQ(l.runs[1].style.color, 2u);
  EXPECT_EQ(l.runs[2].style.color, 1u);
  EXPECT_EQ(l.runs[3].style.color, 0xFFFFFFu);
  // Plain mode: brackets are text, doubled ones still one.
  r = Request("[b]a]]");
  ASSERT_EQ(LayoutTextBlock(&r, QM_TEXT_PRINT, 1, nullptr, nullptr, 0, &l), 0u);
  EXPECT_EQ(Describe(l), "0:0:[b]a]");
}

TEST_F(TextLayoutTest, WrappingAndLineBreaks) {
  struct Case {
    const char *text;
    int32_t wrap;
    std::vector<int32_t> table;  // replayed when not empty
    const char *runs;
  } cases[] = {
      {"aa bb cc", 0, {}, "0:0:aa bb cc"},
      {"aa bb cc", 50, {}, "0:0:aa bb |1:0:cc"},
      {"aa bb cc", 39, {}, "0:0:aa |1:0:bb |2:0:cc"},
      {"abcdefgh ij", 20, {}, "0:0:abcdefgh |1:0:ij"},  // a long first word overflows its line
      {"a\nb\n\nc", 0, {}, "0:0:a|1:0:b|3:0:c"},
      {"a\r\nb", 0, {}, "0:0:a|1:0:b"},
      {"aa bb cc dd", 0, {1, 3}, "0:0:aa |1:0:bb cc |2:0:dd"},  // a table breaks whatever the widths
      {"aa bb cc dd", 1000, {2}, "0:0:aa bb |1:0:cc dd"},
      {"x[b]yy zz", 30, {}, "0:0:x|0:8:yy |1:0:zz"},
      {"aa b[b]b", 30, {}, "0:0:aa |1:0:b|1:8:b"},      // a word split by a tag moves whole
  };
  for (const Case &c : cases) {
    qmTextRequest r = Request(c.text, c.wrap);
    std::vector<int32_t> table = c.table;
    if (!table.empty()) r.breaks = &table;
    qmTextLayout l;
    ASSERT_EQ(LayoutTextBlock(&r, QM_TEXT_TEXTOUT, 0, nullptr, nullptr, 0, &l), 0u) << c.text;
    EXPECT_EQ(Describe(l), c.runs) << c.text << " wrap " << c.wrap;
  }
}

// The breaks a pass records are replayed by the next one, even at another width.
TEST_F(TextLayoutTest, RecordedBreaksReplay) {
  qmTextRequest r = Request("one two three four five", 60);
  qmTextLayout first, second;
  ASSERT_EQ(LayoutTextBlock(&r, QM_TEXT_TEXTOUT, 0, nullptr, nullptr, 1, &first), 0u);
  ASSERT_NE(r.breaks, nullptr);
  EXPECT_FALSE(r.breaks->empty());
  r.wrap = 10000;
  ASSERT_EQ(LayoutTextBlock(&r, QM_TEXT_TEXTOUT, 0, nullptr, nullptr, 1, &second), 0u);
  EXPECT_EQ(Describe(first), Describe(second));
  delete r.breaks;
  delete r.tabChoices;
}

TEST_F(TextLayoutTest, TabsInPrintAndTextOut) {
  qmTextRequest r = Request("a\tb");
  qmTextLayout l;
  ASSERT_EQ(LayoutTextBlock(&r, QM_TEXT_TEXTOUT, 0, nullptr, nullptr, 0, &l), 0u);
  EXPECT_EQ(Describe(l), "0:0:a b");
  r.wrap = 639;  // Print wraps at the right margin
  ASSERT_EQ(LayoutTextBlock(&r, QM_TEXT_PRINT, 0, nullptr, nullptr, 0, &l), 0u);
  EXPECT_EQ(Describe(l), "0:0:a|1:0:b");  // no stops: a line break
  r.marginLeft = 10;
  r.cursorX = 10;
  r.wrap = 639;
  r.tabStops[0] = 50;
  r.tabStops[1] = 100;
  r.tabCount = 2;
  r.text = const_cast<char *>("a\tb\tc\td");
  ASSERT_EQ(LayoutTextBlock(&r, QM_TEXT_PRINT, 0, nullptr, nullptr, 0, &l), 0u);
  EXPECT_EQ(Describe(l), "0:0:a|0:40:b|0:90:c|1:0:d");
}

TEST_F(TextLayoutTest, AlignmentWithinTheWidestLine) {
  struct Case {
    int32_t align;
    int32_t secondX;
  } cases[] = {{POS_LEFT, 0}, {POS_CENTER, 12}, {POS_RIGHT, 24}};
  for (const Case &c : cases) {
    // 40 and 16 pixels of ink; trailing blanks do not count for CENTER and RIGHT.
    qmTextRequest r = Request("abcde\nfg  ", 0, c.align);
    qmTextLayout l;
    ASSERT_EQ(LayoutTextBlock(&r, QM_TEXT_TEXTOUT, 0, nullptr, nullptr, 0, &l), 0u);
    qmTextBox box;
    ASSERT_EQ(RenderTextRuns(&r, &l, 0, &box), 0u);
    EXPECT_EQ(l.runs[1].x, c.secondX) << c.align;
    EXPECT_EQ(box.height, 8 + 8 + 1);
    FreeTextBox(&box);
  }
}

TEST_F(TextLayoutTest, BoxGrowsForShadowAndEdge) {
  qmTextRequest r = Request("ab");
  r.style.style = QM_STYLE_SHADOW | QM_STYLE_EDGE;
  r.style.shadowDistance = 3;
  r.style.shadowDirection = 3;
  r.style.edgeSize = 2;
  qmTextLayout l;
  ASSERT_EQ(LayoutTextBlock(&r, QM_TEXT_TEXTOUT, 0, nullptr, nullptr, 0, &l), 0u);
  qmTextBox box;
  ASSERT_EQ(RenderTextRuns(&r, &l, 0, &box), 0u);
  EXPECT_EQ(box.x, -2);
  EXPECT_EQ(box.y, -2);
  EXPECT_EQ(box.width, 16 + 2 + 5);
  EXPECT_EQ(box.height, 8 + 5 + 1 + 2);
  FreeTextBox(&box);
}

// An opaque colour gives a mask picture; a transparent one an alpha picture at 255 - TT.
TEST_F(TextLayoutTest, MaskOrAlphaPicture) {
  for (uint32_t color : {0x00FF0000u, 0x80FF0000u}) {
    qmTextRequest r = Request("H");
    r.style.color = color;
    qmTextLayout l;
    ASSERT_EQ(LayoutTextBlock(&r, QM_TEXT_TEXTOUT, 0, nullptr, nullptr, 0, &l), 0u);
    qmTextBox box;
    ASSERT_EQ(RenderTextRuns(&r, &l, 0, &box), 0u);
    int inked = 0;
    for (int y = 0; y < box.height; y++)
      for (int x = 0; x < box.width; x++) {
        bool on = box.mask ? (box.mask->memory[y * box.mask->bytesPerRow + x / 8] >> (7 - x % 8)) & 1
                           : box.alpha->memory[y * box.alpha->bytesPerRow + x] != 0;
        if (!on) continue;
        inked++;
        EXPECT_EQ(GetBitmapPixel(box.bitmap, x, y, 0), 0xFF0000u);
        if (box.alpha) {
          EXPECT_EQ(box.alpha->memory[y * box.alpha->bytesPerRow + x], 127);
        }
      }
    EXPECT_GT(inked, 8);
    EXPECT_EQ(box.mask != nullptr, color >> 24 == 0);
    FreeTextBox(&box);
  }
}

TEST_F(TextLayoutTest, ExtentsOfSyntheticStyles) {
  struct Case {
    int32_t style;
    int32_t maxX, minX;
  } cases[] = {
      {QM_STYLE_NORMAL, 15, 0},
      {QM_STYLE_BOLD, 16, 0},
      {QM_STYLE_ITALIC, 15 + 3, -1},  // baseline 6 / 2 right, (8 - 6) / 2 left
  };
  for (const Case &c : cases) {
    qmTextStyle s{c.style, 0, 0, 0, 1, 3, 1, topaz};
    qmTextExtent e;
    ASSERT_EQ(ComputeTextExtent("ab", 2, 0, &e, &s), 0u);
    EXPECT_EQ(e.maxX, c.maxX) << c.style;
    EXPECT_EQ(e.minX, c.minX) << c.style;
    EXPECT_EQ(e.width, 16);
  }
  // Anti-aliasing needs a font that can.
  qmTextRequest r = Request("a");
  r.style.style = QM_STYLE_ANTIALIAS;
  qmTextLayout l;
  EXPECT_EQ(LayoutTextBlock(&r, QM_TEXT_TEXTOUT, 0, nullptr, nullptr, 0, &l), uint32_t(ERR_ANTIALIAS));
}

}  // namespace

namespace {

// Anti-aliased Vera with an edge and a shadow: an alpha picture; the text colour inside the
// glyphs, the edge colour around them, the shadow's below and right, all opaque where covered.
TEST_F(TextLayoutTest, AntiAliasedEdgeAndShadow) {
  qmFont *vera = nullptr;
  ASSERT_EQ(GetCachedFont(fonts, ":::default_sans", 32, FONTENGINE_INBUILT, 1, 0, &vera), 0u);
  qmTextRequest r = Request("Il");
  r.style = {QM_STYLE_ANTIALIAS | QM_STYLE_EDGE | QM_STYLE_SHADOW, 0xFF0000, 0x0000FF, 0x00FF00, 6, 3, 2, vera};
  qmTextLayout l;
  ASSERT_EQ(LayoutTextBlock(&r, QM_TEXT_TEXTOUT, 0, nullptr, nullptr, 0, &l), 0u);
  qmTextBox box;
  ASSERT_EQ(RenderTextRuns(&r, &l, 0, &box), 0u);
  ASSERT_NE(box.alpha, nullptr);
  EXPECT_EQ(box.mask, nullptr);
  int text = 0, edge = 0, shadow = 0;
  for (int y = 0; y < box.height; y++)
    for (int x = 0; x < box.width; x++) {
      if (box.alpha->memory[y * box.alpha->bytesPerRow + x] != 255) continue;
      uint32_t p = GetBitmapPixel(box.bitmap, x, y, 0);
      text += p == 0xFF0000;
      edge += p == 0x00FF00;
      shadow += p == 0x0000FF;
    }
  EXPECT_GT(text, 40);
  EXPECT_GT(edge, 40);
  EXPECT_GT(shadow, 40);
  EXPECT_EQ(box.x, -2);
  EXPECT_EQ(box.y, -2);
  FreeTextBox(&box);
}

}  // namespace
