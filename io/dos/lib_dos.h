// The "dos" library: files, directories, virtual and packed files, checksums, serialised
// tables and functions, copying and deleting.
#pragma once
#include "runtime/library.h"

extern const qmLibrary kDosLibrary;
