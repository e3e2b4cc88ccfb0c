// Interned strings, user data, string-to-number and chunk display names.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "runtime/vm/vm_api.h"
#include "runtime/vm/vm_object.h"


// Raises ERR_MEM above VM_MAXSTRLEN bytes.
VmString *vm_newlstr(VmState *L, const char *str, size_t l);
inline VmString *vm_newstr(VmState *L, const char *s) { return vm_newlstr(L, s, std::strlen(s)); }
// A string filled in place: vm_newopenstr makes l bytes that belong to the caller alone,
// outside the string table and unseen by the collector (nullptr, nothing raised, above
// VM_MAXSTRLEN or when memory is short). Once filled, vm_internopenstr keeps its first l bytes
// (at most its length) and returns the interned string: the same block, or an equal string
// that already existed, the open one being freed. A string never interned is given back with
// vm_freeopenstr. Interning is by content, so nothing may change the bytes afterwards.
VmString *vm_newopenstr(VmState *L, size_t l);
VmString *vm_internopenstr(VmState *L, VmString *ts, size_t l);
// Makes an open string l bytes long, keeping its first bytes; the block may move. nullptr,
// nothing raised and the string unchanged, above VM_MAXSTRLEN or when memory is short.
VmString *vm_resizeopenstr(VmState *L, VmString *ts, size_t l);
void vm_freeopenstr(VmState *L, VmString *ts);
// Resizes the string table to newsize buckets (a power of two).
void vm_resizestrtab(VmState *L, int newsize);
inline size_t vm_sizestring(size_t len) { return sizeof(VmString) + len + 1; }

// Copies n bytes; a short text (most pieces a script joins: names, numbers, separators) by
// two overlapping moves of a fixed width, without a call into the library.
inline void vm_copytext(char *to, const char *from, size_t n) {
  if (n > 16) {
    std::memcpy(to, from, n);
  } else if (n >= 8) {
    uint64_t head, tail;
    std::memcpy(&head, from, 8);
    std::memcpy(&tail, from + n - 8, 8);
    std::memcpy(to, &head, 8);
    std::memcpy(to + n - 8, &tail, 8);
  } else if (n >= 4) {
    uint32_t head, tail;
    std::memcpy(&head, from, 4);
    std::memcpy(&tail, from + n - 4, 4);
    std::memcpy(to, &head, 4);
    std::memcpy(to + n - 4, &tail, 4);
  } else if (n > 0) {
    to[0] = from[0];
    to[n / 2] = from[n / 2];
    to[n - 1] = from[n - 1];
  }
}

VmUserdata *vm_newudata(VmState *L, size_t size);
inline size_t vm_sizeudata(size_t len) { return sizeof(VmUserdata) + len; }

// 1 and the number when the whole text is one ("$"/"0x" hexadecimal as unsigned 32-bit,
// else decimal, then only white space), else 0.
int vm_str2number(const char *s, double *result);
void vm_chunkid(char *out, const char *source, size_t bufflen);
int vm_log2(uint32_t x);
