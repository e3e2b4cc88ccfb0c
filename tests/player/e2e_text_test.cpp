// The text library through the real player: formatting tags and their errors, the cursor that
// Print moves, text styles and objects measured by the sizes of the pictures they make, word
// wrapping and a replayed break table, and fonts. The built-in topaz 8 draws every character
// 8 pixels wide and 8 high, so the expected sizes follow from the rules alone.
#include <algorithm>
#include <cstdlib>

#include "tests/player/e2e_util.h"

namespace {

const std::string kWrongUsage = "Wrong usage/parameters for this command!\nRead the documentation!";

// Runs the lines; standard output and the exit status.
PlayerResult RunLines(const PlayerDir &d, const std::vector<ScriptLine> &lines) {
  qmtools::WriteBytes(d / "t.qma", AppletOf(ScriptOf(lines)));
  return d.Run({"-QUIET", "-DEBUGDEVICE", "x", d / "t.qma"});
}

// GetAttribute of the current display (type 21, id 0) and of a text object (type 8).
ScriptLine CursorX() { return {true, "GetAttribute", {21, 0.0, 21}}; }
ScriptLine CursorY() { return {true, "GetAttribute", {21, 0.0, 22}}; }
ScriptLine ObjectWidth(int id) { return {true, "GetAttribute", {8, double(id), 0.0}}; }
ScriptLine ObjectHeight(int id) { return {true, "GetAttribute", {8, double(id), 1}}; }

}  // namespace

// Every error stops the program with its message and the line that caused it.
TEST(E2eText, ErrorsOfTagsAndCommands) {
  PlayerDir d;
  const ScriptLine obj{false, "CreateTextObject", {1, "a"}};
  struct Case {
    const char *name;
    std::vector<ScriptLine> lines;
    std::string message;  // of the last line
  } cases[] = {
      {"lone closing bracket", {{false, "TextOut", {0.0, 0.0, "a]b"}}}, "Syntax error in text format specification!"},
      {"lone closing bracket in Print", {{false, "Print", {"a]b"}}}, "Syntax error in text format specification!"},
      {"unknown tag", {{false, "TextOut", {0.0, 0.0, "[x]a"}}}, "Text format tag after square bracket not recognized!"},
      {"letter after b", {{false, "TextOut", {0.0, 0.0, "[bx]a"}}}, "Text format tag after square bracket not recognized!"},
      {"empty tag", {{false, "TextOut", {0.0, 0.0, "[]a"}}}, "Text format tag after square bracket not recognized!"},
      {"color prefix without =", {{false, "TextOut", {0.0, 0.0, "[colorx=1]a"}}}, "Not enough arguments to this text format tag!"},
      {"color without value", {{false, "TextOut", {0.0, 0.0, "[color]a"}}}, "Not enough arguments to this text format tag!"},
      {"color never closed", {{false, "TextOut", {0.0, 0.0, "[color=1"}}}, "Closing square bracket expected!"},
      {"junk after value", {{false, "TextOut", {0.0, 0.0, "[color=1 x]a"}}}, "Closing square bracket expected!"},
      {"second colour value", {{false, "TextOut", {0.0, 0.0, "[color=1,2]a"}}}, "Closing square bracket expected!"},
      {"value on a closing tag", {{false, "TextOut", {0.0, 0.0, "[color=1][/color=1]a"}}}, "Closing square bracket expected!"},
      {"closing colour first", {{false, "TextOut", {0.0, 0.0, "[/color]a"}}}, "Syntax error in text format specification!"},
      {"shadow distance 0", {{false, "TextOut", {0.0, 0.0, "[shadow=0,0]a"}}}, kWrongUsage},
      {"shadow distance 65", {{false, "TextOut", {0.0, 0.0, "[shadow=0,65]a"}}}, kWrongUsage},
      {"edge size 9", {{false, "TextOut", {0.0, 0.0, "[edge=0,9]a"}}}, kWrongUsage},
      {"quoted value", {{false, "TextOut", {0.0, 0.0, "[color=\\x22x\\x22]a"}}}, "Value expected!"},
      {"string constant", {{false, "TextOut", {0.0, 0.0, "[color=#SANS]a"}}}, "Value expected!"},
      {"empty value", {{false, "TextOut", {0.0, 0.0, "[shadow=1,]a"}}}, "Value expected!"},
      {"anti-aliased topaz", {{false, "SetFontStyle", {16}}, {false, "Print", {"a"}}},
       "This font type does not support anti-aliased output!"},
      {"style with a colour", {{false, "SetFontStyle", {2, 5}}}, "Too many arguments for this function!"},
      {"edge with four", {{false, "SetFontStyle", {64, 1, 2, 3}}}, "Too many arguments for this function!"},
      {"negative tab", {{false, "AddTab", {-1}}}, "Negative coordinates are not allowed here!"},
      {"33rd tab", {{false, "AddTab", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}},
                    {false, "AddTab", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}},
                    {false, "AddTab", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}}},
       "Internal limit encountered! Contact the author..."},
      {"Locate at CENTER", {{false, "Locate", {-100000, 0.0}}}, "You cannot use coordinate constants here!"},
      {"Locate at TOP", {{false, "Locate", {0.0, -70000}}}, "You cannot use coordinate constants here!"},
      {"empty margins", {{false, "SetMargins", {100, 100}}}, kWrongUsage},
      {"encoding 2", {{false, "TextWidth", {"a", 2}}}, kWrongUsage},
      {"encoding -1", {{false, "TextExtent", {"a", -1}}}, kWrongUsage},
      {"default encoding -1", {{false, "SetDefaultEncoding", {-1}}}, kWrongUsage},
      {"negative wordwrap", {{false, "TextOut", {0.0, 0.0, "a", -90000, -1}}}, kWrongUsage},
      {"object encoding 2", {{false, "CreateTextObject", {1, "a", -90000, 0.0, 2}}}, kWrongUsage},
      {"copy onto itself", {obj, {false, "CopyTextObject", {1, 1}}}, kWrongUsage},
      {"free a missing object", {{false, "FreeTextObject", {5}}}, "Could not find text object 5!"},
      {"scale to 0", {obj, {false, "ScaleTextObject", {1, 0.0, 10}}}, "Width/height values must be greater than 0!"},
      {"both sides keep aspect", {obj, {false, "ScaleTextObject", {1, 100000, 100000}}}, kWrongUsage},
      {"glyph cache of a missing font", {{false, "FreeGlyphCache", {1, 99}}}, "Could not find font 99!"},
      {"use a closed font", {{false, "OpenFont", {1, "topaz", 8}}, {false, "CloseFont", {1}}, {false, "UseFont", {1}}},
       "Could not find font 1!"},
      {"font with a path", {{false, "SetFont", {"a/b", 8}}}, "Font specification must not be a file!"},
      {"alias in other capitals", {{false, "SetFont", {":::Default_Serif", 8}}}, "Font specification must not be a file!"},
      {"no such font", {{false, "SetFont", {"nosuchfont", 9}}}, "Cannot open font nosuchfont with size 9!"},
      {"topaz is never scaled", {{false, "SetFont", {"topaz", 9}}}, "Cannot open font topaz with size 9!"},
      {"Print of nothing", {{false, "Print", {}}}, "Not enough arguments!"},
      {"TextOut of six", {{false, "TextOut", {1, 2, "a", 1, 2, 3}}}, "Too many arguments for this function!"},
      {"InKeyStr into a brush", {{false, "CreateBrush", {1, 10, 10}}, {false, "SelectBrush", {1}}, {false, "InKeyStr", {0.0}}},
       "This command cannot be used when SelectBrush() is active!"},
      {"InKeyStr into a mask", {{false, "CreateBrush", {1, 10, 10}}, {false, "SelectMask", {1}}, {false, "InKeyStr", {0.0}}},
       "This command cannot be used when SelectMask() is active!"},
      {"InKeyStr into an alpha channel",
       {{false, "CreateBrush", {1, 10, 10}}, {false, "SelectAlphaChannel", {1}}, {false, "InKeyStr", {0.0}}},
       "This command cannot be used when SelectAlphaChannel() is active!"},
      {"InKeyStr while double buffering", {{false, "BeginDoubleBuffer", {}}, {false, "InKeyStr", {0.0}}},
       "Please end double buffering first!"},
      {"font path that is not there", {{false, "AddFontPath", {"/nonexistent/fonts"}}}, "Error locking /nonexistent/fonts!"},
  };
  for (const Case &c : cases) {
    PlayerResult r = RunLines(d, c.lines);
    EXPECT_EQ(r.status, 1) << c.name << r.err;
    EXPECT_EQ(r.out, "f.qms:" + std::to_string(c.lines.size()) + ": " + c.message + "\n") << c.name;
  }
}

// Tags that are well formed run without error: blanks inside, values in every number format,
// constants, escaped brackets, a direction beyond 7, an edge of 8, nested colours unwound.
TEST(E2eText, WellFormedTagsRun) {
  PlayerDir d;
  PlayerResult r = RunLines(d, {
      {false, "TextOut", {0.0, 0.0, "[ b ]a[ / b ][ i ]b[/i][u]c[/u] [shadow]d[/shadow] [edge]e[/edge]"}},
      {false, "TextOut", {0.0, 0.0, "[color=$ff]a[color=%101]b[color=0x10]c[color=-5]d[color=1.5]e"
                                    "[color=99999999999]f[/color][/color][/color][/color][/color][/color]"}},
      {false, "TextOut", {0.0, 0.0, "[COLOR = #CENTER]a[/Color] a[[b]]c ]]"}},
      {false, "TextOut", {0.0, 0.0, "[shadow=1,2,300]a[/shadow][edge=0,8]b[/edge]"}},
  });
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "");
}

// Print and NPrint move the display's cursor: blanks and line feeds, tab stops (a tab with no
// stop left breaks the line), margins, Locate outside them, escaped brackets, wrapping at the
// right margin.
TEST(E2eText, PrintMovesTheCursor) {
  PlayerDir d;
  PlayerResult r = RunLines(d, {
      {false, "NPrint", {"a", 1}},  // "a 1" and a line feed
      CursorX(), CursorY(),
      {false, "Print", {""}},  // one blank
      CursorX(),
      {false, "NPrint", {""}},
      CursorX(), CursorY(),
      {false, "AddTab", {20}},
      {false, "Print", {"\\tx"}},
      CursorX(),
      {false, "Print", {"\\t"}},  // no stop beyond 28
      CursorX(), CursorY(),
      {false, "AddTab", {10, 5}},  // stops 5, 10, 20
      {false, "Locate", {0.0, 0.0}},
      {false, "Print", {"\\tb\\tc"}},  // 5, b to 13, 20, c to 28
      CursorX(), CursorY(),
      {false, "ResetTabs", {}},
      {false, "Print", {"\\t"}},
      CursorX(), CursorY(),
      {false, "SetMargins", {-5, 99999}},  // cursor to the top left
      CursorX(), CursorY(),
      {false, "Locate", {5000, 3}},  // beyond the right margin: the left one
      CursorX(), CursorY(),
      {false, "Locate", {16, 40}},
      {false, "Print", {"[[b]]"}},  // three characters
      CursorX(),
      {false, "SetMargins", {8, 47}},  // 40 pixels: "abc " fits, "def" goes to the next line
      {false, "Print", {"abc def"}},
      CursorX(), CursorY(),
      {true, "TextWidth", {"abc"}},
      {true, "TextHeight", {""}},
  });
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "0\n8\n8\n0\n16\n28\n0\n24\n28\n0\n0\n8\n0\n0\n0\n3\n40\n32\n8\n24\n8\n");
}

// The sizes of text object pictures show the style state: bold widens by one column, italic
// leans, NORMAL clears everything, shadow distance and direction are clamped, an edge of 2 and
// a south-east shadow of 3 add 2 left and top and 5 right and bottom; SetFont and UseFont reset
// the style. The picture is one pixel higher than the line.
TEST(E2eText, StylesShowInTheSizeOfTextObjects) {
  PlayerDir d;
  PlayerResult r = RunLines(d, {
      {false, "CreateTextObject", {1, "a"}}, ObjectWidth(1), ObjectHeight(1),
      {false, "SetFontStyle", {2}},
      {false, "CreateTextObject", {2, "a"}}, ObjectWidth(2),
      {false, "SetFontStyle", {4}},  // bold and italic
      {false, "CreateTextObject", {3, "a"}},
      {false, "SetFontStyle", {1}},
      {false, "SetFontStyle", {6}},
      {false, "CreateTextObject", {4, "a"}}, ObjectWidth(3), ObjectWidth(4),
      {false, "SetFontStyle", {3}},  // NORMAL wins
      {false, "CreateTextObject", {5, "a"}}, ObjectWidth(5),
      {false, "SetFontStyle", {32, 0.0, 100, 9}},  // distance 64, direction south-east
      {false, "CreateTextObject", {6, "a"}}, ObjectWidth(6), ObjectHeight(6),
      {false, "SetFontStyle", {1}},
      {false, "OpenFont", {1, "topaz", 8}},
      {false, "SetFontStyle", {2}},
      {false, "UseFont", {1}},
      {false, "CreateTextObject", {7, "a"}}, ObjectWidth(7),
      {false, "SetFontStyle", {2}},
      {false, "SetFont", {"topaz.FONT", 8}},
      {false, "CreateTextObject", {8, "a"}}, ObjectWidth(8),
      {false, "SetFontStyle", {64, 255, 2}},
      {false, "SetFontStyle", {32, 0.0, 3, 3}},
      {false, "CreateTextObject", {9, "a"}}, ObjectWidth(9), ObjectHeight(9),
      {false, "SetFontStyle", {1}},
      {false, "CreateTextObject", {10, ""}}, ObjectWidth(10), ObjectHeight(10),  // one blank
  });
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "8\n9\n9\n13\n13\n8\n72\n73\n8\n8\n15\n16\n8\n9\n");
}

// Text objects are replaced under their id, turned and scaled from their first size, and
// copied with their text; one freed while a layer shows it leaves the layer in place.
TEST(E2eText, TextObjectsTurnScaleCopyAndFree) {
  PlayerDir d;
  PlayerResult r = RunLines(d, {
      {false, "CreateTextObject", {1, "ab"}},
      {false, "CreateTextObject", {1, "abc"}}, ObjectWidth(1),
      {false, "RotateTextObject", {1, 90}}, ObjectWidth(1), ObjectHeight(1),
      {false, "RotateTextObject", {1, 360}}, ObjectWidth(1), ObjectHeight(1),
      {false, "RotateTextObject", {1, -90}}, ObjectWidth(1), ObjectHeight(1),
      {false, "RotateTextObject", {1, 0.0}},
      {false, "ScaleTextObject", {1, "50%", 100000}}, ObjectWidth(1), ObjectHeight(1),  // 12 x 4.5
      {false, "CopyTextObject", {1, 2}}, ObjectWidth(2), {true, "GetAttribute", {8, 2, 36}},
      {false, "EnableLayers", {}},
      {false, "DisplayTextObject", {2, 0.0, 0.0}},
      {false, "FreeTextObject", {2}},
      {true, "GetAttribute", {21, 0.0, 6}},  // the display's layers
      {false, "HideLayer", {1}},
      {false, "ShowLayer", {1}},
      {false, "FreeTextObject", {2}},
  });
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.out, "24\n9\n24\n24\n9\n9\n24\n12\n5\n12\nabc\n1\nf.qms:26: Could not find text object 2!\n");
}

// Layout seen through the size of text object pictures: wrapping at the width (a word wider
// than the width stays first on its line, the picture is cut to the width), no wrapping at 0,
// trailing blanks kept for LEFT and dropped for RIGHT and under an underline, a tab as a blank,
// runs split by tags.
TEST(E2eText, LayoutShowsInTheSizeOfTextObjects) {
  PlayerDir d;
  PlayerResult r = RunLines(d, {
      {false, "CreateTextObject", {1, "aaa bbb ccc", -90000, 60}}, ObjectWidth(1), ObjectHeight(1),
      {false, "CreateTextObject", {2, "aaa bbb ccc", -90000, 0.0}}, ObjectWidth(2), ObjectHeight(2),
      {false, "CreateTextObject", {3, "abcdefghijk lm", -90000, 40}}, ObjectWidth(3), ObjectHeight(3),
      {false, "CreateTextObject", {4, "ab  \\ncd", -80000}}, ObjectWidth(4),
      {false, "CreateTextObject", {5, "ab  \\ncd", -90000}}, ObjectWidth(5),
      {false, "CreateTextObject", {6, "a\\tb"}}, ObjectWidth(6),
      {false, "CreateTextObject", {7, "[b]ab[/b] cd ef", -90000, 30}}, ObjectWidth(7), ObjectHeight(7),
      {false, "CreateTextObject", {8, "[u]ab  [/u]"}}, ObjectWidth(8),  // underlined: blanks go
      {false, "CreateTextObject", {9, "[u]ab[/u]  "}}, ObjectWidth(9),
      // Only blanks, right-aligned: no run is left, and the picture is 1 pixel by one line.
      {false, "CreateTextObject", {10, "   ", -80000}}, ObjectWidth(10), ObjectHeight(10),
      // A word split by a tag and wider than the width moves to the next line even when it is
      // first on its line, leaving that line empty; the same word without tags stays.
      {false, "CreateTextObject", {11, "[b]abc[/b]defghij", -90000, 40}}, ObjectHeight(11),
      {false, "CreateTextObject", {12, "abcdefghij", -90000, 40}}, ObjectHeight(12),
  });
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "60\n17\n88\n9\n40\n17\n16\n32\n24\n24\n25\n16\n32\n1\n8\n17\n9\n");
}

// TextOut's "wordwraptable" breaks before the words it names whatever their width, and
// overrides "wordwrap"; without it the width decides. The text layers' sizes show the lines.
TEST(E2eText, WordWrapTableReplaysBreaks) {
  PlayerDir d;
  // TextOut(0, 0.0, "aa bb cc dd ee", {wordwraptable = {[0] = 1, 3}, wordwrap = 100}), then the
  // first layer's width and height; TextOut with wordwrap 100 alone, and its layer's width.
  qmtools::WriteBytes(d / "t.qma", AppletOf(R"(
.func source="f.qms" maxstack=16
  .k "enablelayers" "textout" 0 "aa bb cc dd ee" "wordwraptable" 1 3 "debugprint" "getattribute" 22 1 "wordwrap" 100 2
      GETGLOBAL 0 k0 @1
      CALL      0 1 1
      GETGLOBAL 0 k1 @2
      LOADK     1 k2
      LOADK     2 k2
      LOADK     3 k3
      NEWTABLE  4 0 2
      NEWTABLE  5 2 0
      SETTABLE  5 k2 k5
      SETTABLE  5 k5 k6
      SETTABLE  4 k4 5
      SETTABLE  4 k11 k12
      CALL      0 5 1
      GETGLOBAL 0 k7 @3
      GETGLOBAL 1 k8
      LOADK     2 k9
      LOADK     3 k10
      LOADK     4 k2
      CALL      1 4 0
      CALL      0 0 1
      GETGLOBAL 0 k7 @4
      GETGLOBAL 1 k8
      LOADK     2 k9
      LOADK     3 k10
      LOADK     4 k5
      CALL      1 4 0
      CALL      0 0 1
      GETGLOBAL 0 k1 @5
      LOADK     1 k2
      LOADK     2 k2
      LOADK     3 k3
      NEWTABLE  4 0 1
      SETTABLE  4 k11 k12
      CALL      0 5 1
      GETGLOBAL 0 k7 @6
      GETGLOBAL 1 k8
      LOADK     2 k9
      LOADK     3 k13
      LOADK     4 k2
      CALL      1 4 0
      CALL      0 0 1
      RETURN    0 1 @7
.end
)"));
  PlayerResult r = d.Run({"-QUIET", "-DEBUGDEVICE", "x", d / "t.qma"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  // Lines "aa ", "bb cc " and "dd ee": 48 wide, three lines; then "aa bb cc dd " and "ee".
  EXPECT_EQ(r.out, "48\n25\n96\n");
}

// The built-in TrueType faces by their aliases: the size is the line height; the face name is
// the family; kerning needs two characters and a valid encoding.
TEST(E2eText, BuiltinFacesByAlias) {
  PlayerDir d;
  PlayerResult r = RunLines(d, {
      {false, "SetFont", {":::default_serif", 20}},
      {true, "TextHeight", {"a"}},
      {true, "GetAttribute", {21, 0.0, 32}},
      {true, "GetKerningPair", {"", "V"}},
      {true, "GetKerningPair", {"A", "VA"}},
      {false, "SetFontStyle", {16}},
      {false, "TextOut", {0.0, 0.0, "abc"}},
      {false, "SetFont", {":::default_mono", 10, }},
      {true, "GetAttribute", {21, 0.0, 32}},
      {true, "GetKerningPair", {"A", "V", 2}},
  });
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.out, "20\nBitstream Vera Serif\n0\n0\nBitstream Vera Sans Mono\nf.qms:10: " + kWrongUsage + "\n");
}

// Bitmap ".font" files found through AddFontPath (the fixtures of the text tests): fixed and
// proportional widths, a code outside the font drawn as its last glyph, the size files listed,
// an entry marked incomplete, synthetic styles on a colour font, and broken files refused.
TEST(E2eText, BitmapFontsFromAFontPath) {
  PlayerDir d;
  ASSERT_EQ(std::system(("/usr/bin/python3 " QM_SOURCE_DIR "/tests/text/make_font_fixtures.py " + d / "fx").c_str()), 0);
  const ScriptLine addPath{false, "AddFontPath", {d / "fx"}};
  PlayerResult r = RunLines(d, {
      addPath,
      {false, "SetFont", {"plain", 8}},
      {true, "TextWidth", {"AB"}},  // XSize 6
      {true, "TextHeight", {""}},
      {false, "SetFont", {"plain.FONT", 11}},
      {true, "TextHeight", {""}},
      {false, "SetFont", {"incomplete", 11}},  // its 11 is the plain one
      {false, "SetFont", {"prop", 9}},
      {true, "TextWidth", {"AB"}},  // kerning 1 and -1, spacing 4 and 7
      {true, "TextWidth", {"Z"}},   // the last glyph: spacing 3
      {false, "CreateTextObject", {1, "AB"}}, ObjectWidth(1),
      {false, "SetFont", {"color", 7}},
      {true, "TextWidth", {"AA"}},
      {false, "SetFontStyle", {2}},
      {false, "CreateTextObject", {2, "A"}}, ObjectWidth(2),
      {false, "SetFontColor", {double(0x80FFFFFFu)}},
      {false, "SetFontStyle", {12}},
      {false, "TextOut", {0.0, 0.0, "[shadow]A[edge]B"}},
      {false, "Print", {"AAA"}},
  });
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "12\n8\n11\n11\n3\n11\n8\n5\n");
  struct Case {
    const char *name;
    int size;
  } refused[] = {{"plain", 9}, {"incomplete", 8}, {"outline", 8}, {"corrupt", 8}, {"hugecolor", 7}};
  for (const Case &c : refused) {
    r = RunLines(d, {addPath, {false, "SetFont", {c.name, double(c.size)}}});
    EXPECT_EQ(r.status, 1) << c.name << r.err;
    EXPECT_EQ(r.out, "f.qms:2: Cannot open font " + std::string(c.name) + " with size " + std::to_string(c.size) + "!\n");
  }
}

// Fonts declared by the applet are opened before the script runs, as OpenFont would open them:
// the built-in bitmap font and a built-in TrueType face through its alias and engine 4.
TEST(E2eText, DeclaredFontsOpenAtStartUp) {
  PlayerDir d;
  auto font = [](uint32_t id, const char *name, uint32_t size, uint32_t engine) {
    qmtools::AppletDecl f;
    f.type = 9;  // a font
    f.id = id;
    f.name = name;
    f.line = 1;
    f.param1 = size;
    f.param2 = engine;
    return f;
  };
  const std::string script = ScriptOf({
      {false, "UseFont", {2}},
      {true, "TextHeight", {""}},
      {true, "GetAttribute", {43, 2, 32}},
      {false, "UseFont", {1}},
      {true, "TextWidth", {"abc"}},
      {true, "GetAttribute", {43, 1, 32}},
  });
  qmtools::AppletBuilder a;
  a.Version(5, 2).Includes({{1, 100, 0, "f.qms"}})
      .Declarations({font(1, "topaz", 8, 0), font(2, ":::default_sans", 20, 4)})
      .Bytecode(ChunkOf(script));
  qmtools::WriteBytes(d / "t.qma", a.Bytes());
  PlayerResult r = d.Run({"-QUIET", "-DEBUGDEVICE", "x", d / "t.qma"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "20\nBitstream Vera Sans\n24\ntopaz\n");
}

// SetFont(name, 10, {engine = 4}) and then the face name and the line height. A name FreeType
// cannot open is tried again on engine 0, whose error is reported; a file path and a name of
// the system font list open on FreeType (the face name is the family, plus a style that is not
// a regular one); built-in names need no particular capitals.
TEST(E2eText, FontsOnTheTrueTypeEngine) {
  PlayerDir d;
  struct Case {
    std::string name, expected;
  } cases[] = {
      {"nosuch", "f.qms:1: Cannot open font nosuch with size 10!\n"},
      {"/nonexistent/x.ttf", "f.qms:1: Cannot open font /nonexistent/x.ttf with size 10!\n"},
      {"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", "DejaVu Sans 10\n"},
      {"DejaVu Sans", "DejaVu Sans 10\n"},
      {"DejaVu Sans Bold", "DejaVu Sans Bold 10\n"},
      {"bitstream vera SERIF", "Bitstream Vera Serif 10\n"},
  };
  for (const Case &c : cases) {
    qmtools::WriteBytes(d / "t.qma", AppletOf(R"(
.func source="f.qms" maxstack=16
  .k "setfont" ")" + c.name + R"(" 10 "engine" 4 "debugprint" "getattribute" 21 0 32 "textheight" ""
      GETGLOBAL 0 k0 @1
      LOADK     1 k1
      LOADK     2 k2
      NEWTABLE  3 0 1
      SETTABLE  3 k3 k4
      CALL      0 4 1
      GETGLOBAL 0 k5 @2
      GETGLOBAL 1 k6
      LOADK     2 k7
      LOADK     3 k8
      LOADK     4 k9
      CALL      1 4 2
      GETGLOBAL 2 k10
      LOADK     3 k11
      CALL      2 2 2
      CALL      0 3 1
      RETURN    0 1 @3
.end
)"));
    PlayerResult r = d.Run({"-QUIET", "-DEBUGDEVICE", "x", d / "t.qma"});
    EXPECT_EQ(r.out, c.expected) << c.name << r.err;
  }
}

// The system engine (an installed face by its full name, no engine asked for): the longest text
// it measures or draws, malformed UTF-8, and a name no installed face has. Each command's code
// is read back through GetLastError.
TEST(E2eText, SystemEngineLimits) {
  PlayerDir d;
  const std::string longest(16383, 'i'), tooLong(16384, 'i');
  struct Case {
    const char *what;
    int encoding;
    ScriptLine line;
    const char *code;
  } cases[] = {
      {"16,383 characters measured", 0, {false, "TextWidth", {longest}}, "0"},
      {"16,384 characters measured", 0, {false, "TextWidth", {tooLong}}, "1066"},
      {"16,384 characters drawn", 0, {false, "TextOut", {0.0, 0.0, tooLong}}, "1066"},
      {"a cut UTF-8 sequence measured", 1, {false, "TextWidth", {"a\\xc3"}}, "1303"},
      {"a cut UTF-8 sequence drawn", 1, {false, "TextOut", {0.0, 0.0, "a\\xc3"}}, "1303"},
      {"a lone continuation byte", 1, {false, "TextWidth", {"\\xa9"}}, "1303"},
      {"a whole UTF-8 sequence", 1, {false, "TextWidth", {"\\xc3\\xa9"}}, "0"},
      {"Latin-1 needs no decoding", 0, {false, "TextWidth", {"a\\xc3"}}, "0"},
  };
  for (const Case &c : cases) {
    const PlayerResult r = RunLines(d, {{false, "SetFont", {"DejaVu Sans", 20}},
                                        {false, "ExitOnError", {0.0}},
                                        {false, "SetDefaultEncoding", {double(c.encoding)}},
                                        c.line,
                                        {true, "GetLastError", {}}});
    EXPECT_EQ(r.out, std::string(c.code) + "\n") << c.what << r.err;
  }
  const PlayerResult r = RunLines(d, {{false, "SetFont", {"No Such Installed Face", 20}}});
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.out.find("Cannot open font No Such Installed Face with size 20!"), std::string::npos) << r.out;
}

// The shadow lies at the distance in its direction, clockwise from north; the glyph itself
// stays where TextOut put it. (21, 24) is ink of topaz "a" drawn at (20, 20).
TEST(E2eText, ShadowDirections) {
  PlayerDir d;
  const int offsets[8][2] = {{0, -4}, {4, -4}, {4, 0}, {4, 4}, {0, 4}, {-4, 4}, {-4, 0}, {-4, -4}};
  std::vector<ScriptLine> lines;
  std::string expected;
  for (int dir = 0; dir < 8; dir++) {
    lines.push_back({false, "Cls", {}});
    lines.push_back({false, "SetFontStyle", {1}});
    lines.push_back({false, "SetFontStyle", {32, double(0xFF0000), 4, double(dir)}});
    lines.push_back({false, "TextOut", {20, 20, "a"}});
    lines.push_back({true, "ReadPixel", {21, 24}});
    lines.push_back({true, "ReadPixel", {double(21 + offsets[dir][0]), double(24 + offsets[dir][1])}});
    expected += std::to_string(0xFFFFFF) + "\n" + std::to_string(0xFF0000) + "\n";
  }
  PlayerResult r = RunLines(d, lines);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, expected);
}

// GetAvailableFonts after AddFontPath lists the folder's ".font" files: the family, whether
// it is a bitmap font and how many distinct sizes its contents file lists (plain.font lists
// 8, 11 and 8; outline.font is a contents file without sizes).
TEST(E2eText, AvailableFontsIncludeTheFontPath) {
  PlayerDir d;
  ASSERT_EQ(std::system(("/usr/bin/python3 " QM_SOURCE_DIR "/tests/text/make_font_fixtures.py " + d / "fx").c_str()), 0);
  // t = GetAvailableFonts(); for i = 0, ListItems(t) - 1: when t[i].family is "plain",
  // "outline" or "prop", DebugPrint(t[i].name, t[i].bitmap, ListItems(t[i].sizes)).
  qmtools::WriteBytes(d / "t.qma", AppletOf(R"(
.func source="f.qms" maxstack=16
  .k "addfontpath" ")" + d / "fx" + R"(" "getavailablefonts" "debugprint" "family" "plain" "bitmap" "sizes" 0 1 2 "name" "listitems" "outline" "prop"
      GETGLOBAL 0 k0 @1
      LOADK     1 k1
      CALL      0 2 1
      GETGLOBAL 0 k2 @2
      CALL      0 1 2
      GETGLOBAL 1 k12
      MOVE      2 0
      CALL      1 2 2
      LOADK     11 k8
      SUB       1 1 k9
      JMP       test
body: GETTABLE  2 0 11 @3
      GETTABLE  3 2 k4
      EQ        0 3 k5
      JMP       n2
      JMP       show
n2:   EQ        0 3 k13
      JMP       n3
      JMP       show
n3:   EQ        0 3 k14
      JMP       next
show: GETGLOBAL 4 k3
      GETTABLE  5 2 k11
      GETTABLE  6 2 k6
      GETTABLE  10 2 k7
      GETGLOBAL 7 k12
      MOVE      8 10
      CALL      7 2 2
      CALL      4 4 1
next: ADD       11 11 k9
test: LE        1 11 1
      JMP       body
      RETURN    0 1 @4
.end
)"));
  PlayerResult r = d.Run({"-QUIET", "-DEBUGDEVICE", "x", d / "t.qma"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  // The folder is listed in the order its entries come.
  std::vector<std::string> lines;
  for (size_t at = 0, end; (end = r.out.find('\n', at)) != std::string::npos; at = end + 1)
    lines.push_back(r.out.substr(at, end - at));
  std::sort(lines.begin(), lines.end());
  EXPECT_EQ(lines, (std::vector<std::string>{"outline 0 0", "plain 1 2", "prop 1 1"})) << r.out;
}

// A TrueType file linked into the applet opens on the system engine from its window, named by
// the file's own full name (as fc-query reads it), not by the name it was linked under.
TEST(E2eText, LinkedFontTakesItsOwnFullName) {
  PlayerDir d;
  const std::string file = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
  if (access(file.c_str(), R_OK) != 0) GTEST_SKIP() << "fonts-dejavu-core is not installed";
  FILE *p = popen(("fc-query -f '%{fullname[0]}' " + file).c_str(), "r");
  ASSERT_NE(p, nullptr);
  char name[256] = {};
  ASSERT_NE(fgets(name, sizeof name, p), nullptr);
  pclose(p);
  qmtools::AppletBuilder b;
  b.Version(5, 2).Includes({{1, 100, 0, "f.qms"}});
  b.LinkedFiles({{"inside.ttf", ReadWholeFile(file)}});
  b.Bytecode(ChunkOf(ScriptOf({{false, "SetFont", {"inside.ttf", 20}},
                               {true, "GetAttribute", {21, 0.0, 32}},
                               {true, "GetAttribute", {21, 0.0, 33}}})));
  qmtools::WriteBytes(d / "t.qma", b.Bytes());
  const PlayerResult r = d.Run({"-QUIET", d / "t.qma"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, std::string(name) + "\n20\n");
}
