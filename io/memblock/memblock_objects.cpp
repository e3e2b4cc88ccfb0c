#include "io/memblock/memblock_objects.h"

#include "platform/memory.h"
#include "runtime/cmdargs.h"
#include "runtime/errcodes.h"
#include "runtime/objdata.h"
#include "runtime/objlist.h"

namespace {
qmMemBlock *AsBlock(qmObjectHeader *h) { return reinterpret_cast<qmMemBlock *>(h); }
}  // namespace

uint32_t AllocMemBlock(VmState *L, const qmObjectId *id, int32_t size, qmMemBlock **out) {
  if (size < 1) return ERR_MEM;
  if (!id->handle)
    if (qmMemBlock *old = AsBlock(FindObject(L, QMTYPE_MEMORY, id))) FreeMemBlock(L, old);
  auto *block = static_cast<qmMemBlock *>(MemAlloc(sizeof(qmMemBlock), 1));
  // Cleared, so that a script never reads what the memory held before.
  uint8_t *buffer = static_cast<uint8_t *>(MemAlloc(uint64_t(size), 1));
  if (!block || !buffer) {
    MemFree(block);
    MemFree(buffer);
    return ERR_MEM;
  }
  SetObjectHeader(&block->header, QMTYPE_MEMORY, id);
  block->size = size;
  block->buffer = buffer;
  if (uint32_t code = AddObject(L, &block->header)) {
    MemFree(buffer);
    MemFree(block);
    return code;
  }
  *out = block;
  return 0;
}

void FreeMemBlock(VmState *L, qmMemBlock *block) {
  RemoveObject(L, &block->header);
  FreeObjectDataList(L, static_cast<qmObjectData *>(block->header.userData));
  MemFree(block->buffer);
  MemFree(block);
}

void FreeAllMemBlocks(VmState *L) {
  while (qmObjectHeader *h = FirstObject(L, QMTYPE_MEMORY)) FreeMemBlock(L, AsBlock(h));
}

uint32_t FindMemBlock(VmState *L, const qmObjectId *id, qmMemBlock **out) {
  *out = FindMemBlock(ObjectRegistryOf(L), id);
  return *out ? 0 : MissingObjectError(id, ERR_FINDMEMBLK);
}
