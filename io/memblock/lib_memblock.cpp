// The "memblock" library: its command handlers and command table. The blocks and their range
// rules live in memblock.cpp; files are the dos library's file objects.
#include "io/memblock/lib_memblock.h"

#include <cstring>
#include <string>

#include "io/fileobject.h"
#include "io/memblock/memblock_objects.h"
#include "platform/env.h"
#include "runtime/cmdargs.h"
#include "runtime/errcodes.h"
#include "runtime/objlist.h"
#include "runtime/vm/vm_api.h"

namespace {

// An offset, count or size argument, kept in 64 bits so that range checks cannot wrap. A
// number beyond that range gives the code the caller names.
uint32_t Int64Arg(VmState *L, int i, double def, uint32_t code, int64_t *out) {
  double d = vm_isnoneornil(L, i) && vm_gettop(L) < i ? def : vm_checknumber(L, i);
  return NumberToInt64(d, out) ? 0 : code;
}

int UnitOf(int32_t type) {
  switch (type) {
    case MEMTYPE_INTEGER: return 4;
    case MEMTYPE_SHORT: return 2;
    case MEMTYPE_BYTE: return 1;
    default: return 0;
  }
}

uint32_t MemAllocMem(VmState *L) {
  CheckArgCount(L, 2, 2);
  qmObjectId id = GetNewObjectIdArg(L, 1);
  int64_t size;
  if (uint32_t code = Int64Arg(L, 2, 0, ERR_MEM, &size)) return code;
  if (size < 0) return ERR_WRONGUSAGE;
  if (size == 0 || size > kMaxMemBlockSize) return ERR_MEM;
  qmMemBlock *b;
  if (uint32_t code = AllocMemBlock(L, &id, int32_t(size), &b)) return code;
  if (!id.handle) return 0;
  vm_pushlightuserdata(L, b);
  return 1;
}

uint32_t MemFreeMem(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmMemBlock *b;
  if (uint32_t code = GetObjectArg(L, 1, QMTYPE_MEMORY, ERR_FINDMEMBLK, &b)) return code;
  FreeMemBlock(L, b);
  return 0;
}

uint32_t MemPoke(VmState *L) {
  CheckArgCount(L, 3, 4);
  int64_t offset;
  if (uint32_t code = Int64Arg(L, 2, 0, ERR_MEMRANGE, &offset)) return code;
  if (offset < 0) return ERR_MEMRANGE;
  qmMemBlock *b;
  if (uint32_t code = GetObjectArg(L, 1, QMTYPE_MEMORY, ERR_FINDMEMBLK, &b)) return code;
  int32_t type = vm_optint32(L, 4, MEMTYPE_INTEGER);
  if (type == MEMTYPE_STRING) {
    size_t len;
    const char *s = vm_checkstring(L, 3, &len);
    if (!MemRangeFits(offset, int64_t(len) + 1, b->size)) return ERR_MEMRANGE;
    std::memcpy(b->buffer + offset, s, len);
    b->buffer[offset + int64_t(len)] = 0;
    return 0;
  }
  int unit = UnitOf(type);
  if (!unit) return ERR_WRONGUSAGE;
  uint32_t value = vm_checkinteger(L, 3);
  if (!MemRangeFits(offset, unit, b->size)) return ERR_MEMRANGE;
  PutBigEndian(b->buffer + offset, value, unit);
  return 0;
}

uint32_t MemPeek(VmState *L) {
  CheckArgCount(L, 2, 4);
  int64_t offset;
  if (uint32_t code = Int64Arg(L, 2, 0, ERR_MEMRANGE, &offset)) return code;
  if (offset < 0) return ERR_MEMRANGE;
  qmMemBlock *b;
  if (uint32_t code = GetObjectArg(L, 1, QMTYPE_MEMORY, ERR_FINDMEMBLK, &b)) return code;
  int32_t type = vm_optint32(L, 3, MEMTYPE_INTEGER);
  if (type == MEMTYPE_STRING) {
    int64_t length;
    if (uint32_t code = Int64Arg(L, 4, 0, ERR_WRONGUSAGE, &length)) return code;
    if (length < 0) return ERR_WRONGUSAGE;
    if (length > 0) {
      if (!MemRangeFits(offset, length, b->size)) return ERR_MEMRANGE;
      vm_pushlstring(L, reinterpret_cast<const char *>(b->buffer + offset), size_t(length));
      return 1;
    }
    if (offset >= b->size) return ERR_MEMRANGE;
    size_t n = PrintableTextLength(b->buffer + offset, size_t(b->size - offset));
    vm_pushlstring(L, reinterpret_cast<const char *>(b->buffer + offset), n);
    return 1;
  }
  int unit = UnitOf(type);
  if (!unit) return ERR_WRONGUSAGE;
  if (!MemRangeFits(offset, unit, b->size)) return ERR_MEMRANGE;
  vm_pushnumber(L, GetBigEndian(b->buffer + offset, unit));
  return 1;
}

uint32_t MemFillMem(VmState *L) {
  CheckArgCount(L, 3, 5);
  uint32_t value = vm_checkinteger(L, 2);
  int64_t count;
  if (uint32_t code = Int64Arg(L, 3, 0, ERR_MEMRANGE, &count)) return code;
  if (count < 1) return 0;
  int64_t offset;
  if (uint32_t code = Int64Arg(L, 4, 0, ERR_MEMRANGE, &offset)) return code;
  if (offset < 0) return ERR_MEMRANGE;
  qmMemBlock *b;
  if (uint32_t code = GetObjectArg(L, 1, QMTYPE_MEMORY, ERR_FINDMEMBLK, &b)) return code;
  int unit = UnitOf(vm_optint32(L, 5, MEMTYPE_BYTE));
  if (!unit) return ERR_WRONGUSAGE;
  if (!MemRangeFits(offset, count, b->size)) return ERR_MEMRANGE;
  if (offset % unit || count % unit) return ERR_WRONGUSAGE;
  FillBigEndian(b->buffer + offset, count, value, unit);
  return 0;
}

uint32_t MemCopyMem(VmState *L) {
  CheckArgCount(L, 3, 5);
  int64_t count;
  if (uint32_t code = Int64Arg(L, 3, 0, ERR_MEMRANGE, &count)) return code;
  if (count < 1) return 0;
  int64_t fromOffset, toOffset;
  if (uint32_t code = Int64Arg(L, 4, 0, ERR_MEMRANGE, &fromOffset)) return code;
  if (uint32_t code = Int64Arg(L, 5, 0, ERR_MEMRANGE, &toOffset)) return code;
  if (fromOffset < 0 || toOffset < 0) return ERR_MEMRANGE;
  qmObjectId from = GetObjectIdArg(L, 1), to = GetObjectIdArg(L, 2);
  if (from.id == to.id && from.handle == to.handle) return ERR_WRONGUSAGE;
  qmMemBlock *source, *target;
  if (uint32_t code = FindMemBlock(L, &from, &source)) return code;
  if (uint32_t code = FindMemBlock(L, &to, &target)) return code;
  if (!MemRangeFits(fromOffset, count, source->size) || !MemRangeFits(toOffset, count, target->size))
    return ERR_MEMRANGE;
  std::memcpy(target->buffer + toOffset, source->buffer + fromOffset, size_t(count));
  return 0;
}

uint32_t MemReadMem(VmState *L) {
  CheckArgCount(L, 3, 4);
  int64_t count;
  if (uint32_t code = Int64Arg(L, 3, 0, ERR_MEMRANGE, &count)) return code;
  if (count < 1) return 0;
  int64_t offset;
  if (uint32_t code = Int64Arg(L, 4, 0, ERR_WRONGUSAGE, &offset)) return code;
  if (offset < 0) return ERR_WRONGUSAGE;
  qmFileObject *f;
  if (uint32_t code = GetObjectArg(L, 1, QMTYPE_FILE, ERR_FINDFILE, &f)) return code;
  qmMemBlock *b;
  if (uint32_t code = GetObjectArg(L, 2, QMTYPE_MEMORY, ERR_FINDMEMBLK, &b)) return code;
  if (f->access == FILE_MODE_WRITE) return ERR_WRITEONLY;
  if (!MemRangeFits(offset, count, b->size)) return ERR_MEMRANGE;
  uint64_t got = FileRead(f->file, b->buffer + offset, uint64_t(count));
  f->position += got;
  if (f->position > f->size) f->size = f->position;  // the file grew since it was opened
  return got < uint64_t(count) ? uint32_t(ERR_READ) : 0;
}

uint32_t MemWriteMem(VmState *L) {
  CheckArgCount(L, 3, 4);
  int64_t count;
  if (uint32_t code = Int64Arg(L, 3, 0, ERR_MEMRANGE, &count)) return code;
  if (count < 1) return 0;
  int64_t offset;
  if (uint32_t code = Int64Arg(L, 4, 0, ERR_WRONGUSAGE, &offset)) return code;
  if (offset < 0) return ERR_WRONGUSAGE;
  qmMemBlock *b;
  if (uint32_t code = GetObjectArg(L, 2, QMTYPE_MEMORY, ERR_FINDMEMBLK, &b)) return code;
  qmFileObject *f;
  if (uint32_t code = GetObjectArg(L, 1, QMTYPE_FILE, ERR_FINDFILE, &f)) return code;
  if (f->access == FILE_MODE_READ) return ERR_READONLY;
  if (!MemRangeFits(offset, count, b->size)) return ERR_MEMRANGE;
  return WriteFileObject(f, f->file, b->buffer + offset, 1, uint64_t(count));
}

uint32_t MemDumpMem(VmState *L) {
  CheckArgCount(L, 1, 3);
  int64_t length;
  if (uint32_t code = Int64Arg(L, 2, 0, ERR_MEMRANGE, &length)) return code;
  int64_t offset;
  if (uint32_t code = Int64Arg(L, 3, 0, ERR_WRONGUSAGE, &offset)) return code;
  if (offset < 0) return ERR_WRONGUSAGE;
  qmMemBlock *b;
  if (uint32_t code = GetObjectArg(L, 1, QMTYPE_MEMORY, ERR_FINDMEMBLK, &b)) return code;
  if (length < 1) length = b->size;
  if (!MemRangeFits(offset, length, b->size)) return ERR_MEMRANGE;
  std::string text = FormatMemDump(b->buffer + offset, size_t(length), uint64_t(offset));
  DebugPrintf("%s", text.c_str());
  return 0;
}

const qmCommandEntry kMemblockCommands[] = {
    {"AllocMem", MemAllocMem}, {"FreeMem", MemFreeMem}, {"Poke", MemPoke},
    {"Peek", MemPeek},         {"FillMem", MemFillMem}, {"CopyMem", MemCopyMem},
    {"ReadMem", MemReadMem},   {"WriteMem", MemWriteMem}, {"DumpMem", MemDumpMem},
    {nullptr, nullptr},
};

void FreeMemblockLibrary(VmState *L) {
  if (L) FreeAllMemBlocks(L);
}

}  // namespace

const qmLibrary kMemblockLibrary = {"memblock", kMemblockCommands, nullptr, nullptr, FreeMemblockLibrary,
                                    FREERANK_MEMBLOCK};
