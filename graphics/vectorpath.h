// Vector paths: the record of a path object and its command stream, the stroke settings every
// path is measured and drawn with, and the style handed to the vector plug-in. Building and
// copying paths needs no plug-in; measuring and drawing do (graphics/vectorrender.h).
//
// The stream: commands of a 32-bit opcode and its operands, ended by a 32-bit 0. Words are 32
// bits; doubles lie at the next 4-byte boundary (read them with memcpy); a string keeps its NUL
// and is padded to (n & ~3) + 4 bytes, n counting the NUL.
#pragma once
#include <cstddef>
#include <cstdint>

#include "graphics/vector_requests.h"
#include "runtime/objectid.h"

enum : uint32_t {
  PATHOP_END = 0,
  PATHOP_MOVE = 1,     // word relative, x, y
  PATHOP_LINE = 2,     // word relative, x, y
  PATHOP_CURVE = 3,    // word relative, x1, y1, x2, y2, x3, y3
  PATHOP_SUBPATH = 5,  // none
  PATHOP_CLOSE = 6,    // none
  PATHOP_ARC = 7,      // centre x, y, radius x, y, start, end (degrees), word clockwise
  PATHOP_BOX = 8,      // x, y, width, height, words of corner rounding a, b, c, d (0..100 %)
  PATHOP_TEXT = 9,     // word font handle, word size, string (UTF-8)
};

enum : int32_t { PATHARG_WORD = 0, PATHARG_DOUBLE = 1, PATHARG_STRING = 2 };
struct qmPathOperand {
  int32_t kind;  // PATHARG_*
  uint32_t word;
  double number;
  const char *text;
};

// A path object (QMTYPE_VECTORPATH): null commands and end while empty.
struct qmPath {
  qmObjectHeader header;
  uint8_t *commands;
  uint32_t capacity;  // bytes
  uint8_t *end;       // the 0 word that ends the stream
};

// The stroke settings of a run, zero at start.
struct qmVectorState {
  int32_t join, cap;
  double dashOffset;
  uint32_t dashCount;
  double *dashes;  // owned
  int32_t fillRule;
  int32_t forcePathUse;  // the draw library's shapes go through the path renderer
};

// A new empty path: 0 or ERR_MEM.
uint32_t NewPath(qmPath **out);
// The buffer, then the record (the user data is the caller's).
void FreePathRecord(qmPath *path);
void ClearPathCommands(qmPath *path);
// Bytes of commands in use, without the ending 0 word.
size_t PathCommandBytes(const qmPath *path);
inline bool PathIsEmpty(const qmPath *path) { return path->commands == nullptr; }

// Appends one command; a full buffer grows by max(room needed, its capacity, 1024) bytes, so
// it at least doubles. 0 or ERR_MEM (the path unchanged).
uint32_t AppendPathCommand(qmPath *path, uint32_t opcode, int32_t count, const qmPathOperand *operands);
// dst's commands become a copy of src's, in a buffer of src's capacity: 0 or ERR_MEM (dst
// unchanged).
uint32_t CopyPathCommands(const qmPath *src, qmPath *dst);
// src's commands appended behind dst's: 0 or ERR_MEM (dst unchanged). src may not be dst.
uint32_t AppendPathCommands(qmPath *dst, const qmPath *src);

// The corner levels of a box command, each brought into 0..100.
void ClampBoxCorners(int32_t corners[4]);
// 0, or ERR_WRONGUSAGE for a dash list with a negative length or no length above 0.
uint32_t CheckDashes(const double *lengths, uint32_t count);
// The style of a request: the state's settings, with the anti-alias switch given.
qmVectorStyle VectorStyleOf(const qmVectorState *state, int32_t antialias);
// The settings freed (the dash list) and zeroed.
void ResetVectorState(qmVectorState *state);
