// The processor's vector paths, as the platform finds them.
#pragma once
#include "platform/cpu.h"
