#include "runtime/vm/vm_string.h"

#include <array>
#include <cctype>
#include <cstdlib>

#include "runtime/errcodes.h"
#include "runtime/vm/vm_mem.h"
#include "runtime/vm/vm_state.h"

namespace {

// Samples at most 32 bytes of a long string, from its end.
uint32_t hash_bytes(const char *str, size_t l) {
  uint32_t h = static_cast<uint32_t>(l);
  size_t step = (l >> 5) + 1;
  for (size_t l1 = l; l1 >= step; l1 -= step)
    h = h ^ ((h << 5) + (h >> 2) + static_cast<unsigned char>(str[l1 - 1]));
  return h;
}

// Puts a string whose header and bytes are set into the string table.
void link_string(VmState *L, VmString *ts) {
  VmStringTable &tb = G(L)->strt;
  uint32_t slot = ts->hash & static_cast<uint32_t>(tb.size - 1);
  ts->next = tb.hash[slot];
  tb.hash[slot] = ts;
  tb.nuse++;
  if (tb.nuse > static_cast<uint32_t>(tb.size) && tb.size < 0x3FFFFFFF) vm_resizestrtab(L, tb.size * 2);
}

VmString *find_string(VmState *L, const char *str, size_t l, uint32_t h) {
  VmStringTable &tb = G(L)->strt;
  for (VmGCObject *o = tb.hash[h & static_cast<uint32_t>(tb.size - 1)]; o; o = o->next) {
    auto *ts = static_cast<VmString *>(o);
    if (ts->len == l && std::memcmp(str, ts->data(), l) == 0) return ts;
  }
  return nullptr;
}

VmString *new_string(VmState *L, const char *str, size_t l, uint32_t h) {
  if (l > VM_MAXSTRLEN) vm_raise(L, ERR_MEM);
  auto *ts = static_cast<VmString *>(vm_allocsmall(L, vm_sizestring(l)));
  ts->tt = VM_TSTRING;
  ts->marked = 0;
  ts->reserved = 0;
  ts->hash = h;
  ts->len = static_cast<uint32_t>(l);
  vm_copytext(ts->data(), str, l);
  ts->data()[l] = '\0';
  link_string(L, ts);
  return ts;
}

}  // namespace

void vm_resizestrtab(VmState *L, int newsize) {
  VmStringTable &tb = G(L)->strt;
  VmGCObject **newhash = vm_newvector<VmGCObject *>(L, static_cast<size_t>(newsize));
  for (int i = 0; i < newsize; i++) newhash[i] = nullptr;
  for (int i = 0; i < tb.size; i++) {
    VmGCObject *p = tb.hash[i];
    while (p) {
      VmGCObject *next = p->next;
      uint32_t h1 = static_cast<VmString *>(p)->hash & static_cast<uint32_t>(newsize - 1);
      p->next = newhash[h1];
      newhash[h1] = p;
      p = next;
    }
  }
  vm_freearray(L, tb.hash, static_cast<size_t>(tb.size));
  tb.size = newsize;
  tb.hash = newhash;
}

VmString *vm_newlstr(VmState *L, const char *str, size_t l) {
  uint32_t h = hash_bytes(str, l);
  if (VmString *ts = find_string(L, str, l, h)) return ts;
  return new_string(L, str, l, h);
}

VmString *vm_newopenstr(VmState *L, size_t l) {
  VmGlobalState *g = G(L);
  size_t size = vm_sizestring(l);
  if (l > VM_MAXSTRLEN || (g->memlimit && g->nblocks + size > g->memlimit)) return nullptr;
  // Allocated without the state so that a shortage is an answer rather than a raise.
  auto *ts = static_cast<VmString *>(vm_realloc(nullptr, nullptr, 0, size));
  if (!ts) return nullptr;
  g->nblocks += size;
  ts->tt = VM_TSTRING;
  ts->marked = 0;
  ts->reserved = 0;
  ts->hash = 0;
  ts->len = static_cast<uint32_t>(l);
  ts->next = nullptr;
  return ts;
}

VmString *vm_internopenstr(VmState *L, VmString *ts, size_t l) {
  uint32_t h = hash_bytes(ts->data(), l);
  if (VmString *same = find_string(L, ts->data(), l, h)) {
    vm_freeopenstr(L, ts);
    return same;
  }
  if (l < ts->len) {
    // The collector frees a string by its length, so the block shrinks to fit.
    ts = static_cast<VmString *>(vm_realloc(L, ts, vm_sizestring(ts->len), vm_sizestring(l)));
    ts->len = static_cast<uint32_t>(l);
  }
  ts->data()[l] = '\0';
  ts->hash = h;
  link_string(L, ts);
  return ts;
}

VmString *vm_resizeopenstr(VmState *L, VmString *ts, size_t l) {
  if (l > VM_MAXSTRLEN) return nullptr;
  auto *grown = static_cast<VmString *>(vm_regrow(L, ts, vm_sizestring(ts->len), vm_sizestring(l)));
  if (!grown) return nullptr;
  grown->len = static_cast<uint32_t>(l);
  return grown;
}

void vm_freeopenstr(VmState *L, VmString *ts) { vm_realloc(L, ts, vm_sizestring(ts->len), 0); }

VmUserdata *vm_newudata(VmState *L, size_t size) {
  if (size > 0xFFFFFFFFu - sizeof(VmUserdata)) vm_raise(L, ERR_MEM);
  auto *u = static_cast<VmUserdata *>(vm_realloc(L, nullptr, 0, vm_sizeudata(size)));
  u->tt = VM_TUSERDATA;
  u->marked = VM_FINALIZE;
  u->len = static_cast<uint32_t>(size);
  u->metatable = vm_hvalue(&G(L)->defaultmeta);
  u->next = G(L)->rootudata;
  G(L)->rootudata = u;
  return u;
}

int vm_str2number(const char *s, double *result) {
  const char *p;
  bool hex = s[0] == '$' || (s[0] == '0' && s[1] == 'x' && s[2] != '\0');
  if (hex) {
    p = s + (s[0] == '$' ? 1 : 2);
    if (!std::isxdigit(static_cast<unsigned char>(*p))) return 0;
    uint64_t v = 0;
    for (; std::isxdigit(static_cast<unsigned char>(*p)); p++) {
      int d = std::isdigit(static_cast<unsigned char>(*p)) ? *p - '0' : (std::tolower(static_cast<unsigned char>(*p)) - 'a' + 10);
      v = v * 16 + static_cast<uint64_t>(d);
      if (v > 0xFFFFFFFFu) v = 0x100000000u;  // saturate; stays above the limit
    }
    *result = v > 0xFFFFFFFFu ? 4294967295.0 : static_cast<double>(v);
  } else {
    char *endp;
    *result = std::strtod(s, &endp);
    if (endp == s) return 0;
    p = endp;
  }
  while (std::isspace(static_cast<unsigned char>(*p))) p++;
  return *p == '\0';
}

void vm_chunkid(char *out, const char *source, size_t bufflen) {
  if (bufflen == 0) return;
  out[0] = '\0';
  if (*source == '=') {
    size_t n = std::strlen(source + 1);
    if (n > bufflen - 1) n = bufflen - 1;
    std::memcpy(out, source + 1, n);
    out[n] = '\0';
  } else if (*source == '@') {
    const char *rest = source + 1;
    size_t l = std::strlen(rest);
    size_t keep = bufflen > 8 ? bufflen - 8 : 0;
    if (l > keep) {
      if (bufflen < 4) return;
      std::memcpy(out, "...", 3);
      std::memcpy(out + 3, rest + l - keep, keep);
      out[3 + keep] = '\0';
    } else {
      std::memcpy(out, rest, l + 1);
    }
  } else {
    if (bufflen < 17) return;
    size_t len = std::strcspn(source, "\n");
    size_t maxlen = bufflen - 17;
    bool cut = false;
    if (len > maxlen) { len = maxlen; cut = true; }
    if (source[len] != '\0') cut = true;
    size_t o = 0;
    std::memcpy(out, "[string \"", 9);
    o = 9;
    std::memcpy(out + o, source, len);
    o += len;
    if (cut) { std::memcpy(out + o, "...", 3); o += 3; }
    std::memcpy(out + o, "\"]", 3);
  }
}

int vm_log2(uint32_t x) {
  static constexpr auto table = [] {
    std::array<uint8_t, 256> t{};
    for (int i = 2; i < 256; i++) t[i] = static_cast<uint8_t>(t[i / 2] + 1);
    return t;
  }();
  if (x == 0) return -1;
  int l = 0;
  if (x >= 0x10000) { l = 16; x >>= 16; }
  if (x >= 0x100) { l += 8; x >>= 8; }
  return l + table[x];
}
