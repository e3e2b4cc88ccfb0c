// Auxiliary services of the native interface: registry values by name, metatables by name,
// references, table sizes and string buffers.
#pragma once
#include <cstddef>
#include <cstdint>

struct VmState;

// A stack index that stays valid while values are pushed; pseudo-indices stay as they are.
int vm_absindex(VmState *L, int i);

void *vm_registry_getudata(VmState *L, const char *name);  // full or light user data; else nullptr
const char *vm_registry_getstring(VmState *L, const char *name);
double vm_registry_getnumber(VmState *L, const char *name);
void vm_registry_setlightudata(VmState *L, const char *name, void *p);
void vm_registry_setstring(VmState *L, const char *name, const char *text);
void vm_registry_setnumber(VmState *L, const char *name, double n);

// Pushes the field of the value's metatable and returns 1, or returns 0 with nothing pushed.
int vm_getmetafield(VmState *L, int i, const char *event);
// Calls that field with the value, one result; 0 when there is none.
int vm_callmeta(VmState *L, int i, const char *event);
// registry[name] = new table and registry[table] = name, 1; 0 when the name exists (the
// existing table is pushed either way).
int vm_newmetatable(VmState *L, const char *name);
void vm_getmetatable_byname(VmState *L, const char *name);
// The index of text in a null-terminated list, or -1.
int vm_findstring(const char *text, const char *const list[]);

inline constexpr int VM_NOREF = -2;
inline constexpr int VM_REFNIL = -1;
// Pops the top value into a new reference of the table at t (nil gives VM_REFNIL).
int vm_ref(VmState *L, int t);
void vm_unref(VmState *L, int t, int ref);
// Pushes the referenced value of the registry.
void vm_getref(VmState *L, int ref);

int vm_getn(VmState *L, int t);
void vm_setn(VmState *L, int t, int n);

inline constexpr size_t VM_BUFFERSIZE = 1024;
struct VmBuffer_ {
  char *p;      // write position in buffer
  int level;    // pieces pushed on the stack
  VmState *L;
  char buffer[VM_BUFFERSIZE];
};
using VmStrBuffer = VmBuffer_;
void vm_buffinit(VmState *L, VmStrBuffer *B);
char *vm_prepbuffer(VmStrBuffer *B);
inline void vm_addsize(VmStrBuffer *B, size_t n) { B->p += n; }
void vm_addchar(VmStrBuffer *B, char c);
void vm_addlstring(VmStrBuffer *B, const char *s, size_t l);
void vm_addstring(VmStrBuffer *B, const char *s);
// Adds the string or number on the stack top and pops it.
void vm_addvalue(VmStrBuffer *B);
void vm_pushresult(VmStrBuffer *B);
