// The host table: the player functions every plug-in receives, each slot a thin adapter to the
// player's own. Every slot that can fail by an exception is guarded (see SwapHostCallError);
// slots that serve the run reach it through the bound qmHostRun.
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_GLYPH_H
#include FT_OUTLINE_H
#include FT_TRUETYPE_TABLES_H
#include <sys/time.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iterator>
#include <new>
#include <type_traits>

#include "display/brush.h"
#include "display/displayhooks.h"
#include "display/scene.h"
#include "media/image/imageload.h"
#include "platform/dir.h"
#include "platform/env.h"
#include "platform/file.h"
#include "platform/vfile.h"
#include "platform/fileops.h"
#include "platform/memory.h"
#include "platform/path.h"
#include "platform/requesters.h"
#include "platform/time.h"
#include "player/appletrecord.h"
#include "player/plugins.h"
#include "runtime/auxlib.h"
#include "runtime/cmdargs.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/rttags.h"
#include "runtime/strutil.h"
#include "runtime/vm/vm_api.h"
#include "runtime/vnames.h"
#include "text/builtin_faces.h"
#include "text/fontscan.h"
#include "text/textstate.h"

namespace {

template <typename F>
void *Fn(F *f) {
  return reinterpret_cast<void *>(f);
}

// The first failure of a host call on this thread since the record was last set.
thread_local qmHostCallError tFailure{};

void RecordFailure(uint32_t code, bool raised) {
  if (tFailure.code == 0) tFailure = {code, raised};
}

// The VM state a host function works on, if any.
inline VmState *StateOf(VmState *L) { return L; }
inline VmState *StateOf(VmStrBuffer *B) { return B->L; }
template <typename T>
constexpr bool kTakesState = std::is_same_v<T, VmState *> || std::is_same_v<T, VmStrBuffer *>;

struct Zero {};

// The host function F as a plug-in may call it: nothing leaves it by an exception. A VM error
// (a std::bad_alloc inside becomes ERR_MEM) ends it the way a protected call ends, with the
// VM's stack and call records put back; the call then answers Fail (zero by default).
template <auto F, auto Fail = Zero{}>
struct Guard;
template <typename R, typename First, typename... Rest, R (*F)(First, Rest...), auto Fail>
struct Guard<F, Fail> {
  static R Failed() {
    if constexpr (std::is_same_v<std::remove_cv_t<decltype(Fail)>, Zero>) return R{};
    else return R(Fail);
  }

  static R Call(First first, Rest... rest) noexcept {
    if constexpr (kTakesState<First>) {
      VmState *L = StateOf(first);
      std::conditional_t<std::is_void_v<R>, int, R> result{};
      auto run = [&]() {
        try {
          if constexpr (std::is_void_v<R>) F(first, rest...);
          else result = F(first, rest...);
        } catch (const std::bad_alloc &) {
          vm_throw(L, ERR_MEM);
        }
      };
      uint32_t code =
          vm_runprotected(L, [](VmState *, void *ud) { (*static_cast<decltype(run) *>(ud))(); }, &run);
      if (code) RecordFailure(code, true);
      if constexpr (!std::is_void_v<R>) return code ? Failed() : result;
    } else {
      try {
        return F(first, rest...);
      } catch (const std::bad_alloc &) {
        RecordFailure(ERR_MEM, false);
      }
      if constexpr (!std::is_void_v<R>) return Failed();
    }
  }
};

// The guarded F as a slot of the table.
template <auto F, auto Fail = Zero{}>
void *Safe() {
  return Fn(&Guard<F, Fail>::Call);
}

// The native interface's overloads taking the state.
using IsFn = int (*)(VmState *, int);

int HostStricmp(const char *a, const char *b) { return Stricmp(a, b); }
int HostStrnicmp(const char *a, const char *b, size_t n) { return Strnicmp(a, b, n); }
int HostToLower(int c) { return kLowerCaseTable[uint8_t(c)]; }
int HostToUpper(int c) { return kUpperCaseTable[uint8_t(c)]; }
char *HostStrToLower(char *s) { return StrToLower(s); }
char *HostStrToUpper(char *s) {
  for (char *p = s; *p; p++) *p = char(kUpperCaseTable[uint8_t(*p)]);
  return s;
}
long HostLrint(double d) { return std::lrint(d); }

// Tag 25 clears its own value; 26 to 30 hand out the applet's information strings 1 to 5.
uint32_t HostGetAppletTags(qmTagItem *tags) {
  auto *applet = reinterpret_cast<qmPlayerApplet *>(GetAppletRecord(nullptr));
  uint32_t answered = 0;
  for (qmTagItem *t = tags; t->tag != 0; t++) {
    if (t->tag == 25) {
      t->value = 0;
    } else if (t->tag >= 26 && t->tag <= 30 && t->value) {
      *reinterpret_cast<const char **>(t->value) = applet ? applet->appInfo[t->tag - 26] : "";
    } else {
      continue;
    }
    answered++;
  }
  return answered;
}

void *HostMemAlloc(uint32_t size, uint32_t flags) { return MemAlloc(size, int32_t(flags & 1)); }
void HostMemFree(void *p) { MemFree(p); }
uint64_t HostFileSeek(qmFileHandle *h, int64_t position, int32_t origin) { return FileSeek(h, position, origin); }

[[noreturn]] void HostRaiseError(VmState *L, uint32_t code) { vm_raise(L, code); }
void HostGetObjectIdArg(VmState *L, int idx, uintptr_t *result) {
  qmObjectId id = GetObjectIdArg(L, idx);
  result[0] = id.id;
  result[1] = id.handle;
}

// A failed text check answers an empty text of length 0.
constexpr char kNoText[] = "";
const char *HostCheckString(VmState *L, int i, size_t *len) {
  if (len) *len = 0;
  return Guard<&vm_checkstring, kNoText>::Call(L, i, len);
}
const char *HostOptString(VmState *L, int i, const char *def, size_t *len) {
  if (len) *len = 0;
  return Guard<&vm_optlstring, kNoText>::Call(L, i, def, len);
}
// A failed flush still hands out room for a whole buffer.
char *HostPrepBuffer(VmStrBuffer *B) {
  char *p = Guard<&vm_prepbuffer>::Call(B);
  return p ? p : B->buffer;
}

// The run plug-ins serve (a copy of what was bound); null outside one. Process-wide, as the
// plug-ins and their one host table are.
qmHostRun gBoundRun;
const qmHostRun *gRun = nullptr;

qmScene *RunScene() { return gRun ? GetScene(gRun->L) : nullptr; }
const qmFormatPlugins *RunFormats() {
  const qmPlayerContext *ctx = gRun ? GetPlayerContext(gRun->L) : nullptr;
  return ctx ? ctx->formatPlugins : nullptr;
}

void FormatCurrentDate(char *out, size_t size) {
  if (gRun && gRun->formatCurrentDate) gRun->formatCurrentDate(out, size);
  else if (size) out[0] = 0;
}
uint32_t HostRegisterUserEvent(const char *name) {
  return gRun && gRun->registerUserEvent && name ? gRun->registerUserEvent(gRun->L, name) : 0;
}
int HostPostUserEvent(uint32_t number, void *payload) {
  return gRun && gRun->postUserEvent ? gRun->postUserEvent(number, payload) : 0;
}
// The file of an installed font, from the bound run's font list; null outside a run.
const char *HostMapFontNameToFile(const char *name, int32_t weight, int32_t slant, int32_t plainFiles,
                                  uint64_t *resourcePosition, uint64_t *resourceLength, int32_t *temporary) {
  *temporary = 0;
  *resourcePosition = *resourceLength = 0;
  const qmScene *scene = RunScene();
  if (!scene || !scene->text) return nullptr;
  return MapFontNameToFile(scene->text->fonts, name, weight, slant, plainFiles, resourcePosition, resourceLength,
                           temporary);
}
void HostPostHookedDisplayEvent(qmDisplayHook *node, uint32_t kind, uint32_t d1, uint32_t d2, uint32_t d3) {
  if (qmScene *scene = RunScene()) PostHookedDisplayEvent(scene, node, kind, d1, d2, d3);
}

int HostExamine(qmVirtualLock *lock, qmHostExamineRecord *record) {
  qmFileInfo info{};
  ExamineVirtualPath(lock, &info);
  *record = {nullptr, info.isDirectory, uint32_t(info.size), info.protection};
  return 1;
}
int HostExamineNext(qmVirtualLock *lock, void *, qmHostExamineRecord *record) {
  const char *name = nullptr;
  uint32_t isDirectory = 0;
  qmFileInfo info{};
  if (!ExamineNextVirtualEntry(lock, &name, &isDirectory, &info)) return 0;
  *record = {name, isDirectory, uint32_t(info.size), info.protection};
  return 1;
}
// The current folder, as GetCurrentDirectory gives it; empty when it cannot be named.
char *GetCurrentDirName(char *buffer, size_t size) {
  if (size && !GetFullPath(".", buffer, size)) buffer[0] = 0;
  return buffer;
}
// A plain name is answered with a part of itself; a virtual name's display name lives in the
// bound run's applet record until the next call (without a run it is answered whole).
const char *GetFilePart(const char *path) {
  qmApplet *applet = gRun ? GetAppletRecord(gRun->L) : nullptr;
  if (applet) return ChunkDisplayName(path, applet->displayName, sizeof applet->displayName);
  return IsChunkName(path) ? path : ChunkDisplayName(path, nullptr, 0);
}

// A picture loaded for a plug-in: its pixels, ABGR.
struct HostImage {
  uint32_t *pixels;
};
int HostGetImageSize(const char *file, int32_t *width, int32_t *height, int32_t *alpha) {
  int32_t w = 0, h = 0, a = 0;
  if (LoadImageWithPlugins(RunFormats(), file, nullptr, -1, 0, nullptr, nullptr, nullptr, &w, &h, &a))
    return 0;
  if (width) *width = w;
  if (height) *height = h;
  if (alpha) *alpha = a;
  return 1;
}
HostImage *HostLoadImage(const char *file, void *, int32_t *width, int32_t *height, int32_t *alpha) {
  uint32_t *pixels = nullptr;
  int32_t w = 0, h = 0, a = 0;
  if (LoadImageWithPlugins(RunFormats(), file, nullptr, -1, 0, &pixels, nullptr, nullptr, &w, &h, &a))
    return nullptr;
  auto *image = static_cast<HostImage *>(MemAlloc(sizeof(HostImage), 1));
  if (!image) {
    MemFree(pixels);
    return nullptr;
  }
  for (size_t i = 0, n = size_t(w) * size_t(h); i < n; i++) {
    const uint32_t p = pixels[i];
    pixels[i] = (a ? p & 0xFF000000u : 0xFF000000u) | (p & 0xFF00) | (p >> 16 & 0xFF) | (p & 0xFF) << 16;
  }
  image->pixels = pixels;
  if (width) *width = w;
  if (height) *height = h;
  if (alpha) *alpha = a;
  return image;
}
uint32_t *HostGetBitmapPixels(HostImage *image) { return image ? image->pixels : nullptr; }
void HostFreeImage(HostImage *image) {
  if (!image) return;
  MemFree(image->pixels);
  MemFree(image);
}

qmBrush *FindRunBrush(const uintptr_t *id) {
  qmScene *scene = RunScene();
  if (!scene || !id) return nullptr;
  const qmObjectId oid{uint32_t(id[0]), id[1]};
  qmBrush *brush = nullptr;
  if (FindBrush(scene->objects, &oid, &brush, FINDBRUSH_NOVECTOR)) return nullptr;
  return brush;
}
// A brush stays as it is while a plug-in holds its view: the lock is the brush's bitmap.
void *HostLockBrush(const uintptr_t *id, void *, qmHostBrushView *view) {
  qmScene *scene = RunScene();
  if (!scene || !id) return nullptr;
  const qmObjectId oid{uint32_t(id[0]), id[1]};
  qmBitmap *bitmap = nullptr;
  qmMask *mask = nullptr;
  qmAlphaChannel *alpha = nullptr;
  int32_t width = 0, height = 0;
  if (!GetBrushInfo(scene->objects, &oid, &bitmap, &mask, &alpha, &width, &height) || !bitmap) return nullptr;
  *view = {bitmap->pixels, bitmap->bytesPerRow / 4, alpha ? alpha->memory : nullptr, alpha ? alpha->bytesPerRow : 0,
           mask ? mask->memory : nullptr, mask ? mask->bytesPerRow : 0, bitmap->pixelFormat, bitmap->bytesPerPixel,
           width, height};
  return bitmap;
}
void HostUnlockBrush(void *) {}
uint32_t *HostGetBrushArgb(const uintptr_t *id, qmTagItem *tags) {
  qmBrush *b = FindRunBrush(id);
  if (!b) return nullptr;
  int32_t hasAlpha = 0;
  uint32_t *argb = BrushToArgb(b, &hasAlpha);
  if (!argb) return nullptr;
  for (qmTagItem *t = tags; t && t->tag; t++) {
    auto *out = reinterpret_cast<int32_t *>(t->value);
    if (!out) continue;
    if (t->tag == 1) *out = b->width;
    if (t->tag == 2) *out = b->height;
    if (t->tag == 3) *out = !b->mask && !b->alpha;
  }
  return argb;
}
void HostFreeBrushArgb(uint32_t *argb) { MemFree(argb); }

qmDisplayHook *HostAttachDisplayHook(const uintptr_t *id, qmDisplayHookFunction function, void *userData,
                                     qmTagItem *tags) {
  qmScene *scene = RunScene();
  if (!scene || !id) return nullptr;
  const qmObjectId oid{uint32_t(id[0]), id[1]};
  return AttachDisplayHook(scene, &oid, function, userData, tags);
}
void HostDetachDisplayHook(qmDisplayHook *node) { DetachDisplayHook(RunScene(), node); }
void HostRefreshHookedDisplay(qmDisplayHook *node) { RefreshHookedDisplay(RunScene(), node); }
uint32_t HostResizeHookedDisplay(qmDisplayHook *node, int32_t width, int32_t height) {
  return ResizeHookedDisplay(RunScene(), node, width, height);
}

// A sample's lock owns the copy it handed out, if any.
struct SampleLock {
  void *copy;
};
SampleLock *HostLockSample(const uintptr_t *id, int32_t noCopy, void *, qmHostSampleLock *out) {
  if (!gRun || !id) return nullptr;
  const qmObjectId oid{uint32_t(id[0]), id[1]};
  qmHostSampleLock found{};
  if (!gRun->describeSample || !gRun->describeSample(gRun->L, &oid, &found)) return nullptr;
  auto *lock = static_cast<SampleLock *>(MemAlloc(sizeof(SampleLock), 1));
  if (!lock) return nullptr;
  if (!noCopy) {
    if (!(lock->copy = MemAlloc(found.bytes ? found.bytes : 1, 0))) {
      MemFree(lock);
      return nullptr;
    }
    std::memcpy(lock->copy, found.data, found.bytes);
    found.data = lock->copy;
  }
  *out = found;
  return lock;
}
void HostUnlockSample(SampleLock *lock) {
  if (!lock) return;
  MemFree(lock->copy);
  MemFree(lock);
}

int HostMessageRequester(const char *title, const char *text, const char *buttons) {
  return ShowMessageRequester(title, text, buttons);
}
// The chosen file's folder and name joined into path (kHostPathSize bytes).
int HostFileRequester(const char *title, char *path) {
  int32_t confirmed = 0;
  qmFileRequestResult result{};
  const uint32_t code = ShowFileRequester(title, "#?", 0, nullptr, nullptr, &confirmed, &result);
  int ok = 0;
  if (!code && confirmed && result.folder && result.names && result.count) {
    ok = CopyString(path, result.folder, kHostPathSize) < size_t(kHostPathSize) &&
         AddPart(path, kHostPathSize, result.names);
  }
  MemFree(result.folder);
  MemFree(result.names);
  return ok;
}
int HostPathRequester(const char *title, char *path) {
  char *chosen = nullptr;
  if (ShowPathRequester(title, nullptr, &chosen) || !chosen) return 0;
  const bool ok = CopyString(path, chosen, kHostPathSize) < size_t(kHostPathSize);
  MemFree(chosen);
  return ok ? 1 : 0;
}

void *const kStdlib[32] = {
    Fn(&malloc),  Fn(&calloc),   Fn(&realloc),  Fn(&free),         Fn(&strdup),        Fn(&fopen),
    Fn(&fclose),  Fn(&fseek),    Fn(&ftell),    Fn(&fread),        Fn(&fwrite),        Fn(&fgetc),
    Fn(&fputc),   Fn(&ferror),   Fn(&feof),     Fn(&vfprintf),     Fn(&vsnprintf),     Fn(&vprintf),
    Fn(&qsort),   Fn(&vsscanf),  Fn(&strtod),   Fn(&strtol),       Fn(&strtoul),       Fn(&HostStricmp),
    Fn(&HostStrnicmp), Fn(&HostToLower), Fn(&HostToUpper), Fn(&HostStrToLower), Fn(&HostStrToUpper),
    Fn(&gettimeofday), Fn(&time), Fn(&HostLrint)};

void *const kSystem[17] = {
    Fn(&HostGetAppletTags), Fn(&AddUserError), Fn(&SetErrorArgument), Fn(&SetErrorNumber),
    Fn(&FormatErrorMessage), Fn(&GetTimeval), Fn(&SubTimeval), Fn(&AddTimeval), Fn(&CmpTimeval),
    Fn(&SleepMilliseconds), Fn(&FormatCurrentDate), Fn(&HostMemAlloc), Fn(&HostMemFree), Fn(&AddPluginHook),
    Safe<&HostRegisterUserEvent>(), Fn(&HostPostUserEvent), Safe<&HostPostHookedDisplayEvent>()};

void *const kFile[23] = {
    Safe<&FileOpen>(), Fn(&FileClose), Fn(&HostFileSeek), Fn(&FileReadBytes), Fn(&FileWriteBytes), Fn(&FileGetc),
    Fn(&FilePutc), Fn(&FileEof), Safe<&RemoveFile>(), Safe<&LockVirtualPath>(), Fn(&UnlockVirtualPath),
    Safe<&GetVirtualLockName>(), Safe<&HostExamine>(), Fn(&CheckVirtualDirectory), Fn(&EndDirectoryScan),
    Safe<&HostExamineNext>(), Safe<&CreateDir, uint32_t(ERR_MEM)>(), Safe<&RenameFile>(), Safe<&GetCurrentDirName>(),
    Safe<&TempFileName>(), Fn(&AddPart), Fn(&GetFilePart), Fn(&GetFilePart)};

void *const kDisplay[12] = {
    Safe<&HostGetImageSize>(), Safe<&HostLoadImage>(), Fn(&HostGetBitmapPixels), Fn(&HostFreeImage),
    Fn(&HostLockBrush), Fn(&HostUnlockBrush), Safe<&HostGetBrushArgb>(), Fn(&HostFreeBrushArgb),
    Safe<&HostAttachDisplayHook>(), Fn(&HostDetachDisplayHook), Safe<&HostRefreshHookedDisplay>(),
    Safe<&HostResizeHookedDisplay, uint32_t(ERR_MEM)>()};

void *const kSound[2] = {Safe<&HostLockSample>(), Fn(&HostUnlockSample)};

void *const kRequesters[3] = {Safe<&HostMessageRequester, -1>(), Safe<&HostFileRequester>(),
                              Safe<&HostPathRequester>()};

void *const kFont[1] = {Safe<&HostMapFontNameToFile>()};

void *const kFreeType[26] = {
    Fn(&FT_Init_FreeType),     Fn(&FT_Done_FreeType),     Fn(&FT_New_Face),         Fn(&FT_New_Memory_Face),
    Fn(&FT_Load_Glyph),        Fn(&FT_Render_Glyph),      Fn(&FT_Get_Glyph),        Fn(&FT_Done_Glyph),
    Fn(&FT_Outline_Transform), Fn(&FT_Outline_Translate), Fn(&FT_Outline_Get_Bitmap), Fn(&FT_Outline_Get_CBox),
    Fn(&FT_Outline_Decompose), Fn(&FT_Done_Face),         Fn(&FT_Get_Char_Index),   Fn(&FT_Get_First_Char),
    Fn(&FT_Get_Next_Char),     Fn(&FT_Set_Transform),     Fn(&FT_Select_Charmap),   Fn(&FT_Set_Pixel_Sizes),
    Fn(&FT_Set_Char_Size),     Fn(&FT_MulFix),            Fn(&FT_Vector_Transform), Fn(&FT_Get_Kerning),
    Fn(&FT_Get_Sfnt_Table),    Fn(&FT_Load_Sfnt_Table)};

void *const kVm[68] = {
    Safe<&vm_gettop>(), Safe<&vm_settop>(), Safe<&vm_pushvalue>(), Safe<&vm_remove>(), Safe<&vm_insert>(), Safe<&vm_replace>(),
    Safe<static_cast<IsFn>(&vm_iscfunction)>(), Safe<static_cast<IsFn>(&vm_isnumber)>(), Safe<static_cast<IsFn>(&vm_isstring)>(), Safe<static_cast<IsFn>(&vm_isuserdata)>(), Safe<&vm_type>(), Safe<&vm_equal>(),
    Safe<&vm_rawequal>(), Safe<&vm_lessthan>(), Safe<&vm_tonumber>(), Safe<&vm_tostring>(), Safe<&vm_strlen>(),
    Safe<&vm_tocfunction>(), Safe<&vm_touserdata>(), Safe<&vm_topointer>(), Safe<&vm_pushnil>(), Safe<&vm_pushnumber>(),
    Safe<&vm_pushlstring>(), Safe<&vm_pushstring>(), Safe<&vm_pushlightuserdata>(), Safe<&vm_pushcclosure>(),
    Safe<&vm_gettable>(), Safe<&vm_rawget>(), Safe<&vm_rawgeti>(), Safe<&vm_newtable>(), Safe<&vm_getfenv>(), Safe<&vm_settable>(),
    Safe<&vm_rawset>(), Safe<&vm_rawseti>(), Safe<&vm_setfenv>(), Safe<&vm_pcall, uint32_t(ERR_MEM)>(), Safe<&vm_next>(), Safe<&vm_concat>(),
    Safe<&vm_pushupvalues>(), Safe<&vm_getupvalue>(), Safe<&vm_setupvalue>(), Safe<&vm_newuserdata>(), Safe<&vm_setmetatable>(),
    Safe<&vm_getmetatable>(), Safe<&HostRaiseError>(), Fn(&HostCheckString), Fn(&HostOptString), Safe<&vm_checknumber>(),
    Safe<&vm_optnumber>(), Safe<&vm_checkinteger>(), Safe<&vm_optinteger>(), Safe<&vm_checktable>(), Safe<&vm_checkfunction>(),
    Safe<&vm_checktype>(), Safe<&vm_ref, VM_NOREF>(), Safe<&vm_unref>(), Safe<&HostGetObjectIdArg>(), Safe<&vm_newmetatable>(),
    Safe<&vm_getmetatable_byname>(), Safe<&vm_checkudata>(), Safe<&vm_buffinit>(), Fn(&HostPrepBuffer), Safe<&vm_addlstring>(),
    Safe<&vm_addstring>(), Safe<&vm_addvalue>(), Safe<&vm_pushresult>(), Safe<&vm_findstring>(), Safe<&vm_checkstack>()};

// The built-in faces' data in the table's order, then their sizes in bytes, as data pointers.
void *const *FontDataTable() {
  static const char *const kOrder[] = {"Bitstream Vera Sans", "Bitstream Vera Sans Mono", "Bitstream Vera Serif"};
  static_assert(std::size(kOrder) == kBuiltinFaceCount);
  static void *table[2 * kBuiltinFaceCount];
  for (int i = 0; i < kBuiltinFaceCount; i++) {
    const qmBuiltinFace *face = FindBuiltinFace(kOrder[i]);
    table[i] = face ? const_cast<uint8_t *>(face->data) : nullptr;
    table[kBuiltinFaceCount + i] = reinterpret_cast<void *>(uintptr_t(face ? face->size : 0));
  }
  return table;
}

}  // namespace

const qmHostTable *GetHostTable() {
  static const qmHostTable host = {
      5, 2, {kStdlib, kSystem, kFile, kDisplay, kSound, kRequesters, kFont, kFreeType, kVm, FontDataTable()}};
  return &host;
}

void BindHostRun(const qmHostRun *run) {
  gBoundRun = run ? *run : qmHostRun{};
  gRun = run ? &gBoundRun : nullptr;
}

qmHostCallError SwapHostCallError(qmHostCallError next) {
  qmHostCallError previous = tFailure;
  tFailure = next;
  return previous;
}
