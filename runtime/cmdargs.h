// The script's view of a command: the handler contract, the argument-count check and the
// readers that check and convert arguments. A reader that fails stores the argument position
// (or the table key) as the error argument and raises the code; it never returns then.
//
// A handler returns 0..999 (the number of results it pushed), an error code from 1000 (after
// setting the error argument), or a Gosub request (VM_GOSUB_REQUEST, VM_GOSUB_REQUEST2).
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/objlist.h"  // MissingObjectError, qmObjectId
#include "runtime/vm/vm_number.h"

struct VmState;


// n arguments: both 0 and n >= 1 raises ERR_TOOMANYARGS; n < min raises ERR_MISSINGPARAMTR;
// n > max while max >= 1 raises ERR_TOOMANYARGS. max 0 with a non-zero min, or a negative
// max, sets no upper bound: handlers write VM_ANYARGS for it.
VmState *CheckArgCount(VmState *L, int min, int max);
inline constexpr int VM_ANYARGS = -1;

double vm_checknumber(VmState *L, int i);
double vm_optnumber(VmState *L, int i, double def);
// An int32 argument: truncated toward zero; NaN and numbers outside the signed 32-bit range
// raise ERR_NUMEXPECTED with the argument's position.
int32_t vm_checkint32(VmState *L, int i);
int32_t vm_optint32(VmState *L, int i, int32_t def);
// A 32-bit word for the math and string commands, whose results for every number are defined by
// the VM's own conversion (NaN and numbers outside the signed range give -2^31), as the script's
// bit operators convert.
int32_t vm_checkword32(VmState *L, int i);
int32_t vm_optword32(VmState *L, int i, int32_t def);
uint32_t vm_checkuword32(VmState *L, int i);  // the unsigned reading of the VM's conversion
// A switch: True/False or a number (non-zero is true); absent or nil gives def.
bool vm_optflag(VmState *L, int i, bool def);
// An unsigned argument (colours, flags, ids): see NumberToUInt32.
uint32_t vm_checkinteger(VmState *L, int i);
uint32_t vm_optinteger(VmState *L, int i, uint32_t def);
const char *vm_checkstring(VmState *L, int i, size_t *len);
const char *vm_optlstring(VmState *L, int i, const char *def, size_t *len);
void vm_checktable(VmState *L, int i);
int vm_checkfunction(VmState *L, int i);
int vm_checktype(VmState *L, int i, int type);
void *vm_checkudata_any(VmState *L, int i);
// The block of a full user data whose metatable is registry[typeName]; nullptr otherwise.
void *vm_checkudata(VmState *L, int i, const char *typeName);
double vm_checknumber_field(VmState *L, int i, const char *key);
uint32_t vm_checkinteger_field(VmState *L, int i, const char *key);
const char *vm_checkstring_field(VmState *L, int i, size_t *len, const char *key);
// For results of script callbacks: *code becomes ERR_NUMCALLBACK / ERR_STRCALLBACK instead of
// raising.
double vm_checknumber_code(VmState *L, int i, uint32_t *code);
const char *vm_checkstring_code(VmState *L, int i, size_t *len, uint32_t *code);

// Number conversions of the argument layer. Every integer a command takes from a script number
// comes through NumberToInt32 or NumberToUInt32 (the readers below use them, and so do handlers
// that compute with a number before they convert it, through ArgToInt32 and its kin): NaN and
// numbers out of range never reach an engine as an arbitrary integer.

// 1 and *out the number truncated toward zero when it lies in the signed 32-bit range; 0 for NaN,
// the infinities and every number outside it.
inline int NumberToInt32(double d, int32_t *out) {
  if (!(d > -2147483649.0 && d < 2147483648.0)) return 0;
  *out = static_cast<int32_t>(d);
  return 1;
}
// The unsigned reading: a negative number wraps through the signed conversion (-1 gives
// 4294967295), a number >= 0 is clamped to at most 4294967295 and truncated; NaN and numbers
// below -2^31 are refused (0).
inline int NumberToUInt32(double d, uint32_t *out) {
  if (d >= 0) {
    *out = d >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<uint32_t>(d);
    return 1;
  }
  int32_t i;
  if (!NumberToInt32(d, &i)) return 0;
  *out = static_cast<uint32_t>(i);
  return 1;
}
// The VM's own arithmetic rule (NaN and out-of-range give INT32_MIN), without a check. Commands
// take their integers through the checked forms; these remain for the few callers that have not
// moved over yet.
inline int32_t NumberToInt(double d) { return vm_toint32(d); }
inline uint32_t NumberToUInt(double d) { return vm_touint32(d); }
// The raising forms for a number already read from argument i (or the field key): NaN and
// numbers out of range raise ERR_NUMEXPECTED with i (ERR_NUMTABLEARG with the key).
int32_t ArgToInt32(VmState *L, int i, double d);
uint32_t ArgToUInt32(VmState *L, int i, double d);
int32_t FieldToInt32(VmState *L, const char *key, double d);
uint32_t FieldToUInt32(VmState *L, const char *key, double d);
// A level or volume: clamped to lo..hi and truncated; only NaN is refused.
int32_t ArgToClampedInt32(VmState *L, int i, double d, int32_t lo, int32_t hi);
int32_t FieldToClampedInt32(VmState *L, const char *key, double d, int32_t lo, int32_t hi);
// The same for positions and sizes in files and memory (see NumberToInt64).
int64_t ArgToInt64(VmState *L, int i, double d);
int64_t FieldToInt64(VmState *L, const char *key, double d);
// Positions and sizes in files and memory: 1 and *out the number truncated toward zero when it
// is finite and within the signed 64-bit range; 0 otherwise (the caller names the error).
inline int NumberToInt64(double d, int64_t *out) {
  if (!(d > -9223372036854775808.0 && d < 9223372036854775808.0)) return 0;
  *out = static_cast<int64_t>(d);
  return 1;
}

// A result whose size the script chooses is checked before it is made: 0 when base bytes and
// count pieces of each bytes fit in one script string (VM_MAXSTRLEN), else ERR_MEM.
uint32_t CheckResultLength(size_t base, size_t count, size_t each);

qmObjectId GetObjectIdArg(VmState *L, int i);
// An automatic id's handle pushed as the command's only result; gives the count of results.
uint32_t PushNewId(VmState *L, const qmObjectId &id);
// {the number (nil counts as 0), handle 1 when an automatic id is wanted (nil)}.
qmObjectId GetNewObjectIdArg(VmState *L, int i);

double GetNumberOrPercentArg(VmState *L, int i, double base, int allowAbove100, int *percent);
// Reads "n" or "n%" from text: 0 when there is no number at its start; *isPercent tells whether
// a "%" follows the number.
int ParsePercentText(const char *text, double *n, int *isPercent);

// Option-table fields: 1 with *out set (and *found = 1) when table[key] is not nil, else 0
// with *out unchanged.
int GetFieldInt(VmState *L, int t, const char *key, int32_t *out, int *found);
int GetFieldUInt(VmState *L, int t, const char *key, uint32_t *out, int *found);
int GetFieldNumber(VmState *L, int t, const char *key, double *out, int *found);
// A percentage is stored negated (-25 for "25%").
int GetFieldIntOrPercent(VmState *L, int t, const char *key, int allowAbove100, int32_t *out, int *found);
int GetFieldNumberOrPercent(VmState *L, int t, const char *key, double base, int allowAbove100, double *out,
                            int *percent, int *found);
// Copied into out (size bytes), cut to fit.
int GetFieldString(VmState *L, int t, const char *key, char *out, size_t size, int *found);
// A new allocation (MemFree) with its length; with fontFlag the text is resolved as a linked
// font or file first. Without memory it reads as absent.
int GetFieldStringDup(VmState *L, int t, const char *key, int fontFlag, int *font, char **out, size_t *len,
                      int *found);
int GetFieldObjectId(VmState *L, int t, const char *key, qmObjectId *out, int *found);
// A switch: a boolean, or a number where 0 is off.
int GetFieldFlag(VmState *L, int t, const char *key, bool *out, int *found);
// A string with every byte kept (zero bytes included): *out points into the VM's string,
// which stays alive while the table holds it; *len is its length.
int GetFieldBytes(VmState *L, int t, const char *key, const char **out, size_t *len, int *found);
int GetFieldLayerId(VmState *L, int t, const char *key, int32_t *out, int *found);
// The "images" list: *out is a new allocation (MemFree) of *count ids, or nullptr with only
// the count when out is null. Returns 1 when the field is present.
int GetFieldObjectIdList(VmState *L, int t, const char *key, qmObjectId **out, uint32_t *count, int *found);
int GetFieldMatrix(VmState *L, int t, const char *key, double out[4], int *found);

// Writers into the table on the stack top.
void SetFieldInt(VmState *L, const char *key, int32_t value);
void SetFieldNumber(VmState *L, const char *key, double value);
void SetFieldString(VmState *L, const char *key, const char *value);
void SetFieldObjectId(VmState *L, const char *key, const qmObjectId *id);

// "#NAME": 0 with the constant's text (*string) or number, or ERR_WRONGUSAGE (no "#"),
// ERR_SYNTAXERROR (bad first character) or ERR_FINDCST.
uint32_t ParseConstantRef(VmState *L, const char *text, size_t *consumed, const char **string, double *number);

// Argument kinds of CallScriptFunction.
enum : int32_t {
  CALLARG_INT = 0,       // int32_t
  CALLARG_UINT = 1,      // uint32_t
  CALLARG_STRING = 2,    // const char *
  CALLARG_NIL = 3,       // no value follows
  CALLARG_POINTER = 4,   // void *, as light user data
  CALLARG_OBJECTID = 5,  // const qmObjectId *
};
// Calls the global function of the lower-cased name with the arguments given as (kind, value)
// pairs; returns vm_call's result, or 0 for a null state.
uint32_t CallScriptFunction(VmState *L, const char *name, int results, int nargs, ...);

// The object that id argument i names, found in the list of its type: 0 with *out set (and
// *id, when given, the id read), or the missing-object error with *out null. A missing object
// raises nothing: the handler returns the code, so ExitOnError and RaiseOnError apply.
uint32_t GetObjectArg(VmState *L, int i, uint32_t type, uint32_t notFoundCode, qmObjectHeader **out,
                      qmObjectId *id = nullptr);
// The same for a record that begins with its qmObjectHeader `header`.
template <typename T>
uint32_t GetObjectArg(VmState *L, int i, uint32_t type, uint32_t notFoundCode, T **out, qmObjectId *id = nullptr) {
  qmObjectHeader *h = nullptr;
  uint32_t code = GetObjectArg(L, i, type, notFoundCode, &h, id);
  *out = reinterpret_cast<T *>(h);
  static_assert(offsetof(T, header) == 0, "an object record begins with its header");
  return code;
}
