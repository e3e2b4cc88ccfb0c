// Interned strings, user data, string-to-number and chunk display names.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "runtime/vm/vm_object.h"

// The longest string the VM makes: a longer one, and any command result the script could make
// longer, is ERR_MEM.
constexpr size_t VM_MAXSTRLEN = 0x7FFFFFFF;

// Raises ERR_MEM above VM_MAXSTRLEN bytes.
VmString *vm_newlstr(VmState *L, const char *str, size_t l);
inline VmString *vm_newstr(VmState *L, const char *s) { return vm_newlstr(L, s, std::strlen(s)); }
// Resizes the string table to newsize buckets (a power of two).
void vm_resizestrtab(VmState *L, int newsize);
inline size_t vm_sizestring(size_t len) { return sizeof(VmString) + len + 1; }

VmUserdata *vm_newudata(VmState *L, size_t size);
inline size_t vm_sizeudata(size_t len) { return sizeof(VmUserdata) + len; }

// 1 and the number when the whole text is one ("$"/"0x" hexadecimal as unsigned 32-bit,
// else decimal, then only white space), else 0.
int vm_str2number(const char *s, double *result);
void vm_chunkid(char *out, const char *source, size_t bufflen);
int vm_log2(uint32_t x);
