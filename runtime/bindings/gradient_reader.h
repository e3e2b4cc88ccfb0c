// Readers of gradient arguments and option tables into the gradient record that the fills take,
// shared by the commands that make gradient pictures and brushes and by the display tags.
#pragma once
#include <cstdint>

#include "graphics/gradientfill.h"

struct VmState;

// The keys of a gradient option table: centre x, centre y, balance, border, colour list.
struct qmGradientKeys {
  const char *centerX, *centerY, *balance, *border, *colors;
};
inline constexpr qmGradientKeys kGradientTableKeys{"centerx", "centery", "balance", "border", "colors"};
inline constexpr qmGradientKeys kGradientOptionKeys{"gradientcenterx", "gradientcentery", "gradientbalance",
                                                   "gradientborder", "gradientcolors"};

// Centre, balance and border (radial and conical gradients) and the extra colour stops of the
// table at index t: 0 or ERR_WRONGUSAGE, ERR_MISSINGPARAMTR, ERR_INTERNAL (more than 64 stops).
uint32_t ReadGradientSpec(VmState *L, int t, const qmGradientKeys &keys, qmGradientSpec *g);
// The gradient arguments from index first on: the angle by type, then an optional table. The
// caller has set kind (the type argument), start and end colour.
uint32_t ReadGradientArgs(VmState *L, int first, qmGradientSpec *g);
// "gradientstyle", "gradientstartcolor", "gradientendcolor", "gradientangle" and the option
// keys of the gradient record, from the table at index t.
uint32_t ReadGradientOptions(VmState *L, int t, qmGradientSpec *g);
