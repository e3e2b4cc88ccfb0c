// The "system" library: its command table, its constants (with one constant per error code),
// its start and end, and what its handler files share (systemargs.h). The handlers are in the
// *_commands.cpp files by family; the records and algorithms they call live in the system_*.cpp
// files beside them.
#include "player/system/lib_system.h"

#include <new>

#include "platform/catalog.h"
#include "platform/locale.h"
#include "player/system/desktop_commands.h"
#include "player/system/error_commands.h"
#include "player/system/info_commands.h"
#include "player/system/object_commands.h"
#include "player/system/system_debug.h"
#include "player/system/system_platform.h"
#include "player/system/system_program.h"
#include "player/system/system_state.h"
#include "player/system/system_timer.h"
#include "player/system/systemargs.h"
#include "player/system/table_commands.h"
#include "player/system/timer_commands.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/errreport.h"
#include "runtime/objdata.h"
#include "runtime/objlist.h"
#include "runtime/registry.h"
#include "runtime/vm/vm_api.h"

// This run's services and state on the player context; the library's init made both. A
// command called after the library was freed (a finaliser at shut-down) is refused.
uint32_t SystemServicesOf(VmState *L, qmSystemServices **out) {
  *out = GetPlayerContext(L)->system;
  return *out ? 0 : uint32_t(ERR_WRONGUSAGE);
}

uint32_t SystemStateOf(VmState *L, qmSystemState **out) {
  *out = GetPlayerContext(L)->systemState;
  return *out ? 0 : uint32_t(ERR_WRONGUSAGE);
}

namespace {

const qmCommandEntry kSystemCommands[] = {
    {"Wait", SysWait},
    {"OpenCatalog", SysOpenCatalog},
    {"CloseCatalog", SysCloseCatalog},
    {"GetCatalogString", SysGetCatalogString},
    {"GetDate", SysGetDate},
    {"GetTime", SysGetTime},
    {"GetWeekday", SysGetWeekday},
    {"GetDateNum", SysGetDateNum},
    {"GetTimer", SysGetTimer},
    {"PauseTimer", SysPauseTimer},
    {"ResumeTimer", SysResumeTimer},
    {"StartTimer", SysStartTimer},
    {"StopTimer", SysStopTimer},
    {"SystemRequest", SysSystemRequest},
    {"GetMemoryInfo", SysGetMemoryInfo},
    {"End", SysEnd},
    {"GetErrorName", SysGetErrorName},
    {"Sort", SysSort},
    {"DebugStr", SysDebugPrint},
    {"DebugVal", SysDebugPrint},
    {"DebugPrint", SysDebugPrint},
    {"ExitOnError", SysExitOnError},
    {"GetLastError", SysGetLastError},
    {"DebugOutput", SysDebugOutput},
    {"GetType", SysGetType},
    {"IIf", SysIIf},
    {"InsertItem", SysInsertItem},
    {"RemoveItem", SysRemoveItem},
    {"ListItems", SysListItems},
    {"StringRequest", SysStringRequest},
    {"Unpack", SysUnpack},
    {"SetMetaTable", SysSetMetaTable},
    {"GetMetaTable", SysGetMetaTable},
    {"RawEqual", SysRawEqual},
    {"RawGet", SysRawGet},
    {"RawSet", SysRawSet},
    {"GCInfo", SysGCInfo},
    {"CollectGarbage", SysCollectGarbage},
    {"Error", SysError},
    {"WaitTimer", SysWaitTimer},
    {"FileRequest", SysFileRequest},
    {"PathRequest", SysPathRequest},
    {"IPairs", SysIPairs},
    {"Pairs", SysPairs},
    {"NextItem", SysNextItem},
    {"GetVersion", SysGetVersion},
    {"GetCommandLine", SysGetCommandLine},
    {"GetProgramInfo", SysGetProgramInfo},
    {"ResetTimer", SysResetTimer},
    {"GetConstant", SysGetConstant},
    {"SetClipboard", SysSetClipboard},
    {"GetClipboard", SysGetClipboard},
    {"PeekClipboard", SysPeekClipboard},
    {"ClearClipboard", SysClearClipboard},
    {"CompareDates", SysCompareDates},
    {"OpenURL", SysOpenURL},
    {"CopyTable", SysCopyTable},
    {"FontRequest", SysFontRequest},
    {"ListRequest", SysListRequest},
    {"ColorRequest", SysColorRequest},
    {"GetSystemLanguage", SysGetSystemLanguage},
    {"GetSystemCountry", SysGetSystemCountry},
    {"DebugPrompt", SysDebugPrompt},
    {"GetFileArgument", SysGetFileArgument},
    {"Assert", SysAssert},
    {"ForEach", SysForEach},
    {"ForEachI", SysForEachI},
    {"Concat", SysConcat},
    {"GetObjectType", SysGetObjectType},
    {"GetObjectData", SysGetObjectData},
    {"SetObjectData", SysSetObjectData},
    {"ClearObjectData", SysClearObjectData},
    {"CopyObjectData", SysCopyObjectData},
    {"GetObjects", SysGetObjects},
    {"RaiseOnError", SysRaiseOnError},
    {"HaveObject", SysHaveObject},
    {nullptr, nullptr},
};

const qmConstantEntry kSystemConstants[] = {
    {"SECONDS", nullptr, 0}, {"MILLISECONDS", nullptr, 1}, {"TICKS", nullptr, 2},
    {"DATEYEAR", nullptr, 0}, {"DATEMONTH", nullptr, 1}, {"DATEDAY", nullptr, 2}, {"DATETIME", nullptr, 3},
    {"CHIPMEMORY", nullptr, 0}, {"FASTMEMORY", nullptr, 1},
    {"NIL", nullptr, 0}, {"NUMBER", nullptr, 2}, {"STRING", nullptr, 3}, {"TABLE", nullptr, 4},
    {"FUNCTION", nullptr, 5}, {"USERDATA", nullptr, 8}, {"LIGHTUSERDATA", nullptr, 9}, {"THREAD", nullptr, 10},
    {"LONG", nullptr, 1}, {"FLOAT", nullptr, 1}, {"INTEGER", nullptr, 1}, {"SHORT", nullptr, 6},
    {"WORD", nullptr, 6}, {"BYTE", nullptr, 7},
    {"REQ_NORMAL", nullptr, 0}, {"REQ_MULTISELECT", nullptr, 1}, {"REQ_SAVEMODE", nullptr, 2},
    {"PRGTYPE_SCRIPT", nullptr, 0}, {"PRGTYPE_APPLET", nullptr, 1}, {"PRGTYPE_PROGRAM", nullptr, 2},
    {"REQICON_NONE", nullptr, 0}, {"REQICON_INFORMATION", nullptr, 1}, {"REQICON_ERROR", nullptr, 2},
    {"REQICON_WARNING", nullptr, 3}, {"REQICON_QUESTION", nullptr, 4},
    {"CLIPBOARD_EMPTY", nullptr, 0}, {"CLIPBOARD_TEXT", nullptr, 1}, {"CLIPBOARD_IMAGE", nullptr, 2},
    {"CLIPBOARD_SOUND", nullptr, 3}, {"CLIPBOARD_UNKNOWN", nullptr, 4},
    {"HKEY_CLASSES_ROOT", nullptr, 0}, {"HKEY_CURRENT_CONFIG", nullptr, 1}, {"HKEY_LOCAL_MACHINE", nullptr, 2},
    {"HKEY_USERS", nullptr, 3}, {"HKEY_CURRENT_USER", nullptr, 4},
    {"LANGUAGE_ENGLISH", nullptr, 0}, {"LANGUAGE_GERMAN", nullptr, 1}, {"LANGUAGE_DUTCH", nullptr, 2},
    {"LANGUAGE_ITALIAN", nullptr, 3}, {"LANGUAGE_FRENCH", nullptr, 4}, {"LANGUAGE_SPANISH", nullptr, 5},
    {"LANGUAGE_PORTUGUESE", nullptr, 6}, {"LANGUAGE_SWEDISH", nullptr, 7}, {"LANGUAGE_DANISH", nullptr, 8},
    {"LANGUAGE_FINNISH", nullptr, 9}, {"LANGUAGE_NORWEGIAN", nullptr, 10}, {"LANGUAGE_POLISH", nullptr, 11},
    {"LANGUAGE_HUNGARIAN", nullptr, 12}, {"LANGUAGE_GREEK", nullptr, 13}, {"LANGUAGE_CZECH", nullptr, 14},
    {"LANGUAGE_TURKISH", nullptr, 15}, {"LANGUAGE_CROATIAN", nullptr, 16}, {"LANGUAGE_RUSSIAN", nullptr, 17},
    {"LANGUAGE_UNKNOWN", nullptr, 18},
    {"COUNTRY_UK", nullptr, 0}, {"COUNTRY_USA", nullptr, 1}, {"COUNTRY_AUSTRALIA", nullptr, 2},
    {"COUNTRY_BELGIUM", nullptr, 3}, {"COUNTRY_BULGARIA", nullptr, 4}, {"COUNTRY_BRAZIL", nullptr, 5},
    {"COUNTRY_CANADA", nullptr, 6}, {"COUNTRY_CZECHREPUBLIC", nullptr, 7}, {"COUNTRY_DENMARK", nullptr, 8},
    {"COUNTRY_GERMANY", nullptr, 9}, {"COUNTRY_SPAIN", nullptr, 10}, {"COUNTRY_FRANCE", nullptr, 11},
    {"COUNTRY_GREECE", nullptr, 12}, {"COUNTRY_ITALY", nullptr, 13}, {"COUNTRY_LIECHTENSTEIN", nullptr, 14},
    {"COUNTRY_LITHUANIA", nullptr, 15}, {"COUNTRY_LUXEMBOURG", nullptr, 16}, {"COUNTRY_HUNGARY", nullptr, 17},
    {"COUNTRY_MALTA", nullptr, 18}, {"COUNTRY_MONACO", nullptr, 19}, {"COUNTRY_NETHERLANDS", nullptr, 20},
    {"COUNTRY_NORWAY", nullptr, 21}, {"COUNTRY_POLAND", nullptr, 22}, {"COUNTRY_PORTUGAL", nullptr, 23},
    {"COUNTRY_ROMANIA", nullptr, 24}, {"COUNTRY_RUSSIA", nullptr, 25}, {"COUNTRY_SANMARINO", nullptr, 26},
    {"COUNTRY_SLOVAKIA", nullptr, 27}, {"COUNTRY_SLOVENIA", nullptr, 28}, {"COUNTRY_SWITZERLAND", nullptr, 29},
    {"COUNTRY_FINLAND", nullptr, 30}, {"COUNTRY_SWEDEN", nullptr, 31}, {"COUNTRY_TURKEY", nullptr, 32},
    {"COUNTRY_IRELAND", nullptr, 33}, {"COUNTRY_AUSTRIA", nullptr, 34}, {"COUNTRY_ICELAND", nullptr, 35},
    {"COUNTRY_ANDORRA", nullptr, 36}, {"COUNTRY_UKRAINE", nullptr, 37}, {"COUNTRY_UNKNOWN", nullptr, 38},
    // Every error code is a constant of its own name; the rows come from the one list of codes.
    {"ERR_NONE", nullptr, 0},
#define QM_ERROR(code, name, index, text) {#name, nullptr, code},
#include "runtime/errcodes.def"
#undef QM_ERROR
    {nullptr, nullptr, 0},
};

uint32_t InitSystemLibrary(VmState *L) {
  qmPlayerContext *ctx = GetPlayerContext(L);
  if (!ctx) return ERR_MEM;  // the context comes with the runtime support, which could not start
  // On a failure half-way the free releases whichever of the two was made.
  ctx->system = new (std::nothrow) qmSystemServices;
  ctx->systemState = new (std::nothrow) qmSystemState{};
  if (!ctx->system || !ctx->systemState) return ERR_MEM;
  SetDefaultSystemServices(ctx->system);
  vm_setlasterrorreader(L, SysGetLastError);
  vm_setdebugprint(L, DebugWrite);
  return 0;
}

void FreeSystemLibrary(VmState *L) {
  if (L)
    for (qmObjectHeader *t = FirstObject(L, QMTYPE_TIMER); t; t = t->next) {
      FreeObjectDataList(L, static_cast<qmObjectData *>(t->userData));
      t->userData = nullptr;
    }
  FreeAllTimers(L);
  if (qmPlayerContext *ctx = L ? GetPlayerContext(L) : nullptr) {
    if (ctx->systemState && ctx->systemState->catalog) CatalogClose(ctx->systemState->catalog);
    delete ctx->systemState;
    delete ctx->system;
    ctx->systemState = nullptr;
    ctx->system = nullptr;
  }
  if (L) {
    ReleaseErrorHandler(L);
    if (vm_getlasterrorreader(L) == SysGetLastError) vm_setlasterrorreader(L, nullptr);
    if (vm_getdebugprint(L) == DebugWrite) vm_setdebugprint(L, nullptr);
  }
}

}  // namespace

const qmLibrary kSystemLibrary = {"system",          kSystemCommands, kSystemConstants, InitSystemLibrary,
                                  FreeSystemLibrary, FREERANK_SYSTEM};
