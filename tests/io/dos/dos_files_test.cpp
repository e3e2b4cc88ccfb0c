#include <sys/stat.h>
#include <unistd.h>

#include "io/dos/dos_files.h"
#include "runtime/errcodes.h"
#include "runtime/vm/vm_state.h"
#include "tests/io/dos/dos_test_vm.h"

namespace {

constexpr int kRead = DOS_MODE_READ, kWrite = DOS_MODE_WRITE, kReadWrite = DOS_MODE_READWRITE;

// Reading big-endian values of a file with known bytes, each command against the raw bytes.
TEST(DosFiles, ReadsBigEndianValues) {
  DosVm vm;
  struct Row {
    const char *name;
    std::string bytes;
    const char *command;
    double expected;
  } rows[] = {
      {"byte", "\xFE", "ReadChr", 254},
      {"short unsigned", "\xFF\xFE", "ReadShort", 65534},
      {"int signed", "\xFF\xFF\xFF\xFE", "ReadInt", -2},
      {"int positive", std::string("\x00\x00\x01\x02", 4), "ReadInt", 258},
      {"double one", std::string("\x3F\xF0\0\0\0\0\0\0", 8), "ReadFloat", 1.0},
      {"double -2.5", std::string("\xC0\x04\0\0\0\0\0\0", 8), "ReadFloat", -2.5},
  };
  for (const Row &r : rows) {
    WriteFileBytes(vm.Path("v.bin"), r.bytes);
    ASSERT_EQ(vm.Code("OpenFile", {1, vm.Path("v.bin")}), 0u) << r.name;
    DosVal v = vm.One(r.command, {1});
    EXPECT_EQ(v.num, r.expected) << r.name;
    EXPECT_EQ(vm.One("Eof", {1}).num, 1) << r.name;
    // Nothing is left: the next read is refused and the position stays.
    EXPECT_EQ(vm.Code("ReadChr", {1}), uint32_t(ERR_READRANGE)) << r.name;
    EXPECT_EQ(vm.One("FilePos", {1}).num, double(r.bytes.size())) << r.name;
    vm.Call("CloseFile", {1});
  }
}

TEST(DosFiles, WritesBigEndianValues) {
  DosVm vm;
  struct Row {
    const char *command;
    DosVal value;
    std::string bytes;
  } rows[] = {
      {"WriteChr", 0x1FF, "\xFF"},
      {"WriteShort", 0x12345, "\x23\x45"},
      {"WriteInt", -2, "\xFF\xFF\xFF\xFE"},
      {"WriteInt", 4294967295.0, "\xFF\xFF\xFF\xFF"},
      {"WriteFloat", 1, std::string("\x3F\xF0\0\0\0\0\0\0", 8)},
      {"WriteString", "abc", "abc"},
      {"WriteLine", "line", "line\n"},
  };
  for (const Row &r : rows) {
    ASSERT_EQ(vm.Code("OpenFile", {1, vm.Path("w.bin"), kWrite}), 0u);
    EXPECT_EQ(vm.Code(r.command, {1, r.value}), 0u) << r.command;
    EXPECT_EQ(vm.One("FileLength", {1}).num, double(r.bytes.size())) << r.command;
    EXPECT_EQ(vm.Code("CloseFile", {1}), 0u);
    EXPECT_EQ(ReadFileBytes(vm.Path("w.bin")), r.bytes) << r.command;
  }
  ASSERT_EQ(vm.Code("OpenFile", {1, vm.Path("w.bin"), kWrite}), 0u);
  EXPECT_EQ(vm.Code("WriteString", {1, "abc", 4}), uint32_t(ERR_STRTOOSHORT));
  EXPECT_EQ(vm.Code("WriteString", {1, "abc", 2}), 0u);
  vm.Call("CloseFile", {1});
  EXPECT_EQ(ReadFileBytes(vm.Path("w.bin")), "ab");
}

// ReadLine over the endings a file may have; every line, then the end.
TEST(DosFiles, ReadLineHandlesEveryEnding) {
  DosVm vm;
  struct Row {
    const char *name;
    std::string bytes;
    std::vector<std::string> lines;
  } rows[] = {
      {"cr lf", "ab\r\ncd", {"ab", "cd"}},
      {"lone lf", "\n", {""}},
      {"cr inside", "a\rb\n", {"ab"}},
      {"no final lf", "x\ny", {"x", "y"}},
      {"binary", std::string("\0\x01\xFF\n", 4), {std::string("\0\x01\xFF", 3)}},
      {"1 MB line", std::string(1 << 20, 'q') + "\nz", {std::string(1 << 20, 'q'), "z"}},
  };
  for (const Row &r : rows) {
    WriteFileBytes(vm.Path("l.txt"), r.bytes);
    ASSERT_EQ(vm.Code("OpenFile", {1, vm.Path("l.txt")}), 0u);
    for (const std::string &line : r.lines) EXPECT_EQ(vm.One("ReadLine", {1}).str, line) << r.name;
    double end = vm.One("FilePos", {1}).num;
    EXPECT_EQ(end, double(r.bytes.size())) << r.name;
    EXPECT_EQ(vm.Code("ReadLine", {1}), uint32_t(ERR_READRANGE)) << r.name;
    EXPECT_EQ(vm.One("FilePos", {1}).num, end) << r.name;
    vm.Call("CloseFile", {1});
  }
}

// Another program cuts or grows a file while it is open: Eof and FileLength tell the length
// it has now, so that a loop that reads until Eof ends.
TEST(DosFiles, EofFollowsAFileChangedWhileOpen) {
  DosVm vm;
  struct Row {
    const char *name;
    off_t lengthThen;
    double eof, length;
  } rows[] = {
      {"cut before the position", 4, 1, 4},
      {"cut to nothing", 0, 1, 0},
      {"grown", 200, 0, 200},
  };
  for (const Row &r : rows) {
    WriteFileBytes(vm.Path("t.txt"), "line one\nline two\nline three\n");
    ASSERT_EQ(vm.Code("OpenFile", {1, vm.Path("t.txt")}), 0u);
    EXPECT_EQ(vm.One("ReadLine", {1}).str, "line one") << r.name;
    ASSERT_EQ(truncate(vm.Path("t.txt").c_str(), r.lengthThen), 0) << r.name;
    EXPECT_EQ(vm.One("Eof", {1}).num, r.eof) << r.name;
    EXPECT_EQ(vm.One("FileLength", {1}).num, r.length) << r.name;
    int lines = 0;
    while (vm.One("Eof", {1}).num == 0 && lines < 100) {
      vm.Call("ReadLine", {1});
      lines++;
    }
    EXPECT_LT(lines, 100) << r.name;
    vm.Call("CloseFile", {1});
  }
}

// FileLines visits the same lines for the same files, whole however long, and closes the file.
TEST(DosFiles, FileLinesVisitsEveryLine) {
  DosVm vm;
  struct Row {
    const char *name;
    std::string bytes;
    std::vector<std::string> lines;
  } rows[] = {
      {"empty", "", {}},
      {"no final lf", "a\nb", {"a", "b"}},
      {"cr lf", "a\r\nb\r\n", {"a", "b"}},
      {"long line", std::string(5000, 'x') + "\n", {std::string(5000, 'x')}},
  };
  for (const Row &r : rows) {
    WriteFileBytes(vm.Path("f.txt"), r.bytes);
    DosCall c = vm.Call("FileLines", {vm.Path("f.txt")}, true);
    ASSERT_EQ(c.code, 0u);
    int iter = vm_gettop(vm.L);
    std::vector<std::string> seen;
    for (int guard = 0; guard < 100; guard++) {
      vm_pushvalue(vm.L, iter);
      ASSERT_EQ(vm_pcall(vm.L, 0, 1, 0), 0u);
      if (vm_type(vm.L, -1) == VM_TNIL) break;
      seen.emplace_back(vm_tostring(vm.L, -1), vm_strlen(vm.L, -1));
      vm_pop(vm.L, 1);
    }
    vm_settop(vm.L, iter);
    // Called again after the end, it keeps reporting the end.
    vm_pushvalue(vm.L, iter);
    ASSERT_EQ(vm_pcall(vm.L, 0, 1, 0), 0u);
    EXPECT_EQ(vm_type(vm.L, -1), VM_TNIL);
    vm_settop(vm.L, 0);
    EXPECT_EQ(seen, r.lines) << r.name;
  }
}

TEST(DosFiles, AccessModesAreEnforced) {
  DosVm vm;
  WriteFileBytes(vm.Path("a.bin"), "abcdef");
  ASSERT_EQ(vm.Code("OpenFile", {1, vm.Path("a.bin"), kRead}), 0u);
  EXPECT_EQ(vm.Code("WriteChr", {1, 65}), uint32_t(ERR_READONLY));
  EXPECT_EQ(vm.One("FileLength", {1}).num, 6);
  ASSERT_EQ(vm.Code("OpenFile", {2, vm.Path("a.bin"), kReadWrite}), 0u);
  EXPECT_EQ(vm.One("FileLength", {2}).num, 6);
  EXPECT_EQ(vm.One("ReadChr", {2}).num, 'a');
  // Re-opening an open id closes the old file first.
  ASSERT_EQ(vm.Code("OpenFile", {2, vm.Path("b.bin"), kWrite}), 0u);
  EXPECT_EQ(vm.One("FileLength", {2}).num, 0);
  EXPECT_EQ(vm.Code("ReadChr", {2}), uint32_t(ERR_WRITEONLY));
  EXPECT_EQ(vm.Code("OpenFile", {3, vm.Path("a.bin"), 1234}), uint32_t(ERR_WRONGUSAGE));
  EXPECT_EQ(vm.Code("OpenFile", {3, ""}), uint32_t(ERR_WRONGUSAGE));
  EXPECT_EQ(vm.Code("ReadChr", {9}), uint32_t(ERR_FINDFILE));
  EXPECT_EQ(vm.Code("SetIOMode", {2}), uint32_t(ERR_WRONGUSAGE));
  EXPECT_EQ(vm.Code("SetIOMode", {1}), 0u);
  // Seeking: EOF is the size; past the size, negative or not a number is refused.
  EXPECT_EQ(vm.Code("Seek", {1, -1}), 0u);
  EXPECT_EQ(vm.One("FilePos", {1}).num, 6);
  EXPECT_EQ(vm.Code("Seek", {1, 7}), uint32_t(ERR_SEEK));
  EXPECT_EQ(vm.Code("Seek", {1, -2}), uint32_t(ERR_SEEK));
  EXPECT_EQ(vm.Code("Seek", {1, 1e300}), uint32_t(ERR_SEEK));
  EXPECT_EQ(vm.Code("Seek", {1, 2}), 0u);
  EXPECT_EQ(vm.One("ReadString", {1, 3}).str, "cde");
  EXPECT_EQ(vm.One("ReadString", {1, 0}).str, "");
  EXPECT_EQ(vm.Code("ReadString", {1, 2}), uint32_t(ERR_READRANGE));
  // An automatic id is a handle; once closed it names nothing.
  DosVal h = vm.One("OpenFile", {DosVal(), vm.Path("a.bin")});
  ASSERT_EQ(h.kind, DosVal::HANDLE);
  EXPECT_EQ(vm.One("ReadChr", {h}).num, 'a');
  EXPECT_EQ(vm.Code("CloseFile", {h}), 0u);
  EXPECT_EQ(vm.Code("ReadChr", {h}), uint32_t(ERR_FINDARRAY));
}

// Files that are not regular, or cannot be read, fail to open instead of blocking.
TEST(DosFiles, OddFilesAreRefused) {
  DosVm vm;
  ASSERT_EQ(mkfifo(vm.Path("fifo").c_str(), 0600), 0);
  mkdir(vm.Path("dir").c_str(), 0755);
  WriteFileBytes(vm.Path("secret"), "x");
  chmod(vm.Path("secret").c_str(), 0);
  std::vector<std::string> names = {"fifo", "dir", "missing"};
  if (geteuid() != 0) names.push_back("secret");
  for (const std::string &n : names) {
    EXPECT_EQ(vm.Code("OpenFile", {1, vm.Path(n)}), uint32_t(ERR_READFILE)) << n;
    EXPECT_EQ(vm.Code("FileToString", {vm.Path(n)}), uint32_t(ERR_READFILE)) << n;
    EXPECT_EQ(vm.Code("FileLines", {vm.Path(n)}), uint32_t(ERR_READFILE)) << n;
  }
  EXPECT_EQ(vm.Code("OpenFile", {1, vm.Path("fifo"), kWrite}), uint32_t(ERR_WRITEFILE));
  EXPECT_EQ(vm.Code("OpenFile", {1, vm.Path("dir"), kWrite}), uint32_t(ERR_WRITEFILE));
}

// A full disk is reported, though the data only fails when the buffer reaches the file.
TEST(DosFiles, FullDiskIsAnError) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  DosVm vm;
  EXPECT_EQ(vm.Code("StringToFile", {"data", "/dev/full"}), uint32_t(ERR_WRITE));
  ASSERT_EQ(vm.Code("OpenFile", {1, "/dev/full", kWrite}), 0u);
  EXPECT_EQ(vm.Code("WriteLine", {1, "data"}), 0u);
  EXPECT_EQ(vm.Code("CloseFile", {1}), uint32_t(ERR_WRITE));
}

TEST(DosFiles, WholeFilesAsStrings) {
  DosVm vm;
  std::string bytes;
  for (int i = 0; i < 40000; i++) bytes.push_back(char(i * 7));
  EXPECT_EQ(vm.Code("StringToFile", {bytes, vm.Path("s.bin")}), 0u);
  EXPECT_EQ(ReadFileBytes(vm.Path("s.bin")), bytes);
  DosCall c = vm.Call("FileToString", {vm.Path("s.bin")});
  ASSERT_EQ(c.code, 0u);
  ASSERT_EQ(c.results.size(), 2u);
  EXPECT_EQ(c.results[0].str, bytes);
  EXPECT_EQ(c.results[1].num, double(bytes.size()));
  EXPECT_EQ(vm.Code("StringToFile", {"", vm.Path("e.bin")}), 0u);
  EXPECT_EQ(vm.One("FileToString", {vm.Path("e.bin")}).str, "");
}

// FileToString reads into the script's string itself; the result must still be the one string
// of its content, the same object as that text made any other way.
TEST(DosFiles, FileToStringGivesTheInternedString) {
  DosVm vm;
  struct Row {
    const char *name;
    std::string bytes;
  } rows[] = {
      {"text the script also holds", "hello"},
      {"empty", ""},
      {"zero bytes inside", std::string("a\0\0b", 4)},
      {"longer than a read block", std::string(70000, 'q') + "end"},
  };
  for (const Row &r : rows) {
    WriteFileBytes(vm.Path("i.bin"), r.bytes);
    vm_pushlstring(vm.L, r.bytes.data(), r.bytes.size());
    vm.SetGlobal("held");
    DosCall c = vm.Call("FileToString", {vm.Path("i.bin")}, true);
    ASSERT_EQ(c.code, 0u) << r.name;
    EXPECT_EQ(c.results[0].str, r.bytes) << r.name;
    EXPECT_EQ(c.results[1].num, double(r.bytes.size())) << r.name;
    vm_pushstring(vm.L, "held");
    vm_gettable(vm.L, VM_GLOBALSINDEX);
    EXPECT_EQ(vm_tostring(vm.L, 1), vm_tostring(vm.L, -1)) << r.name;  // one string object
    EXPECT_EQ(vm_rawequal(vm.L, 1, -1), 1) << r.name;
  }
}

TEST(DosFiles, FileToStringBeyondTheMemoryLimitIsErrMem) {
  DosVm vm;
  WriteFileBytes(vm.Path("big.bin"), std::string(4u << 20, 'b'));
  G(vm.L)->memlimit = G(vm.L)->nblocks + (1u << 20);
  EXPECT_EQ(vm.Code("FileToString", {vm.Path("big.bin")}), uint32_t(ERR_MEM));
  G(vm.L)->memlimit = 0;
  EXPECT_EQ(vm.One("FileToString", {vm.Path("big.bin")}).str.size(), size_t(4u << 20));
}

// Files left open are closed when the library is freed.
TEST(DosFiles, ShutDownClosesFilesAndDeletesTemporaryFiles) {
  std::string temp;
  {
    DosVm vm;
    ASSERT_EQ(vm.Code("OpenFile", {1, vm.Path("o.bin"), kWrite}), 0u);
    ASSERT_EQ(vm.Code("WriteString", {1, "kept"}), 0u);
    temp = vm.One("GetTempFileName", {}).str;
    struct stat st;
    ASSERT_EQ(stat(temp.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    vm.Close();
    EXPECT_EQ(ReadFileBytes(vm.Path("o.bin")), "kept");
  }
  EXPECT_NE(access(temp.c_str(), F_OK), 0);
}

}  // namespace
