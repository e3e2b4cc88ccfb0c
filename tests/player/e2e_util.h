// Runs the real player program on applets made by the applet writer: a private copy of the
// player in a temporary folder (its plug-in folder), standard output captured, exit status.
#pragma once
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
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
