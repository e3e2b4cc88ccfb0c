// The native-function interface: how host code and every script command drive the VM.
//
// Indices: 1..n are the running function's slots, -1..-9999 count down from the top,
// VM_REGISTRYINDEX the registry, VM_GLOBALSINDEX the globals, vm_upvalueindex(i) the
// upvalues of the running native closure.
#pragma once
#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "runtime/vm/vm_object.h"

constexpr int VM_REGISTRYINDEX = -10000;
constexpr int VM_GLOBALSINDEX = -10001;
constexpr int vm_upvalueindex(int i) { return VM_GLOBALSINDEX - i; }
constexpr int VM_MULTRET = -1;
constexpr int VM_MAXCSTACK = 2048;  // values per native frame

// A chunk reader hands out blocks of bytes; a null block or size 0 ends the chunk.
typedef const char *(*VmChunkReader)(VmState *L, void *ud, size_t *size);
// A chunk writer receives each item of a dumped chunk; a result of 0 stops the dump
// with ERR_WRITE (the bytes could not be stored).
typedef int (*VmChunkWriter)(VmState *L, const void *p, size_t size, void *ud);

// ---- state ----
VmState *vm_open();
void vm_close(VmState *L);
VmState *vm_newthread(VmState *L);
VmCFunction vm_atpanic(VmState *L, VmCFunction panicf);

// ---- stack ----
int vm_checkstack(VmState *L, int n);
int vm_gettop(VmState *L);
void vm_settop(VmState *L, int idx);
inline void vm_pop(VmState *L, int n) { vm_settop(L, -n - 1); }
void vm_remove(VmState *L, int idx);
void vm_insert(VmState *L, int idx);
void vm_replace(VmState *L, int idx);
void vm_pushvalue(VmState *L, int idx);
void vm_xmove(VmState *from, VmState *to, int n);

// ---- queries ----
int vm_type(VmState *L, int idx);
int vm_isnumber(VmState *L, int idx);
int vm_isstring(VmState *L, int idx);
int vm_iscfunction(VmState *L, int idx);
int vm_isuserdata(VmState *L, int idx);
inline bool vm_isnoneornil(VmState *L, int idx);
int vm_rawequal(VmState *L, int idx1, int idx2);
int vm_equal(VmState *L, int idx1, int idx2);
int vm_lessthan(VmState *L, int idx1, int idx2, int casesensitive);
double vm_tonumber(VmState *L, int idx);
int vm_toboolean(VmState *L, int idx);
const char *vm_tostring(VmState *L, int idx);
size_t vm_strlen(VmState *L, int idx);
VmCFunction vm_tocfunction(VmState *L, int idx);
void *vm_touserdata(VmState *L, int idx);
VmState *vm_tothread(VmState *L, int idx);
const void *vm_topointer(VmState *L, int idx);

// ---- pushing ----
void vm_pushnil(VmState *L);
void vm_pushnumber(VmState *L, double n);
void vm_pushlstring(VmState *L, const char *s, size_t len);
void vm_pushstring(VmState *L, const char *s);
void vm_pushstring_raw(VmState *L, const char *s);
const char *vm_pushvfstring(VmState *L, const char *fmt, va_list argp);
const char *vm_pushfstring(VmState *L, const char *fmt, ...);
void vm_pushcclosure(VmState *L, VmCFunction fn, int n);
inline void vm_pushcfunction(VmState *L, VmCFunction fn) { vm_pushcclosure(L, fn, 0); }
void vm_pushboolean(VmState *L, int b);
void vm_pushlightuserdata(VmState *L, void *p);
void vm_newtable(VmState *L);
void vm_newtable_nogc(VmState *L);
void *vm_newuserdata(VmState *L, size_t size);
int vm_pushupvalues(VmState *L);

// ---- strings filled in place ----
// For a long result read straight into its string: vm_openstring hands out len bytes (and room
// for the final 0) that nothing else sees, or nullptr, raising nothing, above VM_MAXSTRLEN or
// when memory is short. vm_pushopenstring interns the first len bytes (len at most the length
// asked for) and pushes the string; the bytes are no longer the caller's, and may have been
// freed for an equal string. vm_freeopenstring gives back bytes that are not to be pushed.
// vm_resizeopenstring makes them len bytes long, keeping what they hold, and returns where they
// are now; nullptr, raising nothing and leaving them as they were, when they cannot grow.
char *vm_openstring(VmState *L, size_t len);
char *vm_resizeopenstring(VmState *L, char *data, size_t len);
void vm_pushopenstring(VmState *L, char *data, size_t len);
void vm_freeopenstring(VmState *L, char *data);

// ---- tables and metatables ----
void vm_gettable(VmState *L, int idx);
void vm_rawget(VmState *L, int idx);
void vm_rawgeti(VmState *L, int idx, int n);
void vm_settable(VmState *L, int idx);
void vm_rawset(VmState *L, int idx);
void vm_rawseti(VmState *L, int idx, int n);
int vm_getmetatable(VmState *L, int objindex);
int vm_setmetatable(VmState *L, int objindex);
void vm_getfenv(VmState *L, int idx);
int vm_setfenv(VmState *L, int idx);
int vm_next(VmState *L, int idx);
// The traversal step as a native, (t, k) -> the next key and value, or nil after the last:
// the system library's NextItem and the iterator of a generic for over a table.
uint32_t vm_nextitem(VmState *L);
void vm_concat(VmState *L, int n);

// ---- calls and chunks ----
uint32_t vm_call(VmState *L, int nargs, int nresults);
uint32_t vm_pcall(VmState *L, int nargs, int nresults, int errfunc);
uint32_t vm_cpcall(VmState *L, VmCFunction func, void *ud);
// Reads a chunk under protection and pushes its main function; returns 0 or the
// error code (nothing is pushed then). A null chunk name becomes "?".
uint32_t vm_load(VmState *L, VmChunkReader reader, void *ud, const char *chunkname);
// Loads a chunk held in memory; the same as vm_load with a one-block reader.
uint32_t vm_loadbuffer(VmState *L, const char *buf, size_t size, const char *chunkname);
// Writes the script function at idx as a chunk: 0, ERR_NOQMFUNC for a native
// function (nothing written), ERR_WRITE when the writer refused an item.
uint32_t vm_dump(VmState *L, int idx, VmChunkWriter writer, void *ud);
// The prototype of the script function at idx, or nullptr.
VmProto *vm_toproto(VmState *L, int idx);

// ---- collector ----
int vm_getgcthreshold(VmState *L);
int vm_getgccount(VmState *L);
void vm_setgcthreshold(VmState *L, int newthreshold);

// ---- convenience ----
inline void vm_register(VmState *L, const char *name, VmCFunction f) {
  vm_pushstring(L, name);
  vm_pushcfunction(L, f);
  vm_settable(L, VM_GLOBALSINDEX);
}
inline bool vm_isnoneornil(VmState *L, int idx) { return vm_type(L, idx) <= VM_TNIL; }
