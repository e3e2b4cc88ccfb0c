// Input translation: SDL events injected into the queue come out as portable events.
#include <functional>

#include "sdl_fixture.h"

namespace sdltest {
namespace {

class InputTest : public DesktopTest {};

TEST_F(InputTest, TranslatesInjectedEvents) {
  const uint16_t SHIFT = KMOD_LSHIFT, CTRL = KMOD_LCTRL, ALT = KMOD_LALT;
  struct Row {
    const char *name;
    std::function<std::vector<SDL_Event>(InputTest &)> events;
    std::vector<Ev> expected;
    std::function<void(InputTest &)> check;  // optional
  };
  const Row rows[] = {
      {"letter with its text", [](InputTest &t) { return std::vector{t.Key(true, SDLK_a), t.Text("a"), t.Key(false, SDLK_a)}; },
       {{3, 1, 0, 97}, {3, 0, 0, 97}}, nullptr},
      {"shifted letter keeps its code on release",
       [=](InputTest &t) { return std::vector{t.Key(true, SDLK_a, SHIFT), t.Text("A"), t.Key(false, SDLK_a)}; },
       {{3, 1, 0, 65}, {3, 0, 0, 65}}, nullptr},
      {"Latin-1 character from text", [](InputTest &t) { return std::vector{t.Key(true, SDLK_e), t.Text("é"), t.Key(false, SDLK_e)}; },
       {{3, 1, 0, 233}, {3, 0, 0, 233}}, nullptr},
      {"text without a key is pressed and released", [](InputTest &t) { return std::vector{t.Text("ÿß")}; },
       {{3, 1, 0, 255}, {3, 0, 0, 255}, {3, 1, 0, 223}, {3, 0, 0, 223}}, nullptr},
      {"character beyond Latin-1 posts nothing",
       [](InputTest &t) { return std::vector{t.Key(true, SDLK_e), t.Text("€"), t.Key(false, SDLK_e)}; },
       {{3, 1, 0, 101}, {3, 0, 0, 101}}, nullptr},
      {"function keys F1 F10 F11 F12 F13 F16",
       [](InputTest &t) {
         return std::vector{t.Key(true, SDLK_F1), t.Key(true, SDLK_F10), t.Key(true, SDLK_F11), t.Key(true, SDLK_F12),
                            t.Key(true, SDLK_F13), t.Key(false, SDLK_F16)};
       },
       {{3, 1, 0, 261}, {3, 1, 0, 270}, {3, 1, 0, 278}, {3, 1, 0, 279}, {3, 1, 0, 287}, {3, 0, 0, 290}}, nullptr},
      {"space takes its special code and swallows its text",
       [](InputTest &t) { return std::vector{t.Key(true, SDLK_SPACE), t.Text(" "), t.Key(false, SDLK_SPACE)}; },
       {{3, 1, 0, 276}, {3, 0, 0, 276}}, nullptr},
      {"special keys",
       [](InputTest &t) {
         return std::vector{t.Key(true, SDLK_UP), t.Key(true, SDLK_DOWN), t.Key(true, SDLK_RIGHT), t.Key(true, SDLK_LEFT),
                            t.Key(true, SDLK_HOME), t.Key(true, SDLK_END), t.Key(true, SDLK_PAGEUP),
                            t.Key(true, SDLK_PAGEDOWN), t.Key(true, SDLK_BACKSPACE), t.Key(true, SDLK_TAB),
                            t.Key(true, SDLK_DELETE), t.Key(true, SDLK_INSERT)};
       },
       {{3, 1, 0, 256}, {3, 1, 0, 257}, {3, 1, 0, 258}, {3, 1, 0, 259}, {3, 1, 0, 281}, {3, 1, 0, 282}, {3, 1, 0, 283},
        {3, 1, 0, 284}, {3, 1, 0, 271}, {3, 1, 0, 272}, {3, 1, 0, 277}, {3, 1, 0, 260}},
       nullptr},
      {"repeats post a press each, then one release",
       [](InputTest &t) {
         return std::vector{t.Key(true, SDLK_x), t.Text("x"), t.Key(true, SDLK_x, 0, true), t.Text("x"),
                            t.Key(true, SDLK_x, 0, true), t.Key(false, SDLK_x)};
       },
       {{3, 1, 0, 120}, {3, 1, 0, 120}, {3, 1, 0, 120}, {3, 0, 0, 120}},
       [](InputTest &t) { EXPECT_EQ(t.display->keyStates[120], 0); }},
      {"held key stays down in the key states", [](InputTest &t) { return std::vector{t.Key(true, SDLK_q), t.Text("q")}; },
       {{3, 1, 0, 113}}, [](InputTest &t) { EXPECT_EQ(t.display->keyStates[113], 1); }},
      {"Control + A posts nothing", [=](InputTest &t) { return std::vector{t.Key(true, SDLK_a, CTRL), t.Key(false, SDLK_a, CTRL)}; },
       {}, [](InputTest &t) { EXPECT_EQ(t.display->keyStates[97], 0); }},
      {"key released while Control is held is up again",
       [=](InputTest &t) { return std::vector{t.Key(true, SDLK_b), t.Text("b"), t.Key(false, SDLK_b, CTRL)}; },
       {{3, 1, 0, 98}}, [](InputTest &t) { EXPECT_EQ(t.display->keyStates[98], 0); }},
      {"escape press and release", [](InputTest &t) { return std::vector{t.Key(true, SDLK_ESCAPE), t.Key(false, SDLK_ESCAPE)}; },
       {{3, 1, 0, 275}, {3, 0, 0, 275}}, nullptr},
      {"Alt+Return toggles the screen mode on release",
       [=](InputTest &t) { return std::vector{t.Key(true, SDLK_RETURN, ALT), t.Key(false, SDLK_RETURN, ALT)}; },
       {{3, 1, 0, 274}, {13, 0, 0, 0}, {3, 0, 0, 274}}, [](InputTest &t) { EXPECT_EQ(t.scene->fullScreen, 1u); }},
      {"Alt+Return under a requester is only a key",
       [=](InputTest &t) {
         t.display->requesterOpen = 1;
         return std::vector{t.Key(true, SDLK_RETURN, ALT), t.Key(false, SDLK_RETURN, ALT)};
       },
       {{3, 1, 0, 274}, {3, 0, 0, 274}}, [](InputTest &t) {
         EXPECT_EQ(t.scene->fullScreen, 0u);
         t.display->requesterOpen = 0;
       }},
      {"Alt+Return with mode switching off is only a key",
       [=](InputTest &t) {
         t.display->flags |= DISPF_NOMODESWITCH;
         return std::vector{t.Key(true, SDLK_RETURN, ALT), t.Key(false, SDLK_RETURN, ALT)};
       },
       {{3, 1, 0, 274}, {3, 0, 0, 274}}, [](InputTest &t) {
         EXPECT_EQ(t.scene->fullScreen, 0u);
         t.display->flags &= ~DISPF_NOMODESWITCH;
       }},
      {"buttons left right middle",
       [](InputTest &t) {
         return std::vector{t.Button(true, SDL_BUTTON_LEFT, 10, 20), t.Button(false, SDL_BUTTON_LEFT, 11, 21),
                            t.Button(true, SDL_BUTTON_RIGHT, 30, 40), t.Button(true, SDL_BUTTON_MIDDLE, 5, 6),
                            t.Button(true, SDL_BUTTON_X1, 5, 6)};
       },
       {{1, 10, 20, 1}, {1, 11, 21, 0}, {2, 30, 40, 1}, {16, 5, 6, 1}}, [](InputTest &t) {
         EXPECT_EQ(t.display->leftButton, 0u);
         EXPECT_EQ(t.display->rightButton, 1u);
         EXPECT_EQ(t.display->middleButton, 1u);
       }},
      {"wheel: up, down, flipped, sideways posts nothing",
       [](InputTest &t) { return std::vector{t.Wheel(0, 1), t.Wheel(0, -2), t.Wheel(0, 1, true), t.Wheel(3, 0)}; },
       {{11, 0, 0, 0}, {12, 0, 0, 0}, {12, 0, 0, 0}}, nullptr},
      {"backdrop display swallows presses, not releases",
       [](InputTest &t) {
         t.display->private1 = 1;
         return std::vector{t.Button(true, SDL_BUTTON_LEFT, 1, 2), t.Button(false, SDL_BUTTON_LEFT, 1, 2)};
       },
       {{1, 1, 2, 0}}, [](InputTest &t) { t.display->private1 = 0; }},
      {"borderless: press in the drag strip is no click, below it is",
       [](InputTest &t) {
         t.display->flags |= DISPF_BORDERLESS;
         return std::vector{t.Button(true, SDL_BUTTON_LEFT, 50, 14), t.Button(true, SDL_BUTTON_LEFT, 50, 15)};
       },
       {{1, 50, 15, 1}}, [](InputTest &t) { t.display->flags &= ~DISPF_BORDERLESS; }},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    scene->fullScreen = 0;
    std::memset(display->keyStates, 0, sizeof display->keyStates);
    for (const SDL_Event &e : row.events(*this)) Push(e);
    PumpAll();
    EXPECT_EQ(TakeEvents(), row.expected);
    if (row.check) row.check(*this);
  }
}

TEST_F(InputTest, QualifierMaskAlwaysHasBit31) { EXPECT_EQ(GetQualifierKeys() & 0x80000000u, 0x80000000u); }

}  // namespace
}  // namespace sdltest
