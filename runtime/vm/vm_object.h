// Tagged values and the collectable objects of the script VM.
#pragma once
#include <cstddef>
#include <cstdint>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Value tags. 9 and 10 appear only on collectable objects, never in a value;
// -1 marks a dead table key and the answer for an index that names no value.
enum : int32_t {
  VM_TNONE = -1,
  VM_TNIL = 0,
  VM_TBOOLEAN = 1,
  VM_TLIGHTUSERDATA = 2,
  VM_TNUMBER = 3,
  VM_TSTRING = 4,
  VM_TTABLE = 5,
  VM_TFUNCTION = 6,
  VM_TUSERDATA = 7,
  VM_TTHREAD = 8,
  VM_TPROTO = 9,
  VM_TUPVAL = 10,
};

// Collector flag bits of the header's `marked` byte.
enum : uint8_t {
  VM_MARKED = 1 << 0,    // reached in the current collection
  VM_FINALIZE = 1 << 1,  // user data: finaliser not yet run
  VM_WEAKKEY = 1 << 1,   // tables: weak keys
  VM_WEAKVALUE = 1 << 2, // tables: weak values
  VM_FIXED = 1 << 4,     // never collected
};

// Header of every collectable object: next in its collector list, tag, flags.
struct VmGCObject {
  VmGCObject *next;
  uint8_t tt;
  uint8_t marked;
};

struct VmValue {
  int32_t tt;
  union {
    VmGCObject *gc;
    void *p;
    double n;
    int32_t b;
  } v;
};

struct VmState;
struct VmTable;
struct VmOp;
typedef uint32_t (*VmCFunction)(VmState *L);

// Interned, immutable; the bytes and a terminating zero follow the record.
struct VmString : VmGCObject {
  uint8_t reserved;
  uint32_t hash;
  uint32_t len;
  char *data() { return reinterpret_cast<char *>(this + 1); }
  const char *data() const { return reinterpret_cast<const char *>(this + 1); }
};

// A block the host uses freely follows the record.
struct VmUserdata : VmGCObject {
  VmTable *metatable;
  uint32_t len;
  void *block() { return reinterpret_cast<char *>(this) + sizeof(VmUserdata); }
};

struct VmLocVar {
  VmString *varname;
  int32_t startpc;  // first instruction where active
  int32_t endpc;    // first instruction where dead
};

// A loaded function prototype.
struct VmProto : VmGCObject {
  VmValue *k;
  uint32_t *code;
  VmOp *ops;  // the interpreter's decoded `code`, same length
  VmProto **p;
  int32_t *lineinfo;
  VmLocVar *locvars;
  VmString **upvalues;
  VmString *source;
  int32_t sizeupvalues;
  int32_t sizek;
  int32_t sizecode;
  int32_t sizelineinfo;
  int32_t sizep;
  int32_t sizelocvars;
  int32_t lineDefined;
  VmGCObject *gclist;
  uint8_t nups;
  uint8_t numparams;
  uint8_t is_vararg;
  uint8_t maxstacksize;
};

// An upvalue points into the stack while open, at its own `value` once closed.
struct VmUpvalue : VmGCObject {
  VmValue *v;
  VmValue value;
};

// Native closures carry `nupvalues` values after the record, script closures
// `nupvalues` upvalue pointers.
struct VmClosure : VmGCObject {
  uint8_t isC;
  uint8_t nupvalues;
  // A script closure without varargs: the bytes from its function's slot to the top of its frame
  // (1 + maxstacksize slots), which lets a call from a script set the frame up at once. 0 sends
  // every call the general way.
  uint16_t framebytes;
  VmGCObject *gclist;
  VmValue g;  // globals
  VmCFunction f;
  VmProto *p;
  // Script closure: p's decoded instructions and constants, one load nearer for a call.
  const VmOp *ops;
  const VmValue *k;
  VmValue *cupvalues() { return reinterpret_cast<VmValue *>(reinterpret_cast<char *>(this) + sizeof(VmClosure)); }
  VmUpvalue **upvals() { return reinterpret_cast<VmUpvalue **>(reinterpret_cast<char *>(this) + sizeof(VmClosure)); }
};

// ---- value access ----
inline bool vm_isnil(const VmValue *o) { return o->tt == VM_TNIL; }
inline bool vm_isnumber(const VmValue *o) { return o->tt == VM_TNUMBER; }
inline bool vm_isstring(const VmValue *o) { return o->tt == VM_TSTRING; }
inline bool vm_istable(const VmValue *o) { return o->tt == VM_TTABLE; }
inline bool vm_isfunction(const VmValue *o) { return o->tt == VM_TFUNCTION; }
inline bool vm_iscollectable(const VmValue *o) { return o->tt >= VM_TSTRING; }

inline double vm_nvalue(const VmValue *o) { return o->v.n; }
inline VmString *vm_svalue(const VmValue *o) { return static_cast<VmString *>(o->v.gc); }
inline VmTable *vm_hvalue(const VmValue *o) { return reinterpret_cast<VmTable *>(o->v.gc); }
inline VmClosure *vm_clvalue(const VmValue *o) { return static_cast<VmClosure *>(o->v.gc); }
inline VmUserdata *vm_uvalue(const VmValue *o) { return static_cast<VmUserdata *>(o->v.gc); }

inline void vm_setnil(VmValue *o) {
#if defined(__SSE2__)
  _mm_storeu_si128(reinterpret_cast<__m128i *>(o), _mm_setzero_si128());  // nil is all zero bits
#else
  o->tt = VM_TNIL;
  o->v.p = nullptr;
#endif
}
static_assert(sizeof(VmValue) == 16 && offsetof(VmValue, v) == 8, "the value setters write the tag word and the payload as one");

// One 16-byte store: a value copied soon after (a result, an argument, a table store) is read
// back by one 16-byte load, which the processor can only forward from a store as wide.
inline void vm_setnumber(VmValue *o, double x) {
#if defined(__SSE2__)
  // The low half holds the tag's bits (and zero padding), the high half the number.
  constexpr double tagbits = __builtin_bit_cast(double, uint64_t{VM_TNUMBER});
  _mm_storeu_pd(reinterpret_cast<double *>(o), _mm_set_pd(x, tagbits));
#else
  o->tt = VM_TNUMBER;
  o->v.n = x;
#endif
}
inline void vm_setboolean(VmValue *o, int b) { o->tt = VM_TBOOLEAN; o->v.p = nullptr; o->v.b = b != 0; }
inline void vm_setlightud(VmValue *o, void *p) { o->tt = VM_TLIGHTUSERDATA; o->v.p = p; }
inline void vm_setgc(VmValue *o, int32_t tt, VmGCObject *gc) { o->tt = tt; o->v.gc = gc; }
inline void vm_setstring(VmValue *o, VmString *s) { vm_setgc(o, VM_TSTRING, s); }
inline void vm_setclosure(VmValue *o, VmClosure *c) { vm_setgc(o, VM_TFUNCTION, c); }
inline void vm_setuserdata(VmValue *o, VmUserdata *u) { vm_setgc(o, VM_TUSERDATA, u); }

// Primitive equality: tags first, numbers as doubles (NaN equals nothing), pointers otherwise.
int vm_rawequalobj(const VmValue *a, const VmValue *b);

// Type names indexed by tag 0..8; light and full user data share "userdata".
extern const char *const vm_typenames[9];
const char *vm_typename(int32_t tt);

extern const VmValue vm_nilobject;
