// 16- and 32-bit values in either byte order, byte by byte through the file layer. When the
// file ends inside a value, the missing bytes read as 0xFF (callers test the length first).
#pragma once
#include <cstdint>

struct qmFileHandle;

uint32_t ReadLongBE(qmFileHandle *f);
uint32_t ReadLongLE(qmFileHandle *f);
int32_t ReadWordBE(qmFileHandle *f);  // sign-extended
int32_t ReadWordLE(qmFileHandle *f);  // sign-extended
// 1 when every byte was written, 0 otherwise.
int WriteLongBE(qmFileHandle *f, uint32_t value);
int WriteLongLE(qmFileHandle *f, uint32_t value);
int WriteWordBE(qmFileHandle *f, uint32_t value);
int WriteWordLE(qmFileHandle *f, uint32_t value);
// The text without its terminating zero.
int WriteCString(qmFileHandle *f, const char *text);
