#include "runtime/vm/vm_api.h"

#include "runtime/errcodes.h"
#include "runtime/vm/vm_state.h"
#include "runtime/vm/vm_undump.h"

namespace {

// Stack slot of a positive or negative index, or nullptr when it names no value.
VmValue *index2adr(VmState *L, int idx) {
  if (idx > 0) {
    VmValue *o = L->base + (idx - 1);
    return o < L->top ? o : nullptr;
  }
  if (idx < 0 && -idx <= L->top - L->base) return L->top + idx;
  return nullptr;
}

struct BufferReader {
  const char *buf;
  size_t size;
};

const char *read_buffer(VmState *, void *ud, size_t *size) {
  auto *r = static_cast<BufferReader *>(ud);
  if (r->size == 0) return nullptr;
  *size = r->size;
  r->size = 0;
  return r->buf;
}

}  // namespace

int vm_gettop(VmState *L) { return static_cast<int>(L->top - L->base); }

void vm_settop(VmState *L, int idx) {
  if (idx >= 0) {
    while (L->top < L->base + idx) vm_setnil(L->top++);
    L->top = L->base + idx;
  } else {
    L->top += idx + 1;
  }
}

int vm_type(VmState *L, int idx) {
  VmValue *o = index2adr(L, idx);
  return o ? o->tt : VM_TNONE;
}

uint32_t vm_load(VmState *L, VmChunkReader reader, void *ud, const char *chunkname) {
  VmReader z;
  vm_zinit(&z, reader, ud, chunkname ? chunkname : "?");
  return vm_protectedparser(L, &z, 1);
}

uint32_t vm_loadbuffer(VmState *L, const char *buf, size_t size, const char *chunkname) {
  BufferReader r{buf, size};
  return vm_load(L, read_buffer, &r, chunkname);
}

VmProto *vm_toproto(VmState *L, int idx) {
  VmValue *o = index2adr(L, idx);
  if (!o || !vm_isfunction(o) || vm_clvalue(o)->isC) return nullptr;
  return vm_clvalue(o)->p;
}

uint32_t vm_dump(VmState *L, int idx, VmChunkWriter writer, void *ud) {
  VmProto *f = vm_toproto(L, idx);
  if (!f) return ERR_NOQMFUNC;
  return vm_dumpproto(L, f, writer, ud);
}
