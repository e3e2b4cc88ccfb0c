#include "player/options.h"

#include <cstring>

#include "platform/fileops.h"
#include "platform/hooks.h"
#include "platform/memory.h"
#include "player/appletrecord.h"
#include "player/clargs.h"
#include "player/linkdatabase.h"
#include "runtime/parsenumber.h"
#include "runtime/cmdargs.h"
#include "runtime/errcodes.h"
#include "runtime/strutil.h"

// Section headings are message numbers; the player never prints the headings or the help
// texts, editors and the compiler's usage text do.
const qmOption kOptionTable[] = {
    {"WINDOW", OPT_WINDOW, 0, 584, "open script in a window (default)", nullptr, nullptr},
    {"BORDERLESS", OPT_BORDERLESS, 0, 0, "make window borderless", nullptr, nullptr},
    {"SIZEABLE", OPT_SIZEABLE, 0, 0, "allow window resizing", nullptr, nullptr},
    {"FIXED", OPT_FIXED, 0, 0, "forbid window dragging", nullptr, nullptr},
    {"NOHIDE", OPT_NOHIDE, 0, 0, "forbid window minimizing", nullptr, nullptr},
    {"FULLSCREEN", OPT_FULLSCREEN, 0, 585, "open script in best available full screen mode", nullptr, nullptr},
    {"FAKEFULLSCREEN", OPT_FAKEFULLSCREEN, 0, 0, "open script in fake full screen mode", nullptr, nullptr},
    {"OWNSCREEN", OPT_OWNSCREEN, 0, 0, "open script in custom full screen mode", nullptr, nullptr},
    {"SCRWIDTH", OPT_SCRWIDTH, 1, 0, "set width for custom full screen mode", "<width>", nullptr},
    {"SCRHEIGHT", OPT_SCRHEIGHT, 1, 0, "set height for custom full screen mode", "<height>", nullptr},
    {"DEPTH", OPT_DEPTH, 1, 0, "set depth for custom full screen mode", "<depth>", nullptr},
    {"HIDEPOINTER", OPT_HIDEPOINTER, 0, 0, "automatically hide pointer when in full screen mode", nullptr, nullptr},
    {"NOMODESWITCH", OPT_NOMODESWITCH, 0, 0, "forbid hotkey switching between windowed and full screen modes",
     nullptr, nullptr},
    {"BACKFILL", OPT_BACKFILL, 1, 586, "enable backfill decoration", "<mode>", "color|gradient|texture|picture"},
    {"STARTCOLOR", OPT_STARTCOLOR, 1, 0, "set start color to use for backfilling", "<color>", "$RRGGBB"},
    {"ENDCOLOR", OPT_ENDCOLOR, 1, 0, "set end color to use for backfilling", "<color>", "$RRGGBB"},
    {"BRUSHFILE", OPT_BRUSHFILE, 1, 0, "set image to be used for backfilling", "<image file>", nullptr},
    {"BRUSH", OPT_BRUSH, 1, 0, "alternative way of specifying backfill image", "<brush id>", nullptr},
    {"SCALEPICTURE", OPT_SCALEPICTURE, 0, 0, "scale backfill image to fit display size", nullptr, nullptr},
    {"PICXPOS", OPT_PICXPOS, 1, 0, "set x-position of backfill image (defaults to center)", "<pos>", nullptr},
    {"PICYPOS", OPT_PICYPOS, 1, 0, "set y-position of backfill image (defaults to center)", "<pos>", nullptr},
    {"PICTRANS", OPT_PICTRANS, 1, 0, "set transparent color for backfill image (defaults to no transparency)",
     "<color>", "$RRGGBB"},
    {"HIDETITLEBAR", OPT_HIDETITLEBAR, 0, 0, "position backfill above desktop title bar", nullptr, nullptr},
    {"COMPILE", OPT_COMPILE, 1, 587, "compile script into an executable or applet", "<output file>", nullptr},
    {"EXETYPE", OPT_EXETYPE, 1, 0, "configure compiler output type (defaults to current platform)", "<type>",
     "classic|classic881|morphos|warpos|amigaos4|aros|win32|win32console|macos|macos86|linux|linuxppc|android|"
     "ios|applet"},
    {"COMPRESS", OPT_COMPRESS, 0, 0, "enable compression for compiled script", nullptr, nullptr},
    {"OVERWRITE", OPT_OVERWRITE, 0, 0, "overwrite existing file without asking", nullptr, nullptr},
    {"LOCKSETTINGS", OPT_LOCKSETTINGS, 0, 0, "lock display settings in output file", nullptr, nullptr},
    {"LINKFILES", OPT_LINKFILES, 1, 0, "database containing additional files to link into output file",
     "<database file>", nullptr},
    {"LINKFONTS", OPT_LINKFONTS, 1, 0, "database containing additional fonts to link into output file",
     "<database file>", nullptr},
    {"ICON16X16", OPT_ICON16, 1, 0, "16x16 pixel icon to link into output file", "<image file>", nullptr},
    {"ICON24X24", OPT_ICON24, 1, 0, "24x24 pixel icon to link into output file", "<image file>", nullptr},
    {"ICON32X32", OPT_ICON32, 1, 0, "32x32 pixel icon to link into output file", "<image file>", nullptr},
    {"ICON48X48", OPT_ICON48, 1, 0, "48x48 pixel icon to link into output file", "<image file>", nullptr},
    {"ICON128X128", OPT_ICON128, 1, 0, "128x128 pixel icon to link into output file", "<image file>", nullptr},
    {"ICON256X256", OPT_ICON256, 1, 0, "256x256 pixel icon to link into output file", "<image file>", nullptr},
    {"ICON512X512", OPT_ICON512, 1, 0, "512x512 pixel icon to link into output file", "<image file>", nullptr},
    {"AUTOSCALE", OPT_AUTOSCALE, 0, 648, "enable auto scaling engine", nullptr, nullptr},
    {"LAYERSCALE", OPT_LAYERSCALE, 0, 0, "enable layer scaling engine", nullptr, nullptr},
    {"SCALEWIDTH", OPT_SCALEWIDTH, 1, 0, "set scaling engine output width", "<width>", nullptr},
    {"SCALEHEIGHT", OPT_SCALEHEIGHT, 1, 0, "set scaling engine output height", "<height>", nullptr},
    {"SMOOTHSCALE", OPT_SMOOTHSCALE, 0, 0, "enable antialiased interpolation (slower)", nullptr, nullptr},
    {"KEEPPROPORTIONS", OPT_KEEPPROPORTIONS, 0, 0, "do not allow distorted scaling", nullptr, nullptr},
    {"FITSCALE", OPT_FITSCALE, 0, 0, "choose scaling resolution automatically from current desktop size", nullptr,
     nullptr},
    {"EXPORTCOMMANDS", OPT_EXPORTCOMMANDS, 1, 588, "export list of native commands to specified file", "<file>",
     nullptr},
    {"EXPORTCONSTANTS", OPT_EXPORTCONSTANTS, 1, 0, "export list of native constants to specified file", "<file>",
     nullptr},
    {"EXPORTPLUGINS", OPT_EXPORTPLUGINS, 1, 0, "export list of loaded plugins to specified file", "<file>",
     nullptr},
    {"QUIET", OPT_QUIET, 0, 589, "suppress Quenmoor's startup output", nullptr, nullptr},
    {"NOSOUND", OPT_NOSOUND, 0, 0, "disable sound output", nullptr, nullptr},
    {"SKIPPLUGINS", OPT_SKIPPLUGINS, 1, 0, "skip loading specified plugins", "<list>", nullptr},
    {"USEQUARTZ", OPT_USEQUARTZ, 0, 0, "use Quartz technology instead of QuickDraw", nullptr, nullptr},
    {"DEBUGDEVICE", OPT_DEBUGDEVICE, 1, 0, "set device for debug output", "<dev>", nullptr},
    {"PRIVATE1", OPT_EXPORTCOMMANDS, 1, -1, nullptr, nullptr, nullptr},
    {"PRIVATE2", OPT_EXPORTCONSTANTS, 1, -1, nullptr, nullptr, nullptr},
    {"PRIVATE3", OPT_PRIVATE3, 1, -1, nullptr, nullptr, nullptr},
    {"SCRIPTALIAS", OPT_SCRIPTALIAS, 1, -1, nullptr, nullptr, nullptr},
    {nullptr, 0, 0, 0, nullptr, nullptr, nullptr},
};

namespace {

bool IsKeywordChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

char *CopyText(const char *text) {
  size_t n = std::strlen(text) + 1;
  auto *copy = static_cast<char *>(MemAlloc(uint32_t(n), 0));
  if (copy) std::memcpy(copy, text, n);
  return copy;
}

// A number option: 0, or ParseNumber's error. *percent (optional) reports a '%' right after.
uint32_t NumberOption(const char *text, double *out, int *percent = nullptr) {
  size_t used = 0;
  uint32_t error = 0;
  *out = ParseNumber(text, &used, &error);
  if (percent) *percent = !error && text[used] == '%';
  return error;
}

uint32_t IntOption(const qmOptionValues *v, int32_t slot, int32_t *out) {
  const char *text = v->Text(slot);
  if (text == nullptr) return 0;
  double d;
  if (uint32_t e = NumberOption(text, &d)) return e;
  *out = NumberToInt(d);
  return 0;
}

uint32_t ColourOption(const qmOptionValues *v, int32_t slot, uint32_t *out) {
  const char *text = v->Text(slot);
  if (text == nullptr) return 0;
  double d;
  if (uint32_t e = NumberOption(text, &d)) return e;
  *out = NumberToUInt(d);
  return 0;
}

struct ExeType {
  const char *name;
  uint32_t bit;
};
constexpr ExeType kExeTypes[] = {
    {"CLASSIC", 0x1}, {"CLASSIC881", 0x2}, {"MORPHOS", 0x4}, {"WARPOS", 0x10}, {"AMIGAOS4", 0x8},
    {"AROS", 0x20}, {"APPLET", 0x40}, {"WIN32", 0x80}, {"WIN32CONSOLE", 0x100}, {"LINUX", 0x200},
    {"LINUXPPC", 0x4000}, {"MACOS", 0x400}, {"MACOS86", 0x800}, {"ANDROID", 0x1000}, {"IOS", 0x2000},
};

uint32_t ParseExeTypes(const char *text, uint32_t *bits) {
  uint32_t result = 0;
  const char *p = text;
  for (;;) {
    const char *end = std::strchr(p, '+');
    size_t n = end ? size_t(end - p) : std::strlen(p);
    uint32_t bit = 0;
    for (const ExeType &t : kExeTypes)
      if (std::strlen(t.name) == n && Strnicmp(t.name, p, n) == 0) bit = t.bit;
    if (bit == 0) return ERR_EXETYPE;
    result |= bit;
    if (end == nullptr) break;
    p = end + 1;
  }
  if (result == 0) return ERR_EXETYPE;
  *bits = result;
  return 0;
}

// The '|'-separated list as strings one after the other, ended by an empty string.
char *MakeSkipList(const char *text) {
  size_t n = std::strlen(text);
  auto *list = static_cast<char *>(MemAlloc(uint32_t(n + 2), 1));
  if (list == nullptr) return nullptr;
  for (size_t i = 0; i < n; i++) list[i] = text[i] == '|' ? '\0' : text[i];
  return list;
}

void CopyField(char *out, size_t size, const char *text) { CopyString(out, text, size); }

}  // namespace

const qmOption *FindOption(const char *keyword, size_t length) {
  for (const qmOption *o = kOptionTable; o->keyword; o++)
    if (std::strlen(o->keyword) == length && Strnicmp(o->keyword, keyword, length) == 0) return o;
  return nullptr;
}

uint32_t JoinArguments(int argc, char **argv, char *line) {
  size_t len = 0;
  line[0] = 0;
  for (int i = 1; i < argc; i++) {
    const char *arg = argv[i];
    bool option = arg[0] == '-';
    size_t need = std::strlen(arg) + (option ? 0 : 2) + (len ? 1 : 0);
    if (len + need >= kArgumentLineSize) return ERR_ARGS;
    if (len) line[len++] = ' ';
    if (!option) line[len++] = '"';
    std::memcpy(line + len, arg, std::strlen(arg));
    len += std::strlen(arg);
    if (!option) line[len++] = '"';
    line[len] = 0;
  }
  return 0;
}

uint32_t ParseArgumentLine(char *line, qmOptionValues *values, qmClArgs *args) {
  int32_t pendingSlot = -1;  // a table option waiting for its value
  bool pendingUser = false;  // a user argument waiting for its value
  char *p = line;
  for (;;) {
    while (*p == ' ') p++;
    if (*p == 0) break;
    if (*p == '-') {
      if (pendingSlot >= 0) return ERR_ARGS;
      pendingUser = false;
      char *key = ++p;
      while (IsKeywordChar(*p)) p++;
      size_t keyLength = size_t(p - key);
      if (*p) *p++ = 0;  // the character after the keyword ends the word
      else *p = 0;
      if (const qmOption *o = FindOption(key, keyLength)) {
        if (o->takesValue) pendingSlot = o->slot;
        else values->slot[o->slot] = 1;
      } else {
        key[keyLength] = 0;
        if (uint32_t e = AddUserArg(args, key, nullptr)) return e;
        pendingUser = true;
      }
      continue;
    }
    char *word;
    if (*p == '"') {
      word = ++p;
      char *close = std::strchr(p, '"');
      if (close == nullptr) return ERR_ARGS;
      *close = 0;
      p = close + 1;
    } else {
      word = p;
      while (*p && *p != ' ') p++;
      if (*p) *p++ = 0;
    }
    if (pendingSlot >= 0) {
      values->slot[pendingSlot] = reinterpret_cast<uintptr_t>(word);
      pendingSlot = -1;
    } else if (pendingUser) {
      if (uint32_t e = SetLastUserArgValue(args, word)) return e;
      pendingUser = false;
    } else {
      if (values->slot[OPT_PROGRAM]) return ERR_ARGS;
      values->slot[OPT_PROGRAM] = reinterpret_cast<uintptr_t>(word);
    }
  }
  return pendingSlot >= 0 ? uint32_t(ERR_ARGS) : 0u;
}

void FreeRunOptions(qmRunOptions *run) {
  MemFree(run->exportCommands);
  MemFree(run->exportConstants);
  MemFree(run->exportPlugins);
  MemFree(run->skipList);
  for (char *&icon : run->icons) {
    MemFree(icon);
    icon = nullptr;
  }
  run->exportCommands = run->exportConstants = run->exportPlugins = run->skipList = nullptr;
}

uint32_t ApplyOptions(qmClArgs *args, const qmOptionValues *v, qmPlayerApplet *applet, qmRunOptions *run) {
  qmDisplaySettings &s = applet->settings;
  auto on = [v](int32_t slot) { return v->slot[slot] != 0; };

  if (on(OPT_COMPILE)) args->compileRequested = 1;
  if (on(OPT_WINDOW)) s.displayMode = DISPMODE_WINDOW;
  if (on(OPT_HIDETITLEBAR)) s.hideTitleBar = 1;

  const struct {
    int32_t slot;
    uint32_t flag;
  } flags[] = {{OPT_BORDERLESS, WINFLAG_BORDERLESS}, {OPT_SIZEABLE, WINFLAG_SIZEABLE},
               {OPT_FIXED, WINFLAG_FIXED},           {OPT_NOHIDE, WINFLAG_NOHIDE},
               {OPT_HIDEPOINTER, WINFLAG_HIDEPOINTER}, {OPT_NOMODESWITCH, WINFLAG_NOMODESWITCH},
               {OPT_USEQUARTZ, WINFLAG_USEQUARTZ},   {OPT_KEEPPROPORTIONS, WINFLAG_KEEPPROPORTIONS},
               {OPT_FITSCALE, WINFLAG_FITSCALE}};
  for (const auto &f : flags)
    if (on(f.slot)) s.windowFlags |= f.flag;

  if (on(OPT_AUTOSCALE) && on(OPT_LAYERSCALE)) return ERR_ARGS;
  if (on(OPT_AUTOSCALE)) s.windowFlags |= WINFLAG_AUTOSCALE;
  if (on(OPT_LAYERSCALE)) s.windowFlags |= WINFLAG_LAYERSCALE;

  if (on(OPT_OVERWRITE)) args->overwrite = 1;
  if (on(OPT_LOCKSETTINGS)) args->lockSettings = 1;

  if (s.windowFlags & (WINFLAG_AUTOSCALE | WINFLAG_LAYERSCALE)) {
    if (on(OPT_SMOOTHSCALE)) s.windowFlags |= WINFLAG_SMOOTHSCALE;
    const struct {
      int32_t slot;
      int32_t *out;
    } scales[] = {{OPT_SCALEWIDTH, &s.scaleWidth}, {OPT_SCALEHEIGHT, &s.scaleHeight}};
    for (const auto &sc : scales) {
      const char *text = v->Text(sc.slot);
      if (text == nullptr) continue;
      double d;
      int percent = 0;
      if (uint32_t e = NumberOption(text, &d, &percent)) return e;
      *sc.out = NumberToInt(percent ? -d : d);
    }
  }

  if (on(OPT_OWNSCREEN)) {
    if (on(OPT_FULLSCREEN) || on(OPT_FAKEFULLSCREEN)) return ERR_ARGS;
    s.displayMode = DISPMODE_OWNSCREEN;
  }
  if (uint32_t e = IntOption(v, OPT_DEPTH, &s.depth)) return e;
  if (uint32_t e = IntOption(v, OPT_SCRWIDTH, &s.screenWidth)) return e;
  if (uint32_t e = IntOption(v, OPT_SCRHEIGHT, &s.screenHeight)) return e;

  if (const char *mode = v->Text(OPT_BACKFILL)) {
    qmBackfill &b = s.backfill;
    if (Stricmp(mode, "COLOR") == 0) b.mode = 1;
    else if (Stricmp(mode, "GRADIENT") == 0 || Stricmp(mode, "RAINBOW") == 0) b.mode = 2;
    else if (Stricmp(mode, "TEXTURE") == 0) b.mode = 3;
    else if (Stricmp(mode, "PICTURE") == 0) b.mode = 4;
    else return ERR_BACKFILL;
    bool file = on(OPT_BRUSHFILE), brush = on(OPT_BRUSH);
    if (file && brush) return ERR_BACKFILL;
    if (b.mode == 1 && !on(OPT_STARTCOLOR)) return ERR_BACKFILL;
    if (b.mode == 2 && !(on(OPT_STARTCOLOR) && on(OPT_ENDCOLOR))) return ERR_BACKFILL;
    if (b.mode >= 3 && !file && !brush) return ERR_BACKFILL;
    if (uint32_t e = IntOption(v, OPT_BRUSH, &b.brushId)) return e;
    if (file) CopyField(b.imageFile, sizeof b.imageFile, v->Text(OPT_BRUSHFILE));
    if (uint32_t e = ColourOption(v, OPT_STARTCOLOR, &b.startColor)) return e;
    if (uint32_t e = ColourOption(v, OPT_ENDCOLOR, &b.endColor)) return e;
    if (on(OPT_SCALEPICTURE)) b.scalePicture = 1;
    if (uint32_t e = IntOption(v, OPT_PICXPOS, &b.pictureX)) return e;
    if (uint32_t e = IntOption(v, OPT_PICYPOS, &b.pictureY)) return e;
    if (uint32_t e = ColourOption(v, OPT_PICTRANS, &b.transparentColor)) return e;
  }

  args->quiet = on(OPT_QUIET);
  args->noSound = on(OPT_NOSOUND);

  if (const char *types = v->Text(OPT_EXETYPE))
    if (uint32_t e = ParseExeTypes(types, &args->exeTypes)) return e;

  const struct {
    int32_t slot;
    char **out;
  } exports[] = {{OPT_EXPORTCOMMANDS, &run->exportCommands},
                 {OPT_EXPORTCONSTANTS, &run->exportConstants},
                 {OPT_EXPORTPLUGINS, &run->exportPlugins}};
  for (const auto &ex : exports) {
    const char *text = v->Text(ex.slot);
    if (text == nullptr) continue;
    MemFree(*ex.out);
    if ((*ex.out = CopyText(text)) == nullptr) return ERR_MEM;
  }
  if (const char *skip = v->Text(OPT_SKIPPLUGINS)) {
    MemFree(run->skipList);
    if ((run->skipList = MakeSkipList(skip)) == nullptr) return ERR_MEM;
  }

  if (const char *text = v->Text(OPT_PRIVATE3))
    CopyField(applet->firstDisplayText, sizeof applet->firstDisplayText, text);
  if (const char *alias = v->Text(OPT_SCRIPTALIAS)) CopyField(args->scriptAlias, sizeof args->scriptAlias, alias);

  if (args->compileRequested) {
    if (const char *db = v->Text(OPT_LINKFILES))
      if (uint32_t e = ParseLinkDatabase(applet, db, 0)) return e;
    if (const char *db = v->Text(OPT_LINKFONTS))
      if (uint32_t e = ParseLinkDatabase(applet, db, 1)) return e;
  }

  if (on(OPT_DEBUGDEVICE)) run->consoleReports = 1;
  ApplyPlatformOptions();
  if (on(OPT_COMPRESS)) args->compress = 1;

  for (int i = 0; i < 7; i++) {
    const char *icon = v->Text(OPT_ICON16 + i);
    if (icon == nullptr) continue;
    MemFree(run->icons[i]);
    run->icons[i] = static_cast<char *>(MemAlloc(1024, 1));
    if (run->icons[i] == nullptr) return ERR_MEM;
    if (!GetFullPath(icon, run->icons[i], 1024)) CopyField(run->icons[i], 1024, icon);
  }

  if (on(OPT_FAKEFULLSCREEN)) {
    if (on(OPT_OWNSCREEN) || on(OPT_FULLSCREEN)) return ERR_ARGS;
    s.displayMode = DISPMODE_FAKEFULLSCREEN;
  }
  if (on(OPT_FULLSCREEN)) {
    if (on(OPT_OWNSCREEN) || on(OPT_FAKEFULLSCREEN)) return ERR_ARGS;
    s.displayMode = DISPMODE_FULLSCREEN;
  }
  return 0;
}
