// A real window on an X server (Xvfb): input sent with xdotool arrives as portable events.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "sdl_fixture.h"

namespace sdltest {
namespace {

// Starts Xvfb on a free display number; -1 when it cannot start.
pid_t StartXvfb(int *displayNumber) {
  if (access("/usr/bin/Xvfb", X_OK) != 0) return -1;
  int fds[2];
  if (pipe(fds) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    int devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, 1);
    dup2(devnull, 2);
    std::string fd = std::to_string(fds[1]);
    execl("/usr/bin/Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "800x600x24", "-nolisten", "tcp",
          static_cast<char *>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  char buf[32] = {};
  size_t got = 0;
  pollfd p{fds[0], POLLIN, 0};
  while (got < sizeof buf - 1 && poll(&p, 1, 5000) > 0) {
    ssize_t n = read(fds[0], buf + got, sizeof buf - 1 - got);
    if (n <= 0) break;
    got += size_t(n);
    if (memchr(buf, '\n', got)) break;
  }
  close(fds[0]);
  if (!memchr(buf, '\n', got)) {
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    return -1;
  }
  *displayNumber = atoi(buf);
  return pid;
}

class XvfbSmokeTest : public DesktopTest {
 public:
  void SetUp() override {
    int number = 0;
    xvfb = StartXvfb(&number);
    if (xvfb < 0) GTEST_SKIP() << "Xvfb cannot start here";
    if (access("/usr/bin/xdotool", X_OK) != 0) GTEST_SKIP() << "no xdotool";
    setenv("DISPLAY", (":" + std::to_string(number)).c_str(), 1);
    StartDesktop("x11", false);
  }
  void TearDown() override {
    if (xvfb < 0) return;
    StopDesktop();
    kill(xvfb, SIGTERM);
    waitpid(xvfb, nullptr, 0);
  }
  void PumpFor(double seconds) {
    double end = GetTimeSeconds() + seconds;
    while (GetTimeSeconds() < end) {
      WaitWithEventTimer(nullptr, 20);
      for (auto &e : TakeEvents()) seen.push_back(e);
    }
  }
  bool Saw(const Ev &e) { return std::find(seen.begin(), seen.end(), e) != seen.end(); }
  pid_t xvfb = -1;
  std::vector<Ev> seen;
};

TEST_F(XvfbSmokeTest, KeysAndClicksArrive) {
  std::string title = "Quenmoor smoke " + std::to_string(getpid());
  snprintf(display->title, sizeof display->title, "%s", title.c_str());
  SetPlatformWindowTitle(display);
  PumpFor(0.3);
  std::string find = "xdotool search --sync --name '" + title + "' ";
  std::string cmd = find + "windowfocus --sync %1 key a F12 Home shift+b mousemove --window %1 30 40 click 2 "
                           "click 4 >/dev/null 2>&1";
  ASSERT_EQ(system(cmd.c_str()), 0);
  PumpFor(0.8);
  EXPECT_TRUE(Saw({3, 1, 0, 97}));
  EXPECT_TRUE(Saw({3, 0, 0, 97}));
  EXPECT_TRUE(Saw({3, 1, 0, 279}));
  EXPECT_TRUE(Saw({3, 0, 0, 281}));
  EXPECT_TRUE(Saw({3, 1, 0, 66}));
  EXPECT_TRUE(Saw({16, 30, 40, 1}));
  EXPECT_TRUE(Saw({16, 30, 40, 0}));
  EXPECT_TRUE(Saw({11, 0, 0, 0}));
  EXPECT_FALSE(PlatformQuitRequested());
  ASSERT_EQ(system("xdotool key ctrl+c >/dev/null 2>&1"), 0);
  PumpFor(0.3);
  EXPECT_TRUE(PlatformQuitRequested()) << "Ctrl-C ends the script";
  EXPECT_FALSE(Saw({3, 1, 0, 99})) << "no press is posted for the key under Control";
}

}  // namespace
}  // namespace sdltest
