// The real player on a real X server (Xvfb): an applet with a declared button and key handler
// (label jumps) and a button it makes itself, clicked and typed at with xdotool.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "tests/platform/xvfb_server.h"
#include "tests/player/e2e_util.h"

namespace {

// MakeButton(2, SIMPLEBUTTON, 100, 100, 50, 50, {onmousedown = pressed})
// DebugPrint("ready")
// loop: WaitEvent() goto loop
// ONBUTTONCLICK1: DebugPrint("click") Return
// ONKEYDOWN1: DebugPrint("key") End()
// pressed(msg): DebugPrint(msg.action, msg.id)
const char kButtons[] = R"(
.func source="buttons.qms" maxstack=10
  .k "makebutton" 2 0 100 50 "onmousedown" "debugprint" "ready" "waitevent" "click" "key" "end"
      GETGLOBAL 0 k0        @1
      LOADK     1 k1
      LOADK     2 k2
      LOADK     3 k3
      LOADK     4 k3
      LOADK     5 k4
      LOADK     6 k4
      NEWTABLE  7 0 1
      CLOSURE   8 p0
      SETTABLE  7 k5 8
      CALL      0 8 1
      GETGLOBAL 0 k6        @2
      LOADK     1 k7
      CALL      0 2 1
loop: GETGLOBAL 0 k8        @3
      CALL      0 1 1
      JMP       loop
      GETGLOBAL 0 k6        @4
      LOADK     1 k9
      CALL      0 2 1
      RETURN    0 1 1
      GETGLOBAL 0 k6        @5
      LOADK     1 k10
      CALL      0 2 1
      GETGLOBAL 0 k11
      CALL      0 1 1
      RETURN    0 1
  .func params=1 maxstack=4 line=6
    .k "debugprint" "action" "id"
      GETGLOBAL 1 k0        @7
      GETTABLE  2 0 k1
      GETTABLE  3 0 k2
      CALL      1 3 1
      RETURN    0 1
  .end
.end
)";
constexpr uint32_t kClickLabel = 17, kKeyLabel = 21;  // instruction indices of the two routines

std::vector<uint8_t> ButtonApplet() {
  qmtools::AppletBuilder b;
  qmtools::AppletBuilder button;
  for (int16_t v : {10, 10, 49, 49}) button.I16(v);
  std::vector<uint8_t> rect(button.Bytes().begin() + 4, button.Bytes().end());
  qmtools::AppletDecl declaredButton{5, 1, "", false, 0, 0, 0, 0, 1, rect};
  qmtools::AppletDecl declaredKey{6, 1, "a", true, 0, 0, 0, 0, 1, {}};
  b.Version(5, 2).Declarations({declaredButton, declaredKey});
  b.Includes({{1, 10, 0, "buttons.qms"}});
  b.Labels({{"ONBUTTONCLICK1", kClickLabel}, {"ONKEYDOWN1", kKeyLabel}});
  b.Bytecode(ChunkOf(kButtons));
  return b.Bytes();
}

TEST(E2eButtons, DeclaredButtonKeyHandlerAndMadeButtonUnderX) {
  int number = 0;
  pid_t xvfb = StartXvfb(&number);
  if (xvfb < 0) GTEST_SKIP() << "Xvfb cannot start here";
  if (access("/usr/bin/xdotool", X_OK) != 0) {
    kill(xvfb, SIGTERM);
    waitpid(xvfb, nullptr, 0);
    GTEST_SKIP() << "no xdotool";
  }
  std::string display = ":" + std::to_string(number);
  PlayerDir d;
  ASSERT_TRUE(qmtools::WriteBytes(d / "buttons.qma", ButtonApplet()));

  std::string player = d.player(), applet = d / "buttons.qma", quiet = "-QUIET";
  char *argv[] = {player.data(), quiet.data(), applet.data(), nullptr};
  // The X libraries keep allocations to the end of the process: their leaks are not ours to
  // report here (the headless runs check the player's own).
  std::vector<std::string> envStore = PlayerEnvironment(
      {"DISPLAY=" + display, "SDL_VIDEODRIVER=x11", "TMPDIR=" + (d / "tmp"), "ASAN_OPTIONS=detect_leaks=0"});
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

  // Waits until the output holds the line; false after the time given.
  auto sawLine = [&](const std::string &line, int ms) {
    for (int waited = 0; waited < ms; waited += 20) {
      if (ReadWholeFile(outPath).find(line + "\n") != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  };
  // The made button, then the declared one, then the key: each is a line of output. A busy
  // machine may map the window late, so an input that left no line is sent again.
  bool ready = sawLine("ready", 15000);
  EXPECT_TRUE(ready) << ReadWholeFile(errPath);
  std::string window = "DISPLAY=" + display + " timeout 10 xdotool search --sync --onlyvisible --name Quenmoor ";
  struct Step {
    std::string input, line;
  } steps[] = {{"mousemove --window %1 120 120 sleep 0.1 click 1", "OnMouseDown 2"},
               {"mousemove --window %1 20 20 sleep 0.1 click 1", "click"},
               {"key a", "key"}};
  for (const Step &step : steps) {
    if (!ready) break;
    bool seen = false;
    for (int attempt = 0; attempt < 5 && !seen; attempt++) {
      std::string cmd = window + "windowfocus --sync %1 " + step.input + " >/dev/null 2>&1";
      // Its status is not looked at: the last key ends the player, and its window, under it.
      (void)!system(cmd.c_str());
      seen = sawLine(step.line, 2000);
    }
    EXPECT_TRUE(seen) << step.line;
  }

  int status = 0;
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > end) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(xvfb, SIGTERM);
  waitpid(xvfb, nullptr, 0);
  ASSERT_TRUE(WIFEXITED(status)) << "the player did not end";
  EXPECT_EQ(WEXITSTATUS(status), 0) << ReadWholeFile(outPath) << ReadWholeFile(errPath);
  std::string out = ReadWholeFile(outPath);
  EXPECT_EQ(out.rfind("ready\nOnMouseDown 2\n", 0), 0u) << out;
  EXPECT_NE(out.find("\nclick\n"), std::string::npos) << out;
  EXPECT_EQ(out.substr(out.size() - 4), "key\n") << out;
}

}  // namespace
