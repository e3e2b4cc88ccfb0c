#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/errcodes.h"
#include "tests/player/string/string_test_vm.h"

namespace {

std::string FromHex(const std::string &hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out += char(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

std::vector<std::string> Split(const std::string &line, char sep) {
  std::vector<std::string> fields;
  std::stringstream in(line);
  std::string f;
  while (std::getline(in, f, sep)) fields.push_back(f);
  return fields;
}

struct Row {
  const char *name;
  const char *command;
  std::vector<StrVal> args;
  StrVal result;
  uint32_t code = 0;
};

void RunRows(StringVm &vm, const std::vector<Row> &rows) {
  for (const Row &row : rows) {
    StrCall r = vm.Call(row.command, row.args);
    EXPECT_EQ(r.code, row.code) << row.name;
    if (row.code == 0 && r.code == 0) {
      ASSERT_FALSE(r.results.empty()) << row.name;
      EXPECT_EQ(r.results[0], row.result) << row.name;
    }
  }
}

const std::string kAllBytes = [] {
  std::string s(256, '\0');
  for (int i = 0; i < 256; i++) s[size_t(i)] = char(i);
  return s;
}();

}  // namespace

// FormatStr against python3's % operator, MD5Str against hashlib, CRC32Str against
// zlib.crc32 and the case tables against python3's Latin-1 case mapping
// (golden/string_python.txt, made by string_golden.py).
TEST(StringCommands, AgainstPython) {
  std::ifstream in(QM_SOURCE_DIR "/tests/player/string/golden/string_python.txt");
  ASSERT_TRUE(in.good());
  StringVm vm;
  std::string line;
  int formats = 0, digests = 0;
  while (std::getline(in, line)) {
    std::vector<std::string> f = Split(line, '\t');
    if (f[0] == "F") {
      std::vector<StrVal> args = {FromHex(f[1])};
      for (const std::string &a : Split(f[2], ','))
        args.push_back(a[0] == 's' ? StrVal(FromHex(a.substr(2))) : StrVal(std::stod(a.substr(2))));
      EXPECT_EQ(vm.One("FormatStr", args), StrVal(FromHex(f[3]))) << FromHex(f[1]);
      formats++;
    } else if (f[0] == "M") {
      EXPECT_EQ(vm.One("MD5Str", {FromHex(f[1])}), StrVal(f[2])) << f[1];
      digests++;
    } else if (f[0] == "C") {
      EXPECT_EQ(vm.One("CRC32Str", {FromHex(f[1])}), StrVal(std::stod(f[2]))) << f[1];
      digests++;
    } else {
      // The thorn pair (0xDE, 0xFE) has no case partner in the player's tables.
      std::string want = FromHex(f[1]);
      want[0xDE] = char(0xDE);
      want[0xFE] = char(0xFE);
      EXPECT_EQ(vm.One(f[0] == "L" ? "LowerStr" : "UpperStr", {kAllBytes}), StrVal(want)) << f[0];
    }
  }
  EXPECT_EQ(formats, 19);
  EXPECT_EQ(digests, 20);
}

TEST(StringCommands, Cutting) {
  StringVm vm;
  RunRows(vm, {
      {"left 0", "LeftStr", {"abc", 0}, ""},
      {"left past end", "LeftStr", {"abc", 10}, "abc"},
      {"left 2.9 truncates", "LeftStr", {"abc", 2.9}, "ab"},
      {"right -1", "RightStr", {"abc", -1}, ""},
      {"right 2", "RightStr", {"abc", 2}, "bc"},
      {"right NaN-sized", "RightStr", {"abc", 1e30}, ""},
      {"mid to end", "MidStr", {"abcdef", 4, 10}, "ef"},
      {"mid at end", "MidStr", {"abc", 3, 1}, ""},
      {"mid len 0", "MidStr", {"abc", 1, 0}, ""},
      {"mid negative pos cuts the front", "MidStr", {"abcdef", -2, 4}, "ab"},
      {"mid negative pos, all before", "MidStr", {"abcdef", -5, 3}, ""},
      {"unleft", "UnleftStr", {"abcdef", 2}, "abcd"},
      {"unleft past end", "UnleftStr", {"abc", 9}, ""},
      {"unleft negative", "UnleftStr", {"abc", -1}, StrVal(), ERR_WRONGUSAGE},
      {"unright", "UnrightStr", {"abcdef", 2}, "cdef"},
      {"unright negative", "UnrightStr", {"abc", -1}, StrVal(), ERR_WRONGUSAGE},
      {"unmid", "UnmidStr", {"abcdef", 1, 2}, "adef"},
      {"unmid all", "UnmidStr", {"abc", 0, 3}, ""},
      {"unmid len 0", "UnmidStr", {"abc", 1, 0}, "abc"},
      {"unmid len past end", "UnmidStr", {"abcdef", 4, 100}, "abcd"},
      {"unmid pos past end", "UnmidStr", {"abc", 7, 2}, "abc"},
      {"unmid negative pos", "UnmidStr", {"abc", -1, 1}, StrVal(), ERR_WRONGUSAGE},
      {"unmid negative len", "UnmidStr", {"abc", 1, -1}, StrVal(), ERR_WRONGUSAGE},
      {"insert", "InsertStr", {"abcdef", "XY", 2}, "abXYcdef"},
      {"insert overwrite", "InsertStr", {"abcdef", "XY", 2, StrVal::Bool(true)}, "abXYef"},
      {"insert overwrite past end", "InsertStr", {"abc", "XYZ", 2, StrVal::Bool(true)}, "abXYZ"},
      {"insert pos cut to length", "InsertStr", {"abc", "X", 99}, "abcX"},
      {"insert into empty", "InsertStr", {"", "X", 3}, "X"},
      {"insert nothing", "InsertStr", {"abc", "", 1, 1}, "abc"},
      {"insert negative", "InsertStr", {"abc", "X", -1}, StrVal(), ERR_WRONGUSAGE},
      {"add", "AddStr", {"ab", std::string("c\0d", 3)}, std::string("abc\0d", 5)},
      {"add number", "AddStr", {"n=", 1.5}, "n=1.5"},
      {"repeat", "RepeatStr", {"ab", 3}, "ababab"},
      {"repeat 0", "RepeatStr", {"ab", 0}, StrVal(), ERR_WRONGUSAGE},
      {"repeat beyond memory", "RepeatStr", {"abcd", 2147483647}, StrVal(), ERR_MEM},
      {"trim start", "TrimStr", {"xxaxbxx", "x", 0}, "axbxx"},
      {"trim end", "TrimStr", {"xxaxbxx", "x", 1}, "xxaxb"},
      {"trim everything", "TrimStr", {"xxx", "x", 2}, ""},
      {"trim two chars", "TrimStr", {"xxa", "xx", 0}, StrVal(), ERR_WRONGUSAGE},
      {"chr", "Chr", {65}, "A"},
      {"chr 0", "Chr", {0}, std::string(1, '\0')},
      {"chr 256", "Chr", {256}, StrVal(), ERR_WRONGUSAGE},
      {"chr -1", "Chr", {-1}, StrVal(), ERR_WRONGUSAGE},
      {"asc", "Asc", {"\xe4x"}, 228},
      {"asc empty", "Asc", {""}, 0},
      {"strlen with zero bytes", "StrLen", {std::string("a\0b", 3)}, 3},
  });
}

TEST(StringCommands, Searching) {
  StringVm vm;
  const StrVal no = StrVal::Bool(false);
  RunRows(vm, {
      {"find folded", "FindStr", {"Hello", "LL", no}, 2},
      {"find exact", "FindStr", {"Hello", "LL"}, -1},
      {"find Latin-1 folded", "FindStr", {"stra\xc4" "e", "\xe4", no}, 4},
      {"find from start", "FindStr", {"abcabc", "bc", StrVal::Bool(true), 2}, 4},
      {"find start at end", "FindStr", {"abc", "c", 1, 3}, -1},
      {"find empty sub", "FindStr", {"abc", ""}, -1},
      {"find in empty", "FindStr", {"", "a"}, -1},
      {"find sub longer", "FindStr", {"ab", "abc"}, -1},
      {"find zero byte", "FindStr", {std::string("a\0b", 3), std::string("\0b", 2)}, 1},
      {"find negative start", "FindStr", {"abc", "a", 1, -1}, StrVal(), ERR_WRONGUSAGE},
      {"count non-overlapping", "CountStr", {"aaaa", "aa"}, 2},
      {"count folded", "CountStr", {"aAaA", "a", 0}, 4},
      {"count from start", "CountStr", {"abab", "ab", 1, 1}, 1},
      {"count empty sub", "CountStr", {"abc", ""}, 0},
      {"count negative start", "CountStr", {"abc", "a", 1, -2}, StrVal(), ERR_WRONGUSAGE},
      {"replace", "ReplaceStr", {"a-b-c", "-", "+="}, "a+=b+=c"},
      {"replace folded", "ReplaceStr", {"aXbxc", "x", "_", no}, "a_b_c"},
      {"replace from start", "ReplaceStr", {"aaaa", "a", "b", 1, 2}, "aabb"},
      {"replace non-overlapping", "ReplaceStr", {"aaa", "aa", "b"}, "ba"},
      {"replace empty search", "ReplaceStr", {"abc", "", "x"}, "abc"},
      {"replace start past end", "ReplaceStr", {"abc", "a", "x", 1, 10}, "abc"},
      {"replace by nothing", "ReplaceStr", {"a.b.c", ".", ""}, "abc"},
      {"replace negative start", "ReplaceStr", {"abc", "a", "x", 1, -1}, StrVal(), ERR_WRONGUSAGE},
      {"lower", "LowerStr", {"ABC \xc4\xd6\xdc xyz"}, "abc \xe4\xf6\xfc xyz"},
      {"upper", "UpperStr", {"abc \xe4\xf6\xfc\xff"}, "ABC \xc4\xd6\xdc\xff"},
  });
}

TEST(StringCommands, NumbersAndText) {
  StringVm vm;
  RunRows(vm, {
      {"strstr cut", "StrStr", {3.14159, 2}, "3.14"},
      {"strstr no decimals", "StrStr", {2.5}, "2"},
      {"strstr negative keeps the point", "StrStr", {2.5, -1}, "2."},
      {"strstr more decimals than printed", "StrStr", {2.5, 5}, "2.5"},
      {"strstr whole number", "StrStr", {42, 3}, "42"},
      // The exponent stays; only the mantissa is cut.
      {"strstr exponent", "StrStr", {123456789012345678.0, 2}, "1.23e+17"},
      {"strstr exponent, no decimals", "StrStr", {1.5e-20, 0}, "1e-20"},
      {"strstr exponent without point", "StrStr", {1e20, 2}, "1e+20"},
      {"hex", "HexStr", {255}, "$FF"},
      {"hex -1", "HexStr", {-1}, "$FFFFFFFF"},
      {"hex above 32 bits", "HexStr", {1e10}, "$FFFFFFFF"},
      {"bin byte", "BinStr", {5, 7}, "00000101"},
      {"bin word", "BinStr", {-1, 6}, "1111111111111111"},
      {"bin integer", "BinStr", {2147483648.0}, "10000000000000000000000000000000"},
      {"bin other type", "BinStr", {5, 3}, ""},
      {"pad", "PadNum", {42, 5}, "00042"},
      {"pad not cut", "PadNum", {123456, 3}, "123456"},
      {"pad negative", "PadNum", {-1, 3}, StrVal(), ERR_WRONGUSAGE},
      {"pad digits 0", "PadNum", {1, 0}, StrVal(), ERR_WRONGUSAGE},
      {"val", "Val", {"12.5abc"}, 12.5},
      {"val hex", "Val", {"$ff"}, 255},
      {"val none", "Val", {"abc"}, 0},
      {"tonumber hex", "ToNumber", {"ff", 16}, 255},
      {"tonumber garbage", "ToNumber", {"12x", 10}, 0},
      {"tonumber decimal", "ToNumber", {" 1.5e2 "}, 150},
      {"tonumber $", "ToNumber", {"$10"}, 16},
      {"tonumber number", "ToNumber", {7.25}, 7.25},
      {"tonumber binary", "ToNumber", {"1011", 2}, 11},
      {"tonumber base 36", "ToNumber", {"zz", 36}, 1295},
      {"tonumber 0x prefix", "ToNumber", {"0x1F", 16}, 31},
      {"tonumber spaces", "ToNumber", {"  7f  ", 16}, 127},
      {"tonumber bad digit", "ToNumber", {"129", 8}, 0},
      {"tonumber empty", "ToNumber", {"", 16}, 0},
      // 32-bit results whatever the width of the platform's unsigned long.
      {"tonumber max", "ToNumber", {"ffffffff", 16}, 4294967295.0},
      {"tonumber overflow", "ToNumber", {"100000000", 16}, 4294967295.0},
      {"tonumber long overflow", "ToNumber", {"99999999999999999999999", 10 + 1}, 4294967295.0},
      {"tonumber minus", "ToNumber", {"-1", 16}, 4294967295.0},
      {"tonumber minus n", "ToNumber", {"-10", 2}, 4294967294.0},
      {"tonumber base 1", "ToNumber", {"1", 1}, StrVal(), ERR_WRONGUSAGE},
      {"tonumber base 37", "ToNumber", {"1", 37}, StrVal(), ERR_WRONGUSAGE},
      {"tostring nil", "ToString", {StrVal()}, "Nil"},
      {"tostring true", "ToString", {StrVal::Bool(true)}, "true"},
      {"tostring number", "ToString", {0.1}, "0.1"},
      {"tostring string", "ToString", {"x"}, "x"},
      {"formatstr", "FormatStr", {"%5.2f|%-3d|", 3.14159, 7}, " 3.14|7  |"},
      {"formatstr q", "FormatStr", {"%q", std::string("a\"b\\c\nd\0e", 9)}, std::string("\"a\\\"b\\\\c\\\nd\\000e\"", 17)},
      {"formatstr percent", "FormatStr", {"100%%"}, "100%"},
      {"formatstr c of 0", "FormatStr", {"[%c]", 0}, std::string("[\0]", 3)},
      {"formatstr width 3 digits", "FormatStr", {"%100d", 1}, StrVal(), ERR_WRONGUSAGE},
      {"formatstr precision 3 digits", "FormatStr", {"%.100f", 1}, StrVal(), ERR_WRONGUSAGE},
      {"formatstr conv too long", "FormatStr", {"%-+ #0-+ #0-+ #0-+ #0d", 1}, StrVal(), ERR_WRONGUSAGE},
      {"formatstr conv of 18", "FormatStr", {"%-+ #0-+ #0-+ #012d", 1}, "+1          "},
      {"formatstr bad letter", "FormatStr", {"%y", 1}, StrVal(), ERR_WRONGUSAGE},
      {"formatstr ends in %", "FormatStr", {"abc%"}, StrVal(), ERR_WRONGUSAGE},
      {"formatstr length modifier", "FormatStr", {"%ld", 1}, StrVal(), ERR_WRONGUSAGE},
      {"md5 empty", "MD5Str", {""}, StrVal(), ERR_WRONGUSAGE},
      {"crc32", "CRC32Str", {"abc"}, 891568578.0},
      {"crc32 empty", "CRC32Str", {""}, StrVal(), ERR_WRONGUSAGE},
  });
  // Missing and wrongly typed arguments raise the argument readers' codes.
  EXPECT_NE(vm.Call("FormatStr", {"%d %d", 1}).code, 0u);
  EXPECT_NE(vm.Call("FormatStr", {"%d", "x"}).code, 0u);
  EXPECT_NE(vm.Call("LeftStr", {"abc"}).code, 0u);
  StrCall val = vm.Call("Val", {"-$1f!"});
  ASSERT_EQ(val.results.size(), 2u);
  EXPECT_EQ(val.results[0], StrVal(-31));
  EXPECT_EQ(val.results[1], StrVal(4));
}

TEST(StringCommands, TablesAndToString) {
  StringVm vm;
  struct SplitRow {
    const char *s;
    std::vector<std::string> parts;
  } splits[] = {{"a,,b", {"a", "", "b"}}, {",a", {"", "a"}}, {"a,", {"a", ""}}, {"", {""}}, {"abc", {"abc"}}};
  for (const SplitRow &row : splits) {
    vm_settop(vm.L, 0);
    vm.PushCommand("SplitStr");
    StringVm::Push(vm.L, row.s);
    StringVm::Push(vm.L, ",");
    ASSERT_EQ(vm_pcall(vm.L, 2, 2, 0), 0u) << row.s;
    EXPECT_EQ(vm_tonumber(vm.L, 2), double(row.parts.size())) << row.s;
    for (size_t i = 0; i <= row.parts.size(); i++) {
      vm_rawgeti(vm.L, 1, int(i));
      if (i < row.parts.size()) EXPECT_EQ(StringVm::Read(vm.L, -1), StrVal(row.parts[i])) << row.s << " " << i;
      else EXPECT_EQ(vm_type(vm.L, -1), VM_TNIL) << row.s;
      vm_pop(vm.L, 1);
    }
  }
  EXPECT_EQ(vm.Call("SplitStr", {"a,b", ",,"}).code, uint32_t(ERR_WRONGUSAGE));
  EXPECT_EQ(vm.Call("SplitStr", {"a,b", ""}).code, uint32_t(ERR_WRONGUSAGE));

  vm_settop(vm.L, 0);
  vm.PushCommand("StrToArray");
  StringVm::Push(vm.L, "A\xff");
  ASSERT_EQ(vm_pcall(vm.L, 1, 1, 0), 0u);
  const double codes[] = {65, 255, 0};
  for (int i = 0; i < 3; i++) {
    vm_rawgeti(vm.L, 1, i);
    EXPECT_EQ(vm_tonumber(vm.L, -1), codes[i]);
    vm_pop(vm.L, 1);
  }

  // A table's text, and the __tostring field of its metatable.
  vm_settop(vm.L, 0);
  vm.PushCommand("ToString");
  vm_newtable(vm.L);
  StrCall plain = vm.Finish(1);
  ASSERT_EQ(plain.code, 0u);
  EXPECT_EQ(plain.results[0].str.rfind("Table: ", 0), 0u) << plain.results[0].str;
  vm_settop(vm.L, 0);
  vm.PushCommand("ToString");
  vm_newtable(vm.L);
  vm_newtable(vm.L);
  vm_pushstring(vm.L, "__tostring");
  vm_pushcfunction(vm.L, [](VmState *L) -> uint32_t {
    vm_pushstring(L, "custom");
    return 1;
  });
  vm_settable(vm.L, -3);
  vm_setmetatable(vm.L, -2);
  StrCall custom = vm.Finish(1);
  ASSERT_EQ(custom.code, 0u);
  EXPECT_EQ(custom.results[0], StrVal("custom"));
  vm_settop(vm.L, 0);
  vm.PushCommand("ToString");
  vm_pushcfunction(vm.L, [](VmState *) -> uint32_t { return 0; });
  StrCall fn = vm.Finish(1);
  EXPECT_EQ(fn.results[0].str.rfind("Function: ", 0), 0u);
}

// Results longer than the longest script string (2^31 - 1 bytes) are refused before they are
// made; the rows stay cheap: small subjects whose results would pass the limit by one byte.
TEST(StringCommands, ResultSizeLimit) {
  StringVm vm;
  const std::string a1k(1024, 'a'), a1m(1 << 20, 'a');
  std::string percent1(2 * 2048, '%');
  for (size_t i = 1; i < percent1.size(); i += 2) percent1[i] = '1';
  RunRows(vm, {
      {"repeat to 2^31", "RepeatStr", {"ab", 1073741824}, StrVal(), ERR_MEM},
      {"replace to 2^31", "ReplaceStr", {a1k, "a", std::string(1 << 21, 'b')}, StrVal(), ERR_MEM},
      {"replace shrinking", "ReplaceStr", {a1m, "aa", "b"}, std::string(1 << 19, 'b')},
      {"pattern replace with 2048 captures of 1 MB", "PatternReplaceStr", {a1m, "(a+)", percent1}, StrVal(), ERR_MEM},
      {"pattern replace with 2 captures of 1 MB", "PatternReplaceStr", {a1m, "(a+)", "%1%1"}, std::string(2 << 20, 'a')},
  });
}

// The commands are registered with their spelling for the editor list, and as lower-cased
// globals in the table the start-up code pushed.
TEST(StringCommands, Registration) {
  StringVm vm;
  const char *names[] = {"LowerStr", "UpperStr", "Val", "StrStr", "UnrightStr", "UnleftStr", "Chr", "MidStr",
                         "RightStr", "LeftStr", "FindStr", "AddStr", "HexStr", "Asc", "StrLen", "ReplaceStr",
                         "BinStr", "SplitStr", "PadNum", "StrToArray", "TrimStr", "ToString", "ToNumber",
                         "UnmidStr", "CountStr", "InsertStr", "RepeatStr", "MD5Str", "CRC32Str", "FormatStr",
                         "PatternFindStr", "PatternReplaceStr", "Eval"};
  for (const char *name : names) {
    vm.PushCommand(name);
    EXPECT_STREQ(FindRegisteredCommandName(name), name);
  }
  EXPECT_EQ(vm_gettop(vm.L), 33);
  EXPECT_EQ(vm.One("Eval", {"1 + 2 * 3"}), StrVal(7));
}
