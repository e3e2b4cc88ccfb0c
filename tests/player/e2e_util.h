// Runs the real player program on applets made by the applet writer: a private copy of the
// player in a temporary folder (its plug-in folder), standard output captured, exit status.
#pragma once
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/platform/tempdir.h"
#include "tools/appletwriter.h"
#include "tools/chunkbuilder.h"
#include "tools/qmasm_lib.h"

extern char **environ;

// The environment for a player a test starts itself: the entries given ("NAME=value") in place
// of any of the same name, then the rest of this process's environment.
inline std::vector<std::string> PlayerEnvironment(const std::vector<std::string> &own) {
  std::vector<std::string> env = own;
  for (char **e = environ; *e; e++) {
    const std::string v = *e;
    bool replaced = false;
    for (const std::string &o : own) replaced = replaced || v.compare(0, o.find('=') + 1, o, 0, o.find('=') + 1) == 0;
    if (!replaced) env.push_back(v);
  }
  return env;
}

struct PlayerResult {
  int status = -1;  // exit status; 128 + signal when killed
  std::string out;
  std::string err;
};

// A folder holding a copy of the player and, optionally, test plug-ins.
class PlayerDir {
 public:
  explicit PlayerDir(const std::vector<std::string> &plugins = {}) {
    player_ = dir_ / "quenmoorplayer";
    std::filesystem::copy_file(QM_PLAYER_PATH, player_);
    for (const std::string &p : plugins)
      std::filesystem::copy_file(std::string(QM_TEST_PLUGIN_DIR) + "/" + p, dir_ / p);
    std::filesystem::create_directory(dir_ / "tmp");
  }
  const std::string &player() const { return player_; }
  std::string operator/(const std::string &name) const { return dir_ / name; }
  // Signs for Run's interruptWhen: a file the program made, or text it printed.
  std::function<bool()> WhenFileExists(const std::string &path) const {
    return [path] { return access(path.c_str(), F_OK) == 0; };
  }
  std::function<bool()> WhenPrinted(const std::string &text) const {
    std::string out = dir_ / "stdout.txt";
    return [out, text] { return ReadWholeFile(out).find(text) != std::string::npos; };
  }
  // Entries of the private temporary folder that runs use.
  size_t TempEntries() const {
    size_t n = 0;
    for (auto &e : std::filesystem::directory_iterator(dir_ / "tmp")) n += !e.path().empty();
    return n;
  }

  // Runs program with args; env entries "NAME=value" are added. With interruptWhen, SIGINT
  // goes to the program once that sign is seen (the program is past its start-up then).
  PlayerResult Run(const std::vector<std::string> &args, const std::vector<std::string> &env = {},
                   const std::string &program = "", const std::function<bool()> &interruptWhen = nullptr) const {
    std::string exe = program.empty() ? player_ : program;
    std::vector<std::string> argStore = {exe};
    argStore.insert(argStore.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (auto &a : argStore) argv.push_back(a.data());
    argv.push_back(nullptr);
    // The player opens its first display: headless, on the desktop layer's dummy driver, unless
    // a test asks for another.
    std::vector<std::string> envStore = {"TMPDIR=" + (dir_ / "tmp"), "SDL_VIDEODRIVER=dummy"};
    for (char **e = environ; *e; e++)
      if (std::string(*e).rfind("TMPDIR=", 0) != 0 && std::string(*e).rfind("TP_", 0) != 0 &&
          std::string(*e).rfind("SDL_VIDEODRIVER=", 0) != 0)
        envStore.push_back(*e);
    // A test's own entries come first: the first of equal names is the one a program reads.
    envStore.insert(envStore.begin(), env.begin(), env.end());
    std::vector<char *> envp;
    for (auto &e : envStore) envp.push_back(e.data());
    envp.push_back(nullptr);

    std::string outPath = dir_ / "stdout.txt", errPath = dir_ / "stderr.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid;
    PlayerResult r;
    int rc = posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return r;
    int status = 0;
    bool ended = false;
    if (interruptWhen) {
      // A generous deadline: a loaded machine may take long to start the player, and a sign
      // that never comes fails the test through its results rather than hanging it.
      auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
      while (!interruptWhen() && std::chrono::steady_clock::now() < deadline) {
        if (waitpid(pid, &status, WNOHANG) == pid) {
          ended = true;
          break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));  // between looks at the sign
      }
      if (!ended) kill(pid, SIGINT);
    }
    if (!ended) waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = ReadWholeFile(outPath);
    r.err = ReadWholeFile(errPath);
    return r;
  }

 private:
  TempDir dir_;
  std::string player_;
};

// An applet of the assembled text: version 5.2, the chunk's source as its include file.
inline std::vector<uint8_t> AppletOf(const std::string &text) {
  qmtools::AsmResult a = qmtools::AssembleText(text);
  EXPECT_TRUE(a.proto.has_value()) << a.error;
  if (!a.proto) return {};
  return qmtools::MakeSimpleApplet(qmtools::BuildChunk(*a.proto), a.proto->source.value_or(""), 100);
}

// The chunk alone, for applets with sections of their own.
inline std::vector<uint8_t> ChunkOf(const std::string &text) {
  qmtools::AsmResult a = qmtools::AssembleText(text);
  EXPECT_TRUE(a.proto.has_value()) << a.error;
  return a.proto ? qmtools::BuildChunk(*a.proto) : std::vector<uint8_t>{};
}

// A constant argument of a script call: a number, a text, nil, or a table of named numbers and
// texts.
struct ScriptArg {
  bool text;
  std::string s;
  double n;
  bool nil = false;
  std::vector<std::pair<std::string, ScriptArg>> fields;  // a table when isTable
  bool isTable = false;
  ScriptArg(const char *t) : text(true), s(t), n(0) {}
  ScriptArg(const std::string &t) : text(true), s(t), n(0) {}
  ScriptArg(double v) : text(false), n(v) {}
  static ScriptArg Nil() {
    ScriptArg a(0.0);
    a.nil = true;
    return a;
  }
  static ScriptArg Table(std::vector<std::pair<std::string, ScriptArg>> f) {
    ScriptArg a(0.0);
    a.isTable = true;
    a.fields = std::move(f);
    return a;
  }
};
// One line of the script: name(args...), its results printed by DebugPrint when print is set.
struct ScriptLine {
  bool print;
  std::string name;
  std::vector<ScriptArg> args;
};

// The assembled script of the lines, line i at source line i + 1.
inline std::string ScriptOf(const std::vector<ScriptLine> &lines) {
  std::vector<std::string> constants;
  auto k = [&](const ScriptArg &a) {
    char buf[64];
    std::string text = a.nil ? "nil" : a.text ? "\"" + a.s + "\"" : (std::snprintf(buf, sizeof buf, "%.17g", a.n), std::string(buf));
    for (size_t i = 0; i < constants.size(); i++)
      if (constants[i] == text) return "k" + std::to_string(i);
    constants.push_back(text);
    return "k" + std::to_string(constants.size() - 1);
  };
  std::string code;
  for (size_t i = 0; i < lines.size(); i++) {
    const ScriptLine &l = lines[i];
    std::string lower;
    for (char c : l.name) lower += char(std::tolower(uint8_t(c)));
    const int f = l.print ? 1 : 0;  // the register of the called function
    if (l.print) code += "      GETGLOBAL 0 " + k(ScriptArg("debugprint")) + " @" + std::to_string(i + 1) + "\n";
    code += "      GETGLOBAL " + std::to_string(f) + " " + k(ScriptArg(lower)) + (l.print ? "" : " @" + std::to_string(i + 1)) + "\n";
    for (size_t a = 0; a < l.args.size(); a++) {
      const std::string reg = std::to_string(f + 1 + int(a));
      if (!l.args[a].isTable) {
        code += "      LOADK " + reg + " " + k(l.args[a]) + "\n";
        continue;
      }
      code += "      NEWTABLE " + reg + " 0 0\n";
      for (const auto &[key, value] : l.args[a].fields)
        code += "      SETTABLE " + reg + " " + k(ScriptArg(key)) + " " + k(value) + "\n";
    }
    const std::string argc = std::to_string(l.args.size() + 1);
    if (l.print) code += "      CALL 1 " + argc + " 0\n      CALL 0 0 1\n";
    else code += "      CALL 0 " + argc + " 1\n";
  }
  std::string head = ".func source=\"f.qms\" maxstack=16\n  .k";
  for (const std::string &c : constants) head += " " + c;
  return head + "\n" + code + "      RETURN 0 1 @" + std::to_string(lines.size() + 1) + "\n.end\n";
}
