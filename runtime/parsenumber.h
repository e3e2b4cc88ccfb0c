// Number and colour literals of the options and of the text formatting tags: an optional
// '-', then "$" hexadecimal, "%" binary, "0x" hexadecimal or a decimal floating-point number.
#pragma once
#include <cstddef>
#include <cstdint>

// The value; *consumed (optional) counts the characters read from the start of text. *error
// is 0, ERR_SYNTAXERROR for "$" or "0x" without digits, or ERR_VALUEEXPECTED when the text is
// no number. Hexadecimal and binary values are unsigned 32-bit numbers (extra digits wrap).
double ParseNumber(const char *text, size_t *consumed, uint32_t *error);
