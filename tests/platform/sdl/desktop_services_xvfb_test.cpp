// The desktop services on a real X server (Xvfb): a dialog program answered by xdotool, the
// clipboard with xclip as the other program, and the pointer of a window.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>

#include "platform/clipboard.h"
#include "platform/dialogs.h"
#include "platform/helperprogram.h"
#include "platform/memory.h"
#include "platform/pointer.h"
#include "platform/requesters.h"
#include "runtime/errcodes.h"
#include "xvfb_fixture.h"

namespace sdltest {
namespace {

void PumpSdl() { SDL_PumpEvents(); }

class XvfbServicesTest : public XvfbDesktopTest {
 public:
  void SetUp() override {
    if (access("/usr/bin/xdotool", X_OK) != 0) GTEST_SKIP() << "no xdotool";
    XvfbDesktopTest::SetUp();
    SetDialogDesktop(&kDesktopDialogs);
  }
  void TearDown() override {
    if (xvfb < 0) return;
    SetDialogDesktop(nullptr);
    XvfbDesktopTest::TearDown();
  }
  // A helper program's output while our windows keep answering (we may own the selection).
  std::string Output(const std::vector<std::string> &argv, const std::string *input = nullptr) {
    qmHelperRun run = RunHelperProgram(argv, input, PumpSdl);
    EXPECT_TRUE(run.started) << argv[0];
    return run.output;
  }
  void PumpFor(double seconds) {
    double end = GetTimeSeconds() + seconds;
    while (GetTimeSeconds() < end) {
      SDL_PumpEvents();
      SDL_Delay(10);
    }
  }
};

// Runs a shell command in the background; killed and reaped when the guard goes.
struct Background {
  pid_t pid;
  explicit Background(const std::string &command) {
    pid = fork();
    if (pid == 0) {
      setpgid(0, 0);
      execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char *>(nullptr));
      _exit(127);
    }
  }
  ~Background() {
    if (pid > 0) {
      kill(-pid, SIGKILL);
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
};

TEST_F(XvfbServicesTest, ZenityEntryAnsweredByXdotool) {
  if (!HelperProgramAvailable("zenity")) GTEST_SKIP() << "no zenity";
  SetDialogBackend(nullptr);
  ASSERT_EQ(CurrentDialogBackend(), &kZenityDialogs);
  std::string title = "Quenmoor entry " + std::to_string(getpid());
  // xdotool's "type" takes every word after it: the keys go in a call of their own.
  Background answer("exec >/dev/null 2>&1; timeout 30 xdotool search --sync --onlyvisible --name '" + title +
                    "' windowfocus --sync %1 && sleep 0.3 && xdotool type --delay 20 'hello 42' && xdotool key Return");
  char text[kStringRequestSize];
  EXPECT_EQ(ShowStringRequester(title.c_str(), "Your answer:", "", 0, 100, 0, text), 0u);
  EXPECT_STREQ(text, "hello 42");

  // Escape cancels: the string requester's cancel code.
  title += " again";
  Background cancel("exec >/dev/null 2>&1; timeout 30 xdotool search --sync --onlyvisible --name '" + title +
                    "' windowfocus --sync %1 && sleep 0.3 && xdotool key Escape");
  EXPECT_EQ(ShowStringRequester(title.c_str(), "Your answer:", "x", 0, 100, 0, text), static_cast<uint32_t>(ERR_USERABORT));
}

// The desktop's own message box: Return presses the first of one or two buttons, Escape the
// second of two.
TEST_F(XvfbServicesTest, MessageBoxKeys) {
  if (!HelperProgramAvailable("xwininfo")) GTEST_SKIP() << "no xwininfo";
  struct Case {
    const char *buttons, *key;
    int expected;
  } cases[] = {{"OK", "Return", 0}, {"Yes|No", "Return", 1}, {"Yes|No", "Escape", 0}};
  int round = 0;
  for (const Case &c : cases) {
    std::string title = "Quenmoor message " + std::to_string(getpid()) + " " + std::to_string(round++);
    // The box names itself in UTF-8 only, which xdotool's search does not read: xwininfo finds it.
    Background press("exec >/dev/null 2>&1; for i in $(seq 300); do id=$(xwininfo -root -tree | grep '\"" + title +
                     "\"' | awk '{print $1}' | head -n 1); [ -n \"$id\" ] && break; sleep 0.1; done; "
                     "xdotool windowfocus --sync $id && sleep 0.3 && xdotool key " + c.key);
    EXPECT_EQ(ShowMessageRequester(title.c_str(), "Carry on?", c.buttons), c.expected) << c.buttons << " " << c.key;
  }
}

TEST_F(XvfbServicesTest, ClipboardTextRoundTripsWithXclip) {
  if (!HelperProgramAvailable("xclip")) GTEST_SKIP() << "no xclip";
  int32_t kind = -1;
  // A fresh server: nobody owns the clipboard.
  ASSERT_EQ(PeekClipboardKind(&kind), 0u);
  EXPECT_EQ(kind, CLIP_EMPTY);

  // Ours, read by the other program: UTF-8 outside.
  ASSERT_EQ(WriteClipboardText("Gr\xfc\xdf""e\nzwei"), 0u);
  EXPECT_EQ(Output({"xclip", "-selection", "clipboard", "-o"}), "Gr\xc3\xbc\xc3\x9f""e\nzwei");
  char *text = nullptr;
  ASSERT_EQ(ReadClipboard(&kind, &text), 0u);
  EXPECT_EQ(kind, CLIP_TEXT);
  EXPECT_STREQ(text, "Gr\xfc\xdf""e\nzwei");
  MemFree(text);

  // The other program's, with carriage returns: line feeds inside.
  std::string crlf = "\xc3\x84pfel\r\nBirnen\rEnde";
  Output({"xclip", "-selection", "clipboard", "-i"}, &crlf);
  PumpFor(0.2);
  ASSERT_EQ(ReadClipboard(&kind, &text), 0u);
  EXPECT_EQ(kind, CLIP_TEXT);
  EXPECT_STREQ(text, "\xc4pfel\nBirnen\nEnde");
  MemFree(text);

  // A file reference is something else; cleared is empty.
  std::string uri = "file:///tmp/x.txt\n";
  Output({"xclip", "-selection", "clipboard", "-t", "text/uri-list", "-i"}, &uri);
  PumpFor(0.2);
  ASSERT_EQ(PeekClipboardKind(&kind), 0u);
  EXPECT_EQ(kind, CLIP_OTHER);
  ASSERT_EQ(ClearPlatformClipboard(), 0u);
  ASSERT_EQ(ReadClipboard(&kind, &text), 0u);
  EXPECT_EQ(kind, CLIP_EMPTY);
  EXPECT_EQ(text, nullptr);
}

// A stand-in for the image codec: the picture's size and words as they are, behind a PNG
// signature so that the bytes travel as the clipboard's image/png.
uint32_t FakeEncode(const uint32_t *argb, int32_t w, int32_t h, int32_t alpha, std::string *png) {
  png->assign("\x89PNG\r\n\x1a\n", 8);
  const int32_t head[3] = {w, h, alpha};
  png->append(reinterpret_cast<const char *>(head), sizeof head);
  png->append(reinterpret_cast<const char *>(argb), size_t(w) * size_t(h) * 4);
  return 0;
}
uint32_t FakeDecode(const uint8_t *data, size_t size, uint32_t **argb, int32_t *w, int32_t *h, int32_t *alpha) {
  int32_t head[3];
  if (size < 8 + sizeof head) return ERR_CLIPREAD;
  std::memcpy(head, data + 8, sizeof head);
  if (size != 8 + sizeof head + size_t(head[0]) * size_t(head[1]) * 4) return ERR_CLIPREAD;
  *w = head[0], *h = head[1], *alpha = head[2];
  *argb = static_cast<uint32_t *>(MemAlloc(uint32_t(size - 8 - sizeof head), 0));
  std::memcpy(*argb, data + 8 + sizeof head, size - 8 - sizeof head);
  return 0;
}
const qmClipboardImageCoder kFakeCoder = {FakeEncode, FakeDecode};

TEST_F(XvfbServicesTest, ClipboardPictureThroughXclip) {
  if (!HelperProgramAvailable("xclip")) GTEST_SKIP() << "no xclip";
  const uint32_t pixels[6] = {0xff102030u, 0x80405060u, 0, 0xffffffffu, 0x01020304u, 0xff000000u};
  EXPECT_EQ(WriteClipboardImage(pixels, 3, 2, 1), static_cast<uint32_t>(ERR_CLIPWRITE)) << "no coder";
  SetClipboardImageCoder(&kFakeCoder);
  ASSERT_EQ(WriteClipboardImage(pixels, 3, 2, 1), 0u);
  PumpFor(0.2);
  int32_t kind = -1;
  ASSERT_EQ(PeekClipboardKind(&kind), 0u);
  EXPECT_EQ(kind, CLIP_IMAGE);
  EXPECT_NE(Output({"xclip", "-selection", "clipboard", "-t", "TARGETS", "-o"}).find("image/png"), std::string::npos);
  uint32_t *back = nullptr;
  int32_t w = 0, h = 0, alpha = 0;
  ASSERT_EQ(ReadClipboardImage(&back, &w, &h, &alpha), 0u);
  EXPECT_EQ(w, 3);
  EXPECT_EQ(h, 2);
  EXPECT_EQ(alpha, 1);
  EXPECT_EQ(std::vector<uint32_t>(back, back + 6), std::vector<uint32_t>(pixels, pixels + 6));
  MemFree(back);
  // Text replaces the picture; reading a picture then fails.
  ASSERT_EQ(WriteClipboardText("x"), 0u);
  EXPECT_EQ(ReadClipboardImage(&back, &w, &h, &alpha), static_cast<uint32_t>(ERR_CLIPREAD));
  SetClipboardImageCoder(nullptr);
}

TEST_F(XvfbServicesTest, PointerMovesHidesAndShows) {
  int wx = 0, wy = 0;
  SDL_GetWindowPosition(pw->window, &wx, &wy);
  MovePointerTo(display, 50, 60);
  PumpFor(0.2);
  std::string where = Output({"xdotool", "getmouselocation", "--shell"});
  EXPECT_NE(where.find("X=" + std::to_string(wx + 50) + "\n"), std::string::npos) << where;
  EXPECT_NE(where.find("Y=" + std::to_string(wy + 60) + "\n"), std::string::npos) << where;
  ASSERT_EQ(SDL_GetMouseFocus(), pw->window);

  std::vector<uint32_t> cross(15 * 15, 0);
  for (int i = 0; i < 15; i++) cross[size_t(7 * 15 + i)] = cross[size_t(i * 15 + 7)] = 0xff000000;
  void *image = nullptr;
  ASSERT_EQ(CreatePlatformPointer(cross.data(), 15, 15, 7, 7, &image), 0u);
  SDL_Cursor *system = SDL_GetCursor();
  SetPlatformPointer(display, image, PLATPTR_IMAGE, nullptr);
  SDL_Cursor *custom = SDL_GetCursor();
  EXPECT_NE(custom, system);
  HidePlatformPointer(display);
  EXPECT_EQ(PlatformPointerHidden(display), 1);
  EXPECT_NE(SDL_GetCursor(), custom);
  ShowPlatformPointer(display);
  EXPECT_EQ(PlatformPointerHidden(display), 0);
  EXPECT_EQ(SDL_GetCursor(), custom);
  SetPlatformPointer(display, nullptr, PLATPTR_BUILTIN, nullptr);
  EXPECT_NE(SDL_GetCursor(), custom);
  SetPlatformPointer(display, nullptr, PLATPTR_SYSTEM, nullptr);
  EXPECT_EQ(SDL_GetCursor(), SDL_GetDefaultCursor());
  // Freeing the displays gives the desktop its arrow back, whatever the script had chosen.
  SetPlatformPointer(display, image, PLATPTR_IMAGE, nullptr);
  ASSERT_EQ(SDL_GetCursor(), custom);
  RestorePlatformPointer();
  EXPECT_EQ(SDL_GetCursor(), SDL_GetDefaultCursor());
  FreePlatformPointer(image);

  // Pictures that make no pointer.
  EXPECT_EQ(CreatePlatformPointer(cross.data(), 0, 15, 0, 0, &image), static_cast<uint32_t>(ERR_POINTERIMG));
  EXPECT_EQ(CreatePlatformPointer(cross.data(), 15, 15, 15, 0, &image), static_cast<uint32_t>(ERR_POINTERIMG));
}

// A window without the pointer or the focus changes nothing on screen; it shows its choice once
// it gets the focus.
TEST_F(XvfbServicesTest, HiddenPointerWaitsForTheFocus) {
  std::string title = "Quenmoor focus " + std::to_string(getpid());
  snprintf(display->title, sizeof display->title, "%s", title.c_str());
  SetPlatformWindowTitle(display);
  int wx = 0, wy = 0;
  SDL_GetWindowPosition(pw->window, &wx, &wy);
  // The pointer far from the window, the focus on the root window.
  Output({"sh", "-c", "xdotool mousemove 790 590 windowfocus $(xwininfo -root | awk '/Window id/ {print $4}') "
                      ">/dev/null 2>&1"});
  PumpFor(0.3);
  if (SDL_GetMouseFocus() == pw->window || SDL_GetKeyboardFocus() == pw->window)
    GTEST_SKIP() << "the window kept the pointer or the focus";
  SDL_Cursor *before = SDL_GetCursor();
  HidePlatformPointer(display);
  EXPECT_EQ(SDL_GetCursor(), before);
  Output({"sh", "-c", "xdotool search --sync --name '" + title + "' windowfocus --sync %1 >/dev/null 2>&1"});
  for (int i = 0; i < 50 && SDL_GetCursor() == before; i++) {
    Wait(20);
  }
  EXPECT_NE(SDL_GetCursor(), before) << "the empty pointer once the window has the focus";
  ShowPlatformPointer(display);
  EXPECT_EQ(SDL_GetCursor(), SDL_GetDefaultCursor());
}

// The headless driver shows no pointers: a stand-in is made all the same.
TEST_F(DesktopTest, PointerStandInWithoutCursors) {
  uint32_t pixels[kBuiltinPointerSize * kBuiltinPointerSize];
  DrawBuiltinPointer(pixels);
  EXPECT_EQ(pixels[0] >> 24, 0u);                                   // outside the ball
  EXPECT_EQ(pixels[11 * kBuiltinPointerSize + 11] >> 24, 255u);     // its middle
  EXPECT_EQ(pixels[23 * kBuiltinPointerSize + 23], 0u);             // the hotspot lies beyond it
  void *image = nullptr;
  ASSERT_EQ(CreatePlatformPointer(pixels, kBuiltinPointerSize, kBuiltinPointerSize, 23, 23, &image), 0u);
  SetPlatformPointer(display, image, PLATPTR_IMAGE, nullptr);
  EXPECT_EQ(PlatformPointerImage(display), image);
  HidePlatformPointer(display);
  EXPECT_EQ(PlatformPointerHidden(display), 1);
  SetPlatformPointer(display, nullptr, PLATPTR_SYSTEM, nullptr);
  EXPECT_EQ(PlatformPointerHidden(display), 0);
  FreePlatformPointer(image);
}

}  // namespace
}  // namespace sdltest

namespace sdltest {
namespace {

// While a dialog program runs, input meant for the player's windows is dropped; window events
// stay for the next pump.
TEST_F(DesktopTest, InputIsDroppedWhileADialogProgramRuns) {
  Push(Key(true, SDLK_a));
  SDL_Event shown{};
  shown.type = SDL_WINDOWEVENT;
  shown.window.windowID = pw->windowId;
  shown.window.event = SDL_WINDOWEVENT_EXPOSED;
  Push(shown);
  qmHelperRun run = RunHelperProgram({"sleep", "0.1"}, nullptr, kDesktopDialogs.keepAlive);
  EXPECT_TRUE(run.started);
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(SDL_PeepEvents(nullptr, 0, SDL_PEEKEVENT, SDL_KEYDOWN, SDL_MOUSEWHEEL), 0);
  EXPECT_EQ(SDL_PeepEvents(nullptr, 0, SDL_PEEKEVENT, SDL_WINDOWEVENT, SDL_WINDOWEVENT), 1);
}

}  // namespace
}  // namespace sdltest
