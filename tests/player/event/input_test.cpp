// The event library's input queries, waits, joystick and port commands, fed with SDL input under
// the dummy video driver.
#include <gtest/gtest.h>

#include "player/event/event_input.h"
#include "player/event/event_labels.h"
#include "player/event/lib_event.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/library.h"
#include "runtime/vm/vm_api.h"
#include "tests/player/event/input_vm.h"

namespace {

TEST(EventInput, KeyArguments) {
  struct Row {
    const char *text;
    int lastRow;
    uint32_t code, err;
  } rows[] = {
      {"a", KEYROW_PAUSE, 97, 0},          {"A", KEYROW_PAUSE, 65, 0},
      {"!", KEYROW_PAUSE, 33, 0},          {"~", KEYROW_PAUSE, 126, 0},
      {"esc", KEYROW_PAUSE, 275, 0},       {"Esc", KEYROW_RCONTROL, 275, 0},
      {"pause", KEYROW_PAUSE, 286, 0},     {"f16", KEYROW_PAUSE, 290, 0},
      {"LSHIFT", KEYROW_RCONTROL, 0x80010000u, 0},
      {"LSHIFT", KEYROW_PAUSE, 0, ERR_WRONGUSAGE},  // WaitKeyDown takes no modifier
      {"ab", KEYROW_RCONTROL, 0, ERR_WRONGUSAGE},   {" ", KEYROW_PAUSE, 0, ERR_WRONGUSAGE},
      {"", KEYROW_PAUSE, 0, ERR_WRONGUSAGE},        {"\xe4", KEYROW_PAUSE, 0, ERR_WRONGUSAGE},
      {"\x7f", KEYROW_PAUSE, 0, ERR_WRONGUSAGE},    {"CLOSEWINDOW", KEYROW_RCONTROL, 0, ERR_WRONGUSAGE},
  };
  for (const Row &r : rows) {
    uint32_t code = 0;
    EXPECT_EQ(ParseKeyArgument(r.text, r.lastRow, &code), r.err) << r.text;
    if (!r.err) {
      EXPECT_EQ(code, r.code) << r.text;
    }
  }
}

TEST(EventInput, ModifiersReadWithoutTheirSide) {
  struct Row {
    uint32_t qualifiers, key;
    int down;
  } rows[] = {
      {0x80010000u, 0x80010000u, 1},  // LSHIFT while a shift key is down
      {0x80010000u, 0x80020000u, 1},  // RSHIFT too: the platform does not tell the sides
      {0x80000000u, 0x80010000u, 0},  {0x80410000u, 0x80800000u, 1},
      {0x80410000u, 0x80040000u, 0},  {0x80100000u, 0x80200000u, 1},
  };
  for (const Row &r : rows) EXPECT_EQ(KeyIsDown(nullptr, r.key, r.qualifiers), r.down) << std::hex << r.key;
}

TEST(EventInput, CommandsFollowTheLibraryList) {
  const qmCommandEntry *c = kEventLibrary.commands;
  int n = 0;
  while (c[n].name) n++;
  EXPECT_EQ(n, 50);
  EXPECT_STREQ(c[0].name, "WaitLeftMouse");
  EXPECT_STREQ(c[3].name, "IsKeyDown");
  EXPECT_STREQ(c[30].name, "MakeButton");
  EXPECT_STREQ(c[49].name, "SendMessage");
}

// IsKeyDown, IsLeftMouse and the others as a script calls them: 1 or 0.
struct QueryVm : InputVm {
  double Query(const char *command, const char *key = nullptr) {
    CommandCall r = key ? Call(command, {CmdArg::Str(key)}) : Call(command, {});
    EXPECT_EQ(r.code, 0u) << command;
    return r.results.empty() ? -1 : r.results[0];
  }
  void Send(SDL_Event e) {
    Push(e);
    PumpAll();
  }
};

TEST(EventInput, KeyStatesAfterPressRepeatReleaseAndFocusLoss) {
  QueryVm vm;
  vm.Send(vm.Key(true, SDLK_a));
  EXPECT_EQ(vm.Query("IsKeyDown", "a"), 1);
  EXPECT_EQ(vm.Query("IsKeyDown", "A"), 0) << "another key-state byte";
  vm.Send(vm.Key(true, SDLK_a, true));
  EXPECT_EQ(vm.Query("IsKeyDown", "a"), 1) << "a repeat keeps it down";
  vm.Send(vm.Key(false, SDLK_a));
  EXPECT_EQ(vm.Query("IsKeyDown", "a"), 0);
  vm.Send(vm.Key(true, SDLK_ESCAPE));
  vm.Send(vm.Key(true, SDLK_F5));
  EXPECT_EQ(vm.Query("IsKeyDown", "esc"), 1);
  EXPECT_EQ(vm.Query("IsKeyDown", "ESC"), 1);
  EXPECT_EQ(vm.Query("IsKeyDown", "F5"), 1);
  vm.Send(vm.Window(SDL_WINDOWEVENT_FOCUS_LOST));
  EXPECT_EQ(vm.Query("IsKeyDown", "esc"), 0) << "no release comes once the focus has gone";
  EXPECT_EQ(vm.Query("IsKeyDown", "F5"), 0);
  EXPECT_EQ(vm.Call("IsKeyDown", {CmdArg::Str("xy")}).code, uint32_t(ERR_WRONGUSAGE));
}

TEST(EventInput, MouseButtonsAndPosition) {
  QueryVm vm;
  struct Row {
    uint8_t button;
    const char *query;
  } rows[] = {{SDL_BUTTON_LEFT, "IsLeftMouse"}, {SDL_BUTTON_RIGHT, "IsRightMouse"}, {SDL_BUTTON_MIDDLE, "IsMidMouse"}};
  for (const Row &r : rows) {
    EXPECT_EQ(vm.Query(r.query), 0) << r.query;
    vm.Send(vm.Button(true, r.button, 5, 5));
    EXPECT_EQ(vm.Query(r.query), 1) << r.query;
    vm.Send(vm.Button(false, r.button, 5, 5));
    EXPECT_EQ(vm.Query(r.query), 0) << r.query;
  }
  vm.Send(vm.Motion(30, 40));
  EXPECT_EQ(vm.Query("MouseX"), 30);
  EXPECT_EQ(vm.Query("MouseY"), 40);
  vm.d->scaleX = vm.d->scaleY = 2;  // a picture shown twice its size: half the window pixels
  vm.d->marginLeft = 1;
  EXPECT_EQ(vm.Query("MouseX"), 14);
  EXPECT_EQ(vm.Query("MouseY"), 20);
  vm.d->scaleX = vm.d->scaleY = 1;
  vm.d->marginLeft = 0;
  ASSERT_EQ(vm.Call("CloseDisplay", {1}).code, 0u);
  EXPECT_EQ(vm.Query("MouseX"), 0) << "a closed display has no mouse";
}

TEST(EventInput, WaitsEndWithTheirInputAndEmptyTheQueue) {
  struct Row {
    const char *command;
    uint8_t button;
  } rows[] = {{"WaitLeftMouse", SDL_BUTTON_LEFT}, {"WaitRightMouse", SDL_BUTTON_RIGHT}, {"WaitMidMouse", SDL_BUTTON_MIDDLE}};
  for (const Row &r : rows) {
    QueryVm vm;
    vm.Push(vm.Key(true, SDLK_b));
    vm.Push(vm.Button(true, r.button, 5, 5));
    vm.Push(vm.Button(false, r.button, 5, 5));
    EXPECT_EQ(vm.Call(r.command, {}).code, 0u) << r.command;
    EXPECT_EQ(GetEventCount(), 0u) << r.command;
    EXPECT_FALSE(PlatformQuitRequested());
  }
  QueryVm vm;
  // A key already held must be let go first.
  vm.Send(vm.Key(true, SDLK_SPACE));
  vm.Push(vm.Key(false, SDLK_SPACE));
  vm.Push(vm.Key(true, SDLK_SPACE));
  vm.Push(vm.Key(false, SDLK_SPACE));
  EXPECT_EQ(vm.Call("WaitKeyDown", {CmdArg::Str("space")}).code, 0u);
  EXPECT_EQ(GetEventCount(), 0u);
  EXPECT_EQ(vm.Query("IsKeyDown", "space"), 0);
  EXPECT_EQ(vm.Call("WaitKeyDown", {CmdArg::Str("LSHIFT")}).code, uint32_t(ERR_WRONGUSAGE));
  // The While waits return at once when nothing is down, and leave the queue alone.
  vm.Send(vm.Key(true, SDLK_c));
  EXPECT_EQ(vm.Call("WhileMouseDown", {}).code, 0u);
  EXPECT_EQ(vm.Call("WhileRightMouseDown", {}).code, 0u);
  EXPECT_EQ(vm.Call("WhileKeyDown", {}).code, 0u);
  EXPECT_EQ(GetEventCount(), 1u);
  vm.Send(vm.Button(true, SDL_BUTTON_LEFT, 5, 5));
  vm.Push(vm.Button(false, SDL_BUTTON_LEFT, 5, 5));
  EXPECT_EQ(vm.Call("WhileMouseDown", {}).code, 0u);
  EXPECT_EQ(vm.Query("IsLeftMouse"), 0);
  EXPECT_EQ(GetEventCount(), 3u);
}

TEST(EventInput, AQuitEndsEveryWait) {
  for (const char *command : {"WaitLeftMouse", "WaitRightMouse", "WaitMidMouse", "WaitKeyDown", "WhileMouseDown"}) {
    QueryVm vm;
    bool key = std::string(command) == "WaitKeyDown";
    if (std::string(command) == "WhileMouseDown") vm.Send(vm.Button(true, SDL_BUTTON_LEFT, 5, 5));
    vm.Push(vm.Key(true, SDLK_d));
    vm.Push(vm.Quit());
    CommandCall r = key ? vm.Call(command, {CmdArg::Str("x")}) : vm.Call(command, {});
    EXPECT_EQ(r.code, 0u) << command;
    EXPECT_TRUE(PlatformQuitRequested()) << command;
  }
}

TEST(EventInput, AHandledCloseBoxEndsAWaitAndStaysForItsHandler) {
  QueryVm vm;
  vm.d->closeHandled = 1;
  vm.Push(vm.Window(SDL_WINDOWEVENT_CLOSE));
  EXPECT_EQ(vm.Call("WaitLeftMouse", {}).code, 0u);
  EXPECT_FALSE(PlatformQuitRequested());
  qmQueuedEvent ev{};
  ASSERT_EQ(PeekEvent(0, &ev, 0), 1u);
  EXPECT_EQ(ev.type, uint32_t(EVENT_CLOSE));
}

TEST(EventInput, WaitsOnAClosedDisplayReturn) {
  QueryVm vm;
  ASSERT_EQ(vm.Call("CloseDisplay", {1}).code, 0u);
  EXPECT_EQ(vm.Call("WaitLeftMouse", {}).code, 0u);
  EXPECT_EQ(vm.Call("WaitKeyDown", {CmdArg::Str("a")}).code, 0u);
}

TEST(EventInput, ResetKeyStatesClearsKeysMouseAndButtons) {
  QueryVm vm;
  ASSERT_EQ(vm.MakeButton(1, 0, 0, 20, 20, {"onmousedown", "onmouseup"}, "a").code, 0u);
  vm.Send(vm.Key(true, SDLK_a));
  vm.Press(true, 5, 5);
  EXPECT_EQ(vm.Query("IsLeftMouse"), 1);
  ASSERT_EQ(vm.Call("ResetKeyStates", {}).code, 0u);
  EXPECT_EQ(vm.Query("IsKeyDown", "a"), 0);
  EXPECT_EQ(vm.Query("IsLeftMouse"), 0);
  vm.Press(false, 5, 5);
  EXPECT_EQ(InputVm::Log(), (std::vector<std::string>{"a:OnMouseDown:1"})) << "the press was forgotten";
}

TEST(EventInput, PortsCannotBeMade) {
  QueryVm vm;
  EXPECT_EQ(vm.Call("CreatePort", {CmdArg::Str("MYPORT")}).code, uint32_t(ERR_CREATEPORT));
  std::string longName(128, 'p');
  EXPECT_EQ(vm.Call("CreatePort", {CmdArg::Str(longName.c_str())}).code, uint32_t(ERR_WRONGUSAGE));
  EXPECT_EQ(vm.Call("SendMessage", {CmdArg::Str("P"), CmdArg::Str("two words")}).code, uint32_t(ERR_WRONGUSAGE));
  EXPECT_EQ(vm.Call("SendMessage", {CmdArg::Str("P"), CmdArg::Str("")}).code, uint32_t(ERR_WRONGUSAGE));
  EXPECT_EQ(vm.Call("SendMessage", {CmdArg::Str("THEPORT"), CmdArg::Str("GO"), 1}).code, uint32_t(ERR_FINDPORT));
  char text[256];
  FormatErrorMessage(ERR_FINDPORT, text, sizeof text);
  EXPECT_STREQ(text, "Port \"THEPORT\" could not be found!");
}

TEST(EventInput, JoystickCommands) {
  QueryVm vm;
  EXPECT_EQ(vm.Call("JoyDir", {0}).code, uint32_t(ERR_NOJOYATPORT)) << "no stick at all";
  EXPECT_EQ(vm.Query("CountJoysticks"), 0);
  int index = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, 2, 32, 0);
  ASSERT_GE(index, 0) << SDL_GetError();
  SDL_Joystick *j = SDL_JoystickOpen(index);
  ASSERT_NE(j, nullptr);
  SDL_JoystickSetVirtualAxis(j, 0, -32768);
  SDL_JoystickSetVirtualAxis(j, 1, -32768);
  for (int b : {0, 2, 31}) SDL_JoystickSetVirtualButton(j, b, 1);
  EXPECT_EQ(vm.Query("CountJoysticks"), 1);
  EXPECT_EQ(vm.Call("JoyDir", {0}).results, std::vector<double>{7}) << "JOYUPLEFT";
  EXPECT_EQ(vm.Call("JoyFire", {0}).results, std::vector<double>{1});
  EXPECT_EQ(vm.Call("JoyFire", {0, 2}).results, std::vector<double>{0});
  EXPECT_EQ(vm.Call("JoyFire", {0, 3}).results, std::vector<double>{1});
  EXPECT_EQ(vm.Call("JoyFire", {0, 0}).results, std::vector<double>{2147483653.0}) << "the mask, unsigned";
  EXPECT_EQ(vm.Call("JoyFire", {0, 33}).code, uint32_t(ERR_WRONGUSAGE));
  EXPECT_EQ(vm.Call("JoyFire", {0, -1}).code, uint32_t(ERR_WRONGUSAGE));
  EXPECT_EQ(vm.Call("JoyDir", {1}).code, uint32_t(ERR_NOJOYATPORT));
  SDL_JoystickClose(j);
  SDL_JoystickDetachVirtual(index);
}

}  // namespace

namespace {

TEST(EventInput, WhileMouseOnRunsUntilTheMouseLeavesTheLabelButton) {
  QueryVm vm;
  ASSERT_EQ(vm.Call("CreateButton", {1, 0, 0, 49, 49}).code, 0u);
  vm.MoveTo(10, 10);  // the hover pass remembers the registration, though the script has no label
  ASSERT_NE(LabelsOf(vm.L)->lastHover, nullptr);
  vm.Push(vm.Key(true, SDLK_e));
  vm.Push(vm.Motion(100, 100));
  EXPECT_EQ(vm.Call("WhileMouseOn", {}).code, 0u);
  EXPECT_EQ(vm.Query("MouseX"), 100);
  vm.MoveTo(10, 10);
  ASSERT_EQ(vm.Call("BreakWhileMouseOn", {}).code, 0u);
  EXPECT_EQ(vm.Call("WhileMouseOn", {}).code, 0u) << "returns at once";
  ASSERT_EQ(vm.Call("ClearEvents", {}).code, 0u);
}

}  // namespace

namespace {

// Files dropped on the window, as the window system hands them over: each name a copy of SDL's
// own allocation, which the player frees.
SDL_Event Drop(const InputVm &vm, uint32_t type, const char *name = nullptr) {
  SDL_Event e{};
  e.type = type;
  e.drop.windowID = vm.d->platform->windowId;
  e.drop.file = name ? SDL_strdup(name) : nullptr;
  return e;
}

TEST(EventInput, DroppedFilesReachOnDropFile) {
  InputVm vm;
  // The handler logs the names, their count and the place of the drop.
  static std::vector<std::string> received;
  received.clear();
  InputVm::Actions()["drop"] = [](VmState *L) {
    std::string line;
    for (const char *key : {"numdropfiles", "x", "y"}) {
      vm_pushstring(L, key);
      vm_gettable(L, 1);
      line += std::to_string(int(vm_tonumber(L, -1))) + " ";
      vm_pop(L, 1);
    }
    vm_pushstring(L, "dropfiles");
    vm_gettable(L, 1);
    for (int i = 0; vm_type(L, -1) == VM_TTABLE; i++) {
      vm_rawgeti(L, -1, i);
      const bool end = vm_type(L, -1) != VM_TSTRING;
      if (!end) line += std::string("[") + vm_tostring(L, -1) + "]";
      vm_pop(L, 1);
      if (end) break;
    }
    vm_pop(L, 1);
    received.push_back(line);
  };
  auto install = [&](bool on) {
    ASSERT_EQ(vm.CallWith("installeventhandler",
                          [&] {
                            vm_newtable(vm.L);
                            vm_pushstring(vm.L, "ondropfile");
                            if (on) vm.PushHandler("drop");
                            else vm_pushnumber(vm.L, 0);
                            vm_settable(vm.L, -3);
                            return 1;
                          })
                  .code,
              0u);
  };
  vm.MoveTo(40, 30);
  struct Row {
    const char *name;
    bool handler;
    std::vector<std::pair<uint32_t, const char *>> events;
    std::vector<std::string> want;
  } rows[] = {
      {"three files in one drop",
       true,
       {{SDL_DROPBEGIN, nullptr}, {SDL_DROPFILE, "/tmp/a.png"}, {SDL_DROPFILE, "/tmp/b c.txt"},
        {SDL_DROPFILE, "/x"}, {SDL_DROPCOMPLETE, nullptr}},
       {"3 40 30 [/tmp/a.png][/tmp/b c.txt][/x]"}},
      {"a name in UTF-8 reads as Latin-1", true,
       {{SDL_DROPBEGIN, nullptr}, {SDL_DROPFILE, "/tmp/caf\xc3\xa9"}, {SDL_DROPCOMPLETE, nullptr}},
       {"1 40 30 [/tmp/caf\xe9]"}},
      {"a file without a beginning", true, {{SDL_DROPFILE, "/one"}}, {"1 40 30 [/one]"}},
      {"dropped text is no file", true,
       {{SDL_DROPBEGIN, nullptr}, {SDL_DROPTEXT, "words"}, {SDL_DROPCOMPLETE, nullptr}},
       {}},
      {"no handler, no event", false,
       {{SDL_DROPBEGIN, nullptr}, {SDL_DROPFILE, "/tmp/a.png"}, {SDL_DROPCOMPLETE, nullptr}},
       {}},
  };
  for (const Row &r : rows) {
    received.clear();
    install(r.handler);
    for (const auto &[type, name] : r.events) vm.Push(Drop(vm, type, name));
    vm.PumpAll();
    vm.Drain();
    EXPECT_EQ(received, r.want) << r.name;
  }
  InputVm::Actions().erase("drop");
}

}  // namespace
