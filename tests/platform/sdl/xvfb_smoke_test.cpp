// A real window on an X server (Xvfb): input sent with xdotool arrives as portable events.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "xvfb_fixture.h"

namespace sdltest {
namespace {

class XvfbSmokeTest : public XvfbDesktopTest {
 public:
  void SetUp() override {
    if (access("/usr/bin/xdotool", X_OK) != 0) GTEST_SKIP() << "no xdotool";
    XvfbDesktopTest::SetUp();
  }
  void PumpFor(double seconds) {
    double end = GetTimeSeconds() + seconds;
    while (GetTimeSeconds() < end) {
      Wait(20);
      for (auto &e : TakeEvents()) seen.push_back(e);
    }
  }
  bool Saw(const Ev &e) { return std::find(seen.begin(), seen.end(), e) != seen.end(); }
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
