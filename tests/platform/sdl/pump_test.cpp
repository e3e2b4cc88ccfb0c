// The event pump: window events, quit requests, the 10 ms rule, the per-line check, motion
// coalescing and the wake-up of a blocking wait.
#include <atomic>
#include <thread>

#include "runtime/errcodes.h"
#include "runtime/vm/vm_api.h"
#include "runtime/vm/vm_state.h"
#include "sdl_fixture.h"

namespace sdltest {
namespace {

class PumpTest : public DesktopTest {};

TEST_F(PumpTest, WindowEventsReachTheQueueOnceEach) {
  Push(Window(SDL_WINDOWEVENT_MOVED, 100, 50));
  Push(Window(SDL_WINDOWEVENT_MOVED, 100, 50));  // where it already is: nothing new
  Push(Window(SDL_WINDOWEVENT_SIZE_CHANGED, 400, 300));
  Push(Window(SDL_WINDOWEVENT_FOCUS_GAINED));
  Push(Window(SDL_WINDOWEVENT_MINIMIZED));
  Push(Window(SDL_WINDOWEVENT_RESTORED));
  Push(Window(SDL_WINDOWEVENT_RESTORED));  // not minimised any more: nothing
  display->closeHandled = 1;
  Push(Window(SDL_WINDOWEVENT_CLOSE));
  EXPECT_EQ(PumpAll(), 0);
  EXPECT_EQ(TakeEvents(), (std::vector<Ev>{{4, 0, 0, 0}, {5, 0, 0, 0}, {8, 0, 0, 0}, {9, 0, 0, 0}, {10, 0, 0, 0}, {7, 0, 0, 0}}));
  EXPECT_EQ(display->x, 100);
  EXPECT_EQ(display->y, 50);
  EXPECT_EQ(display->width, 400);
  EXPECT_EQ(display->height, 300);
  EXPECT_EQ(display->state, DISPSTATE_OPEN);
  EXPECT_EQ(display->active, 1u);
}

TEST_F(PumpTest, DeactivateReleasesHeldKeysWithoutEvents) {
  Push(Key(true, SDLK_k));
  Push(Text("k"));
  Push(Window(SDL_WINDOWEVENT_FOCUS_LOST));
  Push(Key(false, SDLK_k));  // arrives after the focus went: a plain release, not a stuck key
  PumpAll();
  EXPECT_EQ(TakeEvents(), (std::vector<Ev>{{3, 1, 0, 107}, {6, 0, 0, 0}, {3, 0, 0, 107}}));
  EXPECT_EQ(display->keyStates[107], 0);
  EXPECT_EQ(display->active, 0u);
}

TEST_F(PumpTest, QuitConditions) {
  struct Row {
    const char *name;
    int32_t selector, value;  // a switch to set first, or 0
    std::function<void(PumpTest &)> input;
    int quit;
  };
  const Row rows[] = {
      {"close box without a handler", 0, 0, [](PumpTest &t) { t.Push(t.Window(SDL_WINDOWEVENT_CLOSE)); }, 1},
      {"close box with a handler", 0, 0,
       [](PumpTest &t) {
         t.display->closeHandled = 1;
         t.Push(t.Window(SDL_WINDOWEVENT_CLOSE));
       },
       0},
      {"desktop quit request", 0, 0, [](PumpTest &t) { t.Push(SDL_Event{SDL_QUIT}); }, 1},
      {"Ctrl-C", 0, 0, [](PumpTest &t) { t.Push(t.Key(true, SDLK_c, KMOD_LCTRL)); }, 1},
      {"Ctrl-C turned off", PLATATTR_CTRLCQUIT, 0, [](PumpTest &t) { t.Push(t.Key(true, SDLK_c, KMOD_LCTRL)); }, 0},
      {"Escape", PLATATTR_ESCAPEQUIT, 1, [](PumpTest &t) { t.Push(t.Key(false, SDLK_ESCAPE)); }, 1},
      {"Escape not enabled", 0, 0, [](PumpTest &t) { t.Push(t.Key(true, SDLK_ESCAPE)); }, 0},
      {"left button", PLATATTR_LEFTMOUSEQUIT, 1, [](PumpTest &t) { t.Push(t.Button(true, SDL_BUTTON_LEFT, 3, 3)); }, 1},
      {"left button not enabled", 0, 0, [](PumpTest &t) { t.Push(t.Button(true, SDL_BUTTON_LEFT, 3, 3)); }, 0},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    StopDesktop();
    StartDesktop("dummy", true);
    VmState *vm = vm_open();
    ASSERT_NE(vm, nullptr);
    if (row.selector) SetPlatformAttr(display, row.selector, row.value);
    row.input(*this);
    int quit = 0;
    for (int i = 0; i < 4; i++) {
      FakeClock::Advance(20000);
      quit |= Pump(vm);
    }
    EXPECT_EQ(quit, row.quit);
    EXPECT_EQ(G(vm)->endrequested, row.quit);
    EXPECT_EQ(PlatformQuitRequested(), row.quit != 0);
    // The quit is sticky: later pumps keep answering it.
    FakeClock::Advance(20000);
    EXPECT_EQ(PumpPlatformEvents(nullptr), row.quit);
    vm_close(vm);
  }
}

TEST_F(PumpTest, EscapeSeenWhileOffDoesNotQuitLater) {
  Push(Key(true, SDLK_ESCAPE));
  PumpAll();
  SetPlatformAttr(display, PLATATTR_ESCAPEQUIT, 1);
  EXPECT_EQ(PumpAll(), 0);
}

TEST_F(PumpTest, TenMillisecondRuleSkipsTheChecks) {
  PumpAll();
  SetPlatformAttr(display, PLATATTR_ESCAPEQUIT, 1);
  pw->escapeSeen = 1;  // as if seen in the last pump
  FakeClock::Advance(5000);
  EXPECT_EQ(PumpPlatformEvents(nullptr), 0) << "within 10 ms and nothing queued: no checks";
  FakeClock::Advance(5000);
  EXPECT_EQ(PumpPlatformEvents(nullptr), 1) << "10 ms on: the full pump";
}

TEST_F(PumpTest, LineCheckPumpsOnlyWhenDueOrWoken) {
  FakeClock::Advance(20000);
  PumpIfDue();  // due: pumps and starts the next interval
  Push(Key(true, SDLK_F1));
  FakeClock::Advance(1000);
  PumpIfDue();
  EXPECT_TRUE(TakeEvents().empty()) << "1 ms later the check does not pump";
  FakeClock::Advance(4000);
  PumpIfDue();
  EXPECT_EQ(TakeEvents(), (std::vector<Ev>{{3, 1, 0, 261}}));
  Push(Key(true, SDLK_F2));
  WakeMainLoop();
  PumpIfDue();
  PumpIfDue();
  EXPECT_EQ(TakeEvents(), (std::vector<Ev>{{3, 1, 0, 262}})) << "a wake-up pumps at once";
}

TEST_F(PumpTest, MotionFloodDoesNotDelayInput) {
  for (int i = 0; i < 2000; i++) Push(Motion(i % 300, i % 200));
  Push(Button(true, SDL_BUTTON_RIGHT, 7, 8));
  FakeClock::Advance(20000);
  Pump();
  EXPECT_EQ(TakeEvents(), (std::vector<Ev>{{2, 7, 8, 1}})) << "one pump reaches the click";
  EXPECT_EQ(display->pointerMoved, 1u);
  EXPECT_EQ(GetPlatformAttr(display, 6), 1999 % 300);
  EXPECT_EQ(GetPlatformAttr(display, 7), 1999 % 200);
}

TEST_F(PumpTest, UserResizeResizesTheDisplay) {
  Push(Window(SDL_WINDOWEVENT_SIZE_CHANGED, 500, 260));
  PumpAll();
  EXPECT_EQ(display->width, 500);
  EXPECT_EQ(display->textMarginRight, 499) << "the display's resize ran";
}

TEST_F(PumpTest, FrameRateAttribute) {
  EXPECT_EQ(GetRefreshRate(), 60) << "the dummy screen reports no rate";
  EXPECT_EQ(GetPlatformAttr(nullptr, 16), 60);
  SetPlatformAttr(display, PLATATTR_FRAMERATE, 30);
  EXPECT_EQ(GetPlatformAttr(nullptr, 16), 30);
  SetPlatformAttr(display, PLATATTR_FRAMERATE, 0);
  EXPECT_EQ(GetPlatformAttr(nullptr, 16), 60);
}

TEST_F(PumpTest, ModesAreListedOnce) {
  int32_t n = ListDisplayModes(nullptr);
  ASSERT_GT(n, 0);
  std::vector<int32_t> pairs(2 * size_t(n));
  int32_t distinct = ListDisplayModes(pairs.data());
  ASSERT_GE(distinct, 1);
  for (int32_t i = 0; i < distinct; i++)
    for (int32_t j = i + 1; j < distinct; j++)
      EXPECT_FALSE(pairs[2 * i] == pairs[2 * j] && pairs[2 * i + 1] == pairs[2 * j + 1]);
  EXPECT_EQ(SwitchDisplayMode(640, 480, 32), 0u);
  EXPECT_EQ(SwitchDisplayMode(100000, 100000, 32), uint32_t(ERR_SCREEN));
}

TEST_F(PumpTest, FullScreenFallsBackToTheDesktopModeCentred) {
  ClosePlatformWindow(display);
  scene->fullScreen = 1;
  ASSERT_EQ(OpenPlatformWindow(display, 1, nullptr, nullptr, int32_t(scene->fullScreen)), 0u);
  EXPECT_NE(pw->fullscreen, 0u);
  int w = 0, h = 0;
  SDL_GetWindowSize(pw->window, &w, &h);
  EXPECT_EQ(display->marginLeft, (w - display->width) / 2);
  EXPECT_EQ(MinimizePlatformWindow(display, 1), 0u);
  ClosePlatformWindow(display);
  EXPECT_EQ(display->marginLeft, 0) << "back to a window: the picture starts at the corner";
  scene->fullScreen = 0;
}

class RealClockTest : public DesktopTest {
 public:
  void SetUp() override { StartDesktop("dummy", false); }
};

TEST_F(RealClockTest, WakeFromAnotherThreadEndsTheWait) {
  Pump();
  std::atomic<bool> woken{false};
  std::thread waker([&woken] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    woken = true;
    WakeMainLoop();
  });
  // A wait ended by something else (the window system's own events) is waited again: without
  // the wake the last wait would never end.
  while (!woken) EXPECT_EQ(WaitPlatformEvent(), 0u);
  waker.join();
}

TEST_F(RealClockTest, TimedWaitRunsItsTimeAndStopsOnQuit) {
  double start = GetTimeSeconds();
  EXPECT_EQ(Wait(40), 0u);
  double took = GetTimeSeconds() - start;
  EXPECT_GE(took, 0.039);
  Push(Window(SDL_WINDOWEVENT_CLOSE));
  EXPECT_EQ(Wait(5000), uint32_t(ERR_USERABORT));
}

TEST_F(RealClockTest, IntervalEndsABlockingWait) {
  qmObjectId owner{7, 0};
  ASSERT_EQ(ControlPlatformTimer(TIMEROP_ADDINTERVAL, &owner, 30), 0u);
  uint32_t kind;
  qmObjectId who{};
  NextFiredTimer(nullptr, &kind, &who);  // the first firing, at once
  ASSERT_EQ(kind, uint32_t(TIMER_INTERVAL));
  double start = GetTimeSeconds();
  WaitPlatformEvent();
  double took = GetTimeSeconds() - start;
  NextFiredTimer(nullptr, &kind, &who);
  EXPECT_EQ(kind, uint32_t(TIMER_INTERVAL));
  EXPECT_GE(took, 0.025);  // without the interval the wait would never end
}

}  // namespace
}  // namespace sdltest
