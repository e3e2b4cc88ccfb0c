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

TEST(E2eKeys, TypedKeysUnderXAndTheEscapeSwitch) {
  int number = 0;
  pid_t xvfb = StartXvfb(&number);
  if (xvfb < 0) GTEST_SKIP() << "Xvfb cannot start here";
  ServerGuard server{xvfb};
  if (access("/usr/bin/xdotool", X_OK) != 0) GTEST_SKIP() << "no xdotool";
  std::string display = ":" + std::to_string(number);
  PlayerDir d;
  ASSERT_TRUE(qmtools::WriteBytes(d / "keys.qma", AppletOf(kKeys)));

  std::string player = d.player(), applet = d / "keys.qma", quiet = "-QUIET";
  char *argv[] = {player.data(), quiet.data(), applet.data(), nullptr};
  // The X libraries keep allocations to the end of the process: their leaks are not ours to
  // report here (the headless runs check the player's own).
  std::vector<std::string> envStore = {"DISPLAY=" + display, "SDL_VIDEODRIVER=x11", "TMPDIR=" + (d / "tmp"),
                                       "ASAN_OPTIONS=detect_leaks=0"};
  for (char **e = environ; *e; e++) {
    std::string v = *e;
    if (v.rfind("DISPLAY=", 0) && v.rfind("SDL_VIDEODRIVER=", 0) && v.rfind("TMPDIR=", 0) &&
        v.rfind("ASAN_OPTIONS=", 0))
      envStore.push_back(v);
  }
  std::vector<char *> envp;
  for (auto &e : envStore) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string outPath = d / "out.txt", errPath = d / "err.txt";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid;
  ASSERT_EQ(posix_spawn(&pid, player.c_str(), &actions, nullptr, argv, envp.data()), 0);
  posix_spawn_file_actions_destroy(&actions);

  auto sawText = [&](const std::string &text, int ms) {
    for (int waited = 0; waited < ms; waited += 20) {
      if (ReadWholeFile(outPath).find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  };
  auto ended = [&](int ms, int *status) {
    for (int waited = 0; waited < ms; waited += 20) {
      if (waitpid(pid, status, WNOHANG) == pid) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  };
  bool ready = sawText("ready\n", 15000);
  EXPECT_TRUE(ready) << ReadWholeFile(errPath);
  std::string window = "DISPLAY=" + display + " timeout 10 xdotool search --sync --onlyvisible --name Quenmoor ";
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
  // A busy machine may take the window's focus or xdotool's remapped key late, so an input
  // that left no text is sent again (a repeat only adds the same lines).
  for (const Step &step : steps) {
    if (!ready) break;
    bool seen = false;
    for (int attempt = 0; attempt < 5 && !seen; attempt++) {
      std::string cmd = window + "windowfocus --sync %1 " + step.input + " >/dev/null 2>&1";
      (void)!system(cmd.c_str());
      seen = sawText(step.text, 3000);
    }
    EXPECT_TRUE(seen) << step.input << "\n" << ReadWholeFile(outPath);
  }
  std::string before = ReadWholeFile(outPath);
  EXPECT_EQ(before.find(" a\n"), std::string::npos) << before;

  // With the switch on, Escape ends the script as a user abort: status 0 and no report.
  int status = 0;
  bool gone = false;
  for (int attempt = 0; ready && attempt < 5 && !gone; attempt++) {
    std::string cmd = window + "windowfocus --sync %1 key Escape >/dev/null 2>&1";
    (void)!system(cmd.c_str());
    gone = ended(4000, &status);
  }
  if (!gone) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  EXPECT_TRUE(gone) << "Escape with EscapeQuit on did not end the player";
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << ReadWholeFile(errPath);
  EXPECT_EQ(ReadWholeFile(errPath), "");
  std::string out = ReadWholeFile(outPath);
  EXPECT_EQ(out.find("rror"), std::string::npos) << out;
}

}  // namespace
