// The start mode that asks the user, answered by a dialog backend of the test's own.
#include <gtest/gtest.h>

#include <string>

#include "display/display/displaylib.h"
#include "platform/dialogs.h"
#include "runtime/errcodes.h"
#include "runtime/rttags.h"
#include "tests/display/display_vm.h"

namespace {

struct Question {
  std::string title, body, buttons;
  int answer = 0;
  int asked = 0;
} gQuestion;

int FakeMessage(const char *title, const char *body, const char *buttons) {
  gQuestion.title = title, gQuestion.body = body, gQuestion.buttons = buttons;
  gQuestion.asked++;
  return gQuestion.answer;
}

TEST(StartMode, AskingTheUser) {
  qmDialogBackend fake = kNoDialogs;
  fake.name = "fake";
  fake.message = FakeMessage;
  SetDialogBackend(&fake);
  const struct {
    int answer;
    uint32_t fullScreen;
    bool borderless;
  } rows[] = {
      {1, 1, true},    // "Full screen": as start mode 2
      {0, 0, false},   // "Windowed": as start mode 1
      {-1, 1, false},  // no dialog could ask: the screen is switched, the window keeps its frame
  };
  for (const auto &r : rows) {
    gQuestion = {};
    gQuestion.answer = r.answer;
    DisplayVm vm;
    ASSERT_EQ(vm.Create(1, [&] { vm.SetText("title", "Caf\xe9 demo"); }).code, 0u);
    ASSERT_EQ(OpenFirstDisplay(vm.L, 3, 0, 0), 0u) << r.answer;
    EXPECT_EQ(gQuestion.asked, 1);
    EXPECT_EQ(gQuestion.title, "Caf\xc3\xa9 demo");  // the dialogs take UTF-8
    EXPECT_EQ(gQuestion.body, "Please select desired display mode!");
    EXPECT_EQ(gQuestion.buttons, "Full screen|Windowed");
    qmDisplay *d = DisplayVm::Display(1);
    EXPECT_EQ(d->state, uint32_t(DISPSTATE_OPEN)) << r.answer;
    EXPECT_EQ(vm.Scene()->fullScreen, r.fullScreen) << r.answer;
    EXPECT_EQ((d->flags & DISPF_BORDERLESS) != 0, r.borderless) << r.answer;
    EXPECT_EQ(ApplyScreenModeCore(vm.L, 0, 0, 0), 0u);
    EXPECT_EQ(vm.Scene()->fullScreen, 0u);
  }
  // Other start modes ask nothing.
  gQuestion = {};
  {
    DisplayVm vm;
    ASSERT_EQ(vm.Create(1, [] {}).code, 0u);
    ASSERT_EQ(OpenFirstDisplay(vm.L, 0, 0, 0), 0u);
    EXPECT_EQ(gQuestion.asked, 0);
    EXPECT_EQ(vm.Scene()->fullScreen, 0u);
  }
  SetDialogBackend(nullptr);
}

// Desktop mode (display 1 made at the desktop's size for DISPLAYDESKTOP) refuses what cannot go
// with a picture of the desktop, before any window opens.
TEST(StartMode, DesktopModeRefusals) {
  const struct {
    const char *name;
    double scaleMode;
    uint32_t recording;
    uint32_t code;
  } rows[] = {
      {"recording a video", 0, 1, ERR_DDRECVIDEO},
      {"automatic scaling", 1, 0, ERR_DDAUTOSCALE},
      {"layer scaling", 2, 0, ERR_DDAUTOSCALE},
      {"recording comes first", 1, 1, ERR_DDRECVIDEO},
  };
  for (const auto &r : rows) {
    DisplayVm vm;
    ASSERT_EQ(vm.Create(1, [&] {
      vm.Set("private2", 1);
      if (r.scaleMode) vm.Set("scalemode", r.scaleMode), vm.Set("scalewidth", 320), vm.Set("scaleheight", 240);
    }).code, 0u) << r.name;
    vm.Scene()->videoRecording = r.recording;
    EXPECT_EQ(OpenFirstDisplay(vm.L, 2, 0, 0), r.code) << r.name;
    EXPECT_EQ(DisplayVm::Display(1)->state, uint32_t(DISPSTATE_CLOSED)) << r.name;
    EXPECT_EQ(vm.Scene()->fullScreen, 0u) << r.name << ": the screen was not switched";
    vm.Scene()->videoRecording = 0;
  }
  // A background picture 1 declared before a desktop display 1 cannot stand beside it.
  DisplayVm vm;
  auto declaring = [](uintptr_t on) {
    qmTagItem tags[] = {{RTTAG_DECLARATIONS, on}, {0, 0}};
    SetRuntimeTags(nullptr, tags);
  };
  ASSERT_EQ(vm.Call("CreateBGPic", {1, 16, 16, 0}).code, 0u);
  declaring(1);
  EXPECT_EQ(vm.Create(1, [&] { vm.Set("private2", 1); }).code, uint32_t(ERR_DISPLAYDESKTOP));
  EXPECT_EQ(vm.Create(1, [] {}).code, 0u) << "without desktop mode it replaces picture 1";
  declaring(0);
}

// A windowed applet with backfill gets a screen-sized display behind its windows, heading the
// list; the full-screen modes and every switch drop it, and a switch back to windowed makes it
// anew from the applet's backfill.
TEST(StartMode, BackdropBehindWindowedApplets) {
  const struct {
    const char *name;
    int startMode;
    uint32_t type, color;
    bool backdrop;          // after start-up
    uint32_t backdropColor;
    bool backdropWindowed;  // after a switch to full screen and back
  } rows[] = {
      {"windowed with a colour", 1, BACKFILL_COLOR, 0x33AA55, true, 0x33AA55, true},
      {"windowed without backfill", 1, BACKFILL_NONE, 0, false, 0, false},
      {"fake full screen: black", 6, BACKFILL_COLOR, 0x33AA55, true, 0, true},
      {"full screen chose plain bars", 2, BACKFILL_COLOR, 0x33AA55, false, 0, false},
  };
  for (const auto &r : rows) {
    DisplayVm vm;
    ASSERT_EQ(vm.Create(1, [&] { vm.Set("width", 200), vm.Set("height", 100), vm.Set("color", 0x123456); }).code, 0u);
    qmBackfillSettings &b = vm.Scene()->backfill;
    b.type = r.type;
    b.startColor = r.color;
    ASSERT_EQ(OpenFirstDisplay(vm.L, r.startMode, 0, 0), 0u) << r.name;
    qmDisplay *head = vm.Scene()->displays;
    ASSERT_NE(head, nullptr);
    EXPECT_EQ(head->private1 != 0, r.backdrop) << r.name;
    EXPECT_EQ(vm.Scene()->current, DisplayVm::Display(1)) << r.name << ": the backdrop is never current";
    if (r.backdrop) {
      EXPECT_EQ(head->state, uint32_t(DISPSTATE_OPEN)) << r.name;
      EXPECT_EQ(head->width, GetPlatformAttr(nullptr, 14)) << r.name;
      EXPECT_EQ(head->height + head->y, GetPlatformAttr(nullptr, 15)) << r.name;
      EXPECT_EQ(head->flags & (DISPF_BORDERLESS | DISPF_FIXED), uint32_t(DISPF_BORDERLESS | DISPF_FIXED)) << r.name;
      EXPECT_EQ(DisplayVm::BitmapPixel(head->bgpic->master.bitmap, 0, 0), r.backdropColor) << r.name;
      EXPECT_EQ(DisplayVm::BitmapPixel(head->bgpic->master.bitmap, head->width - 1, head->height - 1), r.backdropColor)
          << r.name;
      // Full screen shows the backfill in its own bars: the backdrop and its picture go.
      const qmObjectId pic{0, reinterpret_cast<uintptr_t>(head->bgpic)};
      qmBGPic *found = nullptr;
      ASSERT_EQ(FindBGPic(vm.Scene()->objects, &pic, &found, 0), 0u) << r.name;
      ASSERT_EQ(ApplyScreenModeCore(vm.L, 1, 0, 0), 0u) << r.name;
      EXPECT_EQ(vm.Scene()->displays->private1, 0) << r.name;
      EXPECT_NE(FindBGPic(vm.Scene()->objects, &pic, &found, FINDBGPIC_DELETED), 0u) << r.name;
    } else if (!vm.Scene()->fullScreen) {
      ASSERT_EQ(ApplyScreenModeCore(vm.L, 1, 0, 0), 0u) << r.name;
    }
    ASSERT_EQ(ApplyScreenModeCore(vm.L, 0, 0, 0), 0u) << r.name;
    head = vm.Scene()->displays;
    EXPECT_EQ(head->private1 != 0, r.backdropWindowed) << r.name << ", windowed again";
    if (r.backdropWindowed) {
      EXPECT_EQ(head->state, uint32_t(DISPSTATE_OPEN)) << r.name;
      EXPECT_EQ(DisplayVm::BitmapPixel(head->bgpic->master.bitmap, 0, 0), r.backdropColor) << r.name;
      EXPECT_EQ(head->next, DisplayVm::Display(1)) << r.name << ": one backdrop, not one per switch";
      EXPECT_EQ(DisplayVm::Display(1)->next, nullptr) << r.name;
    }
    EXPECT_EQ(DisplayVm::Display(1)->state, uint32_t(DISPSTATE_OPEN)) << r.name;
  }
}

// A backdrop that cannot be made fails the start and leaves no backdrop display behind.
TEST(StartMode, BackdropOfAMissingBrushFailsTheStart) {
  DisplayVm vm;
  ASSERT_EQ(vm.Create(1, [] {}).code, 0u);
  qmBackfillSettings &b = vm.Scene()->backfill;
  b.type = BACKFILL_TEXTURE;
  b.brush = {9, 0};
  EXPECT_EQ(OpenFirstDisplay(vm.L, 1, 0, 0), uint32_t(ERR_FINDBRUSH));
  EXPECT_EQ(vm.Scene()->displays, DisplayVm::Display(1));
  EXPECT_EQ(vm.Scene()->displays->next, nullptr);
}

}  // namespace
