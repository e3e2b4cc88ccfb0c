// Readable listings of loaded chunks, for qmdis and for test failure messages.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

struct VmProto;

namespace qmtools {

// One prototype with its fields, constants, locals, upvalue names and code; nested
// prototypes follow, indented by two more spaces per level.
std::string ListProto(const VmProto *proto, int indent = 0);

// "error 1198 ERR_UNEXPECTEDEOF"
std::string LoadErrorText(uint32_t code);

struct ChunkListing {
  uint32_t error = 0;  // the loader's error code, 0 when the chunk loaded
  std::string text;    // the header and ListProto of the main function, or LoadErrorText
};

// Loads the chunk with the VM's loader in a state of its own and lists it.
ChunkListing ListChunk(const void *data, size_t size, const char *chunkname);

}  // namespace qmtools
