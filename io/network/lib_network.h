// The "network" library: TCP connections and servers, UDP objects, host look-ups, and HTTP and
// FTP transfers.
#pragma once
#include "runtime/library.h"

extern const qmLibrary kNetworkLibrary;
