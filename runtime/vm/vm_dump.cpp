// The chunk writer: the exact inverse of the loader, always in little-endian order.
#include <bit>
#include <initializer_list>
#include <cstring>

#include "runtime/errcodes.h"
#include "runtime/vm/vm_opcodes.h"
#include "runtime/vm/vm_undump.h"

static_assert(std::endian::native == std::endian::little, "the writer emits the machine's order as order byte 1");

namespace {

struct DumpState {
  VmState *L;
  VmChunkWriter writer;
  void *data;
  bool failed;
};

void dumpblock(DumpState *D, const void *b, size_t size) {
  if (D->failed) return;
  if (D->writer(D->L, b, size, D->data) == 0) D->failed = true;
}

void dumpbyte(DumpState *D, int x) {
  auto c = static_cast<unsigned char>(x);
  dumpblock(D, &c, 1);
}

void dumpint(DumpState *D, int32_t x) { dumpblock(D, &x, sizeof x); }
void dumpnumber(DumpState *D, double x) { dumpblock(D, &x, sizeof x); }

void dumpstring(DumpState *D, const VmString *s) {
  if (s == nullptr) {
    dumpint(D, 0);
    return;
  }
  dumpint(D, static_cast<int32_t>(s->len + 1));
  dumpblock(D, s->data(), s->len + 1);
}

void dumpfunction(DumpState *D, const VmProto *f, const VmString *parentsource) {
  dumpstring(D, f->source == parentsource ? nullptr : f->source);
  dumpint(D, f->lineDefined);
  dumpbyte(D, f->nups);
  dumpbyte(D, f->numparams);
  dumpbyte(D, f->is_vararg);
  dumpbyte(D, f->maxstacksize);
  dumpint(D, f->sizelineinfo);
  dumpblock(D, f->lineinfo, sizeof(int32_t) * static_cast<size_t>(f->sizelineinfo));
  dumpint(D, f->sizelocvars);
  for (int i = 0; i < f->sizelocvars; i++) {
    dumpstring(D, f->locvars[i].varname);
    dumpint(D, f->locvars[i].startpc);
    dumpint(D, f->locvars[i].endpc);
  }
  dumpint(D, f->sizeupvalues);
  for (int i = 0; i < f->sizeupvalues; i++) dumpstring(D, f->upvalues[i]);
  dumpint(D, f->sizek);
  for (int i = 0; i < f->sizek; i++) {
    const VmValue *o = &f->k[i];
    dumpbyte(D, o->tt);
    if (o->tt == VM_TNUMBER) dumpnumber(D, o->v.n);
    else if (o->tt == VM_TSTRING) dumpstring(D, vm_svalue(o));
  }
  dumpint(D, f->sizep);
  for (int i = 0; i < f->sizep; i++) dumpfunction(D, f->p[i], f->source);
  dumpint(D, f->sizecode);
  dumpblock(D, f->code, sizeof(VmInstruction) * static_cast<size_t>(f->sizecode));
}

void dumpheader(DumpState *D) {
  dumpblock(D, "\x1bQMB", 4);
  dumpbyte(D, 1);
  for (int size : {4, 4, 4, 6, 8, 9, 9, 8}) dumpbyte(D, size);
  dumpnumber(D, VM_TESTNUMBER);
}

}  // namespace

unsigned vm_dumpproto(VmState *L, const VmProto *f, VmChunkWriter w, void *data) {
  DumpState D{L, w, data, false};
  dumpheader(&D);
  dumpfunction(&D, f, nullptr);
  return D.failed ? static_cast<unsigned>(ERR_WRITE) : 0u;
}
