// GetAttribute over every attribute of every object type built so far, with the errors for
// an unknown type, an unknown attribute and a missing object.
#include <gtest/gtest.h>

#include <cstdint>

#include "runtime/attributes.h"
#include "runtime/errcodes.h"
#include "runtime/objtypes.h"
#include "tests/player/math/math_test_vm.h"

namespace {

TEST(GetAttribute, EveryRowOfTheTable) {
  MathVm vm;
  // Two clip regions, an interval, a timeout and two stopwatch timers.
  ASSERT_EQ(vm.Call("CreateClipRegion", {1, int(QMTYPE_BOX), 10, 20, 30, 40}).code, 0u);
  ASSERT_EQ(vm.Call("CreateClipRegion", {2, int(QMTYPE_BOX), 0, 0, 5, 5}).code, 0u);
  auto call = [&](const char *name, std::vector<double> before, bool function, std::vector<double> after) {
    vm_settop(vm.L, 0);
    vm_pushstring(vm.L, name);
    vm_gettable(vm.L, VM_GLOBALSINDEX);
    for (double v : before) vm_pushnumber(vm.L, v);
    if (function) vm_pushcfunction(vm.L, [](VmState *) -> uint32_t { return 0; });
    for (double v : after) vm_pushnumber(vm.L, v);
    EXPECT_EQ(vm_pcall(vm.L, vm_gettop(vm.L) - 1, 0, 0), 0u) << name;
    vm_settop(vm.L, 0);
  };
  call("setinterval", {4}, true, {250});
  call("settimeout", {5}, true, {900, 33});
  call("starttimer", {1}, false, {});
  call("starttimer", {2}, false, {});
  ASSERT_EQ(vm.Call("CreatePointer", {3, int(QMTYPE_POINTER), 1}).code, 0u);
  // Two memory blocks, a file opened for reading and a directory.
  ASSERT_EQ(vm.Call("AllocMem", {6, 1234}).code, 0u);
  ASSERT_EQ(vm.Call("AllocMem", {7, 1}).code, 0u);
  ASSERT_EQ(vm.Call("OpenFile", {8, CmdArg::Str("/proc/self/status"), 1005}).code, 0u);
  ASSERT_EQ(vm.Call("OpenDirectory", {9, CmdArg::Str("/")}).code, 0u);
  const int MEM = QMTYPE_MEMORY, FILE = QMTYPE_FILE, DIR = QMTYPE_DIRECTORY;
  const int PTR = QMTYPE_POINTER;
  const int CLIP = QMTYPE_CLIPREGION, IV = QMTYPE_INTERVAL, TO = QMTYPE_TIMEOUT, EH = QMTYPE_EVENTHANDLER,
                 TIMER = QMTYPE_TIMER;
  struct Case {
    const char *name;
    std::vector<CmdArg> args;
    uint32_t code;
    double want;
  } cases[] = {
      {"region width", {CLIP, 1, ATTRWIDTH}, 0, 30},
      {"region height", {CLIP, 1, ATTRHEIGHT}, 0, 40},
      {"region x", {CLIP, 1, ATTRXPOS}, 0, 10},
      {"region y", {CLIP, 1, ATTRYPOS}, 0, 20},
      {"region count without lookup", {CLIP, 99, ATTRCOUNT}, 0, 2},
      {"region missing", {CLIP, 99, ATTRWIDTH}, ERR_FINDCLIPREGION, 0},
      {"region unknown attribute", {CLIP, 1, 9}, ERR_UNKNOWNATTR, 0},
      {"region count needs an id", {CLIP, CmdArg::Str("x"), ATTRCOUNT}, ERR_NUMEXPECTED, 0},
      {"pointer width", {PTR, 3, ATTRWIDTH}, 0, 46},
      {"pointer kind", {PTR, 3, ATTRTYPE}, 0, 1},
      {"pointer count", {PTR, 9, ATTRCOUNT}, 0, 1},
      {"pointer missing", {PTR, 9, ATTRWIDTH}, ERR_FINDPOINTER, 0},
      {"pointer unknown attribute", {PTR, 3, ATTRXPOS}, ERR_UNKNOWNATTR, 0},
      {"interval period", {IV, 4, ATTRDURATION}, 0, 250},
      {"interval without user data", {IV, 4, ATTRUSERDATA}, 0, 0},
      {"interval missing", {IV, 5, ATTRDURATION}, ERR_FINDINTERVAL, 0},
      {"interval has no count", {IV, 4, ATTRCOUNT}, ERR_UNKNOWNATTR, 0},
      {"timeout delay", {TO, 5, ATTRDURATION}, 0, 900},
      {"timeout user data", {TO, 5, ATTRUSERDATA}, 0, 33},
      {"timeout missing", {TO, 4, ATTRDURATION}, ERR_FINDTIMEOUT, 0},
      {"handler not set", {EH, CmdArg::Str("OnMouseDown"), ATTRFUNCTION}, 0, 0},
      {"object handler not set", {EH, CmdArg::Str("onconnect"), ATTRUSERDATA}, 0, 0},
      {"unknown event name", {EH, CmdArg::Str("OnNothing"), ATTRFUNCTION}, ERR_UNKNOWNTAG, 0},
      {"handler has no count", {EH, CmdArg::Str("OnMouseDown"), ATTRCOUNT}, ERR_UNKNOWNATTR, 0},
      {"memory size", {MEM, 6, ATTRSIZE}, 0, 1234},
      {"memory count", {MEM, 99, ATTRCOUNT}, 0, 2},
      {"memory missing", {MEM, 99, ATTRSIZE}, ERR_FINDMEMBLK, 0},
      {"memory unknown attribute", {MEM, 6, ATTRWIDTH}, ERR_UNKNOWNATTR, 0},
      {"file mode", {FILE, 8, ATTRMODE}, 0, 1005},
      {"file count", {FILE, 99, ATTRCOUNT}, 0, 1},
      {"file missing", {FILE, 99, ATTRMODE}, ERR_FINDFILE, 0},
      {"file unknown attribute", {FILE, 8, ATTRSIZE}, ERR_UNKNOWNATTR, 0},
      {"directory count", {DIR, 0, ATTRCOUNT}, 0, 1},
      {"directory has nothing else", {DIR, 9, ATTRMODE}, ERR_UNKNOWNATTR, 0},
      {"timer count", {TIMER, 0, ATTRCOUNT}, 0, 2},
      {"timer has nothing else", {TIMER, 1, ATTRWIDTH}, ERR_UNKNOWNATTR, 0},
      {"directory looked up before the attribute", {DIR, 7, ATTRMODE}, ERR_FINDDIR, 0},
      {"timer looked up before the attribute", {TIMER, 3, ATTRWIDTH}, ERR_FINDTIMER, 0},
      {"connection looked up before the attribute", {int(QMTYPE_CLIENT), 1, ATTRWIDTH}, ERR_FINDCLIENT, 0},
      {"server looked up before the attribute", {int(QMTYPE_SERVER), 1, ATTRWIDTH}, ERR_FINDSERVER, 0},
      {"UDP object looked up before the attribute", {int(QMTYPE_UDPOBJECT), 1, ATTRWIDTH}, ERR_FINDUDPOBJECT, 0},
      {"unknown type", {77, 1, ATTRWIDTH}, ERR_WRONGUSAGE, 0},
      {"too few arguments", {CLIP, 1}, ERR_MISSINGPARAMTR, 0},
  };
  for (const Case &c : cases) {
    CommandCall r = vm.Call("GetAttribute", c.args);
    EXPECT_EQ(r.code, c.code) << c.name;
    if (c.code == 0) {
      ASSERT_EQ(r.results.size(), 1u) << c.name;
      EXPECT_EQ(r.results[0], c.want) << c.name;
    }
  }
  // A function comes back as the function itself.
  vm_settop(vm.L, 0);
  vm_pushstring(vm.L, "getattribute");
  vm_gettable(vm.L, VM_GLOBALSINDEX);
  vm_pushnumber(vm.L, IV);
  vm_pushnumber(vm.L, 4);
  vm_pushnumber(vm.L, ATTRFUNCTION);
  ASSERT_EQ(vm_pcall(vm.L, 3, 1, 0), 0u);
  EXPECT_EQ(vm_type(vm.L, -1), VM_TFUNCTION);
  vm_settop(vm.L, 0);
}

}  // namespace
