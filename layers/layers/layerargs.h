// The layer arguments of the layers library's commands.
#pragma once
#include <cstdint>

#include "layers/layer.h"
#include "runtime/bindings/layerarg_reader.h"

struct VmState;

// A layer argument that must name an existing layer: also ERR_LAYERRANGE.
uint32_t GetExistingLayerArg(VmState *L, int i, qmLayer **out, int32_t *position);
// A layer argument that may name a group: a position or a layer name gives that layer and
// *index -1; a group name gives the group's layer counted *index (from 0) and *index the count
// of the next one, -1 after the last. The caller starts with 0 and calls again while *index is
// not -1. 0, ERR_LAYERRANGE, ERR_FINDLAYER, ERR_STRORNUM. group may be null.
uint32_t GetLayerOrGroupArg(VmState *L, int i, const qmBGPic *pic, qmLayer **out, int32_t *index, int32_t *group);
