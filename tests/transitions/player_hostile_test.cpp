// The player program given hostile numbers in every numeric argument and option of the
// transition commands (NaN, the infinities and the ends of the 32-bit range), over every effect
// id for the speed and the parameter: each call ends with a clear error (a failing command or a
// script ended with its report) or a bounded transition that shows its picture at the end, and
// no run crashes or trips a sanitizer. A long transition ends at its next frame on a quit
// request.
#include <signal.h>

#include <cmath>
#include <limits>
#include <map>
#include <sstream>

#include "tests/player/e2e_util.h"
#include "transitions/effects/fxroutines.h"
#include "transitions/fxtable.h"

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();
const double kHostile[] = {kNaN, kInf, -kInf, 2147483647.0, -2147483648.0};

// NaN and the infinities lie outside every integer: a reader may refuse them. The ends of the
// range are integers, which the commands take and must handle.
bool InRange(double v) { return std::isfinite(v); }

struct Arg {
  bool table = false;
  double n = 0;
  std::vector<std::pair<std::string, double>> fields;
  Arg(double v) : n(v) {}
  Arg(std::vector<std::pair<std::string, double>> f) : table(true), fields(std::move(f)) {}
};

struct Step {
  std::string name;
  std::vector<ScriptArg> args;
};

// One call under test, after its own set-up calls. With drive, a handle it returns is advanced to
// its end (at most kFrameLimit frames). With a pixel, the display must show colour there
// after a call that succeeded.
struct Hostile {
  std::string label;
  std::vector<Step> setup;
  std::string name;
  std::vector<Arg> args;
  bool drive = false;
  bool mustRun = false;  // a call whose numbers are all integers, which must succeed
  int px = -1, py = -1;
};

constexpr int kFrameLimit = 5000;
constexpr uint32_t kBrushColour = 0xFF8000;

// The assembled program: the opening steps, then each call at its own source line (its index
// + 1), its result code, the frames driven and the pixel printed as "R index code frames pixel".
class Program {
 public:
  std::string Write(const std::vector<Step> &opening, const std::vector<Hostile> &calls, size_t from) {
    constants_.clear();
    code_.clear();
    labels_ = 0;
    // Constants that instructions take directly (table keys, the loop's numbers) come first: only
    // the first few hundred can be named so.
    Num(1);
    Num(kFrameLimit);
    for (size_t i = from; i < calls.size(); i++)
      for (const Arg &a : calls[i].args)
        for (const auto &f : a.fields) K("\"" + f.first + "\"");
    for (const Step &s : opening) Plain(s, 0);
    for (size_t i = from; i < calls.size(); i++) One(calls[i], int(i));
    std::string head = ".func source=\"h.qms\" maxstack=40\n  .k";
    for (const std::string &c : constants_) head += " " + c;
    return head + "\n" + code_ + "      RETURN 0 1\n.end\n";
  }

 private:
  std::string K(const std::string &text) {
    for (size_t i = 0; i < constants_.size(); i++)
      if (constants_[i] == text) return "k" + std::to_string(i);
    constants_.push_back(text);
    return "k" + std::to_string(constants_.size() - 1);
  }
  std::string Name(const std::string &name) {
    std::string lower;
    for (char c : name) lower += char(std::tolower(uint8_t(c)));
    return K("\"" + lower + "\"");
  }
  std::string Num(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return K(buf);
  }
  void Emit(const std::string &line) { code_ += "      " + line + "\n"; }
  std::string Label() { return "l" + std::to_string(labels_++); }

  void Plain(const Step &s, int line) {
    Emit("GETGLOBAL 0 " + Name(s.name) + (line ? " @" + std::to_string(line) : ""));
    for (size_t a = 0; a < s.args.size(); a++)
      Emit("LOADK " + std::to_string(1 + a) + " " + (s.args[a].text ? K("\"" + s.args[a].s + "\"") : Num(s.args[a].n)));
    Emit("CALL 0 " + std::to_string(s.args.size() + 1) + " 1");
  }

  void One(const Hostile &h, int index) {
    const int line = index + 1;
    for (const Step &s : h.setup) Plain(s, line);
    // Registers: 0 the command and its first result, 1.. the arguments, 20 the code, 21 the
    // frames, 22.. scratch.
    Emit("GETGLOBAL 0 " + Name(h.name) + " @" + std::to_string(line));
    for (size_t a = 0; a < h.args.size(); a++) {
      const std::string r = std::to_string(1 + a);
      if (!h.args[a].table) {
        Emit("LOADK " + r + " " + Num(h.args[a].n));
        continue;
      }
      Emit("NEWTABLE " + r + " 0 " + std::to_string(h.args[a].fields.size()));
      for (const auto &[key, value] : h.args[a].fields) {
        Emit("LOADK 22 " + Num(value));
        Emit("SETTABLE " + r + " " + K("\"" + key + "\"") + " 22");
      }
    }
    Emit("CALL 0 " + std::to_string(h.args.size() + 1) + " 2");
    Emit("GETGLOBAL 20 " + Name("GetLastError"));
    Emit("CALL 20 1 2");
    Emit("LOADK 21 " + Num(0));
    if (h.drive) {
      const std::string loop = Label(), check = Label(), done = Label();
      Emit("TEST 0 0 0");
      Emit("JMP " + done);
      code_ += loop + ":\n";
      Emit("ADD 21 21 " + Num(1));
      Emit("GETGLOBAL 22 " + Name("AsyncDrawFrame"));
      Emit("MOVE 23 0");
      Emit("CALL 22 2 2");
      Emit("TEST 22 22 0");
      Emit("JMP " + check);
      Emit("JMP " + done);
      code_ += check + ":\n";
      Emit("LT 1 21 " + Num(kFrameLimit));
      Emit("JMP " + loop);
      code_ += done + ":\n";
    }
    Emit("GETGLOBAL 22 " + Name("DebugPrint"));
    Emit("LOADK 23 " + K("\"R\""));
    Emit("LOADK 24 " + Num(index));
    Emit("MOVE 25 20");
    Emit("MOVE 26 21");
    Emit("GETGLOBAL 27 " + Name("ReadPixel"));
    Emit("LOADK 28 " + Num(h.px < 0 ? 0 : h.px));
    Emit("LOADK 29 " + Num(h.py < 0 ? 0 : h.py));
    Emit("CALL 27 3 2");
    Emit("CALL 22 6 1");
  }

  std::vector<std::string> constants_;
  std::string code_;
  int labels_ = 0;
};

struct Outcome {
  bool ran = false;  // printed its line
  uint32_t code = 0;
  long frames = 0;
  uint32_t pixel = 0;
  std::string ended;  // the report of a script ended by this call
};

// Runs the player on the applet, sending sig once when sign says so; the exit status (128 +
// signal when killed). A run that outlasts the generous deadline is killed and reported as -1.
int RunPlayer(const PlayerDir &dir, const std::string &applet, const std::function<bool()> &sign = nullptr,
              int sig = SIGTERM) {
  std::vector<std::string> store = {dir.player(), "-QUIET", applet};
  std::vector<char *> argv;
  for (auto &a : store) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> envStore = {"TMPDIR=" + (dir / "tmp"), "SDL_VIDEODRIVER=dummy", "SDL_AUDIODRIVER=dummy"};
  for (char **e = environ; *e; e++) {
    const std::string entry(*e);
    if (entry.rfind("TMPDIR=", 0) && entry.rfind("SDL_VIDEODRIVER=", 0) && entry.rfind("SDL_AUDIODRIVER=", 0))
      envStore.push_back(entry);
  }
  std::vector<char *> envp;
  for (auto &e : envStore) envp.push_back(e.data());
  envp.push_back(nullptr);
  const std::string out = dir / "stdout.txt", err = dir / "stderr.txt";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid;
  const int rc = posix_spawn(&pid, store[0].c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -2;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(10);
  bool signalled = !sign;
  int status = 0;
  for (;;) {
    if (waitpid(pid, &status, WNOHANG) == pid) break;
    if (!signalled && sign()) {
      kill(pid, sig);
      signalled = true;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));  // between looks at the signs
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool SanitizerSpoke(const std::string &err) {
  return err.find("runtime error") != std::string::npos || err.find("Sanitizer") != std::string::npos;
}

// Runs the calls from the start, and again after each one that ended the script, from the
// call after it; the outcome of every call.
std::vector<Outcome> RunAll(const std::vector<Step> &opening, const std::vector<Hostile> &calls) {
  std::vector<Outcome> outcomes(calls.size());
  PlayerDir dir;
  Program program;
  for (size_t from = 0; from < calls.size();) {
    const std::string text = program.Write(opening, calls, from);
    // The include entry covers every line of the long script, so that each report names its line.
    qmtools::WriteBytes(dir / "h.qma", qmtools::MakeSimpleApplet(ChunkOf(text), "h.qms", 1u << 20));
    const int status = RunPlayer(dir, dir / "h.qma");
    const std::string out = ReadWholeFile(dir / "stdout.txt"), err = ReadWholeFile(dir / "stderr.txt");
    std::istringstream lines(out);
    size_t next = from;
    for (std::string line; std::getline(lines, line);) {
      std::istringstream in(line);
      std::string tag;
      size_t index = 0;
      double code = 0, frames = 0, pixel = 0;
      if (!(in >> tag >> index >> code >> frames >> pixel) || tag != "R" || index >= calls.size()) continue;
      outcomes[index] = {true, uint32_t(code), long(frames), uint32_t(pixel), ""};
      next = index + 1;
    }
    if (next >= calls.size() && status == 0) break;
    // This call ended the run: a fault when it crashed, tripped a sanitizer or never ended;
    // else the script was ended with a report that names its line.
    const std::string &label = calls[next < calls.size() ? next : calls.size() - 1].label;
    const bool fault = status < 0 || status >= 128 || SanitizerSpoke(err);
    EXPECT_FALSE(fault) << label << ": status " << status << "\n" << err;
    if (next >= calls.size()) break;
    outcomes[next].ended = fault ? "(fault)" : err;
    if (!fault) {
      // A command's own failure reads "h.qms:N: ..."; an argument or option field the reader
      // refused reads "... (current line: N - In function: ...)".
      const std::string line = std::to_string(next + 1);
      EXPECT_TRUE(err.find(":" + line + ":") != std::string::npos ||
                  err.find("(current line: " + line + " ") != std::string::npos)
          << label << " ended the script without naming its line: " << err;
    }
    from = next + 1;
  }
  return outcomes;
}

std::string Show(double v) {
  if (std::isnan(v)) return "NaN";
  if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.0f", v);
  return buf;
}

// The checks every outcome meets.
void Judge(const std::vector<Hostile> &calls, const std::vector<Outcome> &outcomes) {
  std::map<std::string, int> tally;
  for (const Outcome &o : outcomes) tally[o.ran ? "code " + std::to_string(o.code) : "ended the script"]++;
  for (const auto &[what, n] : tally) std::printf("  %s: %d\n", what.c_str(), n);
  for (size_t i = 0; i < calls.size(); i++) {
    const Hostile &h = calls[i];
    const Outcome &o = outcomes[i];
    SCOPED_TRACE(h.label);
    if (!o.ran) {
      EXPECT_FALSE(o.ended.empty()) << "never reached";
      EXPECT_FALSE(h.mustRun) << "ended the script: " << o.ended;
      continue;
    }
    EXPECT_LT(o.frames, kFrameLimit) << "the frames never ended";
    if (h.mustRun) {
      EXPECT_EQ(o.code, 0u);
    }
    if (o.code == 0 && h.px >= 0) {
      EXPECT_EQ(o.pixel, kBrushColour) << "the picture shown at the end";
    }
  }
}

const std::vector<Step> kOpening = {
    {"ExitOnError", {0.0}},         {"SetFPSLimit", {1000000}},   {"CreateBGPic", {9, 120, 90, 0x000040}},
    {"DisplayBGPic", {9}},        {"CreateBGPic", {2, 120, 90, 0x004000}},
    {"CreateBrush", {1, 40, 30, double(kBrushColour)}}, {"CreateTextObject", {1, "Hostile"}},
};

// The positional arguments of a command with one of them hostile at a time, then its options
// table with one key hostile at a time.
void Sweep(std::vector<Hostile> *out, const std::string &name, const std::vector<double> &sane, size_t tablePos,
           const std::vector<std::string> &keys, const std::vector<Step> &setup, bool drive) {
  for (size_t a = 0; a < sane.size(); a++)
    for (double v : kHostile) {
      Hostile h;
      h.label = name + " argument " + std::to_string(a + 1) + " = " + Show(v);
      h.setup = setup;
      h.name = name;
      for (size_t k = 0; k < sane.size(); k++) h.args.push_back(k == a ? v : sane[k]);
      out->push_back(h);
    }
  for (const std::string &key : keys)
    for (double v : kHostile) {
      Hostile h;
      h.label = name + " option " + key + " = " + Show(v);
      h.setup = setup;
      h.name = name;
      for (size_t k = 0; k + 1 < tablePos; k++) h.args.push_back(sane[k]);
      std::vector<std::pair<std::string, double>> fields = {{key, v}};
      if (key != "type") fields.push_back({"type", 0});
      h.args.push_back(Arg(fields));
      h.drive = drive;
      out->push_back(h);
    }
}

const std::vector<std::string> kFxKeys = {"type", "speed", "parameter", "undolevel", "dx", "dy",
                                          "layers", "forcerealtimelayers", "async", "noborderfade"};

std::vector<int32_t> Effects() {
  std::vector<int32_t> ids;
  for (int32_t id = 0; id < FX_EFFECT_SLOTS; id++)
    if (IsFxBuilt(id)) ids.push_back(id);
  return ids;
}

// Every effect with a hostile speed or parameter, through DisplayBrushFX on a display without
// layers (which must show the brush at the end), or as a layer shown and driven frame by frame,
// or as one standing in for a picture (ReadPixel reads the picture under the layers there).
// A value the argument reader refuses (NaN, the infinities) ends the script before any effect
// is looked at, and each such end costs a player of its own: it is tried on the first effect.
void EffectSweep(std::vector<Hostile> *out, const std::string &mode) {
  const std::vector<int32_t> effects = Effects();
  for (int32_t id : effects)
    for (const char *key : {"speed", "parameter"})
      for (double v : kHostile) {
        if (!InRange(v) && id != effects.front()) continue;
        Hostile h;
        h.label = mode + " effect " + std::to_string(id) + " " + key + " = " + Show(v);
        // A scroll hands its speed to the move engine, which refuses a negative one it has no
        // meaning for with its own error.
        h.mustRun = InRange(v) && !(IsScrollFx(id) && std::string(key) == "speed" && v < 0);
        std::vector<std::pair<std::string, double>> fields = {{"type", double(id)}, {key, v}};
        if (mode == "display") {
          h.name = "DisplayBrushFX";
          h.args = {1, 0, 0, Arg(fields)};
          h.px = 20, h.py = 15;
        } else {
          h.setup = {{"FreeLayers", {}}, {"DisplayBrush", {1, 30, 20}}, {"HideLayer", {1}}};
          h.name = "ShowLayerFX";
          fields.push_back({"async", 1});
          if (mode == "emulated") fields.push_back({"bgpicemu", 1}), fields.push_back({"bgpic", 2});
          h.args = {1, Arg(fields)};
          h.drive = true;
        }
        out->push_back(h);
      }
}

std::vector<Step> Opening(bool layers) {
  std::vector<Step> steps = kOpening;
  if (layers) steps.push_back({"EnableLayers", {}});
  return steps;
}

TEST(PlayerHostileTransitions, EveryArgumentAndOption) {
  std::vector<Hostile> off, on;
  Sweep(&off, "DisplayTransitionFX", {2, 0, 20, -1}, 2, {"type", "speed", "parameter", "x", "y", "async"}, {}, false);
  Sweep(&off, "DisplayBrushFX", {1, 0, 0, 0, 20, -1}, 4, kFxKeys, {}, false);
  Sweep(&off, "DisplayTextObjectFX", {1, 0, 0, 0, 20, -1}, 4, kFxKeys, {}, false);
  Sweep(&off, "DisplayBGPicPartFX", {2, 0, 0, 40, 30, 0, 20, -1, 0, 0, 0}, 6, kFxKeys, {}, false);
  Sweep(&off, "ClearScreen", {0, 0x808080, 20, -1}, 3, {"type", "speed", "parameter", "x", "y", "async"}, {}, false);
  Sweep(&off, "GetRandomFX", {0}, 2, {}, {}, false);
  const std::vector<Step> shown = {{"FreeLayers", {}}, {"DisplayBrush", {1, 30, 20}}};
  const std::vector<Step> hidden = {{"FreeLayers", {}}, {"DisplayBrush", {1, 30, 20}}, {"HideLayer", {1}}};
  Sweep(&on, "DisplayBrushFX", {1, 0, 0, 0, 20, -1}, 4, kFxKeys, {{"FreeLayers", {}}}, true);
  Sweep(&on, "DisplayTextObjectFX", {1, 0, 0, 0, 20, -1}, 4, kFxKeys, {{"FreeLayers", {}}}, true);
  Sweep(&on, "DisplayBGPicPartFX", {2, 0, 0, 40, 30, 0, 20, -1, 0, 0, 1}, 6, kFxKeys, {{"FreeLayers", {}}}, true);
  Sweep(&on, "ShowLayerFX", {1, 0, 20, -1}, 2, kFxKeys, hidden, true);
  Sweep(&on, "HideLayerFX", {1, 0, 20, -1}, 2, kFxKeys, shown, true);
  Sweep(&on, "RemoveLayerFX", {1, 0, 20, -1}, 2, kFxKeys, shown, true);
  Sweep(&on, "UndoFX", {3, 1, 0, 20, -1, 1}, 3, kFxKeys, shown, true);
  for (const char *key : {"speed", "parameter", "bgpic"})
    for (double v : kHostile) {
      Hostile h;
      h.label = std::string("ShowLayerFX standing in, ") + key + " = " + Show(v);
      h.setup = hidden;
      h.name = "ShowLayerFX";
      std::vector<std::pair<std::string, double>> fields = {{"type", FX_PUSHLEFT}, {"bgpicemu", 1}, {"bgpic", 2}};
      for (auto &f : fields)
        if (f.first == key) f.second = v;
      if (std::string(key) != "bgpic") fields.push_back({key, v});
      h.args = {1, Arg(fields)};
      on.push_back(h);
    }
  Judge(off, RunAll(Opening(false), off));
  Judge(on, RunAll(Opening(true), on));
}

class PlayerHostileEffects : public ::testing::TestWithParam<const char *> {};

TEST_P(PlayerHostileEffects, SpeedAndParameterOfEveryEffect) {
  const std::string mode = GetParam();
  std::vector<Hostile> calls;
  EffectSweep(&calls, mode);
  Judge(calls, RunAll(Opening(mode != "display"), calls));
}

INSTANTIATE_TEST_SUITE_P(Modes, PlayerHostileEffects, ::testing::Values("display", "layer", "emulated"));

}  // namespace

namespace {

// A transition far longer than any test waits (2000 frames at one frame a second) ends at its
// next frame on a quit request: the player exits, and the line after the transition never
// prints.
TEST(PlayerTransitionQuit, AQuitEndsALongTransition) {
  const std::vector<Step> opening = {{"SetFPSLimit", {1}}, {"CreateBrush", {1, 2000, 10, double(kBrushColour)}}};
  for (int sig : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(sig);
    PlayerDir dir;
    Program program;
    std::vector<Step> steps = opening;
    steps.push_back({"DebugPrint", {"started"}});
    steps.push_back({"DisplayBrushFX", {1, 0.0, 0.0, 0.0, 1}});
    steps.push_back({"DebugPrint", {"after"}});
    const std::string text = program.Write(steps, {}, 0);
    qmtools::WriteBytes(dir / "q.qma", AppletOf(text));
    const int status = RunPlayer(dir, dir / "q.qma", dir.WhenPrinted("started"), sig);
    const std::string out = ReadWholeFile(dir / "stdout.txt"), err = ReadWholeFile(dir / "stderr.txt");
    EXPECT_NE(status, -1) << "the quit was not heeded";
    EXPECT_GE(status, 0);
    EXPECT_LT(status, 128) << err;
    EXPECT_FALSE(SanitizerSpoke(err)) << err;
    EXPECT_NE(out.find("started"), std::string::npos);
    EXPECT_EQ(out.find("after"), std::string::npos) << "the script ended with the transition";
  }
}

}  // namespace
