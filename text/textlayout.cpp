// The layout pass and the run renderer.
#include "text/textlayout.h"

#include <algorithm>
#include <cstring>

#include "graphics/blit.h"
#include "platform/memory.h"
#include "runtime/parsenumber.h"
#include "runtime/errcodes.h"
#include "runtime/strutil.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// A tag value: "#NAME", a number, never a string. The value as an unsigned 32-bit word.
uint32_t ParseTagValue(const char *&p, qmConstantLookup lookup, void *context, uint32_t *value) {
  double number = 0;
  if (*p == '"') return ERR_VALUEEXPECTED;
  if (*p == '#') {
    if (!lookup) return ERR_VALUEEXPECTED;
    size_t consumed = 0;
    uint32_t err = lookup(context, p + 1, &consumed, &number);
    if (err) return err;
    p += 1 + consumed;
  } else {
    size_t consumed = 0;
    uint32_t err = 0;
    number = ParseNumber(p, &consumed, &err);
    if (err) return err;
    p += consumed;
  }
  if (!(number > 0)) *value = 0;
  else if (number >= 4294967295.0) *value = 0xFFFFFFFFu;
  else *value = static_cast<uint32_t>(number);
  return 0;
}

void SkipBlanks(const char *&p) {
  while (IsBlank(*p)) p++;
}

// Matches a tag name as a prefix (any case): the name's length when it matches.
size_t MatchName(const char *p, const char *name) {
  size_t n = std::strlen(name);
  return Strnicmp(p, name, n) == 0 ? n : 0;
}

struct LayoutPass {
  qmTextRequest *req;
  int32_t kind;
  int32_t plain;
  qmConstantLookup lookup;
  void *context;
  qmTextLayout *out;
  std::vector<char> &buf;
  int32_t bufLen = 0;
  std::vector<uint32_t> colorStack;
  qmTextStyle cur{}, pending{};
  int32_t runStart = 0, runX = 0, penX = 0, lineTop = 0, lineExtent = 0, wordCount = 0;
  int32_t lineHeight = 0;
  int32_t wrap = 0;
  bool recordBreaks = false, recordTabs = false;
  size_t breakIndex = 0, tabIndex = 0;
  std::vector<int32_t> *breaks = nullptr, *tabChoices = nullptr;

  LayoutPass(qmTextRequest *r, int32_t k, int32_t p, qmConstantLookup l, void *c, qmTextLayout *o)
      : req(r), kind(k), plain(p), lookup(l), context(c), out(o), buf(o->text) {}

  uint32_t Measure(int32_t start, int32_t length, const qmTextStyle &style, qmTextExtent *e) const {
    return ComputeTextExtent(buf.data() + start, length, req->encoding, e, &style);
  }

  void NoteExtent(int32_t x, const qmTextExtent &e) { lineExtent = std::max(lineExtent, x + e.inkWidth + e.right); }

  // Closes the open run with the current style; the pen moves past it unless told not to.
  uint32_t CloseRun(bool advance) {
    int32_t length = bufLen - runStart;
    if (length > 0) {
      qmTextRun run{runStart, length, runX, lineTop, {}, cur};
      uint32_t err = Measure(runStart, length, cur, &run.extent);
      if (err) return err;
      out->runs.push_back(run);
      NoteExtent(runX, run.extent);
      if (advance) penX = runX + run.extent.width;
    } else if (advance) {
      penX = runX;
    }
    runStart = bufLen;
    runX = penX;
    return 0;
  }

  void NewLine() {
    lineTop += lineHeight;
    penX = runX = 0;
    lineExtent = 0;
  }

  // A tag at p (just after its "["): the pending style changes. p ends after the "]".
  uint32_t ParseTag(const char *&p) {
    SkipBlanks(p);
    bool closing = false;
    if (*p == '/') {
      closing = true;
      p++;
      SkipBlanks(p);
    }
    char c = static_cast<char>(kLowerCaseTable[static_cast<uint8_t>(*p)]);
    if ((c == 'b' || c == 'i' || c == 'u') && (IsBlank(p[1]) || p[1] == ']' || p[1] == 0)) {
      int32_t bit = c == 'b' ? QM_STYLE_BOLD : c == 'i' ? QM_STYLE_ITALIC : QM_STYLE_UNDERLINED;
      if (closing) pending.style &= ~bit;
      else pending.style |= bit;
      p++;
    } else if (size_t n = MatchName(p, "color")) {
      p += n;
      if (closing) {
        if (colorStack.empty()) return ERR_TEXTSYNTAX;
        pending.color = colorStack.back();
        colorStack.pop_back();
      } else {
        uint32_t values[3];
        int32_t count = 0;
        if (uint32_t err = ParseValues(p, values, 1, &count)) return err;
        if (count < 1) return ERR_TEXTARG;
        colorStack.push_back(pending.color);
        pending.color = values[0];
      }
    } else if (size_t m = MatchName(p, "shadow")) {
      p += m;
      if (closing) {
        pending.style &= ~QM_STYLE_SHADOW;
      } else {
        uint32_t values[3];
        int32_t count = 0;
        if (uint32_t err = ParseValues(p, values, 3, &count)) return err;
        if (count >= 2 && (values[1] < 1 || values[1] > 64)) return ERR_WRONGUSAGE;
        if (count >= 1) pending.shadowColor = values[0];
        if (count >= 2) pending.shadowDistance = static_cast<int32_t>(values[1]);
        if (count >= 3) pending.shadowDirection = static_cast<int32_t>(values[2] & 255);
        pending.style |= QM_STYLE_SHADOW;
      }
    } else if (size_t e = MatchName(p, "edge")) {
      p += e;
      if (closing) {
        pending.style &= ~QM_STYLE_EDGE;
      } else {
        uint32_t values[3];
        int32_t count = 0;
        if (uint32_t err = ParseValues(p, values, 2, &count)) return err;
        if (count >= 2 && (values[1] < 1 || values[1] > 8)) return ERR_WRONGUSAGE;
        if (count >= 1) pending.edgeColor = values[0];
        if (count >= 2) pending.edgeSize = static_cast<int32_t>(values[1]);
        pending.style |= QM_STYLE_EDGE;
      }
    } else {
      return ERR_UNKTEXTFMT;
    }
    SkipBlanks(p);
    if (*p != ']') return ERR_SQBRACKETCLOSE;
    p++;
    return 0;
  }

  // "=" and up to max values separated by ","; nothing when no "=" follows.
  uint32_t ParseValues(const char *&p, uint32_t *values, int32_t max, int32_t *count) {
    SkipBlanks(p);
    if (*p != '=') return 0;
    p++;
    for (;;) {
      SkipBlanks(p);
      if (*count == max) return ERR_SQBRACKETCLOSE;
      if (uint32_t err = ParseTagValue(p, lookup, context, &values[*count])) return err;
      (*count)++;
      SkipBlanks(p);
      if (*p != ',') return 0;
      p++;
    }
  }

  // After a tag: a real change of style closes the open run.
  uint32_t ApplyPending() {
    bool differs = std::memcmp(&pending, &cur, sizeof cur) != 0;
    if (differs && bufLen > runStart) {
      if (uint32_t err = CloseRun(true)) return err;
    }
    cur = pending;
    return 0;
  }

  // Packs runs first..end and the open run from x 0 on the next line.
  void MoveRunsToNextLine(size_t first) {
    lineTop += lineHeight;
    lineExtent = 0;
    int32_t x = 0;
    for (size_t i = first; i < out->runs.size(); i++) {
      out->runs[i].x = x;
      out->runs[i].lineTop = lineTop;
      NoteExtent(x, out->runs[i].extent);
      x += out->runs[i].extent.width;
    }
    runX = penX = x;
  }

  uint32_t BreakBeforeWord(int32_t wordStart, size_t runsAtWordStart) {
    if (out->runs.size() == runsAtWordStart) {
      if (wordStart > runStart) {
        // The text before the word stays on this line as a run of its own.
        int32_t end = bufLen;
        bufLen = wordStart;
        if (uint32_t err = CloseRun(true)) return err;
        bufLen = end;
        NewLine();
        runStart = wordStart;
      } else if (runX != 0) {
        NewLine();
      }
      // A word first on its line stays there and overflows; the next word breaks.
      return 0;
    }
    qmTextRun &first = out->runs[runsAtWordStart];
    size_t moveFrom = runsAtWordStart;
    if (first.start < wordStart) {
      if (first.start + first.length > wordStart) {
        // Split where the word begins: the earlier part stays.
        qmTextRun word = first;
        word.length = first.start + first.length - wordStart;
        word.start = wordStart;
        first.length = wordStart - first.start;
        if (uint32_t err = Measure(first.start, first.length, first.style, &first.extent)) return err;
        if (uint32_t err = Measure(word.start, word.length, word.style, &word.extent)) return err;
        out->runs.insert(out->runs.begin() + long(runsAtWordStart) + 1, word);
      }
      moveFrom = runsAtWordStart + 1;
    }
    MoveRunsToNextLine(moveFrom);
    return 0;
  }

  uint32_t Tab() {
    if (uint32_t err = CloseRun(true)) return err;
    int32_t choice = -1;
    if (!recordTabs) {
      if (tabIndex < tabChoices->size()) choice = (*tabChoices)[tabIndex++];
      if (choice >= req->tabCount) choice = -1;
    } else {
      for (int32_t i = 0; i < req->tabCount; i++)
        if (req->tabStops[i] > penX + req->marginLeft) {
          choice = i;
          break;
        }
      if (choice >= 0 && wrap > 0 && req->tabStops[choice] - req->marginLeft >= wrap) choice = -1;
      tabChoices->push_back(choice);
    }
    if (choice < 0) {
      NewLine();
    } else {
      penX = runX = req->tabStops[choice] - req->marginLeft;
    }
    return 0;
  }

  uint32_t Run() {
    const char *text = req->text && req->text[0] ? req->text : " ";
    size_t length = std::strlen(text);
    buf.assign(length + 2, 0);
    cur = pending = req->style;
    lineHeight = cur.font ? cur.font->height : 0;
    // Stored breaks replace wrapping by width.
    if (recordBreaks) wrap = TextWrapWidth(req, kind);
    if (kind == QM_TEXT_PRINT) {
      penX = runX = req->cursorX - req->marginLeft;
      out->firstLineOffset = penX;
    }
    const char *p = text;
    while (*p) {
      char c = *p;
      if (c == '\n') {
        if (uint32_t err = CloseRun(false)) return err;
        NewLine();
        p++;
      } else if (c == '\r') {
        p++;
      } else if (c == ' ' || (c == '\t' && kind != QM_TEXT_PRINT)) {
        buf[size_t(bufLen++)] = ' ';
        p++;
      } else if (c == '\t') {
        if (uint32_t err = Tab()) return err;
        p++;
      } else {
        if (uint32_t err = Word(p)) return err;
      }
    }
    if (uint32_t err = CloseRun(true)) return err;
    out->penX = penX;
    out->lineTop = lineTop;
    return TrimLineEnds();
  }

  uint32_t Word(const char *&p) {
    int32_t wordStart = bufLen;
    size_t runsAtWordStart = out->runs.size();
    while (*p && *p != ' ' && *p != '\r' && *p != '\n' && *p != '\t') {
      if (p[0] == '[' && p[1] == '[') {
        buf[size_t(bufLen++)] = '[';
        p += 2;
      } else if (p[0] == ']' && p[1] == ']') {
        buf[size_t(bufLen++)] = ']';
        p += 2;
      } else if (!plain && *p == ']') {
        return ERR_TEXTSYNTAX;
      } else if (!plain && *p == '[') {
        p++;
        if (uint32_t err = ParseTag(p)) return err;
        if (uint32_t err = ApplyPending()) return err;
      } else {
        buf[size_t(bufLen++)] = *p++;
      }
    }
    if (bufLen > runStart) {
      qmTextExtent e{};
      if (uint32_t err = Measure(runStart, bufLen - runStart, cur, &e)) return err;
      NoteExtent(runX, e);
    }
    bool due = false;
    if (recordBreaks) {
      due = wrap > 0 && lineExtent > wrap;
      if (due) breaks->push_back(wordCount);
    } else if (breakIndex < breaks->size() && (*breaks)[breakIndex] == wordCount) {
      due = true;
      breakIndex++;
    }
    wordCount++;
    return due ? BreakBeforeWord(wordStart, runsAtWordStart) : 0;
  }

  // The last run of each line loses its trailing blanks where they would show.
  uint32_t TrimLineEnds() {
    for (size_t i = 0; i < out->runs.size(); i++) {
      bool last = i + 1 == out->runs.size() || out->runs[i + 1].lineTop != out->runs[i].lineTop;
      qmTextRun &r = out->runs[i];
      if (!last || (req->align == POS_LEFT && !(r.style.style & QM_STYLE_UNDERLINED))) continue;
      int32_t n = r.length;
      while (n > 0 && buf[size_t(r.start + n - 1)] == ' ') n--;
      if (n == r.length) continue;
      r.length = n;
      if (n == 0) {
        out->runs.erase(out->runs.begin() + long(i));
        i--;
        continue;
      }
      if (uint32_t err = Measure(r.start, n, r.style, &r.extent)) return err;
    }
    return 0;
  }
};

}  // namespace

void ClampTextStyle(qmTextStyle *s) {
  s->shadowDistance = std::clamp(s->shadowDistance, 1, 64);
  s->edgeSize = std::clamp(s->edgeSize, 1, 64);
  if (s->shadowDirection > 7 || s->shadowDirection < 0) s->shadowDirection = 3;
}

uint32_t ComputeTextExtent(const char *text, int32_t length, int32_t encoding, qmTextExtent *out,
                           const qmTextStyle *style) {
  *out = {};
  qmFont *font = style->font;
  int32_t bits = style->style & (QM_STYLE_BOLD | QM_STYLE_ITALIC | QM_STYLE_ANTIALIAS);
  if (uint32_t err = MeasureFontText(font, text, length, bits, encoding, out)) return err;
  if (font) out->height = font->height;
  if (font && !IsNativeFont(font)) {
    if ((style->style & QM_STYLE_BOLD) && !(style->style & QM_STYLE_ANTIALIAS)) out->maxX += 1;
    if (style->style & QM_STYLE_ITALIC) {
      out->maxX += font->baseline / 2;
      out->minX -= (font->height - font->baseline) / 2;
    }
  }
  out->inkWidth = out->width <= out->maxX ? out->maxX + 1 : out->width;
  if (style->style & QM_STYLE_EDGE) {
    out->top = out->left = -style->edgeSize;
    out->bottom = out->right = style->edgeSize;
  }
  if (style->style & QM_STYLE_SHADOW) {
    int32_t d = style->shadowDistance;
    switch (style->shadowDirection) {
    case 0: out->top -= d; break;
    case 1: out->right += d; out->top -= d; break;
    case 2: out->right += d; break;
    case 4: out->bottom += d; break;
    case 5: out->left -= d; out->bottom += d; break;
    case 6: out->left -= d; break;
    case 7: out->left -= d; out->top -= d; break;
    default: out->right += d; out->bottom += d; break;
    }
  }
  return 0;
}

uint32_t LayoutTextBlock(qmTextRequest *request, int32_t kind, int32_t plain, qmConstantLookup lookup, void *context,
                         int32_t keepTables, qmTextLayout *layout) {
  qmFont *font = request->style.font;
  if ((request->style.style & QM_STYLE_ANTIALIAS) && font && !font->antiAliasCapable) return ERR_ANTIALIAS;
  *layout = {};
  LayoutPass pass(request, kind, plain, lookup, context, layout);
  std::vector<int32_t> ownBreaks, ownTabs;
  pass.recordBreaks = request->breaks == nullptr;
  pass.recordTabs = request->tabChoices == nullptr;
  pass.breaks = pass.recordBreaks ? &ownBreaks : request->breaks;
  pass.tabChoices = pass.recordTabs ? &ownTabs : request->tabChoices;
  uint32_t err;
  try {
    err = pass.Run();
    if (!err && keepTables) {
      if (pass.recordBreaks) request->breaks = new std::vector<int32_t>(std::move(ownBreaks));
      if (pass.recordTabs) request->tabChoices = new std::vector<int32_t>(std::move(ownTabs));
    }
  } catch (const std::bad_alloc &) {
    err = ERR_MEM;
  }
  if (err) *layout = {};
  return err;
}
