#include <string>
#include <vector>

#include "io/dos/dos_files.h"
#include "runtime/errcodes.h"
#include "tests/io/dos/dos_test_vm.h"

namespace {

std::string Pseudo(size_t n, uint32_t seed) {
  std::string s(n, '\0');
  for (auto &c : s) c = char((seed = seed * 1103515245u + 12345u) >> 24);
  return s;
}

// Sizes around the digest's block and buffer boundaries, against md5sum and python.
TEST(DosChecksum, MD5AndCRC32MatchPeers) {
  DosVm vm;
  for (size_t n : {size_t(0), size_t(1), size_t(63), size_t(64), size_t(65), size_t(65535), size_t(65536),
                   size_t(65537), size_t(1000000)}) {
    std::string path = vm.Path("c.bin");
    WriteFileBytes(path, Pseudo(n, uint32_t(n)));
    std::string md5sum = Shell("md5sum " + path).substr(0, 32);
    std::string py = Shell("python3 -c \"import sys,hashlib,zlib; d=open(sys.argv[1],'rb').read(); "
                           "print(hashlib.md5(d).hexdigest(), zlib.crc32(d))\" " + path);
    EXPECT_EQ(vm.One("MD5", {path}).str, md5sum) << n;
    EXPECT_EQ(py.substr(0, 32), md5sum) << n;
    EXPECT_EQ(vm.One("CRC32", {path}).num, std::stod(py.substr(33))) << n;
  }
  WriteFileBytes(vm.Path("k.txt"), "123456789");
  EXPECT_EQ(vm.One("CRC32", {vm.Path("k.txt")}).num, 3421780262.0);
  WriteFileBytes(vm.Path("k.txt"), "abc");
  EXPECT_EQ(vm.One("MD5", {vm.Path("k.txt")}).str, "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(vm.Code("MD5", {""}), uint32_t(ERR_WRONGUSAGE));
  EXPECT_EQ(vm.Code("CRC32", {vm.Path("none")}), uint32_t(ERR_READFILE));
}

std::vector<double> gProgress;
uint32_t RecordProgress(VmState *L) {
  vm_pushstring(L, "progress");
  vm_gettable(L, 1);
  gProgress.push_back(vm_tonumber(L, -1));
  return 0;
}

// Patch three open files; the callback (when given) records every progress value.
uint32_t Patch(DosVm &vm, bool callback) {
  vm_settop(vm.L, 0);
  vm.PushCommand("ApplyPatch");
  for (int i = 1; i <= 3; i++) vm_pushnumber(vm.L, i);
  if (callback) vm_pushcfunction(vm.L, RecordProgress);
  uint32_t code = vm_pcall(vm.L, callback ? 4 : 3, 0, 0);
  vm_settop(vm.L, 0);
  return code;
}

TEST(DosChecksum, ApplyPatchMakesAndAppliesPatches) {
  DosVm vm;
  std::string oldBytes = Pseudo(5000, 1), newBytes = Pseudo(5000, 2);
  WriteFileBytes(vm.Path("old"), oldBytes);
  WriteFileBytes(vm.Path("new"), newBytes);
  ASSERT_EQ(vm.Code("OpenFile", {1, vm.Path("old")}), 0u);
  ASSERT_EQ(vm.Code("OpenFile", {2, vm.Path("new")}), 0u);
  ASSERT_EQ(vm.Code("OpenFile", {3, vm.Path("patch"), DOS_MODE_WRITE}), 0u);
  ASSERT_EQ(Patch(vm, false), 0u);
  // The positions follow what was read and written.
  EXPECT_EQ(vm.One("FilePos", {1}).num, 5000);
  EXPECT_EQ(vm.One("FileLength", {3}).num, 5000);
  for (int i = 1; i <= 3; i++) vm.Call("CloseFile", {i});
  ASSERT_EQ(vm.Code("OpenFile", {1, vm.Path("old")}), 0u);
  ASSERT_EQ(vm.Code("OpenFile", {2, vm.Path("patch")}), 0u);
  ASSERT_EQ(vm.Code("OpenFile", {3, vm.Path("made"), DOS_MODE_WRITE}), 0u);
  ASSERT_EQ(Patch(vm, false), 0u);
  vm.Call("CloseFile", {3});
  EXPECT_EQ(ReadFileBytes(vm.Path("made")), newBytes);
  // A short second file continues as bytes 255.
  WriteFileBytes(vm.Path("short"), std::string("\x0F", 1));
  WriteFileBytes(vm.Path("three"), "abc");
  ASSERT_EQ(vm.Code("OpenFile", {1, vm.Path("three")}), 0u);
  ASSERT_EQ(vm.Code("OpenFile", {2, vm.Path("short")}), 0u);
  ASSERT_EQ(vm.Code("OpenFile", {3, vm.Path("x"), DOS_MODE_WRITE}), 0u);
  ASSERT_EQ(Patch(vm, false), 0u);
  vm.Call("CloseFile", {3});
  std::string expected = {char('a' ^ 0x0F), char('b' ^ 0xFF), char('c' ^ 0xFF)};
  EXPECT_EQ(ReadFileBytes(vm.Path("x")), expected);
}

TEST(DosChecksum, ApplyPatchReportsEveryPercentOnce) {
  DosVm vm;
  for (size_t n : {size_t(12), size_t(50), size_t(200), size_t(1999)}) {
    WriteFileBytes(vm.Path("a"), std::string(n, 'a'));
    ASSERT_EQ(vm.Code("OpenFile", {1, vm.Path("a")}), 0u);
    ASSERT_EQ(vm.Code("OpenFile", {2, vm.Path("a")}), 0u);
    ASSERT_EQ(vm.Code("OpenFile", {3, vm.Path("b"), DOS_MODE_WRITE}), 0u);
    gProgress.clear();
    ASSERT_EQ(Patch(vm, true), 0u);
    std::vector<double> expected;
    int last = 0;
    for (size_t i = 1; i <= n; i++) {
      int p = int(i * 100 / n);
      if (p != last) expected.push_back(last = p);
    }
    EXPECT_EQ(gProgress, expected) << n;
    EXPECT_EQ(gProgress.back(), 100) << n;
  }
}

}  // namespace
