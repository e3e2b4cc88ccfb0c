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

}  // namespace
