// The style tables of the layers library read into the records the layer style engine applies:
// a style change for SetLayerStyle and its front-ends, the draw-style keys of a shape.
#pragma once
#include <cstdint>

#include "layers/style.h"

struct VmState;
struct qmDrawStyle;

// Reads the style table at stack index t for the layer into change; content keys only with
// single (one layer selected). 0 or the first bad key's error.
uint32_t ReadLayerStyle(VmState *L, int32_t t, const qmLayer *layer, int32_t single, qmStyleChange *change);

// The draw-style keys of a shape's style table into the draw style: "formstyle" (the normal bit
// alone resets the form bits; the shadow and edge bits switch the layer's shadow and border on
// and set *changed), "formstyleclear", "fillstyle", the gradient keys (with a gradient fill its
// option keys too) and the texture keys. *styleGiven := 1 when a key other than the shadow and
// edge bits was given. layer may be null. 0 or an error code.
uint32_t ReadFormStyleOptions(VmState *L, qmLayer *layer, int32_t t, qmDrawStyle *style, int32_t *styleGiven,
                              int32_t *changed);
// The same keys written from the draw style into the table on the stack top.
void WriteFormStyleFields(VmState *L, const qmDrawStyle *style);
