// GetAttribute: one table of object types, each row with the attributes it answers.
#pragma once
#include <cstdint>

struct VmState;

// Attribute ids, as the ATTR* constants number them.
enum : int32_t {
  ATTRWIDTH = 0, ATTRHEIGHT = 1, ATTRXPOS = 7, ATTRYPOS = 8, ATTRDURATION = 14,
  ATTRFUNCTION = 58, ATTRUSERDATA = 59, ATTRCOUNT = 60,
};

// The command: (type, id, attribute [, param]).
uint32_t GfxGetAttribute(VmState *L);
