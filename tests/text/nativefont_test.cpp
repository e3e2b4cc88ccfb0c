// The system engine: installed faces by their full name (fontconfig's fc-match names them),
// sized by the capital A as FreeType (the peer) draws it, and its limits.
#include <gtest/gtest.h>

#include <string>

#include "runtime/errcodes.h"
#include "text/freetype_font.h"
#include "tests/text/text_test_util.h"

namespace {

using NativeFontTest = FontEngineTest;

TEST_F(NativeFontTest, OpensByFullNameAndSizesByCapitalA) {
  std::string name = RunCommand("fc-match -f '%{fullname}' 'DejaVu Sans:style=Book'");
  std::string file = RunCommand("fc-match -f '%{file}' 'DejaVu Sans:style=Book'");
  ASSERT_FALSE(name.empty());
  for (int size : {8, 13, 20, 33, 72}) {
    qmFont *f = nullptr;
    ASSERT_EQ(OpenFontRecord(fonts, name.c_str(), size, FONTENGINE_NATIVE, 1, 0, &f), 0u) << name;
    EXPECT_EQ(f->engineType, QM_FONT_NATIVE);
    EXPECT_EQ(IsNativeFont(f), 1);
    EXPECT_STREQ(f->faceName, name.c_str());
    int32_t pixels = GetFreeTypePixelSize(f);
    int capital = std::stoi(RunPeer("capital " + file + " " + std::to_string(pixels)));
    // The search stops at the first size whose A reaches the size asked for.
    EXPECT_NEAR(capital, size, 1) << size;
    int below = std::stoi(RunPeer("capital " + file + " " + std::to_string(pixels - 1)));
    EXPECT_TRUE(capital == size || below < size || pixels == 1) << size;
    CloseFontRecord(f);
  }
  qmFont *f = nullptr;
  EXPECT_EQ(OpenFontRecord(fonts, "No Such Font", 12, FONTENGINE_NATIVE, 1, 0, &f), uint32_t(ERR_OPENFONT));
}

TEST_F(NativeFontTest, TextLimits) {
  std::string name = RunCommand("fc-match -f '%{fullname}' 'DejaVu Sans:style=Book'");
  qmFont *f = nullptr;
  ASSERT_EQ(OpenFontRecord(fonts, name.c_str(), 10, FONTENGINE_NATIVE, 1, 0, &f), 0u);
  std::string longest(16383, 'i'), tooLong(16384, 'i');
  qmTextExtent e{};
  EXPECT_EQ(MeasureFontText(f, longest.data(), 16383, 0, 0, &e), 0u);
  EXPECT_GT(e.width, 16383);
  EXPECT_EQ(MeasureFontText(f, tooLong.data(), 16384, 0, 0, &e), uint32_t(ERR_INTERNAL));
  EXPECT_EQ(MeasureFontText(f, "a\xC3", 2, 0, 1, &e), uint32_t(ERR_TEXTCONVERT));
  EXPECT_EQ(MeasureFontText(f, "a\xC3\xA9", 3, 0, 1, &e), 0u);
  CloseFontRecord(f);
}

}  // namespace
