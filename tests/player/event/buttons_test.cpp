// Buttons as a script makes and uses them: the hit test, MakeButton's checks, and the hover and
// click sequence that real SDL input gives.
#include <gtest/gtest.h>

#include "display/bgpic.h"
#include "display/position.h"
#include "player/event/event_buttons.h"
#include "runtime/errcodes.h"
#include "runtime/vm/vm_api.h"
#include "tests/player/event/input_vm.h"

namespace {

using Lines = std::vector<std::string>;

TEST(ButtonHitTest, PicturePixelsInclusiveAndScaled) {
  qmDisplay *d = NewDisplayRecord(1);
  ASSERT_NE(d, nullptr);
  qmBGPicButton one{};
  one.x1 = one.x2 = 5;
  one.y1 = one.y2 = 5;
  struct Row {
    double scale;
    int32_t offset, wx, wy, hit;
  } rows[] = {
      {1, 0, 5, 5, 1},   {1, 0, 4, 5, 0},   {1, 0, 6, 5, 0},  {1, 0, 5, 6, 0},
      {2, 0, 11, 11, 1}, {2, 0, 10, 10, 1}, {2, 0, 12, 11, 0}, {2, 0, 9, 11, 0},
      {1, 20, 25, 25, 1}, {1, 20, 5, 5, 0},
  };
  for (const Row &r : rows) {
    d->scaleX = d->scaleY = r.scale;
    d->marginLeft = d->marginTop = r.offset;
    EXPECT_EQ(HitTestButton(nullptr, &one, d, r.wx, r.wy), r.hit) << r.scale << " " << r.offset << " " << r.wx;
  }
  FreeDisplayRecord(d);
}

TEST(Buttons, MakeButtonChecksAndReplaces) {
  InputVm vm;
  qmBGPic *pic = vm.d->bgpic;
  ASSERT_EQ(vm.MakeButton(1, 0, 0, 10, 10, {"onmousedown"}, "a").code, 0u);
  ASSERT_EQ(vm.MakeButton(1, 5, 5, 10, 10, {"onmousedown"}, "b").code, 0u);
  EXPECT_EQ(CountButtons(pic), 1) << "the same number replaces the button";
  EXPECT_EQ(vm.MakeButton(2, 0, 0, 10, 10, {"onmouseout"}, "c").code, 0u) << "one handler is enough";
  struct Row {
    const char *name;
    int w, h;
    Lines events;
    uint32_t code;
  } rows[] = {
      {"no handler", 10, 10, {}, ERR_WRONGUSAGE},
      {"names are matched as written", 10, 10, {"OnMouseDown"}, ERR_WRONGUSAGE},
      {"zero width", 0, 10, {"onmousedown"}, ERR_WRONGUSAGE},
      {"zero height", 10, 0, {"onmousedown"}, ERR_WRONGUSAGE},
  };
  for (const Row &r : rows) EXPECT_EQ(vm.MakeButton(3, 0, 0, r.w, r.h, r.events, "x").code, r.code) << r.name;
  auto withtable = [&](double kind, const std::function<void()> &fill) {
    return vm.CallWith("makebutton", [&] {
      vm_pushnumber(vm.L, 4);
      vm_pushnumber(vm.L, kind);
      for (double v : {0.0, 0.0, 5.0, 5.0}) vm_pushnumber(vm.L, v);
      vm_newtable(vm.L);
      fill();
      return 7;
    }).code;
  };
  EXPECT_EQ(withtable(0, [&] { vm.Set("onmousedown", 5); }), uint32_t(ERR_FUNCEXPECTED));
  EXPECT_EQ(withtable(2, [&] { vm.Set("onmousedown", 5); }), uint32_t(ERR_WRONGUSAGE)) << "no such kind";
  EXPECT_EQ(withtable(1, [&] {}), uint32_t(ERR_LAYERRANGE)) << "the picture has no layers";
  EXPECT_EQ(CountButtons(pic), 2);
  EXPECT_EQ(vm.Call("DeleteButton", {9}).code, uint32_t(ERR_FINDBUTTON));
  EXPECT_EQ(vm.Call("EnableButton", {9}).code, uint32_t(ERR_FINDBUTTON));
  // An automatic id comes back as a handle that finds the button.
  vm_settop(vm.L, 0);
  vm_pushstring(vm.L, "makebutton");
  vm_gettable(vm.L, VM_GLOBALSINDEX);
  vm_pushnil(vm.L);
  for (double v : {0.0, double(POS_CENTER), 0.0, 20.0, 10.0}) vm_pushnumber(vm.L, v);
  vm_newtable(vm.L);
  vm_pushstring(vm.L, "onmouseup");
  vm.PushHandler("auto");
  vm_settable(vm.L, -3);
  ASSERT_EQ(vm_pcall(vm.L, 7, 1, 0), 0u);
  ASSERT_EQ(vm_type(vm.L, -1), VM_TLIGHTUSERDATA);
  auto *b = static_cast<qmBGPicButton *>(vm_touserdata(vm.L, -1));
  EXPECT_EQ(b->x1, 150) << "CENTER on a 320 wide picture";
  EXPECT_EQ(b->x2, 169);
  vm_pushstring(vm.L, "deletebutton");
  vm_gettable(vm.L, VM_GLOBALSINDEX);
  vm_pushvalue(vm.L, 1);
  EXPECT_EQ(vm_pcall(vm.L, 1, 0, 0), 0u);
  EXPECT_EQ(CountButtons(pic), 2);
}

TEST(Buttons, HoverAndClickSequence) {
  InputVm vm;
  const Lines all = {"onmouseover", "onmouseout", "onmousedown", "onmouseup", "onrightmousedown", "onrightmouseup"};
  ASSERT_EQ(vm.MakeButton(1, 10, 10, 20, 20, all, "a").code, 0u);
  ASSERT_EQ(vm.MakeButton(2, 50, 10, 20, 20, all, "b").code, 0u);
  vm.MoveTo(15, 15);
  vm.Click(15, 15);
  vm.Click(16, 16, SDL_BUTTON_RIGHT);
  vm.MoveTo(55, 15);
  vm.MoveTo(200, 150);
  vm.Click(200, 150);  // on no button: nothing
  EXPECT_EQ(InputVm::Log(), (Lines{"a:OnMouseOver:1", "a:OnMouseDown:1", "a:OnMouseUp:1", "a:OnRightMouseDown:1",
                                   "a:OnRightMouseUp:1", "a:OnMouseOut:1", "b:OnMouseOver:2", "b:OnMouseOut:2"}));
}

TEST(Buttons, OverlappingButtonsTheNewestDecides) {
  InputVm vm;
  ASSERT_EQ(vm.MakeButton(1, 10, 10, 20, 20, {"onmouseover", "onmousedown"}, "a").code, 0u);
  ASSERT_EQ(vm.MakeButton(2, 20, 20, 20, 20, {"onmouseover", "onmousedown"}, "b").code, 0u);
  vm.MoveTo(25, 25);
  vm.Click(25, 25);
  vm.MoveTo(12, 12);
  EXPECT_EQ(InputVm::Log(), (Lines{"b:OnMouseOver:2", "b:OnMouseDown:2", "a:OnMouseOver:1"}));
}

TEST(Buttons, DisplayHandlerFirstThenTheButton) {
  InputVm vm;
  ASSERT_EQ(vm.MakeButton(1, 10, 10, 20, 20, {"onmousedown"}, "a").code, 0u);
  ASSERT_EQ(vm.CallWith("installeventhandler",
                        [&] {
                          vm_newtable(vm.L);
                          vm_pushstring(vm.L, "onmousedown");
                          vm.PushHandler("display");
                          vm_settable(vm.L, -3);
                          return 1;
                        })
                .code,
            0u);
  vm.Push(vm.Button(true, SDL_BUTTON_LEFT, 15, 15));
  vm.PumpAll();
  EXPECT_EQ(vm.Drain(), (Lines{"OnMouseDown", "OnMouseDown"})) << "two steps";
  EXPECT_EQ(InputVm::Log(), (Lines{"display:OnMouseDown:1", "a:OnMouseDown:1"}));
}

TEST(Buttons, HeldButtonBlocksHoverAndAReleaseElsewhereClicksNothing) {
  InputVm vm;
  const Lines all = {"onmouseover", "onmouseout", "onmousedown", "onmouseup"};
  ASSERT_EQ(vm.MakeButton(1, 10, 10, 20, 20, all, "a").code, 0u);
  ASSERT_EQ(vm.MakeButton(2, 50, 10, 20, 20, all, "b").code, 0u);
  vm.MoveTo(15, 15);
  vm.Press(true, 15, 15);
  vm.MoveTo(55, 15);  // a held: b gets no OnMouseOver, a says the mouse left it
  EXPECT_EQ(InputVm::Log(), (Lines{"a:OnMouseOver:1", "a:OnMouseDown:1", "a:OnMouseOut:1"}));
  InputVm::Log().clear();
  vm.Press(false, 55, 15);  // over b, which was not pressed
  vm.MoveTo(56, 15);
  vm.Press(false, 15, 15);  // a stray release over a later on
  EXPECT_EQ(InputVm::Log(), (Lines{"b:OnMouseOver:2"}))
      << "no OnMouseUp: the release on b cleared a's pressed state";
}

TEST(Buttons, DisabledDuringAPressGivesNoRelease) {
  InputVm vm;
  ASSERT_EQ(vm.MakeButton(1, 10, 10, 20, 20, {"onmousedown", "onmouseup"}, "a").code, 0u);
  vm.Press(true, 15, 15);
  ASSERT_EQ(vm.Call("DisableButton", {1}).code, 0u);
  ASSERT_EQ(vm.Call("EnableButton", {1}).code, 0u);
  vm.Press(false, 15, 15);
  EXPECT_EQ(InputVm::Log(), (Lines{"a:OnMouseDown:1"}));
}

TEST(Buttons, HandlersThatRemoveOrCreateButtons) {
  InputVm vm;
  // a deletes itself when pressed; b, when the mouse comes over it, deletes c and makes d on
  // the same spot, which takes over the hover on the next step.
  InputVm::Actions()["a"] = [](VmState *L) {
    vm_pushstring(L, "deletebutton");
    vm_gettable(L, VM_GLOBALSINDEX);
    vm_pushnumber(L, 1);
    EXPECT_EQ(vm_pcall(L, 1, 0, 0), 0u);
  };
  InputVm *self = &vm;
  int calls = 0;
  InputVm::Actions()["b"] = [self, &calls](VmState *L) {
    if (calls++) return;  // its OnMouseOut does nothing more
    vm_pushstring(L, "deletebutton");
    vm_gettable(L, VM_GLOBALSINDEX);
    vm_pushnumber(L, 3);
    EXPECT_EQ(vm_pcall(L, 1, 0, 0), 0u);
    // Made from inside the handler, on top of b.
    EXPECT_EQ(self->MakeButton(4, 50, 10, 5, 5, {"onmouseover", "onmouseout"}, "d").code, 0u);
  };
  ASSERT_EQ(vm.MakeButton(1, 10, 10, 20, 20, {"onmousedown", "onmouseup", "onmouseout"}, "a").code, 0u);
  ASSERT_EQ(vm.MakeButton(2, 50, 10, 20, 20, {"onmouseover", "onmouseout"}, "b").code, 0u);
  ASSERT_EQ(vm.MakeButton(3, 50, 10, 20, 20, {"onmouseover", "onmouseout"}, "c").code, 0u);
  vm.Click(15, 15);
  EXPECT_EQ(InputVm::Log(), (Lines{"a:OnMouseDown:1"})) << "the release finds no button";
  InputVm::Log().clear();
  // c is the newest, so the one hovered; make b the newest instead.
  ASSERT_EQ(vm.Call("DeleteButton", {3}).code, 0u);
  ASSERT_EQ(vm.MakeButton(3, 60, 10, 20, 20, {"onmouseover", "onmouseout"}, "c").code, 0u);
  ASSERT_EQ(vm.MakeButton(2, 50, 10, 5, 5, {"onmouseover", "onmouseout"}, "b").code, 0u);
  vm.MoveTo(62, 12);
  vm.MoveTo(52, 12);
  EXPECT_EQ(InputVm::Log(), (Lines{"c:OnMouseOver:3", "c:OnMouseOut:3", "b:OnMouseOver:2", "b:OnMouseOut:2",
                                   "d:OnMouseOver:4"}))
      << "the pass goes on over the buttons as they are after each handler";
  EXPECT_EQ(CountButtons(vm.d->bgpic), 2);
}

TEST(Buttons, AButtonDeletedByItsOwnOverHandlerIsGone) {
  InputVm vm;
  InputVm::Actions()["e"] = [](VmState *L) {
    vm_pushstring(L, "deletebutton");
    vm_gettable(L, VM_GLOBALSINDEX);
    vm_pushnumber(L, 5);
    EXPECT_EQ(vm_pcall(L, 1, 0, 0), 0u);
  };
  ASSERT_EQ(vm.MakeButton(5, 10, 10, 20, 20, {"onmouseover", "onmouseout", "onmousedown"}, "e").code, 0u);
  vm.MoveTo(15, 15);
  vm.Click(15, 15);
  vm.MoveTo(100, 100);
  EXPECT_EQ(InputVm::Log(), (Lines{"e:OnMouseOver:5"}));
  EXPECT_EQ(CountButtons(vm.d->bgpic), 0);
}

TEST(Buttons, AMinimizedDisplayGetsNoHover) {
  InputVm vm;
  ASSERT_EQ(vm.MakeButton(1, 10, 10, 20, 20, {"onmouseover", "onmouseout"}, "a").code, 0u);
  vm.Push(vm.Window(SDL_WINDOWEVENT_MINIMIZED));
  vm.MoveTo(15, 15);
  EXPECT_TRUE(InputVm::Log().empty());
  vm.Push(vm.Window(SDL_WINDOWEVENT_RESTORED));
  vm.MoveTo(16, 16);
  EXPECT_EQ(InputVm::Log(), (Lines{"a:OnMouseOver:1"}));
}

TEST(Buttons, DumpButtonsListsThemNewestFirst) {
  InputVm vm;
  ASSERT_EQ(vm.MakeButton(1, 10, 10, 20, 20, {"onmouseover"}, "a").code, 0u);
  ASSERT_EQ(vm.MakeButton(2, 0, 5, 1, 2, {"onmouseover"}, "b").code, 0u);
  testing::internal::CaptureStdout();
  ASSERT_EQ(vm.Call("DumpButtons", {}).code, 0u);
  std::string out = testing::internal::GetCapturedStdout();
  std::string tail = out.substr(out.find("sizeof"));
  EXPECT_EQ(tail,
            "sizeof(qmBGPicButton): 100\nButtons: 2\n"
            "(1) Type: 0 - X1: 0 - Y1: 5 - X2: 0 - Y2: 6\n"
            "(2) Type: 0 - X1: 10 - Y1: 10 - X2: 29 - Y2: 29\n");
  EXPECT_EQ(out.rfind("BUTTON SYSTEM INFO - BGPIC: ", 0), 0u);
}

TEST(Buttons, OnlyWhileDrawingGoesToThePicture) {
  InputVm vm;
  ASSERT_EQ(vm.MakeButton(1, 10, 10, 20, 20, {"onmousedown"}, "a").code, 0u);
  ASSERT_EQ(vm.Call("CreateBGPic", {5, 100, 100, 0}).code, 0u);
  ASSERT_EQ(vm.Call("SelectBGPic", {5, 0}).code, 0u);  // drawing goes into picture 5's pixels
  EXPECT_EQ(vm.MakeButton(2, 10, 10, 20, 20, {"onmousedown"}, "b").code, uint32_t(ERR_BGPICBUTTON));
  EXPECT_EQ(vm.Call("DeleteButton", {1}).code, uint32_t(ERR_BGPICBUTTON));
  EXPECT_EQ(vm.Call("DumpButtons", {}).code, uint32_t(ERR_BGPICBUTTON));
  ASSERT_EQ(vm.Call("EndSelect", {}).code, 0u);
  // A selected brush is no picture of buttons either.
  ASSERT_EQ(vm.Call("CreateBrush", {6, 8, 8}).code, 0u);
  ASSERT_EQ(vm.Call("SelectBrush", {6}).code, 0u);
  EXPECT_EQ(vm.MakeButton(2, 0, 0, 4, 4, {"onmousedown"}, "b").code, uint32_t(ERR_BGPICBUTTON));
  ASSERT_EQ(vm.Call("EndSelect", {}).code, 0u);
  EXPECT_EQ(vm.Call("DeleteButton", {1}).code, 0u);
}

TEST(Buttons, ButtonsGoWithTheirPicture) {
  InputVm vm;
  ASSERT_EQ(vm.MakeButton(1, 10, 10, 20, 20, {"onmousedown"}, "a").code, 0u);
  ASSERT_EQ(vm.Call("CreateBGPic", {5, 100, 100, 0}).code, 0u);
  ASSERT_EQ(vm.Call("DisplayBGPic", {5}).code, 0u);
  EXPECT_EQ(vm.MakeButton(2, 10, 10, 20, 20, {"onmousedown"}, "b").code, 0u);
  EXPECT_EQ(CountButtons(vm.d->bgpic), 1) << "the new picture's own list";
  // Freed with the display's own picture and with picture 5 at the end: leak-checked.
}

}  // namespace
