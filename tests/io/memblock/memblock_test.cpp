#include <string>

#include "io/fileobject.h"
#include "io/memblock.h"
#include "runtime/errcodes.h"
#include "tests/io/dos/dos_test_vm.h"

namespace {

constexpr int kInteger = MEMTYPE_INTEGER, kString = MEMTYPE_STRING, kShort = MEMTYPE_SHORT, kByte = MEMTYPE_BYTE;

TEST(Memblock, PokeAndPeekTable) {
  DosVm vm;
  ASSERT_EQ(vm.Code("AllocMem", {1, 8}), 0u);
  struct Row {
    const char *name;
    std::vector<DosVal> poke;  // offset, value, type
    std::vector<DosVal> peek;  // offset, type, length
    DosVal expected;
  } rows[] = {
      {"int as short", {0, 258}, {2, kShort}, 258},
      {"int as byte", {0, 258}, {3, kByte}, 2},
      {"minus one", {0, -1}, {0}, 4294967295.0},
      {"short", {6, 0x1234, kShort}, {6, kShort}, 0x1234},
      {"byte low bits", {7, 0x1FF, kByte}, {7, kByte}, 255},
      {"string", {0, "ab", kString}, {0, kString}, "ab"},
      {"string of length", {0, "ab", kString}, {0, kString, 3}, std::string("ab\0", 3)},
  };
  for (const Row &r : rows) {
    std::vector<DosVal> poke = {1}, peek = {1};
    poke.insert(poke.end(), r.poke.begin(), r.poke.end());
    peek.insert(peek.end(), r.peek.begin(), r.peek.end());
    ASSERT_EQ(vm.Code("Poke", poke), 0u) << r.name;
    DosVal v = vm.One("Peek", peek);
    if (r.expected.kind == DosVal::STR) EXPECT_EQ(v.str, r.expected.str) << r.name;
    else EXPECT_EQ(v.num, r.expected.num) << r.name;
  }
}

// The edges of a 4-byte block for every type, and offsets far beyond it that must not wrap.
TEST(Memblock, RangesAreCheckedIn64Bits) {
  DosVm vm;
  ASSERT_EQ(vm.Code("AllocMem", {1, 4}), 0u);
  struct Row {
    double offset;
    int type;
    uint32_t code;
  } rows[] = {
      {0, kInteger, 0}, {1, kInteger, ERR_MEMRANGE}, {2, kShort, 0}, {3, kShort, ERR_MEMRANGE},
      {3, kByte, 0}, {4, kByte, ERR_MEMRANGE}, {-1, kByte, ERR_MEMRANGE}, {2147483646.0, kInteger, ERR_MEMRANGE},
      {2147483647.0, kByte, ERR_MEMRANGE}, {1e19, kByte, ERR_MEMRANGE}, {0, 2, ERR_WRONGUSAGE},
  };
  for (const Row &r : rows) {
    EXPECT_EQ(vm.Code("Poke", {1, r.offset, 5, r.type}), r.code) << r.offset << " " << r.type;
    EXPECT_EQ(vm.Code("Peek", {1, r.offset, r.type}), r.code) << r.offset << " " << r.type;
  }
  EXPECT_EQ(vm.Code("Poke", {1, 2, "ab", kString}), uint32_t(ERR_MEMRANGE));  // needs 3 bytes
  EXPECT_EQ(vm.Code("Poke", {1, 1, "ab", kString}), 0u);
  EXPECT_EQ(vm.Code("AllocMem", {2, 0}), uint32_t(ERR_MEM));
  EXPECT_EQ(vm.Code("AllocMem", {2, 3e9}), uint32_t(ERR_MEM));
  EXPECT_EQ(vm.Code("AllocMem", {2, -5}), uint32_t(ERR_WRONGUSAGE));
  EXPECT_EQ(vm.Code("Peek", {9, 0}), uint32_t(ERR_FINDMEMBLK));
  EXPECT_EQ(vm.Code("DumpMem", {1, 0, 1}), uint32_t(ERR_MEMRANGE));
}

TEST(Memblock, FillCopyAndFiles) {
  DosVm vm;
  ASSERT_EQ(vm.Code("AllocMem", {1, 8}), 0u);
  DosVal h = vm.One("AllocMem", {DosVal(), 8});
  ASSERT_EQ(h.kind, DosVal::HANDLE);
  EXPECT_EQ(vm.Code("FillMem", {1, 0x1234, 6, 0, kShort}), 0u);
  EXPECT_EQ(vm.One("Peek", {1, 0, kString, 6}).str, "\x12\x34\x12\x34\x12\x34");
  EXPECT_EQ(vm.Code("FillMem", {1, 0x1234, 5, 0, kShort}), uint32_t(ERR_WRONGUSAGE));
  EXPECT_EQ(vm.Code("FillMem", {1, 7, 4, 2, kInteger}), uint32_t(ERR_WRONGUSAGE));
  EXPECT_EQ(vm.Code("FillMem", {1, 7, 9}), uint32_t(ERR_MEMRANGE));
  EXPECT_EQ(vm.Code("CopyMem", {1, 1, 4}), uint32_t(ERR_WRONGUSAGE));
  EXPECT_EQ(vm.Code("CopyMem", {1, h, 4, 0, 4}), 0u);
  EXPECT_EQ(vm.One("Peek", {h, 4, kShort}).num, 0x1234);
  EXPECT_EQ(vm.Code("CopyMem", {1, h, 4, 0, 5}), uint32_t(ERR_MEMRANGE));

  ASSERT_EQ(vm.Code("OpenFile", {1, vm.Path("m.bin"), DOS_MODE_WRITE}), 0u);
  EXPECT_EQ(vm.Code("WriteMem", {1, 1, 6}), 0u);
  EXPECT_EQ(vm.One("FileLength", {1}).num, 6);
  EXPECT_EQ(vm.Code("ReadMem", {1, 1, 2}), uint32_t(ERR_WRITEONLY));
  vm.Call("CloseFile", {1});
  EXPECT_EQ(ReadFileBytes(vm.Path("m.bin")), "\x12\x34\x12\x34\x12\x34");
  ASSERT_EQ(vm.Code("OpenFile", {1, vm.Path("m.bin")}), 0u);
  EXPECT_EQ(vm.Code("ReadMem", {1, h, 4, 2}), 0u);
  EXPECT_EQ(vm.One("FilePos", {1}).num, 4);
  EXPECT_EQ(vm.Code("ReadMem", {1, h, 4}), uint32_t(ERR_READ));  // two bytes left
  EXPECT_EQ(vm.Code("WriteMem", {1, h, 1}), uint32_t(ERR_READONLY));
  EXPECT_EQ(vm.Code("FreeMem", {h}), 0u);
  EXPECT_EQ(vm.Code("FreeMem", {h}), uint32_t(ERR_FINDARRAY));
}

TEST(Memblock, DumpLines) {
  std::string bytes = "0123456789abcdefXY\x01 ";
  std::string dump = FormatMemDump(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size(), 0);
  EXPECT_EQ(dump,
            "00000000: 30 31 32 33 34 35 36 37 38 39 61 62 63 64 65 66 0123456789abcdef\n"
            "00000010: 58 59 01 20 " + std::string(36, ' ') + "XY. \n");
}

}  // namespace
