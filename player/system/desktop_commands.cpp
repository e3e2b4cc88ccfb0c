// The system library's requesters, clipboard and browser: argument checks here, the dialogs in
// the desktop layer behind system_platform.h. A dialog that is not there fails as a dialog that
// could not be made does (ERR_MEM); a missing clipboard as one that cannot be opened or written.
#include "player/system/desktop_commands.h"

#include <cstring>
#include <new>
#include <string>

#include "platform/memory.h"
#include "player/system/system_platform.h"
#include "player/system/system_state.h"
#include "player/system/systemargs.h"
#include "runtime/cmdargs.h"
#include "runtime/errcodes.h"
#include "runtime/strutil.h"
#include "runtime/vm/vm_api.h"

namespace {

enum : uint32_t { REQ_NORMAL = 0, REQ_MULTISELECT = 1, REQ_SAVEMODE = 2 };

enum : uint32_t { STRREQ_TEXT = 0, STRREQ_NUMBER = 3 };

constexpr uint32_t kMaxRequestText = kStringRequestSize - 1;

// Flags the display as showing a requester for as long as the dialog runs.
struct DialogScope {
  VmState *L;
  const qmSystemRequesters &requesters;
  DialogScope(VmState *vm, const qmSystemRequesters &r) : L(vm), requesters(r) {
    if (requesters.begin) requesters.begin(L);
  }
  ~DialogScope() {
    if (requesters.end) requesters.end(L);
  }
};

std::string JoinPath(const char *folder, const char *name) {
  std::string path = folder ? folder : "";
  if (!path.empty() && path.back() != '/' && path.back() != ':') path += '/';
  path += name;
  return path;
}

// What the text entry accepts with its number flag: an optional minus sign, digits and at
// most one decimal point.
bool IsNumberText(const char *text) {
  if (*text == '-') text++;
  int points = 0;
  for (; *text; text++) {
    if (*text == '.' && ++points == 1) continue;
    if (*text < '0' || *text > '9') return false;
  }
  return true;
}

// The first name of the font-style words for a weight (kind 0) or slant (kind 1).
const char *FontStyleName(int kind, int32_t value) {
  struct Row {
    const char *name;
    int kind;
    int32_t value;
  };
  static const Row kRows[] = {
      {"Thin", 0, 0},       {"Extralight", 0, 40}, {"Light", 0, 50},      {"Book", 0, 75},
      {"Normal", 0, 80},    {"Medium", 0, 100},    {"Semibold", 0, 180},  {"Bold", 0, 200},
      {"Extrabold", 0, 205}, {"Heavy", 0, 210},    {"Extrablack", 0, 215}, {"Roman", 1, 0},
      {"Italic", 1, 100},   {"Oblique", 1, 110},
  };
  for (const Row &r : kRows)
    if (r.kind == kind && r.value == value) return r.name;
  return nullptr;
}

}  // namespace

uint32_t SysSystemRequest(VmState *L) {
  CheckArgCount(L, 3, 4);
  qmSystemServices *services;
  if (uint32_t code = SystemServicesOf(L, &services)) return code;
  const char *title = vm_checkstring(L, 1, nullptr);
  const char *body = vm_checkstring(L, 2, nullptr);
  const char *buttons = vm_checkstring(L, 3, nullptr);
  int32_t icon = vm_optint32(L, 4, 0);
  const qmSystemRequesters &req = services->requesters;
  if (!req.message) return ERR_MEM;
  int32_t button = 0;
  uint32_t code;
  {
    DialogScope scope(L, req);
    code = req.message(title, body, buttons, icon, &button);
  }
  if (code) return code;
  vm_pushnumber(L, button);
  return 1;
}

uint32_t SysFileRequest(VmState *L) {
  CheckArgCount(L, 2, 5);
  qmSystemServices *services;
  if (uint32_t code = SystemServicesOf(L, &services)) return code;
  qmSystemState *state;
  if (uint32_t code = SystemStateOf(L, &state)) return code;
  const char *title = vm_checkstring(L, 1, nullptr);
  const char *pattern = vm_checkstring(L, 2, nullptr);
  uint32_t mode = vm_optinteger(L, 3, REQ_NORMAL);
  const char *folder = vm_optlstring(L, 4, "", nullptr);
  const char *file = vm_optlstring(L, 5, "", nullptr);
  if (mode > REQ_SAVEMODE) return ERR_WRONGUSAGE;
  qmSystemState *s = state;
  if (!folder[0] && !file[0] && s->haveLastFile) {
    folder = s->lastFileFolder;
    file = s->lastFileName;
  }
  const qmSystemRequesters &req = services->requesters;
  if (!req.file) return ERR_MEM;
  qmFileRequestResult result{nullptr, nullptr, 0};
  int32_t confirmed = 0;
  uint32_t code;
  {
    DialogScope scope(L, req);
    code = req.file(title, pattern, static_cast<int32_t>(mode), folder[0] ? folder : nullptr,
                    file[0] ? file : nullptr, &confirmed, &result);
  }
  if (code) return code;
  if (!confirmed || !result.names) result.count = 0;
  if (result.count > 0) {
    CopyString(s->lastFileFolder, result.folder ? result.folder : "", sizeof s->lastFileFolder);
    CopyString(s->lastFileName, result.names, sizeof s->lastFileName);
    s->haveLastFile = 1;
  }
  if (mode == REQ_MULTISELECT) {
    vm_newtable(L);
    const char *name = result.names;
    int32_t i = 0;
    for (; i < static_cast<int32_t>(result.count); i++, name += std::char_traits<char>::length(name) + 1) {
      std::string path = JoinPath(result.folder, name);
      vm_pushstring(L, path.c_str());
      vm_rawseti(L, -2, i);
    }
    vm_pushstring(L, "");
    vm_rawseti(L, -2, i);
  } else {
    vm_pushstring(L, result.count > 0 ? JoinPath(result.folder, result.names).c_str() : "");
  }
  MemFree(result.folder);
  MemFree(result.names);
  return 1;
}

uint32_t SysPathRequest(VmState *L) {
  CheckArgCount(L, 1, 3);
  qmSystemServices *services;
  if (uint32_t code = SystemServicesOf(L, &services)) return code;
  qmSystemState *state;
  if (uint32_t code = SystemStateOf(L, &state)) return code;
  const char *title = vm_checkstring(L, 1, nullptr);
  uint32_t mode = vm_optinteger(L, 2, 0);
  const char *folder = vm_optlstring(L, 3, "", nullptr);
  if (mode != 0 && mode != 2) return ERR_WRONGUSAGE;
  qmSystemState *s = state;
  if (!folder[0]) folder = s->lastPathFolder;
  const qmSystemRequesters &req = services->requesters;
  if (!req.path) return ERR_MEM;
  char *path = nullptr;
  uint32_t code;
  {
    DialogScope scope(L, req);
    code = req.path(title, folder[0] ? folder : nullptr, &path);
  }
  if (code) return code;
  if (path) CopyString(s->lastPathFolder, path, sizeof s->lastPathFolder);
  vm_pushstring(L, path ? path : "");
  MemFree(path);
  return 1;
}

uint32_t SysStringRequest(VmState *L) {
  CheckArgCount(L, 2, 6);
  qmSystemServices *services;
  if (uint32_t code = SystemServicesOf(L, &services)) return code;
  const char *title = vm_checkstring(L, 1, nullptr);
  const char *body = vm_checkstring(L, 2, nullptr);
  const char *defaultText = vm_optlstring(L, 3, "", nullptr);
  uint32_t type = vm_optinteger(L, 4, STRREQ_TEXT);
  uint32_t maxLength = vm_optinteger(L, 5, 0);
  int32_t password = vm_optnumber(L, 6, 0) != 0;
  if (type != STRREQ_TEXT && type != STRREQ_NUMBER) return ERR_WRONGUSAGE;
  if (maxLength > kMaxRequestText) return ERR_WRONGUSAGE;
  if (maxLength == 0) maxLength = kMaxRequestText;
  std::string start(defaultText);
  if (start.size() > maxLength) start.resize(maxLength);
  if (type == STRREQ_NUMBER && !IsNumberText(start.c_str())) return ERR_WRONGUSAGE;
  const qmSystemRequesters &req = services->requesters;
  if (!req.text) return ERR_MEM;
  char out[kStringRequestSize] = {0};
  int32_t confirmed = 0;
  uint32_t code;
  {
    DialogScope scope(L, req);
    code = req.text(title, body, start.c_str(), type == STRREQ_NUMBER, static_cast<int32_t>(maxLength), password,
                    out, &confirmed);
  }
  if (code) return code;
  out[kMaxRequestText] = 0;
  vm_pushstring(L, confirmed ? out : "");
  vm_pushnumber(L, confirmed ? 1 : 0);
  return 2;
}

uint32_t SysListRequest(VmState *L) {
  CheckArgCount(L, 3, 4);
  qmSystemServices *services;
  if (uint32_t code = SystemServicesOf(L, &services)) return code;
  const char *title = vm_checkstring(L, 1, nullptr);
  const char *body = vm_checkstring(L, 2, nullptr);
  vm_checktable(L, 3);
  int32_t active = vm_optint32(L, 4, -1);
  std::string entries;
  uint32_t count = 0;
  for (;; count++) {
    vm_rawgeti(L, 3, static_cast<int>(count));
    int type = vm_type(L, -1);
    if (type == VM_TNIL) {
      vm_pop(L, 1);
      break;
    }
    if (type != VM_TSTRING && type != VM_TNUMBER) return ERR_STRINGEXPECTED;
    const char *text = vm_tostring(L, -1);
    entries += text[0] ? text : " ";  // the chooser shows an empty entry as a blank
    entries += '\0';
    vm_pop(L, 1);
  }
  if (count == 0) return ERR_WRONGUSAGE;
  if (active < -1 || active >= static_cast<int64_t>(count)) return ERR_WRONGUSAGE;
  const qmSystemRequesters &req = services->requesters;
  if (!req.list) return ERR_MEM;
  int32_t index = -1;
  uint32_t code;
  {
    DialogScope scope(L, req);
    code = req.list(title, body, entries.data(), count, active, &index);
  }
  if (code) return code;
  vm_pushnumber(L, index);
  return 1;
}

uint32_t SysColorRequest(VmState *L) {
  CheckArgCount(L, 1, 2);
  qmSystemServices *services;
  if (uint32_t code = SystemServicesOf(L, &services)) return code;
  const char *title = vm_checkstring(L, 1, nullptr);
  int32_t colour = vm_optint32(L, 2, -1);
  const qmSystemRequesters &req = services->requesters;
  if (!req.color) return ERR_MEM;
  int32_t chosen = -1;
  uint32_t code;
  {
    DialogScope scope(L, req);
    code = req.color(title, colour, &chosen);
  }
  if (code) return code;
  vm_pushnumber(L, chosen);
  return 1;
}

uint32_t SysFontRequest(VmState *L) {
  CheckArgCount(L, 1, 3);
  qmSystemServices *services;
  if (uint32_t code = SystemServicesOf(L, &services)) return code;
  const char *title = vm_checkstring(L, 1, nullptr);
  const char *font = vm_optlstring(L, 2, "", nullptr);
  int32_t size = vm_optint32(L, 3, 0);
  const qmSystemRequesters &req = services->requesters;
  if (!req.font) return ERR_MEM;
  qmFontRequestResult r{};
  int32_t confirmed = 0;
  uint32_t code;
  {
    DialogScope scope(L, req);
    code = req.font(title, font, size, &confirmed, &r);
  }
  if (code) return code;
  r.family[sizeof r.family - 1] = 0;
  std::string name = r.family;
  const char *weight = r.weight != 80 ? FontStyleName(0, r.weight) : nullptr;
  const char *slant = r.slant != 0 ? FontStyleName(1, r.slant) : nullptr;
  if (weight) name = name + " " + weight;
  if (slant) name = name + " " + slant;
  vm_newtable(L);
  SetFieldString(L, "name", name.c_str());
  SetFieldString(L, "family", r.family);
  SetFieldInt(L, "size", r.size);
  SetFieldInt(L, "weight", r.weight);
  SetFieldInt(L, "slant", r.slant);
  SetFieldInt(L, "underline", r.underline);
  SetFieldInt(L, "strikeout", r.strikeout);
  SetFieldInt(L, "bold", r.bold);
  SetFieldInt(L, "italic", r.slant != 0 ? 1 : 0);
  SetFieldNumber(L, "color", r.color);
  return 1;
}

uint32_t SysSetClipboard(VmState *L) {
  CheckArgCount(L, 2, 2);
  qmSystemServices *services;
  if (uint32_t code = SystemServicesOf(L, &services)) return code;
  uint32_t kind = vm_checkinteger(L, 1);
  const qmSystemClipboard *clip = &services->clipboard;
  if (kind == CLIPKIND_TEXT) {
    const char *text = vm_checkstring(L, 2, nullptr);
    return clip->writeText ? clip->writeText(L, text) : ERR_CLIPWRITE;
  }
  if (kind == CLIPKIND_IMAGE) {
    qmObjectId brush = GetObjectIdArg(L, 2);
    return clip->writeBrush ? clip->writeBrush(L, &brush) : ERR_CLIPWRITE;
  }
  return ERR_WRONGUSAGE;
}

uint32_t SysGetClipboard(VmState *L) {
  CheckArgCount(L, 0, 0);
  qmSystemServices *services;
  if (uint32_t code = SystemServicesOf(L, &services)) return code;
  const qmSystemClipboard *clip = &services->clipboard;
  if (!clip->read) return ERR_CLIPOPEN;
  int32_t kind = CLIPKIND_EMPTY;
  char *text = nullptr;
  void *image = nullptr;
  if (uint32_t code = clip->read(&kind, &text, &image)) return code;
  vm_pushnumber(L, kind);
  if (kind == CLIPKIND_TEXT) {
    vm_pushstring(L, text ? text : "");
    MemFree(text);
    return 2;
  }
  MemFree(text);
  if (kind != CLIPKIND_IMAGE || !image) return 1;
  if (!clip->pushImageAsBrush) {
    if (clip->freeImage) clip->freeImage(image);
    return ERR_UNIMPLCMD;
  }
  if (uint32_t code = clip->pushImageAsBrush(L, image)) return code;
  return 2;
}

uint32_t SysPeekClipboard(VmState *L) {
  CheckArgCount(L, 0, 0);
  qmSystemServices *services;
  if (uint32_t code = SystemServicesOf(L, &services)) return code;
  const qmSystemClipboard *clip = &services->clipboard;
  if (!clip->peek) return ERR_CLIPOPEN;
  int32_t kind = CLIPKIND_EMPTY;
  if (uint32_t code = clip->peek(&kind)) return code;
  vm_pushnumber(L, kind);
  return 1;
}

uint32_t SysClearClipboard(VmState *L) {
  CheckArgCount(L, 0, 0);
  qmSystemServices *services;
  if (uint32_t code = SystemServicesOf(L, &services)) return code;
  const qmSystemClipboard *clip = &services->clipboard;
  return clip->clear ? clip->clear(L) : ERR_CLIPWRITE;
}

uint32_t SysOpenURL(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmSystemServices *services;
  if (uint32_t code = SystemServicesOf(L, &services)) return code;
  return services->openURL(vm_checkstring(L, 1, nullptr));
}
