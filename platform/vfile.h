// Virtual file names: a window of bytes inside a container file
//   ":::chunk" offset ":" length "*" display-name "/" container-path
// or inside a registered memory window
//   ":::chunkS" reference ":" length "*" display-name "/" hexadecimal-address
// The address text of the memory form is never used: a script can write any name, so memory is
// reached only through the window registered under the reference.
#pragma once
#include <cstddef>
#include <cstdint>

struct qmChunkName {
  uint32_t memory;       // 1 for the ":::chunkS" form
  uint64_t offset;       // file form: the window's offset in its container
  int64_t reference;     // memory form: the registered window
  uint64_t length;
  const char *display;   // points into the name; displayLength bytes, no "/"
  size_t displayLength;
  const char *container;  // file form: the rest of the name after the display name's "/"
};

// 1 when name begins with ":::chunk".
int IsChunkName(const char *name);
// 1 and out filled when the name is a well-formed virtual name; 0 otherwise.
int ParseChunkName(const char *name, qmChunkName *out);

// Registers length bytes at base as a memory window that ":::chunkS" names may open; returns
// its reference (above 0; references are never reused), or 0 for a null base or when the
// references run out. The memory
// must stay valid until the window is unregistered.
int32_t RegisterMemoryWindow(const void *base, uint64_t length);
// 0; ERR_LOCKEDOBJ while a file handle still reads the window; ERR_WRONGUSAGE for an unknown
// reference.
uint32_t UnregisterMemoryWindow(int32_t reference);

// For the file layer: the window's memory when it exists and holds at least length bytes, with
// one more open handle counted; nullptr otherwise. ReleaseMemoryWindow ends that count.
const uint8_t *AcquireMemoryWindow(int64_t reference, uint64_t length);
void ReleaseMemoryWindow(int64_t reference);
