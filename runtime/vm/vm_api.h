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
// The longest string the VM makes: a longer one, and any command result the script could make
// longer, is ERR_MEM.
constexpr size_t VM_MAXSTRLEN = 0x7FFFFFFF;
// Results of a native function at or above this are Gosub requests, not error codes.
constexpr uint32_t VM_GOSUB_REQUEST2 = 4294967294u;  // resume two instructions before the call's successor
constexpr uint32_t VM_GOSUB_REQUEST = 4294967295u;   // resume after the call
inline bool vm_iserrorcode(uint32_t r) { return r >= 1000 && r < VM_GOSUB_REQUEST2; }

// A chunk reader hands out blocks of bytes; a null block or size 0 ends the chunk.
typedef const char *(*VmChunkReader)(VmState *L, void *ud, size_t *size);
// A chunk writer receives each item of a dumped chunk; a result of 0 stops the dump
// with ERR_WRITE (the bytes could not be stored).
typedef int (*VmChunkWriter)(VmState *L, const void *p, size_t size, void *ud);

// ---- state ----
VmState *vm_open();
void vm_close(VmState *L);
VmState *vm_newthread(VmState *L);

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
const void *vm_topointer(VmState *L, int idx);
// 1 and the number when the whole text is one ("$"/"0x" hexadecimal as unsigned 32-bit, else
// decimal, then only white space), else 0.
int vm_str2number(const char *s, double *result);

// ---- pushing ----
void vm_pushnil(VmState *L);
void vm_pushnumber(VmState *L, double n);
void vm_pushlstring(VmState *L, const char *s, size_t len);
void vm_pushstring(VmState *L, const char *s);
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
// The n-th upvalue of the closure at funcindex: its name (pushing its value), or nullptr;
// vm_setupvalue pops the new value into it.
const char *vm_getupvalue(VmState *L, int funcindex, int n);
const char *vm_setupvalue(VmState *L, int funcindex, int n);

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

// ---- failing, ending, calling back ----
// The one way a command fails: its handler sets the error argument and returns the code. The
// VM then runs the RaiseOnError handler (when one is installed, outside callbacks), and raises
// the code while ExitOnError is on, or records it for GetLastError and lets the script go on
// without the command's results. A handler never raises its own failures.
uint32_t vm_getlasterror(VmState *L);
int vm_getexitonerror(VmState *L);
void vm_setexitonerror(VmState *L, int on);
// The place the report names: the failing function ("----" for none) and the line (-1 for
// unknown) of the last error; a null name or source leaves that part as it is.
int32_t vm_geterrorline(VmState *L);
void vm_seterrorplace(VmState *L, int32_t line, const char *funcname, const char *sourcename);
// Forgets the place: no function, line -1.
void vm_clearerrorplace(VmState *L);
// Runs work(ud) and puts the whole error state (code, place, argument) back afterwards, so that
// failures inside it cannot replace an earlier error's report.
void vm_keeperrorstate(VmState *L, void (*work)(void *ud), void *ud);

// EndRequested: while set, the interpreter stops before its next instruction (End, a quit
// request, an error that ends the script). Long commands test it and give up with
// ERR_USERABORT.
int vm_endrequested(VmState *L);
void vm_setendrequested(VmState *L, int on);
// Runs the periodic check (the player's event pump) now, as the interpreter would between
// instructions; long commands call it so that a quit request reaches them.
void vm_runperiodiccheck(VmState *L);
// Installs the periodic check (null: none), run once every `every` loop edges and calls.
void vm_setperiodiccheck(VmState *L, void (*check)(VmState *L), int32_t every);
// Switches the call trace (DebugOutput): every call prints its name and arguments.
void vm_setcalltrace(VmState *L, int on);
// Where the call trace goes, and the one native whose call keeps the last error code
// (GetLastError); null removes either.
void vm_setdebugprint(VmState *L, void (*print)(VmState *L, const char *text));
void vm_setlasterrorreader(VmState *L, VmCFunction f);
// The last error reader and debug output installed, for a library to take back only its own.
VmCFunction vm_getlasterrorreader(VmState *L);
void (*vm_getdebugprint(VmState *L))(VmState *L, const char *text);

// A call that native code makes on its own account (a sort comparator, an event callback, the
// script's error handler): vm_call with the callback depth raised, so that an error inside it
// is raised to the calling command instead of ending the script on the spot.
uint32_t vm_callback(VmState *L, int nargs, int nresults);
// The same under protection (vm_pcall without an error function).
uint32_t vm_pcallback(VmState *L, int nargs, int nresults);
// > 0 while such a call runs.
uint32_t vm_callbackdepth(VmState *L);
// A command's Gosub request: the jump target, an instruction index of the calling script
// function, for the VM_GOSUB_REQUEST the command then returns.
void vm_setgosubtarget(VmState *L, int32_t index);

// Unwinds to the innermost protected call with the code (vm_raise first records the error
// place). For the argument readers and the plug-in host table, whose contract is to raise; a
// command's own failure is returned from its handler instead.
[[noreturn]] void vm_throw(VmState *L, uint32_t code);
[[noreturn]] void vm_raise(VmState *L, uint32_t code);

// Runs f(L, ud) under protection; on an error the stack is cut back to the current top and the
// code returned. Memory that runs out inside f (std::bad_alloc) gives ERR_MEM.
uint32_t vm_runprotected(VmState *L, void (*f)(VmState *L, void *ud), void *ud);
// Runs every pending finaliser of the main thread now, as closing the state would.
void vm_runfinalisers(VmState *L);
// The source name of a script function's prototype, or nullptr.
const char *vm_protosource(const VmProto *p);

// ---- convenience ----
inline void vm_register(VmState *L, const char *name, VmCFunction f) {
  vm_pushstring(L, name);
  vm_pushcfunction(L, f);
  vm_settable(L, VM_GLOBALSINDEX);
}
inline bool vm_isnoneornil(VmState *L, int idx) { return vm_type(L, idx) <= VM_TNIL; }
