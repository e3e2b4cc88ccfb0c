// Whole-file computations of the dos library: MD5 and CRC-32 of a named file, and the byte
// patch that combines two open files into a third.
#pragma once
#include <cstdint>

#include "runtime/cancel.h"

struct qmFileObject;

// 0 and the 32 hexadecimal digits (and terminator) in hex; ERR_READFILE (the name as error
// argument), ERR_READ for a read error part-way, ERR_MEM, or the code of a cancel polled
// between blocks.
uint32_t MD5OfFile(const char *name, const qmCancel &cancel, char hex[33]);
uint32_t CRC32OfFile(const char *name, const qmCancel &cancel, uint32_t *crc);

struct qmPatchProgress {
  // Called when the whole percentage done changes (1 to 100); 0 or the error that stops.
  uint32_t (*report)(void *ud, int32_t percent);  // null: no reports
  // Called between blocks; 0 or the code that stops (ERR_USERABORT for a quit).
  uint32_t (*service)(void *ud);
  void *ud;
};

// out = in1 XOR in2 byte by byte, from each file's position; once in2 is used up, in1 XOR 255.
// Runs over the bytes in1 still holds; every file object's position and size move as its
// reads and writes did. 0, ERR_READ, ERR_WRITE or the code a progress call returned.
uint32_t ApplyPatchFiles(qmFileObject *in1, qmFileObject *in2, qmFileObject *out, const qmPatchProgress *progress);
