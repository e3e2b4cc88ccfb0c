// The fixture's desktop and window on an X server of its own (Xvfb); skipped where Xvfb cannot
// start.
#pragma once
#include <signal.h>
#include <sys/wait.h>

#include <string>

#include "sdl_fixture.h"
#include "tests/platform/xvfb_server.h"

namespace sdltest {

class XvfbDesktopTest : public DesktopTest {
 public:
  void SetUp() override {
    int number = 0;
    xvfb = StartXvfb(&number);
    if (xvfb < 0) GTEST_SKIP() << "Xvfb cannot start here";
    setenv("DISPLAY", (":" + std::to_string(number)).c_str(), 1);
    StartDesktop("x11", false);
  }
  void TearDown() override {
    if (xvfb < 0) return;
    StopDesktop();
    kill(xvfb, SIGTERM);
    waitpid(xvfb, nullptr, 0);
  }
  pid_t xvfb = -1;
};

}  // namespace sdltest
