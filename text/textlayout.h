// The text layout engine and the run renderer: a text request is split into runs of equal
// style (formatting tags in square brackets, tabs, line feeds, word wrap with recorded or
// replayed breaks) and the runs are drawn into one picture with a mask or an alpha channel,
// with synthetic bold, italic and underline, shadow and edge. Nothing here knows the VM.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "graphics/bitmap.h"
#include "display/position.h"
#include "text/font.h"

// Output kinds of a text request.
enum : int32_t {
  QM_TEXT_OBJECT = 8,
  QM_TEXT_TEXTOUT = 9,
  QM_TEXT_PRINT = 11,
};

constexpr int32_t kMaxTabStops = 32;

// The style block: the first seven words of the text state, then its font.
struct qmTextStyle {
  int32_t style;           // NORMAL 1 alone means plain; BOLD 2, ITALIC 4, UNDERLINED 8, ANTIALIAS 16, SHADOW 32, EDGE 64
  uint32_t color;          // 0xTTRRGGBB, TT transparency (0 opaque)
  uint32_t shadowColor;
  uint32_t edgeColor;
  int32_t shadowDistance;  // 1..64
  int32_t shadowDirection; // 0 north, clockwise to 7 north-west
  int32_t edgeSize;        // 1..64
  qmFont *font;
};

struct qmTextRequest {
  int32_t x, y;           // position, or a position constant; Print: x CENTER = at the cursor
  int32_t width, height;  // the rendered size, once stored with a layer or text object
  qmTextStyle style;
  char *text;             // owned
  int32_t align;          // POS_LEFT, POS_CENTER or POS_RIGHT
  int32_t cursorX, cursorY, marginLeft;  // Print: the display's; others 0
  int32_t wrap;           // Print: the right margin; others the wrap width (0: none)
  int32_t tabStops[kMaxTabStops];  // absolute, ascending
  int32_t tabCount;
  std::vector<int32_t> *breaks;      // word numbers to break before, or null
  std::vector<int32_t> *tabChoices;  // tab-stop index per tab, -1 a line break, or null
  int32_t encoding;       // 0 ISO-8859-1, 1 UTF-8
};

struct qmTextRun {
  int32_t start, length;  // bytes of the pass's working text
  int32_t x;              // from the block's left edge
  int32_t lineTop;        // from the first line's top
  qmTextExtent extent;
  qmTextStyle style;
};

struct qmTextBox {
  qmBitmap *bitmap;
  qmMask *mask;            // a mask picture, or
  qmAlphaChannel *alpha;   // an alpha picture
  int32_t x, y;            // offset of the picture from the block's origin (<= 0)
  int32_t width, width2, height;
  int32_t firstLineOffset;
};

// Looks up a "#NAME" constant in a tag value: 0 and the number, ERR_VALUEEXPECTED for a
// string constant, or the lookup's own error. *consumed counts the characters of the name.
using qmConstantLookup = uint32_t (*)(void *context, const char *text, size_t *consumed, double *number);

// One layout pass: the runs, the working text they point into, where the pen ended.
struct qmTextLayout {
  std::vector<char> text;
  std::vector<qmTextRun> runs;
  int32_t penX;        // after the last character
  int32_t lineTop;     // top of the last line
  int32_t firstLineOffset;
};

// The advance, ink and the extensions that synthetic styles, edge and shadow need. 0 or the
// engine's error.
uint32_t ComputeTextExtent(const char *text, int32_t length, int32_t encoding, qmTextExtent *out,
                           const qmTextStyle *style);
// Shadow distance and edge size into 1..64; a direction above 7 becomes 3.
void ClampTextStyle(qmTextStyle *style);

// The width the text wraps at for an output kind: Print wraps at its right margin, counted from
// the left margin.
inline int32_t TextWrapWidth(const qmTextRequest *request, int32_t kind) {
  return kind == QM_TEXT_PRINT ? request->wrap - request->marginLeft + 1 : request->wrap;
}
// Lays the request's text out for an output kind. plain: tags off. New break and tab-choice
// tables are filled when the request has none and keepTables is set (they then stay in the
// request, allocated with new). 0 or an error code.
uint32_t LayoutTextBlock(qmTextRequest *request, int32_t kind, int32_t plain, qmConstantLookup lookup, void *context,
                         int32_t keepTables, qmTextLayout *layout);
// Draws the runs into a new picture (the caller frees it with FreeTextBox). 0 or ERR_MEM.
uint32_t RenderTextRuns(const qmTextRequest *request, qmTextLayout *layout, int32_t wrapWidth, qmTextBox *box);
void FreeTextBox(qmTextBox *box);
// The border image of a text picture of width x height: (w + 2r + 1) x (h + 2r + 1) pixels of
// the colour's RGB whose alpha is the text's alpha widened by r (the sums over the
// (2r + 1)^2 neighbourhood divided by 2r + 1, at most 255), or whose mask is the text's mask
// stamped at every offset 0..2r. It reaches r pixels left of and above the text. 0 or ERR_MEM.
uint32_t MakeTextLayerBorder(const qmMask *mask, const qmAlphaChannel *alpha, int32_t width, int32_t height,
                             uint32_t color, int32_t radius, qmBitmap **bitmapOut, qmMask **maskOut,
                             qmAlphaChannel **alphaOut);
