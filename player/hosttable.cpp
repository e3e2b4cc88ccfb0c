// The host table: the player functions every plug-in receives. The display, sound, requester
// and font groups are empty, and the slots marked null below are not offered yet.
// Every slot that can fail by an exception is guarded (see SwapHostCallError).
#include <sys/time.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <type_traits>

#include "platform/dir.h"
#include "platform/env.h"
#include "platform/file.h"
#include "platform/fileops.h"
#include "platform/memory.h"
#include "platform/time.h"
#include "player/appletrecord.h"
#include "player/plugins.h"
#include "runtime/auxlib.h"
#include "runtime/cmdargs.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/rttags.h"
#include "runtime/strutil.h"
#include "runtime/vm/vm_api.h"
#include "runtime/vnames.h"

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
    Fn(&SleepMilliseconds),
    nullptr,  // FormatCurrentDate: system library
    Fn(&HostMemAlloc), Fn(&HostMemFree), Fn(&AddPluginHook),
    nullptr, nullptr,  // RegisterUserEvent, PostUserEvent: event library
    nullptr};          // PostHookedDisplayEvent: display library

void *const kFile[23] = {
    Safe<&FileOpen>(), Fn(&FileClose), Fn(&HostFileSeek), Fn(&FileReadBytes), Fn(&FileWriteBytes), Fn(&FileGetc),
    Fn(&FilePutc), Fn(&FileEof), Safe<&RemoveFile>(), Safe<&LockVirtualPath>(), Fn(&UnlockVirtualPath),
    Safe<&GetVirtualLockName>(),
    nullptr,  // HostExamine: dos library
    Fn(&CheckVirtualDirectory), Fn(&EndDirectoryScan),
    nullptr,  // HostExamineNext: dos library
    Safe<&CreateDir, uint32_t(ERR_MEM)>(), Safe<&RenameFile>(),
    nullptr,  // GetCurrentDirName: dos library
    Safe<&TempFileName>(), Fn(&AddPart),
    nullptr,  // GetFilePart: dos library
    Fn(static_cast<const char *(*)(const char *)>(&ChunkDisplayName))};

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

void *const kEmpty[32] = {};

const qmHostTable kHost = {5, 2, {kStdlib, kSystem, kFile, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty, kVm, kEmpty}};

}  // namespace

const qmHostTable *GetHostTable() { return &kHost; }

qmHostCallError SwapHostCallError(qmHostCallError next) {
  qmHostCallError previous = tFailure;
  tFailure = next;
  return previous;
}
