#include <string>

#include "io/dos/dos_files.h"
#include "io/dos/dos_serialize.h"
#include "runtime/cmdargs.h"
#include "runtime/errcodes.h"
#include "tests/io/dos/dos_test_vm.h"

namespace {

const std::string kPeer = std::string(QM_SOURCE_DIR) + "/tests/io/dos/qmt_peer.py";

// Runs WriteTable or WriteFunction on file 1 with the value on the stack top.
uint32_t WriteTop(DosVm &vm, const char *command, int base64) {
  int v = vm_gettop(vm.L);
  vm.PushCommand(command);
  vm_pushnumber(vm.L, 1);
  vm_pushvalue(vm.L, v);
  vm_pushnumber(vm.L, base64);
  uint32_t code = vm_pcall(vm.L, 3, 0, 0);
  vm_settop(vm.L, 0);
  return code;
}

// The text of the table at the stack top, keys sorted, as the python peer shows it.
std::string Show(VmState *L, int t) {
  std::vector<std::pair<std::string, std::string>> items;
  auto text = [&](int i) -> std::string {
    switch (vm_type(L, i)) {
      case VM_TNUMBER: {
        double d = vm_tonumber(L, i);
        char buf[64];
        if (d == double(int64_t(d))) std::snprintf(buf, sizeof buf, "%lld", (long long)d);
        else std::snprintf(buf, sizeof buf, "%.17g", d);
        return buf;
      }
      case VM_TSTRING: {
        std::string s(vm_tostring(L, i), vm_strlen(L, i)), out = "'";
        for (char c : s) out += c == 0 ? std::string("\\x00") : std::string(1, c);
        return out + "'";
      }
      case VM_TTABLE: return Show(L, i);
      default: return "?";
    }
  };
  t = t < 0 ? vm_gettop(L) + t + 1 : t;
  vm_pushnil(L);
  while (vm_next(L, t)) {
    int top = vm_gettop(L);
    items.emplace_back(text(top - 1), text(top));
    vm_pop(L, 1);
  }
  std::sort(items.begin(), items.end());
  std::string out = "{";
  for (size_t i = 0; i < items.size(); i++) out += (i ? "," : "") + items[i].first + "=" + items[i].second;
  return out + "}";
}

TEST(DosSerialize, GoldenBytes) {
  DosVm vm;
  ASSERT_EQ(vm.Code("OpenFile", {1, vm.Path("t.bin"), DOS_MODE_WRITE}), 0u);
  vm_newtable(vm.L);
  ASSERT_EQ(WriteTop(vm, "WriteTable", 0), 0u);
  vm_newtable(vm.L);
  SetFieldNumber(vm.L, "x", 1);
  ASSERT_EQ(WriteTop(vm, "WriteTable", 0), 0u);
  vm.Call("CloseFile", {1});
  EXPECT_EQ(ReadFileBytes(vm.Path("t.bin")),
            std::string("QMT0\0QMT0\x03\0\0\0\x01x\x02\x3F\xF0\0\0\0\0\0\0\0", 25));
  ASSERT_EQ(vm.Code("OpenFile", {1, vm.Path("t.bin")}), 0u);
  EXPECT_EQ(vm.One("ReadTable", {1}).kind, DosVal::TABLE);
  vm.Call("ReadTable", {1}, true);
  EXPECT_EQ(Show(vm.L, -1), "{'x'=1}");
  vm_settop(vm.L, 0);
  EXPECT_EQ(vm.Code("ReadTable", {1}), uint32_t(ERR_READRANGE));
}

// Our writer against the python reader, and the python writer against our reader.
TEST(DosSerialize, IndependentPeerBothWays) {
  DosVm vm;
  ASSERT_EQ(vm.Code("OpenFile", {1, vm.Path("ours.qmt"), DOS_MODE_WRITE}), 0u);
  vm_newtable(vm.L);
  SetFieldString(vm.L, "name", "abc");
  SetFieldNumber(vm.L, "half", 0.5);
  vm_pushnumber(vm.L, 3);
  vm_pushlstring(vm.L, "a\0b", 3);
  vm_settable(vm.L, -3);
  vm_pushstring(vm.L, "sub");
  vm_newtable(vm.L);
  SetFieldNumber(vm.L, "y", -7);
  vm_settable(vm.L, -3);
  ASSERT_EQ(WriteTop(vm, "WriteTable", 0), 0u);
  vm.Call("CloseFile", {1});
  EXPECT_EQ(Shell("python3 " + kPeer + " read " + vm.Path("ours.qmt")),
            "{'half'=0.5,'name'='abc','sub'={'y'=-7},3='a\\x00b'}\n");

  Shell("python3 " + kPeer + " write " + vm.Path("peer.qmt"));
  ASSERT_EQ(vm.Code("OpenFile", {2, vm.Path("peer.qmt")}), 0u);
  vm.Call("ReadTable", {2}, true);
  EXPECT_EQ(Show(vm.L, -1), "{'big'='" + std::string(300, 'x') + "','name'='peer','nested'={'k'='v\\x00w',2=-1},1=2.5}");
  vm.Call("ReadTable", {2}, true);
  EXPECT_EQ(Show(vm.L, -1), "{1='second'}");
  vm_settop(vm.L, 0);
}

TEST(DosSerialize, WriterRefusesWhatCannotBeRead) {
  DosVm vm;
  ASSERT_EQ(vm.Code("OpenFile", {1, vm.Path("w.qmt"), DOS_MODE_WRITE}), 0u);
  vm_newtable(vm.L);  // a table key
  vm_newtable(vm.L);
  vm_pushnumber(vm.L, 1);
  vm_settable(vm.L, -3);
  EXPECT_EQ(WriteTop(vm, "WriteTable", 0), uint32_t(ERR_WRONGUSAGE));
  vm_newtable(vm.L);  // a boolean value
  vm_pushstring(vm.L, "b");
  vm_pushboolean(vm.L, 1);
  vm_settable(vm.L, -3);
  EXPECT_EQ(WriteTop(vm, "WriteTable", 0), uint32_t(ERR_WRONGUSAGE));
  vm_newtable(vm.L);  // t.self = t
  vm_pushstring(vm.L, "self");
  vm_pushvalue(vm.L, -2);
  vm_settable(vm.L, -3);
  EXPECT_EQ(WriteTop(vm, "WriteTable", 0), uint32_t(ERR_WRONGUSAGE));
  vm_pushcfunction(vm.L, [](VmState *) -> uint32_t { return 0; });
  EXPECT_EQ(WriteTop(vm, "WriteFunction", 0), uint32_t(ERR_NOQMFUNC));
}

// Hostile records: every length is checked before anything is allocated.
TEST(DosSerialize, ReaderRefusesBrokenRecords) {
  DosVm vm;
  std::string deep;
  for (int i = 0; i < 1000; i++) deep += std::string("\x02\0\0\0\0\0\0\0\0\x04", 10);
  struct Row {
    const char *name;
    std::string bytes;
    uint32_t code;
  } rows[] = {
      {"wrong magic", "QMT1\0", ERR_READTABLE},
      {"cut", std::string("QMT0\x03\0\0\0\x05x", 10), ERR_READRANGE},
      {"huge string", std::string("QMT0\x02\0\0\0\0\0\0\0\0\x03\xFF\xFF\xFF\xF0", 18), ERR_READRANGE},
      {"long key", std::string("QMT0\x03\0\0\x01\x2C", 9) + std::string(300, 'k') + std::string("\x02\0\0\0\0\0\0\0\0\0", 10),
       ERR_WRONGUSAGE},
      {"unknown tag", std::string("QMT0\x07", 5), ERR_READTABLE},
      {"bad value tag", std::string("QMT0\x02\0\0\0\0\0\0\0\0\x09", 14), ERR_READTABLE},
      {"deep", "QMT0" + deep, ERR_READTABLE},
      {"function too long", std::string("QMT0\x02\0\0\0\0\0\0\0\0\x05\0\x10\0\0", 18), ERR_READRANGE},
      {"not bytecode", std::string("QMT0\x02\0\0\0\0\0\0\0\0\x05\0\0\0\x02xy\0", 21), ERR_BADBYTECODE},
  };
  for (const Row &r : rows) {
    WriteFileBytes(vm.Path("h.qmt"), r.bytes);
    ASSERT_EQ(vm.Code("OpenFile", {1, vm.Path("h.qmt")}), 0u);
    uint32_t code = vm.Code("ReadTable", {1});
    if (std::string(r.name) == "not bytecode") EXPECT_NE(code, 0u) << r.name;
    else EXPECT_EQ(code, r.code) << r.name;
  }
}

// A script function in both forms: the Base64 text is what python's base64 makes of the raw
// bytecode, in lines of 72, and both load back.
TEST(DosSerialize, FunctionsRawAndBase64) {
  DosVm vm;
  qmtools::AsmResult a = qmtools::AssembleText(R"(
.func maxstack=4
  .k "a long constant so that the bytecode runs over two lines of text" 41
      LOADK     0 k1
      RETURN    0 2
.end
)");
  ASSERT_TRUE(a.proto) << a.error;
  std::vector<uint8_t> chunk = qmtools::BuildChunk(*a.proto);
  ASSERT_EQ(vm.Code("OpenFile", {1, vm.Path("f.bin"), DOS_MODE_WRITE}), 0u);
  for (int base64 = 0; base64 <= 1; base64++) {
    ASSERT_EQ(vm_loadbuffer(vm.L, reinterpret_cast<const char *>(chunk.data()), chunk.size(), "=f"), 0u);
    ASSERT_EQ(WriteTop(vm, "WriteFunction", base64), 0u);
  }
  vm.Call("CloseFile", {1});
  std::string bytes = ReadFileBytes(vm.Path("f.bin"));
  ASSERT_EQ(bytes.substr(0, 4), "QMF0");
  uint32_t n = uint32_t(uint8_t(bytes[4])) << 24 | uint32_t(uint8_t(bytes[5])) << 16 |
               uint32_t(uint8_t(bytes[6])) << 8 | uint8_t(bytes[7]);
  std::string raw = bytes.substr(8, n);
  std::string rest = bytes.substr(8 + n);
  ASSERT_EQ(rest.substr(0, 4), "QMF1");
  size_t textLength = std::stoul(rest.substr(4, 8), nullptr, 16);
  std::string text = rest.substr(12);
  EXPECT_EQ(text.size(), textLength);
  WriteFileBytes(vm.Path("raw.bin"), raw);
  std::string peer = Shell("python3 -c \"import sys,base64,textwrap; d=open(sys.argv[1],'rb').read(); "
                           "sys.stdout.write('\\n'.join(textwrap.wrap(base64.b64encode(d).decode(), 72)))\" " +
                           vm.Path("raw.bin"));
  EXPECT_EQ(text, peer);
  ASSERT_EQ(vm.Code("OpenFile", {1, vm.Path("f.bin")}), 0u);
  for (int i = 0; i < 2; i++) {
    DosCall c = vm.Call("ReadFunction", {1}, true);
    ASSERT_EQ(c.code, 0u);
    ASSERT_EQ(vm_pcall(vm.L, 0, 1, 0), 0u);
    EXPECT_EQ(vm_tonumber(vm.L, -1), 41);
    vm_settop(vm.L, 0);
  }
  EXPECT_EQ(vm.Code("ReadFunction", {1}), uint32_t(ERR_READRANGE));
}

}  // namespace
