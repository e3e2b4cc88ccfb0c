#include "player/programfile.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "io/qmpk.h"
#include "platform/env.h"
#include "platform/file.h"
#include "platform/fileops.h"
#include "platform/memory.h"
#include "platform/path.h"
#include "platform/process.h"
#include "player/appletrecord.h"
#include "player/clargs.h"
#include "player/declarations.h"
#include "player/playerrun.h"
#include "player/playertext.h"
#include "runtime/auxlib.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/errreport.h"
#include "runtime/registry.h"
#include "runtime/rttags.h"
#include "runtime/strutil.h"
#include "runtime/vm/vm_api.h"
#include "runtime/vnames.h"

namespace {

constexpr uint32_t kMaxShortName = 255;
constexpr uint32_t kMaxPathName = 1023;

// Reads the applet through bounds checks: nothing is read, skipped or allocated beyond the
// file's end. The first failure sticks in code.
struct AppletReader {
  qmFileHandle *fh;
  uint64_t start;
  uint64_t end;
  const char *programName;
  uint32_t code = 0;

  uint64_t Position() const { return fh->position; }
  bool Fail(uint32_t c) {
    if (code == 0) code = c;
    return false;
  }
  // A count or size beyond what the player's records hold.
  bool Corrupt() {
    char shown[kChunkNameSize];
    SetErrorArgument(ChunkDisplayName(programName, shown, sizeof shown));
    return Fail(ERR_NOAPPLET);
  }
  bool Bytes(void *out, uint64_t n) {
    if (code) return false;
    if (n > end - Position() || FileReadBytes(fh, out, n) != n) return Fail(ERR_UNEXPECTEDEOF);
    return true;
  }
  bool Skip(uint64_t n) {
    if (code) return false;
    if (n > end - Position()) return Fail(ERR_UNEXPECTEDEOF);
    FileSeek(fh, int64_t(n), FILE_SEEK_CURRENT);
    return true;
  }
  uint8_t U8() {
    uint8_t b = 0;
    Bytes(&b, 1);
    return b;
  }
  int32_t I16() {
    uint8_t b[2] = {};
    Bytes(b, 2);
    return int16_t(uint16_t(b[0] << 8 | b[1]));
  }
  uint32_t U32() {
    uint8_t b[4] = {};
    Bytes(b, 4);
    return uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
  }
  double Fixed() { return U32() / 1000000.0; }
  // Bytes up to and including a zero byte; at most max characters before it.
  bool String(char *out, uint32_t max) {
    for (uint32_t i = 0;; i++) {
      uint8_t c = U8();
      if (code) return false;
      if (i > max) return Corrupt();
      out[i] = char(c);
      if (c == 0) return true;
    }
  }
  // A signed 16-bit length and that many bytes, kept when they fit in max characters.
  bool ShortString(char *out, uint32_t max) {
    int32_t n = I16();
    if (code) return false;
    if (n < 0 || uint32_t(n) > max) return Corrupt();
    if (!Bytes(out, uint32_t(n))) return false;
    out[n] = 0;
    return true;
  }
  // An offset and length from the applet start that must lie inside the file.
  bool InsideFile(uint64_t offset, uint64_t length) {
    if (offset > end - start || length > end - start - offset) return Fail(ERR_UNEXPECTEDEOF);
    return true;
  }
};

uint32_t Version(const qmPlayerApplet *a) { return uint32_t(a->versionMajor) << 8 | a->versionMinor; }
constexpr uint32_t V(uint32_t major, uint32_t minor) { return major << 8 | minor; }

void ReadGradientBlock(AppletReader &r, qmGradient *g) {
  g->style = r.U8();
  g->centerX = r.Fixed();
  g->centerY = r.Fixed();
  g->balance = r.Fixed();
  g->border = r.Fixed();
  uint32_t count = r.U8();
  if (count > kMaxGradientColors) {
    r.Corrupt();
    return;
  }
  g->count = count;
  for (uint32_t i = 0; i < count; i++) {
    g->colors[i].color = r.U32();
    g->colors[i].position = r.Fixed();
  }
}

void ReadRegions(AppletReader &r, qmRegion *regions, uint32_t *count) {
  uint32_t n = r.U32();
  if (r.code) return;
  if (n > kMaxRegions) {
    r.Corrupt();
    return;
  }
  *count = n;
  for (uint32_t i = 0; i < n; i++) {
    regions[i].type = int32_t(r.U32());
    regions[i].x = int32_t(r.U32());
    regions[i].y = int32_t(r.U32());
    regions[i].width = int32_t(r.U32());
    regions[i].height = int32_t(r.U32());
  }
}

// Type data of one declaration entry, into a record of the declaration's type.
void ReadTypeData(AppletReader &r, const qmPlayerApplet *applet, int32_t type, void *record) {
  uint32_t version = Version(applet);
  uint32_t major = applet->versionMajor;
  switch (type) {
    case DECL_BGPIC: {
      auto *b = static_cast<qmBGPicDecl *>(record);
      InitGradient(&b->gradient);
      if (version < V(4, 7)) return;
      b->fillStyle = r.U8();
      b->fillColor = b->gradient.startColor = r.U32();
      b->gradient.endColor = r.U32();
      b->gradient.angle = r.I16();
      b->textureBrush = r.U32();
      b->textureX = int32_t(r.U32());
      b->textureY = int32_t(r.U32());
      if (major >= 5) {
        uint32_t start = b->gradient.startColor, endColor = b->gradient.endColor;
        int32_t angle = b->gradient.angle;
        ReadGradientBlock(r, &b->gradient);
        b->gradient.startColor = start;
        b->gradient.endColor = endColor;
        b->gradient.angle = angle;
      }
      return;
    }
    case DECL_BRUSH: {
      auto *b = static_cast<qmImageDecl *>(record);
      b->width = r.I16();
      b->height = r.I16();
      b->x = r.I16();
      b->y = r.I16();
      b->globalAlpha = r.I16();
      if (major >= 5) b->hardware = r.U8();
      return;
    }
    case DECL_ANIM: {
      auto *a = static_cast<qmImageDecl *>(record);
      if (major >= 3) a->fromDisk = r.U8();
      if (version >= V(4, 1)) {
        a->width = r.I16();
        a->height = r.I16();
        a->frames = r.I16();
        a->framesPerRow = r.I16();
        a->x = r.I16();
        a->y = r.I16();
      }
      return;
    }
    case DECL_SPRITE: {
      auto *s = static_cast<qmImageDecl *>(record);
      s->width = r.I16();
      s->height = r.I16();
      s->frames = r.I16();
      s->framesPerRow = r.I16();
      s->x = r.I16();
      s->y = r.I16();
      return;
    }
    case DECL_BUTTON: {
      auto *b = static_cast<qmButtonDecl *>(record);
      for (int32_t &v : b->values) v = r.I16();
      return;
    }
    case DECL_DISPLAY: {
      auto *d = static_cast<qmDisplayDecl *>(record);
      InitGradient(&d->gradient);
      d->bgpic = int32_t(r.U32());
      d->x = int32_t(r.U32());
      d->y = int32_t(r.U32());
      d->width = int32_t(r.U32());
      d->height = int32_t(r.U32());
      d->color = d->gradient.startColor = r.U32();
      d->flags = r.U32();
      d->mask = r.U32();
      d->scaleWidth = int32_t(r.U32());
      d->scaleHeight = int32_t(r.U32());
      ReadRegions(r, d->drag, &d->dragCount);
      ReadRegions(r, d->size, &d->sizeCount);
      r.ShortString(d->title, kMaxShortName);
      if (version < V(4, 7)) return;
      d->fillStyle = r.U8();
      d->gradient.endColor = r.U32();
      d->gradient.angle = r.I16();
      d->textureBrush = r.U32();
      d->textureX = int32_t(r.U32());
      d->textureY = int32_t(r.U32());
      if (major >= 5) {
        uint32_t start = d->gradient.startColor, endColor = d->gradient.endColor;
        int32_t angle = d->gradient.angle;
        ReadGradientBlock(r, &d->gradient);
        d->gradient.startColor = start;
        d->gradient.endColor = endColor;
        d->gradient.angle = angle;
      }
      if (version >= V(5, 2)) r.ShortString(d->pubScreen, kMaxShortName);
      return;
    }
    default: return;
  }
}

union DeclRecord {
  qmBGPicDecl bgpic;
  qmImageDecl image;
  qmButtonDecl button;
  qmDisplayDecl display;
};

void ReadDeclarations(AppletReader &r, qmPlayerApplet *applet, const char *programName) {
  uint32_t count = r.U32();
  for (uint32_t i = 0; i < count && r.code == 0; i++) {
    int32_t type = r.U8();
    uint32_t id = r.U32(), nameOffset = r.U32(), nameLength = r.U32();
    uint32_t dataOffset = r.U32(), dataLength = r.U32();
    uint32_t param1 = r.U32(), param2 = r.U32(), line = r.U32();
    if (r.code) return;
    if (type > DECL_PLUGIN) {
      r.Fail(ERR_UNKNOWNSEC);
      return;
    }
    DeclRecord record;
    std::memset(&record, 0, sizeof record);
    if (type == DECL_BRUSH || type == DECL_ANIM || type == DECL_SPRITE) record.image.globalAlpha = -1;
    ReadTypeData(r, applet, type, &record);
    if (r.code) return;
    if (dataLength && !r.InsideFile(dataOffset, dataLength)) return;

    char name[kMaxPathName + 1] = "";
    if (nameLength) {
      if (nameLength > kMaxPathName + 1) {
        r.Corrupt();
        return;
      }
      if (!r.InsideFile(nameOffset, nameLength)) return;
      uint64_t here = r.Position();
      FileSeek(r.fh, int64_t(r.start + nameOffset), FILE_SEEK_START);
      if (!r.Bytes(name, nameLength)) return;
      name[nameLength - 1] = 0;  // the stored name ends with its zero byte; never trust it
      FileSeek(r.fh, int64_t(here), FILE_SEEK_START);
    }
    qmDeclaration *d = nullptr;
    uint32_t code = AddDeclaration(applet, type, id, type == DECL_DISPLAY ? nullptr : name, param1, param2,
                                   int32_t(line), 1, &record, &d);
    if (code) {
      r.Fail(code);
      return;
    }
    d->nameOffset = nameOffset;
    d->nameLength = nameLength;
    d->dataOffset = dataOffset;
    d->dataLength = dataLength;
    CopyString(d->container, programName, sizeof d->container);
  }
}

// The first display's declaration, appended by the first section that sets it.
qmDisplayDecl *FirstDisplay(AppletReader &r, qmPlayerApplet *applet, qmDeclaration **first) {
  if (*first == nullptr) {
    uint32_t code = AddDefaultDisplay(applet, nullptr, first);
    if (code) {
      r.Fail(code);
      return nullptr;
    }
  }
  return static_cast<qmDisplayDecl *>((*first)->record);
}

void FlagSection(AppletReader &r, qmPlayerApplet *applet, qmDeclaration **first, uint32_t bit) {
  uint8_t on = r.U8();
  if (r.code) return;
  qmDisplayDecl *d = FirstDisplay(r, applet, first);
  if (d == nullptr) return;
  d->mask |= bit;
  if (on) d->flags |= bit;
}

void ReadIncludes(AppletReader &r, qmPlayerApplet *applet, bool withContainer) {
  uint32_t count = r.U32();
  for (uint32_t i = 0; i < count && r.code == 0; i++) {
    uint32_t first = r.U32(), last = r.U32(), offset = r.U32();
    char name[kMaxPathName + 1], container[kMaxPathName + 1];
    if (!r.String(name, kMaxPathName)) return;
    if (withContainer && !r.String(container, kMaxPathName)) return;
    // The compiled chunk carries the include's name as its source.
    if (uint32_t code = AddIncludeFile(&applet->base, first, last, offset, name, name)) r.Fail(code);
  }
}

void ReadLinkedFiles(AppletReader &r, qmPlayerApplet *applet) {
  uint32_t count = r.U32();
  r.U32();
  for (uint32_t i = 0; i < count && r.code == 0; i++) {
    char name[kMaxPathName + 1];
    if (!r.String(name, kMaxPathName)) return;
    uint32_t length = r.U32();
    uint64_t offset;
    if (length == 0xFFFFFFFFu) {
      length = r.U32();
      offset = r.U32();
      if (r.code || !r.InsideFile(offset, length)) return;
    } else {
      offset = r.Position() - r.start;
      if (!r.Skip(length)) return;
    }
    if (r.code) return;
    if (uint32_t code = AddLinkedFile(&applet->base, name, "", uint32_t(offset), length)) r.Fail(code);
  }
}

void ReadUserConstants(AppletReader &r, VmState *L) {
  for (;;) {
    char name[kMaxShortName + 1];
    if (!r.String(name, kMaxShortName) || name[0] == 0) return;
    uint8_t kind = r.U8();
    qmConstantEntry table[2] = {{name, nullptr, 0}, {nullptr, nullptr, 0}};
    std::string text;
    if (kind == 0) {
      uint8_t b[8];
      if (!r.Bytes(b, 8)) return;
      uint64_t bits = 0;
      for (int i = 7; i >= 0; i--) bits = bits << 8 | b[i];  // little-endian
      std::memcpy(&table[0].value, &bits, 8);
    } else {
      text.resize(65536);
      if (!r.String(text.data(), 65535)) return;
      table[0].text = text.c_str();
    }
    if (r.code) return;
    vm_registerconstants(L, table, 1);
  }
}

}  // namespace

uint32_t ReadAppletSections(VmState *L, qmPlayerApplet *applet, qmFileHandle *fh, uint64_t appletStart,
                            const char *programName) {
  AppletReader r{fh, appletStart, fh->size, programName};
  if (appletStart > r.end) return ERR_UNEXPECTEDEOF;
  qmDeclaration *first = nullptr;
  qmDisplaySettings &s = applet->settings;
  for (;;) {
    if (r.Position() >= r.end) return ERR_UNEXPECTEDEOF;
    uint32_t type = r.U8();
    switch (type) {
      case 0: r.Skip(r.U32()); break;
      case 1: {
        uint32_t length = r.U32();
        if (r.code) return r.code;
        if (length > r.end - r.Position()) return ERR_UNEXPECTEDEOF;
        auto *code = static_cast<uint8_t *>(MemAlloc(length ? length : 1, 0));
        if (code == nullptr) return ERR_MEM;
        MemFree(applet->base.bytecode);
        applet->base.bytecode = code;
        applet->base.bytecodeLength = length;
        r.Bytes(code, length);
        return r.code;
      }
      case 2: ReadDeclarations(r, applet, programName); break;
      case 3: {
        int32_t w = r.I16(), h = r.I16();
        if (r.code) break;
        if (qmDisplayDecl *d = FirstDisplay(r, applet, &first)) {
          d->width = w;
          d->height = h;
        }
        break;
      }
      case 4: {
        char name[32768];
        r.ShortString(name, sizeof name - 1);
        break;
      }
      case 5: {
        uint32_t color = r.U32();
        if (r.code) break;
        if (qmDisplayDecl *d = FirstDisplay(r, applet, &first)) d->color = d->gradient.startColor = color;
        break;
      }
      case 6: {
        uint32_t x = r.U32(), y = r.U32();
        if (r.code) break;
        if (qmDisplayDecl *d = FirstDisplay(r, applet, &first)) {
          d->x = int32_t(x);
          d->y = int32_t(y);
        }
        break;
      }
      case 7: applet->desktopSize = 1; break;
      case 8: ReadIncludes(r, applet, false); break;
      case 9: {
        uint32_t count = r.U32();
        for (uint32_t i = 0; i < count && r.code == 0; i++) {
          uint32_t value = r.U32();
          char name[kMaxShortName + 1];
          if (r.String(name, kMaxShortName)) SetLabelIndex(L, name, int32_t(value));
        }
        break;
      }
      case 10: {
        uint8_t major = r.U8(), minor = r.U8();
        if (r.code) break;
        applet->versionMajor = major;
        applet->versionMinor = minor;
        if (Version(applet) > V(5, 2)) {
          char text[16];
          std::snprintf(text, sizeof text, "%d.%d", major, minor);
          SetErrorArgument(text);
          return ERR_APPLETVERSION;
        }
        break;
      }
      case 11: case 12: case 13: case 14: case 15:
        r.String(applet->appInfo[type - 11], kMaxShortName);
        break;
      case 16: s.displayMode = r.U8(); break;
      case 17: {
        qmBackfill &b = s.backfill;
        b.mode = r.U8();
        if (b.mode == 1) {
          b.startColor = r.U32();
        } else if (b.mode == 2) {
          b.startColor = r.U32();
          b.endColor = r.U32();
        } else if (b.mode == 3) {
          b.brushId = int32_t(r.U32());
        } else if (b.mode == 4) {
          b.brushId = int32_t(r.U32());
          b.pictureX = int32_t(r.U32());
          b.pictureY = int32_t(r.U32());
          b.startColor = r.U32();
          b.endColor = r.U32();
          if (Version(applet) >= V(3, 2)) b.scalePicture = r.U8();
          b.imageFile[0] = 0;
        }
        break;
      }
      case 18: FlagSection(r, applet, &first, WINFLAG_BORDERLESS); break;
      case 19: FlagSection(r, applet, &first, WINFLAG_FIXED); break;
      case 20: FlagSection(r, applet, &first, WINFLAG_SIZEABLE); break;
      case 21: s.hideTitleBar = r.U8(); break;
      case 22:
        s.screenWidth = r.I16();
        s.screenHeight = r.I16();
        break;
      case 23: s.depth = r.U8(); break;
      case 24: FlagSection(r, applet, &first, WINFLAG_HIDEPOINTER); break;
      case 25: FlagSection(r, applet, &first, WINFLAG_NOMODESWITCH); break;
      case 26: ReadLinkedFiles(r, applet); break;
      case 27: ReadIncludes(r, applet, true); break;
      case 28: {
        uint8_t engine = r.U8();
        uint32_t w = r.U32(), h = r.U32();
        uint8_t smooth = r.U8();
        if (r.code) break;
        if (qmDisplayDecl *d = FirstDisplay(r, applet, &first)) {
          d->mask |= WINFLAG_AUTOSCALE | WINFLAG_LAYERSCALE | WINFLAG_SMOOTHSCALE;
          d->flags &= ~(WINFLAG_AUTOSCALE | WINFLAG_LAYERSCALE);
          d->flags |= engine == 0 ? WINFLAG_AUTOSCALE : WINFLAG_LAYERSCALE;
          d->scaleWidth = int32_t(w);
          d->scaleHeight = int32_t(h);
          if (smooth) d->flags |= WINFLAG_SMOOTHSCALE;
        }
        break;
      }
      case 29:
        ResetDisplaySettings(&s);
        applet->settingsLocked = 1;
        break;
      case 30: FlagSection(r, applet, &first, WINFLAG_NOHIDE); break;
      case 31: ReadUserConstants(r, L); break;
      default: return r.code ? r.code : uint32_t(ERR_UNKNOWNSEC);
    }
    if (r.code) return r.code;
  }
}

uint32_t OpenProgramFile(VmState *L, qmPlayerRun *run) {
  qmClArgs *args = run->args;
  qmPlayerApplet *applet = run->applet;
  char full[kMaxPathLength + 1];
  if (GetFullPath(args->programPath, full, sizeof full)) CopyString(args->programPath, full, sizeof args->programPath);

  qmFileHandle *fh = nullptr;
  uint32_t code = FileOpenRegular(args->programPath, &fh);
  if (code) {
    SetErrorArgument(args->programPath);
  } else {
    char folder[kMaxPathLength + 1];
    if (run->linked) {
      GetBundlePath(folder);
    } else {
      CopyString(folder, args->programPath, sizeof folder);
      char *slash = std::strrchr(folder, '/');
      if (slash) *(slash == folder ? slash + 1 : slash) = 0;
    }
    if (folder[0]) MemFree(SetCurrentDir(folder));
    PrintStatusMessage(PlayerText(MSG_OPENING_SCRIPT), args->scriptAlias[0] ? args->scriptAlias : args->programPath, 1);

    // Errors name the file the user gave, also when a packed program is read from a temporary one.
    char given[kMaxPathLength + 1];
    CopyString(given, args->programPath, sizeof given);
    uint64_t start = run->linked ? run->linkOffset : 0;
    uint32_t magic = 0;
    auto readMagic = [&]() {
      uint8_t m[4];
      if (fh->size > start && fh->size - start > 4) {
        FileSeek(fh, int64_t(start), FILE_SEEK_START);
        if (FileReadBytes(fh, m, 4) == 4) magic = uint32_t(m[0]) << 24 | uint32_t(m[1]) << 16 | uint32_t(m[2]) << 8 | m[3];
      }
    };
    readMagic();
    if (magic == kMagicQMZ) {
      char temp[kMaxPathLength + 1];
      FileClose(fh);
      fh = nullptr;
      if (TempFileName(temp) == nullptr) {
        SetErrorArgument("");
        code = ERR_WRITEFILE;
      } else if ((code = AddTempFile(run, temp)) == 0 &&
                 (code = UnpackQMPK(kMagicQMZ, args->programPath, temp, start, nullptr, kMaxPackedProgram)) == 0) {
        CopyString(args->programPath, temp, sizeof args->programPath);
        start = 0;
        magic = 0;
        fh = FileOpen(temp, FILE_MODE_READ);
        if (fh == nullptr) {
          SetErrorArgument(temp);
          code = ERR_READFILE;
        } else {
          readMagic();
        }
      } else if (code == ERR_PAKFORMAT) {
        code = ERR_NOAPPLET;  // it inflates to more than a packed program may hold
      }
    }
    if (code == 0) {
      args->isApplet = magic == kMagicQMA;
      if (!args->isApplet) code = ERR_NOAPPLET;
    }
    if (code == 0) {
      applet->base.appletBase = start;
      CopyString(applet->base.programPath, args->programPath, sizeof applet->base.programPath);
      FileSeek(fh, int64_t(start + 4), FILE_SEEK_START);
      code = ReadAppletSections(L, applet, fh, start, args->programPath);
      if (code == 0) PrintDoneMessage();
    }
    char shown[kChunkNameSize];
    if (code == ERR_NOAPPLET) SetErrorArgument(ChunkDisplayName(given, shown, sizeof shown));
  }
  if (fh) FileClose(fh);
  vm_registry_setstring(L, "script", ":none:");
  return code;
}
