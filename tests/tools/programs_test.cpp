// The programs qmasm and qmdis, and the listing, on good and on broken input.
#include "tools/listing.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "tools/chunkbuilder.h"
#include "tools/qmasm_lib.h"

namespace qmtools {
namespace {

std::vector<uint8_t> Golden() {
  std::ifstream in(QM_SOURCE_DIR "/tests/runtime/vm/golden/golden.qmb", std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct RunResult {
  int status;
  std::string out;
};

// Runs a program of the build's tools folder with stderr joined to stdout.
RunResult RunTool(const std::string &args) {
  std::string cmd = QM_BINARY_DIR "/tools/" + args + " 2>&1";
  FILE *p = popen(cmd.c_str(), "r");
  if (!p) return {-1, ""};
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int status = pclose(p);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

RunResult RunQmdis(const std::string &path) { return RunTool("qmdis '" + path + "'"); }

std::string TempPath(const std::string &name) {
  return (std::filesystem::temp_directory_path() / ("tools_test_" + std::to_string(getpid()) + "_" + name)).string();
}

std::string WriteTemp(const std::string &name, const std::vector<uint8_t> &bytes) {
  std::string path = TempPath(name);
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
  return path;
}

TEST(QmasmProgram, WritesTheChunkOrReportsTheLine) {
  const std::string out = TempPath("out.qmb");
  RunResult ok = RunTool("qmasm " QM_SOURCE_DIR "/tests/runtime/vm/golden/golden.qasm -o '" + out + "'");
  EXPECT_EQ(ok.status, 0) << ok.out;
  std::ifstream in(out, std::ios::binary);
  EXPECT_EQ(std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()), Golden());
  std::filesystem::remove(out);

  const std::string src = WriteTemp("bad.qasm", {'.', 'f', 'u', 'n', 'c', '\n', 'N', 'O', 'P', '\n'});
  RunResult bad = RunTool("qmasm '" + src + "' -o '" + out + "'");
  std::filesystem::remove(src);
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.out, src + ": line 2: unknown mnemonic 'NOP'\n");
  EXPECT_FALSE(std::filesystem::exists(out));

  EXPECT_EQ(RunTool("qmasm only-input.qasm").status, 2);
}

// debugprint(1, "a", nil, 2.5, {}); record(1, "a", nil, true); nosuch()
TEST(QmrunProgram, RunsAChunkAndReportsAnUncaughtError) {
  AsmResult r = AssembleText(R"(
.func maxstack=8
  .k "debugprint" 1 "a" nil 2.5 "record" "nosuch"
      GETGLOBAL 0 k0
      LOADK     1 k1
      LOADK     2 k2
      LOADNIL   3 3
      LOADK     4 k4
      NEWTABLE  5 0 0
      CALL      0 6 1
      GETGLOBAL 0 k5
      LOADK     1 k1
      LOADK     2 k2
      LOADNIL   3 3
      LOADBOOL  4 1 0
      CALL      0 5 1
      GETGLOBAL 0 k6
      CALL      0 1 1
      RETURN    0 1
.end
)");
  ASSERT_TRUE(r.proto) << r.error;
  const std::string chunk = WriteTemp("run.qmb", BuildChunk(*r.proto));
  RunResult run = RunTool("qmrun '" + chunk + "'");
  std::filesystem::remove(chunk);
  EXPECT_EQ(run.status, 1);
  // LOADBOOL gives a number: the script language has no boolean literals.
  EXPECT_EQ(run.out, "1 a  2.5 table\nrecord 1 'a' nil 1\nerror 1133 ERR_FUNCDECLA\n");
  EXPECT_EQ(RunTool("qmrun").status, 2);
}

TEST(Qmdis, BadChunksPrintTheLoaderErrorAndFail) {
  std::vector<uint8_t> golden = Golden();
  ASSERT_GT(golden.size(), 100u);
  std::vector<uint8_t> mismatch = golden;
  mismatch[10] = 8;  // bits of field B
  const std::string text = "print(1)\n";
  struct Case {
    const char *name;
    std::vector<uint8_t> bytes;
    const char *output;
  } cases[] = {
      {"cut.qmb", std::vector<uint8_t>(golden.begin(), golden.begin() + 100), "error 1198 ERR_UNEXPECTEDEOF\n"},
      {"source.qmb", std::vector<uint8_t>(text.begin(), text.end()), "error 1204 ERR_BADSIGNATURE\n"},
      {"mismatch.qmb", mismatch, "error 1199 ERR_VMMISMATCH\n"},
  };
  for (const Case &c : cases) {
    std::string path = WriteTemp(c.name, c.bytes);
    RunResult r = RunQmdis(path);
    std::filesystem::remove(path);
    EXPECT_EQ(r.status, 1) << c.name;
    EXPECT_EQ(r.out, c.output) << c.name;
  }
  RunResult missing = RunQmdis("/nonexistent/none.qmb");
  EXPECT_NE(missing.status, 0);
  EXPECT_EQ(missing.out.find("error 1"), std::string::npos);
}

TEST(Qmdis, GoodChunkListsAndSucceeds) {
  std::string path = WriteTemp("golden.qmb", Golden());
  RunResult r = RunQmdis(path);
  std::filesystem::remove(path);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("chunk ", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("sizes 4 4 4 6 8 9 9 8, test number 31415926.535897933\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  p0:\n    function \"@golden.qms\" line 3:"), std::string::npos) << r.out;
}

// The whole listing of a small program, nested function included.
TEST(Listing, ShowsFieldsConstantsAndOperands) {
  AsmResult a = AssembleText(R"(
.func params=1 vararg=1 maxstack=4
  .k "s\0\n" nan -0 -inf 1e20
  .local "x" 0 6
top:  ADD      2 k4 1      @3
      GETGLOBAL 1 k0
      JMP      end gosub
      FORLOOP  0 top
      CLOSURE  3 p0
      MOVE     0
end:  RETURN   0 1 1
  .func line=9 upvals=1 maxstack=2
    .upval up
      SETLIST  0 0
      RETURN   0 1
  .end
.end
)");
  ASSERT_TRUE(a.proto) << a.error;
  a.proto->protos[0].upvalueNames = {std::nullopt};  // size 0: the loader makes it ""
  std::vector<uint8_t> chunk = BuildChunk(*a.proto);
  ChunkListing l = ListChunk(chunk.data(), chunk.size(), "=test");
  ASSERT_EQ(l.error, 0u) << l.text;
  EXPECT_EQ(l.text, R"(chunk =test: 220 bytes, byte order 1, sizes 4 4 4 6 8 9 9 8, test number 31415926.535897933
function "=test" line 0: upvalues 0, params 1, vararg 1, maxstack 4
  constants 5
    k0 = "s\0\n"
    k1 = nan
    k2 = -0
    k3 = -inf
    k4 = 1e+20
  locals 1
    "x" 0 6
  upvalue names 0
  code 7, line info 7
    [  0] @3     ADD       2 k4 1
    [  1] @3     GETGLOBAL 1 k0  ; "s\0\n"
    [  2] @3     JMP       3 gosub  ; to 6
    [  3] @3     FORLOOP   0 -4  ; to 0
    [  4] @3     CLOSURE   3 p0
    [  5] @3     MOVE      0 0 0
    [  6] @3     RETURN    0 1 1
  functions 1
  p0:
    function "=test" line 9: upvalues 1, params 0, vararg 0, maxstack 2
      constants 0
      locals 0
      upvalue names 1
        u0 ""
      code 2, line info 0
        [  0]        SETLIST   0 0
        [  1]        RETURN    0 1 0
      functions 0
)");
}

}  // namespace
}  // namespace qmtools
