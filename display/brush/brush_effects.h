// The brush library's image operations: effects that change a brush's pixels in place, the
// distortions, trimming and plane changes, and brushes made from other objects. The command
// table in lib_brush.cpp lists these handlers in the library's order.
#pragma once
#include <cstdint>

struct VmState;

uint32_t BrsBlurBrush(VmState *L);
uint32_t BrsEmbossBrush(VmState *L);
uint32_t BrsEdgeBrush(VmState *L);
uint32_t BrsSharpenBrush(VmState *L);
uint32_t BrsSolarizeBrush(VmState *L);
uint32_t BrsGammaBrush(VmState *L);
uint32_t BrsContrastBrush(VmState *L);
uint32_t BrsModulateBrush(VmState *L);
uint32_t BrsSepiaToneBrush(VmState *L);
uint32_t BrsCharcoalBrush(VmState *L);
uint32_t BrsSwirlBrush(VmState *L);
uint32_t BrsPixelateBrush(VmState *L);
uint32_t BrsWaterRippleBrush(VmState *L);
uint32_t BrsBrushToMonochrome(VmState *L);
uint32_t BrsOilPaintBrush(VmState *L);
uint32_t BrsTrimBrush(VmState *L);
uint32_t BrsRasterizeBrush(VmState *L);
uint32_t BrsChangeBrushTransparency(VmState *L);
uint32_t BrsCreateShadowBrush(VmState *L);
uint32_t BrsCreateBorderBrush(VmState *L);
uint32_t BrsConvertToBrush(VmState *L);
uint32_t BrsGetBrushLink(VmState *L);
uint32_t BrsPerspectiveDistortBrush(VmState *L);
uint32_t BrsArcDistortBrush(VmState *L);
uint32_t BrsPolarDistortBrush(VmState *L);
uint32_t BrsBarrelDistortBrush(VmState *L);
