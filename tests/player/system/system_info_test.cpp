#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "player/clargs.h"
#include "player/playerrun.h"
#include "player/system/lib_system.h"
#include "player/system/system_dates.h"
#include "player/system/system_platform.h"
#include "player/system/system_timer.h"
#include "player/wiring.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/registry.h"
#include "tests/player/system/system_test_util.h"

TEST(SystemLibrary, CommandsAndConstants) {
  SysVm vm;
  int commands = 0;
  for (const qmCommandEntry *e = kSystemLibrary.commands; e->name; e++) {
    commands++;
    std::string lower = e->name;
    for (char &c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    vm_pushstring(vm.L, lower.c_str());
    vm_gettable(vm.L, VM_GLOBALSINDEX);
    EXPECT_EQ(vm_type(vm.L, -1), VM_TFUNCTION) << e->name;
    vm_pop(vm.L, 1);
  }
  EXPECT_EQ(commands, 76);
  EXPECT_STREQ(FindRegisteredCommandName("copytable"), "CopyTable");
  // One constant per error code of the list, ERR_NONE included, with the code as its value.
  int errors = 0;
  for (const qmConstantEntry *e = kSystemLibrary.constants; e->name; e++)
    if (std::strncmp(e->name, "ERR_", 4) == 0) errors++;
  int codes = 1;
  for (uint32_t code = kFirstErrorCode; code <= kLastErrorCode; code++) {
    const char *name = qm_error_name(code);
    if (!name) continue;
    codes++;
    double value = -1;
    EXPECT_EQ(vm_getconstant(vm.L, name, nullptr, &value), 1) << name;
    EXPECT_EQ(value, code) << name;
  }
  EXPECT_EQ(errors, codes);
  EXPECT_EQ(codes, 506);  // 1249 and 1406 to 1408 are not used
  struct Case {
    const char *ref;
    uint32_t code;
    const char *value;
  };
  const Case cases[] = {
      {"#ERR_NONE", 0, "0"},           {"#ERR_MEM", 0, "1000"},         {"#err_sortfunc", 0, "1362"},
      {"#ERR_NOMIMEVIEWER", 0, "1508"}, {"#COUNTRY_UKRAINE", 0, "37"},  {"#LANGUAGE_UNKNOWN", 0, "18"},
      {"#TICKS", 0, "2"},              {"#REQ_SAVEMODE", 0, "2"},       {"#LIGHTUSERDATA", 0, "9"},
      {"#NOSUCHTHING", ERR_FINDCST, ""}, {"TICKS", ERR_WRONGUSAGE, ""},  {"#1", ERR_SYNTAXERROR, ""},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(vm.Call("getconstant", [&] { vm_pushstring(vm.L, c.ref); }), c.code) << c.ref;
    if (c.code == 0) {
      EXPECT_EQ(vm.Results(), c.value) << c.ref;
    }
  }
}

TEST(SystemDates, CompareDates) {
  struct Case {
    const char *a, *b;
    int dateOnly;
    uint32_t code;
    int32_t result;
  };
  const Case cases[] = {
      {"01-Jan-2024", "02-Jan-2024", 1, 0, 2},
      {"02-Jan-2024", "01-Jan-2024", 1, 0, 1},
      {"01-Jan-2024 10:00:00", "01-Jan-2024 10:00:00", 0, 0, 0},
      {"01-Jan-2024 10:00:01", "01-Jan-2024 10:00:00", 0, 0, 1},
      {"31-Dec-2023 23:59:59", "01-Jan-2024 00:00:00", 0, 0, 2},
      {"01-Feb-2024 00:00:00", "28-Jan-2024 00:00:00", 0, 0, 1},
      {"01-Jan-2024 10:00:00", "01-Jan-2024 23:00:00", 1, 0, 0},  // times ignored
      {"01-jan-2024", "02-Jan-2024", 1, ERR_INVALIDDATE, 0},
      {"01-Jan-2024", "02-Jan-2024", 0, ERR_INVALIDDATE, 0},      // date part without dateonly
      {"1-Jan-2024 10:00:00", "01-Jan-2024 10:00:00", 0, ERR_INVALIDDATE, 0},
      {"01-Jux-2024 10:00:00", "01-Jan-2024 10:00:00", 0, ERR_INVALIDDATE, 0},
      {"", "", 1, ERR_INVALIDDATE, 0},
  };
  SysVm vm;
  for (const Case &c : cases) {
    int32_t result = -1;
    EXPECT_EQ(CompareDateTexts(c.a, c.b, c.dateOnly, &result), c.code) << c.a << " " << c.b;
    if (c.code == 0) {
      EXPECT_EQ(result, c.result) << c.a << " " << c.b;
    }
    EXPECT_EQ(vm.Call("comparedates", [&] {
      vm_pushstring(vm.L, c.a);
      vm_pushstring(vm.L, c.b);
      vm_pushnumber(vm.L, c.dateOnly);
    }), c.code);
  }
}

TEST(SystemDates, LongDateAndNumbers) {
  char text[64];
  FormatLongDate("03-07-24", "09:05:01", text, sizeof text);
  EXPECT_STREQ(text, "07-Mar-2024 09:05:01");
  FormatLongDate("12-31-99", "23:59:59", text, sizeof text);
  EXPECT_STREQ(text, "31-Dec-2099 23:59:59");
  EXPECT_EQ(DateNumber(DATEKIND_YEAR, "03-07-24", "09:05:01"), 2024);
  EXPECT_EQ(DateNumber(DATEKIND_MONTH, "03-07-24", "09:05:01"), 3);
  EXPECT_EQ(DateNumber(DATEKIND_DAY, "03-07-24", "09:05:01"), 7);
  EXPECT_EQ(DateNumber(DATEKIND_TIME, "03-07-24", "09:05:01"), 90501);
  EXPECT_EQ(DateNumber(9, "03-07-24", "09:05:01"), 0);
  // The commands read today's date: the long form has the fixed shape and compares equal to
  // itself; the time comes with or without seconds.
  SysVm vm;
  ASSERT_EQ(vm.Call("getdate", [&] { vm_pushnumber(vm.L, 1); }), 0u);
  std::string today = vm_tostring(vm.L, 1);
  ASSERT_EQ(today.size(), 20u) << today;
  ASSERT_EQ(vm.Call("comparedates", [&] {
    vm_pushstring(vm.L, today.c_str());
    vm_pushstring(vm.L, today.c_str());
  }), 0u);
  EXPECT_EQ(vm.Results(), "0");
  ASSERT_EQ(vm.Call("gettime", [&] { vm_pushnumber(vm.L, 1); }), 0u);
  EXPECT_EQ(vm_strlen(vm.L, 1), 8u);
  ASSERT_EQ(vm.Call("gettime"), 0u);
  EXPECT_EQ(vm_strlen(vm.L, 1), 5u);
  ASSERT_EQ(vm.Call("getdatenum", [&] { vm_pushnumber(vm.L, DATEKIND_YEAR); }), 0u);
  EXPECT_GE(vm_tonumber(vm.L, 1), 2000);
}

TEST(SystemProgram, VersionCommandLineAndProgramInfo) {
  SysVm vm;
  VmState *L = vm.L;
  ASSERT_EQ(vm.Call("getversion"), 0u);
  auto field = [&](const char *key) {
    vm_pushstring(L, key);
    vm_gettable(L, 1);
    std::string s = SysValueText(L, -1);
    vm_pop(L, 1);
    return s;
  };
  EXPECT_EQ(field("application"), "'QuenmoorPlayer'");
  EXPECT_EQ(field("version"), "'5.2'");
  EXPECT_EQ(field("beta"), "0");
  EXPECT_EQ(field("plugins"), "table");

  char mode[] = "mode", level[] = "level", three[] = "3";
  qmUserArg second{nullptr, mode, nullptr};
  qmUserArg first{&second, level, three};
  qmProgramInfo &info = GetPlayerContext(L)->system->program;
  const uint32_t isApplet = 1;
  info = qmProgramInfo{0, &isApplet, "/apps/game.qma", "/usr/bin/player", "/apps/game.qma", &first, 1};
  ASSERT_EQ(vm.Call("getcommandline"), 0u);
  EXPECT_EQ(vm.Results(), "table 2 1");
  vm_rawgeti(L, 1, 1);
  vm_pushstring(L, "arg");
  vm_gettable(L, -2);
  vm_pushstring(L, "param");
  vm_gettable(L, -3);
  EXPECT_EQ(SysValueText(L, -2) + " " + SysValueText(L, -1), "'mode' ''");
  ASSERT_EQ(vm.Call("getprograminfo"), 0u);
  EXPECT_EQ(vm.Results(), "1 '/apps/game.qma' '/usr/bin/player'");
  info.linked = 1;
  ASSERT_EQ(vm.Call("getprograminfo"), 0u);
  EXPECT_EQ(vm.Results(), "2 '/usr/bin/player'");
  ASSERT_EQ(vm.Call("getfileargument"), 0u);
  EXPECT_EQ(vm.Results(), "'/apps/game.qma'");
  info = qmProgramInfo{};
  ASSERT_EQ(vm.Call("getfileargument"), 0u);
  EXPECT_EQ(vm.Results(), "''");

  EXPECT_EQ(vm.Call("getmemoryinfo", [&] { vm_pushnumber(L, 2); }), ERR_WRONGUSAGE);
  ASSERT_EQ(vm.Call("getmemoryinfo", [&] { vm_pushnumber(L, 1); }), 0u);
  EXPECT_GT(vm_tonumber(L, 1), 0);
  ASSERT_EQ(vm.Call("gcinfo"), 0u);
  EXPECT_EQ(vm_gettop(L), 2);
  ASSERT_EQ(vm.Call("collectgarbage"), 0u);
}

// Start-up's wiring tells the system library about the run: a linked program reports the
// executable, a script or applet its program file, and the command line its user arguments.
TEST(SystemProgram, WiringDescribesTheRun) {
  qmClArgs args{};
  std::strcpy(args.programPath, "/apps/game.qma");
  std::strcpy(args.executablePath, "/usr/bin/player");
  ASSERT_EQ(AddUserArg(&args, "level", "3"), 0u);
  struct Case {
    const char *name;
    uint32_t linked, applet, fromShell;
    const char *programInfo, *commandLine;
  };
  const Case cases[] = {
      {"script", 0, 0, 1, "0 '/apps/game.qma' '/usr/bin/player'", "table 1 1"},
      {"applet from the desktop", 0, 1, 0, "1 '/apps/game.qma' '/usr/bin/player'", "table 1 0"},
      {"linked program", 1, 1, 1, "2 '/usr/bin/player'", "table 1 1"},
  };
  for (const Case &c : cases) {
    SysVm vm;
    args.isApplet = c.applet;
    qmPlayerRun run{};
    run.args = &args;
    run.linked = c.linked;
    run.startedFromShell = c.fromShell;
    WirePlayerContext(vm.L, &run);
    ASSERT_EQ(vm.Call("getprograminfo"), 0u);
    EXPECT_EQ(vm.Results(), c.programInfo) << c.name;
    ASSERT_EQ(vm.Call("getcommandline"), 0u);
    EXPECT_EQ(vm.Results(), c.commandLine) << c.name;
    ASSERT_EQ(vm.Call("getfileargument"), 0u);
    EXPECT_EQ(vm.Results(), "'/apps/game.qma'") << c.name;
  }
  FreeUserArgs(&args);
}

TEST(SystemObjects, DataItemsOnTimers) {
  SysVm vm;
  VmState *L = vm.L;
  ASSERT_EQ(vm.Call("starttimer", [&] { vm_pushnumber(L, 4); }), 0u);
  ASSERT_EQ(vm.Call("starttimer", [&] { vm_pushnumber(L, 5); }), 0u);
  auto set = [&](int id, const char *key, double v) {
    return vm.Call("setobjectdata", [&] {
      vm_pushnumber(L, QMTYPE_TIMER);
      vm_pushnumber(L, id);
      vm_pushstring(L, key);
      vm_pushnumber(L, v);
    });
  };
  auto get = [&](int id, const char *key) {
    uint32_t code = vm.Call("getobjectdata", [&] {
      vm_pushnumber(L, QMTYPE_TIMER);
      vm_pushnumber(L, id);
      vm_pushstring(L, key);
    });
    return code ? std::to_string(code) : vm.Results();
  };
  ASSERT_EQ(set(4, "Speed", 3), 0u);
  ASSERT_EQ(set(4, "size", 8), 0u);
  EXPECT_EQ(get(4, "SPEED"), "3");  // keys without regard to case
  ASSERT_EQ(set(4, "speed", 6), 0u);
  EXPECT_EQ(get(4, "Speed"), "6");
  EXPECT_EQ(set(4, "", 1), ERR_WRONGUSAGE);
  EXPECT_EQ(get(4, "none"), std::to_string(ERR_FINDOBJECTDATA));
  EXPECT_EQ(set(9, "x", 1), ERR_FINDARRAY);
  ASSERT_EQ(set(5, "size", 1), 0u);
  // Copy without overwrite keeps the target's own item.
  ASSERT_EQ(vm.Call("copyobjectdata", [&] {
    for (int v : {int(QMTYPE_TIMER), 4, int(QMTYPE_TIMER), 5, 0}) vm_pushnumber(L, v);
  }), 0u);
  EXPECT_EQ(get(5, "size"), "1");
  EXPECT_EQ(get(5, "speed"), "6");
  ASSERT_EQ(vm.Call("clearobjectdata", [&] {
    vm_pushnumber(L, QMTYPE_TIMER);
    vm_pushnumber(L, 5);
    vm_pushstring(L, "size");
  }), 0u);
  EXPECT_EQ(get(5, "size"), std::to_string(ERR_FINDOBJECTDATA));
  EXPECT_EQ(vm.Call("clearobjectdata", [&] {
    vm_pushnumber(L, QMTYPE_TIMER);
    vm_pushnumber(L, 5);
    vm_pushstring(L, "size");
  }), ERR_FINDOBJECTDATA);
  ASSERT_EQ(vm.Call("clearobjectdata", [&] {
    vm_pushnumber(L, QMTYPE_TIMER);
    vm_pushnumber(L, 4);
  }), 0u);
  EXPECT_EQ(get(4, "speed"), std::to_string(ERR_FINDOBJECTDATA));
  // Layers answer through the layers library, which is not there.
  EXPECT_EQ(vm.Call("getobjectdata", [&] {
    vm_pushnumber(L, 22);
    vm_pushnumber(L, 1);
    vm_pushstring(L, "x");
  }), ERR_NOLAYERS);
  ASSERT_EQ(vm.Call("haveobject", [&] {
    vm_pushnumber(L, QMTYPE_TIMER);
    vm_pushnumber(L, 5);
  }), 0u);
  EXPECT_EQ(vm.Results(), "1");
  ASSERT_EQ(vm.Call("haveobject", [&] {
    vm_pushnumber(L, QMTYPE_TIMER);
    vm_pushnumber(L, 6);
  }), 0u);
  EXPECT_EQ(vm.Results(), "0");
  // Stopping a timer with data items must not leak them (the sanitizer checks at exit).
  ASSERT_EQ(set(5, "left", 2), 0u);
}

// A system command that a finaliser calls after the library was freed at shut-down is refused
// with an error, not run on freed state; freeing twice is harmless.
TEST(SystemLibrary, CommandsAfterTheLibraryWasFreedAreRefused) {
  const qmLibrary *const onlySystem[] = {&kSystemLibrary, nullptr};
  PlayerVm vm(onlySystem);
  FreeLibraries(vm.L, onlySystem);
  struct Case {
    const char *command;
    int nargs;
  };
  for (Case c : {Case{"starttimer", 1}, Case{"wait", 1}, Case{"getversion", 0}, Case{"closecatalog", 0}}) {
    vm_settop(vm.L, 0);
    vm_pushstring(vm.L, c.command);
    vm_gettable(vm.L, VM_GLOBALSINDEX);
    for (int i = 0; i < c.nargs; i++) vm_pushnumber(vm.L, 1);
    EXPECT_EQ(vm_pcall(vm.L, c.nargs, 0, 0), uint32_t(ERR_WRONGUSAGE)) << c.command;
  }
}
