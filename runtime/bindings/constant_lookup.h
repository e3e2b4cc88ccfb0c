// The script's constants as the text layout's lookup of "#NAME" in a formatting tag's value.
#pragma once
#include <cstddef>
#include <cstdint>

// A qmConstantLookup (text/textlayout.h) whose context is the VM state: 0 and the number of the
// constant, ERR_VALUEEXPECTED for a string constant, or the constant reader's error.
uint32_t LookupTagConstant(void *context, const char *text, size_t *consumed, double *number);
