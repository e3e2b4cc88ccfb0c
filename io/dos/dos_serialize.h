// Tables and functions stored in an open file, big-endian, at the file object's position:
//   table record    "QMT0" body;  body = (key value)* 0
//   items           2 + 8-byte double | 3 + u32 length + bytes | 4 + body | 5 + function body
//   function record "QMF0" + u32 length + bytecode, or "QMF1" + 8 hexadecimal digits giving
//                   the length of the Base64 text that follows (lines of 72 characters).
// Records are read as untrusted input: every length is checked against the bytes left, nesting
// is limited and every function body passes the bytecode checker.
#pragma once
#include <cstdint>

struct VmState;
struct qmFileObject;

inline constexpr int kTableMaxDepth = 200;
inline constexpr uint32_t kMaxStringKeyLength = 256;

enum : uint8_t {
  TABLETAG_END = 0,
  TABLETAG_NUMBER = 2,
  TABLETAG_STRING = 3,
  TABLETAG_TABLE = 4,
  TABLETAG_FUNCTION = 5,
};

// The table at stack position t. Keys must be numbers or strings and values numbers,
// strings, tables, functions or user data (written as the number 0); anything else, a table
// met again on its own path or nesting deeper than kTableMaxDepth is ERR_WRONGUSAGE.
uint32_t SerializeTable(VmState *L, int t, qmFileObject *f, int base64);
// The function at stack position idx: ERR_NOQMFUNC for a native one, ERR_WRITE.
uint32_t SerializeFunction(VmState *L, int idx, qmFileObject *f, int base64);
// The whole records, magic first.
uint32_t WriteTableRecord(VmState *L, int t, qmFileObject *f, int base64);
uint32_t WriteFunctionRecord(VmState *L, int idx, qmFileObject *f, int base64);

// Push one table or function on success (nothing on failure). ERR_READTABLE /
// ERR_READFUNC for a wrong magic, an unknown tag or nesting too deep; ERR_READRANGE for a
// length beyond the file; ERR_WRONGUSAGE for a string key longer than kMaxStringKeyLength;
// ERR_BADBASE64; the loader's codes for bytecode it refuses.
uint32_t ReadTableRecord(VmState *L, qmFileObject *f);
uint32_t ReadFunctionRecord(VmState *L, qmFileObject *f);
