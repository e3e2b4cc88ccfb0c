// The system text engine: fontconfig finds an installed face by its full name (and checks the
// name, since a fontconfig match always answers something); FreeType draws it.
#include "text/nativefont.h"

#include <fontconfig/fontconfig.h>

#include <cstring>
#include <string>

#include "runtime/errcodes.h"
#include "runtime/strutil.h"
#include "text/fontscan.h"
#include "text/freetype_font.h"

namespace {

// Longest text measured or drawn at once, in characters.
constexpr int32_t kMaxNativeText = 16383;

// The file and face index of the installed face with exactly that full name (any case).
bool FindInstalledFace(qmFontState *fonts, const char *name, std::string *path, int *index) {
  if (!StartFontconfig(fonts)) return false;
  FcPattern *pattern = FcPatternCreate();
  FcObjectSet *objects = FcObjectSetBuild(FC_FULLNAME, FC_FILE, FC_INDEX, nullptr);
  FcFontSet *set = pattern && objects ? FcFontList(nullptr, pattern, objects) : nullptr;
  bool found = false;
  for (int i = 0; set && i < set->nfont && !found; i++) {
    FcChar8 *full;
    for (int n = 0; !found && FcPatternGetString(set->fonts[i], FC_FULLNAME, n, &full) == FcResultMatch; n++) {
      if (Stricmp(reinterpret_cast<const char *>(full), name) != 0) continue;
      FcChar8 *file;
      int faceIndex = 0;
      if (FcPatternGetString(set->fonts[i], FC_FILE, 0, &file) != FcResultMatch) continue;
      FcPatternGetInteger(set->fonts[i], FC_INDEX, 0, &faceIndex);
      *path = reinterpret_cast<const char *>(file);
      *index = faceIndex;
      found = true;
    }
  }
  if (set) FcFontSetDestroy(set);
  if (objects) FcObjectSetDestroy(objects);
  if (pattern) FcPatternDestroy(pattern);
  return found;
}

// The native engine's own checks before the shared glyph code runs.
uint32_t CheckNativeText(const char *text, int32_t length, int32_t utf8) {
  if (length > kMaxNativeText) return ERR_INTERNAL;
  if (utf8) {
    uint32_t buffer[256], *codes;
    int32_t count, allocated;
    if (DecodeUtf8Text(text, length, 1, buffer, sizeof buffer, &codes, &count, &allocated)) return ERR_TEXTCONVERT;
    FreeDecodedText(codes, allocated);
  }
  return 0;
}

}  // namespace

int32_t OpenNativeFont(qmFontState *fonts, const char *name, int32_t size, qmFont *font) {
  std::string path;
  int index = 0;
  if (std::strncmp(name, ":::chunk", 8) == 0) {
    path = name;  // a linked font file: its first face
  } else if (!FindInstalledFace(fonts, name, &path, &index)) {
    return 0;
  }
  if (!OpenFreeTypeFaceByCapital(fonts, path.c_str(), index, size, font)) return 0;
  if (std::strncmp(name, ":::chunk", 8) != 0) CopyString(font->faceName, name, sizeof font->faceName);
  return 1;
}

void CloseNativeFont(qmFont *font) { CloseFreeTypeFont(font); }

uint32_t MeasureNativeText(qmFont *font, const char *text, int32_t length, int32_t style, int32_t utf8,
                           qmTextExtent *extent) {
  if (uint32_t err = CheckNativeText(text, length, utf8)) return err;
  return MeasureFreeTypeText(font, text, length, style, utf8, extent);
}

uint32_t RenderNativeText(qmFont *font, void *target, int32_t x, int32_t y, const char *text, int32_t length,
                          int32_t style, int32_t utf8, const qmTextClip *clip, int64_t color) {
  if (uint32_t err = CheckNativeText(text, length, utf8)) return err;
  return RenderFreeTypeText(font, target, x, y, text, length, style, utf8, clip, color);
}
