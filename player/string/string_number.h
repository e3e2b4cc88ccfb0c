// Numbers as text and text as numbers for the string commands.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// n as "%.14g" with at most decimals digits behind the point (decimals 0 drops the point, a
// negative count keeps the point alone). An exponent part stays: only the mantissa is cut.
std::string NumberToCutText(double n, int32_t decimals);
// An unsigned 32-bit number in base 2..36: leading white space and a sign, digits (a "0x"
// prefix in base 16), then only white space; anything else gives 0. Values above 32 bits
// give 4294967295 and "-n" gives 2^32 - n, as a 32-bit strtoul does.
uint32_t ParseUnsigned32(const char *s, size_t len, int base);
// "$" and upper-case hexadecimal digits of the 32-bit value.
std::string HexText(uint32_t v);
// Binary digits, most significant first: 32 for #INTEGER/#LONG (1), 16 for #SHORT/#WORD (6),
// 8 for #BYTE (7), "" for any other type.
std::string BinaryText(uint32_t v, int32_t type);
// n in decimal with zeros in front up to digits characters (never cut).
std::string PaddedNumber(int32_t n, int32_t digits);
