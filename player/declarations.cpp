#include "player/declarations.h"

#include <cstdio>
#include <cstring>

#include "platform/desktop.h"
#include "platform/memory.h"
#include "player/appletrecord.h"
#include "runtime/cmdargs.h"
#include "runtime/context.h"
#include "runtime/errmessages.h"
#include "runtime/errcodes.h"
#include "runtime/rttags.h"
#include "runtime/strutil.h"
#include "runtime/vm/vm_api.h"
#include "runtime/vnames.h"

namespace {

size_t RecordSize(int32_t type) {
  switch (type) {
    case DECL_BGPIC: return sizeof(qmBGPicDecl);
    case DECL_BRUSH:
    case DECL_ANIM:
    case DECL_SPRITE: return sizeof(qmImageDecl);
    case DECL_BUTTON: return sizeof(qmButtonDecl);
    case DECL_DISPLAY: return sizeof(qmDisplayDecl);
    default: return 0;
  }
}

const char *CommandName(int32_t type) {
  static const char *const kNames[] = {"LoadBGPic",   "LoadBrush", "LoadAnim",  "OpenMusic",
                                       "LoadSample",  "CreateButton", "CreateKeyDown", "LoadSprite",
                                       "OpenFile",    "OpenFont",  "CreateDisplay", "OpenVideo"};
  return type >= 0 && type <= DECL_VIDEO ? kNames[type] : "";
}

// Fonts with these names are the built-in faces, never linked data.
bool IsBuiltinFontName(const char *name) {
  static const char *const kBuiltin[] = {":::default_sans", ":::default_serif", ":::default_mono",
                                         ":::default_bitmap", ":::default_truetype"};
  for (const char *b : kBuiltin)
    if (name && Stricmp(name, b) == 0) return true;
  return false;
}

void SetInt(VmState *L, const char *key, double value) {
  vm_pushstring(L, key);
  vm_pushnumber(L, value);
  vm_settable(L, -3);
}

void SetText(VmState *L, const char *key, const char *value) {
  vm_pushstring(L, key);
  vm_pushstring(L, value);
  vm_settable(L, -3);
}

// Pushes the global command of the lower-cased name; 1 when it is a function.
int PushCommand(VmState *L, const char *name) {
  char lower[64];
  std::strncpy(lower, name, sizeof lower - 1);
  lower[sizeof lower - 1] = 0;
  StrToLower(lower);
  vm_pushstring(L, lower);
  vm_gettable(L, VM_GLOBALSINDEX);
  return vm_type(L, -1) == VM_TFUNCTION;
}

void PrepareCall(VmState *L, const qmDeclaration *d, const char *command) {
  qmTagItem tags[] = {{RTTAG_QUIET, 1}, {0, 0}};
  SetRuntimeTags(nullptr, tags);
  vm_seterrorplace(L, d->line, command, nullptr);
}

// The name the command gets: linked data as a virtual name, else the name joined to the base
// folder when relative.
void ResolveFileName(const qmDeclaration *d, const char *programPath, uint64_t appletBase, char *out,
                     size_t size) {
  const char *name = d->fileName ? d->fileName : "";
  if (d->dataLength) {
    const char *container = d->container[0] ? d->container : programPath;
    if (MakeChunkName(name, out, size, d->dataOffset, d->dataLength, appletBase, container)) return;
  }
  out[0] = 0;
  if (d->baseDir[0] && name[0] != '/' && std::strchr(name, ':') == nullptr) {
    CopyString(out, d->baseDir, size);
    if (AddPart(out, size, name)) return;
  }
  std::strncpy(out, name, size - 1);
  out[size - 1] = 0;
}

void PushImageTable(VmState *L, const qmDeclaration *d) {
  vm_newtable(L);
  if (d->param1 != 0xFFFFFFFFu) SetInt(L, "transparency", d->param1);
  SetInt(L, "loadalpha", d->param2);
  if (d->type == DECL_BGPIC) {
    const qmBGPicDecl *b = static_cast<const qmBGPicDecl *>(d->record);
    if (b->cache) SetText(L, "cache", d->fileName ? d->fileName : "");
    if (b->cachedLoad) SetText(L, "cachedload", d->fileName ? d->fileName : "");
    if (b->fillStyle == 0) return;
    SetInt(L, "fillstyle", b->fillStyle);
    if (b->fillStyle == 2) {
      PushGradientTags(L, &b->gradient);
    } else if (b->fillStyle == 3) {
      SetInt(L, "texturebrush", b->textureBrush);
      SetInt(L, "texturex", b->textureX);
      SetInt(L, "texturey", b->textureY);
    } else if (b->fillStyle == 1) {
      SetInt(L, "fillcolor", b->fillColor);
    }
    return;
  }
  const qmImageDecl *r = static_cast<const qmImageDecl *>(d->record);
  SetInt(L, "width", r->width);
  SetInt(L, "height", r->height);
  SetInt(L, "x", r->x);
  SetInt(L, "y", r->y);
  if (d->type == DECL_BRUSH) {
    if (uint32_t(r->globalAlpha) != 0xFFFFFFFFu) SetInt(L, "globalalpha", r->globalAlpha);
    SetInt(L, "hardware", r->hardware);
  } else {
    SetInt(L, "frames", r->frames);
    SetInt(L, "fpr", r->framesPerRow);
    if (d->type == DECL_ANIM) SetInt(L, "fromdisk", r->fromDisk);
  }
  if (r->cache) {
    SetText(L, "cache", d->fileName ? d->fileName : "");
    SetInt(L, "cachealpha", r->cacheAlpha);
  }
  if (r->cachedLoad) SetText(L, "cachedload", d->fileName ? d->fileName : "");
}

// Pushes the arguments after the command; returns their count.
int PushArguments(VmState *L, const qmDeclaration *d, const char *file) {
  vm_pushnumber(L, d->id);
  switch (d->type) {
    case DECL_BGPIC:
    case DECL_BRUSH:
    case DECL_ANIM:
    case DECL_SPRITE:
      vm_pushstring(L, file);
      PushImageTable(L, d);
      return 3;
    case DECL_FONT:
      vm_pushstring(L, file);
      vm_pushnumber(L, d->param1);
      vm_newtable(L);
      if (d->param2 & 0xFFFF) SetInt(L, "engine", d->param2 & 0xFFFF);
      if (d->param2 & 0x10000) SetInt(L, "cache", 0);
      return 4;
    case DECL_BUTTON: {
      const qmButtonDecl *b = static_cast<const qmButtonDecl *>(d->record);
      for (int32_t v : b->values) vm_pushnumber(L, v);
      return 5;
    }
    case DECL_FILE:
      vm_pushstring(L, file);
      vm_pushnumber(L, 1005);  // MODE_READ
      return 3;
    case DECL_KEYDOWN:
      vm_pushstring(L, d->fileName ? d->fileName : "");
      return 2;
    default:
      vm_pushstring(L, file);
      return 2;
  }
}

void PushDisplayTable(VmState *L, const qmPlayerApplet *applet, const qmDeclaration *d, bool bgpicOne,
                      int32_t desktopWidth, int32_t desktopHeight) {
  const qmDisplayDecl *r = static_cast<const qmDisplayDecl *>(d->record);
  bool desktop = applet->desktopSize && d->id == 1;
  vm_newtable(L);
  SetText(L, "title", r->title);
  SetInt(L, "x", r->x);
  SetInt(L, "y", r->y);
  if (r->scaleWidth) SetInt(L, "scalewidth", r->scaleWidth);
  if (r->scaleHeight) SetInt(L, "scaleheight", r->scaleHeight);
  SetInt(L, "active", (r->flags & DISPFLAG_ACTIVE) ? 1 : 0);
  if (r->flags & DISPFLAG_BGPIC) {
    SetInt(L, "bgpic", r->bgpic);
  } else if (d->id == 1 && bgpicOne) {
    SetInt(L, "bgpic", 1);
  } else {
    SetInt(L, "width", desktop ? desktopWidth : r->width);
    SetInt(L, "height", desktop ? desktopHeight : r->height);
    SetInt(L, "fillstyle", r->fillStyle);
    if (r->fillStyle == 2) {
      PushGradientTags(L, &r->gradient);
    } else if (r->fillStyle == 3) {
      SetInt(L, "texturebrush", r->textureBrush);
      SetInt(L, "texturex", r->textureX);
      SetInt(L, "texturey", r->textureY);
    } else {
      SetInt(L, "color", r->color);
    }
  }
  static const struct {
    uint32_t bit;
    const char *key;
    int value;
  } kFlagKeys[] = {{DISPFLAG_HIDDEN, "hidden", 1},          {WINFLAG_BORDERLESS, "borderless", 1},
                   {WINFLAG_SIZEABLE, "sizeable", 1},       {WINFLAG_FIXED, "fixed", 1},
                   {WINFLAG_NOHIDE, "nohide", 1},           {WINFLAG_NOMODESWITCH, "nomodeswitch", 1},
                   {WINFLAG_AUTOSCALE, "scalemode", 1},     {WINFLAG_LAYERSCALE, "scalemode", 2},
                   {WINFLAG_SMOOTHSCALE, "smoothscale", 1}, {WINFLAG_HIDEPOINTER, "hidepointer", 1},
                   {DISPFLAG_LAYERS, "layers", 1},          {WINFLAG_USEQUARTZ, "usequartz", 1},
                   {DISPFLAG_NOCLOSE, "noclose", 1},        {WINFLAG_KEEPPROPORTIONS, "keepproportions", 1},
                   {WINFLAG_FITSCALE, "fitscale", 1},       {DISPFLAG_KEEPSCREENON, "keepscreenon", 1}};
  for (const auto &k : kFlagKeys)
    if (r->flags & k.bit) SetInt(L, k.key, k.value);
  if (desktop) SetInt(L, "private2", 1);
  if (r->dragCount) PushRegionTable(L, "dragregion", r->dragCount, r->drag);
  if (r->sizeCount) PushRegionTable(L, "sizeregion", r->sizeCount, r->size);
  if (r->pubScreen[0]) SetText(L, "pubscreen", r->pubScreen);
}

// Calls the command below the nargs arguments under protection, so that its error ends the
// phase with its code; a command that does not exist fails as the script's call would. The
// report then names the declaration's line and command in the script's source.
uint32_t CallDeclared(VmState *L, int nargs, const qmDeclaration *d, const char *command, const char *source) {
  int base = vm_gettop(L) - nargs - 1;
  uint32_t code;
  if (vm_type(L, base + 1) == VM_TFUNCTION) {
    code = vm_pcall(L, nargs, 0, 0);
  } else {
    char name[80];
    std::snprintf(name, sizeof name, "%s()", command);
    StrToLower(name);
    SetErrorArgument(name);
    code = ERR_FUNCDECLA;
  }
  vm_settop(L, base);
  if (code) {
    vm_seterrorplace(L, d->line, command, source);
  }
  return code;
}

// The source name of the main chunk on the stack top (loaded, not yet run).
const char *MainChunkSource(VmState *L) {
  return vm_gettop(L) > 0 ? vm_protosource(vm_toproto(L, -1)) : nullptr;
}

}  // namespace

uint32_t AddDeclaration(qmPlayerApplet *applet, int32_t type, uint32_t id, const char *name, uint32_t param1,
                        uint32_t param2, int32_t line, uint32_t flags, const void *record, qmDeclaration **out) {
  auto *d = static_cast<qmDeclaration *>(MemAlloc(sizeof(qmDeclaration), 1));
  if (d == nullptr) return ERR_MEM;
  d->type = type;
  d->id = id;
  d->param1 = param1;
  d->param2 = param2;
  d->line = line;
  d->flags = flags;
  if (name) {
    size_t n = std::strlen(name) + 1;
    d->fileName = static_cast<char *>(MemAlloc(uint32_t(n), 0));
    if (d->fileName == nullptr) {
      MemFree(d);
      return ERR_MEM;
    }
    std::memcpy(d->fileName, name, n);
  }
  if (size_t size = RecordSize(type)) {
    d->record = MemAlloc(uint32_t(size), 1);
    if (d->record == nullptr) {
      MemFree(d->fileName);
      MemFree(d);
      return ERR_MEM;
    }
    if (record) {
      std::memcpy(d->record, record, size);
    } else if (type == DECL_BRUSH || type == DECL_ANIM || type == DECL_SPRITE) {
      static_cast<qmImageDecl *>(d->record)->globalAlpha = -1;
    }
  }
  if (type == DECL_FONT && IsBuiltinFontName(name)) d->flags = 0;
  qmDeclaration **tail = reinterpret_cast<qmDeclaration **>(&applet->base.declarations);
  while (*tail) tail = &(*tail)->next;
  *tail = d;
  if (out) *out = d;
  return 0;
}

void InitGradient(qmGradient *g) {
  g->style = 2;
  g->centerX = g->centerY = 0.5;
  g->balance = 0.5;
  g->border = 0;
  g->count = 0;
}

uint32_t AddDefaultDisplay(qmPlayerApplet *applet, const char *title, qmDeclaration **out) {
  auto *r = static_cast<qmDisplayDecl *>(MemAlloc(sizeof(qmDisplayDecl), 1));
  if (r == nullptr) return ERR_MEM;
  std::strncpy(r->title, title ? title : "Quenmoor", sizeof r->title - 1);
  r->x = r->y = kPositionCenter;
  r->width = 640;
  r->height = 480;
  r->fillStyle = 1;
  InitGradient(&r->gradient);
  r->flags = DISPFLAG_ACTIVE;
  uint32_t code = AddDeclaration(applet, DECL_DISPLAY, 1, nullptr, 0xFFFFFFFFu, 0, 0, 0, r, out);
  MemFree(r);
  return code;
}

void FreeDeclarations(qmPlayerApplet *applet) {
  auto *d = static_cast<qmDeclaration *>(applet->base.declarations);
  while (d) {
    qmDeclaration *next = d->next;
    MemFree(d->fileName);
    MemFree(d->record);
    MemFree(d);
    d = next;
  }
  applet->base.declarations = nullptr;
}

void PushGradientTags(VmState *L, const qmGradient *g) {
  SetInt(L, "gradientstyle", g->style);
  SetInt(L, "gradientstartcolor", g->startColor);
  SetInt(L, "gradientendcolor", g->endColor);
  SetInt(L, "gradientangle", g->angle);
  SetInt(L, "gradientcenterx", g->centerX);
  SetInt(L, "gradientcentery", g->centerY);
  SetInt(L, "gradientbalance", g->balance);
  SetInt(L, "gradientborder", g->border);
  if (g->count == 0) return;
  vm_pushstring(L, "gradientcolors");
  vm_newtable(L);
  for (uint32_t i = 0; i < g->count && i < kMaxGradientColors; i++) {
    vm_pushnumber(L, g->colors[i].color);
    vm_rawseti(L, -2, int(2 * i));
    vm_pushnumber(L, g->colors[i].position);
    vm_rawseti(L, -2, int(2 * i + 1));
  }
  vm_settable(L, -3);
}

void PushRegionTable(VmState *L, const char *key, uint32_t count, const qmRegion *regions) {
  vm_pushstring(L, key);
  vm_newtable(L);
  for (uint32_t i = 0; i < count && i < kMaxRegions; i++) {
    vm_newtable(L);
    SetInt(L, "type", regions[i].type);
    SetInt(L, "x", regions[i].x);
    SetInt(L, "y", regions[i].y);
    SetInt(L, "width", regions[i].width);
    SetInt(L, "height", regions[i].height);
    vm_rawseti(L, -2, int(i));
  }
  vm_settable(L, -3);
}

void MergeDisplayOptions(qmPlayerApplet *applet) {
  if (applet->settingsLocked) return;
  const qmDisplaySettings &s = applet->settings;
  for (qmDeclaration *d = Declarations(applet); d; d = d->next) {
    if (d->type != DECL_DISPLAY) continue;
    auto *r = static_cast<qmDisplayDecl *>(d->record);
    r->flags |= s.windowFlags & ~r->mask;
    if (r->scaleWidth == 0) r->scaleWidth = s.scaleWidth;
    if (r->scaleHeight == 0) r->scaleHeight = s.scaleHeight;
  }
}

void MarkSharedLoads(qmPlayerApplet *applet) {
  auto isImage = [](const qmDeclaration *d) {
    return d->type == DECL_BRUSH || d->type == DECL_ANIM || d->type == DECL_SPRITE;
  };
  auto frameless = [](const qmDeclaration *d) {
    return d->type != DECL_BRUSH && static_cast<const qmImageDecl *>(d->record)->frames == 0;
  };
  for (qmDeclaration *n = Declarations(applet); n; n = n->next) {
    if (!isImage(n) || n->fileName == nullptr || frameless(n)) continue;
    auto *nr = static_cast<qmImageDecl *>(n->record);
    if (nr->cachedLoad) continue;
    for (qmDeclaration *m = n->next; m; m = m->next) {
      if (!isImage(m) || m->fileName == nullptr || Stricmp(m->fileName, n->fileName) != 0) continue;
      static_cast<qmImageDecl *>(m->record)->cachedLoad = 1;
      nr->cache = 1;
      if (m->param2 == 1 && n->param2 == 0) nr->cacheAlpha = 1;
    }
  }
  // Background pictures of one file likewise, among themselves.
  for (qmDeclaration *n = Declarations(applet); n; n = n->next) {
    if (n->type != DECL_BGPIC || !n->fileName || !n->record) continue;
    auto *nr = static_cast<qmBGPicDecl *>(n->record);
    if (nr->cachedLoad) continue;
    for (qmDeclaration *m = n->next; m; m = m->next) {
      if (m->type != DECL_BGPIC || !m->fileName || !m->record || Stricmp(m->fileName, n->fileName) != 0) continue;
      static_cast<qmBGPicDecl *>(m->record)->cachedLoad = 1;
      nr->cache = 1;
    }
  }
}

uint32_t RunDeclarations(VmState *L, qmPlayerApplet *applet, const char *programPath, uint64_t appletBase) {
  bool bgpicOne = false;
  for (qmDeclaration *d = Declarations(applet); d; d = d->next)
    if (d->type == DECL_BGPIC && d->id == 1) bgpicOne = true;

  char file[kChunkNameSize];
  const char *source = MainChunkSource(L);
  uint32_t code = 0;
  for (qmDeclaration *d = Declarations(applet); d && code == 0; d = d->next) {
    if (d->type < 0 || d->type > DECL_VIDEO || d->type == DECL_DISPLAY) continue;
    const char *command = CommandName(d->type);
    PrepareCall(L, d, command);
    ResolveFileName(d, programPath, appletBase, file, sizeof file);
    PushCommand(L, command);
    code = CallDeclared(L, PushArguments(L, d, file), d, command, source);
  }
  for (qmDeclaration *d = Declarations(applet); d && code == 0; d = d->next) {
    if (d->type != DECL_DISPLAY) continue;
    // Without the display library a display stays a record in the applet.
    if (!PushCommand(L, "CreateDisplay")) {
      vm_pop(L, 1);
      continue;
    }
    PrepareCall(L, d, "CreateDisplay");
    // Display 1 of a desktop-mode applet shows the whole desktop, so it takes the desktop's size.
    const auto *r = static_cast<const qmDisplayDecl *>(d->record);
    int32_t width = r->width, height = r->height;
    if (applet->desktopSize && d->id == 1) {
      if (uint32_t e = InitDesktop()) {
        vm_pop(L, 1);
        vm_seterrorplace(L, d->line, "CreateDisplay", source);
        code = e;
        break;
      }
      if (GetPlatformAttr(nullptr, 14) > 0 && GetPlatformAttr(nullptr, 15) > 0) {
        width = GetPlatformAttr(nullptr, 14);
        height = GetPlatformAttr(nullptr, 15);
      }
    }
    // The picture the display shows is made first: a failure there is the picture's
    // declaration's, reported at its line and in its command, not at the display's.
    const uint32_t shown = (r->flags & DISPFLAG_BGPIC) ? r->bgpic : (d->id == 1 && bgpicOne) ? 1 : 0;
    const qmPlayerContext *ctx = GetPlayerContext(L);
    int32_t picLine = -1;
    if (shown && ctx && ctx->prepareDeclaredBGPic)
      if (uint32_t e = ctx->prepareDeclaredBGPic(L, shown, &picLine)) {
        vm_pop(L, 1);
        vm_seterrorplace(L, picLine, "LoadBGPic", source);
        code = e;
        break;
      }
    vm_pushnumber(L, d->id);
    PushDisplayTable(L, applet, d, bgpicOne, width, height);
    code = CallDeclared(L, 2, d, "CreateDisplay", source);
  }
  // The source stays named: a declared picture made at the first display may still fail at its
  // declaration's line.
  if (code == 0) vm_seterrorplace(L, vm_geterrorline(L), "----", source);
  return code;
}
