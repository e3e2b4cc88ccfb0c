// Message ports between programs: not offered on this platform.
#pragma once
#include <cstdint>

// Always ERR_CREATEPORT.
uint32_t CreatePlatformPort();
// Always ERR_FINDPORT, with the port name as the error argument.
uint32_t SendPlatformMessage(const char *portName);
