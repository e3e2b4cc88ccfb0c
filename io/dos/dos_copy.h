// Copying a file or a directory tree into a directory, and deleting a file or a tree, with an
// optional wildcard filter and a callback that watches progress and decides about
// overwriting, write-protected files and stopping. Walks never follow symbolic links (a link
// inside a tree is deleted itself and not copied), never enter a directory twice on one path,
// never copy a tree into itself and never copy a file onto itself.
#pragma once
#include <cstdint>

#include "runtime/cancel.h"

enum : int32_t {
  COPYFILE_STATUS = 0,
  COPYFILE_OVERWRITE = 1,
  COPYFILE_UNPROTECT = 2,
  DELETEFILE_STATUS = 0,
  DELETEFILE_UNPROTECT = 1,
};

// One message of a walk; the names are absolute. Fields that do not belong to the action are
// null or 0.
struct qmWalkMessage {
  int32_t action;
  const char *source;       // copies
  const char *destination;  // copies
  const char *file;         // deletions
  double copied;            // COPYFILE_STATUS: bytes so far
  double fileSize;          // COPYFILE_STATUS: bytes of the source
};

struct qmWalkCallback {
  // 0 with the answer (*isNumber 0 when the callback's result was no number), or the error
  // that ends the walk (the callback's run-time error).
  uint32_t (*ask)(void *ud, const qmWalkMessage *message, double *answer, int *isNumber);
  void *ud;
};

struct qmCopyRequest {
  const char *source;
  const char *destination;           // a directory, made with its parents when missing
  const char *newName;               // null or empty: the source's own name
  const char *patterns;              // null: every file
  int directoryFilter;               // with patterns: enter only sub-directories that match
  const qmWalkCallback *callback;    // null: none
  qmCancel cancel;                   // polled after each file, block and callback
};

struct qmDeleteRequest {
  const char *name;               // a trailing "/" or "\" empties a directory and keeps it
  const char *patterns;
  int directoryFilter;
  const qmWalkCallback *callback;
  qmCancel cancel;
};

// 0 or the first error (the offending name as error argument); a stop asked for by the
// callback or the program is ERR_USERABORT, which the commands turn into success. A failed
// copy never leaves a partial target.
uint32_t CopyFiles(const qmCopyRequest *request);
uint32_t DeleteFiles(const qmDeleteRequest *request);
