#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "runtime/errcodes.h"
#include "tests/io/dos/dos_test_vm.h"

namespace {

struct Message {
  double action;
  std::string source, destination, file;
  double copied;
};
std::vector<Message> gMessages;
double gAnswer = 0;  // answer of every call
int gAbortAfter = -1;  // answer 1 from that call on

uint32_t Record(VmState *L) {
  Message m{};
  auto field = [&](const char *key) {
    vm_pushstring(L, key);
    vm_gettable(L, 1);
    std::string s = vm_type(L, -1) == VM_TSTRING ? vm_tostring(L, -1) : "";
    double d = vm_type(L, -1) == VM_TNUMBER ? vm_tonumber(L, -1) : -99;
    vm_pop(L, 1);
    return std::make_pair(s, d);
  };
  m.action = field("action").second;
  m.source = field("source").first;
  m.destination = field("destination").first;
  m.file = field("file").first;
  m.copied = field("copied").second;
  gMessages.push_back(m);
  vm_pushnumber(L, gAbortAfter >= 0 && int(gMessages.size()) > gAbortAfter ? 1 : gAnswer);
  return 1;
}

// CopyFile or DeleteFile with the arguments, the recording callback in its place when wanted.
uint32_t Walk(DosVm &vm, const char *command, std::vector<DosVal> before, bool callback,
              std::vector<DosVal> after = {}) {
  gMessages.clear();
  vm_settop(vm.L, 0);
  vm.PushCommand(command);
  for (auto &v : before) DosVm::Push(vm.L, v);
  if (callback) vm_pushcfunction(vm.L, Record);
  else vm_pushnil(vm.L);
  for (auto &v : after) DosVm::Push(vm.L, v);
  uint32_t code = vm_pcall(vm.L, int(before.size() + 1 + after.size()), 0, 0);
  vm_settop(vm.L, 0);
  return code;
}

TEST(DosCopy, CopiesFilesIntoNewDirectories) {
  DosVm vm;
  std::string data(40000, 'd');
  WriteFileBytes(vm.Path("a.txt"), data);
  chmod(vm.Path("a.txt").c_str(), 0640);
  EXPECT_EQ(Walk(vm, "CopyFile", {vm.Path("a.txt"), vm.Path("new/deep"), ""}, false), 0u);
  int status = -1;
  Shell("cmp -s " + vm.Path("a.txt") + " " + vm.Path("new/deep/a.txt"), &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Shell("stat -c %a " + vm.Path("new/deep/a.txt")), "640\n");
  EXPECT_EQ(Walk(vm, "CopyFile", {vm.Path("a.txt"), vm.Path("new"), "b.txt"}, true), 0u);
  EXPECT_EQ(ReadFileBytes(vm.Path("new/b.txt")), data);
  // Three blocks of 16,384 bytes at most: three status messages with the running count.
  ASSERT_EQ(gMessages.size(), 3u);
  EXPECT_EQ(gMessages[2].copied, 40000);
  EXPECT_EQ(gMessages[0].destination, vm.Path("new/b.txt"));
  // A file onto itself is refused, and the source is untouched.
  EXPECT_EQ(Walk(vm, "CopyFile", {vm.Path("a.txt"), vm.dir.path(), ""}, false), uint32_t(ERR_WRONGUSAGE));
  EXPECT_EQ(ReadFileBytes(vm.Path("a.txt")), data);
}

// Copies of sizes around the block size, with and without a callback, from a plain file and
// from a virtual window, into this file system and into another one where there is one (the
// system copies within one; across, or from a window, the buffer does). Each copy is held
// against its peer with cmp: cp's copy of the file, or the window's bytes cut out by tail and
// head. With a callback there is one status message per block of 16,384 bytes, with the
// running count.
TEST(DosCopy, CopiesMatchCpAtEverySize) {
  DosVm vm;
  std::vector<std::string> targets = {vm.Path("out")};
  char shm[] = "/dev/shm/qmtest-XXXXXX";
  bool otherFileSystem = access("/dev/shm", W_OK) == 0 && mkdtemp(shm) != nullptr;
  if (otherFileSystem) targets.push_back(shm);
  const uint64_t sizes[] = {0, 1, 16383, 16384, 16385, 3 * 16384 + 7, (1u << 20) + 3};
  for (uint64_t size : sizes) {
    std::string bytes(size + 2000, '\0');
    uint32_t x = uint32_t(size) + 1;
    for (char &c : bytes) c = char((x = x * 1103515245u + 12345u) >> 24);
    WriteFileBytes(vm.Path("container"), bytes);
    WriteFileBytes(vm.Path("plain"), bytes.substr(1000, size));
    Shell("rm -f " + vm.Path("by_cp") + " && cp " + vm.Path("plain") + " " + vm.Path("by_cp"));
    Shell("tail -c +1001 " + vm.Path("container") + " | head -c " + std::to_string(size) + " > " +
          vm.Path("by_tail"));
    struct Source {
      const char *kind;
      std::string name, peer;
    };
    std::vector<Source> sources = {{"plain", vm.Path("plain"), vm.Path("by_cp")}};
    if (size > 0)  // a window cannot be empty
      sources.push_back({"virtual", vm.One("DefineVirtualFile", {vm.Path("container"), 1000, double(size), "w.bin"}).str,
                         vm.Path("by_tail")});
    for (const Source &source : sources)
      for (const std::string &target : targets)
        for (bool callback : {false, true}) {
          std::string where = std::string(source.kind) + " source of " + std::to_string(size) + " bytes into " +
                              target + (callback ? " with a callback" : "");
          std::remove((target + "/copy.bin").c_str());
          ASSERT_EQ(Walk(vm, "CopyFile", {source.name, target, "copy.bin"}, callback), 0u) << where;
          int status = -1;
          Shell("cmp -s " + source.peer + " " + target + "/copy.bin", &status);
          EXPECT_EQ(status, 0) << where;
          if (!callback) continue;
          ASSERT_EQ(gMessages.size(), (size + 16383) / 16384) << where;
          for (size_t i = 0; i < gMessages.size(); i++)
            EXPECT_EQ(gMessages[i].copied, double(std::min<uint64_t>((i + 1) * 16384, size))) << where;
        }
  }
  if (otherFileSystem) Shell(std::string("rm -rf ") + shm);
}

TEST(DosCopy, CallbackAnswersDecide) {
  DosVm vm;
  WriteFileBytes(vm.Path("src/big"), "");
  mkdir(vm.Path("src").c_str(), 0755);
  WriteFileBytes(vm.Path("src/big"), std::string(100000, 'b'));
  mkdir(vm.Path("dst").c_str(), 0755);
  // A stop after the first block: success, and no partial target.
  gAbortAfter = 1;
  EXPECT_EQ(Walk(vm, "CopyFile", {vm.Path("src/big"), vm.Path("dst"), ""}, true), 0u);
  gAbortAfter = -1;
  EXPECT_EQ(gMessages.size(), 2u);
  EXPECT_NE(access(vm.Path("dst/big").c_str(), F_OK), 0);
  // An existing target and the answer 0: skipped, untouched.
  WriteFileBytes(vm.Path("dst/big"), "old");
  gAnswer = 0;
  EXPECT_EQ(Walk(vm, "CopyFile", {vm.Path("src/big"), vm.Path("dst"), ""}, true), 0u);
  ASSERT_EQ(gMessages.size(), 1u);
  EXPECT_EQ(gMessages[0].action, 1);
  EXPECT_EQ(ReadFileBytes(vm.Path("dst/big")), "old");
  // A protected target without a callback is skipped.
  chmod(vm.Path("dst/big").c_str(), 0444);
  EXPECT_EQ(Walk(vm, "CopyFile", {vm.Path("src/big"), vm.Path("dst"), ""}, false), 0u);
  EXPECT_EQ(ReadFileBytes(vm.Path("dst/big")), "old");
}

TEST(DosCopy, TreesWithPatternsMatchCp) {
  DosVm vm;
  for (const char *d : {"t", "t/sub", "t/sub/deeper", "t/other.txt.d"}) mkdir(vm.Path(d).c_str(), 0755);
  for (const char *f : {"t/a.txt", "t/b.bin", "t/sub/c.txt", "t/sub/deeper/d.txt", "t/other.txt.d/e.txt"})
    WriteFileBytes(vm.Path(f), f);
  EXPECT_EQ(Walk(vm, "CopyFile", {vm.Path("t"), vm.Path("all"), ""}, false), 0u);
  Shell("cp -r " + vm.Path("t") + " " + vm.Path("bycp"));
  int status = -1;
  Shell("diff -r " + vm.Path("all") + " " + vm.Path("bycp"), &status);
  EXPECT_EQ(status, 0);
  // Only *.txt; sub-directories are entered only when their names match.
  EXPECT_EQ(Walk(vm, "CopyFile", {vm.Path("t/"), vm.Path("txt"), ""}, false, {DosVal(), "*.txt"}), 0u);
  EXPECT_EQ(vm.One("Exists", {vm.Path("txt/a.txt")}).num, 1);
  EXPECT_EQ(vm.One("Exists", {vm.Path("txt/b.bin")}).num, 0);
  EXPECT_EQ(vm.One("Exists", {vm.Path("txt/sub")}).num, 0);
  EXPECT_EQ(vm.One("Exists", {vm.Path("txt/other.txt.d")}).num, 0);
  EXPECT_EQ(Walk(vm, "CopyFile", {vm.Path("t"), vm.Path("txt0"), ""}, false, {DosVal(), "*.txt", 0}), 0u);
  EXPECT_EQ(vm.One("Exists", {vm.Path("txt0/sub/deeper/d.txt")}).num, 1);
  EXPECT_EQ(Walk(vm, "CopyFile", {vm.Path("t/a.txt"), vm.Path("x"), ""}, false, {DosVal(), "*.txt"}),
            uint32_t(ERR_NODIRPATTERN));
  // A tree copied into its own sub-directory ends.
  EXPECT_EQ(Walk(vm, "CopyFile", {vm.Path("t"), vm.Path("t/sub/inner"), ""}, false), 0u);
  EXPECT_EQ(vm.One("Exists", {vm.Path("t/sub/inner/a.txt")}).num, 1);
  EXPECT_EQ(vm.One("Exists", {vm.Path("t/sub/inner/sub/inner")}).num, 0);
}

TEST(DosCopy, DeletingTreesStaysInside) {
  DosVm vm;
  mkdir(vm.Path("outside").c_str(), 0755);
  WriteFileBytes(vm.Path("outside/keep"), "k");
  mkdir(vm.Path("tree").c_str(), 0755);
  mkdir(vm.Path("tree/sub").c_str(), 0755);
  WriteFileBytes(vm.Path("tree/sub/f"), "f");
  WriteFileBytes(vm.Path("tree/ro"), "r");
  chmod(vm.Path("tree/ro").c_str(), 0444);
  ASSERT_EQ(symlink(vm.Path("outside").c_str(), vm.Path("tree/link").c_str()), 0);
  // Without a callback a protected file stays, so the tree does too; the link goes itself.
  EXPECT_EQ(Walk(vm, "DeleteFile", {vm.Path("tree")}, false), 0u);
  EXPECT_EQ(ReadFileBytes(vm.Path("outside/keep")), "k");
  EXPECT_EQ(vm.One("Exists", {vm.Path("tree/ro")}).num, 1);
  EXPECT_EQ(vm.One("Exists", {vm.Path("tree/sub")}).num, 0);
  struct stat st;
  EXPECT_NE(lstat(vm.Path("tree/link").c_str(), &st), 0);
  // With one that answers yes to everything, the rest goes.
  gAnswer = 2;
  EXPECT_EQ(Walk(vm, "DeleteFile", {vm.Path("tree")}, true), 0u);
  gAnswer = 0;
  EXPECT_EQ(vm.One("Exists", {vm.Path("tree")}).num, 0);
  ASSERT_GE(gMessages.size(), 2u);
  EXPECT_EQ(gMessages[0].action, 1);
  EXPECT_EQ(gMessages[0].file, vm.Path("tree/ro"));
  // A trailing separator keeps the directory; a missing name is no error.
  mkdir(vm.Path("keep").c_str(), 0755);
  WriteFileBytes(vm.Path("keep/x"), "x");
  EXPECT_EQ(Walk(vm, "DeleteFile", {vm.Path("keep") + "/"}, false), 0u);
  EXPECT_EQ(vm.One("IsDirectory", {vm.Path("keep")}).num, 1);
  EXPECT_EQ(vm.One("Exists", {vm.Path("keep/x")}).num, 0);
  EXPECT_EQ(Walk(vm, "DeleteFile", {vm.Path("missing")}, false), 0u);
  WriteFileBytes(vm.Path("file"), "f");
  EXPECT_EQ(Walk(vm, "DeleteFile", {vm.Path("file")}, false, {DosVal(), "*"}), uint32_t(ERR_NODIRPATTERN));
  EXPECT_EQ(Walk(vm, "DeleteFile", {":::chunk0:1*a/b"}, false), uint32_t(ERR_WRONGUSAGE));
}

// A quit request pending while a copy, a deletion, a checksum or a packing runs ends it with
// the user abort (not the success a callback's stop gives), and leaves no partial copy.
TEST(DosCopy, AQuitEndsLongFileWork) {
  DosVm vm;
  std::string big(3 << 20, 'b');
  WriteFileBytes(vm.Path("big.bin"), big);
  mkdir(vm.Path("tree").c_str(), 0755);
  for (const char *f : {"tree/a", "tree/b", "tree/c"}) WriteFileBytes(vm.Path(f), "t");
  vm.One("CompressFile", {vm.Path("big.bin"), vm.Path("big.qmpk")});
  struct Row {
    const char *command;
    std::vector<DosVal> args;
    bool callback;
    const char *mustNotExist;  // relative to the folder; null: nothing
    const char *mustStay;
  } rows[] = {
      {"CopyFile", {vm.Path("big.bin"), vm.Path("out"), ""}, false, "out/big.bin", nullptr},
      {"CopyFile", {vm.Path("big.bin"), vm.Path("out"), ""}, true, "out/big.bin", nullptr},
      {"CopyFile", {vm.Path("tree"), vm.Path("treecopy"), ""}, false, "treecopy/a", nullptr},
      {"DeleteFile", {vm.Path("tree")}, false, nullptr, "tree/a"},
      {"MD5", {vm.Path("big.bin")}, false, nullptr, nullptr},
      {"CRC32", {vm.Path("big.bin")}, false, nullptr, nullptr},
      {"CompressFile", {vm.Path("big.bin"), vm.Path("again.qmpk")}, false, nullptr, nullptr},
      {"DecompressFile", {vm.Path("big.qmpk"), vm.Path("unpacked.bin")}, false, nullptr, nullptr},
  };
  for (const Row &r : rows) {
    std::string name = std::string(r.command) + (r.callback ? " with a callback" : "");
    vm_setendrequested(vm.L, 1);
    bool walk = std::string(r.command) == "CopyFile" || std::string(r.command) == "DeleteFile";
    uint32_t code = walk ? Walk(vm, r.command, r.args, r.callback) : vm.Code(r.command, r.args);
    vm_setendrequested(vm.L, 0);
    EXPECT_EQ(code, uint32_t(ERR_USERABORT)) << name;
    if (r.mustNotExist) {
      EXPECT_EQ(vm.One("Exists", {vm.Path(r.mustNotExist)}).num, 0) << name;
    }
    if (r.mustStay) {
      EXPECT_EQ(vm.One("Exists", {vm.Path(r.mustStay)}).num, 1) << name;
    }
  }
  // Without the request the same work completes.
  EXPECT_EQ(Walk(vm, "CopyFile", {vm.Path("big.bin"), vm.Path("out"), ""}, false), 0u);
  EXPECT_EQ(ReadFileBytes(vm.Path("out/big.bin")), big);
}

}  // namespace
