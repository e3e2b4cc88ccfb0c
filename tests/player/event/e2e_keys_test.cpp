// The real player on a real X server (Xvfb): keys typed with xdotool reach the script's key
// handlers as the portable codes, Control silences keys, and Escape ends the script only once
// the script asked for it.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "tests/platform/xvfb_server.h"
#include "tests/player/e2e_util.h"

namespace {

// InstallEventHandler({onkeydown = key, onkeyup = key}); DebugPrint("ready")
// loop: WaitEvent() goto loop
// key(msg): DebugPrint(msg.action, msg.key); if msg.key == "e" then EscapeQuit(1) end
const char kKeys[] = R"(
.func source="keys.qms" maxstack=8
  .k "installeventhandler" "onkeydown" "onkeyup" "debugprint" "ready" "waitevent"
      GETGLOBAL 0 k0        @1
      NEWTABLE  1 0 2
      CLOSURE   2 p0
      SETTABLE  1 k1 2
      SETTABLE  1 k2 2
      CALL      0 2 1
      GETGLOBAL 0 k3        @2
      LOADK     1 k4
      CALL      0 2 1
loop: GETGLOBAL 0 k5        @3
      CALL      0 1 1
      JMP       loop
      RETURN    0 1
  .func params=1 maxstack=8 line=4
    .k "debugprint" "action" "key" "e" "escapequit" 1
      GETGLOBAL 1 k0        @5
      GETTABLE  2 0 k1
      GETTABLE  3 0 k2
      CALL      1 3 1
      GETTABLE  1 0 k2      @6
      EQ        0 1 k3
      JMP       done
      GETGLOBAL 1 k4
      LOADK     2 k5
      CALL      1 2 1
done: RETURN    0 1         @7
  .end
.end
)";

// One run of the real player on its own X server, typed at with xdotool.
class XPlayer {
 public:
  // False (and a reason) when the machine has no X server or xdotool to offer.
  bool Start(const char *assembly, std::string *why) {
    int number = 0;
    xvfb_ = StartXvfb(&number);
    if (xvfb_ < 0) return *why = "Xvfb cannot start here", false;
    if (access("/usr/bin/xdotool", X_OK) != 0) return *why = "no xdotool", false;
    display_ = ":" + std::to_string(number);
    if (!qmtools::WriteBytes(d_ / "run.qma", AppletOf(assembly))) return *why = "cannot write the applet", false;
    std::string player = d_.player(), applet = d_ / "run.qma", quiet = "-QUIET";
    char *argv[] = {player.data(), quiet.data(), applet.data(), nullptr};
    // The X libraries keep allocations to the end of the process: their leaks are not ours to
    // report here (the headless runs check the player's own).
    std::vector<std::string> envStore = PlayerEnvironment(
        {"DISPLAY=" + display_, "SDL_VIDEODRIVER=x11", "TMPDIR=" + (d_ / "tmp"), "ASAN_OPTIONS=detect_leaks=0"});
    std::vector<char *> envp;
    for (auto &e : envStore) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int rc = posix_spawn(&pid_, player.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) pid_ = -1;
    return pid_ > 0 || (*why = "cannot start the player", false);
  }
  ~XPlayer() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (xvfb_ > 0) {
      kill(xvfb_, SIGTERM);
      waitpid(xvfb_, nullptr, 0);
    }
  }
  std::string Out() const { return ReadWholeFile(out_); }
  std::string Err() const { return ReadWholeFile(err_); }
  bool Saw(const std::string &text, int ms) const {
    for (int waited = 0; waited < ms; waited += 20) {
      if (Out().find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }
  // Focuses the player's window and types; its status is not looked at (an input may end the
  // player, and its window, under it).
  void Type(const std::string &input) const {
    std::string cmd = "DISPLAY=" + display_ + " timeout 10 xdotool search --sync --onlyvisible --name Quenmoor " +
                      "windowfocus --sync %1 " + input + " >/dev/null 2>&1";
    (void)!system(cmd.c_str());
  }
  // A busy machine may take the window's focus or xdotool's remapped key late, so an input
  // that left no text is sent again (a repeat only adds the same lines).
  bool TypeUntil(const std::string &input, const std::string &text) const {
    for (int attempt = 0; attempt < 5; attempt++) {
      Type(input);
      if (Saw(text, 3000)) return true;
    }
    return false;
  }
  // Waits for the player's end; its exit status, or -1 when it had to be killed.
  bool Ended(int ms, int *status) {
    for (int waited = 0; waited < ms; waited += 20) {
      if (waitpid(pid_, status, WNOHANG) == pid_) {
        pid_ = -1;
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

 private:
  PlayerDir d_;
  std::string out_ = d_ / "out.txt", err_ = d_ / "err.txt", display_;
  pid_t xvfb_ = -1, pid_ = -1;
};

TEST(E2eKeys, TypedKeysUnderXAndTheEscapeSwitch) {
  XPlayer x;
  std::string why;
  if (!x.Start(kKeys, &why)) GTEST_SKIP() << why;
  bool ready = x.Saw("ready\n", 15000);
  ASSERT_TRUE(ready) << x.Err();
  // Each input, then the text that shows it arrived. Keys typed under Control post nothing,
  // so the x after them shows that the a before it was swallowed, not late. An Escape while
  // the switch is off is an ordinary key, and turning the switch on afterwards does not quit
  // for that old press (the y still arrives).
  struct Step {
    std::string input, text;
  } steps[] = {{"key adiaeresis", "OnKeyDown \xE4\nOnKeyUp \xE4\n"},
               {"keydown ctrl key a keyup ctrl key x", "OnKeyDown x\nOnKeyUp x\n"},
               {"key Escape", "OnKeyDown ESC\nOnKeyUp ESC\n"},
               {"key e", "OnKeyUp e\n"},
               {"key y", "OnKeyUp y\n"}};
  for (const Step &step : steps) EXPECT_TRUE(x.TypeUntil(step.input, step.text)) << step.input << "\n" << x.Out();
  EXPECT_EQ(x.Out().find(" a\n"), std::string::npos) << x.Out();

  // With the switch on, Escape ends the script as a user abort: status 0 and no report.
  int status = 0;
  bool gone = false;
  for (int attempt = 0; attempt < 5 && !gone; attempt++) {
    x.Type("key Escape");
    gone = x.Ended(4000, &status);
  }
  ASSERT_TRUE(gone) << "Escape with EscapeQuit on did not end the player";
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << x.Err();
  EXPECT_EQ(x.Err(), "");
  EXPECT_EQ(x.Out().find("rror"), std::string::npos) << x.Out();
}

// InstallEventHandler({modeswitch = show, onkeyup = show}); DebugPrint("ready")
// loop: WaitEvent() goto loop
// show(msg): DebugPrint(msg.action)
const char kModes[] = R"(
.func source="modes.qms" maxstack=8
  .k "installeventhandler" "modeswitch" "onkeyup" "debugprint" "ready" "waitevent"
      GETGLOBAL 0 k0        @1
      NEWTABLE  1 0 2
      CLOSURE   2 p0
      SETTABLE  1 k1 2
      SETTABLE  1 k2 2
      CALL      0 2 1
      GETGLOBAL 0 k3        @2
      LOADK     1 k4
      CALL      0 2 1
loop: GETGLOBAL 0 k5        @3
      CALL      0 1 1
      JMP       loop
      RETURN    0 1
  .func params=1 maxstack=8 line=4
    .k "debugprint" "action"
      GETGLOBAL 1 k0        @5
      GETTABLE  2 0 k1
      CALL      1 2 1
      RETURN    0 1
  .end
.end
)";

// Alt+Return switches the screen mode and tells the script, the toggle before the key's
// release, both ways; the switch with its fades takes longer than the event time-out.
TEST(E2eKeys, AltReturnTogglesTheScreenModeAndTellsTheScript) {
  XPlayer x;
  std::string why;
  if (!x.Start(kModes, &why)) GTEST_SKIP() << why;
  ASSERT_TRUE(x.Saw("ready\n", 15000)) << x.Err();
  auto toggles = [&x] {
    size_t n = 0;
    std::string out = x.Out();
    for (size_t at = out.find("ModeSwitch\nOnKeyUp\n"); at != std::string::npos; at = out.find("ModeSwitch\nOnKeyUp\n", at + 1)) n++;
    return n;
  };
  for (int round = 1; round <= 2; round++) {
    size_t before = toggles();
    bool seen = false;
    for (int attempt = 0; attempt < 5 && !seen; attempt++) {
      x.Type("keydown alt key Return keyup alt");
      for (int waited = 0; waited < 6000 && !seen; waited += 20) {
        seen = toggles() > before;
        if (!seen) std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    }
    EXPECT_TRUE(seen) << "round " << round << "\n" << x.Out();
  }
}

}  // namespace
