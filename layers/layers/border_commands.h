// Handlers of the layers library's shadow and border commands (border_commands.cpp).
#pragma once
#include <cstdint>

struct VmState;

uint32_t LaySetLayerShadow(VmState *L);
uint32_t LaySetLayerBorder(VmState *L);
