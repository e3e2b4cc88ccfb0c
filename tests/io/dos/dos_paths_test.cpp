#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <utility>

#include "io/dos/dos_paths.h"
#include "runtime/cmdargs.h"
#include "runtime/errcodes.h"
#include "tests/io/dos/dos_test_vm.h"

namespace {

TEST(DosPaths, MatchPatternTable) {
  DosVm vm;
  struct Row {
    const char *text, *patterns;
    int expected;
  } rows[] = {
      {"file12.txt", "file##.txt", 1},
      {"file1a.txt", "file##.txt", 0},
      {"a.TXT", "*.txt", 0},
      {"x.jpg", "*.png;*.jpg", 1},
      {"b", "[!a]", 1},
      {"-", "[a-]", 1},
      {"", "*", 1},
      {"]", "[]a]", 1},
      {"a", "[]a]", 1},
      {"m", "[a-z]", 1},
      {"m", "[z-a]", 0},
      {"-", "[z-a]", 1},
      {"abc", "*?", 1},
      {"abc", "a*?c", 1},
      {"ab", "a*??c", 0},
      {"abc", "", 0},
      {"abc", ";abc", 0},
      {"abc", "x;;abc", 0},
      {"b", "[abc", 1},
      {"x", "[abc", 0},
      {"abcabd", "*abd", 1},
      {"aXbXc", "a*b*c", 1},
  };
  for (const Row &r : rows)
    EXPECT_EQ(vm.One("MatchPattern", {r.text, r.patterns}).num, r.expected) << r.text << " ~ " << r.patterns;
  // Backtracking stays linear: a long name against a pattern that can only fail at the end.
  std::string name(1024, 'a');
  EXPECT_EQ(MatchWildcard("*a*a*a*a*a*a*a*a*b", name.c_str()), 0);
}

TEST(DosPaths, DateTextParsing) {
  struct Row {
    const char *text;
    int ok;
  } rows[] = {
      {"05-Mar-2012 09:07:03", 1}, {"05-mar-2012 23:59:59", 1}, {"5-Mar-2012 10:00:00", 0},
      {"05-Xyz-2012 10:00:00", 0}, {"05-Mar-2012 24:00:00", 0}, {"05-Mar-2012 10:60:00", 0},
      {"32-Mar-2012 10:00:00", 0}, {"05-Mar-2012 10:00", 0},    {"", 0},
  };
  for (const Row &r : rows) {
    qmDate d{};
    EXPECT_EQ(ParseDateText(r.text, std::strlen(r.text), &d), r.ok) << r.text;
  }
  qmDate d{};
  ASSERT_EQ(ParseDateText("05-Mar-2012 09:07:03", 20, &d), 1);
  EXPECT_EQ(d.day, 5u);
  EXPECT_EQ(d.month, 2u);
  EXPECT_EQ(d.year, 2012u);
  EXPECT_EQ(d.hours * 10000 + d.minutes * 100 + d.seconds, 90703u);
}

TEST(DosPaths, DirectoriesAttributesAndNames) {
  DosVm vm;
  WriteFileBytes(vm.Path("b.txt"), "12345");
  WriteFileBytes(vm.Path("a.txt"), "1");
  mkdir(vm.Path("sub").c_str(), 0755);
  vm_settop(vm.L, 0);
  vm.PushCommand("ReadDirectory");
  vm_pushstring(vm.L, vm.dir.path().c_str());
  vm_newtable(vm.L);
  vm_newtable(vm.L);
  int files = 3, dirs = 4;
  ASSERT_EQ(vm_pcall(vm.L, 3, 2, 0), 0u);
  // The tables stay below the results.
  EXPECT_EQ(vm_tonumber(vm.L, -2), 2);
  EXPECT_EQ(vm_tonumber(vm.L, -1), 1);
  (void)files;
  (void)dirs;
  vm_settop(vm.L, 0);

  EXPECT_EQ(vm.One("FileSize", {vm.Path("b.txt")}).num, 5);
  EXPECT_EQ(vm.One("FileSize", {vm.Path("none")}).num, -1);
  EXPECT_EQ(vm.One("Exists", {vm.Path("a.txt")}).num, 1);
  EXPECT_EQ(vm.One("Exists", {""}).num, 0);
  EXPECT_EQ(vm.One("IsDirectory", {vm.Path("sub")}).num, 1);
  EXPECT_EQ(vm.Code("IsDirectory", {vm.Path("none")}), uint32_t(ERR_LOCK2));

  // Protection bits against the mode the system reports.
  chmod(vm.Path("b.txt").c_str(), 0640);
  EXPECT_EQ(vm.Code("SetFileAttributes", {vm.Path("b.txt"), DosVal()}), uint32_t(ERR_TABEXPECTED));
  vm_settop(vm.L, 0);
  vm.PushCommand("SetFileAttributes");
  vm_pushstring(vm.L, vm.Path("b.txt").c_str());
  vm_newtable(vm.L);
  SetFieldNumber(vm.L, "flags", 1 | 2 | 512 | 4096);
  SetFieldString(vm.L, "time", "05-Mar-2012 09:07:03");
  ASSERT_EQ(vm_pcall(vm.L, 2, 0, 0), 0u);
  EXPECT_EQ(Shell("stat -c %a " + vm.Path("b.txt")), "644\n");
  vm.PushCommand("GetFileAttributes");
  vm_pushstring(vm.L, vm.Path("b.txt").c_str());
  ASSERT_EQ(vm_pcall(vm.L, 1, 1, 0), 0u);
  vm_pushstring(vm.L, "time");
  vm_gettable(vm.L, -2);
  EXPECT_STREQ(vm_tostring(vm.L, -1), "05-Mar-2012 09:07:03");
  vm_settop(vm.L, 0);

  // Rename stays in the old name's directory.
  mkdir(vm.Path("dir").c_str(), 0755);
  WriteFileBytes(vm.Path("dir/a.txt"), "r");
  EXPECT_EQ(vm.Code("Rename", {vm.Path("dir/a.txt"), "other/b.txt"}), 0u);
  EXPECT_EQ(ReadFileBytes(vm.Path("dir/b.txt")), "r");

  EXPECT_EQ(vm.Code("MakeDirectory", {vm.Path("x/y/z")}), 0u);
  EXPECT_EQ(vm.One("IsDirectory", {vm.Path("x/y/z")}).num, 1);
  EXPECT_EQ(vm.Code("MakeDirectory", {vm.Path("a.txt/q")}), uint32_t(ERR_CREATEDIR));
  EXPECT_EQ(vm.One("FullPath", {"dir", "f"}).str, "dir/f");
  EXPECT_EQ(vm.One("FullPath", {"dir/", "f"}).str, "dir/f");
  EXPECT_EQ(vm.One("PathPart", {"dir/sub/f.txt"}).str, "dir/sub/");
  EXPECT_EQ(vm.One("PathPart", {"f.txt"}).str, "");
  EXPECT_EQ(vm.One("FilePart", {"dir/sub/f.txt"}).str, "f.txt");

  // Directory objects: every entry once, then nothing for ever.
  ASSERT_EQ(vm.Code("OpenDirectory", {1, vm.Path("x")}), 0u);
  int entries = 0;
  while (vm.Call("NextDirectoryEntry", {1}).results.size() == 1) entries++;
  EXPECT_EQ(entries, 1);
  EXPECT_TRUE(vm.Call("NextDirectoryEntry", {1}).results.empty());
  EXPECT_EQ(vm.Code("CloseDirectory", {1}), 0u);
  EXPECT_EQ(vm.Code("CloseDirectory", {1}), uint32_t(ERR_FINDDIR));
  EXPECT_EQ(vm.Code("OpenDirectory", {1, vm.Path("a.txt")}), uint32_t(ERR_NOTADIR));
}

// The current folder as an absolute path without a trailing slash, whichever way it was named.
TEST(DosPaths, CurrentDirectoryNamesTheFolder) {
  DosVm vm;
  mkdir(vm.Path("sub").c_str(), 0755);
  char *real = realpath(vm.dir.path().c_str(), nullptr);
  ASSERT_NE(real, nullptr);
  const std::string root = real;
  std::free(real);
  char before[4096];
  ASSERT_NE(getcwd(before, sizeof before), nullptr);
  struct Row {
    std::string target, expected;
  } rows[] = {
      {root, root},
      {root + "/", root},
      {root + "/sub/", root + "/sub"},
      {root + "/sub/..", root},
      {"/", "/"},
  };
  for (const Row &r : rows) {
    ASSERT_EQ(vm.Code("ChangeDirectory", {r.target}), 0u) << r.target;
    EXPECT_EQ(vm.One("GetCurrentDirectory", {}).str, r.expected) << r.target;
  }
  ASSERT_EQ(chdir(before), 0);
}

TEST(DosPaths, EnvironmentAndPrograms) {
  DosVm vm;
  EXPECT_EQ(vm.Code("SetEnv", {"QM_DOS_TEST", "v1"}), 0u);
  DosCall c = vm.Call("GetEnv", {"QM_DOS_TEST"});
  ASSERT_EQ(c.results.size(), 2u);
  EXPECT_EQ(c.results[0].str, "v1");
  EXPECT_EQ(c.results[1].num, 1);
  EXPECT_EQ(vm.Code("UnsetEnv", {"QM_DOS_TEST"}), 0u);
  EXPECT_EQ(vm.Call("GetEnv", {"QM_DOS_TEST"}).results[1].num, 0);
  // Execute waits; the program path may hold blanks, and the rest is shell text.
  std::string script = vm.Path("my prog.sh");
  WriteFileBytes(script, "#!/bin/sh\necho \"$1\" > \"$2\"\n");
  chmod(script.c_str(), 0755);
  EXPECT_EQ(vm.Code("Execute", {"\"" + script + "\" hello " + vm.Path("out.txt"), 0}), 0u);
  EXPECT_EQ(ReadFileBytes(vm.Path("out.txt")), "hello\n");
  EXPECT_EQ(vm.Code("Execute", {""}), uint32_t(ERR_WRONGUSAGE));
  EXPECT_EQ(vm.Code("Execute", {"\"unclosed"}), uint32_t(ERR_WRONGUSAGE));
  EXPECT_EQ(vm.Code("Execute", {"\"" + vm.Path("no such program") + "\" hello"}), uint32_t(ERR_READFILE));
}

// The date text round trip in fixed zones, the file's own times checked by stat against GNU
// date reading the same text in the same zone: SetFileAttributes writes what date -d means,
// GetFileAttributes reads it back unchanged. POSIX zone rules need no zone database.
TEST(DosPaths, DateTextRoundTripsInEveryZone) {
  // The zone of the process comes back however the test ends.
  struct ZoneGuard {
    bool had = std::getenv("TZ") != nullptr;
    std::string saved = had ? std::getenv("TZ") : "";
    ~ZoneGuard() {
      if (had) setenv("TZ", saved.c_str(), 1);
      else unsetenv("TZ");
      tzset();
    }
  } guard;
  struct Case {
    const char *zone, *modified, *accessed, *isoModified, *isoAccessed;
  } cases[] = {
      {"UTC0", "05-Mar-2012 09:07:03", "01-Jan-1970 00:00:01", "2012-03-05 09:07:03", "1970-01-01 00:00:01"},
      {"UTC0", "29-Feb-2000 23:59:59", "31-Dec-2037 12:00:00", "2000-02-29 23:59:59", "2037-12-31 12:00:00"},
      {"CET-1CEST,M3.5.0,M10.5.0/3", "01-Jul-2021 12:00:00", "15-Jan-2021 08:30:00", "2021-07-01 12:00:00",
       "2021-01-15 08:30:00"},
      {"EST5EDT,M3.2.0,M11.1.0", "31-Dec-1999 23:59:59", "04-Jul-2010 00:00:00", "1999-12-31 23:59:59",
       "2010-07-04 00:00:00"},
  };
  for (const Case &c : cases) {
    std::string where = std::string(c.zone) + " " + c.modified;
    setenv("TZ", c.zone, 1);
    tzset();
    DosVm vm;
    std::string file = vm.Path("dated.txt");
    WriteFileBytes(file, "d");
    vm_settop(vm.L, 0);
    vm.PushCommand("SetFileAttributes");
    vm_pushstring(vm.L, file.c_str());
    vm_newtable(vm.L);
    SetFieldString(vm.L, "time", c.modified);
    SetFieldString(vm.L, "lastaccesstime", c.accessed);
    ASSERT_EQ(vm_pcall(vm.L, 2, 0, 0), 0u) << where;
    std::string inZone = std::string("TZ='") + c.zone + "' ";
    EXPECT_EQ(Shell("stat -c %Y " + file), Shell(inZone + "date -d '" + c.isoModified + "' +%s")) << where;
    EXPECT_EQ(Shell("stat -c %X " + file), Shell(inZone + "date -d '" + c.isoAccessed + "' +%s")) << where;
    vm.PushCommand("GetFileAttributes");
    vm_pushstring(vm.L, file.c_str());
    ASSERT_EQ(vm_pcall(vm.L, 1, 1, 0), 0u) << where;
    for (auto [key, text] : {std::pair{"time", c.modified}, std::pair{"lastaccesstime", c.accessed}}) {
      vm_pushstring(vm.L, key);
      vm_gettable(vm.L, -2);
      EXPECT_STREQ(vm_tostring(vm.L, -1), text) << where << " " << key;
      vm_pop(vm.L, 1);
    }
    vm_settop(vm.L, 0);
  }
}

}  // namespace
