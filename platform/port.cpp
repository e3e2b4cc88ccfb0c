#include "platform/port.h"

#include "platform/errorarg.h"
#include "runtime/errcodes.h"

uint32_t CreatePlatformPort() { return ERR_CREATEPORT; }

uint32_t SendPlatformMessage(const char *portName) {
  SetPlatformErrorArgument(portName);
  return ERR_FINDPORT;
}
