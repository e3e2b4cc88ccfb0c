// The effect vocabulary: effect ids and their names, the speed constants, speed to step size,
// the frame count, the random choice of an effect and the groups the runner tests.
#pragma once
#include <cstdint>

struct qmConstantEntry;

enum : int32_t {
  FX_HSTRIPES = 0,
  FX_VSTRIPES = 7,
  FX_HBLINDS8 = 14,
  FX_VBLINDS8 = 19,
  FX_VOPENCURTAIN = 24,
  FX_VCLOSECURTAIN = 25,
  FX_HOPENCURTAIN = 26,
  FX_HCLOSECURTAIN = 27,
  FX_REVEALLEFT = 30,
  FX_REVEALRIGHT = 31,
  FX_REVEALTOP = 32,
  FX_REVEALBOTTOM = 33,
  FX_VLINES2 = 34,
  FX_HLINES2 = 35,
  FX_HLINES = 36,
  FX_VLINES = 37,
  FX_RECTCENTER = 38,
  FX_RECTNORTHWEST = 46,
  FX_SCROLLLEFT = 47,
  FX_SCROLLRIGHT = 48,
  FX_SCROLLTOP = 49,
  FX_SCROLLBOTTOM = 50,
  FX_SCROLLNORTHEAST = 51,
  FX_SCROLLSOUTHEAST = 52,
  FX_SCROLLSOUTHWEST = 53,
  FX_SCROLLNORTHWEST = 54,
  FX_HFLOWTOP = 70,
  FX_HFLOWBOTTOM = 71,
  FX_VFLOWLEFT = 72,
  FX_VFLOWRIGHT = 73,
  FX_HOPENGATE = 74,
  FX_HCLOSEGATE = 75,
  FX_VOPENGATE = 76,
  FX_VCLOSEGATE = 77,
  FX_PUSHLEFT = 78,
  FX_PUSHRIGHT = 79,
  FX_PUSHTOP = 80,
  FX_PUSHBOTTOM = 81,
  FX_PUZZLE = 82,
  FX_DIAGONAL = 83,
  FX_ROLLTOP = 84,
  FX_ROLLLEFT = 85,
  FX_WALLPAPERTOP = 86,
  FX_WALLPAPERLEFT = 87,
  FX_RECTBACKCENTER = 88,
  FX_RECTBACKNORTHWEST = 96,
  FX_CLOCKWIPE = 97,
  FX_STAR = 98,
  FX_HSTRANGEPUSH = 99,
  FX_VSTRANGEPUSH = 100,
  FX_SLIDELEFT = 101,
  FX_SLIDERIGHT = 102,
  FX_SLIDETOP = 103,
  FX_SLIDEBOTTOM = 104,
  FX_SPIRAL = 105,
  FX_SWISS = 106,
  FX_QUADRECT = 107,
  FX_HSPLIT = 108,
  FX_VSPLIT = 109,
  FX_UPNDOWN = 110,
  FX_CARDTOP = 111,
  FX_CARDBOTTOM = 112,
  FX_UNUSED = 113,  // names nothing; a transition asked for it draws one at random
  FX_SUN = 114,
  FX_CROSSFADE = 115,
  FX_FADE = 116,
  FX_BLEND = 117,
  FX_DISSOLVE = 139,
  FX_RANDOMEFFECT = 140,
  FX_RANDOMPARAMETER = -1,
  FX_EFFECT_SLOTS = 141,  // ids 0..140
};

// The scalers and per-pixel effects.
enum : int32_t {
  FX_STRETCHLEFT = 55,
  FX_STRETCHRIGHT = 56,
  FX_STRETCHTOP = 57,
  FX_STRETCHBOTTOM = 58,
  FX_HSTRETCHCENTER = 59,
  FX_VSTRETCHCENTER = 60,
  FX_ZOOMCENTER = 61,
  FX_ZOOMNORTH = 62,
  FX_ZOOMNORTHEAST = 63,
  FX_ZOOMEAST = 64,
  FX_ZOOMSOUTHEAST = 65,
  FX_ZOOMSOUTH = 66,
  FX_ZOOMSOUTHWEST = 67,
  FX_ZOOMWEST = 68,
  FX_ZOOMNORTHWEST = 69,
  FX_ZOOMIN = 118,
  FX_ZOOMOUT = 119,
  FX_CRUSHLEFT = 120,
  FX_CRUSHRIGHT = 121,
  FX_CRUSHTOP = 122,
  FX_CRUSHBOTTOM = 123,
  FX_VFLIPCOIN = 124,
  FX_VLOWFLIPCOIN = 125,
  FX_HFLIPCOIN = 126,
  FX_HLOWFLIPCOIN = 127,
  FX_TURNDOWNTOP = 128,
  FX_TURNDOWNBOTTOM = 129,
  FX_TURNDOWNLEFT = 130,
  FX_TURNDOWNRIGHT = 131,
  FX_PIXELZOOM1 = 132,
  FX_PIXELZOOM2 = 133,
  FX_WATER1 = 134,
  FX_WATER2 = 135,
  FX_WATER3 = 136,
  FX_WATER4 = 137,
  FX_STRUDEL = 138,
};

enum : int32_t { FX_NORMALSPEED = -1, FX_FASTSPEED = -2, FX_SLOWSPEED = -3, FX_DEFAULTSPEED = -4 };

// The script's effect constants (145 names and the empty end row), for the library table.
extern const qmConstantEntry kFxConstants[];

// The largest step: every distance an effect covers is shorter (a few times the larger side of
// the largest picture), so a larger speed draws the same frames, and positions and frame numbers
// times the step stay far inside 32 bits.
constexpr int32_t FX_MAX_STEP = 1 << 20;
// The step in pixels a speed asks for over size: the speed constants divide the size by the
// effect's divisors, any other speed is the step itself; never below 1 nor above FX_MAX_STEP.
int32_t FxSpeedToStep(int32_t speed, int32_t size, int32_t normal, int32_t fast, int32_t slow);
// Frames that cover distance at step: 1 below a distance of 1, else the quotient rounded up,
// plus one unless noExtra.
int32_t FxStepCount(int32_t distance, int32_t step, int32_t noExtra);

// Effects that show only on a whole background picture (gates, pushes, slides, cards...).
bool IsWholeDisplayFx(int32_t effect);
bool IsScrollFx(int32_t effect);
// Effects that work on an opaque rectangle and handle masks themselves.
bool IsMovingFx(int32_t effect);
// Effects that draw any frame directly (a re-render calls them once with phase 2).
bool IsSelfDrawingFx(int32_t effect);
// Effects whose layer planes take an alpha plane rather than a mask.
bool IsAlphaFx(int32_t effect);
// 0: never gets the old picture; 1: always; 2: in real-time layer mode only; 3: outside it.
int32_t FxOldPictureRule(int32_t effect);

// A uniform double in [0, 1).
using qmUniformSource = double (*)();
// An effect id drawn uniformly from 0..139 without 113; without the whole-display set when
// noWholeDisplay. accept, when given, draws again while it answers false.
int32_t DrawRandomFx(qmUniformSource uniform, int32_t noWholeDisplay, bool (*accept)(int32_t effect));
// The effect that takes a layer away where effect brings one in: curtains, reveals and the
// rectangle wipes swap their opening and closing members; others are their own reverse.
int32_t ReverseFxForHide(int32_t effect);
