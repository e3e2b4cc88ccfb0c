#include "transitions/fxtable.h"

#include "runtime/registry.h"

// Ordered by id; the aliases and the specials close the list. 113 has no name.
const qmConstantEntry kFxConstants[] = {
    {"HSTRIPES", nullptr, 0},           {"HSTRIPES2", nullptr, 1},          {"HSTRIPES4", nullptr, 2},
    {"HSTRIPES8", nullptr, 3},          {"HSTRIPES16", nullptr, 4},         {"HSTRIPES32", nullptr, 5},
    {"HSTRIPES64", nullptr, 6},         {"VSTRIPES", nullptr, 7},           {"VSTRIPES2", nullptr, 8},
    {"VSTRIPES4", nullptr, 9},          {"VSTRIPES8", nullptr, 10},         {"VSTRIPES16", nullptr, 11},
    {"VSTRIPES32", nullptr, 12},        {"VSTRIPES64", nullptr, 13},        {"HBLINDS8", nullptr, 14},
    {"HBLINDS16", nullptr, 15},         {"HBLINDS32", nullptr, 16},         {"HBLINDS64", nullptr, 17},
    {"HBLINDS128", nullptr, 18},        {"VBLINDS8", nullptr, 19},          {"VBLINDS16", nullptr, 20},
    {"VBLINDS32", nullptr, 21},         {"VBLINDS64", nullptr, 22},         {"VBLINDS128", nullptr, 23},
    {"VOPENCURTAIN", nullptr, 24},      {"VCLOSECURTAIN", nullptr, 25},     {"HOPENCURTAIN", nullptr, 26},
    {"HCLOSECURTAIN", nullptr, 27},     {"BARS", nullptr, 28},              {"QUARTERS", nullptr, 29},
    {"REVEALLEFT", nullptr, 30},        {"REVEALRIGHT", nullptr, 31},       {"REVEALTOP", nullptr, 32},
    {"REVEALBOTTOM", nullptr, 33},      {"VLINES2", nullptr, 34},           {"HLINES2", nullptr, 35},
    {"HLINES", nullptr, 36},            {"VLINES", nullptr, 37},            {"RECTCENTER", nullptr, 38},
    {"RECTNORTH", nullptr, 39},         {"RECTNORTHEAST", nullptr, 40},     {"RECTEAST", nullptr, 41},
    {"RECTSOUTHEAST", nullptr, 42},     {"RECTSOUTH", nullptr, 43},         {"RECTSOUTHWEST", nullptr, 44},
    {"RECTWEST", nullptr, 45},          {"RECTNORTHWEST", nullptr, 46},     {"SCROLLLEFT", nullptr, 47},
    {"SCROLLRIGHT", nullptr, 48},       {"SCROLLTOP", nullptr, 49},         {"SCROLLBOTTOM", nullptr, 50},
    {"SCROLLNORTHEAST", nullptr, 51},   {"SCROLLSOUTHEAST", nullptr, 52},   {"SCROLLSOUTHWEST", nullptr, 53},
    {"SCROLLNORTHWEST", nullptr, 54},   {"STRETCHLEFT", nullptr, 55},       {"STRETCHRIGHT", nullptr, 56},
    {"STRETCHTOP", nullptr, 57},        {"STRETCHBOTTOM", nullptr, 58},     {"HSTRETCHCENTER", nullptr, 59},
    {"VSTRETCHCENTER", nullptr, 60},    {"ZOOMCENTER", nullptr, 61},        {"ZOOMNORTH", nullptr, 62},
    {"ZOOMNORTHEAST", nullptr, 63},     {"ZOOMEAST", nullptr, 64},          {"ZOOMSOUTHEAST", nullptr, 65},
    {"ZOOMSOUTH", nullptr, 66},         {"ZOOMSOUTHWEST", nullptr, 67},     {"ZOOMWEST", nullptr, 68},
    {"ZOOMNORTHWEST", nullptr, 69},     {"HFLOWTOP", nullptr, 70},          {"HFLOWBOTTOM", nullptr, 71},
    {"VFLOWLEFT", nullptr, 72},         {"VFLOWRIGHT", nullptr, 73},        {"HOPENGATE", nullptr, 74},
    {"HCLOSEGATE", nullptr, 75},        {"VOPENGATE", nullptr, 76},         {"VCLOSEGATE", nullptr, 77},
    {"PUSHLEFT", nullptr, 78},          {"PUSHRIGHT", nullptr, 79},         {"PUSHTOP", nullptr, 80},
    {"PUSHBOTTOM", nullptr, 81},        {"PUZZLE", nullptr, 82},            {"DIAGONAL", nullptr, 83},
    {"ROLLTOP", nullptr, 84},           {"ROLLLEFT", nullptr, 85},          {"WALLPAPERTOP", nullptr, 86},
    {"WALLPAPERLEFT", nullptr, 87},     {"RECTBACKCENTER", nullptr, 88},    {"RECTBACKNORTH", nullptr, 89},
    {"RECTBACKNORTHEAST", nullptr, 90}, {"RECTBACKEAST", nullptr, 91},      {"RECTBACKSOUTHEAST", nullptr, 92},
    {"RECTBACKSOUTH", nullptr, 93},     {"RECTBACKSOUTHWEST", nullptr, 94}, {"RECTBACKWEST", nullptr, 95},
    {"RECTBACKNORTHWEST", nullptr, 96}, {"CLOCKWIPE", nullptr, 97},         {"STAR", nullptr, 98},
    {"HSTRANGEPUSH", nullptr, 99},      {"VSTRANGEPUSH", nullptr, 100},     {"SLIDELEFT", nullptr, 101},
    {"SLIDERIGHT", nullptr, 102},       {"SLIDETOP", nullptr, 103},         {"SLIDEBOTTOM", nullptr, 104},
    {"SPIRAL", nullptr, 105},           {"SWISS", nullptr, 106},            {"QUADRECT", nullptr, 107},
    {"HSPLIT", nullptr, 108},           {"VSPLIT", nullptr, 109},           {"UPNDOWN", nullptr, 110},
    {"CARDTOP", nullptr, 111},          {"CARDBOTTOM", nullptr, 112},       {"SUN", nullptr, 114},
    {"CROSSFADE", nullptr, 115},        {"FADE", nullptr, 116},             {"BLEND", nullptr, 117},
    {"ZOOMIN", nullptr, 118},           {"ZOOMOUT", nullptr, 119},          {"CRUSHLEFT", nullptr, 120},
    {"CRUSHRIGHT", nullptr, 121},       {"CRUSHTOP", nullptr, 122},         {"CRUSHBOTTOM", nullptr, 123},
    {"VFLIPCOIN", nullptr, 124},        {"VLOWFLIPCOIN", nullptr, 125},     {"HFLIPCOIN", nullptr, 126},
    {"HLOWFLIPCOIN", nullptr, 127},     {"TURNDOWNTOP", nullptr, 128},      {"TURNDOWNBOTTOM", nullptr, 129},
    {"TURNDOWNLEFT", nullptr, 130},     {"TURNDOWNRIGHT", nullptr, 131},    {"PIXELZOOM1", nullptr, 132},
    {"PIXELZOOM2", nullptr, 133},       {"WATER1", nullptr, 134},           {"WATER2", nullptr, 135},
    {"WATER3", nullptr, 136},           {"WATER4", nullptr, 137},           {"STRUDEL", nullptr, 138},
    {"DISSOLVE", nullptr, 139},         {"SCROLLWEST", nullptr, 47},        {"SCROLLEAST", nullptr, 48},
    {"SCROLLNORTH", nullptr, 49},       {"SCROLLSOUTH", nullptr, 50},       {"RANDOMEFFECT", nullptr, 140},
    {"RANDOMPARAMETER", nullptr, -1},   {nullptr, nullptr, 0},
};

int32_t FxSpeedToStep(int32_t speed, int32_t size, int32_t normal, int32_t fast, int32_t slow) {
  int32_t step = speed;
  if (speed == FX_NORMALSPEED) step = size / normal;
  else if (speed == FX_FASTSPEED) step = size / fast;
  else if (speed == FX_SLOWSPEED) step = size / slow;
  return step < 1 ? 1 : step > FX_MAX_STEP ? FX_MAX_STEP : step;
}

int32_t FxStepCount(int32_t distance, int32_t step, int32_t noExtra) {
  if (distance < 1) return 1;
  if (step < 1) step = 1;
  const int64_t n = int64_t(distance / step) + (distance % step ? 1 : 0) + (noExtra ? 0 : 1);
  return n > INT32_MAX ? INT32_MAX : int32_t(n);
}

namespace {
bool In(int32_t e, int32_t lo, int32_t hi) { return e >= lo && e <= hi; }
}  // namespace

bool IsWholeDisplayFx(int32_t e) {
  return In(e, 74, 81) || In(e, 101, 104) || e == 111 || e == 112 || In(e, 118, 131) || e == 133;
}

bool IsScrollFx(int32_t e) { return In(e, 47, 54); }

bool IsMovingFx(int32_t e) {
  return In(e, 47, 73) || In(e, 84, 87) || e == 99 || e == 100 || e == 116 || e == 117 || e == 132 || e == 133;
}

bool IsSelfDrawingFx(int32_t e) {
  return In(e, 55, 81) || In(e, 84, 87) || In(e, 97, 104) || e == 111 || e == 112 || In(e, 114, 139);
}

bool IsAlphaFx(int32_t e) { return In(e, 115, 117) || In(e, 134, 138); }

int32_t FxOldPictureRule(int32_t e) {
  if (e == 74 || e == 76 || In(e, 78, 81) || In(e, 101, 104) || e == 111 || e == 112 || e == 115 ||
      In(e, 118, 131) || e == 133)
    return 1;
  if (e == 75 || e == 77) return 2;
  if (In(e, 55, 73) || In(e, 84, 87) || In(e, 97, 100) || e == 114 || e == 116 || e == 117 || e == 132 ||
      In(e, 134, 139))
    return 3;
  return 0;
}

int32_t DrawRandomFx(qmUniformSource uniform, int32_t noWholeDisplay, bool (*accept)(int32_t effect)) {
  for (;;) {
    const int32_t e = int32_t(uniform() * 141.0);
    if (e == FX_UNUSED || e >= FX_RANDOMEFFECT || e < 0) continue;
    if (noWholeDisplay && IsWholeDisplayFx(e)) continue;
    if (accept && !accept(e)) continue;
    return e;
  }
}

int32_t ReverseFxForHide(int32_t e) {
  switch (e) {
    case FX_VOPENCURTAIN: return FX_VCLOSECURTAIN;
    case FX_VCLOSECURTAIN: return FX_VOPENCURTAIN;
    case FX_HOPENCURTAIN: return FX_HCLOSECURTAIN;
    case FX_HCLOSECURTAIN: return FX_HOPENCURTAIN;
    case FX_REVEALLEFT: return FX_REVEALRIGHT;
    case FX_REVEALRIGHT: return FX_REVEALLEFT;
    case FX_REVEALTOP: return FX_REVEALBOTTOM;
    case FX_REVEALBOTTOM: return FX_REVEALTOP;
    default: break;
  }
  if (In(e, FX_RECTCENTER, FX_RECTNORTHWEST)) return e + (FX_RECTBACKCENTER - FX_RECTCENTER);
  if (In(e, FX_RECTBACKCENTER, FX_RECTBACKCENTER + 8)) return e - (FX_RECTBACKCENTER - FX_RECTCENTER);
  return e;
}
