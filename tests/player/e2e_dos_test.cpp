// The dos library and the platform services under it, run by the real player: names, paths,
// virtual and packed files, copies and deletes, the environment, the user's language and
// country, catalogs and message ports. Each row is one command; a row that expects an error
// runs with ExitOnError off and prints GetLastError instead of the command's results.
#include <filesystem>
#include <string>
#include <vector>

#include "tests/player/e2e_util.h"

namespace {

struct Row {
  std::string name;
  std::vector<ScriptArg> args;
  std::string expected;  // the printed results, or "err <code>"
};

// The script of the rows after ExitOnError(0); the lines that it prints, one per row.
std::string ScriptOfRows(const std::vector<Row> &rows) {
  std::vector<ScriptLine> lines = {{false, "ExitOnError", {0.0}}};
  for (const Row &r : rows) {
    if (r.expected.rfind("err ", 0) == 0) {
      lines.push_back({false, r.name, r.args});
      lines.push_back({true, "GetLastError", {}});
    } else {
      lines.push_back({true, r.name, r.args});
    }
  }
  return ScriptOf(lines);
}

std::vector<std::string> Lines(const std::string &text) {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
    out.push_back(text.substr(start, nl - start));
  return out;
}

// Runs the rows in one player and compares every printed line with its row.
void ExpectRows(const PlayerDir &d, const std::vector<Row> &rows, const std::vector<std::string> &env = {}) {
  qmtools::WriteBytes(d / "rows.qma", AppletOf(ScriptOfRows(rows)));
  PlayerResult r = d.Run({d / "rows.qma", "-quiet"}, env);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  std::vector<std::string> got = Lines(r.out);
  ASSERT_EQ(got.size(), rows.size()) << r.out;
  for (size_t i = 0; i < rows.size(); i++) {
    std::string want = rows[i].expected.rfind("err ", 0) == 0 ? rows[i].expected.substr(4) : rows[i].expected;
    EXPECT_EQ(got[i], want) << "row " << i << ": " << rows[i].name;
  }
}

// An IFF catalog of more than 100 bytes holding the strings 5 "five" and 7 "seven".
std::string IffCatalog() {
  auto u32 = [](uint32_t v) {
    return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
  };
  auto entry = [&](uint32_t id, const std::string &text) {
    std::string bytes = text + '\0';
    std::string e = u32(id) + u32(uint32_t(bytes.size())) + bytes;
    return e + std::string((4 - bytes.size() % 4) % 4, '\0');
  };
  std::string strs = entry(5, "five") + entry(7, "seven");
  std::string version = std::string("$VER: catalog of the e2e test 1.0 for the dos rows") + '\0';
  if (version.size() % 2) version += '\0';
  std::string body = "CTLGFVER" + u32(uint32_t(version.size())) + version + "STRS" + u32(uint32_t(strs.size())) + strs;
  return "FORM" + u32(uint32_t(body.size())) + body;
}

// ExitOnError(0)
// OpenFile(1, "@OUT@", MODE_WRITE)
// WriteTable(1, {x = 1, name = "ours", nested = {k = "v", [2] = -1}})
// CloseFile(1)
// OpenFile(2, "@PEER@")
// t = ReadTable(2)
// DebugPrint(t.name, t[1], t.nested.k, t.nested[2], StrLen(t.big))
// u = ReadTable(2)
// DebugPrint(u[1])
// ReadTable(2)
// DebugPrint(GetLastError())
const char kTablesBothWays[] = R"(.func source="s.qms" maxstack=16
  .k "exitonerror" 0 "openfile" 1 "@OUT@" 1006 "writetable" "x" "name" "ours" "nested" "k" "v" 2 -1 "closefile" "@PEER@" "readtable" "t" "debugprint" "strlen" "big" "u" "getlasterror"
    GETGLOBAL 0 k0 @1
    LOADK 1 k1 @1
    CALL 0 2 1 @1
    GETGLOBAL 0 k2 @2
    LOADK 1 k3 @2
    LOADK 2 k4 @2
    LOADK 3 k5 @2
    CALL 0 4 1 @2
    GETGLOBAL 0 k6 @3
    LOADK 1 k3 @3
    NEWTABLE 2 0 0 @3
    LOADK 3 k3 @3
    SETTABLE 2 k7 3 @3
    LOADK 3 k9 @3
    SETTABLE 2 k8 3 @3
    NEWTABLE 3 0 0 @3
    LOADK 4 k12 @3
    SETTABLE 3 k11 4 @3
    LOADK 4 k14 @3
    SETTABLE 3 k13 4 @3
    SETTABLE 2 k10 3 @3
    CALL 0 3 1 @3
    GETGLOBAL 0 k15 @4
    LOADK 1 k3 @4
    CALL 0 2 1 @4
    GETGLOBAL 0 k2 @5
    LOADK 1 k13 @5
    LOADK 2 k16 @5
    CALL 0 3 1 @5
    GETGLOBAL 0 k17 @6
    LOADK 1 k13 @6
    CALL 0 2 2 @6
    SETGLOBAL 0 k18 @6
    GETGLOBAL 0 k19 @7
    GETGLOBAL 1 k18 @7
    GETTABLE 1 1 k8 @7
    GETGLOBAL 2 k18 @7
    GETTABLE 2 2 k3 @7
    GETGLOBAL 3 k18 @7
    GETTABLE 3 3 k10 @7
    GETTABLE 3 3 k11 @7
    GETGLOBAL 4 k18 @7
    GETTABLE 4 4 k10 @7
    GETTABLE 4 4 k13 @7
    GETGLOBAL 5 k20 @7
    GETGLOBAL 6 k18 @7
    GETTABLE 6 6 k21 @7
    CALL 5 2 0 @7
    CALL 0 0 1 @7
    GETGLOBAL 0 k17 @8
    LOADK 1 k13 @8
    CALL 0 2 2 @8
    SETGLOBAL 0 k22 @8
    GETGLOBAL 0 k19 @9
    GETGLOBAL 1 k22 @9
    GETTABLE 1 1 k3 @9
    CALL 0 2 1 @9
    GETGLOBAL 0 k17 @10
    LOADK 1 k13 @10
    CALL 0 2 1 @10
    GETGLOBAL 0 k19 @11
    GETGLOBAL 1 k23 @11
    CALL 1 1 0 @11
    CALL 0 0 1 @11
    RETURN 0 1 @13
.end
)";

// Function stop(m) DebugPrint("stop", m.action, m.copied, m.filesize, m.userdata) Return(1) EndFunction
// Function over(m) DebugPrint("over", m.action, FilePart(m.source), FilePart(m.destination)) Return(0) EndFunction
// Function del(m) DebugPrint("del", m.action, FilePart(m.file), m.userdata) Return(2) EndFunction
// Function bad(m) Return(m.nothing) EndFunction      ; a field that does not exist: an error
// ExitOnError(0)
// CopyFile("@SRC@/big.bin", "@DST@", "", stop, "u")
// DebugPrint(GetLastError(), Exists("@DST@/big.bin"))
// CopyFile("@SRC@/small.txt", "@DST@")
// CopyFile("@SRC@/small.txt", "@DST@", "", over)
// SetFileAttributes("@DST@/small.txt", {flags = FILEATTR_READ_USR})
// DeleteFile("@DST@/", del, "ud")
// DebugPrint(Exists("@DST@"), Exists("@DST@/small.txt"))
// CopyFile("@SRC@/big.bin", "@DST@", "", bad)
// DebugPrint(GetLastError(), Exists("@DST@/big.bin"))
const char kCopyAndDeleteCallbacks[] = R"(.func source="c.qms" maxstack=16
  .func source="c.qms" maxstack=16 params=1
    .k "debugprint" "stop" "action" "copied" "filesize" "userdata" 1
      GETGLOBAL 1 k0 @2
      LOADK 2 k1 @2
      MOVE 3 0 @2
      GETTABLE 3 3 k2 @2
      MOVE 4 0 @2
      GETTABLE 4 4 k3 @2
      MOVE 5 0 @2
      GETTABLE 5 5 k4 @2
      MOVE 6 0 @2
      GETTABLE 6 6 k5 @2
      CALL 1 6 1 @2
      LOADK 1 k6 @3
      RETURN 1 2 @3
      RETURN 0 1 @4
  .end
  .func source="c.qms" maxstack=16 params=1
    .k "debugprint" "over" "action" "filepart" "source" "destination" 0
      GETGLOBAL 1 k0 @6
      LOADK 2 k1 @6
      MOVE 3 0 @6
      GETTABLE 3 3 k2 @6
      GETGLOBAL 4 k3 @6
      MOVE 5 0 @6
      GETTABLE 5 5 k4 @6
      CALL 4 2 2 @6
      GETGLOBAL 5 k3 @6
      MOVE 6 0 @6
      GETTABLE 6 6 k5 @6
      CALL 5 2 0 @6
      CALL 1 0 1 @6
      LOADK 1 k6 @7
      RETURN 1 2 @7
      RETURN 0 1 @8
  .end
  .func source="c.qms" maxstack=16 params=1
    .k "debugprint" "del" "action" "filepart" "file" "userdata" 2
      GETGLOBAL 1 k0 @10
      LOADK 2 k1 @10
      MOVE 3 0 @10
      GETTABLE 3 3 k2 @10
      GETGLOBAL 4 k3 @10
      MOVE 5 0 @10
      GETTABLE 5 5 k4 @10
      CALL 4 2 2 @10
      MOVE 5 0 @10
      GETTABLE 5 5 k5 @10
      CALL 1 5 1 @10
      LOADK 1 k6 @11
      RETURN 1 2 @11
      RETURN 0 1 @12
  .end
  .func source="c.qms" maxstack=16 params=1
    .k "nothing"
      MOVE 1 0 @14
      GETTABLE 1 1 k0 @14
      RETURN 1 2 @14
      RETURN 0 1 @15
  .end
  .k "stop" "over" "del" "bad" "exitonerror" 0 "copyfile" "@SRC@/big.bin" "@DST@" "" "u" "debugprint" "getlasterror" "exists" "@DST@/big.bin" "@SRC@/small.txt" "setfileattributes" "@DST@/small.txt" "flags" 1 "deletefile" "@DST@/" "ud"
    CLOSURE 0 p0 @4
    SETGLOBAL 0 k0 @4
    CLOSURE 0 p1 @8
    SETGLOBAL 0 k1 @8
    CLOSURE 0 p2 @12
    SETGLOBAL 0 k2 @12
    CLOSURE 0 p3 @15
    SETGLOBAL 0 k3 @15
    GETGLOBAL 0 k4 @16
    LOADK 1 k5 @16
    CALL 0 2 1 @16
    GETGLOBAL 0 k6 @17
    LOADK 1 k7 @17
    LOADK 2 k8 @17
    LOADK 3 k9 @17
    GETGLOBAL 4 k0 @17
    LOADK 5 k10 @17
    CALL 0 6 1 @17
    GETGLOBAL 0 k11 @18
    GETGLOBAL 1 k12 @18
    CALL 1 1 2 @18
    GETGLOBAL 2 k13 @18
    LOADK 3 k14 @18
    CALL 2 2 0 @18
    CALL 0 0 1 @18
    GETGLOBAL 0 k6 @19
    LOADK 1 k15 @19
    LOADK 2 k8 @19
    CALL 0 3 1 @19
    GETGLOBAL 0 k6 @20
    LOADK 1 k15 @20
    LOADK 2 k8 @20
    LOADK 3 k9 @20
    GETGLOBAL 4 k1 @20
    CALL 0 5 1 @20
    GETGLOBAL 0 k16 @21
    LOADK 1 k17 @21
    NEWTABLE 2 0 0 @21
    LOADK 3 k19 @21
    SETTABLE 2 k18 3 @21
    CALL 0 3 1 @21
    GETGLOBAL 0 k20 @22
    LOADK 1 k21 @22
    GETGLOBAL 2 k2 @22
    LOADK 3 k22 @22
    CALL 0 4 1 @22
    GETGLOBAL 0 k11 @23
    GETGLOBAL 1 k13 @23
    LOADK 2 k8 @23
    CALL 1 2 2 @23
    GETGLOBAL 2 k13 @23
    LOADK 3 k17 @23
    CALL 2 2 0 @23
    CALL 0 0 1 @23
    GETGLOBAL 0 k6 @24
    LOADK 1 k7 @24
    LOADK 2 k8 @24
    LOADK 3 k9 @24
    GETGLOBAL 4 k3 @24
    CALL 0 5 1 @24
    GETGLOBAL 0 k11 @25
    GETGLOBAL 1 k12 @25
    CALL 1 1 2 @25
    GETGLOBAL 2 k13 @25
    LOADK 3 k14 @25
    CALL 2 2 0 @25
    CALL 0 0 1 @25
    RETURN 0 1 @27
.end
)";

}  // namespace

TEST(E2eDos, NamesPathsVirtualAndPackedFiles) {
  PlayerDir d;
  const std::string w = d / "w";
  std::filesystem::create_directories(w + "/sub");
  WriteFile(w + "/a.txt", "hello");
  WriteFile(w + "/empty.bin", "");
  std::string bytes;
  for (int i = 0; i < 256; i++) bytes += char(i);
  WriteFile(w + "/data.bin", bytes);
  const std::string window = ":::chunk100:20*pic.png/" + w + "/data.bin";  // w is absolute: two slashes
  std::vector<Row> rows = {
      {"Exists", {w + "/a.txt"}, "1"},
      {"Exists", {""}, "0"},
      {"FileSize", {w + "/a.txt"}, "5"},
      {"FileSize", {w + "/missing"}, "-1"},
      {"IsDirectory", {w + "/sub"}, "1"},
      {"IsDirectory", {w + "/missing"}, "err 1286"},
      {"DefineVirtualFile", {w + "/data.bin", 100.0, 20.0, "dir/pic.png"}, window},
      {"FileSize", {window}, "20"},
      {"FilePart", {window}, "pic.png"},
      {"MD5", {window}, "0a3b28f1b8b348c39057b2f191bc27f6"},  // bytes 100..119
      {"DefineVirtualFile", {w + "/data.bin", 0.0, 0.0, "x"}, "err 1055"},
      {"UndefineVirtualStringFile", {window}, "err 1055"},
      {"PathPart", {window}, "err 1055"},
      {"MatchPattern", {"file12.txt", "file##.txt"}, "1"},
      {"MatchPattern", {"file1a.txt", "file##.txt"}, "0"},
      {"MatchPattern", {"a.TXT", "*.txt"}, "0"},
      {"MatchPattern", {"x.jpg", "*.png;*.jpg"}, "1"},
      {"MatchPattern", {"b", "[!a]"}, "1"},
      {"MatchPattern", {"-", "[a-]"}, "1"},
      {"MatchPattern", {"", "*"}, "1"},
      {"MatchPattern", {"x", ";*"}, "0"},
      {"MatchPattern", {"abc", "[a"}, "0"},
      {"FullPath", {"a", "b"}, "a/b"},
      {"FullPath", {"a\\\\", "b"}, "a\\b"},  // the assembler's escape of one backslash
      {"PathPart", {"a/b/c.txt"}, "a/b/"},
      {"PathPart", {"/c.txt"}, "/"},
      {"PathPart", {"c.txt"}, ""},
      // Rename keeps the file in its folder whatever folder the new name gives.
      {"Rename", {w + "/a.txt", "other/b.txt"}, "err 0"},
      {"FileSize", {w + "/b.txt"}, "5"},
      {"Rename", {w + "/missing", "c.txt"}, "err 1145"},
      {"Rename", {window, "c.txt"}, "err 1055"},
      {"MakeDirectory", {w + "/m/n"}, "err 0"},
      {"IsDirectory", {w + "/m/n"}, "1"},
      {"MakeDirectory", {w + "/b.txt/x"}, "err 1084"},
      {"MakeDirectory", {""}, "err 1055"},
      {"CompressFile", {w + "/empty.bin", w + "/e.qmpk"}, "16"},
      {"DecompressFile", {w + "/e.qmpk", w + "/e.out"}, "0"},
      {"DecompressFile", {w + "/data.bin", w + "/x.out"}, "err 1310"},
      {"Exists", {w + "/x.out"}, "0"},
      {"DecompressFile", {w + "/missing", w + "/x.out"}, "err 1045"},
      {"CopyFile", {w + "/b.txt", w + "/n1/n2"}, "err 0"},
      {"FileSize", {w + "/n1/n2/b.txt"}, "5"},
      {"CopyFile", {"", ""}, "err 1055"},
      {"CopyFile", {w + "/missing", w + "/n1"}, "err 1286"},
      // A trailing separator empties the folder and keeps it.
      {"DeleteFile", {w + "/n1/"}, "err 0"},
      {"Exists", {w + "/n1"}, "1"},
      {"Exists", {w + "/n1/n2"}, "0"},
      {"DeleteFile", {w + "/missing"}, "err 0"},
      {"DeleteFile", {window}, "err 1055"},
      {"SetEnv", {"QM_E2E_DOS", "value"}, "err 0"},
      {"GetEnv", {"QM_E2E_DOS"}, "value 1"},
      {"UnsetEnv", {"QM_E2E_DOS"}, "err 0"},
      {"GetEnv", {"QM_E2E_DOS"}, " 0"},
      {"SetEnv", {"A=B", "value"}, "err 1440"},
      {"Execute", {""}, "err 1055"},
      {"Execute", {"\\\"unclosed"}, "err 1055"},
  };
  ExpectRows(d, rows);
  // The packed file of nothing is the header and zlib's stream of no data.
  std::string packed = ReadWholeFile(w + "/e.qmpk");
  EXPECT_EQ(packed.substr(0, 8), std::string("QMPK\0\0\0\0", 8));
  int status = -1;
  FILE *p = popen(("python3 -c \"import sys,zlib; d=open(sys.argv[1],'rb').read(); "
                   "sys.exit(0 if zlib.decompress(d[8:]) == b'' else 1)\" " + w + "/e.qmpk").c_str(), "r");
  if (p) status = pclose(p);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ReadWholeFile(w + "/e.out"), "");
}

// The language and country come from LANG; a catalog is looked for in the language's folder
// under "Catalogs" beside the program, in both catalog formats; ports are not offered.
TEST(E2eDos, LanguageCountryCatalogsAndPorts) {
  PlayerDir d;
  std::filesystem::create_directories(d / "Catalogs/deutsch");
  WriteFile(d / "Catalogs/deutsch/app.catalog", IffCatalog());
  // An escaped line feed, CR LF line ends and no final line end.
  WriteFile(d / "Catalogs/deutsch/plain.catalog", "a\\nb\r\nzwei\r\ndrei");
  struct Case {
    const char *lang;
    std::string languageAndCountry;
    bool german;
  } cases[] = {
      {"de_CH.UTF-8", "1 29", true},
      {"de", "1 38", true},
      {"C", "18 38", false},
      {"pt", "6 38", false},
      {"en_GB", "0 0", false},
  };
  for (const Case &c : cases) {
    std::vector<Row> rows = {
        {"GetSystemLanguage", {}, c.languageAndCountry.substr(0, c.languageAndCountry.find(' '))},
        {"GetSystemCountry", {}, c.languageAndCountry.substr(c.languageAndCountry.find(' ') + 1)},
        {"OpenCatalog", {"app.catalog"}, "err 0"},
        {"GetCatalogString", {7.0, "d7"}, c.german ? "seven" : "d7"},
        {"GetCatalogString", {6.0, "d6"}, "d6"},
        {"GetCatalogString", {5.0, "d5"}, c.german ? "five" : "d5"},
        {"OpenCatalog", {"plain.catalog"}, "err 0"},
        {"GetCatalogString", {1.0, "d1"}, c.german ? "zwei" : "d1"},
        {"GetCatalogString", {2.0, "d2"}, c.german ? "drei" : "d2"},
        {"GetCatalogString", {3.0, "d3"}, "d3"},
        {"OpenCatalog", {"missing.catalog"}, "err 0"},
        {"GetCatalogString", {1.0, "d1"}, "d1"},
        {"CreatePort", {"port"}, "err 1256"},
        {"SendMessage", {"someport", "hello"}, "err 1275"},
    };
    SCOPED_TRACE(c.lang);
    ExpectRows(d, rows, {std::string("LANG=") + c.lang});
  }
}

// Table records written by the player read back in an independent reader, and records of that
// reader's writer read in the player, one after another up to the file's end.
TEST(E2eDos, TableRecordsAgreeWithAnIndependentPeer) {
  PlayerDir d;
  const std::string peer = std::string(QM_SOURCE_DIR) + "/tests/io/dos/qmt_peer.py";
  const std::string ours = d / "ours.qmt", theirs = d / "peer.qmt";
  int status = -1;
  if (FILE *p = popen(("python3 " + peer + " write " + theirs).c_str(), "r")) status = pclose(p);
  ASSERT_EQ(status, 0);
  std::string text = kTablesBothWays;
  text.replace(text.find("@OUT@"), 5, ours);
  text.replace(text.find("@PEER@"), 6, theirs);
  qmtools::WriteBytes(d / "s.qma", AppletOf(text));
  PlayerResult r = d.Run({d / "s.qma", "-quiet"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "peer 2.5 v -1 300\nsecond\n1242\n");
  std::string shown;
  if (FILE *p = popen(("python3 " + peer + " read " + ours).c_str(), "r")) {
    char buf[256];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) shown.append(buf, n);
    pclose(p);
  }
  EXPECT_EQ(shown, "{'name'='ours','nested'={'k'='v',2=-1},'x'=1}\n");
}

// The script's callbacks decide: a stop after the first block leaves no partial copy and is no
// error; skipping an existing target; a write-protected file unprotected and then deleted; an
// error inside the callback ends the copy with its code and removes the partial target.
TEST(E2eDos, CopyAndDeleteCallbacksDecide) {
  PlayerDir d;
  const std::string src = d / "src", dst = d / "dst";
  std::filesystem::create_directory(src);
  WriteFile(src + "/big.bin", std::string(40000, 'b'));
  WriteFile(src + "/small.txt", "small\n");
  std::string text = kCopyAndDeleteCallbacks;
  for (size_t at; (at = text.find("@SRC@")) != std::string::npos;) text.replace(at, 5, src);
  for (size_t at; (at = text.find("@DST@")) != std::string::npos;) text.replace(at, 5, dst);
  qmtools::WriteBytes(d / "c.qma", AppletOf(text));
  PlayerResult r = d.Run({d / "c.qma", "-quiet"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out,
            "stop 0 16384 40000 u\n"
            "0 0\n"
            "over 1 small.txt small.txt\n"
            "del 1 small.txt ud\n"
            "del 0 small.txt ud\n"
            "1 0\n"
            "1159 0\n");
}
