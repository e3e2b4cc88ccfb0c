// The contract between the player and its plug-ins (".qmp" shared libraries): the information
// block that InitPlugin fills, the feature flags with the entry points each one requires, and
// the host table of player functions. Records use the machine's own pointer sizes.
#pragma once
#include <cstdint>

struct VmState;

enum : uint32_t {
  PLUGINFEAT_SCRIPT = 0x01,
  PLUGINFEAT_LIBRARY = 0x02,
  PLUGINFEAT_IMAGE = 0x04,
  PLUGINFEAT_ANIM = 0x08,
  PLUGINFEAT_SOUND = 0x10,
  PLUGINFEAT_VECTOR = 0x20,
  PLUGINFEAT_VIDEO = 0x40,
  PLUGINFEAT_IMGSAVER = 0x80,
  PLUGINFEAT_ANMSAVER = 0x100,
  PLUGINFEAT_SMPSAVER = 0x200,
};

struct qmPluginInfo {
  uint32_t features;
  int32_t version;
  int32_t revision;
  int32_t requiredVersion;   // preset 5 by the player
  int32_t requiredRevision;  // preset 2
  const char *info1;
  const char *name;          // must equal the file name without ".qmp"
  const char *info2to8[7];
};

// Host sub-tables in this order; each an array of function pointers in the documented slot
// order (the last one of data pointers). Slots whose service the player does not offer yet are
// null.
enum : int32_t {
  HOSTSUB_STDLIB, HOSTSUB_SYSTEM, HOSTSUB_FILE, HOSTSUB_DISPLAY, HOSTSUB_SOUND, HOSTSUB_REQUESTERS,
  HOSTSUB_FONT, HOSTSUB_FREETYPE, HOSTSUB_VM, HOSTSUB_FONTDATA, HOSTSUB_COUNT
};
inline constexpr int32_t kHostSubTableSlots[HOSTSUB_COUNT] = {32, 17, 23, 12, 2, 3, 1, 26, 68, 6};

// No host function unwinds into a plug-in: one that fails answers 0, an empty text or a null
// pointer, and the player raises the error once the plug-in's command has returned (RaiseError
// too returns).
struct qmHostTable {
  int32_t version;   // 5
  int32_t revision;  // 2
  void *const *sub[HOSTSUB_COUNT];
};

// Slots of the VM sub-table that plug-ins use most.
enum : int32_t {
  HOSTVM_GETTOP = 0,
  HOSTVM_TONUMBER = 14,
  HOSTVM_TOSTRING = 15,
  HOSTVM_PUSHNIL = 20,
  HOSTVM_PUSHNUMBER = 21,
  HOSTVM_PUSHSTRING = 23,
  HOSTVM_GETTABLE = 26,
  HOSTVM_RAISEERROR = 44,
  HOSTVM_CHECKSTRING = 45,
  HOSTVM_CHECKNUMBER = 47,
};
// Slots of the system sub-table.
enum : int32_t { HOSTSYS_GETAPPLETTAGS = 0, HOSTSYS_ADDUSERERROR = 1, HOSTSYS_SETERRORARGUMENT = 2 };

// Rows of a library's command and constant tables (the player's own layout).
struct qmPluginCommand {
  const char *name;
  uint32_t (*handler)(VmState *L);
};
struct qmPluginConstant {
  const char *name;
  const char *text;
  double value;
};

// A saver record that RegisterImageSaver and its kin fill.
struct qmSaverRecord {
  uintptr_t reserved;
  uint32_t formatId;
  const char *formatName;
};

extern "C" {
typedef int (*qmInitPluginFn)(qmPluginInfo *info, const qmHostTable *host, const char *path);
typedef void (*qmClosePluginFn)(void);
typedef const char *(*qmGetBaseTableFn)(void);
typedef const qmPluginCommand *(*qmGetCommandsFn)(void);
typedef const qmPluginConstant *(*qmGetConstantsFn)(void);
typedef uint32_t (*qmInitLibraryFn)(VmState *L);
typedef void (*qmFreeLibraryFn)(VmState *L);
typedef void (*qmRegisterSaverFn)(qmSaverRecord *record);
}
