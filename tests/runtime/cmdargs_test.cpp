// The argument layer: count checks, typed readers, percentages, option-table fields, object
// ids, constant references and calling the script from native code.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "platform/memory.h"
#include "runtime/cmdargs.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/objlist.h"
#include "runtime/registry.h"
#include "runtime/vm/vm_string.h"
#include "tests/runtime/rt_test_util.h"

namespace {

// What the native under test saw.
std::string gResult;
int gMin, gMax;

std::string Num(double d) {
  char b[64];
  std::snprintf(b, sizeof b, "%.14g", d);
  return b;
}

TEST(CheckArgCount, Bounds) {
  RtVm vm;
  struct Case {
    int min, max, n;
    uint32_t expected;
  } cases[] = {
      {0, 0, 0, 0},  {0, 0, 1, ERR_TOOMANYARGS}, {1, 2, 3, ERR_TOOMANYARGS}, {1, 2, 0, ERR_MISSINGPARAMTR},
      {1, 2, 2, 0},  {2, -1, 9, 0},              {2, -1, 1, ERR_MISSINGPARAMTR}, {2, 0, 7, 0},
  };
  for (const Case &c : cases) {
    gMin = c.min;
    gMax = c.max;
    uint32_t r = vm.Call([](VmState *L) -> uint32_t { CheckArgCount(L, gMin, gMax); return 0; },
                         [&](VmState *L) { for (int i = 0; i < c.n; i++) vm_pushnumber(L, i); });
    EXPECT_EQ(r, c.expected) << c.min << "," << c.max << " with " << c.n;
  }
}

using Pusher = std::function<void(VmState *)>;
Pusher Nil = [](VmState *L) { vm_pushnil(L); };
Pusher Str(const char *s) { return [s](VmState *L) { vm_pushstring(L, s); }; }
Pusher Number(double d) { return [d](VmState *L) { vm_pushnumber(L, d); }; }
Pusher Table = [](VmState *L) { vm_newtable(L); };
Pusher Three = [](VmState *L) { for (int i = 0; i < 3; i++) vm_pushnumber(L, i); };

struct ReaderCase {
  const char *name;
  VmCFunction reader;  // reads argument 1 (or 5) into gResult
  Pusher push;
  uint32_t code;       // 0: gResult must equal expected
  const char *expected;
  uint32_t argnum = 0;  // checked with an error code when not 0
};

uint32_t ReadNumber(VmState *L) { gResult = Num(vm_checknumber(L, 1)); return 0; }
uint32_t ReadNumber5(VmState *L) { gResult = Num(vm_checknumber(L, 5)); return 0; }
uint32_t ReadInteger(VmState *L) { gResult = Num(vm_checkinteger(L, 1)); return 0; }
uint32_t ReadOptInteger(VmState *L) { gResult = Num(vm_optinteger(L, 1, 42)); return 0; }
uint32_t ReadInt32(VmState *L) { gResult = Num(vm_checkint32(L, 1)); return 0; }
uint32_t ReadWord32(VmState *L) { gResult = Num(vm_checkword32(L, 1)); return 0; }
uint32_t ReadString(VmState *L) { gResult = vm_checkstring(L, 1, nullptr); return 0; }
uint32_t ReadTable(VmState *L) { vm_checktable(L, 1); gResult = "table"; return 0; }
uint32_t ReadUdata(VmState *L) { gResult = vm_checkudata_any(L, 1) ? "ud" : "null"; return 0; }
uint32_t ReadPercent640(VmState *L) {
  int p;
  double d = GetNumberOrPercentArg(L, 1, 640, 0, &p);
  gResult = Num(d) + "/" + Num(p);
  return 0;
}
uint32_t ReadPercent0(VmState *L) {
  int p;
  double d = GetNumberOrPercentArg(L, 1, 0, 0, &p);
  gResult = Num(d) + "/" + Num(p);
  return 0;
}
uint32_t ReadPercentAbove(VmState *L) {
  int p;
  double d = GetNumberOrPercentArg(L, 1, 0, 1, &p);
  gResult = Num(d) + "/" + Num(p);
  return 0;
}
uint32_t ReadNewId(VmState *L) { qmObjectId id = GetNewObjectIdArg(L, 1); gResult = Num(id.id) + "/" + Num(double(id.handle)); return 0; }
uint32_t ReadId(VmState *L) { qmObjectId id = GetObjectIdArg(L, 1); gResult = Num(id.id) + "/" + (id.handle ? "h" : "0"); return 0; }

TEST(ArgumentReaders, TableOfCases) {
  RtVm vm;
  static int object;
  Pusher light = [](VmState *L) { vm_pushlightuserdata(L, &object); };
  ReaderCase cases[] = {
      {"number nil", ReadNumber, Nil, 0, "0"},
      {"number hex text", ReadNumber, Str("0x10"), 0, "16"},
      {"number dollar hex", ReadNumber, Str("$ff"), 0, "255"},
      {"number text", ReadNumber, Str("abc"), ERR_NUMEXPECTED, nullptr, 1},
      {"number table", ReadNumber, Table, ERR_NUMEXPECTED, nullptr, 1},
      {"number missing 5 of 3", ReadNumber5, Three, ERR_NUMEXPECTED, nullptr, 5},
      {"integer -1", ReadInteger, Number(-1), 0, "4294967295"},
      {"integer huge", ReadInteger, Number(5e9), 0, "4294967295"},
      {"integer truncates", ReadInteger, Number(-3.9), 0, "4294967293"},
      {"optinteger absent", ReadOptInteger, [](VmState *) {}, 0, "42"},
      // The one checked conversion: NaN and numbers out of range are refused with the position.
      {"integer NaN", ReadInteger, Number(std::nan("")), ERR_NUMEXPECTED, nullptr, 1},
      {"integer -2^31", ReadInteger, Number(-2147483648.0), 0, "2147483648"},
      {"integer below -2^31", ReadInteger, Number(-2147483649.0), ERR_NUMEXPECTED, nullptr, 1},
      {"integer infinity", ReadInteger, Number(HUGE_VAL), 0, "4294967295"},
      {"int32 truncates", ReadInt32, Number(-3.9), 0, "-3"},
      {"int32 2^31 - 1", ReadInt32, Number(2147483647.0), 0, "2147483647"},
      {"int32 -2^31 - 0.5", ReadInt32, Number(-2147483648.5), 0, "-2147483648"},
      {"int32 2^31", ReadInt32, Number(2147483648.0), ERR_NUMEXPECTED, nullptr, 1},
      {"int32 NaN", ReadInt32, Number(std::nan("")), ERR_NUMEXPECTED, nullptr, 1},
      {"int32 -infinity", ReadInt32, Number(-HUGE_VAL), ERR_NUMEXPECTED, nullptr, 1},
      {"int32 NaN text", ReadInt32, Str("nan"), ERR_NUMEXPECTED, nullptr, 1},
      {"word32 keeps the VM's rule", ReadWord32, Number(std::nan("")), 0, "-2147483648"},
      {"id NaN", ReadId, Number(std::nan("")), ERR_NUMEXPECTED, nullptr, 1},
      {"string number", ReadString, Number(12.5), 0, "12.5"},
      {"string nil", ReadString, Nil, 0, ""},
      {"string table", ReadString, Table, ERR_STREXPECTED, nullptr, 1},
      {"table", ReadTable, Str("x"), ERR_TABEXPECTED, nullptr, 1},
      {"udata number", ReadUdata, Number(1), ERR_UDEXPECTED, nullptr, 1},
      {"udata light", ReadUdata, light, 0, "ud"},
      {"percent of 640", ReadPercent640, Str("50%"), 0, "320/0"},
      {"percent base 0", ReadPercent0, Str("50%"), 0, "0.5/1"},
      {"percent above 100", ReadPercent0, Str("150%"), ERR_PERCENTFORMAT, nullptr, 1},
      {"percent above allowed", ReadPercentAbove, Str("150%"), 0, "1.5/1"},
      {"percent negative", ReadPercent0, Str("-5%"), ERR_PERCENTFORMAT, nullptr, 1},
      {"percent trailing text", ReadPercent640, Str("12abc"), 0, "12/0"},
      {"percent no number", ReadPercent640, Str("abc"), ERR_PERCENTFORMAT, nullptr, 1},
      {"percent number", ReadPercent640, Number(7), 0, "7/0"},
      {"percent table", ReadPercent640, Table, ERR_STRORNUM, nullptr, 1},
      {"new id nil", ReadNewId, Nil, 0, "0/1"},
      {"new id 7", ReadNewId, Number(7), 0, "7/0"},
      {"id light", ReadId, light, 0, "0/h"},
      {"id text", ReadId, Str("x"), ERR_NUMEXPECTED, nullptr, 1},
  };
  for (const ReaderCase &c : cases) {
    gResult = "<not read>";
    G(vm.L)->err.argnum = 0;
    uint32_t r = vm.Call(c.reader, c.push);
    EXPECT_EQ(r, c.code) << c.name;
    if (c.code == 0) {
      EXPECT_EQ(gResult, c.expected) << c.name;
    } else if (c.argnum) {
      EXPECT_EQ(G(vm.L)->err.argnum, c.argnum) << c.name;
    }
  }
}

// Option tables: {size = "25%", count = "x", name = <long>, layer = ..., m = {...}, images = 5}
uint32_t ReadFields(VmState *L) {
  vm_checktable(L, 1);
  std::string r;
  int32_t i = 0;
  int found = 0;
  if (GetFieldIntOrPercent(L, 1, "size", 0, &i, &found)) r += "size=" + Num(i);
  if (!GetFieldInt(L, 1, "absent", &i, nullptr)) r += " absent";
  char small[8];
  if (GetFieldString(L, 1, "name", small, sizeof small, nullptr)) r += " name=" + std::string(small);
  uint32_t colour = 0;
  if (GetFieldUInt(L, 1, "color", &colour, nullptr)) r += " color=" + Num(colour);
  gResult = r + " found=" + Num(found);
  return 0;
}

TEST(CheckResultLength, AtAndBeyondTheLongestString) {
  constexpr size_t kMax = VM_MAXSTRLEN;
  struct Case {
    const char *name;
    size_t base, count, each;
    uint32_t code;
  } cases[] = {
      {"base at the limit", kMax, 0, 0, 0},
      {"base one past", kMax + 1, 0, 0, ERR_MEM},
      {"pieces up to the limit", 1, kMax - 1, 1, 0},
      {"pieces one past", 2, kMax - 1, 1, ERR_MEM},
      {"2^30 pieces of 2", 0, size_t(1) << 30, 2, ERR_MEM},
      {"2^30 - 1 pieces of 2 after 1", 1, (size_t(1) << 30) - 1, 2, 0},
      {"a product that wraps to 0", 0, size_t(1) << 32, size_t(1) << 32, ERR_MEM},
      {"no pieces of any size", 5, 0, SIZE_MAX, 0},
      {"pieces of nothing", 5, SIZE_MAX, 0, 0},
  };
  for (const Case &c : cases) EXPECT_EQ(CheckResultLength(c.base, c.count, c.each), c.code) << c.name;
}

TEST(OptionFields, ReadersAndTheirErrors) {
  RtVm vm;
  auto table = [](std::function<void(VmState *)> fill) {
    return [fill](VmState *L) {
      vm_newtable(L);
      fill(L);
    };
  };
  auto set = [](VmState *L, const char *k, Pusher v) {
    vm_pushstring(L, k);
    v(L);
    vm_settable(L, -3);
  };
  EXPECT_EQ(vm.Call(ReadFields, table([&](VmState *L) {
              set(L, "size", Str("25%"));
              set(L, "name", Str("a-very-long-name"));
              set(L, "color", Number(-1));
            })),
            0u);
  EXPECT_EQ(gResult, "size=-25 absent name=a-very- color=4294967295 found=1");

  EXPECT_EQ(vm.Call(ReadFields, table([&](VmState *L) { set(L, "size", Str("101%")); })), uint32_t(ERR_PERCENTFORMATSTR));
  EXPECT_STREQ(G(vm.L)->err.argtext, "size");
  EXPECT_EQ(vm.Call(ReadFields, table([&](VmState *L) { set(L, "color", Table); })), uint32_t(ERR_NUMTABLEARG));
  EXPECT_STREQ(G(vm.L)->err.argtext, "color");
  EXPECT_EQ(vm.Call(ReadFields, table([&](VmState *L) { set(L, "name", Table); })), uint32_t(ERR_STRTABLEARG));
  // Numbers that no integer field takes: refused with the key.
  for (double bad : {std::nan(""), 3e9, -HUGE_VAL}) {
    EXPECT_EQ(vm.Call(ReadFields, table([&](VmState *L) { set(L, "absent", Number(bad)); })),
              uint32_t(ERR_NUMTABLEARG)) << bad;
    EXPECT_STREQ(G(vm.L)->err.argtext, "absent");
  }
  EXPECT_EQ(vm.Call(ReadFields, table([&](VmState *L) { set(L, "color", Number(std::nan(""))); })),
            uint32_t(ERR_NUMTABLEARG));
  EXPECT_EQ(vm.Call(ReadFields, table([&](VmState *L) { set(L, "size", Str("3e9")); })), uint32_t(ERR_NUMTABLEARG));

  // Layer names go through the layer subsystem's resolver.
  GetPlayerContext(vm.L)->findLayerByName = [](const qmScene *, const char *name) {
    return std::strcmp(name, "Title") == 0 ? 3 : 0;
  };
  VmCFunction readLayer = [](VmState *L) -> uint32_t {
    int32_t id = 0;
    GetFieldLayerId(L, 1, "layer", &id, nullptr);
    gResult = Num(id);
    return 0;
  };
  EXPECT_EQ(vm.Call(readLayer, table([&](VmState *L) { set(L, "layer", Str("Title")); })), 0u);
  EXPECT_EQ(gResult, "3");
  EXPECT_EQ(vm.Call(readLayer, table([&](VmState *L) { set(L, "layer", Str("Other")); })), uint32_t(ERR_FINDLAYER));
  EXPECT_STREQ(G(vm.L)->err.argtext, "Other");
  EXPECT_EQ(vm.Call(readLayer, table([&](VmState *L) { set(L, "layer", Table); })), uint32_t(ERR_WRONGUSAGE));

  VmCFunction readMatrix = [](VmState *L) -> uint32_t {
    double m[4] = {};
    GetFieldMatrix(L, 1, "m", m, nullptr);
    gResult = Num(m[0]) + "," + Num(m[3]);
    return 0;
  };
  auto matrix = [](int n) {
    return [n](VmState *L) {
      vm_newtable(L);
      for (int k = 0; k < n; k++) {
        vm_pushnumber(L, k + 1);
        vm_rawseti(L, -2, k);
      }
    };
  };
  EXPECT_EQ(vm.Call(readMatrix, table([&](VmState *L) { set(L, "m", matrix(4)); })), 0u);
  EXPECT_EQ(gResult, "1,4");
  EXPECT_EQ(vm.Call(readMatrix, table([&](VmState *L) { set(L, "m", matrix(3)); })), uint32_t(ERR_MISSINGPARAMTR));

  VmCFunction readImages = [](VmState *L) -> uint32_t {
    qmObjectId *ids = nullptr;
    uint32_t n = 0;
    int r = GetFieldObjectIdList(L, 1, "images", &ids, &n, nullptr);
    gResult = Num(r) + ":" + Num(n) + (ids ? ":" + Num(ids[n - 1].id) : "");
    MemFree(ids);
    return 0;
  };
  EXPECT_EQ(vm.Call(readImages, table([&](VmState *L) { set(L, "images", matrix(3)); })), 0u);
  EXPECT_EQ(gResult, "1:3:3");
  EXPECT_EQ(vm.Call(readImages, table([&](VmState *L) { set(L, "images", Number(5)); })), uint32_t(ERR_TABEXPECTED2));
  EXPECT_EQ(vm.Call(readImages, table([&](VmState *L) {
              set(L, "images", [](VmState *L) {
                vm_newtable(L);
                vm_pushstring(L, "x");
                vm_rawseti(L, -2, 0);
              });
            })),
            0u);
  EXPECT_EQ(gResult, Num(ERR_NUMCALLBACK) + ":1");
}

TEST(ConstantRefs, ParseAndLookUp) {
  RtVm vm;
  static const qmConstantEntry constants[] = {
      {"DISPLAY_MODE", nullptr, 7}, {"#TEXTCONST", nullptr, 1}, {"GREETING", "hello", 3}, {nullptr, nullptr, 0}};
  vm_registerconstants(vm.L, constants, 0);
  static const qmConstantEntry user[] = {{"MyValue", nullptr, 99}, {nullptr, nullptr, 0}};
  vm_registerconstants(vm.L, user, 1);
  struct Case {
    const char *text;
    uint32_t code;
    size_t consumed;
    const char *string;
    double number;
  } cases[] = {
      {"#display_mode", 0, 13, nullptr, 7},
      {"#Display_Mode+1", 0, 13, nullptr, 7},
      {"#greeting", 0, 9, "hello", 0},
      {"#MYVALUE", 0, 8, nullptr, 99},
      {"#1ABC", ERR_SYNTAXERROR, 0, nullptr, 0},
      {"TEXT", ERR_WRONGUSAGE, 0, nullptr, 0},
      {"#NOPE", ERR_FINDCST, 0, nullptr, 0},
  };
  for (const Case &c : cases) {
    size_t consumed = 0;
    const char *s = nullptr;
    double d = 0;
    EXPECT_EQ(ParseConstantRef(vm.L, c.text, &consumed, &s, &d), c.code) << c.text;
    if (c.code) continue;
    EXPECT_EQ(consumed, c.consumed) << c.text;
    if (c.string) EXPECT_STREQ(s, c.string) << c.text;
    else EXPECT_EQ(d, c.number) << c.text;
  }
}

TEST(CallScriptFunction, LowerCasesTheNameAndPushesEachKind) {
  RtVm vm;
  vm_pushstring(vm.L, "echo");
  vm_pushcfunction(vm.L, [](VmState *L) -> uint32_t {
    std::string s;
    for (int i = 1; i <= vm_gettop(L); i++) {
      int t = vm_type(L, i);
      s += t == VM_TNUMBER ? Num(vm_tonumber(L, i)) : t == VM_TSTRING ? vm_tostring(L, i) : t == VM_TNIL ? "nil" : "ud";
      s += " ";
    }
    gResult = s;
    vm_pushnumber(L, 1);
    return 1;
  });
  vm_settable(vm.L, VM_GLOBALSINDEX);
  qmObjectId number{9, 0}, automatic{0, 0x1234};
  EXPECT_EQ(CallScriptFunction(vm.L, "ECHO", 1, 6, CALLARG_INT, int32_t(-5), CALLARG_UINT, uint32_t(4000000000u),
                               CALLARG_STRING, "s", CALLARG_NIL, CALLARG_OBJECTID, &number, CALLARG_OBJECTID,
                               &automatic),
            0u);
  EXPECT_EQ(gResult, "-5 4000000000 s nil 9 ud ");
  EXPECT_EQ(CallScriptFunction(nullptr, "echo", 0, 0), 0u);
}

// The object reader finds the record in the list of its type, and leaves a missing object to
// the handler as a code (nothing raised); only an argument that is no id at all raises.
struct Sprite {
  qmObjectHeader header;
  int payload;
};
Sprite *gSpriteSeen;

TEST(GetObjectArg, FindsOrGivesTheMissingObjectCode) {
  RtVm vm;
  static Sprite numbered{}, automatic{}, other{};
  qmObjectId seven{7, 0}, wantHandle{0, 1}, eight{8, 0};
  SetObjectHeader(&numbered.header, QMTYPE_SPRITE, &seven);
  SetObjectHeader(&automatic.header, QMTYPE_SPRITE, &wantHandle);
  SetObjectHeader(&other.header, QMTYPE_BRUSH, &eight);
  for (Sprite *s : {&numbered, &automatic, &other}) ASSERT_EQ(AddObject(vm.L, &s->header), 0u);
  static int stale;
  struct Case {
    const char *name;
    Pusher push;
    uint32_t code;
    Sprite *found;
    uint32_t argnum;  // the error number a numbered miss leaves
  } cases[] = {
      {"number", Number(7), 0, &numbered, 0},
      {"automatic id", [](VmState *L) { vm_pushlightuserdata(L, &automatic); }, 0, &automatic, 0},
      {"missing number", Number(77), ERR_FINDSPRITE, nullptr, 77},
      {"number of another type", Number(8), ERR_FINDSPRITE, nullptr, 8},
      {"unknown handle", [](VmState *L) { vm_pushlightuserdata(L, &stale); }, ERR_FINDARRAY, nullptr, 0},
      {"text", Str("x"), ERR_NUMEXPECTED, nullptr, 1},
  };
  for (const Case &c : cases) {
    gSpriteSeen = &other;
    G(vm.L)->err.argnum = 0;
    uint32_t r = vm.Call(
        [](VmState *L) -> uint32_t { return GetObjectArg(L, 1, QMTYPE_SPRITE, ERR_FINDSPRITE, &gSpriteSeen); },
        c.push);
    EXPECT_EQ(r, c.code) << c.name;
    if (c.code != ERR_NUMEXPECTED) {
      EXPECT_EQ(gSpriteSeen, c.found) << c.name;
    }
    EXPECT_EQ(G(vm.L)->err.argnum, c.argnum) << c.name;
  }
  for (Sprite *s : {&numbered, &automatic, &other}) RemoveObject(vm.L, &s->header);
}

}  // namespace
