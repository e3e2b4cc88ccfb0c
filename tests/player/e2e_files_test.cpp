// Files through the real player: a file the applet declares is open under its id when the
// script starts, and a program linked into the applet is copied out once however often it runs.
#include <filesystem>

#include "tests/player/e2e_util.h"

namespace {

// DebugPrint(ReadLine(1)) twice, then DebugPrint(Eof(1)).
const char kReadsDeclaredFile[] =
    ".func source=\"f.qms\" maxstack=4\n"
    "  .k \"debugprint\" \"readline\" 1 \"eof\"\n"
    "      GETGLOBAL 0 k0 @1\n"
    "      GETGLOBAL 1 k1\n"
    "      LOADK 2 k2\n"
    "      CALL 1 2 2\n"
    "      CALL 0 2 1\n"
    "      GETGLOBAL 0 k0 @2\n"
    "      GETGLOBAL 1 k1\n"
    "      LOADK 2 k2\n"
    "      CALL 1 2 2\n"
    "      CALL 0 2 1\n"
    "      GETGLOBAL 0 k0 @3\n"
    "      GETGLOBAL 1 k3\n"
    "      LOADK 2 k2\n"
    "      CALL 1 2 2\n"
    "      CALL 0 2 1\n"
    "      RETURN 0 1 @4\n"
    ".end\n";

// Execute(first) on line 1 and Execute(second) on line 2.
std::string ExecutesTwice(const std::string &first, const std::string &second) {
  return ".func source=\"r.qms\" maxstack=3\n"
         "  .k \"execute\" \"" + first + "\" \"" + second + "\"\n"
         "      GETGLOBAL 0 k0 @1\n"
         "      LOADK 1 k1\n"
         "      CALL 0 2 1\n"
         "      GETGLOBAL 0 k0 @2\n"
         "      LOADK 1 k2\n"
         "      CALL 0 2 1\n"
         "      RETURN 0 1 @3\n"
         ".end\n";
}

}  // namespace

TEST(E2eFiles, DeclaredFileIsOpenWhenTheScriptStarts) {
  PlayerDir d;
  std::filesystem::create_directory(d / "sub");
  struct Case {
    const char *name;
    std::string declared;  // the name in the declaration
    std::string file;      // where the file is written
    std::string bytes;
  } cases[] = {
      {"relative name, line feeds", "data.txt", d / "data.txt", "first line\nsecond\n"},
      {"relative name in a folder, CR LF and no final newline", "sub/data.txt", d / "sub/data.txt",
       "first line\r\nsecond"},
      {"absolute name", d / "abs.txt", d / "abs.txt", "first line\nsecond\n"},
  };
  for (const Case &c : cases) {
    WriteFile(c.file, c.bytes);
    qmtools::AppletDecl file;
    file.type = 8;  // a file declaration
    file.id = 1;
    file.name = c.declared;
    file.line = 1;
    qmtools::AppletBuilder b;
    b.Version(5, 2).Includes({{1, 100, 0, "f.qms"}}).Declarations({file}).Bytecode(ChunkOf(kReadsDeclaredFile));
    qmtools::WriteBytes(d / "f.qma", b.Bytes());
    PlayerResult r = d.Run({d / "f.qma"});
    EXPECT_EQ(r.status, 0) << c.name << "\n" << r.out << r.err;
    EXPECT_NE(r.out.find("first line\nsecond\n1\n"), std::string::npos) << c.name << "\n" << r.out;
  }
}

// The program is the linked "prog.sh"; it writes its own path and its argument to a file, so
// both runs must name the same private copy, and that copy is gone after the run.
TEST(E2eFiles, LinkedProgramIsCopiedOnceForTwoRuns) {
  PlayerDir d;
  std::string out = d / "runs.txt";
  qmtools::AppletBuilder b;
  b.Version(5, 2).Includes({{1, 100, 0, "r.qms"}});
  b.LinkedFiles({{"prog.sh", "#!/bin/sh\necho \"$0 $1\" >> \"$2\"\n"}});
  b.Bytecode(ChunkOf(ExecutesTwice("prog.sh one " + out, "prog.sh two " + out)));
  qmtools::WriteBytes(d / "r.qma", b.Bytes());
  PlayerResult r = d.Run({d / "r.qma"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  std::string runs = ReadWholeFile(out);
  size_t split = runs.find('\n');
  ASSERT_NE(split, std::string::npos) << runs;
  std::string first = runs.substr(0, split), second = runs.substr(split + 1);
  ASSERT_GT(first.size(), 4u) << runs;
  std::string copy = first.substr(0, first.size() - 4);
  EXPECT_EQ(first, copy + " one");
  EXPECT_EQ(second, copy + " two\n");
  EXPECT_EQ(copy.rfind(d / "tmp/", 0), 0u) << copy << " is not in the run's temporary folder";
  EXPECT_EQ(copy.substr(copy.size() - 3), ".sh") << "the copy keeps the extension";
  EXPECT_FALSE(std::filesystem::exists(copy));
  EXPECT_EQ(d.TempEntries(), 0u);
}
