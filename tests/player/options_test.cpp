// Options of the command line and the .ini file, ApplyOptions and ParseNumber.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/memory.h"
#include "player/appletrecord.h"
#include "player/clargs.h"
#include "player/inifile.h"
#include "player/options.h"
#include "runtime/parsenumber.h"
#include "runtime/errcodes.h"
#include "tests/platform/tempdir.h"

namespace {

struct Parsed {
  qmClArgs args{};
  qmPlayerApplet applet{};
  qmRunOptions run{};
  qmOptionValues values{};
  char line[kArgumentLineSize];
  std::string ini;
  uint32_t code = 0;

  // Joins and parses argv (the program name first), then the .ini text, then applies.
  Parsed(std::vector<std::string> argv, const std::string &iniText = "") {
    ResetDisplaySettings(&applet.settings);
    std::vector<char *> v;
    for (auto &a : argv) v.push_back(a.data());
    code = JoinArguments(int(v.size()), v.data(), line);
    if (code == 0) code = ParseArgumentLine(line, &values, &args);
    ini = iniText;
    ini.push_back('\0');
    if (code == 0 && !iniText.empty()) code = ParseIniFile(ini.data(), iniText.size(), &values, &args);
    if (code == 0) code = ApplyOptions(&args, &values, &applet, &run);
  }
  ~Parsed() {
    FreeUserArgs(&args);
    FreeRunOptions(&run);
  }
  std::string UserArgs() const {
    std::string s;
    for (qmUserArg *u = args.userArgs; u; u = u->next) s += std::string(u->name) + "=" + (u->value ? u->value : "(null)") + ";";
    return s;
  }
};

// The .ini file "p.ini" of the program "p.qma" in a fresh folder, read by ReadIniFile.
struct IniRead {
  TempDir dir;
  qmClArgs args{};
  qmOptionValues values{};
  qmIniValues copies{};

  std::string Path() const { return dir / "p.ini"; }
  uint32_t Read() { return ReadIniFile((dir / "p.qma").c_str(), &values, &args, &copies); }
  ~IniRead() {
    FreeUserArgs(&args);
    FreeIniValues(&copies);
  }
  std::string UserArgs() const {
    std::string s;
    for (qmUserArg *u = args.userArgs; u; u = u->next) s += std::string(u->name) + "=" + (u->value ? u->value : "(null)") + ";";
    return s;
  }
};

// Processor seconds of this thread: the work a reader did, which other programs on a busy
// machine do not lengthen as they lengthen the time on the clock.
struct CpuSeconds {
  double value;
};
CpuSeconds ThreadCpuNow() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return {double(ts.tv_sec) + double(ts.tv_nsec) / 1e9};
}

double SecondsSince(CpuSeconds start) {
  return ThreadCpuNow().value - start.value;
}

}  // namespace

TEST(Options, CommandLine) {
  struct Case {
    const char *name;
    std::vector<std::string> argv;
    uint32_t code;
    const char *program;
    const char *userArgs;
  } cases[] = {
      {"program only", {"qp", "a.qma"}, 0, "a.qma", ""},
      {"user argument with value", {"qp", "-level", "3", "a.qma"}, 0, "a.qma", "level=3;"},
      {"user argument before an option", {"qp", "-level", "-QUIET", "a.qma"}, 0, "a.qma", "level=(null);"},
      {"user argument last", {"qp", "a.qma", "-level"}, 0, "a.qma", "level=(null);"},
      {"value option last", {"qp", "a.qma", "-SCRWIDTH"}, ERR_ARGS, nullptr, ""},
      {"option where a value is due", {"qp", "-SCRWIDTH", "-QUIET", "a.qma"}, ERR_ARGS, nullptr, ""},
      {"two programs", {"qp", "a.qma", "b.qma"}, ERR_ARGS, nullptr, ""},
      {"blank inside a quoted word", {"qp", "my file.qma"}, 0, "my file.qma", ""},
      {"fullscreen with ownscreen", {"qp", "-FULLSCREEN", "-OWNSCREEN", "a"}, ERR_ARGS, nullptr, ""},
      {"fake with full screen", {"qp", "-FAKEFULLSCREEN", "-FULLSCREEN", "a"}, ERR_ARGS, nullptr, ""},
      {"both scalers", {"qp", "-AUTOSCALE", "-LAYERSCALE", "a"}, ERR_ARGS, nullptr, ""},
      {"keyword in any case", {"qp", "-quiet", "a"}, 0, "a", ""},
      {"too long", {"qp", std::string(5000, 'x')}, ERR_ARGS, nullptr, ""},
  };
  for (const Case &c : cases) {
    Parsed p(c.argv);
    EXPECT_EQ(p.code, c.code) << c.name;
    if (c.code == 0) {
      EXPECT_STREQ(p.values.Text(OPT_PROGRAM), c.program) << c.name;
      EXPECT_EQ(p.UserArgs(), c.userArgs) << c.name;
    }
  }
}

TEST(Options, Values) {
  {
    Parsed p({"qp", "-SCRWIDTH=800", "-DEPTH", "$10", "-BORDERLESS", "-NOHIDE", "-FULLSCREEN", "a"});
    ASSERT_EQ(p.code, 0u);
    EXPECT_EQ(p.applet.settings.screenWidth, 800);
    EXPECT_EQ(p.applet.settings.depth, 16);
    EXPECT_EQ(p.applet.settings.windowFlags, WINFLAG_BORDERLESS | WINFLAG_NOHIDE);
    EXPECT_EQ(p.applet.settings.displayMode, DISPMODE_FULLSCREEN);
  }
  {
    Parsed p({"qp", "-AUTOSCALE", "-SCALEWIDTH", "50%", "-SCALEHEIGHT", "300", "-SMOOTHSCALE", "a"});
    ASSERT_EQ(p.code, 0u);
    EXPECT_EQ(p.applet.settings.scaleWidth, -50);
    EXPECT_EQ(p.applet.settings.scaleHeight, 300);
    EXPECT_EQ(p.applet.settings.windowFlags, WINFLAG_AUTOSCALE | WINFLAG_SMOOTHSCALE);
  }
  {
    Parsed p({"qp", "-SCALEWIDTH", "50%", "-SMOOTHSCALE", "a"});  // no scaling engine: ignored
    ASSERT_EQ(p.code, 0u);
    EXPECT_EQ(p.applet.settings.scaleWidth, 0);
    EXPECT_EQ(p.applet.settings.windowFlags, 0u);
  }
  {
    Parsed p({"qp", "-SKIPPLUGINS", "a|b.qmp", "-EXETYPE", "linux+MacOS", "-EXPORTPLUGINS", "x.txt", "a"});
    ASSERT_EQ(p.code, 0u);
    EXPECT_EQ(std::string(p.run.skipList, 8), std::string("a\0b.qmp\0", 8));
    EXPECT_EQ(p.run.skipList[8], 0);
    EXPECT_EQ(p.args.exeTypes, 0x600u);
    EXPECT_STREQ(p.run.exportPlugins, "x.txt");
  }
  EXPECT_EQ(Parsed({"qp", "-EXETYPE", "foo", "a"}).code, ERR_EXETYPE);
  EXPECT_EQ(Parsed({"qp", "-EXETYPE", "linux+", "a"}).code, ERR_EXETYPE);
  EXPECT_EQ(Parsed({"qp", "a"}).args.exeTypes, 0u);  // the default is preset by start-up
}

TEST(Options, Backfill) {
  struct Case {
    std::vector<std::string> argv;
    uint32_t code;
    int32_t mode;
  } cases[] = {
      {{"qp", "-BACKFILL", "color", "-STARTCOLOR", "$ff0000", "a"}, 0, 1},
      {{"qp", "-BACKFILL", "color", "a"}, ERR_BACKFILL, 0},
      {{"qp", "-BACKFILL", "rainbow", "-STARTCOLOR", "1", "-ENDCOLOR", "2", "a"}, 0, 2},
      {{"qp", "-BACKFILL", "RAINBOW", "-STARTCOLOR", "1", "a"}, ERR_BACKFILL, 0},
      {{"qp", "-BACKFILL", "texture", "-BRUSH", "3", "a"}, 0, 3},
      {{"qp", "-BACKFILL", "picture", "-BRUSH", "3", "-BRUSHFILE", "x.png", "a"}, ERR_BACKFILL, 0},
      {{"qp", "-BACKFILL", "picture", "a"}, ERR_BACKFILL, 0},
      {{"qp", "-BACKFILL", "plaid", "a"}, ERR_BACKFILL, 0},
  };
  for (const Case &c : cases) {
    Parsed p(c.argv);
    EXPECT_EQ(p.code, c.code) << c.argv[2];
    if (c.code == 0) {
      EXPECT_EQ(p.applet.settings.backfill.mode, c.mode) << c.argv[2];
    }
  }
  Parsed p({"qp", "-BACKFILL", "color", "-STARTCOLOR", "$ff0000", "-PICXPOS", "10", "a"});
  EXPECT_EQ(p.applet.settings.backfill.startColor, 0xff0000u);
  EXPECT_EQ(p.applet.settings.backfill.pictureX, 10);
  EXPECT_EQ(p.applet.settings.backfill.pictureY, kPositionCenter);
}

TEST(Options, IniFile) {
  struct Case {
    const char *name;
    std::vector<std::string> argv;
    std::string ini;
    uint32_t code;
    uint32_t quiet;
  } cases[] = {
      {"no beats the command line", {"qp", "-QUIET", "a"}, "QUIET=no\n", 0, 0},
      {"mixed case, blanks, quoted yes", {"qp", "a"}, "  qUiEt \t=  \"yes\"  \n", 0, 1},
      {"number switch", {"qp", "a"}, "QUIET=2", 0, 1},
      {"comments and sections", {"qp", "a"}, "# x = y\n[Player]\r\nQUIET = on\r\n", 0, 1},
      {"digit first", {"qp", "a"}, "1QUIET=1\n", ERR_INISYNTAX, 0},
      {"equals first", {"qp", "a"}, "=1\n", ERR_INISYNTAX, 0},
      {"no equals", {"qp", "a"}, "QUIET yes\n", ERR_INISYNTAX, 0},
      {"open quote", {"qp", "a"}, "QUIET=\"yes\nNOSOUND=1\n", ERR_INISYNTAX, 0},
      {"key of 128", {"qp", "a"}, std::string(128, 'K') + "=1\n", ERR_INISYNTAX, 0},
  };
  for (const Case &c : cases) {
    Parsed p(c.argv, c.ini);
    EXPECT_EQ(p.code, c.code) << c.name;
    if (c.code == 0) {
      EXPECT_EQ(p.args.quiet, c.quiet) << c.name;
    }
  }
  Parsed p({"qp", "a"}, "level = \"hard one\"  \nname=plain value \t\nSCRWIDTH = 1024");
  ASSERT_EQ(p.code, 0u);
  EXPECT_EQ(p.UserArgs(), "level=hard one;name=plain value;");
  EXPECT_EQ(p.applet.settings.screenWidth, 1024);
}

TEST(Options, IniFileReadLineByLine) {
  const std::string longValue(65535 - 6, 'v');  // with "level=", the longest line
  struct Case {
    const char *name;
    std::string text;
    uint32_t code;
    const char *userArgs;  // what was read before the end or the error
    uintptr_t quiet;
  } cases[] = {
      {"byte-order mark skipped", "\xEF\xBB\xBFQUIET=1\nlevel=2\n", 0, "level=2;", 1},
      {"byte-order mark after the start", "QUIET=1\n\xEF\xBB\xBFlevel=2\n", ERR_INISYNTAX, "", 1},
      {"last line without its end", "QUIET=1\r\nlevel = \"a b\"", 0, "level=a b;", 1},
      {"empty file", "", 0, "", 0},
      {"stops at the first error", "a=1\n=bad\nQUIET=1\nb=2\n", ERR_INISYNTAX, "a=1;", 0},
      {"longest line", "level=" + longValue + "\nQUIET=1", 0, nullptr, 1},
      {"line one byte longer", "level=" + longValue + "v\nQUIET=1", ERR_INISYNTAX, "", 0},
  };
  for (const Case &c : cases) {
    IniRead r;
    WriteFile(r.Path(), c.text);
    EXPECT_EQ(r.Read(), c.code) << c.name;
    if (c.userArgs) {
      EXPECT_EQ(r.UserArgs(), c.userArgs) << c.name;
    }
    EXPECT_EQ(r.values.slot[OPT_QUIET], c.quiet) << c.name;
  }
  {
    IniRead r;
    EXPECT_EQ(r.Read(), 0u);  // no .ini file
    // Option values outlive the line buffer; later lines overwrite earlier ones.
    WriteFile(r.Path(), "SCRWIDTH = 800\nSCRWIDTH = \"1024\"\nBRUSHFILE=a.png\n");
    ASSERT_EQ(r.Read(), 0u);
    EXPECT_STREQ(r.values.Text(OPT_SCRWIDTH), "1024");
    EXPECT_STREQ(r.values.Text(OPT_BRUSHFILE), "a.png");
  }
}

TEST(Options, HostileIniFilesEndQuickly) {
  {
    IniRead r;
    std::string text;
    for (int i = 0; i < 80000; i++) text += "key" + std::to_string(i) + " = " + std::to_string(i) + "\n";
    WriteFile(r.Path(), text);
    auto start = ThreadCpuNow();
    ASSERT_EQ(r.Read(), 0u);
    EXPECT_LT(SecondsSince(start), 1.0) << "80,000 unknown keys";
    size_t count = 0;
    for (qmUserArg *u = r.args.userArgs; u; u = u->next) count++;
    EXPECT_EQ(count, 80000u);
    EXPECT_STREQ(r.args.lastUserArg->name, "key79999");
  }
  {
    // 3 GiB, most of it a hole: reading it whole would take seconds and memory.
    IniRead r;
    WriteFile(r.Path(), "level=1\n=bad\n");
    std::filesystem::resize_file(r.Path(), uint64_t(3) << 30);
    auto start = ThreadCpuNow();
    EXPECT_EQ(r.Read(), ERR_INISYNTAX);
    EXPECT_LT(SecondsSince(start), 1.0) << "syntax error early in a big file";
    EXPECT_EQ(r.UserArgs(), "level=1;");
  }
}

TEST(ParseNumber, Table) {
  struct Case {
    const char *text;
    double value;
    size_t consumed;
    uint32_t error;
  } cases[] = {
      {"$ff", 255, 3, 0},          {"$-ff", -255, 4, 0},     {"-$10", -16, 4, 0},
      {"%101", 5, 4, 0},           {"0X1f", 31, 4, 0},       {".5", 0.5, 2, 0},
      {"-.5", -0.5, 3, 0},         {"1e3", 1000, 3, 0},      {"12px", 12, 2, 0},
      {"50%", 50, 2, 0},           {"$", 0, 0, ERR_SYNTAXERROR}, {"0x", 0, 0, ERR_SYNTAXERROR},
      {"abc", 0, 0, ERR_VALUEEXPECTED}, {".", 0, 0, ERR_VALUEEXPECTED}, {"", 0, 0, ERR_VALUEEXPECTED},
      {"$1FFFFFFFF", 4294967295.0, 10, 0},  // unsigned 32 bits: extra digits wrap
  };
  for (const Case &c : cases) {
    size_t used = 99;
    uint32_t error = 99;
    double v = ParseNumber(c.text, &used, &error);
    EXPECT_EQ(error, c.error) << c.text;
    EXPECT_EQ(used, c.consumed) << c.text;
    if (!c.error) {
      EXPECT_DOUBLE_EQ(v, c.value) << c.text;
    }
  }
}
