#include <string>

#include "runtime/errcodes.h"
#include "tests/io/dos/dos_test_vm.h"

namespace {

TEST(DosVirtual, WindowsOfFilesAndStrings) {
  DosVm vm;
  std::string data(200, '\0');
  for (int i = 0; i < 200; i++) data[i] = char(i);
  WriteFileBytes(vm.Path("data.bin"), data);
  std::string name = vm.One("DefineVirtualFile", {vm.Path("data.bin"), 100, 20, "pic.png"}).str;
  EXPECT_EQ(name, ":::chunk100:20*pic.png/" + vm.Path("data.bin"));
  EXPECT_EQ(vm.One("FileSize", {name}).num, 20);
  EXPECT_EQ(vm.One("FilePart", {name}).str, "pic.png");
  EXPECT_EQ(vm.One("FileToString", {name}).str, data.substr(100, 20));
  EXPECT_EQ(vm.Code("DefineVirtualFile", {vm.Path("data.bin"), 0, 0, "x"}), uint32_t(ERR_WRONGUSAGE));
  EXPECT_EQ(vm.Code("UndefineVirtualStringFile", {name}), uint32_t(ERR_WRONGUSAGE));

  std::string text = "hello\nworld\n";
  std::string s = vm.One("DefineVirtualFileFromString", {text, "t.txt"}).str;
  ASSERT_EQ(s.rfind(":::chunkS", 0), 0u);
  EXPECT_EQ(vm.One("FileToString", {s}).str, text);
  ASSERT_EQ(vm.Code("OpenFile", {1, s}), 0u);
  EXPECT_EQ(vm.One("ReadLine", {1}).str, "hello");
  // A file still reads the window: it cannot go yet.
  EXPECT_EQ(vm.Code("UndefineVirtualStringFile", {s}), uint32_t(ERR_LOCKEDOBJ));
  vm.Call("CloseFile", {1});
  EXPECT_EQ(vm.Code("UndefineVirtualStringFile", {s}), 0u);
  EXPECT_EQ(vm.Code("FileToString", {s}), uint32_t(ERR_READFILE));
  EXPECT_EQ(vm.Code("UndefineVirtualStringFile", {s}), uint32_t(ERR_WRONGUSAGE));
  // A name made up by a script reaches no memory.
  EXPECT_EQ(vm.Code("FileToString", {":::chunkS1:100*x/7f0000001000"}), uint32_t(ERR_READFILE));
  EXPECT_EQ(vm.Code("UndefineVirtualStringFile", {":::chunkS1:100*x/7f0000001000"}), uint32_t(ERR_WRONGUSAGE));
}

// Packed files against python's zlib, in both directions.
TEST(DosVirtual, PackedFilesMatchZlib) {
  DosVm vm;
  struct Row {
    const char *name;
    std::string bytes;
  } rows[] = {{"empty", ""}, {"text", "packed text packed text packed text"}, {"large", std::string(100000, 'z')}};
  for (const Row &r : rows) {
    WriteFileBytes(vm.Path("in.bin"), r.bytes);
    double size = vm.One("CompressFile", {vm.Path("in.bin"), vm.Path("p.qmpk")}).num;
    std::string packed = ReadFileBytes(vm.Path("p.qmpk"));
    EXPECT_EQ(size, double(packed.size())) << r.name;
    EXPECT_EQ(packed.substr(0, 8), std::string("QMPK\0\0\0\0", 8)) << r.name;
    std::string peer = Shell("python3 -c \"import sys,zlib; d=open(sys.argv[1],'rb').read(); "
                             "sys.stdout.buffer.write(zlib.decompress(d[8:]))\" " + vm.Path("p.qmpk"));
    EXPECT_EQ(peer, r.bytes) << r.name;
    // The peer packs; we unpack.
    Shell("python3 -c \"import sys,zlib; d=open(sys.argv[1],'rb').read(); "
          "open(sys.argv[2],'wb').write(b'QMPK'+bytes(4)+zlib.compress(d, 9))\" " +
          vm.Path("in.bin") + " " + vm.Path("py.qmpk"));
    EXPECT_EQ(vm.One("DecompressFile", {vm.Path("py.qmpk"), vm.Path("out.bin")}).num, double(r.bytes.size()));
    EXPECT_EQ(ReadFileBytes(vm.Path("out.bin")), r.bytes) << r.name;
  }
  WriteFileBytes(vm.Path("bad.qmpk"), "QMZX\0\0\0\0xxxx");
  EXPECT_EQ(vm.Code("DecompressFile", {vm.Path("bad.qmpk"), vm.Path("never.bin")}), uint32_t(ERR_PAKFORMAT));
  EXPECT_EQ(vm.One("Exists", {vm.Path("never.bin")}).num, 0);
  std::string packed = ReadFileBytes(vm.Path("py.qmpk"));
  WriteFileBytes(vm.Path("cut.qmpk"), packed.substr(0, packed.size() - 6));
  EXPECT_EQ(vm.Code("DecompressFile", {vm.Path("cut.qmpk"), vm.Path("o.bin")}), uint32_t(ERR_ZLIBDATA));
  WriteFileBytes(vm.Path("tail.qmpk"), packed + "trailing");
  EXPECT_EQ(vm.Code("DecompressFile", {vm.Path("tail.qmpk"), vm.Path("o.bin")}), 0u);
}

}  // namespace
