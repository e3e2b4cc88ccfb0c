// The host table: the player functions every plug-in receives. Services that belong to
// libraries not built yet (displays, sounds, requesters, fonts) have null slots for now.
#include <sys/time.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

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
#include "runtime/errmessages.h"
#include "runtime/rttags.h"
#include "runtime/strutil.h"
#include "runtime/vm/vm_api.h"
#include "runtime/vm/vm_state.h"
#include "runtime/vnames.h"

namespace {

template <typename F>
void *Fn(F *f) {
  return reinterpret_cast<void *>(f);
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
    Fn(&FileOpen), Fn(&FileClose), Fn(&HostFileSeek), Fn(&FileReadBytes), Fn(&FileWriteBytes), Fn(&FileGetc),
    Fn(&FilePutc), Fn(&FileEof), Fn(&RemoveFile), Fn(&LockVirtualPath), Fn(&UnlockVirtualPath),
    Fn(&GetVirtualLockName),
    nullptr,  // HostExamine: dos library
    Fn(&CheckVirtualDirectory), Fn(&EndDirectoryScan),
    nullptr,  // HostExamineNext: dos library
    Fn(&CreateDir), Fn(&RenameFile),
    nullptr,  // GetCurrentDirName: dos library
    Fn(&TempFileName), Fn(&AddPart),
    nullptr,  // GetFilePart: dos library
    Fn(static_cast<const char *(*)(const char *)>(&ChunkDisplayName))};

void *const kVm[68] = {
    Fn(&vm_gettop), Fn(&vm_settop), Fn(&vm_pushvalue), Fn(&vm_remove), Fn(&vm_insert), Fn(&vm_replace),
    Fn(static_cast<IsFn>(&vm_iscfunction)), Fn(static_cast<IsFn>(&vm_isnumber)), Fn(static_cast<IsFn>(&vm_isstring)), Fn(static_cast<IsFn>(&vm_isuserdata)), Fn(&vm_type), Fn(&vm_equal),
    Fn(&vm_rawequal), Fn(&vm_lessthan), Fn(&vm_tonumber), Fn(&vm_tostring), Fn(&vm_strlen),
    Fn(&vm_tocfunction), Fn(&vm_touserdata), Fn(&vm_topointer), Fn(&vm_pushnil), Fn(&vm_pushnumber),
    Fn(&vm_pushlstring), Fn(&vm_pushstring), Fn(&vm_pushlightuserdata), Fn(&vm_pushcclosure),
    Fn(&vm_gettable), Fn(&vm_rawget), Fn(&vm_rawgeti), Fn(&vm_newtable), Fn(&vm_getfenv), Fn(&vm_settable),
    Fn(&vm_rawset), Fn(&vm_rawseti), Fn(&vm_setfenv), Fn(&vm_pcall), Fn(&vm_next), Fn(&vm_concat),
    Fn(&vm_pushupvalues), Fn(&vm_getupvalue), Fn(&vm_setupvalue), Fn(&vm_newuserdata), Fn(&vm_setmetatable),
    Fn(&vm_getmetatable), Fn(&HostRaiseError), Fn(&vm_checkstring), Fn(&vm_optlstring), Fn(&vm_checknumber),
    Fn(&vm_optnumber), Fn(&vm_checkinteger), Fn(&vm_optinteger), Fn(&vm_checktable), Fn(&vm_checkfunction),
    Fn(&vm_checktype), Fn(&vm_ref), Fn(&vm_unref), Fn(&HostGetObjectIdArg), Fn(&vm_newmetatable),
    Fn(&vm_getmetatable_byname), Fn(&vm_checkudata), Fn(&vm_buffinit), Fn(&vm_prepbuffer), Fn(&vm_addlstring),
    Fn(&vm_addstring), Fn(&vm_addvalue), Fn(&vm_pushresult), Fn(&vm_findstring), Fn(&vm_checkstack)};

void *const kEmpty[32] = {};

const qmHostTable kHost = {5, 2, {kStdlib, kSystem, kFile, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty, kVm, kEmpty}};

}  // namespace

const qmHostTable *GetHostTable() { return &kHost; }
