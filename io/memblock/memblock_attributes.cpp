// GetAttribute of a memory block: its size in bytes.
#include "io/memblock/lib_memblock.h"
#include "io/memblock/memblock_objects.h"
#include "runtime/attributes.h"
#include "runtime/cmdargs.h"
#include "runtime/errcodes.h"
#include "runtime/objtypes.h"
#include "runtime/vm/vm_api.h"

uint32_t MemblockReadAttribute(VmState *L, uint32_t type, int32_t attribute) {
  if (type != QMTYPE_MEMORY) return ERR_UNKNOWNATTR;
  qmObjectId id = GetObjectIdArg(L, 2);
  qmMemBlock *b = nullptr;
  if (uint32_t code = FindMemBlock(L, &id, &b)) return code;
  if (attribute != ATTRSIZE) return ERR_UNKNOWNATTR;
  vm_pushnumber(L, b->size);
  return 1;
}
