// Joysticks through SDL's virtual joystick: axes, buttons, missing ports and hot-plugging.
#include <SDL.h>
#include <gtest/gtest.h>

#include "platform/desktop.h"
#include "platform/joystick.h"
#include "runtime/errcodes.h"

namespace {

class JoystickTest : public testing::Test {
 public:
  void SetUp() override { ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_JOYSTICK), 0) << SDL_GetError(); }
  void TearDown() override {
    for (SDL_Joystick *j : opened) SDL_JoystickClose(j);
    ReleaseJoysticks();
    for (int i = SDL_NumJoysticks() - 1; i >= 0; i--)
      if (SDL_JoystickIsVirtual(i)) SDL_JoystickDetachVirtual(i);
    SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
  }
  // A virtual game pad with two axes and 12 buttons; the handle sets its inputs.
  SDL_Joystick *Attach() {
    int index = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, 2, 12, 1);
    EXPECT_GE(index, 0) << SDL_GetError();
    SDL_Joystick *j = SDL_JoystickOpen(index);
    EXPECT_NE(j, nullptr) << SDL_GetError();
    opened.push_back(j);
    return j;
  }
  std::vector<SDL_Joystick *> opened;
};

TEST_F(JoystickTest, NoStickMeansNoPort) {
  int32_t n = -1;
  ASSERT_EQ(CountPlatformJoysticks(&n), 0u);
  EXPECT_EQ(n, 0);
  int32_t dir;
  EXPECT_EQ(ReadJoystick(0, &dir, nullptr), uint32_t(ERR_NOJOYATPORT));
}

TEST_F(JoystickTest, AxesGiveDirectionsAndButtonsAMask) {
  SDL_Joystick *j = Attach();
  int32_t n = 0;
  ASSERT_EQ(CountPlatformJoysticks(&n), 0u);
  EXPECT_EQ(n, 1);
  // 16-bit axis values over the range -32768..32767: 16417 is the first to give more than 500,
  // -16385 the first to give less than -500.
  struct Row {
    int16_t x, y;
    int32_t dir;
  } rows[] = {
      {0, 0, JOYDIR_CENTRE},        {16416, 0, JOYDIR_CENTRE},     {16417, 0, JOYDIR_RIGHT},
      {-16384, 0, JOYDIR_CENTRE},   {-16385, 0, JOYDIR_LEFT},      {0, 16417, JOYDIR_DOWN},      {0, 32767, JOYDIR_DOWN},
      {0, -32768, JOYDIR_UP},       {32767, 32767, JOYDIR_DOWNRIGHT}, {-32768, -32768, JOYDIR_UPLEFT},
      {32767, -32768, JOYDIR_UPRIGHT}, {-32768, 32767, JOYDIR_DOWNLEFT},
  };
  for (const Row &r : rows) {
    SDL_JoystickSetVirtualAxis(j, 0, r.x);
    SDL_JoystickSetVirtualAxis(j, 1, r.y);
    int32_t dir = -1;
    ASSERT_EQ(ReadJoystick(0, &dir, nullptr), 0u);
    EXPECT_EQ(dir, r.dir) << r.x << "," << r.y;
  }
  SDL_JoystickSetVirtualButton(j, 0, 1);
  SDL_JoystickSetVirtualButton(j, 2, 1);
  uint32_t mask = 0;
  ASSERT_EQ(ReadJoystick(0, nullptr, &mask), 0u);
  EXPECT_EQ(mask, 5u) << "buttons 1 and 3";
  SDL_JoystickSetVirtualButton(j, 0, 0);
  ASSERT_EQ(ReadJoystick(0, nullptr, &mask), 0u);
  EXPECT_EQ(mask, 4u);
  EXPECT_EQ(ReadJoystick(1, nullptr, &mask), uint32_t(ERR_NOJOYATPORT)) << "one stick: port 1 is empty";
  EXPECT_EQ(ReadJoystick(-1, nullptr, &mask), uint32_t(ERR_NOJOYATPORT));
}

TEST_F(JoystickTest, SticksPluggedInLaterJoinAndUnpluggedOnesLeave) {
  SDL_Joystick *first = Attach();
  int32_t n = 0;
  ASSERT_EQ(CountPlatformJoysticks(&n), 0u);
  EXPECT_EQ(n, 1);
  SDL_Joystick *second = Attach();
  SDL_JoystickSetVirtualButton(second, 1, 1);
  ASSERT_EQ(CountPlatformJoysticks(&n), 0u);
  EXPECT_EQ(n, 2);
  uint32_t mask = 0;
  ASSERT_EQ(ReadJoystick(1, nullptr, &mask), 0u);
  EXPECT_EQ(mask, 2u) << "the new stick comes after the first";
  // The first one goes: the second takes port 0.
  SDL_JoystickClose(first);
  opened.erase(opened.begin());
  ASSERT_EQ(SDL_JoystickDetachVirtual(0), 0) << SDL_GetError();
  ASSERT_EQ(CountPlatformJoysticks(&n), 0u);
  EXPECT_EQ(n, 1);
  ASSERT_EQ(ReadJoystick(0, nullptr, &mask), 0u);
  EXPECT_EQ(mask, 2u);
}

}  // namespace
