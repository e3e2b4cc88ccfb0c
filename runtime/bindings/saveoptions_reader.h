// The options argument of the picture-saving commands (SaveBrush, SaveSnapshot and their kin).
#pragma once
#include <cstdint>

struct VmState;

// Reads argument index: absent or Nil keeps the values given; a table may carry "quality",
// "colors" and "dither" (each missing field keeps its value); anything else is read as a number
// and taken as the quality. Raises the argument errors of the binding layer.
void ParseSaveOptions(VmState *L, int index, int32_t *quality, int32_t *colors, int32_t *dither);
